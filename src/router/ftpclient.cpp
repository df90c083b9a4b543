#include "router/ftpclient.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Enough in the socket's buffer to keep the line busy, little enough not to copy a large
// payload into it at once.
constexpr qint64 chunkSize = qint64(64) * 1024;
constexpr qint64 writeAhead = qint64(256) * 1024;

// A server that stalls (at the greeting, after a command, in the middle of a store) would
// hold the upload for ever.
constexpr int defaultStallTimeout = 30000;
int stallTimeout = defaultStallTimeout;
// Saying goodbye properly must not keep a client alive for long.
constexpr int defaultShutDownTimeout = 10000;
int shutDownTimeout = defaultShutDownTimeout;

// A listing of one file is a line; a server that sends more is not read further.
constexpr qsizetype maximumListing = qsizetype(64) * 1024;

// Clients whose shutDown() is removing a temporary file.
QList<QPointer<FtpClient>> cleaningUp;

// A line break inside an argument would smuggle another command onto the connection.
bool isSafeArgument(const QString &text)
{
    return !text.contains(u'\r') && !text.contains(u'\n') && !text.contains(QChar(u'\0'));
}

} // namespace

FtpClient::FtpClient(QObject *parent)
    : QObject(parent), control(new QTcpSocket(this))
{
    connect(control, &QAbstractSocket::stateChanged, this, &FtpClient::controlStateChanged);
    connect(control, &QAbstractSocket::connected, this, &FtpClient::controlConnected);
    connect(control, &QIODevice::readyRead, this, &FtpClient::controlReadyRead);
    connect(control, &QAbstractSocket::errorOccurred, this, &FtpClient::controlError);
    connect(control, &QAbstractSocket::disconnected, this, &FtpClient::controlDisconnected);
    stallTimer.setSingleShot(true);
    connect(&stallTimer, &QTimer::timeout, this, &FtpClient::stalled);
    shutDownTimer.setSingleShot(true);
    connect(&shutDownTimer, &QTimer::timeout, this, [this] {
        control->abort();
        deleteLater();
    });
}

FtpClient::~FtpClient()
{
    // The sockets go with their parent; they must not call back into a half-destroyed client.
    control->disconnect(this);
    if (data)
        data->disconnect(this);
    if (listener)
        listener->disconnect(this);
    cleaningUp.removeIf([this](const QPointer<FtpClient> &client) { return client.isNull() || client == this; });
}

int FtpClient::setTransferMode(TransferMode mode)
{
    Request request;
    request.command = SetTransferMode;
    request.mode = mode;
    return enqueue(std::move(request));
}

int FtpClient::connectToHost(const QString &host, quint16 port)
{
    Request request;
    request.command = ConnectToHost;
    request.text = host;
    request.port = port;
    return enqueue(std::move(request));
}

int FtpClient::login(const QString &user, const QString &password)
{
    Request request;
    request.command = Login;
    request.text = user;
    request.secondText = password;
    return enqueue(std::move(request));
}

int FtpClient::cd(const QString &directory)
{
    Request request;
    request.command = Cd;
    request.text = directory;
    return enqueue(std::move(request));
}

int FtpClient::put(const QByteArray &data, const QString &file, TransferType type, Store store)
{
    Request request;
    request.command = Put;
    request.text = file;
    request.data = data;
    request.type = type;
    request.store = store;
    return enqueue(std::move(request));
}

QString FtpClient::temporaryName(const QString &file)
{
    const qsizetype slash = file.lastIndexOf(u'/');
    return file.left(slash + 1) + u'.' + file.mid(slash + 1) + QStringLiteral(".part");
}

void FtpClient::setStallTimeoutForTesting(int milliseconds)
{
    stallTimeout = milliseconds > 0 ? milliseconds : defaultStallTimeout;
}

void FtpClient::setShutDownTimeoutForTesting(int milliseconds)
{
    shutDownTimeout = milliseconds > 0 ? milliseconds : defaultShutDownTimeout;
}

int FtpClient::close()
{
    Request request;
    request.command = Close;
    return enqueue(std::move(request));
}

FtpClient::Command FtpClient::currentCommand() const
{
    return running ? current.command : None;
}

int FtpClient::currentId() const
{
    return running ? current.id : 0;
}

