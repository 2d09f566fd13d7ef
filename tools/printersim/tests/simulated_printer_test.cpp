#include "SimulatedPrinter.h"

#include <gtest/gtest.h>

#include <cctype>
#include <thread>

using namespace vexo::sim;

namespace {

std::string code(const std::string& reply) { return reply.substr(0, reply.find_first_of(",;")); }

}  // namespace

TEST(SimulatedPrinter, ReportsAccessPointInTheLayoutTheMonitorReads)
{
    SimulatedPrinter p;
    p.setAccessPoint({"Lab AP", true, "secret99", "192.168.9.1", "255.255.255.0", "192.168.9.254"});
    EXPECT_EQ(p.handleCommand("CheckwifiAP?"),
              "8014,AP Info;Lab AP\r\n6\r\nsecret99\r\n192.168.9.1\r\n255.255.255.0\r\n192.168.9.254");
    p.setAccessPoint({"Open", false, "", "10.0.0.1", "255.0.0.0", "10.0.0.1"});
    EXPECT_EQ(p.handleCommand("CheckwifiAP?"), "8014,AP Info;Open\r\n0\r\n\r\n10.0.0.1\r\n255.0.0.0\r\n10.0.0.1");
}

TEST(SimulatedPrinter, SettingFieldsAreUnescapedAndOnlyTheFirstSemicolonEnds)
{
    SimulatedPrinter p;
    EXPECT_EQ(p.handleCommand("SetwifiAP=a\x01" "b\x02" "c\r\n6\r\npa\x02ss\x01word\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;"),
              "8004,Set AP OK");
    const AccessPointSettings ap = p.accessPoint();
    EXPECT_EQ(ap.name, "a?b;c");
    EXPECT_EQ(ap.password, "pa;ss?word");
    EXPECT_TRUE(ap.encrypted);
    EXPECT_EQ(ap.gateway, "1.2.3.1");

    // An unescaped ";" inside a field cuts the command short: the printer
    // sees too few fields and refuses, leaving its settings alone.
    EXPECT_EQ(code(p.handleCommand("SetwifiAP=x\r\n6\r\npa;ssword\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;")), "8005");
    EXPECT_EQ(p.accessPoint().name, "a?b;c");
}

TEST(SimulatedPrinter, RejectsMalformedAccessPointSettings)
{
    SimulatedPrinter p;
    const AccessPointSettings before = p.accessPoint();
    for (const char* cmd : {
             "SetwifiAP=n\r\n6\r\nshort\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;",     // password < 8 encrypted
             "SetwifiAP=n\r\n3\r\npassword\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;",  // unknown encryption
             "SetwifiAP=n\r\n0\r\n\r\nS\r\n1.2.3.400\r\n255.255.255.0\r\n1.2.3.1;",        // bad address
             "SetwifiAP=\r\n0\r\n\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;",           // empty name
             "SetwifiAP=n\r\n0\r\n\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1",           // no terminator
         })
        EXPECT_EQ(code(p.handleCommand(cmd)), "8005") << cmd;
    EXPECT_EQ(p.accessPoint().name, before.name);
    EXPECT_EQ(code(p.handleCommand("SetwifiAP=n\r\n0\r\n\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;")), "8004");
}

TEST(SimulatedPrinter, StationSettingsRoundTrip)
{
    SimulatedPrinter p;
    EXPECT_EQ(p.handleCommand("SetwifiSTA=Office\r\nmy\x02pw\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0;"), "8002,Set STA OK");
    EXPECT_EQ(p.handleCommand("CheckwifiSTA?"), "8013,STA Info;Office\r\nmy;pw\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0");
    EXPECT_EQ(code(p.handleCommand("SetwifiSTA=Office\r\npw\r\nS\r\n1.2.3\r\n255.0.0.0\r\n1.0.0.1;")), "8003");
    EXPECT_EQ(code(p.handleCommand("SetwifiSTA=Office\r\npw\r\nX\r\n1.2.3.4\r\n255.0.0.0\r\n1.0.0.1;")), "8003");
    EXPECT_EQ(p.station().ipSetType, "D");
}

