#include "Caption.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace
{
// Larger than any frame a capture source delivers.
constexpr int kMaxPixelSize = 4096;
constexpr int kTimeBuffer = 128;
} // namespace

int CaptionFontHeight(int logPixelsY, int pointSizeTenths)
{
    const std::int64_t h = std::int64_t(logPixelsY) * pointSizeTenths / 720;
    return static_cast<int>(-(h < -INT_MAX ? -INT_MAX : h > INT_MAX ? INT_MAX : h));
}

int CaptionPixelSize(int fontHeight)
{
    const std::int64_t size = fontHeight < 0 ? -std::int64_t(fontHeight) : fontHeight;
    return static_cast<int>(size > kMaxPixelSize ? kMaxPixelSize : size);
}

QString CaptionFaceName(const QString& stored)
{
    return stored.left(31);
}

CaptionAlign CaptionAlignment(int horzPos)
{
    switch (horzPos) {
    case 1:
        return CaptionAlign::Centre;
    case 2:
        return CaptionAlign::Right;
    default:
        return CaptionAlign::Left;
    }
}

QString FormatCaptionTime(std::time_t t, const QString& format, int extraRoom)
{
    struct tm local;
    if (!localtime_r(&t, &local))
        return QString();
    std::vector<char> buffer(kTimeBuffer + std::size_t(std::max(extraRoom, 0)));
    const std::size_t n =
        std::strftime(buffer.data(), buffer.size(), format.toLocal8Bit().constData(), &local);
    return QString::fromLocal8Bit(buffer.data(), static_cast<qsizetype>(n));
}

int ReplaceLineBreaks(QString* text)
{
    // A replacement never forms a new pair, so one pass finds what a rescan
    // from the start after each replacement would.
    int lines = 1;
    QString& s = *text;
    for (qsizetype i = s.indexOf(QLatin1String("\\n")); i >= 0;
         i = s.indexOf(QLatin1String("\\n"), i)) {
        s.replace(i, 2, QChar(u'\n'));
        ++lines;
    }
    return lines;
}

CaptionBox CaptionRect(int width, int height, int lineHeight, int lines, int vertPos)
{
    const int block = lineHeight * lines;
    switch (vertPos) {
    case 1:
        return {0, (height - block) / 2, width, (block + height) / 2};
    case 2:
        return {0, height - block - 2, width, height - 2};
    default:
        return {0, 2, width, block + 2};
    }
}
