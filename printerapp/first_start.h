// On the very first start (no printer was ever added), the printers found
// on USB and on the network are added, each with the driver of its model;
// `autoadd` adds those found since the same way.
#pragma once

#include <pappl/pappl.h>

#include <functional>
#include <string>
#include <vector>

namespace vexo::app {

struct FoundDevice {
    std::string info, uri, id;  // as PAPPL lists a device
};

using AddError = std::function<void(const std::string& name, const std::string& why)>;

// Adds each device that has a driver of ours and that no printer of the
// server reaches yet (same URI or USB serial number), under a name no
// printer has. Returns how many were added; `error` hears of each refusal.
int addFoundDevices(http_t* http, const std::vector<FoundDevice>& devices, const AddError& error);

// Arranges it for a server about to run; costs nothing otherwise (`drivers`).
void addPrintersOnFirstStart(pappl_system_t* system);

// The `autoadd` sub-command: the devices found now, added to the running
// server (started when none runs) as on the first start. PAPPL 1.3.1's own
// adds a device again each time and gives two printers of one model one name.
int autoAdd(const char* baseName);

// Calls off a search under way and waits for it; for when the server has
// stopped, before the process ends.
void stopFirstStart();

}  // namespace vexo::app
