#include "router/routerpasswordstore.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

// The jobs have no parent and delete themselves once they have finished: the store's backend
// reports to the job it started, so a job must outlive the store when the store goes first.

namespace {

QKeychain::WritePasswordJob *newWriteJob(const QString &password)
{
    auto *job = new QKeychain::WritePasswordJob(RouterPasswordStore::service());
    job->setKey(RouterPasswordStore::key());
    job->setTextData(password);
    return job;
}

} // namespace

RouterPasswordStore::RouterPasswordStore(const QString &settingsKey, QObject *parent)
    : QObject(parent), settingsKey(settingsKey)
{
}

QString RouterPasswordStore::service()
{
    return QCoreApplication::applicationName();
}

QString RouterPasswordStore::key()
{
    return QStringLiteral("password");
}

void RouterPasswordStore::read(QObject *context, Receiver receiver)
{
    const auto deliver = [context = QPointer<QObject>(context), receiver](const QString &password) {
        if (context)
            QMetaObject::invokeMethod(context, [receiver, password] { receiver(password); }, Qt::QueuedConnection);
    };
    if (writing > 0) {
        deliver(written);
        return;
    }
    const QVariant kept = QSettings().value(settingsKey);
    if (kept.isValid()) {
        migrate();
        deliver(kept.toString());
        return;
    }

    auto *job = new QKeychain::ReadPasswordJob(service());
    job->setKey(key());
    connect(job, &QKeychain::Job::finished, this, [this, job, deliver] {
        if (job->error() == QKeychain::NoError) {
            deliver(job->textData());
            return;
        }
        if (job->error() != QKeychain::EntryNotFound)
            emit storeFailed(job->errorString());
        deliver(QSettings().value(settingsKey).toString());
    });
    job->start();
}

void RouterPasswordStore::write(const QString &password)
{
    ++writing;
    written = password;
    QKeychain::WritePasswordJob *job = newWriteJob(password);
    connect(job, &QKeychain::Job::finished, this, [this, job, password] {
        --writing;
        if (job->error() == QKeychain::NoError) {
            // Whatever the settings file still holds is older.
            QSettings().remove(settingsKey);
            return;
        }
        QSettings().setValue(settingsKey, password);
        emit storeFailed(job->errorString());
    });
    job->start();
}

void RouterPasswordStore::migrate()
{
    const QVariant kept = QSettings().value(settingsKey);
    // While a new password is being written, the one in the settings file is older.
    if (migrating || writing > 0 || !kept.isValid())
        return;
    migrating = true;
    const QString password = kept.toString();
    QKeychain::WritePasswordJob *job = newWriteJob(password);
    connect(job, &QKeychain::Job::finished, this, [this, job, password] {
        migrating = false;
        if (job->error() != QKeychain::NoError) {
            emit storeFailed(job->errorString());
            return;
        }
        // A newer password that a failed write has put there meanwhile stays.
        QSettings settings;
        if (settings.value(settingsKey).toString() == password)
            settings.remove(settingsKey);
    });
    job->start();
}
