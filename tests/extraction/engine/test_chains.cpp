// Skeleton arm walks on small hand-drawn skeletons: arm directions over the last points,
// crossings with four and five arms, spur removal at and around its limit, arm records with
// their codes, marking round trips, and chain codes written, read back and bounded; the skeleton
// probes against a line walk through their step callbacks on random skeletons, and the restoring
// walk against one over the direction tables on random patches.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

constexpr int kSkel = 4;

// '.' = 255 (outside the ridge area), digits = that skeleton code.
class Skeleton : public Codex {
public:
    int w = 0;
    explicit Skeleton(const std::vector<std::string>& rows)
    {
        Reset();
        SetMap(pyr[2]);
        w = static_cast<int>(rows[0].size());
        SetGeo(w, static_cast<int>(rows.size()));
        NewDoc();
        unsigned char* p = GetLay(kSkel, 0);
        for (std::size_t y = 0; y < rows.size(); ++y) {
            for (int x = 0; x < w; ++x) {
                const char c = rows[y][x];
                p[x + y * w] = c == '.' ? 255 : static_cast<unsigned char>(c - '0');
            }
        }
    }
    unsigned char& At(int x, int y) { return GetLay(kSkel, 0)[x + y * w]; }
    void On(int x, int y) { ProLay(kSkel, x, y, 0, 0); }
    std::vector<unsigned char> Snapshot()
    {
        const unsigned char* p = GetLay(kSkel, 0);
        return std::vector<unsigned char>(p, p + m_level[0].size);
    }
};

// Image sides must be multiples of nothing here: the geometry takes them as given.
const std::vector<std::string> kX = {
    "..........", ".1.....1..", "..7...7...", "...7.7....", "....0.....",
    "...7.7....", "..7...7...", ".1.....1..", "..........",
};

TEST(Arms, CentreAtOrAbove128DoesNothing)
{
    auto e = std::make_unique<Skeleton>(kX);
    e->At(4, 4) = 128;
    e->On(4, 4);
    e->Orient(10);
    EXPECT_EQ(e->m_arms, 0);
    const auto before = e->Snapshot();
    EXPECT_EQ(e->Crossd(10), 0);
    EXPECT_EQ(e->m_arms, 0);
    EXPECT_EQ(e->Snapshot(), before);
}

TEST(Arms, OrientGivesArmDirectionsInNeighbourOrder)
{
    auto e = std::make_unique<Skeleton>(kX);
    const auto before = e->Snapshot();
    e->On(4, 4);
    e->Orient(10);
    ASSERT_EQ(e->m_arms, 4);
    // Arms in neighbour order SE, SW, NW, NE; each from its first pixel to its ending.
    EXPECT_EQ(e->m_arm[0].dir, 45);
    EXPECT_EQ(e->m_arm[1].dir, 135);
    EXPECT_EQ(e->m_arm[2].dir, 225);
    EXPECT_EQ(e->m_arm[3].dir, 315);
    EXPECT_EQ(e->m_arm[0].first, &e->At(5, 5));
    EXPECT_EQ(e->Snapshot(), before); // every raised code restored
}

TEST(Arms, DirectionComesFromTheLastSixteenPoints)
{
    // An arm that runs 8 pixels south, then 20 east: over its last 16 points it points east.
    std::vector<std::string> rows(12, std::string(30, '.'));
    rows[1][1] = '1';
    for (int y = 2; y <= 9; ++y) {
        rows[y][1] = '7';
    }
    for (int x = 2; x <= 21; ++x) {
        rows[9][x] = '7';
    }
    rows[9][22] = '1';
    auto e = std::make_unique<Skeleton>(rows);
    e->On(1, 1);
    e->Orient(100);
    ASSERT_EQ(e->m_arms, 1);
    EXPECT_EQ(e->m_arm[0].dir, 0);
    e->On(1, 1);
    e->Orient(7); // a short walk sees only the southward part
    EXPECT_EQ(e->m_arm[0].dir, 90);
}

