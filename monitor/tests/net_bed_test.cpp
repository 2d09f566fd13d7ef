// The network transport and the command line against real snmpd agents,
// simulated printers and a hostile host (hostile-responder, SNMP written by
// hand) in namespaces of the test's own.

#include "NetBed.h"

#include "Catalogue.h"
#include "NetTransport.h"
#include "PrinterModel.h"
#include "SystemTransport.h"
#include "TCPCommucator.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace vexo::net;
using namespace std::chrono_literals;

namespace {

constexpr const char* kForeignOid = ".1.3.6.1.4.1.4242.7.1";
constexpr const char* kSleeperOid = ".1.3.6.1.4.1.59317.2.1.1.5";  // LX310W, has the wake-up feature
constexpr const char* kHostile = "10.77.0.66";

std::vector<std::string> ips(const std::vector<FoundDevice>& list)
{
    std::vector<std::string> out;
    for (const FoundDevice& p : list)
        out.push_back(p.ip);
    return out;
}

Printer at(const char* ip) { return Printer::fromNetworkDevice(catalogueInForce().front(), ip); }

class NetBedTest : public testing::Test {
protected:
    void SetUp() override
    {
        testApp();
        if (const std::string why = NetBed::unavailableReason(); !why.empty())
            GTEST_SKIP() << why;
    }

    void TearDown() override
    {
        hostile({});
        model_.reset();  // its threads leave before the namespaces go
        bed_.reset();
    }

    // Builds the bed and moves the test into its host namespace.
    bool bed(std::vector<std::string> hosts, std::vector<NetBed::Printer> printers)
    {
        bed_ = std::make_unique<NetBed>(std::move(hosts), std::move(printers));
        EXPECT_TRUE(bed_->ok()) << bed_->error();
        return bed_->ok() && bed_->enterHost();
    }

    // One printer beside an empty namespace for the hostile host.
    bool hostileBed() { return bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}, {"a", std::string(kHostile) + "/24", "", "bare"}}); }
    // The hostile host (re)started with `plan`; none for an empty plan.
    void hostile(QStringList plan)
    {
        if (hostile_.state() != QProcess::NotRunning) {
            hostile_.kill();
            hostile_.waitForFinished();
        }
        if (plan.isEmpty())
            return;
        hostile_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        hostile_.start("ip", QStringList{"netns", "exec", QString::fromStdString(bed_->name() + "-p2"), "python3",
                                         VEXO_HOSTILE, "--self", kHostile} + plan);
        ASSERT_TRUE(hostile_.waitForReadyRead(10000)) << "hostile responder did not start";
        ASSERT_EQ(hostile_.readLine().trimmed(), "ready");
    }

    static NetTransportOptions quick(bool discovery = true, int timeoutUs = 250'000)
    {
        NetTransportOptions o;
        o.query.timeoutUs = timeoutUs;
        o.query.retries = 1;
        if (!discovery)
            o.interfaces = [] { return std::vector<InterfaceAddress>{}; };
        return o;
    }

    PrinterModel& model(std::shared_ptr<NetTransport> net, int series = deviceSeries)
    {
        model_ = std::make_unique<PrinterModel>(std::make_shared<SystemTransport>(net), PrinterModel::Options{300, series});
        return *model_;
    }

    static int cli(std::vector<std::string> args, std::string* out)
    {
        args.insert(args.begin(), VEXO_STATUS_CLI);
        return runCommand(args, out);
    }
    // Standard error after standard output.
    static int cliWithErrors(std::vector<std::string> args, std::string* out)
    {
        args.insert(args.begin(), {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", VEXO_STATUS_CLI});
        return runCommand(args, out);
    }

    std::unique_ptr<NetBed> bed_;
    std::unique_ptr<PrinterModel> model_;
    QProcess hostile_;
};

}  // namespace

// Two addresses on one segment, a /16 whose printers outside the host's own
// /24 answer only to its real broadcast, a third network, a foreign device
// and an agent that takes direct requests only: all probed in one pass.
TEST_F(NetBedTest, DiscoveryFindsEachCataloguePrinterOncePerNetwork)
{
    ASSERT_TRUE(bed({"a=10.77.0.1/24", "a=10.77.0.2/24", "b=10.78.0.1/16", "c=10.79.0.1/24"},
                    {{"c", "10.79.0.31/24"}, {"b", "10.78.3.21/16"}, {"a", "10.77.0.11/24"},
                     {"a", "10.77.0.12/24", kForeignOid}, {"a", "10.77.0.13/24", "", "unicast"}, {"b", "10.78.0.22/16"}}));
    NetTransport net;
    const std::vector<std::string> got = ips(net.getPrinterBySNMP());
    const DiscoveryReport report = net.lastDiscovery();

    // Networks in the order of the interface list (a, b, c), whatever order the answers came in.
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](auto& x, auto& y) { return x.substr(0, 5) < y.substr(0, 5); }))
        << report.text;
    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"10.77.0.11", "10.77.0.11", "10.78.0.22", "10.78.3.21", "10.79.0.31"}));
    // The foreign device answered and is in the text, yet not in the list.
    EXPECT_NE(report.text.find("10.77.0.12,"), std::string::npos) << report.text;
    EXPECT_EQ(report.text.find("10.77.0.13"), std::string::npos) << report.text;
    EXPECT_EQ(std::count(report.text.begin(), report.text.end(), '|'), 7);
    EXPECT_EQ(report.stats.networks, 4);
    EXPECT_EQ(report.stats.quietWaits, 3);  // one set for all networks
    EXPECT_GT(report.stats.duplicates, 0);  // the request is repeated while it waits

    std::string out;
    ASSERT_EQ(cli({"--json", "discover"}, &out), 0);
    const QJsonArray printers = QJsonDocument::fromJson(QByteArray::fromStdString(out))["printers"].toArray();
    ASSERT_EQ(printers.size(), 5) << out;
    EXPECT_EQ(printers[0]["ip"].toString(), "10.77.0.11");
    EXPECT_EQ(printers[0]["index"].toInt(), 1);
}

