#include "job_stream.h"
#include "side_channel.h"
#include "spool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace vexo::filter;

namespace {

class RecordingChannel : public SideChannel {
public:
    std::vector<cups_sc_command_t> requests;
    cups_sc_status_t answer = CUPS_SC_STATUS_OK;
    cups_sc_status_t request(cups_sc_command_t command, double) override
    {
        requests.push_back(command);
        return answer;
    }
};

// A job whose stream and log land in memory and whose spool folder is private.
class StreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/vexo-stream-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        job.spoolDir = spoolDirectory(dir);
        job.JobIdChar = "42";
        job.out = open_memstream(&outData, &outSize);
        job.log = open_memstream(&logData, &logSize);
        job.sideChannel = &channel;
        job.wording = Wording::English;
    }
    void TearDown() override
    {
        std::fclose(job.out);
        std::fclose(job.log);
        std::free(outData);
        std::free(logData);
        std::system(("rm -rf " + job.spoolDir).c_str());
    }
    std::string stream()
    {
        std::fflush(job.out);
        return std::string(outData, outSize);
    }
    std::string log()
    {
        std::fflush(job.log);
        return std::string(logData, logSize);
    }
    std::string writeSpool(int page, const std::string& bytes)
    {
        std::string name = spoolName(job.spoolDir, job.JobIdChar, kFinalSuffix, page);
        std::ofstream(name, std::ios::binary) << bytes;
        return name;
    }

    FilterJob job;
    RecordingChannel channel;
    char* outData = nullptr;
    std::size_t outSize = 0;
    char* logData = nullptr;
    std::size_t logSize = 0;
};

}  // namespace

TEST_F(StreamTest, PageDataGoesOutInFullChunksWithTheirLengthsAndAnyByteValue)
{
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 251);
    bytes[5] = ';';
    bytes[6] = '=';
    std::string path = writeSpool(1, bytes);
    ASSERT_EQ(sendPageData(job, path), 0);
    std::string expected = "RasterObject.Data#4096=" + bytes.substr(0, 4096) + ";" +
                           "RasterObject.Data#4096=" + bytes.substr(4096, 4096) + ";" +
                           "RasterObject.Data#1808=" + bytes.substr(8192) + ";";
    EXPECT_EQ(stream(), expected);
    EXPECT_EQ(channel.requests.size(), 3u);  // one drain per chunk
    for (auto r : channel.requests)
        EXPECT_EQ(r, CUPS_SC_CMD_DRAIN_OUTPUT);
}

TEST_F(StreamTest, EmptyAndMissingSpoolFilesStillCloseThePage)
{
    job.pages = {{100, 50}, {100, 50}};
    writeSpool(1, "");
    ASSERT_TRUE(sendOnePage(job, 1));
    EXPECT_EQ(stream(), "MediaSize=na_a4_210x297mm;RasterObject.Width=104;RasterObject.Height=50;Event=EndOfPage;");
    EXPECT_EQ(job.isCanceled, 0);

    ASSERT_TRUE(sendOnePage(job, 2));  // never written
    EXPECT_EQ(job.isCanceled, 1);
    EXPECT_NE(log().find("can not open file"), std::string::npos);
    EXPECT_EQ(stream().substr(stream().size() - 16), "Event=EndOfPage;");
}

TEST_F(StreamTest, SlowBackendIsOnlyLoggedButALostPrinterCancelsTheJob)
{
    std::string path = writeSpool(1, std::string(5000, 'x'));
    channel.answer = CUPS_SC_STATUS_TIMEOUT;
    EXPECT_EQ(sendPageData(job, path), 0);
    EXPECT_EQ(stream().size(), 23 + 4096 + 1 + 22 + 904 + 1u);
    EXPECT_NE(log().find("DEBUG:[Wren] write data to stdout time out \n"), std::string::npos);
    EXPECT_EQ(job.jobIsCanceled, 0);

    channel.answer = CUPS_SC_STATUS_IO_ERROR;
    EXPECT_EQ(sendPageData(job, path), 0);
    EXPECT_EQ(stream().size(), 2 * (23 + 4096 + 1) + 22 + 904 + 1u);  // the rest of the page is not sent
    EXPECT_NE(log().find("DEBUG:[Wren] write data to stdout IO Error \n"), std::string::npos);
    EXPECT_EQ(job.jobIsCanceled, 1);
    EXPECT_NE(log().find("INFO:Job Cancelling\n"), std::string::npos);
}

