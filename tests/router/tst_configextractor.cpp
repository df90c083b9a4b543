#include "router/configextractor.h"
#include "support/filesizelimit.h"
#include "support/testfiles.h"

#include "router/elidedtext.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QList<ConfigExport::File> entries(const QStringList &paths, const QByteArray &content = "data")
{
    QList<ConfigExport::File> files;
    for (const QString &path : paths)
        files.append({path, content});
    return files;
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

// What lies in wait where the extractor writes.
enum class Trap { FullDiskOverOldFile, FullDiskNewFile, HardLinkToOutside, Fifo, DirectoryInPlace, FileInPlaceOfDirectory };

} // namespace

Q_DECLARE_METATYPE(Trap)

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
    void unwritableEntryIsNamed();
    void fileTheUserMayNotWriteIsKept();
    void deepPaths_data();
    void deepPaths();
    void hostileDisk_data();
    void hostileDisk();
    void entryNamingADirectoryWritesNothing_data();
    void entryNamingADirectoryWritesNothing();
    void refusalMessageNamesEveryPath();
    void messagesNameTheFirstTwenty_data();
    void messagesNameTheFirstTwenty();
    void messagesCutLongPaths_data();
    void messagesCutLongPaths();

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
                                                  << QStringLiteral("/new") << true << QStringLiteral("chosen/nothere");
    QTest::newRow("link to a folder not made yet") << QStringLiteral("a") << QStringLiteral("chosen/sub/missing") << false
                                                   << QStringLiteral("/a/x") << true
                                                   << QStringLiteral("chosen/sub/missing/x");
    QTest::newRow("relative link to a folder not made yet")
        << QStringLiteral("a") << QStringLiteral("chosen/sub/missing") << true << QStringLiteral("/a/x") << true
        << QStringLiteral("chosen/sub/missing/x");
    QTest::newRow("link to a folder not made yet outside") << QStringLiteral("a") << QStringLiteral("outside/missing")
                                                           << true << QStringLiteral("/a/x") << false << QString();
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

void TestConfigExtractor::unwritableEntryIsNamed()
{
    QVERIFY(writeFile(chosen() + QStringLiteral("/plain"), "file"));
    QStringList failed;
    const QStringList refused = ConfigExtractor::extract(
        chosen(), entries({QStringLiteral("/plain/below"), QStringLiteral("/"), QStringLiteral("/ok")}), &failed);
    QVERIFY(refused.isEmpty());
    QCOMPARE(failed, (QStringList{QStringLiteral("/plain/below"), QStringLiteral("/")}));
    QCOMPARE(readFile(chosen() + QStringLiteral("/plain")), QByteArray("file"));
    QCOMPARE(readFile(chosen() + QStringLiteral("/ok")), QByteArray("data"));
}

// Root may write anything: the test runs again as an unprivileged user, where it can.
void TestConfigExtractor::fileTheUserMayNotWriteIsKept()
{
    if (geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("Root ignores file permissions, and setpriv (util-linux) is missing to run this as another user.");
        QProcess asNobody;
        asNobody.setProcessChannelMode(QProcess::MergedChannels);
        asNobody.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                 QStringLiteral("--clear-groups"), QStringLiteral("--"),
                                 QCoreApplication::applicationFilePath(), QStringLiteral("fileTheUserMayNotWriteIsKept")});
        QVERIFY(asNobody.waitForFinished(60000));
        const QByteArray output = asNobody.readAll();
        if (asNobody.exitCode() != 0 && output.contains("Permission denied") && !output.contains("Totals"))
            QSKIP(qPrintable(QStringLiteral("This test binary cannot run as the user nobody: ") + QString::fromLocal8Bit(output)));
        QVERIFY2(asNobody.exitStatus() == QProcess::NormalExit && asNobody.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestConfigExtractor::fileTheUserMayNotWriteIsKept()"), output.constData());
        return;
    }
    const QString config = chosen() + QStringLiteral("/etc");
    QVERIFY(QDir().mkpath(config));
    QVERIFY(writeFile(config + QStringLiteral("/ro.txt"), "OLD"));
    QVERIFY(writeFile(config + QStringLiteral("/rw.txt"), "OLD"));
    QVERIFY(QFile::setPermissions(config + QStringLiteral("/ro.txt"), QFileDevice::ReadOwner | QFileDevice::ReadGroup
                                                                      | QFileDevice::ReadOther));
    QStringList failed;
    const QStringList refused = ConfigExtractor::extract(
        chosen(), entries({QStringLiteral("/etc/ro.txt"), QStringLiteral("/etc/rw.txt")}, "NEW"), &failed);
    QVERIFY(refused.isEmpty());
    QCOMPARE(failed, QStringList{QStringLiteral("/etc/ro.txt")});
    QCOMPARE(readFile(config + QStringLiteral("/ro.txt")), QByteArray("OLD"));
    QCOMPARE(readFile(config + QStringLiteral("/rw.txt")), QByteArray("NEW"));
    QCOMPARE(QDir(config).entryList(QDir::Files | QDir::Hidden), (QStringList{QStringLiteral("ro.txt"), QStringLiteral("rw.txt")}));
}

