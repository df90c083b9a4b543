#include "ui/mainwindow.h"

#include "support/mainwindowtestaccess.h"
#include "support/scripteddialogs.h"
#include "support/scriptedopenvpnpeer.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"
#include "ui/clientstatuswidget.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>

#include <ctime>
#include <memory>

namespace {

const QString peerAddress = QStringLiteral("127.0.0.42");

const QString header26 = QStringLiteral(
    "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
    "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher");

// A client line as OpenVPN 2.6 writes it.
QString line26(const QString &name, int bytes)
{
    return QStringLiteral("CLIENT_LIST,%1,127.0.0.1:4%2,10.88.0.%2,,%3,%4,2026-12-07 19:50:38,1262304000,UNDEF,0,0,AES-256-GCM")
        .arg(name)
        .arg(name.size())
        .arg(bytes)
        .arg(bytes + 1);
}

// The row the panel of line26() shows.
QString row26(const QString &name, int bytes)
{
    return QStringLiteral("%1|Connected: 10.01.01 02:00:00|Real address: 127.0.0.1:4%2|VPN address: 10.88.0.%2|"
                          "Sent bytes: %3|Received bytes: %4")
        .arg(name)
        .arg(name.size())
        .arg(bytes)
        .arg(bytes + 1);
}

QByteArray answer(const QStringList &lines)
{
    QByteArray bytes = "TITLE,OpenVPN\r\nTIME,2026-12-07 19:50:43,1796673043\r\n";
    for (const QString &line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes + "GLOBAL_STATS,Max bcast/mcast queue length,1\r\nEND\r\n";
}

QString label(const QWidget *panel, const char *name)
{
    return panel->findChild<QLabel *>(QLatin1String(name))->text();
}

// The text a label puts on screen: its markup read, when it is read as markup.
QString shownText(const QLabel *label)
{
    const Qt::TextFormat format = label->textFormat();
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

ClientStatusWidget *panelOf(QTreeWidget *tree, int row)
{
    return qobject_cast<ClientStatusWidget *>(tree->itemWidget(tree->topLevelItem(row), 0));
}

// "name|connected|real|vpn|sent|received" per row, the name being the row's key; checks the
// title and the item's own state on the way.
QStringList rows(QTreeWidget *tree)
{
    QStringList result;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        const QString key = item->data(0, Qt::UserRole + 1).toString();
        const ClientStatusWidget *panel = panelOf(tree, i);
        if (!panel || item->flags() != Qt::ItemIsEnabled || !item->data(0, Qt::UserRole).toBool())
            return {QStringLiteral("bad row %1").arg(i)};
        const QString title = label(panel, "titleLabel");
        if (!title.isEmpty() && title != QStringLiteral("<h2 style=\"color: #0080FF\">%1</h2>").arg(key))
            return {QStringLiteral("bad title ") + title};
        QStringList fields{key};
        for (const char *name : {"connectedLabel", "realAddressLabel", "vpnAddressLabel", "sentLabel", "receivedLabel"})
            fields.append(label(panel, name));
        result.append(fields.join(QLatin1Char('|')));
    }
    return result;
}

} // namespace

class tst_MainWindowClients : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void merge_data();
    void merge();
    void panelsLiveWithTheirRows();
    void listSurvivesModeSwitches();
    void disconnect_data();
    void disconnect();
    void rowGoesWhileTheQuestionIsOpen();
    void peerTextsShownAsText_data();
    void peerTextsShownAsText();

private:
    bool open();
    bool answerWith(const QByteArray &status);

    std::unique_ptr<TestSettings> settings;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<ScriptedOpenVpnPeer> peer;
    std::unique_ptr<MainWindow> window;
    QTreeWidget *tree = nullptr;
};

void tst_MainWindowClients::initTestCase()
{
    settings = std::make_unique<TestSettings>();
    pointUpdateCheckAtClosedPort();
    qputenv("TZ", "PYL-02");
    tzset();
}

void tst_MainWindowClients::init()
{
    settings->clear();
    QSettings().setValue(QStringLiteral("ip"), peerAddress);
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    dialogs = std::make_unique<ScriptedDialogs>();
    peer = std::make_unique<ScriptedOpenVpnPeer>(QHostAddress(peerAddress));
    QVERIFY2(peer->isListening(), qPrintable(peer->errorString()));
    peer->statusAnswer = answer({});
}

void tst_MainWindowClients::cleanup()
{
    window.reset();
    peer.reset();
    dialogs.reset();
}

