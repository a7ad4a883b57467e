// Stand-ins for the application framework's message boxes and modal dialogs,
// with seams so that tests answer them without a user.
#pragma once

#include <QString>
#include <functional>

class QDialog;
class QWidget;

#define MB_OK 0x00000000u
#define MB_ICONSTOP 0x00000010u
#define MB_ICONEXCLAMATION 0x00000030u
#define IDOK 1
#define IDCANCEL 2

// Caption of every application message box (the program's base name).
void AfxSetAppName(const QString& name);
QString AfxGetAppName();

// The application's message box: caption = application name, one OK button,
// exclamation icon unless MB_ICONSTOP is given. Logged before it is shown.
int AfxMessageBox(const QString& text, unsigned type = MB_OK);

// Runs a dialog modally and returns its result. Tests install a handler that
// inspects or drives the dialog and answers in its place.
int AfxRunModal(QDialog& dialog);

using MessageBoxHandler = std::function<int(const QString& text, unsigned type)>;
using ModalHandler = std::function<int(QDialog& dialog)>;
// Pass an empty function to restore the real behaviour. Returns the previous one.
MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler);
ModalHandler AfxSetModalHandler(ModalHandler handler);

// Without a display (service mode) no box is shown and no dialog waits for a
// person: each is logged and answered with its default, OK for a message box
// and Cancel for a dialog. A dialog marked to run hidden (the main window)
// runs its loop without being shown. Test handlers still come first.
void AfxSetHeadless(bool headless);
bool AfxIsHeadless();
void AfxMarkRunHidden(QDialog& dialog);
