// Oriented finger rectangle: axis set-up, region boxes, least-squares axis, turning to the
// contour, corner output with alignment.

#include "segmentation/graph8_spot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

const double kPi = std::acos(-1.0);

// w x h mask of 1 with the pixels of colour where inside(x, y) holds.
template <typename Inside>
std::vector<unsigned char> Region(int w, int h, unsigned char colour, Inside inside)
{
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h, 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (inside(x, y)) {
                img[static_cast<std::size_t>(y) * w + x] = colour;
            }
        }
    }
    return img;
}

// First pixel of colour in raster order.
const unsigned char* Seed(const std::vector<unsigned char>& img, unsigned char colour)
{
    for (const unsigned char& p : img) {
        if (p == colour) {
            return &p;
        }
    }
    return nullptr;
}

TEST(CSpot, RoundDoubleTakesHalvesAwayFromZero)
{
    const struct {
        double v;
        int r;
    } cases[] = {{0.5, 1}, {0.49, 0}, {-0.5, -1}, {-0.49, 0}, {2.5, 3}, {-2.5, -3}, {0.0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v);
        EXPECT_EQ(roundDouble(c.v), c.r);
    }
}

TEST(CSpot, InitOrdersTheEndsByRow)
{
    auto s = std::make_unique<CSpot>(5, 20, 9, 10, 3);
    EXPECT_EQ(s->m_x1, 9);
    EXPECT_EQ(s->m_y1, 10);
    EXPECT_EQ(s->m_x2, 5);
    EXPECT_EQ(s->m_y2, 20);
    EXPECT_EQ(s->m_dx, -4);
    EXPECT_EQ(s->m_dy, 10);
    EXPECT_EQ(s->m_cx, 7);
    EXPECT_EQ(s->m_cy, 15);
    // Leaning left going down: negative angle; the line passes through both ends.
    EXPECT_LT(s->m_angle, 0.0);
    EXPECT_NEAR(s->m_A * 9 + s->m_B * 10 + s->m_C, 0.0, 1e-9);
    EXPECT_NEAR(s->m_A * 5 + s->m_B * 20 + s->m_C, 0.0, 1e-9);
    EXPECT_EQ(s->m_length, static_cast<int>(std::sqrt(9.0 + 121.0) + 0.5));
    EXPECT_EQ(s->m_area, 2 * 3 * s->m_length);
}

TEST(CSpot, InitWithEqualEndsHasNoLine)
{
    auto s = std::make_unique<CSpot>(4, 4, 4, 4, 2);
    EXPECT_EQ(s->m_A, 0.0);
    EXPECT_EQ(s->m_B, 0.0);
    EXPECT_EQ(s->m_C, 0.0);
    EXPECT_EQ(s->m_length, 1);
    EXPECT_NEAR(s->m_angle, 0.0, 1e-12);
}

TEST(CSpot, UprightAxisGivesItsCentreForEveryRow)
{
    auto s = std::make_unique<CSpot>(12, 3, 12, 40, 5);
    for (int y = -10; y <= 60; y += 7) {
        EXPECT_EQ(s->getX(y), 12);
    }
    EXPECT_EQ(s->isPointInRect(17, 20, 0), 1);
    EXPECT_EQ(s->isPointInRect(18, 20, 0), 0);
    EXPECT_EQ(s->isPointInRect(12, 3, 1), 0);
}

TEST(CSpot, InitVBoxesTheRegionAndStopsAfter1024Rows)
{
    // A bar 5 pixels wide, 1500 rows tall, from row 2.
    const int w = 12;
    const int h = 1510;
    const auto img = Region(w, h, 20, [](int x, int y) { return x >= 3 && x <= 7 && y >= 2; });
    auto s = std::make_unique<CSpot>();
    ASSERT_EQ(s->initV(img.data(), w, h, Seed(img, 20), 20), 0);
    EXPECT_EQ(s->m_y1, 2);
    EXPECT_EQ(s->m_y2, 2 + 1024);
    EXPECT_EQ(s->m_length, 1025);
    EXPECT_EQ(s->m_cx, 5);
    EXPECT_EQ(s->m_hw, 3);
    EXPECT_EQ(s->m_area, 5 * 1024);
    EXPECT_EQ(s->m_pointCount, 2048);
    // A seed on a row without the colour.
    EXPECT_EQ(s->initV(img.data(), w, h, img.data(), 20), 1);
}

