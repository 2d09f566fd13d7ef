// The printer model with the real USB transport while printers come and go on the emulated bus.

#include "PrinterModel.h"
#include "QtTestApp.h"
#include "UsbTestSupport.h"
#include "UsbTransport.h"

#include <QTest>

#include <atomic>

namespace {

// Counts USB enumerations: each discovery run and each re-enumeration.
class CountingUsbTransport : public UsbTransport {
public:
    explicit CountingUsbTransport(int series) : UsbTransport(series) {}
    QList<Printer> getPrinterByIOUSB() override
    {
        ++enumerations;
        return UsbTransport::getPrinterByIOUSB();
    }
    std::atomic<int> enumerations = 0;
};

class UsbMonitorTest : public EmulatedUsbTest {
protected:
    void SetUp() override { testApp(); }

    // By default polling too slow to notice anything during a test: only plug reports can.
    PrinterModel& start(int series = 5, int pollMs = 60000)
    {
        transport = std::make_shared<CountingUsbTransport>(series);
        model = std::make_unique<PrinterModel>(transport, PrinterModel::Options{pollMs, series, 300});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model->isSearchingPrinter(); }, 5000));
        return *model;
    }

    std::shared_ptr<CountingUsbTransport> transport;
    std::unique_ptr<PrinterModel> model;
};

// A burst of plug reports causes one re-enumeration; the printer left plugged
// is listed, selected and read, shows disconnected the moment it is unplugged
// and is read again when it is back.
TEST_F(UsbMonitorTest, PlugReportsListReadAndDisconnectThePrinterAtOnce)
{
    const OpenFiles files;
    PrinterModel& m = start();
    ASSERT_EQ(transport->enumerations, 1);
    for (int i = 0; i < 3; ++i)
        bus.unplug(bus.plug());
    auto& printer = bus.plug();
    printer.simulator().setToner(42);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 10; }, 5000));
    QTest::qWait(500);
    EXPECT_EQ(transport->enumerations, 2);
    EXPECT_EQ(m.printerList(), QList<Printer>{m.selectedPrinter()});

    bus.unplug(printer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 4444; }, 5000));
    EXPECT_EQ(m.statusInfo().toner, 42) << "the last known level stays";
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.printerList().isEmpty(); }, 5000));

    bus.plug().simulator().setStatusCode(2003);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 2003; }, 5000)) << "read again when it is back";
    EXPECT_EQ(m.printerList(), QList<Printer>{m.selectedPrinter()});

    model.reset();
    transport.reset();
    EXPECT_TRUE(files.unchanged()) << "the watch's libusb context and thread are gone with the model";
}

// A sleeping printer (2009) is left alone only if it wakes on its own.
TEST_F(UsbMonitorTest, SleepStopsPollingOnlyForModelsThatWake)
{
    for (const auto& [series, pid, wakes] : {std::tuple{1, 301, true}, std::tuple{5, 77, false}}) {
        auto& printer = bus.plug({.productID = std::uint16_t(pid)});
        printer.simulator().setStatusCode(2009);
        PrinterModel& m = start(series, 50);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 2009; }, 5000)) << series;
        EXPECT_EQ(m.isWakeUp(), !wakes) << series;
        const auto polls = printer.controlRequests().size();
        QTest::qWait(300);
        EXPECT_EQ(printer.controlRequests().size() > polls, !wakes) << series;
        bus.unplug(printer);
    }
}

}  // namespace