TEST_F(NetBedTest, PolledPrinterShowsItsChangesAndMalformedValuesAreNoReading)
{
    ASSERT_TRUE(bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}, {"a", "10.77.0.12/24", kForeignOid},
                                         {"a", "10.77.0.13/24", "", "unicast"}}));
    NetBed& b = *bed_;
    auto net = std::make_shared<NetTransport>(quick(false));
    PrinterModel& m = model(net);
    ASSERT_TRUE(waitFor([&] { return !m.isSearchingPrinter(); }));
    m.clickPrinter(at("10.77.0.11"));
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 10; })) << m.statusInfo().code;
    EXPECT_EQ(m.statusInfo().toner, 80);

    b.control(1, "status 2006 Toner empty");
    b.control(1, "toner 0");
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 2006; }));
    EXPECT_EQ(m.statusInfo().message, "墨粉不足");
    EXPECT_TRUE(waitFor([&] { return m.statusInfo().toner == 0; }));

    model_.reset();

    // The command line as users run it: the exit status tells what was found.
    std::string out;
    ASSERT_EQ(cli({"status", "10.77.0.11"}, &out), 0);
    EXPECT_NE(out.find("VEXO(10.77.0.11)"), std::string::npos) << out;
    EXPECT_NE(out.find("2006 墨粉不足 (error)"), std::string::npos) << out;
    EXPECT_NE(out.find("toner:   0%"), std::string::npos) << out;
    EXPECT_EQ(cli({"status", "10.77.0.12"}, &out), 1);
    // Its discovery answer never comes, yet by its address it is asked directly.
    ASSERT_EQ(cli({"status", "10.77.0.13"}, &out), 0);
    EXPECT_NE(out.find("10 就绪 (normal)"), std::string::npos) << out;
    EXPECT_EQ(cli({"status", "10.77.0.99"}, &out), 3);
    EXPECT_NE(out.find("4444 连接断开"), std::string::npos) << out;
    // A negative code is decoded like any other, not taken for no answer.
    b.control(1, "status-raw string -5,neg");
    ASSERT_EQ(cli({"status", "10.77.0.11"}, &out), 0);
    EXPECT_NE(out.find("-5 错误码-5 (error)"), std::string::npos) << out;

    const std::string p = "10.77.0.11";
    for (const char* raw : {"string 2000", "integer 2000", "string", "string abc,def", "string ,2000"}) {
        b.control(1, std::string("status-raw ") + raw);
        EXPECT_FALSE(net->getSNMPStatus(p).answered) << raw;
    }
    // The agent runs, but the printer behind it is gone: no objects.
    const pid_t sim = b.pid(1, "sim");
    ASSERT_GT(sim, 0);
    ASSERT_EQ(kill(sim, SIGTERM), 0);
    EXPECT_TRUE(waitFor([&] { return !net->getSNMPStatus(p).answered; }, 3s));
}

