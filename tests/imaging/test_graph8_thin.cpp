// Thinning of binary shapes to one-pixel skeletons that keep their connected components, the
// skeleton correction (joins and bridge cuts), the region check and the angle helpers.

#include "imaging/graph8_thin.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// 8-connected components of the pixels equal to `colour`.
int Components(const Bytes& img, unsigned w, unsigned h, unsigned char colour)
{
    std::vector<int> seen(img.size(), 0);
    int count = 0;
    std::vector<unsigned> stack;
    for (unsigned start = 0; start < img.size(); ++start) {
        if (img[start] != colour || seen[start] != 0) {
            continue;
        }
        ++count;
        stack.push_back(start);
        seen[start] = 1;
        while (!stack.empty()) {
            const unsigned p = stack.back();
            stack.pop_back();
            const int x = static_cast<int>(p % w);
            const int y = static_cast<int>(p / w);
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int u = x + dx;
                    const int v = y + dy;
                    if (u < 0 || v < 0 || u >= static_cast<int>(w) || v >= static_cast<int>(h)) {
                        continue;
                    }
                    const unsigned q = static_cast<unsigned>(v) * w + static_cast<unsigned>(u);
                    if (img[q] == colour && seen[q] == 0) {
                        seen[q] = 1;
                        stack.push_back(q);
                    }
                }
            }
        }
    }
    return count;
}

// A 2 x 2 square of ridge pixels: the skeleton is not one pixel wide there.
bool HasThickSpot(const Bytes& img, unsigned w, unsigned h)
{
    for (unsigned y = 0; y + 1 < h; ++y) {
        for (unsigned x = 0; x + 1 < w; ++x) {
            if (img[y * w + x] == 0 && img[y * w + x + 1] == 0 && img[(y + 1) * w + x] == 0 &&
                img[(y + 1) * w + x + 1] == 0) {
                return true;
            }
        }
    }
    return false;
}

struct Shape {
    std::string name;
    std::function<bool(int x, int y)> ridge;
};

void PrintTo(const Shape& s, std::ostream* os)
{
    *os << s.name;
}

class Thinning : public testing::TestWithParam<Shape> {};

TEST_P(Thinning, GivesOnePixelWideSkeletonsWithTheSameComponents)
{
    const unsigned w = 64;
    const unsigned h = 56;
    Bytes img(w * h, 1);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            if (GetParam().ridge(static_cast<int>(x), static_cast<int>(y))) {
                img[y * w + x] = 0;
            }
        }
    }
    const int before = Components(img, w, h, 0);
    ASSERT_GT(before, 0);
    Bytes mask((w >> 3) * (h >> 3), 0);
    ASSERT_EQ(Thinning8(img.data(), w, h, 3, mask.data()), 0);
    EXPECT_FALSE(HasThickSpot(img, w, h));
    EXPECT_EQ(Components(img, w, h, 0), before);
    for (unsigned char v : img) {
        ASSERT_TRUE(v == 0 || v == 1);
    }
}

const Shape kShapes[] = {
    {"Bar", [](int x, int y) { return x >= 8 && x < 50 && y >= 20 && y < 27; }},
    {"Block", [](int x, int y) { return x >= 10 && x < 40 && y >= 10 && y < 40; }},
    {"Cross",
     [](int x, int y) {
         return (x >= 28 && x < 35 && y >= 5 && y < 50) || (y >= 24 && y < 31 && x >= 5 && x < 58);
     }},
    {"Ring",
     [](int x, int y) {
         const int d = (x - 32) * (x - 32) + (y - 28) * (y - 28);
         return d >= 12 * 12 && d <= 20 * 20;
     }},
    {"TwoBlobs",
     [](int x, int y) {
         return (x >= 5 && x < 20 && y >= 5 && y < 14) ||
                ((x - 45) * (x - 45) + (y - 35) * (y - 35) < 90);
     }},
    {"ThickDiagonal",
     [](int x, int y) { return std::abs((x - 5) - (y - 3)) <= 3 && x > 4 && x < 55; }},
    {"Stripes",
     [](int x, int y) { return x > 2 && x < 61 && y > 2 && y < 53 && (y / 4) % 2 == 0; }},
};

INSTANTIATE_TEST_SUITE_P(Shapes, Thinning, testing::ValuesIn(kShapes),
                         [](const testing::TestParamInfo<Shape>& shape) {
                             return shape.param.name;
                         });

