#include "SimulatedPrinter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace vexo::sim;

namespace {

std::string code(const std::string& reply) { return reply.substr(0, reply.find_first_of(",;")); }

// One conversation, in the layouts the monitor reads. A bare code is compared
// with the reply's code only. Rejected settings leave the last good ones.
TEST(SimulatedPrinter, AnswersAsThePrinterDoes)
{
    SimulatedPrinter p;
    p.setAccessPoint({"Lab AP", true, "secret99", "192.168.9.1", "255.255.255.0", "192.168.9.254"});
    p.setVisibleNetworks({{"HomeNet", 4}, {"Office", 12}});
    p.setScanNotReadyCount(1);
    const std::string tail = "\r\nS\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1;";
    const std::pair<std::string, std::string> steps[] = {
        {"CheckwifiAP?", "8014,AP Info;Lab AP\r\n6\r\nsecret99\r\n192.168.9.1\r\n255.255.255.0\r\n192.168.9.254"},
        // "?" and ";" travel as \x01 and \x02; only the first bare ";" ends a setting.
        {"SetwifiAP=a\x01" "b\x02" "c\r\n0\r\n" + tail, "8004,Set AP OK"},
        {"SetwifiAP=x\r\n6\r\npa;ssword" + tail, "8005"},
        {"SetwifiAP=n\r\n6\r\nshort" + tail, "8005"},     // too short to encrypt with
        {"SetwifiAP=n\r\n3\r\npassword" + tail, "8005"},  // unknown encryption
        {"SetwifiAP=n\r\n0\r\n\r\nS\r\n1.2.3.400\r\n255.255.255.0\r\n1.2.3.1;", "8005"},
        {"SetwifiAP=\r\n0\r\n" + tail, "8005"},  // no name
        {"SetwifiAP=n\r\n0\r\n" + tail.substr(0, tail.size() - 1), "8005"},  // not terminated
        {"CheckwifiAP?", "8014,AP Info;a?b;c\r\n0\r\n\r\n1.2.3.4\r\n255.255.255.0\r\n1.2.3.1"},
        {"SetwifiSTA=Office\r\nmy\x02pw\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0;", "8002,Set STA OK"},
        {"SetwifiSTA=Office\r\npw\r\nS\r\n1.2.3\r\n255.0.0.0\r\n1.0.0.1;", "8003"},
        {"SetwifiSTA=Office\r\npw\r\nX\r\n1.2.3.4\r\n255.0.0.0\r\n1.0.0.1;", "8003"},
        {"CheckwifiSTA?", "8013,STA Info;Office\r\nmy;pw\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0"},
        // "8011" carries a ";" so a reader that first cuts at ";" still sees its code.
        {"Checkwifiserver?", "8011,Wifi Scanning;"},
        {"Checkwifiserver?", "8012,Wifi Scan;HomeNet,4\r\nOffice,9"},
        {"Event=StartOfJob;", "9000"},
        {std::string("CheckwifiAP?\0\0\0", 15), "8014"},  // a USB transfer's padding
    };
    for (const auto& [command, reply] : steps) {
        const std::string got = p.handleCommand(command);
        EXPECT_EQ(reply.find(',') == std::string::npos ? code(got) : got, reply) << command;
    }
    // Addresses in settings: four decimal parts of at most 255, nothing else.
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "a.b.c.d", "1.2.3.4 ", "1234.1.1.1"})
        EXPECT_FALSE(isDottedIPv4(bad)) << bad;
    p.setVisibleNetworks({});
    EXPECT_EQ(p.handleCommand("Checkwifiserver?"), "8012,Wifi Scan;8010,Wifi Scan noap");

    // A long scan is cut at whole lines: Network-n follows the nth line break.
    std::vector<VisibleNetwork> many;
    for (int i = 0; i < 200; ++i)
        many.push_back({"Network-" + std::to_string(i), i % 10});
    p.setVisibleNetworks(many);
    p.setMaxReplyBytes(600);
    const std::string scan = p.handleCommand("Checkwifiserver?");
    ASSERT_LE(scan.size(), 600u);
    const std::string last = scan.substr(scan.rfind('\n') + 1);
    EXPECT_EQ(last, "Network-" + std::to_string(std::count(scan.begin(), scan.end(), '\n')) + "," + last.back());
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

}  // namespace
