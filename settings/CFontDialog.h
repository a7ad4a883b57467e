// Choosing the caption font: the font chooser (face, style, size, effects)
// with a colour row beneath it, as one modal dialog.
#pragma once

#include "platform/win/wintypes.h"

#include <QDialog>
#include <QFont>

class QComboBox;
class QFontDialog;

class CFontDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CFontDialog(QWidget* parent = nullptr);

    void setCurrentFont(const QFont& font);
    QFont selectedFont() const;
    // 0x00BBGGRR; a colour outside the standard sixteen is listed as "Custom".
    void setColor(COLORREF color);
    COLORREF color() const;

    QFontDialog* fontChooser() const { return m_font; }
    QComboBox* colorList() const { return m_colors; }

private:
    void OnOtherColor();

    QFontDialog* m_font;
    QComboBox* m_colors;
};