bool tst_MainWindowClients::open()
{
    window = std::make_unique<MainWindow>();
    tree = window->findChild<QTreeWidget *>(QStringLiteral("clientsTree"));
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return false;
    if (!QTest::qWaitFor([&] { return peer->receivedOnConnection.contains(QStringLiteral("status 2")); }, 5000))
        return false;
    // Only the test asks for the status from here on.
    MainWindowTestAccess::statusTimer(*window).stop();
    return MainWindowTestAccess::settle(*window);
}

bool tst_MainWindowClients::answerWith(const QByteArray &status)
{
    peer->statusAnswer = status;
    MainWindowTestAccess::poll(*window);
    return MainWindowTestAccess::settle(*window);
}

void tst_MainWindowClients::merge_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QStringList>("expected");

    const QString a8 = QStringLiteral("CLIENT_LIST,alice,198.51.100.7:1194,10.8.0.6,100,200,Thu Jan  1 00:00:00 2010,1262304000");
    const QString b8 = QStringLiteral("CLIENT_LIST,bob,198.51.100.8:1195,10.8.0.10,300,400,Thu Jan  1 00:00:00 2010,1262304000");
    const QString aRow = QStringLiteral("alice|Connected: 10.01.01 02:00:00|Real address: 198.51.100.7:1194|"
                                        "VPN address: 10.8.0.6|Sent bytes: 100|Received bytes: 200");
    const QString bRow = QStringLiteral("bob|Connected: 10.01.01 02:00:00|Real address: 198.51.100.8:1195|"
                                        "VPN address: 10.8.0.10|Sent bytes: 300|Received bytes: 400");
    const QString blank = QStringLiteral("|||||");

    QTest::newRow("eight fields without header") << QList<QByteArray>{answer({a8, b8})} << QStringList{aRow, bRow};
    QTest::newRow("thirteen fields under the header")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("client1"), 2048), line26(QStringLiteral("client2"), 5)})}
        << QStringList{row26(QStringLiteral("client1"), 2048), row26(QStringLiteral("client2"), 5)};
    QTest::newRow("new byte counts in place")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("c1"), 1)}), answer({header26, line26(QStringLiteral("c1"), 99)})}
        << QStringList{row26(QStringLiteral("c1"), 99)};
    QTest::newRow("duplicates share a row, the later line shows")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("dup"), 1), line26(QStringLiteral("x"), 3),
                                     line26(QStringLiteral("dup"), 7)})}
        << QStringList{row26(QStringLiteral("dup"), 7), row26(QStringLiteral("x"), 3)};
    QTest::newRow("a client that leaves disappears, the rows after move up")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2),
                                     line26(QStringLiteral("c"), 3)}),
                             answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("c"), 3)})}
        << QStringList{row26(QStringLiteral("a"), 1), row26(QStringLiteral("c"), 3)};
    QTest::newRow("a new client comes at the end")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}),
                             answer({header26, line26(QStringLiteral("new"), 9), line26(QStringLiteral("a"), 1),
                                     line26(QStringLiteral("b"), 2)})}
        << QStringList{row26(QStringLiteral("a"), 1), row26(QStringLiteral("b"), 2), row26(QStringLiteral("new"), 9)};
    QTest::newRow("a client that comes back goes to the end")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}),
                             answer({header26, line26(QStringLiteral("b"), 2)}),
                             answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)})}
        << QStringList{row26(QStringLiteral("b"), 2), row26(QStringLiteral("a"), 1)};
    QTest::newRow("an answer without clients empties the list")
        << QList<QByteArray>{answer({a8, b8}), answer({header26})} << QStringList{};
    QTest::newRow("an error answer empties the list")
        << QList<QByteArray>{answer({a8}), QByteArray("ERROR: The 'status' command is not supported by the current daemon mode\r\n")}
        << QStringList{};
    QTest::newRow("a line without a name is skipped")
        << QList<QByteArray>{answer({header26, QStringLiteral("CLIENT_LIST"), line26(QStringLiteral("a"), 1)})}
        << QStringList{row26(QStringLiteral("a"), 1)};
    QTest::newRow("a short line keeps the row and the panel")
        << QList<QByteArray>{answer({header26, line26(QStringLiteral("a"), 1)}),
                             answer({header26, QStringLiteral("CLIENT_LIST,a,127.0.0.1:41")})}
        << QStringList{row26(QStringLiteral("a"), 1)};
    QTest::newRow("without header another length leaves a new panel blank")
        << QList<QByteArray>{answer({line26(QStringLiteral("x"), 1)})} << QStringList{QStringLiteral("x") + blank};
    QTest::newRow("seven fields without header")
        << QList<QByteArray>{answer({a8, QStringLiteral("CLIENT_LIST,seven,a,b,1,2,t")})}
        << QStringList{aRow, QStringLiteral("seven") + blank};
    QTest::newRow("twelve fields under the 2.4 header")
        << QList<QByteArray>{answer({QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,"
                                                    "Bytes Received,Bytes Sent,Connected Since,Connected Since (time_t),Username,"
                                                    "Client ID,Peer ID"),
                                     QStringLiteral("CLIENT_LIST,alice,198.51.100.7:1194,10.8.0.6,fd00::6,100,200,x,1262304000,UNDEF,3,0")})}
        << QStringList{aRow};
    QTest::newRow("nine fields under the 2.3 header")
        << QList<QByteArray>{answer({QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Bytes Received,"
                                                    "Bytes Sent,Connected Since,Connected Since (time_t),Username"),
                                     QStringLiteral("CLIENT_LIST,alice,198.51.100.7:1194,10.8.0.6,100,200,x,1262304000,alice")})}
        << QStringList{aRow};
    QTest::newRow("2.7 real address with the protocol")
        << QList<QByteArray>{answer({header26, QStringLiteral("CLIENT_LIST,road,udp4:203.0.113.5:52137,10.8.0.6,,5,6,x,1262304000,UNDEF,1,0,AES-256-GCM")})}
        << QStringList{QStringLiteral("road|Connected: 10.01.01 02:00:00|Real address: udp4:203.0.113.5:52137|"
                                      "VPN address: 10.8.0.6|Sent bytes: 5|Received bytes: 6")};
    QTest::newRow("other sections and lower case are no clients")
        << QList<QByteArray>{answer({QStringLiteral("ROUTING_TABLE,10.8.0.6,alice,198.51.100.7:1194,x,1"),
                                     QStringLiteral("client_list,alice,a,b,1,2,t,0")})}
        << QStringList{};
}

