// Segmentation entry: argument checks, empty and noisy images, synthetic fingers and slaps
// with known positions, real single-finger prints, the parallelogram cut and the ridge score.

#include "segmentation/FSeg.h"

#include "tests/segmentation/seg_checks.h"
#include "tests/segmentation/seg_images.h"
#include "tests/support/data_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

using segtest::Finger;
using segtest::Inside;

struct Outcome {
    int result = 0;
    unsigned count = 0;
    SgmRect rects[8] = {};
};

Outcome Segment(std::vector<unsigned char>& img, unsigned w, unsigned h, SGM_TYPE type,
                SGM_HAND hand = SGM_HAND_UNKNOWN, bool rotated = false, unsigned dpi = 500,
                unsigned capacity = 8, SGM_FINGER* missing = nullptr, unsigned missingCount = 0)
{
    Outcome o;
    o.count = capacity;
    o.result = FSeg(img.data(), nullptr, w, h, dpi, type, hand, NIST_IMP_LIVESCAN_PLAIN, rotated,
                    missing, missingCount, o.rects, o.count);
    return o;
}

// Upright boxes: the first holds the second.
bool Contains(const SgmRect& outer, const SgmRect& inner)
{
    return outer.x1 <= inner.x1 && outer.y1 <= inner.y1 && outer.x4 >= inner.x4 &&
           outer.y4 >= inner.y4;
}

int CentreX(const SgmRect& r)
{
    return (r.x1 + r.x2 + r.x3 + r.x4) / 4;
}

[[maybe_unused]] int CentreY(const SgmRect& r)
{
    return (r.y1 + r.y2 + r.y3 + r.y4) / 4;
}

// Checks the single-finger answer: two upright boxes inside the image, nested, sides
// multiples of 4.
void ExpectFingerBoxes(const Outcome& o, unsigned w, unsigned h)
{
    ASSERT_EQ(o.result, SGM_FOUND);
    ASSERT_EQ(o.count, 2u);
    for (unsigned i = 0; i < 2; ++i) {
        const SgmRect& r = o.rects[i];
        EXPECT_TRUE(Inside(r, w, h)) << "rectangle " << i;
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.x1, r.x3);
        EXPECT_EQ(r.y1, r.y2);
        EXPECT_LT(r.x1, r.x4);
        EXPECT_LT(r.y1, r.y4);
    }
    EXPECT_TRUE(Contains(o.rects[0], o.rects[1]));
}

struct ArgCase {
    const char* name;
    bool nullImage;
    unsigned width;
    unsigned height;
    unsigned dpi;
    int type;
    int impression;
    bool nullMissing;
    unsigned missingCount;
    bool nullRects;
    unsigned capacity;
    int expected; // SGM_NOTHING stands for "passes the checks" on this blank image
};

void PrintTo(const ArgCase& c, std::ostream* os)
{
    *os << c.name << " -> " << c.expected;
}

