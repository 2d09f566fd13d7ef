#include "job_stream.h"

#include "cancel.h"
#include "messages.h"
#include "side_channel.h"
#include "spool.h"
#include "termination.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace vexo::filter {
namespace {

// An I/O error means the backend has lost the printer: what follows would be
// thrown away while the job looked printed, so the job is cancelled instead.
cups_sc_status_t drain(FilterJob& job)
{
    cups_sc_status_t status = job.sideChannel->request(CUPS_SC_CMD_DRAIN_OUTPUT, 1.0);
    if (status == CUPS_SC_STATUS_IO_ERROR && !job.jobIsCanceled)
        cancelJob(job);
    return status;
}

const char* resolutionField(int quality)
{
    switch (quality) {
    case 1: return "Resolution=1200x600;";
    case 2: return "Resolution=1200x1200;";
    default: return "Resolution=600x600;";
    }
}

struct MediaTypeRow {
    const char* field;
    const char* debug;
};
MediaTypeRow mediaTypeRow(int code)
{
    switch (code) {
    case 0: return {"MediaType=plain;", "DEBUG:[Wren]MediaType=plain(NULL);\n"};
    case 1: return {"MediaType=Narrow;", "DEBUG:[Wren]MediaType=thin or narrow;\n"};
    case 2: return {"MediaType=Thick;", "DEBUG:[Wren]MediaType=thick;\n"};
    case 3: return {"MediaType=Superthick;", "DEBUG:[Wren]MediaType=Superthick;\n"};
    case 4: return {"MediaType=envelope;", "DEBUG:[Wren]MediaType=envelope;\n"};
    default: return {"MediaType=plain;", "DEBUG:[Wren]MediaType=plain;\n"};
    }
}

const char* sidesField(int duplex)
{
    if (duplex == 0)
        return "Sides=OneSided;";
    return duplex == 1 ? "Sides=TwoSidedShortEdge;" : "Sides=TwoSidedLongEdge;";
}

struct MediaSizeRow {
    const char* keyword;
    const char* field;
    const char* debug;
};
constexpr MediaSizeRow kMediaSizes[] = {
    {"A4", "MediaSize=na_a4_210x297mm;", "DEBUG:[Wren]MediaSize=na_a4_210x297mm;\n"},
    {"A5", "MediaSize=na_a5_148x210mm;", "DEBUG:[Wren]MediaSize=na_a5_148x210mm;\n"},
    {"A5-R", "MediaSize=na_a5-TRANSVERSE_210x148mm;", "DEBUG:[Wren]MediaSize=na_a5-TRANSVERSE_210x148mm;\n"},
    {"A6", "MediaSize=na_a6_105x148mm;", "DEBUG:[Wren]MediaSize=na_a6_105x148mm;\n"},
    {"B5", "MediaSize=na_b5_182x257mm;", "DEBUG:[Wren]MediaSize=na_b5_182x257mm;\n"},
    {"B6", "MediaSize=na_b6_128x182mm;", "DEBUG:[Wren]MediaSize=na_b6_128x182mm;\n"},
    {"16K", "MediaSize=na_16k_195x270mm;", "DEBUG:[Wren]MediaSize=na_16k_195x270mm(else);\n"},
    {"Custom.595.28x841.89", "MediaSize=na_16k_195x270mm;", "DEBUG:[Wren]MediaSize=na_16k_195x270mm(else);\n"},
    {"32K", "MediaSize=na_32k_135x195mm;", "DEBUG:[Wren]MediaSize=na_32k_135x195mm;\n"},
    {"Letter", "MediaSize=na_LETTER_216x279mm;", "DEBUG:[Wren]MediaSize=na_letter_216x279mm;"},
    {"85x170mm", "MediaSize=na_bank_85x170mm;", "DEBUG:[Wren]MediaSize=na_bank_85x170mm;"},
};
constexpr const char* kOtherSizeField = "MediaSize=na_a4_210x297mm;";
constexpr const char* kOtherSizeDebug = "DEBUG:[Wren]MediaSize=na_a4_210x297mm(other);\n";

std::string customSizeField(int width, int height, int quality)
{
    double dx = quality == 0 ? 23.6 : 47.2;
    double dy = quality == 2 ? 47.2 : 23.6;
    char field[50];
    std::snprintf(field, sizeof field, "MediaSize=na_customsize_%dx%dmm;", static_cast<int>(width / dx),
                  static_cast<int>(height / dy));
    return field;
}

const char* mediaSizeDebug(const std::string& pageSize)
{
    for (const auto& row : kMediaSizes)
        if (pageSize == row.keyword)
            return row.debug;
    return kOtherSizeDebug;
}

int roundUpTo8(int width)
{
    return (width + 7) / 8 * 8;
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

int sendCmd(FilterJob& job, const std::string& text)
{
    logLine(job, "DEBUG:[Wren] sned cmd = %s\n", text.c_str());
    std::fwrite(text.data(), 1, text.size(), job.out);
    std::fflush(job.out);
    return drain(job);
}

std::string jobHeaderText(const FilterJob& job)
{
    std::string text = resolutionField(job.quality_type);
    text += mediaTypeRow(job.isMediaType).field;
    text += sidesField(job.isDuplex);
    text += "Copies=" + job.jobCopies + ";";
    text += "MediaInputTrayCheck=auto;";
    return text;
}

void sendJobHeader(FilterJob& job)
{
    logLine(job, "DEBUG:[Wren]************ send job header*************************\n\n");
    logLine(job, "%s", mediaTypeRow(job.isMediaType).debug);
    logLine(job, "DEBUG:[Wren]%s\n", sidesField(job.isDuplex));
    logLine(job, "DEBUG:[Wren]##copies=%s\n", job.jobCopies.c_str());
    logLine(job, "DEBUG:[Wren]MediaInputTrayCheck=auto;\n");
    std::string text = jobHeaderText(job);
    sendCmd(job, text);
    logLine(job, "DEBUG:[Wren]send job header info : %s \n", text.c_str());
}

std::string mediaSizeField(const std::string& pageSize, int width, int height, int quality)
{
    for (const auto& row : kMediaSizes)
        if (pageSize == row.keyword)
            return row.field;
    if (pageSize == "Custom")
        return customSizeField(width, height, quality);
    return kOtherSizeField;
}

std::string pageHeaderText(const FilterJob& job)
{
    std::string text = mediaSizeField(job.pageSize, job.pageWidth, job.pageHeight, job.quality_type);
    text += "RasterObject.Width=" + std::to_string(roundUpTo8(job.pageWidth)) + ";";
    text += "RasterObject.Height=" + std::to_string(job.pageHeight) + ";";
    return text;
}

void sendPageHeader(FilterJob& job)
{
    logLine(job, "DEBUG:[Wren]************ send page header*************************\n\n");
    std::string text = pageHeaderText(job);
    if (job.pageSize == "Custom")
        logLine(job, "DEBUG:[Wren]%s\n", mediaSizeField(job.pageSize, job.pageWidth, job.pageHeight,
                                                          job.quality_type).c_str());
    else
        logLine(job, "%s", mediaSizeDebug(job.pageSize));
    job.pageWidth = roundUpTo8(job.pageWidth);
    sendCmd(job, text);
    logLine(job, "DEBUG:[Wren]send page header info : %s \n", text.c_str());
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
    while (count > 0 && !terminationRequested()) {
        std::fprintf(job.out, "RasterObject.Data#%ld=", count);
        std::fwrite(block, 1, static_cast<std::size_t>(count), job.out);
        std::fputc(';', job.out);
        std::fflush(job.out);
        switch (drain(job)) {
        case CUPS_SC_STATUS_IO_ERROR: logLine(job, "DEBUG:[Wren] write data to stdout IO Error \n"); break;
        case CUPS_SC_STATUS_TIMEOUT: logLine(job, "DEBUG:[Wren] write data to stdout time out \n"); break;
        case CUPS_SC_STATUS_NO_RESPONSE: logLine(job, "DEBUG:[Wren] write data to stdout no response \n"); break;
        default: break;
        }
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

    if (sendPageData(job, name) == 3)
        job.isCanceled = 1;
    sendCmd(job, "Event=EndOfPage;");
    return !terminationRequested();
}

void endOfJob(FilterJob& job)
{
    sendCmd(job, "Event=EndOfJob;");
    say(job, {"INFO: Finish sending all job data.And waiting for printer to finish the job.\n",
              "INFO:打印数据已完成发送，等待打印机打印完成\n",
              "INFO: Finish sending all job data.And waiting for printer to finish the job.\n"});
}

}  // namespace vexo::filter
