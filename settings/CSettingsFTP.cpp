#include "CSettingsFTP.h"

#include "res/resource.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

CSettingsFTP::CSettingsFTP()
    : CPropertyPage(IDD_SETTINGS_FTP, QStringLiteral("FTP"), QSize(227, 150))
{
}

void CSettingsFTP::CreateControls()
{
    Add<QCheckBox>(1043, QStringLiteral("Upload image via &FTP"), QRect(7, 7, 150, 10));
    static const struct {
        int edit, label;
        const char* text;
    } rows[] = {{1004, 1044, "FTP &host"},
                {1005, 1045, "&Username"},
                {1006, 1046, "&Password"},
                {1011, 1047, "&Remote path"}};
    int y = 26;
    for (const auto& row : rows) {
        QLineEdit* edit = Add<QLineEdit>(row.edit, QRect(62, y, 158, 13));
        Add<QLabel>(row.label, QString::fromLatin1(row.text), QRect(7, y + 2, 53, 9))
            ->setBuddy(edit);
        y += 19;
    }
    Item<QLineEdit>(1006)->setEchoMode(QLineEdit::Password);
    Add<QCheckBox>(1069, QStringLiteral("&Safe FTP mode"), QRect(62, y + 2, 150, 10));

    OnClicked(1043, [this] {
        m_bUseFtp = IsItemChecked(1043) ? 1 : 0;
        UpdateFtpControls();
    });
}

void CSettingsFTP::DoDataExchange(CDataExchange& dx)
{
    DDX_Check(dx, 1043, m_bUseFtp);
    DDX_Text(dx, 1004, m_strFtpServer);
    DDX_Text(dx, 1005, m_strFtpUsername);
    DDX_Text(dx, 1006, m_strFtpPassword);
    DDX_Text(dx, 1011, m_strRemotePath);
    DDX_Check(dx, 1069, m_bSafeFtp);
}

void CSettingsFTP::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    UpdateFtpControls();
}

void CSettingsFTP::UpdateFtpControls()
{
    for (int id : {1004, 1044, 1005, 1045, 1006, 1046, 1011, 1047, 1069})
        EnableItem(id, m_bUseFtp != 0);
}
