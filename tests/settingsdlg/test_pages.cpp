// The pages driven through their widgets: validation, enabling, the phone
// book, the quality slider and Browse.
#include "settingsdlg_support.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QSlider>
#include <QTest>

namespace
{
const QString kPositive = QStringLiteral("Please enter a positive integer.");

struct Rule {
    int page, id;
    const char* text;
    const char* message; // null: accepted
};
} // namespace

// Each rule on its page: the message, the focus on the edit, and the tab stays.
TEST_F(SettingsDialogTest, ValidationBlocksLeavingThePageWithItsMessageAndFocus)
{
    const Rule rules[] = {
        {kDialup, 1009, "abc", "Please enter a positive integer."},
        {kDialup, 1009, "-3", "Please enter a positive integer."},
        {kDialup, 1009, "", "Please enter a positive integer."},
        {kDialup, 1009, "0", "Please enter an integer between 1 and 100."},
        {kDialup, 1009, "101", "Please enter an integer between 1 and 100."},
        {kDialup, 1009, "99999999999", "Please enter an integer between 1 and 100."},
        {kDialup, 1009, " 100 ", nullptr},
        {kUpload, 1006, "1.5", "Please enter a positive integer."},
        {kUpload, 1006, "0", "Please enter an integer between 1 and 1440."},
        {kUpload, 1006, "1441", "Please enter an integer between 1 and 1440."},
        {kUpload, 1006, "1440", nullptr},
        {kUpload, 1065, "fast", "Please enter a number."},
        {kUpload, 1065, "nan", "Please enter a number."},
        {kUpload, 1065, "0x10", "Please enter a number."},
        {kUpload, 1065, "0.0099", "Please enter a number between 0.01 and 30."},
        {kUpload, 1065, "30.01", "Please enter a number between 0.01 and 30."},
        {kUpload, 1065, "1e9", "Please enter a number between 0.01 and 30."},
        {kUpload, 1065, " 0.01 ", nullptr},
    };
    u.m_nUploadMode = 1; // every Upload edit enabled, so the focus can land
    RunSettings([&](CSettings& sheet) {
        for (const Rule& r : rules) {
            SCOPED_TRACE(std::string("text '") + r.text + "' in " + std::to_string(r.id));
            ClickTab(sheet, r.page);
            ASSERT_EQ(sheet.GetActiveIndex(), r.page);
            boxes.texts.clear();
            TypeInto(Edit(sheet, r.page, r.id), QString::fromLatin1(r.text));
            const int other = r.page == kDialup ? kFtp : kDialup;
            ClickTab(sheet, other);
            if (!r.message) {
                EXPECT_TRUE(boxes.texts.isEmpty());
                EXPECT_EQ(sheet.GetActiveIndex(), other);
                continue;
            }
            EXPECT_EQ(boxes.texts, QStringList{QString::fromLatin1(r.message)});
            EXPECT_EQ(sheet.GetActiveIndex(), r.page);
            EXPECT_EQ(sheet.tabBar()->currentIndex(), r.page);
            EXPECT_EQ(sheet.focusWidget(), Edit(sheet, r.page, r.id));
            TypeInto(Edit(sheet, r.page, r.id), QStringLiteral("2"));
        }
        ClickOk(sheet);
    });
    EXPECT_EQ(StoredInt("Dialup", "Retry"), 100);
    EXPECT_EQ(StoredInt("Upload", "Interval"), 1440 * 60);
    EXPECT_EQ(StoredString("Upload", "Max Fps"), QStringLiteral("0.01"));
}

