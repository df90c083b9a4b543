#include "router/configextractor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QList<ConfigExport::File> entries(const QStringList &paths, const QByteArray &content = "data")
{
    QList<ConfigExport::File> files;
    for (const QString &path : paths)
        files.append({path, content});
    return files;
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &name, const QByteArray &content)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Every regular file below a directory, relative to it, sorted.
QStringList filesBelow(const QString &directory)
{
    QStringList found;
    QDir dir(directory);
    const QFileInfoList infos = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    for (const QFileInfo &info : infos) {
        if (info.isSymLink())
            continue;
        if (info.isDir()) {
            for (const QString &inner : filesBelow(info.filePath()))
                found.append(info.fileName() + u'/' + inner);
        } else {
            found.append(info.fileName());
        }
    }
    found.sort();
    return found;
}

} // namespace

class TestConfigExtractor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writesBelowDirectory_data();
    void writesBelowDirectory();
    void overwritesAndTruncates();
    void emptyContentMakesEmptyFile();
    void refusesHostilePaths_data();
    void refusesHostilePaths();
    void links_data();
    void links();
    void chosenDirectoryReachedThroughLink();
    void unwritableEntryIsSkippedSilently();
    void entryNamingADirectoryWritesNothing_data();
    void entryNamingADirectoryWritesNothing();
    void refusalMessageNamesEveryPath();

private:
    QString chosen() const { return sandbox->filePath(QStringLiteral("chosen")); }
    QString outside() const { return sandbox->filePath(QStringLiteral("outside")); }

    std::unique_ptr<QTemporaryDir> sandbox;
};

// A sandbox holding the chosen directory and, beside it, "outside" that must stay untouched.
void TestConfigExtractor::init()
{
    sandbox = std::make_unique<QTemporaryDir>();
    QVERIFY(sandbox->isValid());
    QVERIFY(QDir().mkpath(chosen()));
    QVERIFY(QDir().mkpath(outside()));
    QVERIFY(writeFile(outside() + QStringLiteral("/secret"), "keep me"));
}

void TestConfigExtractor::writesBelowDirectory_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("written");
    QTest::newRow("leading slash removed") << QStringLiteral("/etc/x") << QStringLiteral("etc/x");
    QTest::newRow("without leading slash, same place") << QStringLiteral("etc/x") << QStringLiteral("etc/x");
    QTest::newRow("bare file name") << QStringLiteral("/x") << QStringLiteral("x");
    QTest::newRow("deep, every directory created") << QStringLiteral("/a/b/c/d/e") << QStringLiteral("a/b/c/d/e");
    QTest::newRow("dot components") << QStringLiteral("/./etc/./x") << QStringLiteral("etc/x");
    QTest::newRow("doubled slashes inside") << QStringLiteral("/etc//x") << QStringLiteral("etc/x");
    QTest::newRow("dots inside names are no traversal") << QStringLiteral("/etc/..x/y..") << QStringLiteral("etc/..x/y..");
    QTest::newRow("non-ASCII names") << QStringLiteral("/etc/zażółć") << QStringLiteral("etc/zażółć");
}

void TestConfigExtractor::writesBelowDirectory()
{
    QFETCH(QString, path);
    QFETCH(QString, written);
    const QStringList refused = ConfigExtractor::extract(chosen(), entries({path}, "payload\n"));
    QVERIFY(refused.isEmpty());
    QCOMPARE(filesBelow(chosen()), QStringList{written});
    QCOMPARE(readFile(chosen() + u'/' + written), QByteArray("payload\n"));
}

void TestConfigExtractor::overwritesAndTruncates()
{
    QVERIFY(QDir().mkpath(chosen() + QStringLiteral("/etc")));
    QVERIFY(writeFile(chosen() + QStringLiteral("/etc/x"), "a much longer old content"));
    QVERIFY(ConfigExtractor::extract(chosen(), entries({QStringLiteral("/etc/x")}, "new")).isEmpty());
    QCOMPARE(readFile(chosen() + QStringLiteral("/etc/x")), QByteArray("new"));
}

void TestConfigExtractor::emptyContentMakesEmptyFile()
{
    QVERIFY(writeFile(chosen() + QStringLiteral("/old"), "old"));
    QVERIFY(ConfigExtractor::extract(chosen(), entries({QStringLiteral("/old"), QStringLiteral("/new")}, "")).isEmpty());
    QCOMPARE(readFile(chosen() + QStringLiteral("/old")), QByteArray());
    QCOMPARE(readFile(chosen() + QStringLiteral("/new")), QByteArray());
}

