// What the printer receives for a job: headers from the queue's options,
// every page's halftone, copies and duplex completion; and for raster it
// cannot print, or only partly: why, a properly ended job stream, the exit
// status. Every header the filter refuses is listed in filter_test; here one
// stands for each way the filter meets bad input.
#include "whole_support.h"

#include "jobstream/jbig_decode.h"

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>

using namespace vexo::wholetest;
using vexo::jobstream::Ending;
using vexo::mkraster::PageFormat;
using vexo::mkraster::RasterWriter;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string customSize(int width, int height)
{
    return "na_customsize_" + std::to_string(static_cast<int>(width / 23.6)) + "x" +
           std::to_string(static_cast<int>(height / 23.6)) + "mm";
}

struct InputFormat {
    const char* name;
    cups_cspace_t space;
    unsigned bits;
    bool compressed;
};

class InputFormats : public WholeFilter, public ::testing::WithParamInterface<InputFormat> {};

// Whatever gray depth or RGB arrives, the page prints as its gray would.
TEST_P(InputFormats, PrintAsTheirGray)
{
    PageFormat format = smallFormat(61, 90);  // width not a multiple of 8
    format.colorSpace = GetParam().space;
    format.bits = GetParam().bits;
    auto pages = samplePages(1, format);
    FilterResult result = run({.raster = rasterOf(pages, GetParam().compressed)});
    ASSERT_EQ(result.job.pages.size(), 1u);
    EXPECT_TRUE(shows(result.job.pages[0], expectedPage(pages[0])));
}

INSTANTIATE_TEST_SUITE_P(
    Raster, InputFormats,
    ::testing::Values(InputFormat{"W8", CUPS_CSPACE_W, 8, true}, InputFormat{"W1", CUPS_CSPACE_W, 1, true},
                      InputFormat{"W2", CUPS_CSPACE_W, 2, false}, InputFormat{"W4", CUPS_CSPACE_W, 4, true},
                      InputFormat{"W16", CUPS_CSPACE_W, 16, true}, InputFormat{"SW8", CUPS_CSPACE_SW, 8, true},
                      InputFormat{"K1", CUPS_CSPACE_K, 1, false}, InputFormat{"K8", CUPS_CSPACE_K, 8, true},
                      InputFormat{"K16", CUPS_CSPACE_K, 16, false}, InputFormat{"RGB8", CUPS_CSPACE_RGB, 8, true}),
    [](const ::testing::TestParamInfo<InputFormat>& param) { return std::string(param.param.name); });

struct OptionCase {
    const char* name;
    const char* options;
    const char* resolution;
    const char* mediaType;
    const char* mediaSize;
    double ratio;
    int darkness;
};

class QueueOptions : public WholeFilter, public ::testing::WithParamInterface<OptionCase> {};

// The test queue's default media type is Thick: its defaults must be marked.
TEST_P(QueueOptions, ShapeHeadersAndPages)
{
    const OptionCase& c = GetParam();
    auto pages = samplePages(1, smallFormat(120, 90));
    addNoise(pages[0], 1);  // gray everywhere: every threshold counts
    FilterResult result = run({.raster = rasterOf(pages), .options = c.options, .queuePpd = true});
    EXPECT_EQ(result.job.header.resolution, c.resolution);
    EXPECT_EQ(result.job.header.mediaType, c.mediaType);
    EXPECT_EQ(result.job.header.sides, "OneSided");
    EXPECT_EQ(result.job.header.copies, "1");
    ASSERT_EQ(result.job.pages.size(), 1u);
    EXPECT_EQ(result.job.pages[0].mediaSize, c.mediaSize);
    EXPECT_TRUE(shows(result.job.pages[0], expectedPage(pages[0], c.ratio, c.darkness)));
}

INSTANTIATE_TEST_SUITE_P(
    Ppd, QueueOptions,
    ::testing::Values(
        OptionCase{"Defaults", "", "600x600", "Thick", "na_a4_210x297mm", 1.0, 0},
        OptionCase{"Shrunk", "CScale=50% GammaDarkness=darkness3 Resolution=1200dpi MediaType=Plain PageSize=Letter",
                   "1200x1200", "plain", "na_LETTER_216x279mm", 0.5, 3},
        OptionCase{"Enlarged", "CScale=130% GammaDarkness=darkness5 Resolution=1200*600dpi MediaType=Envelope "
                               "PageSize=A5",
                   "1200x600", "envelope", "na_a5_148x210mm", 1.3, 5},
        OptionCase{"Lightest", "CScale=150% GammaDarkness=darkness1 MediaType=SuperThick", "600x600", "Superthick",
                   "na_a4_210x297mm", 1.5, 1},
        OptionCase{"ChoicesWithoutRow", "CScale=125% GammaDarkness=darkness7 MediaType=Card PageSize=Legal",
                   "600x600", "plain", "na_a4_210x297mm", 1.0, 0}),
    [](const ::testing::TestParamInfo<OptionCase>& param) { return std::string(param.param.name); });

