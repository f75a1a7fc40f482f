// Group containers and alignment: NumSet, HitGroup and GroupEx bookkeeping, the rotation
// estimate and its half-turn case, the compatibility test in both forms, conflict position
// records, carrying points between the frames, and the local scales.

#include "matching/Groups.h"
#include "matching/Matcher100.h"
#include "tests/matching/matcher_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace accelMatch;
using zftest::MinutiaPoint;

constexpr double kPi = 3.14159265358979323846;

// `points` turned by theta degrees about (cx, cy), then shifted.
std::vector<MinutiaPoint> Turned(const std::vector<MinutiaPoint>& points, int theta, int cx, int cy,
                                 int sx, int sy)
{
    const double c = std::cos(theta * kPi / 180);
    const double s = std::sin(theta * kPi / 180);
    std::vector<MinutiaPoint> out = points;
    for (MinutiaPoint& m : out) {
        const double x = m.x - cx;
        const double y = m.y - cy;
        m.x = static_cast<int>(std::lround(cx + x * c - y * s + sx));
        m.y = static_cast<int>(std::lround(cy + x * s + y * c + sy));
        m.angle = m.angle + theta;
    }
    return out;
}

const std::vector<MinutiaPoint> kSquare = {
    {100, 100, 0}, {300, 100, 40}, {100, 300, 80}, {300, 300, 120}, {200, 150, 160}};

// Carries every minutia of both sides by the group (centres cP and cG, turn rot) in one pass
// and expects each to land where carrying it alone, with the area scale at its own place, puts it.
void ExpectWholeCarryEqualsEachAlone(Matcher100& m, GroupEx& g, std::array<int, 2> cP,
                                     std::array<int, 2> cG, int rot, int count)
{
    m.combineFingerprints(&g, true, true, cP[0], cP[1], cG[0], cG[1], rot, true);
    for (int i = 0; i < count; ++i) {
        for (const bool isP : {true, false}) {
            const std::array<int, 2>& from = isP ? cP : cG;
            const std::array<int, 2>& to = isP ? cG : cP;
            const ESK::Sign& s = (isP ? m.m_minutiaeP : m.m_minutiaeG)[i];
            int areaX = 0;
            int areaY = 0;
            int localX = 0;
            int localY = 0;
            m.getAreaScale(&g, from[0], from[1], areaX, areaY, isP);
            m.getAreaScale(&g, s.x, s.y, localX, localY, isP);
            int x = 0;
            int y = 0;
            int a = 0;
            m.transferPoint(s.x, s.y, s.angle, x, y, a, from[0], from[1], to[0], to[1],
                            isP ? -rot : rot, localX, localY, areaX, areaY, isP);
            const MinutiaeShort& o = (isP ? m.m_carriedP : m.m_carriedG)[i];
            ASSERT_EQ(o.x, x) << i << " " << isP;
            ASSERT_EQ(o.y, y) << i << " " << isP;
            ASSERT_EQ(o.angle, a) << i << " " << isP;
        }
    }
}

TEST(NumSet, AddRefusesPresentValuesAndFullSets)
{
    NumSet<unsigned> s(3);
    EXPECT_TRUE(s.add(7));
    EXPECT_FALSE(s.add(7));
    EXPECT_EQ(s.getNumItems(), 1u);
    EXPECT_TRUE(s.add(0xFFFFFFFFu));
    EXPECT_TRUE(s.add(0xFFFFFFFFu)); // never searched
    EXPECT_FALSE(s.add(9));          // full
    EXPECT_EQ(s.getNumItems(), 3u);
}

TEST(NumSet, AppendingPairsSkipsUnusedAndPresentPairs)
{
    NumSet<PairEx2> a(4);
    a.append(PairEx2{1, 1, 0, 0, 0});
    NumSet<PairEx2> b(5);
    b.append(PairEx2{-1, 3, 0, 0, 0});
    b.append(PairEx2{1, 1, 0, 0, 0});
    b.append(PairEx2{2, 2, 7, 300, 200});
    b.append(PairEx2{3, 3, 0, 0, 0});
    b.append(PairEx2{4, 4, 0, 0, 0});
    a += b; // room 3: looks at three of b's items only
    ASSERT_EQ(a.getNumItems(), 2u);
    EXPECT_EQ(a[1].np, 2);
    EXPECT_EQ(a[1].transition, 7);
    EXPECT_EQ(a[1].scaleX, 300);
    // An empty set takes the other's capacity.
    NumSet<PairEx2> c;
    c += b;
    EXPECT_EQ(c.m_maxItems, 5u);
    EXPECT_EQ(c.getNumItems(), 4u);
}

