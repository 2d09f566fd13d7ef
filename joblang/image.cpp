#include "image.h"

#include "threshold_matrix.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexo::joblang {

Pixels allocatePixels(std::size_t bytes)
{
    return Pixels(new (std::nothrow) std::uint8_t[bytes == 0 ? 1 : bytes]);
}

PackedPage blankPage(int width, int height)
{
    PackedPage page{width, height, nullptr};
    const std::size_t bytes = page.stride() * static_cast<std::size_t>(height);
    page.bits = allocatePixels(bytes);
    if (page.bits)
        std::memset(page.bits.get(), 0, bytes);
    return page;
}

namespace {

// Where one output column (or row) samples the source, computed once per
// page so the pixel loop has no divisions.
struct Tap {
    int lo = 0;         // floor(f)
    int hi = 0;         // ceil(f)
    double wLo = 0;     // hi - f
    double wHi = 0;     // f - lo
    bool exact = true;  // lo == hi
    bool hiInside = true;
};

std::vector<Tap> taps(int count, int limit, double ratio)
{
    std::vector<Tap> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        double f = i / ratio;
        Tap& t = out[static_cast<std::size_t>(i)];
        t.lo = static_cast<int>(std::floor(f));
        t.hi = static_cast<int>(std::ceil(f));
        t.wLo = t.hi - f;
        t.wHi = f - t.lo;
        t.exact = t.lo == t.hi;
        t.hiInside = t.hi < limit;
    }
    return out;
}

}  // namespace

GrayPage zoomGrayPage(GrayPage src, double ratio)
{
    if (ratio == 1.0)
        return src;  // byte-identical; no need for a copy

    GrayPage dst{src.width, src.height, allocatePixels(src.size())};
    if (!dst.pixels)
        return GrayPage{src.width, src.height, nullptr};
    std::memset(dst.pixels.get(), 255, dst.size());

    const int width = src.width, height = src.height;
    const int outW = std::min(static_cast<int>(width * ratio), width);
    const int outH = std::min(static_cast<int>(height * ratio), height);
    if (outW <= 0 || outH <= 0)
        return dst;

    const std::vector<Tap> cols = taps(outW, width, ratio);
    const std::vector<Tap> rows = taps(outH, height, ratio);
    const std::vector<std::uint8_t> blackLine(static_cast<std::size_t>(width), 0);  // outside counts as 0
    const std::uint8_t* s = src.pixels.get();

    for (int r = 0; r < outH; ++r) {
        const Tap& ty = rows[static_cast<std::size_t>(r)];
        const std::uint8_t* row0 = s + static_cast<std::size_t>(ty.lo) * width;
        const std::uint8_t* row1 = ty.hiInside ? s + static_cast<std::size_t>(ty.hi) * width : blackLine.data();
        std::uint8_t* d = dst.pixels.get() + static_cast<std::size_t>(r) * width;
        for (int c = 0; c < outW; ++c) {
            const Tap& tx = cols[static_cast<std::size_t>(c)];
            const double p00 = row0[tx.lo];
            if (tx.exact && ty.exact) {
                d[c] = row0[tx.lo];
                continue;
            }
            const double p01 = tx.hiInside ? row0[tx.hi] : 0.0;
            const double p10 = row1[tx.lo];
            double value;
            if (tx.exact)
                value = ty.wLo * p00 + ty.wHi * p10;
            else if (ty.exact)
                value = tx.wLo * p00 + tx.wHi * p01;
            else {
                const double p11 = tx.hiInside ? row1[tx.hi] : 0.0;
                value = ty.wLo * (tx.wLo * p00 + tx.wHi * p01) + ty.wHi * (tx.wLo * p10 + tx.wHi * p11);
            }
            d[c] = static_cast<std::uint8_t>(value);
        }
    }
    return dst;
}

namespace {

constexpr std::array<std::uint8_t, 256> reversedBytes()
{
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            r |= ((i >> bit) & 1u) << (7 - bit);
        table[i] = static_cast<std::uint8_t>(r);
    }
    return table;
}
[[maybe_unused]] constexpr std::array<std::uint8_t, 256> kReversed = reversedBytes();

// The 4 x 4 matrix repeated over 128 x 128, so every level indexes the same way.
Matrix128 tiled4x4()
{
    Matrix128 m{};
    for (int y = 0; y < ClusterHeight; ++y)
        for (int x = 0; x < ClusterWidth; ++x)
            m[y * ClusterWidth + x] = kDither4x4[(y % 4) * 4 + x % 4];
    return m;
}

}  // namespace

Matrix128 pageMatrix(int level)
{
    if (level >= 1 && level <= 4)
        return curvedMatrix(darknessGamma(level));
    if (level == 5)
        return FINE_TAry_128();
    return tiled4x4();
}

void halftoneRow(const std::uint8_t* s, int width, int y, const Matrix128& matrix, std::uint8_t* d)
{
    const std::uint8_t* m = matrix.data() + (y % ClusterHeight) * ClusterWidth;
    const int wholeBytes = width / 8;
    int b = 0;
#if defined(__SSE2__)
    // Sixteen pixels per step: p <= t exactly where min(p, t) == p.
    for (; b + 2 <= wholeBytes; b += 2) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + b * 8));
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + (b * 8) % ClusterWidth));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(p, t), p)));
        // movemask puts the first pixel in bit 0; the page wants it in bit 7
        d[b] = kReversed[mask & 0xFF];
        d[b + 1] = kReversed[mask >> 8];
    }
#endif
    for (; b < wholeBytes; ++b) {
        const std::uint8_t* px = s + b * 8;
        const std::uint8_t* t = m + (b * 8) % ClusterWidth;  // never crosses the matrix row
        unsigned byte = 0;
        for (int k = 0; k < 8; ++k)
            byte = (byte << 1) | static_cast<unsigned>(px[k] <= t[k]);
        d[b] = static_cast<std::uint8_t>(byte);
    }
    if (width % 8) {
        unsigned byte = 0;
        for (int x = wholeBytes * 8; x < width; ++x)
            byte |= static_cast<unsigned>(s[x] <= m[x % ClusterWidth]) << (7 - x % 8);
        d[wholeBytes] = static_cast<std::uint8_t>(byte);
    }
}

PackedPage halftone(GrayPage src, int level)
{
    PackedPage out{src.width, src.height, nullptr};
    const std::size_t stride = out.stride();
    out.bits = allocatePixels(stride * static_cast<std::size_t>(src.height));
    if (!out.bits)
        return out;
    const Matrix128 matrix = pageMatrix(level);
    for (int y = 0; y < src.height; ++y)
        halftoneRow(src.pixels.get() + static_cast<std::size_t>(y) * src.width, src.width, y, matrix,
                    out.bits.get() + static_cast<std::size_t>(y) * stride);
    return out;
}

}  // namespace vexo::joblang
