#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>

class QIODevice;

// Opens an encrypted configuration export (".aes"): lenient Base64 text around AES-256-CBC
// around an XML document whose "Router" element names the FTP login and whose "File"
// elements carry the router's files. Widget-free; the window drives the dialogs around it:
//
//     ConfigExport configExport;
//     if (!configExport.load(fileName))        -> "Could not read the file."
//     ConfigExport::Result result = configExport.open(password);
//     if (result.unreadable)                   -> "Could not read the file."
//     else if (!result.ok)                     -> "Wrong password or XML syntax error."
//
// The export streams through buffers of a fixed size: the file is read, decoded, decrypted
// and read as XML a piece at a time, and only the files' decoded bytes are held. They are
// handed over once the whole export has been read, its padding and its document checked.
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
        bool unreadable = false; // the file failed while it was read (ok is false then)
        QString login;      // "root" without any "Router" element
        QList<File> files;  // in document order
    };

    // How the plaintext of an export ended.
    enum class PlaintextEnd {
        Complete,
        ReadFailed,
        BadPadding, // a wrong password, or an export cut off or corrupt
        Stopped     // the receiver asked for no more
    };
    using PlaintextReceiver = std::function<bool(QByteArrayView)>;

    ConfigExport();
    ~ConfigExport();
    Q_DISABLE_COPY_MOVE(ConfigExport)

    // Opens the export file to be read by open(); false when it cannot be opened.
    bool load(const QString &fileName);
    // Takes the Base64 text of an export that is already in memory.
    void setText(QByteArray &&text);
    // Drops the loaded export (the user cancelled the password dialog).
    void clear();
    bool isEmpty() const { return !source; }

    // Decrypts the loaded export with the password and reads its document. The export is
    // consumed either way. A wrong password (the padding does not check out, or the
    // document does not read) or any XML error gives ok false, with no login and no files.
    Result open(const QString &password);

    // Streams the plaintext of an export's text from the device to the receiver, a piece at
    // a time, in order; the receiver returns false to stop. The last block is handed on
    // only once its padding has checked out.
    static PlaintextEnd decrypt(QIODevice *source, const QString &password, const PlaintextReceiver &receiver);

    // Reads a plaintext document: "Router" and "File" start elements at any depth, names
    // case-sensitive, everything else ignored.
    static Result read(const QByteArray &document);

    // Standard Base64, skipping every character outside the alphabet ("=" and line breaks
    // included), as the export's outer layer and the "content" attributes are written.
    static QByteArray decodeBase64(QByteArray &&text);
    static QByteArray decodeBase64(QStringView text);

    // The size of the pieces read from the file and of the documents' pieces given to
    // read(); 0 restores the default (64 KiB).
    static void setChunkSizeForTesting(qsizetype size);

private:
    std::unique_ptr<QIODevice> source;
    QByteArray text;
};