TEST(HitGroup, AddKeepsEachNeighbourOnce)
{
    HitGroup* g = newHitGroup(4);
    EXPECT_EQ(g->m_items[3].transition, TR_NONE);
    g->add(1, 2, 0, 0, 0, 0);
    g->add(1, 5, 0, 0, 0, 0); // probe neighbour taken
    g->add(4, 2, 0, 0, 0, 0); // gallery neighbour taken
    g->add(-1, 7, 3, 0, 0, 0);
    g->add(-1, 8, 3, 0, 0, 0); // -1 is never searched
    EXPECT_EQ(g->m_numItems, 3);
    g->remove(0);
    EXPECT_EQ(g->m_numItems, 2);
    EXPECT_EQ(g->m_items[0].nG, 7);
    freeHitGroup(g);
    EXPECT_EQ(g, nullptr);
}

// Directions are worked out on first use from the positions the set was built with: a
// rebuild over other minutiae leaves no direction of the last build behind, and changing
// the minutia array after a build changes nothing.
TEST(MinutiaePairSet, DirectionsFollowTheLastBuild)
{
    auto pairs = std::make_unique<MinutiaePairSet>();
    ESK::Lot<short> a[4] = {};
    ESK::Lot<short> b[4] = {};
    const short xy[4][2] = {{0, 0}, {30, 40}, {-50, 7}, {12, -90}};
    for (int i = 0; i < 4; ++i) {
        a[i].x = xy[i][0];
        a[i].y = xy[i][1];
        b[i].x = xy[3 - i][1];
        b[i].y = xy[3 - i][0];
    }
    pairs->build(a, 4);
    EXPECT_EQ(pairs->getAngle(1, 0), 53); // first use
    pairs->build(b, 4);
    b[1].x = 999;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            if (i == j) {
                continue;
            }
            const int dx = xy[3 - i][1] - xy[3 - j][1];
            const int dy = xy[3 - i][0] - xy[3 - j][0];
            EXPECT_EQ(pairs->getAngle(i, j), wrap180(atan(dx, dy))) << i << ", " << j;
            EXPECT_EQ(pairs->getLen(i, j),
                      static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)) + 0.5));
        }
    }
}

// Every difference near the table's edge on both sides, axes and the null vector's
// neighbours included: the direction is atan's, the reverse the same turned by half a turn.
TEST(MinutiaePairSet, DirectionsOfNearbyMinutiaeEqualAtan)
{
    auto pairs = std::make_unique<MinutiaePairSet>();
    std::vector<ESK::Lot<short>> m(1);
    const auto check = [&] {
        const int n = static_cast<int>(m.size());
        pairs->build(m.data(), n);
        for (int k = 1; k < n; ++k) {
            const int dx = m[k].x - m[0].x;
            const int dy = m[k].y - m[0].y;
            const int want = wrap180(atan(dx, dy));
            ASSERT_EQ(pairs->getAngle(k, 0), want) << dx << ", " << dy;
            ASSERT_EQ(pairs->getAngle(0, k), wrap180(want + 180)) << dx << ", " << dy;
        }
        m.resize(1);
    };
    m[0].x = 1000;
    m[0].y = -2000;
    for (int dx = -130; dx <= 130; ++dx) {
        for (int dy = -130; dy <= 130; ++dy) {
            if (dx == 0 && dy == 0) {
                continue;
            }
            ESK::Lot<short> p = {};
            p.x = static_cast<short>(m[0].x + dx);
            p.y = static_cast<short>(m[0].y + dy);
            m.push_back(p);
            if (static_cast<int>(m.size()) == MAX_NESTS) {
                check();
            }
        }
    }
    check();
}

// direction180 is wrap180 of atan on both sides of the table's edge and at the ends of the
// int range, where the magnitudes are taken without overflow.
TEST(Direction, EqualsTheWrappedArctangent)
{
    for (int dx = -130; dx <= 130; ++dx) {
        for (int dy = -130; dy <= 130; ++dy) {
            ASSERT_EQ(direction180(dx, dy), wrap180(atan(dx, dy))) << dx << ", " << dy;
        }
    }
    const int far[] = {INT_MIN, INT_MIN + 1, -65535, -128, 127, 128, 65535, INT_MAX};
    for (int a : far) {
        for (int b : {0, 1, -1, 127, -128, INT_MIN, INT_MAX}) {
            EXPECT_EQ(direction180(a, b), wrap180(atan(a, b))) << a << ", " << b;
            EXPECT_EQ(direction180(b, a), wrap180(atan(b, a))) << b << ", " << a;
        }
    }
}

