// Fixed-point tables recomputed in double, the deliberate deviations and near-half entries,
// sqri, atan, and the derived engine tables.

#include "extraction/engine/FixedMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

using namespace wizard73;

const double kPi = std::acos(-1.0);

int RoundHalfUp(double v)
{
    return static_cast<int>(std::floor(v + 0.5));
}

// Entries that differ from their formula on purpose; vectors near them depend on them.
struct Deviation {
    int index;
    int value;
};
constexpr Deviation kTanDeviations[] = {{1, 1}, {76, 30}, {82, 33}};

TEST(FixedMath, TabSinIsRoundedSine)
{
    for (int k = 0; k <= 90; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(TabSin[k], RoundHalfUp(8192.0 * std::sin(k * kPi / 180.0)));
    }
    EXPECT_EQ(TabSin[1], 143);
    EXPECT_EQ(TabSin[2], 286);
}

TEST(FixedMath, TabTanIsTheFormulaExceptItsListedDeviations)
{
    int checked = 0;
    for (int i = 0; i < 130; ++i) {
        SCOPED_TRACE(i);
        const int formula = RoundHalfUp(std::atan((i - 0.5) / 128.0) * 180.0 / kPi);
        int expected = formula;
        for (const Deviation& d : kTanDeviations) {
            if (d.index == i) {
                EXPECT_NE(d.value, formula) << "deviation now equals the formula: drop it";
                expected = d.value;
            }
        }
        EXPECT_EQ(TabTan[i], expected);
        ++checked;
    }
    EXPECT_EQ(checked, 130);
}

TEST(FixedMath, TabLogIsRoundedLogarithm)
{
    EXPECT_EQ(TabLog[0], 0);
    for (int i = 1; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(TabLog[i], RoundHalfUp(2048.0 * std::log(i) / std::log(255.0)));
    }
}

// Entries whose formula value lies within a few thousandths of a half: a libm or a generator
// that rounds differently would move them, so they are pinned here.
TEST(FixedMath, NearHalfEntriesArePinned)
{
    const struct {
        const std::int32_t* table;
        int index;
        int value;
    } pins[] = {
        {TabTan, 36, 16},    {TabTan, 70, 29},    {TabTan, 73, 30},    {TabTan, 79, 32},
        {TabTan, 106, 39},   {TabTan, 122, 44},   {TabLog, 41, 1373},  {TabLog, 68, 1559},
        {TabLog, 125, 1785}, {TabLog, 198, 1954}, {TabLog, 238, 2023}, {TabSin, 38, 5043},
        {TabSin, 55, 6710},  {TabSin, 68, 7595},
    };
    for (const auto& p : pins) {
        SCOPED_TRACE(p.index);
        EXPECT_EQ(p.table[p.index], p.value);
    }
}

TEST(FixedMath, TabSigIsSymmetricAndIncreasing)
{
    for (int k = 0; k <= 90; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(TabSig[k] + TabSig[90 - k], 8192);
        if (k > 0) {
            EXPECT_GT(TabSig[k], TabSig[k - 1]);
        }
        // close to 8192 sin^2 k
        EXPECT_NEAR(TabSig[k], 8192.0 * std::pow(std::sin(k * kPi / 180.0), 2), 8.0);
    }
}

TEST(FixedMath, TabSqrIsRoundedRoot)
{
    for (int n = 0; n < 65025; n += 7) {
        EXPECT_EQ(TabSqr[n], RoundHalfUp(std::sqrt(n))) << n;
    }
    EXPECT_EQ(TabSqr[65024], 255);
}

TEST(FixedMath, Sqri)
{
    EXPECT_EQ(sqri(-5), 0);
    EXPECT_EQ(sqri(0), 0);
    EXPECT_EQ(sqri(65024), 255);
    EXPECT_EQ(sqri(65025), 254); // (6*180 + 6*147 + 8*127 + 6*114 + 4*104) / 16
    EXPECT_NEAR(sqri(1000000), 1000, 10);
    EXPECT_NEAR(sqri(2147483647), 46341, 600);
    // Beyond the table: the blend written out as plain recursion, over the whole first blend
    // and a spread of larger values up to the largest int.
    struct Blend {
        static int Root(int n)
        {
            return n <= 65024 ? TabSqr[static_cast<std::size_t>(n)]
                              : (6 * Root(n / 2) + 6 * Root(n / 3) + 8 * Root(n / 4) +
                                 6 * Root(n / 5) + 4 * Root(n / 6)) /
                                    16;
        }
    };
    for (int n = 65025; n <= 2 * 65024 + 8; ++n) {
        ASSERT_EQ(sqri(n), Blend::Root(n)) << n;
    }
    // Every argument the stepped table serves (up to 2^21), and a little past its end.
    for (int n = 2 * 65024 + 9; n <= (1 << 21) + 8; ++n) {
        ASSERT_EQ(sqri(n), Blend::Root(n)) << n;
    }
    for (std::int64_t n = 130057; n <= 2147483647; n = n * 9 / 7 + 13) {
        ASSERT_EQ(sqri(static_cast<int>(n)), Blend::Root(static_cast<int>(n))) << n;
    }
    EXPECT_EQ(sqri(2147483647), Blend::Root(2147483647));
}

