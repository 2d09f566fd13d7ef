#include "printer_status.h"
#include "status_poller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vexo::app {
namespace {

struct Case {
    const char* what;
    Reading reading;
    Link link;
    std::optional<int> lastToner;
    pappl_preason_t reasons;
    const char* message;
    const char* reason;
    int tonerLevel;  // the supply's level; -1 unknown
};

const Case cases[] = {
    {"ready", {true, 1, 80}, Link::network, 50, PAPPL_PREASON_NONE, "就绪", "", 80},
    {"front cover open", {true, 3004, 80}, Link::network, {}, PAPPL_PREASON_COVER_OPEN, "前盖打开", "cover-open-error", 80},
    {"out of paper", {true, 3079, 80}, Link::usb, {}, PAPPL_PREASON_MEDIA_EMPTY, "纸盘无纸", "media-empty-error", 80},
    {"toner nearly gone, code says ready", {true, 1, 5}, Link::network, {}, PAPPL_PREASON_TONER_LOW, "就绪", "", 5},
    {"toner low by the code", {true, 3030, 8}, Link::network, {}, PAPPL_PREASON_TONER_LOW, "墨粉已不多", "toner-low-warning", 8},
    {"toner level out of range keeps the last", {true, 1, 250}, Link::network, 40, PAPPL_PREASON_NONE, "就绪", "", 40},
    {"no level read yet", {true, 1, {}}, Link::network, {}, PAPPL_PREASON_NONE, "就绪", "", -1},
    {"no answer over the network", {false, 0, {}}, Link::network, 60, PAPPL_PREASON_OFFLINE, "连接断开", "offline-error", 60},
    {"unknown code", {true, 3300, 60}, Link::usb, {}, PAPPL_PREASON_OTHER, "错误码3300", "other-error", 60},
};

TEST(PrinterStatus, ReadingsBecomeReasonsAndTheBlackToner)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PrinterStatus s = statusFrom(c.reading, "VEXO", c.link, c.lastToner);
        EXPECT_TRUE(s.known);
        EXPECT_EQ(s.reasons, c.reasons);
        EXPECT_EQ(s.message, c.message);
        EXPECT_EQ(s.reason, c.reason);
        ASSERT_EQ(s.supplies.size(), 1u);
        EXPECT_EQ(s.supplies[0].level, c.tonerLevel);
        EXPECT_EQ(s.supplies[0].type, PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE);
        EXPECT_EQ(s.supplies[0].color, PAPPL_SUPPLY_COLOR_BLACK);
    }
}

TEST(PrinterStatus, NoAnswerAdvisesByTheLink)
{
    EXPECT_EQ(statusFrom({}, "VEXO", Link::usb, {}).advice, "请检查设备的连接情况");
    EXPECT_EQ(statusFrom({}, "VEXO", Link::network, {}).advice, "连接断开，请查看设备的网络连接情况");
}

// A query the test answers: counts its calls and returns the code set.
struct FakePrinter {
    std::atomic<int> calls{0};
    std::atomic<int> code{1};
    StatusPoller::Query query()
    {
        return [this] {
            ++calls;
            return Reading{true, code.load(), 50};
        };
    }
    bool waitForCalls(int n)
    {
        for (int i = 0; i < 2000 && calls < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return calls >= n;
    }
};

StatusPoller::Options fastOptions(bool hasWakeUp)
{
    StatusPoller::Options options;
    options.model = "VEXO";
    options.hasWakeUp = hasWakeUp;
    options.interval = std::chrono::milliseconds(10);
    return options;
}

TEST(StatusPoller, ReadsAtStartAndKeepsTheCache)
{
    FakePrinter printer;
    printer.code = 3004;
    StatusCache cache;
    StatusPoller poller(printer.query(), fastOptions(false), cache);
    ASSERT_TRUE(printer.waitForCalls(3));
    EXPECT_EQ(cache.copy().reasons, PAPPL_PREASON_COVER_OPEN);
}

TEST(StatusPoller, SleepingPrinterIsLeftAloneUntilAsked)
{
    for (const bool hasWakeUp : {true, false}) {
        SCOPED_TRACE(hasWakeUp);
        FakePrinter printer;
        printer.code = 2009;
        StatusCache cache;
        StatusPoller poller(printer.query(), fastOptions(hasWakeUp), cache);
        ASSERT_TRUE(printer.waitForCalls(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // twenty intervals
        if (hasWakeUp) {
            EXPECT_EQ(printer.calls, 1);
            printer.code = 1;
            poller.poke();  // a job, or the status page
            ASSERT_TRUE(printer.waitForCalls(2));
            ASSERT_TRUE(printer.waitForCalls(4));  // and polling goes on
        } else {
            EXPECT_GT(printer.calls, 2);
        }
    }
}

}  // namespace
}  // namespace vexo::app
