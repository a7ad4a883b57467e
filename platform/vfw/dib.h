// Packed device-independent bitmaps as the capture layer hands them out:
// 40-byte header, a grey colour table for 8 bits, top-down rows padded to
// 4 bytes; or a JPEG camera's frame in its YUV planes (planes.h), which the
// functions that make images below convert.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstddef>
#include <cstdint>

struct FrameFormat {
    int width = 0;
    int height = 0;
    int bitCount = 24; // 24, 16 (RGB555) or 8 (grey palette)
    // What a camera is asked to deliver: a V4L2 pixel format and frame rate;
    // zero for the fastest the camera offers at the size.
    std::uint32_t encoding = 0;
    int fps = 0;

    bool operator==(const FrameFormat& o) const
    {
        return width == o.width && height == o.height && bitCount == o.bitCount &&
               encoding == o.encoding && fps == o.fps;
    }
    bool operator!=(const FrameFormat& o) const { return !(*this == o); }
};

bool IsSupportedBitCount(int bitCount);
std::size_t DibStride(int width, int bitCount);
// Header plus colour table: where the pixels start.
std::size_t DibPixelOffset(int bitCount);
std::size_t DibTotalBytes(const FrameFormat& format);
// Writes a top-down header and the colour table; the buffer holds
// DibTotalBytes(format).
void WriteDibHeader(std::uint8_t* dib, const FrameFormat& format);
// The picture size of a packed bitmap of this layer's forms; empty when the
// bytes do not hold one.
QSize DibImageSize(const std::uint8_t* dib, std::size_t bytes);
// A top-down image of a packed bitmap of this layer's forms; null when the
// bytes do not hold one.
QImage DibToImage(const std::uint8_t* dib, std::size_t bytes);
// The same for the part of the picture within region (picture coordinates,
// top-down), so that painting a small part costs only that part; null when
// none of the picture lies in it.
QImage DibRegionToImage(const std::uint8_t* dib, std::size_t bytes, const QRect& region);
// The same part in the form a screen's backing store holds (RGB32 for
// 24-bit pictures), so that painting it is a plain copy.
QImage DibRegionToScreenImage(const std::uint8_t* dib, std::size_t bytes, const QRect& region);
