#include "app/CCameraApp.h"
#include "config/Profile.h"
#include "res/resource.h"
#include "session/CCameraDlg.h"
#include "session/Schedule.h"
#include "testsupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <gtest/gtest.h>

// The capture layer fails to create its window only without a parent, which
// the main window always gives; the test's link routes creation through this
// switch (--wrap) to reach the failure path.
bool g_failCaptureWindow = false;
HWND RealCreateCaptureWindow(LPCSTR, DWORD, int, int, int, int, HWND,
                             int) asm("__real__Z23capCreateCaptureWindowAPKcjiiiiP7QWidgeti");
HWND WrappedCreateCaptureWindow(LPCSTR, DWORD, int, int, int, int, HWND,
                                int) asm("__wrap__Z23capCreateCaptureWindowAPKcjiiiiP7QWidgeti");
HWND WrappedCreateCaptureWindow(LPCSTR name, DWORD style, int x, int y, int width, int height,
                                HWND parent, int id)
{
    if (g_failCaptureWindow)
        return nullptr;
    return RealCreateCaptureWindow(name, style, x, y, width, height, parent, id);
}

namespace
{

// The main window run as start-up runs it, with the test acting inside its
// modal run (the window is initialised and shown by then).
class MainWindowTest : public ::testing::Test
{
protected:
    ScopedConfigHome home;
    ScopedTimeZone tz{"UTC0"};
    FixedClock clock{LocalTime(2026, 1, 14, 10, 0, 0)};
    MessageBoxRecorder boxes;
    CCameraApp app;
    CCameraDlg wnd;

    void SetUp() override
    {
        app.SetRegistryKey(QStringLiteral("Brindlecote"));
        app.m_pMainWnd = &wnd;
        app.m_upload.m_nIntervalSecs = 900;
        app.m_upload.m_b24Hours = 1;
        app.m_timeLastStart = clock.now;
        app.m_timeNextUpload = clock.now + 60;
    }

    void RunWindow(const std::function<void()>& inside)
    {
        ModalAnswer modal([&](QDialog& d) {
            d.show();
            QCoreApplication::processEvents();
            inside();
            return IDCANCEL;
        });
        EXPECT_EQ(wnd.DoModal(), IDCANCEL);
    }

