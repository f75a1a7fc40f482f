// The 3 x 3 rank smoothing of a row and the weighted rank mean of gathered values: a lane-wise
// form over sixteen pixels and its scalar twin. Both put each pixel's nine values in rank order
// with compare-exchange networks (the lane-wise one up to the order of two equally weighted
// ranks), and a sort's result does not depend on the method, so the bytes are the same. Also the
// directional responses of a row, eight pixels at a time.

#include "extraction/engine/RankRow.h"

#include "extraction/engine/Codex.h"
#include "extraction/engine/RankLanes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace {

using namespace rank_lanes;

// The means of the sixteen pixels at src (rows `stride` apart, with their neighbours).
[[gnu::always_inline]] inline RankBytes RankRowLanes(const unsigned char* p, int stride)
{
    RankBytes v[9] = {LoadRank(p - stride - 1), LoadRank(p - stride), LoadRank(p - stride + 1),
                      LoadRank(p - 1),          LoadRank(p),          LoadRank(p + 1),
                      LoadRank(p + stride - 1), LoadRank(p + stride), LoadRank(p + stride + 1)};
    return RankMeanLanes(v);
}

// The weighted rank mean of one pixel's nine values (sorted in place).
int RankMean9(int* v)
{
    Codex::SortSmall(v, 9);
    return (v[0] + v[1] + 2 * v[2] + 2 * v[3] + 4 * v[4] + 2 * v[5] + 2 * v[6] + v[7] + v[8] + 8) >>
           4;
}

// Eight pixels widened to 16-bit lanes, for the directional responses.
constexpr int LANES = 8;
using Bytes = std::uint8_t __attribute__((vector_size(LANES)));
using Lanes = std::uint16_t __attribute__((vector_size(2 * LANES)));

Lanes Load(const unsigned char* p)
{
#if defined(__SSE2__)
    // One 8-byte load interleaved with zeros (GCC widens the generic form through two loads).
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return (Lanes)_mm_unpacklo_epi8(b, _mm_setzero_si128());
#else
    Bytes b;
    std::memcpy(&b, p, sizeof b);
    return __builtin_convertvector(b, Lanes);
#endif
}

} // namespace

void RankRow3x3Scalar(const unsigned char* src, int stride, unsigned char* dst, int count)
{
    for (int x = 0; x < count; ++x) {
        const unsigned char* p = src + x;
        int v[9] = {p[-stride - 1], p[-stride],    p[-stride + 1], p[-1],        p[0],
                    p[1],           p[stride - 1], p[stride],      p[stride + 1]};
        dst[x] = static_cast<unsigned char>(RankMean9(v));
    }
}

void RankRow3x3(const unsigned char* src, int stride, unsigned char* dst, int count)
{
    int x = 0;
    for (; x + RANK_LANES <= count; x += RANK_LANES) {
        const RankBytes out = RankRowLanes(src + x, stride);
        std::memcpy(dst + x, &out, sizeof out);
    }
    if (x < count && count >= RANK_LANES) {
        // The last sixteen pixels again: the same bytes where they overlap.
        const RankBytes out = RankRowLanes(src + count - RANK_LANES, stride);
        std::memcpy(dst + count - RANK_LANES, &out, sizeof out);
    } else if (x < count) {
        // The last pixels and their neighbours copied into full lanes (the rest zero).
        const int rest = count - x;
        unsigned char pad[3][RANK_LANES + 2] = {};
        for (int r = 0; r < 3; ++r) {
            std::memcpy(pad[r], src + x - 1 + (r - 1) * static_cast<std::ptrdiff_t>(stride),
                        static_cast<std::size_t>(rest) + 2);
        }
        const RankBytes out = RankRowLanes(pad[1] + 1, RANK_LANES + 2);
        std::memcpy(dst + x, &out, static_cast<std::size_t>(rest));
    }
}

void RankMean9PlanesScalar(const unsigned char* planes, int pitch, unsigned char* dst, int count)
{
    for (int x = 0; x < count; ++x) {
        int v[9];
        for (int i = 0; i < 9; ++i) {
            v[i] = planes[i * pitch + x];
        }
        dst[x] = static_cast<unsigned char>(RankMean9(v));
    }
}