TEST(Thinning8, RegionOfInterestSmallAndDegenerateImages)
{
    // Outside the region everything turns to background; an isolated pixel is deleted, a
    // line end kept.
    const unsigned w = 16;
    const unsigned h = 16;
    Bytes img(w * h, 0);
    Bytes mask = {0, 1, 1, 1};
    ASSERT_EQ(Thinning8(img.data(), w, h, 3, mask.data()), 0);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            if (x >= 8 || y >= 8) {
                ASSERT_EQ(img[y * w + x], 1);
            }
        }
    }
    EXPECT_FALSE(HasThickSpot(img, w, h));

    Bytes dot(9 * 9, 1);
    dot[4 * 9 + 4] = 0;
    Bytes all(1, 0);
    ASSERT_EQ(Thinning8(dot.data(), 9, 9, 0, Bytes(81, 0).data()), 0);
    EXPECT_EQ(dot[4 * 9 + 4], 1);
    Bytes line(9 * 9, 1);
    for (unsigned x = 2; x < 7; ++x) {
        line[4 * 9 + x] = 0;
    }
    ASSERT_EQ(Thinning8(line.data(), 9, 9, 0, Bytes(81, 0).data()), 0);
    EXPECT_EQ(line[4 * 9 + 2], 0);
    EXPECT_EQ(line[4 * 9 + 6], 0);

    for (unsigned char grey : {0, 1}) {
        Bytes flat(3 * 3, grey);
        EXPECT_EQ(Thinning8(flat.data(), 3, 3, 0, Bytes(9, 0).data()), 0);
    }
    EXPECT_EQ(Thinning8(all.data(), 1, 1, 0, all.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(Thinning8(line.data(), 9, 1, 0, Bytes(9, 0).data()), IMG_BAD_GEOMETRY);
}

void HLine(Bytes& img, unsigned w, int x1, int x2, int y)
{
    for (int x = x1; x <= x2; ++x) {
        img[y * w + x] = 0;
    }
}

TEST(SkelCorrection8, JoinsFacingEndsAndLeavesNoMarks)
{
    const unsigned w = 48;
    const unsigned h = 32;
    Bytes img(w * h, 1);
    HLine(img, w, 4, 18, 16);
    HLine(img, w, 24, 42, 16); // a gap of five pixels on the same line
    Bytes dir((w >> 3) * (h >> 3), 0);
    ASSERT_EQ(SkelCorrection8(img.data(), w, h, 3, dir.data()), 0);
    EXPECT_EQ(Components(img, w, h, 0), 1);
    for (int x = 4; x <= 42; ++x) {
        EXPECT_EQ(img[16 * w + x], 0) << x;
    }
    for (unsigned char v : img) {
        ASSERT_TRUE(v == 0 || v == 1);
    }
    // Across the ridge direction the ends are not joined.
    Bytes cross(w * h, 1);
    HLine(cross, w, 4, 18, 16);
    HLine(cross, w, 24, 42, 16);
    Bytes vertical((w >> 3) * (h >> 3), 90);
    ASSERT_EQ(SkelCorrection8(cross.data(), w, h, 3, vertical.data()), 0);
    EXPECT_EQ(Components(cross, w, h, 0), 2);
}

// At a T junction the pixel below the junction has four skeleton neighbours (mark 40), which
// stops the arm walks: such a bridge is kept, and the ridges stay whole.
TEST(SkelCorrection8, KeepsRidgesWholeAroundABridge)
{
    const unsigned w = 48;
    const unsigned h = 32;
    Bytes img(w * h, 1);
    HLine(img, w, 4, 42, 10);
    HLine(img, w, 4, 42, 18);
    for (int y = 11; y < 18; ++y) {
        img[y * w + 22] = 0; // the bridge
    }
    ASSERT_EQ(Components(img, w, h, 0), 1);
    Bytes dir((w >> 3) * (h >> 3), 0);
    ASSERT_EQ(SkelCorrection8(img.data(), w, h, 3, dir.data()), 0);
    EXPECT_EQ(Components(img, w, h, 0), 1);
    for (int x = 4; x <= 42; ++x) {
        EXPECT_EQ(img[10 * w + x], 0) << x;
        EXPECT_EQ(img[18 * w + x], 0) << x;
    }
    for (unsigned char v : img) {
        ASSERT_TRUE(v == 0 || v == 1);
    }
}

TEST(SkelCorrection8, DegenerateImages)
{
    for (unsigned char grey : {0, 1}) {
        SCOPED_TRACE(int(grey));
        Bytes img(20 * 20, grey);
        Bytes dir(4, 0);
        ASSERT_EQ(SkelCorrection8(img.data(), 20, 20, 3, dir.data()), 0);
        for (unsigned char v : img) {
            ASSERT_TRUE(v == 0 || v == 1);
        }
    }
    Bytes one(1, 0);
    EXPECT_EQ(SkelCorrection8(one.data(), 1, 1, 0, one.data()), IMG_BAD_GEOMETRY);
}

TEST(CheckSklROI8, BlocksWithoutRidgesLeaveTheRegion)
{
    const unsigned w = 160;
    const unsigned h = 160;
    Bytes skl(w * h, 1);
    // Horizontal skeleton lines every 6 rows on the left half only.
    for (unsigned y = 3; y < h; y += 6) {
        HLine(skl, w, 0, 79, static_cast<int>(y));
    }
    const unsigned bw = w >> 3;
    Bytes mask(bw * bw, 0);
    Bytes dir(bw * bw, 0); // horizontal ridges: samples run down the columns
    ASSERT_EQ(CheckSklROI8(skl.data(), w, h, 3, mask.data(), dir.data(), nullptr), 0);
    EXPECT_EQ(mask[10 * bw + 4], 0);
    EXPECT_EQ(mask[10 * bw + 15], 1);
    EXPECT_EQ(CheckSklROI8(skl.data(), w, h, 5, mask.data(), dir.data(), nullptr),
              IMG_BAD_GEOMETRY);
    Bytes one(1, 0);
    EXPECT_EQ(CheckSklROI8(one.data(), 1, 1, 1, one.data(), one.data(), nullptr), 0);
}

TEST(AngleHelpers, KnownValues)
{
    EXPECT_EQ(GetAngleDelta(10, 170), 20);
    EXPECT_EQ(GetAngleDelta(0, 90), 90);
    EXPECT_EQ(GetAngleDelta(0, 91), 89);
    EXPECT_EQ(GetAngle(0, 0, 10, 0), 180);
    EXPECT_EQ(GetAngle(10, 0, 0, 0), 0);
    EXPECT_EQ(GetAngle(0, 0, 0, 10), 90);
    EXPECT_EQ(GetAngle(0, 10, 0, 0), 90); // -90 folded
    EXPECT_EQ(GetMaxAngleDelta(0, 30, 170), 30);
    EXPECT_EQ(GetDistanceSqr(1, 2, 4, 6), 25);
    EXPECT_GT(PointNearLine(0, 0, 10, 0, 5, 5), 0);
    EXPECT_LT(PointNearLine(0, 0, 10, 0, 5, -5), 0);
    EXPECT_EQ(PointNearLine(0, 0, 10, 0, 5, 0), 0);
    std::vector<int> t(180 * 4);
    BinGetRDxy8(t.data(), 50, 2);
    EXPECT_EQ((std::vector<int>(t.begin(), t.begin() + 4)), (std::vector<int>{-100, -50, 50, 100}));
}

} // namespace

