// Frames from real lavfi and network sources through the capture window.
#include "CaptureTestSupport.h"
#include "capoptions.h"

#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <QWidget>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

// Red with a blue band over the top 8 rows; an odd width so rows need padding.
const QByteArray kBanded = "Banded=lavfi:color=c=red:size=62x46:rate=10,"
                           "drawbox=x=0:y=0:w=62:h=8:color=blue:t=fill";

class CaptureFrames : public ::testing::Test
{
protected:
    HWND Window()
    {
        m_parent.resize(400, 300);
        HWND cap = capCreateCaptureWindowA("VizoCapWnd", WS_CHILD | WS_VISIBLE, 2, 2, 384, 288,
                                           &m_parent, 666);
        m_windows.emplace_back(cap);
        return cap;
    }
    static QSize ImageSize(HWND cap)
    {
        CAPSTATUS s{};
        if (!SendMessageA(cap, WM_CAP_GET_STATUS, sizeof s, LPARAM(&s)))
            return {};
        return QSize(int(s.uiImageWidth), int(s.uiImageHeight));
    }
    static bool GrabAndCopy(HWND cap)
    {
        return SendMessageA(cap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0) &&
               SendMessageA(cap, WM_CAP_EDIT_COPY, 0, 0);
    }

    QWidget m_parent;
    std::vector<std::unique_ptr<QWidget>> m_windows;
};

// The colour of a pixel of a 24-, 16- or 8-bit (grey) frame.
QColor ColourAt(const std::vector<std::uint8_t>& dib, int x, int y)
{
    const std::uint8_t* p = PixelAt(dib, x, y);
    switch (HeaderOf(dib).biBitCount) {
    case 24:
        return QColor(p[2], p[1], p[0]);
    case 16: {
        const int v = p[0] | p[1] << 8;
        return QColor((v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31);
    }
    default:
        return QColor(p[0], p[0], p[0]);
    }
}

bool Near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

TEST_F(CaptureFrames, GrabCopiesAPackedBitmapOfEachDepth)
{
    ScopedSources env(kBanded);
    HWND cap = Window();
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    EXPECT_EQ(ImageSize(cap), QSize(62, 46));
    for (int bits : {24, 16, 8}) {
        SCOPED_TRACE(bits);
        ModalAnswer answer(ChooseFormat(62, 46, bits));
        ASSERT_TRUE(SendMessageA(cap, WM_CAP_DLG_VIDEOFORMAT, 0, 0));
        ASSERT_TRUE(GrabAndCopy(cap));
        const std::vector<std::uint8_t> dib = ClipboardDib();
        const BITMAPINFOHEADER h = HeaderOf(dib);
        const std::size_t stride = bits == 24 ? 188 : bits == 16 ? 124 : 64;
        const std::size_t table = bits == 8 ? 1024 : 0;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 62);
        EXPECT_EQ(h.biHeight, -46); // top-down
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, bits);
        EXPECT_EQ(h.biCompression, DWORD(BI_RGB));
        EXPECT_EQ(h.biSizeImage, stride * 46);
        EXPECT_EQ(h.biClrUsed, bits == 8 ? 256u : 0u);
        ASSERT_EQ(dib.size(), 40 + table + stride * 46);
        for (int i : {0, 77, 255}) {
            if (bits == 8) {
                EXPECT_TRUE(dib[40 + 4 * i] == i && dib[41 + 4 * i] == i && dib[42 + 4 * i] == i);
            }
        }
        // Every pixel: blue band on top, red below, and zero padding.
        const QColor blue = bits == 8 ? QColor(29, 29, 29) : QColor(0, 0, 255);
        const QColor red = bits == 8 ? QColor(76, 76, 76) : QColor(255, 0, 0);
        const int tolerance = bits == 16 ? 9 : 8;
        int wrong = 0;
        for (int y = 0; y < 46; ++y) {
            for (int x = 0; x < 62; ++x)
                wrong += !Near(ColourAt(dib, x, y), y < 8 ? blue : red, tolerance);
            const std::uint8_t* end = PixelAt(dib, 61, y) + bits / 8;
            for (std::size_t pad = 62 * std::size_t(bits / 8); pad < stride; ++pad)
                wrong += *end++ != 0;
        }
        EXPECT_EQ(wrong, 0) << ColourAt(dib, 0, 0).name().toStdString() << " "
                            << ColourAt(dib, 0, 45).name().toStdString();
    }
}

