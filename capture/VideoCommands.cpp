#include "app/CCameraApp.h"

#include "CaptureSend.h"
#include "session/CCameraDlg.h"

namespace
{

// A driver dialog is modal: no scheduled upload may start while it is open.
void RunDriverDialog(CCameraApp& app, UINT msg)
{
    app.m_bModalOpen = 1;
    CapSend(app.m_pMainWnd->m_hWndCap, msg);
    if (msg == WM_CAP_DLG_VIDEOFORMAT)
        app.m_pMainWnd->CenterCaptureWindow(); // the image size may have changed
    app.m_bModalOpen = 0;
}

} // namespace

void CCameraApp::OnVideoFormat()
{
    if (m_pMainWnd)
        RunDriverDialog(*this, WM_CAP_DLG_VIDEOFORMAT);
}

void CCameraApp::OnVideoSource()
{
    if (m_pMainWnd)
        RunDriverDialog(*this, WM_CAP_DLG_VIDEOSOURCE);
}

void CCameraApp::OnVideoDisplay()
{
    if (m_pMainWnd)
        RunDriverDialog(*this, WM_CAP_DLG_VIDEODISPLAY);
}

void CCameraApp::OnVideoPreview()
{
    if (!m_pMainWnd)
        return;
    CapSend(m_pMainWnd->m_hWndCap, WM_CAP_SET_PREVIEW, 1);
    m_pMainWnd->m_bOverlay = 0;
    m_pMainWnd->UpdateDisplayMenu();
}

void CCameraApp::OnVideoOverlay()
{
    if (!m_pMainWnd || !m_pMainWnd->m_bHasOverlay)
        return;
    CapSend(m_pMainWnd->m_hWndCap, WM_CAP_SET_OVERLAY, 1);
    m_pMainWnd->m_bOverlay = 1;
    m_pMainWnd->UpdateDisplayMenu();
}
