#include "SnmpStatus.h"

#include "DeviceLog.h"
#include "SnmpDiscovery.h"
#include "SnmpLibrary.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>
#include <sys/select.h>

#include <chrono>

namespace vexo::net {

namespace {

struct Pending {
    std::uint32_t peer = 0;
    std::uint16_t port = kSnmpPort;
    long requestId = 0;
    oid name[MAX_OID_LEN] = {};
    size_t nameLength = 0;
    bool done = false;
    std::optional<SnmpValue> value;
    int rejected = 0;
};

int queryCallback(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic)
{
    auto* p = static_cast<Pending*>(magic);
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE) {
        p->done = true;  // timed out or disconnected
        return 1;
    }
    const auto from = senderOf(pdu);
    if (!from || from->address != p->peer || from->port != p->port || pdu->command != SNMP_MSG_RESPONSE ||
        pdu->reqid != p->requestId) {
        // Not the printer's answer: keep the request open for the real one.
        ++p->rejected;
        return 0;
    }
    p->done = true;
    if (pdu->errstat != SNMP_ERR_NOERROR) {
        logDebug("error in packet. and reason is :%s", snmp_errstring(int(pdu->errstat)));
        return 1;
    }
    if (const netsnmp_variable_list* v = askedVariable(pdu, p->name, p->nameLength))
        p->value = valueOf(v);
    return 1;
}

}  // namespace

std::optional<SnmpValue> getPrinterStatusBySNMP(const std::string& ip, std::string_view oidText,
                                                const SnmpQueryOptions& options, SnmpQueryStats* stats)
{
    const std::string oidString(oidText);
    logDebug(" run in getPrinterStatusBySNMP  and ip =%s oid=%s", ip.c_str(), oidString.c_str());
    Pending pending;
    in_addr address{};
    if (::inet_pton(AF_INET, ip.c_str(), &address) != 1)
        return std::nullopt;
    pending.peer = ntohl(address.s_addr);
    pending.port = options.port;

    std::lock_guard lock(snmpLock());
    initSnmp("snmpgetstatus");
    pending.nameLength = MAX_OID_LEN;
    if (!read_objid(oidString.c_str(), pending.name, &pending.nameLength))
        return std::nullopt;

    const std::string peer = ip + ":" + std::to_string(options.port);
    netsnmp_session session;
    prepareSession(session, peer.c_str(), queryCallback, &pending);
    if (options.timeoutUs >= 0)
        session.timeout = options.timeoutUs;
    if (options.retries >= 0)
        session.retries = options.retries;

    netsnmp_session* open = snmp_open(&session);
    if (!open) {
        snmp_sess_perror("ack", &session);
        return std::nullopt;
    }
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
    pdu->reqid = newRequestId();
    snmp_add_null_var(pdu, pending.name, pending.nameLength);
    // The id that went out, whatever the library made of ours.
    pending.requestId = snmp_send(open, pdu);
    if (pending.requestId == 0) {
        snmp_sess_perror("snmpgetstatus", open);
        snmp_free_pdu(pdu);
        snmp_close(open);
        return std::nullopt;
    }

    // The library's own time-out ends the wait; the deadline only guards
    // against a flood that never lets a wait run out.
    const long timeoutUs = open->timeout > 0 ? open->timeout : 1'000'000;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(timeoutUs * (open->retries + 1)) + std::chrono::seconds(1);
    while (!pending.done && std::chrono::steady_clock::now() < deadline) {
        if (options.giveUp && options.giveUp())
            break;
        int count = 0;
        int block = 1;
        fd_set set;
        FD_ZERO(&set);
        timeval wait{1, 0};
        snmp_select_info(&count, &set, &wait, &block);
        if (options.giveUp && (wait.tv_sec > 0 || wait.tv_usec > 100'000))
            wait = {0, 100'000};
        const int ready = ::select(count, &set, nullptr, nullptr, &wait);
        if (ready > 0)
            snmp_read(&set);
        // Also after a read: a steady stream of packets must not hold off
        // the retries and the expiry.
        snmp_timeout();
    }
    if (!pending.done)
        DEVICE_LOG(debug) << "error in timeout";
    if (pending.rejected > 0)
        logDebug("%d packets that were not the printer's answer passed over", pending.rejected);
    if (stats)
        stats->rejected = pending.rejected;
    snmp_close(open);
    return pending.value;
}

}  // namespace vexo::net
