// Stage 10: channel copies without singular points, removal of points on the image border, the
// one-ring growth of the class marks, and the block copies down the pyramid on odd level sizes.

#include "extraction/engine/Codex.h"
#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

// An engine with an empty pyramid of w0 x h0 pixels whose layers are stamped as stage 8's.
std::unique_ptr<Codex> Blank(int w0, int h0)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(w0, h0);
    e->NewDoc();
    e->m_stage = 8;
    e->m_quick = 0;
    e->m_singular = 0;
    for (int k = 0; k < 4; ++k) {
        std::memset(e->GetLay(10 + k, 0), 127, e->m_level[0].size);
        std::memset(e->GetLay(256 + k, 3), 20 + k, e->m_level[3].size);
        std::memset(e->GetLay(261 + k, 3), 100 + k, e->m_level[3].size);
        std::memset(e->GetLay(38 + k, 3), 0, e->m_level[3].size);
        std::memset(e->GetLay(119 + k, 3), 0, e->m_level[3].size);
    }
    std::memset(e->GetLay(37, 3), 0, e->m_level[3].size);
    return e;
}

void AddPoint(Codex& e, int x, int y, int type, int angle)
{
    SSign& s = e.m_sign[e.m_singular++];
    s = SSign{};
    s.x = x;
    s.y = y;
    s.type = static_cast<std::uint8_t>(type);
    s.angle = static_cast<std::uint8_t>(angle);
}

int At(Codex& e, int id, int level, int x, int y)
{
    return e.GetLay(id, level)[x + y * e.m_level[level].width];
}

TEST(Attrac, WithoutPointsChannelsAreStage3sCopiesAndNoPixelIsMarked)
{
    auto e = Blank(160, 128);
    e->Attrac(1);
    const CLevel& l3 = e->m_level[3];
    for (int k = 0; k < 4; ++k) {
        for (std::size_t i = 0; i < l3.size; ++i) {
            ASSERT_EQ(e->GetLay(38 + k, 3)[i], 20 + k);
            ASSERT_EQ(e->GetLay(119 + k, 3)[i], 100 + k);
        }
        EXPECT_EQ(e->GetKey(10 + k, 0), -1) << "directional responses are released";
    }
    for (int level = 1; level <= 3; ++level) {
        for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
            ASSERT_EQ(e->GetLay(129, level)[i], 0) << level;
        }
    }
}

TEST(Attrac, PointsOnTheBorderThatCountAreRemovedOthersStay)
{
    auto e = Blank(160, 128);
    e->m_quick = 1;
    AddPoint(*e, 0, 50, 2, 10);   // counts, on the border: removed
    AddPoint(*e, 0, 60, 4, 20);   // does not count: stays, marks nothing
    AddPoint(*e, 159, 70, 8, 30); // counts, on the last column: removed
    AddPoint(*e, 80, 64, 1, 40);  // counts, inside
    e->Attrac(1);
    ASSERT_EQ(e->m_singular, 2);
    EXPECT_EQ(e->m_sign[0].type, 4);
    EXPECT_EQ(e->m_sign[1].type, 1);
    EXPECT_EQ(At(*e, 129, 3, 10, 8), 1);
    EXPECT_EQ(At(*e, 37, 3, 10, 8), 40);
    EXPECT_EQ(At(*e, 129, 3, 0, 7), 0);
}

struct GrowCase {
    const char* name;
    int points[2][3]; // level-3 x, y, type; type 0 = unused
    int x, y;         // the probed level-3 pixel
    int expected;     // its class after the growth
};

void PrintTo(const GrowCase& c, std::ostream* os)
{
    *os << c.name;
}

const GrowCase kGrowCases[] = {
    {"loop_adjacent", {{10, 8, 2}, {0, 0, 0}}, 11, 9, 130},
    {"loop_two_away", {{10, 8, 2}, {0, 0, 0}}, 12, 8, 0},
    {"whorl_two_away", {{10, 8, 1}, {0, 0, 0}}, 12, 10, 129},
    {"delta_adjacent", {{10, 8, 8}, {0, 0, 0}}, 9, 8, 136},
    {"two_adjacent_loops_compete", {{10, 8, 2}, {12, 8, 2}}, 11, 8, 0},
    {"loop_and_whorl_compete", {{10, 8, 2}, {12, 8, 1}}, 11, 8, 0},
};

class AttracGrowth : public ::testing::TestWithParam<GrowCase> {};

