#include "SourceFormats.h"

#include <QStringList>

namespace
{
constexpr int kLargestSide = 8192;
}

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
    return QStringLiteral("%1x%2x%3").arg(format.width).arg(format.height).arg(format.bitCount);
}

bool ParseSourceFormat(const QString& text, FrameFormat* format)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('x'));
    if (parts.size() != 3)
        return false;
    int n[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        n[i] = parts[i].toInt(&ok);
        // toInt takes signs and surrounding blanks; a stored value has neither.
        if (!ok || parts[i].isEmpty() || !parts[i].front().isDigit() || !parts[i].back().isDigit())
            return false;
    }
    if (n[0] < 1 || n[0] > kLargestSide || n[1] < 1 || n[1] > kLargestSide ||
        !IsSupportedBitCount(n[2]))
        return false;
    *format = {n[0], n[1], n[2]};
    return true;
}
