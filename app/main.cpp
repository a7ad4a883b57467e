#include "app/CCameraApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The command-line timelapse needs no display.
    if (TimelapseOptionGiven(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    CCameraApp app;
    app.InitInstance(arguments);
    return app.m_nExitCode;
}
