#include "ui/authdialog.h"

#include "ui/dialogs.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

AuthDialog::AuthDialog(QWidget *parent)
    : QDialog(parent)
    , usernameLabel(new QLabel(this))
    , usernameEdit(new QLineEdit(this))
    , passwordLabel(new QLabel(this))
    , passwordEdit(new QLineEdit(this))
{
    auto *okButton = new QPushButton(tr("OK"), this);
    auto *cancelButton = new QPushButton(tr("Cancel"), this);
    okButton->setDefault(true);
    passwordEdit->setEchoMode(QLineEdit::Password);
    // The captions name the fields, for a screen reader too.
    usernameLabel->setBuddy(usernameEdit);
    passwordLabel->setBuddy(passwordEdit);

    auto *grid = new QGridLayout(this);
    grid->addWidget(usernameLabel, 0, 0, Qt::AlignLeft);
    grid->addWidget(usernameEdit, 0, 1, Qt::AlignRight);
    grid->addWidget(passwordLabel, 1, 0, Qt::AlignLeft);
    grid->addWidget(passwordEdit, 1, 1, Qt::AlignRight);
    grid->addWidget(okButton, 2, 0);
    grid->addWidget(cancelButton, 2, 1);

    usernameEdit->setFocus();

    connect(okButton, &QPushButton::clicked, this, &AuthDialog::confirmed);
    connect(cancelButton, &QPushButton::clicked, this, &AuthDialog::rejected);
}

void AuthDialog::getAuthData(QWidget *parent, const QString &title, const QString &usernameCaption,
                             QString &username, const QString &passwordCaption, QString &password,
                             bool &ok)
{
    // Held by a guard rather than on the stack: the parent may be destroyed while the
    // dialog's event loop runs, and it takes the dialog with it.
    QPointer<AuthDialog> dialog = new AuthDialog(parent);
    dialog->setWindowTitle(title);
    dialog->usernameLabel->setText(usernameCaption);
    dialog->passwordLabel->setText(passwordCaption);
    dialog->adjustSize();

    dialog->exec();

    ok = dialog && dialog->dataConfirmed;
    if (ok) {
        username = dialog->usernameEdit->text();
        password = dialog->passwordEdit->text();
    }
    delete dialog.data();
}

void AuthDialog::confirmed()
{
    if (!usernameEdit->text().isEmpty() && !passwordEdit->text().isEmpty()) {
        dataConfirmed = true;
        accept();
        return;
    }
    Dialogs::instance().message(this, QMessageBox::Warning, tr("Data invalid"),
                                tr("Both username and password must be filled."), QMessageBox::Ok);
}

void AuthDialog::rejected()
{
    dataConfirmed = false;
    reject();
}
