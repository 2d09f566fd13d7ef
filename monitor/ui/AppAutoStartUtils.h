#pragma once

#include "LaunchNames.h"

#include <QSettings>
#include <QString>

// Start at login through the login helper: an XDG autostart entry runs
// QXLaunchHelper at login, and the helper starts the monitor.

// Where start at login reads and writes.
struct AutoStartPlace {
    QString helperPath;    // the helper program
    QString autostartDir;  // the user's autostart directory
    QString busName;       // D-Bus connection by name; empty: the session bus
};

class AppAutoStartUtils {
public:
    AppAutoStartUtils() = delete;

    // The helper beside this program; $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static AutoStartPlace defaultPlace();
    static QString entryPath(const AutoStartPlace& place);

    // Registers or unregisters the helper, then tells a running helper to quit.
    static void setAppAutoStart(bool isAutoStart, const AutoStartPlace& place = defaultPlace());
    static bool addLoginItem(const AutoStartPlace& place);
    static bool removeLoginItem(const AutoStartPlace& place);
};

namespace Preference {
inline const QString startupKey = QStringLiteral("startupforvexo");
// False when missing or not a Boolean.
bool startup(const QSettings& settings);
void setStartup(QSettings& settings, bool on);
}  // namespace Preference

// The start-at-login choice as the window uses it.
class StartAtLogin {
public:
    explicit StartAtLogin(QSettings& settings, AutoStartPlace place = AppAutoStartUtils::defaultPlace());

    // On the very first start, switches start at login on; never again after.
    void firstStart();
    bool startup() const { return Preference::startup(settings_); }
    // The switch: acts only when the value differs from the stored one.
    void change(bool on);

private:
    QSettings& settings_;
    AutoStartPlace place_;
};
