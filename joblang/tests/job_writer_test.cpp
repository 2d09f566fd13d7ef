// The job stream's order as the writer keeps it, read back with the
// inspector's parser: what both the filter and the printer application send.
#include "job_writer.h"

#include "jobstream/jbig_decode.h"
#include "jobstream/job_stream_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace vexo::joblang;
using vexo::jobstream::Ending;
using vexo::jobstream::parseJobStream;

namespace {

class Recorder final : public JobSink {
public:
    bool command(const std::string& text) override { return take(text.data(), text.size()); }
    bool chunk(const std::uint8_t* data, std::size_t size) override
    {
        ++chunks;
        return take(data, size);
    }
    std::span<const std::uint8_t> span() const
    {
        return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    }
    std::string bytes;
    int chunks = 0;
    long failAfter = -1;  // bytes taken before every write fails

private:
    bool take(const void* data, std::size_t size)
    {
        if (failAfter >= 0 && bytes.size() + size > static_cast<std::size_t>(failAfter))
            return false;
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
};

// A page with its top-left pixel black.
PackedPage markedPage(int width, int height)
{
    PackedPage page = blankPage(width, height);
    page.bits[0] = 0x80;
    return page;
}

}  // namespace

TEST(JobWriter, OnlyAnOddTwoSidedJobGetsABlankBackPageOfItsLastPagesSize)
{
    struct Case {
        int duplex, pages, sent;
    };
    for (const Case& c : {Case{0, 3, 3}, Case{1, 3, 4}, Case{2, 1, 2}, Case{2, 2, 2}}) {
        SCOPED_TRACE(::testing::Message() << "duplex " << c.duplex << ", " << c.pages << " pages");
        Recorder sink;
        JobWriter writer(sink);
        ASSERT_TRUE(writer.start({1, 0, c.duplex, "1"}));
        for (int i = 0; i < c.pages; ++i)
            ASSERT_TRUE(writer.sendPage(markedPage(100 + i, 40 + i), i + 1 < c.pages ? "A4" : "A5"));
        EXPECT_EQ(writer.backPage().has_value(), c.sent != c.pages);
        EXPECT_TRUE(writer.finish());
        EXPECT_FALSE(writer.finish());
        EXPECT_EQ(writer.pagesSent(), c.sent);

        const auto job = parseJobStream(sink.span());
        ASSERT_EQ(job.pages.size(), static_cast<std::size_t>(c.sent));
        EXPECT_EQ(job.ending, Ending::EndOfJob);
        const auto& last = job.pages[static_cast<std::size_t>(c.pages) - 1];
        const auto& back = job.pages.back();
        EXPECT_EQ(back.width, last.width);
        EXPECT_EQ(back.height, last.height);
        EXPECT_EQ(back.mediaSize, last.mediaSize);
        EXPECT_EQ(vexo::jobstream::decodeJbig(back.data).bitmap.blackPixels(), c.sent == c.pages ? 1u : 0u);
    }
}

// The filter feeds its spool file block by block and drains after each
// chunk, so a chunk goes out as soon as it is full.
TEST(JobWriter, PageDataGoesOutInFullChunksAsSoonAsTheyFill)
{
    Recorder sink;
    JobWriter writer(sink);
    ASSERT_TRUE(writer.start({}));
    ASSERT_TRUE(writer.beginPage("A4", 8, 1));
    const std::vector<std::uint8_t> piece(1000, 0x55);
    for (int i = 0; i < 9; ++i)
        writer.pageData(piece.data(), piece.size());
    EXPECT_EQ(sink.chunks, 2);
    ASSERT_TRUE(writer.endPage());
    EXPECT_EQ(sink.chunks, 3);
    EXPECT_TRUE(sink.bytes.ends_with(";RasterObject.Data#808=" + std::string(808, 0x55) + ";Event=EndOfPage;"));
}

TEST(JobWriter, EndsAndCancelsOnceAndOnlyWhatThePrinterHeardOf)
{
    Recorder quiet;
    JobWriter unstarted(quiet);
    EXPECT_TRUE(unstarted.finish());  // nothing printed, nothing to say
    unstarted.cancel();
    EXPECT_EQ(quiet.bytes, "");

    Recorder empty;
    JobWriter filterEnd(empty);
    EXPECT_TRUE(filterEnd.endJob());  // the filter ends even an empty job
    EXPECT_FALSE(filterEnd.endJob());
    EXPECT_EQ(empty.bytes, kEndOfJob);

    Recorder sink;
    JobWriter writer(sink);
    ASSERT_TRUE(writer.start({}));
    ASSERT_TRUE(writer.sendPage(markedPage(16, 4), "A4"));
    writer.cancel();
    writer.cancel();
    EXPECT_FALSE(writer.finish());
    EXPECT_FALSE(writer.beginPage("A4", 16, 4));
    EXPECT_EQ(parseJobStream(sink.span()).ending, Ending::Cancelled);
    EXPECT_TRUE(sink.bytes.ends_with("Event=EndOfPage;CancelJob?"));
}

// A printer that stopped taking data hears nothing more but the cancel.
TEST(JobWriter, AfterAFailedWriteOnlyTheCancelIsTried)
{
    Recorder sink;
    sink.failAfter = 200;
    JobWriter writer(sink);
    ASSERT_TRUE(writer.start({}));
    const std::vector<std::uint8_t> data(5000, 0x55);
    ASSERT_TRUE(writer.beginPage("A4", 8, 1));
    writer.pageData(data.data(), data.size());
    EXPECT_FALSE(writer.endPage());
    EXPECT_TRUE(writer.failed());
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(sink.bytes.find("EndOfPage"), std::string::npos);
    sink.failAfter = -1;
    writer.cancel();
    EXPECT_TRUE(sink.bytes.ends_with(";CancelJob?"));
}
