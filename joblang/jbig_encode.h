// JBIG (T.82) encoding of one packed 1-bit page with the encoder's defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexo::joblang {

// Lines per stripe the encoder picks for a page of `height` lines.
unsigned long stripeLines(unsigned long height);

// Receives the encoded image in the order the encoder emits it.
class ByteSink {
public:
    virtual void write(const std::uint8_t* data, std::size_t length) = 0;
    // The rest of the image is no longer wanted (its job was cancelled).
    virtual bool stopped() const { return false; }

protected:
    ~ByteSink() = default;
};

// Encodes `bitmap` (rows of width/8 bytes, MSB leftmost, 1 = black) into
// `sink`. `width` is a multiple of 8. Uses no state outside the call, so
// pages of different printers may be encoded at the same time.
void encodeJbig(const std::uint8_t* bitmap, int width, int height, ByteSink& sink);
// The same, for a page its caller may give up: once the sink has stopped,
// the bitmap is cleared from the next stripe on. The encoder cannot be
// interrupted; it then runs out on white lines in milliseconds instead of
// taking seconds over a page nobody wants, and the image stays whole.
void encodeJbig(std::uint8_t* bitmap, int width, int height, ByteSink& sink);

// The whole image in memory.
std::vector<std::uint8_t> encodeJbig(const std::uint8_t* bitmap, int width, int height);

}  // namespace vexo::joblang
