#include "management/openvpnmanagement.h"

#include "management/managementprotocol.h"

#include <QByteArrayView>
#include <QTcpSocket>

using ManagementProtocol::Notification;

namespace {

// OpenVPN sends its management password prompt without a line end.
constexpr QByteArrayView enterPassword("ENTER PASSWORD:");
constexpr QByteArrayView success("SUCCESS:");
// What an older OpenVPN says before it asks again.
constexpr QByteArrayView badPassword("ERROR: bad password");

constexpr QLatin1StringView holdWaiting("Waiting for hold release");
constexpr QLatin1StringView holdSucceeded("hold release succeeded");

constexpr QLatin1StringView needPrivateKey(">PASSWORD:Need 'Private Key' password");
constexpr QLatin1StringView needAuth(">PASSWORD:Need 'Auth' username/password");
constexpr QLatin1StringView privateKeyFailed(">PASSWORD:Verification Failed: 'Private Key'");
constexpr QLatin1StringView authFailed(">PASSWORD:Verification Failed: 'Auth'");

struct StateWord
{
    QLatin1StringView word;
    OpenVpnManagement::VpnState state = OpenVpnManagement::StateUndefined;
};

constexpr StateWord stateWords[] = {
    {QLatin1StringView("CONNECTING"), OpenVpnManagement::StateConnecting},
    {QLatin1StringView("WAIT"), OpenVpnManagement::StateWait},
    {QLatin1StringView("AUTH"), OpenVpnManagement::StateAuth},
    {QLatin1StringView("GET_CONFIG"), OpenVpnManagement::StateGetConfig},
    {QLatin1StringView("ASSIGN_IP"), OpenVpnManagement::StateAssignIp},
    {QLatin1StringView("ADD_ROUTES"), OpenVpnManagement::StateAddRoutes},
    {QLatin1StringView("CONNECTED"), OpenVpnManagement::StateConnected},
    {QLatin1StringView("RECONNECTING"), OpenVpnManagement::StateReconnecting},
    {QLatin1StringView("EXITING"), OpenVpnManagement::StateExiting},
};

} // namespace

OpenVpnManagement::OpenVpnManagement(QObject *parent)
    : QtTelnet(parent)
{
    timer.setSingleShot(true);
    timer.setInterval(timeout);

    connect(this, &QtTelnet::message, this, &OpenVpnManagement::processMessage);
    connect(this, &QtTelnet::disconnected, this, &OpenVpnManagement::close);
    connect(&timer, &QTimer::timeout, this, &OpenVpnManagement::timeoutSlot);
    // On any failed connection (a socket error or an over-long line), and before the owner
    // hears of it: the owner may show the error in a modal box, and the attempt that failed
    // must not come up with a time-out of its own while the box is open.
    connect(this, &QtTelnet::connectionError, &timer, &QTimer::stop);
}

OpenVpnManagement::~OpenVpnManagement() = default;

OpenVpnManagement::VpnState OpenVpnManagement::stateForWord(QStringView word)
{
    for (const StateWord &entry : stateWords) {
        if (word == entry.word)
            return entry.state;
    }
    return StateUndefined;
}

void OpenVpnManagement::connectToHost(const QString &host, quint16 port)
{
    QtTelnet::connectToHost(host, port);
    // A new connection is a new conversation: nothing sent on an earlier one can be answered
    // on it, and OpenVPN repeats a password prompt that is still open.
    ++connectionSerial;
    commands.clear();
    commandTypes.clear();
    currentCommand = MsgNone;
    responseLines.clear();
    passwordPending = false;
    managementPasswordAsked = false;
    managementPasswordSent = false;
    timer.start();
}

void OpenVpnManagement::connectToHost(const QString &host)
{
    connectToHost(host, 23);
}

void OpenVpnManagement::close()
{
    // A connection that has said nothing yet is left alone; one that asked for the
    // management password has begun its conversation.
    if (!managementActive && !managementPasswordAsked)
        return;
    // Cleared first: closing the socket reports the disconnection, which calls back here.
    managementActive = false;
    managementPasswordAsked = false;
    managementPasswordSent = false;
    ++connectionSerial;
    timer.stop();
    QtTelnet::close();
    commands.clear();
    commandTypes.clear();
    currentCommand = MsgNone;
    applyState(StateUndefined);
}

OpenVpnManagement::VpnState OpenVpnManagement::state() const
{
    return vpnState;
}

void OpenVpnManagement::setTimeout(int val)
{
    timeout = val;
    timer.setInterval(val);
}

