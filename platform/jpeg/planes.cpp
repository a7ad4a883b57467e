#include "planes.h"

#include <algorithm>
#include <cstring>

namespace
{

std::size_t Pad8(int n)
{
    return (std::size_t(n) + 7) / 8 * 8;
}

inline std::uint8_t Clamp(int v)
{
    return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// JPEG's YCbCr, 16-bit fixed point. A pair of pixels shares its chroma, so
// the chroma terms are worked out once for both.
struct Rgb {
    std::uint8_t r, g, b;
};

struct ChromaTerms {
    int r, g, b;
};

inline ChromaTerms TermsOf(int cb, int cr)
{
    cb -= 128;
    cr -= 128;
    return {(91881 * cr + 32768) >> 16, -((22554 * cb + 46802 * cr + 32768) >> 16),
            (116130 * cb + 32768) >> 16};
}

inline Rgb ToRgb(int y, const ChromaTerms& t)
{
    return {Clamp(y + t.r), Clamp(y + t.g), Clamp(y + t.b)};
}

std::uint8_t Luma(const std::uint8_t* bgr)
{
    return std::uint8_t((19595 * bgr[2] + 38470 * bgr[1] + 7471 * bgr[0] + 32768) >> 16);
}

template <typename Put>
void ConvertRow(const PlaneLayout& p, const PlaneSlotAt& at, int y, int x, int n, Put put)
{
    const std::uint8_t* luma = at(y) + x;
    const int k = p.halfHeight ? y / 2 : y;
    const int cbSlot = p.halfHeight ? 2 * k : k;
    const std::uint8_t* cb = at(cbSlot) + p.lumaBytes;
    const std::uint8_t* cr =
        p.halfHeight ? at(cbSlot + 1) + p.lumaBytes : at(cbSlot) + p.lumaBytes + p.chromaBytes;
    int i = 0;
    if (x % 2 && n > 0) {
        put(0, ToRgb(luma[0], TermsOf(cb[x / 2], cr[x / 2])));
        i = 1;
    }
    for (; i + 1 < n; i += 2) {
        const int c = (x + i) / 2;
        const ChromaTerms t = TermsOf(cb[c], cr[c]);
        put(i, ToRgb(luma[i], t));
        put(i + 1, ToRgb(luma[i + 1], t));
    }
    if (i < n)
        put(i, ToRgb(luma[i], TermsOf(cb[(x + i) / 2], cr[(x + i) / 2])));
}

} // namespace

bool IsPlaneCompression(DWORD compression)
{
    return compression == kPlanes420 || compression == kPlanes422;
}

bool MakePlaneLayout(int width, int height, DWORD compression, PlaneLayout* p)
{
    // Bounded so that no size below overflows.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
        !IsPlaneCompression(compression))
        return false;
    p->width = width;
    p->height = height;
    p->halfHeight = compression == kPlanes420;
    p->chromaWidth = (width + 1) / 2;
    p->chromaHeight = p->halfHeight ? (height + 1) / 2 : height;
    p->lumaBytes = Pad8(width);
    p->chromaBytes = Pad8(p->chromaWidth);
    p->slot = p->lumaBytes + (p->halfHeight ? 1 : 2) * p->chromaBytes;
    p->slotCount = p->halfHeight ? 2 * p->chromaHeight : height;
    return true;
}

std::size_t PlaneBlockBytes(const PlaneLayout& p)
{
    return sizeof(BITMAPINFOHEADER) + p.PixelBytes();
}

void WritePlaneHeader(std::uint8_t* block, const PlaneLayout& p, DWORD compression)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = p.width;
    h.biHeight = -p.height;
    h.biPlanes = 1;
    h.biBitCount = WORD(p.halfHeight ? 12 : 16);
    h.biCompression = compression;
    h.biSizeImage = DWORD(p.PixelBytes());
    std::memcpy(block, &h, sizeof h);
}

