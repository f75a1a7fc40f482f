// Real four-finger slaps of the NIST card (WSQ, decoded here): one rectangle per finger, each
// on its finger, with the position codes of the hand printed on the card.

#include "segmentation/FSeg.h"
#include "tests/segmentation/seg_checks.h"
#include "tests/support/data_path.h"
#include "tests/support/wsq_file.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using segtest::Holds;
using zftest::DecodeWsqFile;

struct FingerSpot {
    int code;
    int x; // centre of the print on the card, input pixels
    int y;
};

struct RealSlapCase {
    const char* file;
    FingerSpot fingers[4];
};

void PrintTo(const RealSlapCase& c, std::ostream* os)
{
    *os << c.file;
}

// Print centres read off the card images.
const RealSlapCase kRealSlaps[] = {
    {"fp13", {{2, 269, 722}, {3, 550, 264}, {4, 928, 229}, {5, 1358, 573}}},
    {"fp14", {{10, 288, 783}, {9, 587, 311}, {8, 910, 173}, {7, 1284, 369}}},
};

class RealSlap : public ::testing::TestWithParam<RealSlapCase> {};

TEST_P(RealSlap, TurnedRectanglesLieOnTheFingersOfTheCardsHand)
{
    const RealSlapCase& c = GetParam();
    std::string path =
        zftest::SharedData(std::string("fingerprints/wsq/nist_a025/") + c.file + ".wsq");
    if (path.empty()) {
        path = zftest::TestData(std::string("wsq/") + c.file + ".wsq");
    }
    std::vector<unsigned char> img;
    int w = 0;
    int h = 0;
    if (!DecodeWsqFile(path, img, w, h)) {
        GTEST_SKIP() << "slap image " << c.file << " not found";
    }
    SgmRect rects[8] = {};
    unsigned count = 8;
    const int result = FSeg(img.data(), nullptr, static_cast<unsigned>(w), static_cast<unsigned>(h),
                            500, SGM_TYPE_SLAP, SGM_HAND_UNKNOWN, NIST_IMP_NONLIVESCAN_PLAIN, true,
                            nullptr, 0, rects, count);
    ASSERT_EQ(result, SGM_FOUND);
    ASSERT_EQ(count, 4u);
    for (int i = 0; i < 4; ++i) {
        const SgmRect& r = rects[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(r.code, c.fingers[i].code);
        EXPECT_EQ(r.phalanx, 1);
        // Around its own print and no other.
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(Holds(r, c.fingers[k].x, c.fingers[k].y), k == i) << "print " << k;
        }
        for (int v : {r.x1, r.x2, r.x3, r.x4}) {
            EXPECT_TRUE(v >= 0 && v < w);
        }
        for (int v : {r.y1, r.y2, r.y3, r.y4}) {
            EXPECT_TRUE(v >= 0 && v < h);
        }
    }
    // Told the other hand was expected, the rectangles stand and the call says so.
    const SGM_HAND other =
        c.fingers[0].code <= 5 ? SGM_HAND_LEFT_EXPECTED : SGM_HAND_RIGHT_EXPECTED;
    count = 8;
    EXPECT_EQ(FSeg(img.data(), nullptr, static_cast<unsigned>(w), static_cast<unsigned>(h), 500,
                   SGM_TYPE_SLAP, other, NIST_IMP_NONLIVESCAN_PLAIN, true, nullptr, 0, rects,
                   count),
              SGM_HAND_CONTRADICTED);
    EXPECT_EQ(count, 4u);
}

INSTANTIATE_TEST_SUITE_P(FSeg, RealSlap, ::testing::ValuesIn(kRealSlaps),
                         [](const auto& p) { return std::string(p.param.file); });

} // namespace
