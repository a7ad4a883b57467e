// The About box (dialog 100).
#pragma once

#include <QDialog>

class CAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
};