void FtpClient::clearPendingCommands()
{
    pending.clear();
}

void FtpClient::abort()
{
    pending.clear();
    if (!running || finishing || finishScheduled)
        return;
    const Step was = step;
    step = Idle;
    lastError = UnknownError;
    lastErrorString = tr("Aborted.");
    if (was == ControlConnecting || was == Greeting) {
        control->abort();
        setState(Unconnected);
    } else if (was == StoreSent) {
        send(QStringLiteral("ABOR"));
    }
    finishLater(true);
}

int FtpClient::enqueue(Request request)
{
    request.id = ++lastId;
    const int id = request.id;
    pending.append(std::move(request));
    if (!running)
        scheduleNextCommand();
    return id;
}

// Commands start from the event loop, so that a caller queueing several commands sees every
// signal only after it has queued them all.
void FtpClient::scheduleNextCommand()
{
    if (startScheduled)
        return;
    startScheduled = true;
    QMetaObject::invokeMethod(this, &FtpClient::startNextCommand, Qt::QueuedConnection);
}

void FtpClient::startNextCommand()
{
    startScheduled = false;
    if (running || pending.isEmpty() || shuttingDown)
        return;
    current = pending.takeFirst();
    running = true;
    step = Idle;
    stallTimer.start(stallTimeout);
    const int id = current.id;
    const QPointer<FtpClient> guard(this);
    emit commandStarted(id);
    if (!guard || !running || current.id != id || finishScheduled)
        return;
    execute();
}

bool FtpClient::requireConnection()
{
    if ((currentState == Connected || currentState == LoggedIn)
        && control->state() == QAbstractSocket::ConnectedState)
        return true;
    fail(NotConnected, tr("Not connected"));
    return false;
}

void FtpClient::execute()
{
    switch (current.command) {
    case None:
        finishCommand(false);
        return;
    case SetTransferMode:
        transferMode = current.mode;
        finishCommand(false);
        return;
    case ConnectToHost:
        if (awaitCleanUps())
            return;
        closeData();
        // A new connection replaces an open one; with the step idle, its end fails nothing.
        step = Idle;
        control->abort();
        parser.clear();
        outstanding = 0;
        staleReplies = 0;
        mlstOptionsSent = false;
        mlstUnsupported = false;
        chmodRefused = false;
        setState(Unconnected);
        step = ControlConnecting;
        control->connectToHost(current.text, current.port);
        return;
    case Login:
        if (!requireConnection())
            return;
        if (!isSafeArgument(current.text) || !isSafeArgument(current.secondText)) {
            fail(UnknownError, tr("Login failed:\n%1").arg(tr("The user name or password contains a line break.")));
            return;
        }
        step = UserSent;
        send(QStringLiteral("USER ") + current.text);
        return;
    case Cd:
        if (!requireConnection())
            return;
        if (!isSafeArgument(current.text)) {
            fail(UnknownError, tr("Changing directory failed:\n%1").arg(tr("The name contains a line break.")));
            return;
        }
        step = Simple;
        send(QStringLiteral("CWD ") + current.text);
        return;
    case Put:
        if (!requireConnection())
            return;
        if (!isSafeArgument(current.text)) {
            fail(UnknownError, tr("Uploading file failed:\n%1").arg(tr("The name contains a line break.")));
            return;
        }
        keptMode = -1;
        if (current.store == ViaTemporary && !renameUnsupported) {
            lookUpMode();
            return;
        }
        storeName = current.text;
        startStore();
        return;
    case Close:
        if (control->state() != QAbstractSocket::ConnectedState) {
            control->abort();
            setState(Unconnected);
            finishCommand(false);
            return;
        }
        setState(Closing);
        step = Quitting;
        send(QStringLiteral("QUIT"));
        return;
    }
}

// A client that waits here goes on once the other has gone (or its own command is given up).
bool FtpClient::awaitCleanUps()
{
    for (const QPointer<FtpClient> &other : std::as_const(cleaningUp)) {
        if (!other || other == this)
            continue;
        step = AwaitingCleanUp;
        connect(other, &QObject::destroyed, this, [this] {
            if (running && step == AwaitingCleanUp)
                execute();
        }, Qt::QueuedConnection);
        return true;
    }
    return false;
}

