// Upload page: the daily upload period, the interval, the mode, the speed,
// retrying failed uploads and daylight only, with today's daylight at the place shown as it is
// typed.
#pragma once

#include "PropertySheet.h"
#include "schedule/Sun.h"

enum UploadPageControl {
    IDC_DAYLIGHT_ONLY = 1120,
    IDC_LATITUDE,
    IDC_LONGITUDE,
    IDC_SUN_ALTITUDE,
    IDC_DAYLIGHT_PREVIEW,
    IDC_DAYLIGHT_GROUP,
    IDC_RETRY_FAILED,
};

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
    int m_bRetryFailed = 1;     // a failed upload is tried again within the interval
    QString m_strNotifyCommand; // run on failure and recovery; empty: none
    DaylightTexts m_daylight;

    // What the daylight line shows for the texts as they are now.
    QString DaylightPreview() const;

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
    void CreateDaylight();
    void UpdateDaylight();
    DaylightTexts TypedDaylight() const;
};