    QString Text(int id) { return wnd.GetDlgItem(id)->property("text").toString(); }
};

TEST_F(MainWindowTest, StartsWithItsControlsMenuAndNextUploadTime)
{
    RunWindow([&] {
        EXPECT_EQ(wnd.windowTitle(), QStringLiteral("Vizo"));
        EXPECT_TRUE(wnd.GetDlgItem(IDC_UPLOAD_NOW)->isEnabled());
        EXPECT_FALSE(wnd.GetDlgItem(IDC_ABORT)->isEnabled());
        EXPECT_EQ(Text(IDC_NEXT_LABEL), QStringLiteral("Next upload\nscheduled at:"));
        EXPECT_EQ(Text(IDC_NEXT_UPLOAD), QStringLiteral("10:01:00"));
        EXPECT_FALSE(wnd.GetDlgItem(IDC_LOGO)->isVisible());
        EXPECT_TRUE(wnd.MenuItem(ID_SESSION_UPLOADNOW)->isEnabled());
        EXPECT_FALSE(wnd.MenuItem(ID_SESSION_ABORT)->isEnabled());
        EXPECT_EQ(wnd.StatusText(), QStringLiteral("Idle\t\t10:00:00"));
        // Fixed size: a maximize request leaves the normal size.
        const QSize normal = wnd.size();
        wnd.setWindowState(Qt::WindowMaximized);
        QCoreApplication::processEvents();
        EXPECT_FALSE(wnd.windowState() & Qt::WindowMaximized);
        EXPECT_EQ(wnd.size(), normal);
    });
}

// An upload waiting days for daylight: the box shows its day, the tooltip all of it.
TEST_F(MainWindowTest, NextUploadDaysAheadShowsItsDay)
{
    RunWindow([&] {
        const std::time_t later = clock.now + 38 * 86400;
        wnd.ShowNextUpload(later);
        std::tm local{};
        localtime_r(&later, &local);
        char day[16];
        std::strftime(day, sizeof day, "%d %b", &local);
        EXPECT_EQ(Text(IDC_NEXT_UPLOAD), QString::fromLatin1(day));
        EXPECT_EQ(wnd.GetDlgItem(IDC_NEXT_UPLOAD)->toolTip(), FormatNextUpload(later, clock.now));
        EXPECT_TRUE(wnd.GetDlgItem(IDC_NEXT_UPLOAD)->toolTip().startsWith("20"));
        wnd.ShowNextUpload(clock.now + 60);
        EXPECT_EQ(Text(IDC_NEXT_UPLOAD), QStringLiteral("10:01:00"));
        EXPECT_EQ(wnd.GetDlgItem(IDC_NEXT_UPLOAD)->toolTip(), QString());
    });
}

TEST_F(MainWindowTest, MenuHoldsEveryCommandInOrder)
{
    QStringList texts;
    for (QAction* popup : wnd.findChild<QMenuBar*>()->actions()) {
        texts << popup->text();
        for (QAction* item : popup->menu()->actions())
            texts << (item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    EXPECT_EQ(texts, (QStringList{"&File",
                                  "&Settings",
                                  "-",
                                  "E&xit",
                                  "&Session",
                                  "&Upload now",
                                  "&Abort connection",
                                  "&Video",
                                  "-",
                                  "&Source",
                                  "&Format",
                                  "&Display",
                                  "-",
                                  "&Preview",
                                  "&Overlay",
                                  "&Help",
                                  "&Contents",
                                  "&Vizo home page (online)",
                                  "-",
                                  "&About"}));
    EXPECT_EQ(wnd.MenuItem(ID_HELP_FINDER)->data().toInt(), 57666);
}

TEST_F(MainWindowTest, CaptureWindowThatCannotBeCreatedEndsTheWindowAtOnce)
{
    g_failCaptureWindow = true;
    int runs = 0;
    ModalAnswer modal([&](QDialog&) { return ++runs, IDCANCEL; });
    EXPECT_EQ(wnd.DoModal(), 1);
    g_failCaptureWindow = false;
    EXPECT_EQ(runs, 0) << "the window never ran";
    // Nothing after the capture window: no driver list, so no no-device box.
    EXPECT_EQ(boxes.texts, QStringList{"Could not create capture windows!"});
}

TEST_F(MainWindowTest, NoCaptureDeviceStartsPaused)
{
    RunWindow([&] {
        EXPECT_EQ(wnd.m_bPaused, 1);
        EXPECT_EQ(Text(IDC_PAUSE), QStringLiteral("&Resume"));
        EXPECT_FALSE(wnd.GetDlgItem(IDC_NEXT_UPLOAD)->isEnabled());
        EXPECT_FALSE(wnd.GetDlgItem(IDC_NEXT_LABEL)->isEnabled());
    });
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("Your system does not have a")));
    EXPECT_EQ(boxes.types[0] & MB_ICONSTOP, MB_ICONSTOP);
}

TEST_F(MainWindowTest, PauseTogglesCaptionAndGreysTheLabels)
{
    RunWindow([&] {
        auto* pause = static_cast<QPushButton*>(wnd.GetDlgItem(IDC_PAUSE));
        pause->click(); // resume from the no-device start
        EXPECT_EQ(wnd.m_bPaused, 0);
        EXPECT_EQ(pause->text(), QStringLiteral("&Pause"));
        EXPECT_TRUE(wnd.GetDlgItem(IDC_NEXT_LABEL)->isEnabled());
        pause->click();
        EXPECT_EQ(wnd.m_bPaused, 1);
        EXPECT_EQ(pause->text(), QStringLiteral("&Resume"));
        EXPECT_FALSE(wnd.GetDlgItem(IDC_NEXT_UPLOAD)->isEnabled());
    });
}

TEST_F(MainWindowTest, StatusClockAdvancesWithoutNewStatus)
{
    RunWindow([&] {
        wnd.SetStatus(QStringLiteral("Connected."));
        EXPECT_EQ(wnd.StatusText(), QStringLiteral("Connected.\t\t10:00:00"));
        clock.now += 7;
        WaitFor([] { return false; }, 650);
        EXPECT_EQ(wnd.StatusText(), QStringLiteral("Connected.\t\t10:00:07"));
        const QStatusBar* bar = wnd.m_wndStatusBar;
        ASSERT_NE(bar, nullptr);
        QStringList shown;
        for (QLabel* l : bar->findChildren<QLabel*>())
            shown << l->text();
        EXPECT_TRUE(shown.contains(QStringLiteral("Connected.")));
        EXPECT_TRUE(shown.contains(QStringLiteral("10:00:07")));
    });
}

TEST_F(MainWindowTest, LongStatusLeavesTheClockWholeAndShortOneKeepsTheBar)
{
    RunWindow([&] {
        const QStatusBar* bar = wnd.m_wndStatusBar;
        ASSERT_NE(bar, nullptr);
        const int height = bar->height();
        QLabel* clock = nullptr;
        for (QLabel* l : bar->findChildren<QLabel*>())
            if (l->text() == QStringLiteral("10:00:00"))
                clock = l;
        ASSERT_NE(clock, nullptr);
        for (const QString& text : {QString(400, QChar('W')), QStringLiteral("Idle")}) {
            wnd.SetStatus(text);
            WaitFor([] { return false; }, 50);
            EXPECT_EQ(bar->height(), height);
            EXPECT_GE(clock->width(), clock->sizeHint().width());
            EXPECT_LE(clock->geometry().right(), bar->contentsRect().right());
            for (QLabel* l : bar->findChildren<QLabel*>())
                if (l != clock) {
                    EXPECT_EQ(l->text(), text);
                    EXPECT_GT(l->width(), 100);
                    EXPECT_LE(l->geometry().right(), clock->geometry().left());
                }
        }
    });
}

TEST_F(MainWindowTest, MinimizeAndRestoreAreStored)
{
    RunWindow([&] {
        wnd.setWindowState(Qt::WindowMinimized);
        QCoreApplication::processEvents();
        EXPECT_EQ(app.GetProfileInt("General", "Minimized", -1), 1);
        wnd.setWindowState(Qt::WindowNoState);
        QCoreApplication::processEvents();
        EXPECT_EQ(app.GetProfileInt("General", "Minimized", -1), 0);
    });
}

TEST_F(MainWindowTest, OkDoesNothingAndUploadNowButtonSchedulesOneSecondAhead)
{
    RunWindow([&] {
        wnd.accept();
        EXPECT_TRUE(wnd.isVisible());
        static_cast<QPushButton*>(wnd.GetDlgItem(IDC_UPLOAD_NOW))->click();
        EXPECT_EQ(app.m_timeNextUpload, clock.now + 1);
        // The label keeps the regular time.
        EXPECT_EQ(Text(IDC_NEXT_UPLOAD), QStringLiteral("10:01:00"));
    });
}

} // namespace
