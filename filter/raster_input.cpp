#include "raster_input.h"

#include "raster_header.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vexo::filter {
namespace {

using joblang::colorSpace;
using joblang::describeRasterType;
using joblang::rawValue;

bool isGraySpace(unsigned space)
{
    return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW || space == CUPS_CSPACE_K;
}

bool isRgbSpace(unsigned space)
{
    return space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB;
}

}  // namespace

std::string checkPageHeader(const cups_page_header2_t& h)
{
    if (std::string size = joblang::pageSizeProblem(h.cupsWidth, h.cupsHeight); !size.empty())
        return size;
    unsigned channels = 0;
    if (isGraySpace(colorSpace(h))) {
        if (h.cupsBitsPerColor != 1 && h.cupsBitsPerColor != 2 && h.cupsBitsPerColor != 4 &&
            h.cupsBitsPerColor != 8 && h.cupsBitsPerColor != 16)
            return "unsupported raster format (" + describeRasterType(h) + ")";
        channels = 1;
    } else if (isRgbSpace(colorSpace(h)) && h.cupsBitsPerColor == 8 && rawValue(h.cupsColorOrder) == CUPS_ORDER_CHUNKED) {
        channels = 3;
    } else {
        return "unsupported raster format (" + describeRasterType(h) + "); expected gray or 8-bit RGB";
    }
    if (h.cupsBitsPerPixel != h.cupsBitsPerColor * channels)
        return "inconsistent raster header (" + describeRasterType(h) + ")";
    unsigned long long expected = (static_cast<unsigned long long>(h.cupsWidth) * h.cupsBitsPerPixel + 7) / 8;
    if (h.cupsBytesPerLine != expected)
        return "raster line of " + std::to_string(h.cupsBytesPerLine) + " bytes does not match " +
               std::to_string(h.cupsWidth) + " pixels of " + std::to_string(h.cupsBitsPerPixel) + " bits";
    return {};
}

RasterInput::RasterInput(int fd) : fd_(fd) {}

RasterInput::~RasterInput()
{
    if (raster_)
        cupsRasterClose(raster_);
}

ssize_t RasterInput::readInput(void* ctx, unsigned char* buffer, size_t length)
{
    auto* self = static_cast<RasterInput*>(ctx);
    if (self->bufferStart_ == self->bufferEnd_) {
        if (length >= kReadAhead) {
            // large requests go straight through
            ssize_t got;
            do {
                got = ::read(self->fd_, buffer, length);
            } while (got < 0 && errno == EINTR);
            if (got > 0)
                self->bytesIn_ += static_cast<unsigned long long>(got);
            else
                self->atEof_ = true;
            return got;
        }
        if (!self->buffer_)
            self->buffer_ = allocatePixels(kReadAhead);
        if (!self->buffer_)
            return -1;
        ssize_t got;
        do {
            got = ::read(self->fd_, self->buffer_.get(), kReadAhead);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            self->atEof_ = true;
            return got;
        }
        self->bytesIn_ += static_cast<unsigned long long>(got);
        self->bufferStart_ = 0;
        self->bufferEnd_ = static_cast<std::size_t>(got);
    }
    // The library loops until it has all it asked for, so a partial answer is fine.
    std::size_t n = std::min(length, self->bufferEnd_ - self->bufferStart_);
    std::memcpy(buffer, self->buffer_.get() + self->bufferStart_, n);
    self->bufferStart_ += n;
    return static_cast<ssize_t>(n);
}

RasterInput::Next RasterInput::nextPage()
{
    if (!opened_) {
        opened_ = true;
        raster_ = cupsRasterOpenIO(readInput, this, CUPS_RASTER_READ);
        if (!raster_) {
            if (bytesIn_ == 0)
                return Next::End;  // an empty job
            error_ = "input is not a CUPS raster stream";
            return Next::Malformed;
        }
    }
    if (!raster_)
        return Next::End;
    std::memset(&header_, 0, sizeof header_);
    if (!cupsRasterReadHeader2(raster_, &header_)) {
        // The library says "no header" both at a clean end and for a header it
        // refuses; only running into the end of input is a clean end, and a
        // stream with no page at all must not have carried anything but its
        // sync word.
        if (atEof_ && (pagesRead_ > 0 || bytesIn_ <= 4))
            return Next::End;
        error_ = pagesRead_ == 0 ? "no valid page header in the raster stream"
                                 : "invalid page header after page " + std::to_string(pagesRead_);
        return Next::Malformed;
    }
    error_ = checkPageHeader(header_);
    if (!error_.empty())
        return Next::Malformed;
    ++pagesRead_;
    line_ = allocatePixels(header_.cupsBytesPerLine);
    if (!line_) {
        error_ = "no memory for a raster line of " + std::to_string(header_.cupsBytesPerLine) + " bytes";
        return Next::Malformed;
    }
    return Next::Page;
}

void RasterInput::convertLine(const std::uint8_t* in, std::uint8_t* out) const
{
    const unsigned width = header_.cupsWidth, bits = header_.cupsBitsPerColor;
    const bool inverted = colorSpace(header_) == CUPS_CSPACE_K;  // values are ink, not light
    if (header_.cupsBitsPerPixel == 24) {
        for (unsigned x = 0; x < width; ++x, in += 3)
            out[x] = static_cast<std::uint8_t>((299u * in[0] + 587u * in[1] + 114u * in[2] + 500u) / 1000u);
        return;
    }
    if (bits == 16) {
        for (unsigned x = 0; x < width; ++x) {
            std::uint16_t v;
            std::memcpy(&v, in + 2 * x, 2);  // the library hands samples over in host order
            out[x] = static_cast<std::uint8_t>((v + 128u) / 257u);
        }
    } else if (bits == 8) {
        std::memcpy(out, in, width);
    } else {
        const unsigned perByte = 8 / bits, mask = (1u << bits) - 1, scale = 255 / mask;
        for (unsigned x = 0; x < width; ++x) {
            unsigned shift = 8 - bits * (x % perByte + 1);
            out[x] = static_cast<std::uint8_t>(((in[x / perByte] >> shift) & mask) * scale);
        }
    }
    if (inverted)
        for (unsigned x = 0; x < width; ++x)
            out[x] = static_cast<std::uint8_t>(255 - out[x]);
}

bool RasterInput::readLine(std::uint8_t* gray)
{
    const unsigned bpl = header_.cupsBytesPerLine;
    const bool direct = header_.cupsBitsPerPixel == 8 && colorSpace(header_) != CUPS_CSPACE_K;
    std::uint8_t* target = direct ? gray : line_.get();
    if (cupsRasterReadPixels(raster_, target, bpl) != bpl)
        return false;
    if (!direct)
        convertLine(target, gray);
    return true;
}

}  // namespace vexo::filter
