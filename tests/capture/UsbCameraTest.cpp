// A USB camera as the program meets it, through the fake camera library
// (tests/uvcfake). The library must be in the process before anything opens
// a node, so each test runs again in a child process that preloads it, with
// a device folder holding video0.
#include "CaptureTestSupport.h"
#include "app/CCameraApp.h"
#include "log.h"
#include "session/CCameraDlg.h"
#include "uvcfake/pattern.h"
#include "v4l2.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

constexpr char kChildFlag[] = "VIZO_TEST_WITH_FAKE_CAMERA";
const QString kCard = QStringLiteral("Fake UVC Camera");

struct ChildRun {
    enum Status { Here, Passed, Failed, Skipped } status = Here;
    std::string output;
};

ChildRun RunWithFakeCamera()
{
    if (qEnvironmentVariableIsSet(kChildFlag))
        return {};
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QTemporaryDir devices;
    QFile node(devices.filePath(QStringLiteral("video0")));
    if (!node.open(QIODevice::WriteOnly))
        return {ChildRun::Failed, "no device folder"};
    node.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VIZO_BUILD_DIR "/libuvcfake.so"));
    env.insert(QString::fromLatin1(kChildFlag), QStringLiteral("1"));
    env.insert(QStringLiteral("VIZO_VIDEO_DEVICE_DIR"), devices.path());
    env.insert(QStringLiteral("UVCFAKE_CARD"), kCard);
    env.insert(QStringLiteral("UVCFAKE_CONTROL_LOG"), devices.filePath(QStringLiteral("controls")));
    env.remove(QStringLiteral("VIZO_VIDEO_SOURCES"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    const bool finished = child.waitForFinished(240000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    ChildRun run;
    run.output = child.readAll().toStdString();
    if (run.output.find("[  SKIPPED ] 1 test") != std::string::npos)
        run.status = ChildRun::Skipped;
    else if (finished && child.exitCode() == 0 &&
             run.output.find("[  PASSED  ] 1 test.") != std::string::npos)
        run.status = ChildRun::Passed;
    else
        run.status = ChildRun::Failed;
    return run;
}

// In the parent: runs the test in the child and reports its outcome. In the
// child: goes on with the test body.
#define WITH_FAKE_CAMERA()                                                                         \
    if (const ChildRun run = RunWithFakeCamera(); run.status != ChildRun::Here) {                  \
        if (run.status == ChildRun::Skipped)                                                       \
            GTEST_SKIP() << run.output;                                                            \
        EXPECT_EQ(run.status, ChildRun::Passed) << run.output;                                     \
        return;                                                                                    \
    }

QString DeviceDir()
{
    return qEnvironmentVariable("VIZO_VIDEO_DEVICE_DIR");
}

QString NodePath(int n)
{
    return DeviceDir() + QStringLiteral("/video%1").arg(n);
}

QStringList ControlLog()
{
    QFile file(DeviceDir() + QStringLiteral("/controls"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int Counter(const std::vector<std::uint8_t>& dib)
{
    const BITMAPINFOHEADER h = HeaderOf(dib);
    return uvcfake::ReadCounter(h.biWidth, std::abs(h.biHeight), [&](int x, int y) {
        const std::uint8_t* p = PixelAt(dib, x, y);
        return p ? (p[0] + p[1] + p[2]) / 3 : 0;
    });
}

// How many of the pattern's bars a row below the counter shows, wherever they
// have moved to.
int BarsSeen(const std::vector<std::uint8_t>& dib)
{
    const BITMAPINFOHEADER h = HeaderOf(dib);
    int seen = 0;
    for (const uvcfake::Rgb& bar : uvcfake::kBars) {
        for (int x = 0; x < h.biWidth; x += 4) {
            const std::uint8_t* p = PixelAt(dib, x, std::abs(h.biHeight) / 2);
            if (p && std::abs(p[2] - bar.r) < 24 && std::abs(p[1] - bar.g) < 24 &&
                std::abs(p[0] - bar.b) < 24) {
                ++seen;
                break;
            }
        }
    }
    return seen;
}

// The main window over the fake camera, with the camera states it reports.
class UsbCamera : public ::testing::Test
{
protected:
    UsbCamera()
    {
        m_app.SetRegistryKey(QStringLiteral("Brindlecote"));
        m_app.m_pMainWnd = &m_dlg;
        m_previous = SetLogObserver([this](const char*, const QString& text) { m_log << text; });
        QObject::connect(&m_dlg, &CCameraDlg::CameraStateChanged,
                         [this](const QString& source, bool ok) {
                             m_states << source + (ok ? QStringLiteral(" ok") : " lost");
                         });
    }
    ~UsbCamera() override
    {
        SetLogObserver(m_previous);
        m_app.m_pMainWnd = nullptr;
    }
    void Connect()
    {
        RefreshCaptureDrivers();
        ASSERT_TRUE(m_dlg.CreateCaptureWindow());
        m_dlg.BuildDriverMenu();
        m_dlg.ConnectDriver(0);
    }
    std::vector<std::uint8_t> Grab()
    {
        if (!SendMessageA(m_dlg.m_hWndCap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0) ||
            !SendMessageA(m_dlg.m_hWndCap, WM_CAP_EDIT_COPY, 0, 0))
            return {};
        return ClipboardDib();
    }

    ScopedConfigHome m_home;
    MessageBoxRecorder m_boxes;
    CCameraApp m_app;
    CCameraDlg m_dlg;
    QStringList m_states;
    QStringList m_log;
    LogObserver m_previous;
};

} // namespace

TEST_F(UsbCamera, ListedByCardNameBeforeTheNamedSourcesWithItsSizes)
{
    WITH_FAKE_CAMERA();
    ScopedEnv sources("VIZO_VIDEO_SOURCES", "Pattern=lavfi:testsrc2");
    RefreshCaptureDrivers();
    char name[80] = {};
    char version[80] = {};
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_EQ(QString::fromUtf8(name), kCard);
    EXPECT_STREQ(version, "6.1.0");
    ASSERT_TRUE(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, "Pattern");
    EXPECT_EQ(DeviceFrameSizes(NodePath(0)), (QList<QSize>{{640, 480}, {1920, 1080}}));
}

TEST_F(UsbCamera, GrabsTheMovingPatternAt640x480)
{
    WITH_FAKE_CAMERA();
    Connect();
    const std::vector<std::uint8_t> first = Grab();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(HeaderOf(first).biWidth, 640);
    EXPECT_EQ(std::abs(HeaderOf(first).biHeight), 480);
    EXPECT_EQ(BarsSeen(first), uvcfake::kBarCount);
    EXPECT_TRUE(WaitFor([&] { return Counter(Grab()) != Counter(first); }, 10000))
        << "frames keep coming";

    // What the program asks of the camera today: the first format listed.
    const int fd = ::open(NodePath(0).toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(::ioctl(fd, VIDIOC_G_FMT, &format), 0);
    ::close(fd);
    EXPECT_EQ(format.fmt.pix.pixelformat, unsigned(V4L2_PIX_FMT_YUYV));
}

TEST_F(UsbCamera, UnpluggedIsLostAndFoundByNameUnderAnotherNode)
{
    WITH_FAKE_CAMERA();
    Connect();
    ASSERT_GE(Counter(Grab()), 0);
    ASSERT_TRUE(QFile::remove(NodePath(0)));
    const QString lost = QStringLiteral("Video source '%1' lost (").arg(kCard);
    ASSERT_TRUE(WaitFor([&] { return !m_log.filter(lost).isEmpty(); }, 15000))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(m_states.value(m_states.size() - 1), kCard + " lost");

    QFile replugged(NodePath(3));
    ASSERT_TRUE(replugged.open(QIODevice::WriteOnly));
    replugged.close();
    ASSERT_TRUE(WaitFor([&] { return m_states.endsWith(kCard + " ok"); }, 30000))
        << m_log.join('\n').toStdString();
    const std::vector<std::uint8_t> frame = Grab();
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(BarsSeen(frame), uvcfake::kBarCount);
}

TEST_F(UsbCamera, SecondWindowOnTheStreamingCameraIsToldItIsBusyAtOnce)
{
    WITH_FAKE_CAMERA();
    Connect();
    ASSERT_FALSE(Grab().empty());
    CCameraDlg second;
    ASSERT_TRUE(second.CreateCaptureWindow());
    second.BuildDriverMenu();
    QElapsedTimer timer;
    timer.start();
    second.ConnectDriver(0);
    EXPECT_LT(timer.elapsed(), 5000);
    const QString busy =
        QStringLiteral("Could not open video source '%1': Device or resource busy.").arg(kCard);
    EXPECT_TRUE(m_log.contains(busy)) << m_log.join('\n').toStdString();
    EXPECT_TRUE(m_boxes.texts.contains(
        QStringLiteral("Vizo could not connect to capture device\n'%1'!").arg(kCard)))
        << m_boxes.texts.join('|').toStdString();
    EXPECT_FALSE(Grab().empty()) << "the first stream goes on";
}

TEST_F(UsbCamera, ControlsListAsTheCameraOffersThemAndSetsAreRecordedInOrder)
{
    WITH_FAKE_CAMERA();
    const QList<V4l2Control> controls = DeviceControls(NodePath(0));
    QStringList names;
    for (const V4l2Control& c : controls)
        names << c.name;
    EXPECT_TRUE(names.contains(QStringLiteral("Power Line Frequency")))
        << names.join(", ").toStdString();
    for (const V4l2Control& c : controls) {
        if (c.id == V4L2_CID_EXPOSURE_AUTO) { // a UVC camera skips entries 0 and 2
            EXPECT_EQ(c.menu, (QList<QPair<int, QString>>{{1, "Manual Mode"},
                                                          {3, "Aperture Priority Mode"}}));
        }
    }

    EXPECT_FALSE(SetDeviceControl(NodePath(0), V4L2_CID_EXPOSURE_ABSOLUTE, 500));
    EXPECT_TRUE(SetDeviceControl(NodePath(0), V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    EXPECT_TRUE(SetDeviceControl(NodePath(0), V4L2_CID_EXPOSURE_ABSOLUTE, 500));
    const QString autoId = QString::number(V4L2_CID_EXPOSURE_AUTO);
    const QString absId = QString::number(V4L2_CID_EXPOSURE_ABSOLUTE);
    EXPECT_EQ(ControlLog(),
              (QStringList{absId + "=500 EACCES", autoId + "=1 ok", absId + "=500 ok"}));
}
