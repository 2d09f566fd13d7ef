// The network transport against real snmpd agents and simulated printers in
// namespaces of the test's own.

#include "NetBed.h"

#include "Catalogue.h"
#include "NetTransport.h"
#include "PrinterModel.h"
#include "SystemTransport.h"
#include "TCPCommucator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace vexo::net;
using namespace std::chrono_literals;

namespace {

constexpr const char* kForeignOid = ".1.3.6.1.4.1.4242.7.1";
constexpr const char* kSleeperOid = ".1.3.6.1.4.1.59317.2.1.1.5";  // LX310W, has the wake-up feature

std::vector<std::string> ips(const QList<Printer>& list)
{
    std::vector<std::string> out;
    for (const Printer& p : list)
        out.push_back(p.ip.toStdString());
    return out;
}

class NetBedTest : public testing::Test {
protected:
    void SetUp() override
    {
        testApp();
        const std::string why = NetBed::unavailableReason();
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    // Builds the bed and moves the test into its host namespace.
    NetBed& bed(std::vector<std::string> hosts, std::vector<NetBed::Printer> printers)
    {
        bed_ = std::make_unique<NetBed>(std::move(hosts), std::move(printers));
        EXPECT_TRUE(bed_->ok()) << bed_->error();
        EXPECT_TRUE(bed_->ok() && bed_->enterHost());
        return *bed_;
    }

    void TearDown() override
    {
        model_.reset();  // its threads leave before the namespaces go
        bed_.reset();
    }

    static NetTransportOptions quickQueries(NetTransportOptions o = {})
    {
        o.query.timeoutUs = 250'000;
        o.query.retries = 1;
        return o;
    }

    static NetTransportOptions noDiscovery(NetTransportOptions o = quickQueries())
    {
        o.interfaces = [] { return std::vector<InterfaceAddress>{}; };
        return o;
    }

    PrinterModel& model(std::shared_ptr<NetTransport> net, int series = deviceSeries, int pollMs = 300)
    {
        model_ = std::make_unique<PrinterModel>(std::make_shared<SystemTransport>(net),
                                                PrinterModel::Options{pollMs, series});
        return *model_;
    }

    std::unique_ptr<NetBed> bed_;
    std::unique_ptr<PrinterModel> model_;
};

Printer netPrinter(const std::string& ip, std::span<const OrrinPrinter> catalogue = catalogueInForce())
{
    return Printer::fromNetworkDevice(catalogue.front(), QString::fromStdString(ip));
}

}  // namespace

TEST_F(NetBedTest, DiscoveryFindsEachCataloguePrinterOnce)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {
                                            {"a", "10.77.0.11/24"},
                                            {"a", "10.77.0.12/24"},
                                            {"a", "10.77.0.13/24", kForeignOid},
                                            {"a", "10.77.0.14/24", "", "unicast"},
                                        });
    ASSERT_TRUE(b.ok());
    NetTransport net;
    QElapsedTimer t;
    t.start();
    const QList<Printer> found = net.getPrinterBySNMP();
    const DiscoveryReport report = net.lastDiscovery();

    std::vector<std::string> got = ips(found);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"10.77.0.11", "10.77.0.12"})) << report.text;
    for (const Printer& p : found) {
        EXPECT_EQ(p.type, "Net");
        EXPECT_EQ(p.label, "VEXO(" + p.ip + ")");
    }
    // The foreign device answered and is in the text, yet not in the list;
    // the agent that only takes direct requests never answered.
    EXPECT_NE(report.text.find("10.77.0.13,"), std::string::npos) << report.text;
    EXPECT_EQ(report.text.find("10.77.0.14"), std::string::npos) << report.text;
    // The request is sent again while it waits, and every printer answers
    // again: those repeats are dropped.
    EXPECT_EQ(report.stats.networks, 1);
    EXPECT_GT(report.stats.duplicates, 0);
    EXPECT_EQ(std::count(report.text.begin(), report.text.end(), '|'), 3);
    EXPECT_GE(t.elapsed(), 2500);
}

TEST_F(NetBedTest, TwoAddressesInOneNetworkListThePrinterTwice)
{
    NetBed& b = bed({"a=10.77.0.1/24", "a=10.77.0.2/24"}, {{"a", "10.77.0.11/24"}});
    ASSERT_TRUE(b.ok());
    NetTransport net;
    EXPECT_EQ(ips(net.getPrinterBySNMP()), (std::vector<std::string>{"10.77.0.11", "10.77.0.11"}));
    EXPECT_EQ(net.lastDiscovery().stats.networks, 2);
}

