// The program in service mode against what others leave in its way: files
// planted at its report's name, a second program on the same settings, an
// archive that cannot store.
#include "FtpTestServer.h"
#include "ServiceRun.h"
#include "config/SettingsKeys.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

namespace
{
// Runs `vizo -status` and says how long it took.
int TimedStatus(ServiceRun& run, QString* words, qint64* ms)
{
    QElapsedTimer t;
    t.start();
    const int status = run.StatusCommand(words);
    *ms = t.elapsed();
    return status;
}

void Plant(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray Contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}
} // namespace

TEST(ServiceGuards, ReportFilesPlantedByOthersAreNeverFollowed)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 600);
    const QString report = run.StatusPath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(report).path()));
    QString words;
    qint64 ms = 0;

    // -status neither blocks on a FIFO nor reads a device without end.
    ASSERT_EQ(::mkfifo(QFile::encodeName(report).constData(), 0600), 0);
    EXPECT_EQ(TimedStatus(run, &words, &ms), 1);
    EXPECT_LT(ms, 5000);
    EXPECT_TRUE(words.contains("cannot be read: it is not a regular file")) << words.toStdString();
    ASSERT_TRUE(QFile::remove(report));
    ASSERT_TRUE(QFile::link("/dev/zero", report));
    EXPECT_EQ(TimedStatus(run, &words, &ms), 1);
    EXPECT_LT(ms, 5000);
    EXPECT_TRUE(words.contains("cannot be read: it is a link")) << words.toStdString();

    // The service starts past a FIFO, and replaces a link rather than its target.
    ASSERT_TRUE(QFile::remove(report));
    ASSERT_EQ(::mkfifo(QFile::encodeName(report).constData(), 0600), 0);
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000)) << run.Log().toStdString();
    EXPECT_TRUE(run.Log().contains("could not be read (it is not a regular file)"));
    EXPECT_EQ(run.Status().value("mode").toString(), "service");
    const QString victim = run.Dir() + "/victim.txt";
    Plant(victim, "the user's own");
    ASSERT_TRUE(QFile::remove(report));
    ASSERT_TRUE(QFile::link(victim, report));
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Succesful upload at")) << run.Log().toStdString();
    ASSERT_TRUE(WaitFor([&] { return !QFileInfo(report).isSymLink(); }, 5000));
    EXPECT_EQ(Contents(victim), "the user's own");
    EXPECT_TRUE(run.Status().value("last_success").isString());
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0) << run.Log().toStdString();

    // Text from the report cannot steer the terminal.
    QByteArray json = Contents(report);
    json.replace("\"Test pattern\"", "\"Door\\u001b]0;owned\\u0007\\u001b[2J\"");
    Plant(report, json);
    run.StatusCommand(&words);
    EXPECT_TRUE(words.contains("Camera: Door\\x1b]0;owned\\x07\\x1b[2J (ok)"))
        << words.toStdString();
    EXPECT_FALSE(words.contains(QChar(0x1b)));
}

// Every upload succeeds while the archive cannot store a thing: health stays ok.
TEST(ServiceGuards, ArchiveFailureAfterAGoodUploadStaysHealthy)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 600);
    Plant(run.Dir() + "/blocker", "a file where the archive's folder should be");
    Profile store = run.Store();
    store.WriteInt(Keys::UseArchive.section, Keys::UseArchive.entry, 1);
    store.WriteString(Keys::ArchiveFolder.section, Keys::ArchiveFolder.entry,
                      run.Dir() + "/blocker/archive");
    const QString hook = run.Dir() + "/hook";
    store.WriteString(Keys::NotifyCommand.section, Keys::NotifyCommand.entry,
                      "/usr/bin/touch " + hook);
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000)) << run.Log().toStdString();
    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("Succesful upload at")) << run.Log().toStdString();
    // The archive speaks after the upload, before the session closes.
    EXPECT_TRUE(run.WaitForLog("status: Archive folder ")) << run.Log().toStdString();
    ASSERT_TRUE(WaitFor([&] { return run.Status().value("last_success").isString(); }, 5000))
        << run.Log().toStdString();
    EXPECT_EQ(run.Status().value("consecutive_failures").toInt(), 0);
    EXPECT_TRUE(run.Status().value("last_failure").isNull());
    QString words;
    EXPECT_EQ(run.StatusCommand(&words), 0) << words.toStdString();
    EXPECT_TRUE(words.contains("Health: ok"));
    EXPECT_FALSE(QFileInfo::exists(hook));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0);
}

// One program per settings file: the second says who holds it and ends; the
// read-only report command is never refused. The lock dies with its holder.
TEST(ServiceGuards, SecondProgramOnTheSameSettingsIsRefused)
{
    FtpTestServer ftp;
    ASSERT_TRUE(ftp.Start());
    ServiceRun run;
    run.Configure(ftp, 600);
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle", 1, 10000)) << run.Log().toStdString();
    const QString holder = QString("(process %1)").arg(run.Pid());

    QString out;
    EXPECT_EQ(run.Another({"-service"}, &out), 75) << out.toStdString();
    EXPECT_TRUE(out.contains("message: Vizo is already running with the settings file " +
                             run.Config() + "/vizo.conf " + holder))
        << out.toStdString();
    EXPECT_FALSE(out.contains("status: Idle"));
    EXPECT_EQ(run.Another({"-status"}, &out), 1) << out.toStdString(); // no upload yet
    EXPECT_TRUE(out.contains("Vizo 1.12 in service mode")) << out.toStdString();

    // The window says it in a box; nobody is there to close it but a signal.
    QProcess window;
    QProcessEnvironment env = run.Environment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::MergedChannels);
    window.start(VIZO_BUILD_DIR "/vizo", QStringList{});
    QString said;
    ASSERT_TRUE(WaitFor(
        [&] { return (said += QString::fromLocal8Bit(window.readAll())).contains(holder); }, 10000))
        << said.toStdString();
    QThread::msleep(300);
    ::kill(pid_t(window.processId()), SIGTERM);
    ASSERT_TRUE(window.waitForFinished(5000));
    EXPECT_EQ(window.exitCode(), 75);
    EXPECT_EQ(run.Status().value("mode").toString(), "service"); // its report untouched

    // A day's timelapse guards itself; the lock is not its business.
    run.Another({"-timelapse", "2026-12-07"}, &out);
    EXPECT_FALSE(out.contains("already running")) << out.toStdString();

    // Nor does a state folder deleted under it let a second one in.
    ASSERT_TRUE(QDir(run.StateDir()).removeRecursively());
    EXPECT_EQ(run.Another({"-service"}, &out), 75) << out.toStdString();
    EXPECT_TRUE(out.contains("message: Vizo is already running")) << out.toStdString();

    run.Signal(SIGKILL);
    EXPECT_EQ(run.Exit(5000), -2);
    run.Start();
    EXPECT_TRUE(run.WaitForLog("status: Idle", 2, 10000)) << run.Log().toStdString();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(5000), 0);
}
