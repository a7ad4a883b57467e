#include "NotifyHook.h"

#include "platform/afx/log.h"

#include <QObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <sys/syscall.h>
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
// A detached command is not our child, so its pid may be reused once it
// ends; a pidfd names exactly that process and tells when it has ended.
class HookWatch : public QObject
{
public:
    HookWatch(int pidfd, int limitMs, const QString& command)
        : m_fd(pidfd), m_exited(pidfd, QSocketNotifier::Read), m_command(command)
    {
        connect(&m_exited, &QSocketNotifier::activated, this, &QObject::deleteLater);
        m_limit.setSingleShot(true);
        connect(&m_limit, &QTimer::timeout, this, [this, limitMs] {
            LogLine("notify", QStringLiteral("'%1' still ran after %2 s and was stopped")
                                  .arg(m_command)
                                  .arg(limitMs / 1000.0));
            syscall(SYS_pidfd_send_signal, m_fd, SIGKILL, nullptr, 0);
            deleteLater();
        });
        m_limit.start(limitMs);
    }
    ~HookWatch() override
    {
        m_exited.setEnabled(false);
        ::close(m_fd);
    }

private:
    int m_fd;
    QSocketNotifier m_exited;
    QTimer m_limit;
    QString m_command;
};
} // namespace

bool StartNotifyCommand(const QString& command, const QString& event, const QString& reason,
                        const QString& time, int limitMs, QString* error)
{
    QStringList args = QProcess::splitCommand(command);
    if (args.isEmpty()) {
        *error = QStringLiteral("the command is empty");
        return false;
    }
    QProcess process;
    process.setProgram(args.takeFirst());
    process.setArguments(args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VIZO_EVENT"), event);
    env.insert(QStringLiteral("VIZO_REASON"), reason);
    env.insert(QStringLiteral("VIZO_TIME"), time);
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *error = process.errorString();
        return false;
    }
    const int fd = int(syscall(SYS_pidfd_open, pid_t(pid), 0));
    if (fd < 0)
        return true; // already gone (or no pidfd): nothing left to limit
    new HookWatch(fd, limitMs, command);
    return true;
}