const ArgCase kArgCases[] = {
    {"unknown_type_before_null_image", true, 300, 300, 500, 7, 29, true, 0, false, 4, SGM_BAD_TYPE},
    {"lower_palm_blank", false, 300, 300, 500, 2, 29, true, 0, false, 4, SGM_NOTHING},
    {"writers_palm_blank", false, 300, 300, 500, 3, 29, true, 0, false, 4, SGM_NOTHING},
    {"thumbs_blank", false, 300, 300, 500, 4, 29, true, 0, false, 4, SGM_NOTHING},
    {"lower_palms_blank", false, 300, 300, 500, 5, 29, true, 0, false, 4, SGM_NOTHING},
    {"full_palm_below_its_raster", false, 300, 300, 500, 6, 29, true, 0, false, 4, SGM_BAD_WIDTH},
    {"negative_type", false, 300, 300, 500, -1, 29, true, 0, false, 4, SGM_BAD_TYPE},
    {"latent_impression_4_blank", false, 300, 300, 500, 0, 4, true, 0, false, 4, SGM_NOTHING},
    {"latent_impression_7_blank", false, 300, 300, 500, 0, 7, true, 0, false, 4, SGM_NOTHING},
    {"impression_8_is_a_finger", false, 300, 300, 500, 0, 8, true, 0, false, 4, SGM_NOTHING},
    {"impression_3_is_a_finger", false, 300, 300, 500, 0, 3, true, 0, false, 4, SGM_NOTHING},
    {"null_image", true, 300, 300, 500, 0, 29, true, 0, false, 4, SGM_NO_IMAGE},
    {"width_63", false, 63, 300, 500, 0, 29, true, 0, false, 4, SGM_BAD_WIDTH},
    {"height_63", false, 300, 63, 500, 1, 29, true, 0, false, 4, SGM_BAD_HEIGHT},
    {"width_above_limit", false, SGM_MAX_SIDE + 1, 64, 500, 0, 29, true, 0, false, 4,
     SGM_BAD_WIDTH},
    {"dpi_49", false, 300, 300, 49, 0, 29, true, 0, false, 4, SGM_BAD_DPI},
    {"smallest_accepted", false, 64, 64, 50, 0, 29, true, 0, false, 4, SGM_NOTHING},
    {"smallest_accepted_slap", false, 64, 64, 50, 1, 29, true, 0, false, 4, SGM_NOTHING},
    {"smallest_at_500_dpi", false, 64, 64, 500, 0, 29, true, 0, false, 4, SGM_NOTHING},
    {"smallest_at_8000_dpi", false, 64, 64, 8000, 0, 29, true, 0, false, 4, SGM_NOTHING},
    {"smallest_slap_at_500_dpi", false, 64, 64, 500, 1, 0, true, 0, false, 4, SGM_NOTHING},
    {"smallest_slap_at_8000_dpi", false, 64, 64, 8000, 1, 29, true, 0, false, 4, SGM_NOTHING},
    {"missing_list_null_with_count", false, 300, 300, 500, 1, 29, true, 2, false, 4,
     SGM_NO_MISSING_LIST},
    {"missing_list_null_without_count", false, 300, 300, 500, 1, 29, true, 0, false, 4,
     SGM_NOTHING},
    {"rects_null", false, 300, 300, 500, 0, 29, false, 1, true, 4, SGM_NO_RECTS},
    {"capacity_0", false, 300, 300, 500, 0, 29, false, 1, false, 0, SGM_NO_ROOM},
    {"width_checked_before_dpi", false, 10, 10, 10, 0, 29, true, 0, true, 0, SGM_BAD_WIDTH},
    {"dpi_checked_before_rects", false, 300, 300, 10, 0, 29, true, 0, true, 0, SGM_BAD_DPI},
    {"huge_dpi_finds_nothing", false, 300, 300, 4000000000u, 0, 29, true, 0, false, 4, SGM_NOTHING},
};

class FSegArguments : public ::testing::TestWithParam<ArgCase> {};

TEST_P(FSegArguments, AnswersWithItsCode)
{
    const ArgCase& c = GetParam();
    std::vector<unsigned char> img(static_cast<std::size_t>(c.width) * c.height, 255);
    SGM_FINGER missing[2] = {SGM_FINGER_RIGHT_INDEX, SGM_FINGER_LEFT_INDEX};
    SgmRect rects[4] = {};
    unsigned count = c.capacity;
    const int result =
        FSeg(c.nullImage ? nullptr : img.data(), nullptr, c.width, c.height, c.dpi,
             static_cast<SGM_TYPE>(c.type), SGM_HAND_UNKNOWN,
             static_cast<NIST_IMP_TYPE>(c.impression), false, c.nullMissing ? nullptr : missing,
             c.missingCount, c.nullRects ? nullptr : rects, count);
    EXPECT_EQ(result, c.expected);
    if (result == SGM_NOTHING) {
        EXPECT_EQ(count, 0u);
    }
    if (result < SGM_HAND_CONTRADICTED) {
        EXPECT_EQ(count, c.capacity) << "a refused call leaves the count alone";
    }
}

