#include "Schedule.h"

#include "app/CCameraApp.h"
#include "platform/afx/log.h"
#include "service/NotifyHook.h"
#include "session/CCameraDlg.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>

namespace
{
DaylightRule g_daylight;
// The next upload time already placed by the rules above, and one the user
// asked for with Upload Now (kept even at night, as outside the period).
std::time_t g_placed = 0;
std::time_t g_requested = 0;
bool g_reportedNone = false;

// The back-off after failed uploads. While base is set the regular upload
// time counts from that session's start, so tries in between never move it.
struct RetryState {
    const CCameraApp* app = nullptr;
    bool enabled = true;
    int failures = 0;     // in a row within this back-off
    std::time_t base = 0; // start of the session that failed first; 0: none
    std::time_t regular = 0;
    std::time_t at = 0; // the planned try; 0: none
};
RetryState g_retry;
std::function<double()> g_retryJitter;

double RetryJitter()
{
    return g_retryJitter ? g_retryJitter() : QRandomGenerator::global()->generateDouble() * 2 - 1;
}

void EndBackOff()
{
    g_retry.failures = 0;
    g_retry.base = g_retry.regular = g_retry.at = 0;
}

// The back-off holds while the application's next upload time is one it knows
// of; another application object, or a time set elsewhere, starts afresh.
RetryState& BackOffOf(const CCameraApp& app)
{
    const std::time_t next = app.m_timeNextUpload;
    if (g_retry.app != &app ||
        (next != g_retry.at && next != g_retry.regular && next != g_requested))
        EndBackOff();
    g_retry.app = &app;
    return g_retry;
}

std::time_t RegularBase(const CCameraApp& app, std::time_t now)
{
    const RetryState& r = BackOffOf(app);
    if (r.enabled && r.base && now < r.regular)
        return r.base;
    EndBackOff();
    return app.m_timeLastStart;
}
} // namespace

void SetRetryFailed(bool on)
{
    g_retry.enabled = on;
}

bool RetryFailedInForce()
{
    return g_retry.enabled;
}

void SetRetryJitterSource(std::function<double()> source)
{
    g_retryJitter = std::move(source);
}

void SetDaylightRule(const DaylightRule& rule)
{
    g_daylight = rule;
}

const DaylightRule& CurrentDaylightRule()
{
    return g_daylight;
}

ScheduleSettings ScheduleFor(const CUpload& u)
{
    ScheduleSettings s(u.m_nIntervalSecs, u.m_b24Hours, u.m_nFromSecs, u.m_nToSecs,
                       u.m_nUploadMode);
    s.daylight = g_daylight;
    return s;
}

namespace
{
void ReportPlan(CCameraApp& app, const UploadTime& next, const ScheduleSettings& s, std::time_t now)
{
    if (!next.found && !g_reportedNone) {
        const QString why =
            QStringLiteral("No upload within %1 days: the sun never rises above %2 degrees "
                           "at %3, %4 within the upload period. Check Daylight on the "
                           "Upload page.")
                .arg(kDaylightSearchDays)
                .arg(s.daylight.altitude)
                .arg(s.daylight.latitude)
                .arg(s.daylight.longitude);
        // Logged even without a window: a service must say why it is silent.
        if (app.m_pMainWnd)
            app.SetStatus(why);
        else
            LogStatus(why);
    }
    g_reportedNone = !next.found;
    if (next.found && s.daylight.enabled && next.at - now >= 86400)
        LogLine("schedule", QStringLiteral("Waiting for daylight: next upload at %1")
                                .arg(FormatNextUpload(next.at, now)));
}
} // namespace

void CCameraApp::ScheduleNextUpload()
{
    const ScheduleSettings s = ScheduleFor(m_upload);
    const std::time_t now = Now();
    const UploadTime next = PlanNextUpload(now, RegularBase(*this, now), s);
    if (s.daylight.enabled && next.at != m_timeNextUpload)
        ReportPlan(*this, next, s, now);
    m_timeNextUpload = g_placed = next.at;
    g_retry.at = 0;
    if (g_retry.base)
        g_retry.regular = next.at;
    if (m_pMainWnd)
        m_pMainWnd->ShowNextUpload(m_timeNextUpload);
}

bool CCameraApp::IsWithinUploadPeriod()
{
    return WithinUploadPeriod(Now(), ScheduleFor(m_upload));
}

void CCameraApp::OnScheduleTick(std::time_t t)
{
    if (m_bSessionActive)
        return;
    if (t == 0)
        t = Now();
    // The time set at start-up knows nothing of daylight: place it once.
    if (g_daylight.enabled && m_timeNextUpload != g_placed && m_timeNextUpload != g_requested) {
        const ScheduleSettings s = ScheduleFor(m_upload);
        const UploadTime first = FirstAllowedFrom(m_timeNextUpload, s);
        ReportPlan(*this, first, s, t);
        m_timeNextUpload = g_placed = first.at;
        if (m_pMainWnd)
            m_pMainWnd->ShowNextUpload(m_timeNextUpload);
    }
    // A missed second is not caught up; it moves on, even while held or paused.
    if (t > m_timeNextUpload)
        ScheduleNextUpload();
    const bool paused = m_pMainWnd && m_pMainWnd->m_bPaused;
    if (paused && BackOffOf(*this).at && m_timeNextUpload == g_retry.at) {
        // Pausing gives up the tries; the regular time stands.
        g_retry.failures = 0;
        ScheduleNextUpload();
    }
    if (paused || m_bModalOpen)
        return;
    if (t == m_timeNextUpload)
        RunUploadSession();
}

void CCameraApp::OnUploadNow()
{
    m_timeNextUpload = g_requested = Now() + 1;
}

void PlanAfterSession(CCameraApp& app, SessionOutcome outcome)
{
    RetryState& r = BackOffOf(app);
    const int mode = app.m_upload.m_nUploadMode;
    // A stream starts again within seconds by itself.
    if (outcome != SessionOutcome::Failure || !r.enabled || (mode != 0 && mode != 1)) {
        r.failures = 0;
        return;
    }
    if (!r.base) {
        r.base = app.m_timeLastStart;
        r.regular = app.m_timeNextUpload;
    }
    const std::time_t now = CCameraApp::Now();
    const auto at = NextRetry(++r.failures, now, r.regular, RetryJitter());
    if (!at || !WithinUploadPeriod(*at, ScheduleFor(app.m_upload)))
        return;
    app.m_timeNextUpload = g_placed = r.at = *at;
    LogLine("schedule", QStringLiteral("Upload failed; trying again at ") + FormatTimeOfDay(*at));
    if (app.m_pMainWnd)
        app.m_pMainWnd->ShowNextUpload(*at);
}
