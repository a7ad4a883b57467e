// Unattended operation's health monitor: what the spine tells it of start-up,
// sessions, the camera and the archive goes into the health report, and the
// notify command runs on transitions. Every call is a no-op until Start, so
// code that runs a session without it (tests) writes no report and runs no
// command.
#pragma once

#include "HealthReport.h"
#include "NotifyHook.h"
#include "schedule/UploadTimes.h"

#include <QObject>
#include <QString>
#include <ctime>
#include <memory>

// How a session ended, as the session itself knows it.
struct SessionResult {
    SessionOutcome outcome = SessionOutcome::Failure;
    // Why it failed; on success the line that said so (the notify command's
    // reason for "recovered").
    QString reason;
    std::time_t nextUpload = 0;
    ScheduleSettings schedule;
    // What each destination's upload came to (number, server, ok, reason);
    // empty when none was tried, which leaves the records as they were.
    QVector<DestinationHealth> destinations;
};

// The records after an upload: those tried, with their times carried on
// from before and brought up to now.
QVector<DestinationHealth> MergeDestinations(const QVector<DestinationHealth>& before,
                                             const QVector<DestinationHealth>& tried,
                                             std::time_t now);

class Service
{
public:
    struct StartInfo {
        bool serviceMode = false;
        QString version;
        QString camera;
        QString notifyCommand;
        int notifyLimitMs = NotifyRunner::kDefaultLimitMs;
        ScheduleSettings schedule;
        std::time_t nextUpload = 0;
    };

    Service();
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Carries on from the report of the previous run (its counts and times) and
    // writes the first report of this one.
    void Start(const StartInfo& info);
    // Stops a notify command that still runs; later calls are no-ops again.
    void Stop();
    void SetNotifyCommand(const QString& command);

    void SessionStarted(std::time_t start);
    // An abort is neither success nor failure; writes the report and runs the
    // notify command on a transition.
    void SessionEnded(const SessionResult& result);
    // Called by the capture side whenever a source is lost or back.
    void SetCameraState(const QString& name, bool ok);
    // The archive's own state; it never changes upload health. Kept when said
    // before Start. Safe from any thread: the report is written on the
    // monitor's.
    void SetArchiveState(bool ok, const QString& reason);
    // Videos waiting to reach the server and since when the oldest waits (0:
    // none). Kept when said before Start; from the GUI thread.
    void SetQueueState(int length, std::time_t oldest);

private:
    struct Monitor;
    void Write();
    void Notify(const char* event, const QString& reason, std::time_t when);

    std::unique_ptr<Monitor> m_monitor;
    QString m_archiveState;
    QString m_archiveReason;
    int m_queueLength = 0;
    std::time_t m_queueOldest = 0;
    QObject m_thread; // lives on the thread that writes the report
};
