// Daylight only: the sun's crossings against reference times, and the
// schedule that waits for them.
#include "app/CCameraApp.h"
#include "session/CCameraDlg.h"
#include "session/Schedule.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace
{

constexpr double kSunrise = -0.8333; // upper limb on the horizon, standard refraction
constexpr std::time_t kDay = 86400;

// Reference times in UTC from PyEphem 4.1.4 (Debian python3-ephem, VSOP87
// theory, independent of the equations under test): sun's centre, no
// refraction, horizon -0:50 for sunrise and sunset, -6 for civil twilight.
// They agree with commonly published times: London's midsummer sunrise 04:43
// and sunset 21:21 BST, and Tromso's polar night ending about 15 January.
struct Crossing {
    const char* what;
    double latitude, longitude, altitude;
    std::time_t rise, set;
};
const Crossing kCrossings[] = {
    {"London 2026-06-21", 51.5074, -0.1278, kSunrise, 1782013385, 1782073293},
    {"London 2026-12-21 civil", 51.5074, -0.1278, -6, 1797837804, 1797870824},
    {"Singapore 2026-03-21", 1.2903, 103.8519, kSunrise, 1774048113, 1774091705},
    {"Sydney 2026-06-21", -33.8688, 151.2093, kSunrise, 1781989197, 1782024828},
    {"Sydney 2026-12-22 civil", -33.8688, 151.2093, -6, 1797876717, 1797932103},
    {"Tromso 2026-12-21 civil", 69.6492, 18.9553, -6, 1797841875, 1797857589},
    {"Taveuni 179.9 E 2026-09-11", -16.8, 179.9, kSunrise, 1789063171, 1789106107},
    {"Samoa 179.9 W 2026-09-11", -13.8, -179.9, kSunrise, 1789063063, 1789106117},
    {"New York 2026-03-09 civil", 40.7128, -74.006, -6, 1773053400, 1773098615},
};

TEST(SunCrossings, MatchReferenceTimesWithinAMinute)
{
    for (const Crossing& c : kCrossings) {
        const DaylightRule rule{true, c.latitude, c.longitude, c.altitude};
        const auto rise = FirstWithDaylight(c.rise - 3 * 3600, c.rise + 3 * 3600, rule, true);
        const auto set = FirstWithDaylight(c.set - 3 * 3600, c.set + 3 * 3600, rule, false);
        ASSERT_TRUE(rise && set) << c.what;
        EXPECT_NEAR(double(*rise - c.rise), 0, 60) << c.what;
        EXPECT_NEAR(double(*set - c.set), 0, 60) << c.what;
        // The found second is the first: daylight there, none a second before.
        EXPECT_TRUE(IsDaylight(*rise, rule) && !IsDaylight(*rise - 1, rule)) << c.what;
    }
}

TEST(SunCrossings, PolarNightEndsOnTheReferenceDayAndPolarDayHasNoNight)
{
    const std::time_t midwinter = 1797811200; // 2026-12-21 00:00 UTC
    struct {
        DaylightRule rule;
        std::time_t firstDaylight; // reference, as above
    } const nights[] = {
        {{true, 69.6492, 18.9553, kSunrise}, 1800009311}, // Tromso, 2027-01-15 10:35:11
        {{true, 78.2232, 15.6267, -6}, 1801305471},       // Longyearbyen, 2027-01-30 10:37:51
    };
    for (const auto& n : nights) {
        EXPECT_TRUE(DaylightSpans(midwinter, midwinter + kDay, n.rule).empty());
        const auto first = FirstWithDaylight(midwinter, midwinter + 366 * kDay, n.rule);
        ASSERT_TRUE(first);
        // The first sun of the year only grazes the limit, where a hundredth
        // of a degree is minutes: the day and the hour are what matter here.
        EXPECT_NEAR(double(*first - n.firstDaylight), 0, 1800);
    }
    const std::time_t midsummer = 1813536000; // 2027-06-21 00:00 UTC
    const auto spans = DaylightSpans(midsummer, midsummer + kDay, nights[0].rule);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0], std::make_pair(midsummer, midsummer + kDay));
}

TEST(DaylightTexts, DegreesWithADotInRangeOnly)
{
    QString problem;
    DaylightField field = DaylightField::None;
    const DaylightRule ok = DaylightFromText({1, " 69.65 ", "-179.9", "-0.833"}, &problem, &field);
    EXPECT_TRUE(ok.enabled && problem.isEmpty());
    EXPECT_EQ(ok.longitude, -179.9);
    const struct {
        DaylightTexts texts;
        DaylightField field;
    } bad[] = {
        {{1, "69,65", "18.9", "-6"}, DaylightField::Latitude},
        {{1, "", "18.9", "-6"}, DaylightField::Latitude},
        {{1, "90.5", "18.9", "-6"}, DaylightField::Latitude},
        {{1, "nan", "18.9", "-6"}, DaylightField::Latitude},
        {{1, "69.6", "180.01", "-6"}, DaylightField::Longitude},
        {{1, "69.6", "inf", "-6"}, DaylightField::Longitude},
        {{1, "69.6", "18.9", "-19"}, DaylightField::Altitude},
        {{1, "69.6", "18.9", "6 deg"}, DaylightField::Altitude},
    };
    for (const auto& b : bad) {
        const DaylightRule rule = DaylightFromText(b.texts, &problem, &field);
        EXPECT_FALSE(rule.enabled) << b.texts.latitude.toStdString();
        EXPECT_EQ(field, b.field) << b.texts.latitude.toStdString();
        EXPECT_FALSE(problem.isEmpty());
    }
}