TEST_F(NetBedTest, SleepingPrinterIsWokenByItsDatagram)
{
    ASSERT_TRUE(bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24", kSleeperOid}, {"a", "10.77.0.12/24", kSleeperOid}}));
    NetBed& b = *bed_;
    NetTransportOptions o = quick();
    o.catalogue = catalogueFor(1);
    auto net = std::make_shared<NetTransport>(o);
    PrinterModel& m = model(net, 1);
    ASSERT_TRUE(waitFor([&] { return !m.isSearchingPrinter() && net->wakeUpPort() == kWakeUpPort; }));
    ASSERT_EQ(m.printerList().size(), 2);
    const int selected = m.printerList().first().ip == "10.77.0.11" ? 1 : 2;
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));

    b.control(selected, "sleep");  // status 2009, no datagram yet
    ASSERT_TRUE(waitFor([&] { return !m.isWakeUp(); }));
    b.control(selected, "status 10");
    b.control(3 - selected, "wake 10.77.0.1");  // another printer waking changes nothing
    waitFor([] { return false; }, 700ms);
    EXPECT_EQ(m.statusInfo().code, 2009) << "polled while asleep";
    EXPECT_FALSE(m.isWakeUp());

    b.control(selected, "wake 10.77.0.1");
    ASSERT_TRUE(waitFor([&] { return m.isWakeUp(); }));
    EXPECT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));
    b.control(selected, "datagram 10.77.0.1 65002 entering power save");
    EXPECT_TRUE(waitFor([&] { return !m.isWakeUp(); }));

    // The same printer without the feature is never switched; a listener
    // outliving the model reaches nothing.
    Printer plain = m.printerList().first();
    plain.hasWakeUp = false;
    m.clickPrinter(plain);
    b.control(selected, "sleep");
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 2009; }));
    b.control(selected, "datagram 10.77.0.1 65002 entering power save");
    waitFor([] { return false; }, 500ms);
    EXPECT_TRUE(m.isWakeUp());
    model_.reset();
    b.control(selected, "wake 10.77.0.1");
    waitFor([] { return false; }, 300ms);
}

TEST_F(NetBedTest, CommandPortAgainstTheSimulator)
{
    ASSERT_TRUE(bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}}));
    NetBed& b = *bed_;
    b.control(1, "ap name=Lab%20AP encrypted=1 password=secret99 ip=192.168.9.1 mask=255.255.255.0 gateway=192.168.9.1");
    TCPCommucator link("10.77.0.11");
    link.setTimeouts(1000, 1000);
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(link.send("CheckwifiAP?"));
    EXPECT_EQ(link.receive(), "8014,AP Info;Lab AP\r\n6\r\nsecret99\r\n192.168.9.1\r\n255.255.255.0\r\n192.168.9.1");
    // Control characters and the separator in a password never reach the printer.
    ASSERT_TRUE(link.send("SetwifiAP=Lab AP\r\n6\r\nse\x02" "cret\x01" "9\r\nS\r\n192.168.9.1\r\n255.255.255.0\r\n192.168.9.1;"));
    EXPECT_EQ(link.receive(), "8004,Set AP OK");
    EXPECT_NE(b.control(1, "get").find("ap.password=se;cret?9"), std::string::npos);
    b.control(1, "scan-not-ready 1");
    ASSERT_TRUE(link.send("Checkwifiserver?"));
    EXPECT_EQ(link.receive(), "8011,Wifi Scanning;");
    ASSERT_TRUE(link.send("Checkwifiserver?"));
    EXPECT_EQ(link.receive(), "8012,Wifi Scan;HomeNet,4\r\nOffice,2");
    link.disconnect();

    // Accepts the connection, never answers; no host at the address: the waits end.
    b.control(1, "silent 1");
    for (const char* host : {"10.77.0.11", "10.77.0.99"}) {
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(exchangeCommand(host, "CheckwifiAP?", 500, 500)) << host;
        EXPECT_LT(t.elapsed(), 1500) << host;
    }
}