// Renaming a new file onto an old one would give it the mode of a new file: the old mode is
// looked up first, by MLST where the server has it and else by LIST.
void FtpClient::lookUpMode()
{
    if (mlstUnsupported) {
        startListing();
    } else if (!mlstOptionsSent) {
        // The mode is not among the facts that MLST gives by default.
        mlstOptionsSent = true;
        step = MlstOptionsSent;
        send(QStringLiteral("OPTS MLST type;unix.mode;"));
    } else {
        step = MlstSent;
        send(QStringLiteral("MLST ") + current.text);
    }
}

void FtpClient::startListing()
{
    listing = true;
    listed.clear();
    listingTooLong = false;
    listingEnded = false;
    listingReplied = false;
    storeStarted = false;
    step = TypeSent;
    send(QStringLiteral("TYPE A"));
}

// What the listing says, once both its positive reply and the end of its data have come.
FtpReplyParser::FileMode FtpClient::listedMode() const
{
    if (listingTooLong)
        return FtpReplyParser::FileMode();
    const qsizetype slash = current.text.lastIndexOf(u'/');
    return FtpReplyParser::modeFromListing(listed, QStringView(current.text).sliced(slash + 1));
}

// Through a temporary when the file is new or its mode can be given to the temporary; in
// place (which keeps the mode) when the mode is unknown or cannot be set.
void FtpClient::storeReplacing(FtpReplyParser::FileMode found)
{
    closeData();
    const bool known = found.state == FtpReplyParser::FileMode::Known;
    if (found.state == FtpReplyParser::FileMode::Unknown || (known && chmodRefused)) {
        storeName = current.text;
    } else {
        storeName = temporaryName(current.text);
        keptMode = known ? found.mode : -1;
    }
    startStore();
}

void FtpClient::startStore()
{
    listing = false;
    storeStarted = false;
    handedOver = 0;
    written = 0;
    step = TypeSent;
    send(current.type == Ascii ? QStringLiteral("TYPE A") : QStringLiteral("TYPE I"));
}

// The temporary goes, and the bytes go straight to the name.
void FtpClient::storeInPlace()
{
    closeData();
    step = FallbackDeleteSent;
    send(QStringLiteral("DELE ") + storeName);
}

void FtpClient::send(const QString &line)
{
    control->write(line.toUtf8() + "\r\n");
    ++outstanding;
}

void FtpClient::finishCommand(bool failed)
{
    if (!running || finishing)
        return;
    closeData();
    // Replies still owed to what this command sent belong to nobody now.
    staleReplies += outstanding;
    outstanding = 0;
    step = Idle;
    finishScheduled = false;
    stallTimer.stop();
    if (failed) {
        hadError = true;
        pending.clear();
    }
    finishing = true;
    const QPointer<FtpClient> guard(this);
    emit commandFinished(current.id, failed);
    if (!guard || shuttingDown)
        return;
    finishing = false;
    running = false;
    current = Request();
    if (!pending.isEmpty()) {
        scheduleNextCommand();
        return;
    }
    const bool error = hadError;
    hadError = false;
    emit done(error);
}

// For finishing from inside a caller's call (abort()), where signals must not re-enter it.
void FtpClient::finishLater(bool failed)
{
    closeData();
    staleReplies += outstanding;
    outstanding = 0;
    step = Idle;
    finishScheduled = true;
    QMetaObject::invokeMethod(
        this, [this, failed] {
            if (finishScheduled)
                finishCommand(failed);
        },
        Qt::QueuedConnection);
}

void FtpClient::fail(Error error, const QString &text)
{
    lastError = error;
    lastErrorString = text;
    finishCommand(true);
}

void FtpClient::setState(State state)
{
    if (currentState == state)
        return;
    currentState = state;
    emit stateChanged(state);
}

void FtpClient::controlStateChanged()
{
    if (step != ControlConnecting)
        return;
    if (control->state() == QAbstractSocket::HostLookupState)
        setState(HostLookup);
    else if (control->state() == QAbstractSocket::ConnectingState)
        setState(Connecting);
}

void FtpClient::controlConnected()
{
    if (step != ControlConnecting)
        return;
    // The server speaks first: its greeting is the reply owed to the connection.
    step = Greeting;
    outstanding = 1;
}

