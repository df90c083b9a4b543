#include "management/peertext.h"

#include "support/escapedbytes.h"

#include <QHash>
#include <QTest>

class tst_PeerText : public QObject
{
    Q_OBJECT

private slots:
    void shown_data();
    void shown();
    void differentTextsLookDifferent();
};

void tst_PeerText::shown_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    // Ordinary names as they are.
    QTest::newRow("ASCII") << "client1" << "client1";
    QTest::newRow("ASCII with single spaces") << "my client 2" << "my client 2";
    QTest::newRow("accented UTF-8") << QStringLiteral(u"Za\u017c\u00f3\u0142\u0107 G\u0119\u015b") << QStringLiteral(u"Za\u017c\u00f3\u0142\u0107 G\u0119\u015b");
    QTest::newRow("other scripts") << QStringLiteral(u"\u041c\u0430\u0448\u0430 \u5f20\u4f1f") << QStringLiteral(u"\u041c\u0430\u0448\u0430 \u5f20\u4f1f");
    QTest::newRow("emoji beyond U+FFFF") << QStringLiteral(u"a\U0001F600") << QStringLiteral(u"a\U0001F600");
    QTest::newRow("backslash before an ordinary letter") << "CORP\\alice" << "CORP\\alice";
    QTest::newRow("backslash at the end") << "a\\" << "a\\";
    QTest::newRow("markup stays text") << "<b>bob</b>" << "<b>bob</b>";

    // Bytes that are not UTF-8.
    QTest::newRow("Latin-1 byte") << withEscapes(QStringLiteral(u"caf<e9>")) << "caf\\xE9";
    QTest::newRow("byte that is a C1 control in Latin-1") << withEscapes(QStringLiteral(u"a<85>")) << "a\\x85";
    QTest::newRow("C1 control written as UTF-8") << QStringLiteral(u"a\u0085") << "a\\u0085";

    // What could make one name pass for another.
    QTest::newRow("combining grapheme joiner") << QStringLiteral(u"caf\u00e9\u034f") << QStringLiteral(u"caf\u00e9\\u034F");
    QTest::newRow("zero-width space") << QStringLiteral(u"ali\u200bce") << "ali\\u200Bce";
    QTest::newRow("right-to-left override") << QStringLiteral(u"abc\u202efdp.exe") << "abc\\u202Efdp.exe";
    QTest::newRow("byte order mark") << QStringLiteral(u"\ufeffbob") << "\\uFEFFbob";
    QTest::newRow("variation selector") << QStringLiteral(u"a\ufe0f") << "a\\uFE0F";
    QTest::newRow("tag character") << QStringLiteral(u"a\U000E0041") << "a\\U000E0041";
    QTest::newRow("Hangul filler") << QStringLiteral(u"a\u3164") << "a\\u3164";
    QTest::newRow("no-break space") << QStringLiteral(u"a\u00a0b") << "a\\u00A0b";
    QTest::newRow("tab") << "a\tb" << "a\\x09b";
    QTest::newRow("private use") << QStringLiteral(u"a\ue000") << "a\\uE000";
    QTest::newRow("decomposed accent") << QStringLiteral(u"Jose\u0301") << "Jose\\u0301";
    QTest::newRow("accent that begins the text") << QStringLiteral(u"\u0301a") << "\\u0301a";
    QTest::newRow("accent after a byte that is not UTF-8")
        << withEscapes(QStringLiteral(u"<e9>\u0301")) << "\\xE9\\u0301";
    QTest::newRow("leading space") << " bob" << "\\x20bob";
    QTest::newRow("trailing space") << "bob " << "bob\\x20";
    QTest::newRow("two spaces") << "a  b" << "a\\x20\\x20b";
    QTest::newRow("only a space") << " " << "\\x20";

    // A backslash that could start an escape is doubled.
    QTest::newRow("backslash and x") << "a\\xE9" << "a\\\\xE9";
    QTest::newRow("backslash and u") << "\\u034F" << "\\\\u034F";
    QTest::newRow("two backslashes") << "a\\\\b" << "a\\\\\\b";
    QTest::newRow("backslash before an escape") << withEscapes(QStringLiteral(u"a\\<e9>")) << "a\\\\\\xE9";
}

void tst_PeerText::shown()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(PeerText::shown(text), shown);
}

// Every text of up to four characters from an alphabet of look-alikes, escapes and the
// characters escapes are written with: no two of them are shown alike.
void tst_PeerText::differentTextsLookDifferent()
{
    const QStringList alphabet{QStringLiteral("a"),         QStringLiteral(" "),          QStringLiteral("\\"),
                               QStringLiteral("x"),         QStringLiteral("u"),          QStringLiteral("E"),
                               QStringLiteral("9"),         withEscapes(QStringLiteral("<e9>")), QStringLiteral(u"\u00e9"),
                               QStringLiteral(u"\u0301"), QStringLiteral(u"\u034f"), QStringLiteral(u"\u200b"),
                               QStringLiteral(u"\u00a0"),   QStringLiteral(u"\U0001F600")};
    QHash<QString, QString> seen;
    QStringList texts{QString()};
    for (int length = 1; length <= 4; ++length) {
        QStringList longer;
        for (const QString &text : std::as_const(texts)) {
            for (const QString &c : alphabet)
                longer.append(text + c);
        }
        for (const QString &text : std::as_const(longer)) {
            const QString shown = PeerText::shown(text);
            const auto earlier = seen.constFind(shown);
            if (earlier != seen.constEnd())
                QFAIL(qPrintable(QStringLiteral("%1 and %2 are both shown as %3")
                                     .arg(QString::fromLatin1(QtTelnet::bytesFromLine(*earlier).toHex(' ')),
                                          QString::fromLatin1(QtTelnet::bytesFromLine(text).toHex(' ')), shown)));
            seen.insert(shown, text);
        }
        texts = longer;
    }
    QCOMPARE(seen.size(), 14 + 14 * 14 + 14 * 14 * 14 + 14 * 14 * 14 * 14);
}

QTEST_GUILESS_MAIN(tst_PeerText)
#include "tst_peertext.moc"
