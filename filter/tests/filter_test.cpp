// The filter's stages on their own: options, copies and wording, raster
// header checks, sending a page, spool files.
#include "job_stream.h"
#include "messages.h"
#include "options.h"
#include "raster_input.h"
#include "side_channel.h"
#include "spool.h"

// Reading the shipped PPD needs the (deprecated) PPD API, as the filter does.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace vexo::filter;

namespace {

// Runs the option lookup against a fixed set of marked choices.
void applyChoices(FilterJob& job, const std::map<std::string, std::string>& choices)
{
    job.log = std::fopen("/dev/null", "w");
    applyOptions(job, [&](const char* option) -> const char* {
        auto it = choices.find(option);
        return it == choices.end() ? nullptr : it->second.c_str();
    });
    std::fclose(job.log);
    job.log = stderr;
}

cups_page_header2_t gray8(unsigned width, unsigned height)
{
    cups_page_header2_t h{};
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorSpace = CUPS_CSPACE_W;
    return h;
}

class SpoolDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char d[] = "/tmp/vexo-spool-XXXXXX";
        ASSERT_NE(mkdtemp(d), nullptr);
        dir = spoolDirectory(d);
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    static std::string readAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string dir;
};

}  // namespace

TEST(Options, ChoicesMapOntoTheirCodesAndUnlistedOnesFallBack)
{
    struct Case {
        std::map<std::string, std::string> choices;
        int media, duplex, collate, darkness, quality;
        double ratio;
        const char* pageSize;
    };
    const Case cases[] = {
        {{}, 0, 0, 1, 0, 0, 1.0, "A4"},
        {{{"MediaType", "SuperThick"}, {"Duplex", "DuplexTumble"}, {"GammaDarkness", "darkness5"}, {"PageSize", "Legal"}},
         3, 1, 1, 5, 0, 1.0, "Legal"},
        {{{"MediaType", "Card"}, {"Duplex", "DuplexNoTumble"}, {"Resolution", "1200*600dpi"}}, 5, 2, 1, 0, 1, 1.0, "A4"},
        {{{"MediaType", "Envelope"}, {"Collate", "False"}, {"CScale", "50%"}, {"Resolution", "1200dpi"}},
         4, 0, 0, 0, 2, 0.5, "A4"},
        // keywords are case-sensitive and unknown rows change nothing
        {{{"MediaType", "plain"}, {"Duplex", "None"}, {"Collate", "false"}, {"CScale", "125%"},
          {"GammaDarkness", "darkness7"}, {"Resolution", "300dpi"}},
         0, 0, 1, 0, 0, 1.0, "A4"},
        {{{"MediaType", "Narrow"}, {"CScale", "150%"}, {"GammaDarkness", "darkness1"}}, 1, 0, 1, 1, 0, 1.5, "A4"},
        {{{"Resolution", "1200x600dpi"}}, 0, 0, 1, 0, 1, 1.0, "A4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.choices));
        FilterJob job;
        applyChoices(job, c.choices);
        EXPECT_EQ(job.isMediaType, c.media);
        EXPECT_EQ(job.isDuplex, c.duplex);
        EXPECT_EQ(job.collate, c.collate);
        EXPECT_EQ(job.imageDarkness_type, c.darkness);
        EXPECT_EQ(job.quality_type, c.quality);
        EXPECT_DOUBLE_EQ(job.scaleRatio, c.ratio);
        EXPECT_EQ(job.pageSize, c.pageSize);
    }
}

TEST(Options, CopiesGoToTheFilterWhenCollatedAndToThePrinterOtherwise)
{
    struct Case {
        int collate;
        const char* argument;
        int copies;
        const char* jobCopies;
    };
    const Case cases[] = {
        {1, "3", 3, "1"},
        {0, "3", 1, "3"},
        {0, "3;Event=EndOfJob", 1, "1"},  // text that is no count must never reach the job header
        {1, "0", 1, "1"},
        {0, "123456", 1, "9999"},
    };
    for (const Case& c : cases) {
        FilterJob job;
        job.collate = c.collate;
        applyCopies(job, c.argument);
        EXPECT_EQ(job.copies, c.copies) << c.argument;
        EXPECT_EQ(job.jobCopies, c.jobCopies) << c.argument;
    }
}

// The job's language picks the wording; the spooler's language comes second.
TEST(Messages, WordingFollowsTheFirstTwoLettersOfTheLanguage)
{
    EXPECT_EQ(wordingFor("en_US"), Wording::English);
    EXPECT_EQ(wordingFor("en.UTF-8"), Wording::English);
    EXPECT_EQ(wordingFor("zh_CN"), Wording::Chinese);
    EXPECT_EQ(wordingFor("zh-Hans"), Wording::Chinese);
    EXPECT_EQ(wordingFor("fr"), Wording::OtherEnglish);
    EXPECT_EQ(wordingFor("C"), Wording::OtherEnglish);
    EXPECT_EQ(messageLanguage(nullptr, nullptr), "zh-Hans");
    EXPECT_EQ(messageLanguage("fr", "en.UTF-8"), "fr");
    EXPECT_EQ(messageLanguage(nullptr, "en.UTF-8"), "en.UTF-8");
    EXPECT_EQ(messageLanguage("", "de_DE"), "de_DE");
}

// Every header the whole filter must refuse before it allocates a page; the
// size limits themselves are checked with the job language.
TEST(RasterHeaderCheck, AcceptsWhatTheFilterCanPrintAndNamesWhatItCannot)
{
    struct Case {
        const char* name;
        std::function<void(cups_page_header2_t&)> edit;
        const char* problem;  // "" when accepted
    };
    const Case cases[] = {
        {"A4 gray", [](auto& h) { h = gray8(4958, 7016); }, ""},
        {"sRGB", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_SRGB; h.cupsBitsPerPixel = 24; h.cupsBytesPerLine = 30; }, ""},
        {"banded RGB", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_RGB; h.cupsBitsPerPixel = 24; h.cupsBytesPerLine = 30;
                                     h.cupsColorOrder = CUPS_ORDER_BANDED; }, "unsupported raster format"},
        {"16-bit RGB", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_RGB; h.cupsBitsPerColor = 16; h.cupsBitsPerPixel = 48;
                                     h.cupsBytesPerLine = 60; }, "unsupported raster format"},
        {"CMYK", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_CMYK; h.cupsBitsPerPixel = 32; h.cupsBytesPerLine = 40; },
         "unsupported raster format"},
        {"3-bit gray", [](auto& h) { h.cupsBitsPerColor = h.cupsBitsPerPixel = 3; h.cupsBytesPerLine = 4; }, "unsupported"},
        {"pixel depth", [](auto& h) { h.cupsBitsPerPixel = 16; h.cupsBytesPerLine = 20; }, "inconsistent"},
        {"line overruns the page", [](auto& h) { h.cupsBytesPerLine = 11; }, "does not match"},
        {"colour space outside the enum", [](auto& h) { std::memset(&h.cupsColorSpace, 0xFF, 4); }, "color space 4294967295"},
        {"order outside the enum", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_RGB; h.cupsBitsPerPixel = 24;
                                                 h.cupsBytesPerLine = 30; std::memset(&h.cupsColorOrder, 0xFF, 4); },
         "unsupported"},
        {"zero width", [](auto& h) { h.cupsWidth = 0; h.cupsBytesPerLine = 0; }, "empty"},
        {"wide", [](auto& h) { h.cupsWidth = h.cupsBytesPerLine = kMaxPageSide + 1; }, "too large"},
        {"absurd", [](auto& h) { h.cupsWidth = h.cupsBytesPerLine = 0xFFFFFFF8u; }, "too large"},
    };
    for (const Case& c : cases) {
        cups_page_header2_t h = gray8(10, 10);
        c.edit(h);
        std::string problem = checkPageHeader(h);
        if (*c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
        else
            EXPECT_EQ(problem, "") << c.name;
    }
}

