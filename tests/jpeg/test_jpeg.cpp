// The JPEG writer: every accepted layout decodes back to the picture it was
// given, and every refused one returns its code without reading past the block
// or leaving a file behind.
#include "jpeg/writertest.h"
#include "jpegwriter.h"
#include "planes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

using namespace writertest;

namespace
{

DibLayout RedOverBlue(int width, int height, int bits)
{
    DibLayout s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    const int rows = std::abs(height);
    if (bits == 8) {
        s.palette = {{0, 0, 0}, kRed, kBlue};
        s.clrUsed = 3;
        s.pixel = [rows](int, int y) { return Rgb{y < rows / 2 ? 1 : 2, 0, 0}; };
    } else {
        s.pixel = [rows](int, int y) { return y < rows / 2 ? kRed : kBlue; };
    }
    return s;
}

TEST_F(JpegWriter, EachDepthAndOrderDecodesBack)
{
    // Odd widths make every depth's rows padded.
    for (int bits : {24, 16, 8}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(Write(BuildDib(RedOverBlue(37, 24, bits))), 0);
        ExpectRedOverBlue(37, 24);
        ASSERT_EQ(Write(BuildDib(RedOverBlue(37, -24, bits))), 0) << "top-down";
        ExpectRedOverBlue(37, 24);
        DibLayout zero = RedOverBlue(37, 24, bits);
        zero.sizeImageZero = true;
        ASSERT_EQ(Write(BuildDib(zero)), 0) << "biSizeImage 0";
        ExpectRedOverBlue(37, 24);
    }
}

TEST_F(JpegWriter, EightBitColourTables)
{
    // biClrUsed 0 means a full table of 256 entries before the pixels.
    DibLayout full = RedOverBlue(32, 32, 8);
    full.clrUsed = 0;
    full.palette.resize(256, Rgb{0, 255, 0});
    full.palette[200] = kRed;
    full.palette[255] = kBlue;
    full.pixel = [](int, int y) { return Rgb{y < 16 ? 200 : 255, 0, 0}; };
    ASSERT_EQ(Write(BuildDib(full)), 0);
    ExpectRedOverBlue(32, 32);

    // Indices past a short table read as black.
    DibLayout shortTable = RedOverBlue(32, 32, 8);
    shortTable.pixel = [](int, int y) { return Rgb{y < 16 ? 1 : 250, 0, 0}; };
    ASSERT_EQ(Write(BuildDib(shortTable)), 0);
    const Decoded d = DecodeJpegFile(out);
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(Near(d.at(16, 8), kRed, 24));
    EXPECT_TRUE(Near(d.at(16, 24), Rgb{0, 0, 0}, 24));
}

TEST_F(JpegWriter, QualityIsClampedToOneToHundred)
{
    auto bytesAt = [this](int quality) {
        DibLayout s = RedOverBlue(64, 64, 24);
        s.pixel = [](int x, int y) { return Rgb{x * 4, y * 4, (x ^ y) & 255}; };
        EXPECT_EQ(Write(BuildDib(s), quality), 0);
        return ReadFileBytes(out);
    };
    const auto q0 = bytesAt(0), q1 = bytesAt(1), q50 = bytesAt(50), q100 = bytesAt(100);
    EXPECT_EQ(q0, q1);
    EXPECT_EQ(bytesAt(101), q100);
    EXPECT_EQ(bytesAt(-5), q1);
    EXPECT_LT(q1.size(), q50.size());
    EXPECT_LT(q50.size(), q100.size());
}

// The bytes of a bitmap with its header changed afterwards.
std::vector<unsigned char> Edited(const DibLayout& layout,
                                  const std::function<void(BITMAPINFOHEADER&)>& edit)
{
    auto bytes = BuildDibBytes(layout);
    edit(*reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()));
    return bytes;
}

TEST_F(JpegWriter, OtherFormatsAre602)
{
    EXPECT_EQ(Write(BuildDib(RedOverBlue(16, 16, 32))), 602);
    for (int bits : {4, 1, 0, 48}) {
        SCOPED_TRACE(bits);
        EXPECT_EQ(
            WriteBytes(Edited(RedOverBlue(16, 16, 24), [&](auto& h) { h.biBitCount = bits; })),
            602);
    }
    const auto bitfields = Edited(RedOverBlue(16, 16, 16), [](auto& h) { h.biCompression = 3; });
    EXPECT_EQ(WriteBytes(bitfields), 602);
    EXPECT_FALSE(Exists(out));
}

