#include "Schedule.h"

#include "app/CCameraApp.h"
#include "session/CCameraDlg.h"

int LocalTimeOfDay(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

std::time_t LocalTimeOnDay(std::time_t t, int dayOffset, int secsAfterMidnight)
{
    std::tm local{};
    localtime_r(&t, &local);
    local.tm_mday += dayOffset;
    local.tm_hour = secsAfterMidnight / 3600;
    local.tm_min = secsAfterMidnight / 60 % 60;
    local.tm_sec = secsAfterMidnight % 60;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

QString FormatTimeOfDay(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return QString::fromLatin1(text);
}

std::time_t ComputeNextUpload(std::time_t now, std::time_t lastStart, const ScheduleSettings& s)
{
    // Counted from the start of the last session, not aligned to any grid.
    std::time_t next = s.uploadMode == 2 ? now : lastStart + std::time_t(s.intervalSecs);
    if (!s.b24Hours) {
        // The period is placed on the day of now, never on the day of next.
        if (next > LocalTimeOnDay(now, 0, s.toSecs))
            next = LocalTimeOnDay(now, 1, s.fromSecs);
        const std::time_t from = LocalTimeOnDay(now, 0, s.fromSecs);
        if (next < from)
            next = from;
    }
    if (now >= next)
        next = now + 5;
    return next;
}

bool WithinUploadPeriod(std::time_t now, const ScheduleSettings& s)
{
    if (s.b24Hours)
        return true;
    const int tod = LocalTimeOfDay(now);
    return tod <= s.toSecs && tod >= s.fromSecs;
}

namespace
{
ScheduleSettings FromRecord(const CUpload& u)
{
    return {u.m_nIntervalSecs, u.m_b24Hours, u.m_nFromSecs, u.m_nToSecs, u.m_nUploadMode};
}
} // namespace

void CCameraApp::ScheduleNextUpload()
{
    m_timeNextUpload = ComputeNextUpload(Now(), m_timeLastStart, FromRecord(m_upload));
    if (m_pMainWnd)
        m_pMainWnd->ShowNextUpload(m_timeNextUpload);
}

bool CCameraApp::IsWithinUploadPeriod()
{
    return WithinUploadPeriod(Now(), FromRecord(m_upload));
}

void CCameraApp::OnScheduleTick(std::time_t t)
{
    if (m_bSessionActive)
        return;
    if (t == 0)
        t = Now();
    // A missed second is not caught up; it moves on, even while held or paused.
    if (t > m_timeNextUpload)
        ScheduleNextUpload();
    if ((m_pMainWnd && m_pMainWnd->m_bPaused) || m_bModalOpen)
        return;
    if (t == m_timeNextUpload)
        RunUploadSession();
}

void CCameraApp::OnUploadNow()
{
    m_timeNextUpload = Now() + 1;
}
