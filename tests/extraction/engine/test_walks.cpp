// Ridge walks, neighbourhood exploration, the chain follower and the straight walk on small
// hand-drawn layers; Bresenham line walks, recorded step lists, skeleton probes and Pastes.

#include "extraction/engine/Codex.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace wizard73;

constexpr int kA = 210; // layer ids of the fixtures
constexpr int kB = 211;

class Walker : public Codex {
public:
    std::vector<std::pair<int, int>> visits;
    std::vector<int> dirs;
    int leaves = 0;

    Walker(int w, int h)
    {
        Reset();
        SetMap(pyr[2]);
        SetGeo(w, h);
        NewDoc();
    }
    // Paints a layer from rows of text: '.' = 0, digits = 10 * digit, 'X' = 200, 'o' = 50,
    // anything else its character code. A layer painted first starts all 0 (the store does not
    // clear the slots it gives out); a layer painted again keeps the cells the rows leave.
    unsigned char* Paint(int id, const std::vector<std::string>& rows)
    {
        const bool first = GetKey(id, 0) == -1;
        unsigned char* p = GetLay(id, 0);
        if (first) {
            std::memset(p, 0, m_level[0].size);
        }
        for (std::size_t y = 0; y < rows.size(); ++y) {
            for (std::size_t x = 0; x < rows[y].size(); ++x) {
                const char c = rows[y][x];
                p[x + y * m_level[0].width] =
                    static_cast<unsigned char>(c == '.'               ? 0
                                               : c >= '0' && c <= '9' ? 10 * (c - '0')
                                               : c == 'X'             ? 200
                                               : c == 'o'             ? 50
                                                                      : c);
            }
        }
        return p;
    }
    void Place(int id, int x, int y) { ProLay(id, x, y, 0, 0); }
    unsigned char At(int id, int x, int y) { return GetLay(id, 0)[x + y * m_level[0].width]; }
    int AcceptAll()
    {
        visits.push_back({m_wx, m_wy});
        dirs.push_back(m_lastDir);
        return 1;
    }
    int Leaf()
    {
        ++leaves;
        return 5;
    }
    // Follows pixels of value 10 (painted '1'), turning each into 20 so the walk never turns
    // back.
    int FollowOnes()
    {
        visits.push_back({m_wx, m_wy});
        if (*m_walk[0] == 10) {
            *m_walk[0] = 20;
            return 1;
        }
        return 0;
    }
};

std::unique_ptr<Walker> Make(int w, int h)
{
    return std::make_unique<Walker>(w, h);
}

TEST(RidgeWalk, EqualNeighboursGoStraightAheadAndTiesGoLeft)
{
    auto e = Make(12, 8);
    e->Paint(kA, {}); // all zero
    e->Place(kA, 1, 3);
    e->MvLayW(0, 3, 0, 0);
    EXPECT_EQ(e->m_wx, 4);
    EXPECT_EQ(e->m_wy, 3);
    // Walking east from (2,3): right (SE) and left (NE) are 90, ahead 10: go left.
    e->Paint(kA, {"............", "............", "...9........", "..01........", "...9........"});
    e->Place(kA, 2, 3);
    e->MvLayW(0, 1, 0, 0);
    EXPECT_EQ(e->m_wx, 3);
    EXPECT_EQ(e->m_wy, 2);
    // The dark walk takes the darkest: right (value 0) below ahead and left.
    e->Paint(kA, {"............", "............", "...9........", "..05........", "...0........"});
    e->Place(kA, 2, 3);
    e->MvLayI(0, 1, 0, 0);
    EXPECT_EQ(e->m_wy, 4);
}

TEST(RidgeWalk, StopRuleEndsOnFirstUnmarkedAfterMarks)
{
    auto e = Make(12, 8);
    e->Paint(kA, {"............", "............", "............", ".XXXoXXXXX..", "............"});
    e->Place(kA, 1, 3);
    EXPECT_EQ(e->MvLayW(0, 8, 1, 0), 0);
    EXPECT_EQ(e->m_wx, 4); // stopped on the 50
    e->Place(kA, 1, 3);
    EXPECT_EQ(e->MvLayW(0, 2, 1, 0), 1); // ends on a marked pixel
    e->Place(kA, 1, 3);
    EXPECT_EQ(e->MvLayW(0, 8, 0, 0), 1); // no rule: runs over the 50, ends marked
    EXPECT_EQ(e->m_wx, 9);
    e->Place(kA, 1, 3);
    e->MvLayW(0, 20, 0, 0); // stops where it leaves the inner area
    EXPECT_EQ(e->m_wx, 11);
}

