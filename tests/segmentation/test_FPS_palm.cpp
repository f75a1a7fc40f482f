// Thumbs, palms and latent segmentation through FSeg: the NIST plain thumbs side by side,
// synthetic thumbs, palms and whole hands with known positions, the latent candidate checks,
// each kind's argument checks, and every kind on blank, noise, smallest and largest images.

#include "segmentation/FPS_palm.h"
#include "segmentation/FSeg.h"

#include "tests/segmentation/hand_images.h"
#include "tests/segmentation/seg_checks.h"
#include "tests/segmentation/seg_images.h"
#include "tests/support/data_path.h"
#include "tests/support/wsq_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using handtest::Bar;
using handtest::HAND_SIDE;
using segtest::Holds;
using segtest::Inside;
using zftest::DecodeWsqFile;

constexpr unsigned CAPACITY = 40;

struct Outcome {
    int result = 0;
    unsigned count = 0;
    SgmRect rects[CAPACITY] = {};
};

Outcome Segment(std::vector<unsigned char>& img, unsigned w, unsigned h, SGM_TYPE type,
                SGM_HAND hand = SGM_HAND_UNKNOWN, bool rotated = false,
                NIST_IMP_TYPE impression = NIST_IMP_LIVESCAN_PLAIN, unsigned dpi = 500)
{
    Outcome o;
    o.count = CAPACITY;
    o.result = FSeg(img.data(), nullptr, w, h, dpi, type, hand, impression, rotated, nullptr, 0,
                    o.rects, o.count);
    return o;
}

// Thumbs.

TEST(Thumbs, NistPlainThumbsSideBySideGetTheirCodes)
{
    // The card's left plain thumb (fp12) on the left, the right one (fp11) on the right.
    const std::string left = zftest::TestData("wsq/fp12.wsq");
    const std::string right = zftest::TestData("wsq/fp11.wsq");
    std::vector<unsigned char> lp;
    std::vector<unsigned char> rp;
    int lw = 0;
    int lh = 0;
    int rw = 0;
    int rh = 0;
    if (!DecodeWsqFile(left, lp, lw, lh) || !DecodeWsqFile(right, rp, rw, rh)) {
        GTEST_SKIP() << "NIST plain thumbs fp11.wsq / fp12.wsq not found in tests/data/wsq";
    }
    const int w = lw + rw;
    const int h = lh > rh ? lh : rh;
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h, 255);
    for (int y = 0; y < lh; ++y) {
        std::memcpy(&img[static_cast<std::size_t>(y) * w], &lp[static_cast<std::size_t>(y) * lw],
                    lw);
    }
    for (int y = 0; y < rh; ++y) {
        std::memcpy(&img[static_cast<std::size_t>(y) * w + lw],
                    &rp[static_cast<std::size_t>(y) * rw], rw);
    }
    // Print centres read off the card images.
    const int leftX = 200;
    const int leftY = 580;
    const int rightX = lw + 260;
    const int rightY = 540;
    for (bool rotated : {false, true}) {
        for (NIST_IMP_TYPE imp : {NIST_IMP_NONLIVESCAN_PLAIN, NIST_IMP_UNKNOWN}) {
            SCOPED_TRACE(std::to_string(rotated) + " impression " + std::to_string(imp));
            Outcome o = Segment(img, w, h, SGM_TYPE_THUMBS, SGM_HAND_UNKNOWN, rotated, imp);
            ASSERT_EQ(o.result, SGM_FOUND);
            ASSERT_EQ(o.count, 2u);
            EXPECT_EQ(o.rects[0].code, SGM_FINGER_LEFT_THUMB);
            EXPECT_EQ(o.rects[1].code, SGM_FINGER_RIGHT_THUMB);
            EXPECT_EQ(o.rects[0].phalanx, 1);
            EXPECT_TRUE(Holds(o.rects[0], leftX, leftY));
            EXPECT_TRUE(Holds(o.rects[1], rightX, rightY));
            EXPECT_FALSE(Holds(o.rects[0], rightX, rightY));
            EXPECT_FALSE(Holds(o.rects[1], leftX, leftY));
        }
    }
}

