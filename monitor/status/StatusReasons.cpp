#include "StatusReasons.h"

#include "StatusCodes.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Scanner and copier codes stay "other": they do not stop printing by a
// condition a print dialog knows.
constexpr std::array<ReasonEntry, 37> reasonTable{{
    {1012, "marker-supply-empty"},  // drum not installed
    {2006, "toner-empty"},
    {2010, "toner-empty"},          // no toner cartridge
    {2013, "input-tray-missing"},
    {2017, "media-empty"},          // paper low: a warning, so media-low
    {2018, "marker-supply-empty"},  // no drum
    {2020, "marker-supply-empty"},  // drum used up
    {2021, "marker-supply-empty"},  // drum life low: a warning, so marker-supply-low
    {2022, "cover-open"},           // top cover
    {3004, "cover-open"},           // front cover
    {3009, "cover-open"},           // back cover
    {3017, "media-jam"},
    {3018, "media-jam"},
    {3019, "media-jam"},
    {3020, "media-jam"},
    {3025, "media-jam"},
    {3026, "media-jam"},
    {3030, "toner-empty"},          // toner running low: a warning, so toner-low
    {3064, "media-jam"},
    {3066, "media-needed"},         // paper size does not match
    {3070, "media-jam"},
    {3071, "media-jam"},
    {3072, "media-jam"},
    {3075, "media-jam"},
    {3076, "media-jam"},
    {3077, "media-jam"},            // tray feed failed
    {3078, "media-empty"},
    {3079, "media-empty"},
    {3080, "media-empty"},
    {3083, "media-jam"},            // cassette pick failed
    {3100, "media-needed"},
    {3101, "media-empty"},
    {3102, "media-empty"},
    {kStatusNoAnswer, "offline"},   // the printer did not answer
    {7002, "media-needed"},         // manual duplex: the printed sheets go back in
    {7005, "marker-supply-empty"},
    {7006, "marker-supply-empty"},
}};

constexpr std::pair<std::string_view, std::string_view> milderForms[] = {
    {"toner-empty", "toner-low"},
    {"media-empty", "media-low"},
    {"marker-supply-empty", "marker-supply-low"},
};

}  // namespace

std::span<const ReasonEntry> statusReasons() { return reasonTable; }

StateReason stateReason(std::int64_t code, std::int64_t level)
{
    if (level < 2)
        return {};
    const auto row = std::find_if(reasonTable.begin(), reasonTable.end(),
                                  [code](const ReasonEntry& e) { return e.code == code; });
    std::string_view keyword = row == reasonTable.end() ? "other" : row->keyword;
    if (level == 2) {
        for (const auto& [worst, milder] : milderForms)
            if (keyword == worst)
                keyword = milder;
        return {std::string(keyword), "warning"};
    }
    return {std::string(keyword), "error"};
}

std::vector<std::string> reasonKeywords(const StateReason& reason)
{
    if (reason.keyword.empty())
        return {};
    if (reason.keyword == "media-empty")
        return {reason.keyword, "media-needed"};
    return {reason.keyword};
}

bool stopsPrinting(std::string_view keyword)
{
    static constexpr std::string_view kStops[] = {"cover-open", "media-empty",         "media-needed",
                                                  "media-jam",  "marker-supply-empty", "offline"};
    return std::find(std::begin(kStops), std::end(kStops), keyword) != std::end(kStops);
}
