#pragma once

#include "router/configexport.h"

#include <QList>
#include <QString>

class QWidget;
class RouterPasswordStore;

// Opens a configuration export the user picks, asks for its transport password and then
// either writes the carried files into a directory the user picks or uploads them to the
// router's FTP server (the "ip" setting, and the router password). Every question and message
// goes through the dialog seam with the given widget as parent; cancelling any dialog ends the
// run silently. Its texts are the main window's (translation context "MainWindow").
class ConfigImport final
{
public:
    enum Destination { LocalDirectory, Router };

    // The router password comes from routerPassword; parent must not be null.
    ConfigImport(QWidget *parent, RouterPasswordStore &routerPassword);
    Q_DISABLE_COPY_MOVE(ConfigImport)

    void run(Destination destination);

    // Stores the directory of a chosen file as the file dialogs' next start directory.
    static void rememberBrowsePath(const QString &fileName);

private:
    void extract(QList<ConfigExport::File> files);

    QWidget *parent = nullptr;
    RouterPasswordStore &routerPassword;
};