TEST_F(NetBedTest, WideNetworkIsProbedAtItsOwnBroadcastToo)
{
    // Segment b is a /16: printers outside the host's own /24 of it answer
    // only to 10.78.255.255.
    NetBed& b = bed({"a=10.77.0.1/24", "b=10.78.0.1/16"}, {
                                                              {"a", "10.77.0.11/24"},
                                                              {"b", "10.78.3.21/16"},
                                                              {"b", "10.78.0.22/16"},
                                                          });
    ASSERT_TRUE(b.ok());
    NetTransport net;
    std::vector<std::string> got = ips(net.getPrinterBySNMP());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"10.77.0.11", "10.78.0.22", "10.78.3.21"}))
        << net.lastDiscovery().text;
}

TEST_F(NetBedTest, SeveralNetworksAreProbedInOnePass)
{
    NetBed& b = bed({"a=10.77.0.1/24", "b=10.78.0.1/24", "c=10.79.0.1/24"}, {
                                                                                {"c", "10.79.0.31/24"},
                                                                                {"a", "10.77.0.11/24"},
                                                                                {"b", "10.78.0.21/24"},
                                                                                {"a", "10.77.0.12/24"},
                                                                                {"b", "10.78.0.22/24"},
                                                                            });
    ASSERT_TRUE(b.ok());
    NetTransport net;
    const std::vector<std::string> got = ips(net.getPrinterBySNMP());
    const DiscoveryReport report = net.lastDiscovery();
    // Networks in the order of the interface list, whatever order the
    // answers came in; one set of quiet waits for all three.
    ASSERT_EQ(got.size(), 5u) << report.text;
    std::vector<std::string> networks;
    for (const std::string& ip : got)
        networks.push_back(ip.substr(0, ip.rfind('.')));
    EXPECT_EQ(networks, (std::vector<std::string>{"10.77.0", "10.77.0", "10.78.0", "10.78.0", "10.79.0"}));
    EXPECT_EQ(report.stats.networks, 3);
    EXPECT_EQ(report.stats.quietWaits, 3);
}

TEST_F(NetBedTest, DiscoveryBeyondItsLimitKeepsWholeEntries)
{
    std::vector<NetBed::Printer> printers;
    for (int i = 11; i <= 18; ++i)
        printers.push_back({"a", "10.77.0." + std::to_string(i) + "/24"});
    NetBed& b = bed({"a=10.77.0.1/24"}, printers);
    ASSERT_TRUE(b.ok());

    NetTransportOptions o;
    o.discoveryLimit = 3;
    NetTransport net(o);
    const QList<Printer> found = net.getPrinterBySNMP();
    const DiscoveryReport report = net.lastDiscovery();
    EXPECT_EQ(found.size(), 3);
    EXPECT_EQ(report.text.back(), '|');
    EXPECT_EQ(report.dropped, 5u);
    EXPECT_EQ(parseDiscoveryText(report.text).size(), 3u);
}

TEST_F(NetBedTest, PolledPrinterShowsItsChanges)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}});
    ASSERT_TRUE(b.ok());
    auto net = std::make_shared<NetTransport>(quickQueries());
    PrinterModel& m = model(net);
    ASSERT_TRUE(waitFor([&] { return !m.isSearchingPrinter(); }));
    ASSERT_EQ(m.printerList().size(), 1);
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 10; })) << m.statusInfo().code;
    EXPECT_EQ(m.statusInfo().message, "就绪");
    EXPECT_EQ(m.statusInfo().toner, 80);

    b.control(1, "status 2006 Toner empty");
    b.control(1, "toner 0");
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 2006; }));
    EXPECT_EQ(m.statusInfo().level, 3);
    EXPECT_EQ(m.statusInfo().message, "墨粉不足");
    EXPECT_TRUE(waitFor([&] { return m.statusInfo().toner == 0; }));

    // This model has no wake-up feature: a sleeping printer is still polled.
    b.control(1, "sleep");
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 2009; }));
    EXPECT_TRUE(m.isWakeUp());
    b.control(1, "wake");
    EXPECT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));
}

