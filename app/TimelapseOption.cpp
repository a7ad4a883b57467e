// vizo -timelapse YYYY-MM-DD: one day's video from the archive, built and
// published without a window; the exit code tells whether it was done.
#include "CCameraApp.h"

bool CCameraApp::RunTimelapseOption()
{
    m_nExitCode = m_archive.RunCommand(m_strTimelapseDay);
    if (m_nTimelapseSignal != 0)
        m_nExitCode = 128 + m_nTimelapseSignal;
    m_upload.FreeDialupLibrary();
    m_upload.FreeInternetLibrary();
    return false;
}

// A build can take minutes: Ctrl+C and SIGTERM stop it and its upload (Abort
// leaves nothing on the server), the temporaries removed. Every signal only
// asks again, so a second Ctrl+C cannot leave a half-written video behind.
void CCameraApp::InterruptTimelapse(int signal)
{
    if (m_nTimelapseSignal == 0)
        m_nTimelapseSignal = signal;
    m_archive.Interrupt();
    m_upload.Abort();
}
