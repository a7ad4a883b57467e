// When the next upload session starts: pure arithmetic on whole seconds of
// calendar time, with hours, minutes and seconds from the local-time breakdown.
#pragma once

#include "Sun.h"

#include <QString>
#include <ctime>
#include <optional>

struct ScheduleSettings {
    ScheduleSettings() = default;
    // The record's own values; daylight stays off (ScheduleFor adds it).
    ScheduleSettings(unsigned interval, int all24, int from, int to, int mode)
        : intervalSecs(interval), b24Hours(all24), fromSecs(from), toSecs(to), uploadMode(mode)
    {
    }

    unsigned intervalSecs = 0;
    int b24Hours = 1;
    int fromSecs = 0; // start of the daily upload period, seconds after midnight
    int toSecs = 0;   // its end; both ends belong to the period
    int uploadMode = 0;
    // Off: the schedule is what it was without it.
    DaylightRule daylight;
};

// Seconds after local midnight of t (0..86399).
int LocalTimeOfDay(std::time_t t);
// The calendar time at which the local wall clock shows secsAfterMidnight on
// the day of t plus dayOffset days; days of 23 or 25 hours keep the wall clock.
std::time_t LocalTimeOnDay(std::time_t t, int dayOffset, int secsAfterMidnight);
// t as "%H:%M:%S" in local time.
QString FormatTimeOfDay(std::time_t t);

// The next upload time computed at now; always at least one second after now.
std::time_t ComputeNextUpload(std::time_t now, std::time_t lastStart, const ScheduleSettings& s);
bool WithinUploadPeriod(std::time_t now, const ScheduleSettings& s);

// With daylight only, a time the interval or the daily period gives is moved
// to the first second, from it on, that is inside both the period and
// daylight (dawn itself, not a multiple of the interval after it); the
// interval then counts on from that upload. found is false when no such
// second exists within kDaylightSearchDays: at is then that far ahead.
struct UploadTime {
    std::time_t at;
    bool found;
};
UploadTime PlanNextUpload(std::time_t now, std::time_t lastStart, const ScheduleSettings& s);
// The first upload after start-up, a minute after it, moved the same way.
UploadTime PlanFirstUpload(std::time_t start, const ScheduleSettings& s);
// The first allowed second at or after t (t itself without daylight only).
UploadTime FirstAllowedFrom(std::time_t t, const ScheduleSettings& s);
// For the main window: the time of day, with the date when it is not within
// the coming day.
QString FormatNextUpload(std::time_t t, std::time_t now);

// A failed upload is tried again kRetryFirstSecs later, the wait doubling
// with each failure in a row and spread by up to a tenth either way (jitter
// in -1..1), so that cameras that failed together do not retry together.
// None when the try would not come before the next regular upload: that one
// stands.
constexpr int kRetryFirstSecs = 30;
std::optional<std::time_t> NextRetry(int failures, std::time_t failedAt, std::time_t nextRegular,
                                     double jitter);
