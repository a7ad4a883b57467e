#include "app/CCameraApp.h"
#include "app/CommandLine.h"
#include "service/HealthReport.h"

#include <QApplication>
#include <ctime>

int main(int argc, char* argv[])
{
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = ParseCommandLine(raw);
    if (line.status) {
        QCoreApplication core(argc, argv);
        return PrintHealthStatus(std::time(nullptr));
    }
    // The offscreen platform needs no X, no Wayland and no virtual server.
    if ((line.service || line.timelapse) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    CCameraApp app;
    app.InitInstance(arguments);
    return app.m_nExitCode;
}
