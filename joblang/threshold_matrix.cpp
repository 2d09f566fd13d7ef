#include "threshold_matrix.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vexo::joblang {

const Matrix4 kDither4x4 = {
    56,  168, 104, 40,   //
    120, 200, 248, 184,  //
    152, 216, 232, 136,  //
    8,   72,  88,  24,
};

namespace {

// Mean thresholds of the 8 x 8 cell; only their order is used here.
constexpr std::uint8_t kCell[8][8] = {
    {65, 50, 58, 113, 189, 204, 196, 141},  {34, 2, 18, 97, 220, 252, 236, 157},
    {42, 10, 26, 105, 212, 244, 228, 149},  {89, 73, 81, 121, 165, 181, 173, 133},
    {185, 200, 192, 137, 69, 54, 62, 117},  {216, 248, 232, 153, 38, 6, 22, 101},
    {208, 240, 224, 145, 46, 14, 30, 109},  {161, 177, 169, 129, 93, 77, 85, 125},
};

// The first two tiles of the top two rows are fixed values that prints have
// been tuned against; the rest of the tile order is free.
constexpr std::uint8_t kFixedRows[2][16] = {
    {67, 51, 59, 114, 190, 206, 198, 143, 64, 48, 56, 111, 187, 203, 195, 140},
    {35, 3, 19, 98, 222, 254, 238, 159, 32, 0, 16, 95, 219, 250, 235, 155},
};

constexpr int kTiles = 256;
constexpr int kLevels = 64 * kTiles;  // one global rank per matrix entry

// Rank 0..16383 spread onto 0..254: the ends get 33 entries, the rest 64 or 65.
int valueOfRank(int rank)
{
    return (rank * 254 * 2 + (kLevels - 1)) / (2 * (kLevels - 1));
}

// Dispersed order of the 16 x 16 tiles, so neighbouring tiles take turns.
std::array<int, kTiles> bayerTileOrder()
{
    constexpr int kQuadrant[2][2] = {{0, 2}, {3, 1}};
    std::array<int, kTiles> order{};
    for (int t = 0; t < kTiles; ++t) {
        int y = t / 16, x = t % 16, v = 0;
        for (int bit = 0; bit < 4; ++bit)
            v = v * 4 + kQuadrant[(y >> bit) & 1][(x >> bit) & 1];
        order[t] = v;
    }
    return order;
}

Matrix128 buildSupercell()
{
    std::array<std::uint8_t, 64> cellValues{};
    for (int i = 0; i < 64; ++i)
        cellValues[i] = kCell[i / 8][i % 8];
    std::array<int, 64> cellRank{};  // position in the cell -> dot growth order
    std::array<int, 64> byValue{};
    std::iota(byValue.begin(), byValue.end(), 0);
    std::sort(byValue.begin(), byValue.end(), [&](int a, int b) { return cellValues[a] < cellValues[b]; });
    for (int r = 0; r < 64; ++r)
        cellRank[byValue[r]] = r;

    // For each cell rank a permutation of the tiles; global rank = k*256 + order.
    std::array<std::array<int, kTiles>, 64> tileOrder{};
    tileOrder.fill(bayerTileOrder());
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 16; ++x) {
            int tile = x / 8, k = cellRank[row * 8 + x % 8];
            int lo = 0;
            while (valueOfRank(k * kTiles + lo) < kFixedRows[row][x])
                ++lo;
            int hi = lo;
            while (hi + 1 < kTiles && valueOfRank(k * kTiles + hi + 1) == kFixedRows[row][x])
                ++hi;
            auto& order = tileOrder[k];
            int target = (lo + hi + 1) / 2;
            std::swap(*std::find(order.begin(), order.end(), target), order[tile]);
        }
    }

    Matrix128 m{};
    for (int y = 0; y < ClusterHeight; ++y)
        for (int x = 0; x < ClusterWidth; ++x) {
            int tile = (y / 8) * 16 + x / 8, k = cellRank[(y % 8) * 8 + x % 8];
            m[y * ClusterWidth + x] = static_cast<std::uint8_t>(valueOfRank(k * kTiles + tileOrder[k][tile]));
        }
    return m;
}

}  // namespace

const Matrix128& FINE_TAry_128()
{
    static const Matrix128 matrix = buildSupercell();
    return matrix;
}

float darknessGamma(int level)
{
    constexpr float kGamma[6] = {0.0f, 4.0f, 2.0f, 1.65f, 1.35f, 1.0f};
    return (level >= 0 && level <= 5) ? kGamma[level] : 0.0f;
}

Matrix128 curvedMatrix(float gamma)
{
    std::array<std::uint8_t, 256> curve{};
    for (int i = 0; i < 256; ++i) {
        float base = static_cast<float>(i) / 255.0f;
        float power = static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(gamma)));
        curve[i] = static_cast<std::uint8_t>(static_cast<int>(power * 255.0f + 0.5));
    }
    auto clamp = [](int v) { return std::clamp(v, 1, 254); };
    Matrix128 m{};
    const Matrix128& fine = FINE_TAry_128();
    for (std::size_t i = 0; i < m.size(); ++i)
        m[i] = static_cast<std::uint8_t>(clamp(curve[clamp(fine[i])]));
    return m;
}

}  // namespace vexo::joblang
