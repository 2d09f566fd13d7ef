// The job stream in its order, for every program that prints: the job's start
// and header before the first page; each page as its header, its JBIG image
// in data chunks and its end; the blank back page an odd two-sided job needs;
// then the job's end, or the cancel for a job the printer has heard of.
#pragma once

#include "image.h"
#include "jbig_encode.h"
#include "job_text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexo::joblang {

// Where the job stream goes.
class JobSink {
public:
    // A command (an event, the job or a page header, the cancel), whole.
    // False when it could not be written.
    virtual bool command(const std::string& text) = 0;
    // One data chunk, framed: "RasterObject.Data#<n>=", n bytes, ';'.
    virtual bool chunk(const std::uint8_t* data, std::size_t size) = 0;
    // A page or the job has ended: what was written may be pushed on.
    virtual void flush() {}
    // The job no longer wants its pages (it was cancelled).
    virtual bool stopped() const { return false; }

protected:
    ~JobSink() = default;
};

// A page as the printer was told of it.
struct PageShape {
    std::string pageSize;  // keyword: "A4", "Letter", ..., "Custom"
    int width = 0;         // whole bytes, as the page header says
    int height = 0;
};

// Once something could not be written, nothing more is but a cancel.
class JobWriter {
public:
    explicit JobWriter(JobSink& sink) : sink_(sink), chunks_(*this) {}
    JobWriter(const JobWriter&) = delete;
    JobWriter& operator=(const JobWriter&) = delete;

    // "Event=StartOfJob;" and the job header, once; pages may follow.
    bool start(const JobSettings& settings);

    // The page header of a `width` x `height` page (the width is rounded up
    // to whole bytes); the job must have started.
    bool beginPage(const std::string& pageSize, int width, int height);
    // The page's JBIG image, in any pieces: it goes out in chunks of
    // kChunkSize bytes, each as soon as it is full.
    void pageData(const std::uint8_t* data, std::size_t size);
    // The last, shorter chunk and "Event=EndOfPage;".
    bool endPage();
    // A whole page: header, encoded image, end. False when the job stopped
    // during it: its bits are then cleared and the rest of the page goes out
    // white, so a cancel still follows a complete page, without seconds of
    // encoding first.
    bool sendPage(const PackedPage& page, const std::string& pageSize);

    // The blank back page an odd two-sided job still lacks, of the last
    // page's size; none when its last sheet is complete.
    std::optional<PageShape> backPage() const;

    // Ends a job that printed: its back page when it needs one, then
    // "Event=EndOfJob;". Nothing when no page went out.
    bool finish();
    // "Event=EndOfJob;" as the job stands: no back page, page or no page.
    bool endJob();
    // "CancelJob?" once, when the printer has heard of the job and it has
    // not ended. Either way the job has ended.
    void cancel();

    bool started() const { return started_; }
    bool ended() const { return ended_; }
    bool failed() const { return failed_; }
    int pagesSent() const { return pagesSent_; }

private:
    // Cuts page data into framed chunks.
    class Chunker final : public ByteSink {
    public:
        explicit Chunker(JobWriter& writer) : writer_(writer) {}
        void write(const std::uint8_t* data, std::size_t length) override;
        bool stopped() const override { return writer_.failed_ || writer_.sink_.stopped(); }
        void emit();

    private:
        JobWriter& writer_;
        std::vector<std::uint8_t> data_;
        std::string framed_;
    };

    bool send(const std::string& text);
    bool fail();

    JobSink& sink_;
    Chunker chunks_;
    JobSettings settings_;
    PageShape page_;  // the page being sent, then the last one sent
    int pagesSent_ = 0;
    bool inPage_ = false;
    bool started_ = false;
    bool ended_ = false;
    bool failed_ = false;
};

}  // namespace vexo::joblang
