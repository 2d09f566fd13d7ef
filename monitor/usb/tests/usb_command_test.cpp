#include "USBInteraction.h"
#include "UsbTestSupport.h"

namespace {

using namespace std::chrono_literals;

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

TEST_F(EmulatedUsbTest, LateReplyTimesOut)
{
    auto& printer = bus.plug();
    printer.setReplyDelay(600ms);
    const OpenFiles files;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(usbInteraction("CheckwifiAP?", 77, 0x37CE));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(printer.discardedTransfers(), 1);
    EXPECT_TRUE(released(files, printer));
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

}  // namespace
