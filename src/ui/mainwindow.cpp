#include "ui/mainwindow.h"

#include "common/settingskeys.h"
#include "common/version.h"
#include "management/peertext.h"
#include "ui/clientlistbar.h"
#include "ui/clientlistview.h"
#include "ui/configimport.h"
#include "ui/dialogs.h"
#include "ui/logfindbar.h"
#include "ui/logsaver.h"
#include "ui/openvpnlogline.h"
#include "ui/terminallogwriter.h"
#include "ui/textterminal.h"
#include "ui/vpnnotifications.h"
#include "update/aboutbox.h"
#include "update/updateaction.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QSizeGrip>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString appModeKey = SettingsKeys::appMode;
const QString autoHoldReleaseKey = SettingsKeys::autoHoldRelease;
const QString ipKey = SettingsKeys::ip;
const QString passwordKey = SettingsKeys::password;
const QString languageKey = SettingsKeys::language;
const QString notificationsKey = SettingsKeys::notifications;

const QString basicMode = QStringLiteral("basic");
const QString clientMode = QStringLiteral("client");
const QString serverMode = QStringLiteral("server");

constexpr quint16 managementPort = 11110;
constexpr int statusInterval = 3000;
constexpr int initInterval = 500;
constexpr int statusTabIndex = 2;
const QString routerUser = QStringLiteral("root");

QVariant setting(const QString &key)
{
    return QSettings().value(key);
}

void setSetting(const QString &key, const QVariant &value)
{
    QSettings().setValue(key, value);
}

QString appMode()
{
    return setting(appModeKey).toString();
}

QString heading(const QString &ip)
{
    return QStringLiteral("<h1>%1</h1>").arg(ip.toHtmlEscaped());
}

// The publisher's web site, named on the About page.
const QString publisherUrl = QStringLiteral("http://www.pylon-router.example/");

// The program's name and version above the About and Help texts; the same in every language.
QString aboutHeading()
{
    return QStringLiteral("<h2 style=\"color: #0080FF\">%1 %2</h2>")
        .arg(QString(Version::applicationName), QString(Version::applicationVersion));
}

// A tab's page: the widgets one under another, edge to edge, so that the main one looks as it
// would alone.
QWidget *stackedPage(const QString &name, QWidget *upper, QWidget *lower)
{
    auto *page = new QWidget;
    page->setObjectName(name);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(upper);
    layout->addWidget(lower);
    return page;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), routerPassword(passwordKey)
{
    setWindowTitle(QString(Version::applicationName));
    setWindowIcon(QIcon(QStringLiteral(":img/pylon_router_032.png")));

    if (!QSettings().contains(appModeKey))
        setSetting(appModeKey, basicMode);
    if (!QSettings().contains(autoHoldReleaseKey))
        setSetting(autoHoldReleaseKey, false);

    createActions();
    createMenus();
    createTabs();
    createAboutBox();
    resize(600, 400);
    // The status bar's one control without a text of its own.
    if (auto *grip = statusBar()->findChild<QSizeGrip *>())
        grip->setAccessibleName(tr("Resize the window"));

    connect(&routerAdmin, &PylonVpnHttpAdmin::done, this, &MainWindow::waitOff);
    connect(&routerAdmin, &PylonVpnHttpAdmin::error, this, &MainWindow::waitOffError);
    connect(&routerPassword, &RouterPasswordStore::storeFailed, this, &MainWindow::secretStoreFailed);

    connect(&management, &OpenVpnManagement::managementConnected, this, &MainWindow::managementConnectedSlot);
    connect(&management, &OpenVpnManagement::disconnected, this, &MainWindow::openVpnDisconnected);
    connect(&management, &OpenVpnManagement::connectionError, this,
            qOverload<const QString &>(&MainWindow::socketErrorSlot));
    connect(&management, &OpenVpnManagement::stateChanged, this, &MainWindow::setState);
    connect(&management, &OpenVpnManagement::logMessage, this, &MainWindow::setLog);
    connect(&management, &OpenVpnManagement::infoMessage, this, &MainWindow::setInfo);
    connect(&management, &OpenVpnManagement::managementHoldActive, this, &MainWindow::managementHoldSlot);
    connect(&management, &OpenVpnManagement::holdReleased, this, &MainWindow::holdReleasedSlot);
    connect(&management, &OpenVpnManagement::managementPasswordRequest, this, &MainWindow::managementPassword);
    connect(&management, &OpenVpnManagement::managementPasswordFail, this, &MainWindow::managementPasswordFailSlot);
    connect(&management, &OpenVpnManagement::privKeyPasswordRequest, this, &MainWindow::privKeyPassword);
    connect(&management, &OpenVpnManagement::authRequest, this, &MainWindow::authData);
    connect(&management, &OpenVpnManagement::statusResponse, this, &MainWindow::setStatus);
    connect(&management, &OpenVpnManagement::killResponse, this, &MainWindow::killResponseSlot);
    connect(&management, &OpenVpnManagement::commandRefused, this, &MainWindow::commandRefusedSlot);
    connect(&management, &OpenVpnManagement::timeoutReached, this, &MainWindow::openVpnTimeoutReached);

    // Not started before a connection comes up; the interval is set now so that a restart after
    // a hold release can never run with a zero interval.
    statusTimer.setInterval(statusInterval);
    connect(&statusTimer, &QTimer::timeout, this, &MainWindow::updateStatus);

    initTimer = std::make_unique<QTimer>();
    connect(initTimer.get(), &QTimer::timeout, this, &MainWindow::init);
    initTimer->start(initInterval);

    setState(management.state());
}

