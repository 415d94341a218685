#pragma once
// The notification bus of the window: worker threads post (name, text); the names arrive, in the
// order posted, as Notified signals on the thread that owns the bus (the GUI thread).

#include "APlatform/Frontend.h"

#include <QObject>
#include <QString>

class QtNotificationBus : public QObject, public platform::NotificationBus {
    Q_OBJECT
public:
    explicit QtNotificationBus(QObject* parent = nullptr) : QObject(parent) {}
    // Any thread.
    void Post(const std::string& name, const std::string& text) override;

signals:
    void Notified(const QString& name, const QString& text);
};