TEST_F(CaptureFrames, FormatChangesTheSizeAndCancelKeepsIt)
{
    ScopedSources env("Pattern=lavfi:testsrc2=size=320x240:rate=15");
    HWND cap = Window();
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    {
        ModalAnswer cancel([](QDialog&) { return int(QDialog::Rejected); });
        EXPECT_TRUE(SendMessageA(cap, WM_CAP_DLG_VIDEOFORMAT, 0, 0));
        EXPECT_EQ(cancel.count, 1);
    }
    EXPECT_EQ(ImageSize(cap), QSize(320, 240));
    {
        ModalAnswer answer(ChooseFormat(160, 120, 24));
        SendMessageA(cap, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
    }
    EXPECT_EQ(ImageSize(cap), QSize(160, 120));
    ASSERT_TRUE(GrabAndCopy(cap));
    EXPECT_EQ(HeaderOf(ClipboardDib()).biWidth, 160);
    // The driver keeps its format over a reconnection.
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    EXPECT_EQ(ImageSize(cap), QSize(160, 120));
    ModalAnswer back(ChooseFormat(320, 240, 24));
    SendMessageA(cap, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
}

TEST_F(CaptureFrames, CapabilitiesOfferFormatOnly)
{
    ScopedSources env("Pattern=lavfi:testsrc2=size=320x240:rate=15;Broken=lavfi:nosuchfilter");
    HWND cap = Window();
    CAPDRIVERCAPS caps{};
    EXPECT_EQ(SendMessageA(cap, WM_CAP_DRIVER_GET_CAPS, sizeof caps, LPARAM(&caps)), 0);
    EXPECT_FALSE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 1, 0));
    EXPECT_FALSE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 2, 0));
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_GET_CAPS, sizeof caps, LPARAM(&caps)));
    EXPECT_TRUE(caps.fHasDlgVideoFormat);
    EXPECT_FALSE(caps.fHasDlgVideoSource);
    EXPECT_FALSE(caps.fHasDlgVideoDisplay);
    EXPECT_FALSE(caps.fHasOverlay);
    EXPECT_EQ(SendMessageA(cap, WM_CAP_SET_OVERLAY, 1, 0), 0);
    EXPECT_EQ(SendMessageA(cap, WM_CAP_DLG_VIDEOSOURCE, 0, 0), 0);
    EXPECT_EQ(SendMessageA(cap, WM_CAP_DLG_VIDEODISPLAY, 0, 0), 0);
}

