#include "SnmpReply.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/random.h>

#include <algorithm>
#include <chrono>

static_assert(sizeof(oid) == sizeof(unsigned long), "oid is the library's unsigned long");

namespace vexo::net {

long newRequestId()
{
    std::uint32_t r = 0;
    if (::getrandom(&r, sizeof r, 0) != sizeof r)
        r = std::uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
    // Positive and never 0: the library reads 0 as "none set".
    return long(r & 0x7FFFFFFF) | 1;
}

std::optional<Sender> senderOf(const snmp_pdu* pdu)
{
    // The UDP transport hands over the sender's address pair, which starts
    // with the IPv4 socket address.
    const auto* from = static_cast<const sockaddr_in*>(pdu->transport_data);
    if (!from || pdu->transport_data_length < int(sizeof(sockaddr_in)) || from->sin_family != AF_INET)
        return std::nullopt;
    return Sender{ntohl(from->sin_addr.s_addr), ntohs(from->sin_port)};
}

bool isAnswerTo(const snmp_pdu* pdu, long requestId, std::optional<std::uint32_t> peer)
{
    if (!pdu || pdu->command != SNMP_MSG_RESPONSE || pdu->reqid != requestId)
        return false;
    const auto from = senderOf(pdu);
    return from && from->port == kSnmpPort && (!peer || from->address == *peer);
}

const variable_list* askedVariable(const snmp_pdu* pdu, const unsigned long* name, size_t length)
{
    for (const netsnmp_variable_list* v = pdu ? pdu->variables : nullptr; v; v = v->next_variable)
        if (snmp_oid_compare(v->name, v->name_length, name, length) == 0)
            return v;
    return nullptr;
}

SnmpValue valueOf(const variable_list* v)
{
    SnmpValue value;
    value.type = v->type;
    switch (v->type) {
    case ASN_OCTET_STR:
        value.kind = SnmpValue::Kind::octets;
        if (v->val.string)
            value.octets.assign(reinterpret_cast<const char*>(v->val.string),
                                std::min(v->val_len, kValueBytesLimit));
        break;
    case ASN_INTEGER:
        value.kind = SnmpValue::Kind::integer;
        if (v->val.integer && v->val_len >= sizeof(long))
            value.integer = *v->val.integer;
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
        // Unsigned 32-bit kinds, held in a long.
        value.kind = SnmpValue::Kind::integer;
        if (v->val.integer && v->val_len >= sizeof(long))
            value.integer = std::int64_t(static_cast<unsigned long>(*v->val.integer) & 0xFFFFFFFFul);
        break;
    case ASN_OBJECT_ID:
        value.kind = SnmpValue::Kind::objectId;
        if (v->val.objid) {
            char text[1024] = {};
            snprint_objid(text, sizeof text, v->val.objid, v->val_len / sizeof(oid));
            value.objid = text;
        }
        break;
    default:
        break;  // exceptions (noSuchObject, ...) and every other type carry nothing we read
    }
    return value;
}

}  // namespace vexo::net
