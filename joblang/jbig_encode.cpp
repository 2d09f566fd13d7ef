#include "jbig_encode.h"

extern "C" {
#include <jbig.h>
}

namespace vexo::joblang {
namespace {

void toSink(unsigned char* start, std::size_t length, void* sink)
{
    static_cast<ByteSink*>(sink)->write(start, length);
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
    // The encoder only reads the plane; its interface is not const-correct.
    unsigned char* planes[1] = {const_cast<unsigned char*>(bitmap)};
    jbg_enc_state state;
    jbg_enc_init(&state, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 1, planes, toSink,
                 &sink);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
}

std::vector<std::uint8_t> encodeJbig(const std::uint8_t* bitmap, int width, int height)
{
    VectorSink sink;
    encodeJbig(bitmap, width, height, sink);
    return std::move(sink.bytes);
}

}  // namespace vexo::joblang
