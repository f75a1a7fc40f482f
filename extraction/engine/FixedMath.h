// Fixed-point maths of the extraction engine: the trigonometric, logarithm and square-root
// tables, the rounding rule for products with 8192-scaled sines, whole-degree sine and cosine,
// the integer square root `sqri` and the vector direction `atan`. Angles are whole degrees;
// TabSin values are scaled by 8192. Everything here is constant data or pure integer code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace wizard73 {

// round(8192 sin k degrees), halves up, k = 0..90.
// clang-format off
inline constexpr std::int32_t TabSin[91] = {
        0,   143,   286,   429,   571,   714,   856,   998,  1140,  1282, // 0
     1423,  1563,  1703,  1843,  1982,  2120,  2258,  2395,  2531,  2667, // 10
     2802,  2936,  3069,  3201,  3332,  3462,  3591,  3719,  3846,  3972, // 20
     4096,  4219,  4341,  4462,  4581,  4699,  4815,  4930,  5043,  5155, // 30
     5266,  5374,  5482,  5587,  5691,  5793,  5893,  5991,  6088,  6183, // 40
     6275,  6366,  6455,  6542,  6627,  6710,  6791,  6870,  6947,  7022, // 50
     7094,  7165,  7233,  7299,  7363,  7424,  7484,  7541,  7595,  7648, // 60
     7698,  7746,  7791,  7834,  7875,  7913,  7949,  7982,  8013,  8041, // 70
     8068,  8091,  8112,  8131,  8147,  8161,  8172,  8181,  8187,  8191, // 80
     8192, // 90
};
// clang-format on

// About 8192 sin^2 k degrees, k = 0..90; listed values (no closed formula): every
// TabSig[k] + TabSig[90 - k] is 8192 and the table increases strictly.
// clang-format off
inline constexpr std::int32_t TabSig[91] = {
        0,     2,    10,    22,    39,    62,    89,   121,   158,   200, // 0
      247,   298,   354,   414,   479,   549,   622,   700,   782,   868, // 10
      958,  1052,  1149,  1250,  1355,  1463,  1574,  1688,  1805,  1925, // 20
     2048,  2173,  2300,  2430,  2561,  2695,  2830,  2967,  3105,  3244, // 30
     3385,  3526,  3668,  3810,  3953,  4096,  4239,  4382,  4524,  4666, // 40
     4807,  4948,  5087,  5225,  5362,  5497,  5631,  5762,  5892,  6019, // 50
     6144,  6267,  6387,  6504,  6618,  6729,  6837,  6942,  7043,  7140, // 60
     7234,  7324,  7410,  7492,  7570,  7643,  7713,  7778,  7838,  7894, // 70
     7945,  7992,  8034,  8071,  8103,  8130,  8153,  8170,  8182,  8190, // 80
     8192, // 90
};
// clang-format on

// round(atan((i - 0.5) / 128) in degrees), halves up, i = 0..129, except the deliberate
// entries [1] = 1, [76] = 30 and [82] = 33 (one degree off the rule; vectors depend on them).
// clang-format off
inline constexpr std::int32_t TabTan[130] = {
        0,     1,     1,     1,     2,     2,     2,     3,     3,     4, // 0
        4,     5,     5,     6,     6,     6,     7,     7,     8,     8, // 10
        9,     9,    10,    10,    10,    11,    11,    12,    12,    13, // 20
       13,    13,    14,    14,    15,    15,    16,    16,    16,    17, // 30
       17,    18,    18,    18,    19,    19,    20,    20,    20,    21, // 40
       21,    22,    22,    22,    23,    23,    23,    24,    24,    25, // 50
       25,    25,    26,    26,    26,    27,    27,    27,    28,    28, // 60
       29,    29,    29,    30,    30,    30,    30,    31,    31,    32, // 70
       32,    32,    33,    33,    33,    33,    34,    34,    34,    35, // 80
       35,    35,    36,    36,    36,    36,    37,    37,    37,    38, // 90
       38,    38,    38,    39,    39,    39,    39,    40,    40,    40, // 100
       41,    41,    41,    41,    42,    42,    42,    42,    43,    43, // 110
       43,    43,    44,    44,    44,    44,    44,    45,    45,    45, // 120
};
// clang-format on

