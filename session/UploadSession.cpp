#include "UploadSession.h"

#include "Schedule.h"
#include "SeriesNames.h"
#include "app/CCameraApp.h"
#include "net/Publish.h"
#include "platform/afx/precisewake.h"
#include "res/resource.h"
#include "service/Service.h"
#include "session/CCameraDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <climits>
#include <cmath>
#include <optional>
#include <thread>

namespace
{
const QElapsedTimer& ProgramClock()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

// Below this a Qt timer, whole milliseconds, would overshoot the tick.
constexpr qint64 kSleepBelowNs = 2000000;
} // namespace

qint64 MillisecondClock()
{
    return ProgramClock().elapsed();
}

qint64 NanosecondsUntilMillisecond(qint64 ms)
{
    return ms * 1000000 - ProgramClock().nsecsElapsed();
}

qint64 FramePeriodMs(double fps)
{
    qint64 ms = qMax<qint64>(1, qint64(std::floor(1000.0 / fps)));
    while (1000.0 / double(ms) > fps)
        ++ms;
    return ms;
}

void CCameraApp::RunUploadSession()
{
    UploadSession(*this, m_service).Run();
}

UploadSession::UploadSession(CCameraApp& app, Service& health)
    : m_app(app), m_health(health), m_u(app.m_upload), m_wnd(app.m_pMainWnd)
{
}

UploadSession::~UploadSession() = default;

void UploadSession::Run()
{
    Open();
    switch (m_u.m_nUploadMode) {
    case 0:
        SingleShot();
        break;
    case 1:
        Series();
        break;
    case 2:
        Stream();
        break;
    default:
        break;
    }
    Close();
}

void UploadSession::SetStatus(const QString& text)
{
    m_app.SetStatus(text);
}

void UploadSession::Succeeded(const QString& line)
{
    SetStatus(line);
    m_outcome = SessionOutcome::Success;
    m_reason = line;
}

void UploadSession::Failed()
{
    if (m_outcome == SessionOutcome::Failure && !m_reason.isEmpty())
        return;
    m_outcome = SessionOutcome::Failure;
    m_reason = m_wnd ? m_wnd->m_strStatus : QStringLiteral("no main window to grab from");
    if (m_reason.isEmpty())
        m_reason = QStringLiteral("no status line");
}

namespace
{
void EnableSessionCommands(CCameraDlg* wnd, bool sessionRunning)
{
    if (!wnd)
        return;
    wnd->EnableMenuItem(ID_SESSION_ABORT, sessionRunning);
    wnd->EnableMenuItem(ID_SESSION_UPLOADNOW, !sessionRunning);
    if (QWidget* abort = wnd->GetDlgItem(IDC_ABORT))
        abort->setEnabled(sessionRunning);
    if (QWidget* upload = wnd->GetDlgItem(IDC_UPLOAD_NOW))
        upload->setEnabled(!sessionRunning);
}
} // namespace

void UploadSession::Open()
{
    m_app.m_bSessionActive = 1;
    EnableSessionCommands(m_wnd, true);
    m_u.m_bAbort = 0;
    m_app.m_timeLastStart = CCameraApp::Now();
    m_app.ScheduleNextUpload();
    m_health.SessionStarted(m_app.m_timeLastStart);
    SetStatus(QStringLiteral("Starting capture..."));
    QApplication::beep();
}

void UploadSession::Close()
{
    EnableSessionCommands(m_wnd, false);
    m_app.m_bSessionActive = 0;
    SessionResult result;
    result.outcome = m_u.m_bAbort ? SessionOutcome::Aborted : m_outcome;
    if (result.outcome == SessionOutcome::Failure)
        Failed(); // a path that said nothing of its own: its last line
    PlanAfterSession(m_app, result.outcome);
    result.reason = m_reason;
    if (result.outcome != SessionOutcome::Aborted)
        result.destinations = m_destinations;
    result.nextUpload = m_app.m_timeNextUpload;
    result.schedule = ScheduleFor(m_u);
    m_health.SessionEnded(result);
}

