// Opens a 64 MiB configuration export (a few large files and 5,000 small ones): decryption
// compared with "openssl enc -d -aes-256-cbc -a" on the same file, then reading and
// extraction, and the peak memory of the whole path measured in a child process.
#include "benchsupport.h"
#include "router/configcipher.h"
#include "router/configexport.h"
#include "router/configextractor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

const QString password = QStringLiteral("bench transport password");
constexpr qsizetype targetExportSize = 64 << 20;
constexpr int smallFiles = 5000;
constexpr int smallSize = 2048;
constexpr int largeFiles = 3;

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

QByteArray encryptToExport(const QByteArray &document)
{
    ConfigCipher cipher(document);
    cipher.setPassword(password);
    cipher.encrypt();
    return wrapped(cipher.data.toBase64());
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

double best(const std::function<void()> &run, int rounds = 3)
{
    double fastest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        fastest = qMin(fastest, timer.nsecsElapsed() / 1e6);
    }
    return fastest;
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
    const QString exportName = dir.filePath(QStringLiteral("router.aes"));

    // The export's text is about 4/3 * 65/64 of the document, which is about 4/3 of the
    // files' bytes.
    const double documentSize = targetExportSize / (4.0 / 3 * 65 / 64);
    const qsizetype largeSize = qsizetype((documentSize * 3 / 4 - double(smallFiles) * (smallSize + 45)) / largeFiles) & ~qsizetype(3);
    {
        const QByteArray text = encryptToExport(buildDocument(largeSize));
        QFile file(exportName);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return 1;
    }
    const qint64 exportSize = QFileInfo(exportName).size();
    out << "export: " << exportSize / 1048576.0 << " MiB, " << largeFiles << " files of "
        << largeSize / 1048576.0 << " MiB and " << smallFiles << " of " << smallSize << " bytes\n";

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
    bool opensslOk = true;
    const double opensslTime = best([&] {
        opensslOk = QProcess::execute(QStringLiteral("openssl"), opensslArguments) == 0 && opensslOk;
    });

    qsizetype plaintextSize = 0;
    const double decryptTime = best([&] {
        QFile file(exportName);
        file.open(QIODevice::ReadOnly);
        ConfigCipher cipher(ConfigExport::decodeBase64(file.readAll()));
        cipher.setPassword(password);
        cipher.decrypt();
        plaintextSize = cipher.data.size();
    });

    ConfigExport::Result result;
    const double openTime = best([&] {
        ConfigExport configExport;
        configExport.load(exportName);
        result = configExport.open(password);
    });
    const QString extractDir = dir.filePath(QStringLiteral("extracted"));
    QDir().mkpath(extractDir);
    const double extractTime = best([&] { ConfigExtractor::extract(extractDir, result.files); }, 1);

    out << "openssl enc -d -a:              " << opensslTime << " ms" << (opensslOk ? "" : " (FAILED)") << "\n";
    out << "read + Base64 + decrypt (ours): " << decryptTime << " ms  = " << decryptTime / opensslTime
        << " x openssl (target <= 1.5)\n";
    out << "plaintext: " << plaintextSize / 1048576.0 << " MiB; files read: " << result.files.size() << "\n";
    out << "load + decrypt + XML (ours):    " << openTime << " ms\n";
    out << "extraction of " << result.files.size() << " files: " << extractTime << " ms\n";

    QProcess child;
    const QString measureDir = dir.filePath(QStringLiteral("measured"));
    QDir().mkpath(measureDir);
    child.start(app.applicationFilePath(), {QStringLiteral("--measure"), exportName, measureDir});
    child.waitForFinished(300000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || figures.size() != 2) {
        out << "peak memory: measuring child failed (exit " << child.exitCode() << ")\n";
        return 1;
    }
    const double baseline = figures[0].toLongLong() / 1024.0;
    const double peak = figures[1].toLongLong() / 1024.0;
    const double exportMiB = exportSize / 1048576.0;
    out << "peak memory of load + decrypt + XML + extraction: " << peak - baseline << " MiB above the "
        << baseline << " MiB start (" << (peak - baseline) / exportMiB << " x the export, target < 4); "
        << "peak RSS " << peak << " MiB\n";
    return opensslOk ? 0 : 1;
}
