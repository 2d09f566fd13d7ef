// The job language's page stages: scaling, halftoning, the page builder,
// the size limits and JBIG encoding.
#include "image.h"
#include "jbig_encode.h"
#include "page_builder.h"
#include "threshold_matrix.h"

#include <gtest/gtest.h>

extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

using namespace vexo::joblang;

namespace {

GrayPage makePage(int width, int height, std::uint8_t (*value)(int x, int y))
{
    GrayPage page{width, height, allocatePixels(static_cast<std::size_t>(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            page.pixels[static_cast<std::size_t>(y) * width + x] = value(x, y);
    return page;
}

std::uint8_t pattern(int x, int y)
{
    return static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
}

bool isBlack(const PackedPage& page, int x, int y)
{
    return (page.bits[static_cast<std::size_t>(y) * page.stride() + x / 8] >> (7 - x % 8)) & 1;
}

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

TEST(Scaling, RatioOneKeepsThePageAndHalfLeavesWhiteBands)
{
    GrayPage same = zoomGrayPage(makePage(37, 11, pattern), 1.0);
    GrayPage copy = makePage(37, 11, pattern);
    ASSERT_EQ(same.width, 37);
    EXPECT_EQ(std::memcmp(same.pixels.get(), copy.pixels.get(), copy.size()), 0);

    GrayPage half = zoomGrayPage(makePage(100, 100, pattern), 0.5);
    ASSERT_EQ(half.width, 100);
    ASSERT_EQ(half.height, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(half.pixels[y * 100 + x], (x < 50 && y < 50) ? pattern(2 * x, 2 * y) : 255) << x << "," << y;
}

TEST(Scaling, EnlargingInterpolatesBetweenNeighboursAndCrops)
{
    GrayPage out = zoomGrayPage(makePage(30, 20, pattern), 1.5);
    ASSERT_EQ(out.width, 30);
    const double fx = 1 / 1.5;  // pixel 1 lies between source pixels 0 and 1
    EXPECT_EQ(out.pixels[1], static_cast<std::uint8_t>((1 - fx) * pattern(0, 0) + fx * pattern(1, 0)));
    double v = (1 - fx) * ((1 - fx) * pattern(0, 0) + fx * pattern(1, 0)) +
               fx * ((1 - fx) * pattern(0, 1) + fx * pattern(1, 1));
    EXPECT_EQ(out.pixels[30 + 1], static_cast<std::uint8_t>(v));
    GrayPage dark = zoomGrayPage(makePage(30, 20, [](int, int) -> std::uint8_t { return 10; }), 1.5);
    for (std::size_t i = 0; i < dark.size(); ++i)
        ASSERT_EQ(dark.pixels[i], 10) << i;  // no white band when enlarging
}

TEST(Halftone, EveryPixelIsComparedWithItsOwnThresholdAndPaddingStaysClear)
{
    // An odd width exercises the wide steps, the byte tail and the bit tail;
    // the noise takes every value, so each threshold is met exactly somewhere.
    const int width = 1005, height = 131;
    auto noise = [](int x, int y) -> std::uint8_t { return static_cast<std::uint8_t>((x * 2654435761u ^ y * 40503u) >> 7); };
    for (int level = 0; level <= 5; ++level) {
        PackedPage out = halftone(makePage(width, height, noise), level);
        ASSERT_EQ(out.stride(), 126u);
        const Matrix128 m = level >= 1 && level <= 4 ? curvedMatrix(darknessGamma(level)) : FINE_TAry_128();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                int t = level == 0 ? kDither4x4[(y % 4) * 4 + x % 4] : m[(y % 128) * 128 + x % 128];
                ASSERT_EQ(isBlack(out, x, y), noise(x, y) <= t) << level << ": " << x << "," << y;
            }
            ASSERT_EQ(out.bits[static_cast<std::size_t>(y) * out.stride() + 125] & 0x07, 0) << level << ": " << y;
        }
    }
}

TEST(Halftone, DarknessLevelsGoFromLightestToDarkest)
{
    auto ramp = [](int x, int) -> std::uint8_t { return static_cast<std::uint8_t>(x % 256); };
    int previous = -1;
    for (int level = 1; level <= 5; ++level) {
        PackedPage out = halftone(makePage(256, 128, ramp), level);
        int count = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 256; ++x)
                count += isBlack(out, x, y);
        EXPECT_GT(count, previous) << level;
        previous = count;
    }
}

TEST(ThresholdMatrix, SupercellTakesEveryValueAndAveragesToTheTwoDotCell)
{
    const Matrix128& m = FINE_TAry_128();
    std::map<int, int> count;
    for (std::uint8_t v : m)
        ++count[v];
    EXPECT_EQ(count.size(), 255u);
    EXPECT_EQ(count[0], 33);
    EXPECT_EQ(count[254], 33);
    for (int v = 1; v < 254; ++v)
        EXPECT_TRUE(count[v] == 64 || count[v] == 65) << v;
    const int cellR0[8] = {65, 50, 58, 113, 189, 204, 196, 141};
    for (int cx = 0; cx < 8; ++cx) {
        double sum = 0;
        for (int ty = 0; ty < 16; ++ty)
            for (int tx = 0; tx < 16; ++tx)
                sum += m[(ty * 8) * ClusterWidth + tx * 8 + cx];
        EXPECT_EQ(std::lround(sum / 256), cellR0[cx]) << cx;
    }
}

TEST(ThresholdMatrix, DarknessCurveIsComputedInSinglePrecisionAndClamped)
{
    const Matrix128& fine = FINE_TAry_128();
    for (int level = 1; level <= 4; ++level) {
        Matrix128 curved = curvedMatrix(darknessGamma(level));
        for (std::size_t i = 0; i < curved.size(); ++i) {
            ASSERT_GE(curved[i], 1) << level;  // value 1 still prints where the supercell holds 0
            ASSERT_LE(curved[i], std::max<int>(fine[i], 1)) << level;
        }
    }
    // entry 254: (254/255)^4 * 255 + 0.5 = 251.5.. -> 251
    auto at254 = static_cast<std::size_t>(std::find(fine.begin(), fine.end(), 254) - fine.begin());
    EXPECT_EQ(curvedMatrix(4.0f)[at254], 251);
}

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
