#include "NetTransport.h"
#include "SnmpDiscovery.h"
#include "SnmpLibrary.h"
#include "SnmpReply.h"
#include "TCPCommucator.h"
#include "Utf8.h"
#include "WakeUpListener.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "Catalogue.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>

using namespace vexo::net;

namespace {

std::uint32_t ip(const char* text)
{
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

}  // namespace

TEST(Utf8, AcceptsWellFormedAndRefusesTheRest)
{
    for (std::string_view good : {"", "Idle;", "连接断开", "\xF0\x9F\x96\xA8"})
        EXPECT_TRUE(isValidUtf8(good)) << good;
    for (std::string_view bad : {"\xFF", "\xC0\xAF", "\xE4\xBD", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"})
        EXPECT_FALSE(isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
}

TEST(ProbeTargets, OneSlash24BroadcastPerAddressAndTheRealOneWhenWider)
{
    const auto targets = probeTargets({
        {"lo", ip("127.0.0.1"), ip("255.0.0.0")},  // loopback holds no printers
        {"eth0", ip("10.77.0.1"), ip("255.255.255.0")},
        {"eth1", ip("10.1.2.3"), ip("255.255.0.0")},
        {"eth2", ip("172.20.5.9"), ip("255.255.255.240")},  // narrower: the /24 probe only
    });
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].address, "10.77.0.1");
    EXPECT_EQ(targets[0].broadcasts, std::vector<std::string>{"10.77.0.255"});
    EXPECT_EQ(targets[1].broadcasts, (std::vector<std::string>{"10.1.2.255", "10.1.255.255"}));
    EXPECT_EQ(targets[2].broadcasts, std::vector<std::string>{"172.20.5.255"});
}

TEST(DiscoveryText, HoldsWholeEntriesUpToItsLimitAndParsesOnlyOurs)
{
    // Far more than the 3000 bytes a fixed text once held: none is lost;
    // beyond a limit, whole entries only.
    DiscoveryText all, capped(3);
    for (int i = 0; i < 500; ++i)
        for (DiscoveryText* t : {&all, &capped})
            t->append("10.77." + std::to_string(i / 250) + "." + std::to_string(i % 250), "iso.3.6.1.4.1.59317.2.1.1.31");
    EXPECT_EQ(parseDiscoveryText(all.text()).size(), 500u);
    EXPECT_EQ(all.dropped(), 0u);
    EXPECT_EQ(parseDiscoveryText(capped.text()).size(), 3u);
    EXPECT_EQ(capped.dropped(), 497u);

    const std::string text =
        "10.77.0.11,iso.3.6.1.4.1.59317.2.1.1.31|"  // VEXO
        "10.77.0.12,iso.3.6.1.4.1.4242.1|"          // someone else's device
        "|garbage|10.77.0.13,|"
        "10.77.0.14,SNMPv2-SMI::enterprises.59317.2.1.1.31|";
    EXPECT_EQ(parseDiscoveryText(text).size(), 4u);
    const auto printers = printersFromDiscoveryText(text, catalogueFor(5));
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].row->printerName, "VEXO");
    EXPECT_EQ(printers[0].ip, "10.77.0.11");
    EXPECT_EQ(printers[0].link, Link::network);
    EXPECT_EQ(printers[1].ip, "10.77.0.14");
    // An identifier holding two catalogue ids gives two records for one address.
    EXPECT_EQ(printersFromDiscoveryText("10.0.0.5,iso.3.6.1.4.1.59317.2.1.1.5/59317.2.1.1.6|", catalogueFor(1)).size(), 2u);
}

TEST(WakeUpDecision, OnlyReadableDatagramsForTheSelectedPrinterWithWakeUpCount)
{
    const std::string sel = "192.168.1.20";
    struct Case { std::string message, sender, selected; bool hasWakeUp, awake; std::optional<bool> want; };
    for (const Case& c : {Case{"Idle;", sel, sel, true, false, true}, Case{"Idle;", "192.168.1.21", sel, true, false, {}},
                          Case{"Idle;", sel, sel, false, false, {}}, Case{"Idle", sel, sel, true, false, {}},
                          Case{"power save", sel, sel, true, false, false}, Case{"power save", sel, sel, true, true, false},
                          Case{"Idle;power save", sel, sel, true, true, false}, Case{"Idle;", sel, sel, true, true, {}},
                          Case{"Idle;", "", "", true, false, {}}})  // a USB printer has no address
        EXPECT_EQ(wakeUpDecision(c.message, c.sender, c.selected, c.hasWakeUp, c.awake), c.want)
            << c.message << " from " << c.sender << " " << c.hasWakeUp << c.awake;

    EXPECT_EQ(readableWakeUpMessage(""), std::nullopt);
    EXPECT_EQ(readableWakeUpMessage("Idle;\xFF"), std::nullopt);
    EXPECT_EQ(readableWakeUpMessage(std::string_view("Idle;\0x", 7)), std::string("Idle;\0x", 7));
    // A character cut in two by the size limit spoils the whole datagram.
    EXPECT_EQ(readableWakeUpMessage(std::string(299, 'a') + "连"), std::nullopt);
}

// Forged answers: only a Response to our request from the printer's SNMP port counts.
TEST(SnmpReply, OnlyAResponseToOurRequestFromThePrinterCounts)
{
    {
        std::lock_guard lock(snmpLock());
        initSnmp("snmptest");
    }
    struct Case { int command; long reqid; const char* from; std::uint16_t port;
                  std::optional<std::uint32_t> peer; bool counts; };
    const std::uint32_t printer = ip("10.77.0.11");
    for (const Case& c : {Case{SNMP_MSG_RESPONSE, 77, "10.77.0.11", 161, printer, true},
                          Case{SNMP_MSG_RESPONSE, 77, "10.77.0.66", 161, std::nullopt, true},  // a broadcast's
                          Case{SNMP_MSG_RESPONSE, 77, "10.77.0.66", 161, printer, false},
                          Case{SNMP_MSG_RESPONSE, 77, "10.77.0.11", 1161, printer, false},
                          Case{SNMP_MSG_RESPONSE, 78, "10.77.0.11", 161, printer, false},
                          Case{SNMP_MSG_GET, 77, "10.77.0.11", 161, printer, false},
                          Case{SNMP_MSG_TRAP2, 77, "10.77.0.11", 161, printer, false},
                          Case{SNMP_MSG_REPORT, 77, "10.77.0.11", 161, printer, false}}) {
        netsnmp_pdu* pdu = snmp_pdu_create(c.command);
        pdu->reqid = c.reqid;
        auto* a = static_cast<sockaddr_in*>(std::malloc(sizeof(sockaddr_in)));
        *a = sockaddr_in{AF_INET, htons(c.port), {htonl(ip(c.from))}, {}};
        pdu->transport_data = a;
        pdu->transport_data_length = sizeof(sockaddr_in);
        EXPECT_EQ(isAnswerTo(pdu, 77, c.peer), c.counts) << c.command << " " << c.reqid << " " << c.from << ":" << c.port;
        snmp_free_pdu(pdu);
    }
    EXPECT_NE(newRequestId(), newRequestId());
}

TEST(CommandPort, ACutReplyLosesItsUnfinishedLine)
{
    EXPECT_EQ(withoutCutLine("8012,Wifi Scan;A,4\r\nB,2", false), "8012,Wifi Scan;A,4\r\nB,2");
    EXPECT_EQ(withoutCutLine("8012,Wifi Scan;A,4\r\nPadNet0000", true), "8012,Wifi Scan;A,4");
    EXPECT_EQ(withoutCutLine("8012,Wifi Scan;PadNet0000", true), "");
}