void TestConfigExtractor::refusesHostilePaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("parent directory") << QStringLiteral("../outside/secret");
    QTest::newRow("parent after the leading slash") << QStringLiteral("/../outside/secret");
    QTest::newRow("parent deeper down") << QStringLiteral("/etc/../../outside/secret");
    QTest::newRow("parent that would stay inside") << QStringLiteral("/etc/../x");
    QTest::newRow("trailing parent") << QStringLiteral("/etc/..");
    QTest::newRow("second leading slash") << QStringLiteral("//outside/secret");
    QTest::newRow("absolute after the leading slash") << QString(QStringLiteral("/") + QDir::tempPath() + QStringLiteral("/x"));
    QTest::newRow("drive letter") << QStringLiteral("C:/Windows/x");
    QTest::newRow("drive letter after the leading slash") << QStringLiteral("/c:x");
    QTest::newRow("backslash root") << QStringLiteral("/\\outside\\secret");
    QTest::newRow("backslash parent") << QStringLiteral("/..\\outside\\secret");
    QTest::newRow("mixed separators parent") << QStringLiteral("/etc\\..\\../x");
}

void TestConfigExtractor::refusesHostilePaths()
{
    QFETCH(QString, path);
    const QStringList refused = ConfigExtractor::extract(
        chosen(), entries({QStringLiteral("/before"), path, QStringLiteral("/after")}, "hostile"));
    QCOMPARE(refused, QStringList{path});
    QVERIFY(!ConfigExtractor::isConfinedPath(path));
    QCOMPARE(filesBelow(chosen()), (QStringList{QStringLiteral("after"), QStringLiteral("before")}));
    QCOMPARE(filesBelow(outside()), QStringList{QStringLiteral("secret")});
    QCOMPARE(readFile(outside() + QStringLiteral("/secret")), QByteArray("keep me"));
    QCOMPARE(filesBelow(sandbox->path()),
             (QStringList{QStringLiteral("chosen/after"), QStringLiteral("chosen/before"), QStringLiteral("outside/secret")}));
}

void TestConfigExtractor::links_data()
{
    QTest::addColumn<QString>("link");     // below the chosen directory
    QTest::addColumn<QString>("target");   // relative to the sandbox, as the link names it
    QTest::addColumn<bool>("relativeLink");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("writtenTo"); // relative to the sandbox

    QTest::newRow("directory link leading outside") << QStringLiteral("etc") << QStringLiteral("outside") << false
                                                    << QStringLiteral("/etc/x") << false << QString();
    QTest::newRow("relative directory link leading outside") << QStringLiteral("etc") << QStringLiteral("outside") << true
                                                             << QStringLiteral("/etc/x") << false << QString();
    QTest::newRow("file link leading outside") << QStringLiteral("passwd") << QStringLiteral("outside/secret") << false
                                               << QStringLiteral("/passwd") << false << QString();
    QTest::newRow("dangling link leading outside") << QStringLiteral("new") << QStringLiteral("outside/created") << false
                                                   << QStringLiteral("/new") << false << QString();
    QTest::newRow("dangling link leading inside") << QStringLiteral("new") << QStringLiteral("chosen/nothere") << false
                                                  << QStringLiteral("/new") << false << QString();
    QTest::newRow("link to itself") << QStringLiteral("loop") << QStringLiteral("chosen/loop") << false
                                    << QStringLiteral("/loop/x") << false << QString();
    QTest::newRow("link to itself, relative") << QStringLiteral("loop") << QStringLiteral("chosen/loop") << true
                                              << QStringLiteral("/loop/x") << false << QString();
    QTest::newRow("link to the parent, deeper down") << QStringLiteral("sub/up") << QStringLiteral("") << false
                                                     << QStringLiteral("/sub/up/outside/secret") << false << QString();
    QTest::newRow("directory link staying inside") << QStringLiteral("etc") << QStringLiteral("chosen/real") << false
                                                   << QStringLiteral("/etc/x") << true << QStringLiteral("chosen/real/x");
    QTest::newRow("relative directory link staying inside") << QStringLiteral("etc") << QStringLiteral("chosen/real") << true
                                                            << QStringLiteral("/etc/x") << true
                                                            << QStringLiteral("chosen/real/x");
    QTest::newRow("file link staying inside") << QStringLiteral("x") << QStringLiteral("chosen/real/file") << false
                                              << QStringLiteral("/x") << true << QStringLiteral("chosen/real/file");
    QTest::newRow("link to the chosen directory itself") << QStringLiteral("self") << QStringLiteral("chosen") << false
                                                         << QStringLiteral("/self/x") << true << QStringLiteral("chosen/x");
}