using JobOutput = WholeFilter;

// Collated copies resend the same spool files, which live in the job's
// folder; links planted at their names in that shared folder are replaced,
// never written through.
TEST_F(JobOutput, CollatedCopiesRepeatTheDocumentFromPrivateSpoolFiles)
{
    const std::string victim = spoolDir + "-victim";
    std::ofstream(victim) << "keep";
    for (const char* name : {"/42-jbigold-0001", "/42-jbig-0001", "/42-jbig-0002"})
        std::filesystem::create_symlink(victim, spoolDir + name);
    auto pages = samplePages(2, smallFormat());
    FilterResult result = run({.raster = rasterOf(pages), .options = std::nullopt, .copies = "3"});

    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    std::filesystem::remove(victim);
    EXPECT_TRUE(contains(result.log, spoolDir + "/42-jbig-0002")) << result.log;
    EXPECT_EQ(result.job.header.copies, "1");
    ASSERT_EQ(result.job.pages.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(shows(result.job.pages[i], expectedPage(pages[i % 2]))) << "page " << i + 1;
        EXPECT_EQ(result.job.pages[i].data, result.job.pages[i % 2].data) << "page " << i + 1;
    }
}

// Uncollated copies are the printer's; an even duplex job needs no blank back.
TEST_F(JobOutput, UncollatedEvenDuplexJobIsSentOnce)
{
    FilterResult result = run({.raster = rasterOf(samplePages(2, smallFormat())),
                               .options = "Collate=False Duplex=DuplexTumble", .queuePpd = true, .copies = "3"});
    EXPECT_EQ(result.job.header.copies, "3");
    EXPECT_EQ(result.job.header.sides, "TwoSidedShortEdge");
    EXPECT_EQ(result.job.pages.size(), 2u);
}

// An odd duplex job gets a blank back in every copy, and every repeated page
// carries its own size, not that of the page sent last.
TEST_F(JobOutput, OddDuplexJobOfMixedSizesGetsABlankBackInEveryCopy)
{
    std::vector<TestPage> pages;
    for (auto [w, h, n] : {std::tuple{144u, 100u, 1}, {200u, 150u, 2}, {96u, 120u, 3}})
        pages.push_back(samplePages(n, smallFormat(w, h)).back());
    FilterResult result = run({.raster = rasterOf(pages), .options = "PageSize=Custom.300x200 Duplex=DuplexNoTumble",
                               .queuePpd = true, .copies = "2"});
    EXPECT_EQ(result.job.header.sides, "TwoSidedLongEdge");
    ASSERT_EQ(result.job.pages.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const TestPage& source = pages[std::min<std::size_t>(i % 4, 2)];
        const auto& page = result.job.pages[i];
        EXPECT_EQ(page.mediaSize, customSize(source.image.width, source.image.height)) << "page " << i + 1;
        EXPECT_TRUE(shows(page, i % 4 < 3 ? expectedPage(source) : blankPage(source.image.width, source.image.height)))
            << "page " << i + 1;
    }
}

// Nowhere to put the page image: the page goes out empty and the job ends.
TEST_F(JobOutput, UnwritableSpoolFolderEndsTheJobAfterAnEmptyPage)
{
    FilterResult result = run({.raster = rasterOf(samplePages(2, smallFormat())),
                               .env = {{"TMPDIR", spoolDir + "/missing"}, {"LANG", "en.UTF-8"}}});
    EXPECT_EQ(result.job.ending, Ending::EndOfJob);
    ASSERT_EQ(result.job.pages.size(), 1u);
    EXPECT_TRUE(result.job.pages[0].data.empty());
    EXPECT_TRUE(contains(result.log, "INFO:Job Cancelling\n"));
}

