#include "CSettingsDialup.h"

#include "app/CCameraApp.h"
#include "res/resource.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <cstring>
#include <vector>

namespace
{
constexpr DWORD kEntrySize = 264;
static_assert(sizeof(RASENTRYNAMEA) == kEntrySize, "phone-book records are 264 bytes");
// Room for 20 records; a longer phone book is read again with the size asked for.
constexpr DWORD kFirstBuffer = 20 * kEntrySize;
constexpr DWORD kLargestBuffer = 4096 * kEntrySize;

// The phone-book entry names, or false when the book could not be read.
bool ReadEntryNames(const CUpload& upload, QStringList& names)
{
    if (!upload.m_ras.RasEnumEntriesA)
        return false;
    DWORD bytes = kFirstBuffer;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<RASENTRYNAMEA> records(bytes / kEntrySize);
        std::memset(records.data(), 0, records.size() * kEntrySize);
        records[0].dwSize = kEntrySize;
        DWORD size = DWORD(records.size() * kEntrySize);
        DWORD count = 0;
        const DWORD rc =
            upload.m_ras.RasEnumEntriesA(nullptr, nullptr, records.data(), &size, &count);
        if (rc == ERROR_BUFFER_TOO_SMALL && size > bytes && size <= kLargestBuffer) {
            bytes = (size + kEntrySize - 1) / kEntrySize * kEntrySize;
            continue;
        }
        if (rc != 0)
            return false;
        count = qMin<DWORD>(count, DWORD(records.size()));
        for (DWORD i = count; i-- > 0;) {
            const char* name = records[i].szEntryName;
            names << QString::fromLocal8Bit(name, int(strnlen(name, RAS_MaxEntryName + 1)));
        }
        return true;
    }
    return false;
}
} // namespace

CSettingsDialup::CSettingsDialup()
    : CPropertyPage(IDD_SETTINGS_DIALUP, QStringLiteral("Dialup"), QSize(227, 150))
{
}

void CSettingsDialup::CreateControls()
{
    Add<QRadioButton>(1019, QStringLiteral("Use &LAN connection"), QRect(7, 7, 150, 10));
    Add<QRadioButton>(1018, QStringLiteral("Use &dialup connection"), QRect(7, 21, 150, 10));
    QGroupBox* group = Add<QGroupBox>(1021, QStringLiteral("&Connection"), QRect(7, 38, 213, 58));
    Add<QComboBox>(1017, QRect(15, 52, 197, 14), group);
    QLineEdit* retries = Add<QLineEdit>(1009, QRect(15, 74, 30, 13), group);
    Add<QLabel>(1020, QStringLiteral("# &retries"), QRect(50, 76, 60, 9), group)->setBuddy(retries);

    OnClicked(1018, [this] {
        m_bUseDialup = 1;
        UpdateDialupControls();
    });
    OnClicked(1019, [this] {
        m_bUseDialup = 0;
        UpdateDialupControls();
    });
}

void CSettingsDialup::DoDataExchange(CDataExchange& dx)
{
    // An unreadable phone book says nothing about the stored entry: keep it.
    QString connection = m_strDialupConnection;
    DDX_CBString(dx, 1017, connection);
    if (m_bEntriesRead || !dx.m_bSaveAndValidate)
        m_strDialupConnection = connection;
    DDX_Text(dx, 1009, m_nDialupRetries);
    DDV_MinMaxUInt(dx, m_nDialupRetries, 1, 100);
}

void CSettingsDialup::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    const CCameraApp* app = AfxGetApp();
    if (app && app->m_upload.m_bDialupAvailable)
        FillEntryList();
    else
        EnableItem(1018, false);
    CheckItem(m_bUseDialup ? 1018 : 1019, true);
    UpdateDialupControls();
}

void CSettingsDialup::FillEntryList()
{
    QStringList names;
    m_bEntriesRead = ReadEntryNames(AfxGetApp()->m_upload, names);
    auto* list = Item<QComboBox>(1017);
    for (const QString& name : names)
        AddSortedItem(list, name);
    SelectStringPrefix(list, m_strDialupConnection);
}

void CSettingsDialup::UpdateDialupControls()
{
    for (int id : {1017, 1009, 1020, 1021})
        EnableItem(id, m_bUseDialup != 0);
}
