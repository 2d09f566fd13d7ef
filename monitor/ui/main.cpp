// vexoStateMonitor: the printer status monitor's window and tray icon.
// "--tray" (passed by the login helper) starts it in the tray without a window.

#include "AppAutoStartUtils.h"
#include "DeviceLogSink.h"
#include "Log.h"
#include "MonitorApp.h"
#include "NetworkModel.h"
#include "SharedData.h"
#include "Strings.h"
#include "SystemTransport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>

namespace {

// Owning the well-known name is how the login helper sees the monitor
// running. False when another monitor owns it: that one opens its window
// instead, and this one is not needed.
bool announceOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcMonitor) << "no session bus: the login helper cannot see this monitor";
        return true;
    }
    if (bus.registerService(launch::monitorIdentifier))
        return true;
    if (MonitorApp::openRunningWindow(bus)) {
        qCInfo(lcMonitor) << "the monitor runs already: its window is opened";
        return false;
    }
    qCInfo(lcMonitor).noquote() << "cannot own " + launch::monitorIdentifier + ": " + bus.lastError().message();
    return true;
}

}  // namespace

// The application: one window for the life of the process.
class marlinApp {
public:
    marlinApp(int& argc, char** argv) : app_(argc, argv)
    {
        QCoreApplication::setOrganizationName(QStringLiteral("vexo"));
        QCoreApplication::setApplicationName(QStringLiteral("vexoStateMonitor"));
        QGuiApplication::setDesktopFileName(launch::monitorIdentifier);
        vexo::ui::useLanguageOf(QLocale::system());
        logDevicesToQt();
        SharedData::setPrinterTransport(std::make_shared<SystemTransport>());
    }

    int run()
    {
        if (!announceOnBus())
            return 0;
        QSettings settings;
        MonitorApp::Options options;
        options.quiet = MonitorApp::quietStart(QCoreApplication::arguments());
        MonitorApp monitor(SharedData::printerModel(), SharedData::networkModel(), settings, options);
        monitor.start();
        return app_.exec();
    }

private:
    QApplication app_;
};

int main(int argc, char** argv)
{
    marlinApp app(argc, argv);
    return app.run();
}
