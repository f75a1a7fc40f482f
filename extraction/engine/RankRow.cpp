// The 3 x 3 rank smoothing of a row: a lane-wise form over eight adjacent pixels and its scalar
// twin. Both sort each pixel's nine values with the same compare-exchange network, and a sort's
// result does not depend on the method, so the bytes are the same.

#include "extraction/engine/RankRow.h"

#include "extraction/engine/Codex.h"

#include <cstdint>
#include <cstring>

namespace wizard73 {
namespace {

constexpr int LANES = 8;
using Bytes = std::uint8_t __attribute__((vector_size(LANES)));
using Lanes = std::uint16_t __attribute__((vector_size(2 * LANES)));

Lanes Load(const unsigned char* p)
{
    Bytes b;
    std::memcpy(&b, p, sizeof b);
    return __builtin_convertvector(b, Lanes);
}

void Exchange(Lanes& a, Lanes& b)
{
    const Lanes lo = a < b ? a : b;
    b = a < b ? b : a;
    a = lo;
}

// The weighted rank mean of nine values in every lane: the nine-value network of
// Codex::SortSmall, then the rank weights. Inlined, so the lanes stay in registers.
[[gnu::always_inline]] inline Bytes RankMeanLanes(Lanes* v)
{
    static constexpr int kPairs[25][2] = {{0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4}, {3, 8},
                                          {5, 6}, {0, 2}, {1, 3}, {4, 5}, {7, 8}, {1, 4}, {3, 6},
                                          {5, 7}, {0, 1}, {2, 4}, {3, 5}, {6, 8}, {2, 3}, {4, 5},
                                          {6, 7}, {1, 2}, {3, 4}, {5, 6}};
    for (const auto& pr : kPairs) {
        Exchange(v[pr[0]], v[pr[1]]);
    }
    const Lanes sum = v[0] + v[1] + v[7] + v[8] + 2 * (v[2] + v[3] + v[5] + v[6]) + 4 * v[4] + 8;
    return __builtin_convertvector(sum >> 4, Bytes);
}

// The weighted rank mean of one pixel's nine values (sorted in place).
int RankMean9(int* v)
{
    Codex::SortSmall(v, 9);
    return (v[0] + v[1] + 2 * v[2] + 2 * v[3] + 4 * v[4] + 2 * v[5] + 2 * v[6] + v[7] + v[8] + 8) >>
           4;
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
    for (; x + LANES <= count; x += LANES) {
        const unsigned char* p = src + x;
        Lanes v[9] = {Load(p - stride - 1), Load(p - stride), Load(p - stride + 1),
                      Load(p - 1),          Load(p),          Load(p + 1),
                      Load(p + stride - 1), Load(p + stride), Load(p + stride + 1)};
        const Bytes out = RankMeanLanes(v);
        std::memcpy(dst + x, &out, sizeof out);
    }
    RankRow3x3Scalar(src + x, stride, dst + x, count - x);
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
    int x = 0;
    for (; x + LANES <= count; x += LANES) {
        Lanes v[9];
        for (int i = 0; i < 9; ++i) {
            v[i] = Load(planes + i * pitch + x);
        }
        const Bytes out = RankMeanLanes(v);
        std::memcpy(dst + x, &out, sizeof out);
    }
    RankMean9PlanesScalar(planes + x, pitch, dst + x, count - x);
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
    int x = 0;
    for (; x + LANES <= count; x += LANES) {
        const unsigned char* p = src + x;
        // Sums of at most 4 x 255 and their differences fit in 16 signed bits.
        const Signed n = reinterpret_cast<Signed>(Load(p - stride));
        const Signed s = reinterpret_cast<Signed>(Load(p + stride));
        const Signed w = reinterpret_cast<Signed>(Load(p - 1));
        const Signed e = reinterpret_cast<Signed>(Load(p + 1));
        const Signed nw = reinterpret_cast<Signed>(Load(p - stride - 1));
        const Signed ne = reinterpret_cast<Signed>(Load(p - stride + 1));
        const Signed sw = reinterpret_cast<Signed>(Load(p + stride - 1));
        const Signed se = reinterpret_cast<Signed>(Load(p + stride + 1));
        const Signed g[4] = {
            (2 * s + sw + se) - (2 * n + nw + ne), (2 * sw + s + w) - (2 * ne + n + e),
            (2 * w + nw + sw) - (2 * e + ne + se), (2 * nw + n + w) - (2 * se + s + e)};
        for (int k = 0; k < 4; ++k) {
            std::memcpy(out[k] + x, &g[k], sizeof g[k]);
        }
    }
    if (x < count) {
        std::int16_t* rest[4] = {out[0] + x, out[1] + x, out[2] + x, out[3] + x};
        ResponseRowScalar(src + x, stride, rest, count - x);
    }
}

} // namespace wizard73
