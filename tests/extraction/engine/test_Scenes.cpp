// Raster scan engine: visit logs of every mode and border, block clipping, cursor movement,
// Fragmo, the callback defaults after a scan, and the ring spiral.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FlowMean.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace wizard73;

constexpr int kLayer = 200; // fine layer whose bytes code their own position
constexpr int kCoarseLayer = 201;

// Pixel value that codes position (x, y); distinct enough for small levels.
unsigned char Code(int x, int y)
{
    return static_cast<unsigned char>(x * 7 + y * 31);
}

// An engine whose callbacks write a log of every call with the positions and cursor values.
class Recorder : public Codex {
public:
    struct Call {
        char kind; // T tune, t tune2, F fresh, B blockTest, P pixel, D blockDone,
                   // E edgeTest, p edgePixel, d edgeDone, R ring point
        int fx, fy, sx, sy;
        bool cursorOk;
    };
    std::vector<Call> log;
    int blockAnswer = 1;
    int edgeAnswer = 1;
    bool claimInTune = false;
    int fineLevel = 0, scanLevel = 0;

    void Load(int w0, int h0)
    {
        Reset();
        SetMap(pyr[2]);
        SetGeo(w0, h0);
        NewDoc();
    }
    void Fill(int id, int level)
    {
        unsigned char* p = GetLay(id, level);
        for (int y = 0; y < m_level[level].height; ++y) {
            for (int x = 0; x < m_level[level].width; ++x) {
                p[x + y * m_level[level].width] = Code(x, y);
            }
        }
    }
    void Install()
    {
        m_tune = static_cast<TuneFn>(&Recorder::OnTune);
        m_tune2 = static_cast<TuneFn>(&Recorder::OnTune2);
        m_fresh = static_cast<ActFn>(&Recorder::OnFresh);
        m_blockTest = static_cast<TestFn>(&Recorder::OnBlockTest);
        m_pixel = static_cast<ActFn>(&Recorder::OnPixel);
        m_blockDone = static_cast<ActFn>(&Recorder::OnBlockDone);
        m_edgeTest = static_cast<TestFn>(&Recorder::OnEdgeTest);
        m_edgePixel = static_cast<ActFn>(&Recorder::OnEdgePixel);
        m_edgeDone = static_cast<ActFn>(&Recorder::OnEdgeDone);
    }
    void Add(char kind)
    {
        const bool fineOk = m_fine[0] != nullptr && *m_fine[0] == Code(m_fineX, m_fineY);
        const bool coarseOk = m_coarse[0] != nullptr && *m_coarse[0] == Code(m_scanX, m_scanY);
        log.push_back({kind, m_fineX, m_fineY, m_scanX, m_scanY, fineOk && coarseOk});
    }
    void OnTune(int s, int f)
    {
        scanLevel = s;
        fineLevel = f;
        m_fine[0] = GetLay(kLayer, f);
        m_coarse[0] = GetLay(kCoarseLayer, s);
        if (claimInTune) {
            GetLay(250, s);
        }
        log.push_back({'T', s, f, 0, 0, true});
    }
    void OnTune2(int s, int f) { log.push_back({'t', s, f, 0, 0, true}); }
    void OnFresh() { log.push_back({'F', 0, 0, 0, 0, true}); }
    int OnBlockTest()
    {
        Add('B');
        return blockAnswer;
    }
    void OnPixel()
    {
        Add('P');
        m_fine[0] = nullptr; // a callback's cursor change does not outlive the block
    }
    void OnBlockDone() { Add('D'); }
    int OnEdgeTest()
    {
        Add('E');
        return edgeAnswer;
    }
    void OnEdgePixel() { Add('p'); }
    void OnEdgeDone() { Add('d'); }

    std::string Kinds() const
    {
        std::string s;
        for (const Call& c : log) {
            s += c.kind;
        }
        return s;
    }
    int Count(char kind) const
    {
        int n = 0;
        for (const Call& c : log) {
            n += c.kind == kind;
        }
        return n;
    }
    bool AllCursorsOk() const
    {
        for (const Call& c : log) {
            if (!c.cursorOk) {
                return false;
            }
        }
        return true;
    }
};

