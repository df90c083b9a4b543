#include "management/managementprotocol.h"
#include "management/openvpnmanagement.h"

#include <QTest>

using ManagementProtocol::Notification;

class TestManagementProtocol : public QObject
{
    Q_OBJECT

private slots:
    void quoted_data();
    void quoted();
    void singleLine_data();
    void singleLine();
    void notificationKind_data();
    void notificationKind();
    void stateWord_data();
    void stateWord();
    void stateForWord_data();
    void stateForWord();
    void repliesWithHistory_data();
    void repliesWithHistory();
    void listEnds_data();
    void listEnds();
};

void TestManagementProtocol::quoted_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain word") << "bob" << "\"bob\"";
    QTest::newRow("empty value") << "" << "\"\"";
    QTest::newRow("inner space") << "bob smith" << "\"bob smith\"";
    QTest::newRow("double quote escaped") << "say \"hi\"" << "\"say \\\"hi\\\"\"";
    QTest::newRow("backslash escaped") << "a\\b" << "\"a\\\\b\"";
    QTest::newRow("quote and backslash together") << "my p\"a\\ss" << "\"my p\\\"a\\\\ss\"";
    QTest::newRow("trailing backslash cannot escape the closing quote") << "end\\" << "\"end\\\\\"";
    QTest::newRow("single quote, hash and semicolon kept") << "o'neil #1;x" << "\"o'neil #1;x\"";
    QTest::newRow("CR and LF removed") << "evil\r\nsignal SIGTERM" << "\"evilsignal SIGTERM\"";
    QTest::newRow("lone LF removed") << "a\nb" << "\"ab\"";
    QTest::newRow("tab kept") << "a\tb" << "\"a\tb\"";
    QTest::newRow("non-ASCII kept") << QString::fromUtf8("zażółć") << QString::fromUtf8("\"zażółć\"");
}

void TestManagementProtocol::quoted()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(ManagementProtocol::quoted(value), expected);
}

void TestManagementProtocol::singleLine_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("unchanged") << "open sesame" << "open sesame";
    QTest::newRow("quotes stay unquoted") << "se\"cret\\" << "se\"cret\\";
    QTest::newRow("CR LF inside removed") << "open\r\nsesame" << "opensesame";
    QTest::newRow("trailing line end removed") << "pw\n" << "pw";
    QTest::newRow("only line breaks") << "\r\n\r" << "";
}

void TestManagementProtocol::singleLine()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(ManagementProtocol::singleLine(value), expected);
}

void TestManagementProtocol::notificationKind_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<Notification>("kind");
    QTest::addColumn<int>("prefixLength");

    QTest::newRow("echo") << ">ECHO:1,x\r\n" << Notification::Echo << 6;
    QTest::newRow("fatal") << ">FATAL:bad\r\n" << Notification::Fatal << 7;
    QTest::newRow("hold") << ">HOLD:Waiting for hold release:0\r\n" << Notification::Hold << 6;
    QTest::newRow("info") << ">INFO:OpenVPN Management Interface\r\n" << Notification::Info << 6;
    QTest::newRow("log") << ">LOG:1,I,text\r\n" << Notification::Log << 5;
    QTest::newRow("client") << ">CLIENT:ESTABLISHED,0\r\n" << Notification::Client << 8;
    QTest::newRow("password") << ">PASSWORD:Need 'Auth' username/password\r\n" << Notification::Password << 10;
    QTest::newRow("state") << ">STATE:1,CONNECTED,SUCCESS\r\n" << Notification::State << 7;
    QTest::newRow("prefix alone") << ">LOG:" << Notification::Log << 5;
    QTest::newRow("unknown keyword") << ">BYTECOUNT:1,2\r\n" << Notification::None << 0;
    QTest::newRow("keyword sharing a first letter") << ">SUCCESS:x\r\n" << Notification::None << 0;
    QTest::newRow("lower case keyword") << ">log:1,I,x\r\n" << Notification::None << 0;
    QTest::newRow("keyword without colon") << ">LOG 1,I,x\r\n" << Notification::None << 0;
    QTest::newRow("not at the start") << " >LOG:1,I,x\r\n" << Notification::None << 0;
    QTest::newRow("reply line") << "SUCCESS: hold release succeeded\r\n" << Notification::None << 0;
    QTest::newRow("only the marker") << ">" << Notification::None << 0;
    QTest::newRow("empty line") << "" << Notification::None << 0;
}

void TestManagementProtocol::notificationKind()
{
    QFETCH(QString, line);
    QFETCH(Notification, kind);
    QFETCH(int, prefixLength);
    QCOMPARE(ManagementProtocol::notificationKind(line), kind);
    QCOMPARE(ManagementProtocol::prefixLength(kind), prefixLength);
}

