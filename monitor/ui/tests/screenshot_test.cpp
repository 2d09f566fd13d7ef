// The real window on a real X server (Xvfb, started here) watching the
// simulated printer on an emulated USB bus, through the same shared models
// and transports as the program. Saves what it shows as PNGs: to
// VEXO_SCREENSHOT_DIR when set (the README's pictures), else to a folder in
// the build tree.

#include "AppAutoStartUtils.h"
#include "ContentView.h"
#include "EmulatedUsbPrinter.h"
#include "MonitorApp.h"
#include "MonitorTray.h"
#include "NetTransport.h"
#include "PrinterModel.h"
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
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QTabWidget>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";

// An X server of its own, found by -displayfd, so parallel runs never meet.
class PrivateXServer {
public:
    bool start()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            // The server is not a client of the emulated bus.
            unsetenv("LD_PRELOAD");
            const int out = dup(fds[1]);
            const std::string fd = std::to_string(out);
            // Dies with the test, however the test ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            execl(kXvfb, kXvfb, "-displayfd", fd.c_str(), "-screen", "0", "1280x900x24", "-nolisten", "tcp",
                  "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return false;
        display_ = ":" + number;
        return true;
    }
    ~PrivateXServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

QString shotFolder()
{
    const QByteArray wanted = qgetenv("VEXO_SCREENSHOT_DIR");
    const QString dir = wanted.isEmpty() ? QStringLiteral(VEXO_SCREENSHOT_DEFAULT_DIR) : QString::fromLocal8Bit(wanted);
    QDir().mkpath(dir);
    return dir;
}

std::size_t colourCount(const QImage& image, int step = 1)
{
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += step)
        for (int x = 0; x < image.width(); x += step)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

// A picture worth keeping: the window's size and more than a flat fill.
void saveShot(QWidget& window, const QString& name)
{
    const QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), window.size() * window.devicePixelRatio());
    EXPECT_GT(colourCount(image, 3), 16u) << name.toStdString() << " looks blank";
    EXPECT_TRUE(image.save(shotFolder() + QLatin1Char('/') + name)) << name.toStdString();
}

// A part of the screen as the X server shows it, other programs' windows
// included.
QImage screenArea(const QRect& area)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

// Once `shown` is drawn there (text brings many shades), saves `area`.
void saveScreen(const QRect& area, const QRect& shown, const QString& name)
{
    ASSERT_TRUE(waitFor([&] { return colourCount(screenArea(shown)) > 16; })) << name.toStdString() << " never drawn";
    const QImage image = screenArea(area);
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(shotFolder() + QLatin1Char('/') + name)) << name.toStdString();
}

// Made before the application object, so that both outlive it: Qt's
// shutdown still talks to the X server, and the models' last exchange to the bus.
PrivateXServer& xServer()
{
    static PrivateXServer server;
    return server;
}
usbemu::UsbBus& usbBus()
{
    static usbemu::UsbBus bus;
    return bus;
}