void TestConfigExtractor::deepPaths_data()
{
    QTest::addColumn<int>("depth");          // directories in the entry's path
    QTest::addColumn<int>("linkedDepth");    // directories a link at its start leads through, or 0
    QTest::addColumn<bool>("written");

    QTest::newRow("255 directories deep") << 255 << 0 << true;
    QTest::newRow("256 directories deep") << 256 << 0 << false;
    QTest::newRow("10,000 directories deep") << 10000 << 0 << false;
    QTest::newRow("a link leads deeper than 255") << 100 << 200 << false;
}

// A path too deep is refused before anything is made for it, whatever the descriptor limit.
void TestConfigExtractor::deepPaths()
{
    QFETCH(int, depth);
    QFETCH(int, linkedDepth);
    QFETCH(bool, written);

    QString path;
    for (int i = 0; i < depth; ++i)
        path += QStringLiteral("/d");
    if (linkedDepth > 0) {
        QString target = chosen();
        for (int i = 0; i < linkedDepth; ++i)
            target += QStringLiteral("/t");
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::link(target, chosen() + QStringLiteral("/link")));
        path = QStringLiteral("/link") + path;
    }
    path += QStringLiteral("/x");
    QStringList failed;
    const QStringList refused = ConfigExtractor::extract(chosen(), entries({path, QStringLiteral("/after")}), &failed);
    QCOMPARE(refused, written ? QStringList() : QStringList{path});
    QVERIFY(failed.isEmpty());
    QCOMPARE(readFile(chosen() + QStringLiteral("/after")), QByteArray("data"));
    QCOMPARE(QFileInfo::exists(chosen() + path), written);
    if (linkedDepth == 0 && !written)
        QCOMPARE(QDir(chosen()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("after")});
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

void TestConfigExtractor::hostileDisk_data()
{
    QTest::addColumn<Trap>("trap");
    QTest::addColumn<bool>("written");

    QTest::newRow("disk full while replacing an old file") << Trap::FullDiskOverOldFile << false;
    QTest::newRow("disk full while writing a new file") << Trap::FullDiskNewFile << false;
    QTest::newRow("hard link to a file outside") << Trap::HardLinkToOutside << true;
    QTest::newRow("FIFO where the file goes") << Trap::Fifo << false;
    QTest::newRow("directory where the file goes") << Trap::DirectoryInPlace << false;
    QTest::newRow("file where a directory goes") << Trap::FileInPlaceOfDirectory << false;
}

// The entry's file is replaced whole or not at all; the next entry is written all the same,
// nothing outside changes, and no temporary file stays behind.
void TestConfigExtractor::hostileDisk()
{
    QFETCH(Trap, trap);
    QFETCH(bool, written);

    const QString config = chosen() + QStringLiteral("/etc/config");
    const QString network = config + QStringLiteral("/network");
    QVERIFY(QDir().mkpath(config));
    QByteArray content = "config interface 'lan'\n";
    switch (trap) {
    case Trap::FullDiskOverOldFile:
        QVERIFY(writeFile(network, "old network\n"));
        content = QByteArray(qsizetype(64) * 1024, 'n');
        break;
    case Trap::FullDiskNewFile:
        content = QByteArray(qsizetype(64) * 1024, 'n');
        break;
    case Trap::HardLinkToOutside:
        QVERIFY(::link(QFile::encodeName(outside() + QStringLiteral("/secret")).constData(),
                       QFile::encodeName(network).constData()) == 0);
        break;
    case Trap::Fifo:
        QVERIFY(mkfifo(QFile::encodeName(network).constData(), 0600) == 0);
        break;
    case Trap::DirectoryInPlace:
        QVERIFY(QDir().mkpath(network));
        break;
    case Trap::FileInPlaceOfDirectory:
        QVERIFY(QDir(chosen() + QStringLiteral("/etc")).removeRecursively());
        QVERIFY(writeFile(chosen() + QStringLiteral("/etc"), "a file"));
        break;
    }
    const QList<ConfigExport::File> files = {{QStringLiteral("/etc/config/network"), content},
                                             {QStringLiteral("/after"), "after\n"}};

    QStringList failed;
    QStringList refused;
    if (trap == Trap::FullDiskOverOldFile || trap == Trap::FullDiskNewFile) {
        const FileSizeLimit limit(4096);
        if (!limit.isActive())
            QSKIP("This system does not let a process limit the size of the files it writes.");
        refused = ConfigExtractor::extract(chosen(), files, &failed);
    } else {
        refused = ConfigExtractor::extract(chosen(), files, &failed);
    }

    QVERIFY(refused.isEmpty());
    QCOMPARE(failed, written ? QStringList() : QStringList{QStringLiteral("/etc/config/network")});
    QCOMPARE(readFile(chosen() + QStringLiteral("/after")), QByteArray("after\n"));
    QCOMPARE(readFile(outside() + QStringLiteral("/secret")), QByteArray("keep me"));
    const QFileInfo info(network);
    switch (trap) {
    case Trap::FullDiskOverOldFile:
        QCOMPARE(readFile(network), QByteArray("old network\n"));
        break;
    case Trap::FullDiskNewFile:
    case Trap::FileInPlaceOfDirectory:
        QVERIFY(!info.exists());
        break;
    case Trap::HardLinkToOutside:
        QCOMPARE(readFile(network), content);
        break;
    case Trap::Fifo:
        QVERIFY(info.exists() && !info.isFile() && !info.isDir());
        break;
    case Trap::DirectoryInPlace:
        QVERIFY(info.isDir());
        break;
    }
    for (const QString &file : filesBelow(sandbox->path()))
        QVERIFY2(!QFileInfo(file).fileName().startsWith(u'.'), qPrintable(file));
}

