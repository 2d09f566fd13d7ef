// A packed page built row by row as gray rows arrive, so the 8-bit page never
// has to sit in memory; and the largest page either program takes on.
#pragma once

#include "image.h"

#include <string>

namespace vexo::joblang {

// The largest sheet the printer takes (the custom-size maximum of 612 x 1009
// points) is 10200 x 16817 pixels at 1200 dpi; a side may be half as long
// again, either way round, and the area about half as large again (256 MiB of
// gray). Anything bigger is a broken or hostile job, not a page.
inline constexpr unsigned kMaxPageSide = 25600;
inline constexpr unsigned long long kMaxPagePixels = 1ull << 28;

// Why a page of `width` x `height` pixels cannot be printed; empty when it can.
std::string pageSizeProblem(unsigned long long width, unsigned long long height);

class PageBuilder {
public:
    // An all-white page of `width` x `height` halftoned at darkness `level`
    // (0..5). The caller checks the size first; `ok()` is false when memory
    // ran out.
    PageBuilder(int width, int height, int level);

    bool ok() const { return page_.bits != nullptr; }
    int width() const { return page_.width; }
    int height() const { return page_.height; }

    // Halftones `gray` (width() bytes, 0 black, 255 white) into row `y`;
    // a row outside the page is ignored.
    void addRow(int y, const std::uint8_t* gray);

    // Hands over the page; rows never added stay white.
    PackedPage take() { return std::move(page_); }

private:
    PackedPage page_;
    Matrix128 matrix_;
};

}  // namespace vexo::joblang
