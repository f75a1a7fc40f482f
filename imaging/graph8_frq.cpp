// Ridge frequency field: mean crossings of the grey profile across the ridges of each block,
// read through a per-direction table of rotated window offsets (2B rows of B pixels), and the
// vote-based correction of the field. Temporary buffers are owned by unique_ptr.

#include "imaging/graph8_frq.h"

#include "imaging/graph8_dir.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace {

constexpr int FR_MAX_SHIFT = 7;
constexpr int FR_MAX_COUNT = 16;
constexpr int FR_SWING = 128;      // a row sum must leave mean +-128 to count
constexpr int FR_MAX_ROUNDS = 100; // relabelling rounds of the correction
constexpr int FR_LOWEST_OK = 2;    // plausible crossing counts
constexpr int FR_HIGHEST_OK = 10;

} // namespace

namespace imaging_detail {

namespace {

// The window's rows advance along d + 90 degrees (cosine c, sine s), across the ridges, from
// the corner (x0, y0).
struct FrAxes {
    double c;
    double s;
    double x0;
    double y0;
};

FrAxes FrWindowAxes(int d, int B)
{
    const double b = B;
    const double halfB = B / 2;
    const double c = arr_cos_f720[d + 90];
    const double s = arr_sin_f720[d + 90];
    return {c, s, -b * c - halfB * s, -b * s + halfB * c};
}

} // namespace

void FrWindowScalar(int* out, int d, int B, int w)
{
    const auto [c, s, x0, y0] = FrWindowAxes(d, B);
    for (int r = 0; r < 2 * B; ++r) {
        const double xr = x0 + r * c;
        const double yr = y0 + r * s;
        for (int k = 0; k < B; ++k) {
            const double x = xr + k * s;
            const double y = -yr + k * c;
            *out++ = w * static_cast<int>(y) + static_cast<int>(x);
        }
    }
}

#if defined(__SSE2__)
// The same double arithmetic, two pixels a vector and four a step: the products, sums and
// truncations are those of the twin, and the low 32 bits of the unsigned 32 x 32 products are
// those of the signed w * y.
void FrWindow(int* out, int d, int B, int w)
{
    const auto [c, s, x0, y0] = FrWindowAxes(d, B);
    const __m128d sv = _mm_set1_pd(s);
    const __m128d cv = _mm_set1_pd(c);
    const __m128i wv = _mm_set1_epi32(w);
    for (int r = 0; r < 2 * B; ++r) {
        const double xr = x0 + r * c;
        const double yr = y0 + r * s;
        const __m128d xrv = _mm_set1_pd(xr);
        const __m128d yrv = _mm_set1_pd(-yr);
        __m128d k01 = _mm_set_pd(1, 0); // whole numbers: exact as doubles
        __m128d k23 = _mm_set_pd(3, 2);
        int k = 0;
        for (; k + 4 <= B; k += 4) {
            const __m128i xi =
                _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(xrv, _mm_mul_pd(k01, sv))),
                                   _mm_cvttpd_epi32(_mm_add_pd(xrv, _mm_mul_pd(k23, sv))));
            const __m128i yi =
                _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(yrv, _mm_mul_pd(k01, cv))),
                                   _mm_cvttpd_epi32(_mm_add_pd(yrv, _mm_mul_pd(k23, cv))));
            const __m128i even = _mm_mul_epu32(yi, wv);
            const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(yi, 32), wv);
            const __m128i wy = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi32(wy, xi));
            out += 4;
            k01 = _mm_add_pd(k01, _mm_set1_pd(4));
            k23 = _mm_add_pd(k23, _mm_set1_pd(4));
        }
        for (; k < B; ++k) {
            const double x = xr + k * s;
            const double y = -yr + k * c;
            *out++ = w * static_cast<int>(y) + static_cast<int>(x);
        }
    }
}
#else
void FrWindow(int* out, int d, int B, int w)
{
    FrWindowScalar(out, d, B, w);
}
#endif

} // namespace imaging_detail

void GetFrequenciesPrecalc8(int* table, int B, int w)
{
    if (table == nullptr || B < 1) {
        return;
    }
    for (int d = 0; d < 180; ++d) {
        imaging_detail::FrWindow(table + static_cast<std::size_t>(d) * 2 * B * B, d, B, w);
    }
}