TEST(FixedMath, Atan)
{
    const struct {
        int x, y, deg;
    } cases[] = {
        {0, 0, 0},    {1, 1, 45},      {-1, 1, 135},   {-1, -1, 225},   {1, -1, 315},
        {1000, 1, 1}, {1000, -1, 359}, {3, 0, 0},      {0, -3, 270},    {0, 5, 90},
        {-4, 0, 180}, {1, 1000, 89},   {-1, 1000, 91}, {-1000, 1, 179}, {-1000, -1, 181},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(atan(c.x, c.y), c.deg);
    }
    // Within a degree of the true direction everywhere on a grid.
    for (int y = -40; y <= 40; y += 3) {
        for (int x = -40; x <= 40; x += 3) {
            if (x == 0 && y == 0) {
                continue;
            }
            const double t = std::fmod(std::atan2(y, x) * 180.0 / kPi + 360.0, 360.0);
            double diff = std::fabs(atan(x, y) - t);
            diff = diff > 180 ? 360 - diff : diff;
            EXPECT_LE(diff, 1.01) << x << "," << y;
        }
    }
}

// The quadrant rule written out plainly in 64 bits: the octant angle TabTan[(128 p + q) / q]
// for p <= q, measured from the x axis where |x| >= |y| and from the y axis otherwise.
int AtanReference(std::int64_t x, std::int64_t y)
{
    if (x == 0) {
        return y == 0 ? 0 : y > 0 ? 90 : 270;
    }
    if (y == 0) {
        return x > 0 ? 0 : 180;
    }
    const std::int64_t ax = x < 0 ? -x : x;
    const std::int64_t ay = y < 0 ? -y : y;
    const auto oct = [](std::int64_t p, std::int64_t q) {
        return TabTan[static_cast<std::size_t>((128 * p + q) / q)];
    };
    if (x > 0 && y > 0) {
        return ax >= ay ? oct(ay, ax) : 90 - oct(ax, ay);
    }
    if (x < 0 && y > 0) {
        return ax >= ay ? 180 - oct(ay, ax) : 90 + oct(ax, ay);
    }
    if (x > 0) {
        return ax >= ay ? 360 - oct(ay, ax) : 270 + oct(ax, ay);
    }
    return ax >= ay ? 180 + oct(ay, ax) : 270 - oct(ax, ay);
}

TEST(FixedMath, AtanFollowsTheQuadrantRuleOverGradientsAndExtremes)
{
    const int kMin = INT32_MIN;
    const int kMax = INT32_MAX;
    // Extremes (|INT32_MIN| = 2^31 has no int32 negation), pinned: axes, diagonals, and the
    // one-off-diagonal pairs of the largest magnitudes.
    const struct {
        int x, y, deg;
    } pinned[] = {
        {kMin, 0, 180},        {0, kMin, 270},        {kMax, 0, 0},      {0, kMax, 90},
        {kMin, kMin, 225},     {kMax, kMax, 45},      {kMin, kMax, 135}, {kMax, kMin, 315},
        {kMin, 1, 179},        {1, kMin, 271},        {kMin, -1, 181},   {-1, kMin, 269},
        {kMin + 1, kMin, 225}, {kMin, kMin + 1, 225},
    };
    for (const auto& c : pinned) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(atan(c.x, c.y), c.deg);
        EXPECT_EQ(AtanReference(c.x, c.y), c.deg);
    }
    // Every pair of edge values: zero, units, the 32-bit division's bound 2^24, the magnitudes
    // just below 2^25 whose 129 q would pass 2^32, and the extremes, in all four quadrants and
    // on both axes.
    const int edges[] = {kMin,
                         kMin + 1,
                         -(1 << 25) + 1,
                         -(1 << 24) - 1,
                         -(1 << 24),
                         -(1 << 24) + 1,
                         -1021,
                         -1,
                         0,
                         1,
                         1020,
                         (1 << 24) - 1,
                         1 << 24,
                         (1 << 24) + 1,
                         (1 << 25) - 1,
                         kMax - 1,
                         kMax};
    for (const int y : edges) {
        for (const int x : edges) {
            ASSERT_EQ(atan(x, y), AtanReference(x, y)) << x << "," << y;
        }
    }
    // Sobel gradients (|d| <= 1020), equal magnitudes included, and their scaled copies.
    int runs = 0;
    for (int y = -1020; y <= 1020; y += 7) {
        for (int x = -1020; x <= 1020; x += 11) {
            ASSERT_EQ(atan(x, y), AtanReference(x, y)) << x << "," << y;
            ASSERT_EQ(atan(x, x), AtanReference(x, x)) << x;
            ASSERT_EQ(atan(x, -x), AtanReference(x, -x)) << x;
            const int s = 1 << 21; // 1020 * 2^21 < 2^31
            ASSERT_EQ(atan(x * s, y * s), AtanReference(std::int64_t{x} * s, std::int64_t{y} * s));
            ++runs;
        }
    }
    EXPECT_EQ(runs, 292 * 186);
}

