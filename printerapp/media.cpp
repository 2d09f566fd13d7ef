#include "media.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace vexo::app {
namespace {

constexpr std::array<MediaSize, 10> kSizes{{
    {"iso_a4_210x297mm", "A4", 595, 842},
    {"na_letter_8.5x11in", "Letter", 612, 792},
    {"iso_a5_148x210mm", "A5", 420, 595},
    {"iso_a6_105x148mm", "A6", 297, 420},
    {"jis_b5_182x257mm", "B5", 516, 729},
    {"jis_b6_128x182mm", "B6", 363, 516},
    {"om_16k_195x270mm", "16K", 553, 765},
    {"om_32k_135x195mm", "32K", 383, 553},
    {"om_bank-slip_85x170mm", "85x170mm", 241, 482},
    // the PPD's landscape A5; PWG names it by its portrait size
    {"iso_a5_148x210mm", "A5-R", 595, 420},
}};

constexpr std::array<MediaType, 6> kTypes{{
    {"stationery", 0},
    {"stationery-lightweight", 1},
    {"stationery-heavyweight", 2},
    {"stationery-extra-heavyweight", 3},
    {"envelope", 4},
    {"cardstock", 5},
}};

}  // namespace

std::span<const MediaSize> mediaSizes()
{
    return std::span<const MediaSize>(kSizes.data(), kSizes.size() - 1);  // A5-R is not offered by name
}

std::string pageSizeKeyword(double widthPt, double heightPt)
{
    for (const MediaSize& size : kSizes)
        if (std::fabs(widthPt - size.widthPt) <= 1.0 && std::fabs(heightPt - size.heightPt) <= 1.0)
            return size.keyword;
    return "Custom";
}

std::span<const MediaType> mediaTypes()
{
    return kTypes;
}

int mediaTypeCode(std::string_view ipp)
{
    for (const MediaType& type : kTypes)
        if (ipp == type.ipp)
            return type.code;
    return 0;
}

int darknessLevel(int configured, int job)
{
    const int value = std::clamp(configured + job, 0, 100);
    return (value * (kDarknessLevels - 1) + 50) / 100;
}

int qualityOf(unsigned xdpi, unsigned ydpi)
{
    if (xdpi == 600 && ydpi == 600)
        return 0;
    if (xdpi == 1200 && ydpi == 1200)
        return 2;
    return -1;
}

}  // namespace vexo::app
