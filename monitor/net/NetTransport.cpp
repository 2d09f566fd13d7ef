#include "NetTransport.h"

#include "Catalogue.h"
#include "DeviceLog.h"
#include "StatusValues.h"
#include "TCPCommucator.h"

namespace vexo::net {
namespace {

std::vector<FoundDevice> printersAtAddress(const std::string& ip, std::string_view sysObjectID,
                                           std::span<const OrrinPrinter> catalogue)
{
    std::vector<FoundDevice> printers;
    for (const OrrinPrinter* row : matchSysObjectID(catalogue, sysObjectID))
        printers.push_back({row, Link::network, printerVendorID, row->PID, ip, {}});
    return printers;
}

std::optional<std::int64_t> statusCode(const std::optional<SnmpValue>& status)
{
    if (!status || status->kind != SnmpValue::Kind::octets)
        return std::nullopt;
    return statusCodeFromText(status->octets);
}

// The status text as the log shows it: bytes outside printable ASCII, and the
// separators, percent-encoded.
std::string printable(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == ' ' || c == ',' || c == '"';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0x0F];
        }
    }
    return out;
}

}  // namespace

std::vector<FoundDevice> printersFromDiscoveryText(std::string_view text, std::span<const OrrinPrinter> catalogue)
{
    std::vector<FoundDevice> printers;
    for (const DiscoveryEntry& e : parseDiscoveryText(text)) {
        auto found = printersAtAddress(e.ip, e.oid, catalogue);
        printers.insert(printers.end(), found.begin(), found.end());
    }
    return printers;
}

StatusReading readingFromValues(const std::optional<SnmpValue>& status, const std::optional<SnmpValue>& toner)
{
    StatusReading r;
    const auto code = statusCode(status);
    if (!code)
        return r;
    r.answered = true;
    r.code = *code;
    if (toner && toner->integer)
        r.toner = tonerPercent(*toner->integer);
    return r;
}

NetTransport::NetTransport(NetTransportOptions options) : options_(std::move(options)) {}

NetTransport::~NetTransport()
{
    if (listener_)
        listener_->stop();
}

std::span<const OrrinPrinter> NetTransport::catalogue() const
{
    return options_.catalogue.empty() ? catalogueInForce() : options_.catalogue;
}

std::vector<FoundDevice> NetTransport::getPrinterBySNMP()
{
    DiscoveryText text(options_.discoveryLimit);
    const auto addresses = options_.interfaces ? options_.interfaces() : std::vector<InterfaceAddress>{};
    const DiscoveryStats stats = autoDetectSNMPPrinters(text, probeTargets(addresses), options_.discovery);
    DEVICE_LOG(debug) << text.text();
    {
        std::lock_guard lock(mutex_);
        last_ = {text.text(), stats, text.dropped()};
    }
    return printersFromDiscoveryText(text.text(), catalogue());
}

StatusReading NetTransport::getSNMPStatus(const std::string& ip)
{
    return getSNMPStatus(ip, {});
}

StatusReading NetTransport::getSNMPStatus(const std::string& ip, const std::function<bool()>& giveUp)
{
    DEVICE_LOG(debug) << "snmp query ip = " << ip;
    SnmpQueryOptions query = options_.query;
    query.giveUp = giveUp;
    const auto status = getPrinterStatusBySNMP(ip, kStatusOid, query);
    if (status)
        DEVICE_LOG(debug) << "rInfo = " << printable(status->octets);
    if (!statusCode(status))
        return {};  // no answer, or a value we cannot read: no answer
    const auto toner = getPrinterStatusBySNMP(ip, kTonerOid, query);
    DEVICE_LOG(debug) << "toner oid ret = " << (toner && toner->integer ? *toner->integer : -1);
    return readingFromValues(status, toner);
}

std::optional<std::vector<FoundDevice>> NetTransport::printersAt(const std::string& ip)
{
    // Only a quick look: the status query that follows has the full time-out.
    SnmpQueryOptions quick = options_.query;
    if (quick.timeoutUs < 0)
        quick.timeoutUs = 1'000'000;
    if (quick.retries < 0)
        quick.retries = 1;
    const auto id = getPrinterStatusBySNMP(ip, kSysObjectIDOid, quick);
    if (!id)
        return std::nullopt;
    return printersAtAddress(ip, id->objid, catalogue());
}

void NetTransport::createWakeUpServer(WakeUpListener::Handler handler)
{
    if (listener_)
        return;
    listener_ = std::make_unique<WakeUpListener>(options_.wakeUpPort, std::move(handler));
    listener_->start();
}

std::optional<std::string> NetTransport::sendCommand(const std::string& ip, std::string_view command)
{
    return exchangeCommand(ip, command);
}

DiscoveryReport NetTransport::lastDiscovery() const
{
    std::lock_guard lock(mutex_);
    return last_;
}

int NetTransport::wakeUpPort() const { return listener_ ? listener_->boundPort() : 0; }

}  // namespace vexo::net