// Coordinates of a damaged record lie anywhere in 16 bits (a moved ending can wrap to the
// far side): the squared length of two minutiae 65531 apart on both axes is 2^33 and is
// summed without overflow.
TEST(MinutiaePairSet, LengthsAcrossTheWholeCoordinateRange)
{
    auto pairs = std::make_unique<MinutiaePairSet>();
    ESK::Lot<short> m[3] = {};
    m[0].x = -32764;
    m[0].y = -32764;
    m[1].x = 32767;
    m[1].y = 32767;
    m[2].x = 32767;
    m[2].y = -32764;
    pairs->build(m, 3);
    EXPECT_EQ(pairs->getLen(0, 1), 92675); // 65531 sqrt 2, via the sum in single precision
    EXPECT_EQ(pairs->getLen(2, 0), 65531);
    EXPECT_EQ(pairs->getLen(1, 2), 65531);
    EXPECT_EQ(pairs->getAngle(1, 0), 45);
}

// The lengths built two at a time agree with the scalar steps (64-bit sum rounded to single
// precision, its root in double + 0.5, truncated) for every pair of lists of odd and even
// size, over coordinates anywhere in 16 bits and ones a few units apart (sums near a float's
// rounding ties and near half-integer roots).
TEST(MinutiaePairSet, LengthsEqualTheScalarStepsForEveryPair)
{
    auto pairs = std::make_unique<MinutiaePairSet>();
    std::uint32_t state = 0x9E3779B9u;
    const auto next = [&state] { return zftest::XorShift32(state); };
    for (int n : {0, 1, 2, 3, 64, 201, MAX_NESTS}) {
        for (int spread : {65536, 300, 5}) {
            std::vector<ESK::Lot<short>> m(static_cast<std::size_t>(n));
            for (ESK::Lot<short>& p : m) {
                p.x = static_cast<short>(static_cast<int>(next() % spread) - spread / 2);
                p.y = static_cast<short>(static_cast<int>(next() % spread) - spread / 2);
            }
            pairs->build(m.data(), n);
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(pairs->m_items[i][i].len, 0);
                for (int j = 0; j < n; ++j) {
                    if (i == j) {
                        continue;
                    }
                    const std::int64_t dx = m[i].x - m[j].x;
                    const std::int64_t dy = m[i].y - m[j].y;
                    const float sq = static_cast<float>(dx * dx + dy * dy);
                    const int want = static_cast<int>(std::sqrt(static_cast<double>(sq)) + 0.5);
                    ASSERT_EQ(pairs->getLen(i, j), want) << n << " " << i << " " << j;
                    ASSERT_EQ(pairs->m_items[i][j].dir, DIR_NOT_COMPUTED);
                }
            }
        }
    }
}

TEST(GroupEx, AddRemoveAndReplace)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kSquare), zftest::PlanOf(kSquare));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    EXPECT_TRUE(g.add(0, 0, 0));
    EXPECT_FALSE(g.add(0, 0, 0));
    EXPECT_TRUE(g.add(0, 1, 0)); // another partner for np 0: the builders prevent it
    EXPECT_EQ(g.m_centrePX, 100);
    EXPECT_EQ(g.m_centreGY, 100);
    EXPECT_EQ(g.m_numAdded, 2u);
    g.m_baseSize = 2;
    g.m_kernelSize = 1;
    g.remove(0);
    EXPECT_EQ(g.getNumItems(), 1u);
    EXPECT_EQ(g.m_baseSize, 1u);
    EXPECT_EQ(g.m_kernelSize, 0u);
    g.replace(0, 2, 1, 5);
    EXPECT_EQ(g.m_rotation, 40); // P[2] 80 degrees, G[1] 40
    EXPECT_EQ(g.m_numChanged, 2u);
}