INSTANTIATE_TEST_SUITE_P(FSeg, FSegArguments, ::testing::ValuesIn(kArgCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(FSeg, BlankAndDustImagesHoldNoFinger)
{
    const unsigned w = 320;
    const unsigned h = 400;
    std::vector<std::vector<unsigned char>> images = {
        segtest::Blank(w, h), segtest::Blank(w, h, 0), segtest::Blank(w, h, 128),
        segtest::Dust(w, h, 12345, 50), segtest::Dust(w, h, 777, 300)};
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (int type = 0; type <= 1; ++type) {
            for (int rotated = 0; rotated <= 1; ++rotated) {
                SCOPED_TRACE(testing::Message()
                             << "image " << i << " type " << type << " rotated " << rotated);
                std::vector<unsigned char> img = images[i];
                const Outcome o =
                    Segment(img, w, h, static_cast<SGM_TYPE>(type), SGM_HAND_UNKNOWN, rotated != 0);
                EXPECT_EQ(o.result, SGM_NOTHING);
                EXPECT_EQ(o.count, 0u);
                EXPECT_EQ(img, images[i]) << "the input is not changed";
            }
        }
    }
}

// Pixel noise of the whole grey range has mean crossings at a ridge-like rate in every block:
// whatever the answer, it is well formed.
TEST(FSeg, WhiteNoiseGivesNothingOrWellFormedBoxes)
{
    const unsigned w = 320;
    const unsigned h = 400;
    for (unsigned seed : {1u, 12345u, 99u}) {
        SCOPED_TRACE(seed);
        std::vector<unsigned char> img = segtest::Noise(w, h, seed);
        const Outcome o = Segment(img, w, h, SGM_TYPE_FINGER);
        if (o.result == SGM_NOTHING) {
            EXPECT_EQ(o.count, 0u);
        } else {
            ExpectFingerBoxes(o, w, h);
        }
        const Outcome slap = Segment(img, w, h, SGM_TYPE_SLAP, SGM_HAND_UNKNOWN, true);
        ASSERT_GE(slap.result, SGM_HAND_CONTRADICTED);
        for (unsigned i = 0; i < slap.count; ++i) {
            EXPECT_TRUE(Inside(slap.rects[i], w, h));
        }
    }
}

TEST(FSeg, SyntheticFingerIsBoxedAroundItsRidges)
{
    const unsigned w = 320;
    const unsigned h = 420;
    std::vector<unsigned char> img = segtest::Fingers(w, h, {{170, 210, 90, 150, 0.0}});
    const Outcome o = Segment(img, w, h, SGM_TYPE_FINGER);
    ExpectFingerBoxes(o, w, h);
    const SgmRect& r = o.rects[0];
    // The ellipse spans x 80..260 and y 60..360; the box holds most of it and little else.
    EXPECT_NEAR(CentreX(r), 170, 24);
    EXPECT_LE(r.x1, 110);
    EXPECT_GE(r.x4, 230);
    EXPECT_GE(r.x1, 40);
    EXPECT_LE(r.x4, 300);
    EXPECT_LE(r.y1, 100);
    EXPECT_GE(r.y4, 320);
    EXPECT_EQ((r.x4 - r.x1 + 1) % 4, 0);
    EXPECT_EQ((r.y4 - r.y1 + 1) % 4, 0);
}

TEST(FSeg, FingertipBoxEndsAtTheFirstCrease)
{
    // A long finger (rows 20..780) crossed by a white crease at rows 556..567; the search for
    // a crease starts 100 working rows (400 input rows) below the top.
    const unsigned w = 360;
    const unsigned h = 800;
    std::vector<unsigned char> img = segtest::Fingers(w, h, {{180, 400, 120, 380, 0.0}});
    for (unsigned y = 556; y <= 567; ++y) {
        std::fill(img.begin() + y * w, img.begin() + (y + 1) * w, 255);
    }
    const Outcome o = Segment(img, w, h, SGM_TYPE_FINGER);
    ExpectFingerBoxes(o, w, h);
    EXPECT_GT(o.rects[0].y4, 740);
    EXPECT_GE(o.rects[1].y4, 540);
    EXPECT_LE(o.rects[1].y4, 600);
    EXPECT_EQ(o.rects[1].y1, o.rects[0].y1);
    EXPECT_EQ(o.rects[1].x1, o.rects[0].x1);
    EXPECT_EQ(o.rects[1].x4, o.rects[0].x4);
}

TEST(FSeg, FingerAtTheImageEdgeStaysInsideTheImage)
{
    // The finger runs off the left and bottom edges: the grown boxes are cut at the edges.
    const unsigned w = 300;
    const unsigned h = 360;
    std::vector<unsigned char> img = segtest::Fingers(w, h, {{50, 260, 90, 150, 0.0}});
    const Outcome o = Segment(img, w, h, SGM_TYPE_FINGER);
    ExpectFingerBoxes(o, w, h);
    // Cut at the left edge, the box keeps a width that is a multiple of 4 by giving up the
    // remainder on the cut side.
    EXPECT_LT(o.rects[0].x1, 4);
    EXPECT_EQ((o.rects[0].x4 - o.rects[0].x1 + 1) % 4, 0);
}

TEST(FSeg, CapacityOneWritesTheFirstBoxAndRefusesTheSecond)
{
    const unsigned w = 320;
    const unsigned h = 420;
    std::vector<unsigned char> img = segtest::Fingers(w, h, {{170, 210, 90, 150, 0.0}});
    const Outcome full = Segment(img, w, h, SGM_TYPE_FINGER);
    ASSERT_EQ(full.count, 2u);
    const Outcome one = Segment(img, w, h, SGM_TYPE_FINGER, SGM_HAND_UNKNOWN, false, 500, 1);
    EXPECT_EQ(one.result, SGM_NO_ROOM);
    EXPECT_EQ(one.count, 1u);
    EXPECT_EQ(one.rects[0].x1, full.rects[0].x1);
    EXPECT_EQ(one.rects[0].y4, full.rects[0].y4);
}

TEST(FSeg, HigherResolutionNeedsLargerFingers)
{
    // The same finger passes at 500 dpi; at 2000 dpi it is too small to be written (a finger
    // needs a half-width of 128 and a length of 256 input pixels there).
    const unsigned w = 320;
    const unsigned h = 420;
    std::vector<unsigned char> img = segtest::Fingers(w, h, {{170, 210, 60, 100, 0.0}});
    EXPECT_EQ(Segment(img, w, h, SGM_TYPE_FINGER).result, SGM_FOUND);
    const Outcome o = Segment(img, w, h, SGM_TYPE_FINGER, SGM_HAND_UNKNOWN, false, 2000);
    EXPECT_EQ(o.result, SGM_NOTHING);
    EXPECT_EQ(o.count, 0u);
}

// Single-finger prints of the shared data: two nested boxes inside the image, every time
// (a999_01p, a card cell without a print, is the blank case below).
TEST(FSeg, RealSingleFingerPrintsGiveTwoNestedBoxes)
{
    std::vector<std::string> names;
    for (int finger = 101; finger <= 110; ++finger) {
        for (int impression = 1; impression <= 8; ++impression) {
            names.push_back("fvc2002_db1_b/" + std::to_string(finger) + "_" +
                            std::to_string(impression) + ".pgm");
        }
    }
    for (const char* n : {"a001_03p", "a001_04p", "a001_05p", "a001_06p", "a001_07p", "a004_05p",
                          "b001_04p", "b001_06p", "b001_08p"}) {
        names.push_back(std::string("minex_sd29/") + n + ".pgm");
    }
    std::size_t skipped = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = zftest::SharedData("fingerprints/" + name);
        std::vector<unsigned char> img;
        int w = 0;
        int h = 0;
        if (path.empty() || !zftest::ReadPgm(path, img, w, h)) {
            ++skipped;
            continue;
        }
        const Outcome o =
            Segment(img, static_cast<unsigned>(w), static_cast<unsigned>(h), SGM_TYPE_FINGER);
        ExpectFingerBoxes(o, static_cast<unsigned>(w), static_cast<unsigned>(h));
        // The finger box holds most of the ink (faint fragments at the edges may stay out).
        std::size_t ink = 0;
        std::size_t inkInside = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (img[static_cast<std::size_t>(y) * w + x] < 128) {
                    ++ink;
                    inkInside += (x >= o.rects[0].x1 && x <= o.rects[0].x4 && y >= o.rects[0].y1 &&
                                  y <= o.rects[0].y4)
                                     ? 1
                                     : 0;
                }
            }
        }
        EXPECT_GE(inkInside * 2, ink);
        // The same call again gives the same boxes.
        const Outcome again =
            Segment(img, static_cast<unsigned>(w), static_cast<unsigned>(h), SGM_TYPE_FINGER);
        EXPECT_EQ(again.rects[1].y4, o.rects[1].y4);
    }
    if (skipped == names.size()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
}

