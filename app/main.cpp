#include "app/CCameraApp.h"
#include "app/CommandLine.h"
#include "config/RunProfile.h"
#include "service/HealthReport.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char* argv[])
{
#ifdef __GLIBC__
    // Frames and packets of megabytes come and go on the reader and GUI
    // threads. With an arena per thread the heap kept growing through a
    // stream (+1.5 MB over 10,000 frames at 1080p); one arena stays flat, and
    // the two threads allocate too seldom to wait on each other.
    mallopt(M_ARENA_MAX, 1);
#endif
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    CommandLine line = ParseCommandLine(raw);
    const std::vector<char*> given(argv, argv + argc);
    if (line.status) {
        QCoreApplication core(argc, argv);
        if (!line.profileError.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(line.profileError));
            return CCameraApp::kExitUsage;
        }
        SetRunProfile(line.profile);
        return PrintHealthStatus(std::time(nullptr));
    }
    // The offscreen platform needs no X, no Wayland and no virtual server.
    if ((line.service || line.timelapse) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    // The framework took its own options (-style, -session...) out of argv:
    // they were never ours to refuse.
    QList<int> taken;
    for (int i = 1; i < int(given.size()); ++i)
        if (std::find(argv + 1, argv + argc, given[size_t(i)]) == argv + argc)
            taken << i - 1;
    ForgetArguments(line, taken);
    CCameraApp app;
    app.InitInstance(line);
    return app.m_nExitCode;
}
