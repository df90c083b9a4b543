#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

// Asks for a username and a password. It will not confirm while either field is empty;
// closing it any other way counts as cancelling.
class AuthDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit AuthDialog(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(AuthDialog)

    // Runs the dialog modally. On confirmation username and password receive the texts as
    // typed; otherwise they are left as they were. ok tells which of the two happened.
    static void getAuthData(QWidget *parent, const QString &title, const QString &usernameCaption,
                            QString &username, const QString &passwordCaption, QString &password,
                            bool &ok);

private slots:
    void confirmed();
    // Named after the Cancel button's action; it hides QDialog's signal of the same name
    // only inside this class, QDialog itself still emits its own.
    void rejected();

private:
    bool dataConfirmed = false;
    QLabel *usernameLabel;
    QLineEdit *usernameEdit;
    QLabel *passwordLabel;
    QLineEdit *passwordEdit;
};
