#include "ui/clientstatuswidget.h"

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

    connect(disconnectButton, &QPushButton::clicked, this, &ClientStatusWidget::clientDisconnect);
}

void ClientStatusWidget::setStatus(const QString &status)
{
    const QStringList fields = status.split(QLatin1Char(','));
    if (fields.size() != clientLineFields || fields.at(0) != QLatin1String("CLIENT_LIST"))
        return;

    cn = fields.at(1);
    // The common name is chosen by whoever issued the client's certificate.
    titleLabel->setText(QStringLiteral("<h2 style=\"color: #0080FF\">%1</h2>").arg(cn.toHtmlEscaped()));
    const quint64 since = fields.at(7).trimmed().toULongLong();
    connectedLabel->setText(tr("Connected: ") % OpenVpnLogLine::formatTime(since));
    realAddressLabel->setText(tr("Real address: ") % fields.at(2));
    vpnAddressLabel->setText(tr("VPN address: ") % fields.at(3));
    sentLabel->setText(tr("Sent bytes: ") % fields.at(4));
    receivedLabel->setText(tr("Received bytes: ") % fields.at(5));
}

void ClientStatusWidget::clientDisconnect()
{
    emit clientDisconnected(cn);
}

void ClientStatusWidget::setDisconnectEnabled(bool enabled)
{
    disconnectButton->setEnabled(enabled);
}
