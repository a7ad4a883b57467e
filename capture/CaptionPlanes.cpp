#include "CaptionPlanes.h"

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

bool PaintOnPlanes(const BlockView& v, const DibLayout& d, int first, int last,
                   const PaintBgrRows& paint)
{
    const PlaneLayout& p = d.planes;
    first = p.AlignDown(first);
    last = std::min(p.AlignUp(last), p.slotCount);
    if (first >= last)
        return true;
    const std::size_t bandStart = d.pixelOffset + p.slot * std::size_t(first);
    if (!v.Owns(bandStart, p.slot * std::size_t(last - first)))
        return false;
    const auto own = [&](int slot) {
        return v.own + (d.pixelOffset + p.slot * std::size_t(slot) - v.ownOffset);
    };
    const DibLayout bgr = PlanesAsBgr(d);
    const int rows = std::min(last, p.height) - first;
    // Kept between frames: a caption band is drawn on every frame of a stream.
    thread_local std::vector<std::uint8_t> before, after;
    before.resize(bgr.stride * std::size_t(rows));
    for (int y = 0; y < rows; ++y)
        PlaneRowToBgr(p, own, first + y, 0, d.width, before.data() + bgr.stride * std::size_t(y));
    after = before;
    paint(bgr, [&](int y) { return after.data() + bgr.stride * std::size_t(y - first); });
    BlendBgrIntoPlanes(p, own, first, last, before.data(), after.data(), bgr.stride);
    return true;
}