TEST(Arms, CrossingOfFourArmsIsRubbedOut)
{
    auto e = std::make_unique<Skeleton>(kX);
    e->On(4, 4);
    EXPECT_EQ(e->Crossd(10), 1);
    EXPECT_EQ(e->m_arms, 4);
    EXPECT_EQ(e->m_arm[0].x, 7); // the SE arm ends on its ending
    EXPECT_EQ(e->m_arm[0].y, 7);
    EXPECT_EQ(e->At(4, 4), 128);
    EXPECT_EQ(e->At(6, 6), 128);
    EXPECT_EQ(e->At(1, 1), 128);
}

TEST(Arms, FiveArmCentreIsRestored)
{
    std::vector<std::string> rows = kX;
    rows[4] = "....07771.";
    auto e = std::make_unique<Skeleton>(rows);
    const auto before = e->Snapshot();
    e->On(4, 4);
    EXPECT_EQ(e->Crossd(10), 0);
    EXPECT_EQ(e->m_arms, 5); // all five ends recorded, east first
    EXPECT_EQ(e->m_arm[0].first, &e->At(5, 4));
    EXPECT_EQ(e->m_arm[4].first, &e->At(5, 3));
    EXPECT_EQ(e->m_arm[0].x, 8);
    EXPECT_EQ(e->Snapshot(), before);
    // Orient and Morpho record the first four arms only.
    e->On(4, 4);
    e->Orient(10);
    EXPECT_EQ(e->m_arms, 4);
    EXPECT_EQ(e->m_arm[0].dir, 0);
    e->On(4, 4);
    e->Morpho(10);
    EXPECT_EQ(e->m_arms, 4);
    EXPECT_EQ(e->m_arm[0].code, 15);
    EXPECT_EQ(e->Snapshot(), before);
}

struct SpurCase {
    const char* name;
    int length;
    int orientation;
    bool deleted;
};

void PrintTo(const SpurCase& c, std::ostream* os)
{
    *os << c.name << ": length " << c.length << ", orientation " << c.orientation;
}

// An ending at (2,1) whose arm runs south-east to a branch point at (5,4) on a ridge. The arm
// spans d = round(sqrt 8) = 3 from its first pixel to the branch point, at 45 degrees.
const SpurCase kSpurCases[] = {
    {"at_the_limit", 3, 0, true},            // limit 3 * tan 45 = 3: d = 3 goes
    {"along_the_orientation", 3, 45, false}, // limit 0
    {"perpendicular", 3, 135, true},         // tan 90: no division, the arm goes
    {"walk_too_short", 2, 0, false},         // the walk does not reach the branch point
};

class Spur : public ::testing::TestWithParam<SpurCase> {};