TEST_F(CaptureFrames, PreviewShowsThePictureCentredAndUnscaled)
{
    ScopedSources env(kBanded);
    HWND cap = Window();
    MoveWindow(cap, 0, 0, 100, 80, TRUE);
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    ModalAnswer answer(ChooseFormat(62, 46, 24)); // the driver may remember another depth
    SendMessageA(cap, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
    SendMessageA(cap, WM_CAP_SET_PREVIEWRATE, 20, 0);
    SendMessageA(cap, WM_CAP_SET_PREVIEW, 1, 0);
    m_parent.show();
    // The picture (62x46) stands at (19, 17) in the 100x80 window.
    QImage shown;
    const bool painted = WaitFor(
        [&] {
            shown = cap->grab().toImage();
            return shown.pixelColor(50, 50).red() > 200;
        },
        3000);
    ASSERT_TRUE(painted);
    EXPECT_GT(shown.pixelColor(19, 17).blue(), 200);
    EXPECT_GT(shown.pixelColor(80, 62).red(), 200);
    EXPECT_EQ(shown.pixelColor(18, 40), QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(81, 40), QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(50, 16), QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(50, 63), QColor(Qt::black));
    CAPSTATUS s{};
    SendMessageA(cap, WM_CAP_GET_STATUS, sizeof s, LPARAM(&s));
    EXPECT_TRUE(s.fLiveWindow);
    SendMessageA(cap, WM_CAP_SET_PREVIEW, 0, 0);
    SendMessageA(cap, WM_CAP_GET_STATUS, sizeof s, LPARAM(&s));
    EXPECT_FALSE(s.fLiveWindow);
}

TEST_F(CaptureFrames, SourceThatEndsFailsTheGrabWithNothingStale)
{
    ScopedSources env("Short=lavfi:color=c=red:size=64x48:rate=10:duration=0.5");
    HWND cap = Window();
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    ASSERT_TRUE(GrabAndCopy(cap));
    // Half a second of frames, then the grab fails for good.
    EXPECT_TRUE(WaitFor([&] { return !SendMessageA(cap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0); }, 5000));
    EXPECT_EQ(SendMessageA(cap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0), 0);
    EXPECT_EQ(SendMessageA(cap, WM_CAP_EDIT_COPY, 0, 0), 0); // nothing stale to copy
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    EXPECT_TRUE(GrabAndCopy(cap));
}

namespace
{

// Serves a few seconds of a 64x48 YUV stream over TCP, then goes silent
// without closing: a network camera that stopped sending.
class SilentCamera
{
public:
    SilentCamera()
    {
        m_listener = ListenOnLoopback(1, &m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~SilentCamera()
    {
        m_done = true;
        m_thread.join();
        close(m_listener);
    }
    int port() const { return m_port; }

private:
    void Serve()
    {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return;
        const int client = accept(m_listener, nullptr, nullptr);
        std::string stream = "YUV4MPEG2 W64 H48 F10:1 Ip A1:1 C420jpeg\n";
        for (int i = 0; i < 80; ++i)
            stream += "FRAME\n" + std::string(64 * 48, char(81)) + std::string(32 * 24, char(90)) +
                      std::string(32 * 24, char(240));
        for (std::size_t sent = 0; sent < stream.size();) {
            const ssize_t n =
                send(client, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += std::size_t(n);
        }
        while (!m_done)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        close(client);
    }

    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace

TEST_F(CaptureFrames, StreamThatGoesSilentFailsTheGrab)
{
    SilentCamera camera;
    ScopedSources env("Door=yuv4mpegpipe:tcp://127.0.0.1:" + QByteArray::number(camera.port()));
    HWND cap = Window();
    QList<bool> states;
    CaptureOptions options;
    options.stateChanged = [&](const QString&, bool ok) { states << ok; };
    ASSERT_TRUE(capSetCaptureOptions(cap, options));
    QElapsedTimer silent;
    silent.start();
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    ASSERT_TRUE(GrabAndCopy(cap));
    EXPECT_TRUE(Near(ColourAt(ClipboardDib(), 10, 10), Qt::red, 8));
    // Lost from the silence itself (2 s stall limit), before the 5 s read
    // time-out would end the stream; from then on a grab fails at once.
    ASSERT_TRUE(WaitFor([&] { return states == QList<bool>{true, false}; }, 4000));
    EXPECT_LT(silent.elapsed(), 4500);
    silent.restart();
    EXPECT_EQ(SendMessageA(cap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0), 0);
    EXPECT_LT(silent.elapsed(), 100);
    SendMessageA(cap, WM_CAP_DRIVER_DISCONNECT, 0, 0);
}

TEST_F(CaptureFrames, ManyGrabsDoNotGrowMemory)
{
    ScopedSources env("Pattern=lavfi:testsrc2=size=320x240:rate=30");
    HWND cap = Window();
    ASSERT_TRUE(SendMessageA(cap, WM_CAP_DRIVER_CONNECT, 0, 0));
    SendMessageA(cap, WM_CAP_SET_PREVIEWRATE, 15, 0);
    SendMessageA(cap, WM_CAP_SET_PREVIEW, 1, 0);
    m_parent.show();
    auto cycles = [&](int n) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(GrabAndCopy(cap));
            if (i % 10 == 0)
                WaitFor([] { return false; }, 20);
        }
    };
    cycles(50);
    const long before = ResidentKilobytes();
    cycles(400); // 400 leaked frames would be 90 MB
    const long after = ResidentKilobytes();
    RecordProperty("ResidentGrowthKB", int(after - before));
    EXPECT_LT(after - before, 4096) << before << " kB before, " << after << " kB after";
}
