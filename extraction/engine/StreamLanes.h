// Helpers of the flow stage (Stream.cpp) that work in vector lanes, each with its one-at-a-time
// twin: the relaxed orientation of a cell's ring, its eight candidates a lane each, the stop
// rule of a group of ridge walks, a walk a lane, and the
// template fit of singular cells (Stream's loops, Ifocus's three classes), its eight sectors a
// lane each.
#pragma once

#include <cstdint>

namespace wizard73 {

// Relaxed orientation (0..179) of the eight sector orientations o (0..255: half-turn angles or
// direction bytes) around the centre orientation c (0..255) under the Poincare sum p: of the
// candidates between opposite sectors, the last one of least cost.
int Trelax_StIndi(int c, const int* o, int p);
int Trelax_StIndiScalar(int c, const int* o, int p);

// Where the stop rule ends a walk of `steps` steps (0..64) that reached the pixels v[0 ..
// steps - 1], a bright walk's marked from 128 and a dark walk's below 127: the walk ends on its
// first unmarked pixel after marked ones, else takes every step. Gives the steps taken and the
// sums over them of v and of w (a paired walk's follower; without w, null, both sums are 0).
struct FlStopped {
    int taken;
    int v;
    int w;
};
FlStopped FlStopScalar(const unsigned char* v, const unsigned char* w, int steps, bool bright);

// FlStopScalar of the walks of a lockstep group (`lanes` 4 or 8) at once, out[j] for walk j:
// the pixels of step k of walk j at v[k * lanes + j] (w likewise, or null), walk j bright where
// bit j of `bright` is set.
void FlStopGroup(const unsigned char* v, const unsigned char* w, int lanes, int steps,
                 unsigned bright, FlStopped* out);

// Strength of a walk's value s over len steps with the noise floor, (s + l / 2) / l + noise at
// most 255 (l = len, 1 for 0), for the values of lockstep walks (0 .. 256 len, len 0..64) by a
// multiply in place of the division: with m = ceil(2^21 / l) = (2^21 + r) / l, r < l, (s + l /
// 2) m >> 21 is the quotient while (s + l / 2) r < 2^21, which (256 * 64 + 32) * 64 is.
struct FlStrength {
    FlStrength(int len, int floor)
        : half((len == 0 ? 1 : len) / 2),
          inverse(((std::uint32_t{1} << 21) + (len == 0 ? 1 : len) - 1) /
                  static_cast<std::uint32_t>(len == 0 ? 1 : len)),
          noise(floor)
    {
    }
    int operator()(int s) const
    {
        const int q =
            static_cast<int>((static_cast<std::uint32_t>(s + half) * inverse) >> 21) + noise;
        return q > 255 ? 255 : q;
    }
    int half;
    std::uint32_t inverse;
    int noise;
};

// The eight-sector template of a loop (degrees), fitted to the loop cells of Stream and Ifocus.
inline constexpr int kLoops[8] = {0, 3, 14, 50, 90, 130, 166, 177};

// CWork::FitTemplate (its one-at-a-time twin) for a template tpl and start theta0 in 0..359, the
// cell orientation c and the sector orientations o in 0..255.
int FitTemplateLanes(const int* tpl, int theta0, int trials, int c, const int* o);

} // namespace wizard73
