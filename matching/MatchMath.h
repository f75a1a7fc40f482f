// Integer geometry of the matcher: its own sine and arctangent tables, the table arctangent
// in whole degrees, angle wrapping, the 8192-scale rounding, the minutia angle check and the
// distance tolerance table by error level. Angles are whole degrees throughout.
#pragma once

#include <cstdint>

namespace accelMatch {

// round(8192 sin k) for k = 0..90.
extern const std::int32_t TabSin[91];
// Whole degrees of atan(i / 128) for i = 0..129 (index 129 serves a ratio of 1 rounded up).
extern const std::int32_t TabTan[130];

constexpr int MAX_ERROR_LEVEL = 6;
constexpr int DIST_TOL_SIZE = 512;
// min(1024, (50 + d slope[l]) / 100 + base[l]), by error level l and distance d.
extern std::int32_t s_distTolTab[MAX_ERROR_LEVEL][DIST_TOL_SIZE];
// Fills s_distTolTab (the same values every time).
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

// Direction of (dx, dy) in whole degrees 0..359; (0, 0) gives 0.
int atan(int dx, int dy);

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

// As above with limitWide when x is non-zero or flag is set.
inline bool checkMinAngles(int a, int b, int c, unsigned x, bool flag, int limit, int limitWide,
                           short* ratio)
{
    return checkMinAngles(a, b, c, (x != 0 || flag) ? limitWide : limit, ratio);
}

} // namespace accelMatch
