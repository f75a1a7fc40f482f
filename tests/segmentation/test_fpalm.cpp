// Hand model: line types, the image analysis on its fixed raster (refusals, bounds, the line
// list's capacity, the top-down background fill, side bands) and the hand found in synthetic
// right and left hands.

#include "segmentation/fpalm_hand.h"

#include "tests/segmentation/hand_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <vector>

namespace {

using handtest::Bar;
using handtest::HAND_SIDE;

// Lines and bands.

struct LineCase {
    const char* name;
    double in[4]; // x1, y1, x2, y2 as given to init
    double first[2];
    double second[2];
    double a, b, c;
    double xAt7; // getX(7)
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << c.name;
}

const LineCase kLineCases[] = {
    {"lower_point_given_first",
     {10, 50, 30, 20},
     {30, 20},
     {10, 50},
     30 / std::sqrt(1300.0),
     20 / std::sqrt(1300.0),
     (10 * 20 - 30 * 50) / std::sqrt(1300.0),
     30 + 13 * 20 / 30.0},
    {"vertical", {5, 0, 5, 10}, {5, 0}, {5, 10}, 1, 0, -5, 5},
    {"horizontal_takes_second_point_first", {2, 4, 8, 4}, {8, 4}, {2, 4}, 0, 1, -4, 5},
};

class LineInit : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineInit, OrdersTheEndsAndNormalisesTheEquation)
{
    const LineCase& c = GetParam();
    const CLine line(c.in[0], c.in[1], c.in[2], c.in[3], 5);
    EXPECT_DOUBLE_EQ(line.x1, c.first[0]);
    EXPECT_DOUBLE_EQ(line.y1, c.first[1]);
    EXPECT_DOUBLE_EQ(line.x2, c.second[0]);
    EXPECT_DOUBLE_EQ(line.y2, c.second[1]);
    EXPECT_DOUBLE_EQ(line.dx, c.second[0] - c.first[0]);
    EXPECT_DOUBLE_EQ(line.dy, c.second[1] - c.first[1]);
    EXPECT_NEAR(line.a, c.a, 1e-12);
    EXPECT_NEAR(line.b, c.b, 1e-12);
    EXPECT_NEAR(line.c, c.c, 1e-12);
    EXPECT_NEAR(line.getX(7), c.xAt7, 1e-9);
    EXPECT_DOUBLE_EQ(line.width, 5);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineInit, ::testing::ValuesIn(kLineCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Lines, DefaultIsTheLineXEqualsZeroAndAPointLineStaysFinite)
{
    const CLine line;
    EXPECT_EQ(line.a, 1.0);
    EXPECT_EQ(line.getX(12), 0.0);
    const CLine point(4, 9, 4, 9, 1);
    EXPECT_EQ(point.length, 0.0);
    EXPECT_EQ(point.getX(100), 4.0);
}

TEST(Lines, BandOfAVerticalLine)
{
    const CLine line(5, 0, 5, 10, 3);
    CRect4 band;
    band.init(&line);
    const double corners[8] = {2, 0, 8, 0, 2, 10, 8, 10};
    for (int i = 0; i < 8; ++i) {
        EXPECT_DOUBLE_EQ(band.p[i], corners[i]) << i;
    }
    EXPECT_DOUBLE_EQ(band.centreX, 5);
    EXPECT_DOUBLE_EQ(band.centreY, 5);
    EXPECT_DOUBLE_EQ(band.x1(), 5);
    EXPECT_DOUBLE_EQ(band.y2(), 10);
    EXPECT_DOUBLE_EQ(band.width(), 3);
}

TEST(Lines, ShorterFingerLineKeepsTheProfileOnItInOrder)
{
    auto line = std::make_unique<CDevLine>();
    for (double y : {0.0, 10.0, 20.0, 30.0, 40.0}) {
        ASSERT_TRUE(line->addPoint(1, y));
    }
    line->init(0, 10, 0, 30, 2);
    ASSERT_EQ(line->count, 3);
    EXPECT_EQ(line->points[0].y, 10);
    EXPECT_EQ(line->points[1].y, 20);
    EXPECT_EQ(line->points[2].y, 30);
}

TEST(Lines, ProfileStopsAtItsCapacity)
{
    auto line = std::make_unique<CDevLine>();
    for (int i = 0; i < CDevLine::MAX_POINTS; ++i) {
        ASSERT_TRUE(line->addPoint(0, i));
    }
    EXPECT_FALSE(line->addPoint(0, 0));
    EXPECT_EQ(line->count, CDevLine::MAX_POINTS);
}

TEST(HandTables, RelativeLengthsHaveMeanOneAndMirrorEachOther)
{
    double sl = 0;
    for (int i = 0; i < 4; ++i) {
        sl += lpl[i];
        EXPECT_DOUBLE_EQ(lpl[i], rpl[3 - i]) << i;
    }
    EXPECT_NEAR(sl / 4, 1.0, 1e-15);
    EXPECT_NEAR((pfl[0] + pfl[1] + pfl[2]) / 3, 1.0, 1e-15);
    EXPECT_NEAR(lpl[2] / lpl[0], 1.3 / 0.9, 1e-15);
    EXPECT_NEAR(pfl[2] / pfl[1], 2.4 / 1.9, 1e-15);
}

// Image analysis.

struct RefusalCase {
    const char* name;
    bool nullImage;
    int width;
    int height;
    int expected;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name << " -> " << c.expected;
}

const RefusalCase kRefusals[] = {
    {"null_image", true, 1000, 250, HAND_NO_IMAGE},
    {"narrower_than_the_raster", false, 999, 250, HAND_TOO_NARROW},
    {"lower_than_the_raster", false, 1000, 249, HAND_TOO_LOW},
    {"empty_region", false, 0, 0, HAND_TOO_NARROW},
};

class ImageRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImageRefusal, RegionBelowTheWorkingRasterIsRefusedUntouched)
{
    const RefusalCase& c = GetParam();
    auto analysis = std::make_unique<CImage>();
    auto lines = std::make_unique<CDevLine[]>(CImage::MAX_LINES);
    std::vector<unsigned char> img(1000 * 250, 128);
    int x0 = 0;
    int y0 = 0;
    int x1 = c.width;
    int y1 = c.height;
    int count = 7;
    int upper = 33;
    EXPECT_EQ(analysis->getDirectLines(c.nullImage ? nullptr : img.data(), x0, y0, x1, y1,
                                       lines.get(), count, upper, 0),
              c.expected);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(upper, 33);
    EXPECT_EQ(x1, c.width);
    EXPECT_EQ(y1, c.height);
}