void TestConfigExtractor::links()
{
    QFETCH(QString, link);
    QFETCH(QString, target);
    QFETCH(bool, relativeLink);
    QFETCH(QString, path);
    QFETCH(bool, allowed);
    QFETCH(QString, writtenTo);

    QVERIFY(QDir().mkpath(chosen() + QStringLiteral("/real")));
    QVERIFY(writeFile(chosen() + QStringLiteral("/real/file"), "old"));
    const QString linkName = chosen() + u'/' + link;
    QVERIFY(QDir().mkpath(QFileInfo(linkName).absolutePath()));
    const QString absoluteTarget = target.isEmpty() ? sandbox->path() : sandbox->filePath(target);
    const QString linkTarget = relativeLink ? QFileInfo(linkName).absoluteDir().relativeFilePath(absoluteTarget)
                                            : absoluteTarget;
    QVERIFY(QFile::link(linkTarget, linkName));
    const QStringList before = filesBelow(sandbox->path());

    const QStringList refused = ConfigExtractor::extract(chosen(), entries({path, QStringLiteral("/other")}, "new"));
    QCOMPARE(readFile(chosen() + QStringLiteral("/other")), QByteArray("new"));
    QCOMPARE(readFile(outside() + QStringLiteral("/secret")), QByteArray("keep me"));
    QCOMPARE(filesBelow(outside()), QStringList{QStringLiteral("secret")});
    if (allowed) {
        QVERIFY(refused.isEmpty());
        QCOMPARE(readFile(sandbox->filePath(writtenTo)), QByteArray("new"));
    } else {
        QCOMPARE(refused, QStringList{path});
        QStringList expected = before;
        expected.append(QStringLiteral("chosen/other"));
        expected.sort();
        QCOMPARE(filesBelow(sandbox->path()), expected);
    }
}

// The user may pick a directory through a link; that choice is the directory to stay in.
void TestConfigExtractor::chosenDirectoryReachedThroughLink()
{
    const QString viaLink = sandbox->filePath(QStringLiteral("shortcut"));
    QVERIFY(QFile::link(chosen(), viaLink));
    QVERIFY(ConfigExtractor::extract(viaLink, entries({QStringLiteral("/etc/x")})).isEmpty());
    QCOMPARE(readFile(chosen() + QStringLiteral("/etc/x")), QByteArray("data"));
    QCOMPARE(ConfigExtractor::extract(viaLink, entries({QStringLiteral("/../outside/y")})),
             QStringList{QStringLiteral("/../outside/y")});
}

void TestConfigExtractor::unwritableEntryIsSkippedSilently()
{
    QVERIFY(writeFile(chosen() + QStringLiteral("/plain"), "file"));
    const QStringList refused = ConfigExtractor::extract(
        chosen(), entries({QStringLiteral("/plain/below"), QStringLiteral("/"), QStringLiteral("/ok")}));
    QVERIFY(refused.isEmpty());
    QCOMPARE(readFile(chosen() + QStringLiteral("/plain")), QByteArray("file"));
    QCOMPARE(readFile(chosen() + QStringLiteral("/ok")), QByteArray("data"));
}

void TestConfigExtractor::entryNamingADirectoryWritesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << QString();
    QTest::newRow("only the leading slash") << QStringLiteral("/");
    QTest::newRow("the directory itself as a dot") << QStringLiteral("/.");
    QTest::newRow("trailing slash") << QStringLiteral("/etc/");
    QTest::newRow("trailing dot") << QStringLiteral("/etc/.");
    QTest::newRow("link to the chosen directory itself") << QStringLiteral("/self");
    QTest::newRow("through a link to the chosen directory, trailing slash") << QStringLiteral("/self/self/");
}

// Such an entry is skipped like any other that cannot be written, without a refusal: it does
// not lead outside. Nothing is created for it, no file and no directory.
void TestConfigExtractor::entryNamingADirectoryWritesNothing()
{
    QFETCH(QString, path);
    QVERIFY(QFile::link(chosen(), chosen() + QStringLiteral("/self")));
    const QStringList refused = ConfigExtractor::extract(chosen(), entries({path, QStringLiteral("/ok")}));
    QVERIFY(refused.isEmpty());
    QCOMPARE(QDir(chosen()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden),
             (QStringList{QStringLiteral("ok"), QStringLiteral("self")}));
    QCOMPARE(readFile(chosen() + QStringLiteral("/ok")), QByteArray("data"));
    QCOMPARE(QDir(sandbox->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden),
             (QStringList{QStringLiteral("chosen"), QStringLiteral("outside")}));
}

void TestConfigExtractor::refusalMessageNamesEveryPath()
{
    const QStringList refused = ConfigExtractor::extract(
        chosen(), entries({QStringLiteral("/../a"), QStringLiteral("/fine"), QStringLiteral("C:/b"), QStringLiteral("//c")}));
    QCOMPARE(refused, (QStringList{QStringLiteral("/../a"), QStringLiteral("C:/b"), QStringLiteral("//c")}));
    const QString message = ConfigExtractor::refusalMessage(refused);
    for (const QString &path : refused)
        QVERIFY2(message.contains(path), qPrintable(message));
    QVERIFY(!message.contains(QStringLiteral("/fine")));
}

QTEST_GUILESS_MAIN(TestConfigExtractor)
#include "tst_configextractor.moc"