MainWindow::~MainWindow()
{
    // The members below are destroyed before the widgets; a closing socket must not reach the
    // window's slots half-way through.
    management.disconnect(this);
    routerAdmin.disconnect(this);
    routerPassword.disconnect(this);
}

void MainWindow::createActions()
{
    basicAction = newAction(tr("&Basic"), "basicAction", &MainWindow::setAppModeBasic, true);
    basicAction->setChecked(appMode() == basicMode);
    clientAction = newAction(tr("&Client"), "clientAction", &MainWindow::setAppModeClient, true);
    serverAction = newAction(tr("&Server"), "serverAction", &MainWindow::setAppModeServer, true);
    modeGroup = new QActionGroup(this);
    modeGroup->setExclusive(true);
    for (QAction *action : {basicAction, clientAction, serverAction})
        modeGroup->addAction(action);

    extractConfAction = newAction(tr("&Extract config"), "extractConfAction", &MainWindow::extractConf);

    langEnAction = newAction(tr("&English"), "langEnAction", &MainWindow::setLangEn, true);
    langPlAction = newAction(tr("&Polish"), "langPlAction", &MainWindow::setLangPl, true);
    langGroup = new QActionGroup(this);
    langGroup->setExclusive(true);
    langGroup->addAction(langEnAction);
    langGroup->addAction(langPlAction);

    exitAction = new QAction(QIcon(QStringLiteral(":img/exit.png")), tr("E&xit"), this);
    exitAction->setObjectName(QStringLiteral("exitAction"));
    exitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    connect(exitAction, &QAction::triggered, this, &MainWindow::close);

    setIpAddressAction = newAction(tr("Set &IP address"), "setIpAddressAction", &MainWindow::setIpAddress);
    setFtpPassAction = newAction(tr("Set FTP &password"), "setFtpPassAction", &MainWindow::setFtpPass);
    autoHoldReleaseAction = newAction(tr("&Automatic hold-release"), "autoHoldReleaseAction",
                                      &MainWindow::setAutoHoldRelease, true);
    autoHoldReleaseAction->setChecked(setting(autoHoldReleaseKey).toBool());

    helpAction = newAction(tr("&Help"), "helpAction", &MainWindow::helpSlot);
    helpAction->setIcon(QIcon(QStringLiteral(":img/help.png")));
    helpAction->setShortcut(QKeySequence(tr("Ctrl+H")));
    aboutAction = newAction(tr("&About"), "aboutAction", &MainWindow::aboutSlot);
    aboutAction->setIcon(QIcon(QStringLiteral(":img/info.png")));
    reconnectAction = newAction(tr("Reconnect OpenVPN"), "reconnectAction", &MainWindow::openVpnReconnect);

    notifications = new VpnNotifications(this, this);
    notificationsAction = newAction(tr("&Notifications"), "notificationsAction", &MainWindow::setNotifications, true);
    notificationsAction->setChecked(QSettings().value(notificationsKey, true).toBool());
    notifications->setEnabled(notificationsAction->isChecked());
    saveLogAction = newAction(tr("&Save log…"), "saveLogAction", &MainWindow::saveLog);
    saveLogAction->setShortcut(QKeySequence(tr("Ctrl+S")));
    // In no menu: the key of every tab, see findSlot().
    findAction = newAction(tr("Find"), "findAction", &MainWindow::findSlot);
    findAction->setShortcut(QKeySequence(tr("Ctrl+F")));
    addAction(findAction);

    updateAction = new UpdateAction(QStringLiteral("pylon"), QString(Version::applicationName),
                                    QString(Version::applicationVersion), QStringLiteral("0"), this,
                                    QLatin1String(updateServerBaseUrl));
    updateAction->setObjectName(QStringLiteral("updateAction"));
    connect(updateAction, &UpdateAction::updateAvaliable, this, &MainWindow::setUpdateIconSlot);
    connect(updateAction, &UpdateAction::triggered, this, &MainWindow::updateSlot);

    updateButton = new QToolButton(this);
    updateButton->setObjectName(QStringLiteral("updateButton"));
    updateButton->setAutoRaise(true);
    updateButton->setDefaultAction(updateAction);
    updateButton->setToolTip(tr("New version is avaliable. Click this\nicon to get more informations."));
    updateButton->hide();

    updateAction->checkForUpdate();

    reconnectButton = new QToolButton(this);
    reconnectButton->setObjectName(QStringLiteral("reconnectButton"));
    reconnectButton->setAutoRaise(true);
    reconnectButton->setDefaultAction(reconnectAction);
    reconnectButton->setText(tr("Reconnect"));
    reconnectButton->setToolTip(tr("Reconnect to the OpenVPN\nmanagement interface."));
    reconnectButton->hide();
}

