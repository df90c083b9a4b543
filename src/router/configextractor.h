#pragma once

#include "router/configexport.h"

#include <QList>
#include <QString>
#include <QStringList>

// Writes the files of a configuration export into a directory the user chose. Nothing is
// ever written outside that directory: an entry whose path (after its one leading "/") is
// absolute, starts with a drive letter, has a ".." component, or passes through an existing
// symbolic link that leads out of the directory is refused. Links that stay inside are
// followed. Files that cannot be created or written are skipped silently.
class ConfigExtractor final
{
public:
    ConfigExtractor() = delete;

    // Writes every acceptable entry, in order, overwriting existing files, and returns the
    // paths (as in the export) of the refused ones. Each content is released once written.
    static QStringList extract(const QString &directory, QList<ConfigExport::File> files);

    // Whether a path, as given in the export, names something below the directory by its
    // text alone (links on disk are checked by extract()).
    static bool isConfinedPath(const QString &path);

    // The message that names the refused paths, in the main window's translation context.
    static QString refusalMessage(const QStringList &refused);
};
