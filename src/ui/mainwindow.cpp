#include "ui/mainwindow.h"

#include "app/settingskeys.h"
#include "app/startup.h"
#include "router/configexport.h"
#include "router/configextractor.h"
#include "router/ftpprogressdialog.h"
#include "ui/clientlistparser.h"
#include "ui/clientstatuswidget.h"
#include "ui/dialogs.h"
#include "ui/openvpnlogline.h"
#include "ui/terminallogwriter.h"
#include "ui/textterminal.h"
#include "update/aboutbox.h"
#include "update/updateaction.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

namespace {

const QString appModeKey = SettingsKeys::appMode;
const QString autoHoldReleaseKey = SettingsKeys::autoHoldRelease;
const QString ipKey = SettingsKeys::ip;
const QString passwordKey = SettingsKeys::password;
const QString languageKey = SettingsKeys::language;
const QString browseStartPathKey = SettingsKeys::browseStartPath;

const QString basicMode = QStringLiteral("basic");
const QString clientMode = QStringLiteral("client");
const QString serverMode = QStringLiteral("server");

constexpr quint16 managementPort = 11110;
constexpr int statusInterval = 3000;
constexpr int initInterval = 500;
constexpr int statusTabIndex = 2;
const QString routerUser = QStringLiteral("root");

// Roles of a client row in column 0.
constexpr int seenRole = Qt::UserRole;
constexpr int nameRole = Qt::UserRole + 1;

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
        .arg(Startup::applicationName(), Startup::applicationVersion());
}

// An offered link leads to a web page; anything else (a local file, a script) is not offered
// as a link, since a click would hand it to whatever the desktop runs for it.
bool isWebLink(const QString &link)
{
    const QUrl url(link);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}

// The update server's words go into rich text as text: none of its markup is obeyed. The
// lines of its answer may end in CR, which would otherwise become part of the link.
QString offerValue(const QString &value)
{
    return value.trimmed().toHtmlEscaped();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Pylon Router"));
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
    statusBar();

    connect(&routerAdmin, &PylonVpnHttpAdmin::done, this, &MainWindow::waitOff);
    connect(&routerAdmin, &PylonVpnHttpAdmin::error, this, &MainWindow::waitOffError);

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
}

