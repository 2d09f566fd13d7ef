#include "catalogue_drivers.h"
#include "media.h"
#include "print_job.h"

#include "jobstream/jbig_decode.h"
#include "jobstream/job_stream_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace vexo::app;
using vexo::jobstream::parseJobStream;

namespace {

class CapturedOutput final : public Output {
public:
    bool write(const void* data, std::size_t size) override
    {
        if (failAfter >= 0 && bytes.size() + size > static_cast<std::size_t>(failAfter))
            return false;
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    void flush() override {}
    bool stopped() const override { return stopAfter >= 0 && bytes.size() >= static_cast<std::size_t>(stopAfter); }
    std::span<const std::uint8_t> span() const
    {
        return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    }
    std::string bytes;
    long failAfter = -1;
    long stopAfter = -1;  // the job is cancelled once this much went out
};

cups_page_header2_t sgray(unsigned width, unsigned height, unsigned dpi = 600)
{
    cups_page_header2_t h{};
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    h.PageSize[0] = width * 72 / dpi;
    h.PageSize[1] = height * 72 / dpi;
    return h;
}

// A page with a black band in its top half.
void printPage(PrintJob& job, const cups_page_header2_t& h)
{
    ASSERT_EQ(job.startPage(h), "");
    std::vector<unsigned char> line(h.cupsWidth);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        std::memset(line.data(), y < h.cupsHeight / 2 ? 0 : 255, line.size());
        job.writeLine(y, line.data());
    }
    ASSERT_TRUE(job.endPage());
}

}  // namespace

// What the e2e pages scenario's odd two-sided job does not show: the back
// page is white, and the job ends once.
TEST(PrintJob, OddTwoSidedJobGetsAWhiteBackPageAndEndsOnce)
{
    CapturedOutput out;
    PrintJob job(out, {2, 2, 0});
    for (int i = 0; i < 3; ++i)
        printPage(job, sgray(64, 40));
    EXPECT_TRUE(job.finish());
    EXPECT_FALSE(job.finish());

    const auto parsed = parseJobStream(out.span());
    ASSERT_EQ(parsed.pages.size(), 4u);
    EXPECT_EQ(vexo::jobstream::decodeJbig(parsed.pages[3].data).bitmap.blackPixels(), 0u);
}

// Sizes are the page builder's tests, types and resolutions a client can send
// the e2e hostile scenario's; these take a broken client or file.
TEST(PrintJob, RefusedPagesFailTheJobAndOnlyAStartedJobIsCancelled)
{
    struct Case {
        const char* what;
        void (*change)(cups_page_header2_t&);
        const char* reason;
    };
    const Case cases[] = {
        {"short lines", [](cups_page_header2_t& h) { h.cupsBytesPerLine = 10; }, "does not match"},
        {"1200x600", [](cups_page_header2_t& h) { h.HWResolution[0] = 1200; }, "not offered"},
    };
    for (const Case& c : cases) {
        CapturedOutput out;
        PrintJob job(out, {});
        cups_page_header2_t h = sgray(64, 40);
        c.change(h);
        EXPECT_NE(job.startPage(h).find(c.reason), std::string::npos) << c.what;
        EXPECT_TRUE(job.failed());
        job.writeLine(0, std::vector<unsigned char>(64).data());
        EXPECT_FALSE(job.endPage());
        job.cancel();
        EXPECT_EQ(out.bytes, "") << c.what;
    }

    // After a page, the printer is told once to drop the job.
    CapturedOutput out;
    PrintJob job(out, {});
    printPage(job, sgray(64, 40, 600));
    EXPECT_NE(job.startPage(sgray(128, 80, 1200)).find("resolution changes"), std::string::npos);
    job.cancel();
    job.cancel();
    EXPECT_EQ(parseJobStream(out.span()).ending, vexo::jobstream::Ending::Cancelled);
    EXPECT_TRUE(out.bytes.ends_with("Event=EndOfPage;CancelJob?"));
}

TEST(PrintJob, ALostDeviceFailsThePage)
{
    CapturedOutput out;
    out.failAfter = 200;
    PrintJob job(out, {});
    ASSERT_EQ(job.startPage(sgray(2000, 2000)), "");
    for (unsigned y = 0; y < 2000; ++y)
        job.writeLine(y, std::vector<unsigned char>(2000, static_cast<unsigned char>(y)).data());
    EXPECT_FALSE(job.endPage());
    EXPECT_TRUE(job.failed());
    EXPECT_FALSE(job.finish());
}