TEST_F(NetBedTest, SleepingPrinterIsWokenByItsDatagram)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24", kSleeperOid}, {"a", "10.77.0.12/24", kSleeperOid}});
    ASSERT_TRUE(b.ok());
    NetTransportOptions o = quickQueries();
    o.catalogue = catalogueFor(1);
    auto net = std::make_shared<NetTransport>(o);
    PrinterModel& m = model(net, 1);
    ASSERT_TRUE(waitFor([&] { return !m.isSearchingPrinter() && net->wakeUpPort() == kWakeUpPort; }));
    ASSERT_EQ(m.printerList().size(), 2);
    const Printer first = m.printerList().first();
    EXPECT_TRUE(first.hasWakeUp);
    const int selected = first.ip == "10.77.0.11" ? 1 : 2;
    const int other = 3 - selected;
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));

    b.control(selected, "sleep");  // status 2009, no datagram yet
    ASSERT_TRUE(waitFor([&] { return !m.isWakeUp(); }));
    EXPECT_EQ(m.statusInfo().code, 2009);
    b.control(selected, "status 10");
    std::this_thread::sleep_for(1s);
    QCoreApplication::processEvents();
    EXPECT_EQ(m.statusInfo().code, 2009) << "polled while asleep";

    // Another printer waking changes nothing.
    b.control(other, "wake 10.77.0.1");
    std::this_thread::sleep_for(300ms);
    QCoreApplication::processEvents();
    EXPECT_FALSE(m.isWakeUp());

    b.control(selected, "wake 10.77.0.1");
    ASSERT_TRUE(waitFor([&] { return m.isWakeUp(); }));
    EXPECT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));

    b.control(selected, "datagram 10.77.0.1 65002 entering power save");
    EXPECT_TRUE(waitFor([&] { return !m.isWakeUp(); }));
}

TEST_F(NetBedTest, StoppedAgentIsDisconnectedUntilItAnswersAgain)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}});
    ASSERT_TRUE(b.ok());
    auto net = std::make_shared<NetTransport>(noDiscovery());
    PrinterModel& m = model(net);
    ASSERT_TRUE(waitFor([&] { return !m.isSearchingPrinter(); }));
    m.clickPrinter(netPrinter("10.77.0.11"));
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));

    const pid_t agent = b.agentPid(1);
    ASSERT_GT(agent, 0);
    ASSERT_EQ(kill(agent, SIGSTOP), 0);
    ASSERT_TRUE(waitFor([&] { return m.statusInfo().code == 4444; }));
    EXPECT_EQ(m.statusInfo().level, 3);
    EXPECT_EQ(m.statusInfo().message, "连接断开");
    EXPECT_EQ(m.statusInfo().discription, "连接断开，请查看设备的网络连接情况");
    EXPECT_EQ(m.statusInfo().toner, 80);  // the last reading's

    kill(agent, SIGCONT);
    EXPECT_TRUE(waitFor([&] { return m.statusInfo().code == 10; }));

    // Nobody at the address at all.
    const StatusReading none = net->getSNMPStatus(netPrinter("10.77.0.99"));
    EXPECT_FALSE(none.answered);
}

TEST_F(NetBedTest, MalformedValuesAreNoReading)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}});
    ASSERT_TRUE(b.ok());
    NetTransport net(noDiscovery());
    const Printer p = netPrinter("10.77.0.11");

    StatusReading r = net.getSNMPStatus(p);
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.code, 10);
    EXPECT_EQ(r.toner, 80);

    for (const char* raw : {"string 2000", "integer 2000", "string", "string abc,def", "string ,2000"}) {
        b.control(1, std::string("status-raw ") + raw);
        EXPECT_FALSE(net.getSNMPStatus(p).answered) << raw;
    }
    // Whatever follows the code, UTF-8 included, the code is read.
    for (const char* raw : {"string 3004,front cover open,extra", "string 3004,前盖打开"}) {
        b.control(1, std::string("status-raw ") + raw);
        r = net.getSNMPStatus(p);
        EXPECT_TRUE(r.answered) << raw;
        EXPECT_EQ(r.code, 3004) << raw;
    }

    // A toner that is no percent is unknown, not 0.
    for (const char* raw : {"string 75", "integer 101", "integer -1"}) {
        b.control(1, std::string("toner-raw ") + raw);
        r = net.getSNMPStatus(p);
        EXPECT_TRUE(r.answered) << raw;
        EXPECT_EQ(r.toner, std::nullopt) << raw;
    }
    b.control(1, "toner-raw integer 42");
    EXPECT_EQ(net.getSNMPStatus(p).toner, 42);

    // The agent runs, but the printer behind it is gone: no objects.
    b.control(1, "status-raw clear");
    EXPECT_TRUE(net.getSNMPStatus(p).answered);
    const pid_t sim = b.simulatorPid(1);
    ASSERT_GT(sim, 0);
    ASSERT_EQ(kill(sim, SIGTERM), 0);
    EXPECT_TRUE(waitFor([&] { return !net.getSNMPStatus(p).answered; }, 3s));
}

