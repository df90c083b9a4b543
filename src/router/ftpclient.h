#pragma once

#include "router/ftpreplyparser.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QTcpServer;
class QTcpSocket;

// A small asynchronous FTP client (RFC 959) on one control connection. Commands are queued
// and run one after another; each call returns the command's id, and the client reports
// commandStarted(id), commandFinished(id, error) and, once the queue has run empty,
// done(error). When a command fails the commands queued after it are dropped.
//
// A command that sees no progress for 30 seconds (no whole reply from the server, no byte of
// a file taken by it) fails with TimedOut, or with ReplyTooLong when a reply has begun and
// not ended by then; a reply longer than 64 KiB fails the command with ReplyTooLong at once.
// Either ends the connection.
//
// Data connections go to the control connection's peer only: the address that a server
// names in its passive reply is not followed elsewhere, and in active mode only a
// connection from that peer is accepted, so a hostile server cannot bounce us at another
// host.
class FtpClient final : public QObject
{
    Q_OBJECT

public:
    enum State { Unconnected, HostLookup, Connecting, Connected, LoggedIn, Closing };
    Q_ENUM(State)
    enum Error { NoError, UnknownError, HostNotFound, ConnectionRefused, NotConnected, TimedOut, ReplyTooLong };
    Q_ENUM(Error)
    enum Command { None, SetTransferMode, ConnectToHost, Login, Close, Cd, Put };
    Q_ENUM(Command)
    enum TransferMode { Active, Passive };
    Q_ENUM(TransferMode)
    // Ascii sends "TYPE A" but the bytes themselves unchanged.
    enum TransferType { Binary, Ascii };
    Q_ENUM(TransferType)
    // ViaTemporary stores the bytes as ".<name>.part" in the same directory and renames that
    // onto the name after the server has taken it all (RNFR/RNTO): the old file is replaced
    // whole or not at all. The file it replaces keeps its mode: that is read first (MLST,
    // else LIST) and given to the temporary (SITE CHMOD) before the rename. A file whose
    // mode cannot be read, on a server that refuses SITE CHMOD, or on one that does not know
    // RNFR (500, 502, 504), is stored in place, which keeps its mode; a temporary stored
    // before that came out is removed first. A refusal holds for the rest of the session.
    enum Store { Direct, ViaTemporary };
    Q_ENUM(Store)

    explicit FtpClient(QObject *parent = nullptr);
    ~FtpClient() override;
    Q_DISABLE_COPY_MOVE(FtpClient)

    int setTransferMode(TransferMode mode);
    int connectToHost(const QString &host, quint16 port = 21);
    int login(const QString &user, const QString &password);
    int cd(const QString &directory);
    int put(const QByteArray &data, const QString &file, TransferType type = Binary, Store store = Direct);
    int close();

    // The name under which put() with ViaTemporary stores a file first.
    static QString temporaryName(const QString &file);

    // The command that has started and not yet finished (still so while commandFinished()
    // is being emitted for it).
    Command currentCommand() const;
    int currentId() const;
    bool hasPendingCommands() const { return !pending.isEmpty(); }
    // Drops the queued commands; the current one goes on.
    void clearPendingCommands();

    State state() const { return currentState; }
    Error error() const { return lastError; }
    QString errorString() const { return lastErrorString; }

public slots:
    // Drops the queued commands and stops the current one, which then finishes with an
    // error (from the event loop, never inside this call). A transfer in progress is
    // aborted on the server with "ABOR".
    void abort();

    // Ends the session for good and deletes the client once it is over, never inside this
    // call: the queued commands are dropped, a store still running is aborted (ABOR, its
    // replies read), a temporary file left by a failed or cut-short put() is removed (DELE),
    // then the client says QUIT. No signal but temporaryLeft() is emitted after this call. A
    // server that does not answer makes the client give up and go after 10 seconds. Until
    // the client has gone, a connectToHost() of another client waits: its upload could
    // otherwise store the very temporary file this one is about to remove.
    void shutDown();

