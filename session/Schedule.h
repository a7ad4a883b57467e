// When the next upload session starts: pure arithmetic on whole seconds of
// calendar time, with hours, minutes and seconds from the local-time breakdown.
#pragma once

#include <QString>
#include <ctime>

struct ScheduleSettings {
    unsigned intervalSecs = 0;
    int b24Hours = 1;
    int fromSecs = 0; // start of the daily upload period, seconds after midnight
    int toSecs = 0;   // its end; both ends belong to the period
    int uploadMode = 0;
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
