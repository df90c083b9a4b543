#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

// Runs lupdate over the sources as they are now, into a copy of the Polish catalogue, and fails
// for every text of the program that has no finished Polish translation, and when the committed
// catalogue no longer matches the sources (scripts/update-translations brings it up to date).
class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void committedCatalogueIsCurrent();
    void everyTextIsTranslated_data();
    void everyTextIsTranslated();

private:
    struct Message
    {
        QString context;
        QString source;
        QString comment;       // disambiguation; part of the key
        QString translation;
        QStringList numerusForms; // of a text that depends on a number, one per form of the language
        QString type;          // "unfinished", "vanished", "obsolete" or empty
        QString key() const { return context + QLatin1Char('|') + source + QLatin1Char('|') + comment; }
    };

    static QString lupdatePath();
    static QList<Message> read(const QString &fileName, QString *error);

    QTemporaryDir work;
    QList<Message> committed;
    QList<Message> refreshed;
};

namespace {

const QString sourceRoot = QStringLiteral(QT_TESTCASE_SOURCEDIR "/..");

QString catalogue()
{
    return sourceRoot + QLatin1String("/resources/translations/pylon_router_pl.ts");
}

// "%1", "%2", ... in the order of their numbers, each once.
QStringList placeMarkers(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%(\\d+)"));
    QStringList found;
    for (const QRegularExpressionMatch &match : marker.globalMatch(text))
        found.append(match.captured());
    found.sort();
    found.removeDuplicates();
    return found;
}

// A menu title's accelerator: "&" before anything but another "&".
bool hasAccelerator(const QString &text)
{
    static const QRegularExpression accelerator(QStringLiteral("&[^&\\s]"));
    return text.contains(accelerator);
}

} // namespace

QString tst_Translations::lupdatePath()
{
    // The same tool scripts/update-translations runs.
    const QStringList candidates = {
        QLibraryInfo::path(QLibraryInfo::BinariesPath) + QLatin1String("/lupdate"),
        QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QLatin1String("/lupdate"),
        QStringLiteral("/usr/lib/qt6/bin/lupdate"),
    };
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QString();
}

QList<tst_Translations::Message> tst_Translations::read(const QString &fileName, QString *error)
{
    QList<Message> messages;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            Message message;
            message.context = context;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("source")) {
                    message.source = xml.readElementText();
                } else if (xml.name() == QLatin1String("comment")) {
                    message.comment = xml.readElementText();
                } else if (xml.name() == QLatin1String("translation")) {
                    message.type = xml.attributes().value(QLatin1String("type")).toString();
                    while (xml.readNext() != QXmlStreamReader::EndElement || xml.name() != QLatin1String("translation")) {
                        if (xml.isCharacters())
                            message.translation += xml.text();
                        else if (xml.isStartElement() && xml.name() == QLatin1String("numerusform"))
                            message.numerusForms.append(xml.readElementText());
                        if (xml.atEnd())
                            break;
                    }
                } else {
                    xml.skipCurrentElement();
                }
            }
            messages.append(message);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

void tst_Translations::initTestCase()
{
    const QString lupdate = lupdatePath();
    if (lupdate.isEmpty())
        QSKIP("lupdate is not installed (Debian package qt6-l10n-tools, see scripts/install-deps)");
    QVERIFY(work.isValid());
    QVERIFY2(QFileInfo::exists(sourceRoot + QLatin1String("/src")), qPrintable(sourceRoot));

    const QString copy = work.filePath(QStringLiteral("pylon_router_pl.ts"));
    QVERIFY(QFile::copy(catalogue(), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

    // The options of scripts/update-translations.
    QProcess process;
    process.setWorkingDirectory(sourceRoot);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(lupdate, {QStringLiteral("-silent"), QStringLiteral("-no-obsolete"),
                            QStringLiteral("-locations"), QStringLiteral("none"),
                            QStringLiteral("-target-language"), QStringLiteral("pl_PL"),
                            QStringLiteral("-extensions"), QStringLiteral("cpp,h"),
                            QStringLiteral("-recursive"), QStringLiteral("src"),
                            QStringLiteral("-ts"), copy});
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAll().constData());

    QString error;
    committed = read(catalogue(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    refreshed = read(copy, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!refreshed.isEmpty());
}

void tst_Translations::committedCatalogueIsCurrent()
{
    QSet<QString> inCommitted;
    for (const Message &message : std::as_const(committed))
        inCommitted.insert(message.key());
    QSet<QString> inSources;
    for (const Message &message : std::as_const(refreshed))
        inSources.insert(message.key());

    QStringList differences;
    for (const Message &message : std::as_const(refreshed)) {
        if (!inCommitted.contains(message.key()))
            differences.append(QLatin1String("new in the sources: ") + message.context + QLatin1String(": ") + message.source);
    }
    for (const Message &message : std::as_const(committed)) {
        if (!inSources.contains(message.key()))
            differences.append(QLatin1String("gone from the sources: ") + message.context + QLatin1String(": ") + message.source);
    }
    QVERIFY2(differences.isEmpty(),
             qPrintable(QLatin1String("run scripts/update-translations and translate:\n") + differences.join(QLatin1Char('\n'))));
}

void tst_Translations::everyTextIsTranslated_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");
    QTest::addColumn<QString>("type");
    // The number of forms of a text that depends on a number, one row per form; 0 for others.
    QTest::addColumn<int>("forms");

    for (const Message &message : std::as_const(refreshed)) {
        QString row = message.context + QLatin1String(": ") + message.source;
        row.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        if (message.numerusForms.isEmpty()) {
            QTest::newRow(qPrintable(row)) << message.context << message.source << message.translation << message.type << 0;
            continue;
        }
        for (qsizetype form = 0; form < message.numerusForms.size(); ++form) {
            QTest::addRow("%s [form %lld]", qPrintable(row), qlonglong(form))
                << message.context << message.source << message.numerusForms.at(form) << message.type
                << int(message.numerusForms.size());
        }
    }
}

void tst_Translations::everyTextIsTranslated()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, translation);
    QFETCH(QString, type);
    QFETCH(int, forms);

    QVERIFY2(type.isEmpty(), qPrintable(QLatin1String("translation is ") + type));
    QVERIFY2(!translation.trimmed().isEmpty(), "no translation");
    // Polish has three forms for a number: 1, 2 to 4 (22 to 24...), and the rest; each shows it.
    if (forms > 0) {
        QCOMPARE(forms, 3);
        QVERIFY(translation.contains(QLatin1String("%n")));
    }
    // The values put into the text must all find their place.
    QCOMPARE(placeMarkers(translation), placeMarkers(source));
    // Texts that are glued to a value keep their spacing and line breaks.
    QCOMPARE(translation.endsWith(QLatin1Char(' ')), source.endsWith(QLatin1Char(' ')));
    QCOMPARE(translation.count(QLatin1Char('\n')), source.count(QLatin1Char('\n')));
    // Menu titles keep a keyboard accelerator.
    QCOMPARE(hasAccelerator(translation), hasAccelerator(source));
    // Shortcuts are read back as key sequences.
    const QKeySequence shortcut(source, QKeySequence::PortableText);
    if (source.startsWith(QLatin1String("Ctrl+")) && !shortcut.isEmpty())
        QCOMPARE(QKeySequence(translation), shortcut);
    Q_UNUSED(context)
}

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