void OpenVpnManagement::echoOn(bool on)
{
    prepareCommand(MsgEcho, on ? QStringLiteral("echo on all") : QStringLiteral("echo off"));
}

void OpenVpnManagement::echoOn()
{
    echoOn(true);
}

void OpenVpnManagement::logOn(bool on)
{
    prepareCommand(MsgLog, on ? QStringLiteral("log on all") : QStringLiteral("log off"));
}

void OpenVpnManagement::logOn()
{
    logOn(true);
}

void OpenVpnManagement::stateOn(bool on)
{
    prepareCommand(MsgState, on ? QStringLiteral("state on all") : QStringLiteral("state off"));
}

void OpenVpnManagement::stateOn()
{
    stateOn(true);
}

void OpenVpnManagement::getState()
{
    prepareCommand(MsgState, QStringLiteral("state"));
}

void OpenVpnManagement::getHold()
{
    prepareCommand(MsgHold, QStringLiteral("hold"));
}

void OpenVpnManagement::holdRelease()
{
    prepareCommand(MsgHold, QStringLiteral("hold release"));
}

void OpenVpnManagement::getVerb()
{
    prepareCommand(MsgVerb, QStringLiteral("verb"));
}

void OpenVpnManagement::setVerb(int level)
{
    prepareCommand(MsgVerb, QStringLiteral("verb ") + QString::number(level));
}

void OpenVpnManagement::getVersion()
{
    prepareCommand(MsgVersion, QStringLiteral("version"));
}

void OpenVpnManagement::getStatus()
{
    prepareCommand(MsgStatus, QStringLiteral("status 2"));
}

bool OpenVpnManagement::kill(const QString &instance)
{
    if (!conversationOpen())
        return false;
    if (!fitsValue(instance)) {
        emit commandRefused(MsgKill);
        return false;
    }
    prepareCommand(MsgKill, QStringLiteral("kill ") + ManagementProtocol::quoted(instance));
    return true;
}

bool OpenVpnManagement::clientKill(qint64 clientId)
{
    if (!conversationOpen() || clientId < 0)
        return false;
    prepareCommand(MsgKill, QStringLiteral("client-kill ") + QString::number(clientId));
    return true;
}

int OpenVpnManagement::disconnectClient(const QString &commonName, const QList<qint64> &clientIds)
{
    if (ManagementProtocol::killableByName(commonName) || clientIds.isEmpty())
        return kill(commonName) ? 1 : 0;
    int queued = 0;
    for (const qint64 id : clientIds)
        queued += clientKill(id) ? 1 : 0;
    return queued;
}

void OpenVpnManagement::sendHupSignal()
{
    prepareCommand(MsgSighup, QStringLiteral("signal SIGHUP"));
}

void OpenVpnManagement::sendTermSignal()
{
    prepareCommand(MsgSigterm, QStringLiteral("signal SIGTERM"));
}

void OpenVpnManagement::sendUsr1Signal()
{
    prepareCommand(MsgSigusr1, QStringLiteral("signal SIGUSR1"));
}

void OpenVpnManagement::exit()
{
    prepareCommand(MsgExit, QStringLiteral("exit"));
}

QString OpenVpnManagement::authRetryLine(bool retry)
{
    return retry ? QStringLiteral("auth-retry interact") : QStringLiteral("auth-retry none");
}

void OpenVpnManagement::queueFront(MessageType type, const QString &command)
{
    commandTypes.prepend(type);
    commands.prepend(command);
}

void OpenVpnManagement::sendPrivKeyPassword(const QString &password, bool retry)
{
    if (!conversationOpen())
        return;
    if (!fitsValue(password)) {
        refuse(MsgPassword, &OpenVpnManagement::privKeyPasswordRequest);
        return;
    }
    queueFront(MsgPassword, QStringLiteral("password \"Private Key\" ") + ManagementProtocol::quoted(password));
    queueFront(MsgAuthRetry, authRetryLine(retry));
    passwordPending = false;
    processCommands();
}

void OpenVpnManagement::sendPrivKeyPassword(const QString &password)
{
    sendPrivKeyPassword(password, true);
}

void OpenVpnManagement::sendAuthData(const QString &username, const QString &password, bool retry)
{
    if (!conversationOpen())
        return;
    if (!fitsValue(username) || !fitsValue(password)) {
        refuse(MsgPassword, &OpenVpnManagement::authRequest);
        return;
    }
    queueFront(MsgPassword, QStringLiteral("password \"Auth\" ") + ManagementProtocol::quoted(password));
    queueFront(MsgPassword, QStringLiteral("username \"Auth\" ") + ManagementProtocol::quoted(username));
    queueFront(MsgAuthRetry, authRetryLine(retry));
    passwordPending = false;
    processCommands();
}