TEST(RasterHeaderCheck, TheLargestSheetTheQueueOffersPassesAt1200DpiEitherWayRound)
{
    ppd_file_t* ppd = ppdOpenFile(VEXO_SHIPPED_PPD);
    ASSERT_NE(ppd, nullptr);
    const auto side = [](float points) { return static_cast<unsigned>(points / 72.0f * 1200.0f + 0.5f); };
    std::vector<std::pair<unsigned, unsigned>> sheets{{side(ppd->custom_max[0]), side(ppd->custom_max[1])}};
    for (int i = 0; i < ppd->num_sizes; ++i)
        if (ppd->sizes[i].width > 0)  // not the custom-size entry
            sheets.emplace_back(side(ppd->sizes[i].width), side(ppd->sizes[i].length));
    ppdClose(ppd);
    EXPECT_GE(sheets.front().second, 16800u);  // custom sizes reach legal length
    for (auto [width, height] : sheets) {
        EXPECT_EQ(checkPageHeader(gray8(width, height)), "") << width << " x " << height;
        EXPECT_EQ(checkPageHeader(gray8(height, width)), "") << height << " x " << width;
    }
}

// The drain after a chunk reports the printer gone: the rest of the page has
// nowhere to go and the job is cancelled, while a slow backend only delays.
TEST_F(SpoolDir, LostPrinterStopsThePageAndCancelsTheJob)
{
    struct Channel : SideChannel {
        cups_sc_status_t answer = CUPS_SC_STATUS_TIMEOUT;
        cups_sc_status_t request(cups_sc_command_t, double) override { return answer; }
    } channel;
    std::ofstream(dir + "page", std::ios::binary) << std::string(5000, 'x');
    char* data = nullptr;
    std::size_t size = 0;
    FilterJob job;
    job.out = open_memstream(&data, &size);
    job.log = std::fopen("/dev/null", "w");
    job.sideChannel = &channel;
    job.pageWidth = job.pageHeight = 8;
    startJob(job);
    // What goes out between the page header and the page's end.
    const auto pageData = [&](cups_sc_status_t answer) {
        sendPageHeader(job);
        std::fflush(job.out);
        const std::size_t before = size;
        channel.answer = answer;
        EXPECT_EQ(sendPageData(job, dir + "page"), 0);
        channel.answer = CUPS_SC_STATUS_TIMEOUT;
        job.writer.endPage();
        std::fflush(job.out);
        return size - before - std::strlen(vexo::joblang::kEndOfPage);
    };
    EXPECT_EQ(pageData(CUPS_SC_STATUS_TIMEOUT), 23u + 4096 + 1 + 22 + 904 + 1);
    EXPECT_EQ(job.jobIsCanceled, 0);
    EXPECT_EQ(pageData(CUPS_SC_STATUS_IO_ERROR), 23u + 4096 + 1);
    EXPECT_EQ(job.jobIsCanceled, 1);
    std::fclose(job.out);
    std::fclose(job.log);
    std::free(data);
}

