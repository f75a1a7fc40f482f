// Tables and small rules of the matcher: the parameter validity rule, the sine and arctangent
// tables with the table arctangent, angle checks, distance tolerances, link transitions and
// their classes, the transitions open to each pair of minutia types, ridge counts per slot,
// distance levels and signature bits, and the similarity threshold of the histogram.

#include "matching/LinkTables.h"
#include "matching/MatchMath.h"
#include "matching/MatchTypes.h"
#include "matching/Matcher100.h"
#include "matching/NestAccel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace accelMatch;

constexpr double kPi = 3.14159265358979323846;

SearchParam VerificationParam()
{
    return SearchParam{0, 40, 40, 400, 0, 10000, 1, 10, MM_POSITIONAL, 0};
}

TEST(SearchParamRule, CasesInOrder)
{
    struct Case {
        const char* name;
        void (*change)(SearchParam&);
        bool valid;
    };
    const Case cases[] = {
        {"verification", [](SearchParam&) {}, true},
        {"highScore 10001", [](SearchParam& p) { p.highScore = 10001; }, false},
        {"lowScore 10001", [](SearchParam& p) { p.lowScore = 10001; }, false},
        {"lowScore -5", [](SearchParam& p) { p.lowScore = -5; }, true},
        {"maxAngle -1", [](SearchParam& p) { p.maxAngle = -1; }, false},
        {"maxAngle 180", [](SearchParam& p) { p.maxAngle = 180; }, true},
        {"maxAngleThumbs 181", [](SearchParam& p) { p.maxAngleThumbs = 181; }, false},
        {"maxFingers 11", [](SearchParam& p) { p.maxFingers = 11; }, false},
        {"minFingers 11", [](SearchParam& p) { p.minFingers = 11; }, false},
        {"speed 3", [](SearchParam& p) { p.matcherSpeed = 3; }, true},
        {"speed 4", [](SearchParam& p) { p.matcherSpeed = 4; }, false},
        {"speed -1", [](SearchParam& p) { p.matcherSpeed = -1; }, false},
        {"mode 7", [](SearchParam& p) { p.matchingMode = static_cast<MATCHING_MODE>(7); }, true},
        {"reserved -9", [](SearchParam& p) { p.reserved = -9; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchParam p = VerificationParam();
        c.change(p);
        EXPECT_EQ(isSearchParamValid(p), c.valid);
    }
}

TEST(MatchResultTT, ClearedResultHasNoGalleryFingers)
{
    MatchResultTT r;
    std::memset(&r, 0x5A, sizeof r);
    r.clear();
    EXPECT_EQ(r.score, 0);
    EXPECT_EQ(r.numCompared, 0u);
    for (int k = 0; k < MAX_FINGERS; ++k) {
        EXPECT_EQ(r.fingerScore[k], 0);
        EXPECT_EQ(r.galleryFinger[k], 0xFF);
    }
}

TEST(TransitionMatrixDefault, RowsSevenAndEightStayZero)
{
    setDefaultTransitionMatrix();
    EXPECT_EQ(TransitionMatrix[1][2], 0);
    EXPECT_EQ(TransitionMatrix[6][34], 30);
    EXPECT_EQ(TransitionMatrix[3][31], -1);
    for (int k = 0; k < NUM_LINK_SLOTS; ++k) {
        EXPECT_EQ(TransitionMatrix[0][k], k);
        EXPECT_EQ(TransitionMatrix[7][k], 0);
        EXPECT_EQ(TransitionMatrix[8][k], 0);
    }
}

TEST(MatchTables, TabSinIsRoundedSine)
{
    for (int k = 0; k <= 90; ++k) {
        EXPECT_EQ(TabSin[k], static_cast<int>(std::floor(8192.0 * std::sin(k * kPi / 180) + 0.5)))
            << k;
    }
}

TEST(MatchTables, TabTanFollowsTheArcTangent)
{
    // No closed formula: within a degree of atan(i / 128), never decreasing, 45 at 1.
    for (int i = 0; i < 130; ++i) {
        const double deg = std::atan(i / 128.0) * 180 / kPi;
        EXPECT_LE(std::fabs(TabTan[i] - deg), 1.0) << i;
        if (i > 0) {
            EXPECT_GE(TabTan[i], TabTan[i - 1]) << i;
        }
    }
    EXPECT_EQ(TabTan[128], 45);
    EXPECT_EQ(TabTan[129], 45);
}

TEST(MatchTables, TableArcTangent)
{
    struct Case {
        int dx, dy, deg;
    };
    const Case cases[] = {
        {0, 0, 0},
        {1, 1, 45},
        {-1, -1, 225},
        {0, -3, 270},
        {0, 7, 90},
        {5, 0, 0},
        {-5, 0, 180},
        {10, 1, 6},
        {1, 10, 84},
        {-10, 1, 174},
        {-1, 10, 96},
        {-10, -1, 186},
        {-1, -10, 264},
        {10, -1, 354},
        {1, -10, 276},
        // Around 2^24, where the ratio leaves 32 bits, and at the ends of int.
        {16777215, 16777214, 45},
        {16777216, 16777215, 45},
        {16777216, 131072, 1},
        {INT_MIN, INT_MIN, 225},
        {INT_MIN, 1, 179},
        {INT_MAX, -INT_MAX, 315},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(atan(c.dx, c.dy), c.deg) << c.dx << ", " << c.dy;
    }
    // Everywhere within a degree of the true direction.
    int checked = 0;
    for (int dy = -60; dy <= 60; dy += 7) {
        for (int dx = -60; dx <= 60; dx += 5) {
            if (dx == 0 && dy == 0) {
                continue;
            }
            double deg = std::atan2(dy, dx) * 180 / kPi;
            deg = deg < 0 ? deg + 360 : deg;
            double err = std::fabs(atan(dx, dy) - deg);
            err = err > 180 ? 360 - err : err;
            EXPECT_LE(err, 1.0) << dx << ", " << dy;
            ++checked;
        }
    }
    EXPECT_GT(checked, 300);
}

TEST(MatchTables, CosineAndSineByQuadrant)
{
    for (int a = -360; a <= 720; a += 15) {
        EXPECT_NEAR(cos8192(a), 8192 * std::cos(a * kPi / 180), 0.5001) << a;
        EXPECT_NEAR(sin8192(a), 8192 * std::sin(a * kPi / 180), 0.5001) << a;
    }
}

// The quick wrap gives wrap180's answer across its quick range, at the range's ends and beyond
// them, and for the extreme integers; both land in -180..179 a whole number of turns away.
TEST(MatchTables, QuickWrapFollowsWrap180)
{
    std::vector<int> values;
    for (int a = -2000; a <= 2000; ++a) {
        values.push_back(a);
    }
    for (const int a : {INT_MIN, INT_MIN + 1, INT_MIN + 899, -1000000, 1000000, INT_MAX - 900,
                        INT_MAX - 899, INT_MAX}) {
        values.push_back(a);
    }
    for (const int a : values) {
        const int w = wrap180(a);
        ASSERT_EQ(wrap180Near(a), w) << a;
        ASSERT_TRUE(w >= -180 && w < 180) << a;
        ASSERT_EQ((static_cast<long long>(a) - w) % 360, 0) << a;
    }
}

TEST(MatchTables, CheckMinAngles)
{
    short r = 0;
    EXPECT_TRUE(checkMinAngles(10, 350, 0, 20, &r)); // -340 wraps to 20
    EXPECT_EQ(r, 256);
    EXPECT_FALSE(checkMinAngles(0, 0, 21, 20, &r));
    EXPECT_EQ(r, 268);
    EXPECT_TRUE(checkMinAngles(100, 90, 5, 20, nullptr));
    // The wide form takes the wide limit when either flag is set.
    EXPECT_FALSE(checkMinAngles(0, 40, 0, 0u, false, 35, 75, &r));
    EXPECT_TRUE(checkMinAngles(0, 40, 0, 1u, false, 35, 75, &r));
    EXPECT_EQ(r, 40 * 256 / 75);
    EXPECT_TRUE(checkMinAngles(0, 40, 0, 0u, true, 35, 75, nullptr));
    // A limit of 0 accepts only an exact match and has no scale.
    EXPECT_TRUE(checkMinAngles(5, 5, 0, 0, &r));
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(checkMinAngles(5, 4, 0, 0, &r));
}

// The direction window mask (SSE2 where built, and the portable form) gives checkMinAngles'
// answer for every turned direction against all 360 directions, at limits around the edges:
// below 0, 0, the usual tolerances, about a half turn, and beyond a whole turn.
TEST(MatchTables, AngleWindowMaskFollowsCheckMinAngles)
{
    const int limits[] = {-7, 0, 1, 50, 75, 179, 180, 181, 400, 40000};
    std::int16_t angle[ANGLE_MASK_ITEMS];
    std::int16_t limit[ANGLE_MASK_ITEMS];
    for (const int l : limits) {
        // Directions 0..255, then 104..359 and the padding, with the limit of each set.
        for (const int first : {0, 104}) {
            const int count = 360 - first >= ANGLE_MASK_ITEMS ? ANGLE_MASK_ITEMS : 360 - first;
            for (int f = 0; f < ANGLE_MASK_ITEMS; ++f) {
                angle[f] = static_cast<std::int16_t>(f < count ? first + f : 0);
                limit[f] = f < count ? angleMaskLimit(l) : std::int16_t{-1};
            }
            for (int turned = 0; turned < 360; ++turned) {
                std::uint64_t fast[4];
                std::uint64_t portable[4];
                angleWindowMask(angle, limit, ANGLE_MASK_ITEMS, turned, fast);
                angleWindowMaskPortable(angle, limit, ANGLE_MASK_ITEMS, turned, portable);
                for (int f = 0; f < ANGLE_MASK_ITEMS; ++f) {
                    const bool want = f < count && checkMinAngles(turned, angle[f], 0, l, nullptr);
                    ASSERT_EQ((fast[f >> 6] >> (f & 63) & 1) != 0, want) << l << " " << turned;
                    ASSERT_EQ((portable[f >> 6] >> (f & 63) & 1) != 0, want) << l << " " << turned;
                }
            }
        }
    }
}
TEST(MatchTables, DistanceTolerances)
{
    fillDistTolTab();
    const int slope[6] = {10, 20, 25, 30, 25, 55};
    const int base[6] = {20, 20, 20, 20, 35, 45};
    for (int l = 0; l < MAX_ERROR_LEVEL; ++l) {
        for (int d = 0; d < DIST_TOL_SIZE; ++d) {
            ASSERT_EQ(s_distTolTab[l][d], std::min(1024, (50 + d * slope[l]) / 100 + base[l]));
        }
    }
    EXPECT_EQ(s_distTolTab[0][0], 20);
    EXPECT_EQ(s_distTolTab[5][511], 326);
    EXPECT_EQ(distTol(5, 4000), 326);
    EXPECT_EQ(distTol(2, 100), 45);
}

TEST(MatcherParameters, SetParametersClampsLimitAndSpeed)
{
    auto m = std::make_unique<Matcher100>();
    struct Case {
        int angle, speed, limit, level;
    };
    const Case cases[] = {
        {30, 9, 40, 3}, {200, -1, 180, 0}, {50, 2, 50, 2}, {40, 4, 40, 3}, {180, 0, 180, 0}};
    for (const Case& c : cases) {
        m->setParameters(c.angle, c.speed);
        EXPECT_EQ(m->m_maxAngle, c.limit) << c.angle;
        EXPECT_EQ(m->m_speed, c.level) << c.speed;
    }
    EXPECT_EQ(m->getDistTol(4, 100), 35 + 25);
}

TEST(LinkTables, TransitionClasses)
{
    const int classes[][2] = {{-3, 0}, {0, 0},  {1, 1},  {4, 1},  {5, 2},  {8, 2},   {9, 3},
                              {12, 3}, {13, 4}, {17, 5}, {21, 6}, {24, 6}, {25, -1}, {26, -1}};
    for (const auto& c : classes) {
        EXPECT_EQ(transitionClass(c[0]), c[1]) << c[0];
    }
}

TEST(LinkTables, T2TDiagonalAndEmptyCodes)
{
    for (int a = 0; a < NUM_LINK_CODES; ++a) {
        const bool emptyCode = (a & 3) == 0;
        EXPECT_EQ(T2T[a][a], emptyCode ? TR_NO_MATCH : 0) << a;
        for (int b = 0; b < NUM_LINK_CODES; ++b) {
            if (emptyCode || (b & 3) == 0) {
                EXPECT_EQ(T2T[a][b], TR_NO_MATCH) << a << ", " << b;
            }
            EXPECT_GE(T2T[a][b], 0);
            EXPECT_LE(T2T[a][b], TR_NO_MATCH);
        }
    }
    EXPECT_EQ(T2T[1][2], 14);
    EXPECT_EQ(T2T[5][6], 21);
    EXPECT_EQ(T2T[13][6], 19);
    EXPECT_EQ(T2T[15][14], 8);
    EXPECT_EQ(T2T[1][5], TR_NO_MATCH);
}

TEST(LinkTables, CodeFamiliesHoldEveryPairingCode)
{
    const LinkCodeFamilies& f = linkCodeFamilies();
    const int want[NUM_LINK_CODES] = {-1, 0, 0, 0, -1, 1, 1, 1, -1, 0, 0, 1, -1, 1, 1, 1};
    for (int a = 0; a < NUM_LINK_CODES; ++a) {
        EXPECT_EQ(f[a], want[a]) << a;
        for (int b = 0; b < NUM_LINK_CODES; ++b) {
            if (T2T[a][b] <= MPT) {
                EXPECT_TRUE(f[a] >= 0 && f[a] == f[b]) << a << ", " << b;
            }
        }
    }
}

// The probe slots that row t of TransitionMatrix maps into the gallery slot set s, slot by slot.
std::uint64_t MappedProbeSlots(int t, std::uint64_t s)
{
    std::uint64_t k = 0;
    for (int slot = 0; slot < ESK::ESK_LINK_SLOTS; ++slot) {
        const int gs = TransitionMatrix[t][slot];
        if (gs >= 0 && gs < ESK::ESK_LINK_SLOTS && ((s >> gs) & 1u) != 0) {
            k |= std::uint64_t{1} << slot;
        }
    }
    return k;
}

TEST(NestSlotMaps, FollowTheMatrixByShiftsAndByInverse)
{
    auto m = std::make_unique<Matcher100>();
    const std::uint64_t all = (std::uint64_t{1} << ESK::ESK_LINK_SLOTS) - 1;
    std::uint64_t x = 0x9E3779B97F4A7C15u;
    const auto check = [&](const char* what) {
        m->refreshSlotMaps();
        for (int t = 0; t < NUM_NEST_TRANSITIONS; ++t) {
            for (int n = 0; n < 200; ++n) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                const std::uint64_t s[2] = {x & all,
                                            (x >> 29 | x << 35) & all & (n % 4 == 0 ? 0 : all)};
                std::uint64_t k[2];
                m->m_slotMaps[t].probeSlotsInto(s, k);
                ASSERT_EQ(k[0], MappedProbeSlots(t, s[0])) << what << " row " << t;
                ASSERT_EQ(k[1], MappedProbeSlots(t, s[1])) << what << " row " << t;
            }
        }
    };
    // The default rows 0..6 move their slots by few shifts; rows 7 and 8 send every slot to 0.
    setDefaultTransitionMatrix();
    check("default");
    for (int t = 0; t < NUM_NEST_TRANSITIONS; ++t) {
        EXPECT_EQ(m->m_slotMaps[t].numShifts >= 0, t < 7) << t;
    }
    // A changed matrix is taken up: scattered rows with slots mapped nowhere or beyond the
    // slots.
    for (int t = 0; t < NUM_NEST_TRANSITIONS; ++t) {
        for (int k = 0; k < NUM_LINK_SLOTS; ++k) {
            TransitionMatrix[t][k] = (k * (2 * t + 7) + 3 * t) % 40 - 2;
        }
    }
    check("scattered");
    EXPECT_EQ(m->m_slotMaps[4].numShifts, -1);
    setDefaultTransitionMatrix();
}

TEST(LinkTables, TransitionsOpenToEachTypePair)
{
    const std::set<int> open[2][2] = {
        {{0, 5, 6, 13, 14, 21, 22}, {3, 4, 11, 12, 17, 18}},
        {{1, 2, 9, 10, 19, 20}, {0, 7, 8, 15, 16, 23, 24}},
    };
    for (int p = 0; p < 2; ++p) {
        for (int g = 0; g < 2; ++g) {
            for (int t = -1; t <= 26; ++t) {
                EXPECT_EQ(isTransitionPossibleForTypes(p, g, t), open[p][g].count(t) == 1)
                    << p << g << " " << t;
            }
        }
    }
}

TEST(LinkTables, SlotQuadrantsSidesAndSenses)
{
    const int q0[] = {1, 3, 0, 0, 1, 2, 3, 0, 1};
    const int q1[] = {0, 0, 1, 2, 3, 0, 1, 2, 3};
    const int r0[] = {0, 1, 0, 0, 0, 1, 1, 0, 0};
    const int r1[] = {0, 0, 0, 1, 1, 0, 0, 1, 1};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(Quadrant[0][k], q0[k]) << k;
        EXPECT_EQ(Quadrant[1][k], q1[k]) << k;
        EXPECT_EQ(isRightLink[0][k], r0[k]) << k;
        EXPECT_EQ(isRightLink[1][k], r1[k]) << k;
    }
    EXPECT_EQ(isRightLink[1][33], 1);
    EXPECT_EQ(isRightLink[1][34], 1);
    EXPECT_EQ(isRightLink[1][31], 1);
    EXPECT_EQ(isRightLink[1][30], 0);
    // Quadrants 0 and 3 keep isSameDir, 1 and 2 negate it.
    EXPECT_TRUE(slotSameDir(0, 2, 1));  // quadrant 0, code 1
    EXPECT_FALSE(slotSameDir(0, 0, 1)); // quadrant 1
    EXPECT_TRUE(slotSameDir(0, 0, 5));
}

