// The flow-oriented 3 x 3 mean of a byte layer (CBase::Fiimpo): the centre weighs 32 and each
// pair of opposite neighbours (0, 45, 90 and 135 degrees) 32 times the sigmoid of its
// orientation distance to the flow, the weighted sum divided by the total weight, rounded.
// Inline so that the flow stages take one row of weights for several layers.
#pragma once

#include "extraction/engine/FixedMath.h"

#include <cstddef>
#include <cstdint>

namespace wizard73 {

// The weights of one flow angle: w[i] for the pair at 45 i degrees, the total t, and
// ceil(2^32 / t), which divides by t with a multiply (see FlowMean); the rounding term t / 2 in
// both halves of a packed pair (see FlowMeanPair).
struct FlowMeanRow {
    int w[4];
    int t;
    std::uint64_t inverse;
    std::uint64_t halfPair;
};

struct FlowMeanRows {
    FlowMeanRow row[360];
};

constexpr FlowMeanRows MakeFlowMeanRows()
{
    FlowMeanRows r{};
    for (int an = 0; an < 360; ++an) {
        FlowMeanRow& row = r.row[an];
        int total = 32;
        for (int i = 0; i < 4; ++i) {
            int d = an - 45 * i;
            d = d < 0 ? -d : d;
            d %= 180;
            d = d > 90 ? 180 - d : d; // orientation distance 0..90
            row.w[i] = Descale13(32 * TabSig[90 - d]);
            total += 2 * row.w[i];
        }
        row.t = total;
        row.inverse = InverseCeil32(total);
        row.halfPair = static_cast<std::uint64_t>(total / 2) * ((std::uint64_t{1} << 32) | 1u);
    }
    return r;
}
inline constexpr FlowMeanRows kFlowMean = MakeFlowMeanRows();

// The rounded mean n = s + t / 2 of bytes (s <= 255 t) is n / t = (n * inverse) >> 32, exact
// for t <= 4096 (see InverseCeil32); t runs from 32 to 32 + 8 * 32.
constexpr bool FlowMeanTotalsFit()
{
    for (const FlowMeanRow& row : kFlowMean.row) {
        if (row.t < 32 || row.t >= 4096) {
            return false;
        }
    }
    return true;
}
static_assert(FlowMeanTotalsFit());

// The row of weights of flow angle a (any degree value; byte angles are taken directly).
inline const FlowMeanRow& FlowMeanAt(int a)
{
    return kFlowMean.row[static_cast<unsigned>(a) < 360u ? a : Mod360(a)];
}

// The mean at p, rows r bytes apart.
inline int FlowMean(const FlowMeanRow& row, const unsigned char* p, std::ptrdiff_t r)
{
    const int s = 32 * p[0] + row.w[0] * (p[-1] + p[1]) + row.w[1] * (p[-(r + 1)] + p[r + 1]) +
                  row.w[2] * (p[-r] + p[r]) + row.w[3] * (p[-(r - 1)] + p[r - 1]);
    const std::uint64_t n = static_cast<std::uint64_t>(s + row.t / 2);
    return static_cast<int>((n * row.inverse) >> 32);
}

// Two layers' bytes packed in one word, the second in the high half (FlowPack), so that one
// weighted sum serves both: each half's sum is below 2^17 and never carries into the other.
inline std::uint64_t FlowPack(unsigned char a, unsigned char b)
{
    return a | std::uint64_t{b} << 32;
}

// FlowMean of both packed layers at column x of the packed rows above, at and below the pixel:
// the first layer's mean in the low half of the answer, the second's in the high half.
inline std::uint64_t FlowMeanPair(const FlowMeanRow& row, const std::uint64_t* above,
                                  const std::uint64_t* at, const std::uint64_t* below, int x)
{
    const auto w = [&row](int i) { return static_cast<std::uint64_t>(row.w[i]); };
    const std::uint64_t s = 32 * at[x] + w(0) * (at[x - 1] + at[x + 1]) +
                            w(1) * (above[x - 1] + below[x + 1]) + w(2) * (above[x] + below[x]) +
                            w(3) * (above[x + 1] + below[x - 1]) + row.halfPair;
    const std::uint64_t lo = (s & 0xffffffffu) * row.inverse >> 32;
    const std::uint64_t hi = (s >> 32) * row.inverse >> 32;
    return lo | hi << 32;
}

} // namespace wizard73
