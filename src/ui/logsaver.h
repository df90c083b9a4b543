#pragma once

#include <QString>

class QTextDocument;
class QWidget;

// Saves what the log view holds into a file the user picks, starting in the file dialogs'
// folder ("BrowseStartPath"): the lines with their time stamps, as UTF-8 text. The file is
// replaced whole or not at all; a failure is shown in an error box. Every dialog goes through
// the dialog seam with the given widget as parent. Its texts are the main window's
// (translation context "MainWindow").
class LogSaver final
{
public:
    explicit LogSaver(QWidget *parent);
    Q_DISABLE_COPY_MOVE(LogSaver)

    void run(const QTextDocument &log);

    // Writes text as UTF-8 into the file, replacing it whole, or leaves the file as it was
    // and returns why not.
    static bool write(const QString &fileName, const QString &text, QString *errorString);

private:
    QWidget *parent = nullptr;
};
