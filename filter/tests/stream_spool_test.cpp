#include "job_stream.h"
#include "side_channel.h"
#include "spool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexo::filter;

namespace {

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
    const std::size_t fullPage = 23 + 4096 + 1 + 22 + 904 + 1;

    EXPECT_EQ(sendPageData(job, dir + "page"), 0);
    std::fflush(job.out);
    EXPECT_EQ(size, fullPage);
    EXPECT_EQ(job.jobIsCanceled, 0);
    channel.answer = CUPS_SC_STATUS_IO_ERROR;
    EXPECT_EQ(sendPageData(job, dir + "page"), 0);
    std::fflush(job.out);
    EXPECT_EQ(size, fullPage + 23 + 4096 + 1);
    EXPECT_EQ(job.jobIsCanceled, 1);
    EXPECT_EQ(sendPageData(job, dir + "missing"), 3);
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
