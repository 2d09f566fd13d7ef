// Page images between the raster and the encoder: 8-bit gray pages, their
// scaling, and halftoning to packed 1-bit pages.
#pragma once

#include "threshold_matrix.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexo::joblang {

using Pixels = std::unique_ptr<std::uint8_t[]>;

// nullptr when the memory is not there; never throws.
Pixels allocatePixels(std::size_t bytes);

// Row-major, stride `width`; 0 black, 255 white.
struct GrayPage {
    int width = 0;
    int height = 0;
    Pixels pixels;
    std::size_t size() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
};

// Rows of ceil(width / 8) bytes; leftmost pixel in the most significant bit,
// 1 = black; bits past the last pixel are 0.
struct PackedPage {
    int width = 0;
    int height = 0;
    Pixels bits;
    std::size_t stride() const { return (static_cast<std::size_t>(width) + 7) / 8; }
};

// An all-white page; without bits when memory ran out.
PackedPage blankPage(int width, int height);

// Scales by `ratio` about the top-left corner, keeping the page size: a
// smaller image leaves white on the right and bottom, a larger one is cropped.
// Takes the page; returns one without pixels when memory ran out.
GrayPage zoomGrayPage(GrayPage src, double ratio);

// The threshold matrix of darkness `level` (0..5), as 128 x 128 so every
// level is indexed the same way; built once per page.
Matrix128 pageMatrix(int level);

// Halftones one row of `width` gray pixels (row `y` of the page) into
// ceil(width / 8) packed bytes.
void halftoneRow(const std::uint8_t* gray, int width, int y, const Matrix128& matrix, std::uint8_t* packed);

// Halftones with the threshold matrix of darkness `level` (0..5). Returns a
// page without bits when memory ran out.
PackedPage halftone(GrayPage src, int level);

}  // namespace vexo::joblang
