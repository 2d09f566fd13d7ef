// The monitor core polling a simulated printer that keeps answering, falling
// asleep and vanishing, through a real snmpd on a loopback address. Needs
// root (snmpd on port 161) and skips without it.
#include "Catalogue.h"
#include "NetTransport.h"
#include "PrinterModel.h"

#include <QCoreApplication>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace vexo::net;
using namespace std::chrono_literals;

namespace {

constexpr int kPolls = 1000;
// Under the address sanitizer freed memory sits in quarantine for a while.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kRssGrowthLimitKb = 96 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr long kRssGrowthLimitKb = 96 * 1024;
#else
constexpr long kRssGrowthLimitKb = 8 * 1024;
#endif
#else
constexpr long kRssGrowthLimitKb = 8 * 1024;
#endif

// What each open descriptor refers to, the directory listing's own left out.
std::vector<std::string> openDescriptors()
{
    std::vector<std::string> fds;
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return fds;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || std::atoi(e->d_name) == dirfd(d))
            continue;
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        fds.push_back(std::string(e->d_name) + " " + (n > 0 ? target : "?"));
    }
    closedir(d);
    return fds;
}

long residentKb()
{
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

pid_t spawn(const std::vector<std::string>& args, const std::string& log)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(log.c_str(), "w", stdout) || !std::freopen(log.c_str(), "a", stderr))
            _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void finish(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// One control command to the simulator; its answer.
std::string control(const std::string& socketPath, const std::string& line)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socketPath.c_str());
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = line + "\n";
        if (write(fd, request.data(), request.size()) == ssize_t(request.size())) {
            shutdown(fd, SHUT_WR);
            char buf[512];
            for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
                answer.append(buf, size_t(n));
        }
    }
    close(fd);
    return answer;
}

// A datagram from the printer's own address, as its wake-up notice comes.
void sendFrom(const std::string& from, int port, std::string_view text)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &a.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
}

class CountingTransport : public NetTransport {
public:
    using NetTransport::NetTransport;

    StatusReading getSNMPStatus(const Printer& printer) override
    {
        const StatusReading r = NetTransport::getSNMPStatus(printer);
        lastCode = r.answered ? r.code : -1;
        ++polls;
        return r;
    }

    std::atomic<int> polls = 0;
    std::atomic<std::int64_t> lastCode = 0;
};

struct Bed {
    std::string dir;
    std::string address;
    std::string ctl;
    pid_t sim = -1;
    pid_t agent = -1;

    ~Bed()
    {
        finish(agent);
        finish(sim);
        std::error_code ignored;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
};

}  // namespace

