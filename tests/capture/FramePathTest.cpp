// The frame path without copies: frames converted straight into their
// bitmaps, shared instead of copied, blocks reused instead of allocated.
#include "CaptureTestSupport.h"
#include "globalmem.h"
#include "reader.h"

#include <gtest/gtest.h>

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace
{

// The first frame of a lavfi graph as a packed bitmap, converted the plain
// way: roomy rows, then laid out in the bitmap's tight rows with zero padding.
std::vector<std::uint8_t> ReferenceDib(const char* graph, const FrameFormat& format)
{
    avdevice_register_all();
    AVFormatContext* in = nullptr;
    std::vector<std::uint8_t> dib;
    if (avformat_open_input(&in, graph, av_find_input_format("lavfi"), nullptr) < 0)
        return dib;
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    avcodec_parameters_to_context(dec, in->streams[stream]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    bool decoded = false;
    while (!decoded && av_read_frame(in, packet) >= 0) {
        decoded = avcodec_send_packet(dec, packet) == 0 && avcodec_receive_frame(dec, frame) == 0;
        av_packet_unref(packet);
    }
    const AVPixelFormat target = format.bitCount == 16  ? AV_PIX_FMT_RGB555LE
                                 : format.bitCount == 8 ? AV_PIX_FMT_GRAY8
                                                        : AV_PIX_FMT_BGR24;
    SwsContext* sws =
        decoded ? sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
                                 format.width, format.height, target, SWS_BILINEAR, nullptr,
                                 nullptr, nullptr)
                : nullptr;
    if (sws) {
        const std::size_t rowBytes = std::size_t(format.width) * (format.bitCount / 8);
        const int work = int(rowBytes + 128);
        std::vector<std::uint8_t> rows(std::size_t(work) * format.height + 128);
        std::uint8_t* planes[4] = {rows.data()};
        const int strides[4] = {work};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        dib.assign(DibTotalBytes(format), 0);
        WriteDibHeader(dib.data(), format);
        const std::size_t stride = DibStride(format.width, format.bitCount);
        for (int y = 0; y < format.height; ++y)
            std::memcpy(dib.data() + DibPixelOffset(format.bitCount) + stride * std::size_t(y),
                        rows.data() + std::size_t(work) * y, rowBytes);
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);
    avformat_close_input(&in);
    return dib;
}

} // namespace

// Odd widths leave padding in every row and scaled sizes take the scaler's
// other code; whichever way the reader converts, the bitmap must be the
// plain conversion's, byte for byte. The bars are still, so any frame does.
TEST(FramePath, BitmapsEqualThePlainConversionAtEveryDepthAndSize)
{
    const char* graph = "smptebars=size=322x241:rate=10";
    for (const FrameFormat format :
         {FrameFormat{322, 241, 24}, FrameFormat{322, 241, 16}, FrameFormat{322, 241, 8},
          FrameFormat{161, 120, 24}, FrameFormat{640, 480, 16}}) {
        SCOPED_TRACE(testing::Message() << format.width << "x" << format.height << " at "
                                        << format.bitCount << " bits");
        SourceReader reader;
        QString error;
        ASSERT_TRUE(reader.Open(Source("Bars", "lavfi", graph), format, &error))
            << error.toStdString();
        // The first conversion of a format decides the way; the second takes it.
        SourceReader::Frame first, second;
        ASSERT_TRUE(reader.GrabNewest(first));
        std::uint64_t sequence = 0;
        ASSERT_TRUE(WaitFor([&] { return reader.PeekNewest(second, &sequence); }, 3000));
        ASSERT_TRUE(WaitFor([&] { return reader.PeekNewest(second, &sequence); }, 3000));
        const std::vector<std::uint8_t> expected = ReferenceDib(graph, format);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(*first == expected);
        EXPECT_TRUE(*second == expected);
    }
}

// A taker's frame is never reused for a newer one while it is held, and the
// reader still delivers new frames meanwhile.
TEST(FramePath, HeldFrameStaysAsItWasWhileNewFramesArrive)
{
    SourceReader reader;
    QString error;
    ASSERT_TRUE(reader.Open(Source("Pattern", "lavfi", "testsrc2=size=160x120:rate=50"),
                            FrameFormat{160, 120, 24}, &error));
    SourceReader::Frame held;
    ASSERT_TRUE(reader.GrabNewest(held));
    const std::vector<std::uint8_t> before = *held;
    std::uint64_t sequence = 0;
    int changed = 0;
    for (int i = 0; i < 20; ++i) {
        SourceReader::Frame next;
        ASSERT_TRUE(WaitFor([&] { return reader.PeekNewest(next, &sequence); }, 3000));
        changed += *next != before;
    }
    EXPECT_GT(changed, 0);
    EXPECT_TRUE(*held == before);
}