void MainWindow::createActions()
{
    const QString mode = appMode();

    basicAction = new QAction(tr("Basic"), this);
    basicAction->setObjectName(QStringLiteral("basicAction"));
    basicAction->setCheckable(true);
    basicAction->setChecked(mode == basicMode);
    connect(basicAction, &QAction::triggered, this, &MainWindow::setAppModeBasic);

    clientAction = new QAction(tr("Client"), this);
    clientAction->setObjectName(QStringLiteral("clientAction"));
    clientAction->setCheckable(true);
    connect(clientAction, &QAction::triggered, this, &MainWindow::setAppModeClient);

    serverAction = new QAction(tr("Server"), this);
    serverAction->setObjectName(QStringLiteral("serverAction"));
    serverAction->setCheckable(true);
    connect(serverAction, &QAction::triggered, this, &MainWindow::setAppModeServer);

    modeGroup = new QActionGroup(this);
    modeGroup->setExclusive(true);
    modeGroup->addAction(basicAction);
    modeGroup->addAction(clientAction);
    modeGroup->addAction(serverAction);

    extractConfAction = new QAction(tr("Extract config"), this);
    extractConfAction->setObjectName(QStringLiteral("extractConfAction"));
    connect(extractConfAction, &QAction::triggered, this, &MainWindow::extractConf);

    langEnAction = new QAction(tr("English"), this);
    langEnAction->setObjectName(QStringLiteral("langEnAction"));
    langEnAction->setCheckable(true);
    connect(langEnAction, &QAction::triggered, this, &MainWindow::setLangEn);

    langPlAction = new QAction(tr("Polish"), this);
    langPlAction->setObjectName(QStringLiteral("langPlAction"));
    langPlAction->setCheckable(true);
    connect(langPlAction, &QAction::triggered, this, &MainWindow::setLangPl);

    langGroup = new QActionGroup(this);
    langGroup->setExclusive(true);
    langGroup->addAction(langEnAction);
    langGroup->addAction(langPlAction);

    exitAction = new QAction(QIcon(QStringLiteral(":img/exit.png")), tr("Exit"), this);
    exitAction->setObjectName(QStringLiteral("exitAction"));
    exitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    connect(exitAction, &QAction::triggered, this, &MainWindow::close);

    setIpAddressAction = new QAction(tr("Set IP address"), this);
    setIpAddressAction->setObjectName(QStringLiteral("setIpAddressAction"));
    connect(setIpAddressAction, &QAction::triggered, this, &MainWindow::setIpAddress);

    setFtpPassAction = new QAction(tr("Set FTP password"), this);
    setFtpPassAction->setObjectName(QStringLiteral("setFtpPassAction"));
    connect(setFtpPassAction, &QAction::triggered, this, &MainWindow::setFtpPass);

    autoHoldReleaseAction = new QAction(tr("Automatic hold-release"), this);
    autoHoldReleaseAction->setObjectName(QStringLiteral("autoHoldReleaseAction"));
    autoHoldReleaseAction->setCheckable(true);
    autoHoldReleaseAction->setChecked(setting(autoHoldReleaseKey).toBool());
    connect(autoHoldReleaseAction, &QAction::triggered, this, &MainWindow::setAutoHoldRelease);

    helpAction = new QAction(QIcon(QStringLiteral(":img/help.png")), tr("Help"), this);
    helpAction->setObjectName(QStringLiteral("helpAction"));
    helpAction->setShortcut(QKeySequence(tr("Ctrl+H")));
    connect(helpAction, &QAction::triggered, this, &MainWindow::helpSlot);

    aboutAction = new QAction(QIcon(QStringLiteral(":img/info.png")), tr("About"), this);
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    connect(aboutAction, &QAction::triggered, this, &MainWindow::aboutSlot);

    reconnectAction = new QAction(tr("Reconnect OpenVPN"), this);
    reconnectAction->setObjectName(QStringLiteral("reconnectAction"));
    connect(reconnectAction, &QAction::triggered, this, &MainWindow::openVpnReconnect);

    updateAction = new UpdateAction(QStringLiteral("pylon"), Startup::applicationName(), Startup::applicationVersion(),
                                    QStringLiteral("0"), this, QLatin1String(updateServerBaseUrl));
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
        tabWidget->addTab(clientsTree, tr("Status"));
    } else {
        // Kept by the window while no tab shows it, so it never lives without an owner.
        clientsTree->setParent(this);
        clientsTree->hide();
    }
    tabWidget->setTabPosition(QTabWidget::East);
    setCentralWidget(tabWidget);
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
    grid->addWidget(logoLabel, 0, 0, 1, 3);

    ipLabel = new QLabel(heading(setting(ipKey).toString()));
    ipLabel->setObjectName(QStringLiteral("ipLabel"));
    ipLabel->setTextFormat(Qt::RichText);
    ipLabel->setAlignment(Qt::AlignCenter);
    grid->addWidget(ipLabel, 2, 0, 1, 3);

    stateLabel = new QLabel;
    stateLabel->setObjectName(QStringLiteral("stateLabel"));
    stateLabel->setTextFormat(Qt::RichText);
    stateLabel->setAlignment(Qt::AlignCenter);
    grid->addWidget(stateLabel, 3, 0, 1, 3);

    holdReleaseButton = new QPushButton(tr("Hold release"));
    holdReleaseButton->setObjectName(QStringLiteral("holdReleaseButton"));
    holdReleaseButton->setEnabled(false);
    grid->addWidget(holdReleaseButton, 5, 1, 2, 1);

    vpnRestartButton = new QPushButton(tr("Vpn restart"));
    vpnRestartButton->setObjectName(QStringLiteral("vpnRestartButton"));
    vpnRestartButton->setEnabled(false);
    grid->addWidget(vpnRestartButton, 7, 1);

    fwRestartButton = new QPushButton(tr("Firewall restart"));
    fwRestartButton->setObjectName(QStringLiteral("fwRestartButton"));
    grid->addWidget(fwRestartButton, 8, 1);

    restartButton = new QPushButton(tr("Router restart"));
    restartButton->setObjectName(QStringLiteral("restartButton"));
    grid->addWidget(restartButton, 9, 1);

    sendConfigButton = new QPushButton(tr("Send configuration"));
    sendConfigButton->setObjectName(QStringLiteral("sendConfigButton"));
    grid->addWidget(sendConfigButton, 10, 1);
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
    // A log view has nothing to undo; the history would only grow with every line.
    terminal->setUndoRedoEnabled(false);
    // An ever-growing view gets slower with every line, and a busy server writes tens of
    // thousands a day: the oldest lines go.
    logWriter = new TerminalLogWriter(terminal, TerminalLogWriter::defaultLineLimit, this);
    logWriter->setObjectName(QStringLiteral("logWriter"));
    return terminal;
}

