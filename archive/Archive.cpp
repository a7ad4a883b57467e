#include "Archive.h"

#include "ArchiveFiles.h"
#include "TimelapseJob.h"
#include "net/CUpload.h"

#include <QFileInfo>

bool TimelapseDue(std::time_t now, int atSecs, std::time_t lastTried, std::time_t* day)
{
    const std::time_t today = StartOfDay(now);
    if (now < today + atSecs)
        return false;
    // Noon of today minus a day is safely inside yesterday.
    const std::time_t yesterday = StartOfDay(today + 12 * 3600 - 86400);
    if (yesterday == lastTried)
        return false;
    *day = yesterday;
    return true;
}

Archive::Archive(CUpload& engine) : m_settings(LoadArchiveSettings(nullptr)), m_engine(engine) {}

Archive::~Archive() = default;

void Archive::Load(const Profile* store, std::time_t now)
{
    m_settings = LoadArchiveSettings(store);
    if (m_settings.bUseArchive)
        Tidy(now);
}

void Archive::Status(const QString& text)
{
    m_engine.ShowStatus(text);
}

bool Archive::Layout(ArchiveLayout* layout)
{
    QString reason;
    if (MakeArchiveLayout(EffectiveFolder(m_settings), m_settings.strName, layout, &reason))
        return true;
    Status(QStringLiteral("Archive settings unusable: ") + reason);
    return false;
}

bool Archive::Keep(const QString& picture, std::time_t t, bool limited)
{
    if (!m_settings.bUseArchive)
        return false;
    // A clock set back does not hold the archive up.
    if (limited && m_bHaveKept && t >= m_timeLastKept &&
        t - m_timeLastKept < std::time_t(m_settings.nMinSecs))
        return false;
    ArchiveLayout layout;
    if (!Layout(&layout))
        return false;
    const StoreResult r = StorePicture(picture, layout, PictureRelPath(layout, t));
    if (!r.ok) {
        Status(r.error);
        return false;
    }
    m_bHaveKept = true;
    m_timeLastKept = t;
    // A walk of the whole archive per frame of a fast stream would cost more
    // than the frames; once a minute keeps it within a minute's pictures.
    if (!m_bHaveTidied || t < m_timeLastTidy || t - m_timeLastTidy >= 60)
        Tidy(t);
    return true;
}

void Archive::Tidy(std::time_t now)
{
    m_bHaveTidied = true;
    m_timeLastTidy = now;
    ArchiveLayout layout;
    if (!Layout(&layout))
        return;
    const long long maxBytes = m_settings.nMaxMB > 0 ? m_settings.nMaxMB * 1048576LL : 0;
    const RetentionResult r = ApplyRetention(layout, now, qMax(0, m_settings.nKeepDays), maxBytes);
    if (!r.errors.isEmpty())
        Status(QStringLiteral("Archive clean-up could not remove %1").arg(r.errors.first()));
}

QString Archive::RemoteName(std::time_t day) const
{
    return ExpandTimePattern(m_settings.strTimelapseRemote, StartOfDay(day) + 12 * 3600);
}

void Archive::Tick(std::time_t now, int& sessionActive, bool modalOpen)
{
    if (m_job) {
        if (m_job->isFinished()) {
            FinishJob();
        } else if (!sessionActive && m_job->m_done != m_nShownDone) {
            m_nShownDone = m_job->m_done;
            Status(QStringLiteral("Building timelapse of %1: %2/%3...")
                       .arg(DayText(m_jobDay))
                       .arg(m_nShownDone)
                       .arg(m_job->m_total.load()));
        }
    }
    if (!m_strPendingVideo.isEmpty() && !sessionActive && !modalOpen) {
        const QString video = m_strPendingVideo;
        m_strPendingVideo.clear();
        sessionActive = 1;
        Publish(video, m_pendingDay);
        sessionActive = 0;
    }
    std::time_t day = 0;
    if (m_job || !m_settings.bTimelapse ||
        !TimelapseDue(now, qBound(0, m_settings.nTimelapseAt, 86399), m_timeLastTried, &day))
        return;
    m_timeLastTried = day;
    ArchiveLayout layout;
    if (!Layout(&layout))
        return;
    // Built before (an earlier run of the program): never again by itself.
    if (QFileInfo::exists(layout.root + QLatin1Char('/') + TimelapseRelPath(layout, day)))
        return;
    const int fps = qBound(1, m_settings.nTimelapseFps, 120);
    m_job = std::make_unique<TimelapseJob>(layout, day, fps);
    m_jobDay = day;
    m_nShownDone = -1;
    m_job->start(QThread::LowPriority);
}

