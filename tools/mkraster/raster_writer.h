// Writing CUPS raster with libcups, in the formats an upstream filter may
// choose: gray (W, SW, K) of 1..16 bits or 8-bit RGB, compressed or not.
#pragma once

#include "mkraster/sample_page.h"

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexo::mkraster {

struct PageFormat {
    unsigned dpi = 600;
    unsigned widthPt = 595;  // A4
    unsigned heightPt = 842;
    std::string sizeName = "A4";
    cups_cspace_t colorSpace = CUPS_CSPACE_W;
    unsigned bits = 8;  // per colour
};

// A consistent page header for `format`.
cups_page_header2_t pageHeader(const PageFormat& format);

// The gray value a sample of `bits` bits stands for once read back: what is
// left of `gray` after it has been stored at that depth.
std::uint8_t storedGray(std::uint8_t gray, unsigned bits);

// One raster line of the header's format from `width` gray pixels.
void encodeLine(const std::uint8_t* gray, const cups_page_header2_t& header, std::uint8_t* out);

// A libcups raster stream into a descriptor or into memory.
class RasterWriter {
public:
    RasterWriter(int fd, bool compressed);
    RasterWriter(std::vector<std::uint8_t>& memory, bool compressed);
    ~RasterWriter();
    RasterWriter(const RasterWriter&) = delete;
    RasterWriter& operator=(const RasterWriter&) = delete;

    bool ok() const { return raster_ != nullptr && !failed_; }

    // Writes the header as given; the lines are up to the caller.
    bool writeHeader(cups_page_header2_t header);
    bool writeLine(const std::uint8_t* line, unsigned bytes);

    // Header plus every line of `image` encoded for it.
    bool writePage(const cups_page_header2_t& header, const GrayImage& image);

    // Flushes and ends the stream; also done by the destructor.
    bool close();

private:
    static ssize_t toFd(void* ctx, unsigned char* data, size_t length);
    static ssize_t toMemory(void* ctx, unsigned char* data, size_t length);

    cups_raster_t* raster_ = nullptr;
    int fd_ = -1;
    std::vector<std::uint8_t>* memory_ = nullptr;
    bool failed_ = false;
};

}  // namespace vexo::mkraster