// round(2048 ln i / ln 255), halves up, i = 1..255; TabLog[0] = 0.
// clang-format off
inline constexpr std::int32_t TabLog[256] = {
        0,     0,   256,   406,   512,   595,   662,   719,   769,   812,   851,   886,   918,   948,   975,  1001, // 0
     1025,  1047,  1068,  1088,  1107,  1125,  1142,  1159,  1175,  1190,  1204,  1218,  1232,  1245,  1257,  1269, // 16
     1281,  1292,  1303,  1314,  1324,  1335,  1344,  1354,  1363,  1373,  1381,  1390,  1399,  1407,  1415,  1423, // 32
     1431,  1438,  1446,  1453,  1460,  1467,  1474,  1481,  1488,  1494,  1501,  1507,  1513,  1519,  1525,  1531, // 48
     1537,  1543,  1548,  1554,  1559,  1565,  1570,  1575,  1581,  1586,  1591,  1596,  1601,  1605,  1610,  1615, // 64
     1620,  1624,  1629,  1633,  1638,  1642,  1646,  1651,  1655,  1659,  1663,  1667,  1671,  1675,  1679,  1683, // 80
     1687,  1691,  1695,  1698,  1702,  1706,  1709,  1713,  1717,  1720,  1724,  1727,  1730,  1734,  1737,  1741, // 96
     1744,  1747,  1750,  1754,  1757,  1760,  1763,  1766,  1769,  1772,  1776,  1779,  1782,  1785,  1787,  1790, // 112
     1793,  1796,  1799,  1802,  1805,  1807,  1810,  1813,  1816,  1818,  1821,  1824,  1826,  1829,  1832,  1834, // 128
     1837,  1839,  1842,  1844,  1847,  1849,  1852,  1854,  1857,  1859,  1862,  1864,  1866,  1869,  1871,  1873, // 144
     1876,  1878,  1880,  1883,  1885,  1887,  1889,  1892,  1894,  1896,  1898,  1900,  1902,  1905,  1907,  1909, // 160
     1911,  1913,  1915,  1917,  1919,  1921,  1923,  1925,  1927,  1929,  1931,  1933,  1935,  1937,  1939,  1941, // 176
     1943,  1945,  1947,  1949,  1951,  1953,  1954,  1956,  1958,  1960,  1962,  1964,  1966,  1967,  1969,  1971, // 192
     1973,  1974,  1976,  1978,  1980,  1981,  1983,  1985,  1987,  1988,  1990,  1992,  1993,  1995,  1997,  1998, // 208
     2000,  2002,  2003,  2005,  2007,  2008,  2010,  2011,  2013,  2015,  2016,  2018,  2019,  2021,  2023,  2024, // 224
     2026,  2027,  2029,  2030,  2032,  2033,  2035,  2036,  2038,  2039,  2041,  2042,  2044,  2045,  2047,  2048, // 240
};
// clang-format on

static_assert(TabSin[0] == 0 && TabSin[30] == 4096 && TabSin[90] == 8192);
static_assert(TabTan[1] == 1 && TabTan[76] == 30 && TabTan[82] == 33 && TabTan[129] == 45);
static_assert(TabLog[1] == 0 && TabLog[255] == 2048);

// round(sqrt n), halves up, for n = 0..N-1 (sqrt n never lies on a half): built by the compiler.
template <std::size_t N> constexpr std::array<std::uint8_t, N> MakeRoundRoots()
{
    static_assert(N <= 65280, "entries must fit in a byte");
    std::array<std::uint8_t, N> t{};
    unsigned r = 0;
    for (unsigned n = 0; n < N; ++n) {
        while ((r + 1) * (r + 1) <= n) {
            ++r; // r = floor(sqrt n)
        }
        t[n] = static_cast<std::uint8_t>(n > r * r + r ? r + 1 : r);
    }
    return t;
}
// round(sqrt n) for n = 0..65024.
inline constexpr auto TabSqr = MakeRoundRoots<65025>();
static_assert(TabSqr[65024] == 255 && TabSqr[240] == 15 && TabSqr[241] == 16);

// v / 8192 rounded with halves away from zero, without shifting a negative number.
// Domain: |v| <= INT32_MAX - 4096 (products of a TabSin value and a value below 2^18).
constexpr int Descale13(int v)
{
    return v >= 0 ? (v + 4096) >> 13 : -((4096 - v) >> 13);
}

