#include "management/openvpnmanagement.h"

#include "support/openvpnlab.h"
#include "support/signalrecorder.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Real processes on a loaded machine: wait generously, it costs nothing when all is well.
constexpr int realWaitMs = 30000;

QStringList stringsOf(const SignalRecorder &recorder, const QByteArray &name)
{
    QStringList result;
    for (const SignalRecorder::Event &event : recorder.events()) {
        if (event.name == name)
            result.append(event.arguments.value(0).toString());
    }
    return result;
}

QList<QStringList> listsOf(const SignalRecorder &recorder, const QByteArray &name)
{
    QList<QStringList> result;
    for (const SignalRecorder::Event &event : recorder.events()) {
        if (event.name == name)
            result.append(event.arguments.value(0).toStringList());
    }
    return result;
}

OpenVpnLab::ClientOptions standaloneClient()
{
    // No server: the client goes through hold, prompts and states on its own.
    OpenVpnLab::ClientOptions options;
    options.commonName = QStringLiteral("client1");
    return options;
}

} // namespace

class TestOpenVpnManagementReal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void holdStateVersionSignalAndDeath();
    void managementPasswordFile();
    void queriedPasswords_data();
    void queriedPasswords();
    void credentialsArriveExactly_data();
    void credentialsArriveExactly();
    void killReachesACommonNameWithASpace();
    void valuesOpenVpnWouldCut_data();
    void valuesOpenVpnWouldCut();
};

void TestOpenVpnManagementReal::initTestCase()
{
    const QString reason = OpenVpnLab::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

void TestOpenVpnManagementReal::holdStateVersionSignalAndDeath()
{
    OpenVpnLab lab;
    const OpenVpnLab::Instance *client = lab.startClient(standaloneClient());
    QVERIFY2(client, qPrintable(lab.errorString()));

    OpenVpnManagement management;
    SignalRecorder recorder(&management, {"message"});
    management.connectToHost(client->managementAddress, client->managementPort);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementConnected"), 1, realWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementHoldActive"), 1, realWaitMs);
    // The reply to the "state" every connection starts with: the state line itself.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("stateResponse"), 1, realWaitMs);
    QVERIFY2(stringsOf(recorder, "stateResponse").first().contains(QLatin1String(",CONNECTING,")),
             qPrintable(stringsOf(recorder, "stateResponse").first()));
    QCOMPARE(management.state(), OpenVpnManagement::StateConnecting);

    management.stateOn();
    management.logOn();
    management.holdRelease();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("holdReleased"), 1, realWaitMs);
    QCOMPARE(stringsOf(recorder, "holdResponse"), QStringList{"SUCCESS: hold release succeeded\r\n"});
    QCOMPARE(stringsOf(recorder, "logResponse"), QStringList{"SUCCESS: real-time log notification set to ON\r\n"});
    // The log history and the live log both arrive as log messages, with their line ends.
    QVERIFY(stringsOf(recorder, "logMessage").join(QString()).contains(QLatin1String("MANAGEMENT: Client connected")));
    // With nobody serving the remote port, the client waits for an answer.
    QTRY_COMPARE_WITH_TIMEOUT(management.state(), OpenVpnManagement::StateWait, realWaitMs);

    management.getVersion();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("versionResponse"), 1, realWaitMs);
    const QStringList version = listsOf(recorder, "versionResponse").first();
    QVERIFY2(version.first().startsWith(QLatin1String("OpenVPN Version: OpenVPN 2.6")), qPrintable(version.first()));
    QCOMPARE(version.last(), QStringLiteral("END\r\n"));

    management.sendUsr1Signal();
    QTRY_COMPARE_WITH_TIMEOUT(stringsOf(recorder, "sigusr1Response"), QStringList{"SUCCESS: signal SIGUSR1 thrown\r\n"},
                              realWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(management.state(), OpenVpnManagement::StateReconnecting, realWaitMs);
    // The restart holds again.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementHoldActive"), 2, realWaitMs);

    recorder.clear();
    lab.kill(client->name);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("disconnected"), 1, realWaitMs);
    QCOMPARE(management.state(), OpenVpnManagement::StateUndefined);
    QCOMPARE(recorder.count("stateChanged"), 1);
    QCOMPARE(recorder.events().last().name, QByteArray("connectionError"));
}

