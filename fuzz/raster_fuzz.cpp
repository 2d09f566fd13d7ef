// Raster bytes from header to packed 1-bit page, through the filter's own
// page reader, at the scale ratios and darkness levels a queue can choose.
#include "page_loop.h"
#include "raster_input.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

using namespace vexo::filter;

namespace {
constexpr unsigned long long kFuzzPixelCap = 1u << 22;  // keeps a run in memory
constexpr double kRatios[] = {1.0, 0.5, 0.6, 0.7, 0.8, 0.9, 1.1, 1.2, 1.3, 1.4, 1.5};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::FILE* devNull = std::fopen("/dev/null", "w");
    int fd = memfd_create("raster", 0);
    if (fd < 0)
        return 0;
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    lseek(fd, 0, SEEK_SET);
    {
        RasterInput input(fd);
        FilterJob job;
        job.log = devNull;
        job.out = devNull;
        // the first byte picks the options, as a queue's choices would
        const unsigned knob = size ? data[0] : 0;
        job.scaleRatio = kRatios[knob % std::size(kRatios)];
        job.imageDarkness_type = static_cast<int>(knob / std::size(kRatios) % 6);
        for (int pages = 0; pages < 4 && input.nextPage() == RasterInput::Next::Page; ++pages) {
            const auto& h = input.header();
            if (static_cast<unsigned long long>(h.cupsWidth) * h.cupsHeight > kFuzzPixelCap)
                break;
            PackedPage packed = readPackedPage(job, input);
            (void)packed;
        }
    }
    close(fd);
    return 0;
}
