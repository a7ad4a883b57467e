// Rules of unattended operation that need no running program: the command
// line, the health report, session outcomes and the notify command.
#include "app/CommandLine.h"
#include "platform/afx/log.h"
#include "service/HealthReport.h"
#include "service/NotifyHook.h"
#include "service/Service.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(ServiceRules, CommandLineOptionsAndRefusals)
{
    const CommandLine a = ParseCommandLine({"-service", "/minimal"});
    EXPECT_TRUE(a.service);
    EXPECT_TRUE(a.minimized);
    EXPECT_FALSE(a.status);
    EXPECT_TRUE(a.messages.isEmpty());
    EXPECT_TRUE(ParseCommandLine({"/status"}).status);
    // The new options match whole words; unknown ones keep their messages, in order.
    const CommandLine b = ParseCommandLine({"-services", "cam", "-MIN"});
    EXPECT_FALSE(b.service);
    EXPECT_EQ(b.messages, QStringList({"Unknown command line option '-services'.",
                                       "Unknown command line argument 'cam'.",
                                       "Unknown command line option '-MIN'."}));
}

namespace
{
HealthState Sample()
{
    HealthState s;
    s.version = "1.12";
    s.mode = "service";
    s.camera = "Door \"east\"";
    s.lastStart = LocalTime(2026, 12, 7, 10, 0, 0);
    s.lastSuccess = s.lastStart;
    s.nextUpload = s.lastStart + 900;
    s.schedule.intervalSecs = 900;
    s.schedule.b24Hours = 1;
    return s;
}
} // namespace

TEST(ServiceRules, ReportSurvivesItsOwnFileAndRefusesOthers)
{
    ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    HealthState s = Sample();
    s.cameraOk = false;
    s.lastFailure = s.lastStart + 60;
    s.lastFailureReason = "FTP session failed (Can't make connection (FTP error))";
    s.consecutiveFailures = 2;
    s.schedule.b24Hours = 0;
    s.schedule.fromSecs = 9 * 3600;
    s.schedule.toSecs = 18 * 3600 + 30;
    const QByteArray json = HealthToJson(s);
    EXPECT_TRUE(json.contains("\"last_start\": \"2026-12-07T10:00:00+01:00\"")) << json.constData();
    EXPECT_TRUE(json.contains("\"camera_state\": \"lost\""));
    HealthState r;
    QString error;
    ASSERT_TRUE(HealthFromJson(json, &r, &error)) << error.toStdString();
    EXPECT_EQ(r.camera, s.camera);
    EXPECT_FALSE(r.cameraOk);
    EXPECT_EQ(r.lastStart, s.lastStart);
    EXPECT_EQ(r.lastFailure, s.lastFailure);
    EXPECT_EQ(r.lastFailureReason, s.lastFailureReason);
    EXPECT_EQ(r.consecutiveFailures, 2);
    EXPECT_EQ(r.schedule.toSecs, s.schedule.toSecs);
    EXPECT_EQ(r.schedule.b24Hours, 0);

    const QByteArray fresh = HealthToJson(HealthState{});
    EXPECT_TRUE(fresh.contains("\"last_success\": null"));
    for (const char* bad : {"", "[1,2]", "{\"mode\": \"service\"}", "{\"version\": 3", "\xff\xfe"})
        EXPECT_FALSE(HealthFromJson(bad, &r, &error)) << bad;
}

TEST(ServiceRules, HealthyOnlyWithARecentSuccess)
{
    const HealthState s = Sample();
    EXPECT_TRUE(IsHealthy(s, s.lastSuccess + 1800));
    EXPECT_FALSE(IsHealthy(s, s.lastSuccess + 1801));
    EXPECT_FALSE(IsHealthy(HealthState{}, s.lastSuccess));

    HealthState failed = s;
    failed.lastFailure = s.lastSuccess + 10;
    failed.consecutiveFailures = 1;
    EXPECT_FALSE(IsHealthy(failed, s.lastSuccess + 20));

    // Outside the daily period an old success is fine; a failure never is.
    HealthState daily = s;
    daily.schedule.b24Hours = 0;
    daily.schedule.fromSecs = 8 * 3600;
    daily.schedule.toSecs = 17 * 3600;
    const std::time_t night = LocalTime(2026, 12, 7, 23, 0, 0);
    EXPECT_TRUE(IsHealthy(daily, night));
    EXPECT_FALSE(IsHealthy(daily, LocalTime(2026, 12, 8, 12, 0, 0)));
    daily.consecutiveFailures = 1;
    daily.lastFailure = s.lastSuccess + 5;
    EXPECT_FALSE(IsHealthy(daily, night));

    // Waiting days for daylight is not overdue; past the planned time it is.
    HealthState waiting = s;
    waiting.nextUpload = s.lastSuccess + 40 * 86400;
    EXPECT_TRUE(IsHealthy(waiting, s.lastSuccess + 20 * 86400));
    EXPECT_TRUE(IsHealthy(waiting, waiting.nextUpload + 900));
    EXPECT_FALSE(IsHealthy(waiting, waiting.nextUpload + 901));

    const QString words = HealthSummary(failed, s.lastSuccess + 20);
    EXPECT_TRUE(words.contains("Failures in a row: 1"));
    EXPECT_TRUE(words.contains("Health: FAILING"));
}

