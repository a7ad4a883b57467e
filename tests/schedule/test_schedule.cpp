#include "app/CCameraApp.h"
#include "session/CCameraDlg.h"
#include "session/Schedule.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace
{

// Central European time with its daylight-saving rules, without tzdata.
constexpr const char* kTz = "CET-1CEST,M3.5.0,M10.5.0/3";

ScheduleSettings Period(unsigned interval, int from = 32400, int to = 64800)
{
    ScheduleSettings s;
    s.intervalSecs = interval;
    s.b24Hours = 0;
    s.fromSecs = from;
    s.toSecs = to;
    return s;
}

class ScheduleRules : public ::testing::Test
{
protected:
    ScopedTimeZone tz{kTz};
    std::time_t At(int h, int m, int s, int day = 14) { return LocalTime(2026, 1, day, h, m, s); }
};

TEST_F(ScheduleRules, AroundTheClockCountsFromTheLastStart)
{
    ScheduleSettings s;
    s.intervalSecs = 900;
    EXPECT_EQ(ComputeNextUpload(At(10, 0, 3), At(10, 0, 0), s), At(10, 15, 0));
    // A session longer than the interval: due five seconds from now.
    EXPECT_EQ(ComputeNextUpload(At(10, 20, 0), At(10, 0, 0), s), At(10, 20, 5));
    s.intervalSecs = 0;
    EXPECT_EQ(ComputeNextUpload(At(10, 0, 0), At(10, 0, 0), s), At(10, 0, 5));
    s.uploadMode = 2;
    s.intervalSecs = 900;
    EXPECT_EQ(ComputeNextUpload(At(10, 0, 0), At(9, 0, 0), s), At(10, 0, 5));
}

TEST_F(ScheduleRules, PeriodClipsToTodaysWindow)
{
    const ScheduleSettings s = Period(900);
    // 18:05 is after To: tomorrow's From.
    EXPECT_EQ(ComputeNextUpload(At(17, 50, 5), At(17, 50, 0), s), At(9, 0, 0, 15));
    // Exactly To is not moved.
    EXPECT_EQ(ComputeNextUpload(At(17, 45, 5), At(17, 45, 0), s), At(18, 0, 0));
    // Before From: today's From.
    EXPECT_EQ(ComputeNextUpload(At(7, 0, 0), At(7, 0, 0), s), At(9, 0, 0));
    // A day's interval lands after today's To: tomorrow's From.
    EXPECT_EQ(ComputeNextUpload(At(10, 0, 1), At(10, 0, 0), Period(86400)), At(9, 0, 0, 15));
}

TEST_F(ScheduleRules, FromLaterThanToIsNotWrappedAroundMidnight)
{
    const ScheduleSettings s = Period(900, 79200, 7200);
    EXPECT_EQ(ComputeNextUpload(At(23, 0, 1), At(23, 0, 0), s), At(22, 0, 0, 15));
    // Inside the early part, before From: moved to today's From.
    EXPECT_EQ(ComputeNextUpload(At(1, 0, 1), At(1, 0, 0), s), At(22, 0, 0));
    for (int h : {0, 1, 3, 12, 21, 23})
        EXPECT_FALSE(WithinUploadPeriod(At(h, 30, 0), s)) << h;
}

TEST_F(ScheduleRules, BothEndsBelongToThePeriod)
{
    const ScheduleSettings s = Period(900);
    EXPECT_TRUE(WithinUploadPeriod(At(9, 0, 0), s));
    EXPECT_TRUE(WithinUploadPeriod(At(18, 0, 0), s));
    EXPECT_FALSE(WithinUploadPeriod(At(8, 59, 59), s));
    EXPECT_FALSE(WithinUploadPeriod(At(18, 0, 1), s));
    ScheduleSettings always;
    EXPECT_TRUE(WithinUploadPeriod(At(3, 0, 0), always));
}

// On the night the clocks go forward the day has 23 hours. The period keeps
// the wall clock: the next day's session is at 09:00 local time, not 10:00.
TEST_F(ScheduleRules, DaylightSavingChangeKeepsTheWallClock)
{
    const ScheduleSettings s = Period(900);
    const std::time_t saturday = LocalTime(2026, 3, 28, 17, 50, 5);
    const std::time_t next = ComputeNextUpload(saturday, saturday - 5, s);
    EXPECT_EQ(next, LocalTime(2026, 3, 29, 9, 0, 0));
    EXPECT_EQ(FormatTimeOfDay(next), QStringLiteral("09:00:00"));
    // 6:09:55 to midnight, then only 8 real hours to 09:00 summer time.
    EXPECT_EQ(next - saturday, 6 * 3600 + 9 * 60 + 55 + 8 * 3600);
    // And back in autumn, a 25-hour day.
    const std::time_t autumn = LocalTime(2026, 10, 24, 17, 50, 5);
    EXPECT_EQ(FormatTimeOfDay(ComputeNextUpload(autumn, autumn - 5, s)),
              QStringLiteral("09:00:00"));
}

TEST_F(ScheduleRules, NextIsAlwaysInTheFuture)
{
    const ScheduleSettings settings[] = {Period(900), Period(0), Period(86400, 0, 0),
                                         Period(60, 86399, 86399), ScheduleSettings{}};
    for (const ScheduleSettings& s : settings)
        for (int h = 0; h < 24; h += 3)
            for (std::time_t last : {At(h, 0, 0) - 100000, At(h, 0, 0)}) {
                const std::time_t now = At(h, 7, 30);
                EXPECT_GE(ComputeNextUpload(now, last, s), now + 1) << h;
            }
}

// The tick as the main window's timer drives it, with a fixed clock.
class ScheduleTick : public ::testing::Test
{
protected:
    ScopedTimeZone tz{kTz};
    FixedClock clock{LocalTime(2026, 1, 14, 10, 0, 0)};
    StatusRecorder status;
    CCameraApp app;
    CCameraDlg wnd;

    void SetUp() override
    {
        app.m_pMainWnd = &wnd;
        app.m_upload.m_nIntervalSecs = 900;
        app.m_upload.m_b24Hours = 1;
        app.m_upload.m_nUploadMode = 3; // a session that does nothing between its steps
        app.m_timeLastStart = clock.now;
        app.m_timeNextUpload = clock.now + 60;
    }
    int Sessions() const { return int(status.lines.count(QStringLiteral("Starting capture..."))); }
};

TEST_F(ScheduleTick, StartsOnlyOnTheExactSecond)
{
    clock.now += 59;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 0);
    clock.now += 1;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 1);
    EXPECT_EQ(app.m_timeLastStart, clock.now);
    EXPECT_EQ(app.m_timeNextUpload, clock.now + 900);
    EXPECT_EQ(app.m_bSessionActive, 0);
    // A second tick in the same second finds the time moved on.
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 1);
}