void FtpClient::controlReadyRead()
{
    parser.addData(control->readAll());
    // The bytes of a reply that does not end are no progress.
    if (stallTimer.isActive() && parser.hasReply())
        stallTimer.start(stallTimeout);
    const QPointer<FtpClient> guard(this);
    while (guard && parser.hasReply())
        handleReply(parser.takeReply());
}

void FtpClient::controlError()
{
    if (step == ControlConnecting) {
        Error error = UnknownError;
        if (control->error() == QAbstractSocket::HostNotFoundError)
            error = HostNotFound;
        else if (control->error() == QAbstractSocket::ConnectionRefusedError)
            error = ConnectionRefused;
        setState(Unconnected);
        fail(error, tr("Connecting to host failed:\n%1").arg(control->errorString()));
        return;
    }
    // Errors on an open connection usually end in disconnected(); not all of them do.
    if (control->state() == QAbstractSocket::UnconnectedState)
        controlDisconnected();
}

void FtpClient::controlDisconnected()
{
    if (control->bytesAvailable() > 0)
        controlReadyRead();
    parser.clear();
    outstanding = 0;
    staleReplies = 0;
    const Step was = step;
    setState(Unconnected);
    if (shuttingDown) {
        deleteLater();
        return;
    }
    if (!running || finishing || finishScheduled || was == Idle)
        return;
    if (was == Quitting) {
        finishCommand(false);
        return;
    }
    const QString reason = tr("Connection closed by the server.");
    if (was == Greeting)
        fail(UnknownError, tr("Connecting to host failed:\n%1").arg(reason));
    else
        fail(UnknownError, reason);
}

