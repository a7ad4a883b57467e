#include "CSettingsTime.h"

#include "CFontDialog.h"
#include "app/CCameraApp.h"
#include "capture/Caption.h"
#include "platform/afx/afx.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace
{
// The check box's text broken onto as many lines as its width needs.
QString WrapToWidth(const QString& text, const QFontMetrics& fm, int width)
{
    QString result, line;
    for (const QString& word : text.split(QLatin1Char(' '))) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() &&
            fm.horizontalAdvance(QString(candidate).remove(QLatin1Char('&'))) > width) {
            result += line + QLatin1Char('\n');
            line = word;
        } else {
            line = candidate;
        }
    }
    return result + line;
}
} // namespace

CSettingsTime::CSettingsTime()
    : CPropertyPage(IDD_SETTINGS_TIME, QStringLiteral("Caption"), QSize(227, 150))
{
}

void CSettingsTime::CreateControls()
{
    Add<QGroupBox>(1036, QStringLiteral("&Sample"), QRect(7, 5, 213, 46));
    QLineEdit* format = Add<QLineEdit>(1026, QRect(7, 67, 150, 13));
    Add<QLabel>(0, QStringLiteral("F&ormat string"), QRect(7, 56, 100, 9))->setBuddy(format);
    Add<QPushButton>(1024, QStringLiteral("Set &font..."), QRect(163, 66, 57, 15));
    CreatePositionGroups();

    const QString show = QStringLiteral("Sho&w date/time in picture");
    QCheckBox* check = Add<QCheckBox>(1037, show, QRect(159, 95, 61, 26));
    const int indicator =
        check->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check) +
        check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
    check->setText(WrapToWidth(show, check->fontMetrics(), check->width() - indicator));

    // Notified before the edit repaints, so the sample follows every keystroke.
    connect(format, &QLineEdit::textChanged, this, &CSettingsTime::InvalidateSample);
    OnClicked(1037, [this] { InvalidateSample(); });
    OnClicked(1024, [this] { OnSetFont(); });
}

void CSettingsTime::CreatePositionGroups()
{
    static const struct {
        int id;
        const char* text;
        int CSettingsTime::*value;
        int position;
    } radios[] = {
        {1027, "&Top", &CSettingsTime::m_nCaptionVertPos, 0},
        {1028, "&Center", &CSettingsTime::m_nCaptionVertPos, 1},
        {1029, "&Bottom", &CSettingsTime::m_nCaptionVertPos, 2},
        {1033, "&Left", &CSettingsTime::m_nCaptionHorzPos, 0},
        {1034, "C&enter", &CSettingsTime::m_nCaptionHorzPos, 1},
        {1035, "&Right", &CSettingsTime::m_nCaptionHorzPos, 2},
    };
    QGroupBox* vert = Add<QGroupBox>(0, QStringLiteral("&Vertical Position"), QRect(7, 86, 72, 58));
    QGroupBox* horz =
        Add<QGroupBox>(0, QStringLiteral("&Horizontal Position"), QRect(83, 86, 72, 58));
    for (int i = 0; i < 6; ++i) {
        const auto& r = radios[i];
        QRect du(i < 3 ? 14 : 90, 101 + (i % 3) * 14, 58, 10);
        Add<QRadioButton>(r.id, QString::fromLatin1(r.text), du, i < 3 ? vert : horz);
        OnClicked(r.id, [this, &r] { this->*r.value = r.position; });
    }
}

void CSettingsTime::DoDataExchange(CDataExchange& dx)
{
    DDX_Text(dx, 1026, m_strTimeFormat);
    DDX_Check(dx, 1037, m_bShowTime);
}

void CSettingsTime::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    // Values outside 0..2 check the centre (or top) radio but stay until a click.
    CheckItem(m_nCaptionHorzPos == 0 ? 1033 : m_nCaptionHorzPos == 2 ? 1035 : 1034, true);
    CheckItem(m_nCaptionVertPos == 1 ? 1028 : m_nCaptionVertPos == 2 ? 1029 : 1027, true);
}

QRect CSettingsTime::SampleRect() const
{
    const QWidget* group = GetDlgItem(1036);
    return group ? group->geometry() : QRect();
}

QString CSettingsTime::SampleText(std::time_t t) const
{
    const auto* edit = Item<QLineEdit>(1026);
    return edit ? FormatCaptionTime(t, edit->text()) : QString();
}

bool CSettingsTime::SampleFont(QFont& font) const
{
    // The picture caption's own rules, so the sample shows what the picture gets.
    const int pixels = CaptionPixelSize(CaptionFontHeight(logicalDpiY(), m_nFontPointSize));
    if (pixels <= 0)
        return false;
    font = QFont(CaptionFaceName(m_strFontName));
    font.setPixelSize(pixels);
    return true;
}

void CSettingsTime::InvalidateSample()
{
    update(SampleRect());
}

void CSettingsTime::paintEvent(QPaintEvent* event)
{
    CPropertyPage::paintEvent(event);
    if (!IsItemChecked(1037))
        return;
    QPainter painter(this);
    QFont font;
    if (SampleFont(font))
        painter.setFont(font);
    painter.setPen(QColor(GetRValue(m_crCaptionColor), GetGValue(m_crCaptionColor),
                          GetBValue(m_crCaptionColor)));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(palette().window());
    painter.drawText(SampleRect(), Qt::AlignCenter | Qt::TextSingleLine,
                     SampleText(CCameraApp::Now()));
}

void CSettingsTime::OnSetFont()
{
    CFontDialog dialog(this);
    QFont initial(m_strFontName);
    if (m_nFontPointSize >= 10)
        initial.setPointSize(m_nFontPointSize / 10);
    dialog.setCurrentFont(initial);
    dialog.setColor(m_crCaptionColor);
    // The face the chooser settled on for the stored name (an alias may
    // resolve to another family): unchanged, the stored name is kept.
    const QString shownFamily = dialog.selectedFont().family();
    if (AfxRunModal(dialog) != QDialog::Accepted)
        return;
    const QFont chosen = dialog.selectedFont();
    if (chosen.family() != shownFamily)
        m_strFontName = chosen.family();
    if (chosen.pointSizeF() > 0)
        m_nFontPointSize = qRound(chosen.pointSizeF() * 10);
    m_crCaptionColor = dialog.color();
    InvalidateSample();
}
