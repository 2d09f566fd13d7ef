// Job state of one run of the filter, kept in one value instead of globals so
// the stages can be driven from tests.
#pragma once

#include "job_writer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vexo::filter {

class SideChannel;
class PrinterState;

enum class Wording { English, Chinese, OtherEnglish };

struct FilterJob;

// The job stream on standard output as the job writer writes it: each command
// and data chunk flushed and drained through the side channel (job_stream).
class StreamSink final : public joblang::JobSink {
public:
    explicit StreamSink(FilterJob& job) : job_(job) {}
    StreamSink(const StreamSink&) = delete;
    StreamSink& operator=(const StreamSink&) = delete;
    bool command(const std::string& text) override;
    bool chunk(const std::uint8_t* data, std::size_t size) override;

private:
    FilterJob& job_;
};

// Geometry of one page as it is sent; the blank duplex page and collated
// repeats take theirs from here rather than from whatever page came last.
struct PageRecord {
    int width = 0;
    int height = 0;
};

struct FilterJob {
    std::string PrinterName;
    std::string JobIdChar;
    int JobId = 0;
    std::string appleLanguage = "zh-Hans";
    Wording wording = Wording::Chinese;

    // options
    std::string media_type;
    int isMediaType = 0;
    std::string pageSize = "A4";
    std::string InputSlot;
    std::string Duplex;
    int isDuplex = 0;
    int collate = 1;
    int copies = 1;
    std::string jobCopies = "1";
    int quality_type = 0;
    int imageDarkness_type = 0;
    double scaleRatio = 1.0;

    // page loop
    int page = 1;
    int pageWidth = 0;
    int pageHeight = 0;
    int isCanceled = 0;
    int jobIsCanceled = 0;
    std::vector<PageRecord> pages;  // index n-1 for page n

    std::string spoolDir;  // ends with '/'

    std::FILE* out = stdout;  // the job stream
    std::FILE* log = stderr;  // filter messages
    SideChannel* sideChannel = nullptr;
    PrinterState* printerState = nullptr;  // null: the printer's state is not shown

    // Both refer to this job, which is therefore never copied or moved.
    StreamSink sink{*this};
    joblang::JobWriter writer{sink};
};

}  // namespace vexo::filter
