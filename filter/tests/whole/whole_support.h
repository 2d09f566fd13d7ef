// Runs the built filter as the spooler does, against a scripted backend on
// descriptor 4, in a private spool folder, under a watchdog; builds sample
// raster and the pages the filter should make of it.
#pragma once

#include "jobstream/job_stream_parser.h"
#include "mkraster/raster_writer.h"
#include "mkraster/sample_page.h"

#include <cups/sidechannel.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexo::wholetest {

struct Request {
    int number = 0;  // counts from 1
    cups_sc_command_t command{};
};

struct Answer {
    bool swallow = false;  // leave the request unanswered: the filter times out
    cups_sc_status_t status = CUPS_SC_STATUS_OK;
    std::string data;
    bool terminate = false;  // then send SIGTERM, as the spooler does on cancel

    static Answer reply(cups_sc_status_t status, std::string data = {}) { return {false, status, std::move(data), false}; }
    static Answer none(bool terminate = false) { return {true, CUPS_SC_STATUS_NONE, {}, terminate}; }
};

// Decides the answer to each request; `stream` is the job stream received so
// far, so a script can change its mind after some page.
using Backend = std::function<Answer(const Request& request, const std::string& stream)>;
Backend connected();  // printer reachable from the start

enum class Fd4 { Backend, Closed, NotASocket };

struct FilterRun {
    std::vector<std::uint8_t> raster{};
    std::optional<std::string> options = std::string();  // argument 5; nullopt leaves it out
    std::optional<std::string> file{};                    // argument 6, after the options
    bool queuePpd = false;                                // the test queue's PPD
    std::string copies = "1";
    std::vector<std::pair<std::string, std::string>> env{};  // e.g. LANG
    Backend backend = connected();
    Fd4 fd4 = Fd4::Backend;
};

struct FilterResult {
    int exitCode = -1;  // -1 when killed by a signal
    int signal = 0;
    bool watchdogFired = false;
    std::string stream;  // standard output
    std::string log;     // standard error
    std::vector<Request> requests;
    double secondsAfterTerminate = -1;  // from SIGTERM to exit
    std::vector<std::string> leftovers;  // files in the spool folder afterwards
    jobstream::Job job;                  // the stream parsed, unless empty
    std::string parseError;

    int count(cups_sc_command_t command) const;
    // The "PAGE:" lines for the spooler, without their prefix, in order.
    std::vector<std::string> pageLines() const;
};

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

struct TestPage {
    mkraster::PageFormat format;
    mkraster::GrayImage image;
};

// 8-bit W at 72 dpi, so a point is a pixel.
mkraster::PageFormat smallFormat(unsigned widthPt = 144, unsigned heightPt = 100);

// Sample pages numbered from 1, each different.
std::vector<TestPage> samplePages(int count, const mkraster::PageFormat& format);

// Overlays pseudo-random gray on the lower half, which compresses badly:
// pages of several data chunks without large pages.
void addNoise(TestPage& page, unsigned seed);

std::vector<std::uint8_t> rasterOf(const std::vector<TestPage>& pages, bool compressed = true);

// The packed page the filter must send for `page`, computed with the
// filter's own scaler and halftoner from the gray it will have read.
struct Expected {
    int width = 0;  // before rounding to 8
    int height = 0;
    std::vector<std::uint8_t> bits;
};
Expected expectedPage(const TestPage& page, double ratio = 1.0, int darkness = 0);
Expected blankPage(int width, int height);

// The page's header and decoded JBIG image match `expected`.
::testing::AssertionResult shows(const jobstream::Page& page, const Expected& expected);

class WholeFilter : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the filter as job 42 and checks what every run must satisfy: no
    // hang, no sanitizer report, no file left in the spool folder, the exit
    // status, a well-formed job stream.
    FilterResult run(const FilterRun& run, int exitCode = 0);

    std::string spoolDir;
};

}  // namespace vexo::wholetest
