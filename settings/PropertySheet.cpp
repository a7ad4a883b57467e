#include "PropertySheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

CPropertyPage::CPropertyPage(int templateId, const QString& title, QSize sizeDu)
    : m_du(DialogFont()), m_templateId(templateId), m_title(title)
{
    setFont(DialogFont());
    setFixedSize(m_du.x(sizeDu.width()), m_du.y(sizeDu.height()));
}

void CPropertyPage::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    CreateControls();
    // Controls made while the page is already on screen are not shown by it.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        w->show();
    OnInitDialog();
}

QWidget* CPropertyPage::GetDlgItem(int id) const
{
    return findChild<QWidget*>(QString::number(id));
}

bool CPropertyPage::UpdateData(bool save)
{
    CDataExchange dx(this, save);
    DoDataExchange(dx);
    return !dx.Failed();
}

void CPropertyPage::Place(QWidget* w, int id, QRect du)
{
    if (id)
        w->setObjectName(QString::number(id));
    // Templates give page coordinates; a group's children sit in the group.
    QWidget* parent = w->parentWidget();
    const QPoint origin = parent == this ? QPoint() : parent->mapTo(this, QPoint());
    w->setGeometry(m_du.rect(du.x(), du.y(), du.width(), du.height()).translated(-origin));
}

void CPropertyPage::EnableItem(int id, bool enable)
{
    if (QWidget* w = GetDlgItem(id))
        w->setEnabled(enable);
}

QAbstractButton* CPropertyPage::ButtonItem(int id) const
{
    return Item<QAbstractButton>(id);
}

void CPropertyPage::CheckItem(int id, bool check)
{
    if (QAbstractButton* b = ButtonItem(id))
        b->setChecked(check);
}

bool CPropertyPage::IsItemChecked(int id) const
{
    const QAbstractButton* b = ButtonItem(id);
    return b && b->isChecked();
}

CPropertySheet::CPropertySheet(const QString& caption, QWidget* parent, int selectPage)
    : QDialog(parent), m_selectPage(selectPage)
{
    setWindowTitle(caption);
    setFont(DialogFont());
    const DialogUnits du(font());
    m_tabBar = new QTabBar(this);
    m_tabBar->setExpanding(false);
    m_tabBar->setDrawBase(false);
    m_stack = new QStackedWidget(this);
    m_stack->setFrameShape(QFrame::StyledPanel);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_ok->setDefault(true);
    for (QPushButton* b : {m_ok, m_cancel})
        b->setFixedSize(du.x(50), du.y(14));
    connect(m_ok, &QPushButton::clicked, this, &CPropertySheet::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CPropertySheet::reject);
    connect(m_tabBar, &QTabBar::currentChanged, this, &CPropertySheet::OnTabChanged);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(du.x(4), du.y(4), du.x(4), du.y(4));
    layout->setSpacing(0);
    layout->addWidget(m_tabBar);
    layout->addWidget(m_stack);
    layout->addSpacing(du.y(4));
    layout->addLayout(buttons);

    static const struct {
        const char* keys;
        int delta;
    } steps[] = {{"Ctrl+Tab", 1}, {"Ctrl+PgDown", 1}, {"Ctrl+Shift+Tab", -1}, {"Ctrl+PgUp", -1}};
    for (const auto& step : steps)
        connect(new QShortcut(QKeySequence(QLatin1String(step.keys)), this), &QShortcut::activated,
                this, [this, d = step.delta] { StepPage(d); });
}

void CPropertySheet::AddPage(CPropertyPage* page)
{
    m_pages.append(page);
    m_stack->addWidget(page);
    // Only the shown page has its controls; the tab row changes nothing yet.
    const QSignalBlocker block(m_tabBar);
    m_tabBar->addTab(page->Title());
}

void CPropertySheet::showEvent(QShowEvent* event)
{
    if (m_active < 0 && !m_pages.isEmpty())
        Activate(qBound(0, m_selectPage, int(m_pages.size()) - 1));
    QDialog::showEvent(event);
}

void CPropertySheet::OnTabChanged(int index)
{
    if (index == m_active || index < 0)
        return;
    CPropertyPage* current = GetActivePage();
    if (current && current->IsCreated() && !current->OnKillActive()) {
        const QSignalBlocker block(m_tabBar);
        m_tabBar->setCurrentIndex(m_active);
        return;
    }
    Activate(index);
}

void CPropertySheet::Activate(int index)
{
    m_active = index;
    CPropertyPage* page = m_pages[index];
    page->Create();
    m_stack->setCurrentWidget(page);
    const QSignalBlocker block(m_tabBar);
    m_tabBar->setCurrentIndex(index);
}

void CPropertySheet::StepPage(int delta)
{
    const int n = m_pages.size();
    if (n > 1)
        m_tabBar->setCurrentIndex((m_active + delta + n) % n);
}

void CPropertySheet::accept()
{
    if (m_active < 0 && !m_pages.isEmpty())
        Activate(qBound(0, m_selectPage, int(m_pages.size()) - 1));
    CPropertyPage* current = GetActivePage();
    if (current && !current->OnKillActive())
        return;
    for (int i = 0; i < m_pages.size(); ++i) {
        CPropertyPage* page = m_pages[i];
        if (page != current && page->IsCreated() && !page->UpdateData(true)) {
            Activate(i);
            return;
        }
    }
    QDialog::accept();
}
