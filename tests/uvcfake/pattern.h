// The fake camera's picture, shared by the library that draws it and the
// tests that read it back: a band of 16 cells across the top whose white
// cells spell the frame's counter (most significant bit on the left), and
// below it 8 colour bars that move 8 pixels to the right at every frame.
#pragma once

#include <cstdint>

namespace uvcfake
{

constexpr int kCounterBits = 16;
// MJPEG frames are encoded once per size, so their counter runs through
// this many values; YUYV frames carry the sequence number modulo 65536.
constexpr int kJpegCycle = 32;
constexpr int kBarCount = 8;
constexpr int kBarStep = 8;

struct Rgb {
    std::uint8_t r, g, b;
};
constexpr Rgb kBars[kBarCount] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                  {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {128, 128, 128}};

inline int BandHeight(int height)
{
    return height / 8;
}

inline bool CounterCellWhite(int counter, int x, int width)
{
    const int cell = x * kCounterBits / width;
    return (counter >> (kCounterBits - 1 - cell)) & 1;
}

inline Rgb PatternPixel(int counter, int sequence, int x, int y, int width, int height)
{
    if (y < BandHeight(height))
        return CounterCellWhite(counter, x, width) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    const int shifted = ((x - sequence * kBarStep) % width + width) % width;
    return kBars[shifted * kBarCount / width];
}

// The counter read back from a picture of the pattern; lumaAt(x, y) gives
// 0..255. Reading cell centres survives scaling and JPEG.
template <typename LumaAt> int ReadCounter(int width, int height, LumaAt lumaAt)
{
    int counter = 0;
    const int y = BandHeight(height) / 2;
    for (int cell = 0; cell < kCounterBits; ++cell) {
        const int x = (2 * cell + 1) * width / (2 * kCounterBits);
        counter = (counter << 1) | (lumaAt(x, y) > 128 ? 1 : 0);
    }
    return counter;
}

} // namespace uvcfake
