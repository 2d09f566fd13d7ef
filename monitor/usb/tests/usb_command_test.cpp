#include "USBInteraction.h"
#include "UsbTestSupport.h"

namespace {

using namespace std::chrono_literals;
using usbemu::DeviceLayout;

TEST_F(EmulatedUsbTest, CommandGoesOutBareAndTheSimulatorAnswers)
{
    auto& printer = bus.plug();
    const std::string expected = vexo::sim::SimulatedPrinter().handleCommand("CheckwifiAP?");
    const OpenFiles files;

    const std::optional<QString> reply = usbInteraction("CheckwifiAP?", 77, 0x37CE);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->toStdString(), expected);
    EXPECT_EQ(printer.commands(), std::vector<std::string>{"CheckwifiAP?"});
    EXPECT_TRUE(released(files, printer));
}

TEST_F(EmulatedUsbTest, ReplyMustBeSixteenToSixHundredBytes)
{
    auto& printer = bus.plug();
    std::string reply;
    printer.setCommandHandler([&](std::string_view) { return reply; });
    const OpenFiles files;
    struct Case {
        std::size_t length;
        bool accepted;
    };
    for (const Case c : {Case{0, false}, Case{15, false}, Case{16, true}, Case{600, true}, Case{601, false},
                         Case{2000, false}}) {
        reply = "8014," + repeated('a', c.length > 5 ? c.length - 5 : 0);
        reply.resize(c.length);
        const auto got = usbInteraction("CheckwifiAP?", 77, 0x37CE);
        EXPECT_EQ(got.has_value(), c.accepted) << c.length;
        if (got && c.accepted) {
            EXPECT_EQ(got->toStdString(), reply);
        }
        EXPECT_TRUE(released(files, printer)) << c.length;
    }
}

TEST_F(EmulatedUsbTest, LateOrMissingReplyTimesOut)
{
    auto& printer = bus.plug();
    printer.setReplyDelay(600ms);
    const OpenFiles files;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(printer.discardedTransfers(), 1);
    EXPECT_TRUE(released(files, printer));

    // A printer that never answers (a fresh one: the late reply above is
    // still on the first one's pipe).
    bus.unplug(printer);
    auto& silent = bus.plug();
    silent.setCommandHandler([](std::string_view) { return std::nullopt; });
    const OpenFiles silentFiles;
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(released(silentFiles, silent));
}

TEST_F(EmulatedUsbTest, ReplyThatIsNotUtf8IsAbsent)
{
    auto& printer = bus.plug();
    const std::string bad = "8014,AP Info;\xC3\x28 broken text";
    printer.setCommandHandler([&](std::string_view) { return bad; });
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    // The bytes did arrive; only their decoding failed.
    const auto bytes = usbInteractionBytes("CheckwifiAP?", 77, 0x37CE);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->toStdString(), bad);
}

TEST_F(EmulatedUsbTest, InterfaceWithoutBothPipesGivesNoReply)
{
    for (const auto& endpoints : {std::vector<usbemu::Endpoint>{{0x01}}, std::vector<usbemu::Endpoint>{{0x81}},
                                  std::vector<usbemu::Endpoint>{{0x01}, {0x02}, {0x83}}}) {
        auto& printer = bus.plug({.endpoints = endpoints});
        const OpenFiles files;
        EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
        EXPECT_TRUE(printer.commands().empty());
        EXPECT_TRUE(released(files, printer));
        bus.unplug(printer);
    }
}

TEST_F(EmulatedUsbTest, FailuresOnTheWayGiveNoReplyAndReleaseEverything)
{
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));  // nothing attached

    auto& gone = bus.plug();
    const OpenFiles files;
    gone.setGone(true);
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    EXPECT_TRUE(released(files, gone));
    bus.unplug(gone);

    auto& bare = bus.plug({.endpoints = {}, .interfaces = 0});
    const OpenFiles bareFiles;
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    EXPECT_TRUE(released(bareFiles, bare));
}

TEST_F(EmulatedUsbTest, CommandsAndStatusPollsInterleave)
{
    // Status polls and commands open the device independently; neither
    // disturbs the other's transfers.
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2000);
    const OpenFiles files;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(usbStatusRequest(0x37CE, 77).code, 2000);
        EXPECT_TRUE(usbInteraction("CheckwifiSTA?", 77, 0x37CE));
    }
    EXPECT_EQ(printer.commands().size(), 5u);
    EXPECT_TRUE(released(files, printer));
}

}  // namespace