int GetFrequencies8(const unsigned char* img, unsigned w, unsigned h, int s,
                    const unsigned char* mask, const unsigned char* dir, unsigned char* freq)
{
    if (s < 0 || s > FR_MAX_SHIFT || (w >> s) == 0 || (h >> s) == 0) {
        return IMG_BAD_GEOMETRY;
    }
    if (freq == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    const int b = 1 << s;
    // 1. Profile and offset table. The window reaches at most 1.12 B from the block's centre,
    //    and the centres of interior blocks lie 1.5 B - 1 or more inside the image. A
    //    direction's window is made when a block first needs it, so the table is not cleared.
    auto profile = std::make_unique<int[]>(2 * static_cast<std::size_t>(b));
    const std::size_t perDir = 2 * static_cast<std::size_t>(b) * b;
    std::unique_ptr<int[]> table(new int[180 * perDir]);
    bool made[180] = {};

    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            const std::size_t i = static_cast<std::size_t>(by) * bw + bx;
            // 2. The outermost ring and masked blocks have no count.
            const bool ring = by == 0 || bx == 0 || by + 1 == bh || bx + 1 == bw;
            if (ring || (mask != nullptr && mask[i] != 0)) {
                freq[i] = 1;
                continue;
            }
            // 3. Row sums of the turned window and their mean.
            const unsigned char* centre =
                img + static_cast<std::size_t>(by * b + b / 2) * w + (bx * b + b / 2);
            const int d = dir[i] % 180;
            int* rows = table.get() + static_cast<std::size_t>(d) * perDir;
            if (!made[d]) {
                imaging_detail::FrWindow(rows, d, b, static_cast<int>(w));
                made[d] = true;
            }
            int total = 0;
            for (int r = 0; r < 2 * b; ++r) {
                int sum = 0;
#pragma GCC unroll 16
                for (int k = 0; k < b; ++k) {
                    sum += centre[rows[r * b + k]];
                }
                profile[r] = sum;
                total += sum;
            }
            const int mean = total >> (s + 1);
            // 4. Crossings of the band mean +-128.
            enum { UNDECIDED, ABOVE, BELOW } state = UNDECIDED;
            int count = 0;
            for (int r = 0; r < 2 * b; ++r) {
                if (profile[r] < mean - FR_SWING) {
                    count += state == ABOVE ? 1 : 0;
                    state = BELOW;
                } else if (profile[r] > mean + FR_SWING) {
                    count += state == BELOW ? 1 : 0;
                    state = ABOVE;
                }
            }
            freq[i] = static_cast<unsigned char>(
                count == 0 ? 1 : (count > FR_MAX_COUNT ? FR_MAX_COUNT : count));
        }
    }
    return 0;
}