TEST(RidgeWalk, OutermostRingMakesNoStep)
{
    auto e = Make(12, 8);
    e->Paint(kA, {"X..........."});
    e->Place(kA, 0, 0);
    EXPECT_EQ(e->MvLayW(0, 5, 0, 0), 1); // the start pixel's mark
    EXPECT_EQ(e->m_wx, 0);
    EXPECT_EQ(e->MvSumW(0, 5, 0, 0), 0);
    e->Place(kA, 3, 3);
    EXPECT_EQ(e->MvLayW(0, 0, 0, 0), 0); // zero steps, start unmarked
}

TEST(RidgeWalk, SumsAndPairedSums)
{
    auto e = Make(12, 8);
    unsigned char* a = e->Paint(kA, {});
    unsigned char* b = e->Paint(kB, {});
    const int w = 12;
    // A is 127 (neither bright- nor dark-marked) but 130, 140 on row 3; B is 127 but 100, 120
    // under the same pixels.
    for (int i = 0; i < 12 * 8; ++i) {
        a[i] = 127;
        b[i] = 127;
    }
    a[2 + 3 * w] = 130;
    a[3 + 3 * w] = 140;
    e->Place(kA, 1, 3);
    EXPECT_EQ(e->MvSumW(0, 2, 0, 0), 2 * (3 + 13));
    e->Place(kA, 1, 3);
    EXPECT_EQ(e->MvSumI(0, 2, 0, 0), 0); // dark sum negative: 0
    e->Place(kA, 1, 3);
    EXPECT_EQ(e->MvLayI(0, 1, 1, 0), 0); // 130 is not dark-marked
    b[2 + 3 * w] = 100;
    b[3 + 3 * w] = 120;
    e->Place(kA, 1, 3);
    e->m_wx2 = 1;
    e->m_wy2 = 3;
    e->m_walk2 = b + 1 + 3 * w;
    EXPECT_EQ(e->MvSynW(0, 2, 0, 0), 2 * 16); // min(3 + 13, 27 + 7)
    EXPECT_EQ(e->m_wx2, 3);
}

// A plain step-by-step ridge walk on a w x h layer: the walk as the engine defines it, bounds
// checked after every step. form: 0 layer (last mark), 1 sum, 2 paired sums.
struct RefEnd {
    int result, x, y, x2, y2;
};
RefEnd RefWalk(const unsigned char* a, const unsigned char* b, int w, int h, RefEnd at, int dir,
               int steps, bool stop, bool bright, int form)
{
    static const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    static const int dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    auto in = [&](int x, int y) { return x >= 1 && y >= 1 && x <= w - 2 && y <= h - 2; };
    auto marked = [&](int v) { return bright ? v >= 128 : v < 127; };
    const bool paired = form == 2;
    bool last = marked(a[at.x + at.y * w]);
    if (steps == 0 || !in(at.x, at.y) || (paired && !in(at.x2, at.y2))) {
        at.result = form == 0 && last ? 1 : 0;
        return at;
    }
    int s1 = 0;
    int s2 = 0;
    bool run = false;
    bool stopped = false;
    for (int n = 0; n < steps; ++n) {
        const int d0 = dir & 7;
        auto val = [&](int d) { return a[at.x + dx[d & 7] + (at.y + dy[d & 7]) * w]; };
        const int va = val(d0);
        const int vr = val(d0 + 1);
        const int vl = val(d0 + 7);
        int go;
        if (bright) {
            go = va >= vr ? (va >= vl ? d0 : d0 + 7) : (vr > vl ? d0 + 1 : d0 + 7);
        } else {
            go = va <= vr ? (va <= vl ? d0 : d0 + 7) : (vr < vl ? d0 + 1 : d0 + 7);
        }
        at.x += dx[go & 7];
        at.y += dy[go & 7];
        at.x2 += dx[go & 7];
        at.y2 += dy[go & 7];
        const int v = a[at.x + at.y * w];
        s1 += bright ? v - 127 : 127 - v;
        if (paired) {
            const int v2 = b[at.x2 + at.y2 * w];
            s2 += bright ? 127 - v2 : v2 - 127;
        }
        last = marked(v);
        if (stop && last) {
            run = true;
        } else if (stop && run) {
            stopped = true;
            break;
        }
        if (!in(at.x, at.y) || (paired && !in(at.x2, at.y2))) {
            break;
        }
    }
    const int m = s1 < s2 ? s1 : s2;
    at.result = form == 0   ? (!stopped && last ? 1 : 0)
                : form == 1 ? (s1 >= 1 ? 2 * s1 : 0)
                            : (m > 0 ? 2 * m : 0);
    return at;
}

