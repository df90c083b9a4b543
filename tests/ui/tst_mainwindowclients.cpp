#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "ui/clientlistview.h"
#include "ui/clientstatuswidget.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

namespace {

// A client line as OpenVPN 2.6 writes it.
QString line26(const QString &name, int bytes)
{
    return ScriptedOpenVpnPeer::clientLine26(name, bytes);
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

} // namespace

// The window's side of the client list: it feeds the list the status answers, asks before a
// client is disconnected and sends the kill; the merge itself is tst_clientlistview's.
class tst_MainWindowClients : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_MainWindowClients() : MainWindowFixture(QStringLiteral("127.0.0.42")) {}

private slots:
    void listSurvivesModeSwitches();
    void disconnect_data();
    void disconnect();
    void rowGoesWhileTheQuestionIsOpen();
    void peerTextsShownAsText_data();
    void peerTextsShownAsText();
    void namesGoBackAsTheirBytes_data();
    void namesGoBackAsTheirBytes();

private:
    void init() override;
    bool open();
    bool answerWith(const QByteArray &status);

    ClientListView *list = nullptr;
};

void tst_MainWindowClients::init()
{
    MainWindowFixture::init();
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
}

bool tst_MainWindowClients::open()
{
    makeWindow();
    list = showClients();
    if (!MainWindowFixture::open())
        return false;
    // Only the test asks for the status from here on.
    MainWindowTestAccess::statusTimer(*window).stop();
    return settle();
}

bool tst_MainWindowClients::answerWith(const QByteArray &status)
{
    peer->statusAnswer = status;
    MainWindowTestAccess::poll(*window);
    return settle();
}

