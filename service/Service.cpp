#include "Service.h"

#include "HealthReport.h"
#include "net/CUpload.h"
#include "platform/afx/log.h"

#include <QFile>
#include <memory>

namespace Service
{
namespace
{
// Long enough for a mail to go out over a slow link, short enough that a
// hung command cannot pile up over a day of failures.
constexpr int kNotifyLimitMs = 60000;

struct Monitor {
    HealthState state;
    QString path;
    QString notifyCommand;
    QStringList lines;
    bool inSession = false;
    bool writeFailed = false;
};
std::unique_ptr<Monitor> g_monitor;

void Write()
{
    Monitor& m = *g_monitor;
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

void Notify(const char* event, const QString& reason, std::time_t when)
{
    const QString command = g_monitor->notifyCommand.trimmed();
    if (command.isEmpty())
        return;
    QString error;
    if (StartNotifyCommand(command, QLatin1String(event), reason, IsoLocalTime(when),
                           kNotifyLimitMs, &error))
        LogLine("notify", QStringLiteral("%1: started '%2'").arg(QLatin1String(event), command));
    else
        LogLine("notify", QStringLiteral("%1: could not start '%2': %3")
                              .arg(QLatin1String(event), command, error));
}

bool IsProgressOrClosing(const QString& line)
{
    return line.endsWith(QLatin1String("...")) || line == QLatin1String("FTP session closed.") ||
           (line.startsWith(QLatin1String("FTP session to ")) &&
            line.endsWith(QLatin1String(" opened.")));
}

bool IsSummary(const QString& line)
{
    return line == QLatin1String("FTP session failed") ||
           line.startsWith(QLatin1String("Failed series at ")) ||
           line.startsWith(QLatin1String("Continuous stream interrupted at "));
}
} // namespace

SessionOutcome OutcomeOf(const QStringList& lines, bool aborted)
{
    if (aborted)
        return SessionOutcome::Aborted;
    const QString last = lines.isEmpty() ? QString() : lines.last();
    for (const char* success : {"Succesful upload at ", "Succesful capture at ",
                                "Uploaded series at ", "Uploaded stream at "})
        if (last.startsWith(QLatin1String(success)))
            return SessionOutcome::Success;
    return SessionOutcome::Failure;
}

QString FailureReason(const QStringList& lines)
{
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!IsProgressOrClosing(*it) && !IsSummary(*it))
            return *it;
    return lines.isEmpty() ? QStringLiteral("no status line") : lines.last();
}

void Start(const StartInfo& info)
{
    g_monitor = std::make_unique<Monitor>();
    Monitor& m = *g_monitor;
    m.path = StatusFilePath();
    QFile previous(m.path);
    QString error;
    if (previous.open(QIODevice::ReadOnly) && !HealthFromJson(previous.readAll(), &m.state, &error))
        LogLine("service", QStringLiteral("The previous status report %1 could not be read (%2); "
                                          "starting a new one")
                               .arg(m.path, error));
    m.state.version = info.version;
    m.state.mode = QLatin1String(info.serviceMode ? "service" : "window");
    m.state.camera = info.camera;
    m.state.cameraOk = true;
    m.state.schedule = info.schedule;
    m.state.nextUpload = info.nextUpload;
    m.notifyCommand = info.notifyCommand;
    SetLogTap([](const char* kind, const QString& text) {
        if (g_monitor && g_monitor->inSession && qstrcmp(kind, "status") == 0)
            g_monitor->lines << text;
    });
    Write();
}

void Stop()
{
    SetLogTap(nullptr);
    g_monitor.reset();
}

void SetNotifyCommand(const QString& command)
{
    if (g_monitor)
        g_monitor->notifyCommand = command;
}

void SessionStarted(std::time_t start)
{
    if (!g_monitor)
        return;
    g_monitor->state.lastStart = start;
    g_monitor->lines.clear();
    g_monitor->inSession = true;
}

ScheduleSettings ScheduleOf(const CUpload& u)
{
    return {u.m_nIntervalSecs, u.m_b24Hours, u.m_nFromSecs, u.m_nToSecs, u.m_nUploadMode};
}

void SessionEnded(const CUpload& settings, std::time_t nextUpload)
{
    if (!g_monitor)
        return;
    Monitor& m = *g_monitor;
    m.inSession = false;
    HealthState& s = m.state;
    s.schedule = ScheduleOf(settings);
    s.nextUpload = nextUpload;
    const SessionOutcome outcome = OutcomeOf(m.lines, settings.m_bAbort != 0);
    const char* event = NotifyEventFor(s.consecutiveFailures, outcome);
    const std::time_t now = std::time(nullptr);
    if (outcome == SessionOutcome::Success) {
        s.lastSuccess = now;
        s.consecutiveFailures = 0;
    } else if (outcome == SessionOutcome::Failure) {
        s.lastFailure = now;
        s.lastFailureReason = FailureReason(m.lines);
        ++s.consecutiveFailures;
    }
    Write();
    if (event)
        Notify(event, outcome == SessionOutcome::Failure ? s.lastFailureReason : m.lines.last(),
               now);
}

void SetCameraState(const QString& name, bool ok)
{
    if (!g_monitor)
        return;
    HealthState& s = g_monitor->state;
    if (s.camera == name && s.cameraOk == ok)
        return;
    s.camera = name;
    s.cameraOk = ok;
    Write();
}
} // namespace Service
