#pragma once

#include <cstdint>

// Codes the programs give meaning to beside the printer's own tables.
inline constexpr std::int64_t kStatusAsleep = 2009;      // the printer reports sleep
inline constexpr std::int64_t kStatusNoAnswer = 4444;    // the printer did not answer
inline constexpr std::int64_t kStatusConnecting = 5555;  // no reading yet for the selection
