#include "router/configextractor.h"

#include "router/elidedtext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <QByteArrayList>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <deque>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace {

enum class Outcome { Written, Refused, Failed };

QString withoutLeadingSlash(const QString &path)
{
    return path.startsWith(u'/') ? path.mid(1) : path;
}

bool hasFileName(const QString &relative)
{
    const QString name = QDir::fromNativeSeparators(relative).section(u'/', -1);
    return !name.isEmpty() && name != u".";
}

// The whole list for a message's details stays well below what a text view shows without
// delay.
constexpr qsizetype maximumFullList = qsizetype(256) * 1024;

// The directories the path leads through.
int depthOf(const QString &relative)
{
    int names = 0;
    for (QStringView name : QStringView(QDir::fromNativeSeparators(relative)).tokenize(u'/', Qt::SkipEmptyParts)) {
        if (name != u".")
            ++names;
    }
    return qMax(names - 1, 0);
}

QString namedPaths(const QStringList &paths, ConfigExtractor::Length length)
{
    const bool full = length == ConfigExtractor::Full;
    QStringList named;
    qsizetype size = 0;
    for (const QString &path : paths) {
        if (full ? size >= maximumFullList : named.size() >= ConfigExtractor::maximumNamedPaths)
            break;
        named.append(ElidedText::middle(path, full ? maximumFullList : ElidedText::entryLength));
        size += named.constLast().size() + 1;
    }
    QString text = named.join(u'\n');
    const qsizetype more = paths.size() - named.size();
    if (more > 0)
        text += u'\n' + QCoreApplication::translate("MainWindow", "and %1 more").arg(more);
    return text;
}

#ifdef Q_OS_UNIX

// Closes its descriptor when it goes.
class Descriptor final
{
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return fd; }
    bool isValid() const { return fd >= 0; }
    // Closes now and tells whether the system took every byte (some report a failed write
    // only here).
    bool close() { return ::close(std::exchange(fd, -1)) == 0; }

private:
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    int fd;
};

// A chain of links longer than this is taken for a loop, as the system does.
constexpr int maximumLinkHops = 40;

// Where an entry's file goes: the opened directory that holds it and its name there.
struct Place
{
    Outcome outcome = Outcome::Failed;
    Descriptor directory;
    QByteArray name;
    bool exists = false;
    mode_t mode = 0;
};

Place outcome(Outcome result)
{
    Place place;
    place.outcome = result;
    return place;
}

Place placeIn(int directory, const QByteArray &name)
{
    Place place;
    place.directory = Descriptor(fcntl(directory, F_DUPFD_CLOEXEC, 0));
    place.outcome = place.directory.isValid() ? Outcome::Written : Outcome::Failed;
    place.name = name;
    return place;
}

void pushComponents(std::deque<QByteArray> *todo, const QByteArray &path)
{
    const QByteArrayList names = path.split('/');
    for (auto name = names.crbegin(); name != names.crend(); ++name) {
        if (!name->isEmpty() && *name != ".")
            todo->push_front(*name);
    }
}

QByteArray readLink(int directory, const QByteArray &name)
{
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t size = readlinkat(directory, name.constData(), target.data(), size_t(target.size()));
    if (size <= 0 || size >= target.size())
        return QByteArray();
    target.truncate(qsizetype(size));
    return target;
}

