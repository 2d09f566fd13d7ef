#pragma once

#include <QString>

// How the monitor and its login helper find each other on the session bus:
// the monitor's service, object and interface, the helper's service, and
// the signal that tells the helper to quit. The helper and the monitor's
// start at login both include this one header.
namespace launch {
inline const QString monitorIdentifier = QStringLiteral("com.vexo.statusmonitor");
inline const QString helperIdentifier = QStringLiteral("com.vexo.LaunchHelper");
inline const QString terminateNotification = QStringLiteral("TerminateAppHelperNotificationName");
// What the helper passes the monitor it starts: into the tray, no window.
inline const QString quietStartFlag = QStringLiteral("--tray");
// Where the monitor's notification is sent from on the session bus.
inline const QString notificationPath = QStringLiteral("/com/vexo/statusmonitor");
inline const QString notificationInterface = QStringLiteral("com.vexo.statusmonitor");
}  // namespace launch
