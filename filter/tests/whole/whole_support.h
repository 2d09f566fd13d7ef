// What the whole-filter tests share: sample raster, the bitmaps the filter
// should produce from it, and the checks of a job stream against them.
#pragma once

#include "filter_run.h"

#include "jobstream/job_stream_parser.h"
#include "mkraster/raster_writer.h"
#include "mkraster/sample_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexo::wholetest {

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

::testing::AssertionResult parses(const std::string& stream, jobstream::Job& job);

// The page's header and decoded JBIG image match `expected`.
::testing::AssertionResult shows(const jobstream::Page& page, const Expected& expected);

inline int roundUp8(int n)
{
    return (n + 7) / 8 * 8;
}

class WholeFilter : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the filter and checks what every run must satisfy: no hang, no
    // sanitizer report, no file left in the spool folder.
    FilterResult run(const FilterRun& run);

    std::string spoolDir;
};

}  // namespace vexo::wholetest
