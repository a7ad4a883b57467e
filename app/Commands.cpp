// Placeholder command table until the menu commands land.
#include "CCameraApp.h"

#include "res/resource.h"
#include "session/CCameraDlg.h"

void CCameraApp::OnCommand(int id)
{
    switch (id) {
    case ID_FILE_SETTINGS: OnSettings(); break;
    case ID_APP_EXIT: OnAppExit(); break;
    case ID_SESSION_UPLOADNOW: OnUploadNow(); break;
    case ID_SESSION_ABORT: OnAbortConnection(); break;
    default: break;
    }
}

void CCameraApp::OnAppExit()
{
    if (m_pMainWnd)
        m_pMainWnd->done(1);
}
void CCameraApp::OnAppAbout() {}
void CCameraApp::OnAbortConnection() { m_upload.Abort(); }
void CCameraApp::OnHelpFinder() {}
void CCameraApp::OnHomePage() {}
void CCameraApp::LaunchBrowser(const QString&) {}
