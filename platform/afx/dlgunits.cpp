#include "dlgunits.h"

#include <QFontMetrics>

QFont DialogFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font)
{
    QFontMetrics fm(font);
    const QString sample =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (fm.horizontalAdvance(sample) / 26 + 1) / 2;
    m_baseY = fm.height();
    if (m_baseX <= 0)
        m_baseX = 6;
    if (m_baseY <= 0)
        m_baseY = 13;
}
