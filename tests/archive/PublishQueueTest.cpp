// Videos that did not reach the server: the back-off and expiry rules, the
// queue file read defensively, the retries as ticks drive them, and a real
// server that refuses, a restart, and the server taking the video.
#include "archive/PublishQueue.h"
#include "ArchiveTestSupport.h"
#include "FtpTestServer.h"
#include "FtpTestUtil.h"
#include "app/CCameraApp.h"
#include "archive/Archive.h"
#include "service/HealthReport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{
// Four pictures of 2026-12-06 in an archive; the clock at ten past midnight
// of the next day, when the day's video is built.
class DayPictures : public ArchiveTest
{
protected:
    std::time_t day = LocalTime(2026, 12, 6, 0, 0, 0);
    std::time_t t0 = LocalTime(2026, 12, 7, 0, 10, 0);
    QString video = dir.filePath("archive/2026-12-06/timelapse-2026-12-06.mp4");

    void SetUp() override
    {
        for (int i = 0; i < 4; ++i) {
            const std::time_t t = day + 8 * 3600 + i;
            ASSERT_TRUE(
                PutPicture(TestPicture(i), layout.root + "/" + PictureRelPath(layout, t), t));
        }
    }
    void Configure(ArchiveSettings& s)
    {
        s.bUseArchive = 1;
        s.strFolder = dir.filePath("archive/%Y-%m-%d");
        s.strName = "%H%M%S.jpg";
        s.strTimelapseRemote = "timelapse/%Y-%m-%d.mp4";
    }
};

// The day's video built by the command while publishing fails: queued.
class QueueDay : public DayPictures
{
protected:
    RecordingPorts ports;
    Archive archive{ports};
    QString QueueFile() const { return ports.state.path() + "/upload-queue.json"; }

    void SetUp() override
    {
        DayPictures::SetUp();
        Configure(archive.m_settings);
        ports.uploadsOn = true;
        ports.publishOk = false;
        ports.now = t0;
        ASSERT_EQ(archive.RunCommand("2026-12-06"), 1);
        ports.published.clear();
    }
    // Ticks every ten seconds over [from, to]; the ticks' offsets from t0
    // that tried to publish.
    QList<int> AttemptsOver(int from, int to)
    {
        QList<int> attempts;
        for (int t = from; t <= to; t += 10) {
            const int before = int(ports.published.size());
            archive.Tick(t0 + t);
            if (ports.published.size() > before)
                attempts << t;
        }
        return attempts;
    }
};
} // namespace

TEST(PublishQueueRule, WaitDoublesFromAMinuteToAnHourAndOnlyKeepDaysExpire)
{
    QList<std::time_t> waits;
    for (int attempts = 1; attempts <= 9; ++attempts)
        waits << RetryWait(attempts);
    EXPECT_EQ(waits, QList<std::time_t>({60, 120, 240, 480, 960, 1920, 3600, 3600, 3600}));
    EXPECT_EQ(RetryWait(100000), 3600);

    ScopedTimeZone tz("UTC");
    QueuedVideo v;
    v.day = LocalTime(2026, 12, 6, 0, 0, 0);
    const std::time_t t = LocalTime(2026, 12, 7, 1, 0, 0);
    v.nextTry = t + 600;
    EXPECT_FALSE(RetryDue(v, t));
    EXPECT_TRUE(RetryDue(v, t + 600));
    // The clock set back two hours does not add them to the wait.
    EXPECT_TRUE(RetryDue(v, t - 7200));

    // Keep Days after the end of the video's day; 0 keeps it for ever.
    const std::time_t dropAt = LocalTime(2026, 12, 9, 0, 0, 0);
    EXPECT_FALSE(QueueExpired(v, dropAt - 1, 2));
    EXPECT_TRUE(QueueExpired(v, dropAt, 2));
    EXPECT_FALSE(QueueExpired(v, dropAt + 3650 * 86400LL, 0));
}

