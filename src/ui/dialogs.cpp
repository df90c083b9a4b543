#include "ui/dialogs.h"

#include "ui/authdialog.h"

#include <QDialog>
#include <QInputDialog>

namespace {
Dialogs *installed = nullptr;
}

Dialogs &Dialogs::instance()
{
    static Dialogs standard;
    return installed ? *installed : standard;
}

void Dialogs::setInstance(Dialogs *dialogs)
{
    installed = dialogs;
}

QMessageBox::StandardButton Dialogs::message(QWidget *parent, QMessageBox::Icon icon,
                                             const QString &title, const QString &text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    // Texts carry what peers sent (a client's name, paths from an export): shown as they are,
    // never read as markup with links to follow.
    box.setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString Dialogs::getText(QWidget *parent, const QString &title, const QString &label,
                         QLineEdit::EchoMode mode, const QString &text, bool *ok)
{
    return QInputDialog::getText(parent, title, label, mode, text, ok);
}

QString Dialogs::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString Dialogs::getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString Dialogs::getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                      QFileDialog::Options options)
{
    return QFileDialog::getExistingDirectory(parent, caption, dir, options);
}

int Dialogs::exec(QDialog *dialog)
{
    return dialog->exec();
}

bool Dialogs::getAuthData(QWidget *parent, const QString &title, const QString &usernameLabel,
                          QString &username, const QString &passwordLabel, QString &password)
{
    bool ok = false;
    AuthDialog::getAuthData(parent, title, usernameLabel, username, passwordLabel, password, ok);
    return ok;
}
