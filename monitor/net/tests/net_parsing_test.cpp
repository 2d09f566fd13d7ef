#include "NetTransport.h"
#include "SnmpDiscovery.h"
#include "SnmpStatus.h"
#include "SnmpLibrary.h"
#include "Utf8.h"
#include "WakeUpListener.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "Catalogue.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>

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
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("Idle;"));
    EXPECT_TRUE(isValidUtf8("连接断开"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x96\xA8"));
    for (std::string_view bad : {"\xFF", "\xC0\xAF", "\xE4\xBD", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"})
        EXPECT_FALSE(isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
}

TEST(ProbeTargets, OneSlash24BroadcastPerAddressAndTheRealOneWhenWider)
{
    EXPECT_EQ(ip2brocast("192.168.7.23"), "192.168.7.255");

    const auto targets = probeTargets({
        {"lo", ip("127.0.0.1"), ip("255.0.0.0")},
        {"eth0", ip("10.77.0.1"), ip("255.255.255.0")},
        {"eth0", ip("10.77.0.2"), ip("255.255.255.0")},
        {"eth1", ip("10.1.2.3"), ip("255.255.0.0")},
        {"eth2", ip("172.20.5.9"), ip("255.255.255.240")},
    });
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[0].address, "10.77.0.1");
    EXPECT_EQ(targets[0].broadcasts, std::vector<std::string>{"10.77.0.255"});
    // Two addresses in one /24 are probed separately: nothing is merged.
    EXPECT_EQ(targets[1].broadcasts, std::vector<std::string>{"10.77.0.255"});
    EXPECT_EQ(targets[2].broadcasts, (std::vector<std::string>{"10.1.2.255", "10.1.255.255"}));
    // Narrower than /24: the /24 probe only.
    EXPECT_EQ(targets[3].broadcasts, std::vector<std::string>{"172.20.5.255"});

    EXPECT_TRUE(probeTargets({{"lo", ip("127.0.0.1"), ip("255.0.0.0")}}).empty());
    EXPECT_TRUE(probeTargets({}).empty());
}

TEST(DiscoveryText, GrowsWithTheAnswersUpToItsLimit)
{
    // Far more than the 3000 bytes a fixed text once held: none is lost.
    DiscoveryText all;
    for (int i = 0; i < 500; ++i)
        EXPECT_TRUE(all.append("10.77." + std::to_string(i / 250) + "." + std::to_string(i % 250),
                               "iso.3.6.1.4.1.59317.2.1.1.31"));
    EXPECT_EQ(parseDiscoveryText(all.text()).size(), 500u);
    EXPECT_EQ(all.dropped(), 0u);

    DiscoveryText capped(2);
    EXPECT_TRUE(capped.append("10.0.0.1", "a"));
    EXPECT_TRUE(capped.append("10.0.0.2", std::string(1023, 'b')));
    EXPECT_FALSE(capped.append("10.0.0.3", "c"));
    EXPECT_EQ(capped.text(), "10.0.0.1,a|10.0.0.2," + std::string(1023, 'b') + "|");
    EXPECT_EQ(capped.dropped(), 1u);
}

TEST(DiscoveryText, ParsedIntoCataloguePrinters)
{
    const std::string text =
        "10.77.0.11,iso.3.6.1.4.1.59317.2.1.1.31|"  // VEXO
        "10.77.0.12,iso.3.6.1.4.1.4242.1|"          // someone else's device
        "|garbage|10.77.0.13,|"
        "10.77.0.14,SNMPv2-SMI::enterprises.59317.2.1.1.31|";
    const auto entries = parseDiscoveryText(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2].ip, "10.77.0.13");
    EXPECT_EQ(entries[2].oid, "");

    const QList<Printer> printers = printersFromDiscoveryText(text, catalogueFor(5));
    ASSERT_EQ(printers.size(), 2);
    EXPECT_EQ(printers[0].ip, "10.77.0.11");
    EXPECT_EQ(printers[0].label, "VEXO(10.77.0.11)");
    EXPECT_EQ(printers[0].type, "Net");
    EXPECT_EQ(printers[0].VID, 14286);
    EXPECT_EQ(printers[1].ip, "10.77.0.14");

    // An identifier holding two catalogue ids gives two records for one address;
    // rows without an id ("LX330") never match.
    const QList<Printer> two = printersFromDiscoveryText("10.0.0.5,iso.3.6.1.4.1.59317.2.1.1.5/59317.2.1.1.6|",
                                                         catalogueFor(1));
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0].name, "LX310W");
    EXPECT_EQ(two[1].name, "LX550DNW");
    EXPECT_TRUE(printersFromDiscoveryText("10.0.0.5,|", catalogueFor(1)).isEmpty());
}

