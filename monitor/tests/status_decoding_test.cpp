#include "Catalogue.h"
#include "StatusDecoding.h"
#include "StatusValues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <string>

namespace {

struct Case {
    std::int64_t code;
    std::string_view model;
    std::int64_t level;
    std::string_view message;
    std::string_view advice;
};

// A few codes from every table, each decoded for a model of the family it belongs to.
constexpr Case cases[] = {
    // Codes that mean the same everywhere, whatever the model name.
    {1, "VEXO", 1, "就绪", ""},
    {2009, "LX310W", 1, "休眠", ""},
    {3087, "LX310", 3, "上盖打开", "请合上扫描仪上盖"},
    {4001, "", 3, "扫描正位失败", "扫描正位失败，请重启一体机"},
    {9, "QX-215n", 3, "内存出错", "请清除内存"},
    // Front and rear covers.
    {3017, "LX550DNW", 3, "取纸卡纸", "请打开前盖，取出卡纸"},
    {3102, "QX-545dnw", 3, "纸盘无纸", "多功能纸盘无纸,按 OK 键继续打印"},
    {7002, "LM770DNW", 2, "手动双面未按键", "请将已打印的纸张放入纸盒，请勿改变纸张方向，然后点击“启动”按钮"},
    // Top cover and the recover/cancel key.
    {2022, "VEXO", 3, "上盖打开", "请关闭上盖"},
    {3017, "LX310NW", 3, "取纸卡纸", "请取出纸盒，清除卡纸"},
    {3038, "QX-210n", 3, "存储器溢出", "请点击“恢复/取消”按钮，取消当前任务"},
    {7002, "Alder", 2, "手动双面未按键", "请将已打印的纸张放入纸盒，请勿改变纸张方向，然后点击“恢复/取消”按钮"},
    // Multifunction with start and cancel keys.
    {3066, "MAlder", 3, "纸张尺寸不匹配", "请更换纸型，请点击“启动”按钮，继续打印"},
    {7003, "LM330", 2, "身份证复印", "请确保机器回到就绪状态后，将身份证翻面，然后按“启动”按钮"},
    {7005, "LM330NW", 2, "硒鼓用尽，请更换硒鼓", "请点击“启动”按钮，继续打印"},
    // Multifunction with a screen and an OK key.
    {3038, "MVEXO", 3, "存储器溢出", "请点击“确定”按钮，取消当前任务"},
    {7005, "MVEXO", 2, "硒鼓用尽，请更换硒鼓", "请点击“确定”按钮，继续打印"},
    {7006, "MVEXO", 3, "硒鼓用尽，请更换硒鼓", "为保证图像质量，请尽快更换硒鼓"},
    // Unknown codes, and codes the model's own family lacks.
    {7003, "LX310", 3, "错误码7003", "请重启设备，如果错误还存在，请联系厂家"},
    {3017, "", 3, "错误码3017", "请重启设备，如果错误还存在，请联系厂家"},
    {3017, "lx310nw", 3, "错误码3017", "请重启设备，如果错误还存在，请联系厂家"},
    {0, "VEXO", 3, "错误码0", "请重启设备，如果错误还存在，请联系厂家"},
    {-42, "VEXO", 3, "错误码-42", "请重启设备，如果错误还存在，请联系厂家"},
};

}  // namespace

TEST(StatusDecoding, SampleCodesOfEveryTable)
{
    for (const Case& c : cases) {
        const DecodedStatus got = decodeStatusInfo(c.code, c.model);
        SCOPED_TRACE(std::to_string(c.code) + " for \"" + std::string(c.model) + "\"");
        EXPECT_EQ(got.level, c.level);
        EXPECT_EQ(got.message, c.message);
        EXPECT_EQ(got.discription, c.advice);
    }
}

// A code in two tables is shadowed; a model missing from the family lists
// would get "错误码" for every family-specific code, one listed twice the
// first family's advice.
TEST(StatusDecoding, TablesHoldEachCodeOnceAndEveryModelInOneFamily)
{
    std::set<std::int64_t> base;
    for (const StatusEntry& e : baseStatus())
        EXPECT_TRUE(base.insert(e.code).second) << e.code;
    for (const StatusSeries& series : statusSeries()) {
        std::set<std::int64_t> seen;
        for (const StatusEntry& e : series.table) {
            EXPECT_TRUE(seen.insert(e.code).second) << series.name << " " << e.code;
            EXPECT_FALSE(base.contains(e.code)) << series.name << " " << e.code << " can never be reached";
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
}

TEST(StatusValues, CodeIsTheNumberBeforeTheFirstCommaAndTonerAPercent)
{
    using namespace std::string_literals;
    const std::pair<std::string, std::int64_t> read[] = {
        {"1000,Ready,more", 1000}, {"\"2009,\"", 2009}, {"\"1,Ready\"", 1},
        {"-5,neg", -5},                        // decoded like any other code
        {"3004,前盖打开", 3004},               // any text after the comma
        {"3004,\0\x1b[2J\xff"s, 3004},
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