TEST(GroupEx, NearHalfTurnRotationIsAveragedOnTheTurnedCircle)
{
    // G is P turned by 176 degrees: the first pair sets the half-turn flag (25 + 9 >= 4).
    const auto g0 = Turned(kSquare, 176, 200, 200, 0, 0);
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kSquare), zftest::PlanOf(g0));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    ASSERT_TRUE(g.add(0, 0, 0));
    EXPECT_EQ(g.m_nearHalfTurn, 1);
    for (int k = 1; k < 5; ++k) {
        g.add(k, k, 0);
    }
    g.recalcData();
    EXPECT_NEAR(g.m_rotation, -176, 1);
}

TEST(GroupEx, RotationEstimate)
{
    for (int theta : {-45, -20, 0, 20, 45}) {
        SCOPED_TRACE(theta);
        const auto turned = Turned(kSquare, theta, 200, 200, 30, -20);
        auto m = zftest::LoadedMatcher(zftest::PlanOf(kSquare), zftest::PlanOf(turned));
        GroupEx& g = m->m_kernelGroups[0];
        g.reset();
        g.add(0, 0, 0);
        const int first = g.m_rotation;
        g.recalcData(); // one pair: nothing changes
        EXPECT_EQ(g.m_rotation, first);
        for (int k = 1; k < 5; ++k) {
            g.add(k, k, 0);
        }
        g.recalcData();
        EXPECT_NEAR(g.m_rotation, -theta, 1);
        EXPECT_EQ(g.m_centrePX, 200);
        EXPECT_EQ(g.m_centrePY, 190);
        // Unchanged group: nothing is recomputed.
        g.m_numAdded = 0;
        g.m_rotation = 99;
        g.recalcData();
        EXPECT_EQ(g.m_rotation, 99);
    }
}

TEST(GroupEx, PairsNearTheCentreLeaveTheRotation)
{
    const std::vector<MinutiaPoint> tight = {{200, 200, 0}, {210, 200, 0}, {200, 212, 0}};
    auto m =
        zftest::LoadedMatcher(zftest::PlanOf(tight), zftest::PlanOf(Turned(tight, 30, 0, 0, 0, 0)));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    g.add(0, 0, 0);
    g.add(1, 1, 0);
    g.add(2, 2, 0);
    g.m_rotation = 7;
    g.recalcData();
    EXPECT_EQ(g.m_rotation, 7);
    EXPECT_EQ(g.m_centrePX, 203);
    EXPECT_EQ(g.m_centrePY, 204);
}

TEST(GroupEx, CompatibilityForms)
{
    // Probe: a row of minutiae 100 apart; gallery: the same, but minutia 3 moved off the row
    // (wrong lengths and directions to every pair) and minutia 4 a short hop away from 0.
    const std::vector<MinutiaPoint> p = {
        {100, 200, 0}, {200, 200, 0}, {300, 200, 0}, {400, 200, 0}, {108, 206, 0}};
    std::vector<MinutiaPoint> gs = p;
    gs[3].y = 320;
    gs[3].x = 300;
    gs[4] = {104, 190, 0};
    auto m = zftest::LoadedMatcher(zftest::PlanOf(p), zftest::PlanOf(gs));
    m->setDistErrorLevel(0);
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    NumSet<unsigned> conflicts(4);
    NumSet<unsigned> skip(4);
    int mean = -1;
    // Empty group: anything goes, even a minutia turned the wrong way.
    EXPECT_TRUE(g.isCompatible(0, 3, 0, conflicts, 4, &mean, skip, false, 0, 0, IC_STRICT, 0));
    g.add(0, 0, 0);
    g.add(1, 1, 0);
    g.add(2, 2, 0);
    EXPECT_FALSE(g.isCompatible(3, 3, 0, conflicts, 4, &mean, skip, false, 0, 0, IC_STRICT, 0));
    // The short hop to pair 0 is judged by length alone (10 against 11).
    EXPECT_TRUE(g.isCompatible(4, 4, 0, conflicts, 4, &mean, skip, false, 0, 0, IC_STRICT, 0));
    // Collecting: the inconsistent positions are listed, up to maxConflicts.
    EXPECT_TRUE(g.isCompatible(3, 3, 0, conflicts, 4, nullptr, skip, false, 0, 0, IC_COLLECT, 0));
    EXPECT_EQ(conflicts.getNumItems(), 3u);
    NumSet<unsigned> few(4);
    EXPECT_FALSE(g.isCompatible(3, 3, 0, few, 1, nullptr, skip, false, 0, 0, IC_COLLECT, 0));
    NumSet<unsigned> none0(4);
    // A pair sharing a minutia with the candidate has no segment to compare: it is passed
    // over, and the others decide.
    EXPECT_TRUE(g.isCompatible(0, 4, 0, none0, 4, &mean, skip, false, 0, 0, IC_STRICT, 0));
    // Skipped positions are not looked at.
    NumSet<unsigned> none(4);
    NumSet<unsigned> all(4);
    all.add(0);
    all.add(1);
    all.add(2);
    EXPECT_TRUE(g.isCompatible(3, 3, 0, none, 0, nullptr, all, false, 0, 0, IC_COLLECT, 0));
    // A true copy: strict form with zero mean error.
    auto same = zftest::LoadedMatcher(zftest::PlanOf(p), zftest::PlanOf(p));
    GroupEx& h = same->m_kernelGroups[0];
    h.reset();
    h.add(0, 0, 0);
    h.add(1, 1, 0);
    EXPECT_TRUE(h.isCompatible(2, 2, 0, conflicts, 4, &mean, skip, false, 0, 0, IC_STRICT, 0));
    EXPECT_EQ(mean, 0);
}

