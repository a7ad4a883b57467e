// Placeholder until the capture device lands: a capture window with no drivers.
#include "session/CCameraDlg.h"

#include "res/resource.h"

bool CCameraDlg::CreateCaptureWindow()
{
    m_hWndCap = capCreateCaptureWindowA("VizoCapWnd", WS_CHILD | WS_VISIBLE, 2, 2, 384, 288, ClientWidget(),
                                        IDC_CAPTURE_WINDOW);
    return m_hWndCap != nullptr;
}
void CCameraDlg::BuildDriverMenu() { m_nDriverCount = 0; }
void CCameraDlg::ConnectDriver(int) {}
void CCameraDlg::CenterCaptureWindow() {}
void CCameraDlg::UpdateDisplayMenu() {}
void CCameraDlg::ResumeDisplay() {}
void CCameraDlg::SuspendDisplay() {}
