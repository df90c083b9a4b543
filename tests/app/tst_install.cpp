#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Installs the build tree into a temporary prefix, as a packager would, and checks that a Linux
// desktop finds the program: the executable, its menu entry and its icons.
class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installedFile_data();
    void installedFile();
    void desktopEntryPointsAtInstalledFiles();
    void desktopEntryIsValid();

private:
    QTemporaryDir prefix;
};

void tst_Install::initTestCase()
{
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    QVERIFY2(!cmake.isEmpty(), "cmake is not on PATH");
    QVERIFY(prefix.isValid());

    // QT_TESTCASE_BUILDDIR is the tests' binary directory, one below the build tree.
    const QString buildTree = QDir(QStringLiteral(QT_TESTCASE_BUILDDIR "/..")).absolutePath();
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(cmake, {QStringLiteral("--install"), buildTree, QStringLiteral("--prefix"),
                          prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void tst_Install::installedFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("iconSize"); // 0: not a PNG icon

    QTest::newRow("program") << "bin/pylon-router" << 0;
    QTest::newRow("desktop entry") << "share/applications/pylon-router.desktop" << 0;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/pylon-router.svg" << 0;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("share/icons/hicolor/%1x%1/apps/pylon-router.png").arg(size);
        QTest::newRow(qPrintable(QStringLiteral("icon %1 px").arg(size))) << path << size;
    }
}

void tst_Install::installedFile()
{
    QFETCH(QString, path);
    QFETCH(int, iconSize);

    const QString file = prefix.path() + QLatin1Char('/') + path;
    QVERIFY2(QFile::exists(file), qPrintable(file));
    if (path.startsWith(QLatin1String("bin/")))
        QVERIFY(QFile::permissions(file) & QFile::ExeUser);
    if (iconSize > 0) {
        const QImage image(file);
        QCOMPARE(image.size(), QSize(iconSize, iconSize));
        QVERIFY(image.hasAlphaChannel());
    }
}

void tst_Install::desktopEntryPointsAtInstalledFiles()
{
    QFile entry(prefix.path() + QLatin1String("/share/applications/pylon-router.desktop"));
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
    QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Pylon Router"));
    QVERIFY(QFile::exists(prefix.path() + QLatin1String("/bin/") + keys.value(QStringLiteral("Exec"))));
    QVERIFY(QFile::exists(prefix.path() + QLatin1String("/share/icons/hicolor/48x48/apps/")
                          + keys.value(QStringLiteral("Icon")) + QLatin1String(".png")));
}

void tst_Install::desktopEntryIsValid()
{
    // The freedesktop.org checker (desktop-file-utils, installed by scripts/install-deps).
    const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    QVERIFY2(!validate.isEmpty(), "desktop-file-validate is not on PATH");
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(validate, {prefix.path() + QLatin1String("/share/applications/pylon-router.desktop")});
    QVERIFY(check.waitForFinished(30000));
    const QByteArray said = check.readAll();
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0, said.constData());
    // Hints and warnings count too: a desktop may ignore an entry it warns about.
    QVERIFY2(said.trimmed().isEmpty(), said.constData());
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
