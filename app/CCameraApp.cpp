#include "CCameraApp.h"

#include "CColorWarningDlg.h"
#include "CommandLine.h"
#include "ProgramFiles.h"
#include "SettingsModel.h"
#include "capture/CaptionSettings.h"
#include "capture/FrameSwap.h"
#include "config/RunProfile.h"
#include "config/SettingsKeys.h"
#include "platform/afx/afx.h"
#include "platform/afx/log.h"
#include "platform/win/module.h"
#include "res/resources.h"
#include "service/HealthReport.h"
#include "service/Signals.h"
#include "session/CCameraDlg.h"
#include "session/Schedule.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <unistd.h>

namespace
{
CCameraApp* g_app = nullptr;

bool StartProcess(const QString& program, const QStringList& args, bool wait)
{
    if (!wait)
        return QProcess::startDetached(program, args);
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted())
        return false;
    // Keep the window painted while the installer runs. The state decides:
    // once the pump has seen the exit, waitForFinished fails at once.
    while (process.state() != QProcess::NotRunning) {
        if (!process.waitForFinished(100))
            PumpMessages();
    }
    return true;
}

int ScreenBitsPerPixel()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 24;
}
} // namespace

std::function<std::time_t()> CCameraApp::s_clock = [] { return std::time(nullptr); };
std::function<int()> CCameraApp::s_displayBitsPerPixel = ScreenBitsPerPixel;
std::function<bool(const QString&, const QStringList&, bool)> CCameraApp::s_startProcess =
    StartProcess;
std::function<QString()> CCameraApp::s_programPath = [] {
    return QString::fromLocal8Bit(ProgramFilePath().c_str());
};

CCameraApp* AfxGetApp()
{
    return g_app;
}

CCameraApp::CCameraApp()
{
    g_app = this;
    InitResources();
    m_pszAppName = QFileInfo(s_programPath()).completeBaseName();
    if (m_pszAppName.isEmpty())
        m_pszAppName = QStringLiteral("vizo");
    AfxSetAppName(m_pszAppName);
}

