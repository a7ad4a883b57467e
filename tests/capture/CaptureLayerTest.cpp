// The driver list, driver descriptions and the driver dialogs' own logic.
#include "CaptureTestSupport.h"
#include "formatdlg.h"
#include "sourcedlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QSlider>
#include <QWidget>
#include <gtest/gtest.h>

TEST(VideoSources, ParsesNameFormatAndInputOfEachEntry)
{
    QStringList problems;
    const QVector<CaptureDriver> d = ParseVideoSources(
        QStringLiteral(
            " Test pattern=lavfi:testsrc2=size=640x480:rate=15 ;;Door=:rtsp://192.0.2.7/live;"),
        &problems);
    ASSERT_EQ(d.size(), 2);
    EXPECT_EQ(d[0].name, QStringLiteral("Test pattern"));
    EXPECT_EQ(d[0].format, QStringLiteral("lavfi"));
    EXPECT_EQ(d[0].input, QStringLiteral("testsrc2=size=640x480:rate=15"));
    EXPECT_FALSE(d[0].version.isEmpty());
    EXPECT_EQ(d[1].name, QStringLiteral("Door"));
    EXPECT_TRUE(d[1].format.isEmpty()); // auto-detected
    EXPECT_EQ(d[1].input, QStringLiteral("rtsp://192.0.2.7/live"));
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
}

TEST(VideoSources, SkipsMalformedEntriesSayingWhy)
{
    const QString longName(80, QLatin1Char('n'));
    const struct {
        QString entry;
        const char* reason;
    } cases[] = {
        {QStringLiteral("no equals sign"), "not of the form NAME=FORMAT:INPUT"},
        {QStringLiteral("Cam=lavfi"), "not of the form NAME=FORMAT:INPUT"},
        {QStringLiteral("=lavfi:testsrc2"), "no name before '='"},
        {QStringLiteral("Cam=lavfi:"), "no input after ':'"},
        {QStringLiteral("Cam=nosuchformat:x"), "unknown input format 'nosuchformat'"},
        {longName + QStringLiteral("=lavfi:testsrc2"), "name longer than 79 bytes"},
    };
    for (const auto& c : cases) {
        QStringList problems;
        const QString value = c.entry + QStringLiteral(";Good=lavfi:testsrc2");
        const QVector<CaptureDriver> d = ParseVideoSources(value, &problems);
        ASSERT_EQ(d.size(), 1) << c.entry.toStdString();
        EXPECT_EQ(d[0].name, QStringLiteral("Good"));
        ASSERT_EQ(problems.size(), 1) << c.entry.toStdString();
        EXPECT_EQ(
            problems[0],
            QStringLiteral("Video source '%1' skipped: %2.").arg(c.entry, QLatin1String(c.reason)));
    }
    // 79 bytes still fit the 80-byte buffer with its terminator.
    EXPECT_EQ(ParseVideoSources(QString(79, QLatin1Char('n')) + QStringLiteral("=lavfi:x"), nullptr)
                  .size(),
              1);
}

