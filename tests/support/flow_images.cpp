// Synthetic flow images: gratings, zero-pole ridge patterns grown by oriented Gabor filtering
// of seeded noise, and the loader's check value.

#include "tests/support/flow_images.h"
#include "tests/support/test_random.h"

#include <algorithm>
#include <cmath>

namespace zftest {
namespace {

const double kPi = std::acos(-1.0);

// xorshift32: the same sequence on every platform.
unsigned Next(unsigned& s)
{
    return zftest::XorShift32(s);
}

} // namespace

std::uint16_t CheckValue(const unsigned char* pixels, int w, int h)
{
    const long n = static_cast<long>(w) * h;
    if (pixels == nullptr || n <= 255) {
        return 0;
    }
    unsigned sum = 0;
    for (long i = 0; i < n - 255;) {
        const long j = i + pixels[i];
        sum = (sum + pixels[j]) & 0xFFFFu;
        i = j + 1;
    }
    return static_cast<std::uint16_t>(sum);
}

std::vector<unsigned char> Grating(int w, int h, double angle, double period, double amplitude)
{
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h);
    const double c = std::cos(angle * kPi / 180.0);
    const double s = std::sin(angle * kPi / 180.0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double v = 128.0 + amplitude * std::cos(2.0 * kPi * (x * c + y * s) / period);
            img[static_cast<std::size_t>(y) * w + x] =
                static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
        }
    }
    return img;
}

double FlowAngle(const std::vector<Pole>& poles, double base, double x, double y)
{
    double t = base * kPi / 180.0;
    for (const Pole& p : poles) {
        t += 0.5 * p.sign * std::atan2(y - p.y, x - p.x);
    }
    double d = std::fmod(t * 180.0 / kPi, 180.0);
    return d < 0 ? d + 180.0 : d;
}

std::vector<unsigned char> FlowImage(int w, int h, const std::vector<Pole>& poles, double base,
                                     double period, unsigned seed)
{
    constexpr int kBins = 64;
    constexpr int kRadius = 7;
    constexpr int kSide = 2 * kRadius + 1;
    // Gabor kernels across the ridge for kBins ridge directions.
    std::vector<double> kernels(static_cast<std::size_t>(kBins) * kSide * kSide);
    const double sigma = period * 0.6;
    for (int b = 0; b < kBins; ++b) {
        const double t = kPi * b / kBins;
        const double nx = -std::sin(t);
        const double ny = std::cos(t); // normal of the ridge direction
        for (int dy = -kRadius; dy <= kRadius; ++dy) {
            for (int dx = -kRadius; dx <= kRadius; ++dx) {
                const double across = dx * nx + dy * ny;
                const double g = std::exp(-(dx * dx + dy * dy) / (2.0 * sigma * sigma));
                kernels[(static_cast<std::size_t>(b) * kSide + dy + kRadius) * kSide + dx +
                        kRadius] = g * std::cos(2.0 * kPi * across / period);
            }
        }
    }
    std::vector<int> bin(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double a = FlowAngle(poles, base, x, y);
            bin[static_cast<std::size_t>(y) * w + x] =
                static_cast<int>(std::lround(a * kBins / 180.0)) % kBins;
        }
    }
    std::vector<double> cur(static_cast<std::size_t>(w) * h);
    unsigned s = seed == 0 ? 1u : seed;
    for (double& v : cur) {
        v = (Next(s) % 2001) / 1000.0 - 1.0;
    }
    std::vector<double> next(cur.size());
    for (int it = 0; it < 8; ++it) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const double* k =
                    &kernels[static_cast<std::size_t>(bin[static_cast<std::size_t>(y) * w + x]) *
                             kSide * kSide];
                double acc = 0.0;
                for (int dy = -kRadius; dy <= kRadius; ++dy) {
                    const int yy = std::clamp(y + dy, 0, h - 1);
                    for (int dx = -kRadius; dx <= kRadius; ++dx) {
                        const int xx = std::clamp(x + dx, 0, w - 1);
                        acc += k[(dy + kRadius) * kSide + dx + kRadius] *
                               cur[static_cast<std::size_t>(yy) * w + xx];
                    }
                }
                next[static_cast<std::size_t>(y) * w + x] = std::tanh(acc);
            }
        }
        cur.swap(next);
    }
    std::vector<unsigned char> img(cur.size());
    for (std::size_t i = 0; i < cur.size(); ++i) {
        img[i] =
            static_cast<unsigned char>(std::clamp(std::lround(128.0 + 100.0 * cur[i]), 0L, 255L));
    }
    return img;
}

} // namespace zftest
