// Synthetic segmentation images: paper, xorshift noise, ellipses of sinusoidal ridges.

#include "tests/segmentation/seg_images.h"
#include "tests/support/test_random.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace segtest {

std::vector<unsigned char> Blank(int w, int h, unsigned char paper)
{
    return std::vector<unsigned char>(static_cast<std::size_t>(w) * h, paper);
}

namespace {

// xorshift32 step.
std::uint32_t Next(std::uint32_t& s)
{
    return zftest::XorShift32(s);
}

} // namespace

std::vector<unsigned char> Noise(int w, int h, unsigned seed)
{
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h);
    std::uint32_t s = seed != 0 ? seed : 1u;
    for (unsigned char& p : img) {
        p = static_cast<unsigned char>(Next(s) >> 24);
    }
    return img;
}

std::vector<unsigned char> Dust(int w, int h, unsigned seed, unsigned sparsity)
{
    std::vector<unsigned char> img = Blank(w, h);
    std::uint32_t s = seed != 0 ? seed : 1u;
    for (unsigned char& p : img) {
        if (Next(s) % sparsity == 0) {
            p = 0;
        }
    }
    return img;
}

std::vector<unsigned char> Fingers(int w, int h, const std::vector<Finger>& fingers, double period)
{
    const double pi = std::acos(-1.0);
    std::vector<unsigned char> img = Blank(w, h);
    for (const Finger& f : fingers) {
        const double c = std::cos(f.angle);
        const double s = std::sin(f.angle);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                // Coordinates along (v) and across (u) the finger's axis.
                const double rx = x - f.cx;
                const double ry = y - f.cy;
                const double u = rx * c - ry * s;
                const double v = rx * s + ry * c;
                if ((u * u) / (f.rx * f.rx) + (v * v) / (f.ry * f.ry) > 1.0) {
                    continue;
                }
                // Arched ridges: rings round a point near the top of the finger.
                const double r = std::sqrt(u * u + (v + 0.6 * f.ry) * (v + 0.6 * f.ry));
                const double g = 128.0 + 110.0 * std::sin(2.0 * pi * r / period);
                img[static_cast<std::size_t>(y) * w + x] = static_cast<unsigned char>(g);
            }
        }
    }
    return img;
}

} // namespace segtest