int FreqCorrection8(unsigned char* freq, unsigned bw, unsigned bh, unsigned char* mask)
{
    if (bw == 0 || bh == 0) {
        return IMG_BAD_GEOMETRY;
    }
    if (freq == nullptr || mask == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const std::size_t n = static_cast<std::size_t>(bw) * bh;
    const bool full = bw >= 3 && bh >= 3; // grids with a 3x3 neighbourhood somewhere
    // 1. Smoothing.
    if (full) {
        Blur8(freq, bw, bh, 1);
    }
    // 2. Relabelling: each open block takes the count nearest to its 3x3 neighbourhood, the
    //    lowest count on ties.
    auto work = std::make_unique<unsigned char[]>(4 * n);
    unsigned char* plane = work.get();
    unsigned char* summed = plane + n;
    unsigned char* bestSum = summed + n;
    unsigned char* best = bestSum + n;
    for (int round = 0; round < FR_MAX_ROUNDS; ++round) {
        for (int k = 1; k <= FR_MAX_COUNT; ++k) {
            // Distances are at most 16, so nine of them fit the 8-bit sums.
            const unsigned char c = static_cast<unsigned char>(k);
            std::size_t i = 0;
            for (; i + sizeof(imaging_detail::Lanes8) <= n; i += sizeof(imaging_detail::Lanes8)) {
                imaging_detail::Lanes8 f;
                imaging_detail::Lanes8 m;
                std::memcpy(&f, freq + i, sizeof f);
                std::memcpy(&m, mask + i, sizeof m);
                imaging_detail::Lanes8 d = f > c ? f - c : c - f;
                d = d > 16 || m != 0 ? 16 : d;
                std::memcpy(plane + i, &d, sizeof d);
            }
            for (; i < n; ++i) {
                const int d = freq[i] > k ? freq[i] - k : k - freq[i];
                plane[i] = static_cast<unsigned char>(mask[i] == 0 ? (d > 16 ? 16 : d) : 16);
            }
            const unsigned char* votes = plane;
            if (full) {
                Summ3x3To8(plane, bw, bh, summed);
                votes = summed;
            }
            if (k == 1) {
                std::copy(votes, votes + n, bestSum);
                std::fill(best, best + n, static_cast<unsigned char>(1));
                continue;
            }
            imaging_detail::KeepLowestVote8(votes, n, static_cast<unsigned char>(k), bestSum, best);
        }
        bool changed = false;
        for (std::size_t i = 0; i < n; ++i) {
            if (mask[i] == 0 && freq[i] != best[i]) {
                freq[i] = best[i];
                changed = true;
            }
        }
        if (!changed) {
            break;
        }
    }
    // 3. Implausible counts leave the region.
    for (std::size_t i = 0; i < n; ++i) {
        if (mask[i] == 0 && (freq[i] < FR_LOWEST_OK || freq[i] > FR_HIGHEST_OK)) {
            mask[i] = 1;
        }
    }
    return 0;
}

namespace {

// Column and row offset of sample t of the line along d + 90 degrees through a pixel.
void FrLinePoint(int d, int t, int b, int& dx, int& dy)
{
    const double c = arr_cos_f720[d + 90];
    const double s = arr_sin_f720[d + 90];
    dx = static_cast<int>((t - b) * c);
    dy = static_cast<int>(-(t - b) * s);
}

} // namespace

void GetFrequenciesLPrecalc8(int* table, int B, int w)
{
    if (table == nullptr || B < 1) {
        return;
    }
    for (int d = 0; d < 180; ++d) {
        for (int t = 0; t < 2 * B; ++t) {
            int dx = 0;
            int dy = 0;
            FrLinePoint(d, t, B, dx, dy);
            table[static_cast<std::size_t>(d) * 2 * B + t] = dy * w + dx;
        }
    }
}

int GetFrequenciesL8(const unsigned char* img, unsigned w, unsigned h, int s, int x1, int y1,
                     int x2, int y2, const unsigned char* dir, unsigned char* out)
{
    if (s < 1 || s > FR_MAX_SHIFT || x1 < 0 || y1 < 0 || x1 > x2 || y1 > y2 ||
        x2 >= static_cast<int>(w) || y2 >= static_cast<int>(h)) {
        return IMG_BAD_GEOMETRY;
    }
    if (out == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const int b = 1 << s;
    const int n = 2 * b;
    auto table = std::make_unique<int[]>(180 * static_cast<std::size_t>(n));
    GetFrequenciesLPrecalc8(table.get(), b, static_cast<int>(w));
    auto values = std::make_unique<int[]>(n);
    // The line reaches b pixels from its centre in each axis at most.
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x) {
            const std::size_t p = static_cast<std::size_t>(y) * w + x;
            if (x < b || y < b || x + b >= static_cast<int>(w) || y + b >= static_cast<int>(h)) {
                out[p] = 2;
                continue;
            }
            const int* line = table.get() + static_cast<std::size_t>(dir[p] % 180) * n;
            int sum = 0;
            for (int t = 0; t < n; ++t) {
                values[t] = img[static_cast<std::ptrdiff_t>(p) + line[t]];
                sum += values[t];
            }
            const int mean = sum / n;
            int bestLag = 2;
            long long best = -1;
            for (int lag = 2; lag < n; ++lag) {
                long long score = 0;
                for (int t = 0; t + lag < n; ++t) {
                    const int u = values[t];
                    const int v = values[t + lag];
                    if ((u < mean) != (v < mean)) {
                        score += u < v ? u : v;
                    }
                }
                if (score > best) {
                    best = score;
                    bestLag = lag;
                }
            }
            out[p] = static_cast<unsigned char>(bestLag);
        }
    }
    return 0;
}
