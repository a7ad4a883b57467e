#include "CColorWarningDlg.h"

#include "platform/afx/afx.h"
#include "platform/afx/dlgunits.h"
#include "res/resource.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

CColorWarningDlg::CColorWarningDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Vizo Warning"));
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.x(189), du.y(117));

    auto* icon = new QLabel(this);
    icon->setObjectName(QString::number(IDC_WARNING_ICON));
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(side, side));
    icon->setGeometry(du.x(7), du.y(7), side, side);

    AddStaticText(
        this, du,
        QStringLiteral("Vizo has detected you are using a screen mode with 256 or less colors."),
        35, 7, 147, 17);
    AddStaticText(
        this, du,
        QStringLiteral(
            "Vizo will work in this mode, but the colors of the uploaded image may be of poor "
            "quality."),
        35, 27, 147, 17);
    AddStaticText(
        this, du,
        QStringLiteral(
            "It is strongly recommended to switch your system to High Color (16-bit) or True "
            "Color (24-bit) mode. You can do this from the Display option in the Control Panel."),
        35, 47, 147, 33);
    AddStaticText(this, du, QStringLiteral("Do you want to launch the Control Panel now?"), 35, 82,
                  147, 9);

    auto* yes = new QPushButton(QStringLiteral("&Yes"), this);
    yes->setGeometry(du.rect(35, 96, 40, 14));
    yes->setDefault(true);
    connect(yes, &QPushButton::clicked, this, [this] { done(IDCANCEL); });

    m_check = new QCheckBox(QStringLiteral("&Do not show this\nmessage again"), this);
    m_check->setObjectName(QString::number(IDC_DONT_SHOW_AGAIN));
    m_check->setGeometry(du.rect(80, 94, 60, 18));

    auto* no = new QPushButton(QStringLiteral("&No"), this);
    no->setGeometry(du.rect(142, 96, 40, 14));
    connect(no, &QPushButton::clicked, this, [this] { done(IDOK); });
    yes->setFocus();
}

void CColorWarningDlg::done(int result)
{
    m_bDontShowAgain = m_check->isChecked() ? 1 : 0;
    // Esc and the close box end with QDialog's 0: the cancel identity.
    QDialog::done(result == IDOK ? IDOK : IDCANCEL);
}
