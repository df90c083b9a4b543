#include "router/configcipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <memory>

namespace {

constexpr int keyMaterialSize = 64;
constexpr int keySize = 32;
constexpr int blockSize = 16;
// A new instance has no password yet; nothing runs the cipher before setPassword().
constexpr char keyFiller = '\0';
// EVP takes int lengths; leave room for the padding block.
constexpr qsizetype largestPayload = INT_MAX - 2 * blockSize;

struct CipherContextFree
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const unsigned char *bytes(const QByteArray &array)
{
    return reinterpret_cast<const unsigned char *>(array.constData());
}

// A fresh context for one operation, keyed from bytes 0-31 and 32-47; null on failure.
CipherContext startCipher(const QByteArray &keyMaterial, bool encrypting)
{
    CipherContext context(EVP_CIPHER_CTX_new());
    if (context
        && EVP_CipherInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, bytes(keyMaterial),
                             bytes(keyMaterial) + keySize, encrypting ? 1 : 0) != 1)
        context.reset();
    return context;
}

} // namespace

ConfigCipher::ConfigCipher()
    : keyMaterial(keyMaterialSize, keyFiller)
{
}

ConfigCipher::ConfigCipher(const QByteArray &bytes)
    : data(bytes), keyMaterial(keyMaterialSize, keyFiller)
{
}

ConfigCipher::ConfigCipher(const char *text)
    : data(text), keyMaterial(keyMaterialSize, keyFiller)
{
}

ConfigCipher::ConfigCipher(const char *bytes, qsizetype length)
    : data(bytes, length), keyMaterial(keyMaterialSize, keyFiller)
{
}

ConfigCipher::ConfigCipher(qsizetype length, char fill)
    : data(length, fill), keyMaterial(keyMaterialSize, keyFiller)
{
}

// The key is copied deeply so that every instance owns, and later wipes, its own buffer.
ConfigCipher::ConfigCipher(const ConfigCipher &other)
    : data(other.data), keyMaterial(other.keyMaterial.constData(), other.keyMaterial.size())
{
}

ConfigCipher &ConfigCipher::operator=(const ConfigCipher &other)
{
    if (this != &other) {
        data = other.data;
        wipeKeyMaterial();
        keyMaterial = QByteArray(other.keyMaterial.constData(), other.keyMaterial.size());
    }
    return *this;
}

ConfigCipher::~ConfigCipher()
{
    wipeKeyMaterial();
}

// No test reads the wipe: the bytes can only be looked at once the buffer is freed, which is
// undefined behaviour. Checked under gdb instead, on the library as built with the project's
// flags: a program that sets a password and lets the cipher go, stopped in this function
// called from the destructor, showed the 64 key bytes at keyMaterial's buffer before the
// cleanse and 64 zero bytes at the same address after it, before the buffer is released.
// OPENSSL_cleanse is a call into libcrypto, so the compiler cannot drop it as a dead store.
void ConfigCipher::wipeKeyMaterial()
{
    // data() would detach a shared buffer and wipe only the copy; every instance holds its
    // key alone (see the copy constructor), so this wipes the bytes actually released.
    if (!keyMaterial.isEmpty())
        OPENSSL_cleanse(keyMaterial.data(), size_t(keyMaterial.size()));
}

void ConfigCipher::setPassword(const QString &password)
{
    QByteArray utf8 = password.toUtf8();
    if (keyMaterial.size() != keyMaterialSize)
        keyMaterial = QByteArray(keyMaterialSize, keyFiller);
    unsigned int written = 0;
    EVP_Digest(utf8.constData(), size_t(utf8.size()),
               reinterpret_cast<unsigned char *>(keyMaterial.data()), &written, EVP_sha512(), nullptr);
    if (!utf8.isEmpty())
        OPENSSL_cleanse(utf8.data(), size_t(utf8.size()));
}

// Decrypts in place: CBC decryption writes no more than it has read, and OpenSSL allows the
// output to be the input itself, so no second copy of a large export is ever held. The
// buffer still gets the one block of room that OpenSSL asks of an update's output.
void ConfigCipher::decrypt()
{
    if (data.isEmpty())
        return;
    if (data.size() > largestPayload) {
        data.clear();
        return;
    }
    Decryption decryption(*this);
    data.reserve(data.size() + blockSize);
    char *buffer = data.data();
    const qsizetype updateLength = decryption.update(buffer, int(data.size()), buffer);
    if (updateLength < 0) {
        data.clear();
        return;
    }
    int finalLength = 0;
    // The held-back last block is verified and written behind the update's output, which
    // ends at least one block before the payload's end.
    decryption.finish(buffer + updateLength, &finalLength);
    data.truncate(updateLength + finalLength);
}

ConfigCipher::Decryption::Decryption(const ConfigCipher &cipher)
    : context(startCipher(cipher.keyMaterial, false).release())
{
}

// Freeing the context wipes the key schedule and IV it holds: checked under gdb with the
// system's libcrypto 3, where EVP_CIPHER_CTX_free hands the AES context to CRYPTO_clear_free.
ConfigCipher::Decryption::~Decryption()
{
    EVP_CIPHER_CTX_free(context);
}

qsizetype ConfigCipher::Decryption::update(const char *input, int size, char *output)
{
    int written = 0;
    if (!context
        || EVP_DecryptUpdate(context, reinterpret_cast<unsigned char *>(output), &written,
                             reinterpret_cast<const unsigned char *>(input), size) != 1)
        return -1;
    return written;
}

bool ConfigCipher::Decryption::finish(char *output, int *written)
{
    if (context && EVP_DecryptFinal_ex(context, reinterpret_cast<unsigned char *>(output), written) == 1)
        return true;
    *written = 0;
    return false;
}

// Encrypts in place after growing the payload to its final size, the payload rounded down to
// whole blocks plus one block (PKCS#7 always adds padding).
void ConfigCipher::encrypt()
{
    if (data.isEmpty())
        return;
    const CipherContext context = data.size() <= largestPayload ? startCipher(keyMaterial, true) : nullptr;
    if (!context) {
        data.clear();
        return;
    }
    const int plainLength = int(data.size());
    data.resize(qsizetype(plainLength / blockSize + 1) * blockSize);
    auto *buffer = reinterpret_cast<unsigned char *>(data.data());
    int updateLength = 0;
    int finalLength = 0;
    if (EVP_EncryptUpdate(context.get(), buffer, &updateLength, buffer, plainLength) != 1
        || EVP_EncryptFinal_ex(context.get(), buffer + updateLength, &finalLength) != 1) {
        data.clear();
        return;
    }
    data.truncate(updateLength + finalLength);
}
