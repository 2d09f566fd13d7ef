// The PDU part of an SNMP reply, as a status query or a discovery
// broadcast receives it.
#include "NetTransport.h"
#include "SnmpDiscovery.h"
#include "SnmpLibrary.h"
#include "SnmpStatus.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace vexo::net;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        initSnmp("snmpfuzz");
        return true;
    }();
    (void)ready;

    std::vector<u_char> bytes(data, data + size);
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_RESPONSE);
    size_t length = bytes.size();
    if (snmp_pdu_parse(pdu, bytes.data(), &length) == 0) {
        // Freed with the PDU, as the library does with a received one.
        auto* from = static_cast<sockaddr_in*>(std::calloc(1, sizeof(sockaddr_in)));
        from->sin_family = AF_INET;
        from->sin_addr.s_addr = htonl(0x0A4D0001);
        pdu->transport_data = from;
        pdu->transport_data_length = sizeof(sockaddr_in);

        const std::string status = renderedValue(pdu->variables, kStatusTextSize);
        const std::string toner = renderedValue(pdu->variables, kTonerTextSize);
        if (status.size() >= kStatusTextSize || toner.size() >= kTonerTextSize)
            std::abort();
        readingFromTexts(status, toner);

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