void MainWindow::createMenus()
{
    QMenu *generalMenu = menuBar()->addMenu(tr("&General"));
    generalMenu->setObjectName(QStringLiteral("generalMenu"));
    QMenu *modeMenu = generalMenu->addMenu(tr("&Mode"));
    modeMenu->setObjectName(QStringLiteral("modeMenu"));
    modeMenu->addAction(basicAction);
    modeMenu->addAction(clientAction);
    modeMenu->addAction(serverAction);

    const QString mode = appMode();
    if (mode == clientMode)
        clientAction->setChecked(true);
    else if (mode == serverMode)
        serverAction->setChecked(true);
    else
        basicAction->setChecked(true);

    QMenu *languageMenu = generalMenu->addMenu(tr("&Language"));
    languageMenu->setObjectName(QStringLiteral("languageMenu"));
    languageMenu->addAction(langEnAction);
    languageMenu->addAction(langPlAction);
    if (setting(languageKey).toString() == QLatin1String("pl"))
        langPlAction->setChecked(true);
    else
        langEnAction->setChecked(true);

    generalMenu->addAction(notificationsAction);
    generalMenu->addSeparator();
    generalMenu->addAction(saveLogAction);
    generalMenu->addSeparator();
    generalMenu->addAction(exitAction);

    QMenu *routerMenu = menuBar()->addMenu(tr("&Router"));
    routerMenu->setObjectName(QStringLiteral("routerMenu"));
    routerMenu->addAction(setIpAddressAction);
    routerMenu->addAction(setFtpPassAction);
    routerMenu->addAction(autoHoldReleaseAction);

    QMenu *toolsMenu = menuBar()->addMenu(tr("&Tools"));
    toolsMenu->setObjectName(QStringLiteral("toolsMenu"));
    toolsMenu->addAction(extractConfAction);

    QMenu *helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->addAction(helpAction);
    helpMenu->addSeparator();
    helpMenu->addAction(aboutAction);
}

