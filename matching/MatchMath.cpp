// Integer geometry of the matcher: the sine and arctangent tables (the table arctangent itself
// is inline in the header), cosine and sine by quadrant, and the distance tolerance table by
// error level.

#include "matching/MatchMath.h"

#include <cstdlib>

namespace accelMatch {

// clang-format off
constexpr std::int32_t TabSin[91] = {
       0,  143,  286,  429,  571,  714,  856,  998, 1140, 1282, // 0..9
    1423, 1563, 1703, 1843, 1982, 2120, 2258, 2395, 2531, 2667, // 10..19
    2802, 2936, 3069, 3201, 3332, 3462, 3591, 3719, 3846, 3972, // 20..29
    4096, 4219, 4341, 4462, 4581, 4699, 4815, 4930, 5043, 5155, // 30..39
    5266, 5374, 5482, 5587, 5691, 5793, 5893, 5991, 6088, 6183, // 40..49
    6275, 6366, 6455, 6542, 6627, 6710, 6791, 6870, 6947, 7022, // 50..59
    7094, 7165, 7233, 7299, 7363, 7424, 7484, 7541, 7595, 7648, // 60..69
    7698, 7746, 7791, 7834, 7875, 7913, 7949, 7982, 8013, 8041, // 70..79
    8068, 8091, 8112, 8131, 8147, 8161, 8172, 8181, 8187, 8191, // 80..89
    8192, // 90..90
};

const std::int32_t TabTan[130] = {
     0,  1,  1,  1,  2,  2,  2,  3,  3,  4,  4,  5,  5, // 0..12
     6,  6,  6,  7,  7,  8,  8,  9,  9, 10, 10, 10, 11, // 13..25
    11, 12, 12, 13, 13, 13, 14, 14, 15, 15, 16, 16, 16, // 26..38
    17, 17, 18, 18, 18, 19, 19, 20, 20, 20, 21, 21, 22, // 39..51
    22, 22, 23, 23, 23, 24, 24, 25, 25, 25, 26, 26, 26, // 52..64
    27, 27, 27, 28, 28, 29, 29, 29, 30, 30, 30, 30, 31, // 65..77
    31, 32, 32, 32, 33, 33, 33, 33, 34, 34, 34, 35, 35, // 78..90
    35, 36, 36, 36, 36, 37, 37, 37, 38, 38, 38, 38, 39, // 91..103
    39, 39, 39, 40, 40, 40, 41, 41, 41, 41, 42, 42, 42, // 104..116
    42, 43, 43, 43, 43, 44, 44, 44, 44, 44, 45, 45, 45, // 117..129
};
// clang-format on

std::int32_t s_distTolTab[MAX_ERROR_LEVEL][DIST_TOL_SIZE];

void fillDistTolTab()
{
    static const bool filled = [] {
        constexpr int SLOPE[MAX_ERROR_LEVEL] = {10, 20, 25, 30, 25, 55};
        constexpr int BASE[MAX_ERROR_LEVEL] = {20, 20, 20, 20, 35, 45};
        for (int l = 0; l < MAX_ERROR_LEVEL; ++l) {
            for (int d = 0; d < DIST_TOL_SIZE; ++d) {
                const int v = (50 + d * SLOPE[l]) / 100 + BASE[l];
                s_distTolTab[l][d] = v < 1024 ? v : 1024;
            }
        }
        return true;
    }();
    (void)filled;
}

namespace {

// 8192 sin a for a = 0..359 by quadrant from TabSin.
constexpr std::int32_t MmSin360(int a)
{
    if (a <= 90) {
        return TabSin[a];
    }
    if (a <= 180) {
        return TabSin[180 - a];
    }
    if (a <= 270) {
        return -TabSin[a - 180];
    }
    return -TabSin[360 - a];
}

// 8192 cos a for a = 0..359 by quadrant from TabSin.
constexpr std::int32_t MmCos360(int a)
{
    if (a <= 90) {
        return TabSin[90 - a];
    }
    if (a <= 180) {
        return -TabSin[a - 90];
    }
    if (a <= 270) {
        return -TabSin[270 - a];
    }
    return TabSin[a - 270];
}

struct MmTable360 {
    std::int32_t v[360];
};

constexpr MmTable360 MmMakeTable(bool cosine)
{
    MmTable360 t{};
    for (int a = 0; a < 360; ++a) {
        t.v[a] = cosine ? MmCos360(a) : MmSin360(a);
    }
    return t;
}

constexpr MmTable360 MM_COS = MmMakeTable(true);
constexpr MmTable360 MM_SIN = MmMakeTable(false);

} // namespace

const std::int32_t* const TabCos360 = MM_COS.v;
const std::int32_t* const TabSin360 = MM_SIN.v;

int cos8192(int a)
{
    return TabCos360[wrap360(a)];
}

int sin8192(int a)
{
    return TabSin360[wrap360(a)];
}

} // namespace accelMatch