TEST_F(NetBedTest, ForgedAnswersAreNotBelieved)
{
    ASSERT_TRUE(hostileBed());
    hostile({"spoof-status", "bogus-discovery"});
    const NetTransportOptions o = quick(true, 1'000'000);
    NetTransport net(o);

    // A GetRequest, a Trap, a Report and an answer to another request are
    // no printers; the one proper answer shows the forgeries do arrive.
    std::vector<std::string> found = ips(net.getPrinterBySNMP());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"10.77.0.11", "10.77.0.65"})) << net.lastDiscovery().text;
    EXPECT_GE(net.lastDiscovery().stats.rejected, 4);

    // "3093" from another host and from another port of the printer, with
    // the right request id: the printer's own reading stands. The forgeries
    // race its answer; on a loaded machine one query may end before they
    // arrive, so count over a few.
    int rejected = 0;
    for (int i = 0; i < 10 && rejected < 2; ++i) {
        EXPECT_EQ(net.getSNMPStatus("10.77.0.11").code, 10);
        SnmpQueryStats stats;
        EXPECT_TRUE(getPrinterStatusBySNMP("10.77.0.11", kStatusOid, o.query, &stats));
        rejected += stats.rejected;
    }
    // ...and a silent printer stays silent.
    const pid_t agent = bed_->pid(1, "snmpd");
    ASSERT_GT(agent, 0);
    ASSERT_EQ(kill(agent, SIGSTOP), 0);
    const StatusReading silent = net.getSNMPStatus("10.77.0.11");
    // A caller that stops (a server shutting down) does not wait out the
    // 2 s of time-outs for a silent printer.
    std::atomic<bool> stopping{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stopping = true;
    });
    QElapsedTimer given;
    given.start();
    const StatusReading givenUp = net.getSNMPStatus("10.77.0.11", [&] { return stopping.load(); });
    const qint64 givenMs = given.elapsed();
    stopper.join();
    kill(agent, SIGCONT);
    EXPECT_FALSE(silent.answered) << silent.code;
    EXPECT_FALSE(givenUp.answered);
    EXPECT_LT(givenMs, 1500) << "waited for the time-outs";
    // Without forgeries on the wire the checks above prove nothing.
    if (rejected < 2)
        GTEST_SKIP() << "the forgeries did not reach the monitor in this run";
}

