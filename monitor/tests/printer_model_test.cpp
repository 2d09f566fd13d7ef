#include "PrinterModel.h"
#include "QtTestApp.h"
#include "ScriptedTransport.h"
#include "SharedData.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QThread>

#include <thread>

namespace {

constexpr int kInterval = 20;  // ms, standing in for the 6 s poll
constexpr int kWait = 5000;
constexpr int kSettle = 30;  // ms that end a burst of USB plug events

Printer usbPrinter(int series, size_t row) { return Printer::fromUSBDevice(catalogueFor(series)[row], printerVendorID, catalogueFor(series)[row].PID); }
Printer netPrinter() { return Printer::fromNetworkDevice(catalogueFor(5)[0], QStringLiteral("192.168.1.20")); }

class PrinterModelTest : public ::testing::Test {
protected:
    void SetUp() override { testApp(); }

    void TearDown() override
    {
        transport->discoveryGate.open();
        transport->statusGate.open();
        model.reset();
        EXPECT_EQ(notificationsOffMainThread, 0);
    }

    PrinterModel& start(int series = 5, int interval = kInterval)
    {
        model = std::make_unique<PrinterModel>(transport, PrinterModel::Options{interval, series, kSettle});
        for (auto signal : {&PrinterModel::printerListChanged, &PrinterModel::selectedPrinterChanged,
                            &PrinterModel::statusInfoChanged, &PrinterModel::timerModeChanged,
                            &PrinterModel::showNoPrinterAlterChanged, &PrinterModel::showRefreshAlterChanged,
                            &PrinterModel::isSearchingPrinterChanged})
            QObject::connect(model.get(), signal, [this] { notificationsOffMainThread += QThread::currentThread() != testApp().thread(); });
        return *model;
    }

    bool until(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWait); }
    bool discoveryDone() { return until([this] { return !model->isSearchingPrinter(); }); }
    bool queriesReach(qsizetype n) { return until([this, n] { return transport->queryCount() >= n; }); }
    bool statusCodeBecomes(qint64 code) { return until([this, code] { return model->statusInfo().code == code; }); }
    bool gateHolds(Gate& gate) { return until([&gate] { return gate.waiting() == 1; }); }

    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::unique_ptr<PrinterModel> model;
    int notificationsOffMainThread = 0;
};

TEST_F(PrinterModelTest, NoPrinterFound)
{
    PrinterModel& m = start();
    EXPECT_TRUE(m.isSearchingPrinter());
    ASSERT_TRUE(discoveryDone());
    EXPECT_TRUE(m.printerList().isEmpty());
    EXPECT_EQ(m.statusInfo().message, u"没有连接的设备");
    EXPECT_EQ(m.statusInfo().toner, std::nullopt);
    EXPECT_TRUE(m.showNoPrinterAlter());
    EXPECT_EQ(m.timerMode(), TimerMode::stopped);

    // Polling the placeholder: the mode says running, but nothing ticks.
    m.startTimer();
    EXPECT_EQ(m.timerMode(), TimerMode::running);
    QTest::qWait(5 * kInterval);
    EXPECT_EQ(transport->queryCount(), 0);
}

