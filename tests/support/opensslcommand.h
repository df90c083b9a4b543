#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The openssl command, an independent implementation of the export's cipher and Base64
// layers: "dgst -sha512" of the password gives the key and the IV, "enc -aes-256-cbc -a"
// encrypts and decrypts with them.
class OpensslCommand final
{
public:
    OpensslCommand() = delete;

    struct Run
    {
        int exitCode = -1; // -1 when it did not run or crashed
        QByteArray output;
    };

    static Run run(const QStringList &arguments, const QByteArray &input = QByteArray());
    // "-K <key> -iv <iv>" in hex, from openssl's own SHA-512 of the password's UTF-8 bytes;
    // empty when openssl failed.
    static QStringList keyArguments(const QString &password);
};
