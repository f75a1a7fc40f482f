// Synthetic ridge images for the direction, frequency and thinning tests.
#pragma once

#include <cmath>
#include <vector>

namespace imgtest {

// Sine ridges of the given period (pixels) whose ridge lines run at `degrees` counter-clockwise
// from the x axis with y up; grey 128 +- 100.
inline std::vector<unsigned char> Grating(unsigned w, unsigned h, double degrees, double period)
{
    const double pi = std::acos(-1.0);
    const double a = degrees * pi / 180.0;
    // Image rows grow downward: the ridge normal is (sin a, cos a) in (column, row).
    const double nx = std::sin(a);
    const double ny = std::cos(a);
    std::vector<unsigned char> img(static_cast<size_t>(w) * h);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            const double v = 128.0 + 100.0 * std::cos(2 * pi * (x * nx + y * ny) / period);
            img[static_cast<size_t>(y) * w + x] = static_cast<unsigned char>(v + 0.5);
        }
    }
    return img;
}

// Folded difference of two directions in degrees, 0..90.
inline int FoldedDelta(int a, int b)
{
    int d = std::abs(a - b) % 180;
    return d > 90 ? 180 - d : d;
}

} // namespace imgtest