TEST(PublishQueueFile, DamagedForeignOrLinkedFileIsSetAsideAndTheQueueStartsAfresh)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("upload-queue.json");
    const QByteArray valid = QueueToJson({});
    ASSERT_TRUE(WriteFile(dir.filePath("elsewhere.json"), valid));
    const QList<QByteArray> damaged = {
        "{\"format\":\"vizo-upload-queue\",\"version\":1,\"videos\":[{\"local\":\"relative\"}]}",
        QByteArray("\x01garbage", 8), "{\"version\":\"1.0\",\"mode\":\"service\"}", "link"};
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        if (bytes == "link")
            ASSERT_TRUE(QFile::link(dir.filePath("elsewhere.json"), file));
        else
            ASSERT_TRUE(WriteFile(file, bytes));
        QStringList lines;
        PublishQueue q(file, [&](const QString& text) { lines << text; });
        q.Refresh();
        EXPECT_TRUE(q.Videos().isEmpty());
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].contains("could not be read")) << lines[0].toStdString();
        EXPECT_FALSE(QFileInfo(file).exists() || QFileInfo(file).isSymLink());
        const QStringList aside =
            QDir(dir.path()).entryList({"upload-queue.json.damaged-*"}, QDir::Files | QDir::System);
        ASSERT_EQ(aside.size(), 1);
        if (bytes == "link")
            EXPECT_TRUE(QFileInfo(dir.filePath(aside[0])).isSymLink());
        else
            EXPECT_EQ(ReadAll(dir.filePath(aside[0])), bytes);
        QFile::remove(dir.filePath(aside[0]));
    }
    EXPECT_EQ(ReadAll(dir.filePath("elsewhere.json")), valid);
}

TEST_F(QueueDay, RetriedWithAGrowingWaitWhileUploadsAreOnAndTheEngineIsFree)
{
    EXPECT_TRUE(ports.lines.contains(
        "Timelapse of 2026-12-06 queued for upload; next try at 2026-12-07 00:11:00"))
        << ports.lines.join("\n").toStdString();
    EXPECT_EQ(ports.queue.last(), QString("1 since %1").arg(t0));
    EXPECT_TRUE(QFile::exists(QueueFile()));

    EXPECT_EQ(AttemptsOver(0, 3 * 3600), QList<int>({60, 180, 420, 900, 1860, 3780, 7380}));
    EXPECT_EQ(ports.published.first(), video + " -> timelapse/2026-12-06.mp4");

    // Due at 10980: a busy engine or uploads off hold it back.
    ports.busy = true;
    EXPECT_EQ(AttemptsOver(10980, 11000), QList<int>());
    ports.busy = false;
    ports.uploadsOn = false;
    EXPECT_EQ(AttemptsOver(11010, 11030), QList<int>());
    ports.uploadsOn = true;
    ports.publishOk = true;
    EXPECT_EQ(AttemptsOver(11040, 11100), QList<int>({11040}));
    EXPECT_EQ(ports.lines.last(), "Timelapse of 2026-12-06 published as timelapse/2026-12-06.mp4");
    EXPECT_EQ(ports.queue.last(), "0 since 0");
    EXPECT_FALSE(QFile::exists(QueueFile()));
}

TEST_F(QueueDay, AVideoQueuedByAnotherProcessIsSeenAndOneAttemptIsMadePerTick)
{
    const QString other = dir.filePath("archive/2026-12-05/timelapse-2026-12-05.mp4");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(other).absolutePath()));
    ASSERT_TRUE(QFile::copy(video, other));
    // The -timelapse command beside the running program.
    PublishQueue command(QueueFile(), [](const QString&) {});
    QueuedVideo v;
    v.local = other;
    v.remote = "timelapse/2026-12-05.mp4";
    v.day = day - 86400;
    command.Failed(v, t0 - 30);

    archive.Tick(t0 + 60);
    EXPECT_EQ(ports.published, QStringList({other + " -> timelapse/2026-12-05.mp4"}));
    EXPECT_EQ(ports.queue.last(), QString("2 since %1").arg(t0 - 30));
    archive.Tick(t0 + 70);
    EXPECT_EQ(ports.published.size(), 2);
    EXPECT_EQ(ports.published.last(), video + " -> timelapse/2026-12-06.mp4");
}

