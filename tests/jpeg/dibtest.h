// Packed bitmaps built by hand, and JPEG files decoded back, for the writer
// and frame tests. Header-only and free of Qt so the sanitizer build stays small.
#pragma once

#include "globalmem.h"
#include "wintypes.h"

#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace dibtest
{

struct Rgb {
    int r, g, b;
};

inline std::size_t Stride(int width, int bits)
{
    return (std::size_t(width) * bits + 31) / 32 * 4;
}

// A packed bitmap with the given header fields; pixel(x, y) gives the colour
// of picture row y (0 = top) for 16/24/32 bit, or the index (in r) for 8 bit.
struct DibLayout {
    int width = 16;
    int height = 16; // negative: rows stored top-down
    int bits = 24;
    std::vector<Rgb> palette;   // 8 bit only
    DWORD clrUsed = 0;          // written as biClrUsed
    bool sizeImageZero = false; // biSizeImage 0
    std::function<Rgb(int x, int y)> pixel = [](int, int) { return Rgb{0, 0, 0}; };
};

inline std::vector<unsigned char> BuildDibBytes(const DibLayout& s)
{
    const int rows = s.height < 0 ? -s.height : s.height;
    const std::size_t stride = Stride(s.width, s.bits);
    std::size_t tableEntries = 0;
    if (s.bits == 8)
        tableEntries = s.clrUsed ? s.clrUsed : 256;
    const std::size_t offset = 40 + 4 * tableEntries;
    std::vector<unsigned char> bytes(offset + stride * rows);
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = s.width;
    h.biHeight = s.height;
    h.biPlanes = 1;
    h.biBitCount = WORD(s.bits);
    h.biSizeImage = s.sizeImageZero ? 0 : DWORD(stride * rows);
    h.biClrUsed = s.clrUsed;
    std::memcpy(bytes.data(), &h, sizeof h);
    for (std::size_t i = 0; i < s.palette.size() && i < tableEntries; ++i) {
        RGBQUAD q{BYTE(s.palette[i].b), BYTE(s.palette[i].g), BYTE(s.palette[i].r), 0};
        std::memcpy(bytes.data() + 40 + 4 * i, &q, 4);
    }
    for (int y = 0; y < rows; ++y) {
        const int memRow = s.height < 0 ? y : rows - 1 - y;
        unsigned char* row = bytes.data() + offset + stride * memRow;
        for (int x = 0; x < s.width; ++x) {
            const Rgb c = s.pixel(x, y);
            switch (s.bits) {
            case 8:
                row[x] = BYTE(c.r);
                break;
            case 16: {
                const unsigned v = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
                row[2 * x] = BYTE(v);
                row[2 * x + 1] = BYTE(v >> 8);
                break;
            }
            default: {
                unsigned char* p = row + x * (s.bits / 8);
                p[0] = BYTE(c.b);
                p[1] = BYTE(c.g);
                p[2] = BYTE(c.r);
            }
            }
        }
    }
    return bytes;
}

inline HGLOBAL ToBlock(const std::vector<unsigned char>& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

inline HGLOBAL BuildDib(const DibLayout& s)
{
    return ToBlock(BuildDibBytes(s));
}

inline std::vector<unsigned char> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

struct Decoded {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<unsigned char> rgb; // top-down RGB triples
    Rgb at(int x, int y) const
    {
        const unsigned char* p = rgb.data() + (std::size_t(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

inline Decoded DecodeJpeg(const std::vector<unsigned char>& jpeg)
{
    Decoded d;
    tjhandle tj = tjInitDecompress();
    int sub = 0, space = 0;
    if (!jpeg.empty() &&
        tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &d.width, &d.height, &sub, &space) == 0) {
        d.rgb.resize(std::size_t(d.width) * d.height * 3);
        d.ok = tjDecompress2(tj, jpeg.data(), jpeg.size(), d.rgb.data(), d.width, 0, d.height,
                             TJPF_RGB, 0) == 0;
    }
    tjDestroy(tj);
    return d;
}

inline Decoded DecodeJpegFile(const std::string& path)
{
    return DecodeJpeg(ReadFileBytes(path));
}

inline bool Near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

} // namespace dibtest