namespace {

// Two horizontal ridges with a step each and a steep bridge between their branch points: the
// bridge turns more than 49 degrees from both ridge directions, so pass 0 cuts it and rejoins
// each ridge across its branch point.
TEST(SkelCorrection8, CutsASteepBridgeBetweenTwoBranchPoints)
{
    const unsigned w = 48;
    const unsigned h = 32;
    Bytes img(w * h, 1);
    HLine(img, w, 4, 22, 10); // top ridge, branch point at (22, 10)
    HLine(img, w, 23, 42, 9);
    HLine(img, w, 4, 28, 23); // bottom ridge, branch point at (29, 22)
    img[22 * w + 29] = 0;
    HLine(img, w, 30, 42, 22);
    for (int k = 1; k <= 5; ++k) {
        img[(10 + k) * w + 22 + k] = 0; // diagonal part of the bridge
    }
    for (int y = 16; y <= 21; ++y) {
        img[y * w + 28] = 0; // vertical part
    }
    ASSERT_EQ(Components(img, w, h, 0), 1);
    Bytes dir((w >> 3) * (h >> 3), 0);
    ASSERT_EQ(SkelCorrection8(img.data(), w, h, 3, dir.data()), 0);
    EXPECT_EQ(Components(img, w, h, 0), 2);
    EXPECT_EQ(img[18 * w + 28], 1);
    EXPECT_EQ(img[10 * w + 4], 0);
    EXPECT_EQ(img[9 * w + 42], 0);
    for (unsigned char v : img) {
        ASSERT_TRUE(v == 0 || v == 1);
    }
}

} // namespace