TEST_F(NetBedTest, CommandPortAgainstTheSimulator)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"}});
    ASSERT_TRUE(b.ok());
    b.control(1, "ap name=Lab%20AP encrypted=1 password=secret99 ip=192.168.9.1 mask=255.255.255.0 gateway=192.168.9.1");

    TCPCommucator link("10.77.0.11");
    link.setTimeouts(1000, 1000);
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(link.send("CheckwifiAP?"));
    EXPECT_EQ(link.receive(), "8014,AP Info;Lab AP\r\n6\r\nsecret99\r\n192.168.9.1\r\n255.255.255.0\r\n192.168.9.1");
    ASSERT_TRUE(link.send("SetwifiAP=Lab AP\r\n6\r\nse\x02" "cret\x01" "9\r\nS\r\n192.168.9.1\r\n255.255.255.0\r\n192.168.9.1;"));
    EXPECT_EQ(link.receive(), "8004,Set AP OK");
    EXPECT_NE(b.control(1, "get").find("ap.password=se;cret?9"), std::string::npos);

    b.control(1, "busy 1");
    ASSERT_TRUE(link.send("CheckwifiSTA?"));
    EXPECT_EQ(link.receive(), "1001");
    b.control(1, "busy 0");
    b.control(1, "scan-not-ready 1");
    ASSERT_TRUE(link.send("Checkwifiserver?"));
    EXPECT_EQ(link.receive(), "8011,Wifi Scanning;");
    ASSERT_TRUE(link.send("Checkwifiserver?"));
    EXPECT_EQ(link.receive(), "8012,Wifi Scan;HomeNet,4\r\nOffice,2");
    link.disconnect();

    // Accepts the connection, never answers: the reply wait ends.
    b.control(1, "silent 1");
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(exchangeCommand("10.77.0.11", "CheckwifiAP?", 1000, 500));
    EXPECT_LT(t.elapsed(), 1500);

    // No host at the address: the connect wait ends.
    t.restart();
    EXPECT_FALSE(exchangeCommand("10.77.0.99", "CheckwifiAP?", 500, 500));
    EXPECT_LT(t.elapsed(), 1500);
}

TEST_F(NetBedTest, CommandLineListsAndQueriesThePrinters)
{
    NetBed& b = bed({"a=10.77.0.1/24"}, {{"a", "10.77.0.11/24"},
                                         {"a", "10.77.0.12/24", kForeignOid},
                                         {"a", "10.77.0.13/24", "", "unicast"}});
    ASSERT_TRUE(b.ok());
    std::string out;
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "--json", "discover"}, &out), 0);
    const QJsonArray printers = QJsonDocument::fromJson(QByteArray::fromStdString(out))["printers"].toArray();
    ASSERT_EQ(printers.size(), 1) << out;
    EXPECT_EQ(printers[0]["ip"].toString(), "10.77.0.11");
    EXPECT_EQ(printers[0]["index"].toInt(), 1);

    b.control(1, "status 2006");
    b.control(1, "toner 0");
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "status", "10.77.0.11"}, &out), 0);
    EXPECT_NE(out.find("VEXO(10.77.0.11)"), std::string::npos) << out;
    EXPECT_NE(out.find("2006 墨粉不足 (error)"), std::string::npos) << out;
    EXPECT_NE(out.find("toner:   0%"), std::string::npos) << out;

    EXPECT_EQ(runCommand({VEXO_STATUS_CLI, "status", "10.77.0.12"}, &out), 1);

    // Its discovery answer never comes, yet by its address it is asked directly.
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "status", "10.77.0.13"}, &out), 0);
    EXPECT_NE(out.find("10 就绪 (normal)"), std::string::npos) << out;
    EXPECT_EQ(runCommand({VEXO_STATUS_CLI, "status", "10.77.0.99"}, &out), 3);
    EXPECT_NE(out.find("4444 连接断开"), std::string::npos) << out;

    // A negative code is decoded like any other, not taken for no answer.
    b.control(1, "status-raw string -5,neg");
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "status", "10.77.0.11"}, &out), 0);
    EXPECT_NE(out.find("-5 错误码-5 (error)"), std::string::npos) << out;
}