void Archive::FinishJob()
{
    const DayBuild b = m_job->m_result;
    m_job.reset();
    for (const QString& skipped : b.encoded.skipped)
        Status(QStringLiteral("Timelapse of %1 skips unreadable picture %2").arg(b.day, skipped));
    if (!b.ok) {
        Status(QStringLiteral("No timelapse of %1 (%2)").arg(b.day, b.error));
        return;
    }
    Status(QStringLiteral("Timelapse of %1 built: %2 frames in %3")
               .arg(b.day)
               .arg(b.encoded.frames)
               .arg(b.video));
    if (m_engine.m_bUseFtp) {
        m_strPendingVideo = b.video;
        m_pendingDay = m_jobDay;
    }
}

// Through the engine's own connection, temporary name and rename, with every
// status line. A failed upload leaves the video in the archive; it is not
// tried again by itself (the command line publishes it on request).
bool Archive::Publish(const QString& video, std::time_t day)
{
    const QString remote = RemoteName(day);
    const QString dayText = DayText(day);
    if (remote.isEmpty()) {
        Status(QStringLiteral("Timelapse of %1 not published: empty remote name").arg(dayText));
        return false;
    }
    m_engine.m_bAbort = 0;
    m_engine.m_bQuietTransfer = 0;
    bool ok = m_engine.Connect() && m_engine.Transfer(video, remote, FTP_TRANSFER_TYPE_BINARY);
    m_engine.Disconnect();
    if (ok)
        Status(QStringLiteral("Timelapse of %1 published as %2").arg(dayText, remote));
    else
        Status(QStringLiteral("Timelapse of %1 not published; kept at %2").arg(dayText, video));
    return ok;
}

int Archive::RunCommand(const QString& dayText)
{
    const std::time_t day = ParseDayText(dayText);
    if (day == -1) {
        Status(QStringLiteral("Invalid day '%1' (expected YYYY-MM-DD)").arg(dayText));
        return 1;
    }
    ArchiveLayout layout;
    if (!Layout(&layout))
        return 1;
    const int fps = qBound(1, m_settings.nTimelapseFps, 120);
    int shown = -1;
    const DayBuild b = BuildDayTimelapse(
        layout, day, fps,
        [&](int done, int total) {
            // About every tenth, so a long day leaves a short record.
            const int step = qMax(1, total / 10);
            if (done == total || done / step != shown) {
                shown = done / step;
                Status(QStringLiteral("Building timelapse of %1: %2/%3...")
                           .arg(dayText)
                           .arg(done)
                           .arg(total));
            }
        },
        nullptr);
    for (const QString& skipped : b.encoded.skipped)
        Status(QStringLiteral("Timelapse of %1 skips unreadable picture %2").arg(dayText, skipped));
    if (!b.ok) {
        Status(QStringLiteral("No timelapse of %1 (%2)").arg(dayText, b.error));
        return 1;
    }
    Status(QStringLiteral("Timelapse of %1 built: %2 frames in %3")
               .arg(dayText)
               .arg(b.encoded.frames)
               .arg(b.video));
    if (!m_engine.m_bUseFtp)
        return 0;
    return Publish(b.video, day) ? 0 : 1;
}
