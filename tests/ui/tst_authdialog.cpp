#include "ui/authdialog.h"

#include "support/scripteddialogs.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

namespace {
// What the script saw of the dialog while it was up.
struct Seen
{
    bool ran = false;
    bool openAfterGesture = false;
    QString title;
    QStringList labels;
    QLineEdit *focused = nullptr;
    QLineEdit::EchoMode passwordEcho = QLineEdit::Normal;
    bool okIsDefault = false;
};

QPushButton *button(QDialog *dialog, const QString &text)
{
    const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
    for (QPushButton *candidate : buttons) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

QLineEdit *passwordEditOf(QDialog *dialog)
{
    const QList<QLineEdit *> edits = dialog->findChildren<QLineEdit *>();
    for (QLineEdit *edit : edits) {
        if (edit->echoMode() == QLineEdit::Password)
            return edit;
    }
    return nullptr;
}

// Types text key by key; characters that have no key of their own come as key events that
// carry only their text, as an input method delivers them.
void type(QWidget *widget, const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// Runs script on the modal dialog as soon as it is up. A script that leaves the dialog open
// has it cancelled, so that a broken dialog fails the test instead of hanging it.
void whenModal(const std::function<void(QDialog *)> &script, int attempts = 200)
{
    QTimer::singleShot(attempts == 200 ? 0 : 10, [script, attempts] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (attempts > 0)
                whenModal(script, attempts - 1);
            return;
        }
        // Typing goes where the focus is, and that needs an active window.
        if (QTest::qWaitForWindowActive(dialog))
            script(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}
}

class TestAuthDialog : public QObject
{
    Q_OBJECT

private slots:
    void getAuthData_data();
    void getAuthData();
    void layout();
    void seamRunsTheDialog();
};

void TestAuthDialog::getAuthData_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<bool>("confirmed");

    QTest::newRow("OK with both filled") << "root" << "s3cret pass" << "ok" << true;
    QTest::newRow("Enter with both filled") << "admin" << "p+w&=#%" << "enter" << true;
    QTest::newRow("white space counts as text") << " " << "  " << "ok" << true;
    QTest::newRow("non-ASCII text") << "użytkownik" << "hasło Ωμέγα" << "ok" << true;
    QTest::newRow("OK with empty username") << "" << "secret" << "ok" << false;
    QTest::newRow("OK with empty password") << "root" << "" << "ok" << false;
    QTest::newRow("Enter with both empty") << "" << "" << "enter" << false;
    QTest::newRow("Cancel with both filled") << "root" << "secret" << "cancel" << false;
    QTest::newRow("Escape with both filled") << "root" << "secret" << "escape" << false;
    QTest::newRow("close button with both filled") << "root" << "secret" << "close" << false;
}

void TestAuthDialog::getAuthData()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, gesture);
    QFETCH(bool, confirmed);

    ScriptedDialogs dialogs;
    const bool refused = gesture == QLatin1String("ok") || gesture == QLatin1String("enter");
    const bool warned = refused && (username.isEmpty() || password.isEmpty());

    Seen seen;
    whenModal([&](QDialog *dialog) {
        seen.ran = true;
        seen.focused = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QLineEdit *passwordEdit = passwordEditOf(dialog);
        if (!seen.focused || !passwordEdit || seen.focused == passwordEdit)
            return;
        type(seen.focused, username);
        type(passwordEdit, password);

        if (gesture == QLatin1String("ok"))
            QTest::mouseClick(button(dialog, QStringLiteral("OK")), Qt::LeftButton);
        else if (gesture == QLatin1String("enter"))
            QTest::keyClick(passwordEdit, Qt::Key_Return);
        else if (gesture == QLatin1String("cancel"))
            QTest::mouseClick(button(dialog, QStringLiteral("Cancel")), Qt::LeftButton);
        else if (gesture == QLatin1String("escape"))
            QTest::keyClick(passwordEdit, Qt::Key_Escape);
        else if (gesture == QLatin1String("close"))
            dialog->windowHandle()->close();

        seen.openAfterGesture = dialog->isVisible();
        if (seen.openAfterGesture) {
            // Refused: the fields must be as they were, then the user gives up.
            seen.labels = {seen.focused->text(), passwordEdit->text()};
            QTest::mouseClick(button(dialog, QStringLiteral("Cancel")), Qt::LeftButton);
        }
    });

    QString user = QStringLiteral("previous user");
    QString pass = QStringLiteral("previous password");
    bool ok = !confirmed;
    AuthDialog::getAuthData(nullptr, QStringLiteral("User authentication"),
                            QStringLiteral("Username:"), user, QStringLiteral("Password:"), pass, ok);

