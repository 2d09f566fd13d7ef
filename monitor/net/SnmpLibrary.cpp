#include "SnmpLibrary.h"

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

}  // namespace vexo::net
