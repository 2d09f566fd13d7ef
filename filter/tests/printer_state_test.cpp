// What the spooler is told for a status text the backend passes on.
#include "printer_state.h"

#include <gtest/gtest.h>

using namespace vexo::filter;

TEST(PrinterReading, StatusTextsBecomeReasonsAndOnlyFaultsHoldTheJob)
{
    struct Row {
        const char* text;
        std::vector<std::string> reasons;
        bool cannotPrint;
    };
    const Row rows[] = {
        {"1,ready", {}, false},
        {"\"3079,no paper\"", {"media-empty-error", "media-needed-error"}, true},
        {"3004,cover", {"cover-open-error"}, true},
        {"3017,jam", {"media-jam-error"}, true},
        {"2018,", {"marker-supply-empty-error"}, true},
        {"3030,", {"toner-low-warning"}, false},   // a warning: the printer still prints
        {"2017,", {"media-low-warning"}, false},  // paper low, not out
        {"987654,", {"other-error"}, false},       // unknown: shown, but the job goes on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto reading = readingFrom(row.text);
        ASSERT_TRUE(reading);
        EXPECT_EQ(reading->reasons, row.reasons);
        EXPECT_EQ(reading->cannotPrint, row.cannotPrint);
        EXPECT_EQ(reading->message.empty(), row.reasons.empty());
    }
    EXPECT_FALSE(readingFrom(""));
    EXPECT_FALSE(readingFrom("no paper"));
    EXPECT_FALSE(readingFrom("3079"));  // no comma: not a status text
}

TEST(PrinterReading, ChangesTakeBackWhatNoLongerHoldsAndAddOnlyWhatIsNew)
{
    EXPECT_EQ(stateChanges({"media-empty-error", "media-needed-error"}, {"cover-open-error", "media-needed-error"}),
              (std::vector<std::string>{"STATE: -media-empty-error", "STATE: +cover-open-error"}));
    EXPECT_EQ(stateChanges({"toner-low-warning"}, {}), (std::vector<std::string>{"STATE: -toner-low-warning"}));
    EXPECT_TRUE(stateChanges({"media-jam-error"}, {"media-jam-error"}).empty());
}
