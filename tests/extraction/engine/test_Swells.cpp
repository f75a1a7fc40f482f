// Stage 11: the model ring around a singular point, the unsettled level, the fill of a gap
// between settled pixels, and the channel adoption.

#include "extraction/engine/Codex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace wizard73;

constexpr int kW0 = 160;
constexpr int kH0 = 128; // level 3: 20 x 16

// Level-3 inputs of the stage: flow `flow` with strength 200 in 32 / 112 and in channel 0,
// weak crossing channels 1..3, foreground marks `marks`, no singular class.
std::unique_ptr<Codex> Flowing(int flow, int marks)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(kW0, kH0);
    e->NewDoc();
    e->m_stage = 10;
    const std::size_t n = e->m_level[3].size;
    std::memset(e->GetLay(32, 3), flow, n);
    std::memset(e->GetLay(112, 3), 200, n);
    std::memset(e->GetLay(128, 3), marks, n);
    std::memset(e->GetLay(129, 3), 0, n);
    std::memset(e->GetLay(37, 3), 0, n);
    for (int k = 0; k < 4; ++k) {
        std::memset(e->GetLay(38 + k, 3), k == 0 ? flow : (flow + 90) % 180, n);
        std::memset(e->GetLay(119 + k, 3), k == 0 ? 200 : 40, n);
    }
    return e;
}

int Index(int x, int y)
{
    return x + y * (kW0 / 8);
}

TEST(Swells, LoopModelMarksTheTwelvePixelsAroundThePointOnly)
{
    auto e = Flowing(30, 4);
    e->GetLay(129, 3)[Index(10, 8)] = 2;
    e->GetLay(37, 3)[Index(10, 8)] = 45; // direction 90 degrees
    e->Swells(1);
    const unsigned char* marks = e->GetLay(128, 3);
    int modelled = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 20; ++x) {
            const int dx = x - 10;
            const int dy = y - 8;
            const bool axis = (dx == 0 && (dy == 1 || dy == 2 || dy == -1 || dy == -2)) ||
                              (dy == 0 && (dx == 1 || dx == 2 || dx == -1 || dx == -2));
            const bool diagonal = (dx == 1 || dx == -1) && (dy == 1 || dy == -1);
            EXPECT_EQ((marks[Index(x, y)] & 16) != 0, axis || diagonal) << x << "," << y;
            modelled += (marks[Index(x, y)] & 16) != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(modelled, 12);
}

TEST(Swells, QuickModeModelsNothing)
{
    auto e = Flowing(30, 4);
    e->m_quick = 1;
    e->GetLay(129, 3)[Index(10, 8)] = 1;
    e->Swells(1);
    for (std::size_t i = 0; i < e->m_level[3].size; ++i) {
        ASSERT_EQ(e->GetLay(128, 3)[i] & 16, 0);
    }
}

// Without foreground marks nothing is settled: no pixel gains bit 8 and the flow follows the
// stage-3 flow (and the adopted channel, the same here).
TEST(Swells, UnsettledLevelKeepsTheFlow)
{
    auto e = Flowing(120, 0);
    e->Swells(1);
    for (std::size_t i = 0; i < e->m_level[3].size; ++i) {
        ASSERT_EQ(e->GetLay(128, 3)[i], 0);
        ASSERT_EQ(e->GetLay(35, 3)[i], 120);
        ASSERT_EQ(e->GetLay(32, 3)[i], 120);
    }
    EXPECT_EQ(e->GetKey(240, 3), -1);
    EXPECT_EQ(e->GetKey(241, 3), -1);
}

// A settled level whose stage-3 flow disagrees with its strongest channel adopts the channel;
// agreeing pixels are settled (bit 8) and a wrong unsettled pixel is filled from its neighbours.
TEST(Swells, AdoptsTheAgreeingChannelAndFillsAGap)
{
    auto e = Flowing(60, 4);
    unsigned char* flow = e->GetLay(32, 3);
    std::memset(flow, 50, e->m_level[3].size); // stage 3 ten degrees off channel 0
    unsigned char* marks = e->GetLay(128, 3);
    marks[Index(7, 7)] = 0;  // an unsettled pixel ...
    flow[Index(7, 7)] = 150; // ... with a wrong orientation
    e->GetLay(38, 3)[Index(7, 7)] = 150;
    e->Swells(1);
    EXPECT_EQ(e->GetLay(32, 3)[Index(3, 3)], 60);
    EXPECT_EQ(e->GetLay(112, 3)[Index(3, 3)], 200);
    EXPECT_NE(e->GetLay(128, 3)[Index(3, 3)] & 8, 0);
    const int filled = e->GetLay(35, 3)[Index(7, 7)];
    EXPECT_LE(CWork::Dist(filled, 60), 10) << filled;
}

// Where no channel scores (all strengths 0), the chosen-channel layers hold what they were
// cleared to, so the adoption writes angle 0 and strength 0, not stale slot contents.
TEST(Swells, PixelWithoutScoringChannelAdoptsZeros)
{
    auto e = Flowing(60, 4);
    // Leave stale bytes in every free slot of level 3.
    int id = 1000;
    while (unsigned char* p = e->GetKey(id, 3) == -1 ? e->GetLay(id, 3) : nullptr) {
        std::memset(p, 99, e->m_level[3].size);
        ++id;
    }
    for (int k = 1000; k < id; ++k) {
        e->DelLay(k, 3);
    }
    ASSERT_GT(id, 1003);
    const int at = Index(5, 5);
    for (int k = 0; k < 4; ++k) {
        e->GetLay(119 + k, 3)[at] = 0;
    }
    e->Swells(1);
    EXPECT_EQ(e->GetLay(32, 3)[at], 0);
    EXPECT_EQ(e->GetLay(112, 3)[at], 0);
    EXPECT_EQ(e->GetLay(32, 3)[Index(3, 3)], 60);
}

} // namespace
