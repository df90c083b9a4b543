#include "ui/configimport.h"

#include "common/settingskeys.h"
#include "router/configextractor.h"
#include "ui/dialogs.h"
#include "ui/ftpprogressdialog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace {

QString setting(const QString &key)
{
    return QSettings().value(key).toString();
}

} // namespace

ConfigImport::ConfigImport(QWidget *parent)
    : parent(parent)
{
}

void ConfigImport::run(Destination destination)
{
    Dialogs &dialogs = Dialogs::instance();
    const QString fileName = dialogs.getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Read router configuration"),
        setting(SettingsKeys::browseStartPath),
        QCoreApplication::translate("MainWindow", "AES files (*.aes);;All files (*.*)"));
    rememberBrowsePath(fileName);
    if (fileName.isEmpty())
        return;

    ConfigExport configExport;
    if (!configExport.load(fileName)) {
        dialogs.message(parent, QMessageBox::Critical, QCoreApplication::translate("MainWindow", "Error"),
                        QCoreApplication::translate("MainWindow", "Could not read the file."));
        return;
    }

    bool ok = false;
    const QString password = dialogs.getText(
        parent, QCoreApplication::translate("MainWindow", "Insert password"),
        QCoreApplication::translate("MainWindow", "Configuration transport password:"), QLineEdit::Password,
        QString(), &ok);
    if (!ok) {
        configExport.clear();
        return;
    }

    ConfigExport::Result result = configExport.open(password);
    if (!result.ok) {
        dialogs.message(parent, QMessageBox::Critical, QCoreApplication::translate("MainWindow", "Error"),
                        QCoreApplication::translate("MainWindow", "Wrong password or XML syntax error."));
        return;
    }

    if (destination == Router) {
        FtpProgressDialog::upload(parent, setting(SettingsKeys::ip), result.login,
                                  setting(SettingsKeys::password), result.files);
        return;
    }
    extract(std::move(result.files));
}

void ConfigImport::extract(QList<ConfigExport::File> files)
{
    Dialogs &dialogs = Dialogs::instance();
    const QString directory = dialogs.getExistingDirectory(
        parent, QCoreApplication::translate("MainWindow", "Extract directory"),
        setting(SettingsKeys::browseStartPath), QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (directory.isEmpty())
        return;
    QStringList failed;
    const QStringList refused = ConfigExtractor::extract(directory, std::move(files), &failed);
    QStringList problems;
    if (!refused.isEmpty())
        problems.append(ConfigExtractor::refusalMessage(refused));
    if (!failed.isEmpty())
        problems.append(ConfigExtractor::failureMessage(failed));
    if (!problems.isEmpty()) {
        dialogs.message(parent, QMessageBox::Critical, QCoreApplication::translate("MainWindow", "Error"),
                        problems.join(QStringLiteral("\n\n")));
    }
}

void ConfigImport::rememberBrowsePath(const QString &fileName)
{
    if (fileName.isEmpty())
        return;
    const QString directory = QFileInfo(fileName).absolutePath();
    if (directory != setting(SettingsKeys::browseStartPath))
        QSettings().setValue(SettingsKeys::browseStartPath, directory);
}
