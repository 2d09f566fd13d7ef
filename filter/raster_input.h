// CUPS raster on a descriptor, checked page by page and delivered as 8-bit
// gray whatever gray depth or RGB the upstream filter chose.
#pragma once

#include "image.h"

#include <cups/raster.h>

#include <string>

namespace vexo::filter {

// Largest page the filter takes on. The largest sheet the queue offers (its
// custom-size maximum of 612 x 1009 points) is 10200 x 16817 pixels at
// 1200 dpi; a side may be half as long again, either way round, and the area
// about half as large again (256 MiB of gray). Anything bigger is a broken or
// hostile job, not a page.
inline constexpr unsigned kMaxPageSide = 25600;
inline constexpr unsigned long long kMaxPagePixels = 1ull << 28;

// Why a page header cannot be printed; empty when it can.
std::string checkPageHeader(const cups_page_header2_t& header);

class RasterInput {
public:
    explicit RasterInput(int fd);
    ~RasterInput();
    RasterInput(const RasterInput&) = delete;
    RasterInput& operator=(const RasterInput&) = delete;

    enum class Next { Page, End, Malformed };
    // Reads the next page header. At End the input finished cleanly; at
    // Malformed `error()` tells why.
    Next nextPage();
    const cups_page_header2_t& header() const { return header_; }
    const std::string& error() const { return error_; }

    // Reads the next line of the page as `cupsWidth` gray bytes; false when
    // the input failed (a short page).
    bool readLine(std::uint8_t* gray);

private:
    static ssize_t readInput(void* ctx, unsigned char* buffer, size_t length);
    void convertLine(const std::uint8_t* in, std::uint8_t* out) const;

    int fd_;
    // Read-ahead: the library asks for one line at a time, which would
    // otherwise cost a system call per line.
    static constexpr std::size_t kReadAhead = 1 << 18;
    Pixels buffer_;
    std::size_t bufferStart_ = 0;
    std::size_t bufferEnd_ = 0;
    cups_raster_t* raster_ = nullptr;
    cups_page_header2_t header_{};
    std::string error_;
    unsigned long long bytesIn_ = 0;
    bool atEof_ = false;
    bool opened_ = false;
    int pagesRead_ = 0;
    Pixels line_;
};

}  // namespace vexo::filter
