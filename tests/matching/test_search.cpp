// The matcher's search on small synthetic prints: the replacement rules of the pair gate, the
// topological test (ridge-count differences, latent prints, quadrant limits), the cleaning
// of conflicting pairs (ties, the bound of the removal search), uniting kernel groups,
// exclusion windows, the geometric refusals (rotation limit, unexplained minutiae), the
// budgets of a match and the keeping rule with its stop.

#include "matching/Matcher100.h"
#include "matching/SearchHelpers.h"
#include "tests/matching/matcher_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

namespace accelMatch {
namespace {

using zftest::LinkPlan;
using zftest::MinutiaPoint;

TEST(PairGate, NewPairBetterRules)
{
    struct Case {
        int classNew, classOld, simNew, simOld;
        bool better;
    };
    const Case byClass[] = {
        {1, 2, 10, 500, true},  // a class-1 candidate beats a class-2 pair whatever the sims
        {2, 1, 500, 10, false}, // and never the other way round
        {2, 0, 500, 10, false}, {-1, 2, 0, 0, true}, // no transition counts as below 2
        {1, 1, 11, 10, true},                        // same side of the line: similarity decides
        {1, 1, 10, 10, false},
    };
    for (const Case& c : byClass) {
        SCOPED_TRACE(testing::Message() << c.classNew << " " << c.classOld);
        EXPECT_EQ(Matcher100::isNewPairBetter(c.classNew, c.classOld, c.simNew, c.simOld),
                  c.better);
    }
    const Case byError[] = {
        // errNew, errOld, simNew, simOld
        {9, 10, 0, 100, true},     // a smaller error wins outright
        {10, 10, 300, 100, true},  // 300 >= 200 and 10 <= 20
        {10, 10, 150, 100, false}, // 150 < 200
        {21, 10, 300, 100, false}, // 21 > 20
    };
    for (const Case& c : byError) {
        SCOPED_TRACE(testing::Message() << c.classNew << " " << c.simNew);
        EXPECT_EQ(Matcher100::isNewPairBetter1(c.classNew, c.classOld, c.simNew, c.simOld),
                  c.better);
    }
}

// Minutia 0 links to 1 and 2 on both sides; the link to 2 stands for the same ridge count on
// both sides (slot 21, code 2: 4 ridges, quadrant 2), the link to 1 for the counts of the case.
struct QuadrantCase {
    const char* name;
    int slotP, codeP, slotG, codeG; // the links 0 -> 1
    bool latent;
    int limit;
    bool agrees;
};

void PrintTo(const QuadrantCase& c, std::ostream* os)
{
    *os << c.name;
}

class Quadrants : public testing::TestWithParam<QuadrantCase> {};

TEST_P(Quadrants, RidgeCountDifferences)
{
    const QuadrantCase c = GetParam();
    const std::vector<MinutiaPoint> pts = {{200, 200, 0}, {260, 200, 0}, {200, 270, 0}};
    auto links = [](int slot, int code) {
        return std::vector<std::vector<LinkPlan>>{
            {LinkPlan{slot, static_cast<std::uint8_t>(code), 1, 0}, LinkPlan{21, 2, 2, 0}}};
    };
    auto m = zftest::LoadedMatcher(zftest::PlanOf(pts, links(c.slotP, c.codeP)),
                                   zftest::PlanOf(pts, links(c.slotG, c.codeG)));
    m->m_typeP = c.latent ? FP_LATENT : FP_PLAIN;
    m->m_quadrantCheck = true;
    m->m_quadrantLimit = c.limit;
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    g.add(1, 1, 0);
    g.add(2, 2, 0);
    NumSet<unsigned> skip;
    NumSet<unsigned> conflicts;
    EXPECT_EQ(m->checkQuadrants(&g, 0, 0, 0, skip, 0, conflicts, 0), c.agrees);
    // With the check switched off everything agrees.
    m->m_quadrantCheck = false;
    EXPECT_TRUE(m->checkQuadrants(&g, 0, 0, 0, skip, 0, conflicts, 0));
}

// Slot 9 code 1: 3 ridges; slot 13 code 1: 4; slot 5 code 2: 0 (all quadrant 2).
INSTANTIATE_TEST_SUITE_P(
    Cases, Quadrants,
    testing::Values(QuadrantCase{"Diff3Plain", 9, 1, 5, 2, false, 32, false},
                    QuadrantCase{"Diff3LatentLimit32", 9, 1, 5, 2, true, 32, true},
                    QuadrantCase{"Diff3LatentLimit16", 9, 1, 5, 2, true, 16, false},
                    QuadrantCase{"Diff4LatentIgnored", 13, 1, 5, 2, true, 16, true},
                    QuadrantCase{"SameCount", 9, 1, 9, 1, false, 16, true}),
    [](const testing::TestParamInfo<QuadrantCase>& param) { return param.param.name; });

TEST(Cleaning, TieRemovesTheLowerPosition)
{
    const std::vector<MinutiaPoint> pts = {{100, 100, 0}, {300, 300, 0}};
    auto m = zftest::LoadedMatcher(zftest::PlanOf(pts), zftest::PlanOf(pts));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    g.add(0, 0, 0);
    g.add(0, 1, 0); // shares probe minutia 0
    m->cleanInitialGroup(&g);
    ASSERT_EQ(g.getNumItems(), 1u);
    EXPECT_EQ(g.getPair(0).ng, 1);
    // A group without conflicts keeps its pairs.
    g.reset();
    g.add(0, 0, 0);
    g.add(1, 1, 0);
    m->cleanInitialGroup(&g);
    EXPECT_EQ(g.getNumItems(), 2u);
}

TEST(Cleaning, MutuallyConflictingSeedsAreCleanedWithinTheBound)
{
    // 200 pairs that all share probe minutia 0: every pair conflicts with every other, so the
    // minimum-removal search meets 200-way ties at every level.
    std::vector<MinutiaPoint> gal;
    for (int k = 0; k < 200; ++k) {
        gal.push_back({20 + (k % 20) * 24, 20 + (k / 20) * 48, 0});
    }
    auto m = zftest::LoadedMatcher(zftest::PlanOf({{250, 250, 0}}), zftest::PlanOf(gal));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    for (int k = 0; k < 200; ++k) {
        g.add(0, k, 0);
    }
    const unsigned cappedBefore = m->m_numCleanCapped;
    const auto start = std::chrono::steady_clock::now();
    m->cleanInitialGroup(&g);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    ASSERT_EQ(g.getNumItems(), 1u); // the fewest removals keep one pair
    EXPECT_EQ(g.getPair(0).ng, 199);
    EXPECT_EQ(m->m_numCleanCapped, cappedBefore + 1);
    RecordProperty("cleaning_ms", static_cast<int>(ms));
}

TEST(Uniting, RotationsWithinTenDegrees)
{
    const std::vector<MinutiaPoint> pts = {{100, 100, 0}, {300, 300, 0}};
    auto m = zftest::LoadedMatcher(zftest::PlanOf(pts), zftest::PlanOf(pts));
    for (const int turn : {10, 11, -10, -11}) {
        SCOPED_TRACE(turn);
        m->m_minutiaeP[1].angle = static_cast<short>(turn < 0 ? 360 + turn : turn);
        GroupEx& a = m->m_kernelGroups[0];
        GroupEx& b = m->m_kernelGroups[1];
        a.reset();
        b.reset();
        a.add(0, 0, 0);
        b.add(1, 1, 0);
        EXPECT_EQ(m->isGroupsCompatible(&a, &b), std::abs(turn) <= 10);
    }
}

// Probe and gallery alike: a grid of n minutiae 40 apart inside a 512 x 512 all-inside area.
std::vector<MinutiaPoint> Grid(int n)
{
    std::vector<MinutiaPoint> pts;
    for (int k = 0; k < n; ++k) {
        pts.push_back({60 + (k % 10) * 40, 60 + (k / 10) * 40, (k * 36) % 360});
    }
    return pts;
}

TEST(Absorption, EightyPercentStaysEightyOneEmpties)
{
    // The second group's pairs are offered to the first; pairs beyond the transition limit are
    // refused, so 13 of 16 (81 %) or 8 of 10 (80 %) are accepted.
    struct Case {
        int offered, accepted;
        bool emptied;
    };
    for (const Case c : {Case{16, 13, true}, Case{10, 8, false}}) {
        SCOPED_TRACE(c.offered);
        auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(30)), zftest::PlanOf(Grid(30)));
        m->m_transitionLimit = 4;
        m->m_quadrantCheck = false;
        m->m_replacement = false;
        m->setDistErrorLevel(0);
        GroupEx& a = m->m_kernelGroups[0];
        GroupEx& b = m->m_kernelGroups[1];
        a.reset();
        b.reset();
        for (int k = 0; k < 5; ++k) {
            a.add(k, k, 0);
        }
        for (int k = 0; k < c.offered; ++k) {
            b.add(10 + k, 10 + k, k < c.accepted ? 0 : 5);
        }
        m->uniteDifGroup(&a, &b);
        EXPECT_EQ(a.getNumItems(), 5u + static_cast<unsigned>(c.accepted));
        EXPECT_EQ(b.getNumItems() == 0, c.emptied);
    }
}