void MainWindow::createTabs()
{
    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    tabWidget->addTab(createRouterPanel(), tr("Router"));
    tabWidget->addTab(createTerminal(), tr("Log"));
    createClientsTree();
    if (appMode() == serverMode) {
        tabWidget->addTab(clientsPage, tr("Status"));
    } else {
        // Kept by the window while no tab shows it, so it never lives without an owner.
        clientsPage->setParent(this);
        clientsPage->hide();
    }
    tabWidget->setTabPosition(QTabWidget::East);
    setCentralWidget(tabWidget);
}

QAction *MainWindow::newAction(const QString &text, const char *name, void (MainWindow::*slot)(), bool checkable)
{
    auto *action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    action->setCheckable(checkable);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

QWidget *MainWindow::createRouterPanel()
{
    auto *panel = new QWidget;
    panel->setObjectName(QStringLiteral("routerPanel"));
    auto *grid = new QGridLayout(panel);

    auto *logoLabel = new QLabel;
    logoLabel->setObjectName(QStringLiteral("logoLabel"));
    logoLabel->setPixmap(QPixmap(QStringLiteral(":img/pylon_logo_120_60.png")));
    logoLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    logoLabel->setAccessibleName(tr("Pylon Router logo"));
    grid->addWidget(logoLabel, 0, 0, 1, 3);

    ipLabel = new QLabel;
    ipLabel->setObjectName(QStringLiteral("ipLabel"));
    ipLabel->setTextFormat(Qt::RichText);
    ipLabel->setAlignment(Qt::AlignCenter);
    showRouterAddress(setting(ipKey).toString());
    grid->addWidget(ipLabel, 2, 0, 1, 3);

    stateLabel = new QLabel;
    stateLabel->setObjectName(QStringLiteral("stateLabel"));
    stateLabel->setTextFormat(Qt::RichText);
    stateLabel->setAlignment(Qt::AlignCenter);
    grid->addWidget(stateLabel, 3, 0, 1, 3);

    const auto addButton = [grid](const QString &text, const char *name, int row, int rowSpan = 1) {
        auto *button = new QPushButton(text);
        button->setObjectName(QLatin1String(name));
        grid->addWidget(button, row, 1, rowSpan, 1);
        return button;
    };
    holdReleaseButton = addButton(tr("Hold release"), "holdReleaseButton", 5, 2);
    holdReleaseButton->setEnabled(false);
    vpnRestartButton = addButton(tr("Vpn restart"), "vpnRestartButton", 7);
    vpnRestartButton->setEnabled(false);
    fwRestartButton = addButton(tr("Firewall restart"), "fwRestartButton", 8);
    restartButton = addButton(tr("Router restart"), "restartButton", 9);
    sendConfigButton = addButton(tr("Send configuration"), "sendConfigButton", 10);
    sendConfigButton->setHidden(appMode() != clientMode);

    grid->setRowStretch(1, 1);
    grid->setRowStretch(4, 1);
    grid->setRowStretch(11, 4);

    connect(holdReleaseButton, &QPushButton::clicked, &management, &OpenVpnManagement::holdRelease);
    connect(vpnRestartButton, &QPushButton::clicked, this, &MainWindow::vpnRestart);
    connect(fwRestartButton, &QPushButton::clicked, this, &MainWindow::fwRestart);
    connect(restartButton, &QPushButton::clicked, this, &MainWindow::restart);
    connect(sendConfigButton, &QPushButton::clicked, this, qOverload<>(&MainWindow::sendConfig));
    return panel;
}

QWidget *MainWindow::createTerminal()
{
    terminal = new TextTerminal;
    terminal->setObjectName(QStringLiteral("terminal"));
    terminal->setAccessibleName(tr("OpenVPN log"));
    // A log view has nothing to undo; the history would only grow with every line.
    terminal->setUndoRedoEnabled(false);
    // An ever-growing view gets slower with every line, and a busy server writes tens of
    // thousands a day: the oldest lines go.
    logWriter = new TerminalLogWriter(terminal, TerminalLogWriter::defaultLineLimit, this);
    logWriter->setObjectName(QStringLiteral("logWriter"));

    // The find bar, closed, takes no room: the tab shows the log as the view alone would.
    findBar = new LogFindBar(terminal);
    findBar->setObjectName(QStringLiteral("findBar"));
    logPage = stackedPage(QStringLiteral("logPage"), terminal, findBar);
    return logPage;
}

QWidget *MainWindow::createClientsTree()
{
    clientsTree = new ClientListView;
    clientsTree->setObjectName(QStringLiteral("clientsTree"));
    clientsTree->setHeaderLabels({tr("VPN Clients")});
    clientsTree->setAccessibleName(tr("VPN Clients"));
    connect(clientsTree, &ClientListView::disconnectRequested, this, &MainWindow::clientDisconnect);

    // The filter and the order above the list; below them the list is as it was.
    clientsBar = new ClientListBar(clientsTree);
    clientsBar->setObjectName(QStringLiteral("clientsBar"));
    clientsPage = stackedPage(QStringLiteral("clientsPage"), clientsBar, clientsTree);
    return clientsPage;
}

void MainWindow::createAboutBox()
{
    aboutBox = new AboutBox(this);
    aboutBox->setObjectName(QStringLiteral("aboutBox"));
    aboutBox->setTabs(AboutBox::AboutTab | AboutBox::HelpTab | AboutBox::UpdatesTab);

    const QString image = QStringLiteral(":img/pylon_about_router_384.png");
    aboutBox->setAboutPixmap(QPixmap(image));
    aboutBox->setHelpPixmap(QPixmap(image));
    aboutBox->setUpdatePixmap(QPixmap(image));

    aboutBox->setAboutText(
        aboutHeading()
        + tr("<p>Pylon Router is the control panel of a small VPN router running OpenWRT and "
             "OpenVPN. It shows the state and the log of the router's OpenVPN, lists the connected "
             "VPN clients and disconnects them, restarts the VPN, the firewall or the whole router, "
             "and opens encrypted configuration exports to save their files or send them to the "
             "router.</p><p>More on the web: <a href=\"%1\">%1</a></p>")
              .arg(publisherUrl));
    // lupdate records no empty source text, so the Help page's text is an HTML comment: it
    // shows nothing, and a translation can put help text in its place.
    //: Text of the Help page, below the program's name; shows nothing. Replace it with help
    //: text (rich text) or keep it as it is.
    aboutBox->setHelpText(aboutHeading() + tr("<!-- help text -->"));
    aboutBox->setUpdateText(tr("No new version avaliable."));
}

void MainWindow::showRouterAddress(const QString &ip)
{
    ipLabel->setText(heading(ip));
    // Read out, the heading alone would be a bare number.
    ipLabel->setAccessibleName(ip.isEmpty() ? tr("No router address") : tr("Router address: %1").arg(ip));
}

void MainWindow::vpnRestart()
{
    management.sendUsr1Signal();
}

void MainWindow::fwRestart()
{
    routerCommand(&PylonVpnHttpAdmin::restartFirewall);
}

void MainWindow::restart()
{
    routerCommand(&PylonVpnHttpAdmin::rebootRouter);
}

void MainWindow::routerCommand(void (PylonVpnHttpAdmin::*command)(const QString &, const QString &))
{
    const QString host = setting(ipKey).toString();
    waitOn();
    routerPassword.read(this, [this, command, host](const QString &password) {
        routerAdmin.setHost(host);
        (routerAdmin.*command)(routerUser, password);
    });
}

void MainWindow::sendConfig(bool saveLocal)
{
    ConfigImport(this, routerPassword).run(saveLocal ? ConfigImport::LocalDirectory : ConfigImport::Router);
}

void MainWindow::sendConfig()
{
    sendConfig(false);
}

void MainWindow::extractConf()
{
    sendConfig(true);
}

void MainWindow::waitOn()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
}

