#include "mkraster/raster_writer.h"
#include "mkraster/sample_page.h"

#include <gtest/gtest.h>

#include <cups/raster.h>

#include <cstring>
#include <vector>

using namespace vexo::mkraster;

namespace {

struct Reader {
    const std::vector<std::uint8_t>* data;
    std::size_t pos = 0;
    static ssize_t read(void* ctx, unsigned char* buffer, size_t length)
    {
        auto* r = static_cast<Reader*>(ctx);
        size_t n = std::min(length, r->data->size() - r->pos);
        std::memcpy(buffer, r->data->data() + r->pos, n);
        r->pos += n;
        return static_cast<ssize_t>(n);
    }
};

struct Format {
    cups_cspace_t space;
    unsigned bits;
    bool compressed;
};

class SampleRaster : public ::testing::TestWithParam<Format> {};

// What libcups reads back must be the gray the writer claims it stored;
// the whole-filter tests build their expectations on that.
TEST_P(SampleRaster, ReadsBackAsStoredGray)
{
    const Format f = GetParam();
    PageFormat format;
    format.dpi = 72;
    format.widthPt = 61;  // an odd width leaves a part-filled last byte
    format.heightPt = 45;
    format.sizeName = "Custom";
    format.colorSpace = f.space;
    format.bits = f.bits;
    cups_page_header2_t header = pageHeader(format);
    GrayImage page = samplePage(61, 45, 3, "");
    for (int x = 0; x < 61; ++x)
        page.at(x, 20) = static_cast<std::uint8_t>(x * 4);  // every depth's levels

    std::vector<std::uint8_t> stream;
    {
        RasterWriter writer(stream, f.compressed);
        ASSERT_TRUE(writer.writePage(header, page));
        ASSERT_TRUE(writer.close());
    }

    Reader reader{&stream};
    cups_raster_t* r = cupsRasterOpenIO(Reader::read, &reader, CUPS_RASTER_READ);
    ASSERT_NE(r, nullptr);
    cups_page_header2_t back;
    ASSERT_TRUE(cupsRasterReadHeader2(r, &back));
    EXPECT_EQ(back.cupsWidth, 61u);
    EXPECT_EQ(back.cupsBytesPerLine, header.cupsBytesPerLine);
    std::vector<std::uint8_t> line(back.cupsBytesPerLine), expected(back.cupsBytesPerLine);
    for (int y = 0; y < 45; ++y) {
        ASSERT_EQ(cupsRasterReadPixels(r, line.data(), back.cupsBytesPerLine), back.cupsBytesPerLine);
        std::vector<std::uint8_t> stored(61);
        for (int x = 0; x < 61; ++x)
            stored[static_cast<std::size_t>(x)] = storedGray(page.at(x, y), f.bits);
        encodeLine(stored.data(), header, expected.data());
        ASSERT_EQ(line, expected) << "line " << y;
    }
    EXPECT_FALSE(cupsRasterReadHeader2(r, &back));
    cupsRasterClose(r);
}

INSTANTIATE_TEST_SUITE_P(Formats, SampleRaster,
                         ::testing::Values(Format{CUPS_CSPACE_W, 1, true}, Format{CUPS_CSPACE_W, 2, false},
                                           Format{CUPS_CSPACE_K, 4, true}, Format{CUPS_CSPACE_SW, 8, false},
                                           Format{CUPS_CSPACE_K, 16, true}, Format{CUPS_CSPACE_RGB, 8, true}));

TEST(SampleRaster, StoredGrayKeepsOnlyTheLevelsOfItsDepth)
{
    EXPECT_EQ(storedGray(127, 1), 0);
    EXPECT_EQ(storedGray(128, 1), 255);
    EXPECT_EQ(storedGray(100, 2), 85);
    EXPECT_EQ(storedGray(100, 4), 102);
    EXPECT_EQ(storedGray(100, 16), 100);
}

}  // namespace
