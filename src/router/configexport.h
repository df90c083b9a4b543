#pragma once

#include "router/configcipher.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

class QIODevice;

// Opens an encrypted configuration export (".aes"): lenient Base64 text around AES-256-CBC
// around an XML document whose "Router" element names the FTP login and whose "File"
// elements carry the router's files. Widget-free; the window drives the dialogs around it:
//
//     ConfigExport configExport;
//     if (!configExport.load(fileName))        -> "Could not read the file."
//     ConfigExport::Result result = configExport.open(password);
//     if (!result.ok)                          -> "Wrong password or XML syntax error."
//
// At most one copy of the payload is held at a time: the file's text is decoded and then
// decrypted in place, and each file's content is decoded while the document is read.
class ConfigExport final
{
public:
    struct File
    {
        QString path;       // as in the export, leading "/" included
        QByteArray content; // the decoded bytes
    };

    struct Result
    {
        bool ok = false;
        QString login;      // "root" without any "Router" element
        QList<File> files;  // in document order
    };

    // Reads and decodes the export file; false when it cannot be opened.
    bool load(const QString &fileName);
    // Takes the Base64 text of an export that is already in memory.
    void setText(QByteArray &&text);
    // Drops the loaded payload (the user cancelled the password dialog).
    void clear();
    bool isEmpty() const { return cipher.data.isEmpty(); }

    // Decrypts the loaded payload with the password and reads its document. The payload is
    // consumed either way. Any XML error (a wrong password shows up as one) gives ok false,
    // with no login and no files.
    Result open(const QString &password);

    // Reads a plaintext document from the device: "Router" and "File" start elements at any
    // depth, names case-sensitive, everything else ignored.
    static Result read(QIODevice *device);
    static Result read(const QByteArray &document);

    // Standard Base64, skipping every character outside the alphabet ("=" and line breaks
    // included), as the export's outer layer and the "content" attributes are written.
    static QByteArray decodeBase64(QByteArray &&text);
    static QByteArray decodeBase64(QStringView text);

private:
    ConfigCipher cipher;
};
