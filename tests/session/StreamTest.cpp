#include "SessionTestBase.h"

#include "platform/afx/precisewake.h"
#include "session/StreamLog.h"
#include "session/UploadSession.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <chrono>
#include <thread>

namespace
{

class StreamTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        u.m_nUploadMode = 2;
        u.m_fMaxFps = 10;
    }
    int FrameLines() const
    {
        return SessionLines().filter(QRegularExpression("^Succesful upload at .* fps\\)$")).size();
    }
};

TEST_F(StreamTest, AbortEndsTheStreamAndTheNextOneIsDueSoon)
{
    OnStatus("Succesful upload at",
             [this] { QTimer::singleShot(400, [this] { PostClick(1002); }); });
    FixedClock clock(LocalTime(2026, 1, 14, 12, 0, 0));
    RunSession();
    EXPECT_GE(FrameLines(), 2);
    EXPECT_EQ(SessionLines().last(), "Uploaded stream at " + StartText());
    EXPECT_EQ(app.m_timeNextUpload, clock.now + 5);
    EXPECT_EQ(server.ListFiles(), QStringList{"cam.jpg"});
    EXPECT_EQ(server.ReadFile("cam.jpg"), ReadLocal("cam.jpg"));
    EXPECT_EQ(server.CountCommands("USER"), 1);
    EXPECT_EQ(wnd.m_bPaused, 0);
}

TEST_F(StreamTest, LeavingTheUploadPeriodEndsIt)
{
    FixedClock clock(LocalTime(2026, 1, 14, 17, 59, 58));
    u.m_b24Hours = 0;
    u.m_nFromSecs = 9 * 3600;
    u.m_nToSecs = 18 * 3600;
    OnStatus("Succesful upload at", [&clock] { clock.now += 5; }); // past 18:00:00
    RunSession();
    EXPECT_EQ(FrameLines(), 1);
    EXPECT_EQ(SessionLines().last(), "Uploaded stream at 17:59:58");
    // Outside the period: the next stream at tomorrow's start of it.
    EXPECT_EQ(app.m_timeNextUpload, LocalTime(2026, 1, 15, 9, 0, 0));
}

TEST_F(StreamTest, FtpFailureInterruptsIt)
{
    server.Refuse(QStringLiteral("STOR"), -1);
    RunSession();
    const QStringList lines = SessionLines();
    EXPECT_TRUE(lines.contains("FTP session failed"));
    EXPECT_TRUE(lines.last().startsWith("Continuous stream interrupted at "));
    EXPECT_TRUE(server.ListFiles().isEmpty());
}

TEST_F(StreamTest, FailedConnectionEndsAtOnceWithoutReschedule)
{
    u.m_strFtpPassword = QStringLiteral("wrong");
    FixedClock clock(LocalTime(2026, 1, 14, 12, 0, 0));
    const std::time_t before = app.m_timeNextUpload;
    RunSession();
    EXPECT_EQ(SessionLines().last(),
              QStringLiteral("FTP session failed (Invalid username/password (FTP error))"));
    EXPECT_NE(app.m_timeNextUpload, before); // set at the start only
    EXPECT_EQ(app.m_timeNextUpload, app.m_timeLastStart + 5);
    EXPECT_EQ(app.m_bSessionActive, 0);
}

TEST_F(StreamTest, RateIsLimited)
{
    u.m_fMaxFps = 5;
    OnStatus("Succesful upload at",
             [this] { QTimer::singleShot(1500, [this] { PostClick(1002); }); });
    RunSession();
    QStringList rates = SessionLines().filter(QRegularExpression("fps\\)$"));
    ASSERT_GE(rates.size(), 4);
    rates.removeLast(); // the abort cuts the last wait short
    for (const QString& line : rates) {
        const double rate = line.section('(', 1).section(' ', 0, 0).toDouble();
        EXPECT_LE(rate, 5.01) << line.toStdString();
        EXPECT_GE(rate, 4.0) << line.toStdString();
    }
}

