#pragma once

#include "AppAutoStartUtils.h"
#include "DesktopNotifications.h"
#include "PrinterNotices.h"

#include <QDBusConnection>
#include <QObject>
#include <QSettings>
#include <QStringList>

#include <functional>
#include <memory>

class ContentView;
class MonitorTray;
class NetworkModel;
class PrinterModel;

// The monitor in the desktop: the window, the tray icon and the
// notifications, over the two models.
class MonitorApp : public QObject {
    Q_OBJECT
    // moc takes only a literal here: launch::notificationInterface.
    Q_CLASSINFO("D-Bus Interface", "com.vexo.statusmonitor")

public:
    static inline const QString notificationsKey = QStringLiteral("notifications");

    struct Options {
        bool quiet = false;
        // Asked at start and whenever the window closes.
        std::function<bool()> trayAvailable;
        QDBusConnection bus = QDBusConnection::sessionBus();
        AutoStartPlace place = AppAutoStartUtils::defaultPlace();
    };

    // Whether the arguments ask for a quiet start.
    static bool quietStart(const QStringList& arguments);
    // Asks the monitor that owns its name on `bus` to open its window; false
    // when none answers.
    static bool openRunningWindow(const QDBusConnection& bus);

    MonitorApp(PrinterModel& printers, NetworkModel& network, QSettings& settings, Options options,
               QObject* parent = nullptr);
    ~MonitorApp() override;

    // Puts the icon in the tray where there is one; opens the window unless
    // started quietly into a tray. From then on another start of the monitor
    // opens this one's window over the bus.
    void start();

public slots:
    Q_SCRIPTABLE void openWindow();

public:

    ContentView& window() { return *window_; }
    // Null without a tray.
    MonitorTray* tray() { return tray_.get(); }
    DesktopNotifications& notifications() { return notifications_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setNotificationsOn(bool on);
    void notify();

    PrinterModel& printers_;
    QSettings& settings_;
    Options options_;
    StartAtLogin startup_;
    std::unique_ptr<ContentView> window_;
    std::unique_ptr<MonitorTray> tray_;
    DesktopNotifications notifications_;
    PrinterNotices notices_;
};
