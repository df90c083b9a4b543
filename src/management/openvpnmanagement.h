#pragma once

#include "management/qttelnet.h"

#include <QList>
#include <QStringList>
#include <QTimer>

// Client of OpenVPN's management interface. Commands go out one at a time from a queue; each
// received line is sorted into an asynchronous notification or a reply to the outstanding
// command. On the way the client follows the VPN state, the hold and OpenVPN's password
// prompts, which the owner answers through the send... slots.
class OpenVpnManagement : public QtTelnet
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OpenVpnManagement)

public:
    // Kind of an outstanding command. The history kinds are never queued: they are the
    // phases after the first reply line of an echo, log or state command.
    enum MessageType {
        MsgNone = 0,
        MsgEcho = 1,
        MsgLog = 2,
        MsgState = 3,
        MsgEchoHistory = 4,
        MsgLogHistory = 5,
        MsgStateHistory = 6,
        MsgHold = 7,
        MsgVerb = 8,
        MsgVersion = 9,
        MsgStatus = 10,
        MsgKill = 11,
        MsgAuthRetry = 12,
        MsgSighup = 13,
        MsgSigterm = 14,
        MsgSigusr1 = 15,
        MsgExit = 16,
        MsgPassword = 17,
    };
    Q_ENUM(MessageType)

    // The VPN connection state as OpenVPN reports it.
    enum VpnState {
        StateUndefined = 0,
        StateConnecting = 1,
        StateWait = 2,
        StateAuth = 3,
        StateGetConfig = 4,
        StateAssignIp = 5,
        StateAddRoutes = 6,
        StateConnected = 7,
        StateReconnecting = 8,
        StateExiting = 9,
    };
    Q_ENUM(VpnState)

    explicit OpenVpnManagement(QObject *parent = nullptr);
    ~OpenVpnManagement() override;

    // The state an OpenVPN state word stands for (whole word, case-sensitive);
    // StateUndefined for any other word.
    static VpnState stateForWord(QStringView word);

public slots:
    virtual void connectToHost(const QString &host, quint16 port);
    void connectToHost(const QString &host);
    void close() override;
    VpnState state() const;
    void setTimeout(int val);

    void echoOn(bool on);
    void echoOn();
    void logOn(bool on);
    void logOn();
    void stateOn(bool on);
    void stateOn();
    void getState();
    void getHold();
    void holdRelease();
    void getVerb();
    void setVerb(int level);
    void getVersion();
    void getStatus();
    // False when nothing was queued: no conversation is open, or the name is refused.
    bool kill(const QString &instance);
    // Disconnects the connection with this client ID; false when nothing was queued.
    bool clientKill(qint64 clientId);
    // Disconnects every connection of a client: by its name ("kill"), or where OpenVPN would
    // take the name for an address, by the IDs of its connections ("client-kill" each), when
    // they are known. Returns how many commands were queued; each is answered by one
    // killResponse().
    int disconnectClient(const QString &commonName, const QList<qint64> &clientIds);
    void sendHupSignal();
    void sendTermSignal();
    void sendUsr1Signal();
    void exit();
    void sendPrivKeyPassword(const QString &password, bool retry);
    void sendPrivKeyPassword(const QString &password);
    void sendAuthData(const QString &username, const QString &password, bool retry);
    void sendAuthData(const QString &username, const QString &password);
    void sendManagementPassword(const QString &password);

signals:
    void authRetryResponse(const QString &resp);
    void echoResponse(const QString &resp);
    void holdResponse(const QString &resp);
    void killResponse(const QString &resp);
    void logResponse(const QString &resp);
    void stateResponse(const QString &resp);
    void statusResponse(const QStringList &resp);
    void sighupResponse(const QString &resp);
    void sigtermResponse(const QString &resp);
    void sigusr1Response(const QString &resp);
    void verbResponse(const QString &resp);
    void versionResponse(const QStringList &resp);
    void timeoutReached();
    // A command was not sent because OpenVPN would not take it whole: a value (a password,
    // a client's name) is too long. Nothing of it was sent; an open prompt is asked again.
    void commandRefused(OpenVpnManagement::MessageType type);

    void echoMessage(const QString &message);
    void fatalMessage(const QString &message);
    void holdMessage(const QString &message);
    void infoMessage(const QString &message);
    void logMessage(const QString &message);
    void clientMessage(const QString &message);
    void passwordMessage(const QString &message);
    void stateMessage(const QString &message);
    void otherMessage(const QString &message);

    void stateChanged(OpenVpnManagement::VpnState state);
    void managementHoldActive();
    void holdReleased();
    void managementPasswordRequest();
    // OpenVPN asks for the management password again: the one sent was wrong.
    void managementPasswordFail();
    void privKeyPasswordRequest();
    void privKeyPasswordFail();
    void authRequest();
    void authFail();
    void managementConnected();

protected slots:
    void processCommands();
    virtual void prepareCommand(OpenVpnManagement::MessageType type, const QString &command);
    void buildResponse(const QString &str);
    void timeoutSlot();

    void processMessage(const QStringList &lines);
    void processHold(const QString &str);
    void processPassword(const QString &str);
    void changeState(const QString &str);
    virtual void trueConnected();
    void socketReadyRead() override;
    void socketError(QAbstractSocket::SocketError error) override;

protected:
    void applyState(VpnState state);

    QStringList commands;
    QList<MessageType> commandTypes;
    MessageType currentCommand = MsgNone;
    QStringList responseLines;
    VpnState vpnState = StateUndefined;
    bool managementActive = false;
    bool passwordPending = false;
    int timeout = 3000;
    QTimer timer;

private:
    // The first batch of lines has been handled and the socket is still connected: only
    // then can a command be answered.
    bool conversationOpen() const;
    // Whether OpenVPN takes the value as one quoted argument, or the line whole.
    static bool fitsValue(const QString &value);
    static bool fitsLine(const QString &line);
    // Reports a refused answer to a prompt, which is then asked again.
    void refuse(MessageType type, void (OpenVpnManagement::*prompt)());
    void queueFront(MessageType type, const QString &command);
    static QString authRetryLine(bool retry);
    // Ends the list reply being collected and reports it.
    void finishList(const QString &line);

    // Whether the outstanding echo, log or state command goes on with history lines.
    bool historyFollows = false;
    // Changes whenever a conversation ends or a new one starts.
    quint64 connectionSerial = 0;
    // OpenVPN asked for the management password on this connection, and one was sent.
    bool managementPasswordAsked = false;
    bool managementPasswordSent = false;
};
