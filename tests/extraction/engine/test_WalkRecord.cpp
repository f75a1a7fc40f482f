// Recorded line walks: each recorded walk has the steps of the real walk, and after Finish the
// walk cursor, walk position and line state are those the real walks leave, also when the last
// walk was served from the record.

#include "extraction/engine/WalkRecord.h"
#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace wizard73;

// Two engines on one flat 160 x 160 image, their walkers in the middle of a layer so that the
// walk cursor's moves stay inside: `real` makes the walks, `rec` keeps them in a WalkRecord.
class WalkPair : public ::testing::Test {
protected:
    static constexpr int W = 160;

    void SetUp() override
    {
        ASSERT_EQ(realLoad.code, 0);
        ASSERT_EQ(recLoad.code, 0);
        real.WalkAt(W / 2, W / 2, 0, nullptr, realBase);
        rec.WalkAt(W / 2, W / 2, 0, nullptr, recBase);
    }

    // The walk cursor, position and line state are alike in both engines.
    void ExpectSameWalkState()
    {
        EXPECT_EQ(rec.m_walk[0] - recBase, real.m_walk[0] - realBase);
        EXPECT_EQ(rec.m_wx, real.m_wx);
        EXPECT_EQ(rec.m_wy, real.m_wy);
        EXPECT_EQ(rec.m_walkOff, real.m_walkOff);
        EXPECT_EQ(rec.m_ldx, real.m_ldx);
        EXPECT_EQ(rec.m_ldy, real.m_ldy);
        EXPECT_EQ(rec.m_count, real.m_count);
        EXPECT_EQ(rec.m_err, real.m_err);
        EXPECT_EQ(rec.m_stepIndex, real.m_stepIndex);
    }

    const std::vector<unsigned char> img = std::vector<unsigned char>(W * W, 128);
    zftest::Loaded realLoad = zftest::LoadInto(img, W, W, 'A');
    zftest::Loaded recLoad = zftest::LoadInto(img, W, W, 'A');
    Codex& real = *realLoad.engine;
    Codex& rec = *recLoad.engine;
    unsigned char* realBase = real.Layer(240, 0);
    unsigned char* recBase = rec.Layer(240, 0);
};

TEST_F(WalkPair, ReusedWalksMatchRealWalksAndLeaveTheirState)
{

    // Both forms of walk on two levels, mixed as a stage mixes them: a set held by the stage,
    // or named on every walk. The last walk is of the offsets-only form, which leaves no walk
    // position.
    WalkRecord walks(rec);
    WalkRecord::Set& offsets = walks.For(8, 0, WalkRecord::Form::Offsets);
    const struct {
        int angle, length, level;
        bool positions;
    } calls[] = {{0, 5, 0, true},     {90, 8, 0, true},  {0, 5, 0, true},    {45, 18, 0, true},
                 {270, 3, 0, true},   {90, 8, 0, false}, {90, 8, 0, true},   {-30, 7, 0, true},
                 {330, 7, 0, true},   {137, 0, 0, true}, {225, 12, 0, true}, {45, 18, 0, true},
                 {359, 9, 0, true},   {-1, 9, 0, true},  {400, 17, 0, true}, {40, 17, 0, true},
                 {100, 10, 1, true},  {40, 17, 1, true}, {100, 10, 1, true}, {181, 4, 0, true},
                 {-270, 8, 0, false}, {90, 8, 0, false}, {-270, 8, 0, true}, {181, 8, 0, false},
                 {-179, 8, 0, false}};
    for (const auto& c : calls) {
        SCOPED_TRACE(testing::Message()
                     << "angle " << c.angle << ", length " << c.length << ", level " << c.level
                     << (c.positions ? ", positions" : ", offsets"));
        SStep steps[24];
        real.m_wx = real.m_wy = real.m_walkOff = 0;
        const int n = c.positions ? real.Breweb(c.angle, c.length, c.level, steps)
                                  : real.Breweb_Furiew(c.angle, c.length, c.level, steps);
        const SStep* got =
            c.positions ? walks.Walk(c.angle, c.length, c.level) : walks.Walk(offsets, c.angle);
        for (int i = 0; i <= n; ++i) {
            ASSERT_EQ(got[i].off, steps[i].off) << i;
            if (c.positions) {
                ASSERT_EQ(got[i].x, steps[i].x) << i;
                ASSERT_EQ(got[i].y, steps[i].y) << i;
            }
        }
    }
    walks.Finish();
    ExpectSameWalkState();
    // A second Finish has no walks left to account for.
    walks.Finish();
    EXPECT_EQ(rec.m_walk[0] - recBase, real.m_walk[0] - realBase);
}

} // namespace

// Walks accounted for in bulk (steps asked for in any order, counted per direction, the last one
// named) leave the walk cursor, position and line state of the same walks made one by one, also
// mixed with walks made as they come and with directions counted that were never asked for.
TEST_F(WalkPair, CountedWalksLeaveTheStateOfTheRealWalks)
{

    // In walk order: (angle, positions form); the record takes the first two as they come and
    // counts the rest.
    const struct {
        int angle;
        bool positions;
    } calls[] = {{30, false}, {200, true}, {100, true}, {100, false}, {-80, true},
                 {280, true}, {100, true}, {7, false},  {367, false}, {45, true}};
    for (const auto& c : calls) {
        real.m_wx = real.m_wy = real.m_walkOff = 0;
        if (c.positions) {
            real.Breweb(c.angle, 17, 1, nullptr);
        } else {
            real.Breweb_Furiew(c.angle, 8, 0, nullptr);
        }
    }

    WalkRecord walks(rec);
    WalkRecord::Set& offsets = walks.For(8, 0, WalkRecord::Form::Offsets);
    WalkRecord::Set& positions = walks.For(17, 1);
    walks.Walk(offsets, 30);
    walks.Walk(positions, 200);
    // Steps asked for before they are counted (280 and -80: one direction), and those of a walk
    // made above.
    const SStep* ahead = walks.Steps(positions, 280);
    EXPECT_EQ(walks.Steps(positions, -80), ahead);
    walks.Steps(offsets, 30);
    walks.Count(positions, 100, 2);
    walks.Count(offsets, 7, 2); // 7 and 367: one direction
    walks.Count(positions, -80, 2);
    walks.Count(offsets, 100, 1);
    walks.Count(positions, 45, 1);
    walks.Last(positions, 45);
    walks.Finish();
    ExpectSameWalkState();
}
