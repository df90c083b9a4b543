#include "common/version.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Makes the Debian package from the build tree as scripts/package does (CPack packs the
// binary that is already built, with the time stamps of SOURCE_DATE_EPOCH), unpacks it with
// dpkg-deb into a temporary root and checks what a user would get from installing it.
class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controlFields_data();
    void controlFields();
    void fileList();
    void desktopEntryPointsAtInstalledFiles();
    void validatorAccepts_data();
    void validatorAccepts();
    void answersWithoutDisplayOrSettings_data();
    void answersWithoutDisplayOrSettings();
    void startsInPolish();
    void reproducible();
    void hardened();
    void noBuildPathInProgram();

private:
    struct Run
    {
        bool finished = false;
        int exitCode = -1;
        QByteArray output;
        QByteArray errors;
    };
    static Run run(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    static QString tool(const char *name) { return QStandardPaths::findExecutable(QLatin1String(name)); }
    // Makes the package in directory; its path, or an empty string with the reason in *failure.
    static QString pack(const QString &directory, QString *failure);
    QString unpacked(const QString &path) const { return root.path() + QLatin1String("/usr/") + path; }
    // The environment of a user with a settings store of their own in home, no display.
    static QProcessEnvironment userEnvironment(const QString &home);

    QTemporaryDir packageDir;
    QTemporaryDir root;
    QString package;
    // When the package was made, in seconds since the epoch.
    qint64 packedAt = 0;
    QString desktopEntry;
};

namespace {

const QString desktopFile = QStringLiteral("pylon-router.desktop");
const QString appStreamId = QStringLiteral("example.pylon_router.PylonRouter");
const QList<int> iconSizes = {16, 32, 48, 64, 128, 256};
// QT_TESTCASE_BUILDDIR is the tests' binary directory, one below the build tree.
const QString buildTree = QDir(QStringLiteral(QT_TESTCASE_BUILDDIR "/..")).absolutePath();

} // namespace

tst_Install::Run tst_Install::run(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    result.finished = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

QString tst_Install::pack(const QString &directory, QString *failure)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // scripts/package gives the last commit's time; any fixed time shows the same.
    environment.insert(QStringLiteral("SOURCE_DATE_EPOCH"), QStringLiteral("1700000000"));
    const Run packed = run(tool("cpack"),
                           {QStringLiteral("--config"), buildTree + QLatin1String("/CPackConfig.cmake"),
                            QStringLiteral("-B"), directory},
                           environment);
    const QStringList debs = QDir(directory).entryList({QStringLiteral("*.deb")}, QDir::Files);
    if (!packed.finished || packed.exitCode != 0 || debs.size() != 1) {
        *failure = QString::fromLocal8Bit(packed.output + packed.errors);
        return QString();
    }
    return QDir(directory).filePath(debs.first());
}

QProcessEnvironment tst_Install::userEnvironment(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QLatin1String("/.config"));
    return environment;
}

void tst_Install::initTestCase()
{
    // CPack's Depends come from dpkg-shlibdeps (dpkg-dev); dpkg-deb unpacks.
    for (const char *name : {"dpkg-deb", "dpkg-shlibdeps"}) {
        if (tool(name).isEmpty())
            QSKIP(qPrintable(QLatin1String(name) + QLatin1String(" is not installed (Debian packages dpkg and "
                                                                  "dpkg-dev): no Debian package can be made")));
    }
    QVERIFY2(!tool("cpack").isEmpty(), "cpack is not on PATH");
    QVERIFY(packageDir.isValid());
    QVERIFY(root.isValid());

    QString failure;
    package = pack(packageDir.path(), &failure);
    QVERIFY2(!package.isEmpty(), qPrintable(failure));
    packedAt = QDateTime::currentSecsSinceEpoch();
    const Run unpack = run(tool("dpkg-deb"), {QStringLiteral("-x"), package, root.path()});
    QVERIFY2(unpack.finished && unpack.exitCode == 0, unpack.errors.constData());

    desktopEntry = unpacked(QLatin1String("share/applications/") + desktopFile);
}

