#include "ui/configimport.h"

#include "common/settingskeys.h"
#include "router/configextractor.h"
#include "router/routerpasswordstore.h"
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

ConfigImport::ConfigImport(QWidget *parent, RouterPasswordStore &routerPassword)
    : parent(parent), routerPassword(routerPassword)
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
                        result.unreadable
                            ? QCoreApplication::translate("MainWindow", "Could not read the file.")
                            : QCoreApplication::translate("MainWindow", "Wrong password or XML syntax error."));
        return;
    }

    if (destination == Router) {
        // The upload starts once the password is there, which may take the secret store a while.
        routerPassword.read(parent, [parent = parent, host = setting(SettingsKeys::ip), login = result.login,
                                     files = std::move(result.files)](const QString &password) {
            FtpProgressDialog::upload(parent, host, login, password, files);
        });
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
    if (refused.isEmpty() && failed.isEmpty())
        return;
    const auto problems = [&refused, &failed](ConfigExtractor::Length length) {
        QStringList messages = {ConfigExtractor::refusalMessage(refused, length),
                                ConfigExtractor::failureMessage(failed, length)};
        messages.removeAll(QString());
        return messages.join(QStringLiteral("\n\n"));
    };
    // The text names the first paths, each cut to a line; the details name them all.
    const QString text = problems(ConfigExtractor::Short);
    const QString details = problems(ConfigExtractor::Full);
    dialogs.message(parent, QMessageBox::Critical, QCoreApplication::translate("MainWindow", "Error"), text,
                    QMessageBox::Ok, QMessageBox::NoButton, details != text ? details : QString());
}

void ConfigImport::rememberBrowsePath(const QString &fileName)
{
    if (fileName.isEmpty())
        return;
    const QString directory = QFileInfo(fileName).absolutePath();
    if (directory != setting(SettingsKeys::browseStartPath))
        QSettings().setValue(SettingsKeys::browseStartPath, directory);
}
