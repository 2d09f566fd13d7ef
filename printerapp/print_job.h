// One job in the printer's language, fed page by page and line by line as the
// raster arrives: each page is halftoned row by row into a packed page, then
// JBIG-encoded straight into 4096-byte data chunks on the device. Knows
// nothing of the IPP server, so tests and the fuzzer drive it directly.
#pragma once

#include "job_text.h"
#include "page_builder.h"

#include <cups/raster.h>

#include <cstddef>
#include <optional>
#include <string>

namespace vexo::app {

// Where the job stream goes; the printer's device.
class Output {
public:
    // False when the bytes could not be written.
    virtual bool write(const void* data, std::size_t size) = 0;
    virtual void flush() = 0;

protected:
    ~Output() = default;
};

// The job's choices as the job header and halftoner take them.
struct JobChoices {
    int mediaType = 0;  // job header MediaType code
    int duplex = 0;     // 0 one-sided, 1 short edge, 2 long edge
    int darkness = 0;   // darkness0..5
};

class PrintJob {
public:
    PrintJob(Output& out, const JobChoices& choices) : out_(out), choices_(choices) {}

    // Gets ready for a page of this header; the reason it cannot be printed
    // when it cannot (size, raster type, resolution, memory). The job is then
    // failed: nothing more is sent but the cancel.
    std::string startPage(const cups_page_header2_t& header);

    // Line `y` of the page: cupsWidth gray bytes, 0 black, 255 white.
    void writeLine(unsigned y, const unsigned char* line);

    // Sends the page (with the job's start before the first). False when it
    // could not be sent.
    bool endPage();

    // Ends a job that printed: the blank back page of an odd two-sided job,
    // then "Event=EndOfJob;". Nothing when no page went out.
    bool finish();

    // Ends a job that was cancelled or failed: "CancelJob?" once, when the
    // printer has heard of the job.
    void cancel();

    bool failed() const { return failed_; }
    // Whether the printer has heard of the job.
    bool started() const { return started_; }
    int pagesSent() const { return pagesSent_; }

private:
    bool send(const std::string& text);
    bool sendPage(const joblang::PackedPage& page, const std::string& pageSize);
    bool fail();

    Output& out_;
    JobChoices choices_;
    std::optional<joblang::PageBuilder> page_;
    std::string pageSize_;    // PageSize keyword of the current page
    std::string lastSize_;    // and of the last page sent
    int lastWidth_ = 0;       // rounded, as the printer was told
    int lastHeight_ = 0;
    int quality_ = -1;        // of the first page; the job header holds it
    int pagesSent_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool failed_ = false;
};

// Why a page header is not one this printer offers; empty when it is.
std::string checkHeader(const cups_page_header2_t& header);

}  // namespace vexo::app
