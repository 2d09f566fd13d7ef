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
    CountingUsbTransport() : UsbTransport(5) {}
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

    // Polling too slow to notice anything during a test: only plug reports can.
    PrinterModel& start()
    {
        model = std::make_unique<PrinterModel>(transport, PrinterModel::Options{60000, 5, 300});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model->isSearchingPrinter(); }, 5000));
        return *model;
    }

    std::shared_ptr<CountingUsbTransport> transport = std::make_shared<CountingUsbTransport>();
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
    EXPECT_EQ(m.statusInfo().level, 3);
    EXPECT_EQ(m.statusInfo().discription, u"请检查设备的连接情况");
    EXPECT_EQ(m.statusInfo().toner, 42) << "the last known level stays";
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.printerList().isEmpty(); }, 5000));

    bus.plug().simulator().setStatusCode(2003);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 2003; }, 5000)) << "read again when it is back";
    EXPECT_EQ(m.printerList(), QList<Printer>{m.selectedPrinter()});

    model.reset();
    transport.reset();
    EXPECT_TRUE(files.unchanged()) << "the watch's libusb context and thread are gone with the model";
}

}  // namespace