TEST(GroupEx, ScalesCancellingEachOtherAreComparedUnscaled)
{
    // A pair scale stored as 100 and a candidate scale wrapped to -100 (values a corrupt
    // template can produce) sum to zero: the pair is then compared as if it had no scale,
    // in either axis, instead of dividing by zero.
    const std::vector<MinutiaPoint> p = {
        {100, 200, 0}, {200, 200, 0}, {300, 260, 0}, {180, 330, 0}};
    auto m = zftest::LoadedMatcher(zftest::PlanOf(p), zftest::PlanOf(p));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    g.add(0, 0, 0);
    g.add(1, 1, 0);
    g.add(2, 2, 0);
    for (std::uint32_t i = 0; i < g.getNumItems(); ++i) {
        g.m_pair.m_items[i].scaleX = 100;
        g.m_pair.m_items[i].scaleY = 100;
    }
    NumSet<unsigned> conflicts(4);
    NumSet<unsigned> skip(4);
    int unscaledMean = -1;
    ASSERT_TRUE(
        g.isCompatible(3, 3, 0, conflicts, 4, &unscaledMean, skip, false, 0, 0, IC_STRICT, 0));
    const struct {
        short sx;
        short sy;
    } cases[] = {{-100, -100}, {-100, 100}, {100, -100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sx << "," << c.sy);
        int mean = -1;
        NumSet<unsigned> collected(4);
        EXPECT_TRUE(
            g.isCompatible(3, 3, 0, conflicts, 4, &mean, skip, true, c.sx, c.sy, IC_STRICT, 0));
        EXPECT_EQ(mean, unscaledMean);
        EXPECT_TRUE(
            g.isCompatible(3, 3, 0, collected, 4, nullptr, skip, true, c.sx, c.sy, IC_COLLECT, 0));
        EXPECT_EQ(collected.getNumItems(), 0u);
        const std::uint8_t candidate = 3;
        std::uint8_t agreeing = 0;
        std::uint32_t first = 0;
        EXPECT_EQ(g.findAgreeingGallery(3, &candidate, 1, 0, true, c.sx, c.sy, first, &agreeing),
                  1);
    }
}

