#include "page_loop.h"

#include "cancel.h"
#include "image.h"
#include "page_builder.h"
#include "jbig_page.h"
#include "job_stream.h"
#include "messages.h"
#include "printer_state.h"
#include "raster_input.h"
#include "spool.h"
#include "termination.h"
#include "threshold_matrix.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace vexo::filter {

using namespace joblang;

namespace {

enum class PageResult { Sent, Failed, Cancelled };

void reportError(FilterJob& job, const std::string& what)
{
    logLine(job, "ERROR:[Wren] page %d: %s\n", job.page, what.c_str());
}

// Encodes a page under its temporary name, then gives it its final name, so
// a half-written file is never sent.
bool encodePage(FilterJob& job, const PackedPage& packed)
{
    std::string temp = spoolName(job.spoolDir, job.JobIdChar, kTempSuffix, job.page);
    std::string final = spoolName(job.spoolDir, job.JobIdChar, kFinalSuffix, job.page);
    int rounded = (packed.width + 7) / 8 * 8;
    bool written = bmp_to_jbg(temp, packed.bits.get(), rounded, packed.height) == 1;
    if (written && std::rename(temp.c_str(), final.c_str()) == 0) {
        logLine(job, "DEBUG:[Wren]-----rename ok endName==%s\n", final.c_str());
        return true;
    }
    logLine(job, "DEBUG:[Wren]-----rename error!!!!!!!!!!!!\n");
    removeSpoolFile(temp);  // a temporary file is of no use to anyone later
    return false;
}

void logScale(const FilterJob& job)
{
    if (job.scaleRatio == 1.0)
        logLine(job, "DEBUG:[Wren]:scale ratio = %f, and memcpy srcimage  ================================\n",
                job.scaleRatio);
    else
        logLine(job,
                "DEBUG:[Wren]:scale ratio = %f ,zoom size : dstwidth=%d ,distheight=%d  "
                "================================\n",
                job.scaleRatio, static_cast<int>(job.pageWidth * job.scaleRatio),
                static_cast<int>(job.pageHeight * job.scaleRatio));
}

void logGamma(const FilterJob& job)
{
    logLine(job, "DEBUG:[Wren]---curGammaVal=%.2f;\n", static_cast<double>(darknessGamma(job.imageDarkness_type)));
}

void logShortPage(const FilterJob& job, unsigned lines)
{
    logLine(job, "DEBUG:[Wren] page %d ended after %u of %d lines; the rest is left white\n", job.page, lines,
            job.pageHeight);
}

// Unscaled pages go straight from each raster line to its halftoned row, so
// the 8-bit page never has to sit in memory.
PackedPage readHalftoned(FilterJob& job, RasterInput& input)
{
    const int width = job.pageWidth, height = job.pageHeight;
    joblang::PageBuilder builder(width, height, job.imageDarkness_type);
    Pixels line = allocatePixels(static_cast<std::size_t>(width));
    if (!builder.ok() || !line) {
        logLine(job, "DEBUG: failed to locate memory for halftone line and dstImage .\n");
        return PackedPage{width, height, nullptr};
    }
    logGamma(job);
    int y = 0;
    for (; y < height && !terminationRequested() && input.readLine(line.get()); ++y)
        builder.addRow(y, line.get());
    if (y < height && !terminationRequested())
        logShortPage(job, static_cast<unsigned>(y));
    return builder.take();
}

PackedPage readScaledAndHalftoned(FilterJob& job, RasterInput& input)
{
    const std::size_t pixels = static_cast<std::size_t>(job.pageWidth) * job.pageHeight;
    GrayPage gray{job.pageWidth, job.pageHeight, allocatePixels(pixels)};
    if (!gray.pixels) {
        logLine(job, "DEBUG:[Wren] failed to locate temp image memory size=%zu\n", pixels);
        return PackedPage{job.pageWidth, job.pageHeight, nullptr};
    }
    int y = 0;
    for (; y < gray.height && !terminationRequested() &&
           input.readLine(gray.pixels.get() + static_cast<std::size_t>(y) * gray.width);
         ++y) {
    }
    if (y < gray.height) {
        std::memset(gray.pixels.get() + static_cast<std::size_t>(y) * gray.width, 255,
                    static_cast<std::size_t>(gray.height - y) * gray.width);
        if (!terminationRequested())
            logShortPage(job, static_cast<unsigned>(y));
    }
    if (terminationRequested())
        return PackedPage{job.pageWidth, job.pageHeight, nullptr};
    GrayPage scaled = zoomGrayPage(std::move(gray), job.scaleRatio);
    if (!scaled.pixels) {
        logLine(job, "DEBUG:[Wren]:allocate zoom page image memory failed\n");
        return PackedPage{job.pageWidth, job.pageHeight, nullptr};
    }
    logGamma(job);
    PackedPage packed = halftone(std::move(scaled), job.imageDarkness_type);
    if (!packed.bits)
        logLine(job, "DEBUG: failed to locate memory for halftone line and dstImage .\n");
    return packed;
}

PageResult convertAndSendPage(FilterJob& job, RasterInput& input)
{
    PackedPage packed = readPackedPage(job, input);
    if (terminationRequested())
        return PageResult::Cancelled;
    if (job.imageDarkness_type >= 1 && job.imageDarkness_type <= 4)
        logLine(job, "DEBUG:[Wren]==free=Halftone;\n");
    if (!packed.bits) {
        reportError(job, "not enough memory for the page");
        return PageResult::Failed;
    }

    job.pages.push_back({job.pageWidth, job.pageHeight});
    encodePage(job, packed);
    packed.bits.reset();

    logLine(job, "完成第%d页的数据转换\n", job.page);
    say(job, {"INFO:Finished page %d data transformation\n", "INFO:完成第%d页的数据转换\n",
              "INFO:Complete data conversion on page %d\n"},
        job.page);

    if (job.page == 1)
        startJob(job);
    if (!sendOnePage(job, job.page))
        return PageResult::Cancelled;
    ++job.page;
    if (job.jobIsCanceled) {
        // the printer went away while this page was sent: no point converting more
        doCancelJob(job);
        return PageResult::Cancelled;
    }
    return PageResult::Sent;
}

// Ends a job the spooler stopped: tells the printer, leaves nothing behind.
int abandonJob(FilterJob& job)
{
    say(job, {"INFO:Job Cancelled\n", "INFO:任务已取消\n", "INFO:Job canceled\n"});
    job.writer.cancel();
    removeSpoolFile(spoolName(job.spoolDir, job.JobIdChar, kTempSuffix, job.page));
    removeSpoolFiles(job, static_cast<int>(job.pages.size()), "removeOnePage");
    return 0;
}

}  // namespace