INSTANTIATE_TEST_SUITE_P(Hand, ImageRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(HandImage, BlankRasterHasNoHandNoGuideAndTheUpperLineAboveTheBottom)
{
    auto analysis = std::make_unique<CImage>();
    auto lines = std::make_unique<CDevLine[]>(CImage::MAX_LINES);
    std::vector<unsigned char> img(1000 * 250, 255);
    int x0 = 0;
    int y0 = 0;
    int x1 = 1000;
    int y1 = 250;
    int count = 0;
    int upper = 0;
    ASSERT_EQ(analysis->getDirectLines(img.data(), x0, y0, x1, y1, lines.get(), count, upper, 0),
              HAND_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(analysis->fingerGuideCount(), 0);
    // At scale 1 the bounds are the working ones: no hand at all.
    EXPECT_EQ(x0, 998);
    EXPECT_EQ(x1, 997);
    EXPECT_EQ(y0, 248);
    EXPECT_EQ(y1, 247);
    EXPECT_EQ(upper, 247 - 7);
}

TEST(HandImage, HandBoundsScaleToTheCallersPixels)
{
    // A dark block in a 2000 x 500 image: the bounds come back in its pixels.
    std::vector<unsigned char> img(2000 * 500, 250);
    for (int y = 200; y < 450; ++y) {
        for (int x = 600; x < 1400; ++x) {
            img[static_cast<std::size_t>(y) * 2000 + x] = 60;
        }
    }
    auto analysis = std::make_unique<CImage>();
    auto lines = std::make_unique<CDevLine[]>(CImage::MAX_LINES);
    int x0 = 0;
    int y0 = 0;
    int x1 = 2000;
    int y1 = 500;
    int count = 0;
    int upper = 0;
    ASSERT_EQ(analysis->getDirectLines(img.data(), x0, y0, x1, y1, lines.get(), count, upper, 0),
              HAND_OK);
    EXPECT_NEAR(x0, 600, 12);
    EXPECT_NEAR(x1, 1400, 12);
    EXPECT_NEAR(y0, 200, 12);
    EXPECT_NEAR(y1, 450, 12);
}

TEST(HandImage, DarkSideBandIsLiftedAndAPlainImageIsLeftAlone)
{
    auto analysis = std::make_unique<CImage>();
    analysis->setRegionSize(1000, 250);
    std::vector<unsigned char> img(1000 * 250, 200);
    analysis->loadFromBitmap(img.data());
    analysis->crop();
    for (int x : {0, 60, 124, 875, 999}) {
        EXPECT_EQ(analysis->grey(x, 10), 200) << x;
    }
    // A dark band in columns 10..29: fill level 255 - (255 - m1) / 2 with m1 the upper mean.
    for (int y = 0; y < 250; ++y) {
        for (int x = 10; x < 30; ++x) {
            img[static_cast<std::size_t>(y) * 1000 + x] = 20;
        }
    }
    analysis->loadFromBitmap(img.data());
    analysis->crop();
    const double m1 = (20.0 * 20 + 200.0 * 980) / 1000;
    const int fill = static_cast<int>(255 - (255 - m1) * 0.5);
    EXPECT_EQ(analysis->grey(10, 100), fill);
    EXPECT_EQ(analysis->grey(29, 0), fill);
    EXPECT_EQ(analysis->grey(30, 0), 200);
    EXPECT_EQ(analysis->grey(9, 0), 200);
}

TEST(HandImage, TopDownFillKeepsEveryReachableRunOfAManyRunRow)
{
    // Hand in every even column: 498 background runs per row, all open to the top. A fill
    // that loses queued runs turns some of them into hand.
    auto analysis = std::make_unique<CImage>();
    for (int y = 0; y < CImage::H; ++y) {
        for (int x = 0; x < CImage::W; ++x) {
            analysis->setMask(x, y, x % 2 == 0 ? 0 : 1);
        }
    }
    analysis->fillWhiteRegions();
    int lost = 0;
    for (int y = 2; y < CImage::H - 2; ++y) {
        for (int x = 3; x < CImage::W - 2; x += 2) {
            lost += analysis->mask(x, y) != 1 ? 1 : 0;
        }
    }
    EXPECT_EQ(lost, 0);
    // A closed background hole becomes hand.
    for (int y = 0; y < CImage::H; ++y) {
        for (int x = 0; x < CImage::W; ++x) {
            const bool hole = y >= 100 && y < 110 && x >= 500 && x < 510;
            const bool wall = y >= 99 && y <= 110 && x >= 499 && x <= 510;
            analysis->setMask(x, y, wall && !hole ? 0 : 1);
        }
    }
    analysis->fillWhiteRegions();
    EXPECT_EQ(analysis->mask(505, 105), 0);
    EXPECT_EQ(analysis->mask(505, 120), 1);
}

TEST(HandImage, LineListStopsAtItsCapacity)
{
    // About two thousand separate blocks of 30 x 3 hand: more lines than the list holds.
    auto analysis = std::make_unique<CImage>();
    analysis->setRegionSize(1000, 250);
    for (int y = 0; y < CImage::H; ++y) {
        for (int x = 0; x < CImage::W; ++x) {
            const bool block =
                y % 4 != 0 && x % 31 != 0 && y > 0 && y < CImage::H - 1 && x < CImage::W - 1;
            analysis->setMask(x, y, block ? 0 : 1);
        }
    }
    auto lines = std::make_unique<CDevLine[]>(CImage::MAX_LINES);
    int count = 0;
    int fills = 0;
    for (int y = CImage::H - 1; y >= 1; --y) {
        for (int x = 0; x < CImage::W; ++x) {
            if (analysis->mask(x, y) == 0) {
                analysis->fillAndFindPoints(x, y);
                analysis->linearApproximation(lines.get(), count);
                ++fills;
            }
        }
    }
    EXPECT_GT(fills, CImage::MAX_LINES);
    EXPECT_EQ(count, CImage::MAX_LINES);
    EXPECT_NEAR(lines[CImage::MAX_LINES - 1].length, 2.0, 1e-9);
}

TEST(HandImage, UpwardFillCutsAFork)
{
    // A stem rows 150..199 under two prongs rows 100..149: the stem's fill stops below the
    // fork, and the prongs are left for fills of their own.
    auto analysis = std::make_unique<CImage>();
    analysis->setRegionSize(1000, 250);
    for (int y = 0; y < CImage::H; ++y) {
        for (int x = 0; x < CImage::W; ++x) {
            const bool stem = y >= 150 && y < 200 && x >= 400 && x < 600;
            const bool prong =
                y >= 100 && y < 150 && ((x >= 400 && x < 460) || (x >= 540 && x < 600));
            analysis->setMask(x, y, stem || prong ? 0 : 1);
        }
    }
    analysis->fillAndFindPoints(400, 199);
    for (int y = 150; y < 200; ++y) {
        EXPECT_EQ(analysis->runCount(y), 1) << y;
    }
    EXPECT_EQ(analysis->runCount(149), 0);
    EXPECT_EQ(analysis->mask(430, 140), 0);
    EXPECT_EQ(analysis->mask(570, 140), 0);
    auto lines = std::make_unique<CDevLine[]>(4);
    int count = 0;
    analysis->linearApproximation(lines.get(), count);
    ASSERT_EQ(count, 1);
    EXPECT_NEAR(lines[0].x1, 499.5, 1.0);
    EXPECT_DOUBLE_EQ(lines[0].y1, 150);
    EXPECT_DOUBLE_EQ(lines[0].y2, 199);
}

// Hand model.

struct FingerExpect {
    int code;
    double x; // where the finger is drawn
};

void ExpectHand(const CHand& hand, bool right)
{
    ASSERT_EQ(hand.fingersCount(), 4);
    EXPECT_EQ(hand.isRightHand(), right ? 1 : 0);
    const int codes[2][4] = {{10, 9, 8, 7}, {2, 3, 4, 5}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const CFinger* f = hand.finger(k);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->index(), codes[right ? 1 : 0][k]);
        ASSERT_EQ(f->phalanxesCount(), 3);
        // Finger k from the left in the image is drawn at the mirrored or the right hand's x.
        const Bar& drawn = handtest::kRightFingers[right ? k : 3 - k];
        const double x = right ? drawn.x1 : HAND_SIDE - 1 - drawn.x1;
        double lastY = -1e9;
        for (int p = 0; p < 3; ++p) {
            const CPhalanx* ph = f->phalanx(p);
            EXPECT_EQ(ph->index(), p);
            const CRect4 r = ph->rect();
            EXPECT_NEAR(r.centreX, x, drawn.hw);
            EXPECT_GE(r.y1(), lastY - 1e-9);
            EXPECT_GT(r.width(), 0.5 * drawn.hw);
            EXPECT_LT(r.width(), 2 * drawn.hw);
            lastY = r.y2();
        }
        // The base phalanx ends on the palm, not far below the fingers' base.
        EXPECT_GT(lastY, 800);
        EXPECT_LT(lastY, 1300);
    }
    // The palm lies below the fingers and spans the drawn palm.
    const CRect4 palm = hand.rect();
    EXPECT_NEAR(palm.centreX, HAND_SIDE / 2, 300);
    EXPECT_GT(palm.y2(), 1800);
    EXPECT_GT(palm.width(), 300);
}

TEST(HandModel, RightHandGivesCodesTwoToFiveLeftToRightAndItsMirrorTenToSeven)
{
    auto hand = std::make_unique<CHand>();
    for (bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored);
        const std::vector<unsigned char> img = handtest::Hand(mirrored);
        ASSERT_EQ(hand->find(img.data(), HAND_SIDE, HAND_SIDE, 0), HAND_OK);
        ExpectHand(*hand, !mirrored);
    }
}

