#include "SnmpStatus.h"

#include <cstring>

#include "Log.h"
#include "SnmpDiscovery.h"
#include "SnmpLibrary.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <charconv>

namespace vexo::net {

namespace {

// Digits only, at most nine: status codes have up to four, and anything far
// longer is not one.
std::optional<std::int64_t> decimal(std::string_view s)
{
    if (s.empty() || s.size() > 9 || s.front() == '-' || s.front() == '+')
        return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

// A status code may be negative; it is decoded like any other.
std::optional<std::int64_t> signedDecimal(std::string_view s)
{
    const bool negative = !s.empty() && s.front() == '-';
    const auto value = decimal(negative ? s.substr(1) : s);
    if (!value)
        return std::nullopt;
    return negative ? -*value : *value;
}

}  // namespace

std::string getPrinterStatusBySNMP(const std::string& ip, std::string_view oidText, size_t bufferSize,
                                   const SnmpQueryOptions& options)
{
    const std::string oidString(oidText);
    qCDebug(lcMonitor, " run in getPrinterStatusBySNMP  and ip =%s oid=%s", ip.c_str(), oidString.c_str());
    std::lock_guard lock(snmpLock());
    initSnmp("snmpgetstatus");

    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_2c;
    session.community = reinterpret_cast<u_char*>(const_cast<char*>(kCommunity.data()));
    session.community_len = kCommunity.size();
    session.peername = const_cast<char*>(ip.c_str());
    if (options.timeoutUs >= 0)
        session.timeout = options.timeoutUs;
    if (options.retries >= 0)
        session.retries = options.retries;

    netsnmp_session* open = snmp_open(&session);
    if (!open) {
        snmp_sess_perror("ack", &session);
        return {};
    }

    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
    oid name[MAX_OID_LEN];
    size_t nameLen = MAX_OID_LEN;
    if (read_objid(oidString.c_str(), name, &nameLen))
        snmp_add_null_var(pdu, name, nameLen);

    netsnmp_pdu* response = nullptr;
    const int status = snmp_synch_response(open, pdu, &response);
    std::string out;
    if (status == STAT_SUCCESS && response && response->errstat == SNMP_ERR_NOERROR) {
        out = renderedValue(response->variables, bufferSize);
        qCDebug(lcMonitor, "get status info : %s", out.c_str());
    } else {
        out = "error";
        if (status == STAT_SUCCESS && response)
            qCDebug(lcMonitor, "error in packet. and reason is :%s", snmp_errstring(int(response->errstat)));
        else if (status == STAT_TIMEOUT)
            qCDebug(lcMonitor) << "error in timeout";
        else
            snmp_sess_perror("snmpgetstatus", open);
    }
    if (response)
        snmp_free_pdu(response);
    snmp_close(open);
    return out;
}

std::string renderedValue(const variable_list* variables, size_t bufferSize)
{
    std::string out;
    char scratch[200] = {};
    for (const netsnmp_variable_list* v = variables; v; v = v->next_variable) {
        scratch[0] = '\0';
        snprint_value(scratch, sizeof scratch, v->name, v->name_length, v);
        // A value too long for the buffer is left cut and unterminated.
        out.assign(scratch, strnlen(scratch, sizeof scratch));
    }
    if (bufferSize == 0)
        return {};
    if (out.size() > bufferSize - 1)
        out.resize(bufferSize - 1);
    return out;
}

std::optional<std::int64_t> parseStatusCode(std::string_view text)
{
    const size_t quote = text.find('"');
    const size_t comma = text.find(',');
    if (quote == std::string_view::npos || comma == std::string_view::npos || comma < quote)
        return std::nullopt;
    return signedDecimal(text.substr(quote + 1, comma - quote - 1));
}

std::int64_t parseToner(std::string_view text)
{
    const size_t sep = text.find(": ");
    if (sep == std::string_view::npos || text.find(": ", sep + 2) != std::string_view::npos)
        return 0;
    return decimal(text.substr(sep + 2)).value_or(0);
}

}  // namespace vexo::net