// Rules run in table order and the first failure stops the read; a disabled
// series count still blocks, and so does OK.
TEST_F(SettingsDialogTest, FirstFailureStopsTheReadAndDisabledControlsAreValidated)
{
    u.m_nUploadMode = 0;
    u.m_nNumSeries = 0;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        ASSERT_FALSE(Edit(sheet, kUpload, 1052)->isEnabled());
        TypeInto(Edit(sheet, kUpload, 1006), QStringLiteral("0"));
        TypeInto(Edit(sheet, kUpload, 1065), QStringLiteral("x"));
        ClickTab(sheet, kCaption);
        EXPECT_EQ(boxes.texts,
                  QStringList{QStringLiteral("Please enter an integer between 1 and 1440.")});
        TypeInto(Edit(sheet, kUpload, 1006), QStringLiteral("5"));
        boxes.texts.clear();
        ClickOk(sheet);
        EXPECT_EQ(boxes.texts,
                  QStringList{QStringLiteral("Please enter an integer between 1 and 1000.")});
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(sheet.GetActiveIndex(), kUpload);
        ClickCancel(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
    EXPECT_EQ(u.m_nIntervalSecs, 900u);
}

TEST_F(SettingsDialogTest, TabChangeByKeyboardIsRefusedToo)
{
    u.m_nDialupRetries = 0;
    RunSettings([&](CSettings& sheet) {
        sheet.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        QTest::keyClick(&sheet, Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(boxes.texts,
                  QStringList{QStringLiteral("Please enter an integer between 1 and 100.")});
        EXPECT_EQ(sheet.GetActiveIndex(), kDialup);
        TypeInto(Edit(sheet, kDialup, 1009), QStringLiteral("4"));
        QTest::keyClick(&sheet, Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(sheet.GetActiveIndex(), kFtp);
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Dialup/Retry")});
}

TEST_F(SettingsDialogTest, PhoneBookIsSortedAndTheStoredNameMatchesByPrefixIgnoringCase)
{
    g_phoneBook = {"Office ISDN", "home", "Office", "Backup"};
    const struct {
        const char* stored;
        const char* selected;
    } cases[] = {{"Office", "Office"},
                 {"Off", "Office"},
                 {"office isdn", "Office ISDN"},
                 {"Home", "home"},
                 {"Gone", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        u.m_strDialupConnection = QString::fromLatin1(c.stored);
        RunSettings([&](CSettings& sheet) {
            auto* list = Ctl<QComboBox>(sheet, kDialup, 1017);
            QStringList items;
            for (int i = 0; i < list->count(); ++i)
                items << list->itemText(i);
            EXPECT_EQ(items, (QStringList{"Backup", "home", "Office", "Office ISDN"}));
            EXPECT_EQ(list->currentText(), QString::fromLatin1(c.selected));
        });
    }
}

// Leaving the Dialup page takes the list's text: a vanished entry empties
// the connection, a chosen one replaces it.
TEST_F(SettingsDialogTest, MissingEntryEmptiesTheConnectionAndAChoiceIsStored)
{
    g_phoneBook = {"Office", "Home"};
    u.m_strDialupConnection = QStringLiteral("Gone");
    RunSettings([&](CSettings& sheet) {
        EXPECT_EQ(Ctl<QComboBox>(sheet, kDialup, 1017)->currentIndex(), -1);
        ClickTab(sheet, kFtp);
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Dialup/Connection")});
    EXPECT_EQ(u.m_strDialupConnection, QString());

    RunSettings([&](CSettings& sheet) {
        auto* list = Ctl<QComboBox>(sheet, kDialup, 1017);
        list->setCurrentIndex(list->findText(QStringLiteral("Home")));
        ClickOk(sheet);
    });
    EXPECT_EQ(StoredString("Dialup", "Connection"), QStringLiteral("Home"));
}

// More than 20 entries are read with a larger buffer.
TEST_F(SettingsDialogTest, LongPhoneBookIsListedWhole)
{
    g_phoneBook.clear();
    for (int i = 30; i > 0; --i)
        g_phoneBook.push_back("Entry " + std::to_string(100 + i));
    RunSettings([&](CSettings& sheet) {
        auto* list = Ctl<QComboBox>(sheet, kDialup, 1017);
        ASSERT_EQ(list->count(), 30);
        EXPECT_EQ(list->itemText(0), QStringLiteral("Entry 101"));
        EXPECT_EQ(list->itemText(29), QStringLiteral("Entry 130"));
    });
}

// The stored entry survives when the phone book cannot be read at all.
TEST_F(SettingsDialogTest, UnreadablePhoneBookKeepsTheStoredEntry)
{
    g_phoneBookResult = 711;
    RunSettings([&](CSettings& sheet) {
        EXPECT_EQ(Ctl<QComboBox>(sheet, kDialup, 1017)->count(), 0);
        ClickOk(sheet);
    });
    EXPECT_TRUE(writes().isEmpty());
    EXPECT_EQ(u.m_strDialupConnection, QStringLiteral("Office"));
}

TEST_F(SettingsDialogTest, DialupLibraryMissing)
{
    u.m_bDialupAvailable = 0;
    u.m_bUseDialup = 1;
    RunSettings([&](CSettings& sheet) {
        QAbstractButton* dial = Button(sheet, kDialup, 1018);
        EXPECT_FALSE(dial->isEnabled());
        EXPECT_TRUE(dial->isChecked());
        for (int id : {1017, 1009, 1020, 1021})
            EXPECT_TRUE(sheet.GetPage(kDialup)->GetDlgItem(id)->isEnabled()) << id;
        EXPECT_EQ(Ctl<QComboBox>(sheet, kDialup, 1017)->count(), 0);
        ClickOk(sheet);
    });
    // Use Dialup is stored even unchanged; the entry name is kept.
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Dialup/Use Dialup")});
    EXPECT_EQ(u.m_strDialupConnection, QStringLiteral("Office"));
}

TEST_F(SettingsDialogTest, DialupAndFtpSwitchesEnableTheirControls)
{
    RunSettings([&](CSettings& sheet) {
        CPropertyPage* dialup = sheet.GetPage(kDialup);
        ClickButton(Button(sheet, kDialup, 1019));
        for (int id : {1017, 1009, 1020, 1021})
            EXPECT_FALSE(dialup->GetDlgItem(id)->isEnabled()) << id;
        ClickButton(Button(sheet, kDialup, 1018));
        EXPECT_TRUE(dialup->GetDlgItem(1017)->isEnabled());
        ClickButton(Button(sheet, kDialup, 1019));

        ClickTab(sheet, kFtp);
        CPropertyPage* ftp = sheet.GetPage(kFtp);
        EXPECT_EQ(Edit(sheet, kFtp, 1006)->echoMode(), QLineEdit::Password);
        ClickButton(Button(sheet, kFtp, 1043));
        for (int id : {1004, 1044, 1005, 1045, 1006, 1046, 1011, 1047, 1069})
            EXPECT_FALSE(ftp->GetDlgItem(id)->isEnabled()) << id;
        EXPECT_TRUE(ftp->GetDlgItem(1043)->isEnabled());
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), (QStringList{"Dialup/Use Dialup", "FTP/Use FTP"}));
    EXPECT_EQ(u.m_bUseDialup, 0);
    EXPECT_EQ(u.m_bUseFtp, 0);
}

TEST_F(SettingsDialogTest, ModeRadiosSetTheEnabling)
{
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kUpload);
        CPropertyPage* page = sheet.GetPage(kUpload);
        auto enabled = [&](std::initializer_list<int> ids) {
            QString pattern;
            for (int id : ids)
                pattern += page->GetDlgItem(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
            return pattern;
        };
        const auto interval = {1053, 1006, 1040, 1041, 1042};
        const auto speed = {1065, 1066, 1067};
        EXPECT_EQ(enabled(interval) + enabled({1052}) + enabled(speed), "11111"
                                                                        "0"
                                                                        "000");
        ClickButton(Button(sheet, kUpload, 1050));
        EXPECT_EQ(enabled(interval) + enabled({1052}) + enabled(speed), "11111"
                                                                        "1"
                                                                        "111");
        ClickButton(Button(sheet, kUpload, 1051));
        EXPECT_EQ(enabled(interval) + enabled({1052}) + enabled(speed), "00000"
                                                                        "0"
                                                                        "111");
        // The period edits stay usable whichever period radio is on.
        ClickButton(Button(sheet, kUpload, 1008));
        ClickButton(Button(sheet, kUpload, 1007));
        EXPECT_TRUE(page->GetDlgItem(1010)->isEnabled() && page->GetDlgItem(1011)->isEnabled());
        ClickOk(sheet);
    });
    EXPECT_EQ(writes(), QStringList{QStringLiteral("Upload/Mode")});
    EXPECT_EQ(u.m_nUploadMode, 2);
}

// Only the slider's own notifications change the quality.
TEST_F(SettingsDialogTest, QualitySliderStepsAndLabel)
{
    u.m_nQuality = 75;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kImage);
        auto* slider = Ctl<QSlider>(sheet, kImage, 1061);
        auto* label = Ctl<QLabel>(sheet, kImage, 1064);
        EXPECT_EQ(label->text(), QStringLiteral("75 %"));
        EXPECT_EQ(slider->tickInterval(), 10);
        QTest::keyClick(slider, Qt::Key_Right);
        EXPECT_EQ(label->text(), QStringLiteral("80 %"));
        QTest::keyClick(slider, Qt::Key_PageDown);
        EXPECT_EQ(slider->value(), 55);
        QTest::keyClick(slider, Qt::Key_End);
        EXPECT_EQ(label->text(), QStringLiteral("100 %"));
        ClickOk(sheet);
    });
    EXPECT_EQ(StoredInt("Path", "Quality"), 100);

    // A stored value outside the slider's range stays until the slider moves.
    u.m_nQuality = 150;
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kImage);
        EXPECT_EQ(Ctl<QLabel>(sheet, kImage, 1064)->text(), QStringLiteral("150 %"));
        EXPECT_EQ(Ctl<QSlider>(sheet, kImage, 1061)->value(), 100);
        ClickOk(sheet);
    });
    EXPECT_EQ(writes().count(QStringLiteral("Path/Quality")), 1);
}

