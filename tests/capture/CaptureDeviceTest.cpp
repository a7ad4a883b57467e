// The main window's side of the capture device: driver menu, connection,
// placement, display switching and the Video commands.
#include "CaptureTestSupport.h"
#include "config/SettingsKeys.h"
#include "res/resource.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <gtest/gtest.h>

namespace
{

const QString kPattern = QStringLiteral("testsrc2=size=320x240:rate=15");

class CaptureDevice : public CaptureWindowTest
{
protected:
    QRect CaptureRect() const { return m_dlg.m_hWndCap->geometry(); }
    bool Checked(int id) const { return m_dlg.MenuItem(id) && m_dlg.MenuItem(id)->isChecked(); }
    bool Enabled(int id) const { return m_dlg.MenuItem(id) && m_dlg.MenuItem(id)->isEnabled(); }
    bool Live() const
    {
        CAPSTATUS s{};
        return SendMessageA(m_dlg.m_hWndCap, WM_CAP_GET_STATUS, sizeof s, LPARAM(&s)) &&
               s.fLiveWindow;
    }
    QStringList Writes() { return m_app.profile()->writeLog(); }
};

} // namespace

TEST_F(CaptureDevice, DriverItemsStandInDescendingOrderAboveTheSeparator)
{
    ScopedDrivers drivers(
        {Source("Zero", "lavfi", kPattern), CaptureDriver{}, Source("Two", "lavfi", kPattern)});
    Create();
    EXPECT_EQ(m_dlg.m_nDriverCount, 2);
    const QList<QAction*> items = m_dlg.VideoMenu()->actions();
    ASSERT_GE(items.size(), 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Two"));
    EXPECT_EQ(items[0]->data().toInt(), ID_VIDEO_DRIVER0 + 2);
    EXPECT_EQ(items[1]->text(), QStringLiteral("Zero"));
    EXPECT_EQ(items[1]->data().toInt(), ID_VIDEO_DRIVER0);
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(m_dlg.MenuItem(ID_VIDEO_DRIVER0 + 1), nullptr);
}

// A camera plugged in after start-up would take index 0 in a new scan.
TEST_F(CaptureDevice, ItemsConnectTheSourceTheirLabelNamesAfterTheListChanges)
{
    const QByteArray listed = "Small=lavfi:testsrc2=size=160x120:rate=5;"
                              "Large=lavfi:testsrc2=size=320x240:rate=5";
    ScopedSources env(listed);
    Create();
    ScopedEnv plugged("VIZO_VIDEO_SOURCES", "New=lavfi:testsrc2=size=64x48:rate=5;" + listed);
    m_dlg.MenuItem(ID_VIDEO_DRIVER0 + 1)->trigger();
    EXPECT_EQ(CaptureRect().size(), QSize(320, 240));
    m_dlg.ConnectDriver(0);
    EXPECT_EQ(CaptureRect().size(), QSize(160, 120));
    char name[80], version[80];
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, "Small");
    EXPECT_FALSE(capGetDriverDescriptionA(2, name, sizeof name, version, sizeof version));
}

TEST_F(CaptureDevice, ConnectingSetsPreviewMenusAndPlacement)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern)});
    Create();
    m_dlg.ConnectDriver(0);
    EXPECT_TRUE(m_boxes.texts.isEmpty());
    EXPECT_TRUE(Checked(ID_VIDEO_DRIVER0));
    EXPECT_TRUE(Checked(ID_VIDEO_PREVIEW));
    EXPECT_FALSE(Checked(ID_VIDEO_OVERLAY));
    EXPECT_FALSE(Enabled(ID_VIDEO_OVERLAY));
    EXPECT_TRUE(Enabled(ID_VIDEO_FORMAT));
    EXPECT_FALSE(Enabled(ID_VIDEO_SOURCE));
    EXPECT_FALSE(Enabled(ID_VIDEO_DISPLAY));
    EXPECT_EQ(CaptureRect(), QRect(34, 26, 320, 240));
    EXPECT_TRUE(Live());
    EXPECT_TRUE(Writes().isEmpty()); // index 0 was already remembered
}

