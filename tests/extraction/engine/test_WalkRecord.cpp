// Recorded line walks: each recorded walk has the steps of the real walk, and after Finish (and
// the cursor move it returns) the walk and line state are those the real walks leave, also when
// the last walk was served from the record.

#include "extraction/engine/WalkRecord.h"
#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace wizard73;

TEST(WalkRecord, ReusedWalksMatchRealWalksAndLeaveTheirState)
{
    constexpr int W = 160;
    const std::vector<unsigned char> img(W * W, 128);
    auto realLoad = zftest::LoadInto(img, W, W, 'A');
    auto recLoad = zftest::LoadInto(img, W, W, 'A');
    ASSERT_EQ(realLoad.code, 0);
    ASSERT_EQ(recLoad.code, 0);
    Codex& real = *realLoad.engine;
    Codex& rec = *recLoad.engine;
    // The walk cursor starts in the middle of a layer so that its moves stay inside.
    unsigned char* realBase = real.Layer(240, 0);
    unsigned char* recBase = rec.Layer(240, 0);
    real.WalkAt(W / 2, W / 2, 0, nullptr, realBase);
    rec.WalkAt(W / 2, W / 2, 0, nullptr, recBase);

    WalkRecord walks(rec);
    const int calls[][2] = {{0, 5},   {90, 8},   {0, 5},   {45, 18},  {270, 3}, {90, 8},
                            {-30, 7}, {330, 7},  {137, 0}, {225, 12}, {45, 18}, {359, 9},
                            {-1, 9},  {400, 17}, {40, 17}, {181, 4},  {-270, 8}};
    for (const auto& c : calls) {
        SCOPED_TRACE(testing::Message() << "angle " << c[0] << ", length " << c[1]);
        SStep steps[24];
        real.m_wx = real.m_wy = real.m_walkOff = 0;
        const int n = real.Breweb(c[0], c[1], 0, steps);
        const SStep* got = walks.Walk(c[0], c[1], 0);
        for (int i = 0; i <= n; ++i) {
            ASSERT_EQ(got[i].off, steps[i].off) << i;
            ASSERT_EQ(got[i].x, steps[i].x) << i;
            ASSERT_EQ(got[i].y, steps[i].y) << i;
        }
    }
    rec.m_walk[0] += walks.Finish();
    EXPECT_EQ(rec.m_walk[0] - recBase, real.m_walk[0] - realBase);
    EXPECT_EQ(rec.m_wx, real.m_wx);
    EXPECT_EQ(rec.m_wy, real.m_wy);
    EXPECT_EQ(rec.m_walkOff, real.m_walkOff);
    EXPECT_EQ(rec.m_ldx, real.m_ldx);
    EXPECT_EQ(rec.m_ldy, real.m_ldy);
    EXPECT_EQ(rec.m_count, real.m_count);
    EXPECT_EQ(rec.m_err, real.m_err);
    EXPECT_EQ(rec.m_stepIndex, real.m_stepIndex);
    EXPECT_EQ(walks.Finish(), 0);
}

} // namespace
