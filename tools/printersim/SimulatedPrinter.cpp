#include "SimulatedPrinter.h"

#include "StatusCodes.h"

#include <algorithm>
#include <charconv>

namespace vexo::sim {

namespace {

constexpr std::string_view kBusy = "1001";
constexpr std::string_view kModeUnsupported = "8001,Wifi mode not supported";

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool printable(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

// Payload of a setting: after the "=", up to the first ";" that ends it.
// Without a terminator the command is incomplete.
std::optional<std::string_view> settingPayload(std::string_view command, std::string_view keyword)
{
    std::string_view rest = command.substr(keyword.size());
    const size_t end = rest.find(';');
    if (end == std::string_view::npos)
        return std::nullopt;
    return rest.substr(0, end);
}

}  // namespace

bool stopsPrinting(std::int64_t code)
{
    switch (code) {
    case 3078: case 3079: case 3080:                    // no paper
    case 2022: case 3004: case 3009:                    // a cover open
    case 3017: case 3018: case 3019: case 3020: case 3025: case 3026: case 3064:
    case 3070: case 3071: case 3072: case 3075: case 3076: case 3077: case 3083:  // jams and misfeeds
    case 1012: case 2018: case 2020:                    // no drum, or one used up
    case kStatusNoAnswer:
        return true;
    default:
        return false;
    }
}

std::string unescapeField(std::string_view field)
{
    std::string out(field);
    for (char& c : out) {
        if (c == '\x01')
            c = '?';
        else if (c == '\x02')
            c = ';';
    }
    return out;
}

std::vector<std::string> splitSettingFields(std::string_view payload)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t at = payload.find("\r\n", start);
        if (at == std::string_view::npos) {
            fields.push_back(unescapeField(payload.substr(start)));
            return fields;
        }
        fields.push_back(unescapeField(payload.substr(start, at - start)));
        start = at + 2;
    }
}

bool isDottedIPv4(std::string_view text)
{
    int parts = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('.', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view part = text.substr(start, end - start);
        if (part.empty() || part.size() > 3)
            return false;
        int value = 0;
        auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (ec != std::errc() || ptr != part.data() + part.size() || value > 255)
            return false;
        ++parts;
        start = end + 1;
        if (end == text.size())
            break;
    }
    return parts == 4;
}

SimulatedPrinter::SimulatedPrinter()
    : networks_{{"HomeNet", 4}, {"Office", 2}}
{
}

std::string SimulatedPrinter::handleCommand(std::string_view command)
{
    std::lock_guard lock(mutex_);
    log_.emplace_back(command);
    // A USB host may pad its transfer; padding is not part of the command.
    while (!command.empty() && command.back() == '\0')
        command.remove_suffix(1);
    return handleLocked(command);
}

bool SimulatedPrinter::accessPointAllowed() const
{
    return wifiMode_ == WifiMode::accessPointAndStation || wifiMode_ == WifiMode::accessPointOnly;
}

bool SimulatedPrinter::stationAllowed() const
{
    return wifiMode_ == WifiMode::accessPointAndStation || wifiMode_ == WifiMode::stationOnly;
}

std::string SimulatedPrinter::handleLocked(std::string_view command)
{
    constexpr std::string_view setAP = "SetwifiAP=";
    constexpr std::string_view setSTA = "SetwifiSTA=";

    const bool isAP = command == "CheckwifiAP?" || startsWith(command, setAP);
    const bool isStation =
        command == "CheckwifiSTA?" || command == "Checkwifiserver?" || startsWith(command, setSTA);
    if (!isAP && !isStation)
        return "9000,Unknown command";
    if (busy_)
        return std::string(kBusy);
    if ((isAP && !accessPointAllowed()) || (isStation && !stationAllowed()))
        return std::string(kModeUnsupported);

    if (command == "CheckwifiAP?") {
        const AccessPointSettings& ap = accessPoint_;
        return "8014,AP Info;" + ap.name + "\r\n" + (ap.encrypted ? "6" : "0") + "\r\n" + ap.password + "\r\n" +
               ap.ip + "\r\n" + ap.mask + "\r\n" + ap.gateway;
    }
    if (command == "CheckwifiSTA?") {
        const StationSettings& sta = station_;
        return "8013,STA Info;" + sta.name + "\r\n" + sta.password + "\r\n" + sta.ipSetType + "\r\n" + sta.ip +
               "\r\n" + sta.mask + "\r\n" + sta.gateway;
    }
    if (command == "Checkwifiserver?")
        return scanLocked();
    if (startsWith(command, setAP)) {
        const auto payload = settingPayload(command, setAP);
        if (!payload)
            return "8005,Set AP param error";
        return setAccessPointLocked(splitSettingFields(*payload));
    }
    const auto payload = settingPayload(command, setSTA);
    if (!payload)
        return "8003,Set STA param error";
    return setStationLocked(splitSettingFields(*payload));
}

std::string SimulatedPrinter::setAccessPointLocked(const std::vector<std::string>& f)
{
    const std::string rejected = "8005,Set AP param error";
    // name, encryption code, password, address type, ip, mask, gateway
    if (f.size() != 7)
        return rejected;
    if (f[0].empty() || f[0].size() > 32 || !printable(f[0]))
        return rejected;
    if (f[1] != "6" && f[1] != "0")
        return rejected;
    const bool encrypted = f[1] == "6";
    if (f[2].size() > 64 || !printable(f[2]) || (encrypted && f[2].size() < 8))
        return rejected;
    if (f[3] != "S" || !isDottedIPv4(f[4]) || !isDottedIPv4(f[5]) || !isDottedIPv4(f[6]))
        return rejected;
    accessPoint_ = {f[0], encrypted, f[2], f[4], f[5], f[6]};
    return "8004,Set AP OK";
}

