// What the benchmarks share: CPU clocks, the photo-like page, and the CUPS
// filter run as the spooler runs it.
#pragma once

#include <cups/raster.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace vexo::bench {

using Clock = std::chrono::steady_clock;

// CPU time of this thread: other load on the machine does not count, so
// the stages and the JBIG-only figure compare fairly with the filter's own
// CPU time taken from the kernel's accounting.
struct CpuClock {
    using time_point = double;
    static double now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    }
};

inline double msSince(double start)
{
    return CpuClock::now() - start;
}

inline double wallMsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A photo-like page: smooth tones with grain, the hard case for JBIG.
inline std::uint8_t photoPixel(unsigned x, unsigned y, unsigned dpi)
{
    double u = static_cast<double>(x) / dpi, v = static_cast<double>(y) / dpi;
    double tone = 128 + 90 * std::sin(u * 1.3) * std::cos(v * 0.9) + 30 * std::sin((u + v) * 4.0);
    unsigned grain = (x * 2654435761u ^ y * 2246822519u) >> 28;
    return static_cast<std::uint8_t>(std::clamp(tone + grain - 8.0, 0.0, 255.0));
}

inline void writePhotoRaster(const std::string& path, unsigned dpi)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.cupsWidth = 595 * dpi / 72;
    h.cupsHeight = 842 * dpi / 72;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
    h.cupsColorSpace = CUPS_CSPACE_W;
    h.NumCopies = 1;
    cupsRasterWriteHeader2(r, &h);
    std::vector<std::uint8_t> line(h.cupsWidth);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        for (unsigned x = 0; x < h.cupsWidth; ++x)
            line[x] = photoPixel(x, y, dpi);
        cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
    }
    cupsRasterClose(r);
    ::close(fd);
}

// CPU time, elapsed time and peak resident memory of one run of the filter.
struct ProcessCost {
    double cpuMs = 0;
    double wallMs = 0;
    long peakKb = 0;
};

inline ProcessCost runFilter(const char* filter, const std::string& raster, const char* options = "")
{
    ProcessCost cost;
    auto t = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int in = ::open(raster.c_str(), O_RDONLY), out = ::open("/dev/null", O_WRONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        ::close(4);
        setenv("TMPDIR", "/tmp", 1);
        setenv("PPD", "/nonexistent", 1);
        execl(filter, "bench", "1", "bench", "bench", "1", options, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    cost.wallMs = wallMsSince(t);
    cost.cpuMs = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
                 usage.ru_stime.tv_usec / 1e3;
    cost.peakKb = usage.ru_maxrss;
    return cost;
}

}  // namespace vexo::bench