// An image of the shared data whose every pixel is paper.
TEST(FSeg, RealBlankCardCellHoldsNoFinger)
{
    const std::string path = zftest::SharedData("fingerprints/minex_sd29/a999_01p.pgm");
    std::vector<unsigned char> img;
    int w = 0;
    int h = 0;
    if (path.empty() || !zftest::ReadPgm(path, img, w, h)) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    ASSERT_TRUE(std::all_of(img.begin(), img.end(), [](unsigned char p) { return p == 255; }));
    const Outcome o =
        Segment(img, static_cast<unsigned>(w), static_cast<unsigned>(h), SGM_TYPE_FINGER);
    EXPECT_EQ(o.result, SGM_NOTHING);
    EXPECT_EQ(o.count, 0u);
}

TEST(Get3Rect, CutsAnUprightBoxAndReportsAMissingBuffer)
{
    std::vector<unsigned char> img(100 * 80);
    for (std::size_t i = 0; i < img.size(); ++i) {
        img[i] = static_cast<unsigned char>(i % 251);
    }
    std::vector<unsigned char> out(40 * 20);
    unsigned ow = 0;
    unsigned oh = 0;
    EXPECT_EQ(Get3Rect(img.data(), 100, 80, 10, 10, 49, 10, 10, 29, out.data(), ow, oh), SGM_FOUND);
    EXPECT_EQ(ow, 40u);
    EXPECT_EQ(oh, 20u);
    EXPECT_EQ(out[0], img[10 * 100 + 10]);
    EXPECT_EQ(out[19 * 40 + 39], img[29 * 100 + 49]);
    EXPECT_EQ(Get3Rect(img.data(), 100, 80, 10, 10, 49, 10, 10, 29, nullptr, ow, oh),
              SGM_NO_BUFFER);
    EXPECT_EQ(Get3Rect(nullptr, 100, 80, 10, 10, 49, 10, 10, 29, out.data(), ow, oh), SGM_FAILED);
}