// A page as tall as A4 at 600 dpi: the JBIG stripes reach their 128-line cap.
TEST_F(JobOutput, TallPageAt600Dpi)
{
    PageFormat strip;
    strip.widthPt = 61;
    strip.sizeName = "Custom";
    auto pages = samplePages(1, strip);
    FilterResult result = run({.raster = rasterOf(pages), .options = "PageSize=Custom.61x842", .queuePpd = true});
    ASSERT_EQ(result.job.pages.size(), 1u);
    const auto& page = result.job.pages[0];
    EXPECT_EQ(page.mediaSize, customSize(pages[0].image.width, 7016));
    EXPECT_EQ(page.height, 7016);
    EXPECT_TRUE(shows(page, expectedPage(pages[0])));
    EXPECT_EQ(vexo::jobstream::readBieHeader(page.data).l0, 128u);
}

// The spooler counts "PAGE: n c" as c impressions: pages the filter repeats
// count once per pass, copies the printer makes count on the page, a blank
// back counts as it is printed, and a page that did not go out whole not at all.
struct CountCase {
    const char* name;
    int pages;
    const char* options;
    const char* copies;
    std::vector<std::string> lines;
};

class SpoolerCounts : public WholeFilter, public ::testing::WithParamInterface<CountCase> {};

TEST_P(SpoolerCounts, OnePageLinePerPageSent)
{
    const CountCase& c = GetParam();
    FilterResult result = run({.raster = rasterOf(samplePages(c.pages, smallFormat())), .options = c.options,
                               .queuePpd = true, .copies = c.copies});
    EXPECT_EQ(result.pageLines(), c.lines) << result.log;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, SpoolerCounts,
    ::testing::Values(
        CountCase{"OneCopy", 3, "", "1", {"1 1", "2 1", "3 1"}},
        CountCase{"CollatedCopies", 3, "", "2", {"1 1", "2 1", "3 1", "1 1", "2 1", "3 1"}},
        CountCase{"PrinterCopies", 3, "Collate=False", "2", {"1 2", "2 2", "3 2"}},
        CountCase{"OddDuplexGetsItsBlankBackCounted", 3, "Duplex=DuplexNoTumble", "2",
                  {"1 1", "2 1", "3 1", "4 1", "1 1", "2 1", "3 1", "4 1"}},
        CountCase{"OddDuplexPrinterCopies", 1, "Duplex=DuplexTumble Collate=False", "3", {"1 3", "2 3"}}),
    [](const ::testing::TestParamInfo<CountCase>& param) { return std::string(param.param.name); });

// Nothing is counted for a job whose pages could not be written out.
TEST_F(JobOutput, PageWithoutItsImageIsNotCounted)
{
    FilterResult result = run({.raster = rasterOf(samplePages(2, smallFormat())),
                               .env = {{"TMPDIR", spoolDir + "/missing"}}});
    EXPECT_TRUE(result.pageLines().empty()) << result.log;
}

// Printed as a file, raster reaches this filter first: the spooler names the
// document as argument 6 and leaves standard input empty.
TEST_F(JobOutput, RasterFileNamedBySpoolerIsRead)
{
    const std::string document = spoolDir + "-document.ras";
    auto pages = samplePages(3, smallFormat());
    const Bytes raster = rasterOf(pages);
    std::ofstream(document, std::ios::binary).write(reinterpret_cast<const char*>(raster.data()),
                                                    static_cast<std::streamsize>(raster.size()));
    FilterResult result = run({.file = document});
    std::filesystem::remove(document);
    ASSERT_EQ(result.job.pages.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(shows(result.job.pages[i], expectedPage(pages[i]))) << "page " << i + 1;
    EXPECT_EQ(result.pageLines().size(), 3u);
}

// A document that cannot be opened is an error, not an empty job.
TEST_F(JobOutput, MissingRasterFileIsAnError)
{
    FilterResult result = run({.raster = rasterOf(samplePages(1, smallFormat())), .file = spoolDir + "/gone.ras"}, 1);
    EXPECT_TRUE(contains(result.log, "ERROR: cannot open the raster file " + spoolDir + "/gone.ras")) << result.log;
    EXPECT_EQ(result.stream, "");
}


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
        // each side fits, the area is past 2^28 pixels: refused before any page memory is taken
        BadInput{"AreaPastTheCeiling",
                 [] { return headerOnly([](auto& h) { h.cupsWidth = h.cupsHeight = h.cupsBytesPerLine = 20000; }); },
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
