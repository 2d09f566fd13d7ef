// Status texts and toner values, and the discovery text, through the
// monitor's reading rules.
#include "Catalogue.h"
#include "NetTransport.h"
#include "SnmpDiscovery.h"
#include "SnmpStatus.h"
#include "StatusValues.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

using namespace vexo::net;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string status = in.ConsumeRandomLengthString(1024);
    const std::int64_t toner = in.ConsumeIntegral<std::int64_t>();
    const size_t capacity = in.ConsumeIntegralInRange<size_t>(0, 64);
    const std::string discovery = in.ConsumeRemainingBytesAsString();

    const auto code = statusCodeFromText(status);
    if (code && (*code < -999'999'999 || *code > 999'999'999))
        std::abort();
    const auto percent = tonerPercent(toner);
    if (percent && (*percent < 0 || *percent > 100))
        std::abort();

    DiscoveryText rebuilt(capacity);
    for (const DiscoveryEntry& e : parseDiscoveryText(discovery)) {
        rebuilt.append(e.ip, e.oid);
        if (ip2brocast(e.ip).size() > e.ip.size() + 3)
            std::abort();
    }
    if (rebuilt.entries() > capacity || parseDiscoveryText(rebuilt.text()).size() != rebuilt.entries())
        std::abort();
    printersFromDiscoveryText(discovery, catalogueInForce());
    printersFromDiscoveryText(rebuilt.text(), catalogueInForce());
    return 0;
}
