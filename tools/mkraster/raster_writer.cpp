#include "mkraster/raster_writer.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vexo::mkraster {
namespace {

unsigned channels(cups_cspace_t space)
{
    switch (space) {
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
    case CUPS_CSPACE_CMY: return 3;
    case CUPS_CSPACE_CMYK:
    case CUPS_CSPACE_KCMY: return 4;
    default: return 1;
    }
}

// Colour spaces whose samples measure ink rather than light.
bool inkSpace(cups_cspace_t space)
{
    return space == CUPS_CSPACE_K || space == CUPS_CSPACE_CMY || space == CUPS_CSPACE_CMYK ||
           space == CUPS_CSPACE_KCMY;
}

unsigned levelOf(std::uint8_t gray, unsigned bits)
{
    const unsigned top = (1u << bits) - 1;
    return (gray * top + 127) / 255;
}

}  // namespace

cups_page_header2_t pageHeader(const PageFormat& f)
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = f.dpi;
    h.PageSize[0] = f.widthPt;
    h.PageSize[1] = f.heightPt;
    h.ImagingBoundingBox[2] = f.widthPt;
    h.ImagingBoundingBox[3] = f.heightPt;
    h.cupsWidth = static_cast<unsigned>(static_cast<unsigned long long>(f.widthPt) * f.dpi / 72);
    h.cupsHeight = static_cast<unsigned>(static_cast<unsigned long long>(f.heightPt) * f.dpi / 72);
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = f.colorSpace;
    h.cupsBitsPerColor = f.bits;
    h.cupsBitsPerPixel = f.bits * channels(f.colorSpace);
    h.cupsBytesPerLine = static_cast<unsigned>((static_cast<unsigned long long>(h.cupsWidth) * h.cupsBitsPerPixel + 7) / 8);
    h.NumCopies = 1;
    h.cupsNumColors = channels(f.colorSpace);
    std::strncpy(h.cupsPageSizeName, f.sizeName.c_str(), sizeof h.cupsPageSizeName - 1);
    return h;
}

std::uint8_t storedGray(std::uint8_t gray, unsigned bits)
{
    if (bits >= 8)
        return gray;
    const unsigned top = (1u << bits) - 1;
    return static_cast<std::uint8_t>(levelOf(gray, bits) * (255 / top));
}

void encodeLine(const std::uint8_t* gray, const cups_page_header2_t& h, std::uint8_t* out)
{
    const auto space = static_cast<cups_cspace_t>(h.cupsColorSpace);
    const unsigned width = h.cupsWidth, bits = h.cupsBitsPerColor, n = channels(space);
    const bool ink = inkSpace(space);
    std::memset(out, 0, h.cupsBytesPerLine);
    if (bits == 8) {
        for (unsigned x = 0; x < width; ++x)
            for (unsigned c = 0; c < n; ++c)
                out[x * n + c] = ink ? static_cast<std::uint8_t>(255 - gray[x]) : gray[x];
    } else if (bits == 16) {
        // libcups takes 16-bit samples in host order.
        for (unsigned x = 0; x < width; ++x)
            for (unsigned c = 0; c < n; ++c) {
                auto v = static_cast<std::uint16_t>((ink ? 255 - gray[x] : gray[x]) * 257);
                std::memcpy(out + 2 * (x * n + c), &v, 2);
            }
    } else {
        const unsigned top = (1u << bits) - 1;
        for (unsigned x = 0; x < width; ++x) {
            unsigned level = levelOf(gray[x], bits);
            if (ink)
                level = top - level;
            for (unsigned c = 0; c < n; ++c) {
                const unsigned sample = x * n + c, perByte = 8 / bits;
                out[sample / perByte] |= static_cast<std::uint8_t>(level << (8 - bits * (sample % perByte + 1)));
            }
        }
    }
}

RasterWriter::RasterWriter(int fd, bool compressed) : fd_(fd)
{
    raster_ = cupsRasterOpenIO(toFd, this, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
}

RasterWriter::RasterWriter(std::vector<std::uint8_t>& memory, bool compressed) : memory_(&memory)
{
    raster_ = cupsRasterOpenIO(toMemory, this, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
}

RasterWriter::~RasterWriter()
{
    close();
}

bool RasterWriter::close()
{
    if (raster_) {
        cupsRasterClose(raster_);
        raster_ = nullptr;
    }
    return !failed_;
}

ssize_t RasterWriter::toFd(void* ctx, unsigned char* data, size_t length)
{
    auto* self = static_cast<RasterWriter*>(ctx);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(self->fd_, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self->failed_ = true;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(length);
}

ssize_t RasterWriter::toMemory(void* ctx, unsigned char* data, size_t length)
{
    auto* self = static_cast<RasterWriter*>(ctx);
    self->memory_->insert(self->memory_->end(), data, data + length);
    return static_cast<ssize_t>(length);
}

bool RasterWriter::writeHeader(cups_page_header2_t header)
{
    if (!raster_ || !cupsRasterWriteHeader2(raster_, &header))
        failed_ = true;
    return ok();
}

bool RasterWriter::writeLine(const std::uint8_t* line, unsigned bytes)
{
    if (!raster_ || cupsRasterWritePixels(raster_, const_cast<unsigned char*>(line), bytes) != bytes)
        failed_ = true;
    return ok();
}

bool RasterWriter::writePage(const cups_page_header2_t& header, const GrayImage& image)
{
    if (static_cast<unsigned>(image.width) != header.cupsWidth ||
        static_cast<unsigned>(image.height) != header.cupsHeight)
        return false;
    if (!writeHeader(header))
        return false;
    std::vector<std::uint8_t> line(header.cupsBytesPerLine);
    for (int y = 0; y < image.height; ++y) {
        encodeLine(&image.pixels[static_cast<std::size_t>(y) * image.width], header, line.data());
        if (!writeLine(line.data(), header.cupsBytesPerLine))
            return false;
    }
    return true;
}

}  // namespace vexo::mkraster
