#include "MonitorApp.h"

#include "ContentView.h"
#include "Log.h"
#include "MonitorTray.h"
#include "PrinterModel.h"

#include <QAction>
#include <QApplication>
#include <QDBusMessage>
#include <QEvent>

bool MonitorApp::quietStart(const QStringList& arguments) { return arguments.mid(1).contains(launch::quietStartFlag); }

bool MonitorApp::openRunningWindow(const QDBusConnection& bus)
{
    QDBusMessage call = QDBusMessage::createMethodCall(launch::monitorIdentifier, launch::notificationPath,
                                                       launch::notificationInterface, QStringLiteral("openWindow"));
    return bus.call(call, QDBus::Block, 3000).type() == QDBusMessage::ReplyMessage;
}

MonitorApp::MonitorApp(PrinterModel& printers, NetworkModel& network, QSettings& settings, Options options,
                       QObject* parent)
    : QObject(parent), printers_(printers), settings_(settings), options_(std::move(options)),
      startup_(settings_, options_.place),
      window_(std::make_unique<ContentView>(printers, network, startup_)), notifications_(options_.bus)
{
    if (!options_.trayAvailable)
        options_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    notifications_.setEnabled(settings_.value(notificationsKey, true).toBool());
    connect(&printers_, &PrinterModel::statusInfoChanged, this, &MonitorApp::notify);
    window_->installEventFilter(this);
}

MonitorApp::~MonitorApp() = default;

void MonitorApp::start()
{
    if (options_.trayAvailable()) {
        tray_ = std::make_unique<MonitorTray>(printers_);
        connect(tray_->openAction(), &QAction::triggered, this, &MonitorApp::openWindow);
        connect(tray_->refreshAction(), &QAction::triggered, window_.get(), &ContentView::refresh);
        tray_->notificationsAction()->setChecked(notifications_.enabled());
        connect(tray_->notificationsAction(), &QAction::toggled, this, &MonitorApp::setNotificationsOn);
        connect(tray_->quitAction(), &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        tray_->icon().show();
    }
    if (options_.bus.isConnected() &&
        !options_.bus.registerObject(launch::notificationPath, launch::notificationInterface, this,
                                     QDBusConnection::ExportScriptableSlots))
        qCInfo(lcMonitor).noquote() << "another start cannot reach this monitor: " + options_.bus.lastError().message();
    // Without a tray a quiet start would leave the user nothing to find.
    if (!options_.quiet || !tray_)
        openWindow();
}

void MonitorApp::openWindow()
{
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

bool MonitorApp::eventFilter(QObject* watched, QEvent* event)
{
    // With a tray the monitor keeps polling there; without one (or once the
    // tray is gone) closing the window quits.
    if (watched == window_.get() && event->type() == QEvent::Close)
        QGuiApplication::setQuitOnLastWindowClosed(!(tray_ && options_.trayAvailable()));
    return QObject::eventFilter(watched, event);
}

void MonitorApp::setNotificationsOn(bool on)
{
    notifications_.setEnabled(on);
    settings_.setValue(notificationsKey, on);
    settings_.sync();
}

void MonitorApp::notify()
{
    // Followed even while switched off, so switching on does not bring up
    // what happened meanwhile.
    for (const PrinterNotice& notice : notices_.update(printers_.selectedPrinter(), printers_.statusInfo()))
        notifications_.show(notice);
}
