// Synthetic grey images with a known ridge flow for the extraction engine's tests and tools:
// sinusoidal gratings, and ridge patterns grown by oriented filtering along a zero-pole
// orientation field (loops, whorls, deltas at chosen places). Also the check value that the
// engine's loader verifies. Angles in degrees, image rows grow downward.
#pragma once

#include <cstdint>
#include <vector>

namespace zftest {

// A singular point of a zero-pole orientation field: +1 a loop (core), -1 a delta; a whorl is
// two loops at the same place.
struct Pole {
    double x;
    double y;
    int sign;
};

// Check value of w * h pixels as the extraction driver computes it (0 for 255 pixels or less).
std::uint16_t CheckValue(const unsigned char* pixels, int w, int h);

// 128 + amplitude * cos(2 pi (x cos a + y sin a) / period): ridges run at a + 90 degrees.
std::vector<unsigned char> Grating(int w, int h, double angle, double period, double amplitude);

// Ridges of the given period along the orientation field
//   theta(x, y) = base + 1/2 * sum over poles of sign * atan2(y - py, x - px)
// (ridge direction, degrees), grown from seeded noise by repeated oriented filtering; grey
// 128 +- about 100.
std::vector<unsigned char> FlowImage(int w, int h, const std::vector<Pole>& poles, double base,
                                     double period, unsigned seed);

// Ridge direction (degrees 0..180) of the same field at (x, y).
double FlowAngle(const std::vector<Pole>& poles, double base, double x, double y);

} // namespace zftest
