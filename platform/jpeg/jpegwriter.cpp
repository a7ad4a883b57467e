#include "jpegwriter.h"

#include "diblayout.h"
#include "globalmem.h"
#include "ownfile.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// jpeglib.h needs FILE declared first.
#include <jpeglib.h>

#include <jerror.h>

namespace
{

// Picture rows, top row first, wherever each lies: the rows of a captioned
// frame come partly from the shared frame and partly from the caption's band.
using Rows = std::vector<const unsigned char*>;

// The encoder only reads the rows; its interface predates const.
JSAMPARRAY Writable(const unsigned char* const* rows)
{
    return const_cast<JSAMPARRAY>(reinterpret_cast<const JSAMPLE* const*>(rows));
}

// Eight chroma rows, each the rounded mean of two of the sixteen in rows,
// written to out and listed in list. Rows from `picture` on lie below the
// picture and repeat its last one, as the encoder pads: a padding row with
// other values would ripple into the visible rows of its block.
void HalveChroma(const unsigned char* const* rows, std::size_t bytes, int picture,
                 unsigned char* out, JSAMPROW* list)
{
    for (int r = 0; r < DCTSIZE; ++r, out += bytes) {
        list[r] = out;
        if (r > 0 && r >= picture) {
            list[r] = list[r - 1];
            continue;
        }
        const unsigned char* a = rows[2 * r];
        const unsigned char* b = rows[2 * r + 1];
        for (std::size_t x = 0; x < bytes; ++x)
            out[x] = static_cast<unsigned char>((a[x] + b[x] + 1) >> 1);
    }
}

// 16- and 8-bit rows become BGR rows in out, which is kept from picture to
// picture; rows then points at them.
void ExpandRgb555(const DibLayout& d, Rows& rows, std::vector<unsigned char>& out)
{
    unsigned char five[32];
    for (int i = 0; i < 32; ++i)
        five[i] = static_cast<unsigned char>((i << 3) | (i >> 2));
    const std::size_t rowBytes = std::size_t(d.width) * 3;
    out.resize(rowBytes * rows.size());
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const unsigned char* p = rows[y];
        unsigned char* o = out.data() + rowBytes * y;
        for (int x = 0; x < d.width; ++x, p += 2) {
            const unsigned v = p[0] | (p[1] << 8);
            *o++ = five[v & 31];
            *o++ = five[(v >> 5) & 31];
            *o++ = five[(v >> 10) & 31];
        }
        rows[y] = out.data() + rowBytes * y;
    }
}

void ExpandIndexed(const DibLayout& d, const unsigned char* table, Rows& rows,
                   std::vector<unsigned char>& out)
{
    // Indices past the table's end read as black.
    unsigned char bgr[256][3] = {};
    for (std::size_t i = 0; i < d.colours; ++i)
        std::memcpy(bgr[i], table + 4 * i, 3);
    const std::size_t rowBytes = std::size_t(d.width) * 3;
    out.resize(rowBytes * rows.size());
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const unsigned char* p = rows[y];
        unsigned char* o = out.data() + rowBytes * y;
        for (int x = 0; x < d.width; ++x, o += 3)
            std::memcpy(o, bgr[p[x]], 3);
        rows[y] = out.data() + rowBytes * y;
    }
}

