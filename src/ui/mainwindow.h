#pragma once

#include "management/openvpnmanagement.h"
#include "router/pylonvpnhttpadmin.h"
#include "router/routerpasswordstore.h"
#include "ui/dialogqueue.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <memory>

class AboutBox;
class ClientListBar;
class ClientListView;
class LogFindBar;
class QAction;
class QActionGroup;
class QLabel;
class QPushButton;
class QTabWidget;
class QToolButton;
class TerminalLogWriter;
class TextTerminal;
class UpdateAction;
class VpnNotifications;

// The program's only window: the router panel, OpenVPN's log and the list of VPN clients,
// driven by the management connection to the router's OpenVPN and by the router's web
// interface.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

private slots:
    void vpnRestart();
    void fwRestart();
    void restart();
    void sendConfig(bool saveLocal);
    void sendConfig();
    void extractConf();
    void waitOn();
    void waitOff();
    void waitOffError();
    void setIpAddress();
    void setFtpPass();
    void managementConnectedSlot();
    void socketErrorSlot(const QString &str);
    void socketErrorSlot();
    void setState(OpenVpnManagement::VpnState state);
    void setLog(const QString &log);
    void setInfo(const QString &info);
    void managementHoldSlot();
    void holdReleasedSlot();
    void managementPassword();
    void managementPasswordFailSlot();
    void privKeyPassword();
    void authData();
    void updateStatus();
    void setStatus(const QStringList &status);
    void clientDisconnect(const QString &cn);
    void killResponseSlot(const QString &resp);
    void commandRefusedSlot(OpenVpnManagement::MessageType type);
    void helpSlot();
    void aboutSlot();
    void updateSlot();
    void setUpdateIconSlot();
    void setAppModeBasic();
    void setAppModeClient();
    void setAppModeServer();
    void setAutoHoldRelease();
    void setNotifications();
    void findSlot();
    void saveLog();
    void setLangEn();
    void setLangPl();
    void openVpnTimeoutReached();
    void openVpnDisconnected();
    void openVpnReconnect();
    void secretStoreFailed(const QString &reason);
    void init();

private:
    friend class MainWindowTestAccess;

    void createActions();
    // An action of the window whose triggered() goes to slot.
    QAction *newAction(const QString &text, const char *name, void (MainWindow::*slot)(), bool checkable = false);
    void createMenus();
    void createTabs();
    QWidget *createRouterPanel();
    QWidget *createTerminal();
    QWidget *createClientsTree();
    void createAboutBox();
    // The router's address in the heading of the router tab.
    void showRouterAddress(const QString &ip);
    void showLanguageChangedInfo();
    // The management connection is gone: what needs it is switched off, Reconnect is offered.
    void managementLost();
    // Runs a command of the router's web interface, busy from now until the router answers:
    // the password may have to come from the secret store first.
    void routerCommand(void (PylonVpnHttpAdmin::*command)(const QString &, const QString &));
    // Shows a prompt of the current management conversation once the line that asked for it
    // has been handled; a conversation that has ended by then is not asked.
    void postPrompt(std::function<void()> prompt);
    // Shows an error about a management command once the reply that brought it is handled.
    void postError(const QString &text);

    QActionGroup *modeGroup = nullptr;
    QAction *basicAction = nullptr;
    QAction *clientAction = nullptr;
    QAction *serverAction = nullptr;
    QAction *extractConfAction = nullptr;
    QActionGroup *langGroup = nullptr;
    QAction *langEnAction = nullptr;
    QAction *langPlAction = nullptr;
    QAction *exitAction = nullptr;
    QAction *setIpAddressAction = nullptr;
    QAction *setFtpPassAction = nullptr;
    QAction *autoHoldReleaseAction = nullptr;
    QAction *helpAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *reconnectAction = nullptr;
    QAction *notificationsAction = nullptr;
    QAction *findAction = nullptr;
    QAction *saveLogAction = nullptr;
    UpdateAction *updateAction = nullptr;
    AboutBox *aboutBox = nullptr;
    QToolButton *updateButton = nullptr;
    QToolButton *reconnectButton = nullptr;
    // In the status bar from the first failure of the secret store on.
    QLabel *secretStoreNotice = nullptr;
    // Fires until the window is on screen; the first connection waits for it.
    std::unique_ptr<QTimer> initTimer;
    QTimer statusTimer;
    QLabel *ipLabel = nullptr;
    QLabel *stateLabel = nullptr;
    QPushButton *holdReleaseButton = nullptr;
    QPushButton *vpnRestartButton = nullptr;
    QPushButton *fwRestartButton = nullptr;
    QPushButton *restartButton = nullptr;
    QPushButton *sendConfigButton = nullptr;
    QTabWidget *tabWidget = nullptr;
    TextTerminal *terminal = nullptr;
    TerminalLogWriter *logWriter = nullptr;
    QWidget *logPage = nullptr;
    LogFindBar *findBar = nullptr;
    VpnNotifications *notifications = nullptr;
    ClientListView *clientsTree = nullptr;
    // The Status tab: the list and the controls above it.
    QWidget *clientsPage = nullptr;
    ClientListBar *clientsBar = nullptr;
    // Names of the clients whose "kill" or "client-kill" is on its way, one per command, oldest
    // first: OpenVPN answers in order.
    QStringList killRequests;
    // OpenVPN has asked again for the management password: the last one was wrong.
    bool managementPasswordWrong = false;
    // Counts management conversations: changes when one comes up and when one is lost.
    quint64 conversation = 0;
    // The boxes and prompts that answer management events.
    DialogQueue managementDialogs;
    PylonVpnHttpAdmin routerAdmin;
    RouterPasswordStore routerPassword;
    OpenVpnManagement management;
};
