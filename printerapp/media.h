// What the printer offers over IPP, and how each choice maps onto the job
// stream the same way the queue's PPD choices do in the filter.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vexo::app {

struct MediaSize {
    const char* pwgName;  // IPP "media" keyword
    const char* keyword;  // the PPD's PageSize choice, which picks the MediaSize field
    int widthPt;          // the PPD's paper dimension
    int heightPt;
};

// The PPD's sizes, A4 first (the default).
std::span<const MediaSize> mediaSizes();

// The custom size range of the PPD, as IPP "custom_min_/custom_max_" names.
inline constexpr const char* kCustomMin = "custom_min_76.2x127mm";
inline constexpr const char* kCustomMax = "custom_max_215.9x355.95mm";

// The PageSize keyword of a page of this size in points (within a point),
// else "Custom".
std::string pageSizeKeyword(double widthPt, double heightPt);

struct MediaType {
    const char* ipp;   // IPP "media-type" keyword
    int code;          // job header MediaType code of the PPD choice
};

// plain (the default), thin, thick, extra thick, envelope, card.
std::span<const MediaType> mediaTypes();

// The job header code of an IPP media type; plain when unknown or empty.
int mediaTypeCode(std::string_view ipp);

inline constexpr const char* kSources[] = {"auto", "tray-1", "manual"};

// Six darkness levels: printer-darkness-configured 0..100 plus the job's
// print-darkness -100..100, onto darkness0..5 (0 is the 4x4 matrix).
inline constexpr int kDarknessLevels = 6;
int darknessLevel(int configured, int job);

// Job header resolution code of a page resolution; -1 when not offered.
int qualityOf(unsigned xdpi, unsigned ydpi);

}  // namespace vexo::app
