#include "ui/dialogs.h"

#include "router/configextractor.h"

#include <QPushButton>
#include <QTest>

// The message boxes of the standard dialogs, as the user sees them.
class tst_Dialogs : public QObject
{
    Q_OBJECT

private slots:
    void boxFitsTheScreen_data();
    void boxFitsTheScreen();
    void ordinaryTextUnchanged_data();
    void ordinaryTextUnchanged();
};

void tst_Dialogs::boxFitsTheScreen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("whole");   // what the details must hold

    const QString longName = QStringLiteral("../") + QString(20000, u'a');
    const QString deep = QStringLiteral("a/").repeated(10000) + u'x';
    QTest::newRow("a refused path of 20,000 characters")
        << ConfigExtractor::refusalMessage({longName}) << ConfigExtractor::refusalMessage({longName}, ConfigExtractor::Full)
        << longName;
    QTest::newRow("a refused path 10,000 directories deep")
        << ConfigExtractor::refusalMessage({deep}) << ConfigExtractor::refusalMessage({deep}, ConfigExtractor::Full)
        << deep;

    QStringList paths;
    for (int i = 0; i < 40; ++i)
        paths.append(QStringLiteral("/etc/config/%1/").arg(i) + QStringLiteral("name ").repeated(40));
    const QString both = ConfigExtractor::refusalMessage(paths) + QStringLiteral("\n\n") + ConfigExtractor::failureMessage(paths);
    QTest::newRow("two lists of long paths with spaces") << both << QString() << both;

    // What MainWindow says when OpenVPN refuses a disconnect: a name and an answer of the
    // peer's, one line each.
    const QString name = QString(5000, u'n');
    const QString answer = QStringLiteral("ERROR: ") + QStringLiteral("common name not found ").repeated(5000);
    const QString refusal = QStringLiteral("The client %1 was not disconnected. OpenVPN answered: %2").arg(name, answer);
    QTest::newRow("OpenVPN's long answer about a long name") << refusal << QString() << refusal;

    const QString lines = QStringLiteral("line\n").repeated(5000);
    QTest::newRow("5,000 short lines") << lines << QString() << lines;
}

// However long what a peer or a file gave, the box stays within a 1024x768 screen with its
// buttons on it; the details hold the whole.
void tst_Dialogs::boxFitsTheScreen()
{
    QFETCH(QString, text);
    QFETCH(QString, details);
    QFETCH(QString, whole);

    const std::unique_ptr<QMessageBox> box = Dialogs::messageBox(nullptr, QMessageBox::Critical, QStringLiteral("Error"),
                                                                 text, QMessageBox::Ok, QMessageBox::NoButton, details);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QVERIFY2(box->width() <= 1024 && box->height() <= 768,
             qPrintable(QStringLiteral("%1x%2").arg(box->width()).arg(box->height())));
    QVERIFY(box->text().size() < 4000);
    QVERIFY(box->text().startsWith(text.left(20)));
    QVERIFY(box->detailedText().contains(whole));
    QCOMPARE(box->textFormat(), Qt::PlainText);
}

void tst_Dialogs::ordinaryTextUnchanged_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("the longest of the program's own") << QStringLiteral(
        "The server is not responding. The cause might be that it's management interface is already in use. "
        "Do you want to reconnect?");
    QTest::newRow("twenty refused paths") << ConfigExtractor::refusalMessage(QStringList(20, QStringLiteral("/../etc/x")));
    QTest::newRow("markup shown as text") << QStringLiteral("<b>client</b> & <a href=\"x\">link</a>");
}

// What fits is shown as it is, without details.
void tst_Dialogs::ordinaryTextUnchanged()
{
    QFETCH(QString, text);
    const std::unique_ptr<QMessageBox> box = Dialogs::messageBox(nullptr, QMessageBox::Question, QStringLiteral("Question"),
                                                                 text, QMessageBox::Yes | QMessageBox::No,
                                                                 QMessageBox::No, QString());
    QCOMPARE(box->text(), text);
    QVERIFY(box->detailedText().isEmpty());
    QCOMPARE(static_cast<QAbstractButton *>(box->defaultButton()), box->button(QMessageBox::No));
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