TEST(FramePeriod, IsTheShortestWholePeriodWithinTheRate)
{
    for (float fps : {30.0f, 29.97f, 25.0f, 2.0f, 1000.0f, 0.01f, 7.3f, 3000.0f}) {
        const qint64 ms = FramePeriodMs(fps);
        EXPECT_LE(1000.0 / double(ms), double(fps)) << fps;
        if (ms > 1) {
            EXPECT_GT(1000.0 / double(ms - 1), double(fps)) << fps;
        }
    }
    EXPECT_EQ(FramePeriodMs(30.0f), 34);
    EXPECT_EQ(FramePeriodMs(25.0f), 40);
}

TEST(FramePeriod, SleepingTheRemainderReachesTheTick)
{
    for (int i = 0; i < 20; ++i) {
        const qint64 target = MillisecondClock() + 1 + i % 3;
        const qint64 ns = NanosecondsUntilMillisecond(target);
        EXPECT_LE(ns, qint64(3000000));
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
        EXPECT_GE(MillisecondClock(), target);
    }
}

// Nothing else wakes this loop: only the exact timer can end each wait, and
// never before its tick.
TEST(FramePeriod, ExactWakeEndsTheEventLoopsWaitOnTheTick)
{
    PreciseWake wake;
    bool stuck = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&stuck] { stuck = true; });
    guard.start(5000);
    for (int i = 0; i < 10 && !stuck; ++i) {
        const qint64 target = MillisecondClock() + 2 + i % 3;
        ASSERT_TRUE(wake.Arm(NanosecondsUntilMillisecond(target)));
        while (MillisecondClock() < target && !stuck)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        EXPECT_GE(MillisecondClock(), target);
    }
    EXPECT_FALSE(stuck) << "a wait was not ended by its timer";
}

} // namespace

// A day of streaming must fit in a journal: one success line at the start,
// then a summary a minute; the status bar still shows every frame.
TEST(StreamLogRule, FirstFrameThenASummaryAMinute)
{
    StreamLogRule rule(60000, false);
    EXPECT_TRUE(rule.Published(1000).logLine);
    int logged = 0;
    QStringList summaries;
    // Ten frames a second for three minutes.
    for (qint64 t = 1100; t <= 181000; t += 100) {
        const StreamLogRule::Frame f = rule.Published(t);
        logged += f.logLine;
        if (!f.summary.isEmpty())
            summaries << f.summary;
    }
    EXPECT_EQ(logged, 0);
    EXPECT_EQ(summaries, QStringList({"Stream running: 600 frames in the last 60 s (10.00 fps)",
                                      "Stream running: 600 frames in the last 60 s (10.00 fps)",
                                      "Stream running: 600 frames in the last 60 s (10.00 fps)"}));
    // A stall is said at the next frame, with the rate it really had.
    const StreamLogRule::Frame late = rule.Published(301000);
    EXPECT_EQ(late.summary, "Stream running: 1 frames in the last 120 s (0.01 fps)");
}

TEST(StreamLogRule, EveryFrameWhenAsked)
{
    StreamLogRule rule(60000, true);
    for (qint64 t = 0; t < 2000; t += 100)
        EXPECT_TRUE(rule.Published(t).logLine) << t;
}

TEST_F(StreamTest, OnlyTheFirstFrameIsLoggedTheStatusBarShowsEach)
{
    ScopedEnv defaultLog("VIZO_LOG_EVERY_FRAME", nullptr);
    QString firstLine, laterFrame;
    QTimer watch;
    // Ends the stream once the status bar shows a frame after the logged one,
    // however slowly a loaded machine delivers it.
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString shown = wnd.StatusText().section('\t', 0, 0);
        if (laterFrame.isEmpty() && shown.startsWith("Succesful upload at") && shown != firstLine) {
            laterFrame = shown;
            PostClick(1002);
        }
    });
    OnStatus("Succesful upload at", [&] {
        firstLine = SessionLines().last();
        watch.start(10);
        QTimer::singleShot(20000, [this] { PostClick(1002); });
    });
    RunSession();
    EXPECT_FALSE(laterFrame.isEmpty()) << "no second frame on the status bar";
    EXPECT_EQ(FrameLines(), 1) << SessionLines().join("\n").toStdString();
    EXPECT_FALSE(SessionLines().contains(laterFrame));
    EXPECT_EQ(SessionLines().last(), "Uploaded stream at " + StartText());
}