void PadPlaneRows(const PlaneLayout& p, std::uint8_t* pixels)
{
    const auto pad = [](std::uint8_t* row, int n, std::size_t room) {
        std::memset(row + n, row[n - 1], room - std::size_t(n));
    };
    if (p.lumaBytes > std::size_t(p.width)) {
        for (int y = 0; y < p.height; ++y)
            pad(pixels + p.LumaRow(y), p.width, p.lumaBytes);
    }
    if (p.chromaBytes > std::size_t(p.chromaWidth)) {
        for (int k = 0; k < p.chromaHeight; ++k) {
            pad(pixels + p.CbRow(k), p.chromaWidth, p.chromaBytes);
            pad(pixels + p.CrRow(k), p.chromaWidth, p.chromaBytes);
        }
    }
}

void PlaneRowToBgr(const PlaneLayout& p, const PlaneSlotAt& at, int y, int x, int n,
                   std::uint8_t* bgr)
{
    ConvertRow(p, at, y, x, n, [bgr](int i, Rgb c) {
        bgr[3 * i] = c.b;
        bgr[3 * i + 1] = c.g;
        bgr[3 * i + 2] = c.r;
    });
}

void PlaneRowToRgb32(const PlaneLayout& p, const PlaneSlotAt& at, int y, int x, int n,
                     std::uint32_t* out)
{
    ConvertRow(p, at, y, x, n, [out](int i, Rgb c) {
        out[i] = 0xff000000u | std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | c.b;
    });
}

// A chroma sample takes the mean colour of the pixels it covers once any of
// them changed, as the encoder's own downsampling of BGR rows would.
void BlendBgrIntoPlanes(const PlaneLayout& p, const std::function<std::uint8_t*(int slot)>& at,
                        int first, int last, int left, int right, const std::uint8_t* before,
                        const std::uint8_t* after, std::size_t stride)
{
    last = std::min(last, p.height);
    right = std::min(right, p.width);
    const int rowsPerChroma = p.halfHeight ? 2 : 1;
    for (int y0 = first; y0 < last; y0 += rowsPerChroma) {
        const int rows = std::min(rowsPerChroma, last - y0);
        const int k = p.halfHeight ? y0 / 2 : y0;
        std::uint8_t* cb = at(p.halfHeight ? 2 * k : k) + p.lumaBytes;
        std::uint8_t* cr = p.halfHeight ? at(2 * k + 1) + p.lumaBytes : cb + p.chromaBytes;
        std::uint8_t* luma[2] = {at(y0), rows > 1 ? at(y0 + 1) : nullptr};
        for (int c = left / 2; 2 * c < right; ++c) {
            int sumB = 0, sumG = 0, sumR = 0, count = 0;
            bool changed = false;
            for (int dy = 0; dy < rows; ++dy) {
                const std::size_t row = stride * std::size_t(y0 + dy - first);
                for (int x = 2 * c; x < std::min(2 * c + 2, p.width); ++x) {
                    const std::uint8_t* a = after + row + 3 * std::size_t(x);
                    if (std::memcmp(a, before + row + 3 * std::size_t(x), 3) != 0) {
                        changed = true;
                        luma[dy][x] = Luma(a);
                    }
                    sumB += a[0];
                    sumG += a[1];
                    sumR += a[2];
                    ++count;
                }
            }
            if (!changed)
                continue;
            const int b = (sumB + count / 2) / count, g = (sumG + count / 2) / count,
                      r = (sumR + count / 2) / count;
            cb[c] = Clamp(128 + ((-11059 * r - 21709 * g + 32768 * b + 32768) >> 16));
            cr[c] = Clamp(128 + ((32768 * r - 27439 * g - 5329 * b + 32768) >> 16));
        }
        // Padding past the picture's edge follows its last sample.
        if (right < p.width)
            continue;
        if (p.chromaBytes > std::size_t(p.chromaWidth)) {
            std::memset(cb + p.chromaWidth, cb[p.chromaWidth - 1],
                        p.chromaBytes - std::size_t(p.chromaWidth));
            std::memset(cr + p.chromaWidth, cr[p.chromaWidth - 1],
                        p.chromaBytes - std::size_t(p.chromaWidth));
        }
        for (int dy = 0; dy < rows && p.lumaBytes > std::size_t(p.width); ++dy)
            std::memset(luma[dy] + p.width, luma[dy][p.width - 1],
                        p.lumaBytes - std::size_t(p.width));
    }
}
