#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;

// The panel of one connected VPN client on the status tab: its name, connection time,
// addresses, traffic and a button that asks to disconnect it. The panel takes the keyboard
// focus through that button.
class ClientStatusWidget final : public QWidget
{
    Q_OBJECT

public:
    explicit ClientStatusWidget(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ClientStatusWidget)

    // Whether setStatus() shows this line: a client line in the eight-field layout.
    static bool showsLine(const QString &status);
    // The values the panel shows of such a line, each with its caption, as setStatus() shows
    // them: connected since, real address, VPN address, bytes sent, bytes received; none for
    // any other line.
    static QStringList shownValues(const QString &status);

signals:
    void clientDisconnected(const QString &cn);

public slots:
    // Shows one client line of a status answer in the eight-field layout; any other line
    // leaves the panel as it is.
    void setStatus(const QString &status);
    // Back to the blank panel of a client without a line it could show: no texts, and a
    // Disconnect asks for an empty name.
    void clearStatus();
    void clientDisconnect();
    // Disconnecting needs the management connection; without one the button is off.
    void setDisconnectEnabled(bool enabled);

private:
    QString cn;
    QLabel *titleLabel = nullptr;
    QLabel *connectedLabel = nullptr;
    QLabel *realAddressLabel = nullptr;
    QLabel *vpnAddressLabel = nullptr;
    QLabel *sentLabel = nullptr;
    QLabel *receivedLabel = nullptr;
    QPushButton *disconnectButton = nullptr;
};
