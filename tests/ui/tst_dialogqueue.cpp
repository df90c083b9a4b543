#include "ui/dialogqueue.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class tst_DialogQueue : public QObject
{
    Q_OBJECT

private slots:
    void runsAfterThePosterReturned();
    void oneAfterAnother();
};

// A dialog posted from a handler opens once control is back in the event loop.
void tst_DialogQueue::runsAfterThePosterReturned()
{
    DialogQueue queue;
    QStringList events;
    queue.post([&] { events.append(QStringLiteral("dialog")); });
    events.append(QStringLiteral("handler returns"));
    QTRY_COMPARE(events, (QStringList{QStringLiteral("handler returns"), QStringLiteral("dialog")}));
}

// A dialog posted while another is open (its event loop running) waits until that one has
// closed; the order in which they were posted holds.
void tst_DialogQueue::oneAfterAnother()
{
    DialogQueue queue;
    QStringList events;
    queue.post([&] {
        events.append(QStringLiteral("first opens"));
        queue.post([&] { events.append(QStringLiteral("second")); });
        queue.post([&] { events.append(QStringLiteral("third")); });
        // The first stays open for a while: its own event loop runs.
        QTimer closer;
        closer.setSingleShot(true);
        QSignalSpy closed(&closer, &QTimer::timeout);
        closer.start(50);
        QVERIFY(closed.wait());
        events.append(QStringLiteral("first closes"));
    });
    QTRY_COMPARE(events.size(), 4);
    QCOMPARE(events, (QStringList{QStringLiteral("first opens"), QStringLiteral("first closes"), QStringLiteral("second"),
                                  QStringLiteral("third")}));
    // Posted after all has run: it runs as the first one did.
    queue.post([&] { events.append(QStringLiteral("fourth")); });
    QTRY_COMPARE(events.size(), 5);
}

QTEST_GUILESS_MAIN(tst_DialogQueue)
#include "tst_dialogqueue.moc"