TEST(ServiceRules, ReportReplacedWholeAndFolderProblemsReported)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/state/vizo/status.json";
    QString error;
    HealthState s = Sample();
    ASSERT_TRUE(WriteHealthFile(path, s, &error)) << error.toStdString();
    s.consecutiveFailures = 7;
    ASSERT_TRUE(WriteHealthFile(path, s, &error));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    HealthState r;
    ASSERT_TRUE(HealthFromJson(file.readAll(), &r, &error));
    EXPECT_EQ(r.consecutiveFailures, 7);
    EXPECT_EQ(QDir(dir.path() + "/state/vizo").entryList(QDir::Files), QStringList{"status.json"});

    // A plain file where the folder should be: refused with a reason.
    QFile blocker(dir.path() + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(WriteHealthFile(dir.path() + "/blocked/vizo/status.json", s, &error));
    EXPECT_FALSE(error.isEmpty());

    ScopedEnv state("XDG_STATE_HOME", "relative/ignored");
    EXPECT_EQ(StatusFilePath(), QDir::homePath() + "/.local/state/vizo/status.json");
}

// Links, FIFOs and escapes against the real program are in ServiceGuardsTest;
// here the bounds: the size limit to the byte, and C1 controls and line breaks.
TEST(ServiceRules, ReportReadUpToItsLimitAndPrintedEscaped)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/status.json";
    QByteArray bytes;
    QString error;
    EXPECT_EQ(ReadHealthFile(path, &bytes, &error), ReportRead::Missing);
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(int(kMaxReportBytes), ' '));
    big.close();
    EXPECT_EQ(ReadHealthFile(path, &bytes, &error), ReportRead::Ok);
    EXPECT_EQ(bytes.size(), kMaxReportBytes);
    ASSERT_TRUE(big.open(QIODevice::Append));
    big.write(" ");
    big.close();
    EXPECT_EQ(ReadHealthFile(path, &bytes, &error), ReportRead::Refused);
    EXPECT_TRUE(bytes.isEmpty());

    HealthState s = Sample();
    s.lastFailure = s.lastSuccess + 1;
    s.lastFailureReason = "bad\r\nline \u0085 \u00fcber";
    const QString words = HealthSummary(s, s.lastSuccess + 2);
    EXPECT_TRUE(words.contains("Reason: bad\\x0d\\x0aline \\x85 \u00fcber")) << words.toStdString();
}

TEST(ServiceRules, NotifyOnlyOnTransitions)
{
    EXPECT_STREQ(NotifyEventFor(0, SessionOutcome::Failure), "failure");
    EXPECT_EQ(NotifyEventFor(1, SessionOutcome::Failure), nullptr);
    EXPECT_STREQ(NotifyEventFor(3, SessionOutcome::Success), "recovered");
    EXPECT_EQ(NotifyEventFor(0, SessionOutcome::Success), nullptr);
    EXPECT_EQ(NotifyEventFor(2, SessionOutcome::Aborted), nullptr);
}

namespace
{
class MonitorTest : public ::testing::Test
{
protected:
    MonitorTest()
    {
        info.version = "1.12";
        info.camera = "Test pattern";
        info.schedule.intervalSecs = 60;
        info.schedule.b24Hours = 1;
    }
    HealthState Report()
    {
        HealthState s;
        QString error;
        QFile f(dir.path() + "/vizo/status.json");
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(HealthFromJson(f.readAll(), &s, &error)) << error.toStdString();
        return s;
    }
    void End(SessionOutcome outcome, const QString& reason)
    {
        SessionResult r;
        r.outcome = outcome;
        r.reason = reason;
        r.nextUpload = std::time(nullptr) + 60;
        r.schedule = info.schedule;
        monitor.SessionStarted(std::time(nullptr));
        monitor.SessionEnded(r);
    }

    QTemporaryDir dir;
    ScopedEnv state{"XDG_STATE_HOME", dir.path().toLocal8Bit()};
    Service::StartInfo info;
    Service monitor;
};
} // namespace

