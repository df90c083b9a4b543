#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The whole content of a file, or "<missing>" where it cannot be read, so that a comparison
// with the expected content names the fault.
inline QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes the file anew with this content; false when any of it could not be written.
inline bool writeFile(const QString &name, const QByteArray &content)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}
