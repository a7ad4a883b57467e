// The Settings command end to end: copy in, the editing forms, what OK
// stores, and what Cancel leaves alone.
#include "settingsdlg_support.h"

#include "platform/afx/log.h"
#include "session/Schedule.h"

#include <QDir>
#include <QFileInfo>

TEST_F(SettingsDialogTest, IntervalShowsInItsLargestWholeUnit)
{
    const struct {
        unsigned secs;
        const char* count;
        int radio;
    } cases[] = {{5400, "90", 1041}, {7200, "2", 1040}, {90, "90", 1042}, {3660, "61", 1041}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secs);
        u.m_nIntervalSecs = c.secs;
        RunSettings([&](CSettings& sheet) {
            ClickTab(sheet, kUpload);
            EXPECT_EQ(Edit(sheet, kUpload, 1006)->text(), QString::fromLatin1(c.count));
            for (int radio : {1040, 1041, 1042})
                EXPECT_EQ(Button(sheet, kUpload, radio)->isChecked(), radio == c.radio) << radio;
            ClickOk(sheet);
        });
        EXPECT_TRUE(writes().isEmpty());
        EXPECT_EQ(u.m_nIntervalSecs, c.secs);
    }
}

TEST_F(SettingsDialogTest, ZeroIntervalShowsAsZeroHoursAndMustBeCorrected)
{
    u.m_nIntervalSecs = 0;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_EQ(Edit(sheet, kUpload, 1006)->text(), QStringLiteral("0"));
        EXPECT_TRUE(Button(sheet, kUpload, 1040)->isChecked());
        ClickOk(sheet);
        EXPECT_EQ(boxes.texts,
                  QStringList{QStringLiteral("Please enter an integer between 1 and 1440.")});
        TypeInto(Edit(sheet, kUpload, 1006), QStringLiteral("3"));
        ClickButton(Button(sheet, kUpload, 1041));
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Upload/Interval")});
    EXPECT_EQ(StoredInt("Upload", "Interval"), 180);
}

TEST_F(SettingsDialogTest, PeriodTimesRoundTripAndAreReduced)
{
    u.m_nFromSecs = 32400;
    u.m_nToSecs = 64800;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_EQ(Edit(sheet, kUpload, 1010)->text(), QStringLiteral("09:00:00"));
        EXPECT_EQ(Edit(sheet, kUpload, 1011)->text(), QStringLiteral("18:00:00"));
        ClickButton(Button(sheet, kUpload, 1008));
        TypeInto(Edit(sheet, kUpload, 1011), QStringLiteral("25:70:00"));
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), (QStringList{"Upload/To", "Upload/24 Hours"}));
    EXPECT_EQ(StoredInt("Upload", "To"), 4200);
    EXPECT_EQ(u.m_nToSecs, 4200);
    EXPECT_EQ(u.m_b24Hours, 0);

    // Missing numbers count as 0; the text is not refused.
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        TypeInto(Edit(sheet, kUpload, 1010), QStringLiteral("7"));
        ClickOk(sheet);
    });
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(u.m_nFromSecs, 7 * 3600);
}

TEST_F(SettingsDialogTest, MaxFpsIsShownShortAndStoredWithTwoDecimals)
{
    u.m_fMaxFps = 2.0f;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_EQ(Edit(sheet, kUpload, 1065)->text(), QStringLiteral("2"));
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());

    u.m_fMaxFps = 0.5f;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        ClickButton(Button(sheet, kUpload, 1051));
        EXPECT_EQ(Edit(sheet, kUpload, 1065)->text(), QStringLiteral("0.5"));
        TypeInto(Edit(sheet, kUpload, 1065), QStringLiteral(" 2.5 "));
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), (QStringList{"Upload/Mode", "Upload/Max Fps"}));
    EXPECT_EQ(StoredString("Upload", "Max Fps"), QStringLiteral("2.50"));
    EXPECT_FLOAT_EQ(u.m_fMaxFps, 2.5f);
}

