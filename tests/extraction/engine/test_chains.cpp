// Skeleton arm walks on small hand-drawn skeletons: arm directions over the last points,
// crossings with four and five arms, spur removal at and around its limit, arm records with
// their codes, and marking round trips.

#include "extraction/engine/Codex.h"

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

} // namespace