void tst_Install::controlFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern"); // the whole value

    const Run architecture = run(tool("dpkg"), {QStringLiteral("--print-architecture")});
    QTest::newRow("Package") << "Package" << "pylon-router";
    QTest::newRow("Version, the project's")
        << "Version" << QRegularExpression::escape(QString(Version::applicationVersion));
    QTest::newRow("Architecture, the build's")
        << "Architecture" << QString::fromLatin1(architecture.output.trimmed());
    QTest::newRow("Section") << "Section" << "net";
    QTest::newRow("Maintainer") << "Maintainer" << ".+ <.+@.+>";
    QTest::newRow("Description, synopsis and more")
        << "Description" << QRegularExpression::escape(QString(Version::description)) + QLatin1String("\n( \\S.*\n)+ \\S.*");
    // From the libraries the binary links: Qt 6, QtKeychain and OpenSSL 3.
    QTest::newRow("Depends on Qt Widgets") << "Depends" << ".*\\blibqt6widgets6 \\(>= 6\\.[^)]+\\).*";
    QTest::newRow("Depends on Qt Network") << "Depends" << ".*\\blibqt6network6 \\(>= 6\\.[^)]+\\).*";
    QTest::newRow("Depends on QtKeychain") << "Depends" << ".*\\blibqt6keychain1 \\(>= [^)]+\\).*";
    QTest::newRow("Depends on Qt D-Bus") << "Depends" << ".*\\blibqt6dbus6 \\(>= 6\\.[^)]+\\).*";
    QTest::newRow("Depends on OpenSSL 3") << "Depends" << ".*\\blibssl3 \\(>= 3\\.[^)]+\\).*";
    // QtKeychain loads libsecret at run time to reach the Secret Service.
    QTest::newRow("Recommends libsecret") << "Recommends" << ".*\\blibsecret-1-0\\b.*";
}

void tst_Install::controlFields()
{
    QFETCH(QString, field);
    QFETCH(QString, pattern);

    const Run show = run(tool("dpkg-deb"), {QStringLiteral("--field"), package, field});
    QVERIFY(show.finished && show.exitCode == 0);
    const QString value = QString::fromUtf8(show.output.trimmed());
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(value).hasMatch(),
             qPrintable(value));
}

void tst_Install::fileList()
{
    QStringList expected = {
        QStringLiteral("bin/pylon-router"),
        QStringLiteral("share/applications/") + desktopFile,
        QStringLiteral("share/metainfo/") + appStreamId + QStringLiteral(".metainfo.xml"),
        QStringLiteral("share/icons/hicolor/scalable/apps/pylon-router.svg"),
        QStringLiteral("share/man/man1/pylon-router.1.gz"),
        QStringLiteral("share/doc/pylon-router/copyright"),
        QStringLiteral("share/doc/pylon-router/changelog.gz"),
        QStringLiteral("share/lintian/overrides/pylon-router"),
    };
    for (int size : iconSizes)
        expected.append(QStringLiteral("share/icons/hicolor/%1x%1/apps/pylon-router.png").arg(size));
    expected.sort();

    // Everything else, a translation catalogue included, would be unused: the program
    // carries its catalogues inside.
    QStringList found;
    QDirIterator files(root.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext())
        found.append(QDir(root.path() + QLatin1String("/usr")).relativeFilePath(files.next()));
    found.sort();
    QCOMPARE(found, expected);
    QVERIFY(QFile::permissions(unpacked(QStringLiteral("bin/pylon-router"))) & QFile::ExeOther);
}

void tst_Install::desktopEntryPointsAtInstalledFiles()
{
    QFile entry(desktopEntry);
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    QHash<QString, QString> keys;
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            keys.insert(line.left(equals), line.mid(equals + 1));
    }
    QCOMPARE(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(keys.value(QStringLiteral("Name")), QString(Version::applicationName));
    QVERIFY(QFile::exists(unpacked(QLatin1String("bin/") + keys.value(QStringLiteral("Exec")))));
    QVERIFY(QFile::exists(unpacked(QLatin1String("share/icons/hicolor/48x48/apps/"))
                          + keys.value(QStringLiteral("Icon")) + QLatin1String(".png")));
}