TEST_F(PrinterModelTest, USBPrinterListedFirstSelectedAndPolledThenAClickedNetworkOne)
{
    const Printer usb = usbPrinter(5, 0);
    const Printer net = netPrinter();
    transport->scriptDiscovery({{usb}}, {{net}});
    transport->scriptReadings(true, {{true, 1, 80}, {true, 2, std::nullopt}, {false, 0, 0}}, {true, 1, 30});

    PrinterModel& m = start();
    ASSERT_TRUE(discoveryDone());
    ASSERT_EQ(m.printerList(), (QList<Printer>{usb, net}));
    EXPECT_EQ(m.selectedPrinter(), usb);
    EXPECT_FALSE(m.showNoPrinterAlter());
    ASSERT_TRUE(statusCodeBecomes(1));
    EXPECT_EQ(m.statusInfo().toner, 80);

    // An unreadable level is no news, nor is an unplugged printer: the last known one stands.
    ASSERT_TRUE(statusCodeBecomes(2));
    EXPECT_EQ(m.statusInfo().toner, 80);
    ASSERT_TRUE(statusCodeBecomes(4444));
    EXPECT_EQ(m.statusInfo().discription, u"请检查设备的连接情况");
    EXPECT_EQ(m.statusInfo().toner, 80);
    ASSERT_TRUE(statusCodeBecomes(1));  // the next tick retries
    EXPECT_EQ(m.statusInfo().toner, 30);
    for (const auto& q : transport->queries())
        EXPECT_EQ(q.printer, usb);

    // Clicked, the network printer is polled over SNMP.
    transport->scriptReadings(false, {{true, 3004, 60}, {false, 0, 0}}, {true, 1, 55});
    m.clickPrinter(m.printerList().at(1));
    EXPECT_EQ(m.statusInfo().code, 5555);
    ASSERT_TRUE(statusCodeBecomes(4444));
    EXPECT_EQ(m.statusInfo().discription, u"连接断开，请查看设备的网络连接情况");
    EXPECT_EQ(m.statusInfo().toner, 60);
    ASSERT_TRUE(statusCodeBecomes(1));
    EXPECT_FALSE(transport->queries().last().usb);
    EXPECT_EQ(transport->queries().last().printer, net);
}

TEST_F(PrinterModelTest, RefreshesPublishOnlyTheLatestRunAndStartOver)
{
    const Printer stale = usbPrinter(5, 0);
    const Printer fresh = usbPrinter(5, 0);
    const Printer third = usbPrinter(5, 0);
    transport->scriptDiscovery({{stale}, {fresh}, {third}}, {});
    transport->discoveryGate.close();

    PrinterModel& m = start();
    QList<QList<Printer>> published;
    int searchEnded = 0;
    QObject::connect(&m, &PrinterModel::printerListChanged, [&] { published.append(m.printerList()); });
    QObject::connect(&m, &PrinterModel::isSearchingPrinterChanged, [&] { searchEnded += !m.isSearchingPrinter(); });

    ASSERT_TRUE(gateHolds(transport->discoveryGate));
    m.refresh();  // while the first run is still searching
    m.refresh();  // and again: the run in between never starts
    transport->discoveryGate.open();

    ASSERT_TRUE(discoveryDone());
    QTest::qWait(3 * kInterval);  // room for a late result of the first run
    EXPECT_EQ(m.selectedPrinter(), fresh);
    EXPECT_EQ(transport->discoveryRuns(), 2);
    EXPECT_EQ(searchEnded, 1);
    for (const auto& list : published)
        EXPECT_FALSE(list.contains(stale));

    // While polling: stopped and emptied at once, then started over.
    ASSERT_TRUE(queriesReach(2));
    m.refresh();
    EXPECT_TRUE(m.selectedPrinter().name.isEmpty());
    EXPECT_EQ(m.statusInfo().code, 5555);
    EXPECT_FALSE(m.timer().isActive());
    EXPECT_TRUE(m.printerList().isEmpty());
    ASSERT_TRUE(discoveryDone());
    EXPECT_EQ(m.printerList(), QList<Printer>{third});
    ASSERT_TRUE(queriesReach(transport->queryCount() + 2));
    EXPECT_EQ(transport->queries().last().printer, third);
}

