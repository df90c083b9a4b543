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

// UTF-8 as the library decodes it, except that a byte order mark at the start is kept as the
// character it is, where the library would drop it.
QString fromUtf8(const char *data, qsizetype size)
{
    constexpr QByteArrayView byteOrderMark("\xef\xbb\xbf");
    qsizetype marks = 0;
    while (QByteArrayView(data + 3 * marks, size - 3 * marks).startsWith(byteOrderMark))
        ++marks;
    if (marks == 0)
        return QString::fromUtf8(data, size);
    return QString(marks, QChar(0xfeff)) + QString::fromUtf8(data + 3 * marks, size - 3 * marks);
}

// The length of the well-formed UTF-8 sequence at the start of bytes, 0 when there is none.
// Only the shortest forms of U+0080 to U+10FFFF without the surrogates are well-formed.
qsizetype sequenceLength(const uchar *bytes, qsizetype size)
{
    const uchar lead = bytes[0];
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    // The range of the second byte; the others are 0x80 to 0xBF.
    uchar low = 0x80;
    uchar high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (size < length || bytes[1] < low || bytes[1] > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (bytes[i] < 0x80 || bytes[i] > 0xbf)
            return 0;
    }
    return length;
}

// Decodes a line that is not valid UTF-8 throughout: the well-formed runs as UTF-8, every
// other byte escaped.
QString escapedLine(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    QString line;
    line.reserve(size);
    qsizetype run = 0;
    qsizetype i = 0;
    while (i < size) {
        const qsizetype length = sequenceLength(bytes + i, size - i);
        if (length > 0) {
            i += length;
            continue;
        }
        line += fromUtf8(data + run, i - run);
        line += QChar(char16_t(QtTelnet::escapedByteBase + bytes[i]));
        run = ++i;
    }
    line += fromUtf8(data + run, size - run);
    return line;
}

// Whether a character at `at` stands for a byte: an escape that is not the second half of
// a surrogate pair.
bool escapedAt(QStringView text, qsizetype at)
{
    return QtTelnet::isEscapedByte(text[at].unicode()) && (at == 0 || !text[at - 1].isHighSurrogate());
}

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
    const QByteArrayView bytes(data, size);
    if (bytes.isValidUtf8())
        return fromUtf8(data, size);
    return escapedLine(data, size);
}

QByteArray QtTelnet::bytesFromLine(QStringView text)
{
    qsizetype from = 0;
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!escapedAt(text, i))
            continue;
        bytes += text.sliced(from, i - from).toUtf8();
        bytes += char(text[i].unicode() - escapedByteBase);
        from = i + 1;
    }
    if (from == 0)
        return text.toUtf8();
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
