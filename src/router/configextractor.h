#pragma once

#include "router/configexport.h"

#include <QList>
#include <QString>
#include <QStringList>

// Writes the files of a configuration export into a directory the user chose. Nothing is
// ever written outside that directory: an entry whose path (after its one leading "/") is
// absolute, starts with a drive letter, has a ".." component, or passes through a symbolic
// link that leads out of the directory or round in a loop, is refused; so is one more than
// maximumDepth directories deep, before anything is made for it. Links that stay inside are
// followed (the directories they name are made where missing), resolved one component at a
// time below the directory and never by the system, so a link swapped in while the files
// are written cannot lead out either.
//
// Each file is written whole or not at all: its bytes go into a new temporary file in the
// target's directory, every step is checked, and the temporary then replaces the target by a
// rename (a hard link planted at the target is replaced, not written through). On a failure
// (a full disk, no permission, a directory or a special file such as a FIFO in the way) the
// temporary is removed, the old file stays as it was, and the next file is written. A file
// the user may not write (say mode 0444) is not replaced either.
class ConfigExtractor final
{
public:
    ConfigExtractor() = delete;

    // Writes every acceptable entry, in order, and returns the paths (as in the export) of
    // the refused ones; the paths of entries that could not be written go to *failed. Each
    // content is released once written.
    static QStringList extract(const QString &directory, QList<ConfigExport::File> files,
                               QStringList *failed = nullptr);

    // Whether a path, as given in the export, names something below the directory by its
    // text alone (links on disk are checked by extract()).
    static bool isConfinedPath(const QString &path);

    // The messages that name the refused and the unwritten paths, in the main window's
    // translation context; empty for an empty list. Short, for a message's text: the first
    // maximumNamedPaths paths, each cut in its middle to about 120 characters, and how many
    // more. Full, for its details: every path (within a quarter of a MiB in all).
    enum Length { Short, Full };
    static QString refusalMessage(const QStringList &refused, Length length = Short);
    static QString failureMessage(const QStringList &failed, Length length = Short);

    static constexpr int maximumNamedPaths = 20;
    static constexpr int maximumDepth = 255;
};
