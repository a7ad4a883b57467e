// Each destination's record in the health report: carried across uploads for
// the same place, shown by `vizo -status`, never with a password.
#include "ServiceRun.h"
#include "service/Service.h"

#include "DavTestServer.h"
#include "platform/inet/wininet.h"

#include <QImage>
#include <QJsonArray>

TEST(DestinationReport, RecordsCarryTheirTimesAndSurviveTheFile)
{
    ScopedTimeZone tz("UTC");
    const std::time_t t0 = LocalTime(2026, 12, 7, 10, 0, 0);
    QVector<DestinationHealth> tried = {
        {1, "ftp.example.net", true, {}, 0, 0},
        {2, "https://dav.example/cams", false, "FTP session failed (HTTP 401 Unauthorized)", 0, 0}};
    QVector<DestinationHealth> records = MergeDestinations({}, tried, t0);
    tried[0].ok = false;
    tried[0].reason = "FTP transfer failed (Timed out)";
    tried[1].ok = true;
    records = MergeDestinations(records, tried, t0 + 60);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].lastSuccess, t0);
    EXPECT_EQ(records[0].lastFailure, t0 + 60);
    EXPECT_EQ(records[1].lastFailure, t0);
    EXPECT_EQ(records[1].lastSuccess, t0 + 60);
    EXPECT_TRUE(records[1].reason.isEmpty());

    // Another server under the same number starts afresh; one no longer tried drops out.
    const QVector<DestinationHealth> moved =
        MergeDestinations(records, {{2, "https://other.example", true, {}, 0, 0}}, t0 + 120);
    ASSERT_EQ(moved.size(), 1);
    EXPECT_EQ(moved[0].lastFailure, 0);

    HealthState s;
    s.version = "1.0";
    s.destinations = records;
    const QJsonArray array =
        QJsonDocument::fromJson(HealthToJson(s)).object().value("destinations").toArray();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0].toObject().value("state").toString(), "failing");
    EXPECT_EQ(array[0].toObject().value("reason").toString(), "FTP transfer failed (Timed out)");
    EXPECT_TRUE(array[1].toObject().value("reason").isNull());
    EXPECT_EQ(array[1].toObject().value("last_success").toString(), "2026-12-07T10:01:00+00:00");
    HealthState back;
    QString error;
    ASSERT_TRUE(HealthFromJson(HealthToJson(s), &back, &error));
    ASSERT_EQ(back.destinations.size(), 2);
    EXPECT_EQ(back.destinations[1].lastFailure, t0);
    EXPECT_FALSE(back.destinations[0].ok);

    ServiceRun run;
    ASSERT_TRUE(WriteHealthFile(run.StatusPath(), s, &error)) << error.toStdString();
    QString out;
    run.SetEnv("TZ", "UTC");
    run.StatusCommand(&out);
    EXPECT_TRUE(out.contains("\nDestination 1 (ftp.example.net): FAILING (FTP transfer failed "
                             "(Timed out))\nDestination 2 (https://dav.example/cams): ok"))
        << out.toStdString();
}

// The program itself: FTP plus WebDAV with a smaller copy, then the WebDAV
// server down. The last line, the report and the notify command follow the
// whole upload.
TEST(DestinationReport, ServicePublishesToEachAndNamesTheOneDown)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start()) << ftp.ErrorText().toStdString();
    DavTestServer dav;
    ASSERT_TRUE(dav.Start()) << dav.ErrorText().toStdString();
    ServiceRun run("Test pattern=lavfi:testsrc2=size=640x480:rate=15");
    run.Configure(ftp, 600);
    const QString hookLog = run.Dir() + "/hook.log";
    {
        Profile p = run.Store();
        p.WriteString(Keys::NotifyCommand.section, Keys::NotifyCommand.entry,
                      QString("/bin/sh -c \"echo $VIZO_EVENT'|'$VIZO_REASON >> %1\"").arg(hookLog));
        p.WriteInt("Destination 2", "Use", 1);
        p.WriteInt("Destination 2", "Protocol", VIZO_PROTOCOL_WEBDAV);
        p.WriteString("Destination 2", "Server", dav.Url());
        p.WriteString("Destination 2", "Username", dav.User());
        p.WriteString("Destination 2", "Password", dav.Password());
        p.WriteString("Destination 2", "Remote", "thumbs/vizo.jpg");
        p.WriteInt("Destination 2", "Max Width", 160);
    }
    QDir().mkpath(run.Dir() + "/tmp");
    run.SetEnv("TMPDIR", run.Dir() + "/tmp");
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000)) << run.Log().toStdString();
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Succesful upload at")) << run.Log().toStdString();
    EXPECT_EQ(QImage::fromData(ftp.ReadFile("vizo.jpg")).size(), QSize(640, 480));
    EXPECT_EQ(QImage::fromData(dav.ReadFile("thumbs/vizo.jpg")).size(), QSize(160, 120));
    QJsonArray records = run.Status().value("destinations").toArray();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1].toObject().value("server").toString(), dav.Url());
    EXPECT_FALSE(run.Log().contains(dav.Password())) << "no password in the log";

    dav.Stop();
    run.Signal(SIGUSR1);
    const QString failed = "status: Failed upload at ";
    ASSERT_TRUE(run.WaitForLog(failed)) << run.Log().toStdString();
    const QString line = run.Log().mid(run.Log().indexOf(failed) + 8).section('\n', 0, 0);
    EXPECT_TRUE(line.contains(": destination 2 " + dav.Url() + ": FTP session failed ("))
        << line.toStdString();
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(hookLog); }, 5000));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
    records = run.Status().value("destinations").toArray();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].toObject().value("state").toString(), "ok");
    EXPECT_EQ(records[1].toObject().value("state").toString(), "failing");
    EXPECT_EQ(run.Status().value("last_failure_reason").toString(), line);
    QFile hook(hookLog);
    ASSERT_TRUE(hook.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(hook.readAll()).trimmed(), "failure|" + line);
    EXPECT_EQ(QDir(run.Dir() + "/tmp").entryList(QDir::Files), QStringList());
}