// What the spine and the capture side tell the monitor reaches the file, and
// only the session's own outcome moves the counts: no status line does.
TEST_F(MonitorTest, CameraStateAndSessionOutcomeReachTheReport)
{
    End(SessionOutcome::Failure, "before Start"); // no-op: nothing written
    EXPECT_FALSE(QFile::exists(dir.path() + "/vizo/status.json"));
    monitor.Start(info);
    EXPECT_EQ(Report().mode, "window");
    monitor.SetCameraState("Door", false);
    EXPECT_EQ(Report().camera, "Door");
    EXPECT_FALSE(Report().cameraOk);
    monitor.SetCameraState("Door", true);
    EXPECT_TRUE(Report().cameraOk);

    End(SessionOutcome::Failure, "Could not grab frame...");
    LogStatus("Succesful upload at 10:00:00"); // words alone decide nothing
    HealthState s = Report();
    EXPECT_EQ(s.consecutiveFailures, 1);
    EXPECT_EQ(s.lastFailureReason, "Could not grab frame...");
    EXPECT_EQ(s.lastSuccess, 0);
    End(SessionOutcome::Aborted, "");
    EXPECT_EQ(Report().consecutiveFailures, 1);
    monitor.Stop();

    // A new run carries the counts on; one after a damaged report starts afresh.
    monitor.Start(info);
    EXPECT_EQ(Report().consecutiveFailures, 1);
    End(SessionOutcome::Success, "Succesful upload at 10:01:00");
    EXPECT_EQ(Report().consecutiveFailures, 0);
    monitor.Stop();
    QFile damaged(dir.path() + "/vizo/status.json");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"version\": \"1.12\", \"consecutive_fail");
    damaged.close();
    monitor.Start(info);
    EXPECT_EQ(Report().lastSuccess, 0);
}

// A full archive disk after a good upload: the archive says so in its own
// fields and line; upload health, the counts and the notify command stay.
TEST_F(MonitorTest, ArchiveTroubleNeverCountsAsAnUploadFailure)
{
    const QString hook = dir.path() + "/hook";
    info.notifyCommand = "/usr/bin/touch " + hook;
    monitor.SetArchiveState(false, "early"); // said before Start: kept
    monitor.Start(info);
    EXPECT_EQ(Report().archiveState, "failing");
    End(SessionOutcome::Success, "Succesful upload at 10:00:00");
    monitor.SetArchiveState(false, "Cannot store 100000.jpg (No space left on device)");
    HealthState s = Report();
    EXPECT_EQ(s.consecutiveFailures, 0);
    EXPECT_EQ(s.lastFailure, 0);
    EXPECT_EQ(s.archiveReason, "Cannot store 100000.jpg (No space left on device)");
    const QString words = HealthSummary(s, std::time(nullptr));
    EXPECT_TRUE(words.contains("Archive: FAILING (Cannot store 100000.jpg")) << words.toStdString();
    EXPECT_TRUE(words.contains("Health: ok")) << words.toStdString();
    EXPECT_TRUE(IsHealthy(s, std::time(nullptr)));

    // From another thread (the timelapse builder): written on the monitor's.
    QThread* worker = QThread::create([this] { monitor.SetArchiveState(true, QString()); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(Report().archiveState, "failing");
    EXPECT_TRUE(WaitFor([&] { return Report().archiveState == "ok"; }, 2000));
    EXPECT_TRUE(Report().archiveReason.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFile::exists(hook));
}

// The record on standard error: one line per status, the stamp following the
// clock across seconds, line breaks escaped, local text kept.
TEST(ServiceRules, LogRecordOnStandardError)
{
    ScopedTimeZone zone("UTC");
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("stderr"));
    const int saved = ::dup(2);
    const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, 2);
    ::close(file);
    // The seconds each line was written within, as the log's own clock tells them.
    std::vector<std::pair<std::time_t, std::time_t>> when;
    const auto log = [&when](const char* kind, const QString& text) {
        const std::time_t before = std::time(nullptr);
        LogLine(kind, text);
        when.emplace_back(before, std::time(nullptr));
    };
    log("status", QStringLiteral("Sending image...\nline two\n"));
    // Into the next second: a stamp kept too long would show.
    while (std::time(nullptr) == when[0].second)
        QThread::msleep(20);
    log("message", QStringLiteral("Kamera \u00fcber Netz"));
    log("capture", QString());
    ::dup2(saved, 2);
    ::close(saved);

    QFile f(QFile::decodeName(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4) << "three lines and the end";
    EXPECT_TRUE(lines[3].isEmpty());
    const QByteArray texts[] = {"status: Sending image...\\nline two\\n",
                                "message: Kamera \xc3\xbc"
                                "ber Netz",
                                "capture: "};
    for (int i = 0; i < 3; ++i) {
        const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(lines[i].left(19)),
                                                      QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const qint64 t = stamp.toSecsSinceEpoch();
        EXPECT_TRUE(t >= when[i].first && t <= when[i].second) << lines[i].constData();
        EXPECT_EQ(lines[i].mid(19), " " + texts[i]);
    }
}
