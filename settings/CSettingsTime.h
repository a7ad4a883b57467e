// Caption page (template 135): the caption's format, position, font and
// colour, with a live sample of the current time.
#pragma once

#include "PropertySheet.h"
#include "capture/CaptionFields.h"
#include "capture/CaptionSettings.h"
#include "platform/win/wintypes.h"

#include <QFont>

class QPainter;
#include <ctime>

// The controls beyond the page's template: the caption's style and the
// overlay image.
enum CaptionPageControl {
    IDC_CAPTION_STYLE = 1040,
    IDC_OUTLINE_COLOR,
    IDC_OVERLAY_IMAGE,
    IDC_OVERLAY_BROWSE,
    IDC_OVERLAY_POSITION,
    IDC_OVERLAY_OPACITY,
};

class CSettingsTime : public CPropertyPage
{
    Q_OBJECT
public:
    CSettingsTime();

    QString m_strTimeFormat;
    int m_bShowTime = 0;
    int m_nCaptionHorzPos = 0;
    int m_nCaptionVertPos = 0;
    QString m_strFontName;
    int m_nFontPointSize = 0;
    COLORREF m_crCaptionColor = 0;
    CaptionExtras m_extras;

    // The sample area: the sample group's whole rectangle on the page.
    QRect SampleRect() const;
    // The edit's current text expanded with time t; empty when it does not fit.
    QString SampleText(std::time_t t) const;
    // The font the sample is drawn in; false when it cannot be made.
    bool SampleFont(QFont& font) const;

protected:
    void CreateControls() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnInitDialog() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void CreatePositionGroups();
    void CreateStyleControls();
    void InvalidateSample();
    void OnSetFont();
    void OnOutlineColour();
    void OnBrowseOverlay();
    void ShowOutlineColour();
    void PaintStyledSample(QPainter& painter, const QFont& font, const QString& text);

    // The sample reads files quietly: a path typed half way is no news.
    mutable CaptionFileReader m_sampleFiles{false};
};
