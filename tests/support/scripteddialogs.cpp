#include "support/scripteddialogs.h"

#include <QDialog>

ScriptedDialogs::ScriptedDialogs()
{
    Dialogs::setInstance(this);
}

ScriptedDialogs::~ScriptedDialogs()
{
    Dialogs::setInstance(nullptr);
}

void ScriptedDialogs::answerButton(QMessageBox::StandardButton button)
{
    Answer answer;
    answer.isButton = true;
    answer.button = button;
    answers.append(answer);
}

void ScriptedDialogs::answerText(const QString &text)
{
    Answer answer;
    answer.confirmed = true;
    answer.text = text;
    answers.append(answer);
}

void ScriptedDialogs::answerAuth(const QString &username, const QString &password)
{
    Answer answer;
    answer.confirmed = true;
    answer.text = username;
    answer.password = password;
    answers.append(answer);
}

void ScriptedDialogs::cancel()
{
    answers.append(Answer());
}

void ScriptedDialogs::answerExec(std::function<int(QDialog *)> run)
{
    Answer answer;
    answer.run = std::move(run);
    answers.append(answer);
}

QStringList ScriptedDialogs::titles() const
{
    QStringList result;
    for (const Call &call : calls)
        result.append(call.title);
    return result;
}

QList<ScriptedDialogs::Call> ScriptedDialogs::callsOf(Kind kind) const
{
    QList<Call> result;
    for (const Call &call : calls) {
        if (call.kind == kind)
            result.append(call);
    }
    return result;
}

bool ScriptedDialogs::take(Call &call, Answer &answer)
{
    if (onCall)
        onCall(call);
    call.answered = !answers.isEmpty();
    if (call.answered)
        answer = answers.takeFirst();
    else
        ++unanswered;
    calls.append(call);
    return call.answered;
}

QMessageBox::StandardButton ScriptedDialogs::message(QWidget *, QMessageBox::Icon icon,
                                                     const QString &title, const QString &text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton,
                                                     const QString &details)
{
    Call call;
    call.kind = Message;
    call.icon = icon;
    call.title = title;
    call.text = text;
    call.details = details;
    call.buttons = buttons;
    call.defaultButton = defaultButton;
    Answer answer;
    if (take(call, answer) && answer.isButton)
        return answer.button;
    return defaultButton != QMessageBox::NoButton ? defaultButton : QMessageBox::Ok;
}

QString ScriptedDialogs::answerInput(Call call, bool *ok)
{
    Answer answer;
    const bool confirmed = take(call, answer) && answer.confirmed;
    if (ok)
        *ok = confirmed;
    return confirmed ? answer.text : QString();
}

QString ScriptedDialogs::getText(QWidget *, const QString &title, const QString &label,
                                 QLineEdit::EchoMode mode, const QString &text, bool *ok)
{
    Call call;
    call.kind = Text;
    call.title = title;
    call.text = label;
    call.echoMode = mode;
    call.initialText = text;
    return answerInput(call, ok);
}

ScriptedDialogs::Call ScriptedDialogs::fileCall(Kind kind, const QString &caption, const QString &dir)
{
    Call call;
    call.kind = kind;
    call.title = caption;
    call.initialText = dir;
    return call;
}

QString ScriptedDialogs::getOpenFileName(QWidget *, const QString &caption, const QString &dir,
                                         const QString &filter)
{
    Call call = fileCall(OpenFile, caption, dir);
    call.filter = filter;
    return answerInput(call, nullptr);
}

QString ScriptedDialogs::getSaveFileName(QWidget *, const QString &caption, const QString &dir,
                                         const QString &filter)
{
    Call call = fileCall(SaveFile, caption, dir);
    call.filter = filter;
    return answerInput(call, nullptr);
}

QString ScriptedDialogs::getExistingDirectory(QWidget *, const QString &caption, const QString &dir,
                                              QFileDialog::Options options)
{
    Call call = fileCall(Directory, caption, dir);
    call.options = options;
    return answerInput(call, nullptr);
}

int ScriptedDialogs::exec(QDialog *dialog)
{
    Call call;
    call.kind = Exec;
    call.title = dialog->windowTitle();
    call.dialogClass = QString::fromLatin1(dialog->metaObject()->className());
    Answer answer;
    if (take(call, answer) && answer.run)
        return answer.run(dialog);
    return 0;
}

bool ScriptedDialogs::getAuthData(QWidget *, const QString &title, const QString &usernameLabel,
                                  QString &username, const QString &passwordLabel, QString &password)
{
    Call call;
    call.kind = Auth;
    call.title = title;
    call.text = usernameLabel;
    call.secondLabel = passwordLabel;
    Answer answer;
    if (!take(call, answer) || !answer.confirmed)
        return false;
    username = answer.text;
    password = answer.password;
    return true;
}
