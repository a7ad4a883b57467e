#include "SessionTestBase.h"

#include "platform/afx/log.h"
#include "res/resource.h"
#include "session/Schedule.h"

#include <QCoreApplication>
#include <QLabel>

namespace
{

// The schedule's own ticks drive the sessions; the clock is fixed and moved by
// the test, so waits of minutes take no time.
class RetryTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        SetRetryJitterSource([] { return 0.0; });
        m_sessionObserver = SetLogObserver([this](const char* kind, const QString& text) {
            if (qstrcmp(kind, "schedule") == 0)
                scheduleLines << text;
            m_sessionObserver(kind, text);
        });
        app.m_timeNextUpload = t0;
    }
    void TearDown() override
    {
        SetLogObserver(m_sessionObserver);
        SetRetryJitterSource(nullptr);
        SetRetryFailed(true);
        SessionTest::TearDown();
    }
    void InWindow(const std::function<void()>& body)
    {
        ModalAnswer modal([&](QDialog& d) {
            d.show();
            QCoreApplication::processEvents();
            wnd.m_bPaused = 0;
            body();
            return IDCANCEL;
        });
        wnd.DoModal();
    }
    void TickAt(std::time_t t)
    {
        clock.now = t;
        app.OnScheduleTick(t);
    }
    int Tries() const { return server.CountCommands(QStringLiteral("STOR")); }
    QString NextUploadShown() const
    {
        return qobject_cast<QLabel*>(wnd.GetDlgItem(IDC_NEXT_UPLOAD))->text();
    }

    FixedClock clock{LocalTime(2026, 1, 14, 12, 0, 0)};
    const std::time_t t0 = clock.now;
    QStringList scheduleLines;

private:
    std::function<void(const char*, const QString&)> m_sessionObserver;
};

TEST_F(RetryTest, TriesAgainWithFreshPicturesUntilTheServerTakesOne)
{
    server.Refuse(QStringLiteral("STOR"), 2);
    QByteArray firstPicture;
    InWindow([&] {
        TickAt(t0);
        firstPicture = ReadLocal(QStringLiteral("cam.jpg"));
        EXPECT_EQ(app.m_timeNextUpload, t0 + 30);
        EXPECT_EQ(NextUploadShown(), QStringLiteral("12:00:30"));
        TickAt(t0 + 30);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 90);
        TickAt(t0 + 90);
        EXPECT_EQ(Tries(), 3);
        // The regular time stood throughout.
        EXPECT_EQ(app.m_timeNextUpload, t0 + 900);
        // A success ends the back-off: the next failure waits 30 s again.
        server.Refuse(QStringLiteral("STOR"), 1);
        clock.now = t0 + 200;
        app.OnUploadNow();
        TickAt(t0 + 201);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 231);
    });
    EXPECT_EQ(scheduleLines, (QStringList{"Upload failed; trying again at 12:00:30",
                                          "Upload failed; trying again at 12:01:30",
                                          "Upload failed; trying again at 12:03:51"}));
    const QByteArray last = server.ReadFile(QStringLiteral("cam.jpg"));
    EXPECT_TRUE(IsJpeg(last));
    EXPECT_NE(last, firstPicture);
}

TEST_F(RetryTest, PauseAndAbortGiveUpTheTriesAndTheRegularTimeStands)
{
    server.Refuse(QStringLiteral("STOR"));
    InWindow([&] {
        TickAt(t0);
        ASSERT_EQ(app.m_timeNextUpload, t0 + 30);
        wnd.m_bPaused = 1;
        TickAt(t0 + 10);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 900);
        wnd.m_bPaused = 0;
        TickAt(t0 + 30);
        EXPECT_EQ(Tries(), 1);

        TickAt(t0 + 900);
        ASSERT_EQ(app.m_timeNextUpload, t0 + 930);
        OnStatus(QStringLiteral("Opening FTP session"), [this] { app.OnAbortConnection(); });
        TickAt(t0 + 930);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 1800);
        TickAt(t0 + 990);
    });
    // Sessions at t0, t0 + 900 and the aborted try; none after the pause or the abort.
    EXPECT_EQ(status.lines.count(QStringLiteral("Starting capture...")), 3);
    EXPECT_EQ(scheduleLines.size(), 2);
}

// With a 60 s interval the second try (60 s after the first) would meet the
// regular upload; that one comes instead, and its failure starts again at 30 s.
TEST_F(RetryTest, NoTryAtOrPastTheNextRegularUpload)
{
    u.m_nIntervalSecs = 60;
    server.Refuse(QStringLiteral("STOR"));
    InWindow([&] {
        TickAt(t0);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 30);
        TickAt(t0 + 30);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 60);
        TickAt(t0 + 60);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 90);
    });
    EXPECT_EQ(Tries(), 3);
}

TEST_F(RetryTest, NoTryWhenOffOrOutsideTheUploadPeriod)
{
    server.Refuse(QStringLiteral("STOR"));
    u.m_b24Hours = 0;
    u.m_nFromSecs = 9 * 3600;
    u.m_nToSecs = 12 * 3600 + 20; // ends before the first try would come
    InWindow([&] {
        TickAt(t0);
        EXPECT_EQ(app.m_timeNextUpload, LocalTime(2026, 1, 15, 9, 0, 0));
        u.m_b24Hours = 1;
        SetRetryFailed(false);
        app.OnUploadNow();
        TickAt(t0 + 1);
        EXPECT_EQ(app.m_timeNextUpload, t0 + 901);
    });
    EXPECT_EQ(Tries(), 2);
    EXPECT_TRUE(scheduleLines.isEmpty());
}

} // namespace