void OpenVpnManagement::sendAuthData(const QString &username, const QString &password)
{
    sendAuthData(username, password, true);
}

void OpenVpnManagement::sendManagementPassword(const QString &password)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    // OpenVPN compares this line whole, so it is not quoted; only a line break could harm.
    const QString line = ManagementProtocol::singleLine(password);
    if (!fitsLine(line)) {
        refuse(MsgPassword, &OpenVpnManagement::managementPasswordRequest);
        return;
    }
    sendData(line);
    managementPasswordSent = true;
    passwordPending = false;
    timer.start();
}

bool OpenVpnManagement::conversationOpen() const
{
    return managementActive && socket->state() == QAbstractSocket::ConnectedState;
}

bool OpenVpnManagement::fitsValue(const QString &value)
{
    return bytesFromLine(ManagementProtocol::singleLine(value)).size() <= ManagementProtocol::maxValueBytes;
}

bool OpenVpnManagement::fitsLine(const QString &line)
{
    return bytesFromLine(line).size() <= ManagementProtocol::maxLineBytes;
}

void OpenVpnManagement::refuse(MessageType type, void (OpenVpnManagement::*prompt)())
{
    emit commandRefused(type);
    // OpenVPN still waits for an answer. Asked from the event loop, once whoever heard of the
    // refusal is done with it, and only if this conversation still waits.
    const quint64 serial = connectionSerial;
    QTimer::singleShot(0, this, [this, serial, prompt] {
        if (serial == connectionSerial && passwordPending)
            emit(this->*prompt)();
    });
}

void OpenVpnManagement::prepareCommand(OpenVpnManagement::MessageType type, const QString &command)
{
    // A command on a closed connection would wait for a reply that cannot come.
    if (!conversationOpen())
        return;
    if (!fitsLine(command)) {
        emit commandRefused(type);
        return;
    }
    commandTypes.append(type);
    commands.append(command);
    processCommands();
}

void OpenVpnManagement::processCommands()
{
    if (commands.isEmpty() || currentCommand != MsgNone || passwordPending)
        return;
    currentCommand = commandTypes.takeFirst();
    const QString command = commands.takeFirst();
    historyFollows = ManagementProtocol::repliesWithHistory(command);
    // A list cut short by a prompt or a lost connection must not lead the next one.
    if (currentCommand == MsgVersion || currentCommand == MsgStatus)
        responseLines.clear();
    sendData(command);
    timer.start();
}

void OpenVpnManagement::finishList(const QString &line)
{
    const MessageType type = currentCommand;
    responseLines.append(line);
    if (!ManagementProtocol::isEnd(line) && !ManagementProtocol::isError(line))
        return;
    currentCommand = MsgNone;
    QStringList lines;
    lines.swap(responseLines);
    if (type == MsgVersion)
        emit versionResponse(lines);
    else
        emit statusResponse(lines);
}

void OpenVpnManagement::buildResponse(const QString &str)
{
    const MessageType type = currentCommand;
    switch (type) {
    case MsgEcho:
    case MsgLog:
    case MsgState: {
        // History lines up to END follow only an accepted "all", number or "state" form;
        // OpenVPN answers an error or an "on"/"off" form with this one line.
        const bool history = historyFollows && !ManagementProtocol::isError(str);
        currentCommand = history ? MessageType(type + (MsgEchoHistory - MsgEcho)) : MsgNone;
        if (type == MsgEcho) {
            emit echoResponse(str);
        } else if (type == MsgLog) {
            emit logResponse(str);
        } else {
            emit stateResponse(str);
            // "state" answers with the state line itself, without a SUCCESS line first.
            if (history && ManagementProtocol::beginsWithTimestamp(str))
                changeState(str);
        }
        break;
    }
    case MsgEchoHistory:
        if (ManagementProtocol::isEnd(str))
            currentCommand = MsgNone;
        else
            emit echoMessage(str);
        break;
    case MsgLogHistory:
        if (ManagementProtocol::isEnd(str))
            currentCommand = MsgNone;
        else
            emit logMessage(str);
        break;
    case MsgStateHistory:
        if (ManagementProtocol::isEnd(str)) {
            currentCommand = MsgNone;
        } else {
            emit stateMessage(str);
            changeState(str);
        }
        break;
    case MsgVersion:
    case MsgStatus:
        finishList(str);
        break;
    case MsgHold:
        currentCommand = MsgNone;
        processHold(str);
        emit holdResponse(str);
        break;
    case MsgVerb:
        currentCommand = MsgNone;
        emit verbResponse(str);
        break;
    case MsgKill:
        currentCommand = MsgNone;
        emit killResponse(str);
        break;
    case MsgAuthRetry:
        currentCommand = MsgNone;
        emit authRetryResponse(str);
        break;
    case MsgSighup:
        currentCommand = MsgNone;
        emit sighupResponse(str);
        break;
    case MsgSigterm:
        currentCommand = MsgNone;
        emit sigtermResponse(str);
        break;
    case MsgSigusr1:
        currentCommand = MsgNone;
        emit sigusr1Response(str);
        break;
    case MsgExit:
    case MsgPassword:
        currentCommand = MsgNone;
        break;
    case MsgNone:
        break;
    }
}