TEST_P(Spur, DeletedOnlyWithinTheLimit)
{
    const std::vector<std::string> rows = {
        "..........", "..1.......", "...7......", "....7.....", "77777077..", "..........",
    };
    auto e = std::make_unique<Skeleton>(rows);
    const auto before = e->Snapshot();
    e->On(2, 1);
    e->Branch(GetParam().length, GetParam().orientation);
    if (GetParam().deleted) {
        EXPECT_EQ(e->m_deleted, 1);
        EXPECT_EQ(e->At(2, 1), 128); // the ending with its one deleted arm goes
        EXPECT_EQ(e->At(3, 2), 128);
        EXPECT_EQ(e->At(4, 3), 128);
        EXPECT_EQ(e->At(5, 4), 7); // the branch point becomes ridge
    } else {
        EXPECT_EQ(e->m_deleted, 0);
        EXPECT_EQ(e->Snapshot(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Arms, Spur, ::testing::ValuesIn(kSpurCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Arms, MorphoRecordsEndsCodesAndLengths)
{
    // A ridge point with one arm west to an ending and one arm east over a 7 to a branch point.
    const std::vector<std::string> rows = {
        "............", "...........7", "..........7.", ".1777477770.", "...........7",
    };
    auto e = std::make_unique<Skeleton>(rows);
    const auto before = e->Snapshot();
    e->On(5, 3);
    e->Morpho(50);
    ASSERT_EQ(e->m_arms, 2);
    // East arm first (direction 0): first pixel (6,3), stopped on the branch point (10,3)
    // reached over a 7: code 3.
    EXPECT_EQ(e->m_arm[0].code, 3);
    EXPECT_EQ(e->m_arm[0].x, 10);
    EXPECT_EQ(e->m_arm[0].dir, 0);
    EXPECT_EQ(e->m_arm[0].len, 4);
    // West arm: from (4,3) to the ending (1,3).
    EXPECT_EQ(e->m_arm[1].code, 15);
    EXPECT_EQ(e->m_arm[1].end, &e->At(1, 3));
    EXPECT_EQ(e->m_arm[1].dir, 180);
    EXPECT_EQ(e->m_arm[1].len, 3);
    EXPECT_EQ(e->Snapshot(), before);
}

TEST(Arms, MarkAndUnmarkRoundTrip)
{
    const std::vector<std::string> rows = {
        "........",
        ".477774.",
        "........",
    };
    auto e = std::make_unique<Skeleton>(rows);
    const auto before = e->Snapshot();
    e->On(3, 1);
    e->Colour(10);
    EXPECT_EQ(e->At(3, 1), 23);
    EXPECT_EQ(e->At(1, 1), 20);
    EXPECT_EQ(e->At(6, 1), 20);
    e->Visual(10);
    EXPECT_EQ(e->Snapshot(), before);
}

// The restoring walk on a raised ridge with a raised side branch: from the start it takes the
// first raised neighbour in direction order (east before south), lowers what it passes, and
// stops after `length` pixels or where no raised neighbour is left.
struct ResCase {
    int length;
    int lowered; // pixels of the row lowered, from the start
    int lastDir; // the last direction tried (-1: none tried, the initial value kept)
};

class Restore : public testing::TestWithParam<ResCase> {};

TEST_P(Restore, LowersTheArmUpToItsLength)
{
    const ResCase& c = GetParam();
    const std::vector<std::string> rows = {
        "........",
        ".777777.",
        "..7.....",
        "........",
    };
    auto e = std::make_unique<Skeleton>(rows);
    for (int x = 1; x <= 6; ++x) {
        e->At(x, 1) = 23;
    }
    e->At(2, 2) = 22;
    e->On(1, 1);
    e->m_lastDir = -1;
    EXPECT_EQ(e->SkeRes(c.length), 0);
    for (int x = 1; x <= 6; ++x) {
        EXPECT_EQ(e->At(x, 1), x <= c.lowered ? 7 : 23) << "x " << x;
    }
    EXPECT_EQ(e->At(2, 2), 22); // the branch is never taken
    EXPECT_EQ(e->m_endX, c.lowered);
    EXPECT_EQ(e->m_endY, 1);
    EXPECT_EQ(e->m_endP, &e->At(c.lowered, 1));
    EXPECT_EQ(e->m_lastDir, c.lastDir);
    EXPECT_EQ(e->m_walk[0], &e->At(1, 1)); // the walker stays on the start
    EXPECT_EQ(e->m_wx, 1);
}

INSTANTIATE_TEST_SUITE_P(Arms, Restore,
                         testing::Values(ResCase{1, 1, -1}, ResCase{3, 3, 0}, ResCase{6, 6, 0},
                                         ResCase{20, 6, 7}));

TEST(Arms, RestoreFromAnUnraisedStartDoesNothing)
{
    const std::vector<std::string> rows = {
        "......",
        ".7777.",
        "......",
    };
    auto e = std::make_unique<Skeleton>(rows);
    e->At(2, 1) = 21;
    const auto before = e->Snapshot();
    e->On(1, 1);
    e->SkeRes(10);
    EXPECT_EQ(e->Snapshot(), before);
    EXPECT_EQ(e->m_endP, &e->At(1, 1));
}

// The restoring walk against a walk over the level's own direction tables, on random patches of
// raised and other codes from every start (borders included) and for several lengths: the same
// pixels lowered, the same end and the same last direction.
TEST(Arms, RestoreMatchesAWalkOverTheDirectionTables)
{
    std::uint32_t seed = 0x5EED1234u;
    const unsigned char codes[] = {20, 21, 22, 23, 20, 23, 4, 7, 0, 3, 255};
    for (int round = 0; round < 60; ++round) {
        const int w = 3 + static_cast<int>(zftest::XorShift32(seed) % 10);
        const int h = 3 + static_cast<int>(zftest::XorShift32(seed) % 10);
        std::vector<std::string> rows(static_cast<std::size_t>(h), std::string(w, '.'));
        auto e = std::make_unique<Skeleton>(rows);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                e->At(x, y) = codes[zftest::XorShift32(seed) % sizeof codes];
            }
        }
        const int x0 = static_cast<int>(zftest::XorShift32(seed) % static_cast<unsigned>(w));
        const int y0 = static_cast<int>(zftest::XorShift32(seed) % static_cast<unsigned>(h));
        const int length = 1 + static_cast<int>(zftest::XorShift32(seed) % 40);
        // 1. The reference walk on a copy.
        std::vector<unsigned char> img = e->Snapshot();
        const CLevel& lv = e->m_level[0];
        auto raised = [](int v) { return v >= 20 && v <= 23; };
        int x = x0;
        int y = y0;
        int lastDir = -1;
        int at = y0 * w + x0;
        if (raised(img[at])) {
            img[at] = static_cast<unsigned char>(img[at] - 16);
            for (int n = 1; n < length && x >= 1 && y >= 1 && x <= w - 2 && y <= h - 2; ++n) {
                int d = 0;
                while (d < 8 && !raised(img[at + lv.step[d]])) {
                    ++d;
                }
                lastDir = d == 8 ? 7 : d;
                if (d == 8) {
                    break;
                }
                x += lv.dx[d];
                y += lv.dy[d];
                at += lv.step[d];
                img[at] = static_cast<unsigned char>(img[at] - 16);
            }
        }
        // 2. The walk itself.
        const bool started = raised(e->At(x0, y0));
        e->On(x0, y0);
        e->m_lastDir = -1;
        EXPECT_EQ(e->SkeRes(length), 0);
        SCOPED_TRACE(round);
        EXPECT_EQ(e->Snapshot(), img);
        EXPECT_EQ(e->m_lastDir, lastDir);
        if (started) {
            EXPECT_EQ(e->m_endX, x);
            EXPECT_EQ(e->m_endY, y);
            EXPECT_EQ(e->m_endP, &e->At(x, y));
        }
    }
}

struct ChainCase {
    const char* name;
    std::vector<std::string> rows;
    int cx, cy;                         // centre
    std::vector<int> codes;             // as worked out by hand
    std::vector<std::vector<int>> ends; // per arm read back: end x, y (and first x, y if any)
};

void PrintTo(const ChainCase& c, std::ostream* os)
{
    *os << c.name;
}

const ChainCase kChainCases[] = {
    {"straight_line",
     {".........", ".1777771.", "........."},
     4,
     1,
     {0, 0, 0, 8, 4, 0, 0, 8},
     {{7, 1, 5, 1}, {1, 1, 3, 1}}},
    // East arm turns right twice (changes 1, 1); west arm turns left onto its ending (change 7).
    {"bend",
     {"........", "..777...", ".1...7..", ".....1..", "........"},
     3,
     1,
     {0, 1, 1, 8, 4, 7, 8},
     {{5, 3, 4, 1}, {1, 2, 2, 1}}},
    // A right angle: change 2.
    {"corner",
     {".......", ".1777..", "....7..", "....1..", "......."},
     2,
     1,
     {0, 0, 2, 0, 8, 4, 8},
     {{4, 3, 3, 1}, {1, 1, 1, 1}}},
    // Stem of a Y: the south arm reaches the ending, the north arm stops on the branch point.
    {"y_junction_stem",
     {".........", ".1.....1.", "..7...7..", "...7.7...", "....0....", "....7....", "....7....",
      "....1....", "........."},
     4,
     5,
     {2, 0, 8, 6, 8},
     {{4, 7, 4, 6}, {4, 4, 4, 4}}},
    // A ridge pixel with one arm, and one with none: single 8s make up two arms.
    {"one_arm_padded", {"......", ".771..", "......"}, 1, 1, {0, 0, 8, 8}, {{3, 1, 2, 1}, {1, 1}}},
    {"no_arm_padded", {"...", ".6.", "..."}, 1, 1, {8, 8}, {{1, 1}, {1, 1}}},
};

class ChainCodes : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainCodes, WrittenAsWorkedOutAndReadBack)
{
    const ChainCase& c = GetParam();
    auto e = std::make_unique<Skeleton>(c.rows);
    const auto before = e->Snapshot();
    std::vector<unsigned char> buf(32, 0xEE);
    e->SetChain(buf.data(), static_cast<int>(buf.size()));
    e->On(c.cx, c.cy);
    const int n = e->Chaine(20);
    ASSERT_EQ(n, static_cast<int>(c.codes.size()));
    EXPECT_EQ(std::vector<int>(buf.begin(), buf.begin() + n), c.codes);
    EXPECT_EQ(buf[n], 0xEE);
    EXPECT_EQ(e->Snapshot(), before); // centre and arms restored

    e->SetChain(buf.data(), n);
    e->On(c.cx, c.cy);
    ASSERT_EQ(e->Chaind(20), static_cast<int>(c.ends.size()));
    for (std::size_t k = 0; k < c.ends.size(); ++k) {
        SCOPED_TRACE(k);
        const std::vector<int>& a = c.ends[k];
        EXPECT_EQ(e->m_arm[k].x, a[0]);
        EXPECT_EQ(e->m_arm[k].y, a[1]);
        EXPECT_EQ(e->m_arm[k].end, &e->At(a[0], a[1]));
        if (a.size() == 4) {
            EXPECT_EQ(e->m_arm[k].first, &e->At(a[2], a[3]));
        } else {
            EXPECT_EQ(e->m_arm[k].first, nullptr); // an empty arm
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Arms, ChainCodes, ::testing::ValuesIn(kChainCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ChainCodes, OnlyARidgeCentreIsWritten)
{
    const std::vector<std::string> rows = kChainCases[0].rows;
    for (const int code : {0, 1, 3, 8, 20, 128, 255}) {
        SCOPED_TRACE(code);
        auto e = std::make_unique<Skeleton>(rows);
        e->At(4, 1) = static_cast<unsigned char>(code);
        const auto before = e->Snapshot();
        std::vector<unsigned char> buf(16, 0xEE);
        e->SetChain(buf.data(), 16);
        e->On(4, 1);
        EXPECT_EQ(e->Chaine(20), WZ_CHAIN_CENTRE);
        EXPECT_EQ(buf, std::vector<unsigned char>(16, 0xEE));
        EXPECT_EQ(e->Snapshot(), before);
    }
}

TEST(ChainCodes, NeverWritesPastTheBuffer)
{
    // The straight line takes 8 bytes: every smaller buffer fails, holds the codes' first bytes
    // and nothing after them, and the skeleton comes back unchanged.
    const std::vector<int> all = kChainCases[0].codes;
    int tried = 0;
    for (int size = 0; size <= 8; ++size) {
        SCOPED_TRACE(size);
        auto e = std::make_unique<Skeleton>(kChainCases[0].rows);
        const auto before = e->Snapshot();
        std::vector<unsigned char> buf(12, 0xEE);
        e->SetChain(buf.data(), size);
        e->On(4, 1);
        EXPECT_EQ(e->Chaine(20), size == 8 ? 8 : WZ_CHAIN_FULL);
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(buf[i], i < size ? all[i] : 0xEE) << i;
        }
        EXPECT_EQ(e->Snapshot(), before);
        ++tried;
    }
    EXPECT_EQ(tried, 9);
    auto e = std::make_unique<Skeleton>(kChainCases[0].rows);
    e->SetChain(nullptr, 8);
    e->On(4, 1);
    EXPECT_EQ(e->Chaine(20), WZ_CHAIN_FULL);
}

TEST(ChainCodes, ReaderRejectsWhatTheWriterCannotWrite)
{
    struct Bad {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    // Read from (1,1) of a 6 x 3 level with at most 3 steps per arm.
    const Bad cases[] = {
        {"code_9", {0, 9, 8, 8}},
        {"code_255", {255, 8, 8}},
        {"ends_inside_an_arm", {0, 8, 4}},
        {"one_arm", {0, 0, 8}},
        {"nothing", {}},
        {"off_the_level", {4, 0, 8, 8}},
        {"longer_than_the_walk", {0, 0, 0, 0, 8, 8}},
        {"nine_arms", {8, 8, 8, 8, 8, 8, 8, 8, 8}},
    };
    auto e = std::make_unique<Skeleton>(std::vector<std::string>{"......", ".7....", "......"});
    for (const Bad& b : cases) {
        SCOPED_TRACE(b.name);
        std::vector<unsigned char> bytes = b.bytes;
        e->SetChain(bytes.data(), static_cast<int>(bytes.size()));
        e->On(1, 1);
        EXPECT_EQ(e->Chaind(3), WZ_CHAIN_BAD);
    }
    // The limits themselves are accepted: 3 steps, 8 arms, a step onto the level's edge.
    std::vector<unsigned char> ok = {0, 0, 0, 8, 4, 8, 8, 8, 8, 8, 8, 8};
    e->SetChain(ok.data(), static_cast<int>(ok.size()));
    e->On(1, 1);
    EXPECT_EQ(e->Chaind(3), 8);
    EXPECT_EQ(e->m_arm[0].x, 4);
    EXPECT_EQ(e->m_arm[1].x, 0);
}

// The probes walk their line with the step inlined; the line walk that calls the step callback
// per pixel must leave the same answer, hit and walk state, from anywhere on random codes.
TEST(Probes, MatchTheLineWalkThroughTheirCallbacks)
{
    const int w = 23;
    const int h = 17;
    std::vector<std::string> rows(h, std::string(w, '.'));
    auto fast = std::make_unique<Skeleton>(rows);
    auto slow = std::make_unique<Skeleton>(rows);
    const unsigned char codes[] = {0, 1, 3, 4, 7, 7, 7, 20, 23, 128, 128, 255};
    std::uint32_t seed = 0x5EED5u;
    for (int i = 0; i < w * h; ++i) {
        const unsigned char c = codes[zftest::XorShift32(seed) % sizeof codes];
        fast->At(i % w, i / w) = c;
        slow->At(i % w, i / w) = c;
    }
    using Probe = int (Codex::*)(int, int, int);
    const struct {
        const char* name;
        Probe probe;
        Codex::StepFn step;
    } kinds[] = {
        {"SkeSke", &Codex::SkeSke, &Codex::SkeSkeI},
        {"SkeEnd", &Codex::SkeEnd, &Codex::SkeEndI},
        {"SkeOut", &Codex::SkeOut, &Codex::SkeOutI},
    };
    int hits = 0;
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        for (int t = 0; t < 400; ++t) {
            const int x = static_cast<int>(zftest::XorShift32(seed) % w);
            const int y = static_cast<int>(zftest::XorShift32(seed) % h);
            const int angle = static_cast<int>(zftest::XorShift32(seed) % 720) - 360;
            const int length = static_cast<int>(zftest::XorShift32(seed) % 30);
            fast->On(x, y);
            slow->On(x, y);
            fast->m_hit = slow->m_hit = 0;
            const int got = (fast.get()->*k.probe)(angle, length, 0);
            slow->m_step = k.step;
            slow->Bresen(angle, length, 0);
            ASSERT_EQ(got, slow->m_hit) << x << "," << y << " " << angle << " " << length;
            hits += got;
            EXPECT_EQ(fast->m_step, k.step);
            EXPECT_EQ(fast->m_wx, slow->m_wx);
            EXPECT_EQ(fast->m_wy, slow->m_wy);
            EXPECT_EQ(fast->m_walkOff, slow->m_walkOff);
            EXPECT_EQ(fast->m_err, slow->m_err);
            EXPECT_EQ(fast->m_count, slow->m_count);
            EXPECT_EQ(fast->m_stepIndex, slow->m_stepIndex);
            EXPECT_EQ(fast->m_walk[0] - fast->GetLay(kSkel, 0),
                      slow->m_walk[0] - slow->GetLay(kSkel, 0));
            if (got != 0 && k.step != &Codex::SkeOutI) {
                EXPECT_EQ(fast->m_hitX, slow->m_hitX);
                EXPECT_EQ(fast->m_hitY, slow->m_hitY);
                EXPECT_EQ(fast->m_hitCursor - fast->GetLay(kSkel, 0),
                          slow->m_hitCursor - slow->GetLay(kSkel, 0));
            }
        }
    }
    EXPECT_GT(hits, 100); // the hits are exercised, not only the misses
    EXPECT_EQ(fast->Snapshot(), slow->Snapshot());
}

} // namespace

namespace {

// A skeleton whose link callback answers from the second walk cursor and the walker's position,
// as the link stage's does, and counts its calls.
class Linking : public Skeleton {
public:
    using Skeleton::Skeleton;
    int asked = 0;
    int Ask()
    {
        ++asked;
        return (*m_walk[1] + m_wx + 2 * m_wy) % 3 != 0 ? 1 : 0;
    }
};

// Everything an arm walk leaves behind: result, codes and flags, end, last direction, the kept
// points and raised pixels (pointers as offsets into the skeleton layer), the walker, the image.
std::vector<long long> WalkState(Linking& e, int result)
{
    const unsigned char* base = e.GetLay(kSkel, 0);
    auto at = [base](const unsigned char* p) { return p == nullptr ? -1LL : p - base; };
    std::vector<long long> s = {result,   e.m_armCode,  e.m_armStop, e.m_armHit,    e.m_endX,
                                e.m_endY, at(e.m_endP), e.m_lastDir, e.m_kept,      e.m_visitCount,
                                e.m_wx,   e.m_wy,       e.m_walkOff, e.m_walkLevel, e.asked};
    for (int k = 0; k < e.m_kept; ++k) {
        const auto& pt = e.m_pts[(e.m_tail + k) % WZ_ARM_POINTS];
        s.insert(s.end(), {pt.x, pt.y, at(pt.p)});
    }
    for (int k = 0; k < e.m_visitCount; ++k) {
        s.push_back(at(e.m_visited[k]));
    }
    for (int i = 0; i < WZ_WALKERS; ++i) {
        s.push_back(reinterpret_cast<long long>(e.m_walk[i]));
    }
    const std::vector<unsigned char> img = e.Snapshot();
    s.insert(s.end(), img.begin(), img.end());
    return s;
}

} // namespace

// The link and direction walks against the general arm walk with their visitors, on random patches
// of arm codes, raised and other values, from every kind of start (borders included), for several
// lengths, with one or two cursors and with and without the link callback; and on a winding arm
// longer than the list of raised pixels, which ends the walk when full.
TEST(Arms, LinkAndDirectionWalksMatchTheGeneralWalk)
{
    std::uint32_t seed = 0x11A4C0DEu;
    const unsigned char codes[] = {4, 5, 6, 7, 4, 7, 0, 1, 2, 3, 20, 21, 22, 23, 128, 255};
    // The link walk (with or without the callback) and the direction walk, each against its
    // reference from the same image and start.
    auto compare = [](Linking& e, int x0, int y0, int length, bool ask, const char* what) {
        unsigned char* second = ask ? e.GetLay(kSkel + 1, 0) : nullptr;
        const std::vector<unsigned char> img = e.Snapshot();
        e.m_linkAsk = ask ? static_cast<CBase::TestFn>(&Linking::Ask) : nullptr;
        for (const bool link : {true, false}) {
            std::vector<long long> got[2];
            for (int run = 0; run < 2; ++run) {
                unsigned char* skel = e.GetLay(kSkel, 0);
                std::copy(img.begin(), img.end(), skel);
                e.WalkAt(x0, y0, 0, nullptr, skel, second);
                e.m_lastDir = -1;
                e.asked = 0;
                const int r = link ? (run == 0 ? e.SkeLinWalk(length) : e.SkeLin(length))
                                   : (run == 0 ? e.SkeDirWalk(length) : e.SkeDir(length));
                got[run] = WalkState(e, r);
            }
            EXPECT_EQ(got[0], got[1])
                << what << (link ? " link" : " direction") << " start " << x0 << "," << y0
                << " length " << length << (ask ? " asking" : "");
        }
    };
    for (int round = 0; round < 300; ++round) {
        const int w = 3 + static_cast<int>(zftest::XorShift32(seed) % 14);
        const int h = 3 + static_cast<int>(zftest::XorShift32(seed) % 14);
        Linking e(std::vector<std::string>(static_cast<std::size_t>(h), std::string(w, '.')));
        unsigned char* marks = e.GetLay(kSkel + 1, 0);
        for (int i = 0; i < w * h; ++i) {
            e.GetLay(kSkel, 0)[i] = codes[zftest::XorShift32(seed) % sizeof codes];
            marks[i] = static_cast<unsigned char>(zftest::XorShift32(seed));
        }
        const int x0 = static_cast<int>(zftest::XorShift32(seed) % static_cast<unsigned>(w));
        const int y0 = static_cast<int>(zftest::XorShift32(seed) % static_cast<unsigned>(h));
        const int length = 1 + static_cast<int>(zftest::XorShift32(seed) % 60);
        compare(e, x0, y0, length, round % 2 == 1, "random");
    }
    // A serpentine arm of 4s and 7s over 40 rows of 60, from one end: 1,200 pixels and more.
    const int w = 64;
    const int h = 84;
    std::vector<std::string> rows(h, std::string(w, '.'));
    for (int r = 0; r < 40; ++r) {
        const int y = 2 + 2 * r;
        for (int x = 2; x < 62; ++x) {
            rows[y][x] = x % 5 == 0 ? '4' : '7';
        }
        rows[y + 1][r % 2 == 0 ? 61 : 2] = r < 39 ? '7' : '.';
    }
    rows[2][2] = '1';
    Linking snake(rows);
    // From next to the ending, along the first row.
    for (int i = 0; i < w * h; ++i) {
        snake.GetLay(kSkel + 1, 0)[i] = static_cast<unsigned char>(i % 5 == 0 ? 1 : 0);
    }
    for (const int length : {9999, 700, 17}) {
        compare(snake, 3, 2, length, false, "snake");
        compare(snake, 3, 2, length, true, "snake");
    }
}