TEST_F(ScheduleTick, TickWithZeroUsesTheCurrentTime)
{
    clock.now += 60;
    app.OnScheduleTick(0);
    EXPECT_EQ(Sessions(), 1);
}

TEST_F(ScheduleTick, HeldPausedOrBusyStartsNothingButMovesAMissedTime)
{
    clock.now += 60;
    app.m_bSessionActive = 1;
    app.OnScheduleTick(clock.now);
    app.m_bSessionActive = 0;
    wnd.m_bPaused = 1;
    app.OnScheduleTick(clock.now);
    wnd.m_bPaused = 0;
    app.m_bModalOpen = 1;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 0);
    EXPECT_EQ(app.m_timeNextUpload, clock.now);

    // Missed while held: recomputed from the last start.
    clock.now += 1;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 0);
    EXPECT_EQ(app.m_timeNextUpload, app.m_timeLastStart + 900);
    // Still past after a long hold: five seconds on, and the label follows.
    clock.now += 3600;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(app.m_timeNextUpload, clock.now + 5);
    EXPECT_EQ(wnd.GetDlgItem(1004)->property("text").toString(), FormatTimeOfDay(clock.now + 5));
}

TEST_F(ScheduleTick, UploadNowWhilePausedIsReplacedByTheRegularTime)
{
    wnd.m_bPaused = 1;
    app.OnUploadNow();
    EXPECT_EQ(app.m_timeNextUpload, clock.now + 1);
    clock.now += 1;
    app.OnScheduleTick(clock.now);
    clock.now += 1;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 0);
    EXPECT_EQ(app.m_timeNextUpload, app.m_timeLastStart + 900);
}

TEST_F(ScheduleTick, UploadNowStartsOneSecondLater)
{
    app.OnUploadNow();
    clock.now += 1;
    app.OnScheduleTick(clock.now);
    EXPECT_EQ(Sessions(), 1);
}

} // namespace

namespace
{
// The waits double from 30 s, each within a tenth either way, and the jitter's
// ends are the bounds.
TEST(RetryRule, WaitsDoubleWithinTheJitterBounds)
{
    const std::time_t failed = 1'000'000, regular = failed + 86400;
    const int expected[] = {30, 60, 120, 240};
    for (int n = 1; n <= 4; ++n) {
        const int base = expected[n - 1];
        EXPECT_EQ(NextRetry(n, failed, regular, 0.0), failed + base) << n;
        EXPECT_EQ(NextRetry(n, failed, regular, -1.0), failed + base - base / 10) << n;
        EXPECT_EQ(NextRetry(n, failed, regular, 1.0), failed + base + base / 10) << n;
        // A source that strays is held to the bounds.
        EXPECT_EQ(NextRetry(n, failed, regular, 7.0), failed + base + base / 10) << n;
    }
}

TEST(RetryRule, NeverAtOrPastTheNextRegularUpload)
{
    const std::time_t failed = 1'000'000;
    EXPECT_EQ(NextRetry(1, failed, failed + 31, 0.0), failed + 30);
    EXPECT_EQ(NextRetry(1, failed, failed + 30, 0.0), std::nullopt);
    EXPECT_EQ(NextRetry(2, failed, failed + 60, -0.5), failed + 57);
    EXPECT_EQ(NextRetry(3, failed, failed + 100, -1.0), std::nullopt);
    // No failure yet, and a count that would overflow a shift.
    EXPECT_EQ(NextRetry(0, failed, failed + 900, 0.0), std::nullopt);
    EXPECT_EQ(NextRetry(1000, failed, failed + 900, 0.0), std::nullopt);
    const auto longest = NextRetry(1000, failed, failed + 100'000'000, 0.0);
    ASSERT_TRUE(longest.has_value());
    EXPECT_EQ(*longest, failed + 30 * (1 << 20));
}
} // namespace
