#include "app/commandline.h"
#include "app/startup.h"
#include "ui/mainwindow.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    CommandLine commandLine;
    const CommandLine::Request request = commandLine.request(CommandLine::arguments(argc, argv));
    if (request != CommandLine::StartProgram) {
        // Answered on the terminal without a window, a display or the settings.
        std::unique_ptr<QCoreApplication> application;
        if (request == CommandLine::ShowHelpWithQtOptions) {
            // The minimal platform needs no display.
            qputenv("QT_QPA_PLATFORM", "minimal");
            application = std::make_unique<QApplication>(argc, argv);
        } else {
            application = std::make_unique<QCoreApplication>(argc, argv);
        }
        Startup::setIdentity();
        commandLine.answer(*application);
    }

    QApplication application(argc, argv);
    commandLine.process(application);
    Startup startup(&application);
    startup.run();

    MainWindow window;
    window.show();
    return application.exec();
}
