// FTP page: whether to upload, the protocol and its keys, the server, the
// account, the remote name and the transfer mode.
#pragma once

#include "PropertySheet.h"
#include "net/FtpTransport.h"

#include <functional>

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
    FtpTransportSettings m_transport;
    // Tests a connection with the values shown; without it there is no Test.
    std::function<void(const FtpDestination&, QWidget* parent)> m_onTest;
    // The values the controls show now, stored or not.
    FtpDestination ShownDestination() const;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void CreateTransportControls();
    void ExchangeTransport(CDataExchange& dx);
    void UpdateFtpControls();
    void ValidateHttp(CDataExchange& dx);
    void OnBrowseKey();
};