TEST_F(CaptureDevice, FailedConnectionReportsShrinksAndIsRemembered)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern),
                           Source("Broken", "lavfi", QStringLiteral("nosuchfilter"))});
    Create();
    m_dlg.ConnectDriver(0);
    m_dlg.ConnectDriver(1);
    ASSERT_EQ(m_boxes.texts.size(), 1);
    EXPECT_EQ(m_boxes.texts[0],
              QStringLiteral("Vizo could not connect to capture device\n'Broken'!"));
    EXPECT_EQ(m_boxes.types[0], MB_ICONSTOP);
    EXPECT_EQ(CaptureRect(), QRect(192, 144, 0, 0));
    EXPECT_FALSE(Checked(ID_VIDEO_DRIVER0));
    EXPECT_TRUE(Checked(ID_VIDEO_DRIVER0 + 1));
    EXPECT_FALSE(Enabled(ID_VIDEO_FORMAT)); // empty capabilities
    EXPECT_EQ(m_dlg.m_nVideoSource, 1);
    EXPECT_EQ(Writes(), QStringList{QStringLiteral("General/Video Source")});
    EXPECT_EQ(m_app.GetProfileInt(Keys::VideoSource.section, Keys::VideoSource.entry, -1), 1);
}

TEST_F(CaptureDevice, RememberedDriverThatIsGoneFailsWithAnEmptyName)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern)});
    Create();
    // 4: no driver there; 10 and -4: stored values outside the driver range.
    for (int index : {4, 10, -4}) {
        SCOPED_TRACE(index);
        m_boxes.texts.clear();
        m_dlg.m_nVideoSource = index;
        m_dlg.ConnectDriver(index);
        EXPECT_EQ(m_boxes.texts,
                  QStringList{QStringLiteral("Vizo could not connect to capture device\n''!")});
        EXPECT_EQ(CaptureRect(), QRect(192, 144, 0, 0));
        EXPECT_TRUE(Writes().isEmpty());
        EXPECT_FALSE(m_dlg.MenuItem(ID_HELP_HOMEPAGE)->isCheckable());
        EXPECT_FALSE(m_dlg.MenuItem(ID_VIDEO_SOURCE)->isCheckable());
    }
}

TEST_F(CaptureDevice, VideoSourceIsWrittenOnlyWhenTheIndexChanges)
{
    ScopedDrivers drivers({Source("A", "lavfi", kPattern), Source("B", "lavfi", kPattern)});
    Create();
    m_dlg.ConnectDriver(0);
    EXPECT_TRUE(Writes().isEmpty());
    // Picking a driver in the menu reaches ConnectDriver through command routing.
    m_dlg.MenuItem(ID_VIDEO_DRIVER0 + 1)->trigger();
    EXPECT_EQ(m_dlg.m_nVideoSource, 1);
    EXPECT_TRUE(Checked(ID_VIDEO_DRIVER0 + 1));
    EXPECT_FALSE(Checked(ID_VIDEO_DRIVER0));
    EXPECT_EQ(Writes().size(), 1);
    m_dlg.MenuItem(ID_VIDEO_DRIVER0 + 1)->trigger(); // reconnects, writes nothing
    EXPECT_TRUE(Checked(ID_VIDEO_DRIVER0 + 1));
    EXPECT_TRUE(Live());
    EXPECT_EQ(Writes().size(), 1);
    EXPECT_EQ(m_app.GetProfileInt(Keys::VideoSource.section, Keys::VideoSource.entry, -1), 1);
}

TEST_F(CaptureDevice, FormatCommandRecentresTheSmallerPicture)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern)});
    Create();
    m_dlg.ConnectDriver(0);
    ASSERT_EQ(CaptureRect(), QRect(34, 26, 320, 240));
    int modalOpenDuringDialog = 0;
    ModalAnswer answer([&](QDialog& d) {
        modalOpenDuringDialog = m_app.m_bModalOpen;
        return ChooseFormat(160, 120, 24)(d);
    });
    m_app.OnVideoFormat();
    EXPECT_EQ(answer.count, 1);
    EXPECT_EQ(modalOpenDuringDialog, 1);
    EXPECT_EQ(m_app.m_bModalOpen, 0);
    EXPECT_EQ(CaptureRect(), QRect(114, 86, 160, 120));
    ModalAnswer back(ChooseFormat(320, 240, 24)); // the driver remembers its format
    m_app.OnVideoFormat();
}

TEST_F(CaptureDevice, LargerPictureIsClippedToThePictureArea)
{
    ScopedDrivers drivers({Source("Large", "lavfi", QStringLiteral("testsrc2=size=640x200"))});
    Create();
    m_dlg.ConnectDriver(0);
    EXPECT_EQ(CaptureRect(), QRect(2, 46, 384, 200));
}