void tst_MainWindowClients::merge()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QStringList, expected);
    QVERIFY(open());
    for (const QByteArray &status : answers)
        QVERIFY(answerWith(status));
    QCOMPARE(rows(tree), expected);
}

void tst_MainWindowClients::panelsLiveWithTheirRows()
{
    QVERIFY(open());
    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)})));
    QPointer<ClientStatusWidget> a = panelOf(tree, 0);
    QPointer<ClientStatusWidget> b = panelOf(tree, 1);
    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("b"), 5), line26(QStringLiteral("a"), 6)})));
    QCOMPARE(panelOf(tree, 0), a.data());
    QCOMPARE(panelOf(tree, 1), b.data());

    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("b"), 5)})));
    QTRY_VERIFY(a.isNull());
    QCOMPARE(panelOf(tree, 0), b.data());
}

void tst_MainWindowClients::listSurvivesModeSwitches()
{
    QVERIFY(open());
    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("a"), 1)})));
    QPointer<ClientStatusWidget> panel = panelOf(tree, 0);
    window->findChild<QAction *>(QStringLiteral("basicAction"))->trigger();
    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("a"), 2), line26(QStringLiteral("b"), 3)})));
    window->findChild<QAction *>(QStringLiteral("serverAction"))->trigger();
    QCOMPARE(rows(tree), QStringList({row26(QStringLiteral("a"), 2), row26(QStringLiteral("b"), 3)}));
    QCOMPARE(panelOf(tree, 0), panel.data());
}

void tst_MainWindowClients::disconnect_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("button");
    QTest::newRow("Yes") << QMessageBox::Yes;
    QTest::newRow("No") << QMessageBox::No;
}

