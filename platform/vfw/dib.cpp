#include "dib.h"

#include "wintypes.h"

#include <climits>
#include <cstring>

bool IsSupportedBitCount(int bitCount)
{
    return bitCount == 24 || bitCount == 16 || bitCount == 8;
}

std::size_t DibStride(int width, int bitCount)
{
    return ((std::size_t(width) * std::size_t(bitCount) + 31) / 32) * 4;
}

std::size_t DibPixelOffset(int bitCount)
{
    return sizeof(BITMAPINFOHEADER) + (bitCount == 8 ? 256 * sizeof(RGBQUAD) : 0);
}

std::size_t DibTotalBytes(const FrameFormat& format)
{
    return DibPixelOffset(format.bitCount) +
           DibStride(format.width, format.bitCount) * std::size_t(format.height);
}

void WriteDibHeader(std::uint8_t* dib, const FrameFormat& format)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = format.width;
    h.biHeight = format.height; // positive: bottom-up
    h.biPlanes = 1;
    h.biBitCount = WORD(format.bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(DibStride(format.width, format.bitCount) * std::size_t(format.height));
    h.biClrUsed = format.bitCount == 8 ? 256 : 0;
    std::memcpy(dib, &h, sizeof h);
    if (format.bitCount != 8)
        return;
    auto* table = reinterpret_cast<RGBQUAD*>(dib + sizeof h);
    for (int i = 0; i < 256; ++i)
        table[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
}

namespace
{

bool ReadFormat(const std::uint8_t* dib, std::size_t bytes, FrameFormat* format)
{
    BITMAPINFOHEADER h;
    if (!dib || bytes < sizeof h)
        return false;
    std::memcpy(&h, dib, sizeof h);
    *format = FrameFormat{h.biWidth, h.biHeight, h.biBitCount};
    return h.biSize == sizeof h && format->width > 0 && format->height > 0 &&
           IsSupportedBitCount(format->bitCount) && DibTotalBytes(*format) <= bytes;
}

} // namespace

QSize DibImageSize(const std::uint8_t* dib, std::size_t bytes)
{
    FrameFormat format;
    return ReadFormat(dib, bytes, &format) ? QSize(format.width, format.height) : QSize();
}

QImage DibToImage(const std::uint8_t* dib, std::size_t bytes)
{
    return DibRegionToImage(dib, bytes, QRect(0, 0, INT_MAX, INT_MAX));
}

QImage DibRegionToImage(const std::uint8_t* dib, std::size_t bytes, const QRect& region)
{
    FrameFormat format;
    if (!ReadFormat(dib, bytes, &format))
        return {};
    const QRect part = region.intersected(QRect(0, 0, format.width, format.height));
    if (part.isEmpty())
        return {};
    const QImage::Format kind = format.bitCount == 24   ? QImage::Format_BGR888
                                : format.bitCount == 16 ? QImage::Format_RGB555
                                                        : QImage::Format_Grayscale8;
    QImage image(part.size(), kind);
    if (image.isNull())
        return {};
    const std::size_t stride = DibStride(format.width, format.bitCount);
    const std::size_t pixel = std::size_t(format.bitCount / 8);
    const std::size_t rowBytes = std::size_t(part.width()) * pixel;
    const std::uint8_t* pixels =
        dib + DibPixelOffset(format.bitCount) + std::size_t(part.left()) * pixel;
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(image.scanLine(y),
                    pixels + stride * std::size_t(format.height - 1 - part.top() - y), rowBytes);
    return image;
}
