#include "UsbTestSupport.h"
#include "VantorIOUSB.h"

#include <stdexcept>

namespace {

using usbemu::Endpoint;

template <typename F>
USBError thrown(F&& f)
{
    try {
        f();
    } catch (const USBError& e) {
        return e;
    }
    ADD_FAILURE() << "no USBError thrown";
    return USBError(kIOReturnSuccess);
}

TEST_F(EmulatedUsbTest, NoMatchingDeviceIsReportedAsNoDeviceInterface)
{
    auto& other = bus.plug({.productID = 78});
    USBContext context;
    const USBError e = thrown([&] { USBDevice::create(context, 0x37CE, 77); });
    EXPECT_TRUE(e.is(VantorIOError::pluginHasNoUsbDeviceInterface));
    EXPECT_STREQ(e.what(), "USB: Plugin has no device interface.");
    EXPECT_EQ(other.timesOpened(), 0);
}

TEST_F(EmulatedUsbTest, PipesAreFoundByDirectionOnTheFirstTwoOnly)
{
    struct Case {
        std::vector<Endpoint> endpoints;
        std::map<std::string, int> pipes;
    };
    const Case cases[] = {
        {{{0x01}, {0x81}}, {{"writePipe", 1}, {"readPipe", 2}}},
        {{{0x81}, {0x02}, {0x83}}, {{"readPipe", 1}, {"writePipe", 2}}},
        {{{0x01}, {0x02}}, {{"writePipe", 2}}},          // the later pipe of a direction wins
        {{{0x81, 0x03, 8}, {0x02}}, {{"readPipe", 1}, {"writePipe", 2}}},  // type not looked at
        {{{0x01}}, {{"writePipe", 1}}},
        {{}, {}},
        {{{0x01}, {0x02}, {0x83}}, {{"writePipe", 2}}},  // pipe 3 never examined
    };
    for (const Case& c : cases) {
        auto& printer = bus.plug({.productID = 77, .endpoints = c.endpoints});
        const OpenFiles files;
        {
            USBContext context;
            auto device = USBDevice::create(context, 0x37CE, 77);
            auto interface = device->createInterfaceInterface();
            EXPECT_EQ(interface->getInterfaceNum(), 0);
            EXPECT_EQ(interface->getPipes(), c.pipes);
        }
        EXPECT_TRUE(released(files, printer));
        bus.unplug(printer);
    }
}

TEST_F(EmulatedUsbTest, ReadTakesOneTransferIntoMaxCount)
{
    auto& printer = bus.plug();
    std::string reply;
    printer.setCommandHandler([&](std::string_view) { return reply; });
    USBContext context;
    auto device = USBDevice::create(context, 0x37CE, 77);
    auto interface = device->createInterfaceInterface();
    const std::uint8_t ping[] = {'p'};

    interface->openAndPerform([&] {
        reply = "";
        interface->write(ping, 1);
        EXPECT_TRUE(interface->readBytes(std::nullopt, 64, 2).empty());

        reply = repeated('x', 64);
        interface->write(ping, 1);
        EXPECT_EQ(interface->readBytes(std::nullopt, 64, 2).size(), 64u);

        reply = repeated('y', 10);
        interface->write(ping, 1);
        EXPECT_TRUE(thrown([&] { interface->readBytes(11, 64, 2); }).is(VantorIOError::couldNotGetEnoughData));

        // Wrong direction or a pipe the interface lacks never reaches the wire.
        EXPECT_TRUE(thrown([&] { interface->write(ping, 2); }).is(kIOReturnBadArgument));
        EXPECT_TRUE(thrown([&] { interface->readBytes(std::nullopt, 64, 3); }).is(kIOUSBUnknownPipeErr));
    });
    EXPECT_EQ(printer.commands().size(), 3u);
}

TEST_F(EmulatedUsbTest, OpenAndPerformReleasesTheInterfaceWhenTheHandlerThrows)
{
    auto& printer = bus.plug();
    const OpenFiles files;
    {
        USBContext context;
        auto device = USBDevice::create(context, 0x37CE, 77);
        auto interface = device->createInterfaceInterface();
        EXPECT_THROW(interface->openAndPerform([&] {
            EXPECT_EQ(printer.claimedInterfaces(), std::set<unsigned>{0});
            throw std::runtime_error("handler failed");
        }),
                     std::runtime_error);
        EXPECT_TRUE(printer.claimedInterfaces().empty());
    }
    EXPECT_TRUE(released(files, printer));
}

}  // namespace
