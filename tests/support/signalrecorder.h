#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantList>

// Records every signal of an object, in the order they are emitted, with their arguments:
// one spy that keeps the order across signals, which separate QSignalSpys cannot.
class SignalRecorder final : public QObject
{
    // No Q_OBJECT: the slots are dispatched by hand in qt_metacall.
public:
    struct Event
    {
        QByteArray name;
        QVariantList arguments;
    };

    // Records the signals that `object`'s classes add to QObject's, except those in `ignored`.
    explicit SignalRecorder(QObject *object, const QSet<QByteArray> &ignored = {});
    ~SignalRecorder() override;
    Q_DISABLE_COPY_MOVE(SignalRecorder)

    QList<Event> events() const { return recorded; }
    QList<QByteArray> names() const;
    // The events as text, one per event: the name, then each argument after a space (string
    // lists joined by "|", enums as their number), for whole-sequence comparisons.
    QStringList describe() const;
    int count(const QByteArray &name) const;
    void clear() { recorded.clear(); }

    int qt_metacall(QMetaObject::Call call, int id, void **arguments) override;

private:
    QList<int> signalIndexes;
    QList<Event> recorded;
    const QMetaObject *observed = nullptr;
};
