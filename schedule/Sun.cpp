#include "Sun.h"

#include "UploadTimes.h"

#include <QDateTime>
#include <cmath>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;

double Sin(double deg)
{
    return std::sin(deg * kRad);
}

double Cos(double deg)
{
    return std::cos(deg * kRad);
}

struct SunDirection {
    double declination;  // degrees
    double timeEquation; // minutes
};

// Mean elements to apparent longitude and the equation of time; T in Julian
// centuries from J2000.0.
SunDirection SunAt(double T)
{
    const double L0 = std::fmod(280.46646 + T * (36000.76983 + T * 0.0003032), 360.0);
    const double M = 357.52911 + T * (35999.05029 - 0.0001537 * T);
    const double e = 0.016708634 - T * (0.000042037 + 0.0000001267 * T);
    const double C = Sin(M) * (1.914602 - T * (0.004817 + 0.000014 * T)) +
                     Sin(2 * M) * (0.019993 - 0.000101 * T) + Sin(3 * M) * 0.000289;
    const double omega = 125.04 - 1934.136 * T;
    const double lambda = L0 + C - 0.00569 - 0.00478 * Sin(omega);
    const double eps0 =
        23.0 + (26.0 + (21.448 - T * (46.815 + T * (0.00059 - T * 0.001813))) / 60.0) / 60.0;
    const double eps = eps0 + 0.00256 * Cos(omega);
    const double y = std::pow(std::tan(eps / 2 * kRad), 2);
    const double eot = y * Sin(2 * L0) - 2 * e * Sin(M) + 4 * e * y * Sin(M) * Cos(2 * L0) -
                       0.5 * y * y * Sin(4 * L0) - 1.25 * e * e * Sin(2 * M);
    return {std::asin(Sin(eps) * Sin(lambda)) / kRad, 4.0 * eot / kRad};
}

// Crossings are looked for every five minutes, then to the second. A spell
// of day or night shorter than the step, possible only within a day or two of
// the edge of polar day or night, can be missed.
constexpr std::time_t kScanStep = 300;

bool ParseDegrees(const QString& text, double low, double high, double* value)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < low || v > high)
        return false;
    *value = v;
    return true;
}
} // namespace

double SunAltitude(std::time_t t, double latitude, double longitude)
{
    // Julian centuries from J2000.0 (2000-01-01 12:00 UTC = 946728000).
    const double T = double(t - 946728000) / (86400.0 * 36525.0);
    const SunDirection sun = SunAt(T);
    const double minutesOfDay = double(((t % 86400) + 86400) % 86400) / 60.0;
    const double trueSolar = minutesOfDay + sun.timeEquation + 4.0 * longitude;
    const double hourAngle = trueSolar / 4.0 - 180.0;
    const double cosZenith = Sin(latitude) * Sin(sun.declination) +
                             Cos(latitude) * Cos(sun.declination) * Cos(hourAngle);
    return 90.0 - std::acos(std::max(-1.0, std::min(1.0, cosZenith))) / kRad;
}

bool IsDaylight(std::time_t t, const DaylightRule& rule)
{
    return SunAltitude(t, rule.latitude, rule.longitude) > rule.altitude;
}

std::optional<std::time_t> FirstWithDaylight(std::time_t from, std::time_t limit,
                                             const DaylightRule& rule, bool day)
{
    if (from > limit)
        return std::nullopt;
    if (IsDaylight(from, rule) == day)
        return from;
    std::time_t before = from;
    for (;;) {
        const std::time_t t = std::min(before + kScanStep, limit);
        if (IsDaylight(t, rule) == day) {
            std::time_t after = t;
            while (after - before > 1) {
                const std::time_t mid = before + (after - before) / 2;
                (IsDaylight(mid, rule) == day ? after : before) = mid;
            }
            return after;
        }
        if (t == limit)
            return std::nullopt;
        before = t;
    }
}

std::vector<std::pair<std::time_t, std::time_t>> DaylightSpans(std::time_t from, std::time_t to,
                                                               const DaylightRule& rule)
{
    std::vector<std::pair<std::time_t, std::time_t>> spans;
    std::time_t t = from;
    while (t < to) {
        const auto begin = FirstWithDaylight(t, to - 1, rule, true);
        if (!begin)
            break;
        const auto end = FirstWithDaylight(*begin, to - 1, rule, false);
        t = end ? *end : to;
        spans.emplace_back(*begin, t);
    }
    return spans;
}

DaylightRule DaylightFromText(const DaylightTexts& texts, QString* problem, DaylightField* field)
{
    DaylightRule rule;
    QString why;
    DaylightField bad = DaylightField::None;
    if (!ParseDegrees(texts.latitude, -90, 90, &rule.latitude)) {
        bad = DaylightField::Latitude;
        why = QStringLiteral("the latitude must be decimal degrees from -90 to 90 with a dot, "
                             "north positive (e.g. 69.65)");
    } else if (!ParseDegrees(texts.longitude, -180, 180, &rule.longitude)) {
        bad = DaylightField::Longitude;
        why = QStringLiteral("the longitude must be decimal degrees from -180 to 180 with a "
                             "dot, east positive (e.g. 18.96)");
    } else if (!ParseDegrees(texts.altitude, -18, 10, &rule.altitude)) {
        bad = DaylightField::Altitude;
        why = QStringLiteral("the sun altitude must be degrees from -18 to 10 with a dot "
                             "(-6 is civil twilight, -0.833 sunrise)");
    }
    if (problem)
        *problem = why;
    if (field)
        *field = bad;
    rule.enabled = texts.bDaylightOnly && bad == DaylightField::None;
    return rule;
}

namespace
{
QString HourMinute(std::time_t t, std::time_t dayEnd)
{
    return t >= dayEnd ? QStringLiteral("24:00")
                       : QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("HH:mm"));
}
} // namespace

QString DescribeDaylightDay(std::time_t now, const DaylightRule& rule)
{
    const std::time_t dayStart = LocalTimeOnDay(now, 0, 0);
    const std::time_t dayEnd = LocalTimeOnDay(now, 1, 0);
    const QString above = QString::number(rule.altitude) + QStringLiteral("\u00b0");
    const auto spans = DaylightSpans(dayStart, dayEnd, rule);
    if (spans.empty()) {
        const auto next =
            FirstWithDaylight(dayEnd, dayEnd + kDaylightSearchDays * 86400LL, rule, true);
        return QStringLiteral("No daylight today (sun below %1); %2")
            .arg(above, next ? QStringLiteral("next from ") +
                                   QDateTime::fromSecsSinceEpoch(*next).toString(
                                       QStringLiteral("ddd d MMM HH:mm"))
                             : QStringLiteral("none within a year"));
    }
    if (spans.size() == 1 && spans[0].first == dayStart && spans[0].second == dayEnd)
        return QStringLiteral("Daylight all day today (sun above %1)").arg(above);
    QStringList parts;
    for (const auto& [begin, end] : spans)
        parts << HourMinute(begin, dayEnd) + QStringLiteral(" to ") + HourMinute(end, dayEnd);
    return QStringLiteral("Daylight today: %1 (sun above %2)")
        .arg(parts.join(QStringLiteral(", ")), above);
}