CCameraApp::~CCameraApp()
{
    for (int fd : {m_instanceLock, m_instanceName}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (g_app == this)
        g_app = nullptr;
}

bool CCameraApp::InitInstance(const CommandLine& line)
{
    if (!ApplyCommandLine(line))
        return false;
    const SignalCatcher catcher([this](int signal) { OnTerminate(signal); },
                                [this] { OnUploadNow(); });
    InstallInternetExtensions();
    if (m_upload.LoadInternetLibrary() != 0) {
        AfxMessageBox(QStringLiteral("Failed to load Internet extensions.\n\nPlease reinstall "
                                     "Vizo, and make sure you choose\nto install the Internet "
                                     "System Extensions"));
        m_nExitCode = kExitUnavailable;
        return false;
    }
    m_upload.m_bDialupAvailable = m_upload.LoadDialupLibrary() == 0 ? 1 : 0;
    SetRegistryKey(QStringLiteral("Brindlecote"));
    // Before anything touches the picture, its temporaries or the report. A
    // timelapse only reads the archive, which guards each day itself.
    if (!m_bTimelapseCommand && !TakeInstanceLock()) {
        m_upload.FreeDialupLibrary();
        m_upload.FreeInternetLibrary();
        return false;
    }
    const QString unreadable = m_profile->ReadProblem();
    if (!unreadable.isEmpty())
        AfxMessageBox(QStringLiteral("The settings in %1 could not be read (%2).\n\nVizo starts "
                                     "with default settings.")
                          .arg(m_profile->filePath(), unreadable));
    LoadDialupSettings(m_upload, m_profile.get());
    if (!m_upload.m_bDialupAvailable && m_upload.m_bUseDialup) {
        AfxMessageBox(QStringLiteral("Failed to load dial-up networking.\n\nVizo will be limited "
                                     "to using LAN\nnetworking (if available)."));
        m_upload.m_bUseDialup = 0;
    }
    LoadRemainingSettings(m_upload, m_profile.get(), DefaultPictureDirectory());
    CaptionExtrasInForce() = LoadCaptionExtras(m_profile.get());
    // A picture left parked by an interrupted grab goes back for the web server.
    RestoreParkedPicture(QFile::encodeName(m_upload.m_strLocalPath));
    m_archive.Load(m_profile.get(), Now());
    if (m_bTimelapseCommand)
        return RunTimelapseOption();
    m_bModalOpen = 0;
    if (m_bServiceMode && !ServiceCanStart()) {
        m_upload.FreeDialupLibrary();
        m_upload.FreeInternetLibrary();
        return false;
    }

    CCameraDlg dlg;
    m_pMainWnd = &dlg;
    dlg.m_bPaused = 0;
    ShowGreetingIfNeeded();
    // Without a display there is no depth to warn about.
    if (!m_bServiceMode && !ColourCheck()) {
        m_pMainWnd = nullptr;
        return false;
    }
    m_timeLastStart = Now();
    // A minute after start, or the first moment of daylight after it.
    m_timeNextUpload = PlanFirstUpload(m_timeLastStart, ScheduleFor(m_upload)).at;
    dlg.m_bStartMinimized =
        GetProfileInt(Keys::Minimized.section, Keys::Minimized.entry, Keys::Minimized.def);
    dlg.m_nVideoSource =
        GetProfileInt(Keys::VideoSource.section, Keys::VideoSource.entry, Keys::VideoSource.def);
    StartUnattended(dlg);
    // A signal seen during start-up ends the program before the window runs.
    if (!m_bTerminating)
        dlg.DoModal();
    StopUnattended();
    m_pMainWnd = nullptr;
    m_upload.FreeDialupLibrary();
    m_upload.FreeInternetLibrary();
    return false;
}

bool CCameraApp::ApplyCommandLine(const CommandLine& line)
{
    if (line.minimized)
        m_nCmdShow = 2;
    m_bServiceMode = line.service ? 1 : 0;
    m_bTimelapseCommand = line.timelapse;
    m_strTimelapseDay = line.timelapseDay;
    // Nobody is there to close a message box: each is logged and answered.
    AfxSetHeadless(line.service || line.timelapse);
    for (const QString& message : line.messages)
        AfxMessageBox(message);
    // A refused profile name must not fall back to the usual settings: that
    // would run a second camera's service on the first one's files.
    if (!line.profileError.isEmpty()) {
        AfxMessageBox(line.profileError);
        m_nExitCode = kExitUsage;
        return false;
    }
    m_strProfile = line.profile;
    SetRunProfile(m_strProfile);
    if (!m_strProfile.isEmpty())
        AfxSetAppName(QStringLiteral("%1 (%2)").arg(m_pszAppName, m_strProfile));
    return true;
}

void CCameraApp::InstallInternetExtensions()
{
    const QString dir = DirectoryOf(s_programPath());
    if (dir.isEmpty())
        return;
    m_strAppDir = dir;
    static const char* const kInstallers[] = {"Wint351.exe", "Dewint.exe", "Jawint.exe",
                                              "Twwint.exe", "Wintdist.exe"};
    bool ran = false;
    for (const char* name : kInstallers) {
        const QString file = m_strAppDir + QLatin1String(name);
        if (!CanOpenForReading(file))
            continue;
        if (!ran)
            s_startProcess(file, {}, true);
        QFile::remove(file);
        ran = true;
    }
}

// The default picture lives beside the program; an installed program's folder
// is not the user's to write, so the user's data folder stands in for it.
// Profiles share the program's folder, so each has a data folder of its own
// for its picture and the temporaries written beside it.
QString CCameraApp::DefaultPictureDirectory() const
{
    if (m_strProfile.isEmpty() && (m_strAppDir.isEmpty() || QFileInfo(m_strAppDir).isWritable()))
        return m_strAppDir;
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    QString dir = data + QStringLiteral("/vizo/");
    if (!m_strProfile.isEmpty())
        dir += m_strProfile + QLatin1Char('/');
    QDir().mkpath(dir);
    return dir;
}

// A profile's file lies beside the usual one: vizo-door.conf next to vizo.conf.
void CCameraApp::SetRegistryKey(const QString& company)
{
    const QString name =
        m_strProfile.isEmpty() ? m_pszAppName : m_pszAppName + QLatin1Char('-') + m_strProfile;
    m_profile = std::make_unique<Profile>(company, name);
}

int CCameraApp::GetProfileInt(const char* section, const char* entry, int defaultValue)
{
    return m_profile ? m_profile->ReadInt(section, entry, defaultValue) : defaultValue;
}

QString CCameraApp::GetProfileString(const char* section, const char* entry,
                                     const QString& defaultValue)
{
    return m_profile ? m_profile->ReadString(section, entry, defaultValue) : defaultValue;
}

bool CCameraApp::WriteProfileInt(const char* section, const char* entry, int value)
{
    return m_profile && m_profile->WriteInt(section, entry, value);
}

bool CCameraApp::WriteProfileString(const char* section, const char* entry, const QString& value)
{
    return m_profile && m_profile->WriteString(section, entry, value);
}

bool CCameraApp::NeedsGreeting() const
{
    const CUpload& u = m_upload;
    const bool dialupIncomplete = u.m_strDialupConnection.isEmpty() && u.m_bUseDialup;
    const bool ftpIncomplete =
        u.m_bUseFtp && (u.m_strFtpServer.isEmpty() || u.m_strFtpUsername.isEmpty() ||
                        u.m_strFtpPassword.isEmpty() || u.m_strRemotePath.isEmpty());
    return dialupIncomplete || ftpIncomplete;
}

void CCameraApp::ShowGreetingIfNeeded()
{
    if (!NeedsGreeting())
        return;
    AfxMessageBox(QStringLiteral("Welcome to Vizo!\nPlease choose the correct settings for "
                                 "your\nInternet connection (dialup or LAN), and your\nFTP "
                                 "session (hostname, path, username, password)."));
    // A SIGTERM that closed the box must not leave the Settings sheet waiting.
    if (!m_bTerminating)
        OnSettings();
}

// False when the user chose to open the display settings: the program ends.
bool CCameraApp::ColourCheck()
{
    if (s_displayBitsPerPixel() >= 16)
        return true;
    if (GetProfileInt(Keys::NoColorWarning.section, Keys::NoColorWarning.entry,
                      Keys::NoColorWarning.def))
        return true;
    CColorWarningDlg warning;
    const int result = AfxRunModal(warning);
    const bool openSettings = result != IDOK;
    if (openSettings) {
        LaunchDisplaySettings();
        m_upload.FreeDialupLibrary();
        m_upload.FreeInternetLibrary();
    }
    if (warning.m_bDontShowAgain)
        WriteProfileInt(Keys::NoColorWarning.section, Keys::NoColorWarning.entry, 1);
    return !openSettings;
}

// The desktop's display settings, whichever of the common ones is installed.
void CCameraApp::LaunchDisplaySettings()
{
    static const char* const kTools[][2] = {{"gnome-control-center", "display"},
                                            {"systemsettings", "kcm_kscreen"},
                                            {"xfce4-display-settings", nullptr},
                                            {"lxqt-config-monitor", nullptr},
                                            {"arandr", nullptr}};
    for (const auto& tool : kTools) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(tool[0]));
        if (program.isEmpty())
            continue;
        QStringList args;
        if (tool[1])
            args << QLatin1String(tool[1]);
        s_startProcess(program, args, false);
        return;
    }
}

void CCameraApp::SetStatus(const QString& text)
{
    if (m_pMainWnd)
        m_pMainWnd->SetStatus(text);
}

void PumpMessages()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    // Every pending event, input included; bounded so that a source that is
    // always ready cannot hold the caller. Quit requests are not swallowed:
    // QDialog::done() ends the outer loop once the session returns to it.
    // Input held back while a blocked call pumped without it is only looked at
    // again after a wake-up.
    dispatcher->wakeUp();
    QCoreApplication::sendPostedEvents();
    for (int i = 0; i < 64 && dispatcher->processEvents(QEventLoop::AllEvents); ++i) {
    }
}