TEST_P(AttracGrowth, FreePixelJoinsOnlyASingleMarkInReach)
{
    const GrowCase& c = GetParam();
    auto e = Blank(160, 128);
    e->m_quick = 1;
    for (const auto& p : c.points) {
        if (p[2] != 0) {
            AddPoint(*e, 8 * p[0] + 3, 8 * p[1] + 3, p[2], 33);
        }
    }
    e->Attrac(3);
    EXPECT_EQ(At(*e, 129, 3, c.x, c.y), c.expected);
    if (c.expected != 0) {
        EXPECT_EQ(At(*e, 37, 3, c.x, c.y), 33);
    }
}

INSTANTIATE_TEST_SUITE_P(Attrac, AttracGrowth, ::testing::ValuesIn(kGrowCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A grown mark does not grow further: the pixel next to it, out of the point's own reach, stays 0.
TEST(Attrac, GrowthDoesNotChainFromGrownMarks)
{
    auto e = Blank(160, 128);
    e->m_quick = 1;
    AddPoint(*e, 8 * 10 + 3, 8 * 8 + 3, 2, 5);
    e->Attrac(3);
    EXPECT_EQ(At(*e, 129, 3, 11, 8), 130);
    EXPECT_EQ(At(*e, 129, 3, 12, 8), 0);
}

// Level sizes whose blocks pass the right and bottom edges: the copies stop at the level's
// edge, and the last pixels take the values of the level-3 pixel that covers them.
TEST(Attrac, BlockCopiesAreClippedOnOddLevelSizes)
{
    auto e = Blank(260, 196); // level 3: 33 x 25, level 1: 130 x 98
    e->m_quick = 1;
    AddPoint(*e, 258, 194, 8, 77); // level-3 pixel (32, 24), the last one
    e->Attrac(1);
    const CLevel& l1 = e->m_level[1];
    EXPECT_EQ(At(*e, 129, 1, l1.width - 1, l1.height - 1), 8);
    EXPECT_EQ(At(*e, 37, 1, l1.width - 1, l1.height - 1), 77);
    EXPECT_EQ(At(*e, 129, 2, e->m_level[2].width - 1, e->m_level[2].height - 1), 8);
    EXPECT_EQ(At(*e, 129, 1, l1.width - 3, l1.height - 1), 136); // grown neighbour (31, 24)
}

// On a synthetic loop, after stages 2 to 8: only level-3 pixels within distance 4 of a singular
// point that counts get traced channels; all others keep stage 3's saved values.
TEST(Attrac, RefinementStaysNearTheSingularPoints)
{
    const int w = 288;
    const int h = 288;
    auto l = zftest::LoadInto(zftest::FlowImage(w, h, {{144, 130, 1}}, 90.0, 9.0, 7), w, h);
    ASSERT_EQ(l.code, 0);
    Codex& e = *l.engine;
    e.Pickup(-1);
    e.Xfocus(1);
    ASSERT_GT(e.m_singular, 0);
    const CLevel& l3 = e.m_level[3];
    int near = 0;
    int changed = 0;
    std::vector<unsigned char> saved[8];
    for (int k = 0; k < 4; ++k) {
        saved[k] = zftest::LayerCopy(e, 256 + k, 3);
        saved[4 + k] = zftest::LayerCopy(e, 261 + k, 3);
    }
    std::vector<SSign> points(e.m_sign, e.m_sign + e.m_singular);
    e.Attrac(1);
    for (int y = 0; y < l3.height; ++y) {
        for (int x = 0; x < l3.width; ++x) {
            int m = 5;
            for (const SSign& p : points) {
                const int dx = std::abs(p.x / 8 - x);
                const int dy = std::abs(p.y / 8 - y);
                if ((p.type & 11) != 0 && dx < m && dy < m) {
                    m = std::min(m, sqri(dx * dx + dy * dy));
                }
            }
            const std::size_t at = static_cast<std::size_t>(y) * l3.width + x;
            bool same = true;
            for (int k = 0; k < 4; ++k) {
                same = same && e.GetLay(38 + k, 3)[at] == saved[k][at] &&
                       e.GetLay(119 + k, 3)[at] == saved[4 + k][at];
            }
            if (m == 5) {
                ASSERT_TRUE(same) << x << "," << y;
            } else {
                ++near;
                changed += same ? 0 : 1;
            }
        }
    }
    EXPECT_GT(near, 0);
    EXPECT_GT(changed, 0);
}

} // namespace
