// vizo -timelapse YYYY-MM-DD: one day's video from the archive, built and
// published without a window; the exit code tells whether it was done.
#include "CCameraApp.h"
#include "service/Signals.h"

bool CCameraApp::RunTimelapseOption()
{
    int caught = 0;
    // A build can take minutes: Ctrl+C and SIGTERM stop it and its upload
    // (Abort leaves nothing on the server), the temporaries removed.
    InstallSignalHandlers(
        [this, &caught](int signal) {
            if (caught == 0)
                caught = signal;
            m_archive.Interrupt();
            m_upload.Abort();
        },
        [] {});
    m_nExitCode = m_archive.RunCommand(m_strTimelapseDay);
    RemoveSignalHandlers();
    if (caught != 0)
        m_nExitCode = 128 + caught;
    m_upload.FreeDialupLibrary();
    m_upload.FreeInternetLibrary();
    return false;
}