// A matcher with both sides the same grid, its carried positions and an area of 20 x 20
// cells for the gallery side.
struct ExcludeFixture {
    std::unique_ptr<Matcher100> m;
    std::vector<unsigned char> area;

    explicit ExcludeFixture(std::vector<unsigned char> mask)
        : m(zftest::LoadedMatcher(zftest::PlanOf(Grid(1)), zftest::PlanOf(Grid(1)))),
          area(std::move(mask))
    {
        m->m_areaG = area.data();
        m->m_areaWidthG = 20;
        m->m_areaHeightG = 20;
        m->m_curGroup = &m->m_kernelGroups[0];
        m->m_curGroup->reset();
    }

    void at(int x, int y)
    {
        m->m_carriedP[0] = MinutiaeShort{x, y, 0};
        m->findExclude();
        m->findStrongExclude();
    }
};

TEST(Exclusion, WindowsAroundTheCarriedPosition)
{
    ExcludeFixture all(std::vector<unsigned char>(400, 0));
    struct Case {
        int x, y;
        bool excluded, strong;
    };
    const Case cases[] = {
        {80, 80, false, false},  // deep inside: 25 of 25 cells
        {4, 4, true, false},     // a corner: 9 cells inside
        {156, 80, true, false},  // an edge: 15 cells inside
        {-40, 80, true, true},   // five cells out: nothing of the 7 x 7 window inside
        {-25, -25, true, false}, // three cells out diagonally: corner cell (0, 0) inside
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        all.at(c.x, c.y);
        EXPECT_EQ(all.m->m_excludeP[0] != 0, c.excluded);
        EXPECT_EQ(all.m->m_strongExcludeP[0] != 0, c.strong);
    }
    // Only column 3 inside: x = -1..-7 falls in column 0 (division truncating toward zero),
    // whose 7 x 7 window still reaches column 3; x = -8 lies in column -1 and does not.
    std::vector<unsigned char> col3(400, 0x40);
    for (int row = 0; row < 20; ++row) {
        col3[static_cast<std::size_t>(row) * 20 + 3] = 0;
    }
    ExcludeFixture one(col3);
    int seen = 0;
    for (int x = -7; x <= -1; ++x) {
        one.at(x, 80);
        EXPECT_EQ(one.m->m_strongExcludeP[0], 0) << x;
        ++seen;
    }
    EXPECT_EQ(seen, 7);
    one.at(-8, 80);
    EXPECT_NE(one.m->m_strongExcludeP[0], 0);
    // A group member is never excluded.
    one.m->m_curGroup->add(0, 0, 0);
    one.at(-100, -100);
    EXPECT_EQ(one.m->m_excludeP[0], 0);
    EXPECT_EQ(one.m->m_strongExcludeP[0], 0);
}

