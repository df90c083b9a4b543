#include "ui/accessibleannouncer.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class AnnouncerInterface final : public QAccessibleWidget
{
public:
    explicit AnnouncerInterface(AccessibleAnnouncer *announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return static_cast<const AccessibleAnnouncer *>(widget())->message();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *announcerInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(AccessibleAnnouncer::staticMetaObject.className()))
        return new AnnouncerInterface(static_cast<AccessibleAnnouncer *>(object));
    return nullptr;
}

} // namespace

AccessibleAnnouncer::AccessibleAnnouncer(QWidget *parent)
{
    // Before the widget is anyone's child: an interface asked for earlier would be the plain
    // widget's, and it would be kept. Installing twice adds nothing.
    QAccessible::installFactory(announcerInterface);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
    hide();
    setParent(parent);
}

void AccessibleAnnouncer::announce(const QString &message)
{
    text = message;
    // Readers keep the names they have read: the new one is told before the widget shows.
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    hide();
    show();
}