TEST_F(JpegWriter, UnwritablePathsAre603)
{
    HGLOBAL h = BuildDib(RedOverBlue(16, 16, 24));
    EXPECT_EQ(jpeg_write_file(h, (dir + "/missing/out.jpg").c_str(), 50), 603);
    EXPECT_EQ(jpeg_write_file(h, dir.c_str(), 50), 603);
    EXPECT_EQ(jpeg_write_file(h, "", 50), 603);
    EXPECT_EQ(jpeg_write_file(h, nullptr, 50), 603);
    GlobalFree(h);
}

TEST_F(JpegWriter, FailedWriteLeavesNoFile)
{
    // A file-size limit makes the write itself fail after the file was opened.
    DibLayout noisy = RedOverBlue(256, 256, 24);
    noisy.pixel = [](int x, int y) {
        const unsigned v = unsigned(x * 2654435761u ^ y * 40503u);
        return Rgb{int(v & 255), int((v >> 8) & 255), int((v >> 16) & 255)};
    };
    HGLOBAL h = BuildDib(noisy);
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = jpeg_write_file(h, out.c_str(), 100);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    GlobalFree(h);
    EXPECT_EQ(rc, 603);
    EXPECT_FALSE(Exists(out));
}

TEST_F(JpegWriter, UnreadableBitmapsAre601)
{
    EXPECT_EQ(jpeg_write_file(nullptr, out.c_str(), 50), 601);
    HGLOBAL freed = BuildDib(RedOverBlue(8, 8, 24));
    GlobalFree(freed);
    EXPECT_EQ(jpeg_write_file(freed, out.c_str(), 50), 601);

    const auto good = BuildDibBytes(RedOverBlue(40, 30, 24));
    const std::vector<Lie> lies = {
        {"block shorter than a header", [](auto& b, auto&) { b.resize(39); }},
        {"header size past block", [](auto& b, auto& h) { h.biSize = DWORD(b.size() + 1); }},
        {"header size under 40", [](auto&, auto& h) { h.biSize = 12; }},
        {"rows cut short", [](auto& b, auto&) { b.resize(b.size() - 1); }},
        {"rows cut, size 0", [](auto& b, auto& h) { h.biSizeImage = 0, b.resize(b.size() - 4); }},
        {"size image past block", [](auto&, auto& h) { h.biSizeImage += 1; }},
        {"size image under rows", [](auto&, auto& h) { h.biSizeImage -= 1; }},
        {"height past block", [](auto&, auto& h) { h.biHeight = 31; }},
        {"top-down past block", [](auto&, auto& h) { h.biHeight = -31; }},
        {"zero width", [](auto&, auto& h) { h.biWidth = 0; }},
        {"negative width", [](auto&, auto& h) { h.biWidth = -40; }},
        {"zero height", [](auto&, auto& h) { h.biHeight = 0; }},
        {"most negative height", [](auto&, auto& h) { h.biHeight = INT32_MIN; }},
        {"huge sizes",
         [](auto&, auto& h) { h.biWidth = h.biHeight = 0x7fffffff, h.biSizeImage = 0; }},
    };
    ExpectRefused(good, lies);
}

// A frame in YUV planes, red above and blue below, as a JPEG camera's
// decoder leaves it.
std::vector<unsigned char> RedOverBluePlanes(int width, int height, DWORD compression)
{
    PlaneLayout p;
    if (!MakePlaneLayout(width, height, compression, &p))
        return {};
    std::vector<unsigned char> bytes(PlaneBlockBytes(p));
    WritePlaneHeader(bytes.data(), p, compression);
    unsigned char* pixels = bytes.data() + 40;
    // JPEG's YCbCr of kRed and kBlue.
    const unsigned char red[3] = {81, 91, 228}, blue[3] = {40, 228, 110};
    for (int y = 0; y < height; ++y)
        std::memset(pixels + p.LumaRow(y), (y < height / 2 ? red : blue)[0], std::size_t(width));
    for (int k = 0; k < p.chromaHeight; ++k) {
        const unsigned char* c = (p.halfHeight ? 2 * k : k) < height / 2 ? red : blue;
        std::memset(pixels + p.CbRow(k), c[1], std::size_t(p.chromaWidth));
        std::memset(pixels + p.CrRow(k), c[2], std::size_t(p.chromaWidth));
    }
    PadPlaneRows(p, pixels);
    return bytes;
}