TEST(Exclusion, LargeMasksAndChangedMasksCountTheSame)
{
    // A mask of 23 x 20 cells (a width that is not a multiple of four) with a ragged inside,
    // and the same cells in the corner of a mask of 300 x 300 cells (too large to be summed:
    // counted cell by cell) whose other cells are outside: every window counts alike.
    constexpr int W = 23;
    std::vector<unsigned char> small(W * 20, 0x40);
    for (int row = 0; row < 20; ++row) {
        for (int col = 0; col <= row % 7 + 8 + (row % 3 == 0 ? 14 : 0) && col < W; ++col) {
            small[static_cast<std::size_t>(row) * W + static_cast<std::size_t>(col)] = 0;
        }
    }
    std::vector<unsigned char> large(300 * 300, 0x40);
    for (int row = 0; row < 20; ++row) {
        for (int col = 0; col < W; ++col) {
            large[static_cast<std::size_t>(row) * 300 + static_cast<std::size_t>(col)] =
                small[static_cast<std::size_t>(row) * W + static_cast<std::size_t>(col)];
        }
    }
    ExcludeFixture a(small);
    a.m->m_areaWidthG = W;
    ExcludeFixture b(large);
    b.m->m_areaWidthG = 300;
    b.m->m_areaHeightG = 300;
    int excluded = 0;
    int strong = 0;
    for (int y = -30; y <= 190; y += 13) {
        for (int x = -30; x <= 220; x += 11) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            a.at(x, y);
            b.at(x, y);
            EXPECT_EQ(a.m->m_excludeP[0], b.m->m_excludeP[0]);
            EXPECT_EQ(a.m->m_strongExcludeP[0], b.m->m_strongExcludeP[0]);
            excluded += a.m->m_excludeP[0];
            strong += a.m->m_strongExcludeP[0];
        }
    }
    EXPECT_GT(excluded, 0);
    EXPECT_GT(strong, 0);
    // The mask rewritten in place between two matches: the next match sees the new cells.
    ExcludeFixture c(std::vector<unsigned char>(400, 0));
    c.at(80, 80);
    EXPECT_EQ(c.m->m_excludeP[0], 0);
    std::fill(c.area.begin(), c.area.end(), static_cast<unsigned char>(0x40));
    MatchResult r;
    c.m->initNewMatch(r);
    c.at(80, 80);
    EXPECT_NE(c.m->m_excludeP[0], 0);
    EXPECT_NE(c.m->m_strongExcludeP[0], 0);
}

