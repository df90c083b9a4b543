#include "support/signalrecorder.h"

#include <QMetaMethod>

SignalRecorder::SignalRecorder(QObject *object, const QSet<QByteArray> &ignored)
    : observed(object->metaObject())
{
    const int slotBase = QObject::staticMetaObject.methodCount();
    for (int i = QObject::staticMetaObject.methodCount(); i < observed->methodCount(); ++i) {
        const QMetaMethod method = observed->method(i);
        if (method.methodType() != QMetaMethod::Signal || ignored.contains(method.name()))
            continue;
        // Signals with default arguments appear once per form; the full form is enough.
        if (method.attributes() & QMetaMethod::Cloned)
            continue;
        QMetaObject::connect(object, i, this, slotBase + int(signalIndexes.size()), Qt::DirectConnection);
        signalIndexes.append(i);
    }
}

SignalRecorder::~SignalRecorder() = default;

int SignalRecorder::qt_metacall(QMetaObject::Call call, int id, void **arguments)
{
    id = QObject::qt_metacall(call, id, arguments);
    if (id < 0 || call != QMetaObject::InvokeMetaMethod)
        return id;
    if (id < signalIndexes.size()) {
        const QMetaMethod method = observed->method(signalIndexes.at(id));
        Event event;
        event.name = method.name();
        for (int p = 0; p < method.parameterCount(); ++p)
            event.arguments.append(QVariant(method.parameterMetaType(p), arguments[p + 1]));
        recorded.append(event);
    }
    return -1;
}

QList<QByteArray> SignalRecorder::names() const
{
    QList<QByteArray> result;
    for (const Event &event : recorded)
        result.append(event.name);
    return result;
}

QStringList SignalRecorder::describe() const
{
    QStringList result;
    for (const Event &event : recorded) {
        QString text = QString::fromLatin1(event.name);
        for (const QVariant &argument : event.arguments) {
            text += u' ';
            if (argument.metaType() == QMetaType::fromType<QStringList>())
                text += argument.toStringList().join(u'|');
            else if (argument.metaType().flags() & QMetaType::IsEnumeration)
                text += QString::number(argument.toInt());
            else
                text += argument.toString();
        }
        result.append(text);
    }
    return result;
}

int SignalRecorder::count(const QByteArray &name) const
{
    int n = 0;
    for (const Event &event : recorded)
        n += event.name == name ? 1 : 0;
    return n;
}
