#include "app/startup.h"
#include "common/settingskeys.h"
#include "support/testsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartFillsTheStore();
    void secondStartKeepsTheKeys();
    void language_data();
    void language();
    void missingWorkingDirectoryIsCreated();
    void relativeWorkingDirectoryIsUnderRoot();
    void workingDirectoryThatIsAFileLeavesRootCurrent();
    void emptyStringsAreReplaced_data();
    void emptyStringsAreReplaced();

private:
    static QString value(QLatin1String key) { return QSettings().value(key).toString(); }
    static QString canonical(const QString &path) { return QFileInfo(path).canonicalFilePath(); }
    // What the working directory default must be for the store TestSettings set up.
    QString expectedWorkingDirPath() const;
    void forgetTranslators(const Startup &startup);

    std::unique_ptr<TestSettings> settings;
    QString startDirectory;
    QByteArray home;
    QString createdUnderRoot;
    QList<QTranslator *> translators;
};

void tst_Startup::init()
{
    startDirectory = QDir::currentPath();
    home = qgetenv("HOME");
    settings = std::make_unique<TestSettings>();
}

void tst_Startup::cleanup()
{
    // Startup changes process-wide state: the current directory, the translators, and here
    // HOME; put it all back before the next case.
    QDir::setCurrent(startDirectory);
    qputenv("HOME", home);
    for (QTranslator *translator : std::as_const(translators)) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    translators.clear();
    if (!createdUnderRoot.isEmpty()) {
        QDir(createdUnderRoot).removeRecursively();
        createdUnderRoot.clear();
    }
    settings.reset();
}

QString tst_Startup::expectedWorkingDirPath() const
{
    // The INI file would be <ini dir>/Tarnwell/Pylon Router.ini.
    return settings->path() + QLatin1String("/Tarnwell") + QDir::separator()
        + QLatin1String("Pylon Router");
}

void tst_Startup::forgetTranslators(const Startup &startup)
{
    for (const Startup::Translation &translation : startup.translations())
        translators.append(translation.translator);
}

