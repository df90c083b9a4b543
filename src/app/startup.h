#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QCoreApplication;
class QTranslator;

// What the program does between creating the application object and building the main window:
// the application identity, the defaults of three settings, the working directory and the
// translators. Each step is a function of its own so that it can be run and checked alone.
class Startup final
{
public:
    // A catalogue that installTranslators() created and installed on the application.
    struct Translation
    {
        QString fileName;                  // what QTranslator::load() was given
        QTranslator *translator = nullptr; // owned by the application object
        bool loaded = false;               // whether the catalogue was found and read
    };

    explicit Startup(QCoreApplication *application);
    Q_DISABLE_COPY_MOVE(Startup)

    // Every step, in order, with the language of the system locale.
    void run();
    // Every step, in order; systemLocaleName (such as "pl_PL") decides the language when none
    // is stored yet.
    void run(const QString &systemLocaleName);

    // Organization name and domain, application name and version.
    static void setIdentity();
    // Stores defaultWorkingDirPath() under "WorkingDirPath" when that is empty.
    static void settleWorkingDirPath();
    // Stores the user's home directory under "BrowseStartPath" when that is empty.
    static void settleBrowseStartPath();
    // Makes the stored working directory current, creating it first when missing. A relative
    // path is taken relative to the file-system root. When it cannot be entered, the root
    // stays current.
    static void enterWorkingDirectory();
    // Stores the language part of systemLocaleName under "Language" when that is empty.
    static void settleLanguage(const QString &systemLocaleName);
    // For the language code "pl" exactly: creates, loads and installs the four catalogues'
    // translators, each whether or not its catalogue loads. Any other code installs none.
    void installTranslators();

    // The directory beside where a per-user INI file of this application would lie, named
    // after that file without extension.
    static QString defaultWorkingDirPath();
    // "pl_PL" -> "pl"; a name without "_" ("C") is returned whole.
    static QString languageFromLocaleName(const QString &localeName);
    // Resource path prefixes of the catalogues, in the order they are installed; the file name
    // is prefix + language code + ".qm".
    static QStringList cataloguePrefixes();

    static QString organizationName();
    static QString organizationDomain();
    static QString applicationName();
    static QString applicationVersion();

    // The translators installTranslators() installed, in order.
    const QList<Translation> &translations() const { return installed; }

private:
    QCoreApplication *application;
    QList<Translation> installed;
};
