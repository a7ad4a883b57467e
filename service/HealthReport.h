// The health report: what an unattended Vizo last did, kept in status.json
// under the user's state folder for `vizo -status`, monitors and scripts.
#pragma once

#include "session/Schedule.h"

#include <QByteArray>
#include <QString>
#include <ctime>

struct HealthState {
    QString version;
    QString mode; // "service" or "window"
    QString camera;
    bool cameraOk = true;
    std::time_t lastStart = 0; // 0: none yet (null in the file)
    std::time_t lastSuccess = 0;
    std::time_t lastFailure = 0;
    QString lastFailureReason;
    int consecutiveFailures = 0;
    std::time_t nextUpload = 0;
    ScheduleSettings schedule;
};

// ISO 8601 local time with its offset ("2026-12-07T18:40:05+01:00").
QString IsoLocalTime(std::time_t t);
std::time_t ParseIsoTime(const QString& text); // 0 when it is not one

QByteArray HealthToJson(const HealthState& s);
// False with a reason when the bytes are not a report this program wrote.
bool HealthFromJson(const QByteArray& json, HealthState* s, QString* error);

// Healthy: the last upload succeeded and is at most two intervals old, or the
// daily upload period is closed now.
bool IsHealthy(const HealthState& s, std::time_t now);
// The report in plain words, one fact a line.
QString HealthSummary(const HealthState& s, std::time_t now);

// $XDG_STATE_HOME/vizo (default ~/.local/state/vizo), no trailing slash.
QString StateDirectory();
QString StatusFilePath();

// Replaces the file atomically (temporary file, then rename); false with the
// reason when the folder cannot be made or written.
bool WriteHealthFile(const QString& path, const HealthState& s, QString* error);
// `vizo -status`: prints the report and returns the exit status (0 healthy).
int PrintHealthStatus(std::time_t now);
