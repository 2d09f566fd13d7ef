// The device layer's diagnostics (USB and SNMP exchanges) in the server's log.
#pragma once

#include <pappl/pappl.h>

namespace vexo::app {

void logDevicesToPappl(pappl_system_t* system);
// Once PAPPL's main loop is over the system is gone: the lines go nowhere.
void stopDeviceLog();

// For a thread PAPPL does not wait for at shutdown (the first start's
// search): its lines would reach a system PAPPL may be freeing, so it logs none.
void quietDeviceLogOnThisThread();

}  // namespace vexo::app