class Screenshots : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (access(kXvfb, X_OK) != 0 || !xServer().start())
            return;
        setenv("DISPLAY", xServer().display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The bus must be there before the transport's first libusb context.
        printer_ = &usbBus().plug(usbemu::DeviceLayout{.productID = 77});
        static int argc = 1;
        static char name[] = "vexoStateMonitor";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        vexo::net::NetTransportOptions quiet;
        // No broadcasts onto the machine's networks; the printer is on USB.
        quiet.interfaces = [] { return std::vector<vexo::net::InterfaceAddress>{}; };
        quiet.wakeUpPort = 0;
        SharedData::setPrinterTransport(
            std::make_shared<SystemTransport>(std::make_shared<vexo::net::NetTransport>(quiet)));
    }
    // Closed while the X server is still there; at exit Qt's display
    // clean-up would run after the libraries it needs are gone.
    static void TearDownTestSuite()
    {
        delete app_;
        app_ = nullptr;
    }

    void SetUp() override
    {
        if (!printer_)
            GTEST_SKIP() << "needs Xvfb";
        ASSERT_TRUE(dir_.isValid());
        settings_ = std::make_unique<QSettings>(dir_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        Preference::setStartup(*settings_, true);
        startup_ = std::make_unique<StartAtLogin>(
            *settings_, AutoStartPlace{dir_.filePath(QStringLiteral("none")), dir_.filePath(QStringLiteral("autostart")),
                                       QStringLiteral("no-such-bus")});
        sim().setStatusCode(10);
        sim().setToner(68);
        sim().setVisibleNetworks({{"HomeNet", 4}, {"Office-5G", 3}, {"Lab", 1}});
    }

    std::unique_ptr<ContentView> openWindow(const QLocale& language)
    {
        vexo::ui::useLanguageOf(language);
        auto window = std::make_unique<ContentView>(SharedData::printerModel(), SharedData::networkModel(), *startup_);
        window->show();
        return window;
    }

    static vexo::sim::SimulatedPrinter& sim() { return printer_->simulator(); }
    template <class T>
    static T* find(QWidget& window, const char* name)
    {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    static bool showing(QWidget& window, const char* label, const QString& text)
    {
        const QLabel* l = find<QLabel>(window, label);
        return l && l->text() == text;
    }

    static QApplication* app_;
    static usbemu::EmulatedUsbPrinter* printer_;
    QTemporaryDir dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<StartAtLogin> startup_;
};

QApplication* Screenshots::app_ = nullptr;
usbemu::EmulatedUsbPrinter* Screenshots::printer_ = nullptr;

TEST_F(Screenshots, WindowFollowsTheSimulatedPrinterAndItsSettings)
{
    // The Chinese texts need a font that has them, or the pictures show boxes.
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
        << "no Chinese font; run scripts/install-deps";

    auto window = openWindow(QLocale(QLocale::English, QLocale::UnitedStates));
    ASSERT_TRUE(waitFor([&] { return showing(*window, "message", QStringLiteral("就绪")); }, std::chrono::seconds(20)))
        << "the simulated printer was never shown ready";
    EXPECT_TRUE(showing(*window, "model", QStringLiteral("Model: VEXO")));
    EXPECT_TRUE(showing(*window, "code", QStringLiteral("Status code: 0010")));
    ASSERT_TRUE(waitFor([&] { return find<QWidget>(*window, "toner")->isVisible(); }));
    saveShot(*window, QStringLiteral("monitor.png"));

    // A change on the printer reaches the window by the next poll.
    sim().setStatusCode(3004);
    sim().setToner(9);
    ASSERT_TRUE(waitFor([&] { return showing(*window, "message", QStringLiteral("前盖打开")); },
                        std::chrono::seconds(15)));
    EXPECT_TRUE(showing(*window, "advice", QStringLiteral("请关闭前盖")));
    saveShot(*window, QStringLiteral("monitor-cover-open.png"));

    // The settings panel reads the printer's Wi-Fi over the same USB device.
    sim().setStatusCode(10);
    sim().setToner(68);
    auto* button = find<QPushButton>(*window, "networkSetting");
    ASSERT_TRUE(button && button->isVisible()) << "a USB printer with Wi-Fi offers its network settings";
    button->click();
    ASSERT_EQ(find<QStackedWidget>(*window, "panel")->currentIndex(), 1);
    auto* hotSpots = find<QComboBox>(*window, "hotSpots");
    ASSERT_TRUE(waitFor([&] { return hotSpots->count() == 3; }, std::chrono::seconds(20)));
    EXPECT_EQ(hotSpots->itemText(0), QStringLiteral("HomeNet"));
    find<QTabWidget>(*window, "networkSettingView")->setCurrentIndex(1);
    saveShot(*window, QStringLiteral("network-settings.png"));
    find<QPushButton>(*window, "clientClose")->click();
    window.reset();

    // The same printer in the Chinese window.
    auto chinese = openWindow(QLocale(QLocale::Chinese, QLocale::China));
    EXPECT_EQ(find<QLabel>(*chinese, "listTitle")->text(), QStringLiteral("打印机列表"));
    ASSERT_TRUE(waitFor([&] { return showing(*chinese, "message", QStringLiteral("就绪")); }, std::chrono::seconds(15)));
    ASSERT_TRUE(waitFor([&] { return showing(*chinese, "code", QStringLiteral("当前状态码: 0010")); }));
    saveShot(*chinese, QStringLiteral("monitor-zh.png"));
}

TEST_F(Screenshots, TrayMenuAndNotificationOnTheDesktop)
{
#ifndef VEXO_TRAY_HOST
    GTEST_SKIP() << "no tray host was built (needs the xcb headers)";
#else
    const QString dunst = QStandardPaths::findExecutable(QStringLiteral("dunst"));
    if (dunst.isEmpty() || !PrivateSessionBus::available())
        GTEST_SKIP() << "needs dunst and dbus-daemon; run scripts/install-deps";
    PrivateSessionBus bus;
    const QString address = bus.start();
    ASSERT_FALSE(address.isEmpty());
    // Nothing here may reach the desktop's own bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));

    // A panel with a tray in the top right corner, and the notification service.
    QProcess host;
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(VEXO_TRAY_HOST), {QStringLiteral("120")});
    ASSERT_TRUE(host.waitForReadyRead(10000) && host.readAll().contains("tray ready"));
    QProcess notices;
    notices.setProcessEnvironment(env);
    notices.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    notices.start(dunst, {QStringLiteral("-config"), QStringLiteral(VEXO_DUNSTRC)});
    QDBusConnection watch = bus.connect(QStringLiteral("watch"));
    ASSERT_TRUE(waitFor([&] {
        return watch.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
    }));
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));

    // Started at login: into the tray, no window.
    vexo::ui::useLanguageOf(QLocale(QLocale::English, QLocale::UnitedStates));
    MonitorApp::Options options;
    options.quiet = true;
    options.bus = bus.connect(QStringLiteral("monitor"));
    options.place = {dir_.filePath(QStringLiteral("none")), dir_.filePath(QStringLiteral("autostart")),
                     QStringLiteral("no-such-bus")};
    MonitorApp monitor(SharedData::printerModel(), SharedData::networkModel(), *settings_, options);
    monitor.start();
    ASSERT_NE(monitor.tray(), nullptr);
    EXPECT_FALSE(monitor.window().isVisible());
    MonitorTray& tray = *monitor.tray();
    // Docked: the icon sits in the panel in the top right corner.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_TRUE(waitFor([&] {
        return tray.look() == vexo::ui::PrinterLook::normal && tray.icon().geometry().left() > screen.right() - 120;
    }, std::chrono::seconds(20)));
    EXPECT_EQ(tray.icon().toolTip(), QStringLiteral("VEXO(USB)\n就绪\nToner: 68%"));

    const QRect icon = tray.icon().geometry();
    tray.menu().popup(QPoint(icon.right() - tray.menu().sizeHint().width(), icon.bottom() + 8));
    ASSERT_TRUE(waitFor([&] { return tray.menu().isVisible(); }));
    saveScreen(QRect(screen.right() - 260, 0, 260, tray.menu().geometry().bottom() + 12), tray.menu().geometry(),
               QStringLiteral("tray-menu.png"));
    tray.menu().hide();

    // The front cover opens: one notification, drawn by the desktop.
    sim().setStatusCode(3004);
    ASSERT_TRUE(waitFor([&] { return tray.look() == vexo::ui::PrinterLook::error; }, std::chrono::seconds(15)));
    // Below the panel, where the service puts it.
    saveScreen(QRect(screen.right() - 400, 0, 400, 150), QRect(screen.right() - 372, 44, 364, 80),
               QStringLiteral("notification.png"));
    sim().setStatusCode(10);

    notices.terminate();
    notices.waitForFinished(5000);
    host.terminate();
    host.waitForFinished(5000);
#endif
}

}  // namespace
