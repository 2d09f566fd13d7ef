#include "print_job.h"

#include "media.h"
#include "raster_header.h"

namespace vexo::app {

std::string checkHeader(const cups_page_header2_t& h)
{
    using joblang::colorSpace;
    if (std::string size = joblang::pageSizeProblem(h.cupsWidth, h.cupsHeight); !size.empty())
        return size;
    if (colorSpace(h) != CUPS_CSPACE_SW || h.cupsBitsPerColor != 8 || h.cupsBitsPerPixel != 8)
        return "raster type not offered (" + joblang::describeRasterType(h) + "); expected 8-bit sgray";
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
    if (failed() || writer_.ended())
        return "the job has already ended";
    std::string problem = checkHeader(header);
    const int quality = qualityOf(header.HWResolution[0], header.HWResolution[1]);
    if (problem.empty() && writer_.started() && quality != quality_)
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
    if (!writer_.started())
        quality_ = quality;
    pageSize_ = pageSizeKeyword(header.PageSize[0], header.PageSize[1]);
    return {};
}

void PrintJob::writeLine(unsigned y, const unsigned char* line)
{
    if (page_ && y <= static_cast<unsigned>(page_->height()))
        page_->addRow(static_cast<int>(y), line);
}

bool PrintJob::endPage()
{
    if (!page_ || failed())
        return false;
    joblang::PackedPage page = page_->take();
    page_.reset();
    if (!writer_.started() && !writer_.start({quality_, choices_.mediaType, choices_.duplex, "1"}))
        return false;
    return writer_.sendPage(page, pageSize_);
}

bool PrintJob::finish()
{
    return !failed_ && writer_.finish();
}

void PrintJob::cancel()
{
    page_.reset();
    writer_.cancel();
}

}  // namespace vexo::app
