// Dialup page: LAN or dial-up, the phone-book entry to dial and the retries.
#pragma once

#include "PropertySheet.h"

class CSettingsDialup : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsDialup();

    QString m_strDialupConnection;
    unsigned m_nDialupRetries = 0;
    int m_bUseDialup = 0;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void FillEntryList();
    void UpdateDialupControls();

    // False when the phone book could not be read: the stored entry then stays.
    bool m_bEntriesRead = false;
};