TEST(Thumbs, LeftRegionIsSixWhateverTheHand)
{
    std::vector<unsigned char> img =
        handtest::Bars(900, 1000, {{230, 300, 230, 700, 150}, {650, 320, 650, 720, 150}});
    for (SGM_HAND hand : {SGM_HAND_UNKNOWN, SGM_HAND_LEFT, SGM_HAND_RIGHT}) {
        SCOPED_TRACE(hand);
        Outcome o = Segment(img, 900, 1000, SGM_TYPE_THUMBS, hand);
        ASSERT_EQ(o.result, SGM_FOUND);
        ASSERT_EQ(o.count, 2u);
        EXPECT_EQ(o.rects[0].code, SGM_FINGER_LEFT_THUMB);
        EXPECT_EQ(o.rects[1].code, SGM_FINGER_RIGHT_THUMB);
        // The boxes are cut to the thumbs' upper parts.
        EXPECT_TRUE(Holds(o.rects[0], 230, 250));
        EXPECT_TRUE(Holds(o.rects[1], 650, 270));
        EXPECT_FALSE(Holds(o.rects[0], 650, 270));
    }
    // One thumb alone is coded by the half it lies in.
    std::vector<unsigned char> one = handtest::Bars(900, 1000, {{650, 320, 650, 720, 150}});
    Outcome o = Segment(one, 900, 1000, SGM_TYPE_THUMBS);
    ASSERT_EQ(o.result, SGM_FOUND);
    ASSERT_EQ(o.count, 1u);
    EXPECT_EQ(o.rects[0].code, SGM_FINGER_RIGHT_THUMB);
}

TEST(Thumbs, WideRegionWhoseAxisMissesItsUpperRowsIsKeptNotCutForever)
{
    // A U of two bars joined at the bottom, taller than the region scan reaches: the axis
    // column of its box holds no pixel of it in the rows scanned, so a cut there removes
    // nothing.
    const int side = 4096;
    std::vector<unsigned char> img = handtest::Bars(
        side, side,
        {{400, 200, 400, 3800, 200}, {3700, 200, 3700, 3800, 200}, {400, 3700, 3700, 3700, 200}});
    // At 250 dpi the working image keeps 2048 rows, twice what the scan reaches.
    Outcome o = Segment(img, side, side, SGM_TYPE_THUMBS, SGM_HAND_UNKNOWN, false,
                        NIST_IMP_LIVESCAN_PLAIN, 250);
    EXPECT_EQ(o.result, SGM_FOUND);
    ASSERT_GE(o.count, 1u);
    EXPECT_TRUE(Inside(o.rects[0], side, side));
}

// Palms.

struct PalmCase {
    const char* name;
    SGM_TYPE type;
    SGM_HAND hand;
    int codes[2]; // expected codes, 0 for none
};

void PrintTo(const PalmCase& c, std::ostream* os)
{
    *os << c.name;
}

const PalmCase kPalmCases[] = {
    {"lower_palm_left", SGM_TYPE_LOWER_PALM, SGM_HAND_LEFT, {27, 34}},
    {"lower_palm_right", SGM_TYPE_LOWER_PALM, SGM_HAND_RIGHT, {25, 31}},
    {"writers_palm_left", SGM_TYPE_WRITERS_PALM, SGM_HAND_LEFT, {24, 0}},
    {"writers_palm_right", SGM_TYPE_WRITERS_PALM, SGM_HAND_RIGHT, {22, 0}},
};

class Palm : public ::testing::TestWithParam<PalmCase> {};

TEST_P(Palm, OnePalmGetsTheCodesOfTheGivenHand)
{
    const PalmCase& c = GetParam();
    std::vector<unsigned char> img = handtest::Bars(1600, 2000, {{800, 400, 800, 1600, 500}});
    Outcome o = Segment(img, 1600, 2000, c.type, c.hand);
    ASSERT_EQ(o.result, SGM_FOUND);
    const unsigned expected = c.codes[1] != 0 ? 2u : 1u;
    ASSERT_EQ(o.count, expected);
    for (unsigned i = 0; i < expected; ++i) {
        EXPECT_EQ(o.rects[i].code, c.codes[i]);
        EXPECT_EQ(o.rects[i].phalanx, 0);
        EXPECT_TRUE(Inside(o.rects[i], 1600, 2000));
    }
    // The palm box stands on the palm; the interdigital box is its upper end.
    EXPECT_TRUE(Holds(o.rects[0], 800, 1300));
    if (expected == 2) {
        EXPECT_TRUE(Holds(o.rects[1], 800, o.rects[0].y1 + 100));
        EXPECT_LT(o.rects[1].y4, o.rects[0].y4);
    }
}

