#pragma once

#include "PrinterNotices.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

// Shows notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Without a service the
// monitor carries on: the first failure is logged, nothing else happens.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }

    // Never waits for the service.
    void show(const PrinterNotice& notice);

private:
    void noService(const QString& why);

    QDBusConnection bus_;
    bool enabled_ = true;
    bool toldNoService_ = false;
    // The id the service gave the last notice of each key.
    QHash<QString, uint> shown_;
};