void MainWindow::waitOff()
{
    setEnabled(true);
    QApplication::restoreOverrideCursor();
}

void MainWindow::waitOffError()
{
    setEnabled(true);
    QApplication::restoreOverrideCursor();
    Dialogs::instance().message(this, QMessageBox::Critical, tr("Error"), tr("Command error!"));
}

void MainWindow::setIpAddress()
{
    const QString current = QSettings().contains(ipKey) ? setting(ipKey).toString() : QStringLiteral("localhost");
    bool ok = false;
    const QString ip = Dialogs::instance().getText(this, tr("Router IP address"), tr("Router IP address"),
                                                   QLineEdit::Normal, current, &ok);
    if (!ok)
        return;
    setSetting(ipKey, ip);
    showRouterAddress(ip);
    management.close();
    management.connectToHost(ip, managementPort);
    routerAdmin.setHost(setting(ipKey).toString());
}

void MainWindow::setFtpPass()
{
    bool ok = false;
    const QString password = Dialogs::instance().getText(this, tr("Router FTP password"), tr("Router FTP password"),
                                                         QLineEdit::Password, QString(), &ok);
    if (ok)
        routerPassword.write(password);
}

void MainWindow::managementConnectedSlot()
{
    ++conversation;
    logWriter->clear();
    clientsTree->clearClients();
    clientsTree->setDisconnectEnabled(true);
    killRequests.clear();
    notifications->managementConnected();
    management.stateOn(true);
    management.logOn(true);
    management.getStatus();
    statusTimer.start(statusInterval);
    vpnRestartButton->setEnabled(true);
    if (!reconnectButton->isHidden()) {
        statusBar()->removeWidget(reconnectButton);
        reconnectButton->hide();
    }
}

