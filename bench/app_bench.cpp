// Per-page cost of the printer application's job path (PrintJob, as the page
// callbacks drive it) against JBIG encoding alone of the same bitmap and
// against the CUPS filter on the same raster.
//   app_bench <rastertovexo> repeats label raster [label raster...]
#include "jbig_encode.h"
#include "page_builder.h"
#include "print_job.h"
#include "raster_input.h"

#include "bench_support.h"

#include <cstdio>
#include <cstring>

using namespace vexo::bench;

namespace {

class Discard final : public vexo::app::Output {
public:
    bool write(const void*, std::size_t size) override
    {
        bytes += size;
        return true;
    }
    void flush() override {}
    std::size_t bytes = 0;
};

class Count final : public vexo::joblang::ByteSink {
public:
    void write(const std::uint8_t*, std::size_t length) override { bytes += length; }
    std::size_t bytes = 0;
};

struct Page {
    cups_page_header2_t header{};
    std::vector<std::uint8_t> gray;  // as PAPPL hands the lines over
};

Page readPage(const std::string& path)
{
    Page page;
    int fd = ::open(path.c_str(), O_RDONLY);
    vexo::filter::RasterInput input(fd);
    input.nextPage();
    page.header = input.header();
    page.header.cupsColorSpace = CUPS_CSPACE_SW;  // what a driverless client sends
    page.gray.resize(static_cast<std::size_t>(page.header.cupsWidth) * page.header.cupsHeight);
    for (unsigned y = 0; y < page.header.cupsHeight; ++y)
        input.readLine(page.gray.data() + static_cast<std::size_t>(y) * page.header.cupsWidth);
    ::close(fd);
    return page;
}

// The job path from the first line to the last byte on the device.
void printPage(const Page& page, Discard& out)
{
    vexo::app::PrintJob job(out, {});
    job.startPage(page.header);
    for (unsigned y = 0; y < page.header.cupsHeight; ++y)
        job.writeLine(y, page.gray.data() + static_cast<std::size_t>(y) * page.header.cupsWidth);
    job.endPage();
    job.finish();
}

double jbigAlone(const Page& page)
{
    vexo::joblang::PageBuilder builder(static_cast<int>(page.header.cupsWidth),
                                       static_cast<int>(page.header.cupsHeight), 0);
    for (unsigned y = 0; y < page.header.cupsHeight; ++y)
        builder.addRow(static_cast<int>(y), page.gray.data() + static_cast<std::size_t>(y) * page.header.cupsWidth);
    const vexo::joblang::PackedPage packed = builder.take();
    Count sink;
    const double start = CpuClock::now();
    vexo::joblang::encodeJbig(packed.bits.get(), vexo::joblang::roundUpTo8(packed.width), packed.height, sink);
    return msSince(start);
}

// Peak resident memory of a process that takes the page line by line, as
// the server does: the 8-bit page never sits in memory.
long streamedPeakKb(const std::string& raster)
{
    pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(raster.c_str(), O_RDONLY);
        vexo::filter::RasterInput input(fd);
        input.nextPage();
        cups_page_header2_t h = input.header();
        h.cupsColorSpace = CUPS_CSPACE_SW;
        std::vector<std::uint8_t> line(h.cupsWidth);
        Discard out;
        vexo::app::PrintJob job(out, {});
        job.startPage(h);
        for (unsigned y = 0; y < h.cupsHeight && input.readLine(line.data()); ++y)
            job.writeLine(y, line.data());
        job.endPage();
        job.finish();
        _exit(0);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 5 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s path/to/rastertovexo repeats label raster [label raster...]\n", argv[0]);
        return 2;
    }
    const int repeats = std::max(1, std::atoi(argv[2]));
    std::printf("| page | app job path | JBIG alone | app / JBIG | CUPS filter | app peak MB | filter peak MB | "
                "raster MB |\n|---|---|---|---|---|---|---|---|\n");
    // Peaks first, while this process holds no page: a forked child starts
    // with its parent's resident size.
    std::vector<long> appPeaks, filterPeaks;
    for (int i = 3; i + 1 < argc; i += 2) {
        appPeaks.push_back(streamedPeakKb(argv[i + 1]));
        filterPeaks.push_back(runFilter(argv[1], argv[i + 1]).peakKb);
    }
    for (int i = 3; i + 1 < argc; i += 2) {
        const Page page = readPage(argv[i + 1]);
        std::vector<double> app, alone, filter;
        for (int r = 0; r < repeats; ++r) {
            Discard out;
            const double start = CpuClock::now();
            printPage(page, out);
            app.push_back(msSince(start));
            alone.push_back(jbigAlone(page));
            const ProcessCost cost = runFilter(argv[1], argv[i + 1]);
            filter.push_back(cost.cpuMs);
        }
        const double a = median(app), j = median(alone);
        std::printf("| %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f |\n", argv[i], a, j, a / j, median(filter),
                    appPeaks[static_cast<std::size_t>(i - 3) / 2] / 1024.0,
                    filterPeaks[static_cast<std::size_t>(i - 3) / 2] / 1024.0, page.gray.size() / 1048576.0);
    }
    std::printf("\nCPU ms per page (median of %d). app job path = halftoning each line as it arrives, JBIG\n"
                "encoding straight into 4096-byte chunks and the job stream's texts (the lines already\n"
                "decoded, as PAPPL hands them over); CUPS filter = CPU time of the whole filter process,\n"
                "raster decoding included; peak MB = peak resident memory of a process taking the page\n"
                "line by line (app) and of the filter\n",
                repeats);
    return 0;
}
