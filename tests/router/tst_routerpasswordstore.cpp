#include "router/routerpasswordstore.h"

#include "support/secretstorelab.h"
#include "support/testsettings.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <optional>

namespace {

const QString settingsKey = QStringLiteral("password");

QVariant inSettingsFile()
{
    return QSettings().value(settingsKey);
}

} // namespace

class tst_RouterPasswordStore : public QObject
{
    Q_OBJECT

private slots:
    void keepsPassword_data();
    void keepsPassword();
    void nothingForGoneReceiver_data();
    void nothingForGoneReceiver();

private:
    TestSettings settings;
};

void tst_RouterPasswordStore::keepsPassword_data()
{
    QTest::addColumn<SecretStoreLab::Store>("store");
    QTest::addColumn<QVariant>("settingsBefore");
    QTest::addColumn<QVariant>("storeBefore");
    QTest::addColumn<QVariant>("typed"); // a new password, written just before the read
    QTest::addColumn<QString>("read");
    QTest::addColumn<QVariant>("settingsAfter");
    QTest::addColumn<QVariant>("storeAfter");
    QTest::addColumn<bool>("storeFails");

    const QVariant none;
    const QVariant old(QStringLiteral("0ld pąss"));
    const QVariant stored(QStringLiteral("st0red=ź &"));
    const QVariant typed(QStringLiteral("n3w pass"));
    QTest::newRow("settings file only, moved into the store")
        << SecretStoreLab::Keyring << old << none << none << old.toString() << none << old << false;
    QTest::newRow("store only") << SecretStoreLab::Keyring << none << stored << none << stored.toString() << none
                                << stored << false;
    QTest::newRow("both, the settings file's is newer and replaces the store's")
        << SecretStoreLab::Keyring << old << stored << none << old.toString() << none << old << false;
    QTest::newRow("neither, an empty password") << SecretStoreLab::Keyring << none << none << none << QString()
                                                << none << none << false;
    QTest::newRow("new password, into the store only")
        << SecretStoreLab::Keyring << old << stored << typed << typed.toString() << none << typed << false;
    QTest::newRow("no bus, the settings file's stays")
        << SecretStoreLab::NoBus << old << none << none << old.toString() << old << none << true;
    QTest::newRow("no bus, a new password goes to the settings file")
        << SecretStoreLab::NoBus << old << none << typed << typed.toString() << typed << none << true;
    QTest::newRow("no bus, nothing kept") << SecretStoreLab::NoBus << none << none << none << QString() << none
                                          << none << true;
    QTest::newRow("store fails the write, nothing removed from the settings file")
        << SecretStoreLab::KeyringWithoutLogin << old << none << none << old.toString() << old << none << true;
    QTest::newRow("store fails the write of a new password, the settings file takes it")
        << SecretStoreLab::KeyringWithoutLogin << old << none << typed << typed.toString() << typed << none << true;
}

void tst_RouterPasswordStore::keepsPassword()
{
    QFETCH(SecretStoreLab::Store, store);
    QFETCH(QVariant, settingsBefore);
    QFETCH(QVariant, storeBefore);
    QFETCH(QVariant, typed);
    QFETCH(QString, read);
    QFETCH(QVariant, settingsAfter);
    QFETCH(QVariant, storeAfter);
    QFETCH(bool, storeFails);
    RUN_ON_SECRET_STORE(store);

    if (settingsBefore.isValid())
        QSettings().setValue(settingsKey, settingsBefore);
    if (storeBefore.isValid())
        QVERIFY(SecretStoreLab::storePassword(storeBefore.toString()));
    RouterPasswordStore passwords(settingsKey);
    QSignalSpy failed(&passwords, &RouterPasswordStore::storeFailed);

    if (typed.isValid())
        passwords.write(typed.toString());
    std::optional<QString> password;
    QObject receiver;
    passwords.read(&receiver, [&password](const QString &given) { password = given; });
    QTRY_VERIFY(password);
    QCOMPARE(*password, read);

    // Once the store has answered the jobs that the read and the write started.
    if (storeFails)
        QTRY_VERIFY(!failed.isEmpty());
    QTRY_COMPARE(inSettingsFile(), settingsAfter);
    QTRY_COMPARE(SecretStoreLab::storedPassword(), storeAfter);
    if (!storeFails)
        QCOMPARE(failed.size(), 0);
}

void tst_RouterPasswordStore::nothingForGoneReceiver_data()
{
    QTest::addColumn<QVariant>("kept");
    QTest::newRow("from the settings file") << QVariant(QStringLiteral("kept"));
    QTest::newRow("from the store") << QVariant();
}

// The store fails here (no session bus), so a password not in the settings file is looked for
// in the store and comes after the store's answer.
void tst_RouterPasswordStore::nothingForGoneReceiver()
{
    QFETCH(QVariant, kept);
    settings.clear();
    if (kept.isValid())
        QSettings().setValue(settingsKey, kept);
    RouterPasswordStore passwords(settingsKey);

    int goneCalls = 0;
    auto gone = std::make_unique<QObject>();
    passwords.read(gone.get(), [&goneCalls](const QString &) { ++goneCalls; });
    gone.reset();
    // A later read's receiver is called after the first one would have been.
    std::optional<QString> password;
    QObject receiver;
    passwords.read(&receiver, [&password](const QString &given) { password = given; });
    QTRY_VERIFY(password);
    QCOMPARE(*password, kept.toString());
    QCOMPARE(goneCalls, 0);
}

QTEST_GUILESS_MAIN(tst_RouterPasswordStore)
#include "tst_routerpasswordstore.moc"
