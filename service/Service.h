// What the spine tells the unattended-operation module: start-up, sessions,
// camera state. Every call is a no-op until Start, so code that runs a session
// without it (tests) writes no report and runs no command.
#pragma once

#include "NotifyHook.h"
#include "session/Schedule.h"

#include <QString>
#include <QStringList>
#include <ctime>

class CUpload;

namespace Service
{
struct StartInfo {
    bool serviceMode = false;
    QString version;
    QString camera;
    QString notifyCommand;
    ScheduleSettings schedule;
    std::time_t nextUpload = 0;
};

// Carries on from the report of the previous run (its counts and times) and
// writes the first report of this one.
void Start(const StartInfo& info);
void Stop();
void SetNotifyCommand(const QString& command);

void SessionStarted(std::time_t start);
// Reads the outcome from the session's status lines (an abort is neither
// success nor failure); writes the report and runs the notify command on a
// transition.
void SessionEnded(const CUpload& settings, std::time_t nextUpload);
// Called by the capture side whenever a source is lost or back.
void SetCameraState(const QString& name, bool ok);

ScheduleSettings ScheduleOf(const CUpload& settings);

// The outcome of a session from its status lines, in order.
SessionOutcome OutcomeOf(const QStringList& lines, bool aborted);
// The line that says why a session failed: the last one that is neither a
// step in progress nor a closing or summary line.
QString FailureReason(const QStringList& lines);
} // namespace Service
