#include "jpegwriter.h"

#include "diblayout.h"
#include "globalmem.h"
#include "ownfile.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

// 16- and 8-bit rows become BGR rows in the same (memory) order, so that the
// bottom-up flag applies to them as it does to 24-bit rows.
// The rows go into out, which is kept from picture to picture.
void ExpandRgb555(const DibLayout& d, const unsigned char* pixels, std::vector<unsigned char>& out)
{
    unsigned char five[32];
    for (int i = 0; i < 32; ++i)
        five[i] = static_cast<unsigned char>((i << 3) | (i >> 2));
    out.resize(std::size_t(d.width) * 3 * d.height);
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
}

void ExpandIndexed(const DibLayout& d, const unsigned char* table, const unsigned char* pixels,
                   std::vector<unsigned char>& out)
{
    // Indices past the table's end read as black.
    unsigned char bgr[256][3] = {};
    for (std::size_t i = 0; i < d.colours; ++i)
        std::memcpy(bgr[i], table + 4 * i, 3);
    out.resize(std::size_t(d.width) * 3 * d.height);
    unsigned char* o = out.data();
    for (int row = 0; row < d.height; ++row) {
        const unsigned char* p = pixels + d.stride * row;
        for (int x = 0; x < d.width; ++x, o += 3)
            std::memcpy(o, bgr[p[x]], 3);
    }
}

// One encoder and one output buffer per thread, kept between pictures: a
// fresh worst-case buffer for every picture costs page faults on each use.
class Encoder
{
public:
    ~Encoder()
    {
        if (m_tj)
            tjDestroy(m_tj);
        tjFree(m_buffer);
    }
    // The JPEG is in Data() for Size() bytes after a 0 result.
    int Run(const unsigned char* pixels, int width, int pitch, int height, bool topDown,
            int quality)
    {
        if (!m_tj && !(m_tj = tjInitCompress()))
            return JPEG_ERR_ENCODER;
        const unsigned long needed = tjBufSize(width, height, TJSAMP_420);
        if (needed == static_cast<unsigned long>(-1) || needed > INT_MAX)
            return JPEG_ERR_ENCODER;
        if (needed > m_capacity) {
            tjFree(m_buffer);
            m_capacity = 0;
            if (!(m_buffer = tjAlloc(static_cast<int>(needed))))
                return JPEG_ERR_ENCODER;
            m_capacity = needed;
        }
        m_size = m_capacity;
        const int flags = TJFLAG_NOREALLOC | (topDown ? 0 : TJFLAG_BOTTOMUP);
        return tjCompress2(m_tj, pixels, width, pitch, height, TJPF_BGR, &m_buffer, &m_size,
                           TJSAMP_420, quality, flags) == 0
                   ? JPEG_OK
                   : JPEG_ERR_ENCODER;
    }
    const unsigned char* Data() const { return m_buffer; }
    std::size_t Size() const { return m_size; }
    // 16- and 8-bit rows expanded to 24 bits.
    std::vector<unsigned char>& Expanded() { return m_expanded; }

private:
    std::vector<unsigned char> m_expanded;
    tjhandle m_tj = nullptr;
    unsigned char* m_buffer = nullptr;
    unsigned long m_capacity = 0;
    unsigned long m_size = 0;
};

int Compress(const DibLayout& d, const unsigned char* block, int quality, Encoder* encoder)
{
    const unsigned char* pixels = block + d.pixelOffset;
    int pitch = static_cast<int>(d.stride);
    if (d.bitCount != 24) {
        std::vector<unsigned char>& expanded = encoder->Expanded();
        if (d.bitCount == 16)
            ExpandRgb555(d, pixels, expanded);
        else
            ExpandIndexed(d, block + d.header.biSize, pixels, expanded);
        pixels = expanded.data();
        pitch = d.width * 3;
    }
    return encoder->Run(pixels, d.width, pitch, d.height, d.topDown, quality);
}

// The file appears only once the picture is encoded, and a failed write
// leaves no file behind.
int WriteWhole(const char* fileName, const unsigned char* data, std::size_t size)
{
    // A stale temporary or a planted link is replaced, never followed or truncated.
    const int fd = CreateOwnFile(fileName);
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
    thread_local Encoder encoder;
    const int rc = Compress(layout, block, std::clamp(quality, 1, 100), &encoder);
    if (rc != JPEG_OK)
        return rc;
    return WriteWhole(fileName, encoder.Data(), encoder.Size());
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
