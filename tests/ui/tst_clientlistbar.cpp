#include "ui/clientlistbar.h"

#include "support/scriptedopenvpnpeer.h"
#include "ui/clientlistview.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTranslator>

namespace {

// A status answer with these clients, as the management client hands it on.
QStringList answer(const QStringList &names)
{
    QStringList lines;
    for (const QString &name : names)
        lines.append(ScriptedOpenVpnPeer::clientLine26(name, 1));
    return QString::fromLatin1(ScriptedOpenVpnPeer::statusAnswer26(lines)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList names(const char *prefix, int count)
{
    QStringList result;
    for (int i = 0; i < count; ++i)
        result.append(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i));
    return result;
}

template<typename T>
T *child(const QWidget &parent, const char *name)
{
    return parent.findChild<T *>(QLatin1String(name));
}

} // namespace

class tst_ClientListBar : public QObject
{
    Q_OBJECT

private slots:
    void countLabel_data();
    void countLabel();
    void escapeEmptiesTheFilter();
    void orderChoices();
};

void tst_ClientListBar::countLabel_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("alices");
    QTest::addColumn<int>("bobs");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");

    QTest::newRow("no clients") << "" << 0 << 0 << "" << "0 clients";
    QTest::newRow("no filter") << "" << 3 << 4 << "" << "7 clients";
    QTest::newRow("only white space is no filter") << "" << 3 << 4 << "  " << "7 clients";
    QTest::newRow("filter") << "" << 3 << 4 << "ALICE" << "3 of 7 clients";
    QTest::newRow("filter without a match") << "" << 3 << 4 << "carol" << "0 of 7 clients";
    QTest::newRow("Polish, one") << "pl" << 1 << 0 << "" << "1 klient";
    QTest::newRow("Polish, 2 to 4") << "pl" << 0 << 3 << "" << "3 klientów";
    QTest::newRow("Polish, 5 and more") << "pl" << 2 << 10 << "" << "12 klientów";
    QTest::newRow("Polish, 22") << "pl" << 2 << 20 << "" << "22 klientów";
    QTest::newRow("Polish, filter of one") << "pl" << 1 << 0 << "alice" << "1 z 1 klienta";
    QTest::newRow("Polish, filter of many") << "pl" << 2 << 3 << "alice" << "2 z 5 klientów";
}

void tst_ClientListBar::countLabel()
{
    QFETCH(QString, language);
    QFETCH(int, alices);
    QFETCH(int, bobs);
    QFETCH(QString, typed);
    QFETCH(QString, text);

    QTranslator translator;
    if (!language.isEmpty()) {
        QVERIFY(translator.load(QStringLiteral(":pylon_router_%1.qm").arg(language)));
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }
    ClientListView list;
    ClientListBar bar(&list);
    list.setStatus(answer(names("alice", alices) + names("bob", bobs)));
    child<QLineEdit>(bar, "clientFilterField")->setText(typed);
    QCOMPARE(child<QLabel>(bar, "clientCountLabel")->text(), text);
    QCoreApplication::removeTranslator(&translator);
}

void tst_ClientListBar::escapeEmptiesTheFilter()
{
    ClientListView list;
    ClientListBar bar(&list);
    bar.show();
    QVERIFY(QTest::qWaitForWindowActive(&bar));
    list.setStatus(answer(names("alice", 2) + names("bob", 2)));
    auto *field = child<QLineEdit>(bar, "clientFilterField");
    QCOMPARE(field->placeholderText(), QStringLiteral("Filter clients"));
    bar.focusFilter();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, QStringLiteral("bob"));
    QCOMPARE(list.shownCount(), 2);
    QTest::keyClick(field, Qt::Key_Escape);
    QCOMPARE(field->text(), QString());
    QCOMPARE(list.shownCount(), 4);
    QVERIFY(!list.isFiltered());
}

void tst_ClientListBar::orderChoices()
{
    ClientListView list;
    ClientListBar bar(&list);
    auto *box = child<QComboBox>(bar, "clientOrderBox");
    const QStringList texts{QStringLiteral("As OpenVPN lists them"), QStringLiteral("Name"), QStringLiteral("Connected since"),
                            QStringLiteral("Sent bytes"), QStringLiteral("Received bytes")};
    const QList<ClientRowKeys::Order> orders{ClientRowKeys::AnswerOrder, ClientRowKeys::NameOrder,
                                             ClientRowKeys::ConnectedSinceOrder, ClientRowKeys::SentBytesOrder,
                                             ClientRowKeys::ReceivedBytesOrder};
    QCOMPARE(box->count(), texts.size());
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(list.order(), ClientRowKeys::AnswerOrder);
    for (int i = texts.size() - 1; i >= 0; --i) {
        box->setCurrentIndex(i);
        QCOMPARE(box->currentText(), texts.at(i));
        QCOMPARE(list.order(), orders.at(i));
    }
}

QTEST_MAIN(tst_ClientListBar)
#include "tst_clientlistbar.moc"
