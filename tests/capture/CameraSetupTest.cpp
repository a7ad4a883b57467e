// A camera's encodings, rates and controls: the stored texts, the choice of
// mode, and the Source dialog over a simulated device.
#include "capture/SourceFormats.h"
#include "devicesetup.h"
#include "formatdlg.h"
#include "log.h"
#include "sourcedlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMap>
#include <QSlider>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

namespace
{

using Options = QList<QPair<QByteArray, QByteArray>>;

// What a typical UVC camera lists, in its order.
const QList<V4l2Mode> kUvcModes{{{640, 480}, V4L2_PIX_FMT_YUYV, 30},
                                {{1920, 1080}, V4L2_PIX_FMT_YUYV, 5},
                                {{640, 480}, V4L2_PIX_FMT_MJPEG, 30},
                                {{1920, 1080}, V4L2_PIX_FMT_MJPEG, 30}};

FrameFormat Sized(int width, int height, std::uint32_t encoding = 0, int fps = 0)
{
    FrameFormat f{width, height, 24};
    f.encoding = encoding;
    f.fps = fps;
    return f;
}

} // namespace

TEST(CameraSetup, StoredFormatsKeepTheirMeaningAndCarryEncodingAndRate)
{
    FrameFormat f{};
    QString problem;
    ASSERT_TRUE(ParseSourceFormat(QStringLiteral("1920x1080x24 mjpeg@30"), &f, &problem));
    EXPECT_EQ(f, Sized(1920, 1080, V4L2_PIX_FMT_MJPEG, 30));
    EXPECT_TRUE(problem.isEmpty());
    EXPECT_EQ(SourceFormatText(f), QStringLiteral("1920x1080x24 mjpeg@30"));
    ASSERT_TRUE(ParseSourceFormat(QStringLiteral("640x480x16  YUYV"), &f));
    EXPECT_EQ(f.encoding, unsigned(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(f.fps, 0);
    EXPECT_EQ(SourceFormatText(f), QStringLiteral("640x480x16 yuyv"));
    // An old value reads as before and is written as before.
    ASSERT_TRUE(ParseSourceFormat(QStringLiteral("640x480x24"), &f));
    EXPECT_EQ(f, Sized(640, 480));
    EXPECT_EQ(SourceFormatText(f), QStringLiteral("640x480x24"));

    // A bad mode keeps the size, takes the fastest encoding and says why.
    for (const char* bad : {"nv12@30", "mjpeg@0", "mjpeg@", "mjpeg@30@2", "@30", "mjpeg@-5"}) {
        problem.clear();
        ASSERT_TRUE(ParseSourceFormat(QStringLiteral("800x600x8 ") + bad, &f, &problem)) << bad;
        EXPECT_EQ(f, (FrameFormat{800, 600, 8})) << bad;
        EXPECT_TRUE(problem.contains(QLatin1String(bad))) << problem.toStdString();
    }
    FrameFormat kept{1, 2, 8};
    EXPECT_FALSE(ParseSourceFormat(QStringLiteral("640x480x24 mjpeg@30 more"), &kept));
    EXPECT_FALSE(ParseSourceFormat(QStringLiteral("mjpeg@30"), &kept));
    EXPECT_EQ(kept, (FrameFormat{1, 2, 8}));
}

TEST(CameraSetup, SizeOpensInItsFastestEncodingUnlessOneWasChosen)
{
    EXPECT_EQ(
        DeviceInputOptions(kUvcModes, {}, Sized(1920, 1080)),
        (Options{{"video_size", "1920x1080"}, {"input_format", "mjpeg"}, {"framerate", "30"}}));
    // A tie keeps the camera's own first choice.
    EXPECT_EQ(
        DeviceInputOptions(kUvcModes, {}, Sized(640, 480)),
        (Options{{"video_size", "640x480"}, {"input_format", "yuyv422"}, {"framerate", "30"}}));
    EXPECT_EQ(
        DeviceInputOptions(kUvcModes, {}, Sized(1920, 1080, V4L2_PIX_FMT_YUYV)),
        (Options{{"video_size", "1920x1080"}, {"input_format", "yuyv422"}, {"framerate", "5"}}));
    EXPECT_EQ(DeviceInputOptions(kUvcModes, {}, Sized(640, 480, V4L2_PIX_FMT_MJPEG, 15)),
              (Options{{"video_size", "640x480"}, {"input_format", "mjpeg"}, {"framerate", "15"}}));
    // No size stored: the camera's present size, which it is not told again.
    EXPECT_EQ(DeviceInputOptions(kUvcModes, {1920, 1080}, Sized(0, 0)),
              (Options{{"input_format", "mjpeg"}, {"framerate", "30"}}));
    // A size or an encoding the camera does not list is left to the driver.
    EXPECT_EQ(DeviceInputOptions(kUvcModes, {}, Sized(800, 600)),
              (Options{{"video_size", "800x600"}}));
    EXPECT_EQ(DeviceInputOptions({{{640, 480}, V4L2_PIX_FMT_NV12, 60}}, {}, Sized(640, 480)),
              (Options{{"video_size", "640x480"}}));
}

TEST(CameraSetup, FormatDialogListsEachSizesEncodingsAndKeepsTheChoice)
{
    EXPECT_EQ(SizeLabel({1920, 1080}, kUvcModes),
              QStringLiteral("1920 x 1080: MJPEG 30 fps, YUYV 5 fps"));
    EXPECT_EQ(SizeLabel({800, 600}, kUvcModes), QStringLiteral("800 x 600"));
    FormatDialog dialog({{640, 480}, {1920, 1080}}, kUvcModes,
                        Sized(640, 480, V4L2_PIX_FMT_MJPEG, 30), nullptr);
    auto* size = dialog.findChild<QComboBox*>(QStringLiteral("size"));
    auto* encoding = dialog.findChild<QComboBox*>(QStringLiteral("encoding"));
    EXPECT_EQ(dialog.Chosen(), Sized(640, 480, V4L2_PIX_FMT_MJPEG, 30));
    size->setCurrentIndex(1);
    QStringList items;
    for (int i = 0; i < encoding->count(); ++i)
        items << encoding->itemText(i);
    EXPECT_EQ(items, (QStringList{"Fastest (MJPEG 30 fps)", "MJPEG 30 fps", "YUYV 5 fps"}));
    EXPECT_EQ(dialog.Chosen(), Sized(1920, 1080, V4L2_PIX_FMT_MJPEG, 30)) << "MJPEG stays chosen";
    encoding->setCurrentIndex(2);
    EXPECT_EQ(dialog.Chosen(), Sized(1920, 1080, V4L2_PIX_FMT_YUYV, 5));
    encoding->setCurrentIndex(0);
    EXPECT_EQ(dialog.Chosen(), Sized(1920, 1080));
}

TEST(CameraSetup, StoredControlsReadBackAutoOnesFirst)
{
    QStringList problems;
    const QList<ControlSetting> read = ParseControlSettings(
        QStringLiteral("10094858=120, 10094860=0,bad,=3,x=1,9963776=-5,10094858=130,+7=1"),
        &problems);
    EXPECT_EQ(read, (QList<ControlSetting>{{10094858, 130}, {10094860, 0}, {9963776, -5}}));
    EXPECT_EQ(problems, (QStringList{"bad", "=3", "x=1", "+7=1"}));
    EXPECT_EQ(ParseControlSettings(ControlSettingsText(read), nullptr), read);
    // Focus (absolute) has the lower id but is governed by focus auto.
    EXPECT_EQ(ApplyingOrder(read),
              (QList<ControlSetting>{{10094860, 0}, {10094858, 130}, {9963776, -5}}));
    EXPECT_EQ(MergedControls(read, {{9963776, 3}, {1, 2}}),
              (QList<ControlSetting>{{10094858, 130}, {10094860, 0}, {9963776, 3}, {1, 2}}));
}

namespace
{

// A camera whose focus auto governs focus (absolute): the manual value is
// refused while auto is on, and reported inactive.
struct FocusCamera {
    QMap<unsigned, int> values{{V4L2_CID_FOCUS_ABSOLUTE, 100}, {V4L2_CID_FOCUS_AUTO, 0}};
    QStringList sets;

    bool Set(unsigned id, int value)
    {
        const bool refused = id == V4L2_CID_FOCUS_ABSOLUTE && values[V4L2_CID_FOCUS_AUTO];
        sets << QStringLiteral("%1=%2%3").arg(id).arg(value).arg(refused ? " refused" : "");
        if (!refused)
            values[id] = value;
        return !refused;
    }
    QList<V4l2Control> Controls() const
    {
        V4l2Control focus;
        focus.id = V4L2_CID_FOCUS_ABSOLUTE;
        focus.name = QStringLiteral("Focus (absolute)");
        focus.maximum = 250;
        focus.value = values[V4L2_CID_FOCUS_ABSOLUTE];
        focus.inactive = values[V4L2_CID_FOCUS_AUTO] != 0;
        V4l2Control autoFocus;
        autoFocus.id = V4L2_CID_FOCUS_AUTO;
        autoFocus.name = QStringLiteral("Focus, Auto");
        autoFocus.kind = V4l2Control::Boolean;
        autoFocus.maximum = 1;
        autoFocus.value = values[V4L2_CID_FOCUS_AUTO];
        return {focus, autoFocus};
    }
};

} // namespace

TEST(CameraSetup, SourceDialogFollowsAutoControlsAndRestoresManualOnesAfterThem)
{
    FocusCamera camera;
    SourceDialog dialog(
        camera.Controls(), [&](unsigned id, int v) { return camera.Set(id, v); }, nullptr,
        [&] { return camera.Controls(); });
    auto* focus =
        dialog.findChild<QSlider*>(QStringLiteral("control%1").arg(V4L2_CID_FOCUS_ABSOLUTE));
    auto* autoFocus =
        dialog.findChild<QCheckBox*>(QStringLiteral("control%1").arg(V4L2_CID_FOCUS_AUTO));
    ASSERT_TRUE(focus && autoFocus);
    EXPECT_TRUE(focus->isEnabled());
    focus->setValue(200);
    autoFocus->setChecked(true);
    EXPECT_FALSE(focus->isEnabled()) << "asked again after the switch";
    EXPECT_EQ(dialog.Changed(),
              (QList<ControlSetting>{{V4L2_CID_FOCUS_ABSOLUTE, 200}, {V4L2_CID_FOCUS_AUTO, 1}}));
    camera.sets.clear();
    dialog.Restore();
    EXPECT_EQ(camera.values[V4L2_CID_FOCUS_ABSOLUTE], 100);
    EXPECT_EQ(camera.values[V4L2_CID_FOCUS_AUTO], 0);
    EXPECT_EQ(camera.sets, (QStringList{"10094860=0", "10094858=100"}));
}

TEST(CameraSetup, RestoreTriesARefusedControlOnceMoreThenLogsItOnce)
{
    QStringList log;
    const LogObserver previous =
        SetLogObserver([&](const char*, const QString& text) { log << text; });
    V4l2Control gain;
    gain.id = 1;
    gain.name = QStringLiteral("Gain");
    gain.maximum = 100;
    gain.value = 10;
    V4l2Control sharpness = gain;
    sharpness.id = 2;
    sharpness.name = QStringLiteral("Sharpness");
    // Gain is refused until sharpness has been set once; sharpness refuses
    // its old value always.
    bool sharpnessSet = false;
    QStringList sets;
    SourceDialog dialog(
        {gain, sharpness},
        [&](unsigned id, int v) {
            sets << QStringLiteral("%1=%2").arg(id).arg(v);
            if (id == 2)
                sharpnessSet = true;
            return id == 1 ? sharpnessSet : v != 10;
        },
        nullptr);
    dialog.findChild<QSlider*>(QStringLiteral("control2"))->setValue(50);
    dialog.findChild<QSlider*>(QStringLiteral("control1"))->setValue(60);
    sets.clear();
    log.clear();
    sharpnessSet = false;
    dialog.Restore();
    SetLogObserver(previous);
    EXPECT_EQ(sets, (QStringList{"1=10", "2=10", "1=10", "2=10"}));
    EXPECT_EQ(log, (QStringList{"The camera refused to put 'Sharpness' back to 10."}));
}
