#include "StatusDecoding.h"
#include "StatusReasons.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct Case {
    std::int64_t code;
    std::string_view model;
    std::string_view keyword;
    std::string_view severity;
};

// Each decoded for the model first, as the printer application does.
constexpr Case cases[] = {
    {1, "VEXO", "", ""},
    {2009, "VEXO", "", ""},                  // sleep is normal
    {3004, "VEXO", "cover-open", "error"},
    {2017, "VEXO", "media-low", "warning"},
    {3030, "VEXO", "toner-low", "warning"},
    {7005, "LX330", "marker-supply-empty", "error"},    // level 3 on the Alder series
    {7005, "LM310NW", "marker-supply-low", "warning"},  // level 2 on the multifunction ones
    {7002, "VEXO", "media-needed", "warning"},
    {3087, "VEXO", "other", "error"},        // the scanner's lid
    {7003, "LX310", "other", "error"},       // no table holds it for this series
    {-5, "", "other", "error"},
    {4444, "", "offline", "error"},          // never decoded: what a query without answer reports
};

TEST(StatusReasons, CodesDecodeToTheReasonOfTheirLevel)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const StateReason reason = stateReason(c.code, decodeStatusInfo(c.code, c.model).level);
        EXPECT_EQ(reason.keyword, c.keyword);
        EXPECT_EQ(reason.severity, c.severity);
    }
}

TEST(StatusReasons, TableNamesOnlyCodesThePrinterReportsAndKeywordsAnApplicationCanSet)
{
    std::set<std::int64_t> known{4444};
    for (const StatusEntry& e : baseStatus())
        known.insert(e.code);
    for (const StatusSeries& series : statusSeries())
        for (const StatusEntry& e : series.table)
            known.insert(e.code);
    const std::set<std::string_view> settable{"cover-open",   "input-tray-missing", "marker-supply-empty",
                                              "media-empty",  "media-jam",          "media-needed",
                                              "offline",      "toner-empty",        "other"};
    std::set<std::int64_t> seen;
    for (const ReasonEntry& row : statusReasons()) {
        SCOPED_TRACE(row.code);
        EXPECT_TRUE(known.count(row.code));
        EXPECT_TRUE(settable.count(row.keyword));
        EXPECT_TRUE(seen.insert(row.code).second) << "listed twice";
    }
}

}  // namespace
