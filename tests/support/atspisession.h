#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// A desktop of its own for a test that looks at the program as a screen reader does: an X
// server (Xvfb, on a display number it picks itself), a private session bus without any
// services to start, and the AT-SPI bus launcher on it, whose accessibility bus starts the
// AT-SPI registry when the first application registers. Each runs in a process group of its
// own; the destructor ends every group, which takes the daemons they started along.
class AtSpiSession final
{
public:
    AtSpiSession() = default;
    ~AtSpiSession();
    Q_DISABLE_COPY_MOVE(AtSpiSession)

    // Starts all three and waits until the accessibility bus answers; false, with the reason
    // in errorString(), when one cannot start.
    bool start();
    QString errorString() const { return error; }

    // What a program needs to run on this desktop with accessibility on: the display, the
    // bus, the X11 platform, Qt's AT-SPI bridge always on.
    QProcessEnvironment environment() const;

private:
    // Starts a program and returns the first line it prints, or an empty string (and the
    // reason in `error`).
    QByteArray startReporting(const QString &program, const QStringList &arguments, const QString &what);
    bool startBusLauncher();
    // Starts a program in a process group of its own, which a signal that ends this process
    // ends too.
    QProcess &launch(const QString &program, const QStringList &arguments);

    std::vector<std::unique_ptr<QProcess>> processes;
    QTemporaryDir work;
    QString display;
    QString busAddress;
    QString error;
};