void TestOpenVpnManagementReal::managementPasswordFile()
{
    OpenVpnLab lab;
    OpenVpnLab::ClientOptions options = standaloneClient();
    options.management.password = QStringLiteral("open \"se same");
    const OpenVpnLab::Instance *client = lab.startClient(options);
    QVERIFY2(client, qPrintable(lab.errorString()));

    OpenVpnManagement management;
    SignalRecorder recorder(&management, {"message", "timeoutReached"});
    management.connectToHost(client->managementAddress, client->managementPort);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementPasswordRequest"), 1, realWaitMs);

    // A wrong password: OpenVPN asks again.
    management.sendManagementPassword(QStringLiteral("wrong"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementPasswordRequest"), 2, realWaitMs);
    QCOMPARE(recorder.count("managementConnected"), 0);

    // The line is compared whole: the password goes out unquoted.
    management.sendManagementPassword(QStringLiteral("open \"se same"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementConnected"), 1, realWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementHoldActive"), 1, realWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(management.state(), OpenVpnManagement::StateConnecting, realWaitMs);
    QCOMPARE(stringsOf(recorder, "stateResponse"), QStringList{"SUCCESS: password is correct\r\n"});

    management.getVersion();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("versionResponse"), 1, realWaitMs);
    QVERIFY(listsOf(recorder, "versionResponse").first().first().startsWith(QLatin1String("OpenVPN Version:")));
}

void TestOpenVpnManagementReal::queriedPasswords_data()
{
    QTest::addColumn<QStringList>("keyAnswers");
    QTest::addColumn<bool>("retry");
    QTest::addColumn<bool>("givesUp");

    const QString right = QStringLiteral("key \"pass\" \\ phrase");
    QTest::newRow("right key password") << QStringList{right} << true << false;
    QTest::newRow("wrong, then right after the restart") << QStringList{"not it", right} << true << false;
    QTest::newRow("wrong without retry: OpenVPN gives up") << QStringList{"not it"} << false << true;
}

void TestOpenVpnManagementReal::queriedPasswords()
{
    QFETCH(QStringList, keyAnswers);
    QFETCH(bool, retry);
    QFETCH(bool, givesUp);

    OpenVpnLab lab;
    OpenVpnLab::ClientOptions options = standaloneClient();
    options.keyPassphrase = QStringLiteral("key \"pass\" \\ phrase");
    options.authUserPass = true;
    options.management.queryPasswords = true;
    const OpenVpnLab::Instance *client = lab.startClient(options);
    QVERIFY2(client, qPrintable(lab.errorString()));

    OpenVpnManagement management;
    SignalRecorder recorder(&management, {"message", "timeoutReached", "logMessage"});
    // Answer as the window does: release every hold, answer every prompt.
    connect(&management, &OpenVpnManagement::managementHoldActive, &management, &OpenVpnManagement::holdRelease);
    bool versionAsked = false;
    connect(&management, &OpenVpnManagement::authRequest, this, [&] {
        // Asked for while the prompt is open, it must wait behind the answer.
        if (!versionAsked)
            management.getVersion();
        versionAsked = true;
        management.sendAuthData(QStringLiteral("bob smith"), QStringLiteral("my p\"a\\ss"), retry);
    });
    connect(&management, &OpenVpnManagement::privKeyPasswordRequest, this, [&] {
        QVERIFY(!keyAnswers.isEmpty());
        management.sendPrivKeyPassword(keyAnswers.takeFirst(), retry);
    });
    const int asked = int(keyAnswers.size());
    management.connectToHost(client->managementAddress, client->managementPort);

    // OpenVPN asks for the user first, then for the key.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("privKeyPasswordRequest"), 1, realWaitMs);
    QCOMPARE(recorder.count("authRequest"), 1);
    // Every answer took exactly its own reply: the version list is a version list, and it
    // came after the answer to the prompt it had to wait behind.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("versionResponse"), 1, realWaitMs);
    QVERIFY(recorder.names().indexOf("versionResponse") > recorder.names().indexOf("authRetryResponse"));
    const QStringList version = listsOf(recorder, "versionResponse").first();
    QVERIFY2(version.first().startsWith(QLatin1String("OpenVPN Version:")), qPrintable(version.join(u'|')));
    QCOMPARE(stringsOf(recorder, "authRetryResponse").first(), QStringLiteral("SUCCESS: auth-retry parameter changed\r\n"));

    if (givesUp) {
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("privKeyPasswordFail"), 1, realWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("disconnected"), 1, realWaitMs);
        QCOMPARE(recorder.count("fatalMessage"), 1);
        QCOMPARE(management.state(), OpenVpnManagement::StateUndefined);
        QVERIFY(lab.waitForExit(client->name));
        return;
    }
    management.stateOn();
    QTRY_COMPARE_WITH_TIMEOUT(management.state(), OpenVpnManagement::StateWait, realWaitMs);
    QCOMPARE(recorder.count("privKeyPasswordRequest"), asked);
    QCOMPARE(recorder.count("privKeyPasswordFail"), asked - 1);
    QCOMPARE(recorder.count("fatalMessage"), 0);
    QVERIFY(keyAnswers.isEmpty());
    for (const QString &reply : stringsOf(recorder, "authRetryResponse"))
        QCOMPARE(reply, QStringLiteral("SUCCESS: auth-retry parameter changed\r\n"));
}

void TestOpenVpnManagementReal::credentialsArriveExactly_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");

    QTest::newRow("space, quote and backslash") << "bob smith" << "my p\"a\\ss";
    QTest::newRow("quotes, hash, semicolon, trailing backslash") << "o'neil \"#1\";x" << "ends in \\";
}

