// vizo -timelapse YYYY-MM-DD: one day's video from the archive, built and
// published without a window; the exit code tells whether it was done.
#include "CCameraApp.h"

bool CCameraApp::RunTimelapseOption()
{
    m_nExitCode = m_archive.RunCommand(m_strTimelapseDay);
    m_upload.FreeDialupLibrary();
    m_upload.FreeInternetLibrary();
    return false;
}
