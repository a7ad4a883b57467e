// Start-up and shut-down of unattended operation: the service-mode checks
// that need a person, the health report and the termination signals.
#include "CCameraApp.h"

#include "SettingsKeys.h"
#include "platform/afx/afx.h"
#include "platform/afx/log.h"
#include "platform/vfw/vfw.h"
#include "service/Service.h"
#include "service/Signals.h"
#include "session/CCameraDlg.h"

#include <QApplication>
#include <QDialog>
#include <cstdlib>

namespace
{
QString DriverName(int index)
{
    char name[80] = {};
    char version[80] = {};
    if (index < 0 || index > 9 ||
        !capGetDriverDescriptionA(WORD(index), name, sizeof name, version, sizeof version))
        return QString();
    return QString::fromUtf8(name);
}

bool AnyCaptureDriver()
{
    for (int i = 0; i < 10; ++i)
        if (!DriverName(i).isEmpty())
            return true;
    return false;
}
} // namespace

// In service mode the Settings greeting and a program without a camera would
// wait for a person who is not there: say why and let the service manager see it.
bool CCameraApp::ServiceCanStart()
{
    if (NeedsGreeting()) {
        LogMessage(QStringLiteral("Vizo needs configuring: the connection or FTP settings are "
                                  "incomplete. Settings file: %1. Set them in the window "
                                  "(run vizo on a display) or in that file, then start the "
                                  "service again.")
                       .arg(m_profile ? m_profile->filePath() : QString()));
        m_nExitCode = kExitConfig;
        return false;
    }
    if (!AnyCaptureDriver()) {
        LogMessage(QStringLiteral("No video capture device found: Vizo cannot grab and upload "
                                  "images. Connect a camera, or name a source in "
                                  "VIZO_VIDEO_SOURCES, and start the service again."));
        m_nExitCode = kExitUnavailable;
        return false;
    }
    return true;
}

void CCameraApp::StartUnattended(CCameraDlg& dlg)
{
    if (m_bServiceMode)
        AfxMarkRunHidden(dlg);
    Service::StartInfo info;
    info.serviceMode = m_bServiceMode != 0;
    info.version = QStringLiteral(VIZO_VERSION);
    info.camera = DriverName(dlg.m_nVideoSource);
    info.notifyCommand = GetProfileString(Keys::NotifyCommand.section, Keys::NotifyCommand.entry,
                                          QString::fromLatin1(Keys::NotifyCommand.def));
    info.schedule = Service::ScheduleOf(m_upload);
    info.nextUpload = m_timeNextUpload;
    Service::Start(info);
    m_watchdog.Ready();
    QObject::connect(&dlg, &CCameraDlg::CameraStateChanged, &dlg,
                     [](const QString& source, bool ok) { Service::SetCameraState(source, ok); });
}

void CCameraApp::StopUnattended()
{
    m_watchdog.Stopping();
    Service::Stop();
}

std::shared_ptr<void> CCameraApp::CatchSignals()
{
    InstallSignalHandlers([this](int signal) { OnTerminate(signal); }, [this] { OnUploadNow(); });
    return std::shared_ptr<void>(nullptr, [](void*) { RemoveSignalHandlers(); });
}

// As Abort does: the session stops at its next check with nothing left behind,
// then the main window's loop ends and start-up releases the libraries.
void CCameraApp::OnTerminate(int signal)
{
    if (m_bTerminating) {
        LogLine("service", QStringLiteral("Signal %1 again: ending at once").arg(signal));
        std::_Exit(1);
    }
    m_bTerminating = true;
    LogLine("service",
            QStringLiteral("Ending on signal %1%2")
                .arg(signal)
                .arg(m_bSessionActive ? QStringLiteral(", aborting the upload") : QString()));
    if (m_bSessionActive)
        m_upload.Abort();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (dialog && dialog != m_pMainWnd && dialog->isVisible())
            dialog->reject();
    }
    OnAppExit();
}
