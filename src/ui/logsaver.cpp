#include "ui/logsaver.h"

#include "common/settingskeys.h"
#include "ui/configimport.h"
#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QSettings>
#include <QTextDocument>

LogSaver::LogSaver(QWidget *parent)
    : parent(parent)
{
}

void LogSaver::run(const QTextDocument &log)
{
    Dialogs &dialogs = Dialogs::instance();
    const QString start = QDir(QSettings().value(SettingsKeys::browseStartPath).toString())
                              .filePath(QStringLiteral("openvpn.log"));
    const QString fileName = dialogs.getSaveFileName(
        parent, QCoreApplication::translate("MainWindow", "Save log"), start,
        QCoreApplication::translate("MainWindow", "Log files (*.log *.txt);;All files (*)"));
    if (fileName.isEmpty())
        return;
    ConfigImport::rememberBrowsePath(fileName);
    QString error;
    if (!write(fileName, log.toPlainText(), &error)) {
        dialogs.message(parent, QMessageBox::Critical, QCoreApplication::translate("MainWindow", "Error"),
                        QCoreApplication::translate("MainWindow", "The log could not be saved to %1:\n%2")
                            .arg(QDir::toNativeSeparators(fileName), error));
    }
}

bool LogSaver::write(const QString &fileName, const QString &text, QString *errorString)
{
    QSaveFile file(fileName);
    const QByteArray bytes = text.toUtf8();
    // Flushed before the commit: commit() would put a file in place whose last buffered
    // bytes could not be written (a full disk). Without a commit the old file stays.
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit())
        return true;
    if (errorString)
        *errorString = file.errorString();
    return false;
}