// At 60 N, 10.75 E in mid-December civil dawn is 2026-12-15 07:16:38 UTC and
// dusk 2026-12-14 15:07:24 UTC (PyEphem, as above).
constexpr std::time_t kDawn60 = 1797318998;
const DaylightRule kNorth60{true, 60.0, 10.75, -6};

class DaylightSchedule : public ::testing::Test
{
protected:
    ScopedTimeZone tz{"CET-1CEST,M3.5.0,M10.5.0/3"};
    ScheduleSettings Settings(int all24 = 1, int from = 0, int to = 0)
    {
        ScheduleSettings s(900, all24, from, to, 0);
        s.daylight = kNorth60;
        return s;
    }
};

TEST_F(DaylightSchedule, NightMovesToDawnAndDayKeepsTheInterval)
{
    const ScheduleSettings s = Settings();
    const std::time_t evening = LocalTime(2026, 12, 14, 20, 0, 0);
    const UploadTime next = PlanNextUpload(evening, evening - 5, s);
    EXPECT_TRUE(next.found);
    EXPECT_NEAR(double(next.at - kDawn60), 0, 60);
    EXPECT_TRUE(FormatTimeOfDay(next.at).startsWith(QStringLiteral("08:1")));
    EXPECT_FALSE(WithinUploadPeriod(evening, s));

    const std::time_t noon = LocalTime(2026, 12, 14, 12, 0, 0);
    EXPECT_EQ(ComputeNextUpload(noon, noon - 5, s), noon + 895);
    EXPECT_TRUE(WithinUploadPeriod(noon, s));
}

TEST_F(DaylightSchedule, PeriodAndDaylightIntersect)
{
    // 09:00 to 18:00, but dusk is 16:07: after it, tomorrow 09:00, not dawn.
    const ScheduleSettings s = Settings(0, 9 * 3600, 18 * 3600);
    for (int h : {16, 20}) {
        const std::time_t now = LocalTime(2026, 12, 14, h, 0, 0);
        EXPECT_EQ(ComputeNextUpload(now, now - 5, s), LocalTime(2026, 12, 15, 9, 0, 0)) << h;
    }
    // The sun is never 10 degrees up between 00:00 and 01:00 here, not even
    // in June: said so, and no endless search.
    ScheduleSettings never = Settings(0, 0, 3600);
    never.daylight.altitude = 10;
    const std::time_t now = LocalTime(2026, 6, 1, 12, 0, 0);
    const UploadTime next = PlanNextUpload(now, now, never);
    EXPECT_FALSE(next.found);
    EXPECT_GT(next.at, now + 365 * kDay);
}

// New York's clocks go forward on 8 March 2026: civil dawn stays near 10:51
// UTC, so the local dawn jumps from 05:5x EST to 06:5x EDT, and with a
// period from 06:00 the period binds before the change and dawn after it.
TEST_F(DaylightSchedule, ClockChangeMovesTheLocalDawn)
{
    ScopedTimeZone newYork{"EST5EDT,M3.2.0,M11.1.0"};
    ScheduleSettings s(900, 0, 6 * 3600, 18 * 3600, 0);
    s.daylight = {true, 40.7128, -74.006, -6};
    const std::time_t friday = LocalTime(2026, 3, 6, 22, 0, 0);
    EXPECT_EQ(ComputeNextUpload(friday, friday, s), LocalTime(2026, 3, 7, 6, 0, 0));
    const std::time_t saturday = LocalTime(2026, 3, 7, 22, 0, 0);
    const std::time_t sunday = ComputeNextUpload(saturday, saturday, s);
    EXPECT_NEAR(double(sunday - 1772967095), 0, 60); // 2026-03-08 10:51:35 UTC
    EXPECT_TRUE(FormatTimeOfDay(sunday).startsWith(QStringLiteral("06:51")));
}

// The tick: the time set at start-up is placed in daylight at once, while
// one the user asked for with Upload Now is kept.
class DaylightTick : public DaylightSchedule
{
protected:
    FixedClock clock{LocalTime(2026, 12, 14, 20, 0, 0)};
    StatusRecorder status;
    CCameraApp app;
    CCameraDlg wnd;

    void SetUp() override
    {
        SetDaylightRule(kNorth60);
        app.m_pMainWnd = &wnd;
        app.m_upload.m_nIntervalSecs = 900;
        app.m_upload.m_b24Hours = 1;
        app.m_upload.m_nUploadMode = 3; // a session that does nothing between its steps
        app.m_timeLastStart = clock.now;
        app.m_timeNextUpload = clock.now + 60;
    }
    void TearDown() override { SetDaylightRule({}); }
    int Sessions() const { return int(status.lines.count(QStringLiteral("Starting capture..."))); }
};

TEST_F(DaylightTick, StartUpTimeAtNightWaitsForDawn)
{
    app.OnScheduleTick(clock.now);
    EXPECT_NEAR(double(app.m_timeNextUpload - kDawn60), 0, 60);
    EXPECT_EQ(wnd.GetDlgItem(1004)->property("text").toString(),
              FormatTimeOfDay(app.m_timeNextUpload));
    clock.now += 60;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 0);
}

TEST_F(DaylightTick, UploadNowAtNightIsKept)
{
    app.OnUploadNow();
    clock.now += 1;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 1);
    // And the one after it waits for dawn again.
    EXPECT_NEAR(double(app.m_timeNextUpload - kDawn60), 0, 60);
}

} // namespace
