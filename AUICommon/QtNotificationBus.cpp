#include "AUICommon/QtNotificationBus.h"

#include <QMetaObject>

void QtNotificationBus::Post(const std::string& name, const std::string& text)
{
    const QString shownName = QString::fromStdString(name);
    const QString shownText = QString::fromStdString(text);
    // Queued even on the bus's own thread, so that every notification keeps its place in line.
    QMetaObject::invokeMethod(
        this, [this, shownName, shownText] { emit Notified(shownName, shownText); }, Qt::QueuedConnection);
}
