#include "UsbTestSupport.h"

#include <cstdio>
#include <string>

namespace {

// Runs vexo-status; the child reaches the emulated bus through the preload
// and the bus folder it inherits.
std::string runVexoStatus(const std::string& arguments)
{
    return outputOf(std::string("timeout 20 ") + VEXO_STATUS_PATH + " " + arguments + " 2>/dev/null");
}

TEST_F(EmulatedUsbTest, VexoStatusListsAndReadsTheUsbPrinter)
{
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2000);
    printer.simulator().setToner(66);
    bus.plug({.vendorID = 0x046D, .productID = 77});

    const std::string list = runVexoStatus("--usb discover");
    EXPECT_NE(list.find("VEXO(USB)"), std::string::npos) << list;
    std::size_t usbPrinters = 0;
    for (std::size_t at = list.find("(USB)"); at != std::string::npos; at = list.find("(USB)", at + 1))
        ++usbPrinters;
    EXPECT_EQ(usbPrinters, 1u) << "the other vendor's device is not a printer:\n" << list;

    const std::string status = runVexoStatus("--usb --json status 1");
    EXPECT_NE(status.find("\"label\":\"VEXO(USB)\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"code\":2000"), std::string::npos) << status;
    EXPECT_NE(status.find("\"toner\":66"), std::string::npos) << status;
    EXPECT_FALSE(printer.controlRequests().empty());
}

}  // namespace
