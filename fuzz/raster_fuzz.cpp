// Raster bytes from header to packed 1-bit page, as the filter handles them.
#include "image.h"
#include "raster_input.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

using namespace vexo::filter;

namespace {
constexpr unsigned long long kFuzzPixelCap = 1u << 22;  // keeps a run in memory
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
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
        for (int pages = 0; pages < 4 && input.nextPage() == RasterInput::Next::Page; ++pages) {
            const auto& h = input.header();
            if (static_cast<unsigned long long>(h.cupsWidth) * h.cupsHeight > kFuzzPixelCap)
                break;
            GrayPage gray{static_cast<int>(h.cupsWidth), static_cast<int>(h.cupsHeight),
                          allocatePixels(static_cast<std::size_t>(h.cupsWidth) * h.cupsHeight)};
            int y = 0;
            for (; y < gray.height && input.readLine(gray.pixels.get() + static_cast<std::size_t>(y) * gray.width); ++y) {
            }
            std::memset(gray.pixels.get() + static_cast<std::size_t>(y) * gray.width, 255,
                        static_cast<std::size_t>(gray.height - y) * gray.width);
            GrayPage scaled = zoomGrayPage(std::move(gray), pages % 2 ? 0.7 : 1.3);
            PackedPage packed = halftone(std::move(scaled), pages % 6);
            (void)packed;
        }
    }
    close(fd);
    return 0;
}
