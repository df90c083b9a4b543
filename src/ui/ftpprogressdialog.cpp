#include "ui/ftpprogressdialog.h"

#include "router/ftpclient.h"
#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace {
constexpr quint16 ftpPort = 21;
quint16 uploadPort = ftpPort;

// What stays once the dialog has gone.
QObject *lastingOwner(QWidget *parent)
{
    return parent ? static_cast<QObject *>(parent) : QCoreApplication::instance();
}
} // namespace

FtpProgressDialog::FtpProgressDialog(QWidget *parent)
    : QProgressDialog(parent), ftp(new FtpClient(this))
{
    // The dialog shows neither a title nor a text; a screen reader still says what it is.
    setAccessibleName(tr("Sending the configuration to the router"));
    if (auto *bar = findChild<QProgressBar *>())
        bar->setAccessibleName(tr("Upload progress"));
    connect(ftp, &FtpClient::done, this, &FtpProgressDialog::ftpDone);
    connect(ftp, &FtpClient::commandFinished, this, &FtpProgressDialog::ftpCommandFinished);
    connect(this, &QProgressDialog::canceled, this, &FtpProgressDialog::ftpCanceled);
    // The client may learn this after the dialog has gone, while it cleans up: the message
    // belongs to the window (or the application), and opens from the event loop, never
    // inside the client's own handling of the reply.
    connect(ftp, &FtpClient::temporaryLeft, lastingOwner(parent), [parent](const QString &name) {
        Dialogs::instance().message(parent, QMessageBox::Warning, tr("Warning"),
                                    tr("The server refused to remove the temporary file %1; it was left "
                                       "on the router.").arg(name));
    }, Qt::QueuedConnection);
}

FtpProgressDialog::~FtpProgressDialog()
{
    releaseClient();
}

void FtpProgressDialog::setUploadPortForTesting(quint16 port)
{
    uploadPort = port != 0 ? port : ftpPort;
}

int FtpProgressDialog::upload(QWidget *parent, const QString &host, const QString &login,
                              const QString &password, const QList<ConfigExport::File> &files)
{
    FtpProgressDialog dialog(parent);
    dialog.setValue(0);
    // Transfer mode, connection and login come before the files.
    dialog.setMaximum(int(files.size()) + 3);
    dialog.ftp->setTransferMode(FtpClient::Passive);
    dialog.ftp->connectToHost(host, uploadPort);
    dialog.ftp->login(login, password);
    for (const ConfigExport::File &file : files)
        dialog.ftp->put(file.content, file.path, FtpClient::Ascii, FtpClient::ViaTemporary);
    return Dialogs::instance().exec(&dialog);
}

// The dialog goes as soon as its modal run ends; the client's goodbye takes a few more
// round trips, so it moves to an owner that stays (the dialog's parent, or the application)
// and deletes itself when it is done.
void FtpProgressDialog::releaseClient()
{
    if (!ftp)
        return;
    FtpClient *client = ftp;
    ftp = nullptr;
    client->disconnect(this);
    client->setParent(lastingOwner(parentWidget()));
    client->shutDown();
}

void FtpProgressDialog::ftpDone(bool)
{
    releaseClient();
}

void FtpProgressDialog::ftpCommandFinished(int, bool error)
{
    if (!ftp)
        return;
    const FtpClient::Command command = ftp->currentCommand();
    if (!error) {
        // At the maximum the dialog resets and hides itself, which ends its modal run.
        setValue(value() + 1);
        return;
    }
    // A server that stopped answering before the files, or whose reply does not end, is one
    // we have no connection to.
    const bool noConnection = (ftp->error() == FtpClient::TimedOut && command != FtpClient::Put)
                              || ftp->error() == FtpClient::ReplyTooLong;
    releaseClient();

    QString text;
    switch (noConnection ? FtpClient::ConnectToHost : command) {
    case FtpClient::ConnectToHost:
        text = tr("No connection to the server.");
        break;
    case FtpClient::Login:
        text = tr("Wrong user or password.");
        break;
    case FtpClient::Cd:
        text = tr("Wrong destination path.");
        break;
    case FtpClient::Put:
        text = tr("Can not send file to the server.");
        break;
    default:
        break;
    }
    if (!text.isEmpty())
        Dialogs::instance().message(this, QMessageBox::Critical, tr("Error"), text, QMessageBox::Ok);
    close();
}

void FtpProgressDialog::ftpCanceled()
{
    releaseClient();
}