TEST_F(JpegWriter, PlaneFramesDecodeBackAndLyingOnesAre601)
{
    for (DWORD compression : {kPlanes420, kPlanes422}) {
        SCOPED_TRACE(compression);
        const auto good = RedOverBluePlanes(37, 24, compression);
        ASSERT_EQ(WriteBytes(good), 0);
        ExpectRedOverBlue(37, 24);
        ::unlink(out.c_str());
        const std::vector<Lie> lies = {
            {"planes cut short", [](auto& b, auto&) { b.resize(b.size() - 1); }},
            {"size image under planes", [](auto&, auto& h) { h.biSizeImage -= 1; }},
            {"bottom-up", [](auto&, auto& h) { h.biHeight = 24; }},
            {"height past block", [](auto&, auto& h) { h.biHeight = -25; }},
            {"huge width", [](auto&, auto& h) { h.biWidth = 0x7fffffff; }},
        };
        ExpectRefused(good, lies);
    }
}

// Chroma rows alternating between two values must come out as their mean,
// to the last row: dropping every other row would keep one of them, and
// padding below the picture unlike its last row would ripple into it.
TEST_F(JpegWriter, FourTwoTwoPlanesAreWrittenFourTwoZeroWithRowPairsAveraged)
{
    const int width = 32, height = 30;
    PlaneLayout p;
    ASSERT_TRUE(MakePlaneLayout(width, height, kPlanes422, &p));
    std::vector<unsigned char> bytes(PlaneBlockBytes(p));
    WritePlaneHeader(bytes.data(), p, kPlanes422);
    unsigned char* pixels = bytes.data() + 40;
    for (int y = 0; y < height; ++y) {
        std::memset(pixels + p.LumaRow(y), 128, p.lumaBytes);
        std::memset(pixels + p.CbRow(y), y % 2 ? 160 : 100, p.chromaBytes);
        std::memset(pixels + p.CrRow(y), 128, p.chromaBytes);
    }
    ASSERT_EQ(WriteBytes(bytes), 0);
    const std::vector<unsigned char> jpeg = ReadFileBytes(out);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sampling = -1, colours = 0;
    ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sampling, &colours), 0);
    EXPECT_EQ(sampling, TJSAMP_420);
    std::vector<unsigned char> yuv(tjBufSizeYUV2(w, 1, h, sampling));
    ASSERT_EQ(tjDecompressToYUV2(tj, jpeg.data(), jpeg.size(), yuv.data(), w, 1, h, 0), 0);
    tjDestroy(tj);
    const unsigned char* cb = yuv.data() + std::size_t(w) * h;
    const auto [low, high] = std::minmax_element(cb, cb + (w / 2) * (h / 2));
    EXPECT_GE(*low, 129);
    EXPECT_LE(*high, 131);
}

TEST_F(JpegWriter, LyingColourTablesAre601)
{
    // More entries than 8 bits can index; 256 claimed where the block holds 3.
    for (DWORD used : {300u, 0u}) {
        EXPECT_EQ(WriteBytes(Edited(RedOverBlue(16, 16, 8), [&](auto& h) { h.biClrUsed = used; })),
                  601);
    }
    EXPECT_FALSE(Exists(out));
}

TEST_F(JpegWriter, EncoderFailureIs699)
{
    // Wider than a JPEG frame can be.
    DibLayout wide = RedOverBlue(70000, 1, 24);
    EXPECT_EQ(Write(BuildDib(wide)), 699);
    EXPECT_FALSE(Exists(out));
}

} // namespace

// The writer's pictures are the encoder's own, byte for byte, at every depth,
// whatever size came before: its kept buffers must never leak into a picture.
// TurboJPEG's default DCT is the fast one below quality 96 and the accurate
// one from 96 on, so the reference is encoded with the default flags.
TEST_F(JpegWriter, PicturesAreTheEncodersOwnByteForByte)
{
    auto reference = [](const DibLayout& s, int quality) {
        const int rows = std::abs(s.height);
        std::vector<unsigned char> bgr;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < s.width; ++x) {
                Rgb c = s.pixel(x, y);
                if (s.bits == 16)
                    c = {(c.r >> 3) * 8 + (c.r >> 5), (c.g >> 3) * 8 + (c.g >> 5),
                         (c.b >> 3) * 8 + (c.b >> 5)};
                bgr.insert(bgr.end(),
                           {static_cast<unsigned char>(c.b), static_cast<unsigned char>(c.g),
                            static_cast<unsigned char>(c.r)});
            }
        }
        tjhandle tj = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(tj, bgr.data(), s.width, 0, rows, TJPF_BGR, &jpeg, &size, TJSAMP_420, quality,
                    0);
        std::vector<unsigned char> bytes(jpeg, jpeg + size);
        tjFree(jpeg);
        tjDestroy(tj);
        return bytes;
    };
    const struct {
        int width, height, bits, quality;
    } cases[] = {{96, 64, 24, 50}, {96, -64, 24, 98}, {61, 40, 16, 50},
                 {30, 20, 16, 75}, {61, 40, 16, 96},  {45, 33, 24, 90}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << "x" << c.bits << " q" << c.quality);
        DibLayout s;
        s.width = c.width;
        s.height = c.height;
        s.bits = c.bits;
        s.pixel = [](int x, int y) {
            return Rgb{(x * 37 + y * 11) & 255, (x * y) & 255, (x ^ y) * 5 & 255};
        };
        ASSERT_EQ(Write(BuildDib(s), c.quality), 0);
        EXPECT_TRUE(ReadFileBytes(out) == reference(s, c.quality));
    }
}