QWidget *MainWindow::createClientsTree()
{
    clientsTree = new QTreeWidget;
    clientsTree->setObjectName(QStringLiteral("clientsTree"));
    clientsTree->setHeaderLabels({tr("VPN Clients")});
    return clientsTree;
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

void MainWindow::vpnRestart()
{
    management.sendUsr1Signal();
}

void MainWindow::fwRestart()
{
    routerAdmin.setHost(setting(ipKey).toString());
    routerAdmin.restartFirewall(routerUser, setting(passwordKey).toString());
    waitOn();
}

void MainWindow::restart()
{
    routerAdmin.setHost(setting(ipKey).toString());
    routerAdmin.rebootRouter(routerUser, setting(passwordKey).toString());
    waitOn();
}

void MainWindow::sendConfig(bool saveLocal)
{
    Dialogs &dialogs = Dialogs::instance();
    const QString fileName = dialogs.getOpenFileName(this, tr("Read router configuration"),
                                                     setting(browseStartPathKey).toString(),
                                                     tr("AES files (*.aes);;All files (*.*)"));
    rememberBrowsePath(fileName);
    if (fileName.isEmpty())
        return;

    ConfigExport configExport;
    if (!configExport.load(fileName)) {
        dialogs.message(this, QMessageBox::Critical, tr("Error"), tr("Could not read the file."));
        return;
    }

    bool ok = false;
    const QString password = dialogs.getText(this, tr("Insert password"),
                                             tr("Configuration transport password:"),
                                             QLineEdit::Password, QString(), &ok);
    if (!ok) {
        configExport.clear();
        return;
    }

    ConfigExport::Result result = configExport.open(password);
    if (!result.ok) {
        dialogs.message(this, QMessageBox::Critical, tr("Error"),
                        tr("Wrong password or XML syntax error."));
        return;
    }

    if (!saveLocal) {
        FtpProgressDialog::upload(this, setting(ipKey).toString(), result.login,
                                  setting(passwordKey).toString(), result.files);
        return;
    }

    const QString directory = dialogs.getExistingDirectory(
        this, tr("Extract directory"), setting(browseStartPathKey).toString(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (directory.isEmpty())
        return;
    QStringList failed;
    const QStringList refused = ConfigExtractor::extract(directory, std::move(result.files), &failed);
    QStringList problems;
    if (!refused.isEmpty())
        problems.append(ConfigExtractor::refusalMessage(refused));
    if (!failed.isEmpty())
        problems.append(ConfigExtractor::failureMessage(failed));
    if (!problems.isEmpty())
        dialogs.message(this, QMessageBox::Critical, tr("Error"), problems.join(QStringLiteral("\n\n")));
}

void MainWindow::sendConfig()
{
    sendConfig(false);
}

void MainWindow::extractConf()
{
    sendConfig(true);
}

void MainWindow::rememberBrowsePath(const QString &fileName)
{
    if (fileName.isEmpty())
        return;
    const QString directory = QFileInfo(fileName).absolutePath();
    if (directory != setting(browseStartPathKey).toString())
        setSetting(browseStartPathKey, directory);
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
    ipLabel->setText(heading(ip));
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
        setSetting(passwordKey, password);
}

void MainWindow::managementConnectedSlot()
{
    logWriter->clear();
    clientsTree->clear();
    killRequests.clear();
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
    bool ok = false;
    const QString password = Dialogs::instance().getText(this, tr("Insert password"), tr("Private key password:"),
                                                         QLineEdit::Password, QString(), &ok);
    if (ok)
        management.sendPrivKeyPassword(password, true);
    else
        management.close();
}

void MainWindow::authData()
{
    QString username;
    QString password;
    if (Dialogs::instance().getAuthData(this, tr("User authentication"), tr("Username:"), username,
                                        tr("Password:"), password))
        management.sendAuthData(username, password, true);
    else
        management.close();
}

void MainWindow::updateStatus()
{
    management.getStatus();
}

void MainWindow::setStatus(const QStringList &status)
{
    // Mark and sweep. The marks are kept here while the answer is read, so that a row's own
    // seen mark only changes when its row is made (every row that stays was seen), and the
    // view is not told of two changes per row and answer.
    struct Row
    {
        QTreeWidgetItem *item = nullptr;
        bool seen = false;
        // For rows made by this answer: the last line for the panel, which is made after all
        // rows are in place (a panel put on a row before the next row is added makes every
        // insertion lay out all the panels again).
        bool isNew = false;
        QString line;
    };
    const int rowCount = clientsTree->topLevelItemCount();
    QHash<QString, Row> rows;
    rows.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i) {
        QTreeWidgetItem *item = clientsTree->topLevelItem(i);
        // The first row of a name is the one that counts.
        const QString name = item->data(0, nameRole).toString();
        if (!rows.contains(name)) {
            Row row;
            row.item = item;
            rows.insert(name, row);
        }
    }

    QList<QTreeWidgetItem *> added;
    for (const ClientListParser::Client &client : ClientListParser::parse(status)) {
        Row &row = rows[client.commonName];
        if (!row.item) {
            row.item = new QTreeWidgetItem(clientsTree);
            row.item->setFlags(Qt::ItemIsEnabled);
            row.item->setData(0, seenRole, true);
            row.item->setData(0, nameRole, client.commonName);
            row.isNew = true;
            added.append(row.item);
        }
        row.seen = true;
        if (client.line.isEmpty())
            continue;
        if (row.isNew)
            row.line = client.line;
        else if (auto *panel = qobject_cast<ClientStatusWidget *>(clientsTree->itemWidget(row.item, 0)))
            panel->setStatus(client.line);
    }

    // Panels put on a visible list are clipped against every panel already there, which makes
    // a first fill of many clients quadratic; the list is hidden while they go in (no paint
    // happens in between, so nothing flickers).
    QWidget *viewport = clientsTree->viewport();
    const bool hideViewport = !added.isEmpty() && viewport->isVisible();
    QPointer<QWidget> focus = QApplication::focusWidget();
    if (hideViewport)
        viewport->hide();
    for (QTreeWidgetItem *item : std::as_const(added)) {
        auto *panel = new ClientStatusWidget;
        connect(panel, &ClientStatusWidget::clientDisconnected, this, &MainWindow::clientDisconnect);
        const Row &row = rows[item->data(0, nameRole).toString()];
        if (!row.line.isEmpty())
            panel->setStatus(row.line);
        clientsTree->setItemWidget(item, 0, panel);
    }

    // Rows not in this answer go; the rows after them move up.
    for (int i = 0; i < clientsTree->topLevelItemCount();) {
        QTreeWidgetItem *item = clientsTree->topLevelItem(i);
        const auto row = rows.constFind(item->data(0, nameRole).toString());
        if (row != rows.constEnd() && row->item == item && row->seen) {
            ++i;
            continue;
        }
        clientsTree->removeItemWidget(item, 0);
        delete clientsTree->takeTopLevelItem(i);
    }
    if (hideViewport) {
        viewport->show();
        if (focus && viewport->isAncestorOf(focus))
            focus->setFocus();
    }
    viewport->update();
}

void MainWindow::clientDisconnect(const QString &cn)
{
    // The row, and the name with it, may go while the question is open.
    const QString name = cn; // NOLINT(performance-unnecessary-copy-initialization): see above
    const auto answer = Dialogs::instance().message(this, QMessageBox::Question, tr("Question"),
                                                    tr("Do you really want to disconnect %1?").arg(name),
                                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || !management.kill(name))
        return;
    killRequests.append(name);
    management.getStatus();
}

void MainWindow::killResponseSlot(const QString &resp)
{
    const QString name = killRequests.isEmpty() ? QString() : killRequests.takeFirst();
    if (!resp.startsWith(QLatin1String("ERROR:")))
        return;
    Dialogs::instance().message(this, QMessageBox::Critical, tr("Error"),
                                tr("The client %1 was not disconnected. OpenVPN answered: %2")
                                    .arg(name, resp.trimmed()));
}

void MainWindow::commandRefusedSlot(OpenVpnManagement::MessageType type)
{
    const QString text = type == OpenVpnManagement::MsgKill
                             ? tr("The name of this client is too long to be sent to OpenVPN. It was not disconnected.")
                             : tr("The text entered is too long to be sent to OpenVPN. Nothing was sent.");
    Dialogs::instance().message(this, QMessageBox::Critical, tr("Error"), text);
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
    const QString link = updateAction->linkUrl().trimmed();
    // Only a web address becomes a link; any other target would show an anchor that looks
    // clickable and leads nowhere, so its text stands alone.
    if (!isWebLink(link)) {
        aboutBox->setUpdateText(tr("Version %1 is avaliable on the following website:<br><br>%2")
                                    .arg(offerValue(updateAction->newVersion()),
                                         offerValue(updateAction->linkText())));
        return;
    }
    aboutBox->setUpdateText(tr("Version %1 is avaliable on the following website:<br><br><a href=\"%2\">%3</a>")
                                .arg(offerValue(updateAction->newVersion()), offerValue(link),
                                     offerValue(updateAction->linkText())));
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
    if (tabWidget->indexOf(clientsTree) < 0)
        tabWidget->insertTab(statusTabIndex, clientsTree, tr("Status"));
}

void MainWindow::setAutoHoldRelease()
{
    setSetting(autoHoldReleaseKey, autoHoldReleaseAction->isChecked());
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
    holdReleaseButton->setEnabled(false);
    vpnRestartButton->setEnabled(false);
    for (int i = 0; i < clientsTree->topLevelItemCount(); ++i) {
        if (auto *panel = qobject_cast<ClientStatusWidget *>(clientsTree->itemWidget(clientsTree->topLevelItem(i), 0)))
            panel->setDisconnectEnabled(false);
    }
    killRequests.clear();
    managementPasswordWrong = false;
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

void MainWindow::init()
{
    if (!isVisible())
        return;
    if (QSettings().contains(ipKey))
        management.connectToHost(setting(ipKey).toString(), managementPort);
    else
        setIpAddress();
    // Deleted later: this runs inside the timer's own signal.
    disconnect(initTimer.get(), &QTimer::timeout, this, &MainWindow::init);
    initTimer->stop();
    initTimer.release()->deleteLater();
}
