// CUPS raster on a descriptor, checked page by page and delivered as 8-bit
// gray whatever gray depth or RGB the upstream filter chose.
#pragma once

#include "image.h"
#include "page_builder.h"

#include <cups/raster.h>

#include <string>

namespace vexo::filter {

using joblang::allocatePixels;
using joblang::kMaxPagePixels;
using joblang::kMaxPageSide;
using joblang::Pixels;

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