TEST_F(QueueDay, DroppedWhenOlderThanKeepDaysOrWhenTheVideoIsGone)
{
    archive.m_settings.nKeepDays = 0;
    archive.Tick(day + 400 * 86400LL);
    EXPECT_EQ(ports.published.size(), 1);

    // Expiry needs no engine.
    archive.m_settings.nKeepDays = 2;
    ports.busy = true;
    archive.Tick(day + 401 * 86400LL);
    EXPECT_EQ(ports.published.size(), 1);
    EXPECT_EQ(ports.lines.last(),
              "Timelapse of 2026-12-06 dropped from the upload queue: older than the archive's "
              "2 days");
    EXPECT_EQ(ports.queue.last(), "0 since 0");

    ports.busy = false;
    ports.now = t0 + 100;
    ASSERT_EQ(archive.RunCommand("2026-12-06"), 1);
    ports.published.clear();
    ASSERT_TRUE(QFile::remove(video));
    archive.Tick(t0 + 160);
    EXPECT_TRUE(ports.published.isEmpty());
    EXPECT_EQ(ports.lines.last(), "Timelapse of 2026-12-06 dropped from the upload queue: " +
                                      video + " no longer exists");
    EXPECT_FALSE(QFile::exists(QueueFile()));

    // An edited queue cannot make it send a file that is not a video.
    PublishQueue edited(QueueFile(), [](const QString&) {});
    QueuedVideo v;
    v.local = dir.filePath("archive/2026-12-06/080000.jpg");
    v.remote = "timelapse/stolen.jpg";
    v.day = day;
    edited.Failed(v, t0 + 100);
    archive.Tick(t0 + 160);
    EXPECT_TRUE(ports.published.isEmpty());
    EXPECT_TRUE(ports.lines.last().startsWith("Timelapse of 2026-12-06 dropped from the upload "
                                              "queue: " +
                                              v.local + " is not the day's video"))
        << ports.lines.last().toStdString();
}

namespace
{
class QueueServer : public DayPictures
{
protected:
    void SetUp() override
    {
        DayPictures::SetUp();
        ASSERT_NO_FATAL_FAILURE(PublishThrough(app, server));
        Configure(app.m_archive.m_settings);
    }
    void TearDown() override
    {
        app.m_service.Stop();
        app.m_upload.FreeInternetLibrary();
    }
    QJsonObject Report() const
    {
        return QJsonDocument::fromJson(ReadAll(StatusFilePath())).object();
    }

    ScopedConfigHome home;
    ScopedEnv timeout{"VIZO_INET_TIMEOUT", "2"};
    NoProxyEnvironment noProxy;
    FixedClock clock{t0};
    CCameraApp app;
    FtpTestServer server;
    StatusRecorder status;
};
} // namespace

TEST_F(QueueServer, RefusedVideoSurvivesARestartAndArrivesWhenTheServerTakesIt)
{
    server.Refuse("STOR");
    EXPECT_EQ(app.m_archive.RunCommand("2026-12-06"), 1);
    ASSERT_TRUE(QFile::exists(StateDirectory() + "/upload-queue.json"));
    app.m_service.Start(Service::StartInfo{});
    EXPECT_EQ(Report().value("queue_length").toInt(), 1);
    EXPECT_EQ(Report().value("oldest_queued").toString(), IsoLocalTime(t0));

    // A new archive on the same state folder, as after a restart.
    Archive restarted(app.m_archivePorts);
    restarted.m_settings = app.m_archive.m_settings;
    const int stors = server.CountCommands("STOR");
    restarted.Tick(t0 + 30);
    EXPECT_EQ(server.CountCommands("STOR"), stors);
    restarted.Tick(t0 + 60);
    EXPECT_EQ(server.CountCommands("STOR"), stors + 1);
    EXPECT_TRUE(server.ListFiles().isEmpty());

    server.ClearFaults();
    restarted.Tick(t0 + 170);
    EXPECT_EQ(server.CountCommands("STOR"), stors + 1);
    restarted.Tick(t0 + 180);
    EXPECT_EQ(server.ReadFile("timelapse/2026-12-06.mp4"), ReadAll(video));
    EXPECT_FALSE(QFile::exists(StateDirectory() + "/upload-queue.json"));
    EXPECT_EQ(Report().value("queue_length").toInt(), 0);
    EXPECT_TRUE(Report().value("oldest_queued").isNull());
    EXPECT_TRUE(
        status.lines.contains("Timelapse of 2026-12-06 published as timelapse/2026-12-06.mp4"));
}
