#include "Archive.h"

#include "ArchiveFiles.h"
#include "ArchivePorts.h"
#include "PublishQueue.h"
#include "TimelapseEncoder.h"
#include "TimelapseJob.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/statvfs.h>

namespace
{
// Free bytes for an ordinary user on the file system that holds path (or
// would hold it: the nearest folder that exists); -1 when unknown.
long long FreeBytesAt(QString path)
{
    for (int depth = 0; depth < 64 && !path.isEmpty(); ++depth) {
        struct statvfs st;
        if (::statvfs(QFile::encodeName(path).constData(), &st) == 0)
            return (long long)st.f_bavail * (long long)st.f_frsize;
        if (errno != ENOENT && errno != ENOTDIR)
            return -1;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return -1;
}
} // namespace

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

Archive::Archive(ArchivePorts& ports) : m_settings(LoadArchiveSettings(nullptr)), m_ports(ports) {}

Archive::~Archive() = default;

void Archive::Load(const Profile* store, std::time_t now)
{
    m_settings = LoadArchiveSettings(store);
    if (m_settings.bUseArchive)
        Tidy(now);
    // Whatever waits from an earlier run reaches the report from the start.
    Queue().Refresh();
    ReportQueue();
}

void Archive::Status(const QString& text)
{
    m_ports.Status(text);
}

void Archive::SetState(bool ok, const QString& reason)
{
    const QString why = ok ? QString() : reason;
    if (ok == m_bStateOk && why == m_strStateReason)
        return;
    m_bStateOk = ok;
    m_strStateReason = why;
    m_ports.ArchiveStateChanged(ok, why);
}

bool Archive::Layout(ArchiveLayout* layout)
{
    QString reason;
    if (MakeArchiveLayout(EffectiveFolder(m_settings), m_settings.strName, layout, &reason))
        return true;
    const QString text = QStringLiteral("Archive settings unusable: ") + reason;
    Status(text);
    SetState(false, text);
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
    if (!HasRoom(layout, t)) {
        TidyNowAndThen(t);
        return false;
    }
    const StoreResult r = StorePicture(picture, layout, PictureRelPath(layout, t));
    if (!r.ok) {
        Status(r.error);
        SetState(false, r.error);
        return false;
    }
    SetState(true, QString());
    m_bHaveKept = true;
    m_timeLastKept = t;
    TidyNowAndThen(t);
    return true;
}

// A walk of the whole archive per frame of a fast stream would cost more
// than the frames; once a minute keeps it within a minute's pictures.
void Archive::TidyNowAndThen(std::time_t t)
{
    if (!m_bHaveTidied || t < m_timeLastTidy || t - m_timeLastTidy >= 60)
        Tidy(t);
}

// The disk guard: the archive gives way before the disk fills, so that the
// picture the uploads need can still be written.
bool Archive::HasRoom(const ArchiveLayout& layout, std::time_t t)
{
    const long long minFree = qMax(0, m_settings.nMinFreeMB) * 1048576LL;
    const long long free = minFree > 0 ? FreeBytesAt(layout.root) : -1;
    const bool room = free < 0 || free >= minFree;
    if (room == !m_bDiskLow)
        return room;
    m_bDiskLow = !room;
    const QString text =
        room ? (free < 0 ? QStringLiteral("Archive resumes")
                         : QStringLiteral("Archive resumes: %1 MB free").arg(free / 1048576))
             : QStringLiteral("Archive paused: %1 MB free on its disk, below %2 MB; it resumes "
                              "by itself once there is room")
                   .arg(free / 1048576)
                   .arg(m_settings.nMinFreeMB);
    Status(text);
    if (!room) {
        SetState(false, text);
        Tidy(t);
    }
    return room;
}

void Archive::Tidy(std::time_t now)
{
    m_bHaveTidied = true;
    m_timeLastTidy = now;
    ArchiveLayout layout;
    if (!Layout(&layout))
        return;
    const long long maxBytes = m_settings.nMaxMB > 0 ? m_settings.nMaxMB * 1048576LL : 0;
    ReportRetention(ApplyRetention(layout, now, qMax(0, m_settings.nKeepDays), maxBytes));
}

void Archive::ReportRetention(const RetentionResult& r)
{
    if (r.removed > 0) {
        QStringList why;
        if (r.removedByAge)
            why << QStringLiteral("older than %1 days before the newest picture")
                       .arg(m_settings.nKeepDays);
        if (r.removedBySize)
            why << QStringLiteral("archive over %1 MB").arg(m_settings.nMaxMB);
        m_ports.Log(QStringLiteral("Archive clean-up removed %1 files (%2 MB): %3")
                        .arg(r.removed)
                        .arg(r.bytesRemoved / 1048576.0, 0, 'f', 1)
                        .arg(why.join(QStringLiteral("; "))));
    }
    if (!r.errors.isEmpty())
        Status(QStringLiteral("Archive clean-up could not remove %1").arg(r.errors.first()));
    QStringList fresh;
    for (const QString& folder : r.foreignFolders)
        if (!m_foreignFolders.contains(folder))
            fresh << folder;
    if (fresh.isEmpty())
        return;
    for (const QString& folder : fresh)
        m_foreignFolders.insert(folder);
    m_ports.Log(
        QStringLiteral("Archive clean-up leaves alone the files it has no record of writing in "
                       "%1 folder(s): %2")
            .arg(fresh.size())
            .arg(fresh.mid(0, 3).join(QStringLiteral(", ")) +
                 (fresh.size() > 3 ? QStringLiteral(", ...") : QString())));
}

QString Archive::ForeignNotice() const
{
    if (m_foreignFolders.isEmpty())
        return QString();
    QStringList folders(m_foreignFolders.begin(), m_foreignFolders.end());
    folders.sort();
    return QStringLiteral("Left alone (not written by Vizo): %1%2")
        .arg(folders.first())
        .arg(folders.size() > 1 ? QStringLiteral(" and %1 more").arg(folders.size() - 1)
                                : QString());
}

QString Archive::RemoteName(std::time_t day) const
{
    return ExpandTimePattern(m_settings.strTimelapseRemote, StartOfDay(day) + 12 * 3600);
}

void Archive::Tick(std::time_t now)
{
    const bool busy = m_ports.EngineBusy();
    if (m_job) {
        if (m_job->isFinished()) {
            FinishJob();
        } else if (!busy && m_job->m_done != m_nShownDone) {
            m_nShownDone = m_job->m_done;
            Status(QStringLiteral("Building timelapse of %1: %2/%3...")
                       .arg(DayText(m_jobDay))
                       .arg(m_nShownDone)
                       .arg(m_job->m_total.load()));
        }
    }
    bool attempted = false;
    if (!m_strPendingVideo.isEmpty() && !m_ports.EngineBusy()) {
        const QString video = m_strPendingVideo;
        m_strPendingVideo.clear();
        Publish(video, m_pendingDay, m_pendingFrames, now);
        attempted = true;
    }
    RetryQueued(now, !attempted);
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

void Archive::ReportBuild(const DayBuild& b)
{
    for (const QString& skipped : b.encoded.skipped)
        Status(QStringLiteral("Timelapse of %1 skips unreadable picture %2").arg(b.day, skipped));
    if (!b.ok && m_bInterrupted)
        Status(QStringLiteral("Timelapse of %1 interrupted; nothing kept").arg(b.day));
    else if (!b.ok)
        Status(QStringLiteral("No timelapse of %1 (%2)").arg(b.day, b.error));
    else
        Status(QStringLiteral("Timelapse of %1 built: %2 frames in %3")
                   .arg(b.day)
                   .arg(b.encoded.frames)
                   .arg(b.video));
}

void Archive::FinishJob()
{
    const DayBuild b = m_job->m_result;
    m_job.reset();
    ReportBuild(b);
    if (b.ok && m_ports.UploadsOn()) {
        m_strPendingVideo = b.video;
        m_pendingDay = m_jobDay;
        m_pendingFrames = b.encoded.frames;
    }
}

// A failed upload leaves the video in the archive and queues it; one that
// cannot succeed (no remote name, a damaged file) is not queued.
bool Archive::Publish(const QString& video, std::time_t day, int frames, std::time_t now)
{
    const QString remote = RemoteName(day);
    const QString dayText = DayText(day);
    if (remote.isEmpty()) {
        Status(QStringLiteral("Timelapse of %1 not published: empty remote name").arg(dayText));
        return false;
    }
    // The file may have changed since it was built (and read back in full);
    // a look at its index and frames here, on the window's thread.
    QString reason;
    if (!CheckVideo(video, frames, nullptr, &reason, false)) {
        Status(QStringLiteral("Timelapse of %1 not published: %2 does not read back (%3)")
                   .arg(dayText, video, reason));
        return false;
    }
    const bool ok = m_ports.Publish(video, remote);
    if (ok) {
        Status(QStringLiteral("Timelapse of %1 published as %2").arg(dayText, remote));
        Dequeue(video); // sent by hand while it waited in the queue
    } else if (m_bInterrupted) {
        // Stopped on purpose: the user decides whether to send it again.
        Status(QStringLiteral("Timelapse of %1 interrupted while publishing; kept at %2")
                   .arg(dayText, video));
    } else {
        Status(QStringLiteral("Timelapse of %1 not published; kept at %2").arg(dayText, video));
        QueuedVideo queued;
        queued.local = video;
        queued.remote = remote;
        queued.day = StartOfDay(day);
        QueueFailed(queued, now);
    }
    return ok;
}

void Archive::Interrupt()
{
    m_bInterrupted = true;
    if (m_job)
        m_job->m_cancel = true;
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
    m_job = std::make_unique<TimelapseJob>(layout, day, fps);
    m_job->m_cancel = m_bInterrupted.load();
    m_job->start();
    int shown = -1;
    // Events keep flowing: signals arrive through them.
    while (!m_job->wait(QDeadlineTimer(50))) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const int done = m_job->m_done, total = m_job->m_total;
        // About every tenth, so a long day leaves a short record.
        const int step = qMax(1, total / 10);
        if (total > 0 && done / step != shown) {
            shown = done / step;
            Status(QStringLiteral("Building timelapse of %1: %2/%3...")
                       .arg(dayText)
                       .arg(done)
                       .arg(total));
        }
    }
    const DayBuild b = m_job->m_result;
    m_job.reset();
    ReportBuild(b);
    if (!b.ok || m_bInterrupted) {
        if (b.ok)
            Status(QStringLiteral("Timelapse of %1 interrupted; not published").arg(dayText));
        return 1;
    }
    if (!m_ports.UploadsOn())
        return 0;
    return Publish(b.video, day, b.encoded.frames, m_ports.Now()) ? 0 : 1;
}
