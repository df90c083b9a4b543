#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpServer;
class QTcpSocket;

// A scripted FTP server on 127.0.0.1 for byte-exact replies. By default it answers like a
// plain server (any user and password, PASV, PORT, STOR into memory, RNFR/RNTO and DELE on
// what it stored, MLST with the mode of a stored file and SITE CHMOD to change it, ABOR of a
// running store with 426 and 226); every reply can be replaced by raw bytes, multi-line or
// malformed ones included, and replies can be sent in small pieces. One control connection
// at a time.
class FakeFtpServer final : public QObject
{
    Q_OBJECT

public:
    explicit FakeFtpServer(QObject *parent = nullptr);
    ~FakeFtpServer() override;
    Q_DISABLE_COPY_MOVE(FakeFtpServer)

    bool listen();
    quint16 port() const;

    QByteArray greeting = "220 Fake FTP server ready.\r\n";
    // Raw bytes sent instead of the default reply to a command, by its verb ("USER", "PASS",
    // "CWD", "TYPE", "PASV", "STOR", ...). An empty value sends nothing. For "PASV" the text
    // "%1" is replaced by "h1,h2,h3,h4,p1,p2" of a real data listener.
    QHash<QByteArray, QByteArray> replies;
    // The address named in the passive reply (the listener's own when null). When it differs,
    // a trap listener on that address and the same port counts connections made to it.
    QHostAddress advertisedAddress;
    // STOR: the preliminary reply and the final one, sent when the client has ended the
    // data connection, or at once after the preliminary one (the data is still taken), or
    // after this side has dropped the data connection unread. DropConnections plays a server
    // that dies during the store: after the preliminary reply it drops the data connection
    // and closes the control connection, with no final reply.
    enum StoreEnd { FinalAfterData, FinalBeforeData, DropData, DropConnections };
    QByteArray storePreliminary = "150 Ok to send data.\r\n";
    QByteArray storeFinal = "226 Transfer complete.\r\n";
    StoreEnd storeEnd = FinalAfterData;
    // When false, the bytes of a store are left unread: a server that hangs after its 150.
    bool takeData = true;
    // LIST after PORT, when not null: like a fast server, this side connects, sends these bytes
    // and closes before its 150 and 226 go out together. When null, LIST is not implemented.
    QByteArray activeListing;
    // When not 0, every reply goes out in pieces of this many bytes, one per event loop turn.
    int pieceSize = 0;

    QByteArrayList commands;           // every command line received, without its line end
    QHash<QString, QByteArray> stored; // STOR name -> bytes received
    // Name -> mode of a stored file: a new file gets newFileMode, a file stored over keeps
    // its own, RNTO takes the mode along and SITE CHMOD sets it.
    QHash<QString, int> modes;
    int newFileMode = 0600;
    int controlConnections = 0;
    int dataConnections = 0;
    int trapConnections = 0;

    void closeControl();

private:
    void acceptControl();
    void controlReadyRead();
    void handleCommand(const QByteArray &line);
    void startPassive(const QByteArray &templateReply);
    void startStore(const QString &name);
    void sendActiveListing();
    void acceptData();
    void dataReadyRead();
    void dataFinished();
    void send(const QByteArray &bytes);
    void sendPiece();

    QTcpServer *server = nullptr;
    QPointer<QTcpSocket> control;
    QByteArray controlBuffer;
    QTcpServer *dataListener = nullptr;
    QTcpServer *trap = nullptr;
    QHostAddress activeAddress;
    quint16 activePort = 0;
    QPointer<QTcpSocket> dataSocket;
    QString storeName;
    QString renameFrom;
    QByteArray storeData;
    bool storing = false;
    QByteArrayList outgoing;
    QTimer drip;
};
