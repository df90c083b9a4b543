#include "support/testsettings.h"

#include "support/secretstorelab.h"

#include <QCoreApplication>
#include <QSettings>

TestSettings::TestSettings()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnwell"));
    QCoreApplication::setApplicationName(QStringLiteral("Pylon Router"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    SecretStoreLab::shutOutSessionBus();
    clear();
}

TestSettings::~TestSettings()
{
    clear();
}

void TestSettings::clear()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}
