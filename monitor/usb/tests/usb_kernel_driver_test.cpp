// The printer as a Linux desktop presents it: the kernel's printer driver
// holds the interface from plug-in, and the spooler's backend claims it while
// it prints.

#include "CommandCarrier.h"
#include "USBInteraction.h"
#include "UsbTestSupport.h"

#include <libusb.h>

namespace {

// Another program holding the printer's interface through its own handle,
// the way the spooler's USB backend does for a job.
class OtherProgramsClaim {
public:
    OtherProgramsClaim()
    {
        EXPECT_EQ(libusb_init(&context_), 0);
        handle_ = libusb_open_device_with_vid_pid(context_, 0x37CE, 77);
        EXPECT_NE(handle_, nullptr);
        if (handle_) {
            libusb_set_auto_detach_kernel_driver(handle_, 1);
            EXPECT_EQ(libusb_claim_interface(handle_, 0), 0);
        }
    }
    ~OtherProgramsClaim()
    {
        if (handle_) {
            libusb_release_interface(handle_, 0);
            libusb_close(handle_);
        }
        libusb_exit(context_);
    }

private:
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

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
    EXPECT_TRUE(released(files, printer));
}

TEST_F(EmulatedUsbTest, WhileAnotherProgramPrintsCommandsAreBusyAndStatusStillReads)
{
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2003);
    const OpenFiles files;
    {
        const OtherProgramsClaim printing;
        ASSERT_EQ(printer.interfaceDriver(), "usbfs");
        USBExchangeFailure failure{};
        EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE, &failure));
        EXPECT_EQ(failure, USBExchangeFailure::interfaceBusy);
        EXPECT_TRUE(printer.commands().empty()) << "nothing is sent without the interface";
        // The carrier answers as the printer does while it prints.
        const Printer usb(QStringLiteral("V-100"), QStringLiteral("V-100(USB)"), QStringLiteral("USB"), QString(), 77,
                          0x37CE, 1, 1, false, QString());
        EXPECT_EQ(UsbCommandCarrier().exchange(usb, QStringLiteral("CheckwifiAP?")), QStringLiteral("1001"));

        const StatusReading reading = usbStatusRequest(0x37CE, 77);
        EXPECT_TRUE(reading.answered);
        EXPECT_EQ(reading.code, 2003);
        EXPECT_EQ(printer.interfaceDriver(), "usbfs") << "the other program keeps its claim";
    }
    EXPECT_EQ(printer.interfaceDriver(), "usblp");
    EXPECT_TRUE(usbInteraction("CheckwifiAP?", 77, 0x37CE)) << "free again once the job is done";
    EXPECT_TRUE(released(files, printer));
}

TEST_F(EmulatedUsbTest, KernelDriverThatCannotBeDetachedEndsTheExchange)
{
    auto& printer = bus.plug();
    printer.setDetachRefused(true);
    const OpenFiles files;
    USBExchangeFailure failure{};
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE, &failure));
    EXPECT_EQ(failure, USBExchangeFailure::failed);
    EXPECT_TRUE(printer.commands().empty());
    EXPECT_EQ(printer.interfaceDriver(), "usblp");
    EXPECT_TRUE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_TRUE(released(files, printer));
}

}  // namespace
