// Common segmentation stages on small masks: notch points and the cut between two objects
// joined by a neck (the vertical cut, whose two points share a column).

#include "segmentation/FPS.h"

#include "imaging/graph8_bin.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// The common stages alone, on a mask set by the test.
class MaskStages : public CFps {
public:
    int Preprocessing() override { return 0; }
    int Recognition(SGM_FINGER*, unsigned) override { return 0; }
};

constexpr int kW = 60;
constexpr int kH = 60;

// Two upright bars (columns 8..27 and 32..51, rows 5..54) joined by a bridge over rows 25..34;
// background 1 with a frame.
std::vector<unsigned char> TwoBarsWithBridge()
{
    std::vector<unsigned char> m(kW * kH, 1);
    for (int y = 5; y <= 54; ++y) {
        for (int x = 8; x <= 51; ++x) {
            const bool bar = x <= 27 || x >= 32;
            const bool bridge = y >= 25 && y <= 34;
            if (bar || bridge) {
                m[y * kW + x] = 0;
            }
        }
    }
    return m;
}

TEST(CFps, FindPointsFindsTheTipsOfTheNotchesAboveAndBelowTheBridge)
{
    auto s = std::make_unique<MaskStages>();
    const std::vector<unsigned char> mask = TwoBarsWithBridge();
    ASSERT_EQ(s->CopyImg(mask.data(), kW, kH), 1);
    s->FindPoints();
    bool above = false;
    bool below = false;
    for (int i = 0; i < s->m_pointCount; ++i) {
        const CFps::SegPoint& p = s->m_points[i];
        above = above || (p.x == 29 && p.y == 25 && p.side == 1);
        below = below || (p.x == 29 && p.y == 34 && p.side == -1);
    }
    EXPECT_TRUE(above);
    EXPECT_TRUE(below);
}

TEST(CFps, ClearLinesCutsTheBridgeAlongTheSharedColumn)
{
    auto s = std::make_unique<MaskStages>();
    std::vector<unsigned char> mask = TwoBarsWithBridge();
    ASSERT_EQ(s->CopyImg(mask.data(), kW, kH), 1);
    // The region as the region search sees it: labelled and boxed in the current slot.
    unsigned char* seed = s->m_work + 5 * kW + 8;
    Fill8(s->m_work, kW, kH, seed, 10);
    ASSERT_EQ(s->m_cand[0].initV(s->m_work, kW, kH, seed, 10), 0);
    s->FindPoints();
    EXPECT_EQ(s->ClearLines(80), 1);
    // The bridge is cut along column 29 and the bars away from the cut are untouched.
    for (int y = 25; y <= 34; ++y) {
        EXPECT_EQ(s->m_work[y * kW + 29], 1) << "row " << y;
    }
    EXPECT_EQ(s->m_work[29 * kW + 12], 10);
    EXPECT_EQ(s->m_work[29 * kW + 47], 10);
    // The two points are used: a second call draws nothing more.
    EXPECT_EQ(s->ClearLines(80), 0);
    // The bars are now two regions.
    ChangeColor8(s->m_work, kW, kH, 10, 0);
    Fill8(s->m_work, kW, kH, seed, 20);
    EXPECT_EQ(s->m_work[29 * kW + 47], 0);
}

TEST(CFps, RegionSearchSplitsTheJoinedBarsIntoTwoCandidates)
{
    for (const bool rotated : {false, true}) {
        SCOPED_TRACE(rotated);
        auto s = std::make_unique<MaskStages>();
        const std::vector<unsigned char> mask = TwoBarsWithBridge();
        ASSERT_EQ(s->CopyImg(mask.data(), kW, kH), 1);
        s->m_rotated = rotated;
        // Half-width limits below the joined region's (22) and above a bar's (10 or 11).
        s->FindRects(15, 15);
        ASSERT_EQ(s->m_candCount, 2);
        EXPECT_NEAR(s->m_cand[0].m_cx, 17, 3);
        EXPECT_NEAR(s->m_cand[1].m_cx, 42, 3);
    }
}

} // namespace
