#include "ui/dialogs.h"

#include "router/elidedtext.h"
#include "ui/authdialog.h"

#include <QDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QScreen>
#include <QTextLayout>

#include <cmath>

namespace {
Dialogs *installed = nullptr;

// Longer than any line of the program's own texts; a longer line holds what a peer or a file
// gave.
constexpr qsizetype maximumLineLength = 400;
// What the details view shows without delay.
constexpr qsizetype maximumDetails = qsizetype(256) * 1024;
// The screen height left to the text: the title bar, the buttons and the opened details
// take the rest.
constexpr int heightForRest = 300;

// Every run without white space cut to a length that wraps, then the line itself.
QString elidedLine(const QString &line)
{
    QString result;
    for (qsizetype start = 0; start < line.size();) {
        const bool space = line.at(start).isSpace();
        qsizetype end = start;
        while (end < line.size() && line.at(end).isSpace() == space)
            ++end;
        const QString run = line.mid(start, end - start);
        result += space ? run : ElidedText::middle(run);
        start = end;
    }
    return ElidedText::middle(result, maximumLineLength);
}

int heightOf(const QString &line, const QFont &font, int width)
{
    QTextLayout layout(line, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
        row.setLineWidth(width);
        height += row.height();
    }
    layout.endLayout();
    return int(std::ceil(height));
}

// The lines that fit into the height at the width, and "…" for those that do not. The width
// is less than the narrowest a message box's label takes (half the screen, at most 500),
// so the text takes no more height than this in the box.
QStringList fittingLines(const QStringList &lines, const QFont &font, const QRect &screen)
{
    const int width = qMax(qMin(screen.width() / 2, 500) - 100, 100);
    const int height = qMax(screen.height() - heightForRest, 100);
    QList<int> heights;
    int used = 0;
    while (heights.size() < lines.size() && used <= height) {
        heights.append(heightOf(lines.at(heights.size()), font, width));
        used += heights.constLast();
    }
    if (used <= height)
        return lines;
    const QString ellipsis(QChar(0x2026));
    used = heightOf(ellipsis, font, width);
    qsizetype kept = 0;
    while (kept < heights.size() && used + heights.at(kept) <= height)
        used += heights.at(kept++);
    return lines.first(kept) << ellipsis;
}
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
                                             QMessageBox::StandardButton defaultButton,
                                             const QString &details)
{
    const std::unique_ptr<QMessageBox> box = messageBox(parent, icon, title, text, buttons, defaultButton, details);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

std::unique_ptr<QMessageBox> Dialogs::messageBox(QWidget *parent, QMessageBox::Icon icon,
                                                 const QString &title, const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton,
                                                 const QString &details)
{
    auto box = std::make_unique<QMessageBox>(icon, title, QString(), buttons, parent);
    // Texts carry what peers sent (a client's name, paths from an export): shown as they are,
    // never read as markup with links to follow.
    box->setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);

    QStringList lines = text.split(u'\n');
    for (QString &line : lines)
        line = elidedLine(line);
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        lines = fittingLines(lines, label ? label->font() : box->font(), screen->availableGeometry());
    }
    const QString shown = lines.join(u'\n');
    box->setText(shown);
    const QString whole = details.isEmpty() && shown != text ? text : details;
    if (!whole.isEmpty())
        box->setDetailedText(ElidedText::middle(whole, maximumDetails));
    return box;
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
