// Sources that go away and come back: a network camera served by a separate
// FFmpeg process, warm-up, the wait between attempts, formats across starts.
#include "CaptureTestSupport.h"
#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "capture/SourceFormats.h"
#include "config/SettingsKeys.h"
#include "keeper.h"
#include "res/resource.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QProcess>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{

// Black for its first 20 frames, then red; one client per start, as a
// camera that reboots drops its clients.
class FfmpegCamera
{
public:
    FfmpegCamera()
    {
        // A free port for FFmpeg to listen on.
        const int probe = ListenOnLoopback(1, &m_port);
        if (probe >= 0)
            close(probe);
    }
    ~FfmpegCamera() { Stop(); }
    QByteArray Url() const { return "tcp://127.0.0.1:" + QByteArray::number(m_port); }
    bool Start()
    {
        m_process.start(QStringLiteral("ffmpeg"),
                        {"-nostdin", "-loglevel", "quiet", "-re", "-f", "lavfi", "-i",
                         "color=c=red:size=64x48:rate=10,drawbox=color=black:t=fill:"
                         "enable='lt(n,20)'",
                         "-f", "yuv4mpegpipe", QString::fromLatin1(Url() + "?listen=1")});
        return m_process.waitForStarted(5000) && WaitFor([this] { return Listening(); }, 5000);
    }
    void Stop()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    // Read from the kernel's table: a probing connection would be the one client.
    bool Listening() const
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        const QByteArray port = QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
        return table.open(QIODevice::ReadOnly) &&
               table.readAll().contains(":" + port + " 00000000:0000 0A");
    }
    quint16 m_port = 0;
    QProcess m_process;
};

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Sleeps in the event loop, as the program waits.
void Idle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

class ScopedRefusal
{
public:
    explicit ScopedRefusal(OpenRefusal refusal) { SetOpenRefusalForTesting(std::move(refusal)); }
    ~ScopedRefusal() { SetOpenRefusalForTesting(nullptr); }
};

QColor Centre(const std::vector<std::uint8_t>& dib)
{
    const BITMAPINFOHEADER h = HeaderOf(dib);
    const std::uint8_t* p = PixelAt(dib, h.biWidth / 2, std::abs(h.biHeight) / 2);
    return p ? QColor(p[2], p[1], p[0]) : QColor();
}

class CameraRecovery : public CaptureWindowTest
{
protected:
    QColor GrabbedCentre()
    {
        return SendMessageA(m_dlg.m_hWndCap, WM_CAP_EDIT_COPY, 0, 0) ? Centre(ClipboardDib())
                                                                     : QColor();
    }
};

} // namespace

TEST(CaptureRecoveryRules, WaitDoublesToAMinuteAndOnlyCamerasWarmUp)
{
    std::chrono::milliseconds d = kFirstRetryDelay;
    std::vector<long> waits;
    for (int i = 0; i < 9; ++i, d = NextRetryDelay(d))
        waits.push_back(long(d.count() / 1000));
    EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("clip.y4m")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const CaptureDriver device{"Cam", "1", "v4l2", "/dev/video0", true};
    EXPECT_EQ(WarmUpFramesFor(device, 5), 5);
    EXPECT_EQ(WarmUpFramesFor(Source("Door", "", "rtsp://192.0.2.7/live"), 7), 7);
    EXPECT_EQ(WarmUpFramesFor(Source("Test", "lavfi", "testsrc2"), 5), 0);
    EXPECT_EQ(WarmUpFramesFor(Source("Clip", "", file.fileName()), 5), 0);
    // A hand-edited store: no negative skip, no endless one.
    EXPECT_EQ(WarmUpFramesFor(device, -3), 0);
    EXPECT_EQ(WarmUpFramesFor(device, 1000000), 300);
}

