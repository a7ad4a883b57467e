// The box of a connection test: one line per step as it ends, a line naming
// the first failing step, and Cancel while it runs that then becomes Close.
#pragma once

#include "net/ConnectionTest.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

class CConnectionTestDlg : public QDialog
{
    Q_OBJECT
public:
    // The test starts once the box is shown.
    CConnectionTestDlg(const CUpload::InternetTable& inet, const FtpDestination& d,
                       QWidget* parent = nullptr);
    ~CConnectionTestDlg() override;

    bool IsRunning() const { return m_started && !m_done; }
    // Each step's line as "Name: Outcome: detail", in order.
    QStringList StepLines() const;
    QString Summary() const;
    QPushButton* Button() const { return m_button; }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void AddStep(const ConnectionStep& step);
    void OnDone();

    ConnectionTest m_test;
    QTreeWidget* m_steps;
    QLabel* m_summary;
    QPushButton* m_button;
    bool m_started = false;
    bool m_done = false;
};

// Shows the box modally and runs the test with these values.
void RunConnectionTestDialog(const CUpload::InternetTable& inet, const FtpDestination& d,
                             QWidget* parent);
