#include "image.h"
#include "threshold_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

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

int blackCount(const PackedPage& page)
{
    int count = 0;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            count += isBlack(page, x, y);
    return count;
}

}  // namespace

TEST(Scaling, RatioOneKeepsThePageByteForByte)
{
    GrayPage src = makePage(37, 11, pattern);
    GrayPage copy = makePage(37, 11, pattern);
    GrayPage out = zoomGrayPage(std::move(src), 1.0);
    ASSERT_EQ(out.width, 37);
    EXPECT_EQ(std::memcmp(out.pixels.get(), copy.pixels.get(), copy.size()), 0);
}

TEST(Scaling, HalfTakesEverySecondPixelAndLeavesWhiteBands)
{
    GrayPage out = zoomGrayPage(makePage(100, 100, pattern), 0.5);
    ASSERT_EQ(out.width, 100);
    ASSERT_EQ(out.height, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            std::uint8_t expected = (x < 50 && y < 50) ? pattern(2 * x, 2 * y) : 255;
            ASSERT_EQ(out.pixels[y * 100 + x], expected) << x << "," << y;
        }
}

TEST(Scaling, EnlargingInterpolatesBetweenNeighboursAndCrops)
{
    GrayPage out = zoomGrayPage(makePage(30, 20, pattern), 1.5);
    ASSERT_EQ(out.width, 30);
    // pixel (1, 0): fx = 2/3, between source columns 0 and 1
    double fx = 1 / 1.5;
    auto expected = static_cast<std::uint8_t>((1 - fx) * pattern(0, 0) + fx * pattern(1, 0));
    EXPECT_EQ(out.pixels[1], expected);
    // pixel (1, 1): both directions
    double v = (1 - fx) * ((1 - fx) * pattern(0, 0) + fx * pattern(1, 0)) +
               fx * ((1 - fx) * pattern(0, 1) + fx * pattern(1, 1));
    EXPECT_EQ(out.pixels[30 + 1], static_cast<std::uint8_t>(v));
    // enlarging crops: the whole page is covered, no white band is left
    GrayPage dark = zoomGrayPage(makePage(30, 20, [](int, int) -> std::uint8_t { return 10; }), 1.5);
    for (std::size_t i = 0; i < dark.size(); ++i)
        ASSERT_EQ(dark.pixels[i], 10) << i;
}

TEST(Halftone, PackingPutsTheLeftmostPixelInTheTopBitAndPadsWithZero)
{
    PackedPage out = halftone(makePage(13, 3, [](int x, int) -> std::uint8_t { return x == 0 ? 0 : 255; }), 0);
    ASSERT_EQ(out.stride(), 2u);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(out.bits[y * 2], 0x80);
        EXPECT_EQ(out.bits[y * 2 + 1], 0x00);
    }
    PackedPage black = halftone(makePage(13, 2, [](int, int) -> std::uint8_t { return 0; }), 3);
    EXPECT_EQ(black.bits[0], 0xFF);
    EXPECT_EQ(black.bits[1], 0xF8);  // the three bits past the last pixel stay clear
}

TEST(Halftone, WhiteNeverPrintsAndBlackAlwaysPrintsAtEveryLevel)
{
    for (int level = 0; level <= 5; ++level) {
        EXPECT_EQ(blackCount(halftone(makePage(130, 130, [](int, int) -> std::uint8_t { return 255; }), level)), 0)
            << level;
        EXPECT_EQ(blackCount(halftone(makePage(130, 130, [](int, int) -> std::uint8_t { return 0; }), level)),
                  130 * 130)
            << level;
    }
}

TEST(Halftone, FourByFourMatrixOnMidGrayBlackensTheEightHighThresholds)
{
    PackedPage out = halftone(makePage(16, 8, [](int, int) -> std::uint8_t { return 128; }), 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(isBlack(out, x, y), kDither4x4[(y % 4) * 4 + x % 4] >= 136) << x << "," << y;
    EXPECT_EQ(blackCount(out), 16 * 8 / 2);
}

TEST(Halftone, DarknessLevelsGoFromLightestToDarkest)
{
    auto ramp = [](int x, int) -> std::uint8_t { return static_cast<std::uint8_t>(x % 256); };
    int previous = -1;
    for (int level = 1; level <= 5; ++level) {
        int count = blackCount(halftone(makePage(256, 128, ramp), level));
        EXPECT_GT(count, previous) << level;
        previous = count;
    }
}

TEST(Halftone, ZeroThresholdOnlyPrintsBlackAtLevelFiveButOneAtCurvedLevels)
{
    const Matrix128& fine = FINE_TAry_128();
    int pos = 0;
    while (fine[pos] != 0)
        ++pos;
    int x = pos % ClusterWidth, y = pos / ClusterWidth;
    auto one = [](int, int) -> std::uint8_t { return 1; };
    EXPECT_FALSE(isBlack(halftone(makePage(128, 128, one), 5), x, y));
    for (int level = 1; level <= 4; ++level) {
        Matrix128 curved = curvedMatrix(darknessGamma(level));
        EXPECT_GE(curved[pos], 1);
        EXPECT_TRUE(isBlack(halftone(makePage(128, 128, one), level), x, y)) << level;
    }
}

TEST(ThresholdMatrix, SupercellHasTheFullValueRangeAndItsTuningRows)
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

    const int row0[16] = {67, 51, 59, 114, 190, 206, 198, 143, 64, 48, 56, 111, 187, 203, 195, 140};
    const int row1[16] = {35, 3, 19, 98, 222, 254, 238, 159, 32, 0, 16, 95, 219, 250, 235, 155};
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(m[x], row0[x]) << x;
        EXPECT_EQ(m[ClusterWidth + x], row1[x]) << x;
    }
    // each cell position averages to the two-dot cell over all tiles
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
    EXPECT_FLOAT_EQ(darknessGamma(0), 0.0f);
    EXPECT_FLOAT_EQ(darknessGamma(3), 1.65f);
    Matrix128 light = curvedMatrix(4.0f);
    const Matrix128& fine = FINE_TAry_128();
    for (std::size_t i = 0; i < light.size(); ++i) {
        ASSERT_GE(light[i], 1);
        ASSERT_LE(light[i], 254);
        ASSERT_LE(light[i], std::max<int>(fine[i], 1));
    }
    // entry 254: (254/255)^4 * 255 + 0.5 = 251.5.. -> 251
    int pos = 0;
    while (fine[pos] != 254)
        ++pos;
    EXPECT_EQ(light[pos], 251);
}

TEST(Halftone, EveryPixelIsComparedWithItsOwnThresholdAcrossWideRows)
{
    // An odd width exercises the wide steps, the byte tail and the bit tail.
    const int width = 1005, height = 131;
    auto noise = [](int x, int y) -> std::uint8_t { return static_cast<std::uint8_t>((x * 2654435761u ^ y * 40503u) >> 7); };
    for (int level : {0, 3, 5}) {
        PackedPage out = halftone(makePage(width, height, noise), level);
        Matrix128 m = level == 3 ? curvedMatrix(darknessGamma(3)) : FINE_TAry_128();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int t = level == 0 ? kDither4x4[(y % 4) * 4 + x % 4] : m[(y % 128) * 128 + x % 128];
                ASSERT_EQ(isBlack(out, x, y), noise(x, y) <= t) << level << ": " << x << "," << y;
            }
    }
}
