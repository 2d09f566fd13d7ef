#include "jbig_encode.h"
#include "page_builder.h"

#include <gtest/gtest.h>

extern "C" {
#include <jbig.h>
}

#include <cstring>
#include <thread>
#include <vector>

using namespace vexo::joblang;

namespace {

// A gray page with every value and structure at many scales.
std::vector<std::uint8_t> grayPage(int width, int height)
{
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            gray[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>((x * 7 + y * 3 + x * y / 5) & 0xFF);
    return gray;
}

}  // namespace

TEST(StripeLines, FollowHeightOverThirtyFiveWithinTwoAnd128)
{
    EXPECT_EQ(stripeLines(7016), 128u);
    EXPECT_EQ(stripeLines(4000), 114u);
    EXPECT_EQ(stripeLines(50), 2u);
    EXPECT_EQ(stripeLines(1), 2u);
}

TEST(PageSize, EmptyAndOversizedPagesAreRefused)
{
    struct Case {
        unsigned long long width, height;
        const char* problem;
    };
    const Case cases[] = {
        {4961, 7016, ""},
        {25600, 10485, ""},  // the whole area, long side at the ceiling
        {0, 100, "is empty"},
        {100, 0, "is empty"},
        {25601, 8, "is too large"},
        {8, 25601, "is too large"},
        {25600, 10486, "is too large"},  // one line past 2^28 pixels
        {1ull << 40, 1ull << 40, "is too large"},
    };
    for (const Case& c : cases) {
        std::string problem = pageSizeProblem(c.width, c.height);
        if (*c.problem == '\0')
            EXPECT_EQ(problem, "") << c.width << "x" << c.height;
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

TEST(PageBuilder, RowByRowEqualsTheWholePageHalftoneAtEveryDarkness)
{
    const int width = 301, height = 133;  // odd width: padding bits must stay 0
    const std::vector<std::uint8_t> gray = grayPage(width, height);
    for (int level = 0; level <= 5; ++level) {
        GrayPage whole{width, height, allocatePixels(gray.size())};
        std::memcpy(whole.pixels.get(), gray.data(), gray.size());
        PackedPage expected = halftone(std::move(whole), level);

        PageBuilder builder(width, height, level);
        ASSERT_TRUE(builder.ok());
        for (int y = 0; y < height; ++y)
            if (y != 7)  // a row never added stays white
                builder.addRow(y, gray.data() + static_cast<std::size_t>(y) * width);
        builder.addRow(height, gray.data());  // outside: ignored
        builder.addRow(-1, gray.data());
        PackedPage got = builder.take();
        std::memset(expected.bits.get() + 7 * expected.stride(), 0, expected.stride());
        EXPECT_EQ(std::memcmp(got.bits.get(), expected.bits.get(), got.stride() * height), 0) << "level " << level;
    }
}

// The header is what the printer checks first; the image must decode with
// the reference decoder to the very bits; pages encoded on several threads at
// once come out the same.
TEST(Jbig, HeaderAndRoundTripAndThreadSafety)
{
    const int width = 1024, height = 700;
    const std::vector<std::uint8_t> gray = grayPage(width, height);
    PageBuilder builder(width, height, 3);
    for (int y = 0; y < height; ++y)
        builder.addRow(y, gray.data() + static_cast<std::size_t>(y) * width);
    const PackedPage page = builder.take();
    const std::vector<std::uint8_t> alone = encodeJbig(page.bits.get(), width, height);
    ASSERT_GT(alone.size(), 20u);
    // DL D P fill, XD = 1024, YD = 700, L0 = 700 / 35, MX MY, ILEAVE|SMID, TPDON|TPBON|DPON
    const std::vector<std::uint8_t> header = {0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 2, 0xBC, 0, 0, 0, 20, 8, 0, 0x03, 0x1C};
    EXPECT_EQ(std::vector<std::uint8_t>(alone.begin(), alone.begin() + 20), header);

    jbg_dec_state dec;
    jbg_dec_init(&dec);
    size_t used = 0;
    ASSERT_EQ(jbg_dec_in(&dec, const_cast<unsigned char*>(alone.data()), alone.size(), &used), JBG_EOK);
    ASSERT_EQ(jbg_dec_getwidth(&dec), 1024u);
    ASSERT_EQ(jbg_dec_getheight(&dec), 700u);
    const std::size_t bytes = page.stride() * height;
    EXPECT_EQ(std::memcmp(jbg_dec_getimage(&dec, 0), page.bits.get(), bytes), 0);
    jbg_dec_free(&dec);

    std::vector<std::vector<std::uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] { result = encodeJbig(page.bits.get(), width, height); });
    for (auto& t : threads)
        t.join();
    for (const auto& result : results)
        EXPECT_EQ(result, alone);
}
