// The application's command table and the commands it handles itself.
#include "CCameraApp.h"

#include "Browser.h"
#include "CAboutBox.h"
#include "ProgramFiles.h"
#include "platform/afx/afx.h"
#include "res/resource.h"
#include "session/CCameraDlg.h"

#include <QFile>
#include <QProcess>

const char* const CCameraApp::s_szHomePage = "https://vizo.example.org/";
const char* const CCameraApp::s_szOnlineManual = "https://vizo.example.org/manual/";

void CCameraApp::OnCommand(int id)
{
    switch (id) {
    case ID_FILE_SETTINGS:
        OnSettings();
        break;
    case ID_APP_EXIT:
        OnAppExit();
        break;
    case ID_APP_ABOUT:
        OnAppAbout();
        break;
    case ID_SESSION_UPLOADNOW:
        OnUploadNow();
        break;
    case ID_SESSION_ABORT:
        OnAbortConnection();
        break;
    case ID_VIDEO_FORMAT:
        OnVideoFormat();
        break;
    case ID_VIDEO_SOURCE:
        OnVideoSource();
        break;
    case ID_VIDEO_DISPLAY:
        OnVideoDisplay();
        break;
    case ID_VIDEO_PREVIEW:
        OnVideoPreview();
        break;
    case ID_VIDEO_OVERLAY:
        OnVideoOverlay();
        break;
    case ID_HELP_HOMEPAGE:
        OnHomePage();
        break;
    // F1 opens the same manual as Help > Contents.
    case ID_HELP_FINDER:
    case ID_HELP:
        OnHelpFinder();
        break;
    default:
        break;
    }
}

// Ends the main window's loop directly, not through its OK or Cancel handling.
void CCameraApp::OnAppExit()
{
    if (m_pMainWnd)
        m_pMainWnd->QDialog::done(1);
}

void CCameraApp::OnAppAbout()
{
    m_bModalOpen = 1;
    CAboutBox about(m_pMainWnd);
    AfxRunModal(about);
    m_bModalOpen = 0;
}

void CCameraApp::OnAbortConnection()
{
    m_upload.Abort();
}

void CCameraApp::OnHelpFinder()
{
    const QString dir = DirectoryOf(s_programPath());
    if (dir.isEmpty())
        return;
    const QString manual = dir + QStringLiteral("Manual/Manual.htm");
    if (CanOpenForReading(manual))
        LaunchBrowser(QStringLiteral("file://") + manual);
    else
        LaunchBrowser(QString::fromLatin1(s_szOnlineManual));
}

void CCameraApp::OnHomePage()
{
    LaunchBrowser(QString::fromLatin1(s_szHomePage));
}

// Nothing is reported when there is no handler or it cannot be started.
void CCameraApp::LaunchBrowser(const QString& url)
{
    const QStringList command = BrowserCommandLine(RegisteredHtmlCommand(), url);
    if (command.isEmpty())
        return;
    s_startProcess(command.first(), command.mid(1), false);
}
