#include "extractionsandbox.h"

#include "fuzzcheck.h"
#include "writeguard.h"

#include "router/configextractor.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdio>

namespace {

void writeFile(const QString &name, const QByteArray &content)
{
    QFile file(name);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(content) == content.size());
}

struct Link
{
    const char *name;
    QString target;
};

// Lists a tree without following links: name, kind, link target or size and digest. The
// subtree skip (when not empty) is left out.
QByteArray describeTree(const QString &root, const QString &skip)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!skip.isEmpty() && (path == skip || path.startsWith(skip + u'/')))
            continue;
        const QFileInfo info(path);
        QString line = path.mid(root.size()) + u' ';
        if (info.isSymLink()) {
            line += u"link " + info.symLinkTarget();
        } else if (info.isDir()) {
            line += u"dir";
        } else {
            QFile file(path);
            const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?");
            line += u"file " + QString::number(content.size()) + u' '
                    + QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
        }
        lines.append(line);
    }
    lines.sort();
    return lines.join(u'\n').toUtf8();
}

} // namespace

ExtractionSandbox::ExtractionSandbox()
{
    FUZZ_CHECK(temporary.isValid());
    base = QFileInfo(temporary.path()).canonicalFilePath();
    target = base + QStringLiteral("/a/target");
    FUZZ_CHECK(QDir().mkpath(base + QStringLiteral("/a/outside")));
    FUZZ_CHECK(QDir().mkpath(base + QStringLiteral("/cwd")));
    writeFile(base + QStringLiteral("/a/sentinel"), "sentinel");
    writeFile(base + QStringLiteral("/a/outside/keep"), "keep");
    FUZZ_CHECK(QDir::setCurrent(base + QStringLiteral("/cwd")));
    reset();
    outsideBefore = snapshotOutside();

    // The guard must see what Qt does, or every later check would pass for nothing.
    WriteGuard::arm(QFile::encodeName(target));
    {
        QFile inside(target + QStringLiteral("/guard-probe"));
        FUZZ_CHECK(inside.open(QIODevice::WriteOnly));
        QFile outside(base + QStringLiteral("/a/guard-probe"));
        FUZZ_CHECK(!outside.open(QIODevice::WriteOnly));
        FUZZ_CHECK(!QDir().mkpath(base + QStringLiteral("/a/guard-probe-dir")));
    }
    const QByteArrayList probeViolations = WriteGuard::disarm();
    FUZZ_CHECK(WriteGuard::callsSeen() >= 3);
    FUZZ_CHECK(probeViolations.size() >= 2);
    FUZZ_CHECK(!QFileInfo::exists(base + QStringLiteral("/a/guard-probe")));
    FUZZ_CHECK(snapshotOutside() == outsideBefore);
}

ExtractionSandbox &ExtractionSandbox::instance()
{
    static ExtractionSandbox sandbox;
    return sandbox;
}

void ExtractionSandbox::reset()
{
    QDir(target).removeRecursively();
    FUZZ_CHECK(!QFileInfo::exists(target));
    FUZZ_CHECK(QDir().mkpath(target + QStringLiteral("/sub")));
    const Link links[] = {
        {"in", QStringLiteral("sub")},
        {"self", QStringLiteral(".")},
        {"up", QStringLiteral("../outside")},
        {"abs", base + QStringLiteral("/a/outside")},
        {"dangling", QStringLiteral("../nowhere")},
        {"loop", QStringLiteral("loop")},
        {"sentinel", QStringLiteral("../sentinel")},
    };
    for (const Link &link : links)
        FUZZ_CHECK(QFile::link(link.target, target + u'/' + QLatin1String(link.name)));
}

QByteArray ExtractionSandbox::snapshotOutside() const
{
    return describeTree(base, target);
}

QStringList ExtractionSandbox::check(const QList<ConfigExport::File> &files)
{
    reset();
    const QByteArray linksBefore = describeTree(target, target + QStringLiteral("/sub"));

    WriteGuard::arm(QFile::encodeName(target));
    QStringList failed;
    QStringList refused = ConfigExtractor::extract(target, files, &failed);
    const QByteArrayList violations = WriteGuard::disarm();
    for (const QByteArray &violation : violations)
        std::fprintf(stderr, "write outside the target: %s\n", violation.constData());
    FUZZ_CHECK(violations.isEmpty());

    FUZZ_CHECK(snapshotOutside() == outsideBefore);
    FUZZ_CHECK(!QFileInfo::exists(base + QStringLiteral("/a/nowhere")));

    // The links themselves, not followed, are as they were.
    QSet<QString> expectedLinks;
    for (const QString &line : QString::fromUtf8(linksBefore).split(u'\n')) {
        if (line.contains(QLatin1String(" link ")))
            expectedLinks.insert(line);
    }
    for (const QString &line : QString::fromUtf8(describeTree(target, QString())).split(u'\n')) {
        if (line.contains(QLatin1String(" link ")))
            FUZZ_CHECK(expectedLinks.remove(line));
    }
    FUZZ_CHECK(expectedLinks.isEmpty());

    QSet<QString> paths;
    QSet<QByteArray> contents;
    for (const ConfigExport::File &file : files) {
        paths.insert(file.path);
        contents.insert(file.content);
        if (!ConfigExtractor::isConfinedPath(file.path))
            FUZZ_CHECK(refused.contains(file.path));
    }
    for (const QString &path : refused)
        FUZZ_CHECK(paths.contains(path));
    // Every entry ends once: written, refused or named as not written.
    for (const QString &path : failed)
        FUZZ_CHECK(paths.contains(path) && !refused.contains(path));
    FUZZ_CHECK(refused.size() + failed.size() <= files.size());

    // Broken links count as system entries; links are skipped by name, never followed.
    QDirIterator written(target, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (written.hasNext()) {
        QFile file(written.next());
        if (written.fileInfo().isSymLink())
            continue;
        // No temporary file is left behind.
        FUZZ_CHECK(!written.fileName().startsWith(QLatin1String(".pylon-")));
        if (!file.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "cannot read back %s\n", qPrintable(file.fileName()));
        FUZZ_CHECK(file.isOpen());
        FUZZ_CHECK(contents.contains(file.readAll()));
    }
    return refused;
}
