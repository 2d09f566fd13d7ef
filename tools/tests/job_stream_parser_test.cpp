#include "jobstream/jbig_decode.h"
#include "jobstream/job_stream_parser.h"

#include <gtest/gtest.h>

extern "C" {
#include <jbig.h>
}

#include <bit>
#include <numeric>
#include <string>
#include <vector>

using namespace vexo::jobstream;

namespace {

const std::string kJobHeader =
    "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;";
const std::string kPageHeader = "MediaSize=na_a4_210x297mm;RasterObject.Width=16;RasterObject.Height=2;";

std::string chunk(std::size_t n, char fill = ';')
{
    return "RasterObject.Data#" + std::to_string(n) + "=" + std::string(n, fill) + ";";
}

std::vector<std::uint8_t> bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

Job parse(const std::string& s)
{
    return parseJobStream(bytes(s));
}

// Payload bytes of ";" and "=" and an embedded event text must not end a chunk.
TEST(JobStreamParser, ReadsPagesWhosePayloadLooksLikeFraming)
{
    const std::string payload = "Event=EndOfPage;";
    Job job = parse("Event=StartOfJob;" + kJobHeader + kPageHeader + chunk(4096, '=') + "RasterObject.Data#16=" +
                    payload + ";Event=EndOfPage;MediaSize=na_customsize_50x80mm;RasterObject.Width=8;"
                    "RasterObject.Height=1;Event=EndOfPage;Event=EndOfJob;");
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_EQ(job.pages[0].chunks, (std::vector<std::size_t>{4096, 16}));
    EXPECT_EQ(std::string(job.pages[0].data.end() - 16, job.pages[0].data.end()), payload);
    EXPECT_EQ(job.pages[1].mediaSize, "na_customsize_50x80mm");
    EXPECT_TRUE(job.pages[1].data.empty());
    EXPECT_EQ(job.ending, Ending::EndOfJob);
}

struct Malformed {
    const char* what;
    std::string stream;
    std::size_t offset;
    const char* message;  // part of the error text
};

void PrintTo(const Malformed& m, std::ostream* os)
{
    *os << m.what;
}

class JobStreamParserRejects : public ::testing::TestWithParam<Malformed> {};

TEST_P(JobStreamParserRejects, WithOffset)
{
    const Malformed& m = GetParam();
    try {
        parse(m.stream);
        FAIL() << m.what << " was accepted";
    } catch (const StreamError& e) {
        EXPECT_EQ(e.offset(), m.offset) << e.what();
        EXPECT_NE(std::string(e.what()).find(m.message), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind("offset " + std::to_string(m.offset) + ": ", 0), 0u) << e.what();
    }
}

const std::string kStart = "Event=StartOfJob;" + kJobHeader;  // 17 + 86 bytes
const std::size_t kPage = kStart.size();
const std::size_t kData = kPage + kPageHeader.size();

INSTANTIATE_TEST_SUITE_P(
    Cases, JobStreamParserRejects,
    ::testing::Values(
        Malformed{"empty", "", 0, "empty stream"},
        Malformed{"no start", "Event=EndOfPage;", 0, "expected \"Event=StartOfJob;\""},
        Malformed{"four header fields", "Event=StartOfJob;Resolution=600x600;MediaType=plain;Sides=OneSided;"
                                        "Copies=1;Event=EndOfJob;",
                  76, "expected field MediaInputTrayCheck"},
        Malformed{"bad copies", "Event=StartOfJob;Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=01;",
                  67, "Copies \"01\""},
        Malformed{"unknown resolution", "Event=StartOfJob;Resolution=300x300;", 17, "unknown Resolution"},
        Malformed{"no end", kStart, kPage, "stream ends without"},
        Malformed{"trailing bytes", "Event=EndOfJob;x", 15, "1 byte(s) after"},
        Malformed{"bytes after cancel", kStart + "CancelJob?Event=EndOfJob;", kPage + 10, "after \"CancelJob?\""},
        Malformed{"page end without header", kStart + "Event=EndOfPage;", kPage, "has no page header"},
        Malformed{"odd width", kStart + "MediaSize=na_a4_210x297mm;RasterObject.Width=13;", kPage + 26,
                  "no multiple of 8"},
        Malformed{"unknown size", kStart + "MediaSize=na_legal;", kPage, "unknown MediaSize"},
        Malformed{"oversized chunk", kStart + kPageHeader + chunk(4097), kData + 18, "more than 4096"},
        Malformed{"zero chunk", kStart + kPageHeader + "RasterObject.Data#0=;", kData + 18, "is not 1..4096"},
        Malformed{"chunk after short one", kStart + kPageHeader + chunk(10) + chunk(10), kData + chunk(10).size(),
                  "after a short one of 10 bytes"},
        Malformed{"cut-off chunk", kStart + kPageHeader + "RasterObject.Data#100=abc", kData, "cut off after 3"},
        Malformed{"length lies", kStart + kPageHeader + "RasterObject.Data#3=abcd;", kData + 23, "expected \";\""},
        Malformed{"page not closed", kStart + kPageHeader + chunk(5) + "Event=EndOfJob;", kData + chunk(5).size(),
                  "expected a data field or \"Event=EndOfPage;\""},
        Malformed{"binary garbage", std::string("Event=StartOfJob;\x01\x02", 19), 17, "\\x01\\x02"}),
    [](const ::testing::TestParamInfo<Malformed>& param) { return std::to_string(param.index); });

// A small image through the library's own encoder, for the decoder checks.
std::vector<std::uint8_t> encode(std::vector<std::uint8_t> bits, unsigned long w, unsigned long h)
{
    std::vector<std::uint8_t> out;
    unsigned char* planes[1] = {bits.data()};
    jbg_enc_state s;
    jbg_enc_init(&s, w, h, 1, planes,
                 [](unsigned char* start, std::size_t len, void* file) {
                     auto* v = static_cast<std::vector<std::uint8_t>*>(file);
                     v->insert(v->end(), start, start + len);
                 },
                 &out);
    jbg_enc_out(&s);
    jbg_enc_free(&s);
    return out;
}

TEST(JbigDecode, RoundTripsAndRefusesDamagedImages)
{
    const unsigned long w = 24, h = 40;
    std::vector<std::uint8_t> bits(w / 8 * h);
    for (std::size_t i = 0; i < bits.size(); ++i)
        bits[i] = static_cast<std::uint8_t>(i * 37);
    std::vector<std::uint8_t> bie = encode(bits, w, h);

    DecodedImage image = decodeJbig(bie);
    EXPECT_EQ(image.header.xd, w);
    EXPECT_EQ(image.header.yd, h);
    EXPECT_EQ(image.header.l0, 2u);
    EXPECT_EQ(image.bitmap.bits, bits);
    EXPECT_EQ(image.bitmap.blackPixels(), std::accumulate(bits.begin(), bits.end(), std::size_t{0},
                                                          [](std::size_t n, std::uint8_t b) { return n + std::popcount(b); }));

    std::vector<std::uint8_t> longer = bie;
    longer.push_back(0);
    EXPECT_THROW(decodeJbig(longer), JbigError);
    EXPECT_THROW(decodeJbig(std::span(bie).first(bie.size() - 3)), JbigError);
    EXPECT_THROW(decodeJbig(std::span(bie).first(12)), JbigError);
}

}  // namespace