// The first page is read back at OK even unvisited; the others keep what was
// copied in, even values their rules would refuse.
TEST_F(SettingsDialogTest, OkAtOnceReadsBackOnlyTheDialupPage)
{
    g_phoneBook = {"Home"};
    u.m_strDialupConnection = QStringLiteral("Office");
    u.m_nIntervalSecs = 0;
    u.m_nNumSeries = 5000;
    u.m_strTimeFormat = QStringLiteral("%H");
    RunSettings([&](CSettings& sheet) {
        EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Settings"));
        QStringList tabs;
        for (int i = 0; i < sheet.tabBar()->count(); ++i)
            tabs << sheet.tabBar()->tabText(i);
        EXPECT_EQ(tabs, (QStringList{"Dialup", "FTP", "Destinations", "Image", "Upload", "Caption",
                                     "Archive", "Cameras"}));
        EXPECT_EQ(sheet.GetActiveIndex(), kDialup);
        for (int page : {kFtp, kDestinations, kImage, kUpload, kCaption, kArchive, kCameras})
            EXPECT_FALSE(sheet.GetPage(page)->IsCreated()) << page;
        ClickOk(sheet);
    });
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Dialup/Connection")});
    EXPECT_EQ(u.m_strDialupConnection, QString());
    EXPECT_EQ(u.m_nIntervalSecs, 0u);
    EXPECT_EQ(u.m_nNumSeries, 5000);
}

TEST_F(SettingsDialogTest, OkWithoutChangeWritesNothingButReschedules)
{
    RunSettings([&](CSettings& sheet) {
        for (int page : {kFtp, kDestinations, kImage, kUpload, kCaption, kDialup})
            ClickTab(sheet, page);
        ClickOk(sheet);
    });
    EXPECT_EQ(modalFlagWhileOpen, 1);
    EXPECT_EQ(app.m_bModalOpen, 0);
    EXPECT_TRUE(writes().isEmpty());
    const ScheduleSettings s{u.m_nIntervalSecs, u.m_b24Hours, u.m_nFromSecs, u.m_nToSecs,
                             u.m_nUploadMode};
    EXPECT_EQ(app.m_timeNextUpload, ComputeNextUpload(clock.now, app.m_timeLastStart, s));
    EXPECT_NE(app.m_timeNextUpload, 12345);
}

TEST_F(SettingsDialogTest, CancelWritesNothingAndDoesNotReschedule)
{
    RunSettings([&](CSettings& sheet) {
        ClickButton(Button(sheet, kDialup, 1019));
        ClickTab(sheet, kFtp);
        TypeInto(Edit(sheet, kFtp, 1004), QStringLiteral("elsewhere.example"));
        ClickTab(sheet, kUpload);
        ClickButton(Button(sheet, kUpload, 1051));
        ClickCancel(sheet);
    });
    EXPECT_EQ(modalFlagWhileOpen, 1);
    EXPECT_EQ(app.m_bModalOpen, 0);
    EXPECT_TRUE(writes().isEmpty());
    EXPECT_EQ(app.m_timeNextUpload, 12345);
    EXPECT_EQ(u.m_bUseDialup, 1);
    EXPECT_EQ(u.m_strFtpServer, QString());
    EXPECT_EQ(u.m_nUploadMode, 0);
}