TEST(LinkTables, RidgeCountRowsFollowTheirPattern)
{
    // Within a row the value depends on code & 3, except two entries that differ from it.
    for (int s = 0; s < NUM_SLOTS_B; ++s) {
        for (int c = 0; c < NUM_LINK_CODES; ++c) {
            const bool irregular = (s == 8 && c == 11) || (s == 22 && c == 5);
            EXPECT_EQ(ridgeCountB[s][c] == ridgeCountB[s][c & 3], !irregular) << s << " " << c;
        }
        // Codes 1 and 2 lie one ridge either side of code 0 from slot 3 on.
        if (s >= 3) {
            EXPECT_EQ(std::abs(ridgeCountB[s][1] - ridgeCountB[s][0]), 1) << s;
            EXPECT_EQ(ridgeCountB[s][1] + ridgeCountB[s][2], 2 * ridgeCountB[s][0]) << s;
            EXPECT_EQ(ridgeCountB[s][3], ridgeCountB[s][0]) << s;
        }
    }
    EXPECT_EQ(ridgeCountB[8][11], -1);
    EXPECT_EQ(ridgeCountB[22][5], 3);
    EXPECT_EQ(ridgeCountB[34][2], 9);
    EXPECT_EQ(ridgeCountB[31][1], -9);
    const int headE[5][4] = {
        {0, -1, 1, 0}, {-1, -2, 0, -1}, {-1, 1, -2, -1}, {1, 2, -1, 1}, {1, 0, 2, 1}};
    for (int s = 0; s < NUM_SLOTS_E; ++s) {
        for (int c = 0; c < NUM_LINK_CODES; ++c) {
            const int want = s < 5 ? headE[s][c & 3] : ridgeCountB[s + 2][c & 3];
            EXPECT_EQ(ridgeCountE[s][c], want) << s << " " << c;
        }
    }
    int rc = 0;
    EXPECT_FALSE(slotRidgeCount(1, 33, 1, rc)); // type 1 has no slot 33
    EXPECT_TRUE(slotRidgeCount(0, 34, 2, rc));
    EXPECT_EQ(rc, 9);
}