void TestConfigExtractor::messagesNameTheFirstTwenty_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("named");

    QTest::newRow("one") << 1 << 1;
    QTest::newRow("twenty, all named") << 20 << 20;
    QTest::newRow("twenty-one") << 21 << 20;
    QTest::newRow("fifty thousand") << 50000 << 20;
}

// However many paths there are, the message box stays a screen high.
void TestConfigExtractor::messagesNameTheFirstTwenty()
{
    QFETCH(int, count);
    QFETCH(int, named);

    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("/etc/entry-%1").arg(i));
    const QString more = count > named ? QStringLiteral("\nand %1 more").arg(count - named) : QString();
    for (const QString &message : {ConfigExtractor::refusalMessage(paths), ConfigExtractor::failureMessage(paths)}) {
        const QStringList lines = message.split(u'\n');
        QCOMPARE(lines.count(), 1 + named + (more.isEmpty() ? 0 : 1));
        QVERIFY(message.contains(paths.at(named - 1) + u'\n') || (more.isEmpty() && message.endsWith(paths.at(named - 1))));
        QVERIFY(!message.contains(QStringLiteral("/etc/entry-%1\n").arg(named)));
        QVERIFY(message.endsWith(more.isEmpty() ? paths.constLast() : more));
    }
    QVERIFY(ConfigExtractor::refusalMessage({}).isEmpty());
    QVERIFY(ConfigExtractor::failureMessage({}).isEmpty());
}

void TestConfigExtractor::messagesCutLongPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("20,000 characters") << QString(QStringLiteral("../") + QString(20000, u'a'));
    QString deep;
    for (int i = 0; i < 10000; ++i)
        deep += QStringLiteral("a/");
    QTest::newRow("10,000 directories") << QString(deep + u'x');
    QTest::newRow("names with spaces") << QString(QStringLiteral("/etc/") + QStringLiteral("my file ").repeated(2000));
}

// The short message holds the path's start and end within about a line; the full one, for
// the details, the whole path.
void TestConfigExtractor::messagesCutLongPaths()
{
    QFETCH(QString, path);
    const QStringList paths = {QStringLiteral("/etc/first"), path, QStringLiteral("/etc/last")};
    for (const auto &message : {ConfigExtractor::refusalMessage, ConfigExtractor::failureMessage}) {
        const QStringList lines = message(paths, ConfigExtractor::Short).split(u'\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(1), QStringLiteral("/etc/first"));
        QCOMPARE(lines.at(2).size(), ElidedText::entryLength);
        QVERIFY(lines.at(2).startsWith(path.left(50)));
        QVERIFY(lines.at(2).endsWith(path.right(50)));
        QCOMPARE(lines.at(3), QStringLiteral("/etc/last"));
        QCOMPARE(message(paths, ConfigExtractor::Full).split(u'\n').mid(1), paths);
    }
    // The full list too has a bound, far above what a screen holds.
    QStringList many;
    for (int i = 0; i < 100000; ++i)
        many.append(QStringLiteral("/etc/entry-%1").arg(i));
    const QString full = ConfigExtractor::failureMessage(many, ConfigExtractor::Full);
    QVERIFY(full.size() < qsizetype(300) * 1024);
    QVERIFY(full.contains(QStringLiteral("\n/etc/entry-9999\n")));
    QVERIFY(full.endsWith(QStringLiteral(" more")));
}

QTEST_GUILESS_MAIN(TestConfigExtractor)
#include "tst_configextractor.moc"
