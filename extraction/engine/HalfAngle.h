// The halved direction of a doubled-angle vector of byte range (the flow stages' smoothed
// vectors, components -128..128): atan(x, y) / 2 by a first-quadrant table and the signs, without
// atan's division.
#pragma once

#include "extraction/engine/FixedMath.h"

#include <cstdint>

namespace wizard73 {

// atan(x, y) of the first quadrant, x, y = 0..128, at v[x][y] (degrees 0..90).
struct QuadrantTable {
    std::uint8_t v[129][129];
};
constexpr QuadrantTable MakeQuadrant()
{
    QuadrantTable t{};
    for (int x = 0; x <= 128; ++x) {
        for (int y = 0; y <= 128; ++y) {
            t.v[x][y] = static_cast<std::uint8_t>(atan(x, y));
        }
    }
    return t;
}
inline constexpr QuadrantTable kQuadrant = MakeQuadrant();
static_assert(kQuadrant.v[0][0] == 0 && kQuadrant.v[0][5] == 90 && kQuadrant.v[7][0] == 0 &&
              kQuadrant.v[128][128] == 45);

// atan(x, y) / 2, 0..179, for |x| <= 128 and |y| <= 128: the quadrant angle a of (|x|, |y|) is
// turned by the signs, the positive x axis (and the zero vector) giving a itself.
inline int HalfAtan(int x, int y)
{
    const int a = kQuadrant.v[x < 0 ? -x : x][y < 0 ? -y : y];
    const int d =
        y > 0 || (y == 0 && x >= 0) ? (x >= 0 ? a : 180 - a) : (x > 0 ? 360 - a : 180 + a);
    return static_cast<int>(static_cast<unsigned>(d) / 2);
}

} // namespace wizard73
