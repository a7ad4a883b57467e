#include "SourceFormats.h"

#include <QStringList>
#include <linux/videodev2.h>

namespace
{
constexpr int kLargestSide = 8192;
constexpr int kHighestRate = 1000;

struct EncodingName {
    std::uint32_t code;
    const char* name;
};
constexpr EncodingName kEncodings[] = {
    {V4L2_PIX_FMT_MJPEG, "mjpeg"}, {V4L2_PIX_FMT_YUYV, "yuyv"}, {V4L2_PIX_FMT_H264, "h264"}};

// A stored number has no sign and no blanks, which toInt would take.
bool WholeNumber(const QString& text, int* n)
{
    bool ok = false;
    *n = text.toInt(&ok);
    return ok && !text.isEmpty() && text.front().isDigit() && text.back().isDigit();
}

bool ParseSize(const QString& text, FrameFormat* format)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() != 3)
        return false;
    int n[3];
    for (int i = 0; i < 3; ++i)
        if (!WholeNumber(parts[i], &n[i]))
            return false;
    if (n[0] < 1 || n[0] > kLargestSide || n[1] < 1 || n[1] > kLargestSide ||
        !IsSupportedBitCount(n[2]))
        return false;
    format->width = n[0];
    format->height = n[1];
    format->bitCount = n[2];
    return true;
}

// "ENCODING" or "ENCODING@FPS".
bool ParseMode(const QString& text, std::uint32_t* encoding, int* fps)
{
    const QStringList parts = text.split(QLatin1Char('@'));
    if (parts.size() > 2)
        return false;
    *encoding = 0;
    for (const EncodingName& e : kEncodings)
        if (parts[0].compare(QLatin1String(e.name), Qt::CaseInsensitive) == 0)
            *encoding = e.code;
    *fps = 0;
    if (parts.size() == 2 && (!WholeNumber(parts[1], fps) || *fps < 1 || *fps > kHighestRate))
        return false;
    return *encoding != 0;
}

} // namespace

// The store escapes the rest itself; left in, a slash or backslash would
// open a group, and other bytes would reach it as Latin-1.
QByteArray SourceFormatEntry(const QString& source)
{
    static const QByteArray kKept = [] {
        QByteArray kept;
        for (char c = ' '; c <= '~'; ++c)
            if (c != '%' && c != '/' && c != '\\')
                kept += c;
        return kept;
    }();
    return source.toUtf8().toPercentEncoding(kKept);
}

QString SourceFormatText(const FrameFormat& format)
{
    QString text =
        QStringLiteral("%1x%2x%3").arg(format.width).arg(format.height).arg(format.bitCount);
    for (const EncodingName& e : kEncodings) {
        if (e.code != format.encoding)
            continue;
        text += QLatin1Char(' ') + QLatin1String(e.name);
        if (format.fps > 0)
            text += QLatin1Char('@') + QString::number(format.fps);
    }
    return text;
}

bool ParseSourceFormat(const QString& text, FrameFormat* format, QString* problem)
{
    const QStringList words = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    FrameFormat parsed;
    if (words.isEmpty() || words.size() > 2 || !ParseSize(words[0], &parsed))
        return false;
    if (words.size() == 2 && !ParseMode(words[1], &parsed.encoding, &parsed.fps)) {
        parsed.encoding = 0;
        parsed.fps = 0;
        if (problem)
            *problem = QStringLiteral("'%1' is not ENCODING@FPS (mjpeg, yuyv or h264 at 1 to "
                                      "%2 frames a second); the fastest encoding is used")
                           .arg(words[1])
                           .arg(kHighestRate);
    }
    *format = parsed;
    return true;
}

QString ControlSettingsText(const QList<ControlSetting>& controls)
{
    QStringList pairs;
    for (const ControlSetting& c : controls)
        pairs << QStringLiteral("%1=%2").arg(c.id).arg(c.value);
    return pairs.join(QLatin1Char(','));
}

QList<ControlSetting> ParseControlSettings(const QString& text, QStringList* problems)
{
    QList<ControlSetting> controls;
    for (const QString& piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList pair = piece.trimmed().split(QLatin1Char('='));
        bool idOk = false, valueOk = false;
        const uint id = pair.size() == 2 ? pair[0].toUInt(&idOk) : 0;
        const int value = pair.size() == 2 ? pair[1].toInt(&valueOk) : 0;
        if (idOk && valueOk && id > 0 && pair[0].front().isDigit())
            controls = MergedControls(controls, {{id, value}});
        else if (problems)
            *problems << piece.trimmed();
    }
    return controls;
}
