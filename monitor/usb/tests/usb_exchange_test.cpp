#include "USBInteraction.h"
#include "UsbTestSupport.h"

#include <algorithm>
#include <future>
#include <memory>

namespace {

using namespace std::chrono_literals;

TEST_F(EmulatedUsbTest, CommandRepliesOfSixteenToSixHundredUtf8BytesAreTaken)
{
    auto& printer = bus.plug();
    const OpenFiles files;
    const auto own = usbInteraction("CheckwifiAP?", 77, 0x37CE);
    EXPECT_EQ(own.value_or("-"), vexo::sim::SimulatedPrinter().handleCommand("CheckwifiAP?"));
    EXPECT_EQ(printer.commands(), std::vector<std::string>{"CheckwifiAP?"}) << "sent bare";

    std::string reply;
    printer.setCommandHandler([&](std::string_view) { return reply; });
    for (const std::size_t length : {0, 15, 16, 600, 601, 2000}) {
        reply = "8014," + std::string(length, 'a');
        reply.resize(length);
        const bool taken = length >= 16 && length <= 600;
        EXPECT_EQ(usbInteraction("CheckwifiAP?", 77, 0x37CE).value_or("-"), taken ? reply : "-")
            << length;
    }
    // The bytes arrive whole; only their text is refused.
    reply = "8014,AP Info;\xC3\x28 broken text";
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    const auto bytes = usbInteractionBytes("CheckwifiAP?", 77, 0x37CE);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), reply);
    EXPECT_TRUE(released(files, printer));
}

// Code little-endian from bytes 0-1, toner from byte 2; bytes the printer
// does not send count as zero.
TEST_F(EmulatedUsbTest, StatusReplyIsCodeLittleEndianThenToner)
{
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2009);
    printer.simulator().setToner(50);
    const OpenFiles files;
    using Bytes = std::vector<std::uint8_t>;
    const std::tuple<std::optional<Bytes>, std::int64_t, std::int64_t> cases[] = {
        {std::nullopt, 2009, 50},  // the simulator's own reply
        {Bytes{0x02, 0x01}, 258, 0}, {Bytes{0xD9}, 0xD9, 0}, {Bytes{}, 0, 0}, {Bytes{0x00, 0x00, 0x32, 0xFF}, 0, 50}};
    for (const auto& [reply, code, toner] : cases) {
        printer.setStatusReply(reply);
        const StatusReading r = usbStatusRequest(0x37CE, 77);
        EXPECT_EQ(std::tuple(r.answered, r.code, r.toner), std::tuple(true, code, toner)) << code;
    }
    EXPECT_TRUE(released(files, printer));
}

// Two printers of one model are told apart by serial number: each exchange
// reaches the one named, none reaches a serial that is not attached, and no
// serial means the first found.
TEST_F(EmulatedUsbTest, ExchangesGoToThePrinterWithTheSerialNamed)
{
    auto& first = bus.plug({.serial = "VX77000001"});
    auto& second = bus.plug({.serial = "VX77000002"});
    first.simulator().setStatusCode(3004);
    second.simulator().setToner(80);
    first.setCommandHandler([](std::string_view) { return std::string(16, '1'); });
    second.setCommandHandler([](std::string_view) { return std::string(16, '2'); });
    const OpenFiles files;

    const StatusReading one = usbStatusRequest(0x37CE, 77, "VX77000001");
    const StatusReading two = usbStatusRequest(0x37CE, 77, "VX77000002");
    EXPECT_EQ(std::tuple(one.code, two.code, two.toner), std::tuple(std::int64_t(3004), std::int64_t(10), std::optional<std::int64_t>(80)));
    EXPECT_EQ(usbInteraction("CheckwifiAP?", 77, 0x37CE, nullptr, "VX77000002"), std::string(16, '2'));
    EXPECT_EQ(usbInteraction("CheckwifiAP?", 77, 0x37CE, nullptr, "VX77000001"), std::string(16, '1'));
    EXPECT_EQ(second.commands().size(), 1u);

    EXPECT_FALSE(usbStatusRequest(0x37CE, 77, "VX77000003").answered);
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE, nullptr, "VX7700000"));  // no prefix match
    EXPECT_TRUE(usbStatusRequest(0x37CE, 77).answered);

    bus.unplug(first);
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77, "VX77000001").answered);
    EXPECT_EQ(usbStatusRequest(0x37CE, 77, "VX77000002").toner, 80);
    EXPECT_TRUE(released(files, second));
}

// Whatever fails on the way, neither request answers and nothing stays open.
TEST_F(EmulatedUsbTest, FailedRequestsAnswerNothingAndReleaseEverything)
{
    auto& bare = bus.plug({.productID = 78, .endpoints = {}, .interfaces = 0});
    auto& other = bus.plug({.vendorID = 0x046D, .productID = 77});
    const OpenFiles files;
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));  // nothing of that model attached
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_EQ(bare.timesOpened() + other.timesOpened(), 0);
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 78, 0x37CE));  // not configured: no interface
    EXPECT_FALSE(usbStatusRequest(0x37CE, 78).answered);

    auto& printer = bus.plug();
    printer.setStatusStalls(true);
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    printer.setStatusStalls(false);
    printer.setGone(true);
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_TRUE(released(files, printer));
}

// A command waits 0.3 s for its reply, the status request 3 s; each gives up
// the transfer it started.
TEST_F(EmulatedUsbTest, LateAnswersTimeOut)
{
    auto& printer = bus.plug();
    printer.setReplyDelay(600ms);
    printer.setStatusSilent(true);
    const OpenFiles files;
    for (const bool command : {true, false}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(command ? usbInteraction("CheckwifiAP?", 77, 0x37CE).has_value()
                             : usbStatusRequest(0x37CE, 77).answered);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, command ? 290ms : 2900ms);
        EXPECT_LT(took, command ? 1500ms : 5000ms);
        EXPECT_EQ(printer.discardedTransfers(), command ? 1 : 2);
    }
    EXPECT_TRUE(released(files, printer));
}

// Unplugged while the status request waits: usbfs gives the transfer back
// ended, and the request fails then and there instead of reaping for ever.
TEST_F(EmulatedUsbTest, UnpluggingEndsATransferUnderWay)
{
    auto& printer = bus.plug();
    printer.setStatusSilent(true);
    const OpenFiles files;
    auto done = std::make_shared<std::promise<StatusReading>>();
    auto reading = done->get_future();
    std::thread([done] { done->set_value(usbStatusRequest(0x37CE, 77)); }).detach();
    const auto asked = [&printer] {
        const auto setups = printer.controlRequests();
        return std::any_of(setups.begin(), setups.end(), [](const auto& s) { return s.bRequest == 0x04; });
    };
    for (int i = 0; i < 500 && !asked(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(asked());
    bus.unplug(printer);
    // a hang, not a speed: the request's own time-out is 3 s
    ASSERT_EQ(reading.wait_for(30s), std::future_status::ready) << "the request never ended";
    EXPECT_FALSE(reading.get().answered);
    EXPECT_EQ(printer.discardedTransfers(), 0) << "ended by its time-out, not by the unplug";
    EXPECT_TRUE(files.unchanged());
}

}  // namespace