TEST(GetFingerprintQuality, RidgesScoreAboveNoiseAndSmallImagesAreRefused)
{
    const unsigned w = 320;
    const unsigned h = 420;
    std::vector<unsigned char> ridges = segtest::Fingers(w, h, {{160, 210, 150, 205, 0.0}});
    std::vector<unsigned char> noise = segtest::Noise(w, h, 99);
    unsigned char ridgeScore = 0;
    unsigned char noiseScore = 0;
    EXPECT_EQ(GetFingerprintQuality(ridges.data(), w, h, 500, ridgeScore), SGM_FOUND);
    EXPECT_EQ(GetFingerprintQuality(noise.data(), w, h, 500, noiseScore), SGM_FOUND);
    EXPECT_LE(ridgeScore, 100);
    EXPECT_GT(ridgeScore, noiseScore);
    // Reduced to 200 dpi, a 100 x 300 image is 25 x 75: narrower than the 32-pixel window.
    unsigned char q = 7;
    EXPECT_EQ(GetFingerprintQuality(ridges.data(), 100, 300, 500, q), SGM_BAD_WIDTH);
    EXPECT_EQ(q, 0);
    EXPECT_EQ(GetFingerprintQuality(ridges.data(), 300, 100, 500, q), SGM_BAD_HEIGHT);
    EXPECT_EQ(GetFingerprintQuality(nullptr, 300, 100, 500, q), SGM_NO_IMAGE);
}

} // namespace

