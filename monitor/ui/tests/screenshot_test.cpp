// The real window on a real X server (Xvfb, started here) watching the
// simulated printer on an emulated USB bus, through the same shared models
// and transports as the program; then the tray and a notification on a
// private bus. Saves what it shows as PNGs: to VEXO_SCREENSHOT_DIR when set
// (the README's pictures), else to a folder in the build tree.

#include "AppAutoStartUtils.h"
#include "ContentView.h"
#include "EmulatedUsbPrinter.h"
#include "MonitorApp.h"
#include "MonitorTray.h"
#include "NetTransport.h"
#include "PrivateSessionBus.h"
#include "QtTestApp.h"
#include "SharedData.h"
#include "Strings.h"
#include "SystemTransport.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <unistd.h>

namespace {

// An X server of its own, found by -displayfd, so parallel runs never meet.
// It ends with its last client: after the application, which still talks
// to it on its way down, or with this process however that ends.
std::string startXServer()
{
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        return {};
    // Not a client of the emulated bus.
    FILE* out = popen("exec env -u LD_PRELOAD /usr/bin/Xvfb -displayfd 1 -screen 0 1280x900x24 -nolisten tcp "
                      "-terminate 2>/dev/null",
                      "r");
    char number[16] = {};
    if (!out || !fgets(number, sizeof number, out))
        return {};
    return ':' + std::string(number, strcspn(number, "\n"));
}

// Text brings many shades, a blank fill few.
bool drawn(const QImage& image)
{
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size() > 16;
}

void save(const QImage& image, const QString& name)
{
    EXPECT_TRUE(drawn(image)) << name.toStdString() << " looks blank";
    const QByteArray wanted = qgetenv("VEXO_SCREENSHOT_DIR");
    const QString dir = wanted.isEmpty() ? QStringLiteral(VEXO_SCREENSHOT_DEFAULT_DIR) : QString::fromLocal8Bit(wanted);
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + QLatin1Char('/') + name)) << name.toStdString();
}

// A part of the screen as the X server shows it, other programs' windows included.
QImage screenArea(const QRect& area)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

template <class T>
T* find(QWidget& window, const char* name)
{
    return window.findChild<T*>(QString::fromLatin1(name));
}
bool showing(QWidget& window, const char* label, const char* text)
{
    const QLabel* l = find<QLabel>(window, label);
    return l && l->text() == QString::fromUtf8(text);
}

TEST(Screenshots, WindowTrayAndNotificationFollowTheSimulatedPrinter)
{
    static usbemu::UsbBus usbBus;
    // The bus must be there before the transport's first libusb context.
    vexo::sim::SimulatedPrinter& sim = usbBus.plug(usbemu::DeviceLayout{.productID = 77}).simulator();
    sim.setStatusCode(10);
    sim.setToner(68);
    sim.setVisibleNetworks({{"HomeNet", 4}, {"Office-5G", 3}, {"Lab", 1}});
    const std::string display = startXServer();
    if (display.empty())
        GTEST_SKIP() << "needs Xvfb";
    setenv("DISPLAY", display.c_str(), 1);
    // No session bus launched on the X server's behalf: its launcher would
    // keep the server up. The tray's part brings a bus of its own.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "vexoStateMonitor";
    static char* argv[] = {name, nullptr};
    // Closed at the end while the X server is still there.
    auto app = std::make_unique<QApplication>(argc, argv);
    vexo::net::NetTransportOptions quiet;
    // No broadcasts onto the machine's networks; the printer is on USB.
    quiet.interfaces = [] { return std::vector<vexo::net::InterfaceAddress>{}; };
    quiet.wakeUpPort = 0;
    SharedData::setPrinterTransport(std::make_shared<SystemTransport>(std::make_shared<vexo::net::NetTransport>(quiet)));
    // The Chinese texts need a font that has them, or the pictures show boxes.
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
        << "no Chinese font; run scripts/install-deps";

    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    Preference::setStartup(settings, true);
    const AutoStartPlace noHelper{dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("autostart")),
                                  QStringLiteral("no-such-bus")};
    StartAtLogin startup(settings, noHelper);
    auto openWindow = [&](QLocale::Language language, QLocale::Country country) {
        vexo::ui::useLanguageOf(QLocale(language, country));
        auto window = std::make_unique<ContentView>(SharedData::printerModel(), SharedData::networkModel(), startup);
        window->show();
        return window;
    };
    auto shot = [](QWidget& window, const char* file) { save(window.grab().toImage(), QString::fromLatin1(file)); };

    auto window = openWindow(QLocale::English, QLocale::UnitedStates);
    ASSERT_TRUE(waitFor([&] { return showing(*window, "message", "就绪"); }, std::chrono::seconds(20)))
        << "the simulated printer was never shown ready";
    ASSERT_TRUE(waitFor([&] { return find<QWidget>(*window, "toner")->isVisible(); }));
    shot(*window, "monitor.png");

    // A change on the printer reaches the window by the next poll.
    sim.setStatusCode(3004);
    sim.setToner(9);
    ASSERT_TRUE(waitFor([&] { return showing(*window, "message", "前盖打开"); }, std::chrono::seconds(15)));
    shot(*window, "monitor-cover-open.png");
    sim.setStatusCode(10);
    sim.setToner(68);

    // The settings panel reads the printer's Wi-Fi over the same USB device.
    find<QPushButton>(*window, "networkSetting")->click();
    auto* hotSpots = find<QComboBox>(*window, "hotSpots");
    ASSERT_TRUE(waitFor([&] { return hotSpots->count() == 3; }, std::chrono::seconds(20)));
    find<QTabWidget>(*window, "networkSettingView")->setCurrentIndex(1);
    shot(*window, "network-settings.png");
    find<QPushButton>(*window, "clientClose")->click();
    window = openWindow(QLocale::Chinese, QLocale::China);
    ASSERT_TRUE(waitFor([&] { return showing(*window, "code", "当前状态码: 0010"); }, std::chrono::seconds(15)));
    shot(*window, "monitor-zh.png");
    window.reset();