TEST(HandModel, MirroredHandsGetMirroredPhalanxLengthsAndTips)
{
    // The relative-length tables of the two hands mirror each other, so finger k of the right
    // hand and finger 3 - k of its mirror image get the same phalanx length and the same tip,
    // up to the analysis' rounding: the refined average reaches the fingers of both hands.
    auto right = std::make_unique<CHand>();
    auto left = std::make_unique<CHand>();
    const std::vector<unsigned char> img = handtest::Hand(false);
    const std::vector<unsigned char> mirrored = handtest::Hand(true);
    ASSERT_EQ(right->find(img.data(), HAND_SIDE, HAND_SIDE, 0), HAND_OK);
    ASSERT_EQ(left->find(mirrored.data(), HAND_SIDE, HAND_SIDE, 0), HAND_OK);
    ASSERT_EQ(right->fingersCount(), 4);
    ASSERT_EQ(left->fingersCount(), 4);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const CFinger* r = right->finger(k);
        const CFinger* l = left->finger(3 - k);
        EXPECT_NEAR(r->averagePhalanxLength(), l->averagePhalanxLength(),
                    0.015 * l->averagePhalanxLength());
        ASSERT_EQ(r->line().count, 4);
        ASSERT_EQ(l->line().count, 4);
        EXPECT_NEAR(r->line().points[0].y, l->line().points[0].y, 8.0);
    }
}