TEST_F(CaptureDevice, MinimizingStopsTheDisplayAndRestoringResumesIt)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern)});
    Create();
    m_dlg.ConnectDriver(0);
    ASSERT_TRUE(Live());
    m_dlg.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(Live());
    EXPECT_EQ(m_app.GetProfileInt(Keys::Minimized.section, Keys::Minimized.entry, -1), 1);
    m_dlg.setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(Live());
    m_dlg.SuspendDisplay();
    m_app.OnVideoPreview();
    EXPECT_TRUE(Live());
    EXPECT_TRUE(Checked(ID_VIDEO_PREVIEW));
}

TEST_F(CaptureDevice, OverlayCommandDoesNothingWithoutOverlay)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern)});
    Create();
    m_dlg.ConnectDriver(0);
    m_app.OnVideoOverlay();
    EXPECT_EQ(m_dlg.m_bOverlay, 0);
    EXPECT_TRUE(Checked(ID_VIDEO_PREVIEW));
    EXPECT_FALSE(Checked(ID_VIDEO_OVERLAY));
}

TEST_F(CaptureDevice, DriverDialogsNeedAMainWindowAndADialog)
{
    ScopedDrivers drivers({Source("Pattern", "lavfi", kPattern)});
    Create();
    m_dlg.ConnectDriver(0);
    ModalAnswer answer([](QDialog&) { return int(QDialog::Rejected); });
    m_app.OnVideoSource();  // no Source dialog
    m_app.OnVideoDisplay(); // no Display dialog
    EXPECT_EQ(answer.count, 0);
    EXPECT_EQ(m_app.m_bModalOpen, 0);
    m_app.m_pMainWnd = nullptr;
    m_app.OnVideoFormat();
    m_app.OnVideoPreview();
    EXPECT_EQ(answer.count, 0);
}

TEST_F(CaptureDevice, StartUpConnectsTheRememberedSourceOrPausesWithoutOne)
{
    {
        ScopedDrivers drivers({});
        CCameraDlg dlg;
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.reject(); });
        dlg.DoModal();
        EXPECT_EQ(dlg.m_nDriverCount, 0);
        EXPECT_EQ(dlg.m_bPaused, 1);
        ASSERT_EQ(m_boxes.texts.size(), 1);
        EXPECT_TRUE(m_boxes.texts[0].startsWith(QStringLiteral("Your system does not have a\n")));
    }
    m_boxes.texts.clear();
    ScopedDrivers drivers({Source("A", "lavfi", kPattern), Source("B", "lavfi", kPattern)});
    m_dlg.m_nVideoSource = 1;
    QTimer::singleShot(0, &m_dlg, [this] { m_dlg.reject(); });
    m_dlg.DoModal();
    EXPECT_TRUE(m_boxes.texts.isEmpty());
    EXPECT_EQ(m_dlg.m_nDriverCount, 2);
    EXPECT_TRUE(Checked(ID_VIDEO_DRIVER0 + 1));
    EXPECT_EQ(CaptureRect(), QRect(34, 26, 320, 240));
    // Destruction let the driver go.
    EXPECT_EQ(SendMessageA(m_dlg.m_hWndCap, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0), 0);
}

// Sources added on the Cameras page move the chosen one down the list: it
// stays chosen by name, and the menu holds each source once.
TEST_F(CaptureDevice, RebuiltMenuKeepsTheChosenSourceByName)
{
    ScopedSources env("");
    SetSettingsVideoSources({{"Mid", "lavfi:" + kPattern}, {"Zed", "lavfi:testsrc2=size=160x120"}});
    Create();
    m_dlg.ConnectDriver(1);
    SetSettingsVideoSources({{"Zed", "lavfi:testsrc2=size=160x120"},
                             {"Alpha", "lavfi:" + kPattern},
                             {"Mid", "lavfi:" + kPattern}});
    m_dlg.RebuildDriverMenu();
    EXPECT_EQ(m_dlg.m_nVideoSource, 2);
    EXPECT_EQ(m_app.profile()->ReadInt("General", "Video Source", -1), 2);
    EXPECT_TRUE(Checked(ID_VIDEO_DRIVER0 + 2));
    EXPECT_FALSE(Checked(ID_VIDEO_DRIVER0 + 1));
    QStringList names;
    for (QAction* item : m_dlg.VideoMenu()->actions())
        if (item->data().toInt() >= ID_VIDEO_DRIVER0 &&
            item->data().toInt() < ID_VIDEO_DRIVER0 + 10)
            names << item->text();
    EXPECT_EQ(names, QStringList({"Zed", "Mid", "Alpha"}));
    CAPSTATUS s{};
    SendMessageA(m_dlg.m_hWndCap, WM_CAP_GET_STATUS, sizeof s, LPARAM(&s));
    EXPECT_EQ(s.uiImageWidth, 160u);
    SetSettingsVideoSources({});
}
