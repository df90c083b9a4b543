#pragma once

#include "router/configexport.h"

#include <QList>
#include <QProgressDialog>

class FtpClient;

// Modal progress of a configuration upload. It owns the FTP client, counts the client's
// finished commands and names the first failure in a message box. The client is released
// exactly once, by whichever of the slots or the destructor sees it first: it then outlives
// the dialog long enough to end the session properly (abort a store, remove its temporary
// file, say goodbye) and deletes itself.
class FtpProgressDialog final : public QProgressDialog
{
    Q_OBJECT

public:
    explicit FtpProgressDialog(QWidget *parent = nullptr);
    ~FtpProgressDialog() override;
    Q_DISABLE_COPY_MOVE(FtpProgressDialog)

    // The client; null once it has been released.
    FtpClient *client() const { return ftp; }

    // Uploads the files of an export to the router's FTP server (passive mode, port 21),
    // each under its path unchanged and with the ASCII type, through a temporary file that
    // replaces it whole, and runs the dialog modally through the dialog seam until it
    // closes. Returns the dialog's result.
    static int upload(QWidget *parent, const QString &host, const QString &login,
                      const QString &password, const QList<ConfigExport::File> &files);

    // For tests only: the server port upload() connects to instead of 21; 0 restores 21.
    static void setUploadPortForTesting(quint16 port);

private slots:
    void ftpDone(bool error);
    void ftpCommandFinished(int id, bool error);
    void ftpCanceled();

private:
    void releaseClient();

    FtpClient *ftp = nullptr;
};