// Values travel through every page and are written in the store's order.
TEST_F(SettingsDialogTest, EditsOnEveryPageAreStoredInOrder)
{
    RunSettings([&](CSettings& sheet) {
        TypeInto(Edit(sheet, kDialup, 1009), QStringLiteral("5"));
        ClickTab(sheet, kFtp);
        TypeInto(Edit(sheet, kFtp, 1004), QStringLiteral("ftp.example.net"));
        TypeInto(Edit(sheet, kFtp, 1005), QStringLiteral("cam"));
        TypeInto(Edit(sheet, kFtp, 1006), QStringLiteral("pa ss"));
        TypeInto(Edit(sheet, kFtp, 1011), QStringLiteral("www/cam.jpg"));
        ClickButton(Button(sheet, kFtp, 1069));
        ClickTab(sheet, kCaption);
        TypeInto(Edit(sheet, kCaption, 1026), QStringLiteral("%H:%M"));
        ClickButton(Button(sheet, kCaption, 1029));
        ClickTab(sheet, kUpload);
        ClickButton(Button(sheet, kUpload, 1050));
        TypeInto(Edit(sheet, kUpload, 1052), QStringLiteral("20"));
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), (QStringList{"Dialup/Retry", "FTP/Server", "FTP/Username", "FTP/Password",
                                     "FTP/Safe FTP", "Path/Remote", "Time/Vertical Position",
                                     "Time/Format", "Upload/Mode", "Upload/Num Series"}));
    EXPECT_EQ(StoredString("FTP", "Password"), QStringLiteral("pa ss"));
    EXPECT_EQ(StoredString("Path", "Remote"), QStringLiteral("www/cam.jpg"));
    EXPECT_EQ(StoredInt("Time", "Vertical Position"), 2);
    EXPECT_EQ(StoredInt("Upload", "Num Series"), 20);
}

// Settings that cannot be stored are said to be lost, whatever the cause; the
// causes here stop root too.
TEST_F(SettingsDialogTest, StoreThatCannotBeWrittenIsReportedAndKeepsTheChoice)
{
    const QString path = app.profile()->filePath();
    const QString folder = QFileInfo(path).absolutePath();
    const auto setFps = [&](const QString& text) {
        RunSettings([&](CSettings& sheet) {
            ClickTab(sheet, kUpload);
            TypeInto(Edit(sheet, kUpload, 1065), text);
            ClickOk(sheet);
        });
    };
    u.m_nUploadMode = 1; // the rate is editable in series mode
    QStringList logged;
    const LogObserver previous = SetLogObserver(
        [&](const char* kind, const QString& text) { logged << kind + (": " + text); });

    // The folder's place is taken by a file.
    QDir().rmdir(folder);
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    setFps(QStringLiteral("3"));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], "The settings could not be stored in " + path + " (the folder " +
                                  folder +
                                  " cannot be created).\n\nThe changes apply until Vizo ends.");
    EXPECT_FLOAT_EQ(u.m_fMaxFps, 3.0f);
    EXPECT_TRUE(logged.contains("settings: Upload/Max Fps not stored in " + path + ": the folder " +
                                folder + " cannot be created"))
        << logged.join('\n').toStdString();

    // A folder holds the file's name.
    ASSERT_TRUE(blocker.remove());
    ASSERT_TRUE(QDir().mkpath(path));
    setFps(QStringLiteral("4"));
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_TRUE(boxes.texts[1].contains("(a folder has the file's name)"))
        << boxes.texts[1].toStdString();
    EXPECT_FLOAT_EQ(u.m_fMaxFps, 4.0f);

    // Once the cause is gone the next change is stored, and nothing is said.
    ASSERT_TRUE(QDir().rmdir(path));
    setFps(QStringLiteral("5"));
    EXPECT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(Profile(path).ReadString("Upload", "Max Fps", {}), QStringLiteral("5.00"));
    SetLogObserver(previous);
}

TEST_F(SettingsDialogTest, NotifyCommandShownAndStoredOnlyWhenChanged)
{
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_TRUE(Edit(sheet, kUpload, 1080)->text().isEmpty());
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
    const QString command = QStringLiteral("sh -c \"echo $VIZO_REASON | mail me@example.org\"");
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        TypeInto(Edit(sheet, kUpload, 1080), command);
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Upload/Notify Command")});
    EXPECT_EQ(StoredString("Upload", "Notify Command"), command);
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_EQ(Edit(sheet, kUpload, 1080)->text(), command);
        ClickOk(sheet);
    });
    EXPECT_EQ(writes().size(), 1);
}