void UploadSession::SingleShot()
{
    if (!m_wnd || !m_wnd->GrabFrame(m_u.m_strLocalPath))
        return Failed();
    const QString started = FormatTimeOfDay(m_app.m_timeLastStart);
    if (!EnabledDestinations(m_u).isEmpty())
        Publish(started);
    else
        Succeeded(QStringLiteral("Succesful capture at ") + started);
    m_app.m_archive.Keep(m_u.m_strLocalPath, m_app.m_timeLastStart, false);
    m_app.ScheduleNextUpload();
}

// Alone, a destination fails with its own last line, as the first always did.
void UploadSession::Publish(const QString& started)
{
    m_u.m_bQuietTransfer = 0;
    const int enabled = int(EnabledDestinations(m_u).size());
    const QVector<DestinationOutcome> outcomes = PublishToAll(m_u);
    bool all = outcomes.size() == enabled;
    for (const DestinationOutcome& o : outcomes) {
        all = all && o.ok;
        m_destinations.push_back({o.number, o.server, o.ok, o.reason, 0, 0});
    }
    if (all)
        Succeeded(QStringLiteral("Succesful upload at ") + started);
    else if (enabled == 1 || m_u.m_bAbort)
        Failed();
    else {
        const QString line = FailedUploadLine(outcomes, started);
        SetStatus(line);
        m_outcome = SessionOutcome::Failure;
        m_reason = line;
    }
}

// A stored rate of 0 or less would hold every frame until Abort; such a value
// can only come from a hand-edited store, so the default rate stands in.
double UploadSession::MaxFps() const
{
    const double fps = m_u.m_fMaxFps;
    return (std::isfinite(fps) && fps > 0) ? fps : 2.0;
}

// Waits until one frame period has passed since the previous wait ended, and
// while paused. Sleeps in the event loop; any event wakes it to look again.
// The wait ends on the very tick on which the counter reaches the period: a
// timer rounded to whole milliseconds would add half a millisecond to every
// frame on average, 1.5% of the rate at 30 fps. Without an exact timer the
// last stretch is slept.
void UploadSession::FrameRateWait(qint64& start, qint64& prev, qint64& now)
{
    const double fps = MaxFps();
    const double periodMs = 1000.0 / fps;
    const qint64 target = prev + FramePeriodMs(fps);
    bool pausedSeen = false;
    qint64 elapsed = 0;
    std::optional<QTimer> deadline; // only where the exact wake is missing, or paused
    if (!m_wake)
        m_wake = std::make_unique<PreciseWake>();
    // Each wait below handles what arrives while it waits; what came before
    // is handled here.
    PumpMessages();
    for (;;) {
        now = MillisecondClock();
        const bool paused = m_wnd && m_wnd->m_bPaused;
        pausedSeen = pausedSeen || paused;
        elapsed = now - prev;
        const bool tooFast = elapsed == 0 || 1000.0 / double(elapsed) > fps;
        if (!(tooFast || paused) || m_u.m_bAbort)
            break;
        const qint64 ns = NanosecondsUntilMillisecond(target);
        if (!paused && m_wake->Arm(ns)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            continue;
        }
        if (!deadline) {
            deadline.emplace();
            deadline->setSingleShot(true);
            deadline->setTimerType(Qt::PreciseTimer);
        }
        if (!paused) {
            if (ns < kSleepBelowNs) {
                std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
                PumpMessages();
                continue;
            }
            deadline->start(int(qMin<qint64>((ns - kSleepBelowNs / 2) / 1000000, INT_MAX)));
        } else if (!deadline->isActive()) {
            deadline->start(250);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (pausedSeen)
        start += elapsed - qint64(std::trunc(periodMs));
    prev = now;
}

void UploadSession::ClearPause()
{
    if (!m_wnd)
        return;
    m_wnd->m_bPaused = 0;
    m_wnd->UpdatePauseState();
}