TEST(NestSignature, DistanceLevels)
{
    const int levels[][2] = {{0, 0},  {20, 0},  {21, 1},  {42, 1},   {43, 2},   {66, 2},
                             {92, 3}, {153, 5}, {227, 7}, {228, -1}, {1000, -1}};
    for (const auto& c : levels) {
        EXPECT_EQ(getDistLevel(static_cast<unsigned>(c[0])), c[1]) << c[0];
    }
    // Extra levels: only level 1 reaches out, to 2 from 38 to 42 and to 0 from 21 to 24.
    for (unsigned d = 1; d <= 227; ++d) {
        unsigned extra[2] = {99, 99};
        const unsigned n = getAddDistLevel(d, static_cast<unsigned>(getDistLevel(d)), extra);
        const bool up = d >= 38 && d <= 42;
        const bool down = d >= 21 && d <= 24;
        ASSERT_EQ(n, (up || down) ? 1u : 0u) << d;
        if (n == 1) {
            EXPECT_EQ(extra[0], up ? 2u : 0u) << d;
        }
    }
}

// One type-0 minutia at the origin with a single link in `slot`, code `code`, to a neighbour
// at distance `length` straight along x.
struct OneLinkNest {
    ESK::Sign minutiae[2] = {};
    ESK::Link links[2] = {};
    std::unique_ptr<MinutiaePairSet> pairs = std::make_unique<MinutiaePairSet>();

