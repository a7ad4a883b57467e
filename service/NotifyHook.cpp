#include "NotifyHook.h"

#include "HealthReport.h"
#include "platform/afx/log.h"

#include <QProcess>
#include <QTimer>
#include <csignal>
#include <unistd.h>

const char* NotifyEventFor(int failuresBefore, SessionOutcome outcome)
{
    if (outcome == SessionOutcome::Failure && failuresBefore == 0)
        return "failure";
    if (outcome == SessionOutcome::Success && failuresBefore > 0)
        return "recovered";
    return nullptr;
}

namespace
{
// One command and its process group. The group outlives its leader when the
// command leaves something running in the background; the limit still holds
// for that.
class NotifyRun : public QObject
{
public:
    NotifyRun(QObject* parent, const QString& command, int limitMs)
        : QObject(parent), m_command(command), m_limitMs(limitMs)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setChildProcessModifier([] { ::setsid(); });
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] { Take(); });
        QObject::connect(&m_process, &QProcess::finished, this, [this] { LeaderEnded(); });
        m_limit.setSingleShot(true);
        QObject::connect(&m_limit, &QTimer::timeout, this, [this] { AtLimit(); });
    }
    ~NotifyRun() override
    {
        if (m_stopped || !GroupAlive())
            return;
        LogLine("notify", QStringLiteral("'%1' still ran at exit and was stopped").arg(m_command));
        StopGroup(SIGTERM);
        if (!m_process.waitForFinished(1000))
            StopGroup(SIGKILL);
        m_process.waitForFinished(1000);
    }
    QProcess& Process() { return m_process; }
    void Started()
    {
        m_group = pid_t(m_process.processId());
        m_limit.start(m_limitMs);
    }

private:
    void Take()
    {
        const QByteArray chunk = m_process.readAllStandardOutput();
        const qsizetype room = NotifyRunner::kOutputKeptBytes - m_head.size();
        m_head += chunk.left(qMax<qsizetype>(0, room));
        m_dropped += qMax<qsizetype>(0, chunk.size() - room);
    }
    void LeaderEnded()
    {
        Take();
        LogOutput();
        // Killed members may stay zombies for a while: once stopped, done.
        if (m_stopped || !GroupAlive()) {
            m_limit.stop();
            deleteLater();
        }
    }
    void AtLimit()
    {
        LogLine("notify", QStringLiteral("'%1' still ran after %2 s and was stopped, with the "
                                         "processes it started")
                              .arg(m_command)
                              .arg(m_limitMs / 1000.0));
        StopGroup(SIGKILL);
        m_stopped = true;
        if (m_process.state() == QProcess::NotRunning)
            deleteLater(); // its output was logged when it ended
    }
    void LogOutput()
    {
        if (m_logged || (m_head.isEmpty() && !m_dropped))
            return;
        m_logged = true;
        QStringList lines = QString::fromLocal8Bit(m_head).split(QLatin1Char('\n'));
        for (QString& line : lines)
            line = EscapeControls(line);
        QString text = QStringLiteral("output of '%1': %2").arg(m_command, lines.join('\n'));
        if (m_dropped)
            text += QStringLiteral(" [%1 more bytes of output dropped]").arg(m_dropped);
        LogLine("notify", text);
    }
    bool GroupAlive() const { return m_group > 0 && ::kill(-m_group, 0) == 0; }
    void StopGroup(int sig) const
    {
        if (m_group > 0)
            ::kill(-m_group, sig);
    }

    QString m_command;
    int m_limitMs;
    QProcess m_process;
    QTimer m_limit;
    pid_t m_group = 0;
    QByteArray m_head;
    qint64 m_dropped = 0;
    bool m_logged = false;
    bool m_stopped = false;
};
} // namespace

NotifyRunner::~NotifyRunner()
{
    // Each run stops its group as it goes.
    qDeleteAll(m_runs.findChildren<NotifyRun*>(Qt::FindDirectChildrenOnly));
}

int NotifyRunner::Running() const
{
    return int(m_runs.findChildren<NotifyRun*>(Qt::FindDirectChildrenOnly).size());
}

bool NotifyRunner::Start(const QString& command, const QString& event, const QString& reason,
                         const QString& time, QString* error)
{
    QStringList args = QProcess::splitCommand(command);
    if (args.isEmpty()) {
        *error = QStringLiteral("the command is empty");
        return false;
    }
    auto* run = new NotifyRun(&m_runs, command, m_limitMs);
    QProcess& process = run->Process();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VIZO_EVENT"), event);
    env.insert(QStringLiteral("VIZO_REASON"), reason);
    env.insert(QStringLiteral("VIZO_TIME"), time);
    process.setProcessEnvironment(env);
    process.setProgram(args.takeFirst());
    process.setArguments(args);
    process.start();
    if (!process.waitForStarted(5000)) {
        *error = process.errorString();
        delete run;
        return false;
    }
    run->Started();
    return true;
}
