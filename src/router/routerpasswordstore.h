#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The router's password, the root password of its web interface and of its FTP server. It is
// kept in the desktop's secret store (the Secret Service, such as GNOME Keyring or KeePassXC,
// or KWallet) under the application's name as service and "password" as key. The settings file
// kept it in plain text before, under the key given to the constructor, and keeps it there
// again whenever the store fails (no D-Bus session, no service, a locked collection that was
// not unlocked): a password found in the settings file is therefore the newest one. It is
// moved into the store, and removed from the file once the store has confirmed the write.
// Every store access is an asynchronous job; jobs run one after another, in the order they
// were started.
class RouterPasswordStore final : public QObject
{
    Q_OBJECT

public:
    using Receiver = std::function<void(const QString &password)>;

    explicit RouterPasswordStore(const QString &settingsKey, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(RouterPasswordStore)

    // Hands the password to receiver, always from the event loop and never once context is
    // gone: the settings file's when it has one (moving it into the store on the way), else
    // the store's, else an empty one.
    void read(QObject *context, Receiver receiver);
    // Keeps a new password in the store; in the settings file when the store fails. A password
    // left in the settings file goes at once: it is the one being replaced.
    void write(const QString &password);
    // Moves a password left in the settings file into the store; nothing when there is none.
    void migrate();

    // The store's service and key of the password.
    static QString service();
    static QString key();

signals:
    // The store failed, for the reason given: the password stays in (or goes to) the
    // settings file.
    void storeFailed(const QString &reason);

private:
    const QString settingsKey;
    // A password from the settings file is on its way into the store.
    bool migrating = false;
    // New passwords on their way into the store, and the last of them: until they are written
    // or have failed, it is the password.
    int writing = 0;
    QString written;
};