// The windows of cells inside a mask, counted one by one: each carried position's cell is its
// coordinates over 8 (towards zero), cells beyond the mask are outside, and only the value
// 0x40 marks a cell outside.
int InsideCellsByHand(const std::vector<unsigned char>& mask, int w, int h, int x, int y, int reach)
{
    int n = 0;
    for (int r = y / 8 - reach; r <= y / 8 + reach; ++r) {
        for (int c = x / 8 - reach; c <= x / 8 + reach; ++c) {
            n += r >= 0 && r < h && c >= 0 && c < w && mask[r * w + c] != 0x40 ? 1 : 0;
        }
    }
    return n;
}

// Sparse windows over masks of many widths (below, at and past whole blocks of 16 cells)
// and one too large to be summed, at every cell and beyond the edges, for both reaches.
TEST(Exclusion, SparseWindowsCountTheCellsInsideTheMask)
{
    auto m = std::make_unique<Matcher100>();
    const int sizes[][2] = {{1, 1},  {3, 4},  {15, 3},  {16, 2}, {17, 6},   {31, 9},
                            {32, 5}, {33, 7}, {49, 47}, {64, 3}, {300, 230}};
    std::uint32_t seed = 7;
    for (const auto& size : sizes) {
        const int w = size[0];
        const int h = size[1];
        std::vector<unsigned char> mask(static_cast<std::size_t>(w) * h);
        for (unsigned char& cell : mask) {
            zftest::Lcg32(seed);
            const unsigned v = (seed >> 16) % 5;
            cell = v < 2 ? 0x40 : (v == 2 ? 0x00 : (v == 3 ? 0x41 : 0xC0));
        }
        m->m_areaP = mask.data();
        m->m_areaWidthP = static_cast<std::uint16_t>(w);
        m->m_areaHeightP = static_cast<std::uint16_t>(h);
        m->m_areaSumsP.checked = false;
        std::vector<MinutiaeShort> carried;
        const int step = w * h > 5000 ? 7 : 1;
        for (int cy = -5; cy <= h + 4; cy += step) {
            for (int cx = -5; cx <= w + 4; cx += step) {
                carried.push_back(MinutiaeShort{cx * 8 + 3, cy * 8 + 5, 0});
            }
        }
        carried.push_back(MinutiaeShort{-7, -1, 0}); // towards zero: cell (0, 0)
        std::vector<std::uint8_t> marks(carried.size());
        const int count = static_cast<int>(carried.size());
        for (const int reach : {2, 3}) {
            const int minInside = reach == 2 ? 20 : 1;
            m->markSparseWindows(true, carried.data(), count, reach, minInside, marks.data());
            for (int i = 0; i < count; ++i) {
                const int n = InsideCellsByHand(mask, w, h, carried[i].x, carried[i].y, reach);
                ASSERT_EQ(marks[i], n < minInside ? 1 : 0)
                    << w << "x" << h << " at " << carried[i].x << "," << carried[i].y;
            }
        }
    }
}

