// The program itself in service mode, as a service manager starts it: no
// display variables, a lavfi camera, the FTP fixture as the web server.
#include "FtpTestServer.h"
#include "ServiceRun.h"
#include "config/Profile.h"
#include "config/SettingsKeys.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

namespace
{
QStringList ServerTemporaries(const FtpTestServer& ftp)
{
    return ftp.ListFiles().filter(QRegularExpression("\\.[td]\\d\\d$"));
}

// A frame is grabbed and sent right after its status line, then the stream
// waits out the rest of its 2 s: the signal lands in that wait. (A signal
// during a transfer has a test of its own.)
void TerminateBetweenStreamFrames(ServiceRun& run, int sig)
{
    ASSERT_TRUE(run.WaitForLog("fps)", 2)) << run.Log().toStdString();
    QThread::msleep(700);
    run.Signal(sig);
}

QStringList Lines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}
} // namespace

// One run through success, failures and recovery, with the report and the
// notify command followed at every step.
TEST(ServiceProcess, UploadsReportsAndNotifiesOnTransitions)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start()) << ftp.ErrorText().toStdString();
    ServiceRun run;
    run.Configure(ftp, 2);
    const QString hookLog = run.Dir() + "/hook.log";
    run.Store().WriteString(
        Keys::NotifyCommand.section, Keys::NotifyCommand.entry,
        QString("/bin/sh -c \"echo $VIZO_EVENT'|'$VIZO_REASON'|'$VIZO_TIME >> %1\"").arg(hookLog));
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000)) << run.Log().toStdString();
    EXPECT_EQ(run.Status().value("mode").toString(), "service");
    run.Signal(SIGUSR1); // Upload now, rather than a minute from now
    ASSERT_TRUE(run.WaitForLog("Succesful upload at")) << run.Log().toStdString();

    const QByteArray jpeg = ftp.ReadFile("vizo.jpg");
    EXPECT_TRUE(jpeg.startsWith("\xff\xd8\xff")) << jpeg.size();
    EXPECT_GE(ftp.CountCommands("STOR"), 1);
    EXPECT_TRUE(ftp.Commands().contains("RNTO vizo.jpg") ||
                ftp.Commands().contains("RNTO /vizo.jpg"))
        << ftp.Commands().join('\n').toStdString();
    QJsonObject status = run.Status();
    EXPECT_EQ(status.value("camera").toString(), "Test pattern");
    EXPECT_EQ(status.value("camera_state").toString(), "ok");
    EXPECT_TRUE(status.value("last_success").isString());
    EXPECT_TRUE(status.value("last_failure").isNull());
    QString words;
    EXPECT_EQ(run.StatusCommand(&words), 0) << words.toStdString();
    EXPECT_TRUE(words.contains("Health: ok"));

    ftp.Stop();
    ASSERT_TRUE(run.WaitForLog("FTP session failed (", 2)) << run.Log().toStdString();
    ASSERT_TRUE(
        WaitFor([&] { return run.Status().value("consecutive_failures").toInt() >= 2; }, 5000));
    status = run.Status();
    EXPECT_TRUE(status.value("last_failure_reason").toString().startsWith("FTP session failed ("));
    EXPECT_EQ(run.StatusCommand(&words), 1) << words.toStdString();
    EXPECT_TRUE(words.contains("Reason: FTP session failed ("));

    ASSERT_TRUE(ftp.Restart());
    ASSERT_TRUE(run.WaitForLog("Succesful upload at", 2)) << run.Log().toStdString();
    ASSERT_TRUE(WaitFor([&] { return Lines(hookLog).size() >= 2; }, 5000))
        << run.Log().toStdString();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();

    // Once per transition, never per failed attempt.
    const QStringList calls = Lines(hookLog);
    ASSERT_EQ(calls.size(), 2) << calls.join('\n').toStdString();
    EXPECT_TRUE(calls[0].startsWith("failure|FTP session failed (")) << calls[0].toStdString();
    EXPECT_TRUE(calls[1].startsWith("recovered|Succesful upload at ")) << calls[1].toStdString();
    EXPECT_TRUE(calls[1].contains(
        QRegularExpression("\\|\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$")));
    EXPECT_EQ(run.Status().value("consecutive_failures").toInt(), 0);
    EXPECT_TRUE(run.TemporaryFiles().isEmpty());
}