// Sleep (2009) stops the polling of a printer that can send its wake-up
// notice, until it does or is clicked; any other printer is polled on. The
// listener for the notice runs in series 1 only and writes on the main thread.
TEST_F(PrinterModelTest, SleepStopsPollingOnlyOfAPrinterWithWakeUp)
{
    for (const Printer& p : {usbPrinter(1, 0), usbPrinter(5, 0)}) {
        SCOPED_TRACE(p.name.toStdString());
        model.reset();
        transport = std::make_shared<ScriptedTransport>();
        transport->scriptDiscovery({{p}}, {});
        transport->scriptReadings(true, {{true, 2009, 50}}, {true, 1, 70});
        PrinterModel& m = start(p.hasWakeUp ? 1 : 5);
        EXPECT_EQ(transport->wakeUpServers, p.hasWakeUp ? 1 : 0);
        ASSERT_TRUE(discoveryDone());
        ASSERT_TRUE(statusCodeBecomes(2009));
        EXPECT_EQ(m.isWakeUp(), !p.hasWakeUp);
        EXPECT_EQ(m.timerMode(), TimerMode::running);
        const qsizetype asleep = transport->queryCount();
        if (!p.hasWakeUp) {
            EXPECT_TRUE(queriesReach(asleep + 3));
            continue;
        }
        QTest::qWait(6 * kInterval);
        m.updateStatus(m.selectedPrinter());
        EXPECT_FALSE(m.timer().isActive());
        QTest::qWait(2 * kInterval);
        EXPECT_EQ(transport->queryCount(), asleep);

        m.clickPrinter(m.printerList().first());
        EXPECT_TRUE(m.isWakeUp());
        ASSERT_TRUE(statusCodeBecomes(1));
        EXPECT_TRUE(queriesReach(asleep + 3));
        std::thread([&m] { m.setIsWakeUp(false); }).join();
        EXPECT_TRUE(m.isWakeUp());  // not before the main thread gets to it
        EXPECT_TRUE(until([&m] { return !m.isWakeUp(); }));
    }
}

// Ticks lapse while a query is unanswered: queued, they would all run the
// moment the printer answers. A reading on its way while the user picks
// another printer belongs to the old one: it must neither show nor put the
// new selection to sleep.
TEST_F(PrinterModelTest, TicksLapseWhileAQueryIsUnansweredAndItsReadingIsDroppedForAReplacedSelection)
{
    const Printer first = usbPrinter(1, 0);
    const Printer second = usbPrinter(1, 1);
    ASSERT_TRUE(first.hasWakeUp && second.hasWakeUp);
    transport->scriptDiscovery({{first, second}}, {});
    transport->scriptReadings(true, {{true, 2009, 10}}, {true, 1, 90});
    transport->statusGate.close();

    PrinterModel& m = start();
    ASSERT_TRUE(discoveryDone());
    ASSERT_TRUE(gateHolds(transport->statusGate));
    QTest::qWait(10 * kInterval);
    EXPECT_EQ(transport->queryCount(), 1);
    QStringList shown;
    QObject::connect(&m, &PrinterModel::statusInfoChanged, [&] { shown.append(m.statusInfo().message); });
    m.clickPrinter(m.printerList().at(1));
    transport->statusGate.open();
    QTest::qWait(kInterval / 4);
    EXPECT_LE(transport->queryCount(), 3);  // the held one, the click's and at most one tick

    ASSERT_TRUE(statusCodeBecomes(1));
    EXPECT_FALSE(shown.contains(QStringLiteral("休眠")));
    EXPECT_TRUE(m.isWakeUp());
    ASSERT_TRUE(queriesReach(transport->queryCount() + 2));
    EXPECT_EQ(transport->queries().last().printer, second);
}

// A one-shot reading is the only query, however long it takes: no tick
// starts another while it is out or after it came.
TEST_F(PrinterModelTest, ReadOnceQueriesOnceThoughTheReadingOutlastsThePollInterval)
{
    PrinterModel& m = start();
    ASSERT_TRUE(discoveryDone());
    transport->scriptReadings(false, {}, {true, 3004, 40});
    transport->statusGate.close();
    m.readOnce(netPrinter());
    ASSERT_TRUE(gateHolds(transport->statusGate));
    QTest::qWait(3 * kInterval);
    transport->statusGate.open();
    ASSERT_TRUE(statusCodeBecomes(3004));
    QTest::qWait(5 * kInterval);
    EXPECT_EQ(transport->queryCount(), 1);
    EXPECT_EQ(m.timerMode(), TimerMode::stopped);
}