TEST(VideoDevices, NodesThatAreNotCaptureDevicesAreLeftOut)
{
    QTemporaryDir dir;
    EXPECT_TRUE(ScanVideoDevices(dir.path()).isEmpty());
    EXPECT_TRUE(ScanVideoDevices(dir.path() + QStringLiteral("/missing")).isEmpty());
    for (const char* name : {"video0", "video1", "videoX"}) {
        QFile f(dir.path() + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a device");
    }
    EXPECT_TRUE(ScanVideoDevices(dir.path()).isEmpty());
}

TEST(DriverDescriptions, ListSourcesInOrderUpToTen)
{
    QByteArray sources;
    for (int i = 0; i < 12; ++i)
        sources += "Source " + QByteArray::number(i) + "=lavfi:testsrc2;";
    ScopedSources env(sources);
    char name[80], version[80];
    for (WORD i = 0; i < 10; ++i) {
        ASSERT_TRUE(capGetDriverDescriptionA(i, name, sizeof name, version, sizeof version));
        EXPECT_STREQ(name, ("Source " + QByteArray::number(i)).constData());
        EXPECT_GT(std::strlen(version), 0u);
    }
    EXPECT_FALSE(capGetDriverDescriptionA(10, name, sizeof name, version, sizeof version));
    EXPECT_FALSE(capGetDriverDescriptionA(11, name, sizeof name, version, sizeof version));
    // A name is never cut to fit a short buffer.
    char shortName[8];
    EXPECT_FALSE(capGetDriverDescriptionA(0, shortName, sizeof shortName, version, sizeof version));
}

TEST(DriverDescriptions, NoDevicesAndNoSourcesGiveNoDriver)
{
    ScopedSources env{QByteArray()};
    char name[80], version[80];
    EXPECT_FALSE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_TRUE(DescribeCaptureDrivers().isEmpty());
}

// Menu identifiers and the stored choice are indexes: a gap must not shift them.
TEST(DriverDescriptions, DescribedDriversKeepTheirIndexesAcrossGaps)
{
    CaptureDriver tooLong = Source(QString(80, QLatin1Char('x')), "lavfi", "testsrc2");
    ScopedDrivers drivers({Source("A", "lavfi", "testsrc2"), CaptureDriver{}, tooLong,
                           Source("D", "lavfi", "testsrc2")});
    const QVector<DriverDescription> described = DescribeCaptureDrivers();
    ASSERT_EQ(described.size(), 2);
    EXPECT_EQ(described[0].index, 0);
    EXPECT_EQ(described[1].index, 3);
    EXPECT_EQ(described[1].name, QStringLiteral("D"));
    EXPECT_EQ(CaptureDriverName(3), QStringLiteral("D"));
    EXPECT_TRUE(CaptureDriverName(1).isEmpty());
    EXPECT_TRUE(CaptureDriverName(2).isEmpty()); // never cut to fit
    EXPECT_TRUE(CaptureDriverName(-1).isEmpty());
}

TEST(CaptureWindow, HandlesThatAreNotLiveWindowsAnswerZero)
{
    QWidget parent;
    EXPECT_EQ(capCreateCaptureWindowA("x", WS_CHILD, 0, 0, 10, 10, nullptr, 1), nullptr);
    HWND cap = capCreateCaptureWindowA("VizoCapWnd", WS_CHILD, 2, 2, 384, 288, &parent, 666);
    ASSERT_TRUE(IsWindow(cap));
    EXPECT_FALSE(IsWindow(&parent));
    EXPECT_EQ(SendMessageA(&parent, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    EXPECT_FALSE(MoveWindow(&parent, 0, 0, 1, 1, TRUE));
    // Unconnected: no capabilities, status, grab or copy.
    CAPSTATUS status{};
    EXPECT_EQ(SendMessageA(cap, WM_CAP_GET_STATUS, sizeof status, LPARAM(&status)), 0);
    EXPECT_EQ(SendMessageA(cap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0), 0);
    EXPECT_EQ(SendMessageA(cap, WM_CAP_EDIT_COPY, 0, 0), 0);
    delete cap;
    EXPECT_FALSE(IsWindow(cap));
    EXPECT_EQ(SendMessageA(cap, WM_CAP_GET_STATUS, sizeof status, LPARAM(&status)), 0);
}

TEST(FormatDialog, OffersDeviceSizesElseCommonOnesWithTheSourceSize)
{
    const QList<QSize> device{{640, 480}, {320, 240}};
    EXPECT_EQ(OfferedSizes(device, {640, 480}, {640, 480}), (QList<QSize>{{320, 240}, {640, 480}}));
    const QList<QSize> common = OfferedSizes({}, {500, 300}, {160, 120});
    EXPECT_TRUE(common.contains(QSize(500, 300)));
    EXPECT_TRUE(common.contains(QSize(320, 240)));
    EXPECT_EQ(common.front(), QSize(160, 120));
    for (int i = 1; i < common.size(); ++i)
        EXPECT_LE(common[i - 1].width() * common[i - 1].height(),
                  common[i].width() * common[i].height());
    FormatDialog dialog(common, {500, 300, 16}, nullptr);
    EXPECT_EQ(dialog.Chosen(), (FrameFormat{500, 300, 16}));
}

TEST(SourceDialog, AppliesControlsLiveAndRestoresThem)
{
    V4l2Control brightness;
    brightness.id = 1;
    brightness.name = QStringLiteral("Brightness");
    brightness.minimum = 0;
    brightness.maximum = 255;
    brightness.value = 128;
    V4l2Control autoGain;
    autoGain.id = 2;
    autoGain.name = QStringLiteral("Auto Gain");
    autoGain.kind = V4l2Control::Boolean;
    autoGain.maximum = 1;
    autoGain.value = 1;
    QMap<unsigned, int> device{{1, 128}, {2, 1}};
    SourceDialog dialog(
        {brightness, autoGain},
        [&](unsigned id, int value) {
            device[id] = value;
            return true;
        },
        nullptr);
    dialog.findChild<QSlider*>(QStringLiteral("control1"))->setValue(200);
    dialog.findChild<QCheckBox*>(QStringLiteral("control2"))->setChecked(false);
    EXPECT_EQ(device, (QMap<unsigned, int>{{1, 200}, {2, 0}}));
    dialog.Restore();
    EXPECT_EQ(device, (QMap<unsigned, int>{{1, 128}, {2, 1}}));
}
