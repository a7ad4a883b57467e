// The notify command as real processes: its environment, its limit over
// everything it started, and how much of its output reaches the log.
#include "platform/afx/log.h"
#include "service/NotifyHook.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>

namespace
{
class NotifyTest : public ::testing::Test
{
protected:
    NotifyTest()
    {
        m_previous = SetLogObserver([this](const char* kind, const QString& text) {
            if (qstrcmp(kind, "notify") == 0)
                log << text;
        });
    }
    ~NotifyTest() override { SetLogObserver(m_previous); }

    // Starts the command with plain arguments; fails the test when it cannot.
    void Run(NotifyRunner& runner, const QString& command)
    {
        QString error;
        ASSERT_TRUE(runner.Start(command, "failure", "r", "t", &error)) << error.toStdString();
    }
    // The pid a command wrote to a file of the scratch folder.
    pid_t PidIn(const QString& name)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WaitFor([&] { return QFileInfo(path).size() > 0; }, 5000))
            << name.toStdString();
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toInt()) : 0;
    }
    // Gone, or a zombie waiting for whoever adopted it.
    static bool Ended(pid_t pid)
    {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    }
    // A command that leaves a child in the background, then hangs.
    QString Hanging() const
    {
        return QString("/bin/sh -c \"sleep 300 & echo $! > %1/child; echo $$ > %1/leader; "
                       "exec sleep 300\"")
            .arg(dir.path());
    }

    QTemporaryDir dir;
    QStringList log;

private:
    LogObserver m_previous;
};
} // namespace

TEST_F(NotifyTest, CommandWithoutShellVariablesAndStartProblems)
{
    NotifyRunner runner;
    const QString out = dir.filePath("vars");
    QString error;
    // Metacharacters stay text: no shell reads the command or the reason.
    const QString reason = "FTP failed; $(touch " + dir.path() + "/injected)";
    ASSERT_TRUE(runner.Start(QString("/bin/sh -c \"env > %1\"").arg(out), "failure", reason,
                             "2026-12-07T10:00:00+01:00", &error))
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

    Run(runner, "/usr/bin/touch " + dir.path() + "/x$(id)");
    EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(dir.path() + "/x$(id)"); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return runner.Running() == 0; }, 5000));

    EXPECT_FALSE(runner.Start(dir.path() + "/no-such-command", "failure", "r", "t", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(runner.Start("   ", "failure", "r", "t", &error));
    EXPECT_EQ(runner.Running(), 0);
}

// At the limit the whole group goes, the child it left in the background too.
TEST_F(NotifyTest, LimitStopsTheCommandAndEverythingItStarted)
{
    NotifyRunner runner(1000);
    Run(runner, Hanging());
    const pid_t leader = PidIn("leader"), child = PidIn("child");
    ASSERT_GT(leader, 0);
    ASSERT_GT(child, 0);
    EXPECT_FALSE(Ended(child));
    EXPECT_TRUE(WaitFor([&] { return Ended(leader) && Ended(child); }, 8000))
        << log.join('\n').toStdString();
    EXPECT_TRUE(WaitFor([&] { return runner.Running() == 0; }, 2000));
    EXPECT_EQ(log.filter("still ran after 1 s and was stopped").size(), 1)
        << log.join('\n').toStdString();

    // A leader that ends at once does not take its background child's limit away.
    Run(runner, QString("/bin/sh -c \"sleep 300 & echo $! > %1/orphan\"").arg(dir.path()));
    const pid_t orphan = PidIn("orphan");
    ASSERT_GT(orphan, 0);
    EXPECT_TRUE(WaitFor([&] { return Ended(orphan); }, 8000));
}

TEST_F(NotifyTest, CommandsStillRunningAtTheEndAreStopped)
{
    pid_t leader = 0, child = 0;
    {
        NotifyRunner runner;
        Run(runner, Hanging());
        leader = PidIn("leader");
        child = PidIn("child");
        ASSERT_GT(child, 0);
        EXPECT_EQ(runner.Running(), 1);
    }
    EXPECT_TRUE(WaitFor([&] { return Ended(leader) && Ended(child); }, 3000));
    EXPECT_EQ(log.filter("still ran at exit and was stopped").size(), 1)
        << log.join('\n').toStdString();
}

// 20 MB of output: the first 4 KB reach the log, with what was dropped said.
TEST_F(NotifyTest, OutputKeptToItsFirstBytes)
{
    NotifyRunner runner;
    Run(runner, "/bin/sh -c \"printf 'start\\033[2J'; head -c 20000000 /dev/zero | tr '\\0' x\"");
    ASSERT_TRUE(WaitFor([&] { return runner.Running() == 0; }, 30000));
    const QStringList said = log.filter("output of ");
    ASSERT_EQ(said.size(), 1) << log.join('\n').left(2000).toStdString();
    const QString& line = said.first();
    EXPECT_LT(line.size(), 4096 + 300);
    EXPECT_TRUE(line.contains(": start\\x1b[2Jxxx")) << line.left(300).toStdString();
    // 9 bytes of "start\e[2J" plus 20,000,000 x, of which 4,096 bytes kept.
    EXPECT_TRUE(line.endsWith(QString("x [%1 more bytes of output dropped]").arg(20000009 - 4096)))
        << line.right(200).toStdString();
}
