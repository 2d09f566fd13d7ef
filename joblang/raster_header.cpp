#include "raster_header.h"

namespace vexo::joblang {

std::string describeRasterType(const cups_page_header2_t& h)
{
    return "color space " + std::to_string(colorSpace(h)) + ", " + std::to_string(h.cupsBitsPerColor) +
           " bits per color, " + std::to_string(h.cupsBitsPerPixel) + " bits per pixel";
}

}  // namespace vexo::joblang
