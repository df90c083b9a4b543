#include "app/commandline.h"

#include "common/version.h"

#include <QCoreApplication>

CommandLine::CommandLine()
    : helpOption(parser.addHelpOption())
    , versionOption(parser.addVersionOption())
{
    parser.setApplicationDescription(Version::description);
    // Qt's own options are single-dash words. Read as bundles of letters, "-reverse" would
    // hold -v and "-stylesheet" -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

QStringList CommandLine::arguments(int argc, char *argv[])
{
    QStringList list;
    list.reserve(argc);
    for (int i = 0; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

CommandLine::Request CommandLine::request(const QStringList &arguments)
{
    // Qt's options are unknown here, so the result is false for them; the options that were
    // recognised are still known.
    parser.parse(arguments);
    // The version first, as QCommandLineParser::process() does.
    if (parser.isSet(versionOption) || parser.isSet(helpOption))
        return ShowHelpOrVersion;
    if (parser.isSet(QStringLiteral("help-all")))
        return ShowHelpWithQtOptions;
    return StartProgram;
}

void CommandLine::answer(const QCoreApplication &application)
{
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (parser.isSet(helpOption))
        parser.showHelp();
    // --help-all: only QCommandLineParser::process() lists Qt's options.
    parser.process(application);
    // process() returned: the arguments asked for nothing to answer after all.
    parser.showHelp(1);
}
