// The health report: what an unattended Vizo last did, kept in status.json
// under the user's state folder for `vizo -status`, monitors and scripts.
#pragma once

#include "schedule/UploadTimes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVector>
#include <ctime>

// One destination's part in the last single-shot upload.
struct DestinationHealth {
    int number = 0; // 1 is the [FTP] settings
    QString server; // as status lines show it: no password
    bool ok = true;
    QString reason; // why its last upload failed
    std::time_t lastSuccess = 0;
    std::time_t lastFailure = 0;
};

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
    // The archive's own state, apart from upload health: "" until it reports,
    // then "ok" or "failing".
    QString archiveState;
    QString archiveReason;
    // Videos waiting to reach the server, and when the oldest was queued.
    int queueLength = 0;
    std::time_t oldestQueued = 0;
    // Those the last single shot published to, in order.
    QVector<DestinationHealth> destinations;
};

// ISO 8601 local time with its offset ("2026-12-07T18:40:05+01:00").
QString IsoLocalTime(std::time_t t);
std::time_t ParseIsoTime(const QString& text); // 0 when it is not one
// The object a state file holds; false with the reason when it holds none.
bool JsonObjectFrom(const QByteArray& json, QJsonObject* object, QString* error);

QByteArray HealthToJson(const HealthState& s);
// False with a reason when the bytes are not a report this program wrote.
bool HealthFromJson(const QByteArray& json, HealthState* s, QString* error);

// Healthy: the last upload succeeded and is at most two intervals old, or the
// daily upload period is closed now.
bool IsHealthy(const HealthState& s, std::time_t now);
// The report in plain words, one fact a line.
QString HealthSummary(const HealthState& s, std::time_t now);

// $XDG_STATE_HOME/vizo (default ~/.local/state/vizo), no trailing slash;
// with a profile its folder inside that one, $XDG_STATE_HOME/vizo/NAME.
QString StateDirectory();
QString StatusFilePath();

// Replaces the file atomically (a new file of our own, then rename: a link at
// the name is replaced, never written through); false with the reason when the
// folder cannot be made or written.
bool WriteHealthFile(const QString& path, const HealthState& s, QString* error);

enum class ReportRead { Ok, Missing, Refused };
// Reads the report without following a link or blocking, a regular file of at
// most kMaxReportBytes only; the reason otherwise.
ReportRead ReadHealthFile(const QString& path, QByteArray* bytes, QString* error);
constexpr qint64 kMaxReportBytes = 1 << 20;

// Control characters as \xHH, so that a report cannot steer the terminal.
QString EscapeControls(const QString& text);
// `vizo -status`: prints the report and returns the exit status (0 healthy).
int PrintHealthStatus(std::time_t now);
