#include "mkraster/sample_page.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace vexo::mkraster {
namespace {

struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;  // five bits each, bit 4 leftmost
};

constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}}, {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

constexpr int kAdvance = 6;  // five columns and one of space

const Glyph* glyphFor(char c)
{
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    for (const Glyph& g : kFont)
        if (g.c == c)
            return &g;
    return nullptr;
}

void ring(GrayImage& image, int cx, int cy, int radius, int band)
{
    // Alternating black and white rings of `band` pixels around a black dot.
    for (int y = std::max(0, cy - radius); y <= std::min(image.height - 1, cy + radius); ++y)
        for (int x = std::max(0, cx - radius); x <= std::min(image.width - 1, cx + radius); ++x) {
            double d = std::hypot(x - cx, y - cy);
            if (d <= radius && static_cast<int>(d / band) % 2 == 0)
                image.at(x, y) = 0;
        }
}

}  // namespace

GrayImage::GrayImage(int w, int h, std::uint8_t fillValue)
    : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fillValue)
{
}

void GrayImage::fill(int x0, int y0, int x1, int y1, std::uint8_t value)
{
    x0 = std::clamp(x0, 0, width);
    x1 = std::clamp(x1, 0, width);
    y0 = std::clamp(y0, 0, height);
    y1 = std::clamp(y1, 0, height);
    for (int y = y0; y < y1; ++y)
        std::fill(pixels.begin() + static_cast<std::ptrdiff_t>(y) * width + x0,
                  pixels.begin() + static_cast<std::ptrdiff_t>(y) * width + x1, value);
}

int textWidth(const std::string& text, int scale)
{
    return text.empty() ? 0 : (static_cast<int>(text.size()) * kAdvance - 1) * scale;
}

int drawText(GrayImage& image, int x, int y, int scale, const std::string& text, std::uint8_t ink)
{
    int pen = x;
    for (char c : text) {
        if (const Glyph* g = glyphFor(c))
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g->rows[static_cast<std::size_t>(row)] & (0x10 >> col))
                        image.fill(pen + col * scale, y + row * scale, pen + (col + 1) * scale,
                                   y + (row + 1) * scale, ink);
        pen += kAdvance * scale;
    }
    return textWidth(text, scale);
}

GrayImage samplePage(int width, int height, int page, const std::string& caption)
{
    GrayImage image(width, height);
    const int side = std::min(width, height);
    const int margin = std::max(2, side / 30);
    const int line = std::max(1, side / 200);

    // Frame
    image.fill(margin, margin, width - margin, margin + line, 0);
    image.fill(margin, height - margin - line, width - margin, height - margin, 0);
    image.fill(margin, margin, margin + line, height - margin, 0);
    image.fill(width - margin - line, margin, width - margin, height - margin, 0);

    const int inner = margin + line + std::max(1, side / 50);
    const int usable = width - 2 * inner;

    // Title and page number
    const std::string title = "VEXO TEST PAGE";
    const int scale = std::max(1, usable * 7 / 10 / (textWidth(title, 1) + 1));
    int y = inner;
    drawText(image, (width - textWidth(title, scale)) / 2, y, scale, title);
    y += 9 * scale;
    const std::string number = "PAGE " + std::to_string(page);
    const int small = std::max(1, scale / 2);
    drawText(image, (width - textWidth(number, small)) / 2, y, small, number);
    y += 9 * small;

    // A continuous ramp over a stepped one, black on the left.
    const int ramp = std::max(2, height / 20);
    for (int x = inner; x < width - inner; ++x) {
        auto v = static_cast<std::uint8_t>(255 * (x - inner) / std::max(1, usable - 1));
        image.fill(x, y, x + 1, y + ramp, v);
        int step = 16 * (x - inner) / std::max(1, usable);
        image.fill(x, y + ramp, x + 1, y + 2 * ramp, static_cast<std::uint8_t>(std::min(255, step * 17)));
    }
    y += 2 * ramp + std::max(1, side / 40);

    // Checker blocks of 1, 2, 4 and 8 pixels, in a row of four squares.
    const int bottom = height - inner - 9 * small;
    const int block = std::max(4, std::min(usable * 4 / 19, (bottom - y) / 3));
    for (int k = 0; k < 4; ++k) {
        const int cell = 1 << k, x0 = inner + k * (block + block / 4);
        for (int by = 0; by < block && y + by < bottom; ++by)
            for (int bx = 0; bx < block; ++bx)
                if (((bx / cell) + (by / cell)) % 2 == 0 && x0 + bx < width - inner)
                    image.fill(x0 + bx, y + by, x0 + bx + 1, y + by + 1, 0);
    }

    // Concentric circles below the checkers, towards the right.
    const int top = y + block + std::max(1, side / 40);
    const int radius = std::max(3, std::min(usable / 3, (bottom - top) / 2));
    ring(image, width - inner - radius - 1, top + (bottom - top) / 2, radius, std::max(1, radius / 8));

    // A 50% gray patch and a diagonal hairline, next to the circles.
    const int patch = std::max(2, std::min(radius / 2, usable - 2 * radius - 2));
    image.fill(inner, bottom - patch, inner + patch, bottom, 128);
    for (int i = 0; i < patch; ++i) {
        const int x = inner + patch + patch / 4 + i;
        image.fill(x, bottom - 1 - i, x + 1, bottom - i, 0);
    }

    if (!caption.empty()) {
        int w = textWidth(caption, small);
        if (w <= usable)
            drawText(image, (width - w) / 2, height - inner - 7 * small, small, caption);
    }
    return image;
}

}  // namespace vexo::mkraster