std::string SimulatedPrinter::setStationLocked(const std::vector<std::string>& f)
{
    const std::string rejected = "8003,Set STA param error";
    // name, password, address type, ip, mask, gateway
    if (f.size() != 6)
        return rejected;
    if (f[0].empty() || f[0].size() > 32 || f[1].size() > 64)
        return rejected;
    if (f[2] == "S") {
        if (!isDottedIPv4(f[3]) || !isDottedIPv4(f[4]) || !isDottedIPv4(f[5]))
            return rejected;
    } else if (f[2] != "D") {
        return rejected;
    }
    station_ = {f[0], f[1], f[2], f[3], f[4], f[5]};
    return "8002,Set STA OK";
}

std::string SimulatedPrinter::scanLocked()
{
    if (scanNotReady_ > 0) {
        --scanNotReady_;
        return "8011,Wifi Scanning;";
    }
    std::string reply = "8012,Wifi Scan;";
    if (networks_.empty())
        return reply + "8010,Wifi Scan noap";
    bool first = true;
    for (const VisibleNetwork& n : networks_) {
        const int level = std::clamp(n.signal, 0, 9);
        std::string line = (first ? "" : "\r\n") + n.name + "," + char('0' + level);
        if (reply.size() + line.size() > maxReplyBytes_)
            break;  // whole lines only
        reply += line;
        first = false;
    }
    return reply;
}

std::int64_t SimulatedPrinter::statusCode() const
{
    std::lock_guard lock(mutex_);
    return statusCode_;
}

void SimulatedPrinter::setStatusCode(std::int64_t code)
{
    std::lock_guard lock(mutex_);
    statusCode_ = code;
}

std::string SimulatedPrinter::statusDetail() const
{
    std::lock_guard lock(mutex_);
    return statusDetail_;
}

void SimulatedPrinter::setStatusDetail(std::string detail)
{
    std::lock_guard lock(mutex_);
    statusDetail_ = std::move(detail);
}

bool SimulatedPrinter::takesJobData() const
{
    std::lock_guard lock(mutex_);
    return !stopsPrinting(statusCode_);
}

std::int64_t SimulatedPrinter::toner() const
{
    std::lock_guard lock(mutex_);
    return toner_;
}

void SimulatedPrinter::setToner(std::int64_t percent)
{
    std::lock_guard lock(mutex_);
    toner_ = percent;
}

std::string SimulatedPrinter::sysObjectID() const
{
    std::lock_guard lock(mutex_);
    return sysObjectID_;
}

void SimulatedPrinter::setSysObjectID(std::string oid)
{
    std::lock_guard lock(mutex_);
    sysObjectID_ = std::move(oid);
}

bool SimulatedPrinter::busy() const
{
    std::lock_guard lock(mutex_);
    return busy_;
}

void SimulatedPrinter::setBusy(bool busy)
{
    std::lock_guard lock(mutex_);
    busy_ = busy;
}

WifiMode SimulatedPrinter::wifiMode() const
{
    std::lock_guard lock(mutex_);
    return wifiMode_;
}

void SimulatedPrinter::setWifiMode(WifiMode mode)
{
    std::lock_guard lock(mutex_);
    wifiMode_ = mode;
}

AccessPointSettings SimulatedPrinter::accessPoint() const
{
    std::lock_guard lock(mutex_);
    return accessPoint_;
}

void SimulatedPrinter::setAccessPoint(AccessPointSettings settings)
{
    std::lock_guard lock(mutex_);
    accessPoint_ = std::move(settings);
}

StationSettings SimulatedPrinter::station() const
{
    std::lock_guard lock(mutex_);
    return station_;
}

void SimulatedPrinter::setStation(StationSettings settings)
{
    std::lock_guard lock(mutex_);
    station_ = std::move(settings);
}

std::vector<VisibleNetwork> SimulatedPrinter::visibleNetworks() const
{
    std::lock_guard lock(mutex_);
    return networks_;
}

void SimulatedPrinter::setVisibleNetworks(std::vector<VisibleNetwork> networks)
{
    std::lock_guard lock(mutex_);
    networks_ = std::move(networks);
}

void SimulatedPrinter::setScanNotReadyCount(int n)
{
    std::lock_guard lock(mutex_);
    scanNotReady_ = std::max(n, 0);
}

int SimulatedPrinter::scanNotReadyCount() const
{
    std::lock_guard lock(mutex_);
    return scanNotReady_;
}

void SimulatedPrinter::setMaxReplyBytes(std::size_t n)
{
    std::lock_guard lock(mutex_);
    maxReplyBytes_ = n;
}

SnmpValue SimulatedPrinter::statusObject() const
{
    std::lock_guard lock(mutex_);
    if (statusOverride_)
        return *statusOverride_;
    return {"string", std::to_string(statusCode_) + "," + statusDetail_};
}

SnmpValue SimulatedPrinter::tonerObject() const
{
    std::lock_guard lock(mutex_);
    if (tonerOverride_)
        return *tonerOverride_;
    return {"integer", std::to_string(toner_)};
}

void SimulatedPrinter::setStatusObjectOverride(std::optional<SnmpValue> value)
{
    std::lock_guard lock(mutex_);
    statusOverride_ = std::move(value);
}

void SimulatedPrinter::setTonerObjectOverride(std::optional<SnmpValue> value)
{
    std::lock_guard lock(mutex_);
    tonerOverride_ = std::move(value);
}

std::vector<std::string> SimulatedPrinter::commandLog() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

void SimulatedPrinter::clearCommandLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
}

}  // namespace vexo::sim
