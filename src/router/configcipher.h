#pragma once

#include <QByteArray>
#include <QString>

// AES-256-CBC (PKCS#7 padding) over a whole configuration export, with key and IV taken from
// one SHA-512 digest of the password's UTF-8 bytes. A plain value: the owner fills `data`,
// sets the password and runs one operation, which replaces `data` in place.
class ConfigCipher final
{
public:
    ConfigCipher();
    explicit ConfigCipher(const QByteArray &bytes);
    explicit ConfigCipher(const char *text);
    ConfigCipher(const char *bytes, qsizetype length);
    ConfigCipher(qsizetype length, char fill);
    ConfigCipher(const ConfigCipher &other);
    ConfigCipher &operator=(const ConfigCipher &other);
    ~ConfigCipher();

    void setPassword(const QString &password);
    // Neither operation reports failure. A wrong password (or a ciphertext that is not a
    // whole number of blocks) leaves `data` without its last, unverifiable block; the owner
    // notices when the plaintext does not parse.
    void decrypt();
    void encrypt();

    // The payload: ciphertext before decrypt(), plaintext after it (the reverse for encrypt()).
    QByteArray data;
    // Always 64 bytes: 0-31 key, 32-47 IV, 48-63 unused.
    QByteArray keyMaterial;

private:
    void wipeKeyMaterial();
};
