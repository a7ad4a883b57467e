#include "jpegwriter.h"

#include "diblayout.h"
#include "globalmem.h"

#include <turbojpeg.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

struct TjHandleCloser {
    void operator()(void* h) const { tjDestroy(h); }
};
struct TjBufferFree {
    void operator()(unsigned char* p) const { tjFree(p); }
};

// 16- and 8-bit rows become BGR rows in the same (memory) order, so that the
// bottom-up flag applies to them as it does to 24-bit rows.
std::vector<unsigned char> ExpandRgb555(const DibLayout& d, const unsigned char* pixels)
{
    unsigned char five[32];
    for (int i = 0; i < 32; ++i)
        five[i] = static_cast<unsigned char>((i << 3) | (i >> 2));
    std::vector<unsigned char> out(std::size_t(d.width) * 3 * d.height);
    unsigned char* o = out.data();
    for (int row = 0; row < d.height; ++row) {
        const unsigned char* p = pixels + d.stride * row;
        for (int x = 0; x < d.width; ++x, p += 2) {
            const unsigned v = p[0] | (p[1] << 8);
            *o++ = five[v & 31];
            *o++ = five[(v >> 5) & 31];
            *o++ = five[(v >> 10) & 31];
        }
    }
    return out;
}

std::vector<unsigned char> ExpandIndexed(const DibLayout& d, const unsigned char* table,
                                         const unsigned char* pixels)
{
    // Indices past the table's end read as black.
    unsigned char bgr[256][3] = {};
    for (std::size_t i = 0; i < d.colours; ++i)
        std::memcpy(bgr[i], table + 4 * i, 3);
    std::vector<unsigned char> out(std::size_t(d.width) * 3 * d.height);
    unsigned char* o = out.data();
    for (int row = 0; row < d.height; ++row) {
        const unsigned char* p = pixels + d.stride * row;
        for (int x = 0; x < d.width; ++x, o += 3)
            std::memcpy(o, bgr[p[x]], 3);
    }
    return out;
}

int Compress(const DibLayout& d, const unsigned char* block, int quality,
             std::unique_ptr<unsigned char, TjBufferFree>* jpeg, unsigned long* jpegSize)
{
    const unsigned char* pixels = block + d.pixelOffset;
    std::vector<unsigned char> expanded;
    int pitch = static_cast<int>(d.stride);
    if (d.bitCount != 24) {
        expanded = d.bitCount == 16 ? ExpandRgb555(d, pixels)
                                    : ExpandIndexed(d, block + d.header.biSize, pixels);
        pixels = expanded.data();
        pitch = d.width * 3;
    }
    std::unique_ptr<void, TjHandleCloser> tj(tjInitCompress());
    if (!tj)
        return JPEG_ERR_ENCODER;
    unsigned char* buffer = nullptr;
    const int flags = d.topDown ? 0 : TJFLAG_BOTTOMUP;
    const int rc = tjCompress2(tj.get(), pixels, d.width, pitch, d.height, TJPF_BGR, &buffer,
                               jpegSize, TJSAMP_420, quality, flags);
    jpeg->reset(buffer);
    return rc == 0 ? JPEG_OK : JPEG_ERR_ENCODER;
}

// The file appears only once the picture is encoded, and a failed write
// leaves no file behind.
int WriteWhole(const char* fileName, const unsigned char* data, std::size_t size)
{
    const int fd = ::open(fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return JPEG_ERR_OPEN_FILE;
    bool ok = true;
    while (ok && size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    struct stat st {
    };
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        if (regular)
            ::unlink(fileName);
        return JPEG_ERR_OPEN_FILE;
    }
    return JPEG_OK;
}

int WriteBlock(const unsigned char* block, std::size_t blockSize, const char* fileName, int quality)
{
    BITMAPINFOHEADER header;
    if (!ReadDibHeader(block, blockSize, &header))
        return JPEG_ERR_BAD_BITMAP;
    if (header.biCompression != BI_RGB ||
        (header.biBitCount != 8 && header.biBitCount != 16 && header.biBitCount != 24))
        return JPEG_ERR_UNSUPPORTED;
    DibLayout layout;
    if (!ReadDibLayout(block, blockSize, &layout))
        return JPEG_ERR_BAD_BITMAP;
    if (!fileName || !*fileName)
        return JPEG_ERR_OPEN_FILE;
    std::unique_ptr<unsigned char, TjBufferFree> jpeg;
    unsigned long jpegSize = 0;
    const int rc = Compress(layout, block,
                            quality < 1     ? 1
                            : quality > 100 ? 100
                                            : quality,
                            &jpeg, &jpegSize);
    if (rc != JPEG_OK)
        return rc;
    return WriteWhole(fileName, jpeg.get(), jpegSize);
}

} // namespace

extern "C" int jpeg_write_file(HGLOBAL dib, const char* fileName, int quality)
{
    const std::size_t size = GlobalSize(dib);
    const auto* block = static_cast<const unsigned char*>(GlobalLock(dib));
    if (!block)
        return JPEG_ERR_BAD_BITMAP;
    const int rc = WriteBlock(block, size, fileName, quality);
    GlobalUnlock(dib);
    return rc;
}
