// The schedule of this run: the upload-time rules applied to the settings in
// force, and the retries after failed sessions.
#pragma once

#include "schedule/UploadTimes.h"

#include <functional>

class CUpload;
// The record's schedule with the daylight rule in force.
ScheduleSettings ScheduleFor(const CUpload& u);

// The daylight rule in force for this run: loaded with the settings,
// replaced when they are confirmed.
void SetDaylightRule(const DaylightRule& rule);
const DaylightRule& CurrentDaylightRule();

// Retry Failed for this run: loaded with the settings, replaced when they are
// confirmed.
void SetRetryFailed(bool on);
bool RetryFailedInForce();
// Seam: where the retry's jitter comes from (uniform in -1..1 by default).
void SetRetryJitterSource(std::function<double()> source);

class CCameraApp;
enum class SessionOutcome;
// Called as a session closes, before its next upload time is reported: a
// failure of a single shot or a series plans the next try; a success or an
// abort starts the waits from 30 s again (the regular time still stands).
void PlanAfterSession(CCameraApp& app, SessionOutcome outcome);