    // For tests only: how long a command may go without progress, and how long shutDown()
    // may take; 0 restores 30 and 10 seconds.
    static void setStallTimeoutForTesting(int milliseconds);
    static void setShutDownTimeoutForTesting(int milliseconds);

signals:
    void stateChanged(int state);
    void commandStarted(int id);
    void commandFinished(int id, bool error);
    void done(bool error);
    void dataTransferProgress(qint64 done, qint64 total);
    // The server refused to remove a temporary file the client had stored (its path); it is
    // left on the server. Also emitted after shutDown(); connect it queued.
    void temporaryLeft(const QString &name);

private:
    struct Request
    {
        int id = 0;
        Command command = None;
        QString text;        // host, user, directory or remote file name
        QString secondText;  // password
        quint16 port = 0;
        QByteArray data;
        TransferType type = Binary;
        TransferMode mode = Passive;
        Store store = Direct;
    };

    // What the current command waits for.
    enum Step {
        Idle, AwaitingCleanUp, ControlConnecting, Greeting, UserSent, PasswordSent, Simple,
        MlstOptionsSent, MlstSent, TypeSent, PassiveSent, PortSent, DataConnecting, ListSent,
        StoreSent, ChmodSent, RenameFromSent, RenameToSent, FallbackDeleteSent, Quitting
    };

    int enqueue(Request request);
    void scheduleNextCommand();
    void startNextCommand();
    void execute();
    void startTransfer();
    void finishCommand(bool failed);
    void finishLater(bool failed);
    void fail(Error error, const QString &text);
    void setState(State state);
    void send(const QString &line);
    bool requireConnection();

    void controlStateChanged();
    void controlConnected();
    void controlReadyRead();
    void controlError();
    void controlDisconnected();
    void handleReply(const FtpReplyParser::Reply &reply);
    void handleStoreReply(const FtpReplyParser::Reply &reply);
    bool awaitCleanUps();
    void lookUpMode();
    void startListing();
    FtpReplyParser::FileMode listedMode() const;
    void storeReplacing(FtpReplyParser::FileMode found);
    void startStore();
    void openData();
    void sendTransfer();
    void sendStore();
    void storeInPlace();
    void stalled();
    void sendNextCleanupLine();
    void handleCleanupReply(const FtpReplyParser::Reply &reply);

    void openPassiveData(const FtpReplyParser::Reply &reply);
    void openActiveData();
    void acceptActiveData();
    void useDataSocket(QTcpSocket *socket);
    void dataConnected();
    void dataReadyRead();
    void dataDisconnected();
    void writeData();
    void dataBytesWritten(qint64 bytes);
    void dataError();
    void closeData();

    QTcpSocket *control = nullptr;
    FtpReplyParser parser;
    QTcpSocket *data = nullptr;
    QTcpServer *listener = nullptr;

    QList<Request> pending;
    Request current;
    bool running = false;
    bool finishing = false;
    bool finishScheduled = false;
    bool startScheduled = false;
    bool hadError = false;
    int lastId = 0;
    Step step = Idle;
    // Commands sent whose final reply has not come yet, and replies still owed to commands
    // that were given up (aborted): those are skipped, replies come in order.
    int outstanding = 0;
    int staleReplies = 0;

    TransferMode transferMode = Passive;
    bool storeStarted = false;   // a 1xx reply to STOR came
    bool transferOpen = false;   // STOR sent, its final reply not yet come
    bool renameUnsupported = false;
    bool mlstOptionsSent = false;
    bool mlstUnsupported = false;
    bool chmodRefused = false;
    int keptMode = -1;           // the mode the temporary of the current put() is given, or -1
    bool listing = false;        // the data connection carries a listing, not a file
    QByteArray listed;
    bool listingTooLong = false;
    bool listingEnded = false;   // the server has closed the listing's data connection
    bool listingReplied = false; // its positive final reply has come
    QString storeName;           // where the current put() stores its bytes
    QString leftoverTemporary;   // a temporary file a put() may have left on the server
    bool temporaryStored = false; // the server began to store it (a 1xx reply came)
    QTimer stallTimer;

    bool shuttingDown = false;
    QStringList cleanupLines;    // what shutDown() still has to say, in order
    QString cleanupLineSent;     // the last of them sent
    bool awaitingSync = false;   // after ABOR, until the NOOP behind it is answered
    QTimer shutDownTimer;
    qint64 handedOver = 0;       // bytes given to the data socket
    qint64 written = 0;          // bytes the data socket has written

    State currentState = Unconnected;
    Error lastError = NoError;
    QString lastErrorString;
};
