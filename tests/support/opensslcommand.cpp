#include "support/opensslcommand.h"

#include <QDebug>
#include <QProcess>

OpensslCommand::Run OpensslCommand::run(const QStringList &arguments, const QByteArray &input)
{
    Run run;
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    run.output = process.readAllStandardOutput();
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

QStringList OpensslCommand::keyArguments(const QString &password)
{
    const Run digest = run({QStringLiteral("dgst"), QStringLiteral("-sha512"), QStringLiteral("-binary")},
                           password.toUtf8());
    if (digest.exitCode != 0 || digest.output.size() != 64) {
        qWarning() << "openssl dgst failed" << digest.exitCode;
        return {};
    }
    return {QStringLiteral("-K"), QString::fromLatin1(digest.output.left(32).toHex()), QStringLiteral("-iv"),
            QString::fromLatin1(digest.output.mid(32, 16).toHex())};
}
