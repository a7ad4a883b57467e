#include "CSettingsDestinations.h"

#include "CDestinationBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace
{
enum {
    kChoose = 1100,
    kChooseLabel,
    kUse,
    kMaxWidth,
    kMaxWidthLabel,
    kMaxWidthHint,
    kNote,
    kTest,
};
constexpr unsigned kLargestWidth = 10000;
} // namespace

CSettingsDestinations::CSettingsDestinations()
    : CPropertyPage(kDestinationsPageTemplate, QStringLiteral("Destinations"), QSize(227, 196))
{
}

void CSettingsDestinations::CreateControls()
{
    auto* choose = Add<QComboBox>(kChoose, QRect(62, 5, 72, 13));
    for (int n = 2; n <= 4; ++n)
        choose->addItem(QStringLiteral("Destination %1").arg(n));
    Add<QLabel>(kChooseLabel, QStringLiteral("E&dit"), QRect(7, 7, 53, 9))->setBuddy(choose);
    Add<QCheckBox>(kUse, QStringLiteral("Up&load here too"), QRect(142, 7, 78, 10));
    m_box = new CDestinationBox(this, 20, 135);
    auto* width = Add<QLineEdit>(kMaxWidth, QRect(62, 157, 30, 13));
    Add<QLabel>(kMaxWidthLabel, QStringLiteral("Max &width"), QRect(7, 159, 53, 9))
        ->setBuddy(width);
    Add<QLabel>(kMaxWidthHint, QStringLiteral("pixels; 0: as taken"), QRect(96, 159, 70, 9));
    Add<QPushButton>(kTest, QStringLiteral("Te&st"), QRect(170, 155, 50, 14));
    OnClicked(kTest, [this] {
        if (m_onTest)
            m_onTest(m_box->Current(), this);
    });
    auto* note = Add<QLabel>(kNote,
                             QStringLiteral("A single shot is published to every destination in "
                                            "use; a series or a continuous stream only to the "
                                            "FTP page's."),
                             QRect(7, 174, 213, 18));
    note->setWordWrap(true);
    OnClicked(kUse, [this] { UpdateControls(); });
    connect(choose, &QComboBox::currentIndexChanged, this, [this](int i) { OnChoose(i); });
}

void CSettingsDestinations::DoDataExchange(CDataExchange& dx)
{
    FtpDestination& d = m_destinations[m_shown];
    if (!dx.m_bSaveAndValidate) {
        const QSignalBlocker block(GetDlgItem(kChoose));
        Item<QComboBox>(kChoose)->setCurrentIndex(m_shown);
    }
    DDX_Check(dx, kUse, d.bUse);
    m_box->Exchange(dx, d, d.bUse != 0);
    // A negative stored width already publishes the picture as taken.
    unsigned width = unsigned(qMax(0, d.nMaxWidth));
    DDX_Text(dx, kMaxWidth, width);
    if (dx.m_bSaveAndValidate && !dx.Failed()) {
        if (d.bUse)
            DDV_MinMaxUInt(dx, width, 0, kLargestWidth);
        if (!dx.Failed() && (d.nMaxWidth >= 0 || width > 0))
            d.nMaxWidth = int(width);
    }
}

void CSettingsDestinations::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    UpdateControls();
}

// Another destination is shown only once the one shown reads back whole.
void CSettingsDestinations::OnChoose(int index)
{
    if (index == m_shown || index < 0)
        return;
    if (!UpdateData(true)) {
        const QSignalBlocker block(GetDlgItem(kChoose));
        Item<QComboBox>(kChoose)->setCurrentIndex(m_shown);
        return;
    }
    m_shown = index;
    UpdateData(false);
    UpdateControls();
}

void CSettingsDestinations::UpdateControls()
{
    const bool on = IsItemChecked(kUse);
    m_box->SetActive(on);
    for (int id : {kMaxWidth, kMaxWidthLabel, kMaxWidthHint})
        EnableItem(id, on);
    EnableItem(kTest, on && m_onTest);
}