TEST(MediaSize, CustomSizesFollowTheResolutionAndUnknownNamesFallBackToA4)
{
    EXPECT_EQ(mediaSizeField("Custom", 4961, 7016, 0), "MediaSize=na_customsize_210x297mm;");
    EXPECT_EQ(mediaSizeField("Custom", 9922, 7016, 1), "MediaSize=na_customsize_210x297mm;");
    EXPECT_EQ(mediaSizeField("Custom", 9922, 14032, 2), "MediaSize=na_customsize_210x297mm;");
    EXPECT_EQ(mediaSizeField("a4", 0, 0, 0), "MediaSize=na_a4_210x297mm;");  // names are case-sensitive
}

TEST(SpoolNames, PagesArePaddedToFourDigitsAndJobIdsCannotLeaveTheFolder)
{
    EXPECT_EQ(spoolName("/var/spool/cups/tmp/", "42", kTempSuffix, 3), "/var/spool/cups/tmp/42-jbigold-0003");
    EXPECT_EQ(spoolName("/var/spool/cups/tmp/", "7", kFinalSuffix, 12345), "/var/spool/cups/tmp/7-jbig-12345");
    EXPECT_EQ(spoolName("/tmp/s/", "../../etc/x", kFinalSuffix, 1), "/tmp/s/______etc_x-jbig-0001");
    EXPECT_EQ(spoolDirectory("/tmp/cups"), "/tmp/cups/");
    EXPECT_EQ(spoolDirectory(nullptr), "/var/spool/cups/tmp/");
    EXPECT_EQ(spoolDirectory(""), "/var/spool/cups/tmp/");
}

// The spool folder is shared: a stale file is replaced, a planted link is
// neither written nor read through, and the file is private.
TEST_F(SpoolDir, CreationReplacesStaleFilesNeverFollowsLinksAndIsPrivate)
{
    std::string stale = dir + "1-jbig-0001";
    std::ofstream(stale) << "old contents from a crash";
    int fd = createSpoolFile(stale);
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    close(fd);

    std::string victim = dir + "victim";
    std::ofstream(victim) << "keep";
    std::string link = dir + "1-jbig-0002";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    fd = createSpoolFile(link);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "new", 3), 3);
    close(fd);
    EXPECT_EQ(readAll(victim), "keep");
    EXPECT_EQ(readAll(link), "new");

    ASSERT_EQ(symlink(victim.c_str(), (dir + "l").c_str()), 0);
    EXPECT_LT(openSpoolFile(dir + "l"), 0);
    EXPECT_TRUE(removeSpoolFile(stale));
    EXPECT_FALSE(removeSpoolFile(stale));
}
