#include "ContentView.h"
#include "DesktopNotifications.h"
#include "MonitorApp.h"
#include "MonitorTray.h"
#include "PrivateSessionBus.h"
#include "StatusDecoding.h"
#include "UiTestApp.h"

#include <QAction>
#include <QDBusConnectionInterface>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QString decoded(qint64 code)
{
    const auto info = decodeStatusInfo(code, "LM310NW");
    const QString advice = QString::fromStdString(info.discription);
    return QString::fromStdString(info.message) + (advice.isEmpty() ? QString() : u'\n' + advice);
}

// The desktop's notification service as far as the monitor uses it: every
// call is recorded, and each gets a new id unless it replaces one.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        uint replacesId, id;
        QString summary, body;
        int urgency;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int)
    {
        const uint id = replacesId ? replacesId : uint(calls.size() + 1);
        calls.append({replacesId, id, summary, body, hints.value(QStringLiteral("urgency"), -1).toInt()});
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    void CloseNotification(uint) {}
};

class TrayTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        // Not the first start: nothing is registered to start at login.
        settings->setValue(QStringLiteral("startupforvexo"), false);
        transport->scriptDiscovery({{usbPrinter()}}, {{}});
    }

    // A bus of the test's own; with `service` the recording server owns the
    // notification name on it.
    void startBus(bool service)
    {
        if (!PrivateSessionBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_FALSE(bus.start().isEmpty());
        if (!service)
            return;
        QDBusConnection desktop = bus.connect(QStringLiteral("desktop"));
        ASSERT_TRUE(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                           QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    void start(bool tray, bool quiet = false, int pollMs = 6000)
    {
        printers = std::make_unique<PrinterModel>(transport, PrinterModel::Options{pollMs, 5});
        network = std::make_unique<NetworkModel>(*printers);
        MonitorApp::Options options;
        options.quiet = quiet;
        options.trayAvailable = [tray] { return tray; };
        options.bus = bus.address().isEmpty() ? QDBusConnection(QStringLiteral("none"))
                                              : bus.connect(QStringLiteral("monitor"));
        options.place = noHelper();
        monitor = std::make_unique<MonitorApp>(*printers, *network, *settings, options);
        monitor->start();
    }

    void waitForFirstReading()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return printers->statusInfo().code != 5555 && transport->queryCount() > 0; },
                                    5000));
    }

    // Dismisses what the window raised after its search, so that only the
    // window itself is left open.
    void dismissAlerts()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !printers->isSearchingPrinter(); }, 5000));
        printers->setShowRefreshAlter(false);
        printers->setShowNoPrinterAlter(false);
    }

    // Runs the application's own loop after `act`; its exit code, or 7 when
    // nothing ended it within the time given.
    static int runAfter(const std::function<void()>& act)
    {
        QTimer::singleShot(0, act);
        QTimer::singleShot(500, [] { QCoreApplication::exit(7); });
        return QApplication::exec();
    }

    PrivateSessionBus bus;
    NotificationServer server;
    std::unique_ptr<MonitorApp> monitor;
};

TEST_F(TrayTest, OneNotificationPerChangeReplacingTheOneOfTheSameState)
{
    startBus(true);
    transport->scriptReadings(true,
                              {{true, 1, 50}, {true, 3004, 50}, {true, 3004, 50}, {true, 3004, 9}, {false, 0, 0},
                               {true, 1, 9}},
                              {true, 3004, 9});
    start(false, false, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() >= 5; }, 10000));
    QTest::qWait(500);  // the steady cover-open polls add nothing

    // The front cover opens again: the earlier notice is replaced, not stacked.
    const NotificationServer::Call wanted[] = {
        {0, 1, {}, decoded(3004), 2},
        {0, 2, {}, QStringLiteral("Toner low: 9% left."), 1},
        {0, 3, {}, QStringLiteral("连接断开\n请检查设备的连接情况"), 2},
        {0, 4, {}, "The printer is ready again.\n" + QString::fromStdString(decodeStatusInfo(1, "LM310NW").message), 0},
        {1, 1, {}, decoded(3004), 2}};
    ASSERT_EQ(server.calls.size(), std::size(wanted));
    for (size_t i = 0; i < std::size(wanted); ++i) {
        const auto& c = server.calls[qsizetype(i)];
        EXPECT_EQ(c.summary, u"LM310NW(USB)");
        EXPECT_EQ(std::tie(c.replacesId, c.body, c.urgency), std::tie(wanted[i].replacesId, wanted[i].body, wanted[i].urgency))
            << i << ": " << c.body.toStdString();
    }
}

TEST_F(TrayTest, SwitchedOffInTheMenuOrTheSettingsNothingIsShown)
{
    startBus(true);
    settings->setValue(MonitorApp::notificationsKey, false);
    transport->scriptReadings(true, {{true, 3004, 5}}, {true, 3004, 5});
    start(true);
    EXPECT_FALSE(monitor->tray()->notificationsAction()->isChecked());
    waitForFirstReading();

    // Switched on from the menu: stored, and the next change is told.
    monitor->tray()->notificationsAction()->trigger();
    EXPECT_TRUE(settings->value(MonitorApp::notificationsKey).toBool());
    printers->setStatusInfo(StatusInfo(1, QStringLiteral("就绪"), QString(), 5, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 1; }, 5000));

    monitor->tray()->notificationsAction()->trigger();
    EXPECT_FALSE(settings->value(MonitorApp::notificationsKey).toBool());
    printers->setStatusInfo(StatusInfo(3, QStringLiteral("前盖打开"), QStringLiteral("请关闭前盖"), 5, 3004));
    QTest::qWait(300);
    EXPECT_EQ(server.calls.size(), 1);
}

