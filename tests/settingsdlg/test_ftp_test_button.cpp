// The Test buttons of the FTP and Destinations pages: they test the values
// shown, store nothing, and the box they open is the connection test's.
#include "settings/CConnectionTestDlg.h"
#include "settingsdlg_support.h"

#include <QPushButton>
#include <QTest>

namespace
{
QPushButton* TestButton(CSettings& sheet, Page page)
{
    for (auto* button : sheet.GetPage(page)->findChildren<QPushButton*>())
        if (button->text() == "Te&st")
            return button;
    ADD_FAILURE() << "no Test button";
    return nullptr;
}

struct TestBoxReader {
    QStringList lines;
    int Read(QDialog& dialog)
    {
        auto* box = qobject_cast<CConnectionTestDlg*>(&dialog);
        if (!box)
            return int(QDialog::Rejected);
        box->show();
        EXPECT_TRUE(WaitFor([&] { return !box->IsRunning(); }, 10000));
        lines = box->StepLines();
        QTest::mouseClick(box->Button(), Qt::LeftButton);
        return box->result();
    }
};
} // namespace

TEST_F(SettingsDialogTest, TheTestButtonTriesTheShownValuesAndStoresNothing)
{
    u.m_bUseFtp = 1;
    u.m_strFtpServer = "stored.example";
    TestBoxReader reader;
    onOtherDialog = [&](QDialog& dialog) { return reader.Read(dialog); };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kFtp);
        TypeInto(Edit(sheet, kFtp, 1004), "typed.example:2121");
        TypeInto(Edit(sheet, kFtp, 1005), "typed-user");
        Ctl<QComboBox>(sheet, kFtp, 1080)->setCurrentIndex(VIZO_PROTOCOL_FTP_EXPLICIT_TLS);
        QPushButton* test = TestButton(sheet, kFtp);
        ASSERT_TRUE(test && test->isEnabled());
        QTest::mouseClick(test, Qt::LeftButton);
        ClickButton(Button(sheet, kFtp, 1043)); // uploads off: nothing to test
        EXPECT_FALSE(test->isEnabled());
        ClickCancel(sheet);
    });
    const QStringList& lines = reader.lines;
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "Settings: OK: FTP with explicit TLS to typed.example:2121 as typed-user");
    // The sheet's engine has no layer bound here: the box says so.
    EXPECT_EQ(lines[1], "Log in: Failed: The Internet layer is not loaded");
    EXPECT_EQ(writes(), QStringList());
    EXPECT_EQ(u.m_strFtpServer, "stored.example");
}

TEST_F(SettingsDialogTest, TheDestinationsPageTestsTheDestinationShown)
{
    enum { kChoose = 1100, kUse = 1102, kServer = 1004, kUsername = 1005 };
    TestBoxReader reader;
    onOtherDialog = [&](QDialog& dialog) { return reader.Read(dialog); };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kDestinations);
        QPushButton* test = TestButton(sheet, kDestinations);
        ASSERT_TRUE(test);
        EXPECT_FALSE(test->isEnabled()); // destination 2 not in use
        Ctl<QComboBox>(sheet, kDestinations, kChoose)->setCurrentIndex(1);
        ClickButton(Button(sheet, kDestinations, kUse));
        ASSERT_TRUE(test->isEnabled());
        TypeInto(Edit(sheet, kDestinations, kServer), "third.example");
        TypeInto(Edit(sheet, kDestinations, kUsername), "third-user");
        QTest::mouseClick(test, Qt::LeftButton);
        ClickCancel(sheet);
    });
    ASSERT_FALSE(reader.lines.isEmpty());
    EXPECT_EQ(reader.lines[0], "Settings: OK: FTP to third.example as third-user");
    EXPECT_EQ(writes(), QStringList());
}
