// Frames kept in a camera's own YUV planes (full-range BT.601, as JPEG holds
// them) rather than BGR rows: the header names one of two plane layouts in
// biCompression instead of BI_RGB, and the rows are always top-down.
//
// Each picture row has a slot: its luma samples, then room for one chroma
// row. For 4:2:0 the even row's slot holds the Cb row and the odd row's the
// Cr row of the pair; for 4:2:2 each slot holds its own Cb and Cr rows. So
// any band of picture rows (even-aligned for 4:2:0) is one byte range, which
// a captioned frame can own while it shares the rest.
#pragma once

#include "wintypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

constexpr DWORD kPlanes420 = 0x30323450; // 'P420'
constexpr DWORD kPlanes422 = 0x32323450; // 'P422'

struct PlaneLayout {
    int width = 0, height = 0;
    bool halfHeight = false; // 4:2:0: one chroma row per two picture rows
    int chromaWidth = 0, chromaHeight = 0;
    // Row parts padded to whole 8-sample blocks, so the encoder may read
    // them as they lie; the padding repeats the row's last sample.
    std::size_t lumaBytes = 0, chromaBytes = 0;
    std::size_t slot = 0;
    int slotCount = 0;

    std::size_t LumaRow(int y) const { return slot * std::size_t(y); }
    std::size_t CbRow(int k) const
    {
        return halfHeight ? slot * std::size_t(2 * k) + lumaBytes
                          : slot * std::size_t(k) + lumaBytes;
    }
    std::size_t CrRow(int k) const
    {
        return halfHeight ? slot * std::size_t(2 * k + 1) + lumaBytes
                          : slot * std::size_t(k) + lumaBytes + chromaBytes;
    }
    std::size_t ChromaStride() const { return halfHeight ? 2 * slot : slot; }
    std::size_t PixelBytes() const { return slot * std::size_t(slotCount); }
    // The picture rows [first, last) grown to whole chroma rows.
    int AlignDown(int y) const { return halfHeight ? y & ~1 : y; }
    int AlignUp(int y) const { return halfHeight ? (y + 1) & ~1 : y; }
    // The slots [first, last) a band of picture rows [first, last) spans: the
    // byte range a captioned frame owns, and the rows it paints.
    std::pair<int, int> BandSlots(int first, int last) const
    {
        return {AlignDown(first), std::min(AlignUp(last), slotCount)};
    }
};

bool IsPlaneCompression(DWORD compression);
// False when the size is not a picture or its block would not fit in memory.
bool MakePlaneLayout(int width, int height, DWORD compression, PlaneLayout* layout);
// Header plus planes.
std::size_t PlaneBlockBytes(const PlaneLayout& layout);
void WritePlaneHeader(std::uint8_t* block, const PlaneLayout& layout, DWORD compression);
// Fills each row's padding from its last sample.
void PadPlaneRows(const PlaneLayout& layout, std::uint8_t* pixels);

// Slot s of the picture, wherever it lies.
using PlaneSlotAt = std::function<const std::uint8_t*(int slot)>;

// Pixels [x, x + n) of picture row y as BGR bytes, chroma repeated.
void PlaneRowToBgr(const PlaneLayout& p, const PlaneSlotAt& at, int y, int x, int n,
                   std::uint8_t* bgr);
// The same as 0xffRRGGBB words.
void PlaneRowToRgb32(const PlaneLayout& p, const PlaneSlotAt& at, int y, int x, int n,
                     std::uint32_t* out);

// Writes back the pixels of rows [first, last) and columns [left, right)
// that differ between before and after (full-width BGR rows, stride bytes
// apart, row first at index 0): luma for each changed pixel, chroma for each
// chroma sample that covers one. All else keeps its bytes. first and last
// must be aligned as AlignDown/AlignUp, left even, right even or the width.
void BlendBgrIntoPlanes(const PlaneLayout& p, const std::function<std::uint8_t*(int slot)>& at,
                        int first, int last, int left, int right, const std::uint8_t* before,
                        const std::uint8_t* after, std::size_t stride);
