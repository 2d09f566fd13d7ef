// Raster the filter cannot print, or only partly: it must say why, end the
// job stream properly, exit with the right status and leave nothing behind.
// Every header the filter refuses is listed in raster_check_test; here one
// stands for each way the filter meets bad input.
#include "whole_support.h"

#include <functional>

using namespace vexo::wholetest;
using vexo::jobstream::Ending;
using vexo::mkraster::RasterWriter;

namespace {

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

Bytes cmyk()
{
    return headerOnly([](cups_page_header2_t& h) {
        h.cupsColorSpace = CUPS_CSPACE_CMYK;
        h.cupsBitsPerPixel = 32;
        h.cupsBytesPerLine = h.cupsWidth * 4;
    });
}

struct BadInput {
    const char* name;
    std::function<Bytes()> raster;
    int exitCode;
    const char* error;  // part of the "ERROR:" line; nullptr: none expected
    std::size_t pages;
};

class UnprintableRaster : public WholeFilter, public ::testing::WithParamInterface<BadInput> {};

TEST_P(UnprintableRaster, EndsTheJobCleanly)
{
    const BadInput& c = GetParam();
    FilterResult result = run({.raster = c.raster()}, c.exitCode);
    EXPECT_EQ(contains(result.log, "ERROR:"), c.error != nullptr) << result.log;
    EXPECT_TRUE(!c.error || contains(result.log, c.error)) << result.log;
    EXPECT_EQ(result.job.ending, Ending::EndOfJob);
    EXPECT_EQ(result.job.pages.size(), c.pages);
    EXPECT_TRUE(c.pages > 0 || result.stream == "Event=EndOfJob;") << result.stream;
}

INSTANTIATE_TEST_SUITE_P(
    Raster, UnprintableRaster,
    ::testing::Values(
        BadInput{"Empty", [] { return Bytes(); }, 0, nullptr, 0},
        BadInput{"SyncWordOnly", [] { return rasterOf({}); }, 0, nullptr, 0},
        BadInput{"Garbage",
                 [] {
                     Bytes bytes(3000);
                     unsigned state = 12345;
                     for (auto& b : bytes)
                         b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 16);
                     return bytes;
                 },
                 1, "raster", 0},
        BadInput{"TruncatedHeader",
                 [] {
                     Bytes b = rasterOf(samplePages(1, smallFormat()));
                     b.resize(4 + 300);
                     return b;
                 },
                 1, "header", 0},
        // past 2^28 pixels: refused before any page memory is taken
        BadInput{"AbsurdArea",
                 [] { return headerOnly([](auto& h) { h.cupsWidth = h.cupsHeight = h.cupsBytesPerLine = 70000; }); },
                 1, "too large", 0},
        BadInput{"Cmyk", cmyk, 1, "unsupported", 0},
        BadInput{"UnprintableSecondPage",
                 [] {
                     Bytes bytes = rasterOf(samplePages(1, smallFormat()), false);
                     Bytes second = cmyk();
                     bytes.insert(bytes.end(), second.begin() + 4, second.end());  // without its sync word
                     return bytes;
                 },
                 1, "unsupported", 1}),
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
    FilterResult result = run({.raster = raster});
    ASSERT_EQ(result.job.pages.size(), 1u);
    EXPECT_TRUE(shows(result.job.pages[0], expectedPage(arrived)));
}

}  // namespace
