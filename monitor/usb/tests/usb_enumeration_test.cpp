#include "USBInteraction.h"
#include "UsbTestSupport.h"
#include "UsbTransport.h"

namespace {


TEST_F(EmulatedUsbTest, OnlyCatalogueDevicesOfOurVendorAreListed)
{
    auto& vexo = bus.plug({.productID = 77});
    auto& otherVendor = bus.plug({.vendorID = 0x046D, .productID = 77});
    auto& unknownModel = bus.plug({.productID = 79});
    auto& unreadable = bus.plug({.productID = 77, .unreadableDescriptors = true});

    const QList<Printer> found = getPrinterByIOUSB(catalogueFor(5));
    ASSERT_EQ(found.size(), 1);
    const Printer& p = found.first();
    EXPECT_EQ(p.name, "VEXO");
    EXPECT_EQ(p.label, "VEXO(USB)");
    EXPECT_EQ(p.type, "USB");
    EXPECT_EQ(p.ip, "");
    EXPECT_EQ(p.VID, 0x37CE);
    EXPECT_EQ(p.PID, 77);
    EXPECT_EQ(p.hasWifi, 1);
    EXPECT_FALSE(p.hasWakeUp);
    EXPECT_EQ(p.productImage, "alder");

    // Enumeration reads descriptors only: no device is opened.
    for (auto* printer : {&vexo, &otherVendor, &unknownModel, &unreadable}) {
        EXPECT_EQ(printer->timesOpened(), 0);
        EXPECT_TRUE(printer->controlRequests().empty());
    }
}

TEST_F(EmulatedUsbTest, TheBuildSeriesChoosesTheCatalogue)
{
    bus.plug({.productID = 5});    // QX-210nw, series 2 only
    bus.plug({.productID = 301});  // LX310W, full catalogue only
    QStringList series2, series1, series5;
    for (const Printer& p : UsbTransport(2).getPrinterByIOUSB())
        series2 << p.name;
    for (const Printer& p : UsbTransport(1).getPrinterByIOUSB())
        series1 << p.name;
    for (const Printer& p : UsbTransport(5).getPrinterByIOUSB())
        series5 << p.name;
    EXPECT_EQ(series2, QStringList{"QX-210nw"});
    EXPECT_EQ(series1, QStringList{"LX310W"});
    EXPECT_TRUE(series5.isEmpty());
}

}  // namespace
