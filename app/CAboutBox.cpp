#include "CAboutBox.h"

#include "platform/afx/dlgunits.h"

#include <QLabel>
#include <QPushButton>

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Vizo"));
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.x(177), du.y(130));

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/res/vizo.png")));
    icon->setGeometry(du.x(11), du.y(10), 32, 32);

    auto text = [this, &du](const QString& s, int y, int h) {
        AddStaticText(this, du, s, 40, y, 130, h);
    };
    text(QStringLiteral("Vizo Version 1.12"), 10, 8);
    text(QStringLiteral("Web camera uploader"), 22, 8);
    text(QStringLiteral("Grabs a picture on schedule, stamps the date and time on it and "
                        "publishes it to your web server by FTP."),
         36, 26);
    text(QStringLiteral("Copyright \u00a9 2026 Brindlecote"), 66, 8);
    text(QStringLiteral("Settings, status log and manual: see Help > Contents."), 80, 18);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(du.rect(120, 108, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
