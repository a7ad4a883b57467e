// The Archive page: previews with today's date, validation before storing.
#include "settingsdlg_support.h"

#include "settings/CSettingsArchive.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

namespace
{
QString Preview(CSettings& sheet, int id)
{
    return Ctl<QLabel>(sheet, kArchive, id)->text();
}
} // namespace

TEST_F(SettingsDialogTest, ArchivePreviewsFollowThePatternsWithTodaysDate)
{
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kArchive);
        EXPECT_FALSE(Edit(sheet, kArchive, IDC_ARCHIVE_NAME)->isEnabled());
        ClickButton(Button(sheet, kArchive, IDC_USE_ARCHIVE));
        EXPECT_TRUE(Edit(sheet, kArchive, IDC_ARCHIVE_NAME)->isEnabled());
        TypeInto(Edit(sheet, kArchive, IDC_ARCHIVE_FOLDER), "/srv/cam/%Y/%m-%d");
        EXPECT_EQ(Preview(sheet, IDC_ARCHIVE_PREVIEW), "Sample: /srv/cam/2024/05-06/100000.jpg");
        TypeInto(Edit(sheet, kArchive, IDC_ARCHIVE_NAME), "shot.jpg");
        EXPECT_TRUE(Preview(sheet, IDC_ARCHIVE_PREVIEW).startsWith("Not usable: "));
        // The video of today is yesterday's.
        EXPECT_EQ(Preview(sheet, IDC_TIMELAPSE_PREVIEW), "Sample: timelapse/2024-05-05.mp4");
        ClickCancel(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
}

TEST_F(SettingsDialogTest, ArchivePageRefusesWhatCannotWorkAndStoresOnlyChanges)
{
    app.m_archive.m_settings = LoadArchiveSettings(nullptr);
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kArchive);
        ClickButton(Button(sheet, kArchive, IDC_USE_ARCHIVE));
        TypeInto(Edit(sheet, kArchive, IDC_ARCHIVE_NAME), "picture.jpg");
        ClickOk(sheet);
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith("The archive cannot use these names: the name must "
                                              "hold a time conversion"));
        EXPECT_EQ(sheet.GetActiveIndex(), kArchive);
        TypeInto(Edit(sheet, kArchive, IDC_ARCHIVE_NAME), "%H%M.jpg");
        ClickButton(Button(sheet, kArchive, IDC_TIMELAPSE));
        TypeInto(Edit(sheet, kArchive, IDC_TIMELAPSE_AT), "24:00");
        ClickOk(sheet);
        ASSERT_EQ(boxes.texts.size(), 2);
        EXPECT_EQ(boxes.texts[1], "Please enter a time of day as HH:MM:SS.");
        TypeInto(Edit(sheet, kArchive, IDC_TIMELAPSE_AT), "00:10");
        TypeInto(Edit(sheet, kArchive, IDC_TIMELAPSE_FPS), "0");
        ClickOk(sheet);
        ASSERT_EQ(boxes.texts.size(), 3);
        TypeInto(Edit(sheet, kArchive, IDC_TIMELAPSE_FPS), "30");
        ClickOk(sheet);
    });
    EXPECT_EQ(boxes.texts.size(), 3);
    EXPECT_EQ(writes(), (QStringList{"Archive/Use Archive", "Archive/Name", "Archive/Timelapse",
                                     "Archive/Timelapse At", "Archive/Timelapse Fps"}));
    EXPECT_EQ(app.m_archive.m_settings.nTimelapseAt, 600);
    EXPECT_EQ(StoredString("Archive", "Name"), "%H%M.jpg");
}

TEST_F(SettingsDialogTest, ArchivePageNamesTheFoldersCleanUpLeavesAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("2024-01-01")));
    QFile user(dir.filePath("2024-01-01/120000.jpg"));
    ASSERT_TRUE(user.open(QIODevice::WriteOnly));
    user.close();
    ArchiveSettings& s = app.m_archive.m_settings;
    s.bUseArchive = 1;
    s.strFolder = dir.filePath("%Y-%m-%d");
    app.m_archive.Tidy(CCameraApp::Now());
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kArchive);
        EXPECT_EQ(Preview(sheet, IDC_ARCHIVE_NOTICE),
                  "Left alone (not written by Vizo): " + dir.filePath("2024-01-01"));
        ClickCancel(sheet);
    });
    EXPECT_TRUE(QFile::exists(dir.filePath("2024-01-01/120000.jpg")));
}