// ceil(2^32 / t) for 1 <= t <= 2^16: the reciprocal that divides by a multiply, n / t =
// (n * InverseCeil32(t)) >> 32. With m t = 2^32 + e, 0 <= e < t, the quotient is exact while
// n e < 2^32, which n t <= 2^32 ensures (a rounded mean of bytes, n <= 255.5 t, for t <= 4096).
constexpr std::uint64_t InverseCeil32(int t)
{
    return ((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(t) - 1) /
           static_cast<std::uint64_t>(t);
}

// Any angle in degrees brought into 0..359 (most already are: no division for those).
constexpr int Mod360(int a)
{
    if (static_cast<unsigned>(a) < 360u) {
        return a;
    }
    const int m = a % 360;
    return m < 0 ? m + 360 : m;
}

// Orientation distance 0..90 of two angles whose difference, folded to 0..359, is e.
constexpr int AxialDistance(int e)
{
    return e <= 89 ? e : e <= 179 ? 180 - e : e <= 269 ? e - 180 : 360 - e;
}

// 8192 sin a and 8192 cos a for a whole degree a in 0..359, by quadrant from TabSin.
constexpr int SinDeg(int a)
{
    return a <= 90    ? TabSin[a]
           : a <= 180 ? TabSin[180 - a]
           : a <= 270 ? -TabSin[a - 180]
                      : -TabSin[360 - a];
}
constexpr int CosDeg(int a)
{
    return a <= 90    ? TabSin[90 - a]
           : a <= 180 ? -TabSin[a - 90]
           : a <= 270 ? -TabSin[270 - a]
                      : TabSin[a - 270];
}

// Integer square root: 0 for n < 0, TabSqr up to 65024, beyond that a weighted blend of the
// roots of n / 2 .. n / 6 (close to sqrt n, slightly low). The table and the first blend (for
// n / 2 up to 65024, all of whose parts lie in the table; read from TabFirstBlend) are inline;
// deeper blends are SqriBlend's.
constexpr int RootBlend(int r2, int r3, int r4, int r5, int r6)
{
    return (6 * r2 + 6 * r3 + 8 * r4 + 6 * r5 + 4 * r6) / 16;
}
constexpr int RootFirstBlend(int n)
{
    return RootBlend(
        TabSqr[static_cast<std::size_t>(n / 2)], TabSqr[static_cast<std::size_t>(n / 3)],
        TabSqr[static_cast<std::size_t>(n / 4)], TabSqr[static_cast<std::size_t>(n / 5)],
        TabSqr[static_cast<std::size_t>(n / 6)]);
}
// RootFirstBlend(n) - FIRST_BLEND_LOW for n = 65025..130049 (the blend rises from 254 to 360).
constexpr int FIRST_BLEND_LOW = 254;
extern const std::array<std::uint8_t, 65025> TabFirstBlend;
int SqriBlend(int n);
// The roots of the deeper blends as steps in order of argument: for SQRI_STEP_FIRST <= n <
// SQRI_STEP_END, sqri(n) is the root of the last step whose `from` is at most n. SqriSteps
// gives the list and its length.
constexpr int SQRI_STEP_FIRST = 130050;
constexpr int SQRI_STEP_END = 1 << 21;
struct SqriStep {
    std::uint32_t from;
    std::uint32_t root;
};
const SqriStep* SqriSteps(int& count);
inline int sqri(int n)
{
    if (n < 0) {
        return 0;
    }
    if (n <= 65024) {
        return TabSqr[static_cast<std::size_t>(n)];
    }
    return n / 2 <= 65024 ? FIRST_BLEND_LOW + TabFirstBlend[static_cast<std::size_t>(n - 65025)]
                          : SqriBlend(n);
}

// The TabTan index (128 p + q) / q (1..129) of the octant angle atan(p / q), 0 < p <= q <= 2^31.
// Below 2^24, 128 p + q <= 129 q fits in 32 unsigned bits; larger magnitudes divide in 64 bits.
constexpr std::uint32_t OctantIndex(std::uint32_t p, std::uint32_t q)
{
    return q < (1u << 24) ? (128 * p + q) / q
                          : static_cast<std::uint32_t>((128 * std::uint64_t{p} + q) / q);
}

// Degrees of the octant angle atan(p / q) for 0 < p <= q <= 2^31.
constexpr int AtanOctant(std::uint32_t p, std::uint32_t q)
{
    return TabTan[OctantIndex(p, q)];
}

// Direction of the vector (x, y) in whole degrees 0..359, from the x axis toward the y axis
// (clockwise from east on an image whose rows grow downward); atan(0, 0) = 0. Every int32 pair
// is in the domain: the magnitudes are taken unsigned, so |INT32_MIN| = 2^31 is exact. The
// octant is measured from the nearer axis; on the diagonal (equal magnitudes) from the x axis.
constexpr int atan(int x, int y)
{
    if (x == 0) {
        return y == 0 ? 0 : y > 0 ? 90 : 270;
    }
    if (y == 0) {
        return x > 0 ? 0 : 180;
    }
    const std::uint32_t ax =
        x < 0 ? 0u - static_cast<std::uint32_t>(x) : static_cast<std::uint32_t>(x);
    const std::uint32_t ay =
        y < 0 ? 0u - static_cast<std::uint32_t>(y) : static_cast<std::uint32_t>(y);
    if (ax >= ay) {
        const int t = AtanOctant(ay, ax); // from the x axis
        return y > 0 ? (x > 0 ? t : 180 - t) : (x > 0 ? 360 - t : 180 + t);
    }
    const int t = AtanOctant(ax, ay); // from the y axis
    return y > 0 ? (x > 0 ? 90 - t : 90 + t) : (x > 0 ? 270 + t : 270 - t);
}

// Tables derived from TabSin by integer arithmetic (each value a TabSin value times an integer,
// brought back by Descale13). Process-wide, built by the compiler, never written.
struct CTables {
    std::int32_t W[361];       // round(64 cos a), a = -180..180 at index a + 180
    std::int32_t Cd[180];      // round(256 cos 2k), k = 0..179 (direction words)
    std::int32_t Sd[180];      // round(256 sin 2k)
    std::int8_t Cb[180];       // round(64 cos 2k) (direction bytes)
    std::int8_t Sb[180];       // round(64 sin 2k)
    std::int16_t Ex[255][360]; // round(m cos a), m = 0..254, a = 0..359 (polar offsets)
    std::int16_t Ey[255][360]; // round(m sin a)
    std::uint8_t Rad[30][30];  // sqri(i*i + j*j)
};
const CTables& EngineTables();

} // namespace wizard73