// A captioned frame shares the frame's bytes and owns a band of its own. The
// writer reads it in those parts, and must write what the block reads as
// whole, wherever the band lies: on whole rows, through a row, over the header.
TEST_F(JpegWriter, OverlaysAreWrittenAsTheWholeBlockReads)
{
    for (int bits : {24, 16}) {
        DibLayout s = RedOverBlue(61, 40, bits);
        auto owner = std::make_shared<std::vector<unsigned char>>(BuildDibBytes(s));
        const std::size_t stride = Stride(61, bits), size = owner->size();
        const struct {
            std::size_t offset, length;
        } bands[] = {{40 + 5 * stride, 7 * stride}, {40 + 5 * stride + 9, stride},
                     {40 + 5 * stride, stride + 9}, {10, 80},
                     {0, 40 + 2 * stride},          {40, 0}};
        for (const auto& band : bands) {
            SCOPED_TRACE(testing::Message() << bits << " bits, band at " << band.offset);
            HGLOBAL base = GlobalAllocShared(owner, owner->data(), size);
            HGLOBAL overlay = GlobalAllocOverlay(base, size, band.offset, band.length);
            GlobalFree(base);
            ASSERT_NE(overlay, nullptr);
            BlockView v;
            ASSERT_TRUE(GlobalLockView(overlay, &v));
            ASSERT_TRUE(v.Owns(band.offset, band.length));
            EXPECT_NE(v.own, owner->data() + band.offset) << "the band is the overlay's own";
            for (std::size_t i = 0; i < band.length; ++i) {
                if (band.offset + i >= 40)
                    v.own[i] = static_cast<unsigned char>(i * 7);
            }
            if (band.offset == 0) // the header in the band turns the rows upside down
                reinterpret_cast<BITMAPINFOHEADER*>(v.own)->biHeight *= -1;
            GlobalUnlock(overlay);
            ASSERT_EQ(jpeg_write_file(overlay, out.c_str(), 80), 0);
            const std::vector<unsigned char> fromParts = ReadFileBytes(out);
            const auto* whole = static_cast<const unsigned char*>(GlobalLock(overlay));
            ASSERT_NE(whole, nullptr);
            const std::vector<unsigned char> bytes(whole, whole + size);
            GlobalUnlock(overlay);
            GlobalFree(overlay);
            EXPECT_EQ(Write(ToBlock(bytes), 80), 0);
            EXPECT_TRUE(ReadFileBytes(out) == fromParts);
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + std::ptrdiff_t(band.offset),
                                   owner->begin()));
        }
        EXPECT_EQ(owner.use_count(), 1);
        EXPECT_TRUE(*owner == BuildDibBytes(s)) << "the shared bytes are never written";
    }
    // Out of range, or over a freed block: nothing.
    HGLOBAL plain = BuildDib(RedOverBlue(8, 8, 24));
    const std::size_t size = GlobalSize(plain);
    EXPECT_EQ(GlobalAllocOverlay(plain, size + 1, 0, 0), nullptr);
    EXPECT_EQ(GlobalAllocOverlay(plain, size, size - 2, 3), nullptr);
    HGLOBAL copied = GlobalAllocOverlay(plain, size, 40, 24);
    ASSERT_NE(copied, nullptr);
    BlockView v;
    ASSERT_TRUE(GlobalLockView(copied, &v));
    EXPECT_TRUE(v.Owns(0, size)) << "a block nobody else keeps alive is copied whole";
    GlobalUnlock(copied);
    GlobalFree(copied);
    GlobalFree(plain);
    EXPECT_EQ(GlobalAllocOverlay(plain, 8, 0, 0), nullptr);
}
