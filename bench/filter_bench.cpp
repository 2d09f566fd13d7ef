// Per-page cost of the filter's stages and of the whole filter, against the
// cost of JBIG encoding alone of the same bitmap.
//   filter_bench <rastertovexo> [repeats]
#include "filter_job.h"
#include "image.h"
#include "jbig_page.h"
#include "job_stream.h"
#include "raster_input.h"
#include "side_channel.h"

#include "bench_support.h"

#include <cups/raster.h>
extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vexo::filter;
using namespace vexo::joblang;
using namespace vexo::bench;

namespace {

class NoChannel : public SideChannel {
public:
    cups_sc_status_t request(cups_sc_command_t, double) override { return CUPS_SC_STATUS_OK; }
};

struct Row {
    std::string name;
    double read = 0, scale = 0, halftone = 0, encode = 0, write = 0, jbigAlone = 0, whole = 0, wall = 0;
    long peakKb = 0;
    long pageBytes = 0;
};

std::size_t bieBytes;
void countBytes(unsigned char*, std::size_t n, void*)
{
    bieBytes += n;
}

double jbigAlone(const PackedPage& page)
{
    unsigned char* planes[1] = {page.bits.get()};
    jbg_enc_state s;
    auto start = CpuClock::now();
    jbg_enc_init(&s, static_cast<unsigned long>(page.stride() * 8), static_cast<unsigned long>(page.height), 1,
                 planes, countBytes, nullptr);
    jbg_enc_out(&s);
    jbg_enc_free(&s);
    return msSince(start);
}

void stages(const std::string& raster, Row& row)
{
    int fd = ::open(raster.c_str(), O_RDONLY);
    RasterInput input(fd);
    input.nextPage();
    const auto& h = input.header();
    row.pageBytes = static_cast<long>(h.cupsWidth) * h.cupsHeight;

    auto t = CpuClock::now();
    GrayPage gray{static_cast<int>(h.cupsWidth), static_cast<int>(h.cupsHeight),
                  allocatePixels(static_cast<std::size_t>(row.pageBytes))};
    for (int y = 0; y < gray.height; ++y)
        input.readLine(gray.pixels.get() + static_cast<std::size_t>(y) * gray.width);
    row.read = msSince(t);
    ::close(fd);

    t = CpuClock::now();
    GrayPage scaled = zoomGrayPage(std::move(gray), 1.0);
    row.scale = msSince(t);

    t = CpuClock::now();
    PackedPage packed = halftone(std::move(scaled), 0);  // the level a job without options gets
    row.halftone = msSince(t);

    std::string spool = "/tmp/vexo-bench-page.jbig";
    t = CpuClock::now();
    bmp_to_jbg(spool, packed.bits.get(), static_cast<int>(packed.stride() * 8), packed.height);
    row.encode = msSince(t);

    row.jbigAlone = jbigAlone(packed);

    NoChannel channel;
    FilterJob job;
    job.out = std::fopen("/dev/null", "w");
    job.log = job.out;
    job.sideChannel = &channel;
    job.pageWidth = packed.width;
    job.pageHeight = packed.height;
    startJob(job);
    sendPageHeader(job);
    t = CpuClock::now();
    sendPageData(job, spool);
    job.writer.endPage();
    std::fflush(job.out);
    row.write = msSince(t);
    std::fclose(job.out);
    ::unlink(spool.c_str());
}

void whole(const char* filter, const std::string& raster, Row& row)
{
    const ProcessCost cost = runFilter(filter, raster);
    row.wall = cost.wallMs;
    row.whole = cost.cpuMs;
    row.peakKb = cost.peakKb;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--photo") == 0) {
        writePhotoRaster(argv[3], static_cast<unsigned>(std::atoi(argv[2])));
        return 0;
    }
    if (argc < 5 || argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: %s path/to/rastertovexo repeats label raster [label raster...]\n"
                     "       %s --photo dpi out.ras\n",
                     argv[0], argv[0]);
        return 2;
    }
    const int repeats = std::max(1, std::atoi(argv[2]));
    std::printf("%-14s %7s %8s %8s %8s %7s %8s | %9s %8s %6s %8s | %8s %6s\n", "page", "read", "scale", "halftone",
                "encode", "write", "sum", "jbig-only", "filter", "ratio", "wall", "peak MB", "xpage");
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string raster = argv[i + 1];
        std::vector<Row> runs(static_cast<std::size_t>(repeats));
        for (Row& r : runs) {
            stages(raster, r);
            whole(argv[1], raster, r);
        }
        auto pick = [&](double Row::*field) {
            std::vector<double> v;
            for (const Row& r : runs)
                v.push_back(r.*field);
            return median(v);
        };
        double read = pick(&Row::read), scale = pick(&Row::scale), ht = pick(&Row::halftone),
               enc = pick(&Row::encode), wr = pick(&Row::write), alone = pick(&Row::jbigAlone),
               filter = pick(&Row::whole), wall = pick(&Row::wall);
        long peak = 0;
        for (const Row& r : runs)
            peak = std::max(peak, r.peakKb);
        double pageMb = runs[0].pageBytes / 1048576.0;
        std::printf("%-14s %7.1f %8.1f %8.1f %8.1f %7.1f %8.1f | %9.1f %8.1f %6.2f %8.1f | %8.1f %6.2f\n", argv[i],
                    read, scale, ht, enc, wr, read + scale + ht + enc + wr, alone, filter, filter / alone, wall,
                    peak / 1024.0, peak / 1024.0 / pageMb);
    }
    std::printf("\nCPU ms per page (median of %d); stages run one after another on a whole page;\n"
                "filter = CPU time of the whole filter process on the same one-page job (raster read and\n"
                "halftone fused line by line), wall = its elapsed time; ratio = filter / JBIG encoding\n"
                "alone of the same bitmap; xpage = peak resident memory of the filter / one page of\n"
                "8-bit raster\n",
                repeats);
    return 0;
}