TEST(CaptureRecoveryRules, StoredFormatsReadBackAndBadOnesAreRefused)
{
    FrameFormat f{};
    ASSERT_TRUE(ParseSourceFormat(SourceFormatText({640, 480, 16}), &f));
    EXPECT_EQ(f, (FrameFormat{640, 480, 16}));
    for (const char* bad : {"", "640x480", "640x480x32", "640x480x24x1", "0x480x24", "-640x480x24",
                            "+640x480x24", "640 x480x24", "9000x480x24", "axbxc", "0x1e3x24"}) {
        FrameFormat kept{1, 2, 8};
        EXPECT_FALSE(ParseSourceFormat(QString::fromLatin1(bad), &kept)) << bad;
        EXPECT_EQ(kept, (FrameFormat{1, 2, 8})) << bad;
    }
    // Names reach no other section or value, and stay apart.
    const QByteArray entry = SourceFormatEntry(QStringLiteral("USB 2.0 Camera: a/b\\c=%"));
    EXPECT_FALSE(entry.contains('/') || entry.contains('\\'));
    EXPECT_NE(SourceFormatEntry(QStringLiteral("a/b")), SourceFormatEntry(QStringLiteral("a%2Fb")));
}

TEST_F(CameraRecovery, NetworkCameraComesBackThreeTimesAndTheNextUploadSucceeds)
{
    FfmpegCamera camera;
    ASSERT_TRUE(camera.Start());
    ScopedSources env("Door=yuv4mpegpipe:" + camera.Url());
    m_app.WriteProfileInt(Keys::WarmUpFrames.section, Keys::WarmUpFrames.entry, 20);
    Connect();
    ASSERT_EQ(m_states, QStringList{"Door ok"});
    // Every picture taken is past the black warm-up frames.
    ASSERT_TRUE(WaitFor([&] { return Grab(); }, 8000));
    EXPECT_GT(GrabbedCentre().red(), 200);
    {
        ModalAnswer answer(ChooseFormat(160, 120, 24)); // kept over every reopening
        m_app.OnVideoFormat();
    }

    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        camera.Stop();
        ASSERT_TRUE(WaitFor([&] { return m_states.size() == 2 * round; }, 8000));
        EXPECT_EQ(m_states.last(), "Door lost");
        EXPECT_FALSE(m_dlg.IsCameraOk());
        EXPECT_FALSE(Grab()); // nothing stale
        Idle(1500);
        ASSERT_TRUE(camera.Start());
        ASSERT_TRUE(WaitFor([&] { return m_states.size() == 2 * round + 1; }, 15000));
        EXPECT_EQ(m_states.last(), "Door ok");
        ASSERT_TRUE(Grab());
        EXPECT_GT(GrabbedCentre().red(), 200);
    }
    EXPECT_LT(elapsed.elapsed(), 60000);
    EXPECT_EQ(HeaderOf(ClipboardDib()).biWidth, 160);
    EXPECT_EQ(Logged("Video source 'Door' lost"), 3);
    EXPECT_EQ(Logged("Video source 'Door' is back."), 3);

    // An upload due while the camera is away fails; the next one after it is
    // back publishes a fresh picture.
    ScopedEnv timeout("VIZO_INET_TIMEOUT", "3");
    NoProxyEnvironment noProxy;
    FtpTestServer server;
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    CUpload& u = m_app.m_upload;
    ASSERT_EQ(u.LoadInternetLibrary(), 0);
    u.m_bUseDialup = 0;
    u.m_bUseFtp = 1;
    u.m_bShowTime = 0;
    u.m_nUploadMode = 0;
    UseServer(u, server);
    u.m_strRemotePath = QStringLiteral("cam.jpg");
    u.m_strLocalPath = m_home.path() + QStringLiteral("/cam.jpg");
    camera.Stop();
    ASSERT_TRUE(WaitFor([&] { return m_states.last() == "Door lost"; }, 8000));
    m_app.RunUploadSession();
    EXPECT_EQ(m_dlg.m_strStatus, "Could not grab frame...");
    EXPECT_EQ(server.CountCommands("STOR"), 0);
    ASSERT_TRUE(camera.Start());
    ASSERT_TRUE(WaitFor([&] { return m_states.last() == "Door ok"; }, 15000));
    m_app.RunUploadSession();
    EXPECT_TRUE(m_dlg.m_strStatus.startsWith("Succesful upload at "))
        << m_dlg.m_strStatus.toStdString();
    const QImage published = QImage::fromData(server.ReadFile("cam.jpg"), "JPEG");
    ASSERT_FALSE(published.isNull());
    EXPECT_GT(published.pixelColor(32, 24).red(), 200);
    u.FreeInternetLibrary();
}

