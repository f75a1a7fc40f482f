// Integer geometry of the matcher: its own sine and arctangent tables, the table arctangent
// in whole degrees, angle wrapping, the 8192-scale rounding, the minutia angle check and the
// distance tolerance table by error level. Angles are whole degrees throughout.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace accelMatch {

// round(8192 sin k) for k = 0..90.
extern const std::int32_t TabSin[91];
// Whole degrees of atan(i / 128) for i = 0..129 (index 129 serves a ratio of 1 rounded up).
extern const std::int32_t TabTan[130];

constexpr int MAX_ERROR_LEVEL = 6;
constexpr int DIST_TOL_SIZE = 512;
// min(1024, (50 + d slope[l]) / 100 + base[l]), by error level l and distance d.
extern std::int32_t s_distTolTab[MAX_ERROR_LEVEL][DIST_TOL_SIZE];
// Fills s_distTolTab on the first call only, under a local static's guard: a call on another
// thread meanwhile waits for it, and no later call writes the table again, so readers that
// made their call first (every matcher does in its constructor) see it whole.
void fillDistTolTab();

// Tolerance of a length difference at error level `level` for the smaller length m; lengths
// from 512 on take the last entry.
inline int distTol(int level, int m)
{
    return s_distTolTab[level][m >= DIST_TOL_SIZE ? DIST_TOL_SIZE - 1 : (m < 0 ? 0 : m)];
}

// a brought into -180..179 by whole turns.
inline int wrap180(int a)
{
    if (a >= -180 && a < 180) {
        return a;
    }
    a %= 360;
    if (a < -180) {
        a += 360;
    } else if (a >= 180) {
        a -= 360;
    }
    return a;
}

// wrap180(a), for a within -540..539 (a sum or difference of two angles, or of a few
// directions, each within one turn) by one turn at most; any other a goes through wrap180.
inline int wrap180Near(int a)
{
    const int w = a >= 180 ? a - 360 : (a < -180 ? a + 360 : a);
    return w >= -180 && w < 180 ? w : wrap180(a);
}

// a brought into 0..359 by whole turns.
inline int wrap360(int a)
{
    if (a >= 0 && a < 360) {
        return a;
    }
    a %= 360;
    return a < 0 ? a + 360 : a;
}

// An 8192-scaled product brought back to units, halves away from zero.
inline int round8192(std::int64_t v)
{
    if (v >= 0) {
        return static_cast<int>((v + 4096) >> 13);
    }
    return -static_cast<int>((4096 - v) >> 13);
}

// 8192 cos a and 8192 sin a from TabSin by quadrant; a in any whole degrees.
int cos8192(int a);
int sin8192(int a);
// Their values for a = 0..359.
extern const std::int32_t* const TabCos360;
extern const std::int32_t* const TabSin360;

// Directions of the eight octants of atan, by (dx < 0, dy < 0, steep).
struct AtanOctant {
    std::int16_t base;
    std::int16_t sign;
};
inline constexpr AtanOctant ATAN_OCTANTS[8] = {
    {0, 1},    {90, -1},  // dx > 0, dy > 0
    {360, -1}, {270, 1},  // dx > 0, dy < 0
    {180, -1}, {90, 1},   // dx < 0, dy > 0
    {180, 1},  {270, -1}, // dx < 0, dy < 0
};

// Direction of (dx, dy) in whole degrees 0..359; (0, 0) gives 0.
inline int atan(int dx, int dy)
{
    if (dx == 0) {
        return dy > 0 ? 90 : (dy < 0 ? 270 : 0);
    }
    if (dy == 0) {
        return dx > 0 ? 0 : 180;
    }
    // Magnitudes in 32 bits (that of INT_MIN included).
    const std::uint32_t ax =
        dx < 0 ? 0u - static_cast<std::uint32_t>(dx) : static_cast<std::uint32_t>(dx);
    const std::uint32_t ay =
        dy < 0 ? 0u - static_cast<std::uint32_t>(dy) : static_cast<std::uint32_t>(dy);
    const bool flat = ax >= ay;
    const std::uint32_t large = flat ? ax : ay;
    const std::uint32_t small = flat ? ay : ax;
    // The ratio in 32 bits wherever 128 small + large fits (every image coordinate).
    const int t = large < (1u << 24)
                      ? TabTan[(128 * small + large) / large]
                      : TabTan[(128 * static_cast<std::uint64_t>(small) + large) / large];
    // The octant by the signs and the slope: base + t or base - t.
    const int octant = (dx < 0 ? 4 : 0) + (dy < 0 ? 2 : 0) + (flat ? 0 : 1);
    return ATAN_OCTANTS[octant].base + ATAN_OCTANTS[octant].sign * t;
}

