#include "raster_input.h"

// Reading the shipped PPD needs the (deprecated) PPD API, as the filter does.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

using namespace vexo::filter;

namespace {

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

void setRaw(cups_cspace_t& field, unsigned value)  // as a hostile stream may carry
{
    std::memcpy(&field, &value, sizeof value);
}

}  // namespace

// Every header the whole filter must refuse before it allocates a page.
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
        {"colour space outside the enum", [](auto& h) { setRaw(h.cupsColorSpace, 0xFFFFFFFFu); }, "color space 4294967295"},
        {"order outside the enum", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_RGB; h.cupsBitsPerPixel = 24;
                                                 h.cupsBytesPerLine = 30; std::memset(&h.cupsColorOrder, 0xFF, 4); },
         "unsupported"},
        {"zero width", [](auto& h) { h.cupsWidth = 0; h.cupsBytesPerLine = 0; }, "empty"},
        {"zero height", [](auto& h) { h.cupsHeight = 0; }, "empty"},
        {"wide", [](auto& h) { h.cupsWidth = h.cupsBytesPerLine = kMaxPageSide + 1; }, "too large"},
        {"tall", [](auto& h) { h.cupsHeight = kMaxPageSide + 1; }, "too large"},
        {"each side fits, not the area", [](auto& h) { h.cupsWidth = h.cupsHeight = h.cupsBytesPerLine = 20000; }, "too large"},
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