TEST(ServiceProcess, StartUpProblemsExitNonZeroWithTheirReason)
{
    {
        ServiceRun run; // empty settings: the window would greet the user
        QString words;
        EXPECT_EQ(run.StatusCommand(&words), 1);
        EXPECT_TRUE(
            words.startsWith("No status report at " + run.Dir() + "/state/vizo/status.json"))
            << words.toStdString();
        run.Start();
        EXPECT_EQ(run.Exit(10000), 78) << run.Log().toStdString();
        EXPECT_TRUE(run.Log().contains("needs configuring"));
        EXPECT_TRUE(run.Log().contains(run.Config() + "/vizo.conf"));
    }
    if (!QDir("/dev").entryList({"video*"}, QDir::System).isEmpty())
        GTEST_SKIP() << "this machine has a video device";
    FtpTestServer ftp;
    ServiceRun run("");
    run.Configure(ftp, 60);
    run.Start();
    EXPECT_EQ(run.Exit(10000), 69) << run.Log().toStdString();
    EXPECT_TRUE(run.Log().contains("No video capture device"));
}

TEST(ServiceProcess, UnwritableStateFolderIsLoggedAndUploadsGoOn)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 60);
    QFile blocker(run.Dir() + "/state"); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000));
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Succesful upload at")) << run.Log().toStdString();
    EXPECT_EQ(run.Count("Cannot write the status report"), 1) << run.Log().toStdString();
    EXPECT_TRUE(ftp.HasFile("vizo.jpg"));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0);
}

// SIGTERM in the middle of each kind of session: the session is aborted, the
// program ends with 0 and no temporary file is left on either side.
namespace
{
// A large picture sent slowly, and the signal while the server receives it.
void TerminateMidTransfer(FtpTestServer& ftp, ServiceRun& run, int sig = SIGTERM)
{
    ASSERT_TRUE(ftp.Start());
    run.Configure(ftp, 600);
    run.Store().WriteInt(Keys::Quality.section, Keys::Quality.entry, 95);
    ftp.LimitRate(4000);
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000));
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Starting FTP transfer of vizo.jpg.t")) << run.Log().toStdString();
    ASSERT_TRUE(ftp.WaitForCommand("STOR", 5000));
    QThread::msleep(500);
    run.Signal(sig);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
}
} // namespace

// A closed terminal (SIGHUP) ends it as SIGTERM does.
TEST(ServiceProcess, TerminateDuringTransferLeavesNothingBehind)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        FtpTestServer ftp;
        ServiceRun run("Big=lavfi:testsrc2=size=1280x720:rate=15");
        TerminateMidTransfer(ftp, run, sig);
        EXPECT_TRUE(
            run.Log().contains(QString("Ending on signal %1, aborting the upload").arg(sig)));
        EXPECT_FALSE(run.Log().contains("Succesful upload at"));
        // The partial picture never reached the final name, nor stayed behind.
        EXPECT_FALSE(ftp.HasFile("vizo.jpg")) << run.Log().toStdString();
        EXPECT_TRUE(WaitFor([&] { return ServerTemporaries(ftp).isEmpty(); }, 3000))
            << ftp.ListFiles().join(' ').toStdString();
        EXPECT_TRUE(run.TemporaryFiles().isEmpty()) << run.TemporaryFiles().join(' ').toStdString();
    }
}

TEST(ServiceProcess, TerminateWhileTheServerHoldsBackItsReply)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 600);
    ftp.SetSilent(true);
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000));
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Opening FTP session")) << run.Log().toStdString();
    QThread::msleep(500);
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
    EXPECT_TRUE(run.Log().contains("Ending on signal 15, aborting the upload"));
    EXPECT_TRUE(ftp.ListFiles().isEmpty()) << ftp.ListFiles().join(' ').toStdString();
    EXPECT_TRUE(run.TemporaryFiles().isEmpty()) << run.TemporaryFiles().join(' ').toStdString();
    // An aborted upload is neither a success nor a failure.
    EXPECT_EQ(run.Status().value("consecutive_failures").toInt(), 0);
    EXPECT_TRUE(run.Status().value("last_failure").isNull());
}