// d = wrap(a - b - c); ratio (when given) = 256 |d| / limit; true when |d| <= limit.
inline bool checkMinAngles(int a, int b, int c, int limit, short* ratio)
{
    const int w = wrap180(a - b - c);
    const int d = w < 0 ? -w : w;
    if (ratio != nullptr) {
        // A limit of 0 or below has no scale: any difference is out of it.
        *ratio = static_cast<short>(limit > 0 ? (256 * d) / limit : (d == 0 ? 0 : 0x7FFF));
    }
    return d <= limit;
}

// Directions 0..359 and their test limits, padded to whole blocks of ANGLE_MASK_BLOCK with
// direction 0 and limit -1 (an entry that never passes).
constexpr int ANGLE_MASK_BLOCK = 16;
constexpr int ANGLE_MASK_ITEMS = 256;

// Limit of a direction test as it is kept in 16 bits: -1 below 0, 360 from 360 on (a wrapped
// difference lies within -180..179, so neither bound changes an outcome).
inline std::int16_t angleMaskLimit(int limit)
{
    return static_cast<std::int16_t>(limit < 0 ? -1 : (limit > 360 ? 360 : limit));
}

// Bit f of mask[f / 64] is set when |wrap180(turned - angle[f])| <= limit[f], for f below
// count (a multiple of ANGLE_MASK_BLOCK, at most ANGLE_MASK_ITEMS); turned is 0..359.
inline void angleWindowMaskPortable(const std::int16_t* angle, const std::int16_t* limit, int count,
                                    int turned, std::uint64_t mask[4])
{
    mask[0] = mask[1] = mask[2] = mask[3] = 0;
    for (int f = 0; f < count; ++f) {
        int d = turned - angle[f];
        d = d >= 180 ? d - 360 : (d < -180 ? d + 360 : d);
        if (d <= limit[f] && -d <= limit[f]) {
            mask[f >> 6] |= std::uint64_t{1} << (f & 63);
        }
    }
}

#if defined(__SSE2__)
// The same sixteen directions a step: the difference wrapped by two masked corrections, the
// failures of either bound packed to bytes and their signs gathered.
inline void angleWindowMask(const std::int16_t* angle, const std::int16_t* limit, int count,
                            int turned, std::uint64_t mask[4])
{
    mask[0] = mask[1] = mask[2] = mask[3] = 0;
    const __m128i t = _mm_set1_epi16(static_cast<short>(turned));
    const __m128i c179 = _mm_set1_epi16(179);
    const __m128i cm180 = _mm_set1_epi16(-180);
    const __m128i c360 = _mm_set1_epi16(360);
    const __m128i zero = _mm_setzero_si128();
    for (int f = 0; f < count; f += ANGLE_MASK_BLOCK) {
        __m128i fail[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(angle + f + 8 * h));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(limit + f + 8 * h));
            __m128i d = _mm_sub_epi16(t, a);
            d = _mm_sub_epi16(d, _mm_and_si128(_mm_cmpgt_epi16(d, c179), c360));
            d = _mm_add_epi16(d, _mm_and_si128(_mm_cmplt_epi16(d, cm180), c360));
            fail[h] =
                _mm_or_si128(_mm_cmpgt_epi16(d, l), _mm_cmpgt_epi16(_mm_sub_epi16(zero, d), l));
        }
        const auto bits = static_cast<std::uint64_t>(
            ~_mm_movemask_epi8(_mm_packs_epi16(fail[0], fail[1])) & 0xFFFF);
        mask[f >> 6] |= bits << (f & 63);
    }
}
#else
inline void angleWindowMask(const std::int16_t* angle, const std::int16_t* limit, int count,
                            int turned, std::uint64_t mask[4])
{
    angleWindowMaskPortable(angle, limit, count, turned, mask);
}
#endif

// As above with limitWide when x is non-zero or flag is set.
inline bool checkMinAngles(int a, int b, int c, unsigned x, bool flag, int limit, int limitWide,
                           short* ratio)
{
    return checkMinAngles(a, b, c, (x != 0 || flag) ? limitWide : limit, ratio);
}

} // namespace accelMatch
