// The picture archive as the rest of the program sees it: keep a published
// picture, tidy, the daily timelapse and its publication, the command line.
#pragma once

#include "ArchiveSettings.h"

#include <QSet>
#include <QString>
#include <atomic>
#include <ctime>
#include <memory>

class ArchivePorts;
class PublishQueue;
struct QueuedVideo;
class Profile;
class TimelapseJob;
struct DayBuild;
struct RetentionResult;
struct ArchiveLayout;

// Whether the daily video of the day before now is due: now has passed the
// time of day atSecs and that day was not tried yet. Sets *day to it.
bool TimelapseDue(std::time_t now, int atSecs, std::time_t lastTried, std::time_t* day);

class Archive
{
public:
    // Status lines, publishing and the archive's state go through the ports.
    explicit Archive(ArchivePorts& ports);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // The Archive section, then retention once at start-up.
    void Load(const Profile* store, std::time_t now);

    // After a picture was published. limited (series and stream frames): at
    // most one picture per Min Seconds. True when the picture was kept.
    bool Keep(const QString& picture, std::time_t t, bool limited);
    // Retention now (Keep runs it at most once a minute); one line when it
    // removed anything or failed, and once per folder holding files the
    // archive has no record of writing.
    void Tidy(std::time_t now);
    // Those folders, for the Archive page; empty when there are none.
    QString ForeignNotice() const;

    // The main window's timer: starts the day's video when due, shows its
    // progress, and publishes it once the engine is free; a video that did
    // not arrive is queued and tried again, one attempt per tick at most.
    void Tick(std::time_t now);
    bool Building() const { return m_job != nullptr; }

    // vizo -timelapse YYYY-MM-DD: builds on the builder's thread while this
    // one keeps serving events, then publishes with uploads on. The process
    // exit code: 0 done, 1 not, the reason shown.
    int RunCommand(const QString& dayText);
    // Stops the command within a second (callable from an event handler
    // while it runs); its temporaries go, and it says so.
    void Interrupt();
    bool Interrupted() const { return m_bInterrupted; }

    ArchiveSettings m_settings;

private:
    bool Layout(ArchiveLayout* layout);
    bool HasRoom(const ArchiveLayout& layout, std::time_t t);
    void TidyNowAndThen(std::time_t t);
    void Status(const QString& text);
    void SetState(bool ok, const QString& reason);
    void ReportRetention(const RetentionResult& r);
    void ReportBuild(const DayBuild& b);
    void FinishJob();
    bool Publish(const QString& video, std::time_t day, int frames, std::time_t now);
    QString RemoteName(std::time_t day) const;
    // The upload queue (ArchiveQueue.cpp).
    PublishQueue& Queue();
    void QueueFailed(const QueuedVideo& video, std::time_t now);
    void Dequeue(const QString& local);
    void RetryQueued(std::time_t now, bool mayAttempt);
    void Retry(const QueuedVideo& video, std::time_t now);
    void ReportQueue();

    ArchivePorts& m_ports;
    bool m_bStateOk = true;
    bool m_bDiskLow = false;
    QString m_strStateReason;
    QSet<QString> m_foreignFolders; // said once each
    std::atomic<bool> m_bInterrupted{false};
    bool m_bHaveKept = false;
    std::time_t m_timeLastKept = 0;
    bool m_bHaveTidied = false;
    std::time_t m_timeLastTidy = 0;
    std::time_t m_timeLastTried = 0; // day start of the last video attempted
    std::unique_ptr<TimelapseJob> m_job;
    std::time_t m_jobDay = 0;
    int m_nShownDone = -1;
    QString m_strPendingVideo; // built, waiting for the engine
    std::time_t m_pendingDay = 0;
    int m_pendingFrames = 0;
    std::unique_ptr<PublishQueue> m_queue; // made on first use
    int m_reportedQueueLength = -1;
    std::time_t m_reportedQueueOldest = 0;
};
