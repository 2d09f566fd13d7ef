#include "Catalogue.h"
#include "StatusDecoding.h"
#include "StatusReasons.h"
#include "StatusValues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <string>

namespace {

constexpr std::string_view restart = "请重启设备，如果错误还存在，请联系厂家";

struct Case { std::int64_t code; std::string_view model; std::int64_t level;
              std::string_view message, advice, keyword, severity; };

// Decoded for the model first, then mapped to a reason, as the printer application does.
constexpr Case cases[] = {
    {1, "VEXO", 1, "就绪", "", "", ""},
    {2009, "LX310W", 1, "休眠", "", "", ""},  // sleep is normal
    {3004, "VEXO", 3, "前盖打开", "请关闭前盖", "cover-open", "error"},
    {2017, "VEXO", 2, "纸量较少", "请添加纸张", "media-low", "warning"},
    {3087, "LX310", 3, "上盖打开", "请合上扫描仪上盖", "other", "error"},  // the scanner's lid
    // One per family: the model picks the table.
    {3017, "LX550DNW", 3, "取纸卡纸", "请打开前盖，取出卡纸", "media-jam", "error"},
    {7002, "Alder", 2, "手动双面未按键", "请将已打印的纸张放入纸盒，请勿改变纸张方向，然后点击“恢复/取消”按钮",
     "media-needed", "warning"},
    {7005, "LX330", 3, "硒鼓用尽，请更换硒鼓", "请点击“恢复/取消”按钮，继续打印", "marker-supply-empty", "error"},
    {7005, "LM330NW", 2, "硒鼓用尽，请更换硒鼓", "请点击“启动”按钮，继续打印", "marker-supply-low", "warning"},
    {3038, "MVEXO", 3, "存储器溢出", "请点击“确定”按钮，取消当前任务", "other", "error"},
    // Unknown codes, and codes the model's own family lacks.
    {7003, "LX310", 3, "错误码7003", restart, "other", "error"},
    {3017, "lx310nw", 3, "错误码3017", restart, "media-jam", "error"},
    {-42, "VEXO", 3, "错误码-42", restart, "other", "error"},
    {4444, "", 3, "错误码4444", restart, "offline", "error"},  // what a query without answer reports
};

}  // namespace

TEST(StatusDecoding, CodesDecodeForTheirFamilyAndMapToTheReasonOfTheirLevel)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " for \"" + std::string(c.model) + "\"");
        const DecodedStatus got = decodeStatusInfo(c.code, c.model);
        EXPECT_EQ(got.level, c.level);
        EXPECT_EQ(got.message, c.message);
        EXPECT_EQ(got.discription, c.advice);
        const StateReason reason = stateReason(c.code, got.level);
        EXPECT_EQ(reason.keyword, c.keyword);
        EXPECT_EQ(reason.severity, c.severity);
    }
}

// A code in two tables is shadowed; a model missing from the family lists
// would get "错误码" for every family-specific code, one listed twice the
// first family's advice; a reason row must name a code the printer reports
// and a keyword an application can set.
TEST(StatusDecoding, TablesHoldEachCodeOnceAndEveryModelInOneFamily)
{
    std::set<std::int64_t> base, known{4444};
    for (const StatusEntry& e : baseStatus())
        EXPECT_TRUE(base.insert(e.code).second) << e.code;
    known.insert(base.begin(), base.end());
    for (const StatusSeries& series : statusSeries()) {
        std::set<std::int64_t> seen;
        for (const StatusEntry& e : series.table) {
            EXPECT_TRUE(seen.insert(e.code).second) << series.name << " " << e.code;
            EXPECT_FALSE(base.contains(e.code)) << series.name << " " << e.code << " can never be reached";
            known.insert(e.code);
        }
    }
    for (int series = 1; series <= 5; ++series) {
        for (const OrrinPrinter& row : catalogueFor(series)) {
            int families = 0;
            for (const StatusSeries& family : statusSeries())
                families += int(std::count(family.models.begin(), family.models.end(), row.printerName));
            EXPECT_EQ(families, 1) << row.printerName;
        }
    }
    const std::set<std::string_view> settable{"cover-open", "input-tray-missing", "marker-supply-empty", "media-empty",
                                              "media-jam", "media-needed", "offline", "toner-empty", "other"};
    std::set<std::int64_t> reasons;
    for (const ReasonEntry& row : statusReasons()) {
        EXPECT_TRUE(known.contains(row.code)) << row.code;
        EXPECT_TRUE(settable.contains(row.keyword)) << row.code;
        EXPECT_TRUE(reasons.insert(row.code).second) << row.code << " listed twice";
    }
}

TEST(StatusValues, CodeIsTheNumberBeforeTheFirstCommaAndTonerAPercent)
{
    using namespace std::string_literals;
    const std::pair<std::string, std::int64_t> read[] = {
        {"1000,Ready,more", 1000}, {"\"2009,\"", 2009}, {"\"1,Ready\"", 1},
        {"-5,neg", -5},                        // decoded like any other code
        {"3004,\0\x1b[2J\xff"s, 3004},         // any text after the comma
    };
    for (const auto& [text, code] : read)
        EXPECT_EQ(statusCodeFromText(text), code) << text;
    for (std::string_view none : {"", "2000", "\"2000\"", "abc,x", ",x", "-,x", "--5,x", "+5,x", " 2000,x",
                                  "9999999999,x", "\"\"", "2000 ,x"})
        EXPECT_EQ(statusCodeFromText(none), std::nullopt) << none;

    // A toner level outside a percent is unknown.
    EXPECT_EQ(tonerPercent(0), 0);
    EXPECT_EQ(tonerPercent(100), 100);
    for (std::int64_t v : {std::int64_t(-1), std::int64_t(101), std::numeric_limits<std::int64_t>::max(),
                           std::numeric_limits<std::int64_t>::min()})
        EXPECT_EQ(tonerPercent(v), std::nullopt) << v;
}