void FtpClient::handleReply(const FtpReplyParser::Reply &reply)
{
    if (!reply.isValid()) {
        if (outstanding == 0 && staleReplies == 0)
            return;
        // Replies can no longer be matched to commands: the connection is of no further use.
        if (running && !finishing && !finishScheduled && step != Idle) {
            if (reply.tooLong)
                fail(ReplyTooLong, tr("The server sent a reply that is too long."));
            else
                fail(UnknownError, tr("The server sent a malformed reply:\n%1").arg(reply.text));
        }
        control->abort();
        return;
    }
    if (shuttingDown) {
        handleCleanupReply(reply);
        return;
    }
    if (staleReplies > 0) {
        if (reply.isFinal())
            --staleReplies;
        return;
    }
    if (outstanding == 0)
        return; // unsolicited, e.g. "421" before the server hangs up
    if (reply.isFinal())
        --outstanding;
    if (reply.isPreliminary() && step != StoreSent)
        return;

    switch (step) {
    case Greeting:
        if (reply.isPositive()) {
            setState(Connected);
            finishCommand(false);
        } else {
            fail(UnknownError, tr("Connecting to host failed:\n%1").arg(reply.text));
            control->abort();
        }
        return;
    case UserSent:
        if (reply.isPositive()) {
            setState(LoggedIn);
            finishCommand(false);
        } else if (reply.code == 331) {
            step = PasswordSent;
            send(QStringLiteral("PASS ") + current.secondText);
        } else {
            fail(UnknownError, tr("Login failed:\n%1").arg(reply.text));
        }
        return;
    case PasswordSent:
        if (reply.isPositive()) {
            setState(LoggedIn);
            finishCommand(false);
        } else {
            fail(UnknownError, tr("Login failed:\n%1").arg(reply.text));
        }
        return;
    case Simple:
        if (reply.isPositive())
            finishCommand(false);
        else
            fail(UnknownError, tr("Changing directory failed:\n%1").arg(reply.text));
        return;
    case MlstOptionsSent:
        // A server without MLST refuses its options too; what MLST itself answers tells.
        lookUpMode();
        return;
    case MlstSent:
        if (reply.isPositive()) {
            const FtpReplyParser::FileMode found = FtpReplyParser::modeFromFacts(reply.text);
            if (found.state == FtpReplyParser::FileMode::Known) {
                storeReplacing(found);
                return;
            }
        } else if (reply.code == 550) {
            storeReplacing({FtpReplyParser::FileMode::Absent, 0});
            return;
        } else if (reply.code == 500 || reply.code == 502 || reply.code == 504) {
            mlstUnsupported = true;
        }
        startListing();
        return;
    case TypeSent:
        if (!reply.isPositive()) {
            fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
        } else if (transferMode == Passive) {
            step = PassiveSent;
            send(QStringLiteral("PASV"));
        } else {
            openActiveData();
        }
        return;
    case PassiveSent:
        if (reply.code == 227)
            openPassiveData(reply);
        else
            fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
        return;
    case PortSent:
        if (reply.isPositive()) {
            sendTransfer();
        } else {
            fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
        }
        return;
    case ListSent:
        if (reply.isPositive()) {
            listingReplied = true;
            // In active mode the server has connected before it replied, but the listener may
            // not have reported it yet when both are ready in one turn of the event loop: a
            // listing taken for empty would make a file there look new and lose its mode.
            if (!data && listener && listener->isListening())
                listener->waitForNewConnection(0);
            if (listingEnded || !data)
                storeReplacing(listedMode());
        } else {
            // Servers answer a LIST of a file that is not there with 550 or an empty listing.
            storeReplacing(reply.code == 550 ? FtpReplyParser::FileMode{FtpReplyParser::FileMode::Absent, 0}
                                             : FtpReplyParser::FileMode());
        }
        return;
    case StoreSent:
        handleStoreReply(reply);
        return;
    case ChmodSent:
        if (reply.isPositive()) {
            step = RenameFromSent;
            send(QStringLiteral("RNFR ") + storeName);
        } else {
            chmodRefused = true;
            storeInPlace();
        }
        return;
    case RenameFromSent:
        if (reply.code == 350) {
            step = RenameToSent;
            send(QStringLiteral("RNTO ") + current.text);
        } else if (reply.code == 500 || reply.code == 502 || reply.code == 504) {
            renameUnsupported = true;
            storeInPlace();
        } else {
            fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
        }
        return;
    case RenameToSent:
        if (reply.isPositive()) {
            leftoverTemporary.clear();
            finishCommand(false);
        } else {
            fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
        }
        return;
    case FallbackDeleteSent: {
        const QString temporary = std::exchange(leftoverTemporary, QString());
        if (!reply.isPositive() && temporaryStored) {
            const QPointer<FtpClient> guard(this);
            emit temporaryLeft(temporary);
            if (!guard || step != FallbackDeleteSent)
                return;
        }
        storeName = current.text;
        keptMode = -1;
        startStore();
        return;
    }
    case Quitting:
        control->disconnectFromHost();
        setState(Unconnected);
        finishCommand(false);
        return;
    case Idle:
    case AwaitingCleanUp:
    case ControlConnecting:
    case DataConnecting:
        return;
    }
}

// The data connection and the final reply come in either order: success needs the server's
// positive reply and every byte handed to the connection, whose end we have already sent.
void FtpClient::handleStoreReply(const FtpReplyParser::Reply &reply)
{
    if (reply.isPreliminary() || reply.isPositive())
        temporaryStored = true;
    if (reply.isPreliminary()) {
        if (!storeStarted) {
            storeStarted = true;
            writeData();
        }
        return;
    }
    transferOpen = false;
    if (!reply.isPositive()) {
        fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
    } else if (handedOver < current.data.size()) {
        fail(UnknownError, tr("Uploading file failed:\n%1").arg(tr("The server ended the transfer early.")));
    } else if (storeName != current.text) {
        closeData();
        if (keptMode >= 0) {
            step = ChmodSent;
            send(QStringLiteral("SITE CHMOD ") + QString::number(keptMode, 8).rightJustified(4, u'0') + u' '
                 + storeName);
        } else {
            step = RenameFromSent;
            send(QStringLiteral("RNFR ") + storeName);
        }
    } else {
        finishCommand(false);
    }
}

void FtpClient::sendTransfer()
{
    if (!listing) {
        sendStore();
        return;
    }
    step = ListSent;
    send(QStringLiteral("LIST ") + current.text);
}

void FtpClient::sendStore()
{
    step = StoreSent;
    transferOpen = true;
    if (storeName != current.text) {
        leftoverTemporary = storeName;
        temporaryStored = false;
    }
    send(QStringLiteral("STOR ") + storeName);
}

