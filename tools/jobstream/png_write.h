// PNG files of decoded pages, for people to look at.
#pragma once

#include "jobstream/jbig_decode.h"

#include <cstdint>
#include <string>

namespace vexo::jobstream {

// 1-bit grayscale, ink black. Throws std::runtime_error when the file cannot
// be written.
void writePng(const std::string& path, const Bitmap& bitmap);

// 8-bit grayscale, rows of `width` bytes, 0 black.
void writeGrayPng(const std::string& path, unsigned width, unsigned height, const std::uint8_t* pixels);

}  // namespace vexo::jobstream