TEST(FramePath, ReusedBlocksAreZeroedWhenAskedAndSharedBlocksKeepTheirOwner)
{
    const std::size_t size = 1 << 20;
    HGLOBAL dirty = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memset(GlobalLock(dirty), 0xEE, size);
    GlobalUnlock(dirty);
    GlobalFree(dirty);
    HGLOBAL clean = GlobalAlloc(GHND, size);
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(clean));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(GlobalSize(clean), size);
    EXPECT_TRUE(std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; }));
    GlobalUnlock(clean);
    GlobalFree(clean);

    auto owner = std::make_shared<std::vector<std::uint8_t>>(100, 7);
    HGLOBAL shared = GlobalAllocShared(owner, owner->data(), owner->size());
    EXPECT_EQ(GlobalLock(shared), owner->data());
    EXPECT_EQ(GlobalSize(shared), 100u);
    GlobalUnlock(shared);
    EXPECT_EQ(owner.use_count(), 2);
    EXPECT_EQ(GlobalFree(shared), nullptr);
    EXPECT_EQ(owner.use_count(), 1);
    EXPECT_EQ(GlobalLock(shared), nullptr);
    EXPECT_EQ(GlobalAllocShared(nullptr, owner->data(), 1), nullptr);
}

// Painting part of the preview converts only that part, and it must be the
// same pixels as that part of the whole picture.
TEST(FramePath, PartOfAPictureEqualsThatPartOfTheWholeOne)
{
    for (int bits : {24, 16, 8}) {
        const FrameFormat format{37, 23, bits};
        std::vector<std::uint8_t> dib(DibTotalBytes(format));
        WriteDibHeader(dib.data(), format);
        for (std::size_t i = DibPixelOffset(bits); i < dib.size(); ++i)
            dib[i] = std::uint8_t(i * 31 + i / 7);
        const QImage whole = DibToImage(dib.data(), dib.size());
        ASSERT_FALSE(whole.isNull());
        const QRect part(5, 3, 20, 11);
        EXPECT_EQ(DibRegionToImage(dib.data(), dib.size(), part), whole.copy(part)) << bits;
        EXPECT_EQ(DibRegionToImage(dib.data(), dib.size(), QRect(30, -4, 50, 10)),
                  whole.copy(QRect(30, 0, 7, 6)))
            << bits;
        EXPECT_TRUE(DibRegionToImage(dib.data(), dib.size(), QRect(40, 0, 5, 5)).isNull());
        EXPECT_TRUE(DibRegionToImage(dib.data(), dib.size() - 1, part).isNull());
        // The preview's form: the same pixels, whatever form the painter takes.
        for (const QRect& r : {part, QRect(30, -4, 50, 10), QRect(0, 0, 37, 23)}) {
            const QImage screen = DibRegionToScreenImage(dib.data(), dib.size(), r);
            EXPECT_EQ(screen.format(), bits == 24 ? QImage::Format_RGB32 : whole.format());
            EXPECT_EQ(screen.convertToFormat(QImage::Format_RGB32),
                      whole.copy(r.intersected(whole.rect())).convertToFormat(QImage::Format_RGB32))
                << bits;
        }
        EXPECT_TRUE(DibRegionToScreenImage(dib.data(), dib.size() - 1, part).isNull());
        // The same picture with its rows the other way up reads the same.
        std::vector<std::uint8_t> upward(dib);
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib.data(), sizeof h);
        ASSERT_LT(h.biHeight, 0);
        h.biHeight = -h.biHeight;
        std::memcpy(upward.data(), &h, sizeof h);
        const std::size_t stride = DibStride(format.width, bits), pixels = DibPixelOffset(bits);
        for (int y = 0; y < format.height; ++y)
            std::memcpy(upward.data() + pixels + stride * std::size_t(format.height - 1 - y),
                        dib.data() + pixels + stride * std::size_t(y), stride);
        EXPECT_EQ(DibToImage(upward.data(), upward.size()), whole) << bits;
        EXPECT_EQ(DibRegionToScreenImage(upward.data(), upward.size(), part),
                  DibRegionToScreenImage(dib.data(), dib.size(), part))
            << bits;
    }
}