TEST(GroupEx, AgreeingGalleryEqualsTheStrictTest)
{
    // 160 probe minutiae; the gallery the same stretched unevenly along the axes and jittered,
    // so that many carried lengths fall near the tolerance on either side. Eight pairs with
    // scales known, unknown on one axis, or cancelling a wrapped candidate scale.
    constexpr int N = 160;
    std::vector<MinutiaPoint> p;
    std::vector<MinutiaPoint> gs;
    for (int k = 0; k < N; ++k) {
        const int x = (k * 67) % 420 + 40;
        const int y = (k * 151) % 430 + 30;
        p.push_back({x, y, 0});
        gs.push_back({(x * 9) / 8 + (k * 7) % 11 - 40, (y * 15) / 16 + (k * 5) % 9, 0});
    }
    auto m = zftest::LoadedMatcher(zftest::PlanOf(p), zftest::PlanOf(gs));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    const int pairScales[8][2] = {{290, 240}, {250, 260}, {0, 250},   {300, 0},
                                  {100, 100}, {280, 230}, {270, 250}, {240, 280}};
    for (int k = 0; k < 8; ++k) {
        ASSERT_TRUE(g.add(k, k, 0));
        g.getPair(k).scaleX = static_cast<std::uint16_t>(pairScales[k][0]);
        g.getPair(k).scaleY = static_cast<std::uint16_t>(pairScales[k][1]);
    }
    g.m_rotation = 0;
    // Every minutia direction passes, so only the pairs decide.
    g.m_minAngleTol = 180;
    g.m_minAngleTolWide = 180;
    std::uint8_t candidates[N];
    for (int k = 0; k < N; ++k) {
        candidates[k] = static_cast<std::uint8_t>(k);
    }
    const int scales[][2] = {{256, 256}, {290, 230}, {220, 300}, {-100, 256}, {-300, 256}, {0, 0}};
    int agreed = 0;
    int refused = 0;
    for (const int level : {0, 3, 5}) {
        for (const auto& sc : scales) {
            const bool scaled = sc[0] != 0 && sc[1] != 0;
            for (int np = 0; np < N; ++np) {
                std::vector<int> expected;
                for (int ng = 0; ng < N; ++ng) {
                    NumSet<unsigned> none;
                    if (g.isCompatibleAligned(static_cast<short>(np), static_cast<short>(ng), level,
                                              none, 0, nullptr, none, scaled, sc[0], sc[1],
                                              IC_STRICT)) {
                        expected.push_back(ng);
                    }
                }
                agreed += static_cast<int>(expected.size());
                refused += N - static_cast<int>(expected.size());
                for (const std::uint32_t start : {0u, 5u, 100u}) {
                    std::uint8_t agreeing[N];
                    std::uint32_t first = start;
                    const int n =
                        g.findAgreeingGallery(static_cast<short>(np), candidates, N, level, scaled,
                                              sc[0], sc[1], first, agreeing);
                    ASSERT_EQ(std::vector<int>(agreeing, agreeing + n), expected)
                        << level << " " << sc[0] << "," << sc[1] << " np " << np << " from "
                        << start;
                }
            }
        }
    }
    // Both outcomes occur often enough to matter.
    EXPECT_GT(agreed, 500);
    EXPECT_GT(refused, 500);
}

// The length bounds of the first pair's test rest on two table facts: every direction of the
// cosine and sine tables has a length within one of 8192, and at every error level the
// distance tolerance never shrinks as the length grows.
TEST(GroupEx, FirstPairLengthBoundsHoldForTheTables)
{
    for (int a = 0; a < 360; ++a) {
        const double len = std::hypot(TabCos360[a], TabSin360[a]);
        EXPECT_GE(len, 8191.0) << a;
        EXPECT_LE(len, 8193.0) << a;
    }
    fillDistTolTab();
    for (int l = 0; l < MAX_ERROR_LEVEL; ++l) {
        for (int d = 1; d < DIST_TOL_SIZE; ++d) {
            ASSERT_LE(s_distTolTab[l][d - 1], s_distTolTab[l][d]) << l << " " << d;
        }
    }
}

ConflictPos Record(std::vector<std::pair<int, int>> pairs, std::vector<unsigned> positions)
{
    ConflictPos c{};
    for (const auto& p : pairs) {
        c.pairs[c.m_numPairs++] = PairEx2{static_cast<std::int16_t>(p.first),
                                          static_cast<std::int16_t>(p.second), 0, 0, 0};
    }
    for (unsigned v : positions) {
        c.positions[c.numPositions++] = v;
    }
    return c;
}

TEST(ConflictPosSet, InsertMergesRecordsGivingUpTheSamePositions)
{
    ConflictPos items[3] = {};
    ConflictPosSet set(items, 3);
    EXPECT_TRUE(set.insert(Record({{1, 1}}, {4})));
    EXPECT_TRUE(set.insert(Record({{2, 2}, {3, 3}}, {4}))); // same single position: merged
    EXPECT_EQ(set.m_numItems, 1u);
    EXPECT_EQ(set.getItem(0).m_numPairs, 3u);
    EXPECT_EQ(set.getProfit(0), 2);
    EXPECT_TRUE(set.insert(Record({{2, 2}}, {7}))); // pair already offered: nothing
    EXPECT_EQ(set.m_numItems, 1u);
    EXPECT_TRUE(set.insert(Record({{5, 5}}, {6, 4})));
    EXPECT_TRUE(set.insert(Record({{6, 6}}, {4, 6}))); // same two positions, either order
    EXPECT_EQ(set.m_numItems, 2u);
    EXPECT_EQ(set.getItem(1).m_numPairs, 2u);
    // Filling record 0 to ten pairs, then an eleventh.
    EXPECT_TRUE(set.insert(
        Record({{10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}, {15, 15}, {16, 16}}, {4})));
    EXPECT_EQ(set.getItem(0).m_numPairs, 10u);
    EXPECT_FALSE(set.insert(Record({{20, 20}}, {4})));
    // A full set refuses a new record.
    EXPECT_TRUE(set.insert(Record({{30, 30}}, {})));
    EXPECT_FALSE(set.insert(Record({{31, 31}}, {1})));
}