void FtpClient::stalled()
{
    if (!running || finishing || finishScheduled)
        return;
    // A reply that has not ended in all that time will not end.
    const bool replyUnfinished = parser.isInReply();
    if (step == ControlConnecting || step == Greeting || replyUnfinished) {
        // With the step idle, the end of the connection fails nothing a second time.
        step = Idle;
        control->abort();
        setState(Unconnected);
    }
    if (replyUnfinished)
        fail(ReplyTooLong, tr("The server's reply did not end in time."));
    else
        fail(TimedOut, tr("The server did not answer in time."));
}

void FtpClient::shutDown()
{
    if (shuttingDown)
        return;
    shuttingDown = true;
    pending.clear();
    stallTimer.stop();
    shutDownTimer.start(shutDownTimeout);
    const bool abortTransfer = transferOpen;
    closeData();
    // Replies still owed to what was sent belong to nobody now.
    staleReplies += outstanding;
    outstanding = 0;
    step = Idle;
    running = false;
    finishScheduled = false;
    if (control->state() != QAbstractSocket::ConnectedState) {
        control->abort();
        deleteLater();
        return;
    }
    // With nothing to clean up, a goodbye is not worth waiting for replies still owed (a
    // server that hung after USER would never give them).
    if (leftoverTemporary.isEmpty() && !abortTransfer && staleReplies > 0) {
        control->abort();
        deleteLater();
        return;
    }
    if (!leftoverTemporary.isEmpty()) {
        cleanupLines.append(QStringLiteral("DELE ") + leftoverTemporary);
        cleaningUp.append(this);
    }
    cleanupLines.append(QStringLiteral("QUIT"));
    if (abortTransfer) {
        // Servers answer ABOR differently: 426 for the store and 226 for the ABOR, or a single
        // 225 or 226 for both. The NOOP's 200 behind it marks where those replies end.
        send(QStringLiteral("ABOR"));
        send(QStringLiteral("NOOP"));
        awaitingSync = true;
        return;
    }
    if (outstanding == 0 && staleReplies == 0)
        sendNextCleanupLine();
}

// One line at a time, each after the final reply to the one before.
void FtpClient::sendNextCleanupLine()
{
    if (cleanupLines.isEmpty()) {
        control->disconnectFromHost();
        deleteLater();
        return;
    }
    cleanupLineSent = cleanupLines.takeFirst();
    send(cleanupLineSent);
}

void FtpClient::handleCleanupReply(const FtpReplyParser::Reply &reply)
{
    if (!reply.isFinal())
        return;
    if (awaitingSync) {
        if (reply.code != 200)
            return;
        awaitingSync = false;
        staleReplies = 0;
        outstanding = 0;
    } else if (staleReplies > 0) {
        --staleReplies;
    } else if (outstanding > 0) {
        --outstanding;
        const QLatin1String deletion("DELE ");
        if (cleanupLineSent.startsWith(deletion) && !reply.isPositive() && temporaryStored) {
            const QPointer<FtpClient> guard(this);
            emit temporaryLeft(cleanupLineSent.mid(deletion.size()));
            if (!guard)
                return;
        }
    }
    if (outstanding == 0 && staleReplies == 0)
        sendNextCleanupLine();
}

void FtpClient::openPassiveData(const FtpReplyParser::Reply &reply)
{
    QHostAddress named;
    quint16 port = 0;
    if (!FtpReplyParser::parsePassiveReply(reply.text, &named, &port)) {
        fail(UnknownError, tr("Uploading file failed:\n%1").arg(reply.text));
        return;
    }
    // A server could name any host here and make us send the file there; only the peer of
    // the control connection is trusted (servers behind NAT often name an unusable address).
    const QHostAddress peer = control->peerAddress();
    const QHostAddress target = named.isEqual(peer, QHostAddress::TolerantConversion) ? named : peer;
    step = DataConnecting;
    auto *socket = new QTcpSocket(this);
    useDataSocket(socket);
    connect(socket, &QAbstractSocket::connected, this, &FtpClient::dataConnected);
    socket->connectToHost(target, port);
}