TEST(Geometry, RotationLimitAndUnexplainedMinutiae)
{
    // One pair: the group keeps the rotation of its pair, probe angle minus gallery angle.
    for (const int turn : {40, 41, -40, -41}) {
        SCOPED_TRACE(turn);
        auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(5)), zftest::PlanOf(Grid(5)));
        m->m_minutiaeP[0].angle = static_cast<short>(m->m_minutiaeG[0].angle + turn);
        m->setParameters(40, 0);
        m->m_curGroup = &m->m_kernelGroups[0];
        m->m_curGroup->reset();
        m->m_curGroup->add(0, 0, 0);
        EXPECT_EQ(m->expandCurGroupByGeometry(true), std::abs(turn) <= 40);
    }
    // Three pairs: 24 unexplained minutiae pass (8 per pair), 25 do not.
    for (const int n : {27, 28}) {
        SCOPED_TRACE(n);
        auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(n)), zftest::PlanOf(Grid(n)));
        m->setParameters(40, 0);
        m->m_curGroup = &m->m_kernelGroups[0];
        m->m_curGroup->reset();
        for (int k = 0; k < 3; ++k) {
            m->m_curGroup->add(k, k, 0);
        }
        EXPECT_EQ(m->expandCurGroupByGeometry(true), n - 3 <= 24);
        // Marked only: the group is unchanged and its minutiae carry the in-group mark.
        EXPECT_EQ(m->m_curGroup->getNumItems(), 3u);
        EXPECT_EQ(m->m_inGroupP[2], n == 27 ? 1 : 0);
    }
}

TEST(Driver, BudgetsOfSmallPrints)
{
    struct Case {
        int nP, nG, speed;
        int p1, p8;
    };
    const Case cases[] = {
        {10, 40, 0, 50, 3}, // doubled and halved, then raised to 3
        {17, 17, 0, 30, 3}, // x 1.2 and / 1.2
        {25, 30, 0, 25, 4}, // unchanged
        {60, 60, 3, 10, 6}, {10, 10, 1, 20, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nP << " " << c.nG << " speed " << c.speed);
        auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(c.nP)), zftest::PlanOf(Grid(c.nG)));
        m->setParameters(40, c.speed);
        MatchResult r;
        m->initNewMatch(r);
        EXPECT_EQ(m->m_speedRow[1], c.p1);
        EXPECT_EQ(m->m_speedRow[8], c.p8);
        EXPECT_LE(m->m_speedRow[11], 20);
        EXPECT_LE(m->m_speedRow[13], 20);
        EXPECT_LE(m->m_speedRow[5], 200);
    }
}