    QVERIFY(seen.ran);
    QVERIFY2(seen.focused, "the username field has no focus when the dialog opens");
    QCOMPARE(ok, confirmed);
    QCOMPARE(user, confirmed ? username : QStringLiteral("previous user"));
    QCOMPARE(pass, confirmed ? password : QStringLiteral("previous password"));

    QCOMPARE(seen.openAfterGesture, warned);
    if (warned)
        QCOMPARE(seen.labels, QStringList({username, password}));
    const QList<ScriptedDialogs::Call> warnings = dialogs.callsOf(ScriptedDialogs::Message);
    QCOMPARE(warnings.size(), warned ? 1 : 0);
    if (warned) {
        QCOMPARE(warnings.first().icon, QMessageBox::Warning);
        QCOMPARE(warnings.first().title, QStringLiteral("Data invalid"));
        QCOMPARE(warnings.first().text, QStringLiteral("Both username and password must be filled."));
        QCOMPARE(warnings.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

void TestAuthDialog::layout()
{
    ScriptedDialogs dialogs;
    Seen seen;
    // Each cell of the grid as "<class> <text> <alignment>", row by row.
    QStringList cells;
    whenModal([&](QDialog *dialog) {
        seen.ran = true;
        seen.title = dialog->windowTitle();
        seen.focused = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        auto *grid = qobject_cast<QGridLayout *>(dialog->layout());
        for (int row = 0; grid && row < 3; ++row) {
            for (int column = 0; column < 2; ++column) {
                QLayoutItem *item = grid->itemAtPosition(row, column);
                QWidget *widget = item ? item->widget() : nullptr;
                if (!widget) {
                    cells.append(QStringLiteral("none"));
                    continue;
                }
                QString text;
                if (auto *label = qobject_cast<QLabel *>(widget))
                    text = label->text();
                else if (auto *pushButton = qobject_cast<QPushButton *>(widget))
                    text = pushButton->text();
                else if (auto *edit = qobject_cast<QLineEdit *>(widget))
                    text = edit == seen.focused ? QStringLiteral("focused") : QStringLiteral("-");
                const Qt::Alignment alignment = item->alignment();
                cells.append(QString::fromLatin1(widget->metaObject()->className()) + u' ' + text
                             + u' '
                             + (alignment == Qt::AlignLeft    ? QStringLiteral("left")
                                : alignment == Qt::AlignRight ? QStringLiteral("right")
                                : !alignment                  ? QStringLiteral("fill")
                                                              : QStringLiteral("other")));
            }
        }
        if (QLineEdit *edit = passwordEditOf(dialog))
            seen.passwordEcho = edit->echoMode();
        if (QPushButton *ok = button(dialog, QStringLiteral("OK")))
            seen.okIsDefault = ok->isDefault();
    });

    QString user;
    QString pass;
    bool ok = true;
    AuthDialog::getAuthData(nullptr, QStringLiteral("Private key"), QStringLiteral("Name:"), user,
                            QStringLiteral("Secret:"), pass, ok);

    QVERIFY(seen.ran);
    QVERIFY(!ok);
    QCOMPARE(seen.title, QStringLiteral("Private key"));
    QCOMPARE(cells, QStringList({QStringLiteral("QLabel Name: left"),
                                 QStringLiteral("QLineEdit focused right"),
                                 QStringLiteral("QLabel Secret: left"),
                                 QStringLiteral("QLineEdit - right"),
                                 QStringLiteral("QPushButton OK fill"),
                                 QStringLiteral("QPushButton Cancel fill")}));
    QCOMPARE(seen.passwordEcho, QLineEdit::Password);
    QVERIFY(seen.okIsDefault);
}

// The main window asks through the dialog seam; its standard implementation is this dialog.
void TestAuthDialog::seamRunsTheDialog()
{
    bool ran = false;
    whenModal([&](QDialog *dialog) {
        ran = qobject_cast<AuthDialog *>(dialog) != nullptr;
        type(QApplication::focusWidget(), QStringLiteral("vpnuser"));
        type(passwordEditOf(dialog), QStringLiteral("zażółć"));
        QTest::mouseClick(button(dialog, QStringLiteral("OK")), Qt::LeftButton);
    });

    QString user;
    QString pass;
    const bool ok = Dialogs::instance().getAuthData(nullptr, QStringLiteral("User authentication"),
                                                    QStringLiteral("Username:"), user,
                                                    QStringLiteral("Password:"), pass);
    QVERIFY(ran);
    QVERIFY(ok);
    QCOMPARE(user, QStringLiteral("vpnuser"));
    QCOMPARE(pass, QStringLiteral("zażółć"));
}

QTEST_MAIN(TestAuthDialog)
#include "tst_authdialog.moc"