TEST_F(SettingsDialogTest, BrowseStartsFromThePageValueAndShowsTheChoice)
{
    const QDir dir(home.path());
    ASSERT_TRUE(dir.mkpath(QStringLiteral("pics")) && dir.mkpath(QStringLiteral("www")));
    const QString original = dir.filePath(QStringLiteral("pics/vizo.jpg"));
    const QString chosen = dir.filePath(QStringLiteral("www/new.jpg"));
    u.m_strLocalPath = original;
    QStringList initialNames;
    QStringList filters;
    QString answer;
    onOtherDialog = [&](QDialog& dialog) {
        auto* files = qobject_cast<QFileDialog*>(&dialog);
        EXPECT_NE(files, nullptr);
        if (!files)
            return int(QDialog::Rejected);
        initialNames << files->selectedFiles().value(0);
        filters = files->nameFilters();
        if (answer.isEmpty())
            return int(QDialog::Rejected);
        files->selectFile(answer);
        return int(QDialog::Accepted);
    };
    RunSettings([&](CSettings& sheet) {
        ClickTab(sheet, kImage);
        QLineEdit* path = Edit(sheet, kImage, 1010);
        TypeInto(path, QStringLiteral("/typed/but/not/read.jpg"));
        ClickButton(Button(sheet, kImage, 1012)); // cancelled
        EXPECT_EQ(path->text(), QStringLiteral("/typed/but/not/read.jpg"));
        answer = chosen;
        ClickButton(Button(sheet, kImage, 1012));
        EXPECT_EQ(path->text(), answer);
        ClickButton(Button(sheet, kImage, 1012));
        ClickOk(sheet);
    });
    EXPECT_EQ(initialNames, (QStringList{original, original, chosen}));
    // The chooser matches case-sensitively: vizo.jpg must show.
    EXPECT_EQ(filters, (QStringList{"JPEG pictures (*.jpg *.jpeg *.JPG *.JPEG)", "All files (*)"}));
    EXPECT_EQ(StoredString("Path", "Local"), chosen);
}
