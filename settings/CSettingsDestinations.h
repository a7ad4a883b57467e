// Destinations page: destinations 2 to 4, one shown at a time in the same
// controls as the FTP page's, each with its use and its smaller copy.
#pragma once

#include "CDestinationBox.h"
#include "PropertySheet.h"
#include "net/FtpTransport.h"

constexpr int kDestinationsPageTemplate = 138;

class CSettingsDestinations : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsDestinations();

    FtpDestination m_destinations[3]; // 2 to 4
    // Tests the destination shown; without it there is no Test.
    DestinationTest m_onTest;

    // Null until the page is shown; it holds the destination Shown() names.
    CDestinationBox* DestinationBox() const { return m_box; }
    int Shown() const { return m_shown + 2; }

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void OnChoose(int index);
    void UpdateControls();

    CDestinationBox* m_box = nullptr;
    int m_shown = 0;
};
