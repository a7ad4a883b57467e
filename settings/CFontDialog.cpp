#include "CFontDialog.h"

#include "platform/afx/afx.h"
#include "platform/afx/dlgunits.h"

#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
const struct {
    const char* name;
    COLORREF color;
} kStandardColors[] = {
    {"Black", RGB(0, 0, 0)},       {"Maroon", RGB(128, 0, 0)},    {"Green", RGB(0, 128, 0)},
    {"Olive", RGB(128, 128, 0)},   {"Navy", RGB(0, 0, 128)},      {"Purple", RGB(128, 0, 128)},
    {"Teal", RGB(0, 128, 128)},    {"Gray", RGB(128, 128, 128)},  {"Silver", RGB(192, 192, 192)},
    {"Red", RGB(255, 0, 0)},       {"Lime", RGB(0, 255, 0)},      {"Yellow", RGB(255, 255, 0)},
    {"Blue", RGB(0, 0, 255)},      {"Fuchsia", RGB(255, 0, 255)}, {"Aqua", RGB(0, 255, 255)},
    {"White", RGB(255, 255, 255)},
};

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

QIcon Swatch(COLORREF c)
{
    QPixmap pixmap(16, 12);
    pixmap.fill(ToQColor(c));
    return QIcon(pixmap);
}
} // namespace

CFontDialog::CFontDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Font"));
    m_font = new QFontDialog(this);
    m_font->setWindowFlags(Qt::Widget);
    m_font->setSizeGripEnabled(false);
    m_font->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    // Esc inside the embedded chooser would only hide it.
    connect(m_font, &QDialog::rejected, this, &QDialog::reject);

    m_colors = new QComboBox(this);
    for (const auto& c : kStandardColors)
        m_colors->addItem(Swatch(c.color), QString::fromLatin1(c.name), uint(c.color));
    auto* label = new QLabel(QStringLiteral("Co&lor:"), this);
    label->setBuddy(m_colors);
    auto* other = new QPushButton(QStringLiteral("&Other..."), this);
    connect(other, &QPushButton::clicked, this, &CFontDialog::OnOtherColor);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(label);
    colorRow->addWidget(m_colors, 1);
    colorRow->addWidget(other);
    colorRow->addStretch(2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_font);
    layout->addLayout(colorRow);
    layout->addWidget(buttons);
}

void CFontDialog::setCurrentFont(const QFont& font)
{
    m_font->setCurrentFont(font);
}

QFont CFontDialog::selectedFont() const
{
    return m_font->currentFont();
}

void CFontDialog::setColor(COLORREF color)
{
    int index = m_colors->findData(uint(color));
    if (index < 0) {
        const int custom = m_colors->findText(QStringLiteral("Custom"));
        if (custom >= 0)
            m_colors->removeItem(custom);
        m_colors->addItem(Swatch(color), QStringLiteral("Custom"), uint(color));
        index = m_colors->count() - 1;
    }
    m_colors->setCurrentIndex(index);
}

COLORREF CFontDialog::color() const
{
    return COLORREF(m_colors->currentData().toUInt());
}

void CFontDialog::OnOtherColor()
{
    QColorDialog dialog(ToQColor(color()), this);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (AfxRunModal(dialog) != QDialog::Accepted)
        return;
    const QColor c = dialog.currentColor();
    if (c.isValid())
        setColor(RGB(BYTE(c.red()), BYTE(c.green()), BYTE(c.blue())));
}
