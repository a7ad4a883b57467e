// The reader converts on demand: takers from several threads, stale and
// unconvertible frames.
#include "CaptureTestSupport.h"
#include "log.h"
#include "planes.h"
#include "reader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <turbojpeg.h>

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

namespace
{

// A JPEG of one colour with noise: a scan with data to cut, and a frame
// larger than the first look at a pipe, which then knows it for JPEG.
QByteArray ColourJpeg(int r, int g, int b)
{
    constexpr int kWidth = 160, kHeight = 120;
    std::vector<unsigned char> rgb(kWidth * kHeight * 3);
    unsigned noise = 1;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        noise = noise * 1103515245u + 12345u;
        const int shade = 200 + int(noise >> 26);
        rgb[3 * i] = std::uint8_t(r * shade / 255);
        rgb[3 * i + 1] = std::uint8_t(g * shade / 255);
        rgb[3 * i + 2] = std::uint8_t(b * shade / 255);
    }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    QByteArray jpeg;
    if (tjCompress2(tj, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &out, &size, TJSAMP_420, 80, 0) ==
        0)
        jpeg = QByteArray(reinterpret_cast<const char*>(out), int(size));
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

QRgb Centre(const std::vector<std::uint8_t>& dib)
{
    const QImage image = DibToImage(dib.data(), dib.size());
    return image.isNull() ? 0 : image.pixel(image.width() / 4, image.height() / 2);
}

bool Reddish(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) < 60 && qBlue(c) < 60;
}

} // namespace

TEST(CaptureReader, BrokenCameraFrameIsNeverHandedOutAndTheNextOneIs)
{
    QTemporaryDir dir;
    const QByteArray red = ColourJpeg(255, 0, 0), blue = ColourJpeg(0, 0, 255);
    // A green frame cut off in its scan, closed as if whole.
    QByteArray broken = ColourJpeg(0, 255, 0);
    broken = broken.left(broken.size() * 2 / 3) + QByteArray("\xff\xd9", 2);
    for (const auto& [name, bytes] : {std::pair{"red.jpg", red}, std::pair{"broken.jpg", broken},
                                      std::pair{"blue.jpg", blue}}) {
        QFile f(dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    // Red frames, broken ones until the test says so, then blue ones.
    const QString script = QStringLiteral("cd '%1' && cat red.jpg red.jpg red.jpg && "
                                          "while [ ! -e go ]; do cat broken.jpg; sleep 0.1; done; "
                                          "while cat blue.jpg; do sleep 0.1; done")
                               .arg(dir.path());
    std::atomic<int> failures{0};
    const LogObserver previous = SetLogObserver([&](const char*, const QString& text) {
        failures += text.startsWith(QLatin1String("Video frame could not be decoded: "));
    });
    SourceReader reader;
    QString error;
    ASSERT_TRUE(reader.Open(Source("Cam", "exec", "/bin/sh -c \"" + script + "\""), {}, &error))
        << error.toStdString();
    std::vector<std::uint8_t> out;
    std::uint64_t sequence = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            if (reader.PeekNewest(out, &sequence)) {
                EXPECT_TRUE(Reddish(Centre(out))) << std::hex << Centre(out);
            }
            return failures > 0;
        },
        5000));
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(reader.IsDelivering()) << "the broken frame is not fresh";
    EXPECT_FALSE(reader.PeekNewest(out, &sequence));

    QFile go(dir.filePath(QStringLiteral("go")));
    ASSERT_TRUE(go.open(QIODevice::WriteOnly));
    ASSERT_TRUE(reader.GrabNewest(out));
    const QRgb c = Centre(out);
    EXPECT_TRUE(qBlue(c) > 150 && qRed(c) < 60 && qGreen(c) < 60) << std::hex << c;
    EXPECT_EQ(HeaderOf(out).biCompression, kPlanes420) << "kept in its planes";
    SetLogObserver(previous);
}

TEST(CaptureReader, JpegFramesTakenAsTheyComeAreEachWholeAndNewWithAPreviewBeside)
{
    // Ten frames a second, the pattern moving every frame.
    SourceReader reader;
    QString error;
    ASSERT_TRUE(reader.Open(
        Source("Cam", "exec", "'" VIZO_SOURCE_DIR "/tests/capture/commands/mjpeg.sh'"), {}, &error))
        << error.toStdString();
    std::atomic<bool> done{false};
    std::atomic<int> peeks{0}, brokenPeeks{0};
    std::thread previewer([&] {
        std::vector<std::uint8_t> out;
        std::uint64_t sequence = 0;
        while (!done) {
            if (reader.PeekNewest(out, &sequence)) {
                ++peeks;
                brokenPeeks += DibImageSize(out.data(), out.size()) != QSize(160, 120);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    std::vector<std::uint8_t> previous, frame;
    ASSERT_TRUE(reader.GrabNewest(previous));
    QElapsedTimer elapsed;
    elapsed.start();
    int grabs = 0, repeats = 0;
    while (elapsed.elapsed() < 2000) {
        ASSERT_TRUE(reader.GrabNewest(frame));
        ++grabs;
        repeats += frame == previous;
        EXPECT_EQ(HeaderOf(frame).biCompression, kPlanes420);
        previous.swap(frame);
    }
    done = true;
    previewer.join();
    EXPECT_EQ(repeats, 0);
    EXPECT_EQ(brokenPeeks, 0);
    EXPECT_GT(peeks, 5);
    EXPECT_NEAR(grabs * 1000.0 / double(elapsed.elapsed()), 10.0, 2.0) << grabs;
}
