#include "jbig_page.h"
#include "spool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <jbig.h>
}

using namespace vexo::filter;

namespace {

std::vector<unsigned char> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

unsigned long be32(const std::vector<unsigned char>& b, std::size_t at)
{
    return (unsigned long)b[at] << 24 | (unsigned long)b[at + 1] << 16 | (unsigned long)b[at + 2] << 8 | b[at + 3];
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
    std::string dir;
};

}  // namespace

TEST_F(SpoolDir, EncodedPageCarriesTheHeaderAndDecodesToTheSameBits)
{
    const int width = 4968, height = 7016, stride = width / 8;
    std::vector<unsigned char> bitmap(static_cast<std::size_t>(stride) * height, 0);
    for (int y = 0; y < height; y += 3)
        for (int b = y % 7; b < stride; b += 11)
            bitmap[static_cast<std::size_t>(y) * stride + b] = static_cast<unsigned char>(0x5A ^ y);
    std::string path = dir + "page";
    ASSERT_EQ(bmp_to_jbg(path, bitmap.data(), width, height), 1);

    std::vector<unsigned char> bie = readAll(path);
    ASSERT_GT(bie.size(), 20u);
    EXPECT_EQ(bie[0], 0);  // DL
    EXPECT_EQ(bie[1], 0);  // D
    EXPECT_EQ(bie[2], 1);  // planes
    EXPECT_EQ(bie[3], 0);
    EXPECT_EQ(be32(bie, 4), 4968u);
    EXPECT_EQ(be32(bie, 8), 7016u);
    EXPECT_EQ(be32(bie, 12), 128u);
    EXPECT_EQ(bie[16], 8);     // MX
    EXPECT_EQ(bie[17], 0);     // MY
    EXPECT_EQ(bie[18], 0x03);  // ILEAVE | SMID
    EXPECT_EQ(bie[19], 0x1C);  // TPDON | TPBON | DPON

    jbg_dec_state dec;
    jbg_dec_init(&dec);
    size_t used = 0;
    ASSERT_EQ(jbg_dec_in(&dec, bie.data(), bie.size(), &used), JBG_EOK);
    ASSERT_EQ(jbg_dec_getwidth(&dec), 4968u);
    ASSERT_EQ(jbg_dec_getheight(&dec), 7016u);
    EXPECT_EQ(std::vector<unsigned char>(jbg_dec_getimage(&dec, 0), jbg_dec_getimage(&dec, 0) + bitmap.size()),
              bitmap);
    jbg_dec_free(&dec);
}

TEST_F(SpoolDir, WhitePageIsShortButComplete)
{
    std::vector<unsigned char> white(16 * 50, 0);
    ASSERT_EQ(bmp_to_jbg(dir + "w", white.data(), 128, 50), 1);
    std::vector<unsigned char> bie = readAll(dir + "w");
    EXPECT_GT(bie.size(), 20u);
    EXPECT_LT(bie.size(), 200u);
    EXPECT_EQ(be32(bie, 12), 2u);
}

TEST(SpoolNames, PagesArePaddedToFourDigitsAndGrowPastThem)
{
    EXPECT_EQ(spoolName("/var/spool/cups/tmp/", "42", kTempSuffix, 3), "/var/spool/cups/tmp/42-jbigold-0003");
    EXPECT_EQ(spoolName("/var/spool/cups/tmp/", "7", kFinalSuffix, 12345), "/var/spool/cups/tmp/7-jbig-12345");
    EXPECT_EQ(spoolName("/tmp/s/", "../../etc/x", kFinalSuffix, 1), "/tmp/s/______etc_x-jbig-0001");
    EXPECT_EQ(spoolDirectory("/tmp/cups"), "/tmp/cups/");
    EXPECT_EQ(spoolDirectory("/tmp/cups/"), "/tmp/cups/");
    EXPECT_EQ(spoolDirectory(nullptr), "/var/spool/cups/tmp/");
    EXPECT_EQ(spoolDirectory(""), "/var/spool/cups/tmp/");
}

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
    EXPECT_EQ(readAll(victim), std::vector<unsigned char>({'k', 'e', 'e', 'p'}));
    struct stat linkInfo {};
    ASSERT_EQ(lstat(link.c_str(), &linkInfo), 0);
    EXPECT_TRUE(S_ISREG(linkInfo.st_mode));

    ASSERT_EQ(symlink(victim.c_str(), (dir + "l").c_str()), 0);
    EXPECT_LT(openSpoolFile(dir + "l"), 0);  // reading does not follow links either
    EXPECT_TRUE(removeSpoolFile(stale));
    EXPECT_FALSE(removeSpoolFile(stale));
}
