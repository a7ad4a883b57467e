#include "CSettingsTime.h"

#include "CFontDialog.h"
#include "app/CCameraApp.h"
#include "capture/Caption.h"
#include "capture/CaptionEffects.h"
#include "capture/Overlay.h"
#include "platform/afx/afx.h"
#include "res/resource.h"
#include "session/CCameraDlg.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
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
    : CPropertyPage(IDD_SETTINGS_TIME, QStringLiteral("Caption"), QSize(227, 203))
{
}

void CSettingsTime::CreateControls()
{
    Add<QGroupBox>(1036, QStringLiteral("&Sample"), QRect(7, 5, 213, 46));
    QLineEdit* format = Add<QLineEdit>(1026, QRect(7, 67, 150, 13));
    Add<QLabel>(0, QStringLiteral("F&ormat string"), QRect(7, 56, 100, 9))->setBuddy(format);
    Add<QPushButton>(1024, QStringLiteral("Set &font..."), QRect(163, 66, 57, 15));
    CreatePositionGroups();
    CreateStyleControls();

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

void CSettingsTime::CreateStyleControls()
{
    auto* style = Add<QComboBox>(IDC_CAPTION_STYLE, QRect(48, 150, 62, 14));
    style->addItems({QStringLiteral("None"), QStringLiteral("Outline"), QStringLiteral("Shadow"),
                     QStringLiteral("Box")});
    Add<QLabel>(0, QStringLiteral("Text st&yle:"), QRect(7, 152, 40, 9))->setBuddy(style);
    Add<QPushButton>(IDC_OUTLINE_COLOR, QStringLiteral("Colo&ur..."), QRect(118, 149, 50, 15));

    QLineEdit* image = Add<QLineEdit>(IDC_OVERLAY_IMAGE, QRect(60, 168, 105, 13));
    image->setPlaceholderText(QStringLiteral("none"));
    Add<QLabel>(0, QStringLiteral("Overlay &image:"), QRect(7, 170, 52, 9))->setBuddy(image);
    Add<QPushButton>(IDC_OVERLAY_BROWSE, QStringLiteral("Ope&n..."), QRect(170, 167, 50, 15));
    auto* position = Add<QComboBox>(IDC_OVERLAY_POSITION, QRect(48, 185, 62, 14));
    for (const char* v : {"Top", "Center", "Bottom"})
        for (const char* h : {"left", "center", "right"})
            position->addItem(QStringLiteral("%1 %2").arg(QLatin1String(v), QLatin1String(h)));
    position->setItemText(4, QStringLiteral("Center"));
    Add<QLabel>(0, QStringLiteral("&Position:"), QRect(7, 187, 40, 9))->setBuddy(position);
    QLineEdit* opacity = Add<QLineEdit>(IDC_OVERLAY_OPACITY, QRect(165, 185, 30, 13));
    Add<QLabel>(0, QStringLiteral("Op&acity %:"), QRect(118, 187, 45, 9))->setBuddy(opacity);

    // Like the radios, a stored value outside the list stays until a choice.
    connect(style, QOverload<int>::of(&QComboBox::activated), this, [this](int i) {
        m_extras.nOutline = i;
        InvalidateSample();
    });
    connect(position, QOverload<int>::of(&QComboBox::activated), this,
            [this](int i) { m_extras.nOverlayPosition = i; });
    OnClicked(IDC_OUTLINE_COLOR, [this] { OnOutlineColour(); });
    OnClicked(IDC_OVERLAY_BROWSE, [this] { OnBrowseOverlay(); });
}

void CSettingsTime::DoDataExchange(CDataExchange& dx)
{
    DDX_Text(dx, 1026, m_strTimeFormat);
    DDX_Check(dx, 1037, m_bShowTime);
    DDX_Text(dx, IDC_OVERLAY_IMAGE, m_extras.strOverlayImage);
    if (dx.m_bSaveAndValidate && !dx.Failed() && !m_extras.strOverlayImage.isEmpty()) {
        const QString why = CheckOverlayImage(m_extras.strOverlayImage);
        if (!why.isEmpty()) {
            dx.PrepareCtrl(IDC_OVERLAY_IMAGE);
            dx.Fail(QStringLiteral("The overlay image cannot be used: %1.").arg(why));
        }
    }
    DDX_Text(dx, IDC_OVERLAY_OPACITY, m_extras.nOverlayOpacity);
    DDV_MinMaxUInt(dx, m_extras.nOverlayOpacity, 0, 100);
}

void CSettingsTime::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    // Values outside 0..2 check the centre (or top) radio but stay until a click.
    CheckItem(m_nCaptionHorzPos == 0 ? 1033 : m_nCaptionHorzPos == 2 ? 1035 : 1034, true);
    CheckItem(m_nCaptionVertPos == 1 ? 1028 : m_nCaptionVertPos == 2 ? 1029 : 1027, true);
    if (auto* style = Item<QComboBox>(IDC_CAPTION_STYLE))
        style->setCurrentIndex(int(CaptionEffectOf(m_extras.nOutline)));
    const int at = m_extras.nOverlayPosition;
    if (auto* position = Item<QComboBox>(IDC_OVERLAY_POSITION))
        position->setCurrentIndex(at >= 0 && at <= 8 ? at : 8); // where it is drawn
    ShowOutlineColour();
}

