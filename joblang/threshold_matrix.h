// Threshold matrices of the halftoner and the darkness curve.
#pragma once

#include <array>
#include <cstdint>

namespace vexo::joblang {

inline constexpr int ClusterWidth = 128;
inline constexpr int ClusterHeight = 128;

using Matrix4 = std::array<std::uint8_t, 16>;
using Matrix128 = std::array<std::uint8_t, ClusterWidth * ClusterHeight>;

// Used when darkness is off: the values 8..248 in steps of 16.
extern const Matrix4 kDither4x4;

// The 128 x 128 supercell: 16 x 16 tiles of an 8 x 8 two-dot cell on a
// 45-degree screen, each tile shifted by -2..+2 so that together they take
// every value 0..254.
const Matrix128& FINE_TAry_128();

// Exponent of darkness level 0..5 (0 = off, 1 lightest .. 5 darkest).
float darknessGamma(int level);

// The page matrix of darkness level 1..4: the supercell through the curve
// (i / 255)^gamma, kept within 1..254.
Matrix128 curvedMatrix(float gamma);

}  // namespace vexo::joblang
