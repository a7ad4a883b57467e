// The Upload page's daylight fields: today's daylight as the place is typed,
// validation before storing, and a stored place that cannot be used.
#include "settingsdlg_support.h"

#include "app/SettingsModel.h"
#include "session/Schedule.h"
#include "settings/CSettingsUpload.h"

#include <QLabel>

namespace
{
QString DaylightLine(CSettings& sheet)
{
    return Ctl<QLabel>(sheet, kUpload, IDC_DAYLIGHT_PREVIEW)->text();
}
} // namespace

// The test clock is 6 May: Tromso's sun stays above -6 degrees all day, the
// sun at McMurdo (77.85 S) does not rise until late August.
TEST_F(SettingsDialogTest, UploadPageShowsTodaysDaylightAndRefusesABadPlace)
{
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_FALSE(Edit(sheet, kUpload, IDC_LATITUDE)->isEnabled());
        ClickButton(Button(sheet, kUpload, IDC_DAYLIGHT_ONLY));
        TypeInto(Edit(sheet, kUpload, IDC_LATITUDE), "69.65");
        TypeInto(Edit(sheet, kUpload, IDC_LONGITUDE), "18.96");
        EXPECT_EQ(DaylightLine(sheet),
                  QString::fromUtf8("Daylight all day today (sun above -6\u00b0)"));
        TypeInto(Edit(sheet, kUpload, IDC_LATITUDE), "51.5");
        EXPECT_TRUE(DaylightLine(sheet).startsWith("Daylight today: "))
            << DaylightLine(sheet).toStdString();
        TypeInto(Edit(sheet, kUpload, IDC_LATITUDE), "-77.85");
        TypeInto(Edit(sheet, kUpload, IDC_LONGITUDE), "166.67");
        TypeInto(Edit(sheet, kUpload, IDC_SUN_ALTITUDE), "-0.833");
        EXPECT_TRUE(DaylightLine(sheet).contains(" Aug ")) << DaylightLine(sheet).toStdString();
        TypeInto(Edit(sheet, kUpload, IDC_LATITUDE), "69,65");
        EXPECT_TRUE(DaylightLine(sheet).startsWith("Not usable: the latitude"));
        ClickOk(sheet);
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith("Daylight only cannot be used: the latitude"));
        EXPECT_EQ(sheet.GetActiveIndex(), kUpload);
        TypeInto(Edit(sheet, kUpload, IDC_LATITUDE), "69.65");
        ClickOk(sheet);
    });
    EXPECT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(writes(), (QStringList{"Upload/Daylight Only", "Upload/Latitude", "Upload/Longitude",
                                     "Upload/Sun Altitude"}));
    EXPECT_EQ(StoredString("Upload", "Latitude"), "69.65");
    const DaylightRule rule = CurrentDaylightRule();
    SetDaylightRule({});
    EXPECT_TRUE(rule.enabled);
    EXPECT_EQ(rule.longitude, 166.67);
}

TEST_F(SettingsDialogTest, UnusableStoredPlaceLeavesDaylightOffAndSaysWhy)
{
    app.profile()->WriteInt("Upload", "Daylight Only", 1);
    app.profile()->WriteString("Upload", "Latitude", "north");
    StatusRecorder status;
    LoadDaylightRule(app.profile());
    EXPECT_FALSE(CurrentDaylightRule().enabled);
    ASSERT_EQ(status.lines.size(), 1);
    EXPECT_TRUE(status.lines[0].startsWith("Daylight only is off for this run: the latitude"));
    // The stored text is kept and shown for the user to correct.
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_EQ(Edit(sheet, kUpload, IDC_LATITUDE)->text(), "north");
        ClickCancel(sheet);
    });
    EXPECT_EQ(StoredString("Upload", "Latitude"), "north");
}
