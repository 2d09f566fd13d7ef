#include "whole_support.h"

#include "image.h"
#include "jobstream/jbig_decode.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vexo::wholetest {

mkraster::PageFormat smallFormat(unsigned widthPt, unsigned heightPt)
{
    mkraster::PageFormat f;
    f.dpi = 72;
    f.widthPt = widthPt;
    f.heightPt = heightPt;
    f.sizeName = "Custom";
    return f;
}

std::vector<TestPage> samplePages(int count, const mkraster::PageFormat& format)
{
    std::vector<TestPage> pages;
    const cups_page_header2_t h = mkraster::pageHeader(format);
    for (int n = 1; n <= count; ++n)
        pages.push_back({format, mkraster::samplePage(static_cast<int>(h.cupsWidth), static_cast<int>(h.cupsHeight),
                                                      n, "")});
    return pages;
}

void addNoise(TestPage& page, unsigned seed)
{
    unsigned state = seed * 2654435761u + 1;
    for (int y = page.image.height / 2; y < page.image.height; ++y)
        for (int x = 0; x < page.image.width; ++x) {
            state = state * 1664525u + 1013904223u;
            page.image.at(x, y) = static_cast<std::uint8_t>(state >> 24);
        }
}

std::vector<std::uint8_t> rasterOf(const std::vector<TestPage>& pages, bool compressed)
{
    std::vector<std::uint8_t> bytes;
    mkraster::RasterWriter writer(bytes, compressed);
    for (const TestPage& page : pages)
        EXPECT_TRUE(writer.writePage(mkraster::pageHeader(page.format), page.image));
    EXPECT_TRUE(writer.close());
    return bytes;
}

Expected expectedPage(const TestPage& page, double ratio, int darkness)
{
    using namespace vexo::joblang;
    const mkraster::GrayImage& image = page.image;
    GrayPage gray{image.width, image.height, allocatePixels(image.pixels.size())};
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        gray.pixels[i] = mkraster::storedGray(image.pixels[i], page.format.bits);
    PackedPage packed = halftone(zoomGrayPage(std::move(gray), ratio), darkness);
    Expected e{image.width, image.height, {}};
    e.bits.assign(packed.bits.get(), packed.bits.get() + packed.stride() * static_cast<std::size_t>(packed.height));
    return e;
}

Expected blankPage(int width, int height)
{
    return {width, height, std::vector<std::uint8_t>(static_cast<std::size_t>((width + 7) / 8) * height, 0)};
}

::testing::AssertionResult parses(const std::string& stream, jobstream::Job& job)
{
    try {
        job = jobstream::parseJobStream(
            std::span(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()));
        return ::testing::AssertionSuccess();
    } catch (const jobstream::StreamError& e) {
        return ::testing::AssertionFailure() << "malformed job stream: " << e.what();
    }
}

::testing::AssertionResult shows(const jobstream::Page& page, const Expected& expected)
{
    if (page.width != roundUp8(expected.width) || page.height != expected.height)
        return ::testing::AssertionFailure() << "page header says " << page.width << " x " << page.height
                                             << ", expected " << roundUp8(expected.width) << " x " << expected.height;
    jobstream::DecodedImage image;
    try {
        image = jobstream::decodeJbig(page.data);
    } catch (const jobstream::JbigError& e) {
        return ::testing::AssertionFailure() << "page image: " << e.what();
    }
    const auto& bitmap = image.bitmap;
    if (image.header.xd != static_cast<unsigned long>(page.width) ||
        image.header.yd != static_cast<unsigned long>(page.height))
        return ::testing::AssertionFailure() << "image is " << image.header.xd << " x " << image.header.yd
                                             << ", its page header says " << page.width << " x " << page.height;
    if (bitmap.bits == expected.bits)
        return ::testing::AssertionSuccess();
    if (bitmap.bits.size() != expected.bits.size())
        return ::testing::AssertionFailure() << "image has " << bitmap.bits.size() << " bytes, expected "
                                             << expected.bits.size();
    std::size_t differing = 0, first = 0;
    for (std::size_t i = 0; i < bitmap.bits.size(); ++i)
        if (bitmap.bits[i] != expected.bits[i] && differing++ == 0)
            first = i;
    return ::testing::AssertionFailure() << differing << " of " << bitmap.bits.size()
                                         << " bytes differ from the expected halftone, the first in row "
                                         << first / bitmap.stride() << " at pixel " << first % bitmap.stride() * 8;
}

void WholeFilter::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vexo-whole-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    spoolDir = pattern;
}

void WholeFilter::TearDown()
{
    if (!spoolDir.empty())
        std::filesystem::remove_all(spoolDir);
}

FilterResult WholeFilter::run(const FilterRun& filterRun)
{
    FilterResult result = runFilter(filterRun, spoolDir);
    EXPECT_FALSE(result.watchdogFired) << "filter still running after " << filterRun.watchdog.count() << " ms";
    EXPECT_EQ(result.signal, 0) << "filter died of signal " << result.signal;
    EXPECT_EQ(result.log.find("Sanitizer"), std::string::npos) << result.log;
    EXPECT_EQ(result.log.find("runtime error:"), std::string::npos) << result.log;
    EXPECT_TRUE(result.leftovers.empty()) << "left in the spool folder: " << ::testing::PrintToString(result.leftovers);
    for (const auto& name : result.leftovers)
        std::filesystem::remove(std::filesystem::path(spoolDir) / name);
    return result;
}

}  // namespace vexo::wholetest
