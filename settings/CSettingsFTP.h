// FTP page: whether to upload, the first destination's controls and the safe
// mode.
#pragma once

#include "CDestinationBox.h"
#include "PropertySheet.h"
#include "net/FtpTransport.h"

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
    DestinationTest m_onTest;
    // The values the controls show now, stored or not.
    FtpDestination ShownDestination() const;

    // Null until the page is shown.
    CDestinationBox* DestinationBox() const { return m_box; }

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void UpdateFtpControls();

    CDestinationBox* m_box = nullptr;
};
