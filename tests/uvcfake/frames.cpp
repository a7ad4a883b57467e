#include "frames.h"

#include "pattern.h"

#include <cstring>
#include <map>
#include <mutex>
#include <turbojpeg.h>
#include <utility>

namespace uvcfake
{

namespace
{

struct Yuv {
    std::uint8_t y, u, v;
};

// BT.601, limited range.
Yuv ToYuv(Rgb c)
{
    const double r = c.r, g = c.g, b = c.b;
    return {std::uint8_t(16.5 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
            std::uint8_t(128.5 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
            std::uint8_t(128.5 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

// Rows repeat within the band and within the bars, so one row of each is
// drawn and copied down.
void DrawYuyvRow(std::uint8_t* row, int width, int height, int counter, std::uint64_t sequence,
                 int y)
{
    for (int x = 0; x + 1 < width; x += 2) {
        const int seq = int(sequence % std::uint64_t(width));
        const Yuv a = ToYuv(PatternPixel(counter, seq, x, y, width, height));
        const Yuv b = ToYuv(PatternPixel(counter, seq, x + 1, y, width, height));
        std::uint8_t* p = row + 2 * x;
        p[0] = a.y;
        p[1] = std::uint8_t((a.u + b.u + 1) / 2);
        p[2] = b.y;
        p[3] = std::uint8_t((a.v + b.v + 1) / 2);
    }
}

std::vector<std::uint8_t> EncodeFrame(tjhandle tj, int width, int height, int sequence)
{
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = rgb.data() + std::size_t(y) * width * 3;
        if (y > 0 && y != BandHeight(height)) {
            std::memcpy(row, row - std::size_t(width) * 3, std::size_t(width) * 3);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const Rgb c = PatternPixel(sequence, sequence, x, y, width, height);
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
    }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> out;
    if (tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_422, 85,
                    TJFLAG_FASTDCT) == 0)
        out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    return out;
}

} // namespace

void DrawYuyv(std::uint8_t* out, int width, int height, std::uint64_t sequence)
{
    const int counter = int(sequence & 0xffff);
    const std::size_t stride = std::size_t(width) * 2;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = out + y * stride;
        if (y > 0 && y != BandHeight(height))
            std::memcpy(row, row - stride, stride);
        else
            DrawYuyvRow(row, width, height, counter, sequence, y);
    }
}

const std::vector<std::uint8_t>& JpegFrame(int width, int height, std::uint64_t sequence)
{
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::vector<std::vector<std::uint8_t>>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::vector<std::uint8_t>>& frames = cache[{width, height}];
    if (frames.empty()) {
        tjhandle tj = tjInitCompress();
        for (int i = 0; i < kJpegCycle; ++i)
            frames.push_back(tj ? EncodeFrame(tj, width, height, i) : std::vector<std::uint8_t>());
        if (tj)
            tjDestroy(tj);
    }
    return frames[sequence % kJpegCycle];
}

} // namespace uvcfake
