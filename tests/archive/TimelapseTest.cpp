// The day's video: built from the archive, read back with the libraries,
// published to a real FTP server, and the -timelapse command's exit codes.
#include "ArchiveTestSupport.h"
#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "app/CCameraApp.h"
#include "archive/Archive.h"
#include "archive/ArchiveFiles.h"
#include "archive/TimelapseEncoder.h"
#include "archive/TimelapseJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

namespace
{
// 30 pictures every 20 minutes from 08:00 on 2026-12-06, a corrupt one, an
// odd-sized one that is the day's first by time, and neighbours on the days
// either side.
class TimelapseDay : public ArchiveTest
{
protected:
    std::time_t day = LocalTime(2026, 12, 6, 0, 0, 0);
    QString video = dir.filePath("archive/2026-12-06/timelapse-2026-12-06.mp4");

    void SetUp() override
    {
        for (int i = 0; i < 30; ++i)
            Put(TestPicture(i), day + 8 * 3600 + i * 1200);
        const QString corrupt = layout.root + "/2026-12-06/130030.jpg";
        ASSERT_TRUE(WriteFile(corrupt, ReadAll(TestPicture(0)).left(600)));
        ASSERT_TRUE(SetModified(corrupt, day + 13 * 3600 + 30));
        // Named late, taken first: time order decides, not the name.
        ASSERT_TRUE(PutPicture(OddSizedPicture(), layout.root + "/2026-12-06/235000.jpg", day + 1));
        Put(TestPicture(31), day - 60);
        Put(TestPicture(32), day + 86400);
    }

    void Put(const QString& source, std::time_t t)
    {
        const QString path = layout.root + "/" + PictureRelPath(layout, t);
        ASSERT_TRUE(PutPicture(source, path, t)) << path.toStdString();
    }
};

class TimelapsePublish : public TimelapseDay
{
protected:
    void SetUp() override
    {
        TimelapseDay::SetUp();
        ASSERT_NO_FATAL_FAILURE(PublishThrough(app, server));
        ArchiveSettings& s = app.m_archive.m_settings;
        s.bUseArchive = 1;
        s.strFolder = dir.filePath("archive/%Y-%m-%d");
        s.strName = "%H%M%S.jpg";
        s.bTimelapse = 1;
        s.strTimelapseRemote = "timelapse/%Y-%m-%d.mp4";
    }
    void TearDown() override { app.m_upload.FreeInternetLibrary(); }

    ScopedConfigHome home; // a failed upload is queued in the state folder
    ScopedEnv timeout{"VIZO_INET_TIMEOUT", "2"};
    NoProxyEnvironment noProxy;
    CCameraApp app;
    FtpTestServer server;
    StatusRecorder status;
};
} // namespace

TEST_F(TimelapseDay, BuildsTheDayInTimeOrderSkippingWhatCannotBeRead)
{
    int lastDone = 0, lastTotal = 0;
    const DayBuild b = BuildDayTimelapse(
        layout, day, 25, [&](int done, int total) { lastDone = done, lastTotal = total; }, nullptr);
    ASSERT_TRUE(b.ok) << b.error.toStdString();
    EXPECT_EQ(b.video, video);
    EXPECT_EQ(lastDone, 32);
    EXPECT_EQ(lastTotal, 32);
    ASSERT_EQ(b.encoded.skipped.size(), 1);
    EXPECT_TRUE(b.encoded.skipped[0].contains("130030.jpg"));

    VideoInfo info;
    ASSERT_TRUE(ReadVideo(video, &info));
    EXPECT_EQ(info.codec, "h264");
    EXPECT_EQ(info.pixelFormat, "yuv420p");
    EXPECT_EQ(info.frames, 31);
    EXPECT_DOUBLE_EQ(info.fps, 25.0);
    // The first picture by time fixes the size; the others are scaled to it.
    EXPECT_EQ(info.width, 162);
    EXPECT_EQ(info.height, 122);
    EXPECT_TRUE(info.moovFirst);
    EXPECT_FALSE(QFile::exists(video + ".t00"));
    // Recorded as the archive's own: the size limit applies to it (the
    // pictures here were put in by hand, unrecorded).
    const RetentionResult r = ApplyRetention(layout, day + 86400, 0, 1);
    EXPECT_EQ(r.removed, 1);
    EXPECT_FALSE(QFile::exists(video));
}

