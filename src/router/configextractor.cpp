#include "router/configextractor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity pathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity pathCase = Qt::CaseSensitive;
#endif

QString withoutLeadingSlash(const QString &path)
{
    return path.startsWith(u'/') ? path.mid(1) : path;
}

bool isInside(const QString &path, const QString &root)
{
    if (path.compare(root, pathCase) == 0)
        return true;
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    return path.startsWith(prefix, pathCase);
}

// Follows the relative path component by component from the (canonical) root and returns
// the file to write, or an empty string when an existing link on the way leads out of the
// root or nowhere. Writing to the resolved name means the links are not followed a second
// time after they were checked.
QString confinedTarget(const QString &root, const QString &relative)
{
    QString current = root;
    const QStringList components = QDir::fromNativeSeparators(relative).split(u'/', Qt::SkipEmptyParts);
    for (const QString &component : components) {
        if (component == u".")
            continue;
        const QString next = current.endsWith(u'/') ? QString(current + component)
                                                     : QString(current + u'/' + component);
        const QFileInfo info(next);
        if (info.isSymLink() || info.isJunction()) {
            // Empty for a dangling link, whose target would be created wherever it points.
            // A link that cannot be resolved at all (one in a loop) comes back as itself,
            // which is no canonical path.
            const QString resolved = info.canonicalFilePath();
            if (resolved.isEmpty() || QFileInfo(resolved).isSymLink() || !isInside(resolved, root))
                return QString();
            current = resolved;
        } else {
            current = next;
        }
    }
    return current;
}

bool hasFileName(const QString &relative)
{
    const QString name = QDir::fromNativeSeparators(relative).section(u'/', -1);
    return !name.isEmpty() && name != u".";
}

} // namespace

bool ConfigExtractor::isConfinedPath(const QString &path)
{
    const QString relative = withoutLeadingSlash(path);
    if (relative.startsWith(u'/') || relative.startsWith(u'\\') || QDir::isAbsolutePath(relative))
        return false;
    static const QRegularExpression driveLetter(QStringLiteral("^[A-Za-z]:"));
    if (driveLetter.match(relative).hasMatch())
        return false;
    // Backslashes count as separators here on every platform: the export may come from, or
    // be extracted on, a system where they are.
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QStringList components = relative.split(separators);
    return !components.contains(QStringLiteral(".."));
}

QStringList ConfigExtractor::extract(const QString &directory, QList<ConfigExport::File> files)
{
    QStringList refused;
    const QString root = QFileInfo(directory).canonicalFilePath();
    if (root.isEmpty())
        return refused;
    for (ConfigExport::File &file : files) {
        // Moved out so that each content is released as soon as it has been written.
        const QByteArray content = std::move(file.content);
        if (!isConfinedPath(file.path)) {
            refused.append(file.path);
            continue;
        }
        const QString relative = withoutLeadingSlash(file.path);
        const QString target = confinedTarget(root, relative);
        if (target.isEmpty()) {
            refused.append(file.path);
            continue;
        }
        // A path without a file name, or one that ends at the directory itself through a
        // link, names a directory: there is nothing to write, and the directory's parent,
        // which the step below would create, is not ours to touch.
        if (!hasFileName(relative) || target == root)
            continue;
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile out(target);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(content);
    }
    return refused;
}

QString ConfigExtractor::refusalMessage(const QStringList &refused)
{
    return QCoreApplication::translate("MainWindow",
                                       "These files were not written because their paths lead "
                                       "outside the chosen directory:\n%1")
        .arg(refused.join(u'\n'));
}
