// vizo -timelapse as a separate process: stopped by a signal while it builds
// and while it publishes, and started twice for one day.
#include "ArchiveTestSupport.h"
#include "service/ServiceRun.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>

namespace
{
// A day of 600 pictures, enough for a build of a few seconds.
class TimelapseCommand : public ::testing::Test
{
protected:
    ServiceRun run;
    QString archive = run.Dir() + "/archive";
    QString dayFolder = archive + "/2026-12-06";
    std::time_t day = LocalTime(2026, 12, 6, 0, 0, 0);

    void SetUp() override
    {
        ScopedTimeZone tz("UTC");
        run.SetEnv("TZ", "UTC");
        for (int i = 0; i < 600; ++i) {
            const QString path = dayFolder + QString::asprintf("/%06d.jpg", 80000 + i);
            ASSERT_TRUE(PutPicture(TestPicture(i % 40), path, day + 8 * 3600 + i * 60));
        }
        Profile p = run.Store();
        p.WriteInt(Keys::UseArchive.section, Keys::UseArchive.entry, 1);
        p.WriteString(Keys::ArchiveFolder.section, Keys::ArchiveFolder.entry,
                      archive + "/%Y-%m-%d");
        p.WriteInt(Keys::UseDialup.section, Keys::UseDialup.entry, 0);
    }

    // Sends sig once the log shows text; the exit status, and how long the
    // program took to end after the signal.
    int StopWhen(const QString& text, int sig, qint64* ms)
    {
        EXPECT_TRUE(run.WaitForLog(text, 1, 120000)) << run.Log().toStdString();
        QElapsedTimer timer;
        timer.start();
        run.Signal(sig);
        const int status = run.Exit(30000);
        *ms = timer.elapsed();
        return status;
    }

    QStringList Leftovers() const
    {
        return QDir(dayFolder).entryList({"*.t??", "*.mp4", ".timelapse*"},
                                         QDir::Files | QDir::Hidden);
    }
};
} // namespace

TEST_F(TimelapseCommand, InterruptedBuildEndsAtOnceAndLeavesNothing)
{
    run.Store().WriteInt(Keys::UseFtp.section, Keys::UseFtp.entry, 0);
    run.Start({"-timelapse", "2026-12-06"});
    qint64 ms = 0;
    EXPECT_EQ(StopWhen("status: Building timelapse of 2026-12-06: ", SIGINT, &ms), 128 + SIGINT);
    std::cerr << "ended " << ms << " ms after SIGINT\n";
    EXPECT_LT(ms, 3000);
    EXPECT_TRUE(run.Log().contains("status: Timelapse of 2026-12-06 interrupted; nothing kept"))
        << run.Log().toStdString();
    EXPECT_FALSE(run.Log().contains("built:"));
    EXPECT_EQ(Leftovers(), QStringList());
}

TEST_F(TimelapseCommand, InterruptedUploadLeavesNothingOnTheServer)
{
    FtpTestServer server;
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    ASSERT_TRUE(server.MakeDir("timelapse"));
    server.LimitRate(20000);
    run.Configure(server, 60);
    run.Start({"-timelapse", "2026-12-06"});
    ASSERT_TRUE(run.WaitForLog("status: Timelapse of 2026-12-06 built: 600 frames", 1, 120000))
        << run.Log().toStdString();
    ASSERT_TRUE(server.WaitForCommand("STOR", 20000));
    qint64 ms = 0;
    EXPECT_EQ(StopWhen("", SIGTERM, &ms), 128 + SIGTERM);
    std::cerr << "ended " << ms << " ms after SIGTERM\n";
    EXPECT_LT(ms, 3000);
    EXPECT_TRUE(run.Log().contains("status: Timelapse of 2026-12-06 interrupted while publishing"))
        << run.Log().toStdString();
    EXPECT_TRUE(WaitFor([&] { return server.ListFiles().isEmpty(); }, 5000))
        << server.ListFiles().join(" ").toStdString();
    // The built video is complete and stays in the archive; no temporaries.
    EXPECT_EQ(Leftovers(), QStringList({"timelapse-2026-12-06.mp4"}));
    // Stopped on purpose: not queued to go later behind the user's back.
    EXPECT_FALSE(QFile::exists(run.Dir() + "/state/vizo/upload-queue.json"));
}