void tst_MainWindowClients::listSurvivesModeSwitches()
{
    QVERIFY(open());
    QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26({line26(QStringLiteral("a"), 1)})));
    child<QAction>(*window, "basicAction")->trigger();
    QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26({line26(QStringLiteral("a"), 2), line26(QStringLiteral("b"), 3)})));
    child<QAction>(*window, "serverAction")->trigger();
    QCOMPARE(list->clientNames(), QStringList({QStringLiteral("a"), QStringLiteral("b")}));
    QCOMPARE(showClients(), list);
    QTRY_VERIFY(list->panelAt(1));
    QCOMPARE(list->panelAt(0)->findChild<QLabel *>(QStringLiteral("sentLabel"))->text(), QStringLiteral("Sent bytes: 2"));
    QCOMPARE(list->panelAt(1)->findChild<QLabel *>(QStringLiteral("sentLabel"))->text(), QStringLiteral("Sent bytes: 3"));
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
    QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26({line26(QStringLiteral("client1"), 1), line26(QStringLiteral("client2"), 2)})));
    dialogs->answerButton(button);
    const qsizetype before = peer->receivedOnConnection.size();

    QTest::mouseClick(list->panelAt(1)->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
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
    QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26({line26(QStringLiteral("leaving"), 1)})));
    ClientStatusWidget *panel = list->panelAt(0);
    QVERIFY(panel);
    dialogs->answerButton(QMessageBox::Yes);
    // While the question is open the client leaves and its row goes, its panel off screen.
    dialogs->onCall = [&](const ScriptedDialogs::Call &) {
        QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26({})));
        QCOMPARE(list->topLevelItemCount(), 0);
        QVERIFY(!panel->isVisible());
    };
    const qsizetype before = peer->receivedOnConnection.size();
    QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(list->topLevelItemCount(), 0);
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
    QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26({QStringLiteral("CLIENT_LIST,%1,%2,10.88.0.2,,1,2,x,1262304000,UNDEF,0,0,AES-256-GCM")
                                                  .arg(name, address)})));
    ClientStatusWidget *panel = list->panelAt(0);
    QVERIFY(panel);
    QCOMPARE(shownText(panel->findChild<QLabel *>(QStringLiteral("titleLabel"))), name);
    QCOMPARE(shownText(panel->findChild<QLabel *>(QStringLiteral("realAddressLabel"))), "Real address: " + address);

    // A name with a colon goes by its client ID.
    peer->handler = [name](const QString &line) -> std::optional<QByteArray> {
        if (line.startsWith(QLatin1String("client-kill ")))
            return "ERROR: common name '" + name.toUtf8() + "' not found\r\n";
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

void tst_MainWindowClients::namesGoBackAsTheirBytes_data()
{
    // The names and client IDs of the connections in the status answer, as OpenVPN sends them.
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QList<int>>("ids");
    // Per row: the name as shown, and what its Disconnect sends before the poll.
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QList<QList<QByteArray>>>("wire");

    QTest::newRow("UTF-8 name ending in U+034F beside the same name in Latin-1")
        << QList<QByteArray>{"caf\xc3\xa9\xcd\x8f", "caf\xe9"} << QList<int>{0, 1}
        << QStringList{QStringLiteral(u"caf\u00e9\\u034F"), QStringLiteral("caf\\xE9")}
        << QList<QList<QByteArray>>{{"kill \"caf\xc3\xa9\xcd\x8f\""}, {"kill \"caf\xe9\""}};
    QTest::newRow("Latin-1 name alone")
        << QList<QByteArray>{"M\xfcller"} << QList<int>{0} << QStringList{QStringLiteral("M\\xFCller")}
        << QList<QList<QByteArray>>{{"kill \"M\xfcller\""}};
    QTest::newRow("UTF-8 name with U+034F inside")
        << QList<QByteArray>{"a\xcd\x8f" "b"} << QList<int>{0} << QStringList{QStringLiteral("a\\u034Fb")}
        << QList<QList<QByteArray>>{{"kill \"a\xcd\x8f" "b\""}};
    QTest::newRow("not UTF-8 in the middle")
        << QList<QByteArray>{"x\xc3\xa9\x80y"} << QList<int>{0} << QStringList{QStringLiteral(u"x\u00e9\\x80y")}
        << QList<QList<QByteArray>>{{"kill \"x\xc3\xa9\x80y\""}};
    QTest::newRow("name with a colon, two connections: each by its ID")
        << QList<QByteArray>{"x:\xe9", "other", "x:\xe9"} << QList<int>{3, 4, 5} << QStringList{QStringLiteral("x:\\xE9"), QStringLiteral("other")}
        << QList<QList<QByteArray>>{{"client-kill 3", "client-kill 5"}, {"kill \"other\""}};
}

// A client is its name's bytes: the list has a row for each different name, the name is
// shown so that none passes for another (in the panel, the question and the error), and
// Disconnect sends the bytes of its own row, which OpenVPN here does not find.
void tst_MainWindowClients::namesGoBackAsTheirBytes()
{
    QFETCH(QList<QByteArray>, names);
    QFETCH(QList<int>, ids);
    QFETCH(QStringList, shown);
    QFETCH(QList<QList<QByteArray>>, wire);

    QVERIFY(open());
    QList<QByteArray> lines;
    for (int i = 0; i < names.size(); ++i)
        lines.append("CLIENT_LIST," + names.at(i) + ",127.0.0.1:1,10.88.0.2,,1,2,x,1262304000,UNDEF," + QByteArray::number(ids.at(i))
                     + ",0,AES-256-GCM");
    QVERIFY(answerWith(ScriptedOpenVpnPeer::statusAnswer26FromBytes(lines)));
    QCOMPARE(list->topLevelItemCount(), shown.size());
    peer->handler = [](const QString &line) -> std::optional<QByteArray> {
        if (line.startsWith(QLatin1String("kill ")) || line.startsWith(QLatin1String("client-kill ")))
            return QByteArray("ERROR: not found\r\n");
        return std::nullopt;
    };

    for (int row = 0; row < shown.size(); ++row) {
        ClientStatusWidget *panel = list->panelAt(row);
        QVERIFY(panel);
        QCOMPARE(shownText(panel->findChild<QLabel *>(QStringLiteral("titleLabel"))), shown.at(row));
        dialogs->calls.clear();
        dialogs->answerButton(QMessageBox::Yes);
        const qsizetype before = peer->receivedBytesOnConnection.size();
        QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
        QCOMPARE(dialogs->calls.first().text, QStringLiteral("Do you really want to disconnect %1?").arg(shown.at(row)));
        QTRY_COMPARE(peer->receivedBytesOnConnection.size(), before + wire.at(row).size() + 1);
        QCOMPARE(peer->receivedBytesOnConnection.mid(before, wire.at(row).size()), wire.at(row));
        QCOMPARE(peer->receivedBytesOnConnection.last(), QByteArray("status 2"));
        // One error per command, naming the client as the question did.
        QTRY_COMPARE(dialogs->calls.size(), 1 + wire.at(row).size());
        for (const ScriptedDialogs::Call &error : dialogs->calls.mid(1)) {
            QCOMPARE(error.text, QStringLiteral("The client %1 was not disconnected. OpenVPN answered: ERROR: not found")
                                     .arg(shown.at(row)));
        }
    }
}

QTEST_MAIN(tst_MainWindowClients)
#include "tst_mainwindowclients.moc"