void TestManagementProtocol::stateWord_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("word");

    QTest::newRow("real-time notification")
        << ">STATE:1796673031,CONNECTED,SUCCESS,10.8.0.6,127.0.0.1,1194,,\r\n" << "CONNECTED";
    QTest::newRow("history line") << "1796673031,CONNECTING,,,,,,\r\n" << "CONNECTING";
    QTest::newRow("word is the last field") << ">STATE:1,WAIT\r\n" << "WAIT";
    QTest::newRow("empty second field") << ">STATE:1,,x\r\n" << "";
    QTest::newRow("no comma at all") << ">STATE:garbage\r\n" << "";
    QTest::newRow("comma at the very end") << ">STATE:1," << "";
    QTest::newRow("only commas") << ",,,,,\r\n" << "";
    QTest::newRow("inner CR kept, trailing cut") << "1,A\rB\r\n" << "A\rB";
}

void TestManagementProtocol::stateWord()
{
    QFETCH(QString, line);
    QFETCH(QString, word);
    QCOMPARE(ManagementProtocol::stateWord(line).toString(), word);
}

void TestManagementProtocol::stateForWord_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<OpenVpnManagement::VpnState>("state");

    QTest::newRow("CONNECTING") << "CONNECTING" << OpenVpnManagement::StateConnecting;
    QTest::newRow("WAIT") << "WAIT" << OpenVpnManagement::StateWait;
    QTest::newRow("AUTH") << "AUTH" << OpenVpnManagement::StateAuth;
    QTest::newRow("GET_CONFIG") << "GET_CONFIG" << OpenVpnManagement::StateGetConfig;
    QTest::newRow("ASSIGN_IP") << "ASSIGN_IP" << OpenVpnManagement::StateAssignIp;
    QTest::newRow("ADD_ROUTES") << "ADD_ROUTES" << OpenVpnManagement::StateAddRoutes;
    QTest::newRow("CONNECTED") << "CONNECTED" << OpenVpnManagement::StateConnected;
    QTest::newRow("RECONNECTING") << "RECONNECTING" << OpenVpnManagement::StateReconnecting;
    QTest::newRow("EXITING") << "EXITING" << OpenVpnManagement::StateExiting;
    QTest::newRow("unknown word") << "TCP_CONNECT" << OpenVpnManagement::StateUndefined;
    QTest::newRow("empty") << "" << OpenVpnManagement::StateUndefined;
    QTest::newRow("lower case") << "connected" << OpenVpnManagement::StateUndefined;
    QTest::newRow("prefix of a word") << "CONNECT" << OpenVpnManagement::StateUndefined;
    QTest::newRow("word with a suffix") << "CONNECTEDX" << OpenVpnManagement::StateUndefined;
}

void TestManagementProtocol::stateForWord()
{
    QFETCH(QString, word);
    QFETCH(OpenVpnManagement::VpnState, state);
    QCOMPARE(OpenVpnManagement::stateForWord(word), state);
}

void TestManagementProtocol::repliesWithHistory_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("history");

    QTest::newRow("state") << "state" << true;
    QTest::newRow("state on all") << "state on all" << true;
    QTest::newRow("log on all") << "log on all" << true;
    QTest::newRow("echo on all") << "echo on all" << true;
    QTest::newRow("state with a count") << "state 5" << true;
    QTest::newRow("log all") << "log all" << true;
    QTest::newRow("state off") << "state off" << false;
    QTest::newRow("log off") << "log off" << false;
    QTest::newRow("echo off") << "echo off" << false;
    QTest::newRow("log on") << "log on" << false;
}

void TestManagementProtocol::repliesWithHistory()
{
    QFETCH(QString, command);
    QFETCH(bool, history);
    QCOMPARE(ManagementProtocol::repliesWithHistory(command), history);
}

void TestManagementProtocol::listEnds_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("end");
    QTest::addColumn<bool>("error");

    QTest::newRow("END line") << "END\r\n" << true << false;
    QTest::newRow("begins with END") << "ENDING\r\n" << true << false;
    QTest::newRow("END not at the start") << " END\r\n" << false << false;
    QTest::newRow("ERROR line") << "ERROR: unknown command\r\n" << false << true;
    QTest::newRow("ERROR without colon") << "ERROR unknown\r\n" << false << false;
    QTest::newRow("lower case end") << "end\r\n" << false << false;
}

void TestManagementProtocol::listEnds()
{
    QFETCH(QString, line);
    QFETCH(bool, end);
    QFETCH(bool, error);
    QCOMPARE(ManagementProtocol::isEnd(line), end);
    QCOMPARE(ManagementProtocol::isError(line), error);
}

QTEST_GUILESS_MAIN(TestManagementProtocol)
#include "tst_managementprotocol.moc"
