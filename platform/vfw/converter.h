// Converts decoded frames into packed bitmaps. Each object keeps its own
// scaler state, so one may run on the reading thread while another runs on a
// taker's; an object itself is used by one thread at a time.
#pragma once

#include "dib.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

class FrameConverter
{
public:
    FrameConverter() = default;
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Writes the whole bitmap (header and rows) of the frame at the format
    // into dib, which holds DibTotalBytes(format).
    bool Convert(const AVFrame* frame, const FrameFormat& format, std::uint8_t* dib);

private:
    struct ScaleKey {
        int width = 0, height = 0, pixelFormat = -1;
        FrameFormat format;
        bool operator==(const ScaleKey& o) const
        {
            return width == o.width && height == o.height && pixelFormat == o.pixelFormat &&
                   format == o.format;
        }
    };

    bool ScaleViaRows(const AVFrame* frame, const FrameFormat& format);
    bool ScaleInPlace(const AVFrame* frame, std::uint8_t* pixels, std::size_t stride);
    bool ScalesInPlace(const AVFrame* frame, const FrameFormat& format);

    SwsContext* m_scaler = nullptr;
    std::vector<std::uint8_t> m_rows;
    ScaleKey m_scaleKey;
    bool m_inPlace = false; // the scaler may write straight into the bitmap's rows
};
