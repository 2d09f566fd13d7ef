// The printer as a Linux desktop presents it: the kernel's printer driver holds the
// interface from plug-in, the spooler's backend claims it while it prints.

#include "USBInteraction.h"
#include "UsbTestSupport.h"

namespace {

TEST_F(EmulatedUsbTest, ExchangeDetachesTheKernelDriverForItsTimeOnly)
{
    auto& printer = bus.plug();
    ASSERT_EQ(printer.interfaceDriver(), "usblp");
    const OpenFiles files;
    for (int round = 0; round < 2; ++round) {
        USBExchangeFailure failure{};
        EXPECT_TRUE(usbInteraction("CheckwifiAP?", 77, 0x37CE, &failure)) << round;
        EXPECT_EQ(failure, USBExchangeFailure::none);
        EXPECT_EQ(printer.interfaceDriver(), "usblp") << "the printer driver is given back";
    }
    EXPECT_TRUE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_EQ(printer.interfaceDriver(), "usblp") << "the status request leaves the driver alone";

    printer.setDetachRefused(true);  // no claim past a driver that stays
    USBExchangeFailure failure{};
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE, &failure));
    EXPECT_EQ(failure, USBExchangeFailure::failed);
    EXPECT_EQ(printer.commands().size(), 2u);
    EXPECT_EQ(printer.interfaceDriver(), "usblp");
    EXPECT_TRUE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_TRUE(released(files, printer));
}

TEST_F(EmulatedUsbTest, WhileAnotherProgramPrintsCommandsAreBusyAndStatusStillReads)
{
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2003);
    const OpenFiles files;
    printer.setHeldByAnotherProgram(true);
    USBExchangeFailure failure{};
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE, &failure));
    EXPECT_EQ(failure, USBExchangeFailure::interfaceBusy);
    EXPECT_TRUE(printer.commands().empty()) << "nothing is sent without the interface";
    EXPECT_EQ(usbStatusRequest(0x37CE, 77).code, 2003);
    EXPECT_EQ(printer.interfaceDriver(), "usbfs") << "the other program keeps its claim";

    printer.setHeldByAnotherProgram(false);
    EXPECT_TRUE(usbInteraction("CheckwifiAP?", 77, 0x37CE)) << "free again once the job is done";
    EXPECT_TRUE(released(files, printer));
}

}  // namespace
