// Raster the filter cannot print, or only partly: it must say why, end the
// job stream properly, exit with the right status and leave nothing behind.
#include "whole_support.h"

#include "jobstream/jbig_decode.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vexo::wholetest;
using vexo::jobstream::Ending;
using vexo::jobstream::Job;
using vexo::mkraster::RasterWriter;

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

using Bytes = std::vector<std::uint8_t>;

// A page header changed by `edit`, with no pixels after it.
Bytes headerOnly(const std::function<void(cups_page_header2_t&)>& edit)
{
    cups_page_header2_t h = vexo::mkraster::pageHeader(smallFormat());
    edit(h);
    Bytes bytes;
    RasterWriter writer(bytes, false);
    EXPECT_TRUE(writer.writeHeader(h));
    writer.close();
    return bytes;
}

Bytes validThenCmyk()
{
    Bytes bytes = rasterOf(samplePages(1, smallFormat()), false);
    Bytes second = headerOnly([](cups_page_header2_t& h) {
        h.cupsColorSpace = CUPS_CSPACE_CMYK;
        h.cupsBitsPerPixel = 32;
        h.cupsBytesPerLine = h.cupsWidth * 4;
    });
    bytes.insert(bytes.end(), second.begin() + 4, second.end());  // without its sync word
    return bytes;
}

Bytes garbage()
{
    Bytes bytes(3000);
    unsigned state = 12345;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

struct BadInput {
    const char* name;
    std::function<Bytes()> raster;
    int exitCode;
    const char* error;  // part of the "ERROR:" line; nullptr: none expected
    std::size_t pages;
};

// Only the header of a square 8-bit gray page.
Bytes squarePage(unsigned side)
{
    return headerOnly([side](auto& h) {
        h.cupsWidth = h.cupsHeight = h.cupsBytesPerLine = side;
    });
}

void PrintTo(const BadInput& c, std::ostream* os)
{
    *os << c.name;
}

class UnprintableRaster : public WholeFilter, public ::testing::WithParamInterface<BadInput> {};

TEST_P(UnprintableRaster, EndsTheJobCleanly)
{
    const BadInput& c = GetParam();
    FilterRun r;
    r.raster = c.raster();
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, c.exitCode) << result.log;
    if (c.error) {
        EXPECT_TRUE(contains(result.log, "ERROR:")) << result.log;
        EXPECT_TRUE(contains(result.log, c.error)) << result.log;
    } else {
        EXPECT_FALSE(contains(result.log, "ERROR:")) << result.log;
    }
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    EXPECT_EQ(job.ending, Ending::EndOfJob);
    EXPECT_EQ(job.pages.size(), c.pages);
    if (c.pages == 0) {
        EXPECT_EQ(result.stream, "Event=EndOfJob;");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Raster, UnprintableRaster,
    ::testing::Values(
        BadInput{"Empty", [] { return Bytes(); }, 0, nullptr, 0},
        BadInput{"SyncWordOnly", [] { return rasterOf({}); }, 0, nullptr, 0},
        BadInput{"Garbage", garbage, 1, "raster", 0},
        BadInput{"TruncatedHeader",
                 [] {
                     Bytes b = rasterOf(samplePages(1, smallFormat()));
                     b.resize(4 + 300);
                     return b;
                 },
                 1, "header", 0},
        BadInput{"ZeroWidth", [] { return headerOnly([](auto& h) { h.cupsWidth = 0; h.cupsBytesPerLine = 0; }); }, 1,
                 "page header", 0},
        BadInput{"ZeroHeight", [] { return headerOnly([](auto& h) { h.cupsHeight = 0; }); }, 1, "page header", 0},
        BadInput{"AbsurdWidth",
                 [] { return headerOnly([](auto& h) { h.cupsWidth = 0xfffffff8u; h.cupsBytesPerLine = 0xfffffff8u; }); },
                 1, "page header", 0},
        BadInput{"AbsurdArea", [] { return squarePage(70000); }, 1, "too large", 0},
        BadInput{"EachSideFitsButNotTheArea", [] { return squarePage(20000); }, 1, "too large", 0},
        BadInput{"Cmyk",
                 [] {
                     return headerOnly([](auto& h) {
                         h.cupsColorSpace = CUPS_CSPACE_CMYK;
                         h.cupsBitsPerPixel = 32;
                         h.cupsBytesPerLine = h.cupsWidth * 4;
                     });
                 },
                 1, "unsupported", 0},
        BadInput{"Rgb16",
                 [] {
                     return headerOnly([](auto& h) {
                         h.cupsColorSpace = CUPS_CSPACE_RGB;
                         h.cupsBitsPerColor = 16;
                         h.cupsBitsPerPixel = 48;
                         h.cupsBytesPerLine = h.cupsWidth * 6;
                     });
                 },
                 1, "unsupported", 0},
        BadInput{"LineLengthMismatch", [] { return headerOnly([](auto& h) { h.cupsBytesPerLine += 1; }); }, 1,
                 "does not match", 0},
        BadInput{"UnprintableSecondPage", validThenCmyk, 1, "unsupported", 1}),
    [](const ::testing::TestParamInfo<BadInput>& param) { return std::string(param.param.name); });

using ShortPage = WholeFilter;

// A page whose data stops early prints what arrived; the rest is white.
TEST_F(ShortPage, CutMidLineIsCompletedWithWhite)
{
    auto pages = samplePages(1, smallFormat(100, 80));
    Bytes raster = rasterOf(pages, false);
    const std::size_t header = raster.size() - 100 * 80;
    raster.resize(header + 100 * 30 + 50);  // 30 whole lines and half of one

    TestPage arrived = pages[0];
    std::fill(arrived.image.pixels.begin() + 100 * 30, arrived.image.pixels.end(), 255);
    FilterRun r;
    r.raster = raster;
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0) << result.log;
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_TRUE(shows(job.pages[0], expectedPage(arrived)));
}

TEST_F(ShortPage, CompressedPageCutOffStillPrints)
{
    auto pages = samplePages(2, smallFormat(100, 80));
    Bytes raster = rasterOf(pages);
    raster.resize(raster.size() * 3 / 4);  // into page 2
    FilterRun r;
    r.raster = raster;
    FilterResult result = run(r);

    EXPECT_EQ(result.exitCode, 0) << result.log;
    Job job;
    ASSERT_TRUE(parses(result.stream, job));
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_TRUE(shows(job.pages[0], expectedPage(pages[0])));
    EXPECT_EQ(job.pages[1].height, 80);
    // The bottom edge of the frame never arrived.
    vexo::jobstream::Bitmap second = vexo::jobstream::decodeJbig(job.pages[1].data).bitmap;
    std::vector<std::uint8_t> lastRow(second.bits.end() - static_cast<std::ptrdiff_t>(second.stride()),
                                      second.bits.end());
    EXPECT_EQ(lastRow, std::vector<std::uint8_t>(second.stride(), 0));
    EXPECT_GT(second.blackPixels(), 0u);
}

}  // namespace