TEST_F(TimelapseDay, ALinkPlantedAtTheTemporaryNameLeadsNowhere)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath("precious");
    ASSERT_TRUE(WriteFile(victim, "precious"));
    ASSERT_TRUE(QFile::link(victim, video + ".t00"));
    const DayBuild b = BuildDayTimelapse(layout, day, 25, nullptr, nullptr);
    ASSERT_TRUE(b.ok) << b.error.toStdString();
    EXPECT_EQ(ReadAll(victim), "precious");
    EXPECT_FALSE(QFileInfo::exists(video + ".t00"));
}

TEST_F(TimelapseDay, NoPicturesOrNoReadablePictureBuildsNothing)
{
    DayBuild b = BuildDayTimelapse(layout, day + 3 * 86400, 25, nullptr, nullptr);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.error, "no pictures in the archive");

    const std::time_t later = day + 5 * 86400;
    const QString broken = layout.root + "/" + PictureRelPath(layout, later + 3600);
    ASSERT_TRUE(WriteFile(broken, "not a picture"));
    ASSERT_TRUE(SetModified(broken, later + 3600));
    b = BuildDayTimelapse(layout, later, 25, nullptr, nullptr);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.error, "no readable pictures");
    EXPECT_EQ(FilesBelow(QFileInfo(broken).absolutePath()), QStringList({"010000.jpg"}));
}

TEST_F(TimelapsePublish, CommandPublishesUnderATemporaryNameThenRenames)
{
    EXPECT_EQ(app.m_archive.RunCommand("2026-12-06"), 0);
    ASSERT_TRUE(QFile::exists(video));
    EXPECT_EQ(server.ReadFile("timelapse/2026-12-06.mp4"), ReadAll(video));
    EXPECT_EQ(server.ListFiles(), QStringList({"timelapse/2026-12-06.mp4"}));
    const QStringList commands = server.Commands();
    const int stor =
        commands.indexOf(QRegularExpression("STOR timelapse/2026-12-06\\.mp4\\.t\\d\\d"));
    ASSERT_GE(stor, 0) << commands.join(" | ").toStdString();
    EXPECT_GT(commands.indexOf("RNTO timelapse/2026-12-06.mp4"), stor);
    EXPECT_TRUE(
        status.lines.contains("Timelapse of 2026-12-06 published as timelapse/2026-12-06.mp4"));
}

TEST_F(TimelapsePublish, AFailedUploadKeepsTheVideoAndSaysSo)
{
    server.Refuse("STOR");
    EXPECT_EQ(app.m_archive.RunCommand("2026-12-06"), 1);
    EXPECT_TRUE(QFile::exists(video));
    EXPECT_TRUE(server.ListFiles().isEmpty());
    EXPECT_TRUE(status.lines.contains("Timelapse of 2026-12-06 not published; kept at " + video));
    EXPECT_TRUE(status.lines.filter("FTP transfer failed").size() == 1)
        << status.lines.join("\n").toStdString();
}

TEST_F(TimelapsePublish, DailyBuildRunsOnItsThreadAndWaitsForTheSessionToPublish)
{
    app.m_archive.m_settings.nTimelapseAt = 300;
    const std::time_t due = LocalTime(2026, 12, 7, 0, 5, 0);
    Archive& archive = app.m_archive;
    archive.Tick(due - 1);
    EXPECT_FALSE(archive.Building());
    archive.Tick(due);
    EXPECT_TRUE(archive.Building());

    // A session holds the engine: the video is built but not sent.
    app.m_bSessionActive = 1;
    EXPECT_TRUE(WaitFor(
        [&] {
            archive.Tick(due + 1);
            return !archive.Building();
        },
        60000));
    EXPECT_TRUE(QFile::exists(video));
    EXPECT_TRUE(server.ListFiles().isEmpty());

    app.m_bSessionActive = 0;
    archive.Tick(due + 2);
    EXPECT_EQ(app.m_bSessionActive, 0);
    EXPECT_EQ(server.ReadFile("timelapse/2026-12-06.mp4"), ReadAll(video));
    EXPECT_TRUE(status.lines.contains("Timelapse of 2026-12-06 built: 31 frames in " + video));

    // Once a day: later ticks, and a restart that finds the video, leave it.
    archive.Tick(due + 3600);
    EXPECT_FALSE(archive.Building());
    Archive restarted(app.m_archivePorts);
    restarted.m_settings = archive.m_settings;
    restarted.Tick(due + 3600);
    EXPECT_FALSE(restarted.Building());
}

