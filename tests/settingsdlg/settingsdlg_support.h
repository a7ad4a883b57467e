// Runs the real Settings command against a fresh store, with the sheet shown
// offscreen and driven by the test through its widgets.
#pragma once

#include "app/CCameraApp.h"
#include "settings/CSettings.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTabBar>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{' << l.join(QStringLiteral(", ")).toStdString() << '}';
}

// The phone book the injected entry enumeration returns, in its own order.
extern std::vector<std::string> g_phoneBook;
// Result of the injected enumeration (0 = success).
extern DWORD g_phoneBookResult;
DWORD FakeRasEnumEntries(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, LPDWORD bytes, LPDWORD count);

class SettingsDialogTest : public ::testing::Test
{
protected:
    SettingsDialogTest();

    // Runs OnSettings; drive works the shown sheet and usually ends it with OK
    // or Cancel. A sheet still open afterwards is cancelled.
    void RunSettings(const std::function<void(CSettings&)>& drive);
    // Answers the dialogs the pages open (file, font, colour).
    std::function<int(QDialog&)> onOtherDialog;

    const QStringList& writes() { return app.profile()->writeLog(); }
    QString StoredString(const char* section, const char* entry);
    int StoredInt(const char* section, const char* entry);

    ScopedConfigHome home;
    MessageBoxRecorder boxes;
    FixedClock clock;
    CCameraApp app;
    CUpload& u = app.m_upload;
    int modalFlagWhileOpen = -1;

private:
    std::unique_ptr<ModalAnswer> m_answer;
};

// Widget driving, as a user would.
void ClickTab(CSettings& sheet, int index);
void ClickButton(QAbstractButton* button);
void ClickOk(CSettings& sheet);
void ClickCancel(CSettings& sheet);
void TypeInto(QLineEdit* edit, const QString& text);

template <typename T> T* Ctl(CSettings& sheet, int page, int id)
{
    T* w = sheet.GetPage(page)->Item<T>(id);
    EXPECT_NE(w, nullptr) << "control " << id << " on page " << page;
    return w;
}
inline QLineEdit* Edit(CSettings& s, int page, int id)
{
    return Ctl<QLineEdit>(s, page, id);
}
inline QAbstractButton* Button(CSettings& s, int page, int id)
{
    return Ctl<QAbstractButton>(s, page, id);
}

enum Page { kDialup, kFtp, kDestinations, kImage, kUpload, kCaption, kArchive, kCameras };