TEST(CSpot, InitRFollowsATiltedBarAndSetAngleAutoFindsItsAngle)
{
    // A bar 9 pixels wide whose middle moves one column right every 4 rows.
    const int w = 120;
    const int h = 200;
    const auto img = Region(w, h, 30, [](int x, int y) {
        const int mid = 30 + y / 4;
        return y >= 10 && y < 170 && std::abs(x - mid) <= 4;
    });
    auto s = std::make_unique<CSpot>();
    ASSERT_EQ(s->initR(img.data(), w, h, Seed(img, 30), 30), 0);
    EXPECT_EQ(s->m_y1, 10);
    EXPECT_EQ(s->m_y2, 170);
    EXPECT_NEAR(s->m_x1, 30 + 10 / 4, 1);
    EXPECT_NEAR(s->m_x2, 30 + 170 / 4, 1);
    EXPECT_EQ(s->m_hw, 5);
    const double lean = std::atan(0.25);
    EXPECT_NEAR(s->m_angle, lean, 0.01);

    // Turned upright first, the search steps towards the lean in 10-degree steps.
    s->m_angle = 0.0;
    s->setAngleAuto(false);
    EXPECT_NEAR(s->m_angle, 10.0 * kPi / 180.0, 1e-9);
    // The narrow search covers +-30 degrees round the negated angle, in 1-degree steps.
    s->m_angle = 0.0;
    s->setAngleAuto(true);
    EXPECT_NEAR(s->m_angle, std::round(lean * 180.0 / kPi) * kPi / 180.0, 1.5 * kPi / 180.0);
    EXPECT_LT(s->m_hw, 8);
}

TEST(CSpot, SetAngleZeroRefitsAnUprightBoxToItsContour)
{
    const int w = 60;
    const int h = 80;
    const auto img =
        Region(w, h, 40, [](int x, int y) { return x >= 10 && x <= 30 && y >= 5 && y <= 60; });
    auto s = std::make_unique<CSpot>();
    ASSERT_EQ(s->initV(img.data(), w, h, Seed(img, 40), 40), 0);
    s->setAngle(0.0, 0);
    EXPECT_EQ(s->m_y1, 5);
    EXPECT_EQ(s->m_y2, 60);
    EXPECT_EQ(s->m_x1, 20);
    EXPECT_EQ(s->m_x2, 20);
    EXPECT_EQ(s->m_hw, 11);
    // With a level limit only the contour above it counts: the lower end moves up.
    // (centre row 33 + 10).
    s->setAngle(0.0, 10);
    EXPECT_EQ(s->m_y1, 5);
    EXPECT_EQ(s->m_y2, 43);
}

TEST(CSpot, GetRectVAlignsSidesByGrowingBothEnds)
{
    // left = 3 - 3 = 0, right = 6 + 3 = 9: 10 wide; align 4 adds 1 right and 1 left.
    auto s = std::make_unique<CSpot>(3, 0, 6, 20, 3);
    SgmRect r{};
    s->getRectV(&r, 0, 4);
    EXPECT_EQ(r.x1, -1);
    EXPECT_EQ(r.x2, 10);
    EXPECT_EQ(r.x2 - r.x1 + 1, 12);
    EXPECT_EQ((r.y3 - r.y1 + 1) % 4, 0);
    EXPECT_EQ(r.x3, r.x1);
    EXPECT_EQ(r.y2, r.y1);
    // Without alignment, with a scale shift of 2.
    s->getRectV(&r, 2, 1);
    EXPECT_EQ(r.x1, 0);
    EXPECT_EQ(r.x4, 36);
    EXPECT_EQ(r.y1, 0);
    EXPECT_EQ(r.y4, 80);
}

TEST(CSpot, GetRectRMatchesGetRectVForAnUprightAxis)
{
    auto s = std::make_unique<CSpot>(20, 10, 20, 50, 6);
    SgmRect v{};
    SgmRect r{};
    s->getRectV(&v, 1, 1);
    s->getRectR(&r, 1, 1);
    EXPECT_EQ(r.x1, v.x1);
    EXPECT_EQ(r.y1, v.y1);
    EXPECT_EQ(r.x2, v.x2);
    EXPECT_EQ(r.y2, v.y2);
    EXPECT_EQ(r.x3, v.x3);
    EXPECT_EQ(r.y3, v.y3);
    EXPECT_EQ(r.x4, v.x4);
    EXPECT_EQ(r.y4, v.y4);
    EXPECT_EQ(s->getScaledHeight(1),
              static_cast<unsigned>(2.0 * std::sqrt(1.0 + 41.0 * 41.0) + 0.5));
    EXPECT_EQ(s->getScaledWidth(1), 12u);
}

TEST(CSpot, RotateAndMoveKeepTheHalfWidth)
{
    auto s = std::make_unique<CSpot>(10, 0, 10, 30, 4);
    s->move(5, -3);
    EXPECT_EQ(s->m_x1, 15);
    EXPECT_EQ(s->m_y1, -3);
    // A quarter turn (c = 0, s = 1) sends (x, y) to (-y, x): the axis becomes horizontal.
    s->rotate(0.0, 1.0);
    EXPECT_EQ(s->m_hw, 4);
    EXPECT_EQ(s->m_y1, 15);
    EXPECT_EQ(s->m_y2, 15);
}

} // namespace