TEST_F(CameraRecovery, SourceThatNeverComesBackIsTriedWithAGrowingWaitAtNoCost)
{
    ScopedSources env("Short=lavfi:color=c=red:size=64x48:rate=10:duration=0.3");
    QMutex mutex;
    std::vector<qint64> attempts;
    std::atomic<bool> gone{false};
    QElapsedTimer elapsed;
    elapsed.start();
    ScopedRefusal refusal([&](const CaptureDriver&, const FrameFormat&) {
        if (!gone)
            return QString();
        QMutexLocker lock(&mutex);
        attempts.push_back(elapsed.elapsed());
        return QStringLiteral("No such device");
    });
    Connect();
    gone = true;
    ASSERT_TRUE(WaitFor([&] { return m_states.size() == 2; }, 5000));
    const qint64 lost = elapsed.elapsed();
    const double cpu = CpuSeconds();
    Idle(7600);
    EXPECT_LT(CpuSeconds() - cpu, 0.3);
    QMutexLocker lock(&mutex);
    // Attempts after 1, 3 and 7 seconds: each wait twice the one before.
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_NEAR(attempts[0] - lost, 1000, 400);
    EXPECT_NEAR(attempts[1] - attempts[0], 2000, 300);
    EXPECT_NEAR(attempts[2] - attempts[1], 4000, 300);
    EXPECT_EQ(m_states.last(), "Short lost");
    EXPECT_EQ(Logged("Video source 'Short' lost"), 1);
}

// A source that opens but never delivers has not come back: each reopening
// that ends at once waits twice as long as the one before.
TEST(CaptureKeeper, SourceThatOpensAndEndsAtOnceWaitsLongerEachTime)
{
    QTemporaryDir dir;
    QFile clip(dir.filePath(QStringLiteral("empty.y4m"))); // a header, no frames
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
    clip.write("YUV4MPEG2 W64 H48 F5:1 Ip A1:1 C420jpeg\n");
    clip.close();
    std::atomic<int> opens{0};
    ScopedRefusal counter([&](const CaptureDriver&, const FrameFormat&) {
        ++opens;
        return QString();
    });
    SourceKeeper keeper;
    QStringList states;
    keeper.SetStateHandler([&](const QString& source, bool ok) {
        states << source + (ok ? QStringLiteral(" ok") : " lost");
    });
    std::vector<long> waits;
    keeper.SetWaitHookForTesting([&](std::chrono::milliseconds wait) {
        waits.push_back(long(wait.count()));
        return 10ms;
    });
    QString error;
    ASSERT_TRUE(keeper.Open(Source("Empty", "", clip.fileName()), {}, &error))
        << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return waits.size() >= 4; }, 15000));
    EXPECT_EQ(std::vector<long>(waits.begin(), waits.begin() + 4),
              (std::vector<long>{1000, 2000, 4000, 8000}));
    EXPECT_GE(opens, 4); // every wait followed an open that succeeded
    EXPECT_EQ(states, (QStringList{"Empty ok", "Empty lost"}));
}

// Max Fps above the camera's rate: the stream runs at the camera's rate and
// says so, rather than publishing each picture six times.
TEST_F(CameraRecovery, StreamFasterThanItsCameraStatesTheCamerasRate)
{
    ScopedSources env("Slow=lavfi:testsrc2=size=64x48:rate=5");
    Connect();
    CUpload& u = m_app.m_upload;
    u.m_bUseDialup = 0;
    u.m_bUseFtp = 0;
    u.m_bShowTime = 0;
    u.m_b24Hours = 1;
    u.m_nUploadMode = 2;
    u.m_fMaxFps = 30;
    u.m_strLocalPath = m_home.path() + QStringLiteral("/cam.jpg");
    QStringList rates;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (m_dlg.m_strStatus.endsWith(QLatin1String("fps)")))
            rates << m_dlg.m_strStatus;
    });
    watch.start(100);
    QTimer::singleShot(3000, [&] { u.Abort(); });
    m_app.RunUploadSession();
    ASSERT_GE(rates.size(), 10);
    // The figure counts the first frame at once, so it nears 5 from above.
    const double rate = rates.last().section('(', 1).section(' ', 0, 0).toDouble();
    EXPECT_GE(rate, 4.0) << rates.last().toStdString();
    EXPECT_LE(rate, 6.5) << rates.last().toStdString();
}

