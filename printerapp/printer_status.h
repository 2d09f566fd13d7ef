// One reading of the printer turned into what IPP clients are told: the
// monitor's decoding, the reasons table, the toner as a black toner supply.
#pragma once

#include "StatusReading.h"
#include "status_cache.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexo::app {

// At or below this percent clients show the toner as low (marker-low-levels).
inline constexpr int kTonerLowLevel = 10;

// lastToner is kept when the printer does not answer or gives no level.
PrinterStatus statusFrom(const StatusReading& reading, std::string_view model, Link link, std::optional<int> lastToner);

pappl_preason_t reasonBit(std::string_view keyword);

pappl_supply_t blackToner(std::optional<int> percent);

}  // namespace vexo::app