struct ErrorExit {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr c)
{
    std::longjmp(reinterpret_cast<ErrorExit*>(c->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

// One encoder and one output buffer per thread, kept between pictures: a
// fresh worst-case buffer for every picture costs page faults on each use.
// It takes rows one by one (the TurboJPEG call takes one block of rows) and
// applies TurboJPEG's settings, so its pictures are TurboJPEG's byte for byte.
class Encoder
{
public:
    Encoder()
    {
        m_cinfo.err = jpeg_std_error(&m_err.mgr);
        m_err.mgr.error_exit = OnError;
        m_err.mgr.output_message = Quiet;
        m_cinfo.client_data = this;
        m_dest.init_destination = InitDestination;
        m_dest.empty_output_buffer = EmptyOutputBuffer;
        m_dest.term_destination = TermDestination;
    }
    ~Encoder()
    {
        if (m_created)
            jpeg_destroy_compress(&m_cinfo);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // The JPEG is in Data() for Size() bytes after a 0 result. No local here
    // may need destroying: an encoder error jumps back into this function.
    int Run(const Rows& rows, int width, int quality)
    {
        if (setjmp(m_err.jump)) {
            if (m_created)
                jpeg_abort_compress(&m_cinfo);
            return JPEG_ERR_ENCODER;
        }
        // 4:2:0: colour at half resolution both ways.
        Start(width, int(rows.size()), quality, 2, JCS_EXT_BGR);
        m_cinfo.raw_data_in = FALSE;
        jpeg_start_compress(&m_cinfo, TRUE);
        JSAMPARRAY first = Writable(rows.data());
        while (m_cinfo.next_scanline < m_cinfo.image_height)
            jpeg_write_scanlines(&m_cinfo, first + m_cinfo.next_scanline,
                                 m_cinfo.image_height - m_cinfo.next_scanline);
        jpeg_finish_compress(&m_cinfo);
        return JPEG_OK;
    }
    // From YUV planes, always written 4:2:0 as the BGR path writes them: a
    // 4:2:2 camera's chroma rows are averaged in pairs, strip by strip, which
    // costs far less than the third more chroma blocks it saves encoding and
    // sending. planes[c] lists the rows of component c, padded to whole
    // strips of 16 picture rows.
    int RunPlanes(const PlaneLayout& p, Rows (&planes)[3], int quality)
    {
        if (setjmp(m_err.jump)) {
            if (m_created)
                jpeg_abort_compress(&m_cinfo);
            return JPEG_ERR_ENCODER;
        }
        Start(p.width, p.height, quality, 2, JCS_YCbCr);
        m_cinfo.raw_data_in = TRUE;
        if (!p.halfHeight)
            m_halved.resize(2 * DCTSIZE * p.chromaBytes);
        jpeg_start_compress(&m_cinfo, TRUE);
        for (int i = 0; m_cinfo.next_scanline < m_cinfo.image_height; ++i) {
            JSAMPROW halved[2][DCTSIZE];
            JSAMPARRAY parts[3] = {Writable(planes[0].data() + i * 2 * DCTSIZE), halved[0],
                                   halved[1]};
            for (int c = 1; c < 3; ++c) {
                if (p.halfHeight)
                    parts[c] = Writable(planes[c].data() + i * DCTSIZE);
                else
                    HalveChroma(planes[c].data() + i * 2 * DCTSIZE, p.chromaBytes,
                                (p.height + 1) / 2 - i * DCTSIZE,
                                m_halved.data() + (c - 1) * DCTSIZE * p.chromaBytes, parts[c]);
            }
            jpeg_write_raw_data(&m_cinfo, parts, JDIMENSION(2 * DCTSIZE));
        }
        jpeg_finish_compress(&m_cinfo);
        return JPEG_OK;
    }
    const unsigned char* Data() const { return m_out.data(); }
    std::size_t Size() const { return m_size; }
    // 16- and 8-bit rows expanded to 24 bits.
    std::vector<unsigned char>& Expanded() { return m_expanded; }
    Rows& RowList() { return m_rows; }
    Rows (&PlaneLists())[3] { return m_planes; }

private:
    // Called after the caller's setjmp.
    void Start(int width, int height, int quality, int lumaRowsPerChroma, J_COLOR_SPACE in)
    {
        if (!m_created) {
            jpeg_create_compress(&m_cinfo);
            m_created = true;
            m_cinfo.dest = &m_dest;
        }
        m_cinfo.image_width = static_cast<JDIMENSION>(width);
        m_cinfo.image_height = static_cast<JDIMENSION>(height);
        m_cinfo.in_color_space = in;
        m_cinfo.input_components = 3;
        jpeg_set_defaults(&m_cinfo);
        jpeg_set_quality(&m_cinfo, quality, TRUE);
        // The fast DCT's error is below what quantisation removes anyway
        // until the quality keeps nearly every coefficient.
        m_cinfo.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
        jpeg_set_colorspace(&m_cinfo, JCS_YCbCr);
        m_cinfo.comp_info[0].h_samp_factor = 2;
        m_cinfo.comp_info[0].v_samp_factor = lumaRowsPerChroma;
        for (int i = 1; i < 3; ++i)
            m_cinfo.comp_info[i].h_samp_factor = m_cinfo.comp_info[i].v_samp_factor = 1;
    }

    static Encoder& Of(j_compress_ptr c) { return *static_cast<Encoder*>(c->client_data); }

    static void InitDestination(j_compress_ptr c)
    {
        Encoder& e = Of(c);
        if (e.m_out.empty() && !e.Grow(64 * 1024))
            OutOfMemory(c);
        e.m_dest.next_output_byte = e.m_out.data();
        e.m_dest.free_in_buffer = e.m_out.size();
    }
    // Called when the buffer is full: the picture goes on in a larger one.
    static boolean EmptyOutputBuffer(j_compress_ptr c)
    {
        Encoder& e = Of(c);
        const std::size_t used = e.m_out.size();
        if (!e.Grow(2 * used))
            OutOfMemory(c);
        e.m_dest.next_output_byte = e.m_out.data() + used;
        e.m_dest.free_in_buffer = e.m_out.size() - used;
        return TRUE;
    }
    static void TermDestination(j_compress_ptr c)
    {
        Encoder& e = Of(c);
        e.m_size = e.m_out.size() - e.m_dest.free_in_buffer;
    }
    static void OutOfMemory(j_compress_ptr c)
    {
        c->err->msg_code = JERR_OUT_OF_MEMORY;
        c->err->error_exit(reinterpret_cast<j_common_ptr>(c));
    }
    bool Grow(std::size_t bytes)
    {
        try {
            m_out.resize(bytes);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

    jpeg_compress_struct m_cinfo{};
    ErrorExit m_err{};
    jpeg_destination_mgr m_dest{};
    bool m_created = false;
    std::vector<unsigned char> m_out;
    std::size_t m_size = 0;
    std::vector<unsigned char> m_expanded;
    Rows m_rows;
    std::vector<unsigned char> m_halved;
    Rows m_planes[3];
};

// A range of the block as one pointer, or null when it straddles the edge of
// what the block owns.
const unsigned char* Span(const BlockView& v, std::size_t offset, std::size_t n)
{
    if (!v.own || v.Owns(offset, n))
        return v.At(offset);
    const bool overlaps = offset < v.ownOffset + v.ownLength && v.ownOffset < offset + n;
    return overlaps ? nullptr : v.bytes + offset;
}

// The picture's rows, top first; false when one straddles an overlay's band.
bool ListRows(const DibLayout& d, const BlockView& v, Rows& rows)
{
    const std::size_t rowBytes = (std::size_t(d.width) * std::size_t(d.bitCount) + 7) / 8;
    rows.resize(std::size_t(d.height));
    for (int y = 0; y < d.height; ++y) {
        rows[std::size_t(y)] = Span(v, d.pixelOffset + d.RowOffset(y), rowBytes);
        if (!rows[std::size_t(y)])
            return false;
    }
    return true;
}

// Returned when an overlay's band cuts through the header or a row: the
// block is then read whole.
constexpr int kStraddles = -1;

// Each plane's rows, padded to whole strips with its last row.
bool ListPlaneRows(const PlaneLayout& p, const DibLayout& d, const BlockView& v, Rows (&planes)[3])
{
    const int blockRows[3] = {16, p.halfHeight ? 8 : 16, p.halfHeight ? 8 : 16};
    for (int c = 0; c < 3; ++c) {
        const int height = c == 0 ? p.height : p.chromaHeight;
        const std::size_t bytes = c == 0 ? p.lumaBytes : p.chromaBytes;
        planes[c].resize(std::size_t((height + blockRows[c] - 1) / blockRows[c] * blockRows[c]));
        for (int y = 0; y < height; ++y) {
            const std::size_t at = c == 0 ? p.LumaRow(y) : c == 1 ? p.CbRow(y) : p.CrRow(y);
            if (!(planes[c][std::size_t(y)] = Span(v, d.pixelOffset + at, bytes)))
                return false;
        }
        std::fill(planes[c].begin() + height, planes[c].end(), planes[c][std::size_t(height - 1)]);
    }
    return true;
}

int Compress(const DibLayout& d, const BlockView& v, int quality, Encoder* encoder)
{
    const bool headerOwned = v.own && v.own != v.bytes && v.ownOffset < d.pixelOffset;
    if (d.planar) {
        if (headerOwned || !ListPlaneRows(d.planes, d, v, encoder->PlaneLists()))
            return kStraddles;
        return encoder->RunPlanes(d.planes, encoder->PlaneLists(), quality);
    }
    Rows& rows = encoder->RowList();
    if (headerOwned || !ListRows(d, v, rows))
        return kStraddles;
    if (d.bitCount == 16)
        ExpandRgb555(d, rows, encoder->Expanded());
    else if (d.bitCount == 8)
        ExpandIndexed(d, v.At(d.header.biSize), rows, encoder->Expanded());
    return encoder->Run(rows, d.width, quality);
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

int WriteView(const BlockView& v, const char* fileName, int quality)
{
    BITMAPINFOHEADER header;
    if (!ReadDibHeader(v.bytes, v.size, &header))
        return JPEG_ERR_BAD_BITMAP;
    const bool packed =
        header.biCompression == BI_RGB &&
        (header.biBitCount == 8 || header.biBitCount == 16 || header.biBitCount == 24);
    if (!packed && !IsPlaneCompression(header.biCompression))
        return JPEG_ERR_UNSUPPORTED;
    DibLayout layout;
    if (!ReadDibLayout(v.bytes, v.size, &layout))
        return JPEG_ERR_BAD_BITMAP;
    if (!fileName || !*fileName)
        return JPEG_ERR_OPEN_FILE;
    thread_local Encoder encoder;
    const int rc = Compress(layout, v, std::clamp(quality, 1, 100), &encoder);
    if (rc != JPEG_OK)
        return rc;
    return WriteWhole(fileName, encoder.Data(), encoder.Size());
}

} // namespace

extern "C" int jpeg_write_file(HGLOBAL dib, const char* fileName, int quality)
{
    BlockView view;
    if (!GlobalLockView(dib, &view))
        return JPEG_ERR_BAD_BITMAP;
    int rc = WriteView(view, fileName, quality);
    GlobalUnlock(dib);
    if (rc == kStraddles) {
        const auto* block = static_cast<const unsigned char*>(GlobalLock(dib));
        if (!block)
            return JPEG_ERR_BAD_BITMAP;
        rc = WriteView({block, view.size, nullptr, 0, 0}, fileName, quality);
        GlobalUnlock(dib);
    }
    return rc;
}
