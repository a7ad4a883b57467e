// The sun's altitude at a place and when it crosses a chosen altitude: the
// solar-position equations of the NOAA solar calculator, on UTC calendar time.
#pragma once

#include <QString>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

struct DaylightRule {
    bool enabled = false;
    double latitude = 0;  // degrees, north positive
    double longitude = 0; // degrees, east positive
    // The sun's centre above this many degrees counts as daylight. Geometric
    // altitude, without refraction: -0.833 is sunrise as almanacs give it.
    double altitude = -6;
};

// Searches for daylight reach this far ahead; beyond it there is none.
constexpr int kDaylightSearchDays = 366;

// Geometric altitude of the sun's centre in degrees.
double SunAltitude(std::time_t t, double latitude, double longitude);
bool IsDaylight(std::time_t t, const DaylightRule& rule);
// The first second in [from, limit] whose daylight state is `day`.
std::optional<std::time_t> FirstWithDaylight(std::time_t from, std::time_t limit,
                                             const DaylightRule& rule, bool day = true);
// The spans of daylight within [from, to), each [begin, end).
std::vector<std::pair<std::time_t, std::time_t>> DaylightSpans(std::time_t from, std::time_t to,
                                                               const DaylightRule& rule);

// The settings as stored and typed: decimal degrees with a dot.
struct DaylightTexts {
    int bDaylightOnly = 0;
    QString latitude, longitude, altitude;
};
enum class DaylightField { None, Latitude, Longitude, Altitude };
// On failure the rule comes back switched off, *problem says why and *field
// which text is at fault.
DaylightRule DaylightFromText(const DaylightTexts& texts, QString* problem,
                              DaylightField* field = nullptr);
// Today's daylight at the rule's place in local time, for people.
QString DescribeDaylightDay(std::time_t now, const DaylightRule& rule);
