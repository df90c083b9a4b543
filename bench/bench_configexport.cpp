// Opens configuration exports of 64 MiB and 256 MiB (a few large files and 5,000 small ones):
// reading, decoding and decryption compared with "openssl enc -d -aes-256-cbc -a" on the same
// file, the whole opening (to the list of files ready to write) and the extraction, and the
// peak memory of opening and extraction measured in a child process. The timings are the best
// of three rounds, each round running openssl and ours in turn, so that a load on the machine
// falls on both sides alike.
#include "benchsupport.h"
#include "router/configcipher.h"
#include "router/configexport.h"
#include "router/configextractor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

const QString password = QStringLiteral("bench transport password");
constexpr qsizetype mebibyte = 1 << 20;
constexpr int smallFiles = 5000;
constexpr int smallSize = 2048;
constexpr int largeFiles = 3;
constexpr int rounds = 3;
// Targets: against openssl's time, and the peak above the files' own bytes.
constexpr double decryptTarget = 1.0;
constexpr double openTarget = 1.5;
constexpr double memoryAllowanceMiB = 16;

QByteArray randomBytes(qsizetype size, QRandomGenerator &random)
{
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QByteArray wrapped(const QByteArray &text)
{
    QByteArray lines;
    lines.reserve(text.size() + text.size() / 64 + 1);
    for (qsizetype i = 0; i < text.size(); i += 64) {
        lines += QByteArrayView(text).sliced(i, qMin<qsizetype>(64, text.size() - i));
        lines += '\n';
    }
    return lines;
}

QByteArray buildDocument(qsizetype largeSize)
{
    QRandomGenerator random(2024);
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Config>\n"
                     "<Router type=\"OpenWRT Pylon VPN\" login=\"root\"/>\n";
    for (int i = 0; i < largeFiles; ++i)
        xml += "<File path=\"/overlay/large" + QByteArray::number(i) + ".img\" content=\""
            + randomBytes(largeSize, random).toBase64() + "\"/>\n";
    for (int i = 0; i < smallFiles; ++i)
        xml += "<Dir><File path=\"/etc/config/d" + QByteArray::number(i % 50) + "/f" + QByteArray::number(i)
            + "\" content=\"" + randomBytes(smallSize, random).toBase64() + "\"/></Dir>\n";
    return xml + "</Config>\n";
}

bool writeExport(const QString &fileName, const QByteArray &document)
{
    ConfigCipher cipher(document);
    cipher.setPassword(password);
    cipher.encrypt();
    const QByteArray text = wrapped(cipher.data.toBase64());
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Child: the program's whole path, as the window runs it, with its peak memory.
int measure(const QString &exportName, const QString &directory)
{
    const qint64 before = statusKilobytes("VmRSS:");
    ConfigExport configExport;
    if (!configExport.load(exportName))
        return 1;
    ConfigExport::Result result = configExport.open(password);
    if (!result.ok || result.files.size() != largeFiles + smallFiles)
        return 2;
    const QStringList refused = ConfigExtractor::extract(directory, std::move(result.files));
    if (!refused.isEmpty())
        return 3;
    std::printf("%lld %lld\n", before, statusKilobytes("VmHWM:"));
    return 0;
}

double milliseconds(const std::function<void()> &run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return timer.nsecsElapsed() / 1e6;
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

// One export of about the given size: builds it, times it, measures it. False on a failure.
bool benchmark(qsizetype exportSize, const QString &dir, QTextStream &out)
{
    const QString exportName = dir + QStringLiteral("/router.aes");
    // The export's text is about 4/3 * 65/64 of the document, which is about 4/3 of the
    // files' bytes.
    const double documentSize = double(exportSize) / (4.0 / 3 * 65 / 64);
    const qsizetype largeSize = qsizetype((documentSize * 3 / 4 - double(smallFiles) * (smallSize + 45)) / largeFiles) & ~qsizetype(3);
    if (!writeExport(exportName, buildDocument(largeSize)))
        return false;
    const double filesMiB = double(largeFiles * largeSize + qsizetype(smallFiles) * smallSize) / mebibyte;
    out << "== export of " << QFileInfo(exportName).size() / double(mebibyte) << " MiB: " << largeFiles
        << " files of " << largeSize / double(mebibyte) << " MiB and " << smallFiles << " of " << smallSize
        << " bytes, " << filesMiB << " MiB of files\n";
    out.flush();

    const QByteArray key = [] {
        ConfigCipher cipher;
        cipher.setPassword(password);
        return cipher.keyMaterial;
    }();
    const QStringList opensslArguments = {
        QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc"), QStringLiteral("-a"),
        QStringLiteral("-K"), QString::fromLatin1(key.left(32).toHex()), QStringLiteral("-iv"),
        QString::fromLatin1(key.mid(32, 16).toHex()), QStringLiteral("-in"), exportName,
        QStringLiteral("-out"), QStringLiteral("/dev/null")};

    bool ok = true;
    qsizetype plaintextSize = 0;
    ConfigExport::Result result;
    double opensslTime = 1e12, decryptTime = 1e12, openTime = 1e12;
    for (int round = 0; round < rounds; ++round) {
        opensslTime = qMin(opensslTime, milliseconds([&] {
            ok = QProcess::execute(QStringLiteral("openssl"), opensslArguments) == 0 && ok;
        }));
        decryptTime = qMin(decryptTime, milliseconds([&] {
            QFile file(exportName);
            file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            plaintextSize = 0;
            ok = ConfigExport::decrypt(&file, password, [&plaintextSize](QByteArrayView piece) {
                     plaintextSize += piece.size();
                     return true;
                 }) == ConfigExport::PlaintextEnd::Complete
                && ok;
        }));
        result = ConfigExport::Result();
        openTime = qMin(openTime, milliseconds([&] {
            ConfigExport configExport;
            configExport.load(exportName);
            result = configExport.open(password);
        }));
        ok = ok && result.ok && result.files.size() == largeFiles + smallFiles;
    }
    const QString extractDir = dir + QStringLiteral("/extracted");
    QDir().mkpath(extractDir);
    const double extractTime = milliseconds([&] { ConfigExtractor::extract(extractDir, std::move(result.files)); });
    QDir(extractDir).removeRecursively();

    out << "openssl enc -d -a:                " << opensslTime << " ms" << (ok ? "" : " (FAILED)") << "\n";
    out << "read + Base64 + decrypt (ours):   " << decryptTime << " ms = " << decryptTime / opensslTime
        << " x openssl (target <= " << decryptTarget << ": "
        << verdict(decryptTime <= decryptTarget * opensslTime) << ")\n";
    out << "plaintext: " << plaintextSize / double(mebibyte) << " MiB\n";
    out << "open, to the files (ours):        " << openTime << " ms = " << openTime / opensslTime
        << " x openssl (target <= " << openTarget << ": " << verdict(openTime <= openTarget * opensslTime)
        << ")\n";
    out << "extraction of " << largeFiles + smallFiles << " files:       " << extractTime << " ms\n";
    out.flush();

    QProcess child;
    const QString measureDir = dir + QStringLiteral("/measured");
    QDir().mkpath(measureDir);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), exportName, measureDir});
    child.waitForFinished(600000);
    QDir(measureDir).removeRecursively();
    QFile::remove(exportName);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || figures.size() != 2) {
        out << "peak memory: measuring child failed (exit " << child.exitCode() << ")\n";
        return false;
    }
    const double baseline = figures[0].toLongLong() / 1024.0;
    const double above = figures[1].toLongLong() / 1024.0 - baseline;
    out << "peak memory of open + extraction: " << above << " MiB above the " << baseline
        << " MiB start = the files + " << above - filesMiB << " MiB (target <= the files + "
        << memoryAllowanceMiB << " MiB: " << verdict(above <= filesMiB + memoryAllowanceMiB) << ")\n";
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments[1] == QStringLiteral("--measure"))
        return measure(arguments[2], arguments[3]);

    QTextStream out(stdout);
    QTemporaryDir dir;
    bool ok = true;
    for (const qsizetype size : {64 * mebibyte, 256 * mebibyte})
        ok = benchmark(size, dir.path(), out) && ok;
    return ok ? 0 : 1;
}