TEST_F(TimelapseDay, ASecondBuildOfTheDayIsRefusedWhileTheFirstRuns)
{
    TimelapseJob first(layout, day, 25);
    first.start();
    ASSERT_TRUE(WaitFor([&] { return first.m_done >= 1 || first.isFinished(); }, 60000));
    ASSERT_FALSE(first.isFinished()) << "the first build ended before the second started";
    const DayBuild second = BuildDayTimelapse(layout, day, 25, nullptr, nullptr);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.error, QString("another build of this day is running (process %1)")
                                .arg(QCoreApplication::applicationPid()));
    ASSERT_TRUE(first.wait(60000));
    ASSERT_TRUE(first.m_result.ok) << first.m_result.error.toStdString();
    VideoInfo info;
    ASSERT_TRUE(ReadVideo(video, &info));
    EXPECT_EQ(info.frames, 31);
    EXPECT_TRUE(info.moovFirst);
    // Once it let go, the day can be built again, and nothing of the lock is left.
    EXPECT_TRUE(BuildDayTimelapse(layout, day, 25, nullptr, nullptr).ok);
    EXPECT_EQ(QDir(QFileInfo(video).path()).entryList({".timelapse*"}, QDir::Hidden | QDir::Files),
              QStringList());
}

TEST_F(TimelapseDay, OnlyAVideoThatReadsBackIsPublished)
{
    RecordingPorts ports;
    ports.uploadsOn = true;
    ports.busy = true;
    Archive archive(ports);
    archive.m_settings.bUseArchive = 1;
    archive.m_settings.strFolder = dir.filePath("archive/%Y-%m-%d");
    archive.m_settings.bTimelapse = 1;
    const std::time_t due = LocalTime(2026, 12, 7, 0, 5, 0);
    archive.Tick(due);
    ASSERT_TRUE(WaitFor(
        [&] {
            archive.Tick(due + 1);
            return !archive.Building();
        },
        60000));
    QString reason;
    EXPECT_TRUE(CheckVideo(video, 31, nullptr, &reason)) << reason.toStdString();
    EXPECT_FALSE(CheckVideo(video, 30, nullptr, &reason));
    // Cut short while it waited for the engine: the tail of the frames is gone.
    const QByteArray whole = ReadAll(video);
    ASSERT_TRUE(WriteFile(video, whole.left(whole.size() - 5000)));
    ports.busy = false;
    archive.Tick(due + 2);
    EXPECT_TRUE(ports.published.isEmpty());
    ASSERT_FALSE(ports.lines.isEmpty());
    EXPECT_TRUE(ports.lines.last().startsWith("Timelapse of 2026-12-06 not published: " + video +
                                              " does not read back ("))
        << ports.lines.last().toStdString();
}

TEST_F(TimelapseDay, CommandLineExitCodes)
{
    ScopedConfigHome home;
    QDir().mkpath(home.path() + "/Brindlecote");
    QFile conf(home.path() + "/Brindlecote/vizo.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Archive]\nUse%20Archive=1\nFolder=%1\n[FTP]\nUse%20FTP=0\n"
                              "[Dialup]\nUse%20Dialup=0\n")
                   .arg(dir.filePath("archive/%Y-%m-%d"))
                   .toUtf8());
    conf.close();
    auto run = [&](const QStringList& args, QByteArray* err) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TZ", "UTC");
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        p.setProcessEnvironment(env);
        p.start(VIZO_BUILD_DIR "/vizo", args);
        EXPECT_TRUE(p.waitForFinished(120000));
        *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray err;
    EXPECT_EQ(run({"-timelapse", "2026-02-30"}, &err), 1);
    EXPECT_TRUE(err.contains("status: Invalid day '2026-02-30' (expected YYYY-MM-DD)"))
        << err.data();
    EXPECT_EQ(run({"-timelapse"}, &err), 1);
    EXPECT_EQ(run({"-timelapse", "2026-12-01"}, &err), 1);
    EXPECT_TRUE(err.contains("status: No timelapse of 2026-12-01 (no pictures in the archive)"));
    EXPECT_EQ(run({"-timelapse", "2026-12-06"}, &err), 0) << err.data();
    EXPECT_TRUE(err.contains("status: Timelapse of 2026-12-06 built: 31 frames")) << err.data();
    EXPECT_TRUE(QFile::exists(video));
}
