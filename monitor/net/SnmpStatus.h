#pragma once

#include "SnmpReply.h"
#include "StatusOids.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vexo::net {

using ::kStatusOid;
using ::kTonerOid;
inline constexpr std::string_view kSysObjectIDOid = ".1.3.6.1.2.1.1.2.0";

struct SnmpQueryOptions {
    // Negative: leave the library's defaults.
    long timeoutUs = -1;
    int retries = -1;
    // The agent's port; only tests move it.
    std::uint16_t port = kSnmpPort;
    // Asked about every 100 ms while the answer is awaited; true ends the
    // wait with no value (the caller is stopping).
    std::function<bool()> giveUp;
};

struct SnmpQueryStats {
    int rejected = 0;  // packets that were not the answer asked for
};

// One GET of oid from the printer at ip (dotted IPv4). The value of the
// asked object in the first answer believed (see SnmpReply.h); answers from
// anyone else are passed over while the wait goes on. Absent when no such
// answer came within the library's time-out and retries, or it carried an
// error status or not the object.
std::optional<SnmpValue> getPrinterStatusBySNMP(const std::string& ip, std::string_view oid,
                                                const SnmpQueryOptions& options = {},
                                                SnmpQueryStats* stats = nullptr);

}  // namespace vexo::net
