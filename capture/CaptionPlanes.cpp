#include "CaptionPlanes.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

DibLayout PlanesAsBgr(const DibLayout& planes)
{
    DibLayout bgr = planes;
    bgr.planar = false;
    bgr.header.biCompression = BI_RGB;
    bgr.header.biBitCount = 24;
    bgr.bitCount = 24;
    bgr.stride = (std::size_t(planes.width) * 3 + 3) / 4 * 4;
    return bgr;
}

bool PaintOnPlanes(const BlockView& v, const DibLayout& d, const QRect& area,
                   const PaintBgrRows& paint)
{
    const PlaneLayout& p = d.planes;
    const QRect part = area & QRect(0, 0, d.width, d.height);
    if (part.isEmpty())
        return true;
    int first = 0, last = 0;
    std::tie(first, last) = p.BandSlots(part.top(), part.bottom() + 1);
    // Whole chroma samples across as well.
    const int left = part.left() & ~1, right = std::min((part.right() + 2) & ~1, d.width);
    const std::size_t bandStart = d.pixelOffset + p.slot * std::size_t(first);
    if (!v.Owns(bandStart, p.slot * std::size_t(last - first)))
        return false;
    const auto own = [&](int slot) {
        return v.own + (d.pixelOffset + p.slot * std::size_t(slot) - v.ownOffset);
    };
    const DibLayout bgr = PlanesAsBgr(d);
    const int rows = std::min(last, p.height) - first;
    // Kept between frames: a caption is drawn on every frame of a stream.
    // Full rows, of which only the part's columns are used.
    thread_local std::vector<std::uint8_t> before, after;
    before.resize(bgr.stride * std::size_t(rows));
    after.resize(before.size());
    for (int y = 0; y < rows; ++y) {
        const std::size_t at = bgr.stride * std::size_t(y) + 3 * std::size_t(left);
        PlaneRowToBgr(p, own, first + y, left, right - left, before.data() + at);
        std::memcpy(after.data() + at, before.data() + at, 3 * std::size_t(right - left));
    }
    paint(bgr, [&](int y) { return after.data() + bgr.stride * std::size_t(y - first); });
    BlendBgrIntoPlanes(p, own, first, last, left, right, before.data(), after.data(), bgr.stride);
    return true;
}
