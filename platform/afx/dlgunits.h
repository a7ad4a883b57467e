// Dialog units to pixels, from the dialog font, as the resource templates are
// laid out: x pixels = du * baseX / 4, y pixels = du * baseY / 8.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

// The font standing in for the templates' "MS Sans Serif" 8 point.
QFont DialogFont();

class DialogUnits
{
public:
    explicit DialogUnits(const QFont& font = DialogFont());
    int x(int du) const { return (du * m_baseX + 2) / 4; }
    int y(int du) const { return (du * m_baseY + 4) / 8; }
    QRect rect(int x0, int y0, int w, int h) const { return QRect(x(x0), y(y0), x(w), y(h)); }
    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};

class QLabel;
class QWidget;
// A word-wrapped, top-left aligned static text placed in dialog units.
QLabel* AddStaticText(QWidget* parent, const DialogUnits& du, const QString& text, int x, int y,
                      int width, int height);
