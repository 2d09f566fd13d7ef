// A JBIG-encoded page in a spool file.
#pragma once

#include "jbig_encode.h"

#include <cstdint>
#include <string>

namespace vexo::filter {

using joblang::stripeLines;

// Encodes `bitmap` (rows of width/8 bytes, MSB leftmost, 1 = black) with the
// encoder's defaults into a new spool file at `path`. `width` is a multiple
// of 8. Returns 1 when written, 0 when the file could not be created or written.
int bmp_to_jbg(const std::string& path, const std::uint8_t* bitmap, int width, int height);

}  // namespace vexo::filter
