#include "SnmpDiscovery.h"

#include "DeviceLog.h"
#include "SnmpLibrary.h"
#include "SnmpReply.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/select.h>

#include <algorithm>
#include <bit>
#include <deque>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace vexo::net {

namespace {

constexpr const char* kRequested[] = {
    ".1.3.6.1.2.1.1.1.0",      // sysDescr.0
    ".1.3.6.1.2.1.1.2.0",      // sysObjectID.0
    ".1.3.6.1.2.1.2.2.1.6.1",  // ifPhysAddress.1
};
constexpr const char* kSysObjectID = ".1.3.6.1.2.1.1.2.0";

// Replies normally stop within a few seconds; a host that never stops
// sending must not hold discovery forever.
constexpr auto kCollectionLimit = std::chrono::seconds(30);

std::string dotted(std::uint32_t hostOrder)
{
    in_addr a{htonl(hostOrder)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// One broadcast request and the network it collects for.
struct Probe {
    DiscoveryContext* context = nullptr;
    long requestId = 0;
};

int mc_network_discovery_cb(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic)
{
    DEVICE_LOG(debug) << " execute in function mc_network_discovery_cb +++++++++++++++++";
    if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE) {
        auto* probe = static_cast<Probe*>(magic);
        DiscoveryContext* context = probe->context;
        // Requests, traps, reports and answers to someone else's request
        // reach this callback too: none of them is a printer answering us.
        if (!isAnswerTo(pdu, probe->requestId, std::nullopt)) {
            ++context->rejected;
            return 0;
        }
        context->count += mc_network_discovery_handle(pdu, context);
        logDebug(" add %d printer", context->count);
    }
    // Not handled: the broadcast request stays pending, so the answers of
    // every other host keep arriving.
    return 0;
}

// Opens a session to one broadcast address and sends the discovery GET;
// null when either fails.
netsnmp_session* sendProbe(const std::string& broadcast, Probe& probe)
{
    netsnmp_session session;
    prepareSession(session, broadcast.c_str(), mc_network_discovery_cb, &probe);
    session.flags |= SNMP_FLAGS_UDP_BROADCAST;
    logDebug("brocast sub net ip = %s", broadcast.c_str());

    netsnmp_session* open = snmp_open(&session);
    if (!open) {
        snmp_sess_perror("ack", &session);
        return nullptr;
    }
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
    pdu->reqid = newRequestId();
    for (const char* text : kRequested) {
        oid name[MAX_OID_LEN];
        size_t nameLen = MAX_OID_LEN;
        if (read_objid(text, name, &nameLen))
            snmp_add_null_var(pdu, name, nameLen);
    }
    probe.requestId = snmp_send(open, pdu);
    if (probe.requestId == 0) {
        DEVICE_LOG(debug) << " send snmp request error ++++++++++++++++++++++++++++++++++++++++++";
        snmp_free_pdu(pdu);
        snmp_close(open);
        return nullptr;
    }
    return open;
}

// Reads answers for every open session until the quiet waits have passed;
// the number of quiet waits.
int collectReplies(const DiscoveryOptions& options)
{
    const auto deadline = std::chrono::steady_clock::now() + kCollectionLimit;
    int quiet = 0;
    while (quiet < options.quietWaits && std::chrono::steady_clock::now() < deadline) {
        logDebug("    loop=%d", quiet);
        int count = 0;
        int block = 0;
        fd_set set;
        FD_ZERO(&set);
        timeval wait{options.quietWaitUs / 1'000'000, options.quietWaitUs % 1'000'000};
        snmp_select_info(&count, &set, &wait, &block);
        if (options.cancelFd >= 0) {
            FD_SET(options.cancelFd, &set);
            count = std::max(count, options.cancelFd + 1);
        }
        const int ready = ::select(count, &set, nullptr, nullptr, &wait);
        if (ready > 0 && options.cancelFd >= 0 && FD_ISSET(options.cancelFd, &set)) {
            DEVICE_LOG(debug) << "discovery cancelled";
            break;
        }
        if (ready > 0) {
            DEVICE_LOG(debug) << "snmp has data to read =========";
            snmp_read(&set);
        } else if (ready == 0) {
            snmp_timeout();
            ++quiet;
        } else {
            // A failing wait counts as quiet, so collection always ends.
            logDebug("select failed: %s", std::strerror(errno));
            ++quiet;
        }
    }
    return quiet;
}

}  // namespace

bool DiscoveryText::append(std::string_view ip, std::string_view oid)
{
    if (entries_ >= maxEntries_) {
        ++dropped_;
        return false;
    }
    text_.append(ip).append(",").append(oid).append("|");
    ++entries_;
    return true;
}

std::string ip2brocast(std::string_view ip)
{
    size_t dots = 0;
    size_t i = 0;
    for (; i < ip.size() && dots < 3; ++i)
        if (ip[i] == '.')
            ++dots;
    return std::string(ip.substr(0, i)) + "255";
}

std::vector<InterfaceAddress> localIPv4Addresses()
{
    std::vector<InterfaceAddress> list;
    ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0) {
        std::perror("getifaddrs");
        return list;
    }
    for (ifaddrs* i = head; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceAddress a;
        a.interface = i->ifa_name ? i->ifa_name : "";
        a.address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        a.netmask = i->ifa_netmask ? ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr)
                                   : 0xFFFFFF00u;
        list.push_back(a);
    }
    ::freeifaddrs(head);
    return list;
}

