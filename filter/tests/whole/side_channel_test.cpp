// The filter against the backends it meets: how it waits for the printer,
// drains every write, and stops when the job is cancelled.
#include "whole_support.h"

#include <gtest/gtest.h>

using namespace vexo::wholetest;
using vexo::jobstream::Ending;
using vexo::jobstream::Job;

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Every command and every data chunk is followed by one drain request.
int writesIn(const Job& job)
{
    int writes = 3;  // job start, job header, job end
    for (const auto& page : job.pages)
        writes += 2 + static_cast<int>(page.chunks.size());
    return writes;
}

struct BackendCase {
    const char* name;
    Fd4 fd4;
    Backend (*backend)();
    void (*check)(const FilterResult&, const Job&);
};

void PrintTo(const BackendCase& c, std::ostream* os)
{
    *os << c.name;
}

class PrintsWithBackend : public WholeFilter, public ::testing::WithParamInterface<BackendCase> {};

TEST_P(PrintsWithBackend, EveryPageThenEndOfJob)
{
    auto pages = samplePages(2, smallFormat(320, 240));
    for (auto& page : pages)
        addNoise(page, page.image.at(0, 0) + 7u * static_cast<unsigned>(&page - pages.data()));
    FilterRun r;
    r.raster = rasterOf(pages);
    r.fd4 = GetParam().fd4;
    r.backend = GetParam().backend();
    r.env = {{"LANG", "en.UTF-8"}};
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0) << result.log;
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    EXPECT_EQ(job.ending, Ending::EndOfJob);
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_GT(job.pages[0].chunks.size(), 1u);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_TRUE(shows(job.pages[i], expectedPage(pages[i]))) << "page " << i + 1;
    EXPECT_FALSE(contains(result.log, "Job Cancelling"));
    GetParam().check(result, job);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, PrintsWithBackend,
    ::testing::Values(
        BackendCase{"ConnectedAtOnce", Fd4::Backend, backends::connected,
                    [](const FilterResult& r, const Job& job) {
                        EXPECT_EQ(r.requests(CUPS_SC_CMD_GET_CONNECTED), 1);
                        EXPECT_EQ(r.requests(CUPS_SC_CMD_DRAIN_OUTPUT), writesIn(job));
                        EXPECT_EQ(r.exchanges.size(), 1u + static_cast<std::size_t>(writesIn(job)));
                    }},
        BackendCase{"NotImplemented", Fd4::Backend, backends::notImplemented,
                    [](const FilterResult& r, const Job&) {
                        EXPECT_EQ(r.requests(CUPS_SC_CMD_GET_CONNECTED), 1);
                        EXPECT_TRUE(contains(r.log, "Check Connecttion CUPS Stauts = " +
                                                        std::to_string(CUPS_SC_STATUS_NOT_IMPLEMENTED)));
                    }},
        BackendCase{"TimeoutsThenConnected", Fd4::Backend, [] { return backends::timeoutsFirst(2); },
                    [](const FilterResult& r, const Job&) {
                        // Each unanswered check costs its 1 s time-out and a 1 s pause.
                        EXPECT_EQ(r.requests(CUPS_SC_CMD_GET_CONNECTED), 3);
                        EXPECT_GE(r.seconds, 3.5);
                        EXPECT_TRUE(contains(r.log, "Check Connecttion CUPS Stauts = " +
                                                        std::to_string(CUPS_SC_STATUS_TIMEOUT)));
                    }},
        BackendCase{"LateAnswer", Fd4::Backend, backends::lateFirstAnswer,
                    [](const FilterResult& r, const Job&) {
                        // The stale answer arrives in the second check's place; later
                        // replies are one behind, which must not disturb the job.
                        EXPECT_EQ(r.requests(CUPS_SC_CMD_GET_CONNECTED), 2);
                        EXPECT_TRUE(contains(r.log, "Check Connecttion CUPS Stauts = " +
                                                        std::to_string(CUPS_SC_STATUS_TIMEOUT)));
                    }},
        BackendCase{"Fd4Closed", Fd4::Closed, backends::connected,
                    [](const FilterResult& r, const Job&) { EXPECT_TRUE(r.exchanges.empty()); }},
        BackendCase{"Fd4NotASocket", Fd4::NotASocket, backends::connected,
                    [](const FilterResult& r, const Job&) { EXPECT_TRUE(r.exchanges.empty()); }}),
    [](const ::testing::TestParamInfo<BackendCase>& param) { return std::string(param.param.name); });

using SideChannel = WholeFilter;

TEST_F(SideChannel, PrinterLostAfterThePageCancelsTheJobInsteadOfReportingItPrinted)
{
    FilterRun r;
    r.raster = rasterOf(samplePages(3, smallFormat()));
    r.backend = backends::brokenAfterFirstPage();
    r.env = {{"LANG", "en.UTF-8"}};
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0) << result.log;
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    EXPECT_EQ(job.pages.size(), 1u);  // nothing converted or sent past the loss
    EXPECT_EQ(job.ending, Ending::Cancelled);
    EXPECT_EQ(result.requests(CUPS_SC_CMD_GET_CONNECTED), 1);
    EXPECT_TRUE(contains(result.log, "write data to stdout IO Error") ||
                contains(result.log, "Set Cancel Job Flag to True"));
    EXPECT_TRUE(contains(result.log, "INFO:Job Cancelled\n"));
}

TEST_F(SideChannel, IoErrorWhileWaitingCancelsAtTheFirstPage)
{
    // No language set: the Chinese wording.
    FilterRun r;
    r.raster = rasterOf(samplePages(2, smallFormat()));
    r.backend = backends::ioErrorOnce();
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0);
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    EXPECT_TRUE(job.started);
    EXPECT_TRUE(job.pages.empty());
    EXPECT_EQ(job.ending, Ending::Cancelled);
    EXPECT_EQ(result.requests(CUPS_SC_CMD_GET_CONNECTED), 2);
    EXPECT_GE(result.seconds, 1.0);
    EXPECT_TRUE(contains(result.log, "INFO:正在取消任务\n"));
    EXPECT_TRUE(contains(result.log, "INFO:任务已取消\n"));
}

TEST_F(SideChannel, SigtermDuringAnEndlessWaitEndsPromptly)
{
    FilterRun r;
    r.raster = rasterOf(samplePages(1, smallFormat()));
    r.backend = backends::silent(1);
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0);
    EXPECT_LT(result.secondsAfterTerminate, 2.5);
    EXPECT_GE(result.secondsAfterTerminate, 0);
    EXPECT_EQ(result.stream, "");  // the job never started
}

TEST_F(SideChannel, SigtermWhileSendingEndsWithCancelJob)
{
    auto pages = samplePages(3, smallFormat());
    FilterRun r;
    r.raster = rasterOf(pages);
    r.env = {{"APPLE_LANGUAGE", "fr"}};
    // The spooler cancels while page 1 is being drained out.
    r.backend = [](const Request& q, const std::string& stream) {
        if (q.command == CUPS_SC_CMD_DRAIN_OUTPUT && stream.find("Event=EndOfPage;") != std::string::npos)
            return Answer::none(true);
        return backends::connected()(q, stream);
    };
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0);
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    EXPECT_EQ(job.ending, Ending::Cancelled);
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_TRUE(shows(job.pages[0], expectedPage(pages[0])));
    EXPECT_TRUE(contains(result.log, "INFO:Job canceled\n"));
}

}  // namespace