// Walks the path below the root one component at a time, on opened directories only: no
// component is ever opened through a link. A link is read and its target walked the same
// way, from the root when it is absolute (and names a place below the root) or from where
// it stands; ".." of a target goes up the opened chain and never above the root. Missing
// directories are created, those a link names included: they are below the root too. One
// descriptor is open per level, so the levels are bounded.
Place resolve(int root, const QByteArray &rootPath, const QByteArray &relative)
{
    std::vector<Descriptor> chain;
    const auto current = [&chain, root] { return chain.empty() ? root : chain.back().get(); };
    std::deque<QByteArray> todo;
    pushComponents(&todo, relative);
    int hops = 0;
    while (!todo.empty()) {
        const QByteArray name = todo.front();
        todo.pop_front();
        if (name == "..") {
            if (chain.empty())
                return outcome(Outcome::Refused);
            chain.pop_back();
            continue;
        }
        const bool last = todo.empty();
        struct stat status = {};
        bool directory = false;
        if (fstatat(current(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return outcome(Outcome::Failed);
            if (last)
                return placeIn(current(), name);
            if (mkdirat(current(), name.constData(), 0777) != 0 && errno != EEXIST)
                return outcome(Outcome::Failed);
            directory = true;
        } else if (S_ISLNK(status.st_mode)) {
            if (++hops > maximumLinkHops)
                return outcome(Outcome::Refused);
            QByteArray target = readLink(current(), name);
            if (target.isEmpty())
                return outcome(Outcome::Refused);
            if (target.startsWith('/')) {
                if (target != rootPath && !target.startsWith(QByteArray(rootPath + '/')))
                    return outcome(Outcome::Refused);
                chain.clear();
                target = target.mid(rootPath.size());
            }
            pushComponents(&todo, target);
            continue;
        } else if (S_ISDIR(status.st_mode)) {
            directory = true;
        } else if (last && S_ISREG(status.st_mode)) {
            // The file is replaced by a rename, which asks only for the directory's
            // permission: a file the user may not write is kept as the user meant it.
            if (faccessat(current(), name.constData(), W_OK, AT_EACCESS) != 0)
                return outcome(Outcome::Failed);
            Place place = placeIn(current(), name);
            place.exists = true;
            place.mode = status.st_mode;
            return place;
        }
        // A special file (a FIFO, a device, a socket) is never opened; a file cannot hold
        // the rest of the path; a directory is no place for the entry's bytes.
        if (!directory || last)
            return outcome(Outcome::Failed);
        // Links may lead deeper than the entry's own path.
        if (chain.size() >= size_t(ConfigExtractor::maximumDepth))
            return outcome(Outcome::Refused);
        // Should a link have been swapped in since the check, this fails instead of following it.
        Descriptor next(openat(current(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.isValid())
            return outcome(Outcome::Failed);
        chain.push_back(std::move(next));
    }
    // Through links, the path ended at a directory.
    return outcome(Outcome::Failed);
}

bool writeAll(int fd, const QByteArray &content)
{
    const char *at = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t count = ::write(fd, at, size_t(left));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        at += count;
        left -= qsizetype(count);
    }
    return true;
}

// The bytes go into a new file of a name of our own beside the target, which then replaces
// the target in one step: the old file stays whole until then.
Outcome writeAt(const Place &place, const QByteArray &content)
{
    const int directory = place.directory.get();
    Descriptor out;
    QByteArray temporary;
    for (int attempt = 0; attempt < 16 && !out.isValid(); ++attempt) {
        temporary = ".pylon-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        out = Descriptor(openat(directory, temporary.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!out.isValid() && errno != EEXIST)
            return Outcome::Failed;
    }
    if (!out.isValid())
        return Outcome::Failed;
    bool ok = writeAll(out.get(), content);
    if (ok && place.exists)
        ok = fchmod(out.get(), place.mode & 0777) == 0;
    ok = out.close() && ok;
    ok = ok && renameat(directory, temporary.constData(), directory, place.name.constData()) == 0;
    if (!ok)
        unlinkat(directory, temporary.constData(), 0);
    return ok ? Outcome::Written : Outcome::Failed;
}

Outcome extractOne(int root, const QByteArray &rootPath, const QString &relative, const QByteArray &content)
{
    const Place place = resolve(root, rootPath, QFile::encodeName(QDir::fromNativeSeparators(relative)));
    if (place.outcome != Outcome::Written)
        return place.outcome;
    return writeAt(place, content);
}

#else

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity pathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity pathCase = Qt::CaseSensitive;
#endif

bool isInside(const QString &path, const QString &root)
{
    if (path.compare(root, pathCase) == 0)
        return true;
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    return path.startsWith(prefix, pathCase);
}

// Without descriptor-relative calls the path is resolved by name, component by component
// from the (canonical) root: an existing link on the way that leads out of the root or
// nowhere gives an empty string.
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

// The same steps by name, with QSaveFile's temporary file and rename.
Outcome extractOne(const QString &root, const QString &relative, const QByteArray &content)
{
    const QString target = confinedTarget(root, relative);
    if (target.isEmpty())
        return Outcome::Refused;
    const QFileInfo info(target);
    if (target == root || info.isDir() || (info.exists() && !info.isFile()))
        return Outcome::Failed;
    if (info.exists() && !info.isWritable())
        return Outcome::Failed;
    if (!QDir().mkpath(info.absolutePath()))
        return Outcome::Failed;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
        return Outcome::Failed;
    return out.commit() ? Outcome::Written : Outcome::Failed;
}

#endif

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

QStringList ConfigExtractor::extract(const QString &directory, QList<ConfigExport::File> files,
                                     QStringList *failed)
{
    QStringList refused;
    QStringList unwritten;
    const QString root = QFileInfo(directory).canonicalFilePath();
#ifdef Q_OS_UNIX
    const QByteArray rootPath = QFile::encodeName(root);
    const Descriptor rootDirectory(root.isEmpty() ? -1 : open(rootPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#endif
    for (ConfigExport::File &file : files) {
        // Moved out so that each content is released as soon as it has been written.
        const QByteArray content = std::move(file.content);
        const QString relative = withoutLeadingSlash(file.path);
        // Checked before anything is made for the entry.
        if (!isConfinedPath(file.path) || depthOf(relative) > maximumDepth) {
            refused.append(file.path);
            continue;
        }
        Outcome result = Outcome::Failed;
        // A path without a file name names a directory: there is nothing to write.
        if (hasFileName(relative)) {
#ifdef Q_OS_UNIX
            if (rootDirectory.isValid())
                result = extractOne(rootDirectory.get(), rootPath, relative, content);
#else
            if (!root.isEmpty())
                result = extractOne(root, relative, content);
#endif
        }
        if (result == Outcome::Refused)
            refused.append(file.path);
        else if (result == Outcome::Failed)
            unwritten.append(file.path);
    }
    if (failed)
        *failed = unwritten;
    return refused;
}

QString ConfigExtractor::refusalMessage(const QStringList &refused, Length length)
{
    if (refused.isEmpty())
        return QString();
    return QCoreApplication::translate("MainWindow",
                                       "These files were not written because their paths lead "
                                       "outside the chosen directory, go round in a loop of links "
                                       "or lie more than %1 directories deep:\n%2")
        .arg(maximumDepth)
        .arg(namedPaths(refused, length));
}

QString ConfigExtractor::failureMessage(const QStringList &failed, Length length)
{
    if (failed.isEmpty())
        return QString();
    return QCoreApplication::translate("MainWindow",
                                       "These files could not be written; any file of the same "
                                       "name was left as it was:\n%1")
        .arg(namedPaths(failed, length));
}