void tst_Install::validatorAccepts_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("silent"); // hints and warnings count too

    // desktop-file-utils and appstream, installed by scripts/install-deps. AppStream's checker
    // reads the whole tree, the metainfo beside the desktop entry it launches; it always
    // names the example domain's id as not reverse-DNS, which is a hint only.
    QTest::newRow("desktop-file-validate") << "desktop-file-validate" << QStringList{desktopEntry} << true;
    QTest::newRow("appstreamcli") << "appstreamcli"
                                  << QStringList{"validate-tree", "--no-net", root.path()} << false;
}

void tst_Install::validatorAccepts()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, arguments);
    QFETCH(bool, silent);

    const QString path = QStandardPaths::findExecutable(validator);
    QVERIFY2(!path.isEmpty(), qPrintable(validator + QLatin1String(" is not on PATH")));
    const Run check = run(path, arguments);
    const QByteArray said = check.output + check.errors;
    QVERIFY2(check.finished && check.exitCode == 0, said.constData());
    if (silent)
        QVERIFY2(said.trimmed().isEmpty(), said.constData());
}

void tst_Install::answersWithoutDisplayOrSettings_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("pattern"); // the whole of standard output

    const QString nameAndVersion = QRegularExpression::escape(
        QString(Version::applicationName) + QLatin1Char(' ') + QString(Version::applicationVersion));
    QTest::newRow("--version") << "--version" << nameAndVersion + QLatin1String("\n");
    QTest::newRow("-v") << "-v" << nameAndVersion + QLatin1String("\n");
    QTest::newRow("--help") << "--help"
                            << "Usage: \\S*pylon-router \\[options\\]\n(.*\n)*  -h, --help +\\S.*\n(.*\n)*"
                               "  -v, --version +\\S.*\n(.*\n)*";
    QTest::newRow("--help-all, with Qt's options")
        << "--help-all" << "Usage: (.*\n)*  --platform <[^>]+> +\\S.*\n(.*\n)*  --reverse +\\S.*\n(.*\n)*";
}

void tst_Install::answersWithoutDisplayOrSettings()
{
    QFETCH(QString, option);
    QFETCH(QString, pattern);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    // No display at all: a window, even an offscreen one, would end the program with an error.
    const Run answer = run(unpacked(QStringLiteral("bin/pylon-router")), {option}, userEnvironment(home.path()));
    QVERIFY2(answer.finished && answer.exitCode == 0, answer.errors.constData());
    const QString output = QString::fromLocal8Bit(answer.output);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(output).hasMatch(),
             qPrintable(output));
    // Not even the settings store's directory was made.
    QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void tst_Install::startsInPolish()
{
    const QString xvfb = tool("Xvfb");
    const QString xwininfo = tool("xwininfo");
    const QString unshare = tool("unshare");
    if (xvfb.isEmpty() || xwininfo.isEmpty() || unshare.isEmpty())
        QSKIP("Xvfb, xwininfo or unshare is missing (Debian packages xvfb, x11-utils, util-linux; "
              "scripts/install-deps)");
    // The program asks the update server at start; in a network namespace of its own it
    // reaches nothing but its own loopback.
    const Run isolated = run(unshare, {QStringLiteral("--net"), QStringLiteral("true")});
    if (!isolated.finished || isolated.exitCode != 0)
        QSKIP(qPrintable(QLatin1String("no network namespace for the program (unshare --net needs root): ")
                         + QString::fromLocal8Bit(isolated.errors.trimmed())));

    // A virtual X server, on a display number it picks itself and writes to standard output.
    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24")});
    QVERIFY(server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, 30000);
    const QString display = QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed());
    QVERIFY2(display.size() > 1, server.readAllStandardError().constData());

    // A Polish user's settings; no router address yet, so the program asks for one first.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QDir().mkpath(home.path() + QLatin1String("/.config/Tarnwell")));
    QFile store(home.path() + QLatin1String("/.config/Tarnwell/Pylon Router.conf"));
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[General]\nLanguage=pl\n");
    store.close();
    QProcessEnvironment environment = userEnvironment(home.path());
    environment.insert(QStringLiteral("DISPLAY"), display);
    // In the sanitizer build: libxkbcommon-x11, under Qt's X11 platform, hands strndup() a
    // name bounded by its length and without a terminator, which strndup allows and ASan's
    // strict string check reports.
    QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    if (!sanitizer.isEmpty()) {
        sanitizer.replace(QLatin1String("strict_string_checks=1"), QLatin1String("strict_string_checks=0"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer);
    }

    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(unshare, {QStringLiteral("--net"), unpacked(QStringLiteral("bin/pylon-router"))});
    QVERIFY(program.waitForStarted());

    // The titles of the windows on the screen: the main window's is "Pylon Router" in every
    // language, the address question's is translated.
    QProcessEnvironment onDisplay = QProcessEnvironment::systemEnvironment();
    onDisplay.insert(QStringLiteral("DISPLAY"), display);
    QString windows;
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired() && program.state() == QProcess::Running
           && !windows.contains(QLatin1String("\"Adres IP routera\""))) {
        // Also notices the program's end.
        program.waitForFinished(200);
        windows = QString::fromUtf8(run(xwininfo, {QStringLiteral("-root"), QStringLiteral("-tree")}, onDisplay).output);
    }
    const bool running = program.state() == QProcess::Running;
    program.terminate();
    program.waitForFinished(10000);
    server.terminate();
    server.waitForFinished(10000);

    const QString said = windows + QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(running, qPrintable(said));
    QVERIFY2(windows.contains(QLatin1String("\"Pylon Router\": (\"pylon-router\" \"Pylon Router\")")), qPrintable(said));
    QVERIFY2(windows.contains(QLatin1String("\"Adres IP routera\"")), qPrintable(said));
}

