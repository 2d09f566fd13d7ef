// On the very first start (no printer was ever added), the printers found
// on USB and on the network are added, each with the driver of its model.
#pragma once

#include <pappl/pappl.h>

namespace vexo::app {

// Arranges it for a server about to run; costs nothing otherwise (`drivers`).
void addPrintersOnFirstStart(pappl_system_t* system);

// Calls off a search under way and waits for it; for when the server has
// stopped, before the process ends.
void stopFirstStart();

}  // namespace vexo::app