// Pixel callbacks that null a cursor would break the next pixel's check in modes 1 and 2, so
// those tests use a recorder that leaves cursors alone.
class QuietRecorder : public Recorder {
public:
    void OnPixelQuiet() { Add('P'); }
    void Install()
    {
        Recorder::Install();
        m_pixel = static_cast<ActFn>(&QuietRecorder::OnPixelQuiet);
    }
};

std::unique_ptr<QuietRecorder> Make(int w0, int h0)
{
    auto r = std::make_unique<QuietRecorder>();
    r->Load(w0, h0);
    for (int l = 0; l < 4; ++l) {
        r->Fill(kLayer, l);
        r->Fill(kCoarseLayer, l);
    }
    return r;
}

bool DefaultsRestored(const Codex& e)
{
    return e.m_tune == static_cast<CBase::TuneFn>(&CBase::Deaden) &&
           e.m_tune2 == static_cast<CBase::TuneFn>(&CBase::Deaden) &&
           e.m_blockTest == static_cast<CBase::TestFn>(&CBase::Spirit) &&
           e.m_pixel == static_cast<CBase::ActFn>(&CBase::Deaden) &&
           e.m_blockDone == static_cast<CBase::ActFn>(&CBase::Deaden) &&
           e.m_edgeTest == static_cast<CBase::TestFn>(&CBase::Spirit) &&
           e.m_edgePixel == static_cast<CBase::ActFn>(&CBase::Deaden) &&
           e.m_edgeDone == static_cast<CBase::ActFn>(&CBase::Deaden) &&
           e.m_ringPoint == static_cast<CBase::RingFn>(&CBase::Deaden) && e.m_fine[0] == nullptr &&
           e.m_coarse[0] == nullptr;
}

// Level 3 of a 40 x 32 image is 5 x 4 pixels; level 1 is 20 x 16.
TEST(Scenes, CentreModeWithBorderOneSendsTheRingToEdgePixel)
{
    auto r = Make(40, 32);
    r->Install();
    r->Scenei(1, 3, 1);
    // tune, tune2, then one call per scan pixel in raster order.
    ASSERT_EQ(r->log.size(), 2u + 20u);
    EXPECT_EQ(r->Kinds(), "Tt"
                          "ppppp"
                          "pPPPp"
                          "pPPPp"
                          "ppppp");
    EXPECT_EQ(r->Count('p'), 14);
    EXPECT_EQ(r->Count('P'), 6);
    for (std::size_t i = 2; i < r->log.size(); ++i) {
        const int n = static_cast<int>(i - 2);
        EXPECT_EQ(r->log[i].sx, n % 5);
        EXPECT_EQ(r->log[i].sy, n / 5);
        EXPECT_EQ(r->log[i].fx, 4 * (n % 5));
        EXPECT_EQ(r->log[i].fy, 4 * (n / 5));
    }
    EXPECT_TRUE(r->AllCursorsOk());
    EXPECT_TRUE(DefaultsRestored(*r));
}

TEST(Scenes, CentreOffsetOnlyInModeOne)
{
    for (int mode : {1, 2, 7}) {
        SCOPED_TRACE(mode);
        auto r = Make(40, 32);
        struct Probe : QuietRecorder {
            int half = -1, centre = -1;
            void Look()
            {
                half = m_half;
                centre = m_centre;
                Add('P');
            }
        };
        auto p = std::make_unique<Probe>();
        p->Load(40, 32);
        p->Fill(kLayer, 1);
        p->Fill(kCoarseLayer, 3);
        p->Install();
        p->m_pixel = static_cast<CBase::ActFn>(&Probe::Look);
        p->Scenei(mode, 3, 1);
        EXPECT_EQ(p->Kinds(), "Tt"
                              "ppppp"
                              "pPPPp"
                              "pPPPp"
                              "ppppp");
        EXPECT_EQ(p->half, mode == 1 ? 2 : 0);
        EXPECT_EQ(p->centre, mode == 1 ? 21 * 2 : 0);
        EXPECT_TRUE(p->AllCursorsOk());
    }
}

