// The monitor core polling a simulated printer that keeps answering, falling
// asleep and vanishing, through a real snmpd in the namespace bed.
#include "NetBed.h"

#include "Catalogue.h"
#include "NetTransport.h"
#include "PrinterModel.h"
#include "SnmpTransport.h"

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace vexo::net;
using namespace std::chrono_literals;

namespace {

constexpr int kPolls = 1000;
// Under the address sanitizer freed memory sits in quarantine for a while.
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
constexpr long kRssGrowthLimitKb = 96 * 1024;
#else
constexpr long kRssGrowthLimitKb = 8 * 1024;
#endif

// What each open descriptor refers to; the listing's own is the same in both counts.
std::vector<std::string> openDescriptors()
{
    std::vector<std::string> fds;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec))
        fds.push_back(e.path().filename().string() + " " + std::filesystem::read_symlink(e.path(), ec).string());
    return fds;
}

long residentKb()
{
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class CountingTransport : public NetTransport {
public:
    using NetTransport::NetTransport;
    StatusReading getSNMPStatus(const std::string& ip) override
    {
        const StatusReading r = NetTransport::getSNMPStatus(ip);
        ++polls;
        return r;
    }
    std::atomic<int> polls = 0;
};

}  // namespace

TEST(Soak, ThousandPollsOfAFlappingPrinterLeakNothing)
{
    if (const std::string why = NetBed::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    testApp();
    NetBed bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}});
    ASSERT_TRUE(bed.ok()) << bed.error();
    ASSERT_TRUE(bed.enterHost());
    Printer printer = Printer::fromNetworkDevice(catalogueInForce().front(), QStringLiteral("10.77.0.11"));
    printer.hasWakeUp = true;

    NetTransportOptions options;
    options.interfaces = [] { return std::vector<InterfaceAddress>{}; };
    options.query.timeoutUs = 30'000;
    options.query.retries = 0;
    auto transport = std::make_shared<CountingTransport>(options);
    PrinterModel model(std::make_shared<SnmpTransport>(transport), PrinterModel::Options{1, deviceSeries});
    ASSERT_TRUE(waitFor([&] { return !model.isSearchingPrinter(); }));
    model.createWakeUpServer();
    ASSERT_TRUE(waitFor([&] { return transport->wakeUpPort() != 0; }));
    model.setSelectedPrinter(printer);
    model.updateStatus(printer);
    const pid_t agent = bed.pid(1, "snmpd");
    ASSERT_GT(agent, 0);

    int rounds = 0;
    // One round: answering, vanishing, then asleep until the wake-up notice.
    auto round = [&](int answering, int vanishing) {
        const auto polled = [&](int n) { return waitFor([&, target = transport->polls + n] { return transport->polls >= target; }); };
        EXPECT_TRUE(polled(answering)) << "timer stuck while answering";
        kill(agent, SIGSTOP);
        EXPECT_TRUE(polled(vanishing)) << "timer stuck while vanished";
        EXPECT_TRUE(waitFor([&] { return model.statusInfo().code == 4444; }));
        kill(agent, SIGCONT);

        bed.control(1, "sleep");
        EXPECT_TRUE(waitFor([&] { return !model.isWakeUp(); })) << "sleep not noticed";
        const int asleep = transport->polls;
        waitFor([] { return false; }, 20ms);
        // At most the query already under way when the reading came in.
        EXPECT_LE(transport->polls - asleep, 1) << "polled a sleeping printer";
        bed.control(1, "status 10");
        bed.control(1, "datagram 10.77.0.1 " + std::to_string(transport->wakeUpPort()) + " Idle;");
        EXPECT_TRUE(waitFor([&] { return model.isWakeUp(); })) << "wake-up notice lost";
        ++rounds;
    };
    // Counted between polls: a query under way holds a socket of its own.
    auto quiet = [&] {
        model.stopUpdateStatus();
        for (int seen = -1; seen != transport->polls; waitFor([] { return false; }, 100ms))
            seen = transport->polls;
    };

    // Warm-up: the library's one-time state and the listener are in place.
    round(10, 2);
    ASSERT_FALSE(testing::Test::HasFailure());
    quiet();
    const auto fdsBefore = openDescriptors();
    const long rssBefore = residentKb();
    const int start = transport->polls;
    model.updateStatus(printer);
    while (transport->polls - start < kPolls && !testing::Test::HasFailure())
        round(20, 5);
    const int polls = transport->polls - start;
    quiet();
    const auto fdsAfter = openDescriptors();
    const long rssAfter = residentKb();
    std::printf("soak: %d polls in %d rounds of vanishing and sleep; fds %d -> %d; rss %ld kB -> %ld kB\n", polls,
                rounds, int(fdsBefore.size()), int(fdsAfter.size()), rssBefore, rssAfter);
    EXPECT_GE(polls, kPolls);
    EXPECT_EQ(fdsAfter, fdsBefore);
    EXPECT_LT(rssAfter - rssBefore, kRssGrowthLimitKb);
}
