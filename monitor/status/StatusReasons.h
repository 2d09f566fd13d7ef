#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a status code means to an IPP client: the printer-state-reasons
// keyword of the condition, its severity taken from the level the code
// decodes to. Kept to the keywords a printer application can report.
struct ReasonEntry {
    std::int64_t code;
    std::string_view keyword;  // the condition at its worst ("toner-empty")
};

// Codes whose condition has a keyword of its own; any other code of level 2
// or 3 is "other".
std::span<const ReasonEntry> statusReasons();

struct StateReason {
    std::string keyword;   // empty: nothing to report
    std::string severity;  // "report", "warning" or "error"
};

// The reason for a code decoded to level (1 normal, 2 warning, 3 error). A
// warning takes the milder form of its condition where one exists
// ("toner-empty" becomes "toner-low"); normal codes report nothing.
StateReason stateReason(std::int64_t code, std::int64_t level);

// Every keyword a reason stands for: an empty tray is also media-needed, as a
// job waits for it (clients and the IPP Everywhere tests look for both).
std::vector<std::string> reasonKeywords(const StateReason& reason);

// Conditions in which the printer takes no job data until someone acts.
bool stopsPrinting(std::string_view keyword);
