// vizo -timelapse YYYY-MM-DD: one day's video from the archive, built and
// published without a window; the exit code tells whether it was done.
#include "CCameraApp.h"

bool CCameraApp::RunTimelapseOption()
{
    // A build can take minutes: Ctrl+C and SIGTERM (caught at start-up, see
    // OnTerminate) stop it and its upload, and set the exit code.
    const int code = m_archive.RunCommand(m_strTimelapseDay);
    if (!m_bTerminating)
        m_nExitCode = code;
    m_upload.FreeDialupLibrary();
    m_upload.FreeInternetLibrary();
    return false;
}