void RankMean9Planes(const unsigned char* planes, int pitch, unsigned char* dst, int count)
{
    // The means of the sixteen outputs from x.
    auto sixteen = [ planes, pitch, dst ](int x) __attribute__((always_inline))
    {
        RankBytes v[9];
#pragma GCC unroll 9
        for (int i = 0; i < 9; ++i) {
            v[i] = LoadRank(planes + i * pitch + x);
        }
        const RankBytes out = RankMeanLanes(v);
        std::memcpy(dst + x, &out, sizeof out);
    };
    int x = 0;
    for (; x + RANK_LANES <= count; x += RANK_LANES) {
        sixteen(x);
    }
    if (x < count && count >= RANK_LANES) {
        sixteen(count - RANK_LANES); // the last sixteen again: the same bytes where they overlap
    } else if (x < count) {
        // The last values copied into full lanes (the rest zero).
        const int rest = count - x;
        RankBytes v[9];
#pragma GCC unroll 9
        for (int i = 0; i < 9; ++i) {
            unsigned char pad[RANK_LANES] = {};
            std::memcpy(pad, planes + i * pitch + x, static_cast<std::size_t>(rest));
            v[i] = LoadRank(pad);
        }
        const RankBytes out = RankMeanLanes(v);
        std::memcpy(dst + x, &out, static_cast<std::size_t>(rest));
    }
}

void ResponseRowScalar(const unsigned char* src, int stride, std::int16_t* const* out, int count)
{
    for (int x = 0; x < count; ++x) {
        const unsigned char* p = src + x;
        const int n = p[-stride], s = p[stride], w = p[-1], e = p[1];
        const int nw = p[-stride - 1], ne = p[-stride + 1], sw = p[stride - 1], se = p[stride + 1];
        out[0][x] = static_cast<std::int16_t>((2 * s + sw + se) - (2 * n + nw + ne));
        out[1][x] = static_cast<std::int16_t>((2 * sw + s + w) - (2 * ne + n + e));
        out[2][x] = static_cast<std::int16_t>((2 * w + nw + sw) - (2 * e + ne + se));
        out[3][x] = static_cast<std::int16_t>((2 * nw + n + w) - (2 * se + s + e));
    }
}

void ResponseRow(const unsigned char* src, int stride, std::int16_t* const* out, int count)
{
    using Signed = std::int16_t __attribute__((vector_size(2 * LANES)));
    // The responses of the eight pixels from x: with c = s - n, d = w - e and the diagonal
    // differences a = sw - ne, b = nw - se, D10 = 2 c + a - b, D11 = 2 a + c + d,
    // D12 = 2 d + a + b and D13 = 2 b + d - c. Sums of at most 4 x 255 and their differences fit
    // in 16 signed bits.
    // The row pointers held in locals: the stores below may alias the array that holds them.
    std::int16_t* const rows[4] = {out[0], out[1], out[2], out[3]};
    auto eight = [src, stride, &rows](int x) {
        const unsigned char* p = src + x;
        const Signed n = reinterpret_cast<Signed>(Load(p - stride));
        const Signed s = reinterpret_cast<Signed>(Load(p + stride));
        const Signed w = reinterpret_cast<Signed>(Load(p - 1));
        const Signed e = reinterpret_cast<Signed>(Load(p + 1));
        const Signed nw = reinterpret_cast<Signed>(Load(p - stride - 1));
        const Signed ne = reinterpret_cast<Signed>(Load(p - stride + 1));
        const Signed sw = reinterpret_cast<Signed>(Load(p + stride - 1));
        const Signed se = reinterpret_cast<Signed>(Load(p + stride + 1));
        const Signed c = s - n, d = w - e, a = sw - ne, b = nw - se;
        const Signed g[4] = {2 * c + a - b, 2 * a + c + d, 2 * d + a + b, 2 * b + d - c};
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            std::memcpy(rows[k] + x, &g[k], sizeof g[k]);
        }
    };
    if (count < LANES) {
        ResponseRowScalar(src, stride, out, count);
        return;
    }
    int x = 0;
    for (; x + LANES <= count; x += LANES) {
        eight(x);
    }
    if (x < count) {
        eight(count - LANES); // the last eight pixels again, the same values where they overlap
    }
}

} // namespace wizard73
