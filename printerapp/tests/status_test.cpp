#include "printer_status.h"
#include "status_poller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace vexo::app {
namespace {

struct Case {
    const char* what;
    StatusReading reading;
    Link link;
    std::optional<int> lastToner;
    pappl_preason_t reasons;
    const char* message;
    const char* reason;
    int tonerLevel;  // the supply's level; -1 unknown
};

// A ready printer, codes the reasons table maps and silence are the e2e
// status scenario's; here the branches around the table.
const Case cases[] = {
    {"toner at the low mark, code says ready", {true, 1, 10}, Link::network, {}, PAPPL_PREASON_TONER_LOW, "就绪", "", 10},
    {"toner level out of range keeps the last", {true, 1, 250}, Link::network, 40, PAPPL_PREASON_NONE, "就绪", "", 40},
    {"no level read yet", {true, 1, {}}, Link::network, {}, PAPPL_PREASON_NONE, "就绪", "", -1},
    {"no answer", {false, 0, {}}, Link::usb, 60, PAPPL_PREASON_OFFLINE, "连接断开", "offline-error", 60},
    {"out of paper: a job needs media too", {true, 3078, 60}, Link::usb, {},
     static_cast<pappl_preason_t>(PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED), "无纸", "media-empty-error", 60},
    {"unknown code", {true, 3300, 60}, Link::usb, {}, PAPPL_PREASON_OTHER, "错误码3300", "other-error", 60},
};

TEST(PrinterStatus, ReadingsBecomeReasonsAndTheBlackToner)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PrinterStatus s = statusFrom(c.reading, "VEXO", c.link, c.lastToner);
        EXPECT_EQ(s.reasons, c.reasons);
        EXPECT_EQ(s.message, c.message);
        EXPECT_EQ(s.reason, c.reason);
        ASSERT_EQ(s.supplies.size(), 1u);
        EXPECT_EQ(s.supplies[0].level, c.tonerLevel);
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
        return [this](const std::function<bool()>&) {
            ++calls;
            return StatusReading{true, code.load(), 50};
        };
    }
    bool waitForCalls(int n)
    {
        for (int i = 0; i < 2000 && calls < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return calls >= n;
    }
};

TEST(StatusPoller, SleepingPrinterIsLeftAloneUntilAsked)
{
    for (const bool hasWakeUp : {true, false}) {
        SCOPED_TRACE(hasWakeUp);
        FakePrinter printer;
        printer.code = 2009;
        StatusCache cache;
        StatusPoller poller(printer.query(), {"VEXO", Link::network, hasWakeUp, std::chrono::milliseconds(10)}, cache);
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

TEST(StatusPoller, ReadNowWaitsForAReadingBegunAfterTheCall)
{
    // Each reading takes 200 ms and answers the code it began with.
    std::atomic<int> code{1};
    std::atomic<int> calls{0};
    StatusCache cache;
    StatusPoller poller(
        [&](const std::function<bool()>&) {
            const int now = code;
            ++calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return StatusReading{true, now, 50};
        },
        {"VEXO", Link::network, false, std::chrono::hours(1)}, cache);
    while (calls == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    code = 3079;  // the printer changes while the first reading is under way
    ASSERT_TRUE(poller.readNow(std::chrono::seconds(5)));
    EXPECT_EQ(cache.copy().code, 3079);
    EXPECT_FALSE(poller.readNow(std::chrono::milliseconds(20)));  // bounded

    // A caller that gives up (its job cancelled) is let go while the reading
    // is still under way, not at the limit.
    std::atomic<bool> cancelled{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancelled = true;
    });
    const int before = calls;
    EXPECT_FALSE(poller.readNow(std::chrono::hours(1), [&] { return cancelled.load(); }));
    canceller.join();
    EXPECT_TRUE(cancelled);
    EXPECT_LE(calls, before + 2) << "let go before readings kept coming";
}

TEST(StatusPoller, AReadingGivenUpAtTheEndIsNotStored)
{
    // A printer that never answers: the reading waits until the poller stops.
    std::atomic<bool> asked{false};
    StatusCache cache;
    auto poller = std::make_unique<StatusPoller>(
        [&](const std::function<bool()>& stopping) {
            asked = true;
            while (!stopping())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return StatusReading{};  // what a query given up returns
        },
        StatusPoller::Options{"VEXO", Link::network, false, std::chrono::hours(1)}, cache);
    while (!asked)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    poller.reset();  // would hang here if the query were never told
    EXPECT_FALSE(cache.copy().known) << "a reading given up was shown as the printer's";
}

}  // namespace
}  // namespace vexo::app