TEST_F(CameraRecovery, SourceRefusedAtStartIsSetUpWhenItComesBack)
{
    ScopedSources env("Pattern=lavfi:testsrc2=size=320x240:rate=15");
    std::atomic<int> opens{0};
    ScopedRefusal refusal([&](const CaptureDriver&, const FrameFormat&) {
        return ++opens == 1 ? QStringLiteral("Connection refused") : QString();
    });
    Connect();
    ASSERT_EQ(m_boxes.texts.size(), 1);
    EXPECT_EQ(m_dlg.m_hWndCap->geometry(), QRect(192, 144, 0, 0));
    EXPECT_FALSE(m_dlg.MenuItem(ID_VIDEO_FORMAT)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return m_dlg.IsCameraOk(); }, 5000));
    EXPECT_EQ(m_states, (QStringList{"Pattern lost", "Pattern ok"}));
    EXPECT_EQ(m_dlg.m_hWndCap->geometry(), QRect(34, 26, 320, 240));
    EXPECT_TRUE(m_dlg.MenuItem(ID_VIDEO_FORMAT)->isEnabled());
    EXPECT_TRUE(Grab());
}

TEST_F(CameraRecovery, FormatSurvivesARestartAndARefusedOneIsUndone)
{
    // A device that refuses 160 x 120, as a camera busy elsewhere would.
    CaptureDriver device = Source("USB Cam: 1/2", "lavfi", "testsrc2=size=320x240:rate=15");
    device.isDevice = true;
    ScopedDrivers drivers({device});
    ScopedRefusal busy([](const CaptureDriver&, const FrameFormat& f) {
        return f.width == 160 ? QStringLiteral("Device or resource busy") : QString();
    });
    Connect();
    {
        ModalAnswer answer(ChooseFormat(160, 120, 24));
        m_app.OnVideoFormat();
    }
    ASSERT_EQ(m_boxes.texts.size(), 1);
    EXPECT_TRUE(m_boxes.texts[0].contains("160 x 120"));
    EXPECT_TRUE(m_boxes.texts[0].contains("Device or resource busy"));
    EXPECT_EQ(m_dlg.m_hWndCap->size(), QSize(320, 240));
    EXPECT_TRUE(WaitFor([&] { return Grab(); }, 3000));
    {
        ModalAnswer answer(ChooseFormat(176, 144, 8));
        m_app.OnVideoFormat();
    }
    EXPECT_EQ(m_dlg.m_hWndCap->size(), QSize(176, 144));

    // The next start reads the format back from the settings file.
    RestartedWindow restarted;
    ASSERT_TRUE(restarted.dlg.m_hWndCap);
    EXPECT_EQ(restarted.dlg.m_hWndCap->size(), QSize(176, 144));
    ASSERT_TRUE(WaitFor([&] { return restarted.Grab(); }, 3000));
    ASSERT_TRUE(SendMessageA(restarted.dlg.m_hWndCap, WM_CAP_EDIT_COPY, 0, 0));
    EXPECT_EQ(HeaderOf(ClipboardDib()).biBitCount, 8);

    // A hand-edited value is refused with a line, and the source's own size used.
    restarted.app.WriteProfileString(Keys::VideoFormatSection,
                                     SourceFormatEntry("USB Cam: 1/2").constData(),
                                     QStringLiteral("big"));
    restarted.dlg.ConnectDriver(0);
    EXPECT_EQ(restarted.dlg.m_hWndCap->size(), QSize(320, 240));
    EXPECT_EQ(Logged("The stored video format 'big' of 'USB Cam: 1/2'"), 1);
}

TEST_F(CameraRecovery, SourceLostWhileItsFormatIsChosenChangesNothing)
{
    ScopedSources env("Short=lavfi:color=c=red:size=64x48:rate=10:duration=0.3");
    Connect();
    ModalAnswer answer([&](QDialog& dialog) {
        WaitFor([&] { return m_states.size() == 2; }, 5000);
        return ChooseFormat(160, 120, 24)(dialog);
    });
    m_app.OnVideoFormat();
    EXPECT_EQ(m_states, (QStringList{"Short ok", "Short lost"}));
    ASSERT_EQ(m_boxes.texts.size(), 1);
    EXPECT_TRUE(m_boxes.texts[0].startsWith("Vizo lost capture device 'Short'"));
    EXPECT_TRUE(m_app.GetProfileString(Keys::VideoFormatSection, "Short", "").isEmpty());
}
