// The service manager's notes, read from the datagram socket a manager would
// give the program, and the packaged unit as the manager reads it.
#include "service/Watchdog.h"
#include "ServiceRun.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
class NotifySocket
{
public:
    explicit NotifySocket(const QString& path) : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool Bound() const { return m_bound; }
    // The next note, or an empty string when none came within ms.
    QString Next(int ms)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return QString();
        char buf[512];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n > 0 ? QString::fromUtf8(buf, int(n)) : QString();
    }

private:
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
};

void ConfigureOffline(ServiceRun& run)
{
    QDir().mkpath(run.Dir() + "/pictures");
    Profile p = run.Store();
    p.WriteInt(Keys::UseDialup.section, Keys::UseDialup.entry, 0);
    p.WriteInt(Keys::UseFtp.section, Keys::UseFtp.entry, 0);
    p.WriteString(Keys::LocalPath.section, Keys::LocalPath.entry, run.Picture());
    p.WriteInt(Keys::IntervalSecs.section, Keys::IntervalSecs.entry, 3600);
}
} // namespace

TEST(Watchdog, BeatIsHalfTheLimit)
{
    EXPECT_EQ(WatchdogBeatMs(0), 0);
    EXPECT_EQ(WatchdogBeatMs(120000000), 60000);
    EXPECT_EQ(WatchdogBeatMs(1000), 1); // never a zero period that would spin
    EXPECT_EQ(WatchdogBeatMs(~std::uint64_t(0)), INT_MAX);
}

TEST(Watchdog, ReadyThenBeatsThenStopping)
{
    ServiceRun run;
    ConfigureOffline(run);
    NotifySocket manager(run.Dir() + "/notify");
    ASSERT_TRUE(manager.Bound());
    run.SetEnv("NOTIFY_SOCKET", run.Dir() + "/notify");
    run.SetEnv("WATCHDOG_USEC", "1000000");
    run.Start();

    ASSERT_EQ(manager.Next(20000), "READY=1") << run.Log().toStdString();
    QElapsedTimer clock;
    clock.start();
    int beats = 0;
    while (clock.elapsed() < 3000) {
        const QString note = manager.Next(3000);
        ASSERT_EQ(note, "WATCHDOG=1");
        ++beats;
    }
    // Six at 500 ms; a loaded machine may delay a beat, never add one.
    EXPECT_GE(beats, 4);
    EXPECT_LE(beats, 7);
    EXPECT_TRUE(run.WaitForLog("Watchdog fed every 500 ms", 1, 5000));

    run.Signal(SIGTERM);
    QString note;
    do
        note = manager.Next(10000);
    while (note == "WATCHDOG=1");
    EXPECT_EQ(note, "STOPPING=1");
    EXPECT_EQ(run.Exit(10000), 0);
}

TEST(Watchdog, NoNotesWithoutAManager)
{
    ServiceRun run;
    ConfigureOffline(run);
    run.Start();
    ASSERT_TRUE(run.WaitForLog("status: Idle")) << run.Log().toStdString();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Exit(10000), 0);
    EXPECT_FALSE(run.Log().contains("Watchdog"));
}

TEST(Watchdog, PackagedUnitIsValidForTheManager)
{
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    QFile in(VIZO_SOURCE_DIR "/res/service/vizo.service.in");
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QString unit = QString::fromUtf8(in.readAll());
    unit.replace("@VIZO_BINDIR@", VIZO_BUILD_DIR);
    EXPECT_TRUE(unit.contains("\nType=notify\n"));
    EXPECT_TRUE(unit.contains("\nWatchdogSec=120"));
    QTemporaryDir dir;
    QFile out(dir.path() + "/vizo.service");
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(unit.toUtf8());
    out.close();
    QProcess verify;
    verify.start("systemd-analyze", {"verify", "--man=no", out.fileName()});
    ASSERT_TRUE(verify.waitForFinished(30000));
    // It warns on stderr, exit 0, about values it ignores: a warning is a failure here.
    EXPECT_EQ(verify.exitCode(), 0);
    EXPECT_EQ(QString::fromLocal8Bit(verify.readAllStandardError()).trimmed(), QString());
}
