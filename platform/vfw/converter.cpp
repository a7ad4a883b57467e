#include "converter.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace
{

AVPixelFormat PixelFormatOf(int bitCount)
{
    switch (bitCount) {
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 8:
        return AV_PIX_FMT_GRAY8;
    default:
        return AV_PIX_FMT_BGR24;
    }
}

} // namespace

FrameConverter::~FrameConverter()
{
    sws_freeContext(m_scaler);
}

bool FrameConverter::Convert(const AVFrame* frame, const FrameFormat& format, std::uint8_t* dib)
{
    m_scaler = sws_getCachedContext(
        m_scaler, frame->width, frame->height, AVPixelFormat(frame->format), format.width,
        format.height, PixelFormatOf(format.bitCount), SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler)
        return false;
    const ScaleKey key{frame->width, frame->height, frame->format, format};
    if (!(key == m_scaleKey)) {
        m_scaleKey = key;
        m_inPlace = ScalesInPlace(frame, format);
        if (m_inPlace)
            std::vector<std::uint8_t>().swap(m_rows);
    }
    WriteDibHeader(dib, format);
    std::uint8_t* pixels = dib + DibPixelOffset(format.bitCount);
    const std::size_t stride = DibStride(format.width, format.bitCount);
    const std::size_t rowBytes = std::size_t(format.width) * std::size_t(format.bitCount / 8);
    if (m_inPlace) {
        if (!ScaleInPlace(frame, pixels, stride))
            return false;
    } else {
        if (!ScaleViaRows(frame, format))
            return false;
        const std::size_t work = m_rows.size() / std::size_t(format.height);
        for (int y = 0; y < format.height; ++y)
            std::memcpy(pixels + stride * std::size_t(y), m_rows.data() + work * std::size_t(y),
                        rowBytes);
    }
    if (stride > rowBytes) {
        for (int y = 0; y < format.height; ++y)
            std::memset(pixels + stride * std::size_t(y) + rowBytes, 0, stride - rowBytes);
    }
    return true;
}

// Roomy top-down rows: safe whatever the scaler writes past a row's end.
bool FrameConverter::ScaleViaRows(const AVFrame* frame, const FrameFormat& format)
{
    const std::size_t rowBytes = std::size_t(format.width) * std::size_t(format.bitCount / 8);
    const std::size_t work = (rowBytes + 63) / 64 * 64 + 64;
    m_rows.resize(work * std::size_t(format.height));
    std::uint8_t* planes[4] = {m_rows.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(work), 0, 0, 0};
    return sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0;
}

// Straight into the bitmap's top-down rows.
bool FrameConverter::ScaleInPlace(const AVFrame* frame, std::uint8_t* pixels, std::size_t stride)
{
    std::uint8_t* planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {int(stride), 0, 0, 0};
    return sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0;
}

// Some of the scaler's vector code writes past the end of a row, which in
// the bitmap's tight rows would spoil the next row, or run past the last.
// Whether this conversion does is found out once per source and format: a
// conversion into guarded tight rows must match the roomy one and leave the
// guards untouched.
bool FrameConverter::ScalesInPlace(const AVFrame* frame, const FrameFormat& format)
{
    constexpr std::size_t kGuard = 4096;
    constexpr std::uint8_t kMark = 0xA5;
    const std::size_t stride = DibStride(format.width, format.bitCount);
    const std::size_t rowBytes = std::size_t(format.width) * std::size_t(format.bitCount / 8);
    if (format.width <= 0 || format.height <= 0 || stride > std::size_t(INT_MAX) ||
        !ScaleViaRows(frame, format))
        return false;
    std::vector<std::uint8_t> tight(kGuard + stride * std::size_t(format.height) + kGuard, kMark);
    if (!ScaleInPlace(frame, tight.data() + kGuard, stride))
        return false;
    const std::size_t work = m_rows.size() / std::size_t(format.height);
    for (int y = 0; y < format.height; ++y) {
        if (std::memcmp(tight.data() + kGuard + stride * std::size_t(y),
                        m_rows.data() + work * std::size_t(y), rowBytes) != 0)
            return false;
    }
    const auto marked = [&](std::size_t from, std::size_t n) {
        return std::all_of(tight.begin() + std::ptrdiff_t(from),
                           tight.begin() + std::ptrdiff_t(from + n),
                           [](std::uint8_t b) { return b == kMark; });
    };
    return marked(0, kGuard) && marked(tight.size() - kGuard, kGuard);
}
