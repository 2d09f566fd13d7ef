#include "jobstream/jbig_decode.h"

#include <bit>
#include <string>

extern "C" {
#include <jbig.h>
}

namespace vexo::jobstream {
namespace {

unsigned long bigEndian32(const std::uint8_t* p)
{
    return (static_cast<unsigned long>(p[0]) << 24) | (static_cast<unsigned long>(p[1]) << 16) |
           (static_cast<unsigned long>(p[2]) << 8) | p[3];
}

// Frees the decoder whichever way decoding ends.
struct Decoder {
    jbg_dec_state state;
    Decoder() { jbg_dec_init(&state); }
    ~Decoder() { jbg_dec_free(&state); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

}  // namespace

std::size_t Bitmap::blackPixels() const
{
    std::size_t count = 0;
    const std::size_t full = width / 8;
    const unsigned rest = width % 8;
    const std::uint8_t restMask = static_cast<std::uint8_t>(0xff00u >> rest);
    for (unsigned long y = 0; y < height; ++y) {
        const std::uint8_t* row = bits.data() + y * stride();
        for (std::size_t i = 0; i < full; ++i)
            count += static_cast<std::size_t>(std::popcount(row[i]));
        if (rest)
            count += static_cast<std::size_t>(std::popcount(static_cast<std::uint8_t>(row[full] & restMask)));
    }
    return count;
}

BieHeader readBieHeader(std::span<const std::uint8_t> bie)
{
    if (bie.size() < 20)
        throw JbigError("image of " + std::to_string(bie.size()) + " bytes is shorter than its 20-byte header");
    const std::uint8_t* p = bie.data();
    BieHeader h;
    h.dl = p[0];
    h.d = p[1];
    h.planes = p[2];
    h.xd = bigEndian32(p + 4);
    h.yd = bigEndian32(p + 8);
    h.l0 = bigEndian32(p + 12);
    h.mx = p[16];
    h.my = p[17];
    h.order = p[18];
    h.options = p[19];
    return h;
}

DecodedImage decodeJbig(std::span<const std::uint8_t> bie)
{
    DecodedImage image;
    image.header = readBieHeader(bie);
    if (image.header.planes != 1)
        throw JbigError("image has " + std::to_string(image.header.planes) + " planes, expected 1");

    Decoder decoder;
    jbg_dec_maxsize(&decoder.state, kMaxSide, kMaxSide);
    std::vector<std::uint8_t> input(bie.begin(), bie.end());  // the decoder wants mutable input
    std::size_t used = 0;
    int result = jbg_dec_in(&decoder.state, input.data(), input.size(), &used);
    if (result == JBG_EAGAIN)
        throw JbigError("image is cut off after " + std::to_string(input.size()) + " bytes");
    if (result != JBG_EOK)
        throw JbigError(std::string("image does not decode: ") + jbg_strerror(result));
    if (used != input.size())
        throw JbigError(std::to_string(input.size() - used) + " byte(s) after the end of the image");

    Bitmap& bitmap = image.bitmap;
    bitmap.width = jbg_dec_getwidth(&decoder.state);
    bitmap.height = jbg_dec_getheight(&decoder.state);
    const unsigned char* plane = jbg_dec_getimage(&decoder.state, 0);
    if (!plane)
        throw JbigError("decoder returned no image");
    bitmap.bits.assign(plane, plane + bitmap.stride() * bitmap.height);
    return image;
}

}  // namespace vexo::jobstream