TEST(SimulatedPrinter, ScanAnswersNotReadyThenTheNetworks)
{
    SimulatedPrinter p;
    p.setVisibleNetworks({{"HomeNet", 4}, {"Office", 12}});
    p.setScanNotReadyCount(2);
    // "8011" carries a ";" so a reader that first cuts at ";" still sees its code.
    EXPECT_EQ(p.handleCommand("Checkwifiserver?"), "8011,Wifi Scanning;");
    EXPECT_EQ(p.handleCommand("Checkwifiserver?"), "8011,Wifi Scanning;");
    EXPECT_EQ(p.handleCommand("Checkwifiserver?"), "8012,Wifi Scan;HomeNet,4\r\nOffice,9");

    p.setVisibleNetworks({});
    EXPECT_EQ(p.handleCommand("Checkwifiserver?"), "8012,Wifi Scan;8010,Wifi Scan noap");
}

TEST(SimulatedPrinter, LongScanIsCutAtWholeLines)
{
    SimulatedPrinter p;
    std::vector<VisibleNetwork> many;
    for (int i = 0; i < 200; ++i)
        many.push_back({"Network-" + std::to_string(i), i % 10});
    p.setVisibleNetworks(many);
    p.setMaxReplyBytes(600);
    const std::string reply = p.handleCommand("Checkwifiserver?");
    ASSERT_LE(reply.size(), 600u);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(reply.back())));
    const std::string last = reply.substr(reply.rfind('\n') + 1);
    EXPECT_EQ(last.rfind("Network-", 0), 0u) << last;
    EXPECT_EQ(last[last.size() - 2], ',');
}

TEST(SimulatedPrinter, BusyAndUnsupportedModeComeBeforeEverythingElse)
{
    SimulatedPrinter p;
    p.setBusy(true);
    for (const char* cmd : {"CheckwifiAP?", "CheckwifiSTA?", "Checkwifiserver?", "SetwifiAP=x;"})
        EXPECT_EQ(p.handleCommand(cmd), "1001") << cmd;
    p.setBusy(false);

    p.setWifiMode(WifiMode::stationOnly);
    EXPECT_EQ(code(p.handleCommand("CheckwifiAP?")), "8001");
    EXPECT_EQ(code(p.handleCommand("CheckwifiSTA?")), "8013");
    p.setWifiMode(WifiMode::accessPointOnly);
    EXPECT_EQ(code(p.handleCommand("Checkwifiserver?")), "8001");
    EXPECT_EQ(code(p.handleCommand("CheckwifiAP?")), "8014");

    EXPECT_EQ(code(p.handleCommand("Event=StartOfJob;")), "9000");
    // Trailing padding of a USB transfer is ignored.
    EXPECT_EQ(code(p.handleCommand(std::string_view("CheckwifiAP?\0\0\0", 15))), "8014");
}

TEST(SimulatedPrinter, SnmpObjectsFollowTheStateUnlessOverridden)
{
    SimulatedPrinter p;
    p.setStatusCode(2009);
    p.setStatusDetail("Sleep");
    p.setToner(3);
    EXPECT_EQ(p.statusObject().value, "2009,Sleep");
    EXPECT_EQ(p.statusObject().type, "string");
    EXPECT_EQ(p.tonerObject().value, "3");
    EXPECT_EQ(p.tonerObject().type, "integer");

    p.setTonerObjectOverride(SnmpValue{"string", "plenty"});
    EXPECT_EQ(p.tonerObject().value, "plenty");
    p.setTonerObjectOverride(std::nullopt);
    EXPECT_EQ(p.tonerObject().value, "3");
}

TEST(SimulatedPrinter, CommandsFromManyThreads)
{
    SimulatedPrinter p;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&p, t] {
            for (int i = 0; i < 200; ++i) {
                p.handleCommand("CheckwifiAP?");
                p.setToner(t * 10 + i % 10);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(p.commandLog().size(), 800u);
}

TEST(DottedIPv4, AcceptsOnlyFourDecimalParts)
{
    EXPECT_TRUE(isDottedIPv4("0.0.0.0"));
    EXPECT_TRUE(isDottedIPv4("255.255.255.255"));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "a.b.c.d", "1.2.3.4 ", "1234.1.1.1"})
        EXPECT_FALSE(isDottedIPv4(bad)) << bad;
}