void tst_MainWindowClients::disconnect()
{
    QFETCH(QMessageBox::StandardButton, button);
    QVERIFY(open());
    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("client1"), 1), line26(QStringLiteral("client2"), 2)})));
    dialogs->answerButton(button);
    const qsizetype before = peer->receivedOnConnection.size();

    QTest::mouseClick(panelOf(tree, 1)->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    QCOMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Message);
    QCOMPARE(call.icon, QMessageBox::Question);
    QCOMPARE(call.title, QStringLiteral("Question"));
    QCOMPARE(call.text, QStringLiteral("Do you really want to disconnect client2?"));
    QCOMPARE(call.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(call.defaultButton, QMessageBox::No);

    if (button == QMessageBox::Yes) {
        QTRY_COMPARE(peer->receivedOnConnection.size(), before + 2);
        const QString kill = peer->receivedOnConnection.at(before);
        QVERIFY2(kill.startsWith(QLatin1String("kill ")) && kill.contains(QLatin1String("client2"))
                     && !kill.contains(QLatin1String("client1")),
                 qPrintable(kill));
        QCOMPARE(peer->receivedOnConnection.at(before + 1), QStringLiteral("status 2"));
    } else {
        // Nothing goes out: the next lines on the wire are the next poll and its marker.
        QVERIFY(answerWith(peer->statusAnswer));
        QCOMPARE(peer->receivedOnConnection.mid(before), QStringList({QStringLiteral("status 2"), QStringLiteral("version")}));
    }
}

void tst_MainWindowClients::rowGoesWhileTheQuestionIsOpen()
{
    QVERIFY(open());
    QVERIFY(answerWith(answer({header26, line26(QStringLiteral("leaving"), 1)})));
    QPointer<ClientStatusWidget> panel = panelOf(tree, 0);
    dialogs->answerButton(QMessageBox::Yes);
    // While the question is open the client leaves and its row and panel go.
    dialogs->onCall = [&](const ScriptedDialogs::Call &) {
        QVERIFY(answerWith(answer({header26})));
        QTRY_VERIFY(panel.isNull());
    };
    const qsizetype before = peer->receivedOnConnection.size();
    QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(tree->topLevelItemCount(), 0);
    // The poll and the marker of the answer above, then the request and a poll.
    QTRY_COMPARE(peer->receivedOnConnection.size(), before + 4);
    const QString kill = peer->receivedOnConnection.at(before + 2);
    QVERIFY2(kill.startsWith(QLatin1String("kill ")) && kill.contains(QLatin1String("leaving")), qPrintable(kill));
    QCOMPARE(peer->receivedOnConnection.at(before + 3), QStringLiteral("status 2"));
}

void tst_MainWindowClients::peerTextsShownAsText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::newRow("link") << "<a href=\"file:///etc/passwd\">alice</a>" << "<a href=\"file:///\">127.0.0.1</a>:1";
    QTest::newRow("markup") << "<b>bob</b>" << "<i>127.0.0.1</i>:1";
    QTest::newRow("entity") << "&lt;carol&gt;" << "127.0.0.1&amp;:1";
    QTest::newRow("line break") << "dave<br>eve" << "127.0.0.1<br>:1";
}

// A client's name and addresses come from the router: every label and message box shows
// them as they are, never as markup (a link in a name must not become a link to click). The
// real message boxes are used, as only they decide how their text is read.
void tst_MainWindowClients::peerTextsShownAsText()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QVERIFY(open());
    QVERIFY(answerWith(answer({header26, QStringLiteral("CLIENT_LIST,%1,%2,10.88.0.2,,1,2,x,1262304000,UNDEF,0,0,AES-256-GCM")
                                                  .arg(name, address)})));
    ClientStatusWidget *panel = panelOf(tree, 0);
    QVERIFY(panel);
    QCOMPARE(shownText(panel->findChild<QLabel *>(QStringLiteral("titleLabel"))), name);
    QCOMPARE(shownText(panel->findChild<QLabel *>(QStringLiteral("realAddressLabel"))), "Real address: " + address);

    peer->handler = [](const QString &line) -> std::optional<QByteArray> {
        if (!line.startsWith(QLatin1String("kill ")))
            return std::nullopt;
        const QString quoted = line.mid(6).chopped(1);
        return QByteArray("ERROR: common name '") + QString(quoted).replace(QStringLiteral("\\\""), QStringLiteral("\"")).toUtf8()
               + "' not found\r\n";
    };
    dialogs.reset();
    QStringList shown;
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        shown.append(shownText(box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))));
        (box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes) : box->button(QMessageBox::Ok))->click();
    });
    answering.start(10);
    QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    QTRY_COMPARE(shown.size(), 2);
    QCOMPARE(shown.at(0), "Do you really want to disconnect " + name + "?");
    QCOMPARE(shown.at(1), "The client " + name + " was not disconnected. OpenVPN answered: ERROR: common name '" + name
                              + "' not found");
}

QTEST_MAIN(tst_MainWindowClients)
#include "tst_mainwindowclients.moc"
