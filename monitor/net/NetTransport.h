#pragma once

#include "FoundDevice.h"
#include "SnmpDiscovery.h"
#include "SnmpStatus.h"
#include "StatusReading.h"
#include "WakeUpListener.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct OrrinPrinter;

namespace vexo::net {

struct NetTransportOptions {
    DiscoveryOptions discovery;
    size_t discoveryLimit = kMaxDiscoveredPrinters;  // entries in the discovery text
    SnmpQueryOptions query;
    int wakeUpPort = kWakeUpPort;
    // Where discovery looks; the machine's own addresses unless replaced.
    std::function<std::vector<InterfaceAddress>()> interfaces = localIPv4Addresses;
    // Empty: the catalogue of the build's series.
    std::span<const OrrinPrinter> catalogue;
};

struct DiscoveryReport {
    std::string text;
    DiscoveryStats stats;
    size_t dropped = 0;
};

// The network half of the device layer: SNMP discovery and status, the
// wake-up listener and the command port. Discovery and status calls block
// for their whole time-outs.
class NetTransport {
public:
    explicit NetTransport(NetTransportOptions options = {});
    virtual ~NetTransport();

    NetTransport(const NetTransport&) = delete;
    NetTransport& operator=(const NetTransport&) = delete;

    std::vector<FoundDevice> getPrinterBySNMP();
    virtual StatusReading getSNMPStatus(const std::string& ip);
    // The same, given up (no answer) once giveUp, asked about every 100 ms, says so.
    StatusReading getSNMPStatus(const std::string& ip, const std::function<bool()>& giveUp);

    // Starts the wake-up listener once; later calls do nothing. The handler
    // runs on the listener's thread.
    void createWakeUpServer(WakeUpListener::Handler handler);

    // The catalogue printers at one address, asked there directly instead of
    // by broadcast; absent when nothing answers.
    std::optional<std::vector<FoundDevice>> printersAt(const std::string& ip);

    // One command over the printer's command port; absent when it does not answer.
    std::optional<std::string> sendCommand(const std::string& ip, std::string_view command);

    DiscoveryReport lastDiscovery() const;
    // 0 until the listener has bound its port.
    int wakeUpPort() const;

private:
    std::span<const OrrinPrinter> catalogue() const;

    NetTransportOptions options_;
    mutable std::mutex mutex_;
    DiscoveryReport last_;
    std::unique_ptr<WakeUpListener> listener_;
};

// Printers the discovery text names, through the catalogue.
std::vector<FoundDevice> printersFromDiscoveryText(std::string_view text, std::span<const OrrinPrinter> catalogue);

// A status reading from the status and toner objects' values: answered when
// the status is a text holding a code; the toner only as an integer percent.
StatusReading readingFromValues(const std::optional<SnmpValue>& status, const std::optional<SnmpValue>& toner);

}  // namespace vexo::net
