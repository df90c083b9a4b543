#pragma once

#include "router/configexport.h"

#include <QList>
#include <QString>
#include <QStringList>

// Writes the files of a configuration export into a directory the user chose. Nothing is
// ever written outside that directory: an entry whose path (after its one leading "/") is
// absolute, starts with a drive letter, has a ".." component, or passes through a symbolic
// link that leads out of the directory, nowhere, or round in a loop, is refused. Links that
// stay inside are followed, resolved one component at a time below the directory and never
// by the system, so a link swapped in while the files are written cannot lead out either.
//
// Each file is written whole or not at all: its bytes go into a new temporary file in the
// target's directory, every step is checked, and the temporary then replaces the target by a
// rename (a hard link planted at the target is replaced, not written through). On a failure
// (a full disk, no permission, a directory or a special file such as a FIFO in the way) the
// temporary is removed, the old file stays as it was, and the next file is written.
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

    // The messages that name the refused and the unwritten paths (the first 20 of each and
    // how many more), in the main window's translation context. Empty for an empty list.
    static QString refusalMessage(const QStringList &refused);
    static QString failureMessage(const QStringList &failed);

    static constexpr int maximumNamedPaths = 20;
};