TEST(ServiceProcess, TerminateDuringSeriesCaptureAndStream)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    {
        ServiceRun run;
        run.Configure(ftp, 600, 1);
        run.Store().WriteInt(Keys::NumSeries.section, Keys::NumSeries.entry, 50);
        run.Start();
        ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000));
        run.Signal(SIGUSR1);
        ASSERT_TRUE(run.WaitForLog("Capturing frames 2/50")) << run.Log().toStdString();
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
        EXPECT_TRUE(run.Log().contains("Aborted series at"));
        EXPECT_EQ(ftp.CountCommands("STOR"), 0);
        EXPECT_TRUE(run.TemporaryFiles().isEmpty()) << run.TemporaryFiles().join(' ').toStdString();
    }
    ServiceRun run;
    run.Configure(ftp, 600, 2);
    run.Store().WriteString(Keys::MaxFps.section, Keys::MaxFps.entry, "0.5");
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000));
    run.Signal(SIGUSR1);
    TerminateBetweenStreamFrames(run, SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
    EXPECT_TRUE(ServerTemporaries(ftp).isEmpty()) << ftp.ListFiles().join(' ').toStdString();
    EXPECT_TRUE(ftp.HasFile("vizo.jpg"));
    EXPECT_TRUE(run.TemporaryFiles().isEmpty()) << run.TemporaryFiles().join(' ').toStdString();
}

// The window ends as cleanly on SIGINT; the report says which mode ran.
TEST(ServiceProcess, WindowModeEndsCleanlyOnInterrupt)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 600, 2);
    run.Store().WriteString(Keys::MaxFps.section, Keys::MaxFps.entry, "0.5");
    run.SetEnv("QT_QPA_PLATFORM", "offscreen");
    run.Start({});
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000));
    EXPECT_EQ(run.Status().value("mode").toString(), "window");
    run.Signal(SIGUSR1);
    TerminateBetweenStreamFrames(run, SIGINT);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
    EXPECT_TRUE(run.Log().contains("Ending on signal 2, aborting the upload"));
    EXPECT_TRUE(ServerTemporaries(ftp).isEmpty()) << ftp.ListFiles().join(' ').toStdString();
}

TEST(ServiceProcess, WindowGreetingEndsOnTerminate)
{
    ServiceRun run; // empty settings: the welcome box, then the Settings sheet
    run.SetEnv("QT_QPA_PLATFORM", "offscreen");
    run.Start({});
    ASSERT_TRUE(run.WaitForLog("message: Welcome to Vizo!", 1, 10000)) << run.Log().toStdString();
    QThread::msleep(300);
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
}

// A camera that is not there at start-up is reported lost, and ok once it
// delivers; the uploads in between fail rather than publish anything.
TEST(ServiceProcess, CameraStateFollowsTheSource)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start()) << ftp.ErrorText().toStdString();
    QTemporaryDir media;
    const QString clip = media.path() + "/door.mkv";
    ServiceRun run("Door=:" + clip);
    run.Configure(ftp, 2);
    run.Start();
    ASSERT_TRUE(
        WaitFor([&] { return run.Status().value("camera_state").toString() == "lost"; }, 15000))
        << run.Log().toStdString();
    EXPECT_EQ(run.Status().value("camera").toString(), "Door");
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Could not grab frame...")) << run.Log().toStdString();
    EXPECT_EQ(ftp.CountCommands("STOR"), 0);

    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                            "testsrc2=size=160x120:rate=15:duration=60", "-y", clip});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000));
    ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    ASSERT_TRUE(
        WaitFor([&] { return run.Status().value("camera_state").toString() == "ok"; }, 30000))
        << run.Log().toStdString();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();
}
