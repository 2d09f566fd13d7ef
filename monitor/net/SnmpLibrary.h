#pragma once

#include <mutex>

struct snmp_session;
struct snmp_pdu;

namespace vexo::net {

// Net-SNMP as packaged keeps its sessions, PDUs and parser state in
// process-wide globals and is not built reentrant: every call into it holds
// this lock, so discovery and status queries never overlap even when a
// caller strays from the monitor's one I/O thread.
std::mutex& snmpLock();

// Prepares the library's environment once (no MIB files, no persistent state
// written as the monitor's user) and runs init_snmp with the given type.
void initSnmp(const char* type);

// A v2c session to peer with the printers' community, its answers handed to
// callback with magic.
void prepareSession(snmp_session& session, const char* peer,
                    int (*callback)(int, snmp_session*, int, snmp_pdu*, void*), void* magic);

}  // namespace vexo::net
