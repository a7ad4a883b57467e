#include "diblayout.h"

#include <cstdint>
#include <cstring>

bool ReadDibHeader(const void* block, std::size_t blockSize, BITMAPINFOHEADER* header)
{
    if (!block || blockSize < sizeof(BITMAPINFOHEADER))
        return false;
    std::memcpy(header, block, sizeof(BITMAPINFOHEADER));
    return header->biSize >= sizeof(BITMAPINFOHEADER) && header->biSize <= blockSize;
}

namespace
{

bool ReadPlaneLayout(std::size_t blockSize, DibLayout* d)
{
    const BITMAPINFOHEADER& h = d->header;
    if (h.biHeight >= 0 || !MakePlaneLayout(h.biWidth, -h.biHeight, h.biCompression, &d->planes))
        return false;
    d->width = d->planes.width;
    d->height = d->planes.height;
    d->topDown = true;
    d->bitCount = h.biBitCount;
    d->colours = 0;
    d->pixelOffset = h.biSize;
    d->stride = d->planes.slot;
    d->pixelBytes = d->planes.PixelBytes();
    return h.biSizeImage >= d->pixelBytes && d->pixelOffset <= blockSize &&
           d->pixelBytes <= blockSize - d->pixelOffset;
}

} // namespace

bool ReadDibLayout(const void* block, std::size_t blockSize, DibLayout* d)
{
    if (!ReadDibHeader(block, blockSize, &d->header))
        return false;
    const BITMAPINFOHEADER& h = d->header;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN || h.biBitCount == 0 ||
        h.biBitCount > 32)
        return false;
    d->planar = IsPlaneCompression(h.biCompression);
    if (d->planar)
        return ReadPlaneLayout(blockSize, d);
    d->width = h.biWidth;
    d->height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    d->topDown = h.biHeight < 0;
    d->bitCount = h.biBitCount;
    d->colours = 0;
    if (h.biBitCount == 8) {
        d->colours = h.biClrUsed ? h.biClrUsed : 256;
        if (d->colours > 256)
            return false;
    }
    d->pixelOffset = h.biSize + 4 * d->colours;
    const std::uint64_t stride = (std::uint64_t(d->width) * d->bitCount + 31) / 32 * 4;
    if (stride > blockSize || std::uint64_t(d->height) > blockSize / stride)
        return false;
    d->stride = static_cast<std::size_t>(stride);
    const std::size_t rows = d->stride * static_cast<std::size_t>(d->height);
    d->pixelBytes = h.biSizeImage ? h.biSizeImage : rows;
    return d->pixelBytes >= rows && d->pixelOffset <= blockSize &&
           d->pixelBytes <= blockSize - d->pixelOffset;
}
