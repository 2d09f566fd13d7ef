#include "job_stream.h"

#include "cancel.h"
#include "messages.h"
#include "printer_state.h"
#include "side_channel.h"
#include "spool.h"
#include "termination.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <unistd.h>

namespace vexo::filter {

using namespace joblang;

namespace {

// An I/O error means the backend has lost the printer: what follows would be
// thrown away while the job looked printed, so the job is cancelled instead.
cups_sc_status_t drain(FilterJob& job)
{
    cups_sc_status_t status = job.sideChannel->request(CUPS_SC_CMD_DRAIN_OUTPUT, 1.0);
    if (status == CUPS_SC_STATUS_IO_ERROR && !job.jobIsCanceled)
        cancelJob(job);
    if (job.printerState)
        job.printerState->pollWhenDue();
    return status;
}

// Fills `buffer` from `fd` up to `size` bytes; short only at end of file.
long readBlock(int fd, char* buffer, std::size_t size)
{
    std::size_t have = 0;
    while (have < size) {
        ssize_t got = ::read(fd, buffer + have, size - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    return static_cast<long>(have);
}

}  // namespace

bool StreamSink::command(const std::string& text)
{
    logLine(job_, "DEBUG:[Wren] sned cmd = %s\n", text.c_str());
    std::fwrite(text.data(), 1, text.size(), job_.out);
    std::fflush(job_.out);
    drain(job_);
    return true;
}

bool StreamSink::chunk(const std::uint8_t* data, std::size_t size)
{
    std::fwrite(data, 1, size, job_.out);
    std::fflush(job_.out);
    switch (drain(job_)) {
    case CUPS_SC_STATUS_IO_ERROR: logLine(job_, "DEBUG:[Wren] write data to stdout IO Error \n"); break;
    case CUPS_SC_STATUS_TIMEOUT: logLine(job_, "DEBUG:[Wren] write data to stdout time out \n"); break;
    case CUPS_SC_STATUS_NO_RESPONSE: logLine(job_, "DEBUG:[Wren] write data to stdout no response \n"); break;
    default: break;
    }
    return true;
}

void startJob(FilterJob& job)
{
    logLine(job, "DEBUG:[Wren]************ send job header*************************\n\n");
    logLine(job, "%s", mediaTypeRow(job.isMediaType).debug);
    logLine(job, "DEBUG:[Wren]%s\n", sidesField(job.isDuplex));
    logLine(job, "DEBUG:[Wren]##copies=%s\n", job.jobCopies.c_str());
    logLine(job, "DEBUG:[Wren]MediaInputTrayCheck=auto;\n");
    const JobSettings settings{job.quality_type, job.isMediaType, job.isDuplex, job.jobCopies};
    job.writer.start(settings);
    logLine(job, "DEBUG:[Wren]send job header info : %s \n", jobHeaderText(settings).c_str());
}

void sendPageHeader(FilterJob& job)
{
    logLine(job, "DEBUG:[Wren]************ send page header*************************\n\n");
    if (job.pageSize == "Custom")
        logLine(job, "DEBUG:[Wren]%s\n", mediaSizeField(job.pageSize, job.pageWidth, job.pageHeight,
                                                          job.quality_type).c_str());
    else
        logLine(job, "%s", mediaSizeDebug(job.pageSize));
    job.writer.beginPage(job.pageSize, job.pageWidth, job.pageHeight);
    logLine(job, "DEBUG:[Wren]send page header info : %s \n",
            pageHeaderText(job.pageSize, job.pageWidth, job.pageHeight, job.quality_type).c_str());
    job.pageWidth = roundUpTo8(job.pageWidth);
}

int sendPageData(FilterJob& job, const std::string& path)
{
    logLine(job, "DEBUG:[Wren]start to send page : %s\n", path.c_str());
    int fd = openSpoolFile(path);
    if (fd < 0) {
        logLine(job, "DEBUG:[Wren]can not open file %s, goto loopendPage and CancelJob;\n", path.c_str());
        return 3;
    }
    char block[kChunkSize];
    long count = readBlock(fd, block, sizeof block);
    logLine(job, "DEBUG:[Wren]read jbig file and readsize = %ld\n", count);
    // Whole chunks go out as they are read, so a lost printer stops the page
    // at the next one.
    while (count > 0 && !terminationRequested()) {
        job.writer.pageData(reinterpret_cast<const std::uint8_t*>(block), static_cast<std::size_t>(count));
        if (job.jobIsCanceled)
            break;  // the rest of the page has nowhere to go
        count = readBlock(fd, block, sizeof block);
        logLine(job, "DEBUG:[Wren]read jbig file and readsize = %ld\n", count);
    }
    ::close(fd);
    return 0;
}

bool sendOnePage(FilterJob& job, int n)
{
    if (job.jobIsCanceled) {
        doCancelJob(job);
        return false;
    }
    say(job, {"INFO: Start to send page(%d) data\n", "INFO:开始发送第%d页的数据\n",
              "INFO:Starting to send data on page %d\n"},
        n);
    std::string name = spoolName(job.spoolDir, job.JobIdChar, kFinalSuffix, n);
    logLine(job, "DEBUG:[Wren]sendOnePage ----filename===%s ;\n", name.c_str());

    PageRecord& record = job.pages.at(static_cast<std::size_t>(n - 1));
    job.pageWidth = record.width;
    job.pageHeight = record.height;
    sendPageHeader(job);
    record.width = job.pageWidth;  // rounded from now on, as on the wire

    const int sent = sendPageData(job, name);
    if (sent == 3)
        job.isCanceled = 1;
    job.writer.endPage();
    if (sent == 0 && !job.jobIsCanceled && !terminationRequested())
        countPage(job, n);
    return !terminationRequested();
}

void countPage(const FilterJob& job, int n)
{
    // The spooler adds the second number to the job's impressions, page log
    // and quota; uncollated copies are made by the printer from this page.
    const int copies = job.collate == 1 ? 1 : std::max(1, std::atoi(job.jobCopies.c_str()));
    logLine(job, "PAGE: %d %d\n", n, copies);
    std::fflush(job.log);
}

void endOfJob(FilterJob& job)
{
    job.writer.endJob();
    say(job, {"INFO: Finish sending all job data.And waiting for printer to finish the job.\n",
              "INFO:打印数据已完成发送，等待打印机打印完成\n",
              "INFO: Finish sending all job data.And waiting for printer to finish the job.\n"});
}

}  // namespace vexo::filter
