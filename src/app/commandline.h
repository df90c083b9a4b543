#pragma once

#include <QCommandLineParser>
#include <QStringList>

class QCoreApplication;

// The program's command line: help and version, answered on the terminal. The options of Qt
// itself (-platform, -style, -reverse, ...) belong to the application object, which takes them
// out of the arguments when it is built.
class CommandLine final
{
public:
    // What the arguments ask for.
    enum Request {
        StartProgram,          // nothing to answer: build the window
        ShowHelpOrVersion,     // --version, -v, --help or -h
        ShowHelpWithQtOptions, // --help-all: Qt lists the GUI's options only with a GUI application
    };

    CommandLine();
    Q_DISABLE_COPY_MOVE(CommandLine)

    // The arguments as main() received them, program name first.
    static QStringList arguments(int argc, char *argv[]);

    // Looks at the arguments before any application object exists, so that help and version
    // need no display: Qt's own options are still among them then and are passed over.
    Request request(const QStringList &arguments);

    // For a request other than StartProgram: prints the version or help and exits with 0.
    // Qt's options among the arguments are passed over, except with --help-all, for which
    // the application must be a GUI one (it takes them out).
    [[noreturn]] void answer(const QCoreApplication &application);

private:
    QCommandLineParser parser;
    QCommandLineOption helpOption;
    QCommandLineOption versionOption;
};
