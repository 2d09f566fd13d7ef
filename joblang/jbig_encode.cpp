#include "jbig_encode.h"

#include <cstring>

extern "C" {
#include <jbig.h>
}

namespace vexo::joblang {
namespace {

// Follows the encoder's output to know which stripes it has encoded: each
// stripe's data ends with ESC SDNORM after the 20-byte header; inside the
// data every 0xFF is followed by 0x00, and an ATMOVE marker by 6 bytes.
class StripeCounter {
public:
    void feed(const unsigned char* data, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char byte = data[i];
            if (header_ > 0) {
                --header_;
            } else if (skip_ > 0) {
                --skip_;
            } else if (escape_) {
                escape_ = false;
                if (byte == kSdnorm)
                    ++done_;
                else if (byte == kAtmove)
                    skip_ = 6;
            } else {
                escape_ = byte == kEsc;
            }
        }
    }
    unsigned long done() const { return done_; }

private:
    static constexpr unsigned char kEsc = 0xff, kSdnorm = 0x02, kAtmove = 0x06;
    std::size_t header_ = 20;
    std::size_t skip_ = 0;
    bool escape_ = false;
    unsigned long done_ = 0;
};

struct Encoding {
    ByteSink& sink;
    std::uint8_t* clearable;  // the bitmap, when its caller gives it up
    std::size_t stride;
    unsigned long height;
    StripeCounter stripes;
    bool cleared = false;
};

// Called with each piece of a stripe once the stripe is encoded.
void toSink(unsigned char* start, std::size_t length, void* context)
{
    auto& encoding = *static_cast<Encoding*>(context);
    encoding.sink.write(start, length);
    if (!encoding.clearable || encoding.cleared)
        return;
    encoding.stripes.feed(start, length);
    if (!encoding.sink.stopped())
        return;
    // Lines the encoder still reads as context for the next stripe must stay
    // as they were encoded, or the rest would not decode as white: clear from
    // the stripe after the one whose output this may be part of.
    const unsigned long first = (encoding.stripes.done() + 1) * stripeLines(encoding.height);
    if (first < encoding.height)
        std::memset(encoding.clearable + first * encoding.stride, 0, (encoding.height - first) * encoding.stride);
    encoding.cleared = true;
}

void encode(const std::uint8_t* bitmap, std::uint8_t* clearable, int width, int height, ByteSink& sink)
{
    // The encoder only reads the plane; its interface is not const-correct.
    unsigned char* planes[1] = {const_cast<unsigned char*>(bitmap)};
    Encoding encoding{sink, clearable, static_cast<std::size_t>(width) / 8, static_cast<unsigned long>(height), {}};
    jbg_enc_state state;
    jbg_enc_init(&state, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 1, planes, toSink,
                 &encoding);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
}

class VectorSink final : public ByteSink {
public:
    void write(const std::uint8_t* data, std::size_t length) override { bytes.insert(bytes.end(), data, data + length); }
    std::vector<std::uint8_t> bytes;
};

}  // namespace

unsigned long stripeLines(unsigned long height)
{
    unsigned long l0 = height / 35;
    if (l0 > 128)
        l0 = 128;
    if (l0 < 2)
        l0 = 2;
    return l0;
}

void encodeJbig(const std::uint8_t* bitmap, int width, int height, ByteSink& sink)
{
    encode(bitmap, nullptr, width, height, sink);
}

void encodeJbig(std::uint8_t* bitmap, int width, int height, ByteSink& sink)
{
    encode(bitmap, bitmap, width, height, sink);
}

std::vector<std::uint8_t> encodeJbig(const std::uint8_t* bitmap, int width, int height)
{
    VectorSink sink;
    encodeJbig(bitmap, width, height, sink);
    return std::move(sink.bytes);
}

}  // namespace vexo::joblang
