#include "page_builder.h"

namespace vexo::joblang {

std::string pageSizeProblem(unsigned long long width, unsigned long long height)
{
    const std::string size = "page of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width == 0 || height == 0)
        return size + " is empty";
    if (width > kMaxPageSide || height > kMaxPageSide || width * height > kMaxPagePixels)
        return size + " is too large";
    return {};
}

PageBuilder::PageBuilder(int width, int height, int level)
    : page_(blankPage(width, height)), matrix_(pageMatrix(level))  // white halftones to no dots at every darkness
{
}

void PageBuilder::addRow(int y, const std::uint8_t* gray)
{
    if (!page_.bits || y < 0 || y >= page_.height)
        return;
    halftoneRow(gray, page_.width, y, matrix_, page_.bits.get() + static_cast<std::size_t>(y) * page_.stride());
}

}  // namespace vexo::joblang
