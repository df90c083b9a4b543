#include "management/qttelnet.h"

#include <QByteArrayView>
#include <QTcpSocket>

#include <cstring>

namespace {

constexpr qsizetype initialLineBuffer = 512;
// A scratch buffer grown by a huge line is given back rather than kept for the life of
// the connection.
constexpr qsizetype keptLineBuffer = qsizetype(64) * 1024;
// Bytes looked at in one go when splitting lines; a longer line is read on its own.
constexpr qsizetype peekWindow = qsizetype(64) * 1024;
// A first guess at the lines in a window, so that the list rarely grows while it is filled.
constexpr qsizetype typicalLineLength = 96;

// Indexed by the socket error value; values without a row share the last text.
constexpr const char *errorTexts[] = {
    QT_TRANSLATE_NOOP("QtTelnet", "The connection was refused by the peer (or timed out)."),
    QT_TRANSLATE_NOOP("QtTelnet", "The remote host closed the connection. Note that the client socket (i.e., this socket) will be closed after the remote close notification has been sent."),
    QT_TRANSLATE_NOOP("QtTelnet", "The host address was not found."),
    QT_TRANSLATE_NOOP("QtTelnet", "The socket operation failed because the application lacked the required privileges."),
    QT_TRANSLATE_NOOP("QtTelnet", "The local system ran out of resources (e.g., too many sockets)."),
    QT_TRANSLATE_NOOP("QtTelnet", "The socket operation timed out."),
    QT_TRANSLATE_NOOP("QtTelnet", "The datagram was larger than the operating system's limit (which can be as low as 8192 bytes)."),
    QT_TRANSLATE_NOOP("QtTelnet", "An error occurred with the network (e.g., the network cable was accidentally plugged out)."),
    QT_TRANSLATE_NOOP("QtTelnet", "The address specified to QUdpSocket::bind() is already in use and was set to be exclusive."),
    QT_TRANSLATE_NOOP("QtTelnet", "The address specified to QUdpSocket::bind() does not belong to the host."),
    QT_TRANSLATE_NOOP("QtTelnet", "The requested socket operation is not supported by the local operating system (e.g., lack of IPv6 support)."),
    nullptr,
    QT_TRANSLATE_NOOP("QtTelnet", "The socket is using a proxy, and the proxy requires authentication."),
};

// Most lines are ASCII: told eight bytes at a time, without a branch per byte.
bool isAscii(const char *data, qsizetype size)
{
    quint64 seen = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word = 0;
        std::memcpy(&word, data + i, sizeof word);
        seen |= word;
    }
    for (; i < size; ++i)
        seen |= static_cast<unsigned char>(data[i]);
    return (seen & 0x8080808080808080ULL) == 0;
}

constexpr const char *unidentifiedError = QT_TRANSLATE_NOOP("QtTelnet", "An unidentified error occurred.");
constexpr const char *lineTooLong = QT_TRANSLATE_NOOP("QtTelnet", "The peer sent a line longer than %1 bytes. The connection was closed.");

} // namespace

QtTelnet::QtTelnet(QObject *parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
{
    socket->setReadBufferSize(readBufferSize);
    connect(socket, &QTcpSocket::readyRead, this, &QtTelnet::socketReadyRead);
    connect(socket, &QTcpSocket::connected, this, &QtTelnet::socketConnected);
    connect(socket, &QTcpSocket::disconnected, this, &QtTelnet::socketDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &QtTelnet::socketError);
}

QtTelnet::~QtTelnet()
{
    // Tearing the socket down must not call back into a half-destroyed object.
    socket->disconnect(this);
    socket->abort();
}

void QtTelnet::connectToHost(const QString &host, quint16 port)
{
    socket->abort();
    ++attempts;
    socket->connectToHost(host, port, QIODevice::ReadWrite);
}

void QtTelnet::close()
{
    if (socket->isOpen())
        socket->close();
}

QString QtTelnet::errorText(QAbstractSocket::SocketError error)
{
    const auto index = static_cast<unsigned>(error);
    const char *text = index < std::size(errorTexts) ? errorTexts[index] : nullptr;
    return tr(text ? text : unidentifiedError);
}

QString QtTelnet::lineTooLongText()
{
    return tr(lineTooLong).arg(maxLineLength);
}

QString QtTelnet::lineFromBytes(const char *data, qsizetype size)
{
    const void *nul = std::memchr(data, '\0', size_t(size));
    if (nul)
        size = static_cast<const char *>(nul) - data;
    if (isAscii(data, size))
        return QString::fromLatin1(data, size);
    // OpenVPN writes UTF-8, but passes on bytes that others sent it (a user name) unchanged.
    const QByteArrayView bytes(data, size);
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    QString line;
    line.reserve(size * 2);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        line += QChar(c);
        if (c >= 0x80)
            line += QChar(latin1Mark);
    }
    return line;
}

QByteArray QtTelnet::bytesFromLine(QStringView text)
{
    if (!text.contains(QChar(latin1Mark)))
        return text.toUtf8();
    QByteArray bytes;
    bytes.reserve(text.size() * 3);
    qsizetype from = 0;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80 || c > 0xff || text.at(i + 1).unicode() != latin1Mark)
            continue;
        bytes += text.sliced(from, i - from).toUtf8();
        bytes += char(c);
        from = i + 2;
        ++i;
    }
    bytes += text.sliced(from).toUtf8();
    return bytes;
}

void QtTelnet::sendData(const QString &data)
{
    writeLine(data);
}