TEST_F(TrayTest, WithoutANotificationServiceCarriesOnAndSaysSoOnce)
{
    startBus(false);
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        logged.append(m);
    });
    transport->scriptReadings(true, {{true, 3004, 50}, {false, 0, 0}, {true, 1, 5}}, {true, 1, 5});
    start(false, false, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return printers->statusInfo().toner == 5; }, 10000));
    QTest::qWait(300);
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged.filter(QStringLiteral("notifications are not shown")).size(), 1) << logged.join(u'\n').toStdString();
    EXPECT_TRUE(monitor->window().isVisible());
}

TEST_F(TrayTest, IconTooltipAndMenuFollowThePrinter)
{
    transport->scriptReadings(true, {{true, 3004, 40}}, {true, 3004, 40});
    start(true);
    MonitorTray* tray = monitor->tray();
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->icon().isVisible());
    EXPECT_EQ(tray->icon().contextMenu(), &tray->menu());
    waitForFirstReading();
    EXPECT_EQ(tray->look(), vexo::ui::PrinterLook::error);
    EXPECT_EQ(tray->icon().toolTip(), "LM310NW(USB)\n前盖打开\nToner: 40%");

    const std::pair<StatusInfo, vexo::ui::PrinterLook> looks[] = {
        {StatusInfo(1, QStringLiteral("connecting"), QString(), 0, 5555), vexo::ui::PrinterLook::noPrinter},
        {StatusInfo(1, QStringLiteral("就绪"), QString(), 40, 1), vexo::ui::PrinterLook::normal},
        {StatusInfo(2, QStringLiteral("碳粉不足"), QString(), 8, 3009), vexo::ui::PrinterLook::warning},
        {StatusInfo(3, QStringLiteral("连接断开"), QString(), 0, 4444), vexo::ui::PrinterLook::disconnected},
    };
    for (const auto& [status, look] : looks) {
        printers->setStatusInfo(status);
        EXPECT_EQ(tray->look(), look) << status.code;
    }
    // No answer, no toner figure to show; nor for a level not known.
    EXPECT_EQ(tray->icon().toolTip(), "LM310NW(USB)\n连接断开");
    printers->setStatusInfo(StatusInfo(1, QStringLiteral("就绪"), QString(), std::nullopt, 1));
    EXPECT_EQ(tray->icon().toolTip(), "LM310NW(USB)\n就绪");

    dismissAlerts();
    const int runs = transport->discoveryRuns();
    tray->refreshAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transport->discoveryRuns() > runs; }, 5000));

    EXPECT_EQ(runAfter([tray] { tray->quitAction()->trigger(); }), 0);

    // Refreshing leaves no printer selected for a moment.
    printers->refresh();
    EXPECT_EQ(tray->look(), vexo::ui::PrinterLook::noPrinter);
    EXPECT_EQ(tray->icon().toolTip(), "No printer");
}

// Started at login, the monitor shows nothing where there is a tray, not
// even the search's alert, until opened; closing the window keeps it in the
// tray. Without a tray the window opens and closing it quits.
class TrayOrNot : public TrayTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TrayOrNot, StartedAtLoginThenClosed)
{
    const bool tray = GetParam();
    EXPECT_FALSE(MonitorApp::quietStart({QStringLiteral("vexoStateMonitor")}));
    start(tray, MonitorApp::quietStart({QStringLiteral("vexoStateMonitor"), launch::quietStartFlag}));
    waitForFirstReading();
    QTest::qWait(200);
    EXPECT_EQ(monitor->window().isVisible(), !tray);
    if (tray) {
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_FALSE(w->isVisible()) << w->metaObject()->className();
        monitor->tray()->openAction()->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return monitor->window().isVisible(); }, 2000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return monitor->window().refreshAlert() != nullptr; }, 2000));
    }
    dismissAlerts();
    EXPECT_EQ(runAfter([this] { monitor->window().close(); }), tray ? 7 : 0);
    EXPECT_FALSE(monitor->window().isVisible());
}
INSTANTIATE_TEST_SUITE_P(, TrayOrNot, ::testing::Bool());

TEST_F(TrayTest, StartedAgainOpensTheWindowOfTheMonitorInTheTray)
{
    startBus(false);
    start(true, true);
    ASSERT_TRUE(QDBusConnection(QStringLiteral("monitor")).registerService(launch::monitorIdentifier));
    EXPECT_FALSE(monitor->window().isVisible());

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(MONITOR_PROGRAM), {});
    ASSERT_TRUE(second.waitForStarted(5000));
    // This process answers the second one's call: wait with the loop running.
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAll().contains("the monitor runs already"));
    EXPECT_TRUE(monitor->window().isVisible());
}

}  // namespace

#include "tray_test.moc"
