// The network printers of the catalogue, as the monitor's SNMP discovery
// finds them, offered to PAPPL as socket://ADDRESS:9100 devices.
#pragma once

#include <string>
#include <vector>

namespace vexo::app {

struct FoundPrinter {
    std::string info;  // "Vexo VEXO (10.77.0.11)"
    std::string uri;   // "socket://10.77.0.11:9100"
    std::string id;    // IEEE 1284 device ID naming the model
};

// Blocks for the whole discovery (a few seconds).
std::vector<FoundPrinter> discoverNetworkPrinters();
// Ends a discovery under way at once, and any later one: for shutdown.
void cancelNetworkDiscovery();

// Adds the listing to PAPPL's device list: `devices`, `autoadd` and the web
// interface's "Add Printer" see it. Must run before PAPPL lists any device.
void addNetworkDiscovery();

}  // namespace vexo::app
