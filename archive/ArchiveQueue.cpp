// The archive's videos that did not reach the server: queued in the state
// folder and tried again with a growing wait while the engine is idle.
#include "Archive.h"

#include "ArchiveNames.h"
#include "ArchivePorts.h"
#include "PublishQueue.h"
#include "TimelapseEncoder.h"

#include <QDateTime>
#include <QFileInfo>

namespace
{
QString ClockText(std::time_t t)
{
    return QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
} // namespace

PublishQueue& Archive::Queue()
{
    if (!m_queue)
        m_queue = std::make_unique<PublishQueue>(m_ports.StateFolder() +
                                                     QStringLiteral("/upload-queue.json"),
                                                 [this](const QString& text) { Status(text); });
    return *m_queue;
}

void Archive::ReportQueue()
{
    const int length = int(Queue().Videos().size());
    const std::time_t oldest = Queue().Oldest();
    if (length == m_reportedQueueLength && oldest == m_reportedQueueOldest)
        return;
    m_reportedQueueLength = length;
    m_reportedQueueOldest = oldest;
    m_ports.QueueChanged(length, oldest);
}

void Archive::QueueFailed(const QueuedVideo& video, std::time_t now)
{
    PublishQueue& q = Queue();
    q.Failed(video, now);
    for (const QueuedVideo& v : q.Videos())
        if (v.local == video.local)
            Status(QStringLiteral("Timelapse of %1 queued for upload; next try at %2")
                       .arg(DayText(v.day), ClockText(v.nextTry)));
    ReportQueue();
}

void Archive::Dequeue(const QString& local)
{
    Queue().Remove(local);
    ReportQueue();
}

void Archive::RetryQueued(std::time_t now, bool mayAttempt)
{
    PublishQueue& q = Queue();
    q.Refresh();
    // Expired videos go whether or not the engine is free.
    const QList<QueuedVideo> videos = q.Videos();
    for (const QueuedVideo& v : videos) {
        if (!QueueExpired(v, now, m_settings.nKeepDays))
            continue;
        q.Remove(v.local);
        Status(QStringLiteral("Timelapse of %1 dropped from the upload queue: older than the "
                              "archive's %2 days")
                   .arg(DayText(v.day))
                   .arg(m_settings.nKeepDays));
    }
    ReportQueue();
    if (!mayAttempt || !m_ports.UploadsOn() || m_ports.EngineBusy())
        return;
    const QueuedVideo* next = nullptr;
    for (const QueuedVideo& v : q.Videos())
        if (RetryDue(v, now) && (!next || v.nextTry < next->nextTry))
            next = &v;
    if (next)
        Retry(QueuedVideo(*next), now);
}

void Archive::Retry(const QueuedVideo& video, std::time_t now)
{
    const QString dayText = DayText(video.day);
    // The queue file is only as trustworthy as the folder it sits in: what is
    // sent must be the day's video, not whatever the file names.
    const QFileInfo info(video.local);
    const QString name = QFileInfo(TimelapseRelPath(ArchiveLayout(), video.day)).fileName();
    QString reason;
    if (!info.exists() && !info.isSymLink())
        reason = QStringLiteral("%1 no longer exists").arg(video.local);
    else if (info.isSymLink() || !info.isFile() || info.fileName() != name)
        reason = QStringLiteral("%1 is not the day's video").arg(video.local);
    else if (!CheckVideo(video.local, 0, nullptr, &reason, false))
        reason = QStringLiteral("%1 does not read back (%2)").arg(video.local, reason);
    if (!reason.isEmpty()) {
        Dequeue(video.local);
        Status(QStringLiteral("Timelapse of %1 dropped from the upload queue: %2")
                   .arg(dayText, reason));
        return;
    }
    Status(QStringLiteral("Timelapse of %1: publishing again (attempt %2)")
               .arg(dayText)
               .arg(video.attempts + 1));
    if (m_ports.Publish(video.local, video.remote)) {
        Dequeue(video.local);
        Status(QStringLiteral("Timelapse of %1 published as %2").arg(dayText, video.remote));
        return;
    }
    QueueFailed(video, now);
}
