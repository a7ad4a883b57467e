#include "CSettingsFTP.h"

#include "CDestinationBox.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QPushButton>

namespace
{
constexpr int kTest = 1100;
} // namespace

CSettingsFTP::CSettingsFTP()
    : CPropertyPage(IDD_SETTINGS_FTP, QStringLiteral("FTP"), QSize(227, 170))
{
}

void CSettingsFTP::CreateControls()
{
    Add<QCheckBox>(1043, QStringLiteral("Upload image via &FTP"), QRect(7, 7, 150, 10));
    m_box = new CDestinationBox(this, 20, 135);
    Add<QCheckBox>(1069, QStringLiteral("&Safe FTP mode"), QRect(62, 157, 100, 10));
    Add<QPushButton>(kTest, QStringLiteral("Te&st"), QRect(170, 155, 50, 14));
    OnClicked(kTest, [this] {
        if (m_onTest)
            m_onTest(ShownDestination(), this);
    });
    OnClicked(1043, [this] {
        m_bUseFtp = IsItemChecked(1043) ? 1 : 0;
        UpdateFtpControls();
    });
}

void CSettingsFTP::DoDataExchange(CDataExchange& dx)
{
    DDX_Check(dx, 1043, m_bUseFtp);
    FtpDestination d;
    d.strServer = m_strFtpServer;
    d.strUsername = m_strFtpUsername;
    d.strPassword = m_strFtpPassword;
    d.strRemotePath = m_strRemotePath;
    d.transport = m_transport;
    DDX_Check(dx, 1069, m_bSafeFtp);
    m_box->Exchange(dx, d, m_bUseFtp != 0);
    m_strFtpServer = d.strServer;
    m_strFtpUsername = d.strUsername;
    m_strFtpPassword = d.strPassword;
    m_strRemotePath = d.strRemotePath;
    m_transport = d.transport;
}

void CSettingsFTP::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    UpdateFtpControls();
}

void CSettingsFTP::UpdateFtpControls()
{
    m_box->SetActive(m_bUseFtp != 0);
    EnableItem(1069, m_bUseFtp != 0);
    EnableItem(kTest, m_bUseFtp != 0 && m_onTest);
}

FtpDestination CSettingsFTP::ShownDestination() const
{
    FtpDestination d = m_box->Current();
    d.bSafeFtp = IsItemChecked(1069) ? 1 : 0;
    return d;
}
