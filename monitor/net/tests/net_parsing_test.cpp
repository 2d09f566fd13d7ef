#include "NetTransport.h"
#include "SnmpDiscovery.h"
#include "SnmpStatus.h"
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

#include <chrono>
#include <cstdlib>
#include <limits>

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

namespace {

// A received PDU as the library hands it over: sender, command, request id.
struct Received {
    netsnmp_pdu* pdu;

    Received(int command, long reqid, const char* from, std::uint16_t port)
    {
        {
            std::lock_guard lock(snmpLock());
            initSnmp("snmptest");
        }
        pdu = snmp_pdu_create(command);
        pdu->reqid = reqid;
        auto* a = static_cast<sockaddr_in*>(std::calloc(1, sizeof(sockaddr_in)));
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(ip(from));
        pdu->transport_data = a;
        pdu->transport_data_length = sizeof(sockaddr_in);
    }
    ~Received() { snmp_free_pdu(pdu); }

    void add(const oid* name, size_t length, u_char type, const void* value, size_t size)
    {
        snmp_pdu_add_variable(pdu, name, length, type, value, size);
    }
};

const oid kStatus[] = {1, 3, 6, 1, 4, 1, 59317, 2, 7, 1, 1};
const oid kToner[] = {1, 3, 6, 1, 4, 1, 59317, 2, 7, 4, 1};
const oid kSysDescr[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};

}  // namespace

TEST(SnmpReply, OnlyAResponseToOurRequestFromThePrinterCounts)
{
    const std::uint32_t printer = ip("10.77.0.11");
    EXPECT_TRUE(isAnswerTo(Received(SNMP_MSG_RESPONSE, 77, "10.77.0.11", 161).pdu, 77, printer));
    EXPECT_TRUE(isAnswerTo(Received(SNMP_MSG_RESPONSE, 77, "10.77.0.66", 161).pdu, 77, std::nullopt));
    struct Case {
        int command;
        long reqid;
        const char* from;
        std::uint16_t port;
    };
    for (const Case& c : {Case{SNMP_MSG_RESPONSE, 77, "10.77.0.66", 161}, Case{SNMP_MSG_RESPONSE, 77, "10.77.0.11", 1161},
                          Case{SNMP_MSG_RESPONSE, 78, "10.77.0.11", 161}, Case{SNMP_MSG_GET, 77, "10.77.0.11", 161},
                          Case{SNMP_MSG_TRAP2, 77, "10.77.0.11", 161}, Case{SNMP_MSG_REPORT, 77, "10.77.0.11", 161}})
        EXPECT_FALSE(isAnswerTo(Received(c.command, c.reqid, c.from, c.port).pdu, 77, printer))
            << c.command << " " << c.reqid << " " << c.from << ":" << c.port;
    EXPECT_NE(newRequestId(), newRequestId());
}

TEST(SnmpReply, TheAskedObjectIsReadFromItsBytes)
{
    Received r(SNMP_MSG_RESPONSE, 1, "10.77.0.11", 161);
    // Not the status object, though it reads like one; then the status
    // twice: the first one counts.
    r.add(kSysDescr, OID_LENGTH(kSysDescr), ASN_OCTET_STR, "1,Ready", 7);
    const std::string withNul("3004,\0front", 11);
    r.add(kStatus, OID_LENGTH(kStatus), ASN_OCTET_STR, withNul.data(), withNul.size());
    r.add(kStatus, OID_LENGTH(kStatus), ASN_OCTET_STR, "1,Ready", 7);
    const netsnmp_variable_list* v = askedVariable(r.pdu, kStatus, OID_LENGTH(kStatus));
    ASSERT_NE(v, nullptr);
    const SnmpValue status = valueOf(v);
    EXPECT_EQ(status.octets, withNul);
    EXPECT_EQ(askedVariable(r.pdu, kToner, OID_LENGTH(kToner)), nullptr);

    const std::string utf8 = "3004,前盖打开";
    Received chinese(SNMP_MSG_RESPONSE, 1, "10.77.0.11", 161);
    chinese.add(kStatus, OID_LENGTH(kStatus), ASN_OCTET_STR, utf8.data(), utf8.size());
    EXPECT_EQ(readingFromValues(valueOf(chinese.pdu->variables), std::nullopt).code, 3004);

    // Toner: an integer percent, or unknown.
    const long percent = 42, huge = std::numeric_limits<long>::max();
    Received toner(SNMP_MSG_RESPONSE, 1, "10.77.0.11", 161);
    toner.add(kToner, OID_LENGTH(kToner), ASN_INTEGER, &percent, sizeof percent);
    toner.add(kToner, OID_LENGTH(kToner), ASN_INTEGER, &huge, sizeof huge);
    toner.add(kToner, OID_LENGTH(kToner), ASN_OCTET_STR, "75", 2);
    std::vector<std::optional<std::int64_t>> read;
    for (const netsnmp_variable_list* t = toner.pdu->variables; t; t = t->next_variable)
        read.push_back(readingFromValues(status, valueOf(t)).toner);
    EXPECT_EQ(read, (std::vector<std::optional<std::int64_t>>{42, std::nullopt, std::nullopt}));

    const StatusReading noToner = readingFromValues(status, std::nullopt);
    EXPECT_TRUE(noToner.answered);
    EXPECT_EQ(noToner.code, 3004);
    EXPECT_EQ(noToner.toner, std::nullopt);
    // A status that is not a text is no answer.
    EXPECT_FALSE(readingFromValues(valueOf(toner.pdu->variables), std::nullopt).answered);
}

TEST(CommandPort, ACutReplyLosesItsUnfinishedLine)
{
    EXPECT_EQ(withoutCutLine("8012,Wifi Scan;A,4\r\nB,2", false), "8012,Wifi Scan;A,4\r\nB,2");
    EXPECT_EQ(withoutCutLine("8012,Wifi Scan;A,4\r\nPadNet0000", true), "8012,Wifi Scan;A,4");
    EXPECT_EQ(withoutCutLine("8012,Wifi Scan;PadNet0000", true), "");
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