TEST(Scenes, BlockModeAtOneLevelVisitsEveryPixelOnce)
{
    auto r = Make(16, 12); // level 1: 8 x 6
    r->Install();
    r->Scenew(0, 1, 1);
    std::string want = "Tt";
    for (int i = 0; i < 48; ++i) {
        want += "BPD";
    }
    EXPECT_EQ(r->Kinds(), want);
    std::set<std::pair<int, int>> seen;
    for (const auto& c : r->log) {
        if (c.kind == 'P') {
            seen.insert({c.fx, c.fy});
        }
    }
    EXPECT_EQ(seen.size(), 48u);
    EXPECT_TRUE(r->AllCursorsOk());
}

TEST(Scenes, BlockModeVisitsBlocksRowByRowAndRestoresCursors)
{
    auto r = std::make_unique<Recorder>(); // its pixel callback nulls the fine cursor
    r->Load(16, 8);                        // level 0 16 x 8, level 1 8 x 4
    r->Fill(kLayer, 0);
    r->Fill(kCoarseLayer, 1);
    r->Install();
    r->Scenew(0, 1, 0);
    // Each block: test, then its 2 x 2 pixels row by row, then done.
    ASSERT_EQ(r->log.size(), 2u + 32u * 6u);
    const auto& first = r->log[2];
    EXPECT_EQ(first.kind, 'B');
    int i = 2;
    for (int by = 0; by < 4; ++by) {
        for (int bx = 0; bx < 8; ++bx) {
            SCOPED_TRACE(testing::Message() << bx << "," << by);
            EXPECT_EQ(r->log[i].kind, 'B');
            EXPECT_TRUE(r->log[i].cursorOk); // cursor back despite the callback's change
            EXPECT_EQ(r->log[i].fx, 2 * bx);
            EXPECT_EQ(r->log[i].fy, 2 * by);
            const int order[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
            for (int k = 0; k < 4; ++k) {
                EXPECT_EQ(r->log[i + 1 + k].kind, 'P');
                EXPECT_EQ(r->log[i + 1 + k].fx, 2 * bx + order[k][0]);
                EXPECT_EQ(r->log[i + 1 + k].fy, 2 * by + order[k][1]);
            }
            EXPECT_TRUE(r->log[i + 1].cursorOk);
            EXPECT_EQ(r->log[i + 5].kind, 'D');
            EXPECT_EQ(r->log[i + 5].fx, 2 * bx);
            EXPECT_EQ(r->log[i + 5].fy, 2 * by);
            i += 6;
        }
    }
}

TEST(Scenes, RefusedBlocksGetNoPixels)
{
    auto r = Make(16, 8);
    r->Install();
    r->blockAnswer = 0;
    r->edgeAnswer = 0;
    r->Scenes(0, 1, 1, 0);
    EXPECT_EQ(r->Count('P'), 0);
    EXPECT_EQ(r->Count('D'), 0);
    EXPECT_EQ(r->Count('p'), 0);
    EXPECT_EQ(r->Count('d'), 0);
    EXPECT_EQ(r->Count('B'), 12); // 8 x 4 level with a one-pixel band: 6 x 2 inside
    EXPECT_EQ(r->Count('E'), 20);
}

TEST(Scenes, BorderBlocksGoThroughFragmo)
{
    auto r = Make(16, 8);
    r->Install();
    r->Scenes(0, 1, 1, 0);
    // Border block: E, its four pixels through edgePixel, d. Inner block: B, PPPP, D.
    EXPECT_EQ(r->Count('E'), 20);
    EXPECT_EQ(r->Count('p'), 80);
    EXPECT_EQ(r->Count('d'), 20);
    EXPECT_EQ(r->Count('P'), 48);
    EXPECT_EQ(r->Kinds().substr(2, 12), "EppppdEppppd");
    // Fragmo walks rows of the block and leaves the position at its top-left.
    const auto& c = r->log;
    EXPECT_EQ(c[3].fx, 0);
    EXPECT_EQ(c[4].fx, 1);
    EXPECT_EQ(c[5].fy, 1);
    EXPECT_EQ(c[7].kind, 'd');
    EXPECT_EQ(c[7].fx, 0);
    EXPECT_EQ(c[7].fy, 0);
    EXPECT_TRUE(r->AllCursorsOk());
}

TEST(Scenes, WideBorderOnTwelveByTwelve)
{
    for (int side : {12, 10}) {
        SCOPED_TRACE(side);
        auto r = Make(16 * side, 16 * side); // level 4 is side x side
        r->Install();
        r->edgeAnswer = 0;
        r->blockAnswer = 0;
        r->Scenes(0, 5, 4, 3);
        EXPECT_EQ(r->Count('E'), side == 12 ? 140 : 100);
        EXPECT_EQ(r->Count('B'), side == 12 ? 4 : 0);
    }
}

TEST(Scenes, LastBlockOfARowIsShiftedInside)
{
    // Level 1 width 9, level 3 width 3: k = 4, the third block covers columns 5..8.
    auto r = Make(18, 34); // level 1: 9 x 17, level 3: 3 x 5
    r->Install();
    r->Scenew(0, 3, 1);
    std::set<int> firstCols;
    int maxX = 0, maxY = 0;
    for (const auto& c : r->log) {
        if (c.kind == 'B') {
            firstCols.insert(c.fx);
            EXPECT_TRUE(c.cursorOk) << c.fx << "," << c.fy;
        }
        if (c.kind == 'P') {
            maxX = std::max(maxX, c.fx);
            maxY = std::max(maxY, c.fy);
            EXPECT_TRUE(c.cursorOk) << c.fx << "," << c.fy;
        }
    }
    EXPECT_EQ(firstCols, (std::set<int>{0, 4, 5}));
    EXPECT_EQ(maxX, 8);
    EXPECT_EQ(maxY, 16); // the last block row is shifted up as well (17 rows, blocks of 4)
    EXPECT_EQ(r->Count('P'), 15 * 16);
}

TEST(Scenes, SingleModeWithoutBorderSendsEveryPixelInside)
{
    auto r = Make(40, 32);
    r->Install();
    r->Scenes(2, 0, 3, 3);
    EXPECT_EQ(r->Count('P'), 20);
    EXPECT_EQ(r->Count('p'), 0);
    EXPECT_TRUE(r->AllCursorsOk());
}

TEST(Scenes, FreshRunsOnlyWhenTuneClaimed)
{
    auto r = Make(40, 32);
    r->Install();
    r->claimInTune = true;
    r->Scenew(2, 3, 3);
    EXPECT_EQ(r->Kinds().substr(0, 3), "TtF");
    auto q = Make(40, 32);
    q->Install();
    q->Scenew(2, 3, 3);
    EXPECT_EQ(q->Kinds().substr(0, 3), "TtP");
}

TEST(Scenes, FineLevelCoarserThanScanLevelVisitsNothing)
{
    auto r = Make(40, 32);
    r->Install();
    r->Scenes(0, 0, 1, 3);
    EXPECT_TRUE(r->log.empty());
    EXPECT_TRUE(DefaultsRestored(*r));
}

TEST(Scener, WindowSplitsPixelAndEdgeCalls)
{
    auto r = Make(40, 32); // level 3: 5 x 4
    r->Install();
    r->m_winLeft = 1;
    r->m_winRight = 3;
    r->m_winTop = 1;
    r->m_winBottom = 2;
    r->Scener(3);
    EXPECT_EQ(r->Kinds(), "Tt"
                          "ppppp"
                          "pPPPp"
                          "pPPPp"
                          "ppppp");
    EXPECT_EQ(r->log[0].fx, 3); // tune gets (level, level)
    EXPECT_EQ(r->log[0].fy, 3);
    for (std::size_t i = 2; i < r->log.size(); ++i) {
        const int n = static_cast<int>(i - 2);
        EXPECT_EQ(r->log[i].fx, n % 5);
        EXPECT_EQ(r->log[i].fy, n / 5);
        EXPECT_EQ(r->log[i].sx, n % 5);
    }
    EXPECT_TRUE(r->AllCursorsOk());
    EXPECT_TRUE(DefaultsRestored(*r));
}

TEST(Scener, EmptyLevelCallsOnlyTune)
{
    auto r = std::make_unique<QuietRecorder>();
    r->Load(0, 0);
    r->Install();
    r->Scener(2);
    EXPECT_EQ(r->Kinds(), "TtF"); // the tune callback claimed its layers
}

// ---------------------------------------------------------------------------------------------
// Ring spiral

class RingLog : public Codex {
public:
    std::vector<std::pair<int, int>> pts; // reported positions
    std::vector<int> angles;
    std::vector<bool> cursorOk;
    void OnRing(int angle, int)
    {
        pts.push_back({m_wx, m_wy});
        angles.push_back(angle);
        cursorOk.push_back(m_walk[0] != nullptr && *m_walk[0] == Code(m_wx, m_wy));
    }
};

TEST(Spiral, RingTableFormsAContinuousSpiral)
{
    const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    const int dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    const int ends[5] = {7, 23, 43, 67, 95};
    const std::pair<int, int> endPos[5] = {{1, -1}, {2, -2}, {2, -3}, {2, -4}, {2, -5}};
    int x = 0, y = 0, r = 0;
    std::set<std::pair<int, int>> seen;
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 96; ++i) {
        x += dx[ring[i].dir];
        y += dy[ring[i].dir];
        EXPECT_TRUE(seen.insert({x, y}).second) << i;
        const double t = std::fmod(std::atan2(y, x) * 180 / pi + 360, 360);
        double diff = std::fabs(t - ring[i].angle);
        diff = diff > 180 ? 360 - diff : diff;
        EXPECT_LT(diff, 6.0) << i; // the listed angle is the point's bearing
        if (i == ends[r]) {
            EXPECT_EQ(std::make_pair(x, y), endPos[r]) << r;
            ++r;
        }
    }
    EXPECT_EQ(r, 5);
}

