#include "writeguard.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>

namespace {

bool armed = false;
bool inside = false;   // re-entrancy: the checks themselves call into the C library
int seen = 0;
QByteArray guardRoot;
QByteArrayList violations;

template<typename Function>
Function real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

QByteArray canonical(const QByteArray &path)
{
    char resolved[PATH_MAX];
    return realpath(path.constData(), resolved) ? QByteArray(resolved) : QByteArray();
}

QByteArray directoryOf(int dirfd)
{
    if (dirfd == AT_FDCWD) {
        char cwd[PATH_MAX];
        return getcwd(cwd, sizeof cwd) ? QByteArray(cwd) : QByteArray();
    }
    char target[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(dirfd);
    const ssize_t length = readlink(link.constData(), target, sizeof target);
    return length > 0 ? QByteArray(target, length) : QByteArray();
}

bool isUnder(const QByteArray &path, const QByteArray &root)
{
    return path == root || path.startsWith(QByteArray(root + '/'));
}

// A call whose directory part does not resolve fails in the system as well (ENOENT, ELOOP):
// it cannot write anything.
const QByteArray nowhere = QByteArrayLiteral("<unresolvable directory>");

// Where a call on path (relative to dirfd) lands once everything on the way is resolved;
// empty when that cannot be told, which counts as outside.
QByteArray finalLocation(int dirfd, const char *path)
{
    QByteArray absolute(path);
    if (!absolute.startsWith('/'))
        absolute = directoryOf(dirfd) + '/' + absolute;
    while (absolute.size() > 1 && absolute.endsWith('/'))
        absolute.chop(1);
    struct stat status = {};
    if (lstat(absolute.constData(), &status) == 0) {
        // Existing: a link is followed by the call; a dangling link has no canonical path
        // and would create its target wherever it points.
        return canonical(absolute);
    }
    const qsizetype slash = absolute.lastIndexOf('/');
    const QByteArray name = absolute.mid(slash + 1);
    if (name == "." || name == "..")
        return canonical(absolute);
    const QByteArray parent = canonical(slash == 0 ? QByteArray("/") : absolute.left(slash));
    if (parent.isEmpty())
        return nowhere;
    return parent == "/" ? QByteArray('/' + name) : QByteArray(parent + '/' + name);
}

// True when the call may go ahead.
bool admit(const char *call, int dirfd, const char *path)
{
    if (!armed || inside)
        return true;
    inside = true;
    ++seen;
    const QByteArray location = finalLocation(dirfd, path);
    const bool ok = location == nowhere || (!location.isEmpty() && isUnder(location, guardRoot));
    if (!ok)
        violations.append(QByteArray(call) + "(\"" + path + "\") lands at \"" + location + '"');
    inside = false;
    if (!ok)
        errno = EACCES;
    return ok;
}

bool writes(int flags)
{
    return (flags & (O_CREAT | O_TRUNC)) != 0 || (flags & O_ACCMODE) != O_RDONLY;
}

mode_t modeOf(int flags, va_list arguments)
{
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode_t(va_arg(arguments, int)) : 0;
}

} // namespace

namespace WriteGuard {

void arm(const QByteArray &root)
{
    guardRoot = root;
    violations.clear();
    seen = 0;
    armed = true;
}

QByteArrayList disarm()
{
    armed = false;
    return violations;
}

int callsSeen()
{
    return seen;
}

} // namespace WriteGuard

// The C library declares these with reserved parameter names (__file, __oflag), which a
// definition outside it must not use.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (writes(flags) && !admit("open", AT_FDCWD, path))
        return -1;
    static const auto call = real<int (*)(const char *, int, ...)>("open");
    return call(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (writes(flags) && !admit("open64", AT_FDCWD, path))
        return -1;
    static const auto call = real<int (*)(const char *, int, ...)>("open64");
    return call(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (writes(flags) && !admit("openat", dirfd, path))
        return -1;
    static const auto call = real<int (*)(int, const char *, int, ...)>("openat");
    return call(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    if (writes(flags) && !admit("openat64", dirfd, path))
        return -1;
    static const auto call = real<int (*)(int, const char *, int, ...)>("openat64");
    return call(dirfd, path, flags, mode);
}

int creat(const char *path, mode_t mode)
{
    if (!admit("creat", AT_FDCWD, path))
        return -1;
    static const auto call = real<int (*)(const char *, mode_t)>("creat");
    return call(path, mode);
}

int creat64(const char *path, mode_t mode)
{
    if (!admit("creat64", AT_FDCWD, path))
        return -1;
    static const auto call = real<int (*)(const char *, mode_t)>("creat64");
    return call(path, mode);
}

int mkdir(const char *path, mode_t mode)
{
    if (!admit("mkdir", AT_FDCWD, path))
        return -1;
    static const auto call = real<int (*)(const char *, mode_t)>("mkdir");
    return call(path, mode);
}

int mkdirat(int dirfd, const char *path, mode_t mode)
{
    if (!admit("mkdirat", dirfd, path))
        return -1;
    static const auto call = real<int (*)(int, const char *, mode_t)>("mkdirat");
    return call(dirfd, path, mode);
}

// A rename writes at both names, an unlink at its one.
int rename(const char *from, const char *to)
{
    if (!admit("rename", AT_FDCWD, from) || !admit("rename", AT_FDCWD, to))
        return -1;
    static const auto call = real<int (*)(const char *, const char *)>("rename");
    return call(from, to);
}

int renameat(int fromfd, const char *from, int tofd, const char *to)
{
    if (!admit("renameat", fromfd, from) || !admit("renameat", tofd, to))
        return -1;
    static const auto call = real<int (*)(int, const char *, int, const char *)>("renameat");
    return call(fromfd, from, tofd, to);
}

int unlinkat(int dirfd, const char *path, int flags)
{
    if (!admit("unlinkat", dirfd, path))
        return -1;
    static const auto call = real<int (*)(int, const char *, int)>("unlinkat");
    return call(dirfd, path, flags);
}

} // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
