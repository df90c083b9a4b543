#include "management/qttelnet.h"

#include <QTcpSocket>

#include <cstring>

namespace {

constexpr qsizetype initialLineBuffer = 512;
// A scratch buffer grown by a huge line is given back rather than kept for the life of
// the connection.
constexpr qsizetype keptLineBuffer = qsizetype(64) * 1024;

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
constexpr const char *unidentifiedError = QT_TRANSLATE_NOOP("QtTelnet", "An unidentified error occurred.");

} // namespace

QtTelnet::QtTelnet(QObject *parent)
    : QObject(parent)
{
    createSocket();
}

QtTelnet::~QtTelnet()
{
    // Tearing the socket down must not call back into a half-destroyed object.
    socket->disconnect(this);
    socket->abort();
}

void QtTelnet::createSocket()
{
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::readyRead, this, &QtTelnet::socketReadyRead);
    connect(socket, &QTcpSocket::connected, this, &QtTelnet::socketConnected);
    connect(socket, &QTcpSocket::disconnected, this, &QtTelnet::socketDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &QtTelnet::socketError);
}

void QtTelnet::connectToHost(const QString &host, quint16 port)
{
    if (socket)
        socket->abort();
    else
        createSocket();
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

QString QtTelnet::lineFromBytes(const char *data, qsizetype size)
{
    const void *nul = std::memchr(data, '\0', size_t(size));
    if (nul)
        size = static_cast<const char *>(nul) - data;
    return QString::fromLatin1(data, size);
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
    QByteArray bytes = text.toUtf8();
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

QString QtTelnet::readOneLine()
{
    if (lineBuffer.size() < initialLineBuffer)
        lineBuffer.resize(initialLineBuffer);
    qsizetype length = 0;
    for (;;) {
        // readLine() stops after a line feed or one byte short of the room it is given.
        const qint64 read = socket->readLine(lineBuffer.data() + length, lineBuffer.size() - length);
        if (read <= 0)
            break;
        length += qsizetype(read);
        if (lineBuffer.at(length - 1) == '\n')
            break;
        if (lineBuffer.size() - length < 2)
            lineBuffer.resize(lineBuffer.size() * 2);
    }
    QString line = lineFromBytes(lineBuffer.constData(), length);
    if (lineBuffer.size() > keptLineBuffer)
        lineBuffer = QByteArray();
    return line;
}

void QtTelnet::socketReadyRead()
{
    if (!socket->canReadLine())
        return;
    QStringList lines;
    do {
        lines.append(readOneLine());
    } while (socket->canReadLine());
    emit message(lines);
}

void QtTelnet::socketError(QAbstractSocket::SocketError error)
{
    const QString text = errorText(error);
    socket->abort();
    emit connectionError(text);
}
