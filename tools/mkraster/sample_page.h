// A recognisable test page, drawn in 8-bit gray at any size and resolution.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexo::mkraster {

// Row-major, stride `width`; 0 black, 255 white.
struct GrayImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    GrayImage() = default;
    GrayImage(int w, int h, std::uint8_t fill = 255);
    std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    void fill(int x0, int y0, int x1, int y1, std::uint8_t value);  // [x0, x1) x [y0, y1), clipped
};

// Draws `text` with the built-in 5 x 7 font, each font pixel `scale` pixels
// square, top-left at (x, y). Lower case is drawn as upper case; characters
// without a glyph as blanks. Returns the width drawn.
int drawText(GrayImage& image, int x, int y, int scale, const std::string& text, std::uint8_t ink = 0);
int textWidth(const std::string& text, int scale);

// Frame, title with the page number, gray ramps, checker blocks and
// concentric circles, laid out relative to the page so small pages work too.
GrayImage samplePage(int width, int height, int page, const std::string& caption);

}  // namespace vexo::mkraster
