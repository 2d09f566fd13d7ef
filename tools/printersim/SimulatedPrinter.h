#pragma once

// A printer's state and its answers to the text command language, without
// any transport: the simulator program serves it over TCP and SNMP, the
// emulated USB printer over its bulk pipes.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::sim {

struct AccessPointSettings {
    std::string name = "VEXO-AP";
    bool encrypted = true;  // reported as encryption code "6", open as "0"
    std::string password = "12345678";
    std::string ip = "192.168.1.1";
    std::string mask = "255.255.255.0";
    std::string gateway = "192.168.1.1";
};

struct StationSettings {
    std::string name;  // network the printer joins; empty: none configured
    std::string password;
    std::string ipSetType = "D";  // "D" DHCP, "S" fixed
    std::string ip = "0.0.0.0";
    std::string mask = "0.0.0.0";
    std::string gateway = "0.0.0.0";
};

struct VisibleNetwork {
    std::string name;
    int signal = 5;  // 0-9
};

// Which halves of the Wi-Fi command set the printer's current mode accepts;
// the other half answers "8001".
enum class WifiMode { accessPointAndStation, accessPointOnly, stationOnly, none };

// The raw SNMP value of a private object: a pass_persist type name and value.
struct SnmpValue {
    std::string type;  // "string", "integer", ...
    std::string value;
};

// Thread-safe: every member may be called from any thread.
class SimulatedPrinter {
public:
    SimulatedPrinter();

    // One command of the printer's language (bare bytes, as they arrive on
    // the wire) in, one reply out. Never throws.
    std::string handleCommand(std::string_view command);

    std::int64_t statusCode() const;
    void setStatusCode(std::int64_t code);
    // Text after the code in the SNMP status object ("2000,<detail>").
    std::string statusDetail() const;
    void setStatusDetail(std::string detail);

    // Whether the printer takes job data in its current state. A printer out
    // of paper, with a cover open, jammed or without its drum stops reading
    // a job until the state clears; commands are still answered.
    bool takesJobData() const;

    std::int64_t toner() const;
    void setToner(std::int64_t percent);

    std::string sysObjectID() const;
    void setSysObjectID(std::string oid);

    // While busy every Wi-Fi command answers "1001".
    bool busy() const;
    void setBusy(bool busy);

    WifiMode wifiMode() const;
    void setWifiMode(WifiMode mode);

    AccessPointSettings accessPoint() const;
    void setAccessPoint(AccessPointSettings settings);

    StationSettings station() const;
    void setStation(StationSettings settings);

    std::vector<VisibleNetwork> visibleNetworks() const;
    void setVisibleNetworks(std::vector<VisibleNetwork> networks);

    // The next n scans answer "8011" (not ready) before the result comes.
    void setScanNotReadyCount(int n);
    int scanNotReadyCount() const;

    // Replies longer than this are cut at whole lines (scan results).
    void setMaxReplyBytes(std::size_t n);

    // SNMP objects as an agent serves them. An override replaces the value
    // built from the state, so tests can serve malformed values.
    SnmpValue statusObject() const;
    SnmpValue tonerObject() const;
    void setStatusObjectOverride(std::optional<SnmpValue> value);
    void setTonerObjectOverride(std::optional<SnmpValue> value);

    // Commands received so far, as received (escapes included).
    std::vector<std::string> commandLog() const;
    void clearCommandLog();

private:
    std::string handleLocked(std::string_view command);
    std::string setAccessPointLocked(const std::vector<std::string>& fields);
    std::string setStationLocked(const std::vector<std::string>& fields);
    std::string scanLocked();
    bool accessPointAllowed() const;
    bool stationAllowed() const;

    mutable std::mutex mutex_;
    std::int64_t statusCode_ = 10;
    std::string statusDetail_ = "Ready";
    std::int64_t toner_ = 80;
    std::string sysObjectID_ = ".1.3.6.1.4.1.59317.2.1.1.31";
    bool busy_ = false;
    WifiMode wifiMode_ = WifiMode::accessPointAndStation;
    AccessPointSettings accessPoint_;
    StationSettings station_;
    std::vector<VisibleNetwork> networks_;
    int scanNotReady_ = 0;
    std::size_t maxReplyBytes_ = 1024;
    std::optional<SnmpValue> statusOverride_;
    std::optional<SnmpValue> tonerOverride_;
    std::vector<std::string> log_;
};

// Status codes in which the printer cannot print.
bool stopsPrinting(std::int64_t code);

// Setting commands carry "?" and ";" inside their fields as 0x01 and 0x02.
std::string unescapeField(std::string_view field);

// Fields of a setting payload: split at "\r\n", each unescaped.
std::vector<std::string> splitSettingFields(std::string_view payload);

bool isDottedIPv4(std::string_view text);

}  // namespace vexo::sim
