#include "app/startup.h"

#include "common/settingskeys.h"
#include "common/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

Startup::Startup(QCoreApplication *application)
    : application(application)
{
}

void Startup::run()
{
    run(QLocale::system().name());
}

void Startup::run(const QString &systemLocaleName)
{
    setIdentity();
    settleWorkingDirPath();
    settleBrowseStartPath();
    enterWorkingDirectory();
    settleLanguage(systemLocaleName);
    installTranslators();
}

QString Startup::organizationName()
{
    return QStringLiteral("Tarnwell");
}

QString Startup::organizationDomain()
{
    return QStringLiteral("pylon-router.example");
}

QString Startup::applicationName()
{
    return Version::applicationName;
}

QString Startup::applicationVersion()
{
    return Version::applicationVersion;
}

void Startup::setIdentity()
{
    QCoreApplication::setOrganizationName(organizationName());
    QCoreApplication::setOrganizationDomain(organizationDomain());
    QCoreApplication::setApplicationName(applicationName());
    QCoreApplication::setApplicationVersion(applicationVersion());
}

QString Startup::defaultWorkingDirPath()
{
    // Only the file name is wanted: an unchanged QSettings never writes its file.
    const QSettings ini(QSettings::IniFormat, QSettings::UserScope,
                        QCoreApplication::organizationName(), QCoreApplication::applicationName());
    const QFileInfo file(ini.fileName());
    return file.path() + QDir::separator() + file.baseName();
}

void Startup::settleWorkingDirPath()
{
    if (!QSettings().value(SettingsKeys::workingDirPath).toString().isEmpty())
        return;
    const QString path = defaultWorkingDirPath();
    QSettings().setValue(SettingsKeys::workingDirPath, path);
}

void Startup::settleBrowseStartPath()
{
    if (!QSettings().value(SettingsKeys::browseStartPath).toString().isEmpty())
        return;
    QSettings().setValue(SettingsKeys::browseStartPath, QDir::homePath());
}

void Startup::enterWorkingDirectory()
{
    // From the root, a relative working directory means the same wherever the program was
    // started from.
    QDir::setCurrent(QDir::rootPath());

    const QString path = QSettings().value(SettingsKeys::workingDirPath).toString();
    if (!QFileInfo::exists(path))
        QDir().mkpath(path);

    QDir::setCurrent(QSettings().value(SettingsKeys::workingDirPath).toString());
}

QString Startup::languageFromLocaleName(const QString &localeName)
{
    const qsizetype underscore = localeName.indexOf(QLatin1Char('_'));
    return underscore < 0 ? localeName : localeName.left(underscore);
}

void Startup::settleLanguage(const QString &systemLocaleName)
{
    if (!QSettings().value(SettingsKeys::language).toString().isEmpty())
        return;
    QSettings().setValue(SettingsKeys::language, languageFromLocaleName(systemLocaleName));
}

QStringList Startup::cataloguePrefixes()
{
    return {QStringLiteral(":translations/qt_"), QStringLiteral(":pylon_router_"),
            QStringLiteral(":translations/misc_"), QStringLiteral(":translations/netprotocols_")};
}

void Startup::installTranslators()
{
    const QString code = QSettings().value(SettingsKeys::language).toString();
    if (code != QLatin1String("pl"))
        return;

    for (const QString &prefix : cataloguePrefixes()) {
        Translation translation;
        translation.fileName = prefix + code + QLatin1String(".qm");
        translation.translator = new QTranslator(application);
        translation.loaded = translation.translator->load(translation.fileName);
        // Installed even when empty, like the others: a missing catalogue simply leaves its
        // texts in English.
        QCoreApplication::installTranslator(translation.translator);
        installed.append(translation);
    }
}
