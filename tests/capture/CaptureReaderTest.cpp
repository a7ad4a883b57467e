// The reader converts on demand: takers from several threads, stale and
// unconvertible frames.
#include "CaptureTestSupport.h"
#include "reader.h"

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace
{

std::unique_ptr<SourceReader> OpenPattern(const QString& graph, const FrameFormat& format = {})
{
    auto reader = std::make_unique<SourceReader>();
    QString error;
    if (!reader->Open(Source("Pattern", "lavfi", graph), format, &error)) {
        ADD_FAILURE() << error.toStdString();
        return nullptr;
    }
    return reader;
}

// The bytes hold a whole packed bitmap of one of the formats.
bool IsWholeFrameOf(const std::vector<std::uint8_t>& dib, const FrameFormat& a,
                    const FrameFormat& b)
{
    if (dib.size() < sizeof(BITMAPINFOHEADER))
        return false;
    const BITMAPINFOHEADER h = HeaderOf(dib);
    const FrameFormat got{h.biWidth, -h.biHeight, h.biBitCount}; // top-down
    return (got == a || got == b) && dib.size() == DibTotalBytes(got);
}

} // namespace

TEST(CaptureReader, TakersOnTwoThreadsGetWholeFramesWhileTheFormatChanges)
{
    const FrameFormat big{320, 240, 24}, small{160, 120, 8};
    auto reader = OpenPattern("testsrc2=size=320x240:rate=30", big);
    ASSERT_TRUE(reader);
    std::atomic<bool> done{false};
    std::atomic<int> grabs{0}, peeks{0}, broken{0};
    std::thread grabber([&] {
        std::vector<std::uint8_t> out;
        while (!done) {
            if (reader->GrabNewest(out)) {
                ++grabs;
                broken += !IsWholeFrameOf(out, big, small);
            }
        }
    });
    std::thread previewer([&] {
        std::vector<std::uint8_t> out;
        std::uint64_t sequence = 0;
        while (!done) {
            if (reader->PeekNewest(out, &sequence)) {
                ++peeks;
                broken += !IsWholeFrameOf(out, big, small);
            }
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 8; ++i) {
        QThread::msleep(120);
        reader->SetFormat(i % 2 ? big : small);
    }
    done = true;
    grabber.join();
    previewer.join();
    EXPECT_EQ(broken, 0);
    EXPECT_GT(grabs, 10);
    EXPECT_GT(peeks, 10);
}

TEST(CaptureReader, TakersShareTheCurrentFrameAndSeeTheNextOne)
{
    // One frame a second, and the pattern moves between frames.
    auto reader = OpenPattern("testsrc2=size=64x48:rate=1");
    ASSERT_TRUE(reader);
    std::vector<std::uint8_t> first, grabbed, peeked;
    std::uint64_t sequence = 0;
    ASSERT_TRUE(WaitFor([&] { return reader->PeekNewest(first, &sequence); }, 3000));
    const std::uint64_t firstSequence = sequence;
    ASSERT_TRUE(reader->GrabNewest(grabbed));
    EXPECT_EQ(grabbed, first);
    EXPECT_FALSE(reader->PeekNewest(peeked, &sequence));

    ASSERT_TRUE(WaitFor([&] { return reader->PeekNewest(peeked, &sequence); }, 3000));
    EXPECT_GT(sequence, firstSequence);
    EXPECT_NE(peeked, first);
    ASSERT_TRUE(reader->GrabNewest(grabbed));
    EXPECT_EQ(grabbed, peeked);
}

TEST(CaptureReader, UnconvertibleFramesAreNotDeliveredUntilTheFormatIsSound)
{
    auto reader = OpenPattern("testsrc2=size=64x48:rate=2");
    ASSERT_TRUE(reader);
    std::vector<std::uint8_t> out{1, 2, 3};
    std::uint64_t sequence = 0;
    reader->SetFormat({0, 0, 24});
    ASSERT_TRUE(WaitFor([&] { return reader->IsDelivering(); }, 3000));
    EXPECT_FALSE(reader->PeekNewest(out, &sequence));
    EXPECT_EQ(sequence, 0u);
    EXPECT_EQ(out.size(), 3u);
    EXPECT_FALSE(reader->IsDelivering());

    reader->SetFormat({32, 24, 16});
    ASSERT_TRUE(reader->GrabNewest(out));
    const BITMAPINFOHEADER h = HeaderOf(out);
    EXPECT_EQ(h.biWidth, 32);
    EXPECT_EQ(h.biBitCount, 16);
    EXPECT_TRUE(reader->IsDelivering());
}

TEST(CaptureReader, GrabsFasterThanTheCameraGetEachFrameOnceAtItsRate)
{
    // Five frames a second, paced as a camera; the pattern moves every frame.
    auto reader = OpenPattern("testsrc2=size=64x48:rate=5");
    ASSERT_TRUE(reader);
    std::vector<std::uint8_t> previous, frame;
    ASSERT_TRUE(reader->GrabNewest(previous));
    QElapsedTimer elapsed;
    elapsed.start();
    int grabs = 0, repeats = 0;
    while (elapsed.elapsed() < 2000) {
        ASSERT_TRUE(reader->GrabNewest(frame));
        ++grabs;
        repeats += frame == previous;
        previous.swap(frame);
    }
    EXPECT_EQ(repeats, 0);
    EXPECT_NEAR(grabs * 1000.0 / double(elapsed.elapsed()), 5.0, 1.0) << grabs;
}