TEST_F(StreamTest, JobHeaderFieldsFollowTheJobState)
{
    EXPECT_EQ(jobHeaderText(job), "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;");
    job.quality_type = 2;
    job.isMediaType = 3;
    job.isDuplex = 1;
    job.jobCopies = "3";
    EXPECT_EQ(jobHeaderText(job),
              "Resolution=1200x1200;MediaType=Superthick;Sides=TwoSidedShortEdge;Copies=3;MediaInputTrayCheck=auto;");
    job.quality_type = 1;
    job.isMediaType = 5;
    job.isDuplex = 2;
    EXPECT_EQ(jobHeaderText(job),
              "Resolution=1200x600;MediaType=plain;Sides=TwoSidedLongEdge;Copies=3;MediaInputTrayCheck=auto;");
    job.isMediaType = 4;
    EXPECT_NE(jobHeaderText(job).find("MediaType=envelope;"), std::string::npos);
}

TEST(MediaSize, NamedSizesCustomSizesAndTheA4Fallback)
{
    EXPECT_EQ(mediaSizeField("A5-R", 0, 0, 0), "MediaSize=na_a5-TRANSVERSE_210x148mm;");
    EXPECT_EQ(mediaSizeField("Custom.595.28x841.89", 0, 0, 0), "MediaSize=na_16k_195x270mm;");
    EXPECT_EQ(mediaSizeField("16K", 0, 0, 0), "MediaSize=na_16k_195x270mm;");
    EXPECT_EQ(mediaSizeField("Letter", 0, 0, 0), "MediaSize=na_LETTER_216x279mm;");
    EXPECT_EQ(mediaSizeField("85x170mm", 0, 0, 0), "MediaSize=na_bank_85x170mm;");
    EXPECT_EQ(mediaSizeField("Legal", 0, 0, 0), "MediaSize=na_a4_210x297mm;");
    EXPECT_EQ(mediaSizeField("a4", 0, 0, 0), "MediaSize=na_a4_210x297mm;");
    EXPECT_EQ(mediaSizeField("Custom", 4961, 7016, 0), "MediaSize=na_customsize_210x297mm;");
    EXPECT_EQ(mediaSizeField("Custom", 9922, 7016, 1), "MediaSize=na_customsize_210x297mm;");
    EXPECT_EQ(mediaSizeField("Custom", 9922, 14032, 2), "MediaSize=na_customsize_210x297mm;");
}

TEST_F(StreamTest, CustomPageHeaderUsesTheUnroundedWidthAndKeepsTheRounding)
{
    job.pageSize = "Custom";
    job.pages = {{4961, 7016}};
    writeSpool(1, "x");
    sendOnePage(job, 1);
    EXPECT_EQ(stream().substr(0, 83), "MediaSize=na_customsize_210x297mm;RasterObject.Width=4968;RasterObject.Height=7016;");
    EXPECT_EQ(job.pages[0].width, 4968);
    EXPECT_EQ(job.pageWidth, 4968);
}

TEST_F(StreamTest, CommandsAreWrittenVerbatimAndDrained)
{
    sendCmd(job, "Event=StartOfJob;");
    endOfJob(job);
    EXPECT_EQ(stream(), "Event=StartOfJob;Event=EndOfJob;");
    EXPECT_EQ(channel.requests.size(), 2u);
    EXPECT_NE(log().find("INFO: Finish sending all job data.And waiting for printer to finish the job.\n"),
              std::string::npos);
}
