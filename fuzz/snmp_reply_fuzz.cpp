// A raw SNMP reply packet, as a status query or a discovery broadcast
// receives it: parsed by the library, then through the monitor's own
// acceptance checks and value reading.
#include "NetTransport.h"
#include "SnmpDiscovery.h"
#include "SnmpLibrary.h"
#include "SnmpReply.h"
#include "SnmpStatus.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace vexo::net;

namespace {

const oid kStatus[] = {1, 3, 6, 1, 4, 1, 59317, 2, 7, 1, 1};
const oid kToner[] = {1, 3, 6, 1, 4, 1, 59317, 2, 7, 4, 1};
constexpr std::uint32_t kPrinter = 0x0A4D000B;  // 10.77.0.11

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        initSnmp("snmpfuzz");
        return true;
    }();
    (void)ready;
    if (size < 3)
        return 0;
    // The first bytes choose the sender's port and address; the rest is the packet.
    const std::uint16_t port = data[0] & 1 ? kSnmpPort : std::uint16_t(1024 + data[0]);
    const std::uint32_t sender = data[1] & 1 ? kPrinter : kPrinter + data[1];
    std::vector<u_char> packet(data + 2, data + size);

    // The message header, then the PDU, as the library reads a datagram.
    u_char community[256];
    size_t communityLength = sizeof community;
    long version = 0;
    size_t length = packet.size();
    u_char* pduStart = snmp_comstr_parse(packet.data(), &length, community, &communityLength, &version);
    if (!pduStart)
        return 0;
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_RESPONSE);
    if (snmp_pdu_parse(pdu, pduStart, &length) == 0) {
        // Freed with the PDU, as the library does with a received one.
        auto* from = static_cast<sockaddr_in*>(std::calloc(1, sizeof(sockaddr_in)));
        from->sin_family = AF_INET;
        from->sin_port = htons(port);
        from->sin_addr.s_addr = htonl(sender);
        pdu->transport_data = from;
        pdu->transport_data_length = sizeof(sockaddr_in);

        const bool believed = isAnswerTo(pdu, pdu->reqid, kPrinter);
        if (believed && (pdu->command != SNMP_MSG_RESPONSE || port != kSnmpPort || sender != kPrinter))
            std::abort();
        if (isAnswerTo(pdu, pdu->reqid ^ 1, std::nullopt))
            std::abort();  // another request's answer

        const auto* status = askedVariable(pdu, kStatus, OID_LENGTH(kStatus));
        const auto* toner = askedVariable(pdu, kToner, OID_LENGTH(kToner));
        std::optional<SnmpValue> statusValue, tonerValue;
        if (status) {
            statusValue = valueOf(status);
            if (statusValue->octets.size() > kValueBytesLimit)
                std::abort();
        }
        if (toner)
            tonerValue = valueOf(toner);
        const StatusReading r = readingFromValues(statusValue, tonerValue);
        if (r.toner && (*r.toner < 0 || *r.toner > 100))
            std::abort();
        if (r.answered && !status)
            std::abort();

        DiscoveryContext context;
        context.count += mc_network_discovery_handle(pdu, &context);
        context.count += mc_network_discovery_handle(pdu, &context);  // a repeat is not counted
        if (context.count > 1 || context.duplicates != context.count)
            std::abort();
        DiscoveryText text;
        for (const DiscoveredHost& h : context.detect)
            text.append(h.ip_addr, h.oid);
        if (parseDiscoveryText(text.text()).size() != context.detect.size())
            std::abort();
    }
    snmp_free_pdu(pdu);
    return 0;
}