void QtTelnet::sendData(const QStringList &lines)
{
    for (const QString &line : lines)
        writeLine(line);
}

void QtTelnet::writeLine(const QString &text)
{
    // Text written while no connection is open is dropped, as a write to a closed socket
    // would drop it, but without the socket's warning on every line.
    if (!socket->isOpen())
        return;
    QByteArray bytes = bytesFromLine(text);
    bytes.append("\r\n", 2);
    socket->write(bytes);
}

void QtTelnet::socketConnected()
{
    emit connected();
}

void QtTelnet::socketDisconnected()
{
    emit disconnected();
}

void QtTelnet::deliverLeftovers()
{
    qint64 left = socket->bytesAvailable();
    while (linesLeft && !delivering) {
        socketReadyRead();
        const qint64 now = socket->bytesAvailable();
        if (now == left)
            break;
        left = now;
    }
}

bool QtTelnet::readOneLine(QString &line)
{
    if (lineBuffer.size() < initialLineBuffer)
        lineBuffer.resize(initialLineBuffer);
    // Room for the longest line and the NUL that readLine() adds.
    constexpr qsizetype largestBuffer = maxLineLength + 1;
    qsizetype length = 0;
    bool whole = true;
    for (;;) {
        // readLine() stops after a line feed or one byte short of the room it is given.
        const qint64 read = socket->readLine(lineBuffer.data() + length, lineBuffer.size() - length);
        if (read <= 0)
            break;
        length += qsizetype(read);
        if (lineBuffer.at(length - 1) == '\n')
            break;
        if (length >= maxLineLength) {
            whole = false;
            break;
        }
        if (lineBuffer.size() - length < 2)
            lineBuffer.resize(qMin(lineBuffer.size() * 2, largestBuffer));
    }
    if (whole)
        line = lineFromBytes(lineBuffer.constData(), length);
    if (lineBuffer.size() > keptLineBuffer)
        lineBuffer = QByteArray();
    return whole;
}

bool QtTelnet::readSlice(QStringList &lines)
{
    qsizetype taken = 0;
    while (lines.size() < sliceLines && taken < sliceBytes && socket->canReadLine()) {
        const qsizetype window = qsizetype(qMin<qint64>(socket->bytesAvailable(), peekWindow));
        if (chunk.size() < window)
            chunk.resize(window);
        const qsizetype peeked = qsizetype(socket->peek(chunk.data(), window));
        const char *const begin = chunk.constData();
        const char *const end = begin + qMax<qsizetype>(peeked, 0);
        const char *next = begin;
        lines.reserve(lines.size() + qMin(sliceLines - lines.size(), peeked / typicalLineLength + 1));
        while (lines.size() < sliceLines) {
            const auto *feed = static_cast<const char *>(std::memchr(next, '\n', size_t(end - next)));
            if (!feed)
                break;
            lines.append(lineFromBytes(next, feed + 1 - next));
            next = feed + 1;
        }
        if (next != begin) {
            socket->skip(next - begin);
            taken += next - begin;
            continue;
        }
        // The next line is longer than the window.
        QString line;
        if (!readOneLine(line))
            return false;
        taken += line.size();
        lines.append(line);
    }
    return true;
}

void QtTelnet::scheduleRead()
{
    linesLeft = true;
    if (readPosted)
        return;
    readPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            readPosted = false;
            if (linesLeft)
                socketReadyRead();
        },
        Qt::QueuedConnection);
}

void QtTelnet::socketReadyRead()
{
    // The lines wait for the receiver that is still handling a slice; it comes back for them.
    if (delivering)
        return;
    linesLeft = false;
    // Once the end of the connection has been reported, what is left belongs to a
    // conversation that is over.
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    const quint64 attempt = attempts;
    QStringList lines;
    const bool tooLong = !readSlice(lines);
    if (!lines.isEmpty()) {
        delivering = true;
        emit message(lines);
        delivering = false;
        // A receiver started another connection: what that one brings is read in a turn of
        // its own. (A receiver that closed the connection has emptied the socket with it.)
        if (attempt != attempts) {
            if (socket->canReadLine())
                scheduleRead();
            return;
        }
    }
    // What is left is one unfinished line, all of which the socket would keep.
    if (tooLong || (!socket->canReadLine() && socket->bytesAvailable() >= maxLineLength)) {
        fail(lineTooLongText());
        return;
    }
    // Lines that arrived while a receiver ran a nested event loop (a modal dialog) raised no
    // readyRead of their own, and a full socket raises none until it is read from: whatever
    // is whole goes up in the next turn, after the events waiting now.
    if (socket->canReadLine()) {
        scheduleRead();
        return;
    }
    // A socket whose read buffer was full has stopped reading from the network, and taking
    // lines out of its buffer does not start it again; asking for more than it holds does.
    const qsizetype unfinished = qsizetype(socket->bytesAvailable());
    if (chunk.size() <= unfinished)
        chunk.resize(unfinished + 1);
    socket->peek(chunk.data(), unfinished + 1);
    if (chunk.size() > peekWindow)
        chunk = QByteArray();
}

void QtTelnet::socketError(QAbstractSocket::SocketError error)
{
    // The lines a peer sent before it closed go up before the close is reported (dropping
    // the connection empties the socket), however many slices they take.
    if (error == QAbstractSocket::RemoteHostClosedError)
        deliverLeftovers();
    fail(errorText(error));
}

void QtTelnet::fail(const QString &text)
{
    socket->abort();
    emit connectionError(text);
}
