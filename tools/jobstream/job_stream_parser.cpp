#include "jobstream/job_stream_parser.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace vexo::jobstream {
namespace {

constexpr std::string_view kStartOfJob = "Event=StartOfJob;";
constexpr std::string_view kEndOfPage = "Event=EndOfPage;";
constexpr std::string_view kEndOfJob = "Event=EndOfJob;";
constexpr std::string_view kCancelJob = "CancelJob?";
constexpr std::string_view kDataField = "RasterObject.Data#";

// Text fields are short; anything longer is not a field at all.
constexpr std::size_t kMaxFieldText = 128;

constexpr std::array kResolutions = {"600x600", "1200x600", "1200x1200"};
constexpr std::array kMediaTypes = {"plain", "Narrow", "Thick", "Superthick", "envelope"};
constexpr std::array kSides = {"OneSided", "TwoSidedShortEdge", "TwoSidedLongEdge"};
constexpr std::array kMediaSizes = {
    "na_a4_210x297mm",  "na_a5_148x210mm",  "na_a5-TRANSVERSE_210x148mm", "na_a6_105x148mm",
    "na_b5_182x257mm",  "na_b6_128x182mm",  "na_16k_195x270mm",           "na_32k_135x195mm",
    "na_LETTER_216x279mm", "na_bank_85x170mm",
};

template <std::size_t N>
bool oneOf(const std::array<const char*, N>& values, const std::string& value)
{
    return std::any_of(values.begin(), values.end(), [&](const char* v) { return value == v; });
}

bool isDecimal(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits || (text[0] == '0' && text.size() > 1))
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "na_customsize_<w>x<h>mm"
bool isCustomSize(const std::string& value)
{
    constexpr std::string_view prefix = "na_customsize_";
    std::string_view v = value;
    if (!v.starts_with(prefix) || !v.ends_with("mm"))
        return false;
    v = v.substr(prefix.size(), v.size() - prefix.size() - 2);
    std::size_t x = v.find('x');
    return x != std::string_view::npos && isDecimal(v.substr(0, x), 6) && isDecimal(v.substr(x + 1), 6);
}

struct Field {
    std::size_t offset;
    std::string name;
    std::string value;
};

class Parser {
public:
    explicit Parser(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    Job run()
    {
        Job job;
        if (bytes_.empty())
            fail(0, "empty stream");
        if (take(kEndOfJob)) {  // a job without pages says only this
            expectEnd("\"Event=EndOfJob;\"");
            return job;
        }
        if (!take(kStartOfJob))
            fail(pos_, "expected \"Event=StartOfJob;\" or \"Event=EndOfJob;\", found " + found());
        job.started = true;
        readJobHeader(job.header);
        for (;;) {
            if (take(kEndOfJob)) {
                expectEnd("\"Event=EndOfJob;\"");
                job.ending = Ending::EndOfJob;
                return job;
            }
            if (take(kCancelJob)) {
                expectEnd("\"CancelJob?\"");
                job.ending = Ending::Cancelled;
                return job;
            }
            if (pos_ == bytes_.size())
                fail(pos_, "stream ends without \"Event=EndOfJob;\" or \"CancelJob?\"");
            job.pages.push_back(readPage(job.pages.size() + 1));
        }
    }

private:
    [[noreturn]] void fail(std::size_t offset, const std::string& what) const { throw StreamError(offset, what); }

    bool at(std::string_view text) const
    {
        return bytes_.size() - pos_ >= text.size() &&
               std::equal(text.begin(), text.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
    }

    bool take(std::string_view text)
    {
        if (!at(text))
            return false;
        pos_ += text.size();
        return true;
    }

    void expectEnd(const std::string& after) const
    {
        if (pos_ != bytes_.size())
            fail(pos_, std::to_string(bytes_.size() - pos_) + " byte(s) after " + after);
    }

    // A short, printable view of what sits at the current position.
    std::string found() const
    {
        if (pos_ == bytes_.size())
            return "end of stream";
        std::string text = "\"";
        std::size_t end = std::min(bytes_.size(), pos_ + 24);
        for (std::size_t i = pos_; i < end; ++i) {
            unsigned char c = bytes_[i];
            if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
                text += static_cast<char>(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                text += escaped;
            }
        }
        text += end < bytes_.size() ? "...\"" : "\"";
        return text;
    }

    // name=value; with printable text on both sides.
    Field readField()
    {
        Field field{pos_, {}, {}};
        std::size_t i = pos_;
        std::string* part = &field.name;
        for (;; ++i) {
            if (i == bytes_.size() || i - pos_ > kMaxFieldText)
                fail(pos_, "expected a field name=value;, found " + found());
            unsigned char c = bytes_[i];
            if (c == '=' && part == &field.name) {
                part = &field.value;
                continue;
            }
            if (c == ';' && part == &field.value)
                break;
            if (c < 0x20 || c >= 0x7f || c == ';')
                fail(pos_, "expected a field name=value;, found " + found());
            *part += static_cast<char>(c);
        }
        if (field.name.empty())
            fail(pos_, "field without a name: " + found());
        pos_ = i + 1;
        return field;
    }

    Field readNamed(const char* name)
    {
        std::size_t at = pos_;
        if (pos_ == bytes_.size())
            fail(at, std::string("stream ends where field ") + name + " belongs");
        Field field = readField();
        if (field.name != name)
            fail(at, std::string("expected field ") + name + ", found field " + field.name);
        return field;
    }

    template <std::size_t N>
    std::string readChoice(const char* name, const std::array<const char*, N>& values)
    {
        Field field = readNamed(name);
        if (!oneOf(values, field.value))
            fail(field.offset, std::string("unknown ") + name + " \"" + field.value + "\"");
        return field.value;
    }

    int readPositive(const char* name)
    {
        Field field = readNamed(name);
        if (!isDecimal(field.value, 9) || field.value == "0")
            fail(field.offset, std::string(name) + " \"" + field.value + "\" is no positive number");
        return std::stoi(field.value);
    }

    void readJobHeader(JobHeader& header)
    {
        header.resolution = readChoice("Resolution", kResolutions);
        header.mediaType = readChoice("MediaType", kMediaTypes);
        header.sides = readChoice("Sides", kSides);
        header.copies = std::to_string(readPositive("Copies"));
        Field tray = readNamed("MediaInputTrayCheck");
        if (tray.value != "auto")
            fail(tray.offset, "unknown MediaInputTrayCheck \"" + tray.value + "\"");
        header.trayCheck = tray.value;
    }

    Page readPage(std::size_t number)
    {
        Page page;
        page.offset = pos_;
        if (at(kEndOfPage) || at(kDataField))
            fail(pos_, "page " + std::to_string(number) + " has no page header");
        Field size = readField();
        if (size.name != "MediaSize")
            fail(size.offset, "expected a page header (field MediaSize), found field " + size.name);
        if (!oneOf(kMediaSizes, size.value) && !isCustomSize(size.value))
            fail(size.offset, "unknown MediaSize \"" + size.value + "\"");
        page.mediaSize = size.value;
        std::size_t widthAt = pos_;
        page.width = readPositive("RasterObject.Width");
        if (page.width % 8 != 0)
            fail(widthAt, "RasterObject.Width " + std::to_string(page.width) + " is no multiple of 8");
        page.height = readPositive("RasterObject.Height");

        while (at(kDataField)) {
            std::size_t chunkAt = pos_;
            if (!page.chunks.empty() && page.chunks.back() != kMaxChunk)
                fail(chunkAt, "data field after a short one of " + std::to_string(page.chunks.back()) +
                                  " bytes in page " + std::to_string(number));
            pos_ += kDataField.size();
            std::size_t digits = pos_;
            while (pos_ < bytes_.size() && pos_ - digits <= 5 && bytes_[pos_] >= '0' && bytes_[pos_] <= '9')
                ++pos_;
            std::string_view length(reinterpret_cast<const char*>(bytes_.data()) + digits, pos_ - digits);
            if (!isDecimal(length, 4) || length == "0")
                fail(digits, "data field length \"" + std::string(length) + "\" is not 1.." +
                                 std::to_string(kMaxChunk));
            std::size_t count = std::stoul(std::string(length));
            if (count > kMaxChunk)
                fail(digits, "data field of " + std::to_string(count) + " bytes, more than " +
                                 std::to_string(kMaxChunk));
            if (!take("="))
                fail(pos_, "expected \"=\" after the data field length, found " + found());
            if (bytes_.size() - pos_ < count)
                fail(chunkAt, "data field of " + std::to_string(count) + " bytes cut off after " +
                                  std::to_string(bytes_.size() - pos_));
            page.data.insert(page.data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                             bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + count));
            pos_ += count;
            if (!take(";"))
                fail(pos_, "expected \";\" after " + std::to_string(count) + " data bytes, found " + found());
            page.chunks.push_back(count);
        }
        if (!take(kEndOfPage))
            fail(pos_, "expected a data field or \"Event=EndOfPage;\" in page " + std::to_string(number) +
                           ", found " + found());
        return page;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace

StreamError::StreamError(std::size_t offset, const std::string& what)
    : std::runtime_error("offset " + std::to_string(offset) + ": " + what), offset_(offset)
{
}

Job parseJobStream(std::span<const std::uint8_t> bytes)
{
    return Parser(bytes).run();
}

}  // namespace vexo::jobstream
