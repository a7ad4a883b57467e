#include "afx.h"

#include "log.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>

namespace
{
QString g_appName = QStringLiteral("vizo");
MessageBoxHandler g_boxHandler;
ModalHandler g_modalHandler;
bool g_headless = false;
const char* const kRunHidden = "afxRunHidden";

int RunHidden(QDialog& dialog)
{
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::exit);
    return loop.exec();
}
} // namespace

void AfxSetHeadless(bool headless)
{
    g_headless = headless;
}
bool AfxIsHeadless()
{
    return g_headless;
}
void AfxMarkRunHidden(QDialog& dialog)
{
    dialog.setProperty(kRunHidden, true);
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
    if (g_headless)
        return IDOK;
    QMessageBox box(type & MB_ICONSTOP ? QMessageBox::Critical : QMessageBox::Warning, g_appName,
                    text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return IDOK;
}

int AfxRunModal(QDialog& dialog)
{
    if (g_modalHandler)
        return g_modalHandler(dialog);
    if (g_headless) {
        if (dialog.property(kRunHidden).toBool())
            return RunHidden(dialog);
        LogMessage(
            QStringLiteral("'%1' needs a person; answered Cancel").arg(dialog.windowTitle()));
        return IDCANCEL;
    }
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