TEST(Spiral, ReportsExactlyThePointsInsideTheLevel)
{
    int checked = 0;
    for (const auto& size : {std::pair<int, int>{13, 13}, {5, 4}, {12, 9}, {3, 3}, {2, 7}}) {
        auto e = std::make_unique<RingLog>();
        e->Reset();
        e->SetMap(pyr[2]);
        e->SetGeo(size.first, size.second);
        e->NewDoc();
        unsigned char* lay = e->GetLay(kLayer, 0);
        for (int y = 0; y < size.second; ++y) {
            for (int x = 0; x < size.first; ++x) {
                lay[x + y * size.first] = Code(x, y);
            }
        }
        for (int radius = 0; radius <= 4; ++radius) {
            for (int cy = 0; cy < size.second; ++cy) {
                for (int cx = 0; cx < size.first; ++cx) {
                    e->pts.clear();
                    e->cursorOk.clear();
                    e->ProLay(kLayer, cx, cy, 0, 0);
                    e->m_ringPoint = static_cast<CBase::RingFn>(&RingLog::OnRing);
                    const int n = e->Spiral(0, radius, 1);
                    const int counts[5] = {8, 24, 44, 68, 96};
                    EXPECT_EQ(n, counts[radius]);
                    int inside = 0;
                    int x = cx, y = cy;
                    for (int i = 0; i < n; ++i) {
                        x += e->m_level[0].dx[ring[i].dir];
                        y += e->m_level[0].dy[ring[i].dir];
                        inside += x >= 0 && y >= 0 && x < size.first && y < size.second;
                    }
                    ASSERT_EQ(static_cast<int>(e->pts.size()), inside)
                        << size.first << "x" << size.second << " r" << radius << " at " << cx << ","
                        << cy;
                    for (std::size_t k = 0; k < e->pts.size(); ++k) {
                        ASSERT_TRUE(e->cursorOk[k]);
                    }
                    EXPECT_EQ(e->m_wx, x); // the walk ends on the last ring point
                    EXPECT_EQ(e->m_wy, y);
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 1000);
}

// Ring walks move every walk cursor that is set along with the walk and leave the null ones
// null, whichever cursors are set (the walk handles the first one or two alone separately).
class WalkerLog : public Codex {
public:
    bool set[WZ_WALKERS] = {};
    int bad = 0;
    int points = 0;
    bool CursorsAt(int x, int y) const
    {
        for (int k = 0; k < WZ_WALKERS; ++k) {
            const bool ok =
                set[k] ? m_walk[k] != nullptr && *m_walk[k] == Code(x, y) : m_walk[k] == nullptr;
            if (!ok) {
                return false;
            }
        }
        return m_walkOff == x + y * m_level[0].width;
    }
    void OnRing(int, int)
    {
        ++points;
        bad += CursorsAt(m_wx, m_wy) ? 0 : 1;
    }
};

TEST(Spiral, EveryPatternOfSetWalkCursorsMovesWithTheWalk)
{
    const bool patterns[][WZ_WALKERS] = {{true, false, false, false, false},
                                         {true, true, false, false, false},
                                         {true, false, true, false, false},
                                         {false, true, false, false, false},
                                         {true, true, true, true, true}};
    auto e = std::make_unique<WalkerLog>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(13, 13);
    e->NewDoc();
    unsigned char* lay = e->GetLay(kLayer, 0);
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 13; ++x) {
            lay[x + y * 13] = Code(x, y);
        }
    }
    e->m_ringPoint = static_cast<CBase::RingFn>(&WalkerLog::OnRing);
    for (const auto& pattern : patterns) {
        for (const auto& at : {std::pair<int, int>{6, 6}, {1, 5}}) {
            for (int radius = 0; radius <= 4; ++radius) {
                e->m_wx = at.first;
                e->m_wy = at.second;
                e->m_walkOff = at.first + at.second * 13;
                for (int k = 0; k < WZ_WALKERS; ++k) {
                    e->set[k] = pattern[k];
                    e->m_walk[k] = pattern[k] ? lay + e->m_walkOff : nullptr;
                }
                e->bad = e->points = 0;
                e->Spiral(0, radius, 1);
                EXPECT_GT(e->points, 0);
                EXPECT_EQ(e->bad, 0) << "radius " << radius << " at " << at.first;
                EXPECT_TRUE(e->CursorsAt(e->m_wx, e->m_wy)) << "after the walk";
            }
        }
    }
}

// The offset ring (RingOffsets) visits the same points as the step-by-step ring walk at every
// start, near the edges from lists made once per start class: checked on first and later use,
// on levels too small for the lists, and after the level's size changes under the same engine.
TEST(Spiral, OffsetRingMatchesTheWalkAtEveryStart)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    int mismatches = 0;
    int checked = 0;
    for (const auto& size :
         {std::pair<int, int>{13, 13}, {12, 9}, {21, 11}, {13, 13}, {5, 4}, {10, 12}, {3, 3}}) {
        e->SetGeo(size.first, size.second);
        e->NewDoc();
        unsigned char* lay = e->GetLay(kLayer, 0);
        for (int radius = 0; radius <= 4; ++radius) {
            for (int pass = 0; pass < 2; ++pass) {
                for (int cy = 0; cy < size.second; ++cy) {
                    for (int cx = 0; cx < size.first; ++cx) {
                        const int at = cx + cy * size.first;
                        std::vector<std::pair<int, int>> want;
                        e->WalkAt(cx, cy, 0, nullptr, lay);
                        e->RingWalk(0, radius, 1, [&](int angle, int) {
                            want.push_back({angle, e->m_walkOff - at});
                        });
                        const int wx = e->m_wx;
                        const int wy = e->m_wy;
                        std::vector<std::pair<int, int>> got;
                        e->WalkAt(cx, cy, 0, nullptr, lay);
                        e->RingOffsets(0, radius, 1, [&](int angle, std::int32_t off) {
                            got.push_back({angle, off});
                        });
                        const bool same = got == want && e->m_wx == wx && e->m_wy == wy &&
                                          e->m_walkOff == wx + wy * size.first &&
                                          e->m_walk[0] == lay + e->m_walkOff;
                        mismatches += same ? 0 : 1;
                        ++checked;
                    }
                }
            }
        }
        e->DelLay(kLayer, 0);
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(checked, 5000);
}

TEST(Spiral, CornerAndInteriorOfRadiusZero)
{
    auto e = std::make_unique<RingLog>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(8, 8);
    e->NewDoc();
    e->m_ringPoint = static_cast<CBase::RingFn>(&RingLog::OnRing);
    e->ProLay(kLayer, 0, 0, 0, 0);
    e->Spiral(0, 0, 2);
    EXPECT_EQ(e->angles, (std::vector<int>{0, 45, 90}));
    EXPECT_EQ(e->m_ringValue, 2);
    e->angles.clear();
    e->ProLay(kLayer, 3, 3, 0, 0);
    e->Spiral(0, 0, 1);
    EXPECT_EQ(e->angles, (std::vector<int>{0, 45, 90, 135, 180, 225, 270, 315}));
    e->angles.clear();
    EXPECT_EQ(e->Spiral(0, -1, 1), 8); // stored count, no walk
    EXPECT_TRUE(e->angles.empty());
}

} // namespace