void FtpClient::openActiveData()
{
    listener = new QTcpServer(this);
    connect(listener, &QTcpServer::newConnection, this, &FtpClient::acceptActiveData);
    const QHostAddress local = control->localAddress();
    if (!listener->listen(local, 0)) {
        fail(UnknownError, tr("Uploading file failed:\n%1").arg(listener->errorString()));
        return;
    }
    const quint16 port = listener->serverPort();
    bool isIPv4 = false;
    const quint32 ip = local.toIPv4Address(&isIPv4);
    QString line;
    if (isIPv4) {
        line = QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                   .arg(ip >> 24).arg((ip >> 16) & 0xff).arg((ip >> 8) & 0xff).arg(ip & 0xff)
                   .arg(port >> 8).arg(port & 0xff);
    } else {
        line = QStringLiteral("EPRT |2|%1|%2|").arg(local.toString()).arg(port);
    }
    step = PortSent;
    send(line);
}

void FtpClient::acceptActiveData()
{
    while (listener && listener->hasPendingConnections()) {
        QTcpSocket *socket = listener->nextPendingConnection();
        if (!data && socket->peerAddress().isEqual(control->peerAddress(), QHostAddress::TolerantConversion)) {
            socket->setParent(this);
            useDataSocket(socket);
            listener->close();
            writeData();
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
}

void FtpClient::useDataSocket(QTcpSocket *socket)
{
    data = socket;
    connect(socket, &QAbstractSocket::bytesWritten, this, &FtpClient::dataBytesWritten);
    connect(socket, &QAbstractSocket::errorOccurred, this, &FtpClient::dataError);
    connect(socket, &QIODevice::readyRead, this, &FtpClient::dataReadyRead);
    connect(socket, &QAbstractSocket::disconnected, this, &FtpClient::dataDisconnected);
}

void FtpClient::dataConnected()
{
    if (step != DataConnecting)
        return;
    sendTransfer();
}

void FtpClient::dataReadyRead()
{
    if (!listing || !data)
        return;
    const QByteArray bytes = data->readAll();
    if (listingTooLong || bytes.isEmpty())
        return;
    if (listed.size() + bytes.size() > maximumListing) {
        listingTooLong = true;
        listed.clear();
        return;
    }
    if (stallTimer.isActive())
        stallTimer.start(stallTimeout);
    listed += bytes;
}

void FtpClient::dataDisconnected()
{
    if (!listing || step != ListSent)
        return;
    dataReadyRead();
    listingEnded = true;
    if (listingReplied)
        storeReplacing(listedMode());
}

void FtpClient::writeData()
{
    if (!data || !storeStarted || data->state() != QAbstractSocket::ConnectedState)
        return;
    const QByteArray &payload = current.data;
    while (handedOver < payload.size() && data->bytesToWrite() < writeAhead) {
        const qint64 count = data->write(payload.constData() + handedOver,
                                         qMin(chunkSize, payload.size() - handedOver));
        if (count <= 0)
            return; // the socket reports the error itself
        handedOver += count;
    }
    // The end of the data connection marks the end of the file (stream mode).
    if (handedOver == payload.size())
        data->disconnectFromHost();
}

void FtpClient::dataBytesWritten(qint64 bytes)
{
    if (stallTimer.isActive())
        stallTimer.start(stallTimeout);
    written += bytes;
    const QPointer<FtpClient> guard(this);
    emit dataTransferProgress(written, current.data.size());
    if (guard)
        writeData();
}

void FtpClient::dataError()
{
    if (step == DataConnecting)
        fail(UnknownError, tr("Connecting to the data port failed:\n%1").arg(data->errorString()));
    // During the transfer the server's final reply tells how it ended.
}

void FtpClient::closeData()
{
    if (data) {
        data->disconnect(this);
        // After a successful transfer the socket may still be sending its last bytes (some
        // servers reply before the data connection has ended): let it finish on its own.
        if (step == StoreSent && storeStarted && handedOver == current.data.size()
            && data->state() == QAbstractSocket::ClosingState) {
            connect(data, &QAbstractSocket::disconnected, data, &QObject::deleteLater);
            connect(data, &QAbstractSocket::errorOccurred, data, &QObject::deleteLater);
        } else {
            data->abort();
            data->deleteLater();
        }
        data = nullptr;
    }
    if (listener) {
        listener->disconnect(this);
        listener->close();
        listener->deleteLater();
        listener = nullptr;
    }
}