void TestOpenVpnManagementReal::credentialsArriveExactly()
{
    QFETCH(QString, username);
    QFETCH(QString, password);

    const QString reason = OpenVpnLab::tunUnavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));

    OpenVpnLab lab;
    OpenVpnLab::ServerOptions server;
    server.management.enabled = false;
    server.recordCredentials = true;
    QVERIFY2(lab.startServer(server), qPrintable(lab.errorString()));
    OpenVpnLab::ClientOptions options;
    options.commonName = QStringLiteral("client1");
    options.authUserPass = true;
    options.management.queryPasswords = true;
    const OpenVpnLab::Instance *client = lab.startClient(options);
    QVERIFY2(client, qPrintable(lab.errorString()));

    OpenVpnManagement management;
    SignalRecorder recorder(&management, {"message", "timeoutReached", "logMessage"});
    management.connectToHost(client->managementAddress, client->managementPort);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementHoldActive"), 1, realWaitMs);
    management.stateOn();
    management.holdRelease();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("authRequest"), 1, realWaitMs);
    management.sendAuthData(username, password);

    QTRY_COMPARE_WITH_TIMEOUT(management.state(), OpenVpnManagement::StateConnected, realWaitMs);
    const QList<OpenVpnLab::Credentials> received = lab.recordedCredentials();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().username, username);
    QCOMPARE(received.first().password, password);
    QCOMPARE(recorder.count("authFail"), 0);
}

