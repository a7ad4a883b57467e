// The Upload page's Retry Failed box: shown as in force, stored only when
// changed, in force at once and on the next start.
#include "settingsdlg_support.h"

#include "app/SettingsModel.h"
#include "session/Schedule.h"
#include "settings/CSettingsUpload.h"

TEST_F(SettingsDialogTest, RetryFailedBoxIsStoredWhenChangedAndLoadedAgain)
{
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        EXPECT_TRUE(Button(sheet, kUpload, IDC_RETRY_FAILED)->isChecked());
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty()) << writes().join(", ").toStdString();
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        ClickButton(Button(sheet, kUpload, IDC_RETRY_FAILED));
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{"Upload/Retry Failed"});
    EXPECT_EQ(StoredInt("Upload", "Retry Failed"), 0);
    EXPECT_FALSE(RetryFailedInForce());

    SetRetryFailed(true);
    LoadRemainingSettings(u, app.profile(), QString());
    const bool loaded = RetryFailedInForce();
    SetRetryFailed(true);
    EXPECT_FALSE(loaded);
}