TEST(Alignment, TransferPoint)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kSquare), zftest::PlanOf(kSquare));
    struct Case {
        int x, y, angle, rotation, scale;
        bool forward;
        int outX, outY, outAngle;
    };
    const Case cases[] = {
        {130, 140, 10, 0, 256, true, 530, 640, 10},        // offset (30, 40) kept
        {130, 140, 10, 0, 0, false, 530, 640, 10},         // pair scale 0 counts as 1.0
        {130, 140, 170, 90, 256, true, 460, 630, -100},    // turned a quarter
        {200, 100, 0, 0, 512, true, 650, 600, 0},          // mean scale 1.5 forward
        {250, 100, 0, 0, 512, false, 600, 600, 0},         // and back
        {-901, 100, 0, 0, 768, false, 0, 600, 0},          // back, -500.5 truncated to -500
        {3000100, 100, 0, 0, 256, false, 3000500, 600, 0}, // an offset past 32-bit products
    };
    for (const Case& c : cases) {
        int x = 0;
        int y = 0;
        int a = 0;
        m->transferPoint(c.x, c.y, c.angle, x, y, a, 100, 100, 500, 600, c.rotation, c.scale,
                         c.scale, 256, 256, c.forward);
        EXPECT_EQ(x, c.outX) << c.x << " " << c.rotation;
        EXPECT_EQ(y, c.outY) << c.y << " " << c.rotation;
        EXPECT_EQ(a, c.outAngle);
    }
}

TEST(Alignment, ScalesOfAGroup)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kSquare), zftest::PlanOf(kSquare));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    int sx = 0;
    int sy = 0;
    m->getAreaScale(&g, 0, 0, sx, sy, true);
    EXPECT_EQ(sx, 256);
    EXPECT_EQ(sy, 256);
    short px = 1;
    short py = 1;
    g.calcScaleForOnePair(m->m_carriedG, 0, 0, px, py);
    EXPECT_EQ(px, 0);
    EXPECT_EQ(py, 0);
    // A single pair keeps its alignment; its own minutia is carried to the probe centre.
    g.add(1, 1, 0);
    g.m_rotation = 0;
    m->combineFingerprintsByCurGroup(&g, false, true, false);
    EXPECT_EQ(m->m_carriedG[1].x, 300);
    EXPECT_EQ(m->m_carriedG[1].y, 100);
    // Pairs 200 apart on both axes at scale 1: every pair's scale is 1.0.
    for (int k : {0, 2, 3}) {
        g.add(k, k, 0);
    }
    m->calcScale(&g);
    for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
        EXPECT_EQ(g.getPair(k).scaleX, 256) << k;
        EXPECT_EQ(g.getPair(k).scaleY, 256) << k;
    }
    EXPECT_EQ(g.m_numAdded, 0u);
    m->getAreaScale(&g, 100, 100, sx, sy, true);
    EXPECT_EQ(sx, 256);
    EXPECT_EQ(sy, 256);
}

