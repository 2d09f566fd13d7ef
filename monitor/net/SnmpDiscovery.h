#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct snmp_pdu;

namespace vexo::net {

inline constexpr std::string_view kCommunity = "ramble";
inline constexpr size_t kDiscoveryTextSize = 3000;

// The joined answers of one discovery: "<ip>,<oid>|" per host. Never grows
// past its capacity (terminator included): an entry that does not fit whole
// is dropped, and so is every later one.
class DiscoveryText {
public:
    explicit DiscoveryText(size_t capacity = kDiscoveryTextSize) : capacity_(capacity) {}

    bool append(std::string_view ip, std::string_view oid);
    const std::string& text() const { return text_; }
    size_t capacity() const { return capacity_; }
    size_t dropped() const { return dropped_; }

private:
    size_t capacity_;
    std::string text_;
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
    int replies = 0;     // every reply delivered, repeats included
    int duplicates = 0;  // replies from a host already recorded
};

struct DiscoveryOptions {
    int quietWaits = 3;
    long quietWaitUs = 1'250'000;
};

struct DiscoveryStats {
    int networks = 0;
    int replies = 0;
    int duplicates = 0;
};

// Probes every target in turn and appends its answers to out.
DiscoveryStats autoDetectSNMPPrinters(DiscoveryText& out, const std::vector<ProbeTarget>& targets,
                                      const DiscoveryOptions& options = {});
// Probes one network: one GET to each broadcast address, answers collected
// together until the quiet waits have passed. 0, or -1 when nothing could be sent.
int detectOneSubNet(DiscoveryText& out, const std::vector<std::string>& broadcasts, DiscoveryContext& context,
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
