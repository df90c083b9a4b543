#include "app/commandline.h"

#include <QTest>

// What the arguments ask for before any application object exists: Qt's own single-dash
// options must not be mistaken for -h or -v.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void request_data();
    void request();
};

void tst_CommandLine::request_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("expected");

    const int start = CommandLine::StartProgram;
    const int answer = CommandLine::ShowHelpOrVersion;
    const int withQt = CommandLine::ShowHelpWithQtOptions;
    QTest::newRow("no arguments") << QStringList() << start;
    QTest::newRow("--version") << QStringList{"--version"} << answer;
    QTest::newRow("-v") << QStringList{"-v"} << answer;
    QTest::newRow("--help") << QStringList{"--help"} << answer;
    QTest::newRow("-h") << QStringList{"-h"} << answer;
    QTest::newRow("--help-all") << QStringList{"--help-all"} << withQt;
    QTest::newRow("version wins over --help-all") << QStringList{"--help-all", "-v"} << answer;
    QTest::newRow("Qt option with a value") << QStringList{"-platform", "offscreen"} << start;
    QTest::newRow("-reverse holds a v") << QStringList{"-reverse"} << start;
    QTest::newRow("-stylesheet holds an h") << QStringList{"-stylesheet", "look.qss"} << start;
    QTest::newRow("-nograb, -session") << QStringList{"-nograb", "-session", "abc"} << start;
    QTest::newRow("after Qt options") << QStringList{"-style", "fusion", "--version"} << answer;
    QTest::newRow("unknown option alone") << QStringList{"--bogus"} << start;
    QTest::newRow("unknown option and -h") << QStringList{"--bogus", "-h"} << answer;
    QTest::newRow("after --, an argument") << QStringList{"--", "--version"} << start;
}

void tst_CommandLine::request()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, expected);

    CommandLine commandLine;
    arguments.prepend(QStringLiteral("pylon-router"));
    QCOMPARE(int(commandLine.request(arguments)), expected);
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
