#pragma once

// What an SNMP answer must be before anything in it is believed: from the
// printer asked, on the SNMP port, a Response to our own request, carrying
// the object asked for. Plain functions over the library's PDU, for every
// program that asks these printers over SNMP.

#include <cstdint>
#include <optional>
#include <string>

struct snmp_pdu;
struct variable_list;

namespace vexo::net {

inline constexpr std::uint16_t kSnmpPort = 161;
// An octet string is kept up to this many bytes; a status text is far shorter.
inline constexpr size_t kValueBytesLimit = 1024;

// A variable's value as it came, not as the library would print it.
struct SnmpValue {
    enum class Kind { other, octets, integer, objectId };
    Kind kind = Kind::other;
    int type = 0;                         // ASN.1 type
    std::string octets;                   // an OCTET STRING's bytes
    std::optional<std::int64_t> integer;  // INTEGER and the unsigned integer kinds
    std::string objid;                    // an OBJECT IDENTIFIER, rendered
};

// A request id from the system's random source: earlier traffic, the
// discovery broadcast included, tells nothing about the next one.
long newRequestId();

// The IPv4 sender of a received PDU, in host order; absent when unknown.
struct Sender {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};
std::optional<Sender> senderOf(const snmp_pdu* pdu);

// A Response PDU to request `requestId` from the SNMP port of `peer` (any
// address when absent, as for a broadcast).
bool isAnswerTo(const snmp_pdu* pdu, long requestId, std::optional<std::uint32_t> peer);

// The first variable named exactly name[0..length); null when none is.
const variable_list* askedVariable(const snmp_pdu* pdu, const unsigned long* name, size_t length);

SnmpValue valueOf(const variable_list* variable);

}  // namespace vexo::net