void MainWindow::socketErrorSlot(const QString &str)
{
    managementLost();
    Dialogs::instance().message(this, QMessageBox::Critical, tr("Network socket error"), str);
}

void MainWindow::socketErrorSlot()
{
    socketErrorSlot(QString());
}

void MainWindow::setState(OpenVpnManagement::VpnState state)
{
    QString text;
    switch (state) {
    case OpenVpnManagement::StateConnecting: text = tr("Connecting"); break;
    case OpenVpnManagement::StateWait: text = tr("Waiting"); break;
    case OpenVpnManagement::StateAuth: text = tr("Authenticating"); break;
    case OpenVpnManagement::StateGetConfig: text = tr("Getting configuration"); break;
    case OpenVpnManagement::StateAssignIp: text = tr("Assigning IP"); break;
    case OpenVpnManagement::StateAddRoutes: text = tr("Adding routes"); break;
    case OpenVpnManagement::StateConnected: text = tr("Connected"); break;
    case OpenVpnManagement::StateReconnecting: text = tr("Reconnecting"); break;
    case OpenVpnManagement::StateExiting: text = tr("Exiting"); break;
    default: text = tr("Unknown"); break;
    }
    stateLabel->setText(tr("State: <b>%1</b>").arg(text));
    notifications->stateChanged(state);
}

void MainWindow::setLog(const QString &log)
{
    logWriter->append(log);
    if (OpenVpnLogLine::messageField(log).contains(QLatin1String("Peer Connection Initiated")))
        management.getStatus();
}

void MainWindow::setInfo(const QString &info)
{
    Q_UNUSED(info)
}

void MainWindow::managementHoldSlot()
{
    holdReleaseButton->setEnabled(true);
    vpnRestartButton->setEnabled(false);
    statusTimer.stop();
    if (setting(autoHoldReleaseKey).toBool())
        management.holdRelease();
}

