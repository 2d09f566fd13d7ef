// Built without the monitor's transports: no printer is read or discovered.
#include "network_devices.h"
#include "printer_link.h"

namespace vexo::app {

std::optional<PrinterLink> linkFor(std::string_view, std::string_view) { return std::nullopt; }
std::vector<FoundPrinter> discoverNetworkPrinters() { return {}; }
void cancelNetworkDiscovery() {}
void addNetworkDiscovery() {}

}  // namespace vexo::app