#ifdef VEXO_TRAY_HOST
    // A panel with a tray in the top right corner and the notification
    // service, all on a bus of the test's own.
    const QString dunst = QStandardPaths::findExecutable(QStringLiteral("dunst"));
    if (dunst.isEmpty() || !PrivateSessionBus::available())
        GTEST_SKIP() << "the tray's pictures need dunst and dbus-daemon; run scripts/install-deps";
    PrivateSessionBus bus;
    const QString address = bus.start();
    ASSERT_FALSE(address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    QProcess host, notices;
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(VEXO_TRAY_HOST), {QStringLiteral("120")});
    ASSERT_TRUE(host.waitForReadyRead(10000) && host.readAll().contains("tray ready"));
    notices.setProcessEnvironment(env);
    notices.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    notices.start(dunst, {QStringLiteral("-config"), QStringLiteral(VEXO_DUNSTRC)});
    QDBusConnection watch = bus.connect(QStringLiteral("watch"));
    ASSERT_TRUE(waitFor([&] {
        return watch.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
    }));
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));

    vexo::ui::useLanguageOf(QLocale(QLocale::English, QLocale::UnitedStates));
    MonitorApp::Options options;
    options.quiet = true;
    options.bus = bus.connect(QStringLiteral("monitor"));
    options.place = noHelper;
    {
        MonitorApp monitor(SharedData::printerModel(), SharedData::networkModel(), settings, options);
        monitor.start();
        ASSERT_NE(monitor.tray(), nullptr);
        MonitorTray& tray = *monitor.tray();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        ASSERT_TRUE(waitFor([&] {
            return tray.look() == vexo::ui::PrinterLook::normal && tray.icon().geometry().left() > screen.right() - 120;
        }, std::chrono::seconds(20))) << "the icon never docked";
        const QRect icon = tray.icon().geometry();
        QMenu& menu = tray.menu();
        menu.popup(QPoint(icon.right() - menu.sizeHint().width(), icon.bottom() + 8));
        ASSERT_TRUE(waitFor([&] { return menu.isVisible() && drawn(screenArea(menu.geometry())); }));
        save(screenArea(QRect(screen.right() - 260, 0, 260, menu.geometry().bottom() + 12)),
             QStringLiteral("tray-menu.png"));
        menu.hide();

        // The front cover opens: the desktop draws the notice below the panel.
        sim.setStatusCode(3004);
        ASSERT_TRUE(waitFor([&] { return tray.look() == vexo::ui::PrinterLook::error; }, std::chrono::seconds(15)));
        ASSERT_TRUE(waitFor([&] { return drawn(screenArea(QRect(screen.right() - 372, 44, 364, 80))); }))
            << "the notification was never drawn";
        save(screenArea(QRect(screen.right() - 400, 0, 400, 150)), QStringLiteral("notification.png"));
        sim.setStatusCode(10);
    }
    notices.terminate();
    notices.waitForFinished(5000);
    host.terminate();
    host.waitForFinished(5000);
#endif
    app.reset();
}

}  // namespace
