// vizo -timelapse YYYY-MM-DD: one day's video from the archive, built and
// published without a window; the exit code tells whether it was done.
#include "CCameraApp.h"

#include "platform/afx/afx.h"

#include <QByteArray>
#include <cstring>

// True when arguments[index] is the option; its day (the next argument) is
// taken too, so index moves past it.
bool CCameraApp::TakeTimelapseOption(const QStringList& arguments, int& index)
{
    const QString& arg = arguments[index];
    if (arg != QLatin1String("-timelapse") && arg != QLatin1String("/timelapse"))
        return false;
    // A missing day is reported when the job runs.
    m_bTimelapseCommand = true;
    if (index + 1 < arguments.size())
        m_strTimelapseDay = arguments[++index];
    // Nobody is there to close a message box: each is logged and answered.
    MessageBoxHandler previous =
        AfxSetMessageBoxHandler([](const QString&, unsigned) { return IDOK; });
    if (previous)
        AfxSetMessageBoxHandler(previous);
    return true;
}

bool CCameraApp::RunTimelapseOption()
{
    m_nExitCode = m_archive.RunCommand(m_strTimelapseDay);
    m_upload.FreeDialupLibrary();
    m_upload.FreeInternetLibrary();
    return false;
}

bool TimelapseOptionGiven(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-timelapse") || !std::strcmp(argv[i], "/timelapse"))
            return true;
    return false;
}
