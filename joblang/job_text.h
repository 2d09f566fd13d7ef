// The texts of the printer's job stream: commands of name=value fields, each
// ended by ';', and each page's JBIG image in length-prefixed chunks.
#pragma once

#include <cstddef>
#include <string>

namespace vexo::joblang {

inline constexpr std::size_t kChunkSize = 4096;

inline constexpr const char* kStartOfJob = "Event=StartOfJob;";
inline constexpr const char* kEndOfPage = "Event=EndOfPage;";
inline constexpr const char* kEndOfJob = "Event=EndOfJob;";
inline constexpr const char* kCancelJob = "CancelJob?";

// What the job header says. `quality`: 0 600x600, 1 1200x600, 2 1200x1200;
// `mediaType`: 0 plain, 1 thin, 2 thick, 3 extra thick, 4 envelope, 5 card;
// `duplex`: 0 one-sided, 1 short edge, 2 long edge.
struct JobSettings {
    int quality = 0;
    int mediaType = 0;
    int duplex = 0;
    std::string copies = "1";
};

const char* resolutionField(int quality);

// The MediaType field and the line the filter logs for it.
struct MediaTypeRow {
    const char* field;
    const char* debug;
};
MediaTypeRow mediaTypeRow(int code);

const char* sidesField(int duplex);

// The five fields of the job header, back to back.
std::string jobHeaderText(const JobSettings& settings);

// MediaSize field for a page of `width` x `height` pixels; `pageSize` is the
// size keyword ("A4", "Letter", ..., "Custom").
std::string mediaSizeField(const std::string& pageSize, int width, int height, int quality);

// The line the filter logs for the MediaSize field of a named size.
const char* mediaSizeDebug(const std::string& pageSize);

// The width the printer is told: a whole number of bytes.
inline int roundUpTo8(int width)
{
    return (width + 7) / 8 * 8;
}

// The page header of an unrounded `width`.
std::string pageHeaderText(const std::string& pageSize, int width, int height, int quality);

// "RasterObject.Data#<count>=": what precedes `count` bytes of page data,
// which are followed by ';'.
std::string chunkHeader(std::size_t count);

}  // namespace vexo::joblang
