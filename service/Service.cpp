#include "Service.h"

#include "platform/afx/log.h"

#include <QMetaObject>
#include <QThread>

struct Service::Monitor {
    HealthState state;
    QString path;
    QString notifyCommand;
    std::unique_ptr<NotifyRunner> notify;
    bool writeFailed = false;
};

QVector<DestinationHealth> MergeDestinations(const QVector<DestinationHealth>& before,
                                             const QVector<DestinationHealth>& tried,
                                             std::time_t now)
{
    QVector<DestinationHealth> merged;
    for (DestinationHealth d : tried) {
        // Times carry on only for the same place: a changed server starts afresh.
        for (const DestinationHealth& old : before)
            if (old.number == d.number && old.server == d.server) {
                d.lastSuccess = old.lastSuccess;
                d.lastFailure = old.lastFailure;
            }
        (d.ok ? d.lastSuccess : d.lastFailure) = now;
        if (d.ok)
            d.reason.clear();
        merged.push_back(d);
    }
    return merged;
}

Service::Service() = default;
Service::~Service() = default;

void Service::Write()
{
    Monitor& m = *m_monitor;
    QString error;
    if (WriteHealthFile(m.path, m.state, &error)) {
        if (m.writeFailed)
            LogLine("service", QStringLiteral("Status report written again to %1").arg(m.path));
        m.writeFailed = false;
    } else if (!m.writeFailed) {
        // Once per spell of failures: the uploads go on regardless.
        LogLine("service",
                QStringLiteral("Cannot write the status report %1: %2").arg(m.path, error));
        m.writeFailed = true;
    }
}

void Service::Notify(const char* event, const QString& reason, std::time_t when)
{
    const QString command = m_monitor->notifyCommand.trimmed();
    if (command.isEmpty())
        return;
    QString error;
    if (m_monitor->notify->Start(command, QLatin1String(event), reason, IsoLocalTime(when), &error))
        LogLine("notify", QStringLiteral("%1: started '%2'").arg(QLatin1String(event), command));
    else
        LogLine("notify", QStringLiteral("%1: could not start '%2': %3")
                              .arg(QLatin1String(event), command, error));
}

void Service::Start(const StartInfo& info)
{
    m_monitor = std::make_unique<Monitor>();
    Monitor& m = *m_monitor;
    m.path = StatusFilePath();
    m.notify = std::make_unique<NotifyRunner>(info.notifyLimitMs);
    QByteArray previous;
    QString error;
    const ReportRead read = ReadHealthFile(m.path, &previous, &error);
    // A report that is not ours (a link, a FIFO, a huge file) is left where it
    // is: the first write replaces it.
    if (read == ReportRead::Refused ||
        (read == ReportRead::Ok && !HealthFromJson(previous, &m.state, &error)))
        LogLine("service", QStringLiteral("The previous status report %1 could not be read (%2); "
                                          "starting a new one")
                               .arg(m.path, error));
    m.state.version = info.version;
    m.state.mode = QLatin1String(info.serviceMode ? "service" : "window");
    m.state.camera = info.camera;
    m.state.cameraOk = true;
    // Only what the archive said in this run (it may have said it before Start).
    m.state.archiveState = m_archiveState;
    m.state.archiveReason = m_archiveReason;
    m.state.queueLength = m_queueLength;
    m.state.oldestQueued = m_queueOldest;
    m.state.schedule = info.schedule;
    m.state.nextUpload = info.nextUpload;
    m.notifyCommand = info.notifyCommand;
    Write();
}

void Service::Stop()
{
    m_monitor.reset();
}

void Service::SetNotifyCommand(const QString& command)
{
    if (m_monitor)
        m_monitor->notifyCommand = command;
}

void Service::SessionStarted(std::time_t start)
{
    if (m_monitor)
        m_monitor->state.lastStart = start;
}

void Service::SessionEnded(const SessionResult& result)
{
    if (!m_monitor)
        return;
    HealthState& s = m_monitor->state;
    s.schedule = result.schedule;
    s.nextUpload = result.nextUpload;
    const char* event = NotifyEventFor(s.consecutiveFailures, result.outcome);
    const std::time_t now = std::time(nullptr);
    if (result.outcome == SessionOutcome::Success) {
        s.lastSuccess = now;
        s.consecutiveFailures = 0;
    } else if (result.outcome == SessionOutcome::Failure) {
        s.lastFailure = now;
        s.lastFailureReason = result.reason;
        ++s.consecutiveFailures;
    }
    if (!result.destinations.isEmpty())
        s.destinations = MergeDestinations(s.destinations, result.destinations, now);
    Write();
    if (event)
        Notify(event, result.reason, now);
}

void Service::SetCameraState(const QString& name, bool ok)
{
    if (!m_monitor)
        return;
    HealthState& s = m_monitor->state;
    if (s.camera == name && s.cameraOk == ok)
        return;
    s.camera = name;
    s.cameraOk = ok;
    Write();
}

void Service::SetArchiveState(bool ok, const QString& reason)
{
    if (QThread::currentThread() != m_thread.thread()) {
        QMetaObject::invokeMethod(
            &m_thread, [this, ok, reason] { SetArchiveState(ok, reason); }, Qt::QueuedConnection);
        return;
    }
    const QString state = QLatin1String(ok ? "ok" : "failing");
    const QString why = ok ? QString() : reason;
    if (m_archiveState == state && m_archiveReason == why)
        return;
    m_archiveState = state;
    m_archiveReason = why;
    if (!m_monitor)
        return;
    m_monitor->state.archiveState = state;
    m_monitor->state.archiveReason = why;
    Write();
}

void Service::SetQueueState(int length, std::time_t oldest)
{
    if (length == m_queueLength && oldest == m_queueOldest)
        return;
    m_queueLength = length;
    m_queueOldest = oldest;
    if (!m_monitor)
        return;
    m_monitor->state.queueLength = length;
    m_monitor->state.oldestQueued = oldest;
    Write();
}
