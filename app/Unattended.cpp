// Start-up and shut-down of unattended operation: the service-mode checks
// that need a person, the health report and the termination signals.
#include "CCameraApp.h"

#include "config/SettingsKeys.h"
#include "platform/afx/afx.h"
#include "platform/afx/log.h"
#include "platform/vfw/drivers.h"
#include "service/HealthReport.h"
#include "session/CCameraDlg.h"
#include "session/Schedule.h"
#include "session/UploadSession.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
// One key per settings file, so that two programs under different names
// (different files) still run side by side.
QByteArray InstanceKey(const QString& settingsFile)
{
    return QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(settingsFile)),
                                    QCryptographicHash::Sha256)
        .toHex()
        .left(16);
}

QString LockFilePath(const QByteArray& key)
{
    return StateDirectory() + QStringLiteral("/instance-%1.lock").arg(QLatin1String(key));
}

// The holder's pid, as it wrote it; empty while it has not yet.
QString LockHolder(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? QString::fromLatin1(text, int(n)).trimmed() : QString();
}

QString LockHolder(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return QString();
    const QString holder = LockHolder(fd);
    ::close(fd);
    return holder;
}

constexpr int kNameTaken = -1, kNameUnavailable = -2;

// A name in the kernel's abstract socket space: no file a user can delete
// under a running program (the state folder, say) lets a second one in, and
// the name goes with its holder however it ends.
int BindInstanceName(const QByteArray& key)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kNameUnavailable;
    const QByteArray name = "vizo-instance-" + QByteArray::number(::getuid()) + '-' + key;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays 0: the abstract namespace.
    std::memcpy(address.sun_path + 1, name.constData(), std::size_t(name.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(name.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    return error == EADDRINUSE ? kNameTaken : kNameUnavailable;
}
} // namespace

bool CCameraApp::RefuseSecondInstance(const QString& settings, const QString& holder)
{
    const QString which = m_strProfile.isEmpty()
                              ? QString()
                              : QStringLiteral(" for the profile '%1'").arg(m_strProfile);
    AfxMessageBox(QStringLiteral("Vizo is already running%1 with the settings file %2 "
                                 "(process %3).\n\nOnly one may use these settings at a "
                                 "time; this one ends.")
                      .arg(which, settings, holder.isEmpty() ? QStringLiteral("unknown") : holder));
    m_nExitCode = kExitLocked;
    return false;
}

// Two guards the kernel drops when the process ends, however it ends, so
// nothing stale is ever left to clear: a name that no file stands for, and a
// lock on a file of our own that tells a second program who holds it.
bool CCameraApp::TakeInstanceLock()
{
    const QString settings = m_profile ? m_profile->filePath() : QString();
    const QByteArray key = InstanceKey(settings);
    const QString path = LockFilePath(key);
    const int name = BindInstanceName(key);
    if (name == kNameTaken)
        return RefuseSecondInstance(settings, LockHolder(path));
    m_instanceName = name;
    QDir().mkpath(StateDirectory());
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // The file's guard is lost, not the uploads: say so and run on.
        LogLine("service", QStringLiteral("Cannot take the lock %1 (%2); not guarded against a "
                                          "second Vizo on the same settings")
                               .arg(path, fd < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                                 : QStringLiteral("not a regular file")));
        if (fd >= 0)
            ::close(fd);
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const QString holder = LockHolder(fd);
        ::close(fd);
        return RefuseSecondInstance(settings, holder);
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) < 0)
        LogLine("service", QStringLiteral("Cannot record this process in the lock %1").arg(path));
    m_instanceLock = fd;
    return true;
}

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
    if (DescribeCaptureDrivers().isEmpty()) {
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
    info.camera = CaptureDriverName(dlg.m_nVideoSource);
    info.notifyCommand = GetProfileString(Keys::NotifyCommand.section, Keys::NotifyCommand.entry,
                                          QString::fromLatin1(Keys::NotifyCommand.def));
    info.schedule = ScheduleFor(m_upload);
    info.nextUpload = m_timeNextUpload;
    m_service.Start(info);
    m_watchdog.Ready();
    QObject::connect(
        &dlg, &CCameraDlg::CameraStateChanged, &dlg,
        [this](const QString& source, bool ok) { m_service.SetCameraState(source, ok); });
}

void CCameraApp::StopUnattended()
{
    m_watchdog.Stopping();
    m_service.Stop();
}

// As Abort does: the session stops at its next check with nothing left behind,
// then the main window's loop ends and start-up releases the libraries.
void CCameraApp::OnTerminate(int signal)
{
    if (m_bTimelapseCommand) {
        InterruptTimelapse(signal);
        return;
    }
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
