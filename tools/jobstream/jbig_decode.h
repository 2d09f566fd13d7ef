// Decoding of the JBIG (T.82) page images a job stream carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace vexo::jobstream {

// The fixed 20-byte header of a bi-level image entity.
struct BieHeader {
    unsigned dl = 0, d = 0, planes = 0;
    unsigned long xd = 0, yd = 0, l0 = 0;
    unsigned mx = 0, my = 0;
    unsigned order = 0, options = 0;
};

// Rows of ceil(width / 8) bytes, leftmost pixel in the most significant bit,
// 1 = black.
struct Bitmap {
    unsigned long width = 0;
    unsigned long height = 0;
    std::vector<std::uint8_t> bits;

    std::size_t stride() const { return (width + 7) / 8; }
    bool black(unsigned long x, unsigned long y) const
    {
        return (bits[y * stride() + x / 8] >> (7 - x % 8)) & 1;
    }
    std::size_t blackPixels() const;
};

struct DecodedImage {
    BieHeader header;
    Bitmap bitmap;
};

class JbigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest page accepted, well beyond 1200 dpi A3; keeps a corrupt header
// from asking for gigabytes.
inline constexpr unsigned long kMaxSide = 30000;

BieHeader readBieHeader(std::span<const std::uint8_t> bie);

// Decodes exactly one single-plane BIE; trailing bytes, a cut-off image or
// more than one plane throw JbigError.
DecodedImage decodeJbig(std::span<const std::uint8_t> bie);

}  // namespace vexo::jobstream
