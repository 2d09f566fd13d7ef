#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

struct snmp_pdu;

namespace vexo::net {

inline constexpr std::string_view kCommunity = "ramble";
// Far above any real network; a flood of forged answers stops here.
inline constexpr size_t kMaxDiscoveredPrinters = 4096;

// The joined answers of one discovery: "<ip>,<oid>|" per host. Grows with
// the answers up to maxEntries entries; later ones are counted, not kept.
class DiscoveryText {
public:
    explicit DiscoveryText(size_t maxEntries = kMaxDiscoveredPrinters) : maxEntries_(maxEntries) {}

    bool append(std::string_view ip, std::string_view oid);
    const std::string& text() const { return text_; }
    size_t entries() const { return entries_; }
    size_t dropped() const { return dropped_; }

private:
    size_t maxEntries_;
    std::string text_;
    size_t entries_ = 0;
    size_t dropped_ = 0;
};

// One local IPv4 address, in host byte order.
struct InterfaceAddress {
    std::string interface;
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
};

// One local address and where its discovery request goes: always its /24
// broadcast, and its real broadcast too when the network is wider.
struct ProbeTarget {
    std::string address;
    std::vector<std::string> broadcasts;
};

std::vector<InterfaceAddress> localIPv4Addresses();
std::vector<ProbeTarget> probeTargets(const std::vector<InterfaceAddress>& addresses);

// The /24 broadcast of a dotted address: everything up to its third "." and
// "255". The netmask is not consulted.
std::string ip2brocast(std::string_view ip);

struct DiscoveredHost {
    std::string ip_addr;
    std::string oid;
};

// Collection state of one probed network.
struct DiscoveryContext {
    int count = 0;
    std::vector<DiscoveredHost> detect;
    std::unordered_set<std::string> seen;  // the addresses in detect
    int replies = 0;     // every reply delivered, repeats included
    int duplicates = 0;  // replies from a host already recorded
    int overflow = 0;    // new hosts past kMaxDiscoveredPrinters
    int rejected = 0;    // packets that were no answer to our request
};

struct DiscoveryOptions {
    int quietWaits = 3;
    long quietWaitUs = 1'250'000;
    // Once readable, the collection ends at once (a process shutting down
    // must not wait out the quiet waits); -1: never.
    int cancelFd = -1;
};

struct DiscoveryStats {
    int networks = 0;    // networks whose request went out
    int replies = 0;
    int duplicates = 0;
    int rejected = 0;
    int quietWaits = 0;  // for all networks together
};

// Probes every target in one pass: one GET to each broadcast address of
// every network, then the answers of all of them collected together until
// the quiet waits have passed. Each network's hosts are appended to out in
// the order of their first answer, networks in the order of targets.
DiscoveryStats autoDetectSNMPPrinters(DiscoveryText& out, const std::vector<ProbeTarget>& targets,
                                      const DiscoveryOptions& options = {});
// 1 when the reply came from a host not yet recorded for this network.
int mc_network_discovery_handle(snmp_pdu* pdu, DiscoveryContext* magic);

struct DiscoveryEntry {
    std::string ip;
    std::string oid;
};

// Cuts a discovery text into its entries; pieces without a "," are skipped.
std::vector<DiscoveryEntry> parseDiscoveryText(std::string_view text);

}  // namespace vexo::net
