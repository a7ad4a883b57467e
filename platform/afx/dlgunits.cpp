#include "dlgunits.h"

#include <QFontMetrics>
#include <QLabel>

QFont DialogFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font)
{
    QFontMetrics fm(font);
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (fm.horizontalAdvance(sample) / 26 + 1) / 2;
    m_baseY = fm.height();
    if (m_baseX <= 0)
        m_baseX = 6;
    if (m_baseY <= 0)
        m_baseY = 13;
}

QLabel* AddStaticText(QWidget* parent, const DialogUnits& du, const QString& text, int x, int y,
                      int width, int height)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(du.rect(x, y, width, height));
    return label;
}
