// Reading a CUPS or PWG raster page header that came from a client or an
// upstream filter: its enum fields may hold any number.
#pragma once

#include <cups/raster.h>

#include <cstring>
#include <string>

namespace vexo::joblang {

// An enum field as the number it holds; reading it as the enum type would be
// undefined for a value outside the enum.
template <typename Enum>
unsigned rawValue(const Enum& field)
{
    static_assert(sizeof(Enum) == sizeof(unsigned));
    unsigned value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

inline unsigned colorSpace(const cups_page_header2_t& h)
{
    return rawValue(h.cupsColorSpace);
}

// "color space 18, 8 bits per color, 8 bits per pixel": the raster type, for
// the reason a page is refused.
std::string describeRasterType(const cups_page_header2_t& h);

}  // namespace vexo::joblang