    OneLinkNest(int length, int slot, int code)
    {
        minutiae[1].x = static_cast<short>(length);
        links[0].slot[slot] = ESK::LinkSlot{static_cast<std::uint8_t>(code), 0, 0, 0, 0, 1};
        links[0].count = static_cast<std::uint8_t>(slot + 1);
        pairs->build(minutiae, 2);
    }

    NestAccel Signature(bool addLevels) const
    {
        NestAccel a;
        calcNestAccel(addLevels, a, minutiae, links, 2, 0, *pairs);
        return a;
    }
};

unsigned Bits(const NestAccel& a)
{
    return compNestAccel(a, a);
}

TEST(NestSignature, BitsByLength)
{
    struct Case {
        int length;
        unsigned probeBits;
        unsigned galleryBits;
    };
    const Case cases[] = {{22, 2, 1}, {40, 2, 1}, {60, 1, 1}, {227, 1, 1}, {228, 0, 0}};
    for (const Case& c : cases) {
        OneLinkNest nest(c.length, 0, 1);
        EXPECT_EQ(Bits(nest.Signature(true)), c.probeBits) << c.length;
        EXPECT_EQ(Bits(nest.Signature(false)), c.galleryBits) << c.length;
    }
    // Slot 0 (quadrant 1), code 1: ridge count +1 moves it to quadrant 2, class 0, and the
    // link counts as running against the minutia: second half, byte 16 + 8, levels 1 and 2.
    const NestAccel a = OneLinkNest(40, 0, 1).Signature(true);
    for (int b = 0; b < 32; ++b) {
        EXPECT_EQ(a.bits[b], b == 24 ? 0x06 : 0x00) << b;
    }
    // A ridge count of 9 (class 4) sets nothing.
    EXPECT_EQ(Bits(OneLinkNest(40, 31, 1).Signature(true)), 0u);
    // A nest without links, and its similarity with anything, is empty.
    OneLinkNest bare(40, 0, 1);
    bare.links[0].count = 0;
    EXPECT_EQ(Bits(bare.Signature(true)), 0u);
    EXPECT_EQ(compNestAccel(bare.Signature(true), a), 0u);
}

TEST(NestSelection, SimilarityThreshold)
{
    auto m = std::make_unique<Matcher100>();
    std::uint32_t hist[NEST_ACCEL_HISTOGRAM] = {};
    hist[128] = 2;
    hist[60] = 5;
    hist[10] = 100;
    EXPECT_EQ(m->getSimThreshold(0, hist), 128);
    EXPECT_EQ(m->getSimThreshold(2, hist), 128);
    EXPECT_EQ(m->getSimThreshold(3, hist), 60);
    EXPECT_EQ(m->getSimThreshold(7, hist), 60);
    EXPECT_EQ(m->getSimThreshold(8, hist), 10);
    EXPECT_EQ(m->getSimThreshold(108, hist), 0);
}

} // namespace
