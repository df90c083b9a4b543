#include "app/startup.h"
#include "ui/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Startup startup(&application);
    startup.run();

    MainWindow window;
    window.show();
    return application.exec();
}