void tst_Startup::firstStartFillsTheStore()
{
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationName(QString());

    Startup startup(QCoreApplication::instance());
    startup.run(QStringLiteral("pl_PL"));
    forgetTranslators(startup);

    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Tarnwell"));
    QCOMPARE(QCoreApplication::organizationDomain(), QStringLiteral("pylon-router.example"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Pylon Router"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("2.4"));

    QCOMPARE(value(SettingsKeys::workingDirPath), expectedWorkingDirPath());
    QCOMPARE(value(SettingsKeys::browseStartPath), QDir::homePath());
    QCOMPARE(value(SettingsKeys::language), QStringLiteral("pl"));
    // Only the INI file's name was wanted; the file itself is never written.
    QVERIFY(!QFile::exists(settings->path() + QLatin1String("/Tarnwell/Pylon Router.ini")));

    QVERIFY(QFileInfo(expectedWorkingDirPath()).isDir());
    QCOMPARE(QDir::currentPath(), canonical(expectedWorkingDirPath()));
    QCOMPARE(startup.translations().size(), 4);
}

void tst_Startup::secondStartKeepsTheKeys()
{
    {
        Startup first(QCoreApplication::instance());
        first.run(QStringLiteral("en_US"));
        forgetTranslators(first);
    }
    const QString workingDir = value(SettingsKeys::workingDirPath);
    const QString browse = value(SettingsKeys::browseStartPath);
    QCOMPARE(value(SettingsKeys::language), QStringLiteral("en"));

    // Between the runs the home directory, the INI location and the system locale change.
    QTemporaryDir otherHome;
    QTemporaryDir otherIni;
    qputenv("HOME", QFile::encodeName(otherHome.path()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, otherIni.path());
    QVERIFY(QDir::homePath() != browse);
    QVERIFY(Startup::defaultWorkingDirPath() != workingDir);

    Startup second(QCoreApplication::instance());
    second.run(QStringLiteral("pl_PL"));
    forgetTranslators(second);

    QCOMPARE(value(SettingsKeys::workingDirPath), workingDir);
    QCOMPARE(value(SettingsKeys::browseStartPath), browse);
    QCOMPARE(value(SettingsKeys::language), QStringLiteral("en"));
    QCOMPARE(QDir::currentPath(), canonical(workingDir));
    QVERIFY(second.translations().isEmpty());
}

void tst_Startup::language_data()
{
    QTest::addColumn<QVariant>("stored");          // invalid: key absent
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<QString>("expectedLanguage");
    QTest::addColumn<bool>("polish");

    QTest::newRow("absent, system pl_PL") << QVariant() << "pl_PL" << "pl" << true;
    QTest::newRow("absent, system en_US") << QVariant() << "en_US" << "en" << false;
    QTest::newRow("absent, system C, stored whole") << QVariant() << "C" << "C" << false;
    QTest::newRow("absent, system pl without country") << QVariant() << "pl" << "pl" << true;
    QTest::newRow("empty string, system pl_PL") << QVariant(QString()) << "pl_PL" << "pl" << true;
    QTest::newRow("stored pl, system en_US") << QVariant("pl") << "en_US" << "pl" << true;
    QTest::newRow("stored en, system pl_PL") << QVariant("en") << "pl_PL" << "en" << false;
    QTest::newRow("stored PL, upper case") << QVariant("PL") << "pl_PL" << "PL" << false;
    QTest::newRow("stored pl_PL, not a code") << QVariant("pl_PL") << "pl_PL" << "pl_PL" << false;
}

void tst_Startup::language()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, systemLocale);
    QFETCH(QString, expectedLanguage);
    QFETCH(bool, polish);

    if (stored.isValid())
        QSettings().setValue(SettingsKeys::language, stored);

    Startup startup(QCoreApplication::instance());
    startup.settleLanguage(systemLocale);
    startup.installTranslators();
    forgetTranslators(startup);

    QCOMPARE(value(SettingsKeys::language), expectedLanguage);

    if (!polish) {
        QVERIFY(startup.translations().isEmpty());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
        return;
    }

    // Four translators, in order, owned by the application and installed whether or not their
    // catalogue exists. The program carries the first two; the other two stay absent.
    const QStringList expectedFiles = {
        QStringLiteral(":translations/qt_pl.qm"), QStringLiteral(":pylon_router_pl.qm"),
        QStringLiteral(":translations/misc_pl.qm"), QStringLiteral(":translations/netprotocols_pl.qm")};
    const QList<bool> expectedLoaded = {true, true, false, false};
    QCOMPARE(startup.translations().size(), 4);
    for (int i = 0; i < 4; ++i) {
        const Startup::Translation &translation = startup.translations().at(i);
        QCOMPARE(translation.fileName, expectedFiles.at(i));
        QCOMPARE(translation.loaded, expectedLoaded.at(i));
        QCOMPARE(translation.translator->parent(), QCoreApplication::instance());
    }
    // Installed: texts of Qt and of the program now come out in Polish.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Anuluj"));
    QCOMPARE(QCoreApplication::translate("AboutBox", "Help"), QStringLiteral("Pomoc"));
    // An empty catalogue is installed too: removing it succeeds only if it was in the list.
    QVERIFY(QCoreApplication::removeTranslator(startup.translations().at(3).translator));
    QVERIFY(QCoreApplication::removeTranslator(startup.translations().at(2).translator));
}

void tst_Startup::missingWorkingDirectoryIsCreated()
{
    const QString path = settings->path() + QLatin1String("/missing/with parents/work");
    QSettings().setValue(SettingsKeys::workingDirPath, path);

    Startup::settleWorkingDirPath();
    Startup::enterWorkingDirectory();

    QCOMPARE(value(SettingsKeys::workingDirPath), path);
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(QDir::currentPath(), canonical(path));
}

void tst_Startup::relativeWorkingDirectoryIsUnderRoot()
{
    if (!QFileInfo(QDir::rootPath()).isWritable())
        QSKIP("the file-system root is not writable for this user, so a relative working "
              "directory cannot be created there");

    const QString top = QStringLiteral("pylon-router-startup-test-%1")
                            .arg(QCoreApplication::applicationPid());
    const QString relative = top + QLatin1String("/a/b");
    createdUnderRoot = QDir::rootPath() + top;
    QVERIFY(!QFileInfo::exists(createdUnderRoot));
    QSettings().setValue(SettingsKeys::workingDirPath, relative);

    // Started from elsewhere: the path must not land under the directory the process was in.
    QDir::setCurrent(settings->path());
    Startup::enterWorkingDirectory();

    QVERIFY(QFileInfo(QDir::rootPath() + relative).isDir());
    QVERIFY(!QFileInfo::exists(settings->path() + QLatin1Char('/') + relative));
    QCOMPARE(QDir::currentPath(), canonical(QDir::rootPath() + relative));
}

void tst_Startup::workingDirectoryThatIsAFileLeavesRootCurrent()
{
    const QString path = settings->path() + QLatin1String("/a file");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QSettings().setValue(SettingsKeys::workingDirPath, path);

    Startup::enterWorkingDirectory();

    QCOMPARE(QDir::currentPath(), QDir::rootPath());
    QVERIFY(QFileInfo(path).isFile());
}

void tst_Startup::emptyStringsAreReplaced_data()
{
    QTest::addColumn<QString>("key");

    QTest::newRow("WorkingDirPath") << QString(SettingsKeys::workingDirPath);
    QTest::newRow("BrowseStartPath") << QString(SettingsKeys::browseStartPath);
}

void tst_Startup::emptyStringsAreReplaced()
{
    QFETCH(QString, key);

    QSettings().setValue(key, QString());
    QVERIFY(QSettings().contains(key));

    Startup::settleWorkingDirPath();
    Startup::settleBrowseStartPath();

    const QString expected = key == SettingsKeys::workingDirPath ? expectedWorkingDirPath()
                                                                  : QDir::homePath();
    QCOMPARE(QSettings().value(key).toString(), expected);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
