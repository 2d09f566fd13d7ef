// One job in the printer's language, fed page by page and line by line as the
// raster arrives: each page is halftoned row by row into a packed page, then
// written by the job language's writer, JBIG-encoded straight into data
// chunks on the device. Knows nothing of the IPP server, so tests and the
// fuzzer drive it directly.
#pragma once

#include "job_writer.h"
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
    // The job no longer wants its pages (cancelled, or the server stopping):
    // the rest of the page under way goes out white, in milliseconds.
    virtual bool stopped() const { return false; }

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
    PrintJob(Output& out, const JobChoices& choices) : sink_(out), writer_(sink_), choices_(choices) {}

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

    bool failed() const { return failed_ || writer_.failed(); }
    // Whether the printer has heard of the job.
    bool started() const { return writer_.started(); }
    int pagesSent() const { return writer_.pagesSent(); }

private:
    // The writer's commands and chunks as bytes on the device.
    class Sink final : public joblang::JobSink {
    public:
        explicit Sink(Output& out) : out_(out) {}
        bool command(const std::string& text) override { return out_.write(text.data(), text.size()); }
        bool chunk(const std::uint8_t* data, std::size_t size) override { return out_.write(data, size); }
        bool stopped() const override { return out_.stopped(); }
        void flush() override { out_.flush(); }

    private:
        Output& out_;
    };

    Sink sink_;
    joblang::JobWriter writer_;
    JobChoices choices_;
    std::optional<joblang::PageBuilder> page_;
    std::string pageSize_;    // PageSize keyword of the current page
    int quality_ = -1;        // of the first page; the job header holds it
    bool failed_ = false;     // a page was refused
};

// Why a page header is not one this printer offers; empty when it is.
std::string checkHeader(const cups_page_header2_t& header);

}  // namespace vexo::app
