#include "settingsdlg_support.h"

#include "app/SettingsModel.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstring>

std::vector<std::string> g_phoneBook;
DWORD g_phoneBookResult = 0;

DWORD FakeRasEnumEntries(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, LPDWORD bytes, LPDWORD count)
{
    if (g_phoneBookResult)
        return g_phoneBookResult;
    const DWORD needed = DWORD(g_phoneBook.size() * sizeof(RASENTRYNAMEA));
    if (entries[0].dwSize != sizeof(RASENTRYNAMEA))
        return 632; // wrong record size
    if (*bytes < needed) {
        *bytes = needed;
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (std::size_t i = 0; i < g_phoneBook.size(); ++i)
        std::strncpy(entries[i].szEntryName, g_phoneBook[i].c_str(), RAS_MaxEntryName);
    *count = DWORD(g_phoneBook.size());
    return 0;
}

SettingsDialogTest::SettingsDialogTest() : clock(LocalTime(2024, 5, 6, 10, 0, 0))
{
    app.SetRegistryKey(QStringLiteral("Brindlecote"));
    LoadDialupSettings(u, nullptr);
    LoadRemainingSettings(u, nullptr, QStringLiteral("/srv/cam/"));
    u.m_bDialupAvailable = 1;
    u.m_ras.RasEnumEntriesA = FakeRasEnumEntries;
    g_phoneBook = {"Office"};
    g_phoneBookResult = 0;
    u.m_strDialupConnection = QStringLiteral("Office");
    app.m_timeLastStart = clock.now;
    app.m_timeNextUpload = 12345;
}

void SettingsDialogTest::RunSettings(const std::function<void(CSettings&)>& drive)
{
    m_answer = std::make_unique<ModalAnswer>([this, drive](QDialog& dialog) {
        auto* sheet = qobject_cast<CSettings*>(&dialog);
        if (!sheet)
            return onOtherDialog ? onOtherDialog(dialog) : int(QDialog::Rejected);
        modalFlagWhileOpen = app.m_bModalOpen;
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet));
        drive(*sheet);
        if (sheet->isVisible())
            sheet->reject();
        return sheet->result();
    });
    app.OnSettings();
    m_answer.reset();
}

QString SettingsDialogTest::StoredString(const char* section, const char* entry)
{
    return app.profile()->ReadString(section, entry, QStringLiteral("<missing>"));
}

int SettingsDialogTest::StoredInt(const char* section, const char* entry)
{
    return app.profile()->ReadInt(section, entry, -12345);
}

void ClickTab(CSettings& sheet, int index)
{
    QTabBar* bar = sheet.tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QApplication::processEvents();
}

void ClickButton(QAbstractButton* button)
{
    ASSERT_NE(button, nullptr);
    // On the indicator or the left of the text: always inside the clickable part.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

void ClickOk(CSettings& sheet)
{
    QTest::mouseClick(sheet.okButton(), Qt::LeftButton);
}
void ClickCancel(CSettings& sheet)
{
    QTest::mouseClick(sheet.cancelButton(), Qt::LeftButton);
}

void TypeInto(QLineEdit* edit, const QString& text)
{
    ASSERT_NE(edit, nullptr);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}
