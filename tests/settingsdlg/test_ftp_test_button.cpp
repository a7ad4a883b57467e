// The FTP page's Test button: it tests the values shown, stores nothing, and
// the box it opens is the connection test's.
#include "settings/CConnectionTestDlg.h"
#include "settingsdlg_support.h"

#include <QPushButton>
#include <QTest>

namespace
{
QPushButton* TestButton(CSettings& sheet)
{
    for (auto* button : sheet.GetPage(kFtp)->findChildren<QPushButton*>())
        if (button->text() == "Te&st")
            return button;
    ADD_FAILURE() << "no Test button";
    return nullptr;
}
} // namespace

TEST_F(SettingsDialogTest, TheTestButtonTriesTheShownValuesAndStoresNothing)
{
    u.m_bUseFtp = 1;
    u.m_strFtpServer = "stored.example";
    QStringList lines;
    onOtherDialog = [&](QDialog& dialog) {
        auto* box = qobject_cast<CConnectionTestDlg*>(&dialog);
        if (!box)
            return int(QDialog::Rejected);
        box->show();
        EXPECT_TRUE(WaitFor([&] { return !box->IsRunning(); }, 10000));
        lines = box->StepLines();
        QTest::mouseClick(box->Button(), Qt::LeftButton);
        return box->result();
    };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kFtp);
        TypeInto(Edit(sheet, kFtp, 1004), "typed.example:2121");
        TypeInto(Edit(sheet, kFtp, 1005), "typed-user");
        Ctl<QComboBox>(sheet, kFtp, 1080)->setCurrentIndex(VIZO_PROTOCOL_FTP_EXPLICIT_TLS);
        QPushButton* test = TestButton(sheet);
        ASSERT_TRUE(test && test->isEnabled());
        QTest::mouseClick(test, Qt::LeftButton);
        ClickButton(Button(sheet, kFtp, 1043)); // uploads off: nothing to test
        EXPECT_FALSE(test->isEnabled());
        ClickCancel(sheet);
    });
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "Settings: OK: FTP with explicit TLS to typed.example:2121 as typed-user");
    // The sheet's engine has no layer bound here: the box says so.
    EXPECT_EQ(lines[1], "Log in: Failed: The Internet layer is not loaded");
    EXPECT_EQ(writes(), QStringList());
    EXPECT_EQ(u.m_strFtpServer, "stored.example");
}