void MainWindow::holdReleasedSlot()
{
    holdReleaseButton->setEnabled(false);
    vpnRestartButton->setEnabled(true);
    statusTimer.start();
}

void MainWindow::managementPassword()
{
    const QString label = managementPasswordWrong
                              ? tr("The previous password was wrong.\nManagement interface password:")
                              : tr("Management interface password:");
    managementPasswordWrong = false;
    bool ok = false;
    const QString password = Dialogs::instance().getText(this, tr("Insert password"), label, QLineEdit::Password,
                                                         QString(), &ok);
    if (ok)
        management.sendManagementPassword(password);
    else
        management.close();
}

void MainWindow::managementPasswordFailSlot()
{
    managementPasswordWrong = true;
}

void MainWindow::privKeyPassword()
{
    postPrompt([this] {
        bool ok = false;
        const QString password = Dialogs::instance().getText(this, tr("Insert password"), tr("Private key password:"),
                                                             QLineEdit::Password, QString(), &ok);
        if (ok)
            management.sendPrivKeyPassword(password, true);
        else
            management.close();
    });
}

void MainWindow::authData()
{
    postPrompt([this] {
        QString username;
        QString password;
        if (Dialogs::instance().getAuthData(this, tr("User authentication"), tr("Username:"), username,
                                            tr("Password:"), password))
            management.sendAuthData(username, password, true);
        else
            management.close();
    });
}

void MainWindow::postPrompt(std::function<void()> prompt)
{
    const quint64 asking = conversation;
    managementDialogs.post([this, asking, prompt = std::move(prompt)] {
        if (asking == conversation)
            prompt();
    });
}

void MainWindow::updateStatus()
{
    management.getStatus();
}

void MainWindow::setStatus(const QStringList &status)
{
    clientsTree->setStatus(status);
    notifications->clientsListed(*clientsTree, serverAction->isChecked());
}