void OpenVpnManagement::timeoutSlot()
{
    emit timeoutReached();
}

void OpenVpnManagement::socketReadyRead()
{
    if (!managementActive) {
        if (managementPasswordSent && socket->canReadLine() && socket->peek(badPassword.size()) == badPassword)
            socket->readLine();
        const QByteArray head = socket->peek(enterPassword.size());
        if (head == enterPassword) {
            socket->skip(enterPassword.size());
            managementPasswordAsked = true;
            passwordPending = true;
            timer.stop();
            // Asked again after a password went out: OpenVPN 2.6 says nothing else of it.
            if (managementPasswordSent)
                emit managementPasswordFail();
            emit managementPasswordRequest();
            return;
        }
        if (head.startsWith(success))
            passwordPending = false;
    }
    QtTelnet::socketReadyRead();
}

void OpenVpnManagement::socketError(QAbstractSocket::SocketError error)
{
    // After the third wrong password OpenVPN closes the connection without a word.
    if (error == QAbstractSocket::RemoteHostClosedError && !managementActive && managementPasswordSent) {
        fail(tr("OpenVPN did not accept the management interface password and closed the connection."));
        return;
    }
    QtTelnet::socketError(error);
}

void OpenVpnManagement::processMessage(const QStringList &lines)
{
    timer.stop();
    if (!managementActive)
        trueConnected();
    // A receiver may close or reconnect; what is left of the batch then belongs to a
    // conversation that has ended.
    const quint64 serial = connectionSerial;
    for (const QString &line : lines) {
        if (serial != connectionSerial)
            return;
        const Notification kind = ManagementProtocol::notificationKind(line);
        if (kind == Notification::None) {
            if (currentCommand != MsgNone)
                buildResponse(line);
            else
                emit otherMessage(line);
            continue;
        }
        switch (kind) {
        case Notification::Hold:
            processHold(line);
            break;
        case Notification::Password:
            processPassword(line);
            break;
        case Notification::State:
            changeState(line);
            break;
        default:
            break;
        }
        const QString text = line.mid(ManagementProtocol::prefixLength(kind));
        switch (kind) {
        case Notification::Echo: emit echoMessage(text); break;
        case Notification::Fatal: emit fatalMessage(text); break;
        case Notification::Hold: emit holdMessage(text); break;
        case Notification::Info: emit infoMessage(text); break;
        case Notification::Log: emit logMessage(text); break;
        case Notification::Client: emit clientMessage(text); break;
        case Notification::Password: emit passwordMessage(text); break;
        case Notification::State: emit stateMessage(text); break;
        case Notification::None: break;
        }
    }
    processCommands();
}

void OpenVpnManagement::trueConnected()
{
    managementActive = true;
    getState();
    emit managementConnected();
}

void OpenVpnManagement::processHold(const QString &str)
{
    if (str.contains(holdWaiting))
        emit managementHoldActive();
    else if (str.contains(holdSucceeded))
        emit holdReleased();
}

void OpenVpnManagement::processPassword(const QString &str)
{
    const bool privateKey = str.contains(needPrivateKey);
    if (privateKey || str.contains(needAuth)) {
        // The reply to a command already sent still comes (OpenVPN answers commands while
        // it waits for a password), so it stays awaited; only the queue is held.
        passwordPending = true;
        timer.stop();
        if (privateKey)
            emit privKeyPasswordRequest();
        else
            emit authRequest();
    } else if (str.contains(privateKeyFailed)) {
        emit privKeyPasswordFail();
    } else if (str.contains(authFailed)) {
        emit authFail();
    }
}

void OpenVpnManagement::changeState(const QString &str)
{
    applyState(stateForWord(ManagementProtocol::stateWord(str)));
}

void OpenVpnManagement::applyState(VpnState state)
{
    if (state == vpnState)
        return;
    vpnState = state;
    emit stateChanged(state);
}
