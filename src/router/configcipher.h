#pragma once

#include <QByteArray>
#include <QString>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

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

    // Decrypts a payload that arrives in pieces, with the key and IV the cipher holds when
    // this is made. Only the cipher context keeps them, and OpenSSL wipes it when it is freed.
    class Decryption final
    {
    public:
        explicit Decryption(const ConfigCipher &cipher);
        ~Decryption();
        Decryption(const Decryption &) = delete;
        Decryption &operator=(const Decryption &) = delete;

        // Writes the plaintext of the whole blocks received so far, all but the last, which
        // may be padding: at most size + 16 bytes, rounded down to whole blocks. The output
        // may be the input itself only while no block is held back, that is in the first
        // call. Returns the bytes written, -1 when the cipher could not be set up.
        qsizetype update(const char *input, int size, char *output);
        // Writes what the last block holds besides its padding (at most 15 bytes, but the
        // output needs room for a whole block). False when the payload was no whole number
        // of blocks or the padding does not check out (a wrong password, a corrupt or
        // cut-off payload).
        bool finish(char *output, int *written);

    private:
        EVP_CIPHER_CTX *context = nullptr;
    };

    // The payload: ciphertext before decrypt(), plaintext after it (the reverse for encrypt()).
    QByteArray data;
    // Always 64 bytes: 0-31 key, 32-47 IV, 48-63 unused.
    QByteArray keyMaterial;

private:
    void wipeKeyMaterial();
};
