#include "DesktopNotifications.h"

#include "AppAutoStartUtils.h"
#include "Log.h"
#include "Strings.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus))
{
}

void DesktopNotifications::show(const PrinterNotice& notice)
{
    if (!enabled_)
        return;
    if (!bus_.isConnected()) {
        noService(QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(notice.urgency))},
                            {QStringLiteral("desktop-entry"), launch::monitorIdentifier}};
    call << vexo::ui::text(QStringLiteral("statusMonitor")) << shown_.value(notice.key, 0u)
         << QStringLiteral("vexoStateMonitor") << notice.title << notice.body << QStringList() << hints
         << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key = notice.key](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            noService(reply.error().name() + QStringLiteral(": ") + reply.error().message());
        else
            shown_.insert(key, reply.value());
    });
}

void DesktopNotifications::noService(const QString& why)
{
    if (toldNoService_)
        return;
    toldNoService_ = true;
    qCInfo(lcMonitor).noquote() << "notifications are not shown: " + why;
}
