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

Backend failingFirst(cups_sc_status_t status, bool swallow)
{
    return [=](const Request& r, const std::string& s) {
        if (r.number > 1)
            return connected()(r, s);
        return swallow ? Answer::none() : Answer::reply(status);
    };
}

// Once page 1 has ended, the printer is lost, or the spooler cancels.
Backend afterFirstPage(Answer answer)
{
    return [=](const Request& r, const std::string& s) {
        if (r.command == CUPS_SC_CMD_DRAIN_OUTPUT && contains(s, "Event=EndOfPage;"))
            return answer;
        return connected()(r, s);
    };
}

struct BackendCase {
    const char* name;
    Fd4 fd4;
    Backend backend;
    int checks;           // connection checks expected; -1: no side channel at all
    int loggedStatus;     // of a failed check, if any
};

class PrintsWithBackend : public WholeFilter, public ::testing::WithParamInterface<BackendCase> {};

TEST_P(PrintsWithBackend, EveryPageThenEndOfJob)
{
    const BackendCase& c = GetParam();
    auto pages = samplePages(2, smallFormat(320, 240));
    for (auto& page : pages)
        addNoise(page, page.image.at(0, 0) + 7u * static_cast<unsigned>(&page - pages.data()));
    FilterRun r;
    r.raster = rasterOf(pages);
    r.fd4 = c.fd4;
    r.backend = c.backend;
    r.env = {{"LANG", "en.UTF-8"}};
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0) << result.log;
    ASSERT_EQ(result.parseError, "");
    const Job& job = result.job;
    EXPECT_EQ(job.ending, Ending::EndOfJob);
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_GT(job.pages[0].chunks.size(), 1u);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_TRUE(shows(job.pages[i], expectedPage(pages[i]))) << "page " << i + 1;
    EXPECT_FALSE(contains(result.log, "Job Cancelling"));
    if (c.checks < 0) {
        EXPECT_TRUE(result.requests.empty());
    } else {
        EXPECT_EQ(result.count(CUPS_SC_CMD_GET_CONNECTED), c.checks);
        EXPECT_EQ(result.count(CUPS_SC_CMD_DRAIN_OUTPUT), writesIn(job));
    }
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
        BackendCase{"TimeoutThenConnected", Fd4::Backend, failingFirst(CUPS_SC_STATUS_NONE, true), 2,
                    CUPS_SC_STATUS_TIMEOUT},
        BackendCase{"Fd4Closed", Fd4::Closed, connected(), -1, 0},
        BackendCase{"Fd4NotASocket", Fd4::NotASocket, connected(), -1, 0}),
    [](const ::testing::TestParamInfo<BackendCase>& param) { return std::string(param.param.name); });

using SideChannel = WholeFilter;

TEST_F(SideChannel, PrinterLostAfterThePageCancelsTheJobInsteadOfReportingItPrinted)
{
    FilterRun r;
    r.raster = rasterOf(samplePages(3, smallFormat()));
    r.backend = afterFirstPage(Answer::reply(CUPS_SC_STATUS_IO_ERROR));
    r.env = {{"LANG", "en.UTF-8"}};
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0) << result.log;
    ASSERT_EQ(result.parseError, "");
    EXPECT_EQ(result.job.pages.size(), 1u);  // nothing converted or sent past the loss
    EXPECT_EQ(result.job.ending, Ending::Cancelled);
    EXPECT_EQ(result.count(CUPS_SC_CMD_GET_CONNECTED), 1);
    EXPECT_TRUE(contains(result.log, "INFO:Job Cancelled\n"));
}

TEST_F(SideChannel, IoErrorWhileWaitingCancelsAtTheFirstPage)
{
    FilterRun r;  // no language set: the Chinese wording
    r.raster = rasterOf(samplePages(2, smallFormat()));
    r.backend = failingFirst(CUPS_SC_STATUS_IO_ERROR, false);
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.parseError, "");
    EXPECT_TRUE(result.job.started);
    EXPECT_TRUE(result.job.pages.empty());
    EXPECT_EQ(result.job.ending, Ending::Cancelled);
    EXPECT_EQ(result.count(CUPS_SC_CMD_GET_CONNECTED), 2);
    EXPECT_TRUE(contains(result.log, "INFO:正在取消任务\n"));
    EXPECT_TRUE(contains(result.log, "INFO:任务已取消\n"));
}

TEST_F(SideChannel, SigtermDuringAnEndlessWaitEndsPromptly)
{
    FilterRun r;
    r.raster = rasterOf(samplePages(1, smallFormat()));
    r.backend = [](const Request& q, const std::string&) { return Answer::none(q.number == 1); };
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0);
    EXPECT_LT(result.secondsAfterTerminate, 2.5);
    EXPECT_GE(result.secondsAfterTerminate, 0);
    EXPECT_EQ(result.stream, "");  // the job never started
}

// The spooler cancels while page 1 is being drained out.
TEST_F(SideChannel, SigtermWhileSendingEndsWithCancelJob)
{
    auto pages = samplePages(3, smallFormat());
    FilterRun r;
    r.raster = rasterOf(pages);
    r.env = {{"APPLE_LANGUAGE", "fr"}};
    r.backend = afterFirstPage(Answer::none(true));
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.parseError, "");
    EXPECT_EQ(result.job.ending, Ending::Cancelled);
    ASSERT_EQ(result.job.pages.size(), 1u);
    EXPECT_TRUE(shows(result.job.pages[0], expectedPage(pages[0])));
    EXPECT_TRUE(contains(result.log, "INFO:Job canceled\n"));
}

}  // namespace