void tst_Install::reproducible()
{
    // A second package, made entirely in later seconds than the first: a time stamp of its
    // own anywhere in it would differ.
    QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() > packedAt);
    QTemporaryDir again;
    QVERIFY(again.isValid());
    QString failure;
    const QString second = pack(again.path(), &failure);
    QVERIFY2(!second.isEmpty(), qPrintable(failure));
    QFile first(package);
    QFile other(second);
    QVERIFY(first.open(QIODevice::ReadOnly));
    QVERIFY(other.open(QIODevice::ReadOnly));
    QVERIFY2(first.readAll() == other.readAll(), "the same build tree gave two different packages");
}

void tst_Install::hardened()
{
    if (!PYLON_DEBIAN_BUILDFLAGS)
        QSKIP("this build does not take Debian's build flags: the sanitizer and fuzz builds keep their own");
    const QString check = tool("hardening-check");
    QVERIFY2(!check.isEmpty(), "hardening-check is not on PATH (Debian package devscripts; scripts/install-deps)");
    // Position-independent, stack protected, read-only relocations, bound at once: it fails
    // when any of them is missing. Not asked for, though compiled in: fortified calls, of
    // which the program keeps none to be seen (resources/debian/lintian-overrides), and
    // control-flow protection, whose note Debian 12's C library start files (crt1.o, crti.o)
    // lack, so that no program linked here can carry it.
    const Run result = run(check, {QStringLiteral("--nofortify"), QStringLiteral("--nocfprotection"),
                                   unpacked(QStringLiteral("bin/pylon-router"))});
    QVERIFY2(result.finished && result.exitCode == 0, QByteArray(result.output + result.errors).constData());
}

void tst_Install::noBuildPathInProgram()
{
    if (!PYLON_DEBIAN_BUILDFLAGS)
        QSKIP("this build does not take Debian's build flags: the sanitizer and fuzz builds keep their own");
    QFile program(unpacked(QStringLiteral("bin/pylon-router")));
    QVERIFY(program.open(QIODevice::ReadOnly));
    const QByteArray bytes = program.readAll();
    for (const QString &path : {QStringLiteral(PYLON_SOURCE_DIR), buildTree})
        QVERIFY2(!bytes.contains(path.toUtf8()), qPrintable(path));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