TEST(Driver, KeepingRuleAndStop)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(40)), zftest::PlanOf(Grid(40)));
    m->setParameters(40, 0);
    MatchResult r;
    m->initNewMatch(r);
    m->m_curGroup = &m->m_kernelGroups[0];
    GroupEx& g = *m->m_curGroup;
    for (int k = 0; k < 33; ++k) {
        g.add(k, k, 0);
    }
    g.m_kernelSize = g.m_baseSize = 33;
    ASSERT_TRUE(m->expandCurGroupByGeometry(true));
    // 33 pairs stop the search whatever the score.
    EXPECT_TRUE(m->saveMatchResult(r, CS_BRANCH1));
    EXPECT_GT(r.score, 0);
    EXPECT_EQ(r.numPairs, 33u);
    EXPECT_EQ(r.pairs[32].np, 32);
    EXPECT_EQ(r.rotation, 0);
    // The same group again does not replace the kept one.
    MatchResult kept = r;
    EXPECT_FALSE(m->saveMatchResult(r, CS_BRANCH1));
    EXPECT_EQ(std::memcmp(&kept, &r, sizeof r), 0);
}

// A matcher ready for group work on two identical grids: a match's reset done, the current
// group holding pairs (k, k) for k below `pairs`.
std::unique_ptr<Matcher100> GroupReady(int minutiae, int pairs)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(minutiae)), zftest::PlanOf(Grid(minutiae)));
    m->setParameters(40, 0);
    MatchResult r;
    m->initNewMatch(r);
    m->setDistErrorLevel(0);
    m->m_transitionLimit = 4;
    m->m_quadrantCheck = false;
    m->m_replacement = false;
    m->m_curGroup = &m->m_kernelGroups[0];
    for (int k = 0; k < pairs; ++k) {
        m->m_curGroup->add(k, k, 0);
    }
    return m;
}

TEST(ConflictCases, RecordPositionsNameTheirOwnPairs)
{
    auto m = GroupReady(10, 4);
    ConflictPos records[2] = {};
    ConflictPosSet set(records, 2);
    ConflictPos c = {};
    c.pairs[0] = PairEx2{5, 5, 0, 0, 0};
    c.pairs[1] = PairEx2{6, 6, 0, 0, 0};
    c.m_numPairs = 2;
    c.positions[0] = 0;
    c.positions[1] = 2;
    c.numPositions = 2;
    ASSERT_TRUE(set.insert(c));
    m->testExpandCases(set);
    // The copy lost pairs 0 and 2 of the current group and gained the record's two pairs; it
    // is not larger, so the current group stays.
    const GroupEx& e = m->m_expandGroups[0];
    const int expected[][2] = {{1, 1}, {3, 3}, {5, 5}, {6, 6}};
    ASSERT_EQ(e.getNumItems(), 4u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(e.getPair(k).np, expected[k][0]);
        EXPECT_EQ(e.getPair(k).ng, expected[k][1]);
    }
    EXPECT_EQ(m->m_curGroup->getNumItems(), 4u);
    EXPECT_EQ(m->m_curGroup->getPair(0).np, 0);
}

TEST(ConflictCases, NothingTriedLeavesTheGroup)
{
    auto m = GroupReady(10, 2);
    // An expand group left larger by earlier work is not copied when no case was tried.
    GroupEx& stale = m->m_expandGroups[0];
    stale.reset();
    for (int k = 3; k < 9; ++k) {
        stale.add(k, k, 0);
    }
    ConflictPos records[1] = {};
    ConflictPosSet empty(records, 1);
    m->testExpandCases(empty);
    EXPECT_EQ(m->m_curGroup->getNumItems(), 2u);
    // A record whose pairs are all refused (beyond the transition limit) is no case either.
    ConflictPosSet set(records, 1);
    ConflictPos c = {};
    c.pairs[0] = PairEx2{7, 7, 9, 0, 0};
    c.m_numPairs = 1;
    c.positions[0] = 1;
    c.numPositions = 1;
    ASSERT_TRUE(set.insert(c));
    stale.reset();
    for (int k = 3; k < 9; ++k) {
        stale.add(k, k, 0);
    }
    m->testExpandCases(set);
    EXPECT_EQ(m->m_curGroup->getNumItems(), 2u);
}

