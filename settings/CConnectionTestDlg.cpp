#include "CConnectionTestDlg.h"

#include "platform/afx/afx.h"
#include "platform/afx/log.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
QString OutcomeText(ConnectionStep::Outcome outcome)
{
    static const char* const texts[] = {"OK", "Failed", "Skipped"};
    return QString::fromLatin1(texts[outcome]);
}
} // namespace

CConnectionTestDlg::CConnectionTestDlg(const CUpload::InternetTable& inet, const FtpDestination& d,
                                       QWidget* parent)
    : QDialog(parent), m_test(inet, d), m_steps(new QTreeWidget(this)),
      m_summary(new QLabel(QStringLiteral("Testing..."), this)),
      m_button(new QPushButton(QStringLiteral("Cancel"), this))
{
    setWindowTitle(QStringLiteral("Connection test"));
    m_steps->setColumnCount(3);
    m_steps->setHeaderLabels(
        {QStringLiteral("Step"), QStringLiteral("Result"), QStringLiteral("Details")});
    m_steps->setRootIsDecorated(false);
    m_steps->setSelectionMode(QAbstractItemView::NoSelection);
    m_steps->header()->setStretchLastSection(true);
    m_summary->setWordWrap(true);
    // The reason is what a user pastes into a question to the server's admin.
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_steps);
    layout->addWidget(m_summary);
    layout->addWidget(m_button, 0, Qt::AlignRight);
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_done)
            accept();
        else
            reject();
    });
    resize(560, 300);
}

CConnectionTestDlg::~CConnectionTestDlg()
{
    // Before any member goes: the worker posts to this box until it ends.
    m_test.Cancel();
    m_test.Wait();
}

void CConnectionTestDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_test.Start(
        [this](const ConnectionStep& step) {
            QMetaObject::invokeMethod(
                this, [this, step] { AddStep(step); }, Qt::QueuedConnection);
        },
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { OnDone(); }, Qt::QueuedConnection);
        });
}

// While the test runs, Cancel and Escape stop it and the box stays to show
// where it stopped.
void CConnectionTestDlg::reject()
{
    if (!IsRunning())
        return QDialog::reject();
    m_test.Cancel();
    m_button->setEnabled(false);
    m_summary->setText(QStringLiteral("Cancelling..."));
}

void CConnectionTestDlg::AddStep(const ConnectionStep& step)
{
    auto* item = new QTreeWidgetItem(m_steps, {step.name, OutcomeText(step.outcome), step.detail});
    item->setToolTip(2, step.detail);
    if (step.outcome == ConnectionStep::kFailed)
        for (int column = 0; column < 3; ++column)
            item->setForeground(column, QColor(0xb0, 0, 0));
    m_steps->resizeColumnToContents(0);
    m_steps->resizeColumnToContents(1);
    if (!m_button->isEnabled())
        return; // "Cancelling..." stays until the end
    m_summary->setText(ConnectionSummary(m_test.Steps(), false));
}

void CConnectionTestDlg::OnDone()
{
    m_done = true;
    const QString summary = ConnectionSummary(m_test.Steps(), true);
    m_summary->setText(summary);
    QFont bold = m_summary->font();
    bold.setBold(true);
    m_summary->setFont(bold);
    m_button->setText(QStringLiteral("Close"));
    m_button->setEnabled(true);
    m_button->setDefault(true);
    LogStatus(QStringLiteral("Connection test: ") + summary);
}

QStringList CConnectionTestDlg::StepLines() const
{
    QStringList lines;
    for (int i = 0; i < m_steps->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_steps->topLevelItem(i);
        lines << item->text(0) + QStringLiteral(": ") + item->text(1) + QStringLiteral(": ") +
                     item->text(2);
    }
    return lines;
}

QString CConnectionTestDlg::Summary() const
{
    return m_summary->text();
}

void RunConnectionTestDialog(const CUpload::InternetTable& inet, const FtpDestination& d,
                             QWidget* parent)
{
    CConnectionTestDlg dialog(inet, d, parent);
    AfxRunModal(dialog);
}
