// Reads a printer job stream back into its commands and pages, refusing
// anything the printer would not accept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexo::jobstream {

inline constexpr std::size_t kMaxChunk = 4096;

struct JobHeader {
    std::string resolution;  // "600x600", ...
    std::string mediaType;
    std::string sides;
    std::string copies;
    std::string trayCheck;
};

struct Page {
    std::size_t offset = 0;  // of the page header
    std::string mediaSize;   // "na_a4_210x297mm", ...
    int width = 0;           // RasterObject.Width, a multiple of 8
    int height = 0;
    std::vector<std::uint8_t> data;   // the chunk payloads, joined
    std::vector<std::size_t> chunks;  // payload length of each chunk
};

enum class Ending {
    EndOfJob,   // "Event=EndOfJob;"
    Cancelled,  // "CancelJob?"
};

struct Job {
    bool started = false;  // "Event=StartOfJob;" and a job header came first
    JobHeader header;
    std::vector<Page> pages;
    Ending ending = Ending::EndOfJob;
};

class StreamError : public std::runtime_error {
public:
    StreamError(std::size_t offset, const std::string& what);
    std::size_t offset() const { return offset_; }

private:
    std::size_t offset_;
};

// Throws StreamError, whose message starts with the byte offset, at the
// first thing out of place.
Job parseJobStream(std::span<const std::uint8_t> bytes);

}  // namespace vexo::jobstream
