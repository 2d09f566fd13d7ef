#include "raster_input.h"

// Reading the shipped PPD needs the (deprecated) PPD API, as the filter does.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstring>
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

}  // namespace

TEST(RasterHeaderCheck, AcceptsWhatTheFilterCanPrintAndNamesWhatItCannot)
{
    EXPECT_EQ(checkPageHeader(gray8(4958, 7016)), "");

    cups_page_header2_t rgb = gray8(10, 10);
    rgb.cupsColorSpace = CUPS_CSPACE_SRGB;
    rgb.cupsBitsPerPixel = 24;
    rgb.cupsBytesPerLine = 30;
    EXPECT_EQ(checkPageHeader(rgb), "");
    rgb.cupsColorOrder = CUPS_ORDER_BANDED;
    EXPECT_NE(checkPageHeader(rgb).find("unsupported raster format"), std::string::npos);

    cups_page_header2_t cmyk = gray8(10, 10);
    cmyk.cupsColorSpace = CUPS_CSPACE_CMYK;
    EXPECT_NE(checkPageHeader(cmyk).find("unsupported raster format"), std::string::npos);

    cups_page_header2_t line = gray8(10, 10);
    line.cupsBytesPerLine = 11;  // would let a line overrun the page buffer
    EXPECT_NE(checkPageHeader(line).find("does not match"), std::string::npos);

    EXPECT_NE(checkPageHeader(gray8(0, 10)).find("empty"), std::string::npos);
    // a side or an area beyond the ceiling
    EXPECT_NE(checkPageHeader(gray8(kMaxPageSide + 1, 8)).find("too large"), std::string::npos);
    EXPECT_NE(checkPageHeader(gray8(8, kMaxPageSide + 1)).find("too large"), std::string::npos);
    EXPECT_NE(checkPageHeader(gray8(20000, 20000)).find("too large"), std::string::npos);
    EXPECT_NE(checkPageHeader(gray8(70000, 70000)).find("too large"), std::string::npos);
    cups_page_header2_t wide = gray8(0xFFFFFFFFu, 2);
    EXPECT_NE(checkPageHeader(wide).find("too large"), std::string::npos);
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

TEST(RasterHeaderCheck, ColourSpaceOutsideTheEnumIsRefusedWithoutReadingItAsOne)
{
    cups_page_header2_t h = gray8(10, 10);
    const unsigned bogus = 0xFFFFFFFFu;  // as a hostile stream may carry
    std::memcpy(&h.cupsColorSpace, &bogus, sizeof bogus);
    EXPECT_NE(checkPageHeader(h).find("color space 4294967295"), std::string::npos);
    std::memcpy(&h.cupsColorOrder, &bogus, sizeof bogus);
    EXPECT_FALSE(checkPageHeader(h).empty());
}
