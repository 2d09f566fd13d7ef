#include "raster_input.h"

#include <gtest/gtest.h>

#include <cstring>

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
    EXPECT_NE(checkPageHeader(gray8(70000, 70000)).find("too large"), std::string::npos);
    cups_page_header2_t wide = gray8(0xFFFFFFFFu, 2);
    EXPECT_NE(checkPageHeader(wide).find("too large"), std::string::npos);
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