INSTANTIATE_TEST_SUITE_P(Segmenters, Palm, ::testing::ValuesIn(kPalmCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(LowerPalm, LongPalmIsCutFromBelowAndItsUpperEndIsTheInterdigitalArea)
{
    // A working mask with a palm region 201 rows long (rows 30..230) and 60 columns wide.
    const unsigned w = 100;
    const unsigned h = 260;
    std::vector<unsigned char> mask(static_cast<std::size_t>(w) * h, 1);
    for (unsigned y = 30; y <= 230; ++y) {
        for (unsigned x = 20; x < 80; ++x) {
            mask[static_cast<std::size_t>(y) * w + x] = 0;
        }
    }
    auto seg = std::make_unique<CFpsLowerPalm>();
    ASSERT_EQ(seg->CopyImg(mask.data(), w, h), 1);
    seg->m_rotated = false;
    seg->m_workHand = SGM_HAND_UNKNOWN;
    ASSERT_EQ(seg->Recognition(nullptr, 0), 0);
    ASSERT_EQ(seg->m_outCount, 2);
    const CSpot& palm = seg->m_out[0];
    const CSpot& inter = seg->m_out[1];
    // 130 / 201 of the axis from the lower end (row 231, one past the region): row 101.
    EXPECT_EQ(palm.m_y2, 231);
    EXPECT_EQ(palm.m_y1, static_cast<int>(231 + (30 - 231) * (130.0 / 202)));
    // 45 / (new length) of the cut axis from its upper end.
    EXPECT_EQ(inter.m_y1, palm.m_y1);
    EXPECT_EQ(inter.m_y2,
              static_cast<int>(palm.m_y1 + (palm.m_y2 - palm.m_y1) * (45.0 / palm.m_length)));
    EXPECT_EQ(inter.m_hw, palm.m_hw);
    // An upright palm has angle 0: the right hand.
    EXPECT_EQ(seg->m_workHand, static_cast<unsigned>(SGM_HAND_RIGHT));
    EXPECT_EQ(palm.m_code, SGM_FINGER_RIGHT_LOWER_PALM);
    EXPECT_EQ(inter.m_code, SGM_FINGER_RIGHT_INTERDIGITAL);
}

TEST(LowerPalms, LeftRegionIsTwentySevenAndRightTwentyFive)
{
    std::vector<unsigned char> img =
        handtest::Bars(3000, 2000, {{750, 500, 750, 1500, 500}, {2250, 550, 2250, 1550, 500}});
    for (bool rotated : {false, true}) {
        SCOPED_TRACE(rotated);
        Outcome o = Segment(img, 3000, 2000, SGM_TYPE_LOWER_PALMS, SGM_HAND_UNKNOWN, rotated);
        ASSERT_EQ(o.result, SGM_FOUND);
        ASSERT_EQ(o.count, 2u);
        EXPECT_EQ(o.rects[0].code, SGM_FINGER_LEFT_LOWER_PALM);
        EXPECT_EQ(o.rects[1].code, SGM_FINGER_RIGHT_LOWER_PALM);
        EXPECT_TRUE(Holds(o.rects[0], 750, 1300));
        EXPECT_TRUE(Holds(o.rects[1], 2250, 1350));
    }
}

// Full palm.

TEST(FullPalm, PalmFirstThenEveryPhalanxOfEveryFinger)
{
    for (bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored);
        std::vector<unsigned char> img = handtest::Hand(mirrored);
        Outcome o = Segment(img, HAND_SIDE, HAND_SIDE, SGM_TYPE_FULL_PALM);
        ASSERT_EQ(o.result, SGM_FOUND);
        ASSERT_EQ(o.count, 13u);
        EXPECT_EQ(o.rects[0].code,
                  mirrored ? SGM_FINGER_LEFT_LOWER_PALM : SGM_FINGER_RIGHT_LOWER_PALM);
        EXPECT_EQ(o.rects[0].phalanx, 0);
        EXPECT_TRUE(Holds(o.rects[0], HAND_SIDE / 2, 1500));
        const int right[4] = {2, 3, 4, 5};
        const int left[4] = {10, 9, 8, 7};
        for (int k = 0; k < 4; ++k) {
            const Bar& drawn = handtest::kRightFingers[mirrored ? 3 - k : k];
            const int x = static_cast<int>(mirrored ? HAND_SIDE - 1 - drawn.x1 : drawn.x1);
            for (int p = 0; p < 3; ++p) {
                const SgmRect& r = o.rects[1 + 3 * k + p];
                SCOPED_TRACE(1 + 3 * k + p);
                EXPECT_EQ(r.code, mirrored ? left[k] : right[k]);
                EXPECT_EQ(r.phalanx, p + 1);
                EXPECT_TRUE(Inside(r, HAND_SIDE, HAND_SIDE));
                EXPECT_TRUE(Holds(r, x, (r.y1 + r.y4) / 2));
            }
        }
        // The expected hand decides the result, not the rectangles.
        Outcome other = Segment(img, HAND_SIDE, HAND_SIDE, SGM_TYPE_FULL_PALM,
                                mirrored ? SGM_HAND_RIGHT_EXPECTED : SGM_HAND_LEFT_EXPECTED);
        EXPECT_EQ(other.result, SGM_HAND_CONTRADICTED);
        EXPECT_EQ(other.count, 13u);
    }
}

TEST(FullPalm, HandModelObjectServesRepeatedSegmentations)
{
    std::vector<unsigned char> img = handtest::Hand(false);
    auto seg = std::make_unique<CFpsFullPalm>();
    SgmRect first[CAPACITY];
    SgmRect second[CAPACITY];
    unsigned n1 = CAPACITY;
    unsigned n2 = CAPACITY;
    ASSERT_EQ(seg->Segmentation(img.data(), nullptr, HAND_SIDE, HAND_SIDE, 500, SGM_HAND_UNKNOWN,
                                NIST_IMP_LIVESCAN_PLAIN, true, nullptr, 0, first, n1, 4),
              SGM_FOUND);
    ASSERT_EQ(seg->Segmentation(img.data(), nullptr, HAND_SIDE, HAND_SIDE, 500, SGM_HAND_UNKNOWN,
                                NIST_IMP_LIVESCAN_PLAIN, true, nullptr, 0, second, n2, 4),
              SGM_FOUND);
    ASSERT_EQ(n1, n2);
    EXPECT_EQ(std::memcmp(first, second, n1 * sizeof(SgmRect)), 0);
}

// Latent.

struct LatentCheckCase {
    const char* name;
    int halfWidth;
    int length;
    int area; // 0: the box's own 2 x half-width x length
    bool passes;
};

void PrintTo(const LatentCheckCase& c, std::ostream* os)
{
    *os << c.name << (c.passes ? " passes" : " refused");
}

const LatentCheckCase kLatentChecks[] = {
    {"two_pixels_wide", 2, 8, 0, false},
    {"half_width_3_length_5", 3, 5, 0, true},
    {"length_4", 3, 4, 0, false},
    {"ten_half_widths_long", 3, 30, 0, false},
    {"just_under_ten_half_widths", 3, 29, 0, true},
    {"sparse_region", 10, 20, 12, false},
    {"three_percent_and_more", 10, 20, 13, true},
};

class LatentCheck : public ::testing::TestWithParam<LatentCheckCase> {};

TEST_P(LatentCheck, SizeAndFillDecide)
{
    const LatentCheckCase& c = GetParam();
    auto spot = std::make_unique<CSpot>(0, 0, 0, c.length - 1, c.halfWidth);
    ASSERT_EQ(spot->m_length, c.length);
    if (c.area != 0) {
        spot->m_area = c.area;
    }
    EXPECT_EQ(CFpsLatent::CheckRect(*spot), c.passes);
}

INSTANTIATE_TEST_SUITE_P(Latent, LatentCheck, ::testing::ValuesIn(kLatentChecks),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Latent, RidgePatchGivesUprightBoxesWithTheCentralOneFirst)
{
    using segtest::Finger;
    std::vector<unsigned char> img =
        segtest::Fingers(800, 800, {{400, 420, 150, 200, 0.0}, {120, 120, 60, 80, 0.0}});
    for (NIST_IMP_TYPE imp : {NIST_IMP_LATENT_IMPRESSION, NIST_IMP_LATENT_LIFT}) {
        SCOPED_TRACE(imp);
        Outcome o = Segment(img, 800, 800, SGM_TYPE_FINGER, SGM_HAND_UNKNOWN, true, imp);
        ASSERT_EQ(o.result, SGM_FOUND);
        ASSERT_GE(o.count, 1u);
        for (unsigned i = 0; i < o.count; ++i) {
            EXPECT_EQ(o.rects[i].code, 0);
            EXPECT_EQ(o.rects[i].x1, o.rects[i].x3); // upright even when turned boxes are asked
            EXPECT_EQ(o.rects[i].y1, o.rects[i].y2);
        }
        EXPECT_TRUE(Holds(o.rects[0], 400, 420));
    }
}

// Argument checks of every kind.

struct KindCase {
    const char* name;
    SGM_TYPE type;
    NIST_IMP_TYPE impression;
    unsigned smallestWidth;
    unsigned smallestHeight;
};

void PrintTo(const KindCase& c, std::ostream* os)
{
    *os << c.name;
}

const KindCase kKinds[] = {
    {"lower_palm", SGM_TYPE_LOWER_PALM, NIST_IMP_UNKNOWN, 64, 64},
    {"writers_palm", SGM_TYPE_WRITERS_PALM, NIST_IMP_UNKNOWN, 64, 64},
    {"thumbs", SGM_TYPE_THUMBS, NIST_IMP_NONLIVESCAN_PLAIN, 64, 64},
    {"lower_palms", SGM_TYPE_LOWER_PALMS, NIST_IMP_UNKNOWN, 64, 64},
    {"full_palm", SGM_TYPE_FULL_PALM, NIST_IMP_UNKNOWN, 1000, 250},
    {"latent", SGM_TYPE_FINGER, NIST_IMP_LATENT_PHOTO, 64, 64},
};

struct ArgCase {
    const char* name;
    bool nullImage;
    int dWidth; // added to the kind's smallest size
    int dHeight;
    unsigned dpi;
    bool nullMissing;
    unsigned missingCount;
    bool nullRects;
    unsigned capacity;
    int expected; // SGM_NOTHING: passes the checks (blank image)
};

const ArgCase kArgs[] = {
    {"passes", false, 0, 0, 500, true, 0, false, 4, SGM_NOTHING},
    {"null_image", true, 0, 0, 500, true, 0, false, 4, SGM_NO_IMAGE},
    {"null_image_first", true, -1, -1, 10, true, 3, true, 0, SGM_NO_IMAGE},
    {"too_narrow", false, -1, 0, 500, true, 0, false, 4, SGM_BAD_WIDTH},
    {"too_low", false, 0, -1, 500, true, 0, false, 4, SGM_BAD_HEIGHT},
    {"dpi_49", false, 0, 0, 49, true, 0, false, 4, SGM_BAD_DPI},
    {"dpi_50", false, 0, 0, 50, true, 0, false, 4, SGM_NOTHING},
    {"missing_null_with_count", false, 0, 0, 500, true, 2, false, 4, SGM_NO_MISSING_LIST},
    {"missing_given", false, 0, 0, 500, false, 2, false, 4, SGM_NOTHING},
    {"rects_null", false, 0, 0, 500, true, 0, true, 4, SGM_NO_RECTS},
    {"capacity_0", false, 0, 0, 500, true, 0, false, 0, SGM_NO_ROOM},
};

struct KindArg {
    KindCase kind;
    ArgCase arg;
};

void PrintTo(const KindArg& c, std::ostream* os)
{
    PrintTo(c.kind, os);
    *os << "/" << c.arg.name << " -> " << c.arg.expected;
}

std::vector<KindArg> AllKindArgs()
{
    std::vector<KindArg> all;
    for (const KindCase& k : kKinds) {
        for (const ArgCase& a : kArgs) {
            all.push_back({k, a});
        }
    }
    return all;
}

class KindArguments : public ::testing::TestWithParam<KindArg> {};

TEST_P(KindArguments, CheckedInTheDriversOrder)
{
    const KindCase& k = GetParam().kind;
    const ArgCase& a = GetParam().arg;
    const unsigned w = static_cast<unsigned>(static_cast<int>(k.smallestWidth) + a.dWidth);
    const unsigned h = static_cast<unsigned>(static_cast<int>(k.smallestHeight) + a.dHeight);
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h, 255);
    SGM_FINGER missing[2] = {SGM_FINGER_RIGHT_THUMB, SGM_FINGER_LEFT_THUMB};
    SgmRect rects[4] = {};
    unsigned count = a.capacity;
    const int result =
        FSeg(a.nullImage ? nullptr : img.data(), nullptr, w, h, a.dpi, k.type, SGM_HAND_UNKNOWN,
             k.impression, false, a.nullMissing ? nullptr : missing, a.missingCount,
             a.nullRects ? nullptr : rects, count);
    EXPECT_EQ(result, a.expected);
    if (result == SGM_NOTHING) {
        EXPECT_EQ(count, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindArguments, ::testing::ValuesIn(AllKindArgs()),
                         [](const auto& p) {
                             return std::string(p.param.kind.name) + "_" + p.param.arg.name;
                         });

// Robustness of every kind.

enum class Picture { BLANK, NOISE, SMALLEST, LARGE };

struct RobustCase {
    KindCase kind;
    Picture picture;
    bool rotated;
};

void PrintTo(const RobustCase& c, std::ostream* os)
{
    PrintTo(c.kind, os);
    *os << " " << static_cast<int>(c.picture) << (c.rotated ? " turned" : "");
}

std::vector<RobustCase> AllRobust()
{
    std::vector<RobustCase> all;
    for (const KindCase& k : kKinds) {
        for (Picture p : {Picture::BLANK, Picture::NOISE, Picture::SMALLEST, Picture::LARGE}) {
            all.push_back({k, p, p == Picture::NOISE});
        }
    }
    return all;
}

class KindRobustness : public ::testing::TestWithParam<RobustCase> {};

TEST_P(KindRobustness, AnswersWithRectanglesInsideTheImage)
{
    const RobustCase& c = GetParam();
    unsigned w = 600;
    unsigned h = 500;
    if (c.picture == Picture::SMALLEST) {
        w = c.kind.smallestWidth;
        h = c.kind.smallestHeight;
    } else if (c.picture == Picture::LARGE) {
        w = 4096;
        h = 4096;
    } else if (c.kind.type == SGM_TYPE_FULL_PALM) {
        w = 1200;
        h = 900;
    }
    std::vector<unsigned char> img =
        c.picture == Picture::BLANK
            ? segtest::Blank(static_cast<int>(w), static_cast<int>(h))
            : segtest::Noise(static_cast<int>(w), static_cast<int>(h), 12345u + w);
    Outcome o = Segment(img, w, h, c.kind.type, SGM_HAND_UNKNOWN, c.rotated, c.kind.impression);
    EXPECT_TRUE(o.result == SGM_FOUND || o.result == SGM_NOTHING) << o.result;
    ASSERT_LE(o.count, CAPACITY);
    for (unsigned i = 0; i < o.count; ++i) {
        EXPECT_TRUE(Inside(o.rects[i], w, h)) << i;
    }
    if (c.picture == Picture::BLANK) {
        EXPECT_EQ(o.result, SGM_NOTHING);
    }
}

std::string RobustName(const RobustCase& c)
{
    static const char* const kPictures[] = {"blank", "noise", "smallest", "large"};
    return std::string(c.kind.name) + "_" + kPictures[static_cast<int>(c.picture)];
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindRobustness, ::testing::ValuesIn(AllRobust()),
                         [](const auto& p) { return RobustName(p.param); });

} // namespace
