// FTP page: whether to upload, the server, the account and the remote name.
#pragma once

#include "PropertySheet.h"

class CSettingsFTP : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsFTP();

    QString m_strFtpServer;
    QString m_strFtpUsername;
    QString m_strFtpPassword;
    QString m_strRemotePath;
    int m_bUseFtp = 0;
    int m_bSafeFtp = 0;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void UpdateFtpControls();
};