namespace {

// A slap of upright fingers 280 pixels wide and 460 long (500 dpi), in four places `spacing`
// apart from x = 250, with tips at the given rows; a tip of 0 leaves the place empty. Fingers
// closer than their width touch.
constexpr unsigned kSlapWidth = 1400;
constexpr unsigned kSlapHeight = 1100;

std::vector<unsigned char> Slap(const int tips[4], int spacing = 320)
{
    std::vector<Finger> fingers;
    for (int i = 0; i < 4; ++i) {
        if (tips[i] != 0) {
            fingers.push_back({250.0 + spacing * i, tips[i] + 230.0, 140.0, 230.0, 0.0});
        }
    }
    return segtest::Fingers(static_cast<int>(kSlapWidth), static_cast<int>(kSlapHeight), fingers);
}

struct SlapCase {
    const char* name;
    int tips[4];
    int spacing;
    SGM_HAND hand;
    bool rotated;
    int result;
    int codes[4]; // left to right
};

void PrintTo(const SlapCase& c, std::ostream* os)
{
    *os << c.name;
}

// Right hand: index, middle, ring, little from the left; the middle finger reaches highest
// and the little finger lowest. The left hand is its mirror image.
const SlapCase kSlapCases[] = {
    {"right_hand", {240, 130, 200, 380}, 320, SGM_HAND_UNKNOWN, false, SGM_FOUND, {2, 3, 4, 5}},
    {"right_hand_rotated",
     {240, 130, 200, 380},
     320,
     SGM_HAND_UNKNOWN,
     true,
     SGM_FOUND,
     {2, 3, 4, 5}},
    {"left_hand", {380, 200, 130, 240}, 320, SGM_HAND_UNKNOWN, false, SGM_FOUND, {10, 9, 8, 7}},
    {"right_hand_given", {240, 130, 200, 380}, 320, SGM_HAND_RIGHT, false, SGM_FOUND, {2, 3, 4, 5}},
    {"left_expected_right_found",
     {240, 130, 200, 380},
     320,
     SGM_HAND_LEFT_EXPECTED,
     false,
     SGM_HAND_CONTRADICTED,
     {2, 3, 4, 5}},
    // Overlapping fingers form one region that is cut between them.
    {"touching_fingers",
     {240, 130, 200, 380},
     260,
     SGM_HAND_UNKNOWN,
     false,
     SGM_FOUND,
     {2, 3, 4, 5}},
    {"touching_fingers_rotated",
     {380, 200, 130, 240},
     260,
     SGM_HAND_UNKNOWN,
     true,
     SGM_FOUND,
     {10, 9, 8, 7}},
};

class SyntheticSlap : public ::testing::TestWithParam<SlapCase> {};

TEST_P(SyntheticSlap, GivesOneRectanglePerFingerWithItsCode)
{
    const SlapCase& c = GetParam();
    std::vector<unsigned char> img = Slap(c.tips, c.spacing);
    const Outcome o = Segment(img, kSlapWidth, kSlapHeight, SGM_TYPE_SLAP, c.hand, c.rotated);
    ASSERT_EQ(o.result, c.result);
    ASSERT_EQ(o.count, 4u);
    std::vector<std::pair<int, int>> byX;
    for (unsigned i = 0; i < 4; ++i) {
        const SgmRect& r = o.rects[i];
        SCOPED_TRACE(i);
        EXPECT_TRUE(Inside(r, kSlapWidth, kSlapHeight));
        EXPECT_EQ(r.phalanx, 1);
        byX.push_back({CentreX(r), r.code});
    }
    std::sort(byX.begin(), byX.end());
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        // Each rectangle stands on its own finger.
        EXPECT_NEAR(byX[i].first, 250 + c.spacing * i, 60);
        EXPECT_EQ(byX[i].second, c.codes[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(FSeg, SyntheticSlap, ::testing::ValuesIn(kSlapCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct FewFingersCase {
    const char* name;
    int tips[4];
    SGM_HAND hand;
    std::vector<SGM_FINGER> missing;
    std::vector<int> codes; // left to right
};

void PrintTo(const FewFingersCase& c, std::ostream* os)
{
    *os << c.name;
}

const FewFingersCase kFewFingerCases[] = {
    // Three fingers fit the three-finger rows of the right hand.
    {"right_without_little", {240, 130, 200, 0}, SGM_HAND_UNKNOWN, {}, {2, 3, 4}},
    // A lone finger is no slap: it takes the first code of the caller's hand not missing.
    {"lone_finger_right", {0, 200, 0, 0}, SGM_HAND_RIGHT, {}, {2}},
    {"lone_finger_left", {0, 200, 0, 0}, SGM_HAND_LEFT, {}, {10}},
    {"lone_finger_right_index_missing",
     {0, 200, 0, 0},
     SGM_HAND_RIGHT,
     {SGM_FINGER_RIGHT_INDEX},
     {3}},
    {"lone_finger_any_hand", {0, 200, 0, 0}, SGM_HAND_UNKNOWN, {}, {2}},
    {"lone_finger_all_missing",
     {0, 200, 0, 0},
     SGM_HAND_LEFT,
     {SGM_FINGER_LEFT_INDEX, SGM_FINGER_LEFT_MIDDLE, SGM_FINGER_LEFT_RING, SGM_FINGER_LEFT_LITTLE},
     {0}},
};

class SlapWithFewFingers : public ::testing::TestWithParam<FewFingersCase> {};

TEST_P(SlapWithFewFingers, CodesFollowTheHandAndTheMissingList)
{
    const FewFingersCase& c = GetParam();
    const unsigned w = kSlapWidth;
    const unsigned h = kSlapHeight;
    std::vector<unsigned char> img = Slap(c.tips);
    std::vector<SGM_FINGER> missing = c.missing;
    const Outcome o =
        Segment(img, w, h, SGM_TYPE_SLAP, c.hand, false, 500, 8,
                missing.empty() ? nullptr : missing.data(), static_cast<unsigned>(missing.size()));
    ASSERT_EQ(o.result, SGM_FOUND);
    ASSERT_EQ(o.count, c.codes.size());
    std::vector<std::pair<int, int>> byX;
    for (unsigned i = 0; i < o.count; ++i) {
        EXPECT_TRUE(Inside(o.rects[i], w, h));
        byX.push_back({CentreX(o.rects[i]), o.rects[i].code});
    }
    std::sort(byX.begin(), byX.end());
    for (std::size_t i = 0; i < byX.size(); ++i) {
        EXPECT_EQ(byX[i].second, c.codes[i]) << "finger " << i << " from the left";
    }
}

INSTANTIATE_TEST_SUITE_P(FSeg, SlapWithFewFingers, ::testing::ValuesIn(kFewFingerCases),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
