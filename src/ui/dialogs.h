#pragma once

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>

#include <memory>

class QDialog;
class QWidget;

// The one door through which the program opens modal message boxes, input dialogs, file
// dialogs and its own dialogs. The default implementation shows the standard Qt dialogs;
// tests install their own to answer them without a user.
class Dialogs
{
public:
    Dialogs() = default;
    virtual ~Dialogs() = default;
    Q_DISABLE_COPY_MOVE(Dialogs)

    // The implementation in use: the one installed last, or the standard dialogs.
    static Dialogs &instance();
    // Installs an implementation (not owned); nullptr restores the standard dialogs.
    static void setInstance(Dialogs *dialogs);

    // A message box; its text and details are plain text, never markup. Details (such as
    // the whole of a list the text names in part) are offered behind the box's details
    // button.
    virtual QMessageBox::StandardButton message(QWidget *parent, QMessageBox::Icon icon,
                                                const QString &title, const QString &text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                                                const QString &details = QString());

    // The box message() shows by default. It fits the screen whatever the text: a run of more
    // than ElidedText::entryLength characters without a space (a path, a name a peer sent)
    // and a line of more than a few hundred are cut in their middle, and lines are dropped
    // from the end while the text would be taller than the screen allows; the whole text
    // then goes to the details, unless details are given.
    static std::unique_ptr<QMessageBox> messageBox(QWidget *parent, QMessageBox::Icon icon,
                                                   const QString &title, const QString &text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton,
                                                   const QString &details);

    // A single-line text input; *ok tells whether the user confirmed.
    virtual QString getText(QWidget *parent, const QString &title, const QString &label,
                            QLineEdit::EchoMode mode, const QString &text, bool *ok);

    virtual QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);

    // The name of a file to write; the dialog asks before an existing file is replaced.
    virtual QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);

    virtual QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                         QFileDialog::Options options);

    // Runs a dialog of the program modally and returns its result code.
    virtual int exec(QDialog *dialog);

    // Asks for a username and a password with the credential dialog. Returns whether the
    // user confirmed; only then are username and password overwritten.
    virtual bool getAuthData(QWidget *parent, const QString &title, const QString &usernameLabel,
                             QString &username, const QString &passwordLabel, QString &password);
};