QRect CSettingsTime::SampleRect() const
{
    const QWidget* group = GetDlgItem(1036);
    return group ? group->geometry() : QRect();
}

QString CSettingsTime::SampleText(std::time_t t) const
{
    const auto* edit = Item<QLineEdit>(1026);
    if (!edit)
        return QString();
    const CCameraApp* app = AfxGetApp();
    const QString camera = app && app->m_pMainWnd ? app->m_pMainWnd->CameraSourceName() : QString();
    return CaptionText(t, edit->text(), camera, m_sampleFiles);
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
    if (CaptionEffectOf(m_extras.nOutline) != CaptionEffect::None) {
        PaintStyledSample(painter, painter.font(), SampleText(CCameraApp::Now()));
        return;
    }
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

// The text with its effect, worked out as the picture's caption is, over the
// page: the outline or box shows as it will on the picture.
void CSettingsTime::PaintStyledSample(QPainter& painter, const QFont& font, const QString& text)
{
    const QRect area = SampleRect();
    QImage ink(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (ink.isNull())
        return;
    ink.fill(Qt::transparent);
    const QRect local(QPoint(0, 0), area.size());
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    QPainter p(&ink);
    p.setFont(font);
    p.setPen(QColor(GetRValue(m_crCaptionColor), GetGValue(m_crCaptionColor),
                    GetBValue(m_crCaptionColor)));
    const QRect textRect = p.boundingRect(local, flags, text);
    p.drawText(local, flags, text);
    p.end();
    const COLORREF c = m_extras.crOutlineColor;
    UnderlayCaptionEffect(ink, CaptionEffectOf(m_extras.nOutline),
                          QColor(GetRValue(c), GetGValue(c), GetBValue(c)),
                          QFontMetrics(font).height(), textRect);
    painter.drawImage(area.topLeft(), ink);
}

void CSettingsTime::ShowOutlineColour()
{
    auto* button = Item<QPushButton>(IDC_OUTLINE_COLOR);
    if (!button)
        return;
    QPixmap swatch(12, 12);
    const COLORREF c = m_extras.crOutlineColor;
    swatch.fill(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    button->setIcon(QIcon(swatch));
}

void CSettingsTime::OnOutlineColour()
{
    const COLORREF c = m_extras.crOutlineColor;
    QColorDialog dialog(QColor(GetRValue(c), GetGValue(c), GetBValue(c)), this);
    dialog.setWindowTitle(QStringLiteral("Outline, shadow and box colour"));
    if (AfxRunModal(dialog) != QDialog::Accepted)
        return;
    const QColor chosen = dialog.currentColor();
    m_extras.crOutlineColor = RGB(BYTE(chosen.red()), BYTE(chosen.green()), BYTE(chosen.blue()));
    ShowOutlineColour();
    InvalidateSample();
}

void CSettingsTime::OnBrowseOverlay()
{
    auto* edit = Item<QLineEdit>(IDC_OVERLAY_IMAGE);
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("PNG images (*.png);;All files (*)"));
    if (edit && !edit->text().isEmpty())
        dialog.selectFile(edit->text());
    if (AfxRunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !edit)
        return;
    edit->setText(dialog.selectedFiles().first());
}