TEST(StatusText, CodeOnlyFromAQuotedNumberBeforeAComma)
{
    EXPECT_EQ(parseStatusCode("STRING: \"1000,Ready,more\""), 1000);
    EXPECT_EQ(parseStatusCode("STRING: \"2009,\""), 2009);
    // A negative code is a code like any other; only no number at all is none.
    EXPECT_EQ(parseStatusCode("STRING: \"-5,neg\""), -5);
    for (std::string_view bad : {
             "error", "", "STRING: \"2000\"", "INTEGER: 2000", "STRING: 2000,ready", "STRING: \"\"",
             "STRING: \"abc,ready\"", "STRING: \",ready\"", "1,STRING: \"2000,x\"", "STRING: \"-,x\"", "STRING: \"--5,x\"", "STRING: \"+5,x\"",
             "STRING: \"99999999999999,x\"", "STRING: \" 2000,x\""})
        EXPECT_FALSE(parseStatusCode(bad)) << bad;
}

TEST(StatusText, TonerIsTheIntegerAfterTheTypeName)
{
    EXPECT_EQ(parseToner("INTEGER: 75"), 75);
    EXPECT_EQ(parseToner("INTEGER: 0"), 0);
    EXPECT_EQ(parseToner("Gauge32: 40"), 40);
    for (std::string_view bad : {"error", "", "STRING: \"75\"", "INTEGER: 75: 3", "INTEGER:75", "INTEGER: -1"})
        EXPECT_EQ(parseToner(bad), 0) << bad;

    StatusReading r = readingFromTexts("STRING: \"2000,Ready\"", "error");
    EXPECT_TRUE(r.answered);
    EXPECT_EQ(r.code, 2000);
    EXPECT_EQ(r.toner, 0);
    EXPECT_FALSE(readingFromTexts("STRING: \"ready\"", "INTEGER: 50").answered);
}

TEST(WakeUpDecision, OnlyTheSelectedPrinterWithWakeUpCounts)
{
    const std::string sel = "192.168.1.20";
    EXPECT_EQ(wakeUpDecision("Idle;", sel, sel, true, false), true);
    EXPECT_EQ(wakeUpDecision("Idle;", "192.168.1.21", sel, true, false), std::nullopt);
    EXPECT_EQ(wakeUpDecision("Idle;", sel, sel, false, false), std::nullopt);
    EXPECT_EQ(wakeUpDecision("Idle", sel, sel, true, false), std::nullopt);
    EXPECT_EQ(wakeUpDecision("power save", sel, sel, true, false), false);
    EXPECT_EQ(wakeUpDecision("power save", sel, sel, true, true), false);
    // Already awake, both texts: the "power save" test decides.
    EXPECT_EQ(wakeUpDecision("Idle;power save", sel, sel, true, true), false);
    EXPECT_EQ(wakeUpDecision("Idle;", sel, sel, true, true), std::nullopt);
    // A USB printer or the placeholder has no address: nothing matches.
    EXPECT_EQ(wakeUpDecision("Idle;", "", "", true, false), std::nullopt);
}

TEST(WakeUpDecision, OnlyNonEmptyUtf8DatagramsAreRead)
{
    EXPECT_EQ(readableWakeUpMessage(""), std::nullopt);
    EXPECT_EQ(readableWakeUpMessage("Idle;\xFF"), std::nullopt);
    EXPECT_EQ(readableWakeUpMessage(std::string_view("Idle;\0x", 7)), std::string("Idle;\0x", 7));
    const std::string longer = std::string(299, 'a') + "Idle;";
    EXPECT_EQ(readableWakeUpMessage(longer), std::string(299, 'a') + "I");
    // A character cut in two by the size limit spoils the whole datagram.
    EXPECT_EQ(readableWakeUpMessage(std::string(299, 'a') + "连"), std::nullopt);
}

TEST(StatusText, RenderedValueIsTheLastVariableCutToTheBuffer)
{
    {
        std::lock_guard lock(snmpLock());
        initSnmp("snmptest");
    }
    const oid name[] = {1, 3, 6, 1, 4, 1, 59317, 2, 7, 1, 1};
    netsnmp_variable_list* vars = nullptr;
    const std::string text = "1000," + std::string(400, 'x');
    snmp_varlist_add_variable(&vars, name, OID_LENGTH(name), ASN_OCTET_STR, text.data(), text.size());

    const std::string status = renderedValue(vars, kStatusTextSize);
    EXPECT_LT(status.size(), kStatusTextSize);
    EXPECT_EQ(parseStatusCode(status), 1000);
    EXPECT_EQ(renderedValue(vars, kTonerTextSize).size(), kTonerTextSize - 1);
    EXPECT_EQ(renderedValue(vars, 0), "");
    EXPECT_EQ(renderedValue(nullptr, kStatusTextSize), "");

    const long toner = 42;
    snmp_varlist_add_variable(&vars, name, OID_LENGTH(name), ASN_INTEGER, &toner, sizeof toner);
    EXPECT_EQ(parseToner(renderedValue(vars, kTonerTextSize)), 42);
    snmp_free_varbind(vars);
}

TEST(NetTransport, LoopbackOnlyProbesNothing)
{
    NetTransportOptions options;
    options.interfaces = [] {
        return std::vector<InterfaceAddress>{{"lo", ip("127.0.0.1"), ip("255.0.0.0")}};
    };
    NetTransport net(options);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(net.getPrinterBySNMP().isEmpty());
    // No quiet waits: nothing was sent.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(net.lastDiscovery().stats.networks, 0);
    EXPECT_EQ(net.lastDiscovery().text, "");
}