TEST(PairGate, DisplacingTwoPairsEndsAtTheProbeSidePosition)
{
    // Candidate (3, 3) of class 0 displaces the class-2 pairs holding probe minutia 3 and
    // gallery minutia 3; it lands where the probe-side pair stood, one lower when the
    // gallery-side pair stood before it.
    struct Case {
        int pairs[4][3];
        int position;
    };
    const Case cases[] = {
        {{{0, 0, 0}, {8, 3, 5}, {1, 1, 0}, {3, 7, 5}}, 2},
        {{{0, 0, 0}, {3, 7, 5}, {1, 1, 0}, {8, 3, 5}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        auto m = GroupReady(10, 0);
        m->m_replacement = true;
        GroupEx& g = *m->m_curGroup;
        for (const auto& p : c.pairs) {
            g.add(p[0], p[1], p[2]);
        }
        EXPECT_EQ(m->tryAdd2curGroup(&g, 3, 3, 0, 0, 0, false, 0, 0), c.position);
        ASSERT_EQ(g.getNumItems(), 3u);
        EXPECT_EQ(g.getPair(static_cast<std::size_t>(c.position)).np, 3);
        EXPECT_EQ(g.getPair(static_cast<std::size_t>(c.position)).ng, 3);
        // With the replacement switch off, or the pairs protected, the candidate is refused.
        m->m_replacement = false;
        EXPECT_EQ(m->tryAdd2curGroup(&g, 2, 3, 0, 0, 0, false, 0, 0), -1);
        m->m_replacement = true;
        EXPECT_EQ(m->tryAdd2curGroup(&g, 2, 3, 0, 0, 3, false, 0, 0), -1);
        // A pair already present is refused without any test.
        EXPECT_EQ(m->tryAdd2curGroup(&g, 3, 3, 0, 0, 0, false, 0, 0), -1);
    }
}

TEST(InitialGroups, SharedPairsAndDisplacement)
{
    auto m = GroupReady(10, 4);
    GroupEx& second = m->m_kernelGroups[1];
    second.reset();
    second.add(0, 0, 0);
    second.add(1, 1, 0);
    second.add(2, 5, 0); // same probe minutia, other partner: not shared
    second.add(7, 7, 0);
    int marks1[4] = {};
    int marks2[4] = {};
    // Two of the first group's four pairs are shared: 50 %.
    EXPECT_TRUE(m->isGroupsCanBeUnite(m->m_curGroup, &second, 50, marks1, marks2));
    EXPECT_FALSE(m->isGroupsCanBeUnite(m->m_curGroup, &second, 51, marks1, marks2));
    EXPECT_EQ(marks1[0] + marks1[1] + marks1[2] + marks1[3], 2);
    EXPECT_EQ(marks2[2], 0);
    // A new pair on free minutiae joins; one already present changes nothing.
    GroupEx& g = *m->m_curGroup;
    m->tryAdd2InitialGroup(&g, 8, 8, 0);
    m->tryAdd2InitialGroup(&g, 1, 1, 0);
    EXPECT_EQ(g.getNumItems(), 5u);
    EXPECT_EQ(g.getPair(4).np, 8);
}

TEST(Driver, CallerPairListsAreChecked)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(Grid(20)), zftest::PlanOf(Grid(20)));
    MatchResult r;
    // Null lists are refused.
    EXPECT_EQ(m->match(r, 40, 0, true, nullptr, nullptr, 1, false), MA_ERR_NULL);
    // A central pair beyond the loaded minutiae matches nothing.
    unsigned char p[3] = {200, 1, 2};
    unsigned char g[3] = {3, 1, 250};
    EXPECT_EQ(m->match(r, 40, 0, true, p, g, 1, false), 0);
    EXPECT_EQ(r.score, 0);
    // List entries beyond them are left out; the others are used.
    EXPECT_EQ(m->match(r, 40, 0, true, p, g, 3, false), 0);
    EXPECT_GE(r.score, 0);
}

} // namespace
} // namespace accelMatch