void MainWindow::clientDisconnect(const QString &cn)
{
    // The row, and the name with it, may go while the question is open.
    const QString name = cn; // NOLINT(performance-unnecessary-copy-initialization): see above
    const QString question = tr("Do you really want to disconnect %1?").arg(PeerText::shown(name));
    const auto answer = Dialogs::instance().message(this, QMessageBox::Question, tr("Question"), question,
                                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The connections of the name as the latest answer lists them.
    const int sent = management.disconnectClient(name, clientsTree->clientIds(name));
    for (int i = 0; i < sent; ++i)
        killRequests.append(name);
    if (sent > 0)
        management.getStatus();
}

void MainWindow::killResponseSlot(const QString &resp)
{
    const QString name = killRequests.isEmpty() ? QString() : killRequests.takeFirst();
    if (!resp.startsWith(QLatin1String("ERROR:")))
        return;
    postError(tr("The client %1 was not disconnected. OpenVPN answered: %2")
                  .arg(PeerText::shown(name), PeerText::shown(resp.trimmed())));
}

void MainWindow::commandRefusedSlot(OpenVpnManagement::MessageType type)
{
    const QString text = type == OpenVpnManagement::MsgKill
                             ? tr("The name of this client is too long to be sent to OpenVPN. It was not disconnected.")
                             : tr("The text entered is too long to be sent to OpenVPN. Nothing was sent.");
    postError(text);
}

void MainWindow::postError(const QString &text)
{
    managementDialogs.post(
        [this, text] { Dialogs::instance().message(this, QMessageBox::Critical, tr("Error"), text); });
}

void MainWindow::helpSlot()
{
    aboutBox->setActiveHelp();
    Dialogs::instance().exec(aboutBox);
}

void MainWindow::aboutSlot()
{
    aboutBox->setActiveAbout();
    Dialogs::instance().exec(aboutBox);
}

void MainWindow::updateSlot()
{
    aboutBox->setActiveUpdate();
    Dialogs::instance().exec(aboutBox);
}

void MainWindow::setUpdateIconSlot()
{
    // Once in the status bar however often an offer comes.
    if (updateButton->isHidden()) {
        statusBar()->addPermanentWidget(updateButton, 0);
        updateButton->show();
    }
    aboutBox->setUpdateText(updateAction->offerText());
}

void MainWindow::setAppModeBasic()
{
    setSetting(appModeKey, basicMode);
    sendConfigButton->hide();
    tabWidget->removeTab(statusTabIndex);
}

void MainWindow::setAppModeClient()
{
    setSetting(appModeKey, clientMode);
    sendConfigButton->show();
    tabWidget->removeTab(statusTabIndex);
}

void MainWindow::setAppModeServer()
{
    setSetting(appModeKey, serverMode);
    sendConfigButton->hide();
    if (tabWidget->indexOf(clientsPage) < 0)
        tabWidget->insertTab(statusTabIndex, clientsPage, tr("Status"));
}

void MainWindow::setAutoHoldRelease()
{
    setSetting(autoHoldReleaseKey, autoHoldReleaseAction->isChecked());
}

void MainWindow::setNotifications()
{
    setSetting(notificationsKey, notificationsAction->isChecked());
    notifications->setEnabled(notificationsAction->isChecked());
}

void MainWindow::findSlot()
{
    // What Ctrl+F finds in depends on the tab in front.
    if (tabWidget->currentWidget() == logPage)
        findBar->open();
    else if (tabWidget->currentWidget() == clientsPage)
        clientsBar->focusFilter();
}

void MainWindow::saveLog()
{
    LogSaver(this).run(*terminal->document());
}

void MainWindow::setLangEn()
{
    setSetting(languageKey, QStringLiteral("en"));
    showLanguageChangedInfo();
}

void MainWindow::setLangPl()
{
    setSetting(languageKey, QStringLiteral("pl"));
    showLanguageChangedInfo();
}

void MainWindow::showLanguageChangedInfo()
{
    Dialogs::instance().message(this, QMessageBox::Information, tr("Information"),
                                tr("Application language was changed. Please restart application to apply changes."));
}

void MainWindow::openVpnTimeoutReached()
{
    management.close();
    const auto answer = Dialogs::instance().message(
        this, QMessageBox::Warning, tr("Timeout reached"),
        tr("The server is not responding. The cause might be that it's management interface is already in use. "
           "Do you want to reconnect?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        openVpnReconnect();
}

void MainWindow::openVpnDisconnected()
{
    statusTimer.stop();
    managementLost();
}

void MainWindow::managementLost()
{
    ++conversation;
    holdReleaseButton->setEnabled(false);
    vpnRestartButton->setEnabled(false);
    clientsTree->setDisconnectEnabled(false);
    killRequests.clear();
    managementPasswordWrong = false;
    notifications->managementLost();
    // One button however many losses come before the next connection.
    if (reconnectButton->isHidden()) {
        statusBar()->addPermanentWidget(reconnectButton, 0);
        reconnectButton->show();
    }
}

void MainWindow::openVpnReconnect()
{
    management.close();
    management.connectToHost(setting(ipKey).toString(), managementPort);
}

void MainWindow::secretStoreFailed(const QString &reason)
{
    // Said once per run, however often the store fails.
    if (secretStoreNotice)
        return;
    secretStoreNotice = new QLabel(tr("No secret store: the router password is kept in the settings file."));
    secretStoreNotice->setObjectName(QStringLiteral("secretStoreNotice"));
    secretStoreNotice->setToolTip(reason);
    statusBar()->addWidget(secretStoreNotice, 1);
}

void MainWindow::init()
{
    if (!isVisible())
        return;
    // A password left in the settings file leaves it as soon as the store has it.
    routerPassword.migrate();
    if (QSettings().contains(ipKey))
        management.connectToHost(setting(ipKey).toString(), managementPort);
    else
        setIpAddress();
    // Deleted later: this runs inside the timer's own signal.
    disconnect(initTimer.get(), &QTimer::timeout, this, &MainWindow::init);
    initTimer->stop();
    initTimer.release()->deleteLater();
}