TEST(HandModel, PalmOnlyAssignsNoFingerAndFingersOnlyNoPalm)
{
    auto hand = std::make_unique<CHand>();
    const std::vector<unsigned char> img = handtest::Hand(false);
    ASSERT_EQ(hand->find(img.data(), HAND_SIDE, HAND_SIDE, 1), HAND_OK);
    EXPECT_EQ(hand->fingersCount(), 0);
    EXPECT_EQ(hand->typicalFingerWidth(), 0.0);
    EXPECT_GT(hand->rect().width(), 300);
    ASSERT_EQ(hand->find(img.data(), HAND_SIDE, HAND_SIDE, -1), HAND_OK);
    ASSERT_GT(hand->fingersCount(), 0);
    for (int k = 0; k < hand->fingersCount(); ++k) {
        EXPECT_TRUE(std::isfinite(hand->finger(k)->phalanx(0)->rect().y1()));
    }
}

TEST(HandModel, NoFingerLineEndsAfterTheResetAndKeepsThePalm)
{
    auto hand = std::make_unique<CHand>();
    const std::vector<unsigned char> img = handtest::Hand(false);
    ASSERT_EQ(hand->find(img.data(), HAND_SIDE, HAND_SIDE, 0), HAND_OK);
    const CRect4 palm = hand->rect();
    const std::vector<unsigned char> blank(static_cast<std::size_t>(HAND_SIDE) * HAND_SIDE, 255);
    ASSERT_EQ(hand->find(blank.data(), HAND_SIDE, HAND_SIDE, 0), HAND_OK);
    EXPECT_EQ(hand->lineCount(), 0);
    EXPECT_EQ(hand->fingersCount(), 0);
    EXPECT_EQ(hand->finger(0), nullptr);
    EXPECT_EQ(hand->rect().x1(), palm.x1());
    EXPECT_EQ(hand->rect().width(), palm.width());
    // A refused image: no finger either.
    ASSERT_EQ(hand->find(img.data(), HAND_SIDE, HAND_SIDE, 0), HAND_OK);
    EXPECT_EQ(hand->find(img.data(), 999, 2000, 0), HAND_TOO_NARROW);
    EXPECT_EQ(hand->fingersCount(), 0);
}