TEST(SharedData, PrinterModelIsMadeOnceAndSearchesAtOnce)
{
    testApp();
    PrinterModel& model = SharedData::printerModel();
    EXPECT_EQ(&SharedData::printerModel(), &model);
    EXPECT_FALSE(SharedData::setPrinterTransport(std::make_shared<ScriptedTransport>()));
    ASSERT_TRUE(QTest::qWaitFor([&model] { return !model.isSearchingPrinter(); }, kWait));
    EXPECT_TRUE(model.showNoPrinterAlter());
}

// Plug and unplug, as the USB watch reports them.
TEST_F(PrinterModelTest, PlugEventsListSelectAndReEnumerateOnceAndUnpluggingShowsTheSelectedGone)
{
    const Printer usb = usbPrinter(5, 0);
    const Printer net = netPrinter();
    for (const QList<Printer>& netAtStart : {QList<Printer>{}, QList<Printer>{net}}) {
        model.reset();
        transport = std::make_shared<ScriptedTransport>();
        transport->scriptDiscovery({{}, {usb}, {}, {usb}}, {netAtStart});
        PrinterModel& m = start(5, 60000);  // no tick can bring the news
        ASSERT_TRUE(discoveryDone());
        const Printer selected = m.selectedPrinter();

        transport->reportUSB({true, usb.VID, usb.PID});
        ASSERT_TRUE(until([&] { return m.printerList() == QList<Printer>{usb} + netAtStart; }))
            << "USB first; the network entries as they were";
        if (netAtStart.isEmpty()) {
            EXPECT_EQ(m.selectedPrinter(), usb);
            ASSERT_TRUE(queriesReach(1)) << "selected and queried at once, not at the next tick";
            EXPECT_EQ(m.timerMode(), TimerMode::running);
            continue;
        }
        EXPECT_EQ(m.selectedPrinter(), selected);

        m.clickPrinter(usb);
        ASSERT_TRUE(statusCodeBecomes(1));
        transport->reportUSB({false, usb.VID, usb.PID});
        ASSERT_TRUE(statusCodeBecomes(4444));
        ASSERT_TRUE(until([&] { return m.printerList() == QList<Printer>{net}; }));
        EXPECT_EQ(m.selectedPrinter(), usb) << "the unplugged printer stays selected";

        // Back again: the same record, read at once.
        const qsizetype queries = transport->queryCount();
        transport->reportUSB({true, usb.VID, usb.PID});
        ASSERT_TRUE(until([&] { return m.printerList() == QList<Printer>{usb, net}; }));
        ASSERT_TRUE(statusCodeBecomes(1));
        EXPECT_EQ(transport->queryCount(), queries + 1);

        // A burst of plug events: one re-enumeration.
        for (int i = 0; i < 6; ++i)
            transport->reportUSB({i % 2 == 1, usb.VID, usb.PID});
        ASSERT_TRUE(until([&] { return transport->discoveryRuns() == 5; }));
        QTest::qWait(10 * kSettle);
        EXPECT_EQ(transport->discoveryRuns(), 5);
        EXPECT_EQ(m.printerList(), (QList<Printer>{usb, net}));

        // A plug during a refresh, after its USB step: listed once, not twice.
        transport->discoveryGate.close();
        m.refresh();
        ASSERT_TRUE(gateHolds(transport->discoveryGate));
        transport->reportUSB({true, usb.VID, usb.PID});
        QTest::qWait(5 * kSettle);
        transport->discoveryGate.open();
        ASSERT_TRUE(discoveryDone());
        ASSERT_TRUE(until([&] { return transport->discoveryRuns() == 7; }));
        QTest::qWait(5 * kSettle);
        EXPECT_EQ(m.printerList(), (QList<Printer>{usb, net}));
    }
}

}  // namespace
