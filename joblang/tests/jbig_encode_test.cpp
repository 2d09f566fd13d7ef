#include "jbig_encode.h"
#include "page_builder.h"

#include <gtest/gtest.h>

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
        {25600, 10485, ""},            // the whole area, long side at the ceiling
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
            builder.addRow(y, gray.data() + static_cast<std::size_t>(y) * width);
        builder.addRow(height, gray.data());  // outside: ignored
        builder.addRow(-1, gray.data());
        PackedPage got = builder.take();
        EXPECT_EQ(std::memcmp(got.bits.get(), expected.bits.get(), got.stride() * height), 0) << "level " << level;
    }
}

TEST(PageBuilder, RowsNeverAddedStayWhite)
{
    const std::vector<std::uint8_t> black(64, 0);
    PageBuilder builder(64, 4, 0);
    builder.addRow(1, black.data());
    PackedPage page = builder.take();
    for (int y = 0; y < 4; ++y)
        for (std::size_t b = 0; b < page.stride(); ++b)
            EXPECT_EQ(page.bits[y * page.stride() + b], y == 1 ? 0xFF : 0x00) << y;
}

TEST(Jbig, PagesEncodedOnSeveralThreadsAtOnceAreEachComplete)
{
    const int width = 1024, height = 700;
    const std::vector<std::uint8_t> gray = grayPage(width, height);
    PageBuilder builder(width, height, 3);
    for (int y = 0; y < height; ++y)
        builder.addRow(y, gray.data() + static_cast<std::size_t>(y) * width);
    const PackedPage page = builder.take();
    const std::vector<std::uint8_t> alone = encodeJbig(page.bits.get(), width, height);
    ASSERT_GT(alone.size(), 20u);
    EXPECT_EQ(alone[3], 0);  // header: DL, D, P, fill byte
    EXPECT_EQ(alone[19], 0x1C);

    std::vector<std::vector<std::uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] { result = encodeJbig(page.bits.get(), width, height); });
    for (auto& t : threads)
        t.join();
    for (const auto& result : results)
        EXPECT_EQ(result, alone);
}