TEST(HandModel, AtMostFourFingersAndThreePhalanxes)
{
    auto hand = std::make_unique<CHand>();
    auto line = std::make_unique<CDevLine>();
    line->init(10, 10, 10, 100, 5);
    for (int i = 0; i < 5; ++i) {
        hand->addStdFinger(new CFinger(hand.get(), line.get()));
    }
    // The fifth is dropped; find's reset frees the four held.
    auto finger = std::make_unique<CFinger>(hand.get(), line.get());
    for (int k = 0; k < 4; ++k) {
        finger->addPhalanx(new CPhalanx(k, 0, 0, 0, 10, 1));
    }
    EXPECT_EQ(finger->phalanxesCount(), 3);
    EXPECT_EQ(finger->phalanx(3), nullptr);
    const std::vector<unsigned char> blank(1000 * 250, 255);
    EXPECT_EQ(hand->find(blank.data(), 1000, 250, 0), HAND_OK);
    EXPECT_EQ(hand->fingersCount(), 0);
}

TEST(HandModel, CirclePointIsTheHigherCrossingBelowTheTopOrTheDefault)
{
    auto line = std::make_unique<CDevLine>();
    line->init(0, 0, 0, 10, 1);
    const CFinger finger(nullptr, line.get());
    // The vertical x = 3 crosses the circle of radius 5 at y = -4 and 4 (relative).
    const CLine edge(3, -10, 3, 10, 0);
    EXPECT_DOUBLE_EQ(finger.getCirclePointY(0, 100, 5, &edge), 96);
    // A line that misses the circle, and a circle of radius 0: the default.
    const CLine away(9, -10, 9, 10, 0);
    EXPECT_DOUBLE_EQ(finger.getCirclePointY(0, 100, 5, &away), 98);
    EXPECT_DOUBLE_EQ(finger.getCirclePointY(0, 100, 0, &edge), 100);
}

} // namespace
