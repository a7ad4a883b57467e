// Upload page: the daily upload period, the interval, the mode and the speed.
#pragma once

#include "PropertySheet.h"

class CSettingsUpload : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsUpload();

    unsigned m_nIntervalCount = 0;
    unsigned m_nIntervalUnit = 1;
    QString m_strFrom;
    QString m_strTo;
    int m_b24Hours = 0;
    int m_nUploadMode = 0;
    int m_nNumSeries = 0;
    float m_fMaxFps = 0;
    QString m_strNotifyCommand; // run on failure and recovery; empty: none

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void CreatePeriodAndInterval();
    void CreateModeAndSpeed();
    void SetMode(int mode);
    void EnableIntervalControls(bool enable);
    void EnableSeriesControls(bool enable);
    void EnableSpeedControls(bool enable);
};
