// A USB camera as the program meets it, through the fake camera library
// (tests/uvcfake), each test in a child process that preloads it.
#include "CaptureTestSupport.h"
#include "UsbCameraSupport.h"
#include "capture/SourceFormats.h"
#include "config/SettingsKeys.h"
#include "uvcfake/pattern.h"
#include "v4l2.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSlider>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

int Counter(const std::vector<std::uint8_t>& dib)
{
    const BITMAPINFOHEADER h = HeaderOf(dib);
    return uvcfake::ReadCounter(h.biWidth, std::abs(h.biHeight), [&](int x, int y) {
        const std::uint8_t* p = PixelAt(dib, x, y);
        return p ? (p[0] + p[1] + p[2]) / 3 : 0;
    });
}

// What the camera streams now, asked on a handle of its own.
struct Streaming {
    std::uint32_t encoding = 0;
    QSize size;
    int fps = 0;
};

Streaming StreamingNow(int node)
{
    Streaming now;
    const int fd = ::open(NodePath(node).toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (::ioctl(fd, VIDIOC_G_FMT, &format) == 0 && ::ioctl(fd, VIDIOC_G_PARM, &parm) == 0) {
        now.encoding = format.fmt.pix.pixelformat;
        now.size = QSize(int(format.fmt.pix.width), int(format.fmt.pix.height));
        const v4l2_fract& f = parm.parm.capture.timeperframe;
        now.fps = f.numerator ? int(f.denominator / f.numerator) : 0;
    }
    ::close(fd);
    return now;
}

QStringList Items(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; combo && i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Answers the Format dialog with a size and an encoding (0: the fastest).
ModalHandler ChooseMode(QSize size, std::uint32_t encoding)
{
    return [=](QDialog& dialog) {
        auto* sizes = dialog.findChild<QComboBox*>(QStringLiteral("size"));
        sizes->setCurrentIndex(sizes->findData(size));
        auto* encodings = dialog.findChild<QComboBox*>(QStringLiteral("encoding"));
        encodings->setCurrentIndex(encodings->findData(encoding));
        return int(QDialog::Accepted);
    };
}

template <typename Editor> Editor* ControlEditor(QDialog& dialog, unsigned id)
{
    return dialog.findChild<Editor*>(QStringLiteral("control%1").arg(id));
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

class UsbCamera : public CaptureWindowTest
{
protected:
    QString Stored(const char* section)
    {
        return m_app.GetProfileString(section, SourceFormatEntry(kCard).constData(), QString());
    }
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
    const std::vector<std::uint8_t> first = GrabCopy();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(HeaderOf(first).biWidth, 640);
    EXPECT_EQ(std::abs(HeaderOf(first).biHeight), 480);
    EXPECT_EQ(BarsSeen(first), uvcfake::kBarCount);
    EXPECT_TRUE(WaitFor([&] { return Counter(GrabCopy()) != Counter(first); }, 10000))
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
    ASSERT_GE(Counter(GrabCopy()), 0);
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
    const std::vector<std::uint8_t> frame = GrabCopy();
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(BarsSeen(frame), uvcfake::kBarCount);
}

TEST_F(UsbCamera, SecondWindowOnTheStreamingCameraIsToldItIsBusyAtOnce)
{
    WITH_FAKE_CAMERA();
    Connect();
    ASSERT_FALSE(GrabCopy().empty());
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
    EXPECT_FALSE(GrabCopy().empty()) << "the first stream goes on";
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

TEST_F(UsbCamera, FormatDialogShowsEncodingsAndRatesAndTheChoiceOpensAndIsRemembered)
{
    WITH_FAKE_CAMERA();
    Connect();
    ASSERT_FALSE(GrabCopy().empty());
    QStringList sizes, encodings;
    ModalAnswer look([&](QDialog& dialog) {
        auto* size = dialog.findChild<QComboBox*>(QStringLiteral("size"));
        sizes = Items(size);
        size->setCurrentIndex(size->findData(QSize(1920, 1080)));
        encodings = Items(dialog.findChild<QComboBox*>(QStringLiteral("encoding")));
        // A picture to look at, when asked for.
        if (const QString shots = qEnvironmentVariable("VIZO_SHOT_DIR"); !shots.isEmpty()) {
            dialog.show();
            dialog.grab().save(shots + QStringLiteral("/format-dialog.png"));
            for (const char* name : {"size", "encoding"}) {
                auto* combo = dialog.findChild<QComboBox*>(QLatin1String(name));
                combo->showPopup();
                QCoreApplication::processEvents();
                combo->view()->window()->grab().save(shots +
                                                     QStringLiteral("/format-%1.png").arg(name));
                combo->hidePopup();
            }
        }
        return int(QDialog::Accepted);
    });
    m_app.OnVideoFormat();
    EXPECT_EQ(sizes, (QStringList{"640 x 480: YUYV 30 fps, MJPEG 30 fps",
                                  "1920 x 1080: MJPEG 30 fps, YUYV 5 fps"}));
    EXPECT_EQ(encodings, (QStringList{"Fastest (MJPEG 30 fps)", "MJPEG 30 fps", "YUYV 5 fps"}));
    const Streaming fullHd = StreamingNow(0);
    EXPECT_EQ(fullHd.encoding, unsigned(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(fullHd.size, QSize(1920, 1080));
    EXPECT_EQ(fullHd.fps, 30);
    EXPECT_EQ(Stored(Keys::VideoFormatSection), QStringLiteral("1920x1080x24"));
    // New pictures come faster than YUYV could give them at this size. The
    // camera encodes its first MJPEG frames of a size before it streams.
    ASSERT_TRUE(WaitFor([&] { return !GrabCopy().empty(); }, 15000));
    QElapsedTimer timer;
    timer.start();
    int grabbed = 0;
    while (timer.elapsed() < 3000)
        grabbed += GrabCopy().empty() ? 0 : 1;
    const double rate = grabbed * 1000.0 / double(timer.elapsed());
    std::printf("new 1920x1080 frames grabbed: %.1f a second\n", rate);
    EXPECT_GT(rate, 10.0);

    // Where both are as fast, a chosen encoding is asked for and kept.
    ModalAnswer choose(ChooseMode({640, 480}, V4L2_PIX_FMT_MJPEG));
    m_app.OnVideoFormat();
    EXPECT_EQ(Stored(Keys::VideoFormatSection), QStringLiteral("640x480x24 mjpeg@30"));
    EXPECT_EQ(StreamingNow(0).encoding, unsigned(V4L2_PIX_FMT_MJPEG));
    SendMessageA(m_dlg.m_hWndCap, WM_CAP_DRIVER_DISCONNECT, 0, 0);

    RestartedWindow restarted;
    ASSERT_TRUE(restarted.dlg.m_hWndCap);
    ASSERT_TRUE(WaitFor([&] { return restarted.Grab(); }, 5000));
    const Streaming again = StreamingNow(0);
    EXPECT_EQ(again.encoding, unsigned(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(again.size, QSize(640, 480));
    EXPECT_EQ(again.fps, 30);
}

TEST_F(UsbCamera, ControlsSetInTheSourceDialogAreStoredAndReappliedAutoFirstAfterReplug)
{
    WITH_FAKE_CAMERA();
    Connect();
    ASSERT_FALSE(GrabCopy().empty());
    bool inactiveFirst = false, activeAfterSwitch = false;
    ModalAnswer set([&](QDialog& dialog) {
        auto* focus = ControlEditor<QSlider>(dialog, V4L2_CID_FOCUS_ABSOLUTE);
        auto* exposure = ControlEditor<QSlider>(dialog, V4L2_CID_EXPOSURE_ABSOLUTE);
        auto* exposureAuto = ControlEditor<QComboBox>(dialog, V4L2_CID_EXPOSURE_AUTO);
        inactiveFirst = !focus->isEnabled() && !exposure->isEnabled();
        ControlEditor<QCheckBox>(dialog, V4L2_CID_FOCUS_AUTO)->setChecked(false);
        emit exposureAuto->activated(exposureAuto->findData(V4L2_EXPOSURE_MANUAL));
        activeAfterSwitch = focus->isEnabled() && exposure->isEnabled();
        focus->setValue(120);
        exposure->setValue(500);
        return int(QDialog::Accepted);
    });
    m_app.OnVideoSource();
    EXPECT_TRUE(inactiveFirst);
    EXPECT_TRUE(activeAfterSwitch);
    const QString focusAuto = QString::number(V4L2_CID_FOCUS_AUTO);
    const QString focus = QString::number(V4L2_CID_FOCUS_ABSOLUTE);
    const QString exposureAuto = QString::number(V4L2_CID_EXPOSURE_AUTO);
    const QString exposure = QString::number(V4L2_CID_EXPOSURE_ABSOLUTE);
    EXPECT_EQ(
        Stored(Keys::VideoControlsSection),
        QStringList({focusAuto + "=0", exposureAuto + "=1", focus + "=120", exposure + "=500"})
            .join(','));

    // A camera plugged in again has forgotten them.
    const int before = ControlLog().size();
    ASSERT_TRUE(QFile::remove(NodePath(0)));
    ASSERT_TRUE(WaitFor([&] { return m_states.endsWith(kCard + " lost"); }, 15000));
    QFile replugged(NodePath(3));
    ASSERT_TRUE(replugged.open(QIODevice::WriteOnly));
    replugged.close();
    ASSERT_TRUE(WaitFor([&] { return m_states.endsWith(kCard + " ok"); }, 30000))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(ControlLog().mid(before), (QStringList{focusAuto + "=0 ok", exposureAuto + "=1 ok",
                                                     focus + "=120 ok", exposure + "=500 ok"}));
    QMap<unsigned, int> values;
    for (const V4l2Control& c : DeviceControls(NodePath(3)))
        values.insert(c.id, c.value);
    EXPECT_EQ(values.value(V4L2_CID_FOCUS_ABSOLUTE), 120);
    EXPECT_EQ(values.value(V4L2_CID_EXPOSURE_ABSOLUTE), 500);
    EXPECT_EQ(Logged("refused"), 0) << m_log.join('\n').toStdString();
}

TEST_F(UsbCamera, StoredControlTheCameraRefusesIsLoggedOnceAndSkipped)
{
    WITH_FAKE_CAMERA();
    // A menu entry the camera lacks; a manual exposure while auto exposure
    // runs, which means nothing then; a piece that is no pair.
    const QString powerLine = QString::number(V4L2_CID_POWER_LINE_FREQUENCY);
    const QString exposure = QString::number(V4L2_CID_EXPOSURE_ABSOLUTE);
    const QString brightness = QString::number(V4L2_CID_BRIGHTNESS);
    m_app.WriteProfileString(Keys::VideoControlsSection, SourceFormatEntry(kCard).constData(),
                             powerLine + "=7," + exposure + "=500,bright," + brightness + "=20");
    Connect();
    ASSERT_FALSE(GrabCopy().empty());
    m_dlg.ConnectDriver(0);
    ASSERT_FALSE(GrabCopy().empty());
    EXPECT_EQ(ControlLog(), (QStringList{powerLine + "=7 EINVAL", brightness + "=20 ok",
                                         powerLine + "=7 EINVAL", brightness + "=20 ok"}));
    EXPECT_EQ(Logged(QStringLiteral("Video source '%1' refused the value 7 of control "
                                    "'Power Line Frequency' (%2); it is skipped.")
                         .arg(kCard, powerLine)),
              1)
        << m_log.join('\n').toStdString();
    EXPECT_EQ(Logged("refused"), 1);
    EXPECT_EQ(Logged("hold 'bright', which is not ID=VALUE"), 2);
}
