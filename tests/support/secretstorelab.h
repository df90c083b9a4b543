#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>

// A desktop's secret store for the tests of the router password: a private D-Bus session bus
// with GNOME Keyring's Secret Service on it, in a fresh home directory, or no bus at all.
//
// A process reaches the Secret Service through GDBus's one shared session connection, which
// cannot be moved to another bus and ends its process when its bus goes away. So the lab runs
// a test row in a child of the test program (runCurrentRow()), on the lab's bus; the lab
// starts the bus and the keyring before the child and stops them, and removes their
// directories, after it. A test function begins with RUN_ON_SECRET_STORE(store).
class SecretStoreLab final
{
public:
    enum Store {
        // No session bus: no address, no display to start one for, no bus in the runtime
        // directory.
        NoBus,
        // GNOME Keyring, unlocked at start: its login collection takes every write.
        Keyring,
        // GNOME Keyring unlocked with an empty password: it makes no login collection, and
        // every write fails.
        KeyringWithoutLogin,
    };

    explicit SecretStoreLab(Store store);
    ~SecretStoreLab();
    Q_DISABLE_COPY_MOVE(SecretStoreLab)

    // Why the lab could not be set up; empty when it is ready.
    QString problem() const { return failure; }
    // Runs the current test function (with the current data row) in a child of this test
    // program, on the lab's store; whether it passed. See output().
    bool runCurrentRow();
    // What the child said.
    QString output() const { return childOutput; }

    // Whether this process is a lab's child, running a row.
    static bool inRow();
    // Keeps a test program away from the user's secret store: unless it is a lab's child, its
    // session bus address names a socket that does not exist. The store then fails at once,
    // as without a bus; GDBus neither uses the user's bus nor starts one under X11.
    static void shutOutSessionBus();

    // In a row: the router password that the store holds, as the Secret Service's command-line
    // client (secret-tool) finds it; an invalid QVariant when it holds none.
    static QVariant storedPassword();
    // In a row: puts a password into the store with secret-tool, as the program's store
    // library keeps it (its schema and attributes); whether that worked.
    static bool storePassword(const QString &password);

private:
    bool startBus();
    bool startKeyring(const QByteArray &unlockPassword);
    static void stop(QProcess &process);

    QTemporaryDir dir;
    QProcessEnvironment environment;
    QProcess bus;
    QProcess keyring;
    QString failure;
    QString childOutput;
};

Q_DECLARE_METATYPE(SecretStoreLab::Store)

// In a test function (or a data row) that runs on a secret store: the test program runs it on
// the store in a child and returns; the child goes on past this line.
#define RUN_ON_SECRET_STORE(store)                                                                 \
    do {                                                                                           \
        if (!SecretStoreLab::inRow()) {                                                            \
            SecretStoreLab lab(store);                                                             \
            if (!lab.problem().isEmpty())                                                          \
                QSKIP(qPrintable(lab.problem()));                                                  \
            QVERIFY2(lab.runCurrentRow(), qPrintable(lab.output()));                               \
            return;                                                                                \
        }                                                                                          \
    } while (false)
