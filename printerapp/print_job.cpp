#include "print_job.h"

#include "jbig_encode.h"
#include "media.h"

#include <cstring>
#include <vector>

namespace vexo::app {
namespace {

using namespace joblang;

// Cuts the encoder's output into data chunks of exactly kChunkSize bytes
// (the last of a page shorter), each framed as the printer expects.
class ChunkSink final : public ByteSink {
public:
    explicit ChunkSink(Output& out) : out_(out) { chunk_.reserve(kChunkSize); }

    void write(const std::uint8_t* data, std::size_t length) override
    {
        while (length > 0) {
            const std::size_t take = std::min(length, kChunkSize - chunk_.size());
            chunk_.insert(chunk_.end(), data, data + take);
            data += take;
            length -= take;
            if (chunk_.size() == kChunkSize)
                emit();
        }
    }

    bool close()
    {
        if (!chunk_.empty())
            emit();
        return ok_;
    }

private:
    void emit()
    {
        const std::string header = chunkHeader(chunk_.size());
        ok_ = ok_ && out_.write(header.data(), header.size()) && out_.write(chunk_.data(), chunk_.size()) &&
              out_.write(";", 1);
        chunk_.clear();
    }

    Output& out_;
    std::vector<std::uint8_t> chunk_;
    bool ok_ = true;
};

// A client may send any number in an enum field; read it as the number it is.
unsigned colorSpace(const cups_page_header2_t& h)
{
    unsigned value;
    static_assert(sizeof value == sizeof h.cupsColorSpace);
    std::memcpy(&value, &h.cupsColorSpace, sizeof value);
    return value;
}

std::string describe(const cups_page_header2_t& h)
{
    return "color space " + std::to_string(colorSpace(h)) + ", " + std::to_string(h.cupsBitsPerColor) +
           " bits per color, " + std::to_string(h.cupsBitsPerPixel) + " bits per pixel";
}

}  // namespace

std::string checkHeader(const cups_page_header2_t& h)
{
    if (std::string size = pageSizeProblem(h.cupsWidth, h.cupsHeight); !size.empty())
        return size;
    if (colorSpace(h) != CUPS_CSPACE_SW || h.cupsBitsPerColor != 8 || h.cupsBitsPerPixel != 8)
        return "raster type not offered (" + describe(h) + "); expected 8-bit sgray";
    if (h.cupsBytesPerLine != h.cupsWidth)
        return "raster line of " + std::to_string(h.cupsBytesPerLine) + " bytes does not match " +
               std::to_string(h.cupsWidth) + " pixels";
    if (qualityOf(h.HWResolution[0], h.HWResolution[1]) < 0)
        return "resolution " + std::to_string(h.HWResolution[0]) + "x" + std::to_string(h.HWResolution[1]) +
               " dpi not offered";
    return {};
}

std::string PrintJob::startPage(const cups_page_header2_t& header)
{
    page_.reset();
    if (failed_ || ended_)
        return "the job has already ended";
    std::string problem = checkHeader(header);
    const int quality = qualityOf(header.HWResolution[0], header.HWResolution[1]);
    if (problem.empty() && started_ && quality != quality_)
        problem = "resolution changes within the job";
    if (problem.empty()) {
        page_.emplace(static_cast<int>(header.cupsWidth), static_cast<int>(header.cupsHeight), choices_.darkness);
        if (!page_->ok())
            problem = "not enough memory for the page";
    }
    if (!problem.empty()) {
        page_.reset();
        failed_ = true;
        return problem;
    }
    if (!started_)
        quality_ = quality;
    pageSize_ = pageSizeKeyword(header.PageSize[0], header.PageSize[1]);
    return {};
}

void PrintJob::writeLine(unsigned y, const unsigned char* line)
{
    if (page_ && y <= static_cast<unsigned>(page_->height()))
        page_->addRow(static_cast<int>(y), line);
}

bool PrintJob::send(const std::string& text)
{
    if (!out_.write(text.data(), text.size()))
        return fail();
    return true;
}

bool PrintJob::fail()
{
    failed_ = true;
    return false;
}

bool PrintJob::sendPage(const PackedPage& page, const std::string& pageSize)
{
    if (!started_) {
        if (!send(kStartOfJob) || !send(jobHeaderText({quality_, choices_.mediaType, choices_.duplex, "1"})))
            return false;
        started_ = true;
    }
    const int width = roundUpTo8(page.width);
    if (!send(pageHeaderText(pageSize, page.width, page.height, quality_)))
        return false;
    ChunkSink chunks(out_);
    encodeJbig(page.bits.get(), width, page.height, chunks);
    if (!chunks.close() || !send(kEndOfPage))
        return fail();
    out_.flush();
    lastWidth_ = width;
    lastHeight_ = page.height;
    lastSize_ = pageSize;
    ++pagesSent_;
    return true;
}

bool PrintJob::endPage()
{
    if (!page_ || failed_)
        return false;
    PackedPage page = page_->take();
    page_.reset();
    return sendPage(page, pageSize_);
}

bool PrintJob::finish()
{
    if (failed_ || ended_)
        return false;
    if (pagesSent_ == 0)
        return true;
    if (choices_.duplex != 0 && pagesSent_ % 2 == 1) {
        PageBuilder blank(lastWidth_, lastHeight_, 0);
        if (!blank.ok() || !sendPage(blank.take(), lastSize_))
            return fail();
    }
    ended_ = true;
    if (!send(kEndOfJob))
        return false;
    out_.flush();
    return true;
}

void PrintJob::cancel()
{
    page_.reset();
    if (started_ && !ended_) {
        out_.write(kCancelJob, std::char_traits<char>::length(kCancelJob));
        out_.flush();
    }
    ended_ = true;
}

}  // namespace vexo::app