// A cancel or a stopping server during a page's encoding: the rest of the
// page is not worth seconds at 1200 dpi, but the printer is owed a complete
// page before the cancel, one that decodes as what was sent.
TEST(PrintJob, APageStoppedHalfwayEndsWhiteBeforeTheCancel)
{
    // A halftone (the encoder moves its template for it), then noise (many chunks).
    const auto send = [](PrintJob& job) {
        EXPECT_EQ(job.startPage(sgray(2000, 2000)), "");
        std::mt19937 noise(7);
        std::vector<unsigned char> line(2000);
        for (unsigned y = 0; y < 2000; ++y) {
            for (auto& pixel : line)
                pixel = y < 300 ? 128 : static_cast<unsigned char>(noise());
            job.writeLine(y, line.data());
        }
        return job.endPage();
    };
    CapturedOutput whole;
    PrintJob full(whole, {});
    ASSERT_TRUE(send(full));
    ASSERT_TRUE(full.finish());
    CapturedOutput out;
    out.stopAfter = 1000;  // within the first data chunk
    PrintJob job(out, {});
    EXPECT_FALSE(send(job));
    job.cancel();

    const auto parsed = parseJobStream(out.span());
    EXPECT_EQ(parsed.ending, vexo::jobstream::Ending::Cancelled);
    ASSERT_EQ(parsed.pages.size(), 1u);
    const auto sent = vexo::jobstream::decodeJbig(parsed.pages[0].data).bitmap;
    const auto meant = vexo::jobstream::decodeJbig(parseJobStream(whole.span()).pages[0].data).bitmap;
    ASSERT_EQ(sent.height, meant.height);
    const std::size_t stride = sent.stride();
    const auto row = [&](const auto& bitmap, unsigned long y) {
        return std::vector<std::uint8_t>(bitmap.bits.begin() + static_cast<long>(y * stride),
                                         bitmap.bits.begin() + static_cast<long>((y + 1) * stride));
    };
    unsigned long y = 0;
    while (y < sent.height && row(sent, y) == row(meant, y))
        ++y;
    EXPECT_GT(y, 300u) << "the page as sent before the stop";
    EXPECT_LT(y, sent.height) << "the stop came too late to show anything";
    for (; y < sent.height; ++y)
        ASSERT_EQ(row(sent, y), std::vector<std::uint8_t>(stride, 0)) << "row " << y;
}

// The choices themselves are held against the filter and PPD by the e2e pages
// scenario; here the arithmetic and the fallbacks.
TEST(Choices, DarknessRoundsAndClampsSizesMatchWithinAPoint)
{
    for (const auto& [configured, job, level] : {std::tuple{10, 0, 1}, {40, 40, 4}, {0, -100, 0}, {100, 100, 5}})
        EXPECT_EQ(darknessLevel(configured, job), level) << configured << " " << job;
    EXPECT_EQ(pageSizeKeyword(595.3, 841.9), "A4");
    EXPECT_EQ(pageSizeKeyword(595, 420), "A5-R");
    EXPECT_EQ(pageSizeKeyword(300, 500), "Custom");
    EXPECT_EQ(mediaTypeCode("transparency"), 0);
}

TEST(AutoAdd, OurUsbPrintersAndRawSocketsGetTheirDriver)
{
    struct Case {
        const char* uri;
        const char* deviceId;
        const char* driver;
    };
    const Case cases[] = {
        {"usb://Vexo/VEXO?serial=123", "", "vexo"},
        {"usb://Other/Thing?serial=1", "MFG:Vexo;MDL:VEXO;CLS:PRINTER;", "vexo"},
        {"usb://Other/Thing?vid=37ce&pid=004d", "", "vexo"},
        {"usb://Other/Thing?vid=37cf&pid=004d", "", ""},   // another vendor
        {"usb://Other/Thing?vid=37ce&pid=012d", "", ""},   // a model of another line
        {"", "VID:37CE;PID:4D;", "vexo"},
        {"usb://Other/Thing", "MFG:Other;MDL:Thing;", ""},
        {"socket://printer.local", "", "vexo"},
        {"socket://[fe80::1]:9100", "", "vexo"},
        {"socket://192.168.1.20:9101", "", ""},
        {"ipp://192.168.1.20/ipp/print", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(autoAddDriver(c.uri, c.deviceId), c.driver) << c.uri << " " << c.deviceId;
}
