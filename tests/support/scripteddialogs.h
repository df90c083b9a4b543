#pragma once

#include "ui/dialogs.h"

#include <QList>
#include <functional>

// Answers the program's modal dialogs from a script instead of a user. It installs itself
// on construction and restores the standard dialogs on destruction. Answers are used in
// the order they were queued; every call is recorded, answered or not.
class ScriptedDialogs final : public Dialogs
{
public:
    enum Kind { Message, Text, OpenFile, Directory, Exec, Auth, SaveFile };

    struct Call
    {
        Kind kind = Message;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;                 // window title or caption
        QString text;                  // message text or input label (username label)
        QString details;               // a message's details
        QString secondLabel;           // password label of the credential dialog
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QLineEdit::EchoMode echoMode = QLineEdit::Normal;
        QString initialText;           // starting text of an input, directory of a file dialog
        QString filter;
        QFileDialog::Options options;
        QString dialogClass;           // class name of a dialog run through exec()
        bool answered = false;
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // The next message box is answered with this button.
    void answerButton(QMessageBox::StandardButton button);
    // The next input, file or directory dialog is confirmed with this text.
    void answerText(const QString &text);
    // The next credential dialog is confirmed with these texts.
    void answerAuth(const QString &username, const QString &password);
    // The next input, file, directory or credential dialog is cancelled.
    void cancel();
    // The next exec() runs this function instead of the dialog and returns its result.
    void answerExec(std::function<int(QDialog *)> run);

    // Called for every dialog before it is answered, while it would be on screen.
    std::function<void(const Call &)> onCall;

    QList<Call> calls;
    // Calls that found no queued answer: message boxes then return their default button
    // (or OK), inputs are cancelled and exec() returns 0.
    int unanswered = 0;

    QStringList titles() const;
    QList<Call> callsOf(Kind kind) const;

    QMessageBox::StandardButton message(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                        const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton,
                                        const QString &details) override;
    QString getText(QWidget *parent, const QString &title, const QString &label,
                    QLineEdit::EchoMode mode, const QString &text, bool *ok) override;
    QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter) override;
    QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter) override;
    QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                 QFileDialog::Options options) override;
    int exec(QDialog *dialog) override;
    bool getAuthData(QWidget *parent, const QString &title, const QString &usernameLabel,
                     QString &username, const QString &passwordLabel, QString &password) override;

private:
    struct Answer
    {
        bool isButton = false;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        bool confirmed = false;
        QString text;
        QString password;
        std::function<int(QDialog *)> run;
    };

    bool take(Call &call, Answer &answer);
    QString answerInput(Call call, bool *ok);
    // A file or folder dialog's call: its kind, caption and starting place.
    static Call fileCall(Kind kind, const QString &caption, const QString &dir);

    QList<Answer> answers;
};