// The scales of every pair worked out together equal each pair's alone: pairs sharing a
// minutia, axis distances on both sides of 40 and 100, and the pairs taken into the sums
// cut short by the base size or not.
TEST(Alignment, ScalesOfAllPairsEqualEachPairAlone)
{
    constexpr int N = 40;
    std::vector<MinutiaPoint> points;
    for (int k = 0; k < N; ++k) {
        points.push_back({(k * 37) % 300 + 10, (k * 53) % 290 + 20, 0});
    }
    auto m = zftest::LoadedMatcher(zftest::PlanOf(points), zftest::PlanOf(points));
    std::vector<MinutiaeShort> carried(N);
    for (int k = 0; k < N; ++k) {
        carried[k] = MinutiaeShort{points[k].x * 9 / 8 + (k * 7) % 23, points[k].y * 7 / 8, 0};
    }
    GroupEx& g = m->m_kernelGroups[0];
    for (const std::uint32_t base : {0u, 9u, 30u, 200u}) {
        SCOPED_TRACE(base);
        g.reset();
        for (int k = 0; k < 30; ++k) {
            ASSERT_TRUE(g.add(k, (k * 7) % N, 0));
        }
        ASSERT_TRUE(g.add(3, 33, 0));  // shares its probe minutia with pair 3
        ASSERT_TRUE(g.add(34, 14, 0)); // shares its gallery minutia with pair 2
        g.m_baseSize = base;
        std::vector<std::array<short, 2>> expected;
        for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
            std::array<short, 2> s{};
            g.calcScaleForOnePair(carried.data(), g.getPair(k).np, g.getPair(k).ng, s[0], s[1]);
            expected.push_back(s);
        }
        g.calcScalesForAllPairs(carried.data());
        int known = 0;
        for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
            EXPECT_EQ(g.getPair(k).scaleX, static_cast<std::uint16_t>(expected[k][0])) << k;
            EXPECT_EQ(g.getPair(k).scaleY, static_cast<std::uint16_t>(expected[k][1])) << k;
            known += expected[k][0] != 0 && expected[k][1] != 0 ? 1 : 0;
        }
        EXPECT_GT(known, 20);
    }
}

TEST(Alignment, AreaScaleWeightsAndTheWholeCarry)
{
    std::vector<MinutiaPoint> shifted = kSquare;
    for (MinutiaPoint& q : shifted) {
        q.x += 50;
        q.y += 30;
    }
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kSquare), zftest::PlanOf(shifted));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    // Pairs with a scale on one axis only, so that each axis gathers its own pairs.
    const int scales[4][2] = {{300, 0}, {200, 280}, {0, 240}, {260, 220}};
    for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(g.add(k, k, 0));
        g.getPair(k).scaleX = static_cast<std::uint16_t>(scales[k][0]);
        g.getPair(k).scaleY = static_cast<std::uint16_t>(scales[k][1]);
    }
    // Near (within 40: no weight), full weight up to 100, then 25600 / d, also past 1024.
    struct Case {
        int x, y, sx, sy;
    };
    const Case cases[] = {
        {100, 100, 230, 230}, {2100, 100, 251, 230}, {1124, 100, 250, 230}, {100, 2100, 230, 245}};
    for (const Case& c : cases) {
        int sx = 0;
        int sy = 0;
        m->getAreaScale(&g, c.x, c.y, sx, sy, true);
        EXPECT_EQ(sx, c.sx) << c.x << ", " << c.y;
        EXPECT_EQ(sy, c.sy) << c.x << ", " << c.y;
    }
    // Carrying every minutia equals carrying each with the area scale at its own place.
    ExpectWholeCarryEqualsEachAlone(*m, g, {180, 170}, {240, 210}, 12, 5);
}

TEST(Alignment, WholeCarryOverManyMinutiaeAndExtremeScales)
{
    // 140 scattered minutiae, so that the axis distances to the pairs cover every weight
    // band and its edges; pair scales from 1 to 65535 with gaps on either axis. Groups of 9
    // and of 130 pairs (the longest axes take another path).
    std::vector<MinutiaPoint> points;
    for (int k = 0; k < 140; ++k) {
        points.push_back({(k * 37) % 500 + 5, (k * 53) % 500 + 5, (k * 58) % 360});
    }
    auto m = zftest::LoadedMatcher(zftest::PlanOf(points), zftest::PlanOf(points));
    const int scales[7][2] = {{1, 256},   {65535, 0},     {0, 65535}, {300, 41},
                              {256, 256}, {65535, 65535}, {97, 0}};
    for (const int pairs : {9, 130}) {
        SCOPED_TRACE(pairs);
        GroupEx& g = m->m_kernelGroups[0];
        g.reset();
        for (int k = 0; k < pairs; ++k) {
            ASSERT_TRUE(g.add(k, k, 0));
            g.getPair(k).scaleX = static_cast<std::uint16_t>(scales[k % 7][0]);
            g.getPair(k).scaleY = static_cast<std::uint16_t>(scales[k % 7][1]);
        }
        ExpectWholeCarryEqualsEachAlone(*m, g, {250, 240}, {260, 230}, -7, 140);
    }
}

} // namespace
