// Bilinear and quadratic image stretch. The order of evaluation is part of the result: float
// steps and double weights stay exactly as written, and the project builds without
// floating-point contraction (-ffp-contract=off), so no fused multiply-add changes a pixel.

#include "imaging/stretch.h"

#include <cstddef>

namespace {

// Float or double to unsigned, truncated; negatives and NaN give 0, values past the range of
// unsigned give its largest value (a plain conversion is undefined there).
template <typename T> unsigned StTrunc(T v)
{
    if (!(v > 0)) {
        return 0;
    }
    return v >= static_cast<T>(4294967295.0) ? 0xFFFFFFFFu : static_cast<unsigned>(v);
}

// Interpolated grey value to a byte, rounded. Near the last source row and column an
// enlargement extrapolates (weights outside 0..1), so the value is clamped to 0..255.
unsigned char StRoundByte(double v)
{
    return v >= 254.5 ? 255 : (v <= 0 ? 0 : static_cast<unsigned char>(v + 0.5));
}

} // namespace

void stretch(unsigned width, unsigned height, unsigned stride, const unsigned char* src, float fx,
             float fy, unsigned* outWidth, unsigned* outHeight, unsigned char* dst)
{
    // 1. Output sizes, multiples of 4 rounded down.
    const unsigned ow = StTrunc(static_cast<float>(width) * fx) & ~3u;
    const unsigned oh = StTrunc(static_cast<float>(height) * fy) & ~3u;
    if (outWidth != nullptr) {
        *outWidth = ow;
    }
    if (outHeight != nullptr) {
        *outHeight = oh;
    }
    if (oh == 0 || ow == 0 || width < 2 || height < 2 || src == nullptr || dst == nullptr) {
        return;
    }
    // 2. Bilinear weights per row and column; the last column copies the source row's end.
    for (unsigned r = 0; r < oh; ++r) {
        const float sy = static_cast<float>(r) / fy;
        unsigned iy = StTrunc(sy);
        iy = iy < height - 2 ? iy : height - 2;
        const double dy = static_cast<double>(sy - static_cast<float>(iy));
        const double wy = 1.0 - dy;
        const unsigned char* row0 = src + static_cast<std::size_t>(iy) * stride;
        const unsigned char* row1 = row0 + stride;
        unsigned char* out = dst + static_cast<std::size_t>(r) * ow;
        for (unsigned c = 0; c + 1 < ow; ++c) {
            const float sx = static_cast<float>(c) / fx;
            unsigned ix = StTrunc(sx);
            ix = ix < width - 2 ? ix : width - 2;
            const double dx = static_cast<double>(sx - static_cast<float>(ix));
            const double wx = 1.0 - dx;
            const double p00 = row0[ix];
            const double p01 = row0[ix + 1];
            const double p10 = row1[ix];
            const double p11 = row1[ix + 1];
            const double v = p00 * wy * wx + p01 * dx * wy + wx * (p10 * dy) + p11 * dy * dx;
            out[c] = StRoundByte(v);
        }
        out[ow - 1] = row0[width - 1];
    }
}

void stretch4(unsigned width, unsigned height, const unsigned char* src, float fx, float fy,
              unsigned* outWidth, unsigned* outHeight, unsigned char* dst)
{
    // 1. Output sizes: the width a multiple of 4, the height as computed.
    const unsigned oh = StTrunc(static_cast<float>(height) * fy);
    const unsigned ow = StTrunc(static_cast<float>(width) * fx) & ~3u;
    if (outWidth != nullptr) {
        *outWidth = ow;
    }
    if (outHeight != nullptr) {
        *outHeight = oh;
    }
    if (width < 3 || height < 3 || src == nullptr || dst == nullptr) {
        return;
    }
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    for (unsigned r = 0; r < oh; ++r) {
        // 2. Three source rows from iy, iy clamped so that iy + 2 stays inside.
        const float sy = static_cast<float>(r) / fy;
        unsigned iy = StTrunc(sy);
        iy = iy >= height - 2 ? height - 3 : iy;
        const double ty = static_cast<double>(sy) - static_cast<double>(iy);
        const double ky = ty * (ty - 1);
        unsigned char* out = dst + static_cast<std::size_t>(r) * ow;
        for (unsigned c = 0; c < ow; ++c) {
            // 3. Quadratic through three pixels along each row, then down the column.
            const float sx = static_cast<float>(c) / fx;
            unsigned ix = StTrunc(sx);
            ix = ix >= width - 2 ? width - 3 : ix;
            const double tx = static_cast<double>(sx) - static_cast<double>(ix);
            const double kx = tx * (tx - 1);
            double q[3];
            for (int j = 0; j < 3; ++j) {
                const unsigned char* row = src + (iy + j) * stride + ix;
                const double a = row[0];
                const double b = row[1];
                const double e = row[2];
                q[j] = a + tx * (b - a) + 0.5 * kx * (a + e - 2 * b);
            }
            const double v = q[0] + ty * (q[1] - q[0]) + 0.5 * ky * (q[0] + q[2] - 2 * q[1]);
            out[c] = v >= 255.0 ? 255 : (v <= 0 ? 0 : static_cast<unsigned char>(v));
        }
    }
}