TEST_F(NetBedTest, BrokenRepliesAreReadFromTheirBytesAndShownSafely)
{
    ASSERT_TRUE(hostileBed());
    NetTransport net(quick(false, 1'000'000));
    struct Case {
        const char* status;  // hex of the status object's bytes
        const char* toner;
        std::int64_t code;   // 0: no answer
        std::optional<std::int64_t> percent;
    };
    const QByteArray chinese = QByteArray("3004,前盖打开").toHex();
    const Case cases[] = {
        {chinese.constData(), "toner=int:42", 3004, 42},
        {"333030342c001b5b324a", "toner=int9", 3004, std::nullopt},                           // "3004,\0\e[2J"
        {"223330303422", "toner=string:75", 0, std::nullopt},                                  // "\"3004\"": no comma
        {"22333030342c71756f74656422", "toner=int:9223372036854775807", 3004, std::nullopt},  // "\"3004,quoted\""
    };
    for (const Case& c : cases) {
        hostile({QStringLiteral("status-hex=") + c.status, c.toner});
        const StatusReading r = net.getSNMPStatus(kHostile);
        EXPECT_EQ(r.answered, c.code != 0) << c.status;
        // sysDescr "1,Ready" comes first and a second status after: neither counts.
        if (r.answered) {
            EXPECT_EQ(r.code, c.code) << c.status;
            EXPECT_EQ(r.toner, c.percent) << c.toner;
        }
    }
    hostile({"status-wrong-var"});
    EXPECT_FALSE(net.getSNMPStatus(kHostile).answered);

    hostile({"tcp"});
    // A 1 MB scan: read up to the limit, its cut last line dropped.
    const auto scan = exchangeCommand(kHostile, "Checkwifiserver?", 1000, 3000);
    ASSERT_TRUE(scan);
    EXPECT_LE(scan->size(), kReplyLimit);
    EXPECT_GT(scan->size(), kReplyLimit - 64);
    EXPECT_TRUE(scan->ends_with(",3")) << scan->substr(scan->size() - 40);
    std::string out;
    ASSERT_EQ(cliWithErrors({"wifi", "scan", kHostile}, &out), 0) << out;
    // Listed, but not as the whole scan.
    EXPECT_NE(out.find("network scan: the printer's reply was longer than 65536 bytes"), std::string::npos)
        << out.substr(out.size() - std::min<size_t>(out.size(), 300));
    size_t networks = 0;
    for (size_t at = out.find("PadNet"); at != std::string::npos; at = out.find("PadNet", at + 1)) {
        ++networks;
        const std::string name = out.substr(at, 12);
        EXPECT_TRUE(std::all_of(name.begin() + 6, name.end(), ::isdigit)) << name;
        EXPECT_EQ(out.substr(at + 12, 9), "  signal ") << out.substr(at, 30);
    }
    EXPECT_GT(networks, 4000u);

    // ESC sequences and NUL in names and passwords: shown, not executed.
    ASSERT_EQ(cli({"wifi", "show", kHostile}, &out), 0) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(out.find('\0'), std::string::npos);
    EXPECT_NE(out.find(R"(name:     Lab\x1b]0;owned\x07\x1b[2J\x00AP)"), std::string::npos) << out.substr(0, 400);
    EXPECT_NE(out.find(R"(password: pass\x1b[31m)"), std::string::npos);
    ASSERT_EQ(cli({"--json", "wifi", "show", kHostile}, &out), 0);
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_NE(out.find(R"("APName":"Lab\u001b]0;owned\u0007\u001b[2J\u0000AP")"), std::string::npos) << out.substr(0, 400);
    EXPECT_NE(out.find(R"("hotSpotListCut":true)"), std::string::npos);

    // Each reply cut by a reset halfway ("8012,Wifi Scan;Ho", then RST) is a
    // failed read, named so, and nothing of it is shown as data.
    hostile({"tcp-reset"});
    EXPECT_FALSE(exchangeCommand(kHostile, "Checkwifiserver?", 1000, 3000));
    const std::string reset = "the connection was reset before the printer ended its reply";
    ASSERT_EQ(cliWithErrors({"wifi", "scan", kHostile}, &out), 1) << out;
    EXPECT_NE(out.find("network scan: " + reset), std::string::npos) << out;
    EXPECT_EQ(out.find("no networks"), std::string::npos) << out;
    ASSERT_EQ(cliWithErrors({"wifi", "show", kHostile}, &out), 1) << out;
    for (const char* part : {"access point: ", "station: ", "network scan: "})
        EXPECT_NE(out.find(part + reset), std::string::npos) << part << out;
    EXPECT_EQ(out.find("no networks"), std::string::npos) << out;
    ASSERT_EQ(cli({"--json", "wifi", "scan", kHostile}, &out), 1);
    EXPECT_NE(out.find(R"("hotSpotList":null)"), std::string::npos) << out;
}
