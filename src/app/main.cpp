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

    // Any other argument goes to the application object, which takes Qt's options; the rest
    // is ignored, as it always was.
    QApplication application(argc, argv);
    Startup startup(&application);
    startup.run();

    MainWindow window;
    window.show();
    return application.exec();
}