TEST_F(TimelapseCommand, TwoCommandsForOneDayBuildItOnceAndWhole)
{
    run.Store().WriteInt(Keys::UseFtp.section, Keys::UseFtp.entry, 0);
    ServiceRun second;
    second.SetEnv("TZ", "UTC");
    second.SetEnv("XDG_CONFIG_HOME", run.Dir() + "/config");
    run.Start({"-timelapse", "2026-12-06"});
    ASSERT_TRUE(run.WaitForLog("status: Building timelapse of 2026-12-06: ", 1, 120000));
    second.Start({"-timelapse", "2026-12-06"});
    EXPECT_EQ(second.Exit(60000), 1);
    EXPECT_TRUE(second.Log().contains(
        QRegularExpression("status: No timelapse of 2026-12-06 \\(another build of this day is "
                           "running \\(process [1-9]\\d*\\)\\)")))
        << second.Log().toStdString();
    EXPECT_EQ(run.Exit(120000), 0) << run.Log().toStdString();
    VideoInfo info;
    ASSERT_TRUE(ReadVideo(dayFolder + "/timelapse-2026-12-06.mp4", &info));
    EXPECT_EQ(info.frames, 600);
    EXPECT_EQ(Leftovers(), QStringList({"timelapse-2026-12-06.mp4"}));
}

// What the command could not send waits in the state folder for the service.
TEST(TimelapseQueue, AVideoTheCommandCouldNotSendIsSentByTheService)
{
    FtpTestServer server;
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    ASSERT_TRUE(server.MakeDir("timelapse"));
    ScopedTimeZone tz("UTC");
    ServiceRun run;
    run.SetEnv("TZ", "UTC");
    const std::time_t day = LocalTime(2026, 12, 6, 0, 0, 0);
    const QString folder = run.Dir() + "/archive/2026-12-06";
    for (int i = 0; i < 4; ++i) {
        const QString path = folder + QString::asprintf("/%06d.jpg", 80000 + i);
        ASSERT_TRUE(PutPicture(TestPicture(i), path, day + 8 * 3600 + i));
    }
    run.Configure(server, 600);
    Profile p = run.Store();
    p.WriteInt(Keys::UseArchive.section, Keys::UseArchive.entry, 1);
    p.WriteString(Keys::ArchiveFolder.section, Keys::ArchiveFolder.entry,
                  run.Dir() + "/archive/%Y-%m-%d");
    // The test's day stays in the queue whatever today's date.
    p.WriteInt(Keys::ArchiveKeepDays.section, Keys::ArchiveKeepDays.entry, 0);

    server.Refuse("STOR");
    QString out;
    EXPECT_EQ(run.Another({"-timelapse", "2026-12-06"}, &out, 60000), 1);
    EXPECT_TRUE(out.contains("status: Timelapse of 2026-12-06 queued for upload; next try at "))
        << out.toStdString();
    const QString queue = run.Dir() + "/state/vizo/upload-queue.json";
    QJsonObject top = QJsonDocument::fromJson(ReadAll(queue)).object();
    // Its minute's wait over, as far as the queue knows.
    QJsonArray videos = top["videos"].toArray();
    ASSERT_EQ(videos.size(), 1);
    QJsonObject entry = videos[0].toObject();
    entry["next_try"] = "2026-01-01T00:00:00+00:00";
    videos[0] = entry;
    top["videos"] = videos;
    ASSERT_TRUE(WriteFile(queue, QJsonDocument(top).toJson()));

    server.ClearFaults();
    run.Start();
    EXPECT_TRUE(run.WaitForLog(
        "status: Timelapse of 2026-12-06 published as timelapse/2026-12-06.mp4", 1, 30000))
        << run.Log().toStdString();
    const QByteArray video = ReadAll(folder + "/timelapse-2026-12-06.mp4");
    ASSERT_FALSE(video.isEmpty());
    EXPECT_EQ(server.ReadFile("timelapse/2026-12-06.mp4"), video);
    EXPECT_TRUE(WaitFor([&] { return run.Status().value("queue_length") == 0; }, 5000))
        << QJsonDocument(run.Status()).toJson().toStdString();
    EXPECT_FALSE(QFile::exists(queue));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(20000), 0);
}
