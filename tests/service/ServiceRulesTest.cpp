// Rules of unattended operation that need no running program: the command
// line, the health report, session outcomes and the notify command.
#include "app/CommandLine.h"
#include "net/CUpload.h"
#include "platform/afx/log.h"
#include "service/HealthReport.h"
#include "service/NotifyHook.h"
#include "service/Service.h"
#include "testsupport.h"

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

TEST(ServiceRules, SessionOutcomeAndReasonFromStatusLines)
{
    using Service::FailureReason;
    using Service::OutcomeOf;
    EXPECT_EQ(
        OutcomeOf({"Starting capture...", "FTP session closed.", "Succesful upload at 10:00:00"},
                  false),
        SessionOutcome::Success);
    EXPECT_EQ(OutcomeOf({"Succesful capture at 10:00:00"}, false), SessionOutcome::Success);
    EXPECT_EQ(OutcomeOf({"Uploaded series at 10:00:00"}, true), SessionOutcome::Aborted);
    EXPECT_EQ(OutcomeOf({}, false), SessionOutcome::Failure);

    const QStringList single{"Starting capture...", "Opening FTP session to h...",
                             "FTP session failed (Can't make connection (FTP error))",
                             "Closing FTP session...", "FTP session closed."};
    EXPECT_EQ(OutcomeOf(single, false), SessionOutcome::Failure);
    EXPECT_EQ(FailureReason(single), "FTP session failed (Can't make connection (FTP error))");
    // The series' summary lines hide the cause; the cause is the reason.
    const QStringList series{"Sending frame 1/3...",
                             "FTP transfer failed (The connection was reset)", "FTP session failed",
                             "Sending timing list file...", "Failed series at 10:00:05"};
    EXPECT_EQ(FailureReason(series), "FTP transfer failed (The connection was reset)");
    EXPECT_EQ(FailureReason({"Could not grab frame..."}), "Could not grab frame...");
}

TEST(ServiceRules, NotifyOnlyOnTransitions)
{
    EXPECT_STREQ(NotifyEventFor(0, SessionOutcome::Failure), "failure");
    EXPECT_EQ(NotifyEventFor(1, SessionOutcome::Failure), nullptr);
    EXPECT_STREQ(NotifyEventFor(3, SessionOutcome::Success), "recovered");
    EXPECT_EQ(NotifyEventFor(0, SessionOutcome::Success), nullptr);
    EXPECT_EQ(NotifyEventFor(2, SessionOutcome::Aborted), nullptr);
}

TEST(ServiceRules, NotifyCommandWithoutShellVariablesAndLimit)
{
    QTemporaryDir dir;
    const QString out = dir.path() + "/vars";
    QString error;
    // Metacharacters stay text: no shell reads the command or the reason.
    const QString reason = "FTP failed; $(touch " + dir.path() + "/injected)";
    ASSERT_TRUE(StartNotifyCommand(QString("/bin/sh -c \"env > %1\"").arg(out), "failure", reason,
                                   "2026-12-07T10:00:00+01:00", 5000, &error))
        << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(out).size() > 0; }, 5000));
    QFile vars(out);
    ASSERT_TRUE(vars.open(QIODevice::ReadOnly));
    const QStringList env =
        QString::fromUtf8(vars.readAll()).split('\n').filter(QRegularExpression("^VIZO_"));
    EXPECT_EQ(env.size(), 3) << env.join('\n').toStdString();
    EXPECT_TRUE(env.contains("VIZO_EVENT=failure"));
    EXPECT_TRUE(env.contains("VIZO_REASON=" + reason));
    EXPECT_TRUE(env.contains("VIZO_TIME=2026-12-07T10:00:00+01:00"));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/injected"));

    ASSERT_TRUE(StartNotifyCommand("/usr/bin/touch " + dir.path() + "/x$(id)", "failure", "r", "t",
                                   5000, &error));
    EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(dir.path() + "/x$(id)"); }, 5000));

    EXPECT_FALSE(
        StartNotifyCommand(dir.path() + "/no-such-command", "failure", "r", "t", 5000, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(StartNotifyCommand("   ", "failure", "r", "t", 5000, &error));

    // A command that hangs is stopped at its limit.
    const QString pidFile = dir.path() + "/pid";
    ASSERT_TRUE(
        StartNotifyCommand(QString("/bin/sh -c \"echo $$ > %1; exec sleep 30\"").arg(pidFile),
                           "failure", "r", "t", 700, &error));
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(pidFile).size() > 0; }, 5000));
    QFile pf(pidFile);
    ASSERT_TRUE(pf.open(QIODevice::ReadOnly));
    const pid_t pid = pf.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    // Ended: gone, or a zombie waiting for whoever adopted it.
    const auto ended = [pid] {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    };
    EXPECT_FALSE(ended());
    EXPECT_TRUE(WaitFor(ended, 5000));
}

// What the spine and the capture side tell the module reaches the file.
TEST(ServiceRules, CameraStateAndSessionOutcomeReachTheReport)
{
    QTemporaryDir dir;
    ScopedEnv state("XDG_STATE_HOME", dir.path().toLocal8Bit());
    Service::StartInfo info;
    info.version = "1.12";
    info.camera = "Test pattern";
    info.schedule.intervalSecs = 60;
    info.schedule.b24Hours = 1;
    Service::Start(info);
    const auto report = [&] {
        HealthState s;
        QString error;
        QFile f(dir.path() + "/vizo/status.json");
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(HealthFromJson(f.readAll(), &s, &error)) << error.toStdString();
        return s;
    };
    EXPECT_EQ(report().mode, "window");
    Service::SetCameraState("Door", false);
    EXPECT_EQ(report().camera, "Door");
    EXPECT_FALSE(report().cameraOk);
    Service::SetCameraState("Door", true);
    EXPECT_TRUE(report().cameraOk);

    CUpload u;
    u.m_nIntervalSecs = 60;
    u.m_b24Hours = 1;
    const std::time_t start = std::time(nullptr);
    Service::SessionStarted(start);
    LogStatus("Starting capture...");
    LogStatus("Could not grab frame...");
    Service::SessionEnded(u, start + 60);
    LogStatus("Idle"); // outside a session: not part of any outcome
    HealthState s = report();
    EXPECT_EQ(s.consecutiveFailures, 1);
    EXPECT_EQ(s.lastFailureReason, "Could not grab frame...");
    EXPECT_EQ(s.lastStart, start);
    EXPECT_EQ(s.nextUpload, start + 60);
    Service::Stop();

    // A new run carries the counts on; one after a damaged report starts afresh.
    Service::Start(info);
    EXPECT_EQ(report().consecutiveFailures, 1);
    Service::Stop();
    QFile damaged(dir.path() + "/vizo/status.json");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"version\": \"1.12\", \"consecutive_fail");
    damaged.close();
    Service::Start(info);
    EXPECT_EQ(report().consecutiveFailures, 0);
    Service::Stop();
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
