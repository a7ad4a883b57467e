#include "UploadTimes.h"

#include <algorithm>
#include <cmath>

int LocalTimeOfDay(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

std::time_t LocalTimeOnDay(std::time_t t, int dayOffset, int secsAfterMidnight)
{
    std::tm local{};
    localtime_r(&t, &local);
    local.tm_mday += dayOffset;
    local.tm_hour = secsAfterMidnight / 3600;
    local.tm_min = secsAfterMidnight / 60 % 60;
    local.tm_sec = secsAfterMidnight % 60;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

QString FormatTimeOfDay(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return QString::fromLatin1(text);
}

namespace
{
std::time_t IntervalAndPeriod(std::time_t now, std::time_t lastStart, const ScheduleSettings& s)
{
    // Counted from the start of the last session, not aligned to any grid.
    std::time_t next = s.uploadMode == 2 ? now : lastStart + std::time_t(s.intervalSecs);
    if (!s.b24Hours) {
        // The period is placed on the day of now, never on the day of next.
        if (next > LocalTimeOnDay(now, 0, s.toSecs))
            next = LocalTimeOnDay(now, 1, s.fromSecs);
        const std::time_t from = LocalTimeOnDay(now, 0, s.fromSecs);
        if (next < from)
            next = from;
    }
    if (now >= next)
        next = now + 5;
    return next;
}

bool InPeriod(std::time_t t, const ScheduleSettings& s)
{
    const int tod = LocalTimeOfDay(t);
    return s.b24Hours || (tod <= s.toSecs && tod >= s.fromSecs);
}

std::time_t NextPeriodStart(std::time_t t, const ScheduleSettings& s)
{
    return LocalTimeOnDay(t, LocalTimeOfDay(t) < s.fromSecs ? 0 : 1, s.fromSecs);
}
} // namespace

UploadTime FirstAllowedFrom(std::time_t t, const ScheduleSettings& s)
{
    if (!s.daylight.enabled)
        return {t, true};
    const std::time_t limit = t + kDaylightSearchDays * std::time_t(86400);
    // Each round moves to the next period start or the next dawn; a period
    // that never meets daylight ends the search at the limit.
    for (int round = 0; round < 4 * kDaylightSearchDays && t <= limit; ++round) {
        if (!InPeriod(t, s)) {
            t = NextPeriodStart(t, s);
            continue;
        }
        const auto day = FirstWithDaylight(t, limit, s.daylight, true);
        if (!day)
            break;
        if (*day == t)
            return {t, true};
        t = *day;
    }
    return {limit, false};
}

UploadTime PlanNextUpload(std::time_t now, std::time_t lastStart, const ScheduleSettings& s)
{
    return FirstAllowedFrom(IntervalAndPeriod(now, lastStart, s), s);
}

UploadTime PlanFirstUpload(std::time_t start, const ScheduleSettings& s)
{
    return FirstAllowedFrom(start + 60, s);
}

std::time_t ComputeNextUpload(std::time_t now, std::time_t lastStart, const ScheduleSettings& s)
{
    return PlanNextUpload(now, lastStart, s).at;
}

bool WithinUploadPeriod(std::time_t now, const ScheduleSettings& s)
{
    if (s.daylight.enabled && !IsDaylight(now, s.daylight))
        return false;
    return InPeriod(now, s);
}

std::optional<std::time_t> NextRetry(int failures, std::time_t failedAt, std::time_t nextRegular,
                                     double jitter)
{
    if (failures < 1)
        return std::nullopt;
    // Twenty doublings already wait longer than the longest interval.
    const double wait = kRetryFirstSecs * std::ldexp(1.0, std::min(failures - 1, 20)) *
                        (1.0 + 0.1 * std::clamp(jitter, -1.0, 1.0));
    const std::time_t at = failedAt + std::max<std::time_t>(1, std::llround(wait));
    if (at >= nextRegular)
        return std::nullopt;
    return at;
}

QString FormatNextUpload(std::time_t t, std::time_t now)
{
    if (t >= now && t - now < 86400)
        return FormatTimeOfDay(t);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return QString::fromLatin1(text);
}
