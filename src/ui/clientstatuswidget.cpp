#include "ui/clientstatuswidget.h"

#include "management/peertext.h"
#include "ui/openvpnlogline.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>

namespace {

constexpr int clientLineFields = 8;

// Values in the labels come from the router; never let them be read as markup.
QLabel *plainLabel(const char *name)
{
    auto *label = new QLabel;
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

ClientStatusWidget::ClientStatusWidget(QWidget *parent)
    : QWidget(parent)
    , titleLabel(new QLabel)
    , connectedLabel(plainLabel("connectedLabel"))
    , realAddressLabel(plainLabel("realAddressLabel"))
    , vpnAddressLabel(plainLabel("vpnAddressLabel"))
    , sentLabel(plainLabel("sentLabel"))
    , receivedLabel(plainLabel("receivedLabel"))
    , disconnectButton(new QPushButton(tr("Disconnect")))
{
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    titleLabel->setTextFormat(Qt::RichText);
    disconnectButton->setObjectName(QStringLiteral("disconnectButton"));

    auto *layout = new QGridLayout(this);
    layout->addWidget(titleLabel, 0, 0, 1, 2);
    layout->addWidget(connectedLabel, 1, 0);
    layout->addWidget(realAddressLabel, 2, 0);
    layout->addWidget(vpnAddressLabel, 3, 0);
    layout->addWidget(sentLabel, 1, 1);
    layout->addWidget(receivedLabel, 2, 1);
    layout->addWidget(disconnectButton, 3, 2);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);

    setFocusProxy(disconnectButton);

    connect(disconnectButton, &QPushButton::clicked, this, &ClientStatusWidget::clientDisconnect);
}

bool ClientStatusWidget::showsLine(const QString &status)
{
    // The same test as splitting at every comma and asking for eight fields, the first being
    // the word, without making the fields.
    return status.startsWith(QLatin1String("CLIENT_LIST,")) && status.count(QLatin1Char(',')) == clientLineFields - 1;
}

void ClientStatusWidget::setStatus(const QString &status)
{
    if (!showsLine(status))
        return;
    cn = status.section(QLatin1Char(','), 1, 1);
    // The common name is chosen by whoever issued the client's certificate (or, taken from
    // the user name, by the client): shown so that it cannot pass for another, never as markup.
    titleLabel->setText(
        QStringLiteral("<h2 style=\"color: #0080FF\">%1</h2>").arg(PeerText::shown(cn).toHtmlEscaped()));
    const QStringList values = shownValues(status);
    const QList<QLabel *> labels{connectedLabel, realAddressLabel, vpnAddressLabel, sentLabel, receivedLabel};
    for (qsizetype i = 0; i < labels.size(); ++i)
        labels.at(i)->setText(values.at(i));
    // Tab lands on the button: a screen reader says whose it is.
    disconnectButton->setAccessibleDescription(PeerText::shown(cn));
}

QStringList ClientStatusWidget::shownValues(const QString &status)
{
    if (!showsLine(status))
        return {};
    const QStringList fields = status.split(QLatin1Char(','));
    const quint64 since = fields.at(7).trimmed().toULongLong();
    return {tr("Connected: ") % OpenVpnLogLine::formatTime(since), tr("Real address: ") % fields.at(2),
            tr("VPN address: ") % fields.at(3), tr("Sent bytes: ") % fields.at(4),
            tr("Received bytes: ") % fields.at(5)};
}

void ClientStatusWidget::clearStatus()
{
    cn.clear();
    for (QLabel *label : {titleLabel, connectedLabel, realAddressLabel, vpnAddressLabel, sentLabel, receivedLabel})
        label->clear();
    disconnectButton->setAccessibleDescription(QString());
}

void ClientStatusWidget::clientDisconnect()
{
    // Receivers get a reference to what is emitted. The list hands its panels on to other
    // rows as it scrolls, and a receiver that asks the user first runs an event loop in
    // which that may happen: it must still get the name of the client it was asked about.
    const QString name = cn; // NOLINT(performance-unnecessary-copy-initialization): see above
    emit clientDisconnected(name);
}

void ClientStatusWidget::setDisconnectEnabled(bool enabled)
{
    disconnectButton->setEnabled(enabled);
}
