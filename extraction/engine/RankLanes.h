// The weighted rank mean of nine values in sixteen byte lanes at once, the lane-wise form that
// RankRow.cpp's rows and gathered values share with the filter stage's blocks (RankRow.h has
// the scalar twins).
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace rank_lanes {

// The rank network runs on bytes (one min and one max per exchange for sixteen pixels); the
// weighted sum, at most 16 x 255 + 8, on two halves of eight 16-bit lanes.
constexpr int RANK_LANES = 16;
using RankBytes = std::uint8_t __attribute__((vector_size(RANK_LANES)));
using RankHalf = std::uint16_t __attribute__((vector_size(RANK_LANES)));
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte lanes widen by interleaving");

inline RankBytes LoadRank(const unsigned char* p)
{
    RankBytes b;
    std::memcpy(&b, p, sizeof b);
    return b;
}

inline void Exchange(RankBytes& a, RankBytes& b)
{
    const RankBytes lo = a < b ? a : b;
    b = a < b ? b : a;
    a = lo;
}

// Bytes 0..7 (Low) or 8..15 of v widened to 16-bit lanes (each next to a zero byte).
template <bool Low> inline RankHalf Widen(RankBytes v)
{
    if (Low) {
        return (RankHalf)__builtin_shufflevector(v, RankBytes{}, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20,
                                                 5, 21, 6, 22, 7, 23);
    }
    return (RankHalf)__builtin_shufflevector(v, RankBytes{}, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28,
                                             13, 29, 14, 30, 15, 31);
}

// The rank weights over sorted values, rounded: (sum + 8) >> 4, below 256. Inlined, so the
// sorted lanes are read from registers.
template <bool Low> [[gnu::always_inline]] inline RankHalf WeightedHalf(const RankBytes* v)
{
    const RankHalf sum =
        Widen<Low>(v[0]) + Widen<Low>(v[1]) + Widen<Low>(v[7]) + Widen<Low>(v[8]) +
        2 * (Widen<Low>(v[2]) + Widen<Low>(v[3]) + Widen<Low>(v[5]) + Widen<Low>(v[6])) +
        4 * Widen<Low>(v[4]) + 8;
    return sum >> 4;
}

// The weighted rank mean of nine values in every lane: the nine-value network of
// Codex::SortSmall, then the rank weights. The network's last exchange, of ranks 5 and 6, is
// left out: both weigh 2, so the sum does not depend on their order (every other value is in
// its sorted place). Unrolled and inlined, so the lanes stay in registers.
[[gnu::always_inline]] inline RankBytes RankMeanLanes(RankBytes* v)
{
    static constexpr int kPairs[24][2] = {{0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4},
                                          {3, 8}, {5, 6}, {0, 2}, {1, 3}, {4, 5}, {7, 8},
                                          {1, 4}, {3, 6}, {5, 7}, {0, 1}, {2, 4}, {3, 5},
                                          {6, 8}, {2, 3}, {4, 5}, {6, 7}, {1, 2}, {3, 4}};
#pragma GCC unroll 24
    for (const auto& pr : kPairs) {
        Exchange(v[pr[0]], v[pr[1]]);
    }
    // Each 16-bit lane holds a value below 256: its low byte is the mean.
#if defined(__SSE2__)
    // Packing with saturation keeps such values as they are, without masking the high bytes.
    return (RankBytes)_mm_packus_epi16((__m128i)WeightedHalf<true>(v),
                                       (__m128i)WeightedHalf<false>(v));
#else
    return __builtin_shufflevector((RankBytes)WeightedHalf<true>(v),
                                   (RankBytes)WeightedHalf<false>(v), 0, 2, 4, 6, 8, 10, 12, 14, 16,
                                   18, 20, 22, 24, 26, 28, 30);
#endif
}

} // namespace rank_lanes
} // namespace wizard73