PackedPage readPackedPage(FilterJob& job, RasterInput& input)
{
    job.pageWidth = static_cast<int>(input.header().cupsWidth);
    job.pageHeight = static_cast<int>(input.header().cupsHeight);
    logScale(job);
    return job.scaleRatio == 1.0 ? readHalftoned(job, input) : readScaledAndHalftoned(job, input);
}

bool createBlankPage(FilterJob& job, int n)
{
    const PackedPage blank = blankPage(job.pageWidth, job.pageHeight);
    if (!blank.bits)
        return false;
    std::string name = spoolName(job.spoolDir, job.JobIdChar, kFinalSuffix, n);
    logLine(job, "DEBUG:[Wren]createBlankPage ----filename===%s ;\n", name.c_str());
    job.pages.push_back({job.pageWidth, job.pageHeight});
    return bmp_to_jbg(name, blank.bits.get(), (blank.width + 7) / 8 * 8, blank.height) == 1;
}

int runJob(FilterJob& job, int rasterFd, Pause pause)
{
    if (!waitForConnection(job, pause))
        return abandonJob(job);
    if (job.printerState && !job.printerState->waitWhileNotPrinting(pause))
        return abandonJob(job);

    RasterInput input(rasterFd);
    bool failed = false;
    RasterInput::Next next = job.isCanceled ? RasterInput::Next::End : input.nextPage();
    while (next == RasterInput::Next::Page) {
        logLine(job, "DEBUG:[Wren] raster image width =%d  height = %d\n", input.header().cupsWidth,
                input.header().cupsHeight);
        PageResult result = convertAndSendPage(job, input);
        if (result == PageResult::Cancelled)
            return terminationRequested() ? abandonJob(job) : 0;
        if (result == PageResult::Failed) {
            failed = true;
            break;
        }
        if (job.isCanceled || terminationRequested())
            break;
        next = input.nextPage();
    }
    if (terminationRequested())
        return abandonJob(job);
    if (next == RasterInput::Next::Malformed) {
        logLine(job, "ERROR:[Wren] %s\n", input.error().c_str());
        failed = true;
    }

    logLine(job, "DEBUG:[Wren] total page number =  %d ========================\n", job.page);
    logLine(job, "DEBUG: total page number =  %d ========================\n", job.page - 1);
    // A job that stopped converting is being cancelled: no back page, no more passes.
    const bool goOn = !failed && !job.isCanceled;
    const std::optional<joblang::PageShape> back = goOn ? job.writer.backPage() : std::nullopt;
    if (back) {
        job.pageWidth = back->width;
        job.pageHeight = back->height;
        if (createBlankPage(job, job.page)) {
            if (!sendOnePage(job, job.page))
                return terminationRequested() ? abandonJob(job) : 0;
        } else {
            reportError(job, "could not make the blank back page");
            failed = true;
        }
    } else {
        job.page -= 1;
    }

    if (goOn && job.collate == 1 && job.copies > 1) {
        logLine(job, "DEBUG:send copy = %d and total copies = %d ========================\n", 2, job.copies);
        for (int copy = 2; copy <= job.copies; ++copy) {
            for (int n = 1; n <= job.page; ++n)
                if (!sendOnePage(job, n))
                    return terminationRequested() ? abandonJob(job) : 0;
            if (copy < job.copies)
                logLine(job, "DEBUG:send copy = %d and total copies = %d ========================\n", copy + 1,
                        job.copies);
        }
    }

    if (job.jobIsCanceled && job.writer.started()) {
        // lost the printer during the last page: cancel rather than report it printed
        doCancelJob(job);
        return 0;
    }
    removeSpoolFiles(job, static_cast<int>(job.pages.size()), "removeOnePage");
    if (job.isCanceled)
        cancelJob(job);
    endOfJob(job);
    return failed ? 1 : 0;
}

}  // namespace vexo::filter