void TestOpenVpnManagementReal::killReachesACommonNameWithASpace()
{
    const QString reason = OpenVpnLab::tunUnavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));

    OpenVpnLab lab;
    OpenVpnLab::ServerOptions serverOptions;
    serverOptions.management.hold = false;
    const OpenVpnLab::Instance *server = lab.startServer(serverOptions);
    QVERIFY2(server, qPrintable(lab.errorString()));
    OpenVpnLab::ClientOptions clientOptions;
    clientOptions.commonName = QStringLiteral("my client");
    clientOptions.management.enabled = false;
    QVERIFY2(lab.startClient(clientOptions), qPrintable(lab.errorString()));

    OpenVpnManagement management;
    SignalRecorder recorder(&management, {"message", "timeoutReached"});
    // Poll the client list the way the window does, until the client shows up.
    bool listed = false;
    connect(&management, &OpenVpnManagement::statusResponse, this, [&](const QStringList &lines) {
        for (const QString &line : lines)
            listed = listed || line.startsWith(QLatin1String("CLIENT_LIST,my client,"));
        if (!listed)
            management.getStatus();
    });
    management.connectToHost(server->managementAddress, server->managementPort);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementConnected"), 1, realWaitMs);
    management.getStatus();
    QTRY_VERIFY_WITH_TIMEOUT(listed, realWaitMs);

    management.kill(QStringLiteral("my client"));
    QTRY_COMPARE_WITH_TIMEOUT(stringsOf(recorder, "killResponse"),
                              QStringList{"SUCCESS: common name 'my client' found, 1 client(s) killed\r\n"}, realWaitMs);
}

void TestOpenVpnManagementReal::valuesOpenVpnWouldCut_data()
{
    // "auth": the password of an 'Auth' prompt; "management": the management password.
    QTest::addColumn<QString>("as");
    QTest::addColumn<QString>("value");

    // OpenVPN cuts a line after 1024 bytes and would run the rest: "signal SIGTERM".
    QTest::newRow("auth password carrying a second command is refused")
        << "auth" << QString(1000, u'A') + QString(30, u' ') + QStringLiteral("signal SIGTERM #");
    QTest::newRow("management password as long as a line may be is taken") << "management" << QString(1000, u'P');
}

void TestOpenVpnManagementReal::valuesOpenVpnWouldCut()
{
    QFETCH(QString, as);
    QFETCH(QString, value);

    OpenVpnLab lab;
    OpenVpnLab::ClientOptions options = standaloneClient();
    if (as == QLatin1String("management")) {
        options.management.password = value;
    } else {
        options.authUserPass = true;
        options.management.queryPasswords = true;
    }
    const OpenVpnLab::Instance *client = lab.startClient(options);
    QVERIFY2(client, qPrintable(lab.errorString()));

    OpenVpnManagement management;
    SignalRecorder recorder(&management, {"message", "timeoutReached", "logMessage"});
    connect(&management, &OpenVpnManagement::managementHoldActive, &management, &OpenVpnManagement::holdRelease);
    connect(&management, &OpenVpnManagement::managementPasswordRequest, this,
            [&] { management.sendManagementPassword(value); });
    connect(&management, &OpenVpnManagement::authRequest, this, [&] {
        // The long one first; asked again, a short one.
        management.sendAuthData(QStringLiteral("bob"), recorder.count("authRequest") == 1 ? value : QStringLiteral("pw"));
    });
    management.connectToHost(client->managementAddress, client->managementPort);

    if (as == QLatin1String("management")) {
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("managementConnected"), 1, realWaitMs);
        QCOMPARE(recorder.count("managementPasswordRequest"), 1);
        QCOMPARE(recorder.count("commandRefused"), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.count("authRequest"), 2, realWaitMs);
    QCOMPARE(recorder.count("commandRefused"), 1);
    management.stateOn();
    // OpenVPN took the short password and goes on; it never saw a signal.
    QTRY_COMPARE_WITH_TIMEOUT(management.state(), OpenVpnManagement::StateWait, realWaitMs);
    QVERIFY(lab.isRunning(client->name));
    QVERIFY(!lab.log(client->name).contains(QLatin1String("SIGTERM")));
}

QTEST_GUILESS_MAIN(TestOpenVpnManagementReal)
#include "tst_openvpnmanagement_real.moc"
