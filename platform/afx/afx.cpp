#include "afx.h"

#include "log.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace
{
QString g_appName = QStringLiteral("vizo");
MessageBoxHandler g_boxHandler;
ModalHandler g_modalHandler;
} // namespace

void AfxSetAppName(const QString& name)
{
    g_appName = name;
}
QString AfxGetAppName()
{
    return g_appName;
}

int AfxMessageBox(const QString& text, unsigned type)
{
    LogMessage(text);
    if (g_boxHandler)
        return g_boxHandler(text, type);
    QMessageBox box(type & MB_ICONSTOP ? QMessageBox::Critical : QMessageBox::Warning, g_appName,
                    text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return IDOK;
}

int AfxRunModal(QDialog& dialog)
{
    if (g_modalHandler)
        return g_modalHandler(dialog);
    return dialog.exec();
}

MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler)
{
    std::swap(g_boxHandler, handler);
    return handler;
}

ModalHandler AfxSetModalHandler(ModalHandler handler)
{
    std::swap(g_modalHandler, handler);
    return handler;
}
