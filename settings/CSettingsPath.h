// Image page (template 133): the local picture path and the JPEG quality.
#pragma once

#include "PropertySheet.h"

class QSlider;

class CSettingsPath : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsPath();

    QString m_strLocalPath;
    int m_nQuality = 0;
    QSlider* m_sliderQuality = nullptr;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;

private:
    void OnHScroll(int position);
    void OnBrowse();
    void ShowQuality();
};