TEST(FixedMath, SineAndCosineByQuadrant)
{
    EXPECT_EQ(SinDeg(200), -2802);
    EXPECT_EQ(CosDeg(200), -7698);
    for (int a = 0; a < 360; ++a) {
        EXPECT_NEAR(SinDeg(a), 8192 * std::sin(a * kPi / 180), 0.51) << a;
        EXPECT_NEAR(CosDeg(a), 8192 * std::cos(a * kPi / 180), 0.51) << a;
    }
}

// Mod360 takes the angles already in range as they are and folds all others, both signs and the
// extremes of int, into 0..359 like the remainder of the floor division.
TEST(FixedMath, Mod360FoldsEveryInt)
{
    auto reference = [](std::int64_t a) { return static_cast<int>(((a % 360) + 360) % 360); };
    for (int a = -1100; a <= 1100; ++a) {
        ASSERT_EQ(Mod360(a), reference(a)) << a;
    }
    for (int a :
         {INT32_MIN, INT32_MIN + 1, -360 * 1000 - 1, 360 * 1000, INT32_MAX - 1, INT32_MAX}) {
        EXPECT_EQ(Mod360(a), reference(a)) << a;
    }
    static_assert(Mod360(-1) == 359 && Mod360(359) == 359 && Mod360(360) == 0);
}

TEST(FixedMath, Descale13RoundsHalvesAwayFromZero)
{
    const struct {
        int in, out;
    } cases[] = {{4095, 0},
                 {4096, 1},
                 {-4095, 0},
                 {-4096, -1},
                 {12288, 2},
                 {-12288, -2},
                 {2147483647 - 4096, 262143}};
    for (const auto& c : cases) {
        EXPECT_EQ(Descale13(c.in), c.out) << c.in;
    }
}

// The multiply by InverseCeil32(t) divides exactly over the rounded means of bytes: every
// quotient step q t - 1, q t up to the largest n = 255 t + t / 2, for each t up to 4096, and
// the 2^32 / t limit of its domain for larger divisors.
TEST(FixedMath, InverseCeil32DividesExactly)
{
    auto exact = [](std::uint64_t n, int t) {
        const std::uint64_t d = static_cast<std::uint64_t>(t);
        return ((n * InverseCeil32(t)) >> 32) == n / d;
    };
    for (int t = 1; t <= 4096; ++t) {
        const std::uint64_t d = static_cast<std::uint64_t>(t);
        const std::uint64_t top = 255 * d + d / 2;
        for (std::uint64_t q = 1; q <= 256; ++q) {
            ASSERT_TRUE(exact(q * d - 1, t)) << q * d - 1 << " / " << t;
            ASSERT_TRUE(exact(std::min(q * d, top), t)) << std::min(q * d, top) << " / " << t;
        }
    }
    for (const int t : {4097, 40000, 65535, 65536}) {
        const std::uint64_t n = (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(t);
        EXPECT_TRUE(exact(n, t)) << t;
        EXPECT_TRUE(exact(n - 1, t)) << t;
    }
    EXPECT_EQ(InverseCeil32(1), std::uint64_t{1} << 32);
    EXPECT_EQ(InverseCeil32(3), 1431655766u);
}

TEST(FixedMath, DerivedTablesMatchTheirFormulas)
{
    const CTables& t = EngineTables();
    auto r = [](double v) {
        return static_cast<int>(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5));
    };
    for (int a = -180; a <= 180; ++a) {
        EXPECT_NEAR(t.W[a + 180], r(64 * std::cos(a * kPi / 180)), 1) << a;
    }
    for (int k = 0; k < 180; ++k) {
        EXPECT_NEAR(t.Cd[k], 256 * std::cos(2 * k * kPi / 180), 0.6) << k;
        EXPECT_NEAR(t.Sd[k], 256 * std::sin(2 * k * kPi / 180), 0.6) << k;
        EXPECT_NEAR(t.Cb[k], 64 * std::cos(2 * k * kPi / 180), 0.6) << k;
        EXPECT_NEAR(t.Sb[k], 64 * std::sin(2 * k * kPi / 180), 0.6) << k;
    }
    for (int m = 0; m < 255; m += 17) {
        for (int a = 0; a < 360; a += 7) {
            EXPECT_NEAR(t.Ex[m][a], m * std::cos(a * kPi / 180), 0.6);
            EXPECT_NEAR(t.Ey[m][a], m * std::sin(a * kPi / 180), 0.6);
        }
    }
    // Exact values of the rounding rule: 64 cos 60 = 8192*64/2 / 8192 exactly 32; a product
    // with a half fraction rounds away from zero (5 cos 60 = 2.5 -> 3, 5 cos 120 -> -3).
    EXPECT_EQ(t.W[180 + 60], 32);
    EXPECT_EQ(t.Ex[5][60], 3);
    EXPECT_EQ(t.Ex[5][120], -3);
    EXPECT_EQ(t.Ey[5][210], -3);
    EXPECT_EQ(t.Rad[3][4], 5);
    EXPECT_EQ(t.Rad[1][1], 1);
    EXPECT_EQ(t.Rad[29][29], 41);
}

} // namespace
