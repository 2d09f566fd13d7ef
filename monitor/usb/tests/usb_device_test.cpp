#include "USBInteraction.h"
#include "UsbTestSupport.h"
#include "VantorIOUSB.h"

#include <libusb.h>

#include <mutex>
#include <stdexcept>

namespace {

// Only catalogue models of our vendor are listed, from the build's series,
// each with its serial number; other devices are known by their descriptors
// alone and never opened.
TEST_F(EmulatedUsbTest, EnumerationListsTheSeriesModelsOfOurVendorWithTheirSerials)
{
    const std::vector<usbemu::EmulatedUsbPrinter*> plugged = {
        &bus.plug({.productID = 77}), &bus.plug({.vendorID = 0x046D, .productID = 77}),
        &bus.plug({.productID = 79}), &bus.plug({.productID = 77, .unreadableDescriptors = true}),
        &bus.plug({.productID = 5, .serial = "QX-0042"}), &bus.plug({.productID = 301, .serial = ""})};
    const OpenFiles files;
    for (const auto& [series, expected] : {std::pair{5, "VEXO/VX77000001"}, std::pair{2, "QX-210nw/QX-0042"},
                                           std::pair{1, "LX310W/"}}) {
        std::vector<std::string> found;
        for (const FoundDevice& d : getPrinterByIOUSB(catalogueFor(series)))
            found.push_back(std::string(d.row->printerName) + '/' + d.serial);
        EXPECT_EQ(found, std::vector<std::string>{expected}) << series;
    }
    for (const auto* printer : {plugged[1], plugged[2], plugged[3]})
        EXPECT_EQ(printer->timesOpened(), 0);
    EXPECT_TRUE(files.unchanged());
}

// Pipes come from the first two endpoints by their direction alone; a command
// needs both and is never sent without them.
TEST_F(EmulatedUsbTest, PipesAreTheFirstTwoEndpointsByDirection)
{
    const std::pair<std::vector<usbemu::Endpoint>, bool> cases[] = {
        {{{0x01}, {0x81}}, true},
        {{{0x81}, {0x02}, {0x83}}, true},
        {{{0x81, 0x03, 8}, {0x02}}, true},  // type not looked at
        {{{0x01}, {0x02}}, false},
        {{{0x81}}, false},
        {{}, false},
        {{{0x01}, {0x02}, {0x83}}, false},  // pipe 3 never examined
    };
    for (int n = 0; const auto& [endpoints, works] : cases) {
        SCOPED_TRACE(n++);
        auto& printer = bus.plug({.endpoints = endpoints});
        const OpenFiles files;
        EXPECT_EQ(usbInteraction("CheckwifiAP?", 77, 0x37CE).has_value(), works);
        EXPECT_EQ(printer.commands().size(), works ? 1u : 0u);
        EXPECT_TRUE(released(files, printer));
        bus.unplug(printer);
    }
}

// One transfer into at most maxCount bytes; misuse never reaches the wire, and
// the interface is given back even when the handler throws.
TEST_F(EmulatedUsbTest, ReadTakesOneTransferIntoMaxCount)
{
    auto& printer = bus.plug();
    // The printer answers on the bus's own thread.
    std::mutex replyLock;
    std::string reply;
    printer.setCommandHandler([&](std::string_view) {
        const std::lock_guard lock(replyLock);
        return reply;
    });
    const auto replyWith = [&](std::string text) {
        const std::lock_guard lock(replyLock);
        reply = std::move(text);
    };
    const OpenFiles files;
    {
        USBContext context;
        auto device = USBDevice::create(context, 0x37CE, 77);
        auto interface = device->createInterfaceInterface();
        EXPECT_EQ(interface->getInterfaceNum(), 0);
        const auto fails = [](auto f, auto cause) {
            try {
                f();
            } catch (const USBError& e) {
                return e.is(cause);
            }
            return false;
        };
        const std::uint8_t ping[] = {'p'};
        EXPECT_THROW(interface->openAndPerform([&] {
            for (const std::size_t length : {0, 64}) {
                replyWith(std::string(length, 'x'));
                interface->write(ping, 1);
                EXPECT_EQ(interface->readBytes(std::nullopt, 64, 2).size(), length);
            }
            replyWith(std::string(10, 'y'));
            interface->write(ping, 1);
            EXPECT_TRUE(fails([&] { interface->readBytes(11, 64, 2); }, VantorIOError::couldNotGetEnoughData));
            EXPECT_TRUE(fails([&] { interface->write(ping, 2); }, kIOReturnBadArgument));  // an IN pipe
            EXPECT_TRUE(fails([&] { interface->readBytes(std::nullopt, 64, 3); }, kIOUSBUnknownPipeErr));
            EXPECT_EQ(printer.claimedInterfaces(), std::set<unsigned>{0});
            throw std::runtime_error("handler failed");
        }),
                     std::runtime_error);
        EXPECT_TRUE(printer.claimedInterfaces().empty());
    }
    EXPECT_EQ(printer.commands().size(), 3u);
    EXPECT_TRUE(released(files, printer));
}

}  // namespace

namespace {

// A job on the bulk pipe, as the printer application or the spooler's backend
// writes it: the printer takes none of it while it cannot print (the host's
// transfer times out, nothing is kept), still answers commands, and takes the
// job once the state clears.
TEST_F(EmulatedUsbTest, JobDataWaitsWhileThePrinterCannotPrint)
{
    auto& printer = bus.plug();
    libusb_context* context = nullptr;
    ASSERT_EQ(libusb_init(&context), 0);
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, 0x37CE, 77);
    ASSERT_NE(handle, nullptr);
    libusb_set_auto_detach_kernel_driver(handle, 1);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    const auto write = [&](std::string bytes) {
        int sent = 0;
        return libusb_bulk_transfer(handle, 0x01, reinterpret_cast<unsigned char*>(bytes.data()), int(bytes.size()),
                                    &sent, 300);
    };
    const std::string start = "Event=StartOfJob;";
    for (const int code : {3079, 3004, 3018, 2018}) {
        SCOPED_TRACE(code);
        printer.simulator().setStatusCode(code);
        EXPECT_EQ(write(start), LIBUSB_ERROR_TIMEOUT);
        EXPECT_TRUE(printer.jobs().empty());
    }
    EXPECT_EQ(write("CheckwifiAP?"), 0);  // a command is no job
    printer.simulator().setStatusCode(1);
    EXPECT_EQ(write(start), 0);
    printer.simulator().setStatusCode(3079);  // out of paper mid-job: the rest waits
    EXPECT_EQ(write("page"), LIBUSB_ERROR_TIMEOUT);
    printer.setStatusSilent(true);
    printer.simulator().setStatusCode(1);
    EXPECT_EQ(write("page"), LIBUSB_ERROR_TIMEOUT);  // a printer that does not answer reads nothing
    printer.setStatusSilent(false);
    EXPECT_EQ(write("page"), 0);
    EXPECT_EQ(write("Event=EndOfJob;"), 0);
    EXPECT_EQ(printer.jobs(), std::vector<std::string>{start + "pageEvent=EndOfJob;"});
    EXPECT_EQ(printer.commands(), std::vector<std::string>{"CheckwifiAP?"});
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_exit(context);
}

}  // namespace
