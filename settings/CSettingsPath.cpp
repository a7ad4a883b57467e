#include "CSettingsPath.h"

#include "platform/afx/afx.h"
#include "res/resource.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

CSettingsPath::CSettingsPath()
    : CPropertyPage(IDD_SETTINGS_PATH, QStringLiteral("Image"), QSize(227, 150))
{
}

void CSettingsPath::CreateControls()
{
    QLineEdit* path = Add<QLineEdit>(1010, QRect(7, 19, 158, 13));
    Add<QLabel>(0, QStringLiteral("&Local path:"), QRect(7, 8, 100, 9))->setBuddy(path);
    Add<QPushButton>(1012, QStringLiteral("&Browse..."), QRect(170, 18, 50, 15));

    Add<QLabel>(1064, QStringLiteral("50%"), QRect(64, 48, 50, 9));
    m_sliderQuality = new QSlider(Qt::Horizontal, this);
    Place(m_sliderQuality, 1061, QRect(7, 60, 213, 20));
    Add<QLabel>(0, QStringLiteral("&Image quality:"), QRect(7, 48, 55, 9))
        ->setBuddy(m_sliderQuality);
    Add<QLabel>(0, QStringLiteral("0%"), QRect(7, 82, 30, 9));
    Add<QLabel>(0, QStringLiteral("100%"), QRect(180, 82, 40, 9))->setAlignment(Qt::AlignRight);

    connect(m_sliderQuality, &QSlider::valueChanged, this, &CSettingsPath::OnHScroll);
    OnClicked(1012, [this] { OnBrowse(); });
}

void CSettingsPath::DoDataExchange(CDataExchange& dx)
{
    DDX_Text(dx, 1010, m_strLocalPath);
}

void CSettingsPath::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    // Placing the slider is no notification: a stored value outside 0..100
    // stays until the user moves it.
    const QSignalBlocker block(m_sliderQuality);
    m_sliderQuality->setRange(0, 100);
    m_sliderQuality->setTickPosition(QSlider::TicksBelow);
    m_sliderQuality->setTickInterval(10);
    m_sliderQuality->setSingleStep(5);
    m_sliderQuality->setPageStep(25);
    m_sliderQuality->setValue(m_nQuality);
    ShowQuality();
}

void CSettingsPath::OnHScroll(int position)
{
    m_nQuality = position;
    ShowQuality();
}

void CSettingsPath::ShowQuality()
{
    if (auto* label = Item<QLabel>(1064))
        label->setText(QString::asprintf("%d %%", m_nQuality));
}

void CSettingsPath::OnBrowse()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("JPEG pictures (*.jpg *.jpeg *.JPG *.JPEG)"),
                           QStringLiteral("All files (*)")});
    // The value of the page's start or the last Browse, not text typed since.
    // The chooser resolves a path in a missing folder against its own, so
    // only an existing folder is handed over.
    const QFileInfo initial(m_strLocalPath);
    if (initial.absoluteDir().exists())
        dialog.setDirectory(initial.absoluteDir());
    dialog.selectFile(initial.fileName());
    if (AfxRunModal(dialog) != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return;
    m_strLocalPath = files.first();
    Item<QLineEdit>(1010)->setText(m_strLocalPath);
}