std::vector<ProbeTarget> probeTargets(const std::vector<InterfaceAddress>& addresses)
{
    std::vector<ProbeTarget> targets;
    for (const InterfaceAddress& a : addresses) {
        if ((a.address >> 24) == 127)
            continue;  // loopback holds no printers
        ProbeTarget t{dotted(a.address), {}};
        logDebug("one ip of computer address : %s", t.address.c_str());
        t.broadcasts.push_back(ip2brocast(t.address));
        // Offices often run one /16 or wider; printers outside our own /24
        // answer only to the network's real broadcast.
        const int prefix = std::popcount(a.netmask);
        const bool contiguous = a.netmask == (prefix == 0 ? 0u : ~0u << (32 - prefix));
        if (contiguous && prefix >= 8 && prefix < 24) {
            const std::string wide = dotted(a.address | ~a.netmask);
            if (wide != t.broadcasts.front())
                t.broadcasts.push_back(wide);
        }
        targets.push_back(std::move(t));
    }
    return targets;
}

int mc_network_discovery_handle(snmp_pdu* pdu, DiscoveryContext* magic)
{
    ++magic->replies;
    const auto* from = static_cast<const sockaddr_in*>(pdu->transport_data);
    if (!from || pdu->transport_data_length < int(sizeof(sockaddr_in)) || from->sin_family != AF_INET) {
        DEVICE_LOG(debug) << " responder == NULL";
        return 0;
    }
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from->sin_addr, ip, sizeof ip);
    logDebug("ip_addr = %s ", ip);

    if (magic->detect.empty())
        DEVICE_LOG(debug) << "magic->detect is null";
    if (magic->seen.contains(ip)) {
        ++magic->duplicates;
        logDebug("ip %s  is already handled!", ip);
        return 0;
    }
    if (magic->detect.size() >= kMaxDiscoveredPrinters) {
        ++magic->overflow;
        return 0;
    }

    oid name[MAX_OID_LEN];
    size_t nameLen = MAX_OID_LEN;
    std::string rendered;
    if (read_objid(kSysObjectID, name, &nameLen)) {
        if (netsnmp_variable_list* v = find_varbind_in_list(pdu->variables, name, nameLen)) {
            if (v->type != ASN_OBJECT_ID)
                return 0;  // an exception or a wrong type: not a device we know
            char buf[1024] = {};
            snprint_objid(buf, sizeof buf, v->val.objid, v->val_len / sizeof(oid));
            rendered = buf;
        }
    }
    logDebug("device is : %s ", rendered.c_str());
    magic->detect.push_back({ip, rendered});
    magic->seen.insert(ip);
    return 1;
}

DiscoveryStats autoDetectSNMPPrinters(DiscoveryText& out, const std::vector<ProbeTarget>& targets,
                                      const DiscoveryOptions& options)
{
    DiscoveryStats stats;
    std::vector<DiscoveryContext> contexts(targets.size());
    std::deque<Probe> probes;  // the sessions' callback arguments: they must not move
    std::vector<netsnmp_session*> sessions;
    {
        std::lock_guard lock(snmpLock());
        initSnmp("snmpapp");
        // Every network's request goes out first, so all of them share one
        // set of quiet waits instead of paying three each.
        for (size_t i = 0; i < targets.size(); ++i) {
            bool sent = false;
            for (const std::string& broadcast : targets[i].broadcasts) {
                Probe& probe = probes.emplace_back(Probe{&contexts[i], 0});
                if (netsnmp_session* s = sendProbe(broadcast, probe)) {
                    sessions.push_back(s);
                    sent = true;
                }
            }
            stats.networks += sent;
        }
        if (!sessions.empty())
            stats.quietWaits = collectReplies(options);
        // Closing reports the pending requests to the callback once more;
        // the contexts are still alive for it.
        for (netsnmp_session* s : sessions)
            snmp_close(s);
    }

    size_t overflow = 0;
    for (const DiscoveryContext& c : contexts) {
        for (const DiscoveredHost& h : c.detect)
            out.append(h.ip_addr, h.oid);
        stats.replies += c.replies;
        stats.duplicates += c.duplicates;
        stats.rejected += c.rejected;
        overflow += size_t(c.overflow);
    }
    if (out.dropped() + overflow > 0)
        logWarning("discovery: %zu hosts past the limit left out", out.dropped() + overflow);
    return stats;
}

std::vector<DiscoveryEntry> parseDiscoveryText(std::string_view text)
{
    std::vector<DiscoveryEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('|', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view piece = text.substr(start, end - start);
        start = end + 1;
        const size_t comma = piece.find(',');
        if (piece.empty() || comma == std::string_view::npos)
            continue;
        const std::string_view rest = piece.substr(comma + 1);
        entries.push_back({std::string(piece.substr(0, comma)), std::string(rest.substr(0, rest.find(',')))});
    }
    return entries;
}

}  // namespace vexo::net
