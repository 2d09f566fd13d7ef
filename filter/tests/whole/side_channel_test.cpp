// The filter against the backends it meets: how it waits for the printer,
// drains every write, and stops when the job is cancelled.
#include "whole_support.h"

using namespace vexo::wholetest;
using vexo::jobstream::Ending;
using vexo::jobstream::Job;

namespace {

// Every command and every data chunk is followed by one drain request.
int writesIn(const Job& job)
{
    int writes = 3;  // job start, job header, job end
    for (const auto& page : job.pages)
        writes += 2 + static_cast<int>(page.chunks.size());
    return writes;
}

Backend failingFirst(Answer first)
{
    return [=](const Request& r, const std::string& s) { return r.number == 1 ? first : connected()(r, s); };
}

// Once page 1 has ended, the printer is lost, or the spooler cancels.
Backend afterFirstPage(Answer answer)
{
    return [=](const Request& r, const std::string& s) {
        return r.command == CUPS_SC_CMD_DRAIN_OUTPUT && contains(s, "Event=EndOfPage;") ? answer : connected()(r, s);
    };
}

struct BackendCase {
    const char* name;
    Fd4 fd4;
    Backend backend;
    int checks;        // connection checks expected; -1: no side channel at all
    int loggedStatus;  // of a failed check, if any
};

class PrintsWithBackend : public WholeFilter, public ::testing::WithParamInterface<BackendCase> {};

TEST_P(PrintsWithBackend, EveryPageThenEndOfJob)
{
    const BackendCase& c = GetParam();
    auto pages = samplePages(2, smallFormat(320, 240));
    for (auto& page : pages)
        addNoise(page, page.image.at(0, 0) + 7u * static_cast<unsigned>(&page - pages.data()));
    FilterResult result = run({.raster = rasterOf(pages), .env = {{"LANG", "en.UTF-8"}}, .backend = c.backend,
                               .fd4 = c.fd4});
    const Job& job = result.job;
    EXPECT_EQ(job.ending, Ending::EndOfJob);
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_GT(job.pages[0].chunks.size(), 1u);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_TRUE(shows(job.pages[i], expectedPage(pages[i]))) << "page " << i + 1;
    EXPECT_FALSE(contains(result.log, "Job Cancelling"));
    EXPECT_EQ(result.count(CUPS_SC_CMD_GET_CONNECTED), std::max(c.checks, 0));
    EXPECT_EQ(result.count(CUPS_SC_CMD_DRAIN_OUTPUT), c.checks < 0 ? 0 : writesIn(job));
    EXPECT_TRUE(!c.loggedStatus ||
                contains(result.log, "Check Connecttion CUPS Stauts = " + std::to_string(c.loggedStatus)))
        << result.log;
}

INSTANTIATE_TEST_SUITE_P(
    Backends, PrintsWithBackend,
    ::testing::Values(
        BackendCase{"ConnectedAtOnce", Fd4::Backend, connected(), 1, 0},
        BackendCase{"NotImplemented", Fd4::Backend,
                    [](const Request&, const std::string&) { return Answer::reply(CUPS_SC_STATUS_NOT_IMPLEMENTED); }, 1,
                    CUPS_SC_STATUS_NOT_IMPLEMENTED},
        // an unanswered check costs its 1 s time-out and a 1 s pause
        BackendCase{"TimeoutThenConnected", Fd4::Backend, failingFirst(Answer::none()), 2, CUPS_SC_STATUS_TIMEOUT},
        BackendCase{"Fd4Closed", Fd4::Closed, connected(), -1, 0},
        BackendCase{"Fd4NotASocket", Fd4::NotASocket, connected(), -1, 0}),
    [](const ::testing::TestParamInfo<BackendCase>& param) { return std::string(param.param.name); });

// Cancelled jobs end with "CancelJob?" after the pages already sent, in the
// job's language, and never report the job printed.
struct CancelCase {
    const char* name;
    Backend backend;
    const char* language;  // APPLE_LANGUAGE
    std::size_t pages;
    int checks;
    const char* logged;
};

class Cancelled : public WholeFilter, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(Cancelled, AfterThePagesAlreadySent)
{
    const CancelCase& c = GetParam();
    auto pages = samplePages(3, smallFormat());
    FilterResult result = run({.raster = rasterOf(pages), .env = {{"APPLE_LANGUAGE", c.language}}, .backend = c.backend});
    EXPECT_TRUE(result.job.started);
    EXPECT_EQ(result.job.ending, Ending::Cancelled);
    ASSERT_EQ(result.job.pages.size(), c.pages);  // nothing converted or sent past the loss
    for (std::size_t i = 0; i < c.pages; ++i)
        EXPECT_TRUE(shows(result.job.pages[i], expectedPage(pages[i])));
    EXPECT_EQ(result.count(CUPS_SC_CMD_GET_CONNECTED), c.checks);
    EXPECT_TRUE(contains(result.log, c.logged)) << result.log;
}

INSTANTIATE_TEST_SUITE_P(
    SideChannel, Cancelled,
    ::testing::Values(CancelCase{"PrinterLostAfterThePage", afterFirstPage(Answer::reply(CUPS_SC_STATUS_IO_ERROR)),
                                 "en", 1, 1, "INFO:Job Cancelled\n"},
                      CancelCase{"IoErrorWhileWaiting", failingFirst(Answer::reply(CUPS_SC_STATUS_IO_ERROR)), "zh", 0,
                                 2, "INFO:正在取消任务\n"},
                      CancelCase{"SigtermWhileSending", afterFirstPage(Answer::none(true)), "fr", 1, 1,
                                 "INFO:Job canceled\n"}),
    [](const ::testing::TestParamInfo<CancelCase>& param) { return std::string(param.param.name); });

TEST_F(WholeFilter, SigtermDuringAnEndlessWaitEndsPromptly)
{
    FilterResult result = run({.raster = rasterOf(samplePages(1, smallFormat())),
                               .backend = [](const Request& q, const std::string&) { return Answer::none(q.number == 1); }});
    EXPECT_LT(result.secondsAfterTerminate, 2.5);
    EXPECT_GE(result.secondsAfterTerminate, 0);
    EXPECT_EQ(result.stream, "");  // the job never started
}

}  // namespace
