// Plug and unplug on the emulated bus while the printer model runs with the
// real USB transport.

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

class UsbHotplugTest : public EmulatedUsbTest {
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

TEST_F(UsbHotplugTest, PrinterPluggedInAfterStartIsListedSelectedAndRead)
{
    const OpenFiles files;
    PrinterModel& m = start();
    ASSERT_TRUE(m.printerList().isEmpty());

    bus.plug().simulator().setStatusCode(3004);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 3004; }, 5000));
    ASSERT_EQ(m.printerList().size(), 1);
    EXPECT_EQ(m.selectedPrinter(), m.printerList().first());
    EXPECT_EQ(m.selectedPrinter().label, u"VEXO(USB)");

    model.reset();
    transport.reset();
    EXPECT_TRUE(files.unchanged()) << "the watch's libusb context and thread are gone with the model";
}

TEST_F(UsbHotplugTest, UnpluggingTheSelectedPrinterShowsDisconnectedAtOnce)
{
    auto& printer = bus.plug();
    PrinterModel& m = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 10; }, 5000));

    bus.unplug(printer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 4444; }, 5000));
    EXPECT_EQ(m.statusInfo().message, u"连接断开");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.printerList().isEmpty(); }, 5000));

    bus.plug().simulator().setStatusCode(2003);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.statusInfo().code == 2003; }, 5000)) << "read again when it is back";
    EXPECT_EQ(m.printerList(), QList<Printer>{m.selectedPrinter()});
}

TEST_F(UsbHotplugTest, PlugUnplugBurstCausesOneReEnumeration)
{
    start();
    ASSERT_EQ(transport->enumerations, 1);
    for (int i = 0; i < 3; ++i)
        bus.unplug(bus.plug());
    bus.plug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->printerList().size() == 1; }, 5000));
    QTest::qWait(500);
    EXPECT_EQ(transport->enumerations, 2);
    EXPECT_EQ(model->statusInfo().code, 10);
}

}  // namespace
