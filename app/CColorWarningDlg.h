// The low-colour warning (dialog 140). "Yes" carries the cancel identity and is
// the default, so Esc and the close box answer like "Yes".
#pragma once

#include <QDialog>

class QCheckBox;

class CColorWarningDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CColorWarningDlg(QWidget* parent = nullptr);
    int m_bDontShowAgain = 0;
    QCheckBox* checkBox() const { return m_check; }

public slots:
    void done(int result) override;

private:
    QCheckBox* m_check;
};
