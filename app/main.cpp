#include "app/CCameraApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication qapp(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    CCameraApp app;
    app.InitInstance(arguments);
    return 0;
}
