#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

// The resource trees are compiled into the static library; these checks fail when they are not
// linked into an executable, when an image has the wrong size or format, or when a catalogue
// does not carry its texts.
class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void imageHasItsSize_data();
    void imageHasItsSize();
    void imagesAreTheOnlyEntriesUnderImg();
    void windowsIconHasFourTrueColourSizes();
    void polishCatalogues_data();
    void polishCatalogues();
    void qtCatalogueTranslatesStandardButtons();
};

void tst_Resources::imageHasItsSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");

    QTest::newRow("router tab logo") << ":img/pylon_logo_120_60.png" << QSize(120, 60);
    QTest::newRow("window icon") << ":img/pylon_router_032.png" << QSize(32, 32);
    QTest::newRow("about banner") << ":img/pylon_about_router_384.png" << QSize(384, 166);
    QTest::newRow("help glyph") << ":img/help.png" << QSize(32, 32);
    QTest::newRow("info glyph") << ":img/info.png" << QSize(32, 32);
    QTest::newRow("exit glyph") << ":img/exit.png" << QSize(32, 32);
    QTest::newRow("update glyph") << ":img/update.png" << QSize(32, 32);
}

void tst_Resources::imageHasItsSize()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);

    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
}

void tst_Resources::imagesAreTheOnlyEntriesUnderImg()
{
    QStringList names = QDir(QStringLiteral(":img")).entryList();
    names.sort();
    const QStringList expected = {
        QStringLiteral("exit.png"),
        QStringLiteral("help.png"),
        QStringLiteral("info.png"),
        QStringLiteral("pylon_about_router_384.png"),
        QStringLiteral("pylon_logo_120_60.png"),
        QStringLiteral("pylon_router.ico"),
        QStringLiteral("pylon_router_032.png"),
        QStringLiteral("update.png"),
    };
    QCOMPARE(names, expected);
}

void tst_Resources::windowsIconHasFourTrueColourSizes()
{
    QImageReader reader(QStringLiteral(":img/pylon_router.ico"), "ico");
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.imageCount(), 4);

    QList<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        QVERIFY2(image.hasAlphaChannel(), qPrintable(QString::number(image.width())));
        sizes.append(image.width());
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, QList<int>({16, 32, 48, 256}));
}

void tst_Resources::polishCatalogues_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");

    QTest::newRow("Qt's own texts") << ":translations/qt_pl.qm" << true
                                    << "QPlatformTheme" << "Cancel" << "Anuluj";
    QTest::newRow("the program's texts, at the root") << ":pylon_router_pl.qm" << true
                                                      << "AboutBox" << "Help" << "Pomoc";
    QTest::newRow("misc stays absent") << ":translations/misc_pl.qm" << false
                                       << QString() << QString() << QString();
    QTest::newRow("netprotocols stays absent") << ":translations/netprotocols_pl.qm" << false
                                               << QString() << QString() << QString();
}

void tst_Resources::polishCatalogues()
{
    QFETCH(QString, fileName);
    QFETCH(bool, present);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, translation);

    QCOMPARE(QFile::exists(fileName), present);
    QTranslator translator;
    QCOMPARE(translator.load(fileName), present);
    if (present) {
        QVERIFY(!translator.isEmpty());
        QCOMPARE(translator.translate(qPrintable(context), qPrintable(source)), translation);
    }
}

void tst_Resources::qtCatalogueTranslatesStandardButtons()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":translations/qt_pl.qm")));
    QVERIFY(QCoreApplication::installTranslator(&translator));

    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Yes)->text(), QStringLiteral("&Tak"));
    QCOMPARE(box.button(QDialogButtonBox::No)->text(), QStringLiteral("&Nie"));
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Anuluj"));

    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(tst_Resources)
#include "tst_resources.moc"
