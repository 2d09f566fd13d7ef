#pragma once

#include <mutex>

namespace vexo::net {

// Net-SNMP as packaged keeps its sessions, PDUs and parser state in
// process-wide globals and is not built reentrant: every call into it holds
// this lock, so discovery and status queries never overlap even when a
// caller strays from the monitor's one I/O thread.
std::mutex& snmpLock();

// Prepares the library's environment once (no MIB files, no persistent state
// written as the monitor's user) and runs init_snmp with the given type.
void initSnmp(const char* type);

}  // namespace vexo::net