namespace {

// Flow-oriented 3 x 3 mean: along 0 degrees the east and west neighbours weigh 32, the
// diagonals 16, north and south 0.
TEST(Fiimpo, WeighsNeighboursByTheirAngleToTheFlow)
{
    Codex e;
    e.m_W = 5;
    e.m_w = 3;
    unsigned char img[25] = {};
    img[12] = 100; // centre of a 5 x 5 patch
    img[11] = 50;
    img[13] = 50;
    img[7] = 200; // north: weight 0 along the flow
    EXPECT_EQ(e.Fiimpo(0, img + 12, 1), (3200 + 32 * 100 + 80) / 160);
    EXPECT_EQ(e.Fiimpo(180, img + 12, 1), 40); // orientation, not direction
    // Across the flow (90 degrees) north and south weigh 32: (3200 + 6400 + 80) / 160.
    EXPECT_EQ(e.Fiimpo(90, img + 12, 1), 60);
    // The level selector picks the scan-level width as row stride.
    unsigned char small[9] = {0, 0, 0, 50, 100, 50, 0, 0, 0};
    EXPECT_EQ(e.Fiimpo(0, small + 4, 0), 40);
    // Angles outside 0..359 wrap.
    EXPECT_EQ(e.Fiimpo(360, img + 12, 1), e.Fiimpo(0, img + 12, 1));
    EXPECT_EQ(e.Fiimpo(-270, img + 12, 1), 60);
}

// The mean divides by a multiply: it must equal the rounded quotient for every flow angle and
// every sum a 3 x 3 patch of bytes can make, the brightest patch included.
TEST(Fiimpo, MultiplyMatchesTheQuotient)
{
    for (int a = 0; a < 360; ++a) {
        const FlowMeanRow& row = kFlowMean.row[a];
        for (int s = 0; s <= 255 * row.t; ++s) {
            const auto n = static_cast<std::uint64_t>(s + row.t / 2);
            ASSERT_EQ(static_cast<int>((n * row.inverse) >> 32), (s + row.t / 2) / row.t)
                << "angle " << a << " sum " << s;
        }
    }
    unsigned char bright[9];
    std::fill(bright, bright + 9, 255);
    for (int a = 0; a < 360; ++a) {
        ASSERT_EQ(FlowMean(kFlowMean.row[a], bright + 4, 3), 255) << a;
    }
}

} // namespace
