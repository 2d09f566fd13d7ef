#include "SnmpLibrary.h"

#include "SnmpDiscovery.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>

namespace vexo::net {

std::mutex& snmpLock()
{
    static std::mutex lock;
    return lock;
}

void initSnmp(const char* type)
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Only numeric identifiers are matched; loading every MIB costs time
        // and floods the log when the files are missing.
        ::setenv("MIBS", "", 0);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_QUICK_PRINT, 0);
    });
    // Later calls return at once; the first one sets the library up.
    init_snmp(type);
}

void prepareSession(snmp_session& session, const char* peer,
                    int (*callback)(int, snmp_session*, int, snmp_pdu*, void*), void* magic)
{
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_2c;
    session.community = reinterpret_cast<u_char*>(const_cast<char*>(kCommunity.data()));
    session.community_len = kCommunity.size();
    session.peername = const_cast<char*>(peer);
    session.callback = callback;
    session.callback_magic = magic;
}

}  // namespace vexo::net
