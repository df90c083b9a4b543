#include "router/contentscanner.h"

#include <QTest>

class TestContentScanner : public QObject
{
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
};

void TestContentScanner::scan_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QByteArray>("visible");  // what the XML reader gets
    QTest::addColumn<QStringList>("tags");    // per start tag: the content taken, or "-"
    QTest::addColumn<bool>("givenUp");

    QTest::newRow("content taken, everything else passed")
        << QByteArray("<C a=\"1\">text<File path=\"p\" content=\"YWxw\r\naGE=\n\"/></C>\n")
        << QByteArray("<C a=\"1\">text<File path=\"p\" content=\"\"/></C>\n")
        << QStringList{QStringLiteral("-"), QStringLiteral("alpha")} << false;
    QTest::newRow("single quotes, spaces around the equals sign")
        << QByteArray("<F\tcontent = 'QUJD'\n/>") << QByteArray("<F\tcontent = ''\n/>")
        << QStringList{QStringLiteral("ABC")} << false;
    QTest::newRow("only the attribute named content")
        << QByteArray("<F contents=\"QUJD\" xcontent=\"QUJD\" Content=\"QUJD\" x:content=\"QUJD\" conten=\"QUJD\">")
        << QByteArray("<F contents=\"QUJD\" xcontent=\"QUJD\" Content=\"QUJD\" x:content=\"QUJD\" conten=\"QUJD\">")
        << QStringList{QStringLiteral("-")} << false;
    QTest::newRow("quotes, '>' and '/' inside other values")
        << QByteArray("<F a=\"'>/\" b='\"content=\"' content=\"QUJD\"><G content='QUJD'></G></F>")
        << QByteArray("<F a=\"'>/\" b='\"content=\"' content=\"\"><G content=''></G></F>")
        << QStringList{QStringLiteral("ABC"), QStringLiteral("ABC")} << false;
    QTest::newRow("references and non-ASCII characters passed on")
        << QByteArray("<F content=\"QU&amp;JD&#65;\xc5\x82\"/>") << QByteArray("<F content=\"&amp;&#65;\xc5\x82\"/>")
        << QStringList{QStringLiteral("ABC")} << false;
    QTest::newRow("ASCII inside an unfinished UTF-8 sequence passed on")
        << QByteArray("<F content=\"QU\xc5" "A\x82JD\"/>") << QByteArray("<F content=\"\xc5" "A\x82\"/>")
        << QStringList{QStringLiteral("ABC")} << false;
    QTest::newRow("comments, CDATA, instructions and end tags passed whole")
        << QByteArray("<?xml version=\"1.0\"?><C><!-- <F content=\"QUJD\"/> -><![CDATA[ --><![CDATA[<F content=\"QUJD\"/>"
                      "]>]]]><?p <F content=\"QUJD\"/> ?" "?></C ><F content=\"QUJD\"/>")
        << QByteArray("<?xml version=\"1.0\"?><C><!-- <F content=\"QUJD\"/> -><![CDATA[ --><![CDATA[<F content=\"QUJD\"/>"
                      "]>]]]><?p <F content=\"QUJD\"/> ?" "?></C ><F content=\"\"/>")
        << QStringList{QStringLiteral("-"), QStringLiteral("ABC")} << false;
    QTest::newRow("UTF-8 declared")
        << QByteArray("\xef\xbb\xbf<?xml version='1.0' encoding='utf-8'?><C content=\"QUJD\"/>")
        << QByteArray("\xef\xbb\xbf<?xml version='1.0' encoding='utf-8'?><C content=\"\"/>")
        << QStringList{QStringLiteral("ABC")} << false;
    QTest::newRow("gives up at a document type declaration")
        << QByteArray("<!DOCTYPE C><C content=\"QUJD\"/>") << QByteArray("<!DOCTYPE C><C content=\"QUJD\"/>")
        << QStringList() << true;
    QTest::newRow("gives up in a document declared in another encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><C content=\"QUJD\"/>")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><C content=\"QUJD\"/>") << QStringList() << true;
    QTest::newRow("gives up in UTF-16") << QByteArray("<\0C\0 \0c\0o\0", 10) << QByteArray("<\0C\0 \0c\0o\0", 10)
                                        << QStringList() << true;
    QTest::newRow("cut off inside a value") << QByteArray("<C><F content=\"QUJ") << QByteArray("<C><F content=\"")
                                            << QStringList{QStringLiteral("-")} << false;
}

// The same in pieces of every size: a cut inside every name, value, terminator and sequence.
void TestContentScanner::scan()
{
    QFETCH(QByteArray, document);
    QFETCH(QByteArray, visible);
    QFETCH(QStringList, tags);
    QFETCH(bool, givenUp);
    for (const qsizetype chunk : {qsizetype(1), qsizetype(2), qsizetype(3), document.size()}) {
        ContentScanner scanner;
        QByteArray seen;
        for (qsizetype at = 0; at < document.size(); at += chunk) {
            const QByteArrayView piece = QByteArrayView(document).sliced(at, qMin(chunk, document.size() - at));
            QByteArray output(piece.size(), Qt::Uninitialized);
            output.truncate(scanner.scan(piece.data(), piece.size(), output.data()));
            seen += output;
        }
        QStringList taken;
        while (scanner.hasTag()) {
            const ContentScanner::Tag tag = scanner.takeTag();
            taken.append(tag.contentTaken ? QString::fromLatin1(tag.content) : QStringLiteral("-"));
        }
        const QByteArray where = "pieces of " + QByteArray::number(chunk);
        QVERIFY2(seen == visible, where.constData());
        QVERIFY2(taken == tags, where.constData());
        QVERIFY2(scanner.hasGivenUp() == givenUp, where.constData());
    }
}

QTEST_GUILESS_MAIN(TestContentScanner)
#include "tst_contentscanner.moc"