TEST(RidgeWalk, EveryKindMatchesStepByStepWalkUpToTheBorders)
{
    // Odd and even widths: a long run's column change is read back from the cursor's change,
    // which must not depend on the width's parity; 5 x 7 leaves runs of a single step.
    const struct {
        int w, h;
    } sizes[] = {{19, 13}, {18, 12}, {5, 7}};
    int mismatches = 0;
    for (const auto& size : sizes) {
        const int w = size.w;
        const int h = size.h;
        auto e = Make(w, h);
        unsigned char* a = e->Paint(kA, {});
        unsigned char* b = e->Paint(kB, {});
        unsigned int seed = 12345;
        for (int i = 0; i < w * h; ++i) {
            zftest::Lcg32(seed);
            a[i] = static_cast<unsigned char>(seed >> 16);
            b[i] = static_cast<unsigned char>(seed >> 24);
        }
        using Mv = int (Codex::*)(int, int, int, int);
        const struct {
            Mv walk;
            bool bright;
            int form;
        } kinds[] = {{&Codex::MvLayW, true, 0}, {&Codex::MvLayI, false, 0},
                     {&Codex::MvSumW, true, 1}, {&Codex::MvSumI, false, 1},
                     {&Codex::MvSynW, true, 2}, {&Codex::MvSynI, false, 2}};
        for (const auto& k : kinds) {
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    for (int dir = 0; dir < 9; ++dir) {
                        for (int steps : {-1, 0, 3, 40}) {
                            for (int stop = 0; stop < 2; ++stop) {
                                // The second walk starts two columns left, one row down (clamped).
                                const int x2 = x < 2 ? x : x - 2;
                                const int y2 = y + 1 < h ? y + 1 : y;
                                const RefEnd want = RefWalk(a, b, w, h, {0, x, y, x2, y2}, dir,
                                                            steps, stop != 0, k.bright, k.form);
                                e->Place(kA, x, y);
                                e->m_wx2 = x2;
                                e->m_wy2 = y2;
                                e->m_walk2 = b + x2 + y2 * w;
                                const int got = (e.get()->*k.walk)(dir, steps, stop, 0);
                                const bool paired = k.form == 2;
                                const int off = want.x + want.y * w;
                                if (got != want.result || e->m_wx != want.x || e->m_wy != want.y ||
                                    e->m_walkOff != off || e->m_walk[0] != a + off ||
                                    (paired && (e->m_wx2 != want.x2 || e->m_wy2 != want.y2 ||
                                                e->m_walk2 != b + want.x2 + want.y2 * w))) {
                                    ++mismatches;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(RidgeWalk, PairedWalkWithoutSecondCursorMakesNoStep)
{
    auto e = Make(12, 8);
    e->Paint(kA, {"............", "............", "............", ".XXXXXXXXX.."});
    e->Place(kA, 1, 3);
    e->m_wx2 = 1;
    e->m_wy2 = 4;
    e->m_walk2 = nullptr;
    EXPECT_EQ(e->MvSynW(0, 5, 0, 0), 0);
    EXPECT_EQ(e->m_wx, 1);
    EXPECT_EQ(e->m_wx2, 1);
}

TEST(Explore, FourAndEightNeighboursInOrderAndBack)
{
    auto e = Make(12, 8);
    e->Paint(kA, {});
    e->Place(kA, 4, 4);
    e->m_walkLevel = 0;
    e->m_chain = static_cast<CBase::TestFn>(&Walker::AcceptAll);
    e->m_leaf = static_cast<CBase::TestFn>(&Walker::Leaf);
    EXPECT_EQ(e->Roundf(1), 4);
    EXPECT_EQ(e->visits, (std::vector<std::pair<int, int>>{{5, 4}, {4, 5}, {3, 4}, {4, 3}}));
    EXPECT_EQ(e->leaves, 4);
    e->visits.clear();
    EXPECT_EQ(e->Rounde(1), 8);
    EXPECT_EQ(e->dirs.back(), 7);
    EXPECT_EQ(e->visits.size(), 8u);
    EXPECT_EQ(e->visits[1], std::make_pair(5, 5));
    EXPECT_EQ(e->m_wx, 4);
    EXPECT_EQ(e->m_wy, 4);
    EXPECT_EQ(e->m_walk[0], e->GetLay(kA, 0) + 4 + 4 * 12);
    // The two-argument form asks about the start pixel first, then explores depth - 1.
    e->visits.clear();
    e->Rounde(2, 0);
    EXPECT_EQ(e->visits.size(), 1u + 8u);
    // From the outermost ring nothing is explored.
    e->visits.clear();
    e->Place(kA, 0, 4);
    EXPECT_EQ(e->Rounde(3), 0);
    EXPECT_TRUE(e->visits.empty());
}

TEST(Explore, RunnerFollowsAChainAndStopsOnRefusal)
{
    auto e = Make(12, 8);
    e->Paint(kA, {"............", ".11111......", "......1.....", "......1.....", "............"});
    e->Place(kA, 1, 1);
    e->m_chain = static_cast<CBase::TestFn>(&Walker::FollowOnes);
    EXPECT_EQ(e->Runner(20, 0), 0);
    EXPECT_EQ(e->At(kA, 6, 3), 20); // the whole chain was walked
    // All eight neighbours of (6,3) refused: the walk rests on its north-east neighbour.
    EXPECT_EQ(e->m_wx, 7);
    EXPECT_EQ(e->m_wy, 2);
    e->Paint(kA, {"............", ".11111......"});
    e->Place(kA, 1, 1);
    EXPECT_NE(e->Runner(2, 0), 0); // steps ran out while the chain went on
    EXPECT_EQ(e->m_wx, 3);
}

TEST(Explore, UnWrapWalksTheRecordedDirection)
{
    auto e = Make(12, 8);
    e->Paint(kA, {"............", "............", ".1111.......", "............"});
    const unsigned char dirs[2] = {0, 9};
    e->m_dirList = dirs;
    e->m_dirIndex = 0;
    e->m_chain = static_cast<CBase::TestFn>(&Walker::FollowOnes);
    e->Place(kA, 1, 2);
    e->UnWrap(10, 0);
    EXPECT_EQ(e->m_wx, 5); // stepped onto the first 0 and stopped there
    e->m_dirIndex = 1;     // not a direction: no walk
    e->Place(kA, 1, 2);
    e->UnWrap(10, 0);
    EXPECT_EQ(e->m_wx, 1);
}

// ---------------------------------------------------------------------------------------------
// Line walks

class Liner : public Walker {
public:
    using Walker::Walker;
    std::vector<std::pair<int, int>> pts;
    int stopAt = -1;
    int OnStep(int index)
    {
        pts.push_back({m_wx, m_wy});
        return index == stopAt ? 1 : 0;
    }
};

TEST(LineWalk, FiveByTwoTakesMinorStepsWhereErrorIsNonNegative)
{
    auto e = std::make_unique<Liner>(12, 8);
    e->Paint(kA, {});
    e->Place(kA, 1, 1);
    e->m_step = static_cast<CBase::StepFn>(&Liner::OnStep);
    EXPECT_EQ(e->Bresen(6, 3, 1, 1, 0), 5);
    EXPECT_EQ(e->pts, (std::vector<std::pair<int, int>>{{2, 1}, {3, 2}, {4, 2}, {5, 3}, {6, 3}}));
    // A stop answer ends the walk at that step index.
    e->pts.clear();
    e->stopAt = 1;
    e->Place(kA, 1, 1);
    EXPECT_EQ(e->Bresen(6, 3, 1, 1, 0), 1);
    EXPECT_EQ(e->pts.size(), 2u);
}

TEST(LineWalk, LeavingTheLevelStopsBeforeTheCallback)
{
    auto e = std::make_unique<Liner>(12, 8);
    e->Paint(kA, {});
    e->Place(kA, 9, 2);
    e->m_step = static_cast<CBase::StepFn>(&Liner::OnStep);
    EXPECT_EQ(e->Bresen(0, 6, 0), 2); // east: columns 10 and 11, then out
    EXPECT_EQ(e->pts.size(), 2u);
    EXPECT_EQ(e->Margin(), 1);
    e->pts.clear();
    e->Place(kA, 5, 5);
    EXPECT_EQ(e->Bresen(90, 0, 0), 0); // length 0 visits nothing
    EXPECT_TRUE(e->pts.empty());
}

TEST(LineWalk, RecordedStepsAreOffsetsFromTheStart)
{
    auto e = std::make_unique<Liner>(12, 8);
    std::vector<SStep> list(8, SStep{-1, -1, 77, -1, 88});
    e->m_wx = e->m_wy = 0;
    e->m_walkOff = 0;
    e->m_walk[0] = nullptr;
    EXPECT_EQ(e->Breweb(90, 3, 0, list.data()), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i].x, 0);
        EXPECT_EQ(list[i].y, i + 1);
        EXPECT_EQ(list[i].off, 12 * (i + 1));
        EXPECT_EQ(list[i].aux, 77); // fields the walk does not own stay
        EXPECT_EQ(list[i].val, 88);
    }
    EXPECT_EQ(list[3].x, 0);
    EXPECT_EQ(list[3].y, 0);
    EXPECT_EQ(list[3].off, 0);
    // Diagonal north-west, 45 degrees off the axis: ties go to y as major.
    e->m_wx = e->m_wy = 0;
    e->m_walkOff = 0;
    EXPECT_EQ(e->Breweb(225, 3, 0, list.data()), 2); // round(3 cos 225) = -2 both ways
    EXPECT_EQ(list[1].off, -2 - 2 * 12);
    // The cursor-only form leaves the position and writes only offsets.
    std::vector<SStep> only(8, SStep{-1, -1, -1, -1, -1});
    e->m_wx = 4;
    e->m_wy = 4;
    e->m_walkOff = 0;
    EXPECT_EQ(e->Breweb_Furiew(0, 2, 0, only.data()), 2);
    EXPECT_EQ(only[0].off, 1);
    EXPECT_EQ(only[1].off, 2);
    EXPECT_EQ(only[2].off, 0);
    EXPECT_EQ(only[0].x, -1);
    EXPECT_EQ(e->m_wx, 4);
}

TEST(SkeletonMarks, ProbesAndPastes)
{
    auto e = std::make_unique<Liner>(12, 8);
    unsigned char* p = e->Paint(kA, {});
    const int w = 12;
    // Row 4: start at 1, then 20, 128, 7.
    p[2 + 4 * w] = 20;
    p[3 + 4 * w] = 128;
    p[4 + 4 * w] = 7;
    e->Place(kA, 1, 4);
    EXPECT_EQ(e->SkeSke(0, 6, 0), 1);
    EXPECT_EQ(e->m_hitX, 4);
    EXPECT_EQ(e->m_hitCursor, p + 4 + 4 * w);
    e->Place(kA, 1, 4);
    EXPECT_EQ(e->SkeEnd(0, 6, 0), 0); // 20 stops the probe without a hit
    p[2 + 4 * w] = 128;
    p[4 + 4 * w] = 1;
    e->Place(kA, 1, 4);
    EXPECT_EQ(e->SkeEnd(0, 6, 0), 1);
    p[6 + 4 * w] = 255;
    e->Place(kA, 1, 4);
    EXPECT_EQ(e->SkeOut(0, 4, 0), 0); // too short to reach the 255
    e->Place(kA, 1, 4);
    EXPECT_EQ(e->SkeOut(0, 8, 0), 1);

    // SkeSet: an isolated pixel becomes 7; with east and south-east neighbours below 8
    // (code 3: entry 2) the east neighbour becomes 128.
    unsigned char* q = e->Paint(kB, {});
    for (int i = 0; i < w * 8; ++i) {
        q[i] = 50;
    }
    e->Place(kB, 5, 5);
    e->m_walkLevel = 0;
    EXPECT_EQ(e->SkeSet(0), 0);
    EXPECT_EQ(q[5 + 5 * w], 7);
    q[5 + 5 * w] = 50;
    q[6 + 5 * w] = 0;
    q[6 + 6 * w] = 0;
    e->SkeSet(0);
    EXPECT_EQ(q[5 + 5 * w], 7);
    EXPECT_EQ(q[6 + 5 * w], 128);
    q[2 + 2 * w] = 255;
    e->Place(kB, 2, 2);
    EXPECT_EQ(e->SkeSet(0), 1); // 255 stops
    // Pastes marks a straight line of 7s from the walk position.
    for (int i = 0; i < w * 8; ++i) {
        q[i] = 50;
    }
    e->Place(kB, 2, 1);
    EXPECT_EQ(e->Pastes(2, 5), 4);
    for (int y = 1; y <= 5; ++y) {
        EXPECT_EQ(q[2 + y * w], 7) << y;
    }
    EXPECT_EQ(q[3 + 3 * w], 50);
    // On the level's corner no neighbour outside the level is read or written.
    e->Place(kB, 0, 0);
    EXPECT_EQ(e->SkeSet(0), 0);
}

} // namespace