TEST(Soak, ThousandPollsOfAFlappingPrinterLeakNothing)
{
    if (geteuid() != 0 || access("/usr/sbin/snmpd", X_OK) != 0)
        GTEST_SKIP() << "needs root and snmpd";
    testApp();

    Bed bed;
    char tmpl[] = "/tmp/vexo-soak.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    bed.dir = tmpl;
    bed.ctl = bed.dir + "/ctl";
    // An address of its own, so parallel runs and other agents stay apart.
    const int pid = getpid();
    bed.address = "127.77." + std::to_string((pid >> 8) & 0xff) + "." + std::to_string(pid % 250 + 2);

    bed.sim = spawn({VEXO_PRINTER_SIM, "serve", "--control", bed.ctl, "--listen", bed.address, "--port", "9101",
                     "--status", "1000"},
                    bed.dir + "/sim.log");
    ASSERT_TRUE(waitFor([&] { return control(bed.ctl, "get").rfind("ok", 0) == 0; }));
    {
        std::ofstream conf(bed.dir + "/snmpd.conf");
        conf << "[snmp] persistentDir " << bed.dir << "/persist\n"
             << "agentaddress udp:" << bed.address << ":161\n"
             << "rocommunity ramble default\n"
             << "pass_persist .1.3.6.1.4.1.59317.2.7 " << VEXO_PRINTER_SIM << " pass-persist --control " << bed.ctl
             << "\n";
    }
    bed.agent = spawn({"/usr/sbin/snmpd", "-f", "-C", "-c", bed.dir + "/snmpd.conf", "-Lf", bed.dir + "/snmpd.log"},
                      bed.dir + "/snmpd.out");

    const auto catalogue = catalogueInForce();
    ASSERT_FALSE(catalogue.empty());
    Printer printer = Printer::fromNetworkDevice(catalogue.front(), QString::fromStdString(bed.address));
    printer.hasWakeUp = true;

    NetTransportOptions options;
    options.interfaces = [] { return std::vector<InterfaceAddress>{}; };
    options.query.timeoutUs = 30'000;
    options.query.retries = 0;
    options.wakeUpPort = 0;
    auto transport = std::make_shared<CountingTransport>(options);
    ASSERT_TRUE(waitFor(
        [&] { return readingFromValues(getPrinterStatusBySNMP(bed.address, kStatusOid, options.query), {}).answered; },
        10s))
        << "snmpd did not answer; see " << bed.dir;

    PrinterModel model(transport, PrinterModel::Options{1, deviceSeries});
    ASSERT_TRUE(waitFor([&] { return !model.isSearchingPrinter(); }));
    model.createWakeUpServer();
    ASSERT_TRUE(waitFor([&] { return transport->wakeUpPort() != 0; }));
    model.setSelectedPrinter(printer);
    model.updateStatus(printer);

    int sleeps = 0, vanishes = 0;
    // One round: answering, vanishing, then asleep until the wake-up notice.
    auto round = [&](int answering, int vanishing) {
        int target = transport->polls + answering;
        EXPECT_TRUE(waitFor([&] { return transport->polls >= target; })) << "timer stuck while answering";

        kill(bed.agent, SIGSTOP);
        target = transport->polls + vanishing;
        EXPECT_TRUE(waitFor([&] { return transport->polls >= target; })) << "timer stuck while vanished";
        EXPECT_TRUE(waitFor([&] { return model.statusInfo().code == 4444; }));
        kill(bed.agent, SIGCONT);
        ++vanishes;

        control(bed.ctl, "status 2009 Sleep");
        EXPECT_TRUE(waitFor([&] { return !model.isWakeUp(); })) << "sleep not noticed";
        const int asleep = transport->polls;
        waitFor([] { return false; }, 20ms);
        // At most the query already under way when the reading came in.
        EXPECT_LE(transport->polls - asleep, 1) << "polled a sleeping printer";
        control(bed.ctl, "status 1000 Ready");
        sendFrom(bed.address, transport->wakeUpPort(), "Idle;");
        EXPECT_TRUE(waitFor([&] { return model.isWakeUp(); })) << "wake-up notice lost";
        ++sleeps;
    };

    // Counted between polls: a query under way holds a socket of its own.
    auto quiet = [&] {
        model.stopUpdateStatus();
        int seen = -1;
        while (seen != transport->polls) {
            seen = transport->polls;
            waitFor([] { return false; }, 100ms);
        }
    };

    // Warm-up: the library's one-time state and the listener are in place.
    round(10, 2);
    ASSERT_FALSE(testing::Test::HasFailure());
    quiet();
    const auto fdsBefore = openDescriptors();
    const long rssBefore = residentKb();
    const int start = transport->polls;
    const auto began = std::chrono::steady_clock::now();
    model.updateStatus(printer);

    while (transport->polls - start < kPolls && !testing::Test::HasFailure())
        round(20, 5);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const int polls = transport->polls - start;
    quiet();
    const auto fdsAfter = openDescriptors();
    const long rssAfter = residentKb();
    std::printf("soak: %d polls (%d sleeps, %d vanishes) in %.1f s; fds %d -> %d; rss %ld kB -> %ld kB (%+ld kB)\n",
                polls, sleeps, vanishes, seconds, int(fdsBefore.size()), int(fdsAfter.size()), rssBefore, rssAfter, rssAfter - rssBefore);

    EXPECT_GE(polls, kPolls);
    EXPECT_EQ(fdsAfter, fdsBefore);
    EXPECT_LT(rssAfter - rssBefore, kRssGrowthLimitKb);
}
