// Known-answer and robustness tests of the binary toolkit: binarisations, mask clean-up,
// flood fill (against a plain reference fill on random masks), block-mask fills, pixel lists
// and line probes. Masks are drawn as text: '.' 0, '#' 1, digits their value.

#include "imaging/graph8_bin.h"
#include "tests/support/data_path.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Rows of equal length; '.' is 0, '#' is 1, a digit is its value.
Bytes Mask(const std::vector<std::string>& rows)
{
    Bytes m;
    for (const std::string& r : rows) {
        for (char c : r) {
            m.push_back(c == '.' ? 0 : c == '#' ? 1 : static_cast<unsigned char>(c - '0'));
        }
    }
    return m;
}

unsigned Width(const std::vector<std::string>& rows)
{
    return static_cast<unsigned>(rows[0].size());
}

unsigned Height(const std::vector<std::string>& rows)
{
    return static_cast<unsigned>(rows.size());
}

// Fixed-seed xorshift32.
struct XorShift {
    std::uint32_t s;
    std::uint32_t Next() { return zftest::XorShift32(s); }
};

TEST(Binarization8, ThresholdIsTheMeanInclusive)
{
    Bytes a{10, 20, 30, 40};
    Binarization8(a.data(), 2, 2);
    EXPECT_EQ(a, (Bytes{0, 0, 1, 1}));
    Bytes b{10, 20, 30};
    Binarization8(b.data(), 3, 1); // mean 20 is bright
    EXPECT_EQ(b, (Bytes{0, 1, 1}));
}

TEST(BinarizationC8, FixedThresholds)
{
    Bytes a{0, 99, 100, 255};
    BinarizationC8(a.data(), 4, 1, 100);
    EXPECT_EQ(a, (Bytes{0, 0, 1, 1}));
    Bytes b{0, 7, 255};
    BinarizationC8(b.data(), 3, 1, 0);
    EXPECT_EQ(b, (Bytes{1, 1, 1}));
}

TEST(BinarizationN8, ThresholdAnEighthBelowTheMaximum)
{
    Bytes a{0, 223, 224, 255}; // t = 255 - 31
    BinarizationN8(a.data(), 2, 2);
    EXPECT_EQ(a, (Bytes{0, 0, 1, 1}));
    Bytes one{77};
    BinarizationN8(one.data(), 1, 1);
    EXPECT_EQ(one, Bytes{1});
}

TEST(BinarizationX8, MixesColumnAndRowMeansInsideTheRectangle)
{
    // Rectangle (1,1)-(2,2) of 0 90 / 90 90, framed by 200s that must not change.
    // Column means 45, 90 and row means 45, 90 give thresholds 44, 69 / 64, 89.
    Bytes a{200, 200, 200, 200, 200, 0, 90, 200, 200, 90, 90, 200, 200, 200, 200, 200};
    EXPECT_EQ(BinarizationX8(a.data(), 4, 4, 1, 1, 2, 2), 0);
    EXPECT_EQ(a, (Bytes{200, 200, 200, 200, 200, 0, 1, 200, 200, 1, 1, 200, 200, 200, 200, 200}));
    Bytes flat(12, 90); // threshold ((90 + 90 + 22) * 4) / 9 = 89
    EXPECT_EQ(BinarizationX8(flat.data(), 4, 3, 0, 0, 3, 2), 0);
    EXPECT_EQ(flat, Bytes(12, 1));
    EXPECT_EQ(BinarizationX8(flat.data(), 4, 3, 0, 0, 4, 2), IMG_BAD_GEOMETRY);
}

TEST(BinarizationToL8, StrictlyAboveTheWindowMean)
{
    // L = 2: window means 4, 5 / 5, 3 land on (1,1), (2,1), (1,2), (2,2); row 0 and
    // column 0 are bands of 1. The source is 4 x 4 but only (0,0)-(2,2) is asked for.
    const Bytes src{0, 4, 8, 50, 4, 8, 0, 50, 8, 0, 4, 50, 50, 50, 50, 50};
    Bytes dst(16, 0xEE);
    ASSERT_EQ(BinarizationToL8(src.data(), 4, 4, 0, 0, 2, 2, 1, dst.data()), 0);
    const Bytes expected{1, 1, 1, 0xEE, 1, 1, 0, 0xEE, 1, 0, 1, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(dst, expected);
}

TEST(BinarizationToL8, ConstantImageIsDarkInsideAndBrightInTheBands)
{
    const unsigned w = 20;
    const unsigned h = 18;
    const Bytes src(w * h, 128);
    Bytes dst(w * h, 0xEE);
    ASSERT_EQ(BinarizationToL8(src.data(), w, h, 0, 0, 19, 17, 4, dst.data()), 0);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            const bool reached = x >= 8 && x <= 12 && y >= 8 && y <= 10;
            EXPECT_EQ(dst[y * w + x], reached ? 0 : 1) << x << "," << y;
        }
    }
}

TEST(BinarizationToL8, ChecksTheWindowBeforeTheOutput)
{
    const Bytes src(15 * 100, 0);
    Bytes dst(15 * 100, 0xEE);
    EXPECT_EQ(BinarizationToL8(src.data(), 15, 100, 0, 0, 14, 99, 4, dst.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(dst, Bytes(15 * 100, 0xEE));
    EXPECT_EQ(BinarizationToL8(src.data(), 15, 100, 0, 0, 14, 99, 4, nullptr), IMG_BAD_GEOMETRY);
    EXPECT_EQ(BinarizationToL8(src.data(), 15, 100, 0, 0, 14, 99, 3, nullptr), IMG_NO_OUTPUT);
    EXPECT_EQ(BinarizationToL8(src.data(), 15, 100, 0, 0, 15, 99, 3, dst.data()), IMG_BAD_GEOMETRY);
}

TEST(BinarizationOtsu8, SplitsAtTheFirstBestLevel)
{
    Bytes two{40, 200, 40, 200, 40, 40};
    BinarizationOtsu8(two.data(), 3, 2);
    EXPECT_EQ(two, (Bytes{0, 1, 0, 1, 0, 0}));
    Bytes three{10, 20, 200, 10, 20, 200, 10, 20, 200}; // dark class 10..20
    BinarizationOtsu8(three.data(), 3, 3);
    EXPECT_EQ(three, (Bytes{0, 0, 1, 0, 0, 1, 0, 0, 1}));
    Bytes flat(5, 90);
    BinarizationOtsu8(flat.data(), 5, 1);
    EXPECT_EQ(flat, Bytes(5, 0));
}

TEST(BinaryOps, NotAndAnd)
{
    const Bytes src{0, 1, 2, 255, 0, 1, 2};
    Bytes out(7);
    Binary_NOT_To8(src.data(), 7, 1, out.data());
    EXPECT_EQ(out, (Bytes{1, 0, 3, 254, 1, 0, 3}));
    Binary_NOT8(out.data(), 7, 1);
    EXPECT_EQ(out, src);
    Bytes a{0, 1, 1, 3, 6};
    const Bytes b{1, 0, 1, 6, 255};
    Binary_AND8(a.data(), b.data(), 5, 1);
    EXPECT_EQ(a, (Bytes{0, 0, 1, 2, 6}));
}

TEST(GetBounds8, BoxOfAColourOrMinusOne)
{
    const std::vector<std::string> rows{"......", "...3..", ".3....", "....3.", "......"};
    const Bytes m = Mask(rows);
    int l = 0, t = 0, r = 0, b = 0;
    GetBounds8(m.data(), Width(rows), Height(rows), 3, l, t, r, b);
    EXPECT_EQ(l, 1);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(r, 4);
    EXPECT_EQ(b, 3);
    GetBounds8(m.data(), Width(rows), Height(rows), 9, l, t, r, b);
    EXPECT_EQ(l, -1);
    EXPECT_EQ(t, -1);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(b, -1);
}

TEST(Border8, DrawsTheFrameOfAnySize)
{
    Bytes a(12, 0);
    Border8(a.data(), 4, 3, 1);
    EXPECT_EQ(a, Mask({"####", "#..#", "####"}));
    Bytes row(5, 0);
    Border8(row.data(), 5, 1, 7);
    EXPECT_EQ(row, Bytes(5, 7));
    Bytes one{0};
    Border8(one.data(), 1, 1, 7);
    EXPECT_EQ(one, Bytes{7});
}

// Reference 4-connected fill: repeated relaxation until nothing changes.
void ReferenceFill(Bytes& m, unsigned w, unsigned h, unsigned seed, unsigned char colour)
{
    const unsigned char old = m[seed];
    if (old == colour) {
        return;
    }
    m[seed] = colour;
    for (bool changed = true; changed;) {
        changed = false;
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 0; x < w; ++x) {
                unsigned char& p = m[y * w + x];
                if (p != old) {
                    continue;
                }
                const bool touches = (x > 0 && m[y * w + x - 1] == colour) ||
                                     (x + 1 < w && m[y * w + x + 1] == colour) ||
                                     (y > 0 && m[(y - 1) * w + x] == colour) ||
                                     (y + 1 < h && m[(y + 1) * w + x] == colour);
                if (touches) {
                    p = colour;
                    changed = true;
                }
            }
        }
    }
}

TEST(Fill8, AgreesWithAReferenceFillOnRandomMasks)
{
    XorShift rng{0x2545F491u};
    int compared = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const unsigned w = 1 + rng.Next() % 24;
        const unsigned h = 1 + rng.Next() % 24;
        const unsigned density = 30 + rng.Next() % 50; // percent of 0 pixels
        Bytes m(w * h);
        for (unsigned char& p : m) {
            p = rng.Next() % 100 < density ? 0 : 1;
        }
        if (trial % 2 == 0) {
            Border8(m.data(), w, h, 1); // the callers' framed masks
        }
        const unsigned seed = rng.Next() % (w * h);
        const unsigned char colour = static_cast<unsigned char>(10 + trial % 240);
        Bytes expected = m;
        ReferenceFill(expected, w, h, seed, colour);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " " << w << "x" << h);
        ASSERT_EQ(Fill8(m.data(), w, h, m.data() + seed, colour), 0);
        ASSERT_EQ(m, expected);
        ++compared;
    }
    EXPECT_EQ(compared, 400);
}

TEST(Fill8, OnePixelRegionAndUShape)
{
    Bytes one = Mask({"###", "#.#", "###"});
    ASSERT_EQ(Fill8(one.data(), 3, 3, one.data() + 4, 9), 0);
    EXPECT_EQ(one, Mask({"###", "#9#", "###"}));
    const std::vector<std::string> rows{"#######", "#.###.#", "#.###.#", "#.....#", "#######"};
    Bytes u = Mask(rows);
    ASSERT_EQ(Fill8(u.data(), 7, 5, u.data() + 7 + 5, 9), 0); // seeded in the right arm
    EXPECT_EQ(u, Mask({"#######", "#9###9#", "#9###9#", "#99999#", "#######"}));
}

TEST(Fill8, RefusesASeedOutsideTheImageAndKeepsARegionOfTheFillColour)
{
    Bytes m = Mask({"...", "..."});
    EXPECT_EQ(Fill8(m.data(), 3, 2, m.data() + 6, 9), IMG_BAD_GEOMETRY);
    EXPECT_EQ(Fill8(m.data(), 3, 2, nullptr, 9), IMG_BAD_GEOMETRY);
    EXPECT_EQ(Fill8(m.data(), 3, 2, m.data(), 0), 0);
    EXPECT_EQ(m, Bytes(6, 0));
}

TEST(Fill8, LargeSerpentineStaysWithinItsStack)
{
    // A one-pixel corridor winding through a 301 x 301 mask: the worst depth for a span fill.
    const unsigned n = 301;
    Bytes m(n * n, 1);
    for (unsigned y = 1; y + 1 < n; y += 2) {
        for (unsigned x = 1; x + 1 < n; ++x) {
            m[y * n + x] = 0;
        }
        const unsigned link = (y / 2) % 2 == 0 ? n - 2 : 1;
        if (y + 2 < n - 1) {
            m[(y + 1) * n + link] = 0;
        }
    }
    ASSERT_EQ(Fill8(m.data(), n, n, m.data() + n + 1, 20), 0);
    for (unsigned i = 0; i < n * n; ++i) {
        ASSERT_NE(m[i], 0) << i;
    }
}

TEST(ChangeColors8, RecoloursTheRangeOnly)
{
    Bytes a{9, 10, 100, 252, 253, 254, 255};
    ChangeColors8(a.data(), 7, 1, 10, 252, 255);
    EXPECT_EQ(a, (Bytes{9, 255, 255, 255, 253, 254, 255}));
    ChangeColor8(a.data(), 7, 1, 255, 1);
    EXPECT_EQ(a, (Bytes{9, 1, 1, 1, 253, 254, 1}));
}

TEST(DeleteLines8, MarksRunsUpToTheLimitWithinTheRectangle)
{
    // Row 0: runs of 7 and 8; row 1: a run of 9 cut to 7 by the rectangle's right side.
    Bytes a = Mask({".......#........#", "#########........"});
    DeleteHLines8(a.data(), 17, 2, 0, 0, 15, 1, 0, 2, 7);
    EXPECT_EQ(a, Mask({"2222222#........#", "#########2222222."}));
    Bytes v = Mask({".#", ".#", ".#", "##", ".."});
    DeleteVLines8(v.data(), 2, 5, 0, 0, 1, 4, 0, 2, 3);
    EXPECT_EQ(v, Mask({"2#", "2#", "2#", "##", "22"}));
}

TEST(ExpandLines8, CutsANeckAcrossItsBand)
{
    const std::vector<std::string> rows{"############", "#....###...#", "#....###...#",
                                        "#..........#", "#....###...#", "#....###...#",
                                        "############"};
    Bytes a = Mask(rows);
    DeleteLines8(a.data(), 12, 7, 0, 0, 11, 6, 0, 2, 2);
    ExpandLines8(a.data(), 12, 7, 0, 1, 1);
    EXPECT_EQ(a, Mask({"############", "#....###...#", "#....###...#", "#....###...#",
                       "#....###...#", "#....###...#", "############"}));
}

TEST(ExpandLines8, RegrowsUpToTheLengthFromEachSide)
{
    Bytes a = Mask({"#.22222.#"});
    ExpandHLines8(a.data(), 9, 1, 0, 2);
    EXPECT_EQ(a, Mask({"#...2...#"}));
    Bytes b = Mask({"#..2222##"}); // colour on the left only
    ExpandHLines8(b.data(), 9, 1, 0, 2);
    EXPECT_EQ(b, Mask({"#....22##"}));
    Bytes c = Mask({"#", ".", "2", "2", "2", "#"});
    ExpandVLines8(c.data(), 1, 6, 0, 1);
    EXPECT_EQ(c, Mask({"#", ".", ".", "2", "2", "#"}));
}

TEST(ExpandLines8, MaskWithoutThinStripsIsUnchanged)
{
    const std::vector<std::string> rows{"##########", "#........#", "#........#", "#........#",
                                        "#...######", "#...######", "##########"};
    Bytes a = Mask(rows);
    DeleteLines8(a.data(), 10, 7, 0, 0, 9, 6, 0, 2, 2);
    ExpandLines8(a.data(), 10, 7, 0, 1, 2);
    EXPECT_EQ(a, Mask(rows));
}

TEST(FillCavities8, FillsEnclosedHolesAndKeepsBays)
{
    const std::vector<std::string> rows{"#########", "#.......#", "#..#....#", "#.......#",
                                        "#....##.#", "#....##.#", "######..#", "#########"};
    Bytes a = Mask(rows);
    FillCavities8(a.data(), 9, 8, 1, 0);
    EXPECT_EQ(a, Mask({"#########", "#.......#", "#.......#", "#.......#", "#.......#", "#.......#",
                       "######..#", "#########"}));
}

TEST(FillCavities8, EdgeMarksBoundNothingAndLengthIsLimited)
{
    // Unframed: the one-pixel 0 runs at the ends become marks, so the centre hole is not
    // enclosed with margin 1; with margin 0 it is.
    const std::vector<std::string> rows{"...", ".#.", "..."};
    Bytes a = Mask(rows);
    FillCavities8(a.data(), 3, 3, 1, 0);
    EXPECT_EQ(a, Mask(rows));
    Bytes b = Mask(rows);
    FillCavities8(b.data(), 3, 3, 0, 0);
    EXPECT_EQ(b, Bytes(9, 0));
    // A hole of three along rows and columns needs a limit above three.
    const std::vector<std::string> wide{"#######", "#.....#", "#.###.#", "#.###.#",
                                        "#.###.#", "#.....#", "#######"};
    Bytes c = Mask(wide);
    FillCavities8(c.data(), 7, 7, 0, 3);
    EXPECT_EQ(c, Mask(wide));
    FillCavities8(c.data(), 7, 7, 0, 4);
    EXPECT_EQ(c,
              Mask({"#######", "#.....#", "#.....#", "#.....#", "#.....#", "#.....#", "#######"}));
}

TEST(DeleteSpots8, KeepsRegionsThatHoldACross)
{
    const unsigned w = 100;
    const unsigned h = 60;
    Bytes m(w * h, 1);
    auto square = [&](unsigned x0, unsigned y0, unsigned side) {
        for (unsigned y = y0; y < y0 + side; ++y) {
            for (unsigned x = x0; x < x0 + side; ++x) {
                m[y * w + x] = 0;
            }
        }
    };
    square(5, 10, 40);  // kept
    square(60, 20, 14); // narrower than the cross of 16
    DeleteSpots8(m.data(), w, h, 1, 0, 16);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            const bool frame = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const bool big = x >= 5 && x < 45 && y >= 10 && y < 50;
            ASSERT_EQ(m[y * w + x], frame || big ? 0 : 1) << x << "," << y;
        }
    }
}

TEST(DeleteSpots8, SizeBelowTwoLeavesTheMask)
{
    for (const int size : {1, 0, -4}) {
        SCOPED_TRACE(size);
        Bytes m = Mask({"#.#", ".#.", "#.#"});
        DeleteSpots8(m.data(), 3, 3, 1, 0, size);
        EXPECT_EQ(m, Mask({"#.#", ".#.", "#.#"}));
    }
}

TEST(DeleteSpots4x4_8, FillsHolesUpToFourAndKeepsFive)
{
    for (unsigned side = 1; side <= 5; ++side) {
        SCOPED_TRACE(side);
        const unsigned n = 12;
        Bytes m(n * n, 7);
        for (unsigned y = 3; y < 3 + side; ++y) {
            for (unsigned x = 3; x < 3 + side; ++x) {
                m[y * n + x] = 0;
            }
        }
        const Bytes before = m;
        DeleteSpots4x4_8(m.data(), n, n, 0, 0, n - 1, n - 1);
        EXPECT_EQ(m, side <= 4 ? Bytes(n * n, 7) : before);
    }
}

TEST(FillSpaces8, ClearsRunsWhereTheReferenceIsClear)
{
    Bytes a = Mask({".##.", "#..#", ".##."});
    const Bytes ref = Mask({"....", "....", ".#.."});
    FillSpaces8(a.data(), ref.data(), 4, 3);
    // Row 0's run clears; row 2's is held by ref; columns 0 and 3 clear their middles.
    EXPECT_EQ(a, Mask({"....", "....", ".##."}));
}

TEST(ExpandTo8, GrowsZerosByOnePixel)
{
    Bytes src(25, 1);
    src[2 * 5 + 2] = 0;
    src[0] = 0;
    Bytes dst(25, 9);
    ExpandTo8(src.data(), 5, 5, dst.data());
    EXPECT_EQ(dst, Mask({"..###", "....#", "#...#", "#...#", "#####"}));
}

// A 7 x 5 image with blocks of 2: a 3 x 2 block grid, one partial column and row.
TEST(RoIFills, PaintTheRingOrTheOutside)
{
    const Bytes blocks{0, 1, 1, 1, 1, 1};
    Bytes ring(35, 9);
    EXPECT_EQ(FillAroundRoI8(ring.data(), 7, 5, 5, 1, blocks.data()), 0);
    EXPECT_EQ(ring, Mask({"9955999", "9955999", "5555999", "5555999", "9999999"}));
    Bytes outside(35, 9);
    FillIfNotInRoI8(outside.data(), 7, 5, 5, 1, blocks.data());
    EXPECT_EQ(outside, Mask({"9955555", "9955555", "5555555", "5555555", "5555555"}));
    Bytes tiny(6, 9); // no block row fits
    FillIfNotInRoI8(tiny.data(), 6, 1, 5, 1, blocks.data());
    EXPECT_EQ(tiny, Bytes(6, 5));
}

TEST(PixelLists, ListTheRegionOfInterestBlockByBlock)
{
    // 10 x 9 image of 0 with blocks of 4: block (0,0) and (1,1) are of interest.
    const unsigned w = 10;
    const unsigned h = 9;
    Bytes img(w * h, 0);
    const Bytes blocks{0, 1, 1, 0};
    std::vector<unsigned char*> list(w * h);
    unsigned char** cursor = list.data();
    GetPixelsAndFillOther(img.data(), w, h, 2, blocks.data(), cursor);
    std::vector<unsigned char*> expected;
    for (unsigned y = 1; y < 4; ++y) { // block (0,0) inside the frame
        for (unsigned x = 1; x < 4; ++x) {
            expected.push_back(img.data() + y * w + x);
        }
    }
    for (unsigned y = 4; y < 8; ++y) {
        for (unsigned x = 4; x < 8; ++x) {
            expected.push_back(img.data() + y * w + x);
        }
    }
    EXPECT_EQ(std::vector<unsigned char*>(list.data(), cursor), expected);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            const bool listed =
                (x >= 1 && x < 4 && y >= 1 && y < 4) || (x >= 4 && x < 8 && y >= 4 && y < 8);
            EXPECT_EQ(img[y * w + x], listed ? 0 : 1) << x << "," << y;
        }
    }
    cursor = list.data();
    GetPixels(img.data(), w, h, 0, cursor);
    ASSERT_EQ(cursor - list.data(), 25);
    EXPECT_EQ(list[0], img.data() + w + 1);
    EXPECT_EQ(list[3], img.data() + 2 * w + 1); // raster order
}

std::vector<std::string> Draw(unsigned w, unsigned h, int x1, int y1, int x2, int y2, int thickness)
{
    Bytes img(w * h, 0);
    if (thickness < 0) {
        Line8(img.data(), w, h, x1, y1, x2, y2, 1);
    } else {
        LineTh8(img.data(), w, h, x1, y1, x2, y2, 1, thickness);
    }
    std::vector<std::string> rows(h);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            rows[y] += img[y * w + x] ? '#' : '.';
        }
    }
    return rows;
}

TEST(Line8, WalksTheDigitalLine)
{
    EXPECT_EQ(Draw(5, 3, 0, 0, 4, 2, -1), (std::vector<std::string>{"##...", "..##.", "....#"}));
    EXPECT_EQ(Draw(3, 5, 0, 0, 2, 4, -1),
              (std::vector<std::string>{"#..", "#..", ".#.", ".#.", "..#"}));
    EXPECT_EQ(Draw(3, 2, 2, 1, 2, 1, -1), (std::vector<std::string>{"...", "..."}));
    // Off the image: only the pixels inside are drawn.
    EXPECT_EQ(Draw(4, 2, -3, 1, 6, 1, -1), (std::vector<std::string>{"....", "####"}));
}

TEST(LineProbes, CountAndSumAlongTheLine)
{
    const Bytes img = Mask({"#.##.", "...#.", "....."}); // (0,0)-(4,2): # . . # .
    Bytes m = img;
    EXPECT_EQ(IsLine8(m.data(), 5, 3, 0, 0, 4, 2, 1), 2);
    EXPECT_EQ(LineBr8(m.data(), 5, 3, 0, 0, 4, 2, 0), 3);
    EXPECT_EQ(LineN8(m.data(), 5, 3, 0, 0, 4, 2, 1), 3);
    EXPECT_EQ(LineCD8(m.data(), 5, 3, 0, 0, 4, 2, 5), 4 + 5 + 5 + 4 + 5);
    EXPECT_EQ(IsLine8(m.data(), 5, 3, 0, 0, 0, 0, 1), 0);
    EXPECT_EQ(LineN8(m.data(), 5, 3, 1, 1, 1, 1, 1), 0);
    EXPECT_EQ(LineCD8(m.data(), 5, 3, 0, 0, 0, 0, 1), -1);
    // Leaving the image: LineN8 counts the five pixels of row 1 only.
    EXPECT_EQ(LineN8(m.data(), 5, 3, -4, 1, 9, 1, 7), 5);
    EXPECT_EQ(m, img);
}

TEST(LineV8, SetsTheColumnSpan)
{
    Bytes a(12, 0);
    LineV8(a.data(), 3, 4, 1, 2, 2, 5);
    EXPECT_EQ(a, (Bytes{0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0}));
    LineV8(a.data(), 3, 4, 0, 3, 1, 5); // y2 < y1
    LineV8(a.data(), 3, 4, 2, -5, 99, 6);
    LineV8(a.data(), 3, 4, 3, 0, 3, 6); // column outside
    EXPECT_EQ(a, (Bytes{0, 0, 6, 0, 0, 6, 0, 5, 6, 0, 0, 6}));
}

TEST(LineTh8, PaintsRunsAcrossTheMajorDirectionInsideTheImage)
{
    // x-major line along row 5: thickness 6 paints rows 2..8, thickness 1 the row only.
    const std::vector<std::string> thick = Draw(9, 11, 1, 5, 7, 5, 6);
    const std::vector<std::string> thin = Draw(9, 11, 1, 5, 7, 5, 1);
    for (unsigned y = 0; y < 11; ++y) {
        SCOPED_TRACE(y);
        EXPECT_EQ(thick[y], y >= 2 && y <= 8 ? ".#######." : ".........");
        EXPECT_EQ(thin[y], y == 5 ? ".#######." : ".........");
    }
    // y-major line on the left edge: horizontal runs are clipped at column 0.
    const std::vector<std::string> edge = Draw(6, 3, 0, 0, 0, 2, 4);
    EXPECT_EQ(edge, (std::vector<std::string>{"###...", "###...", "###..."}));
    EXPECT_EQ(Draw(4, 4, 2, 2, 2, 2, 6), std::vector<std::string>(4, "...."));
}

TEST(BinarizationToL8, RealPrintsSplitRidgesAndValleysEvenly)
{
    int checked = 0;
    for (const char* name : {"101_1", "103_4", "106_2", "110_8"}) {
        SCOPED_TRACE(name);
        const std::string path =
            zftest::SharedData(std::string("fingerprints/fvc2002_db1_b/") + name + ".pgm");
        if (path.empty()) {
            GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
        }
        Bytes img;
        int w = 0;
        int h = 0;
        ASSERT_TRUE(zftest::ReadPgm(path, img, w, h));
        Bytes bin(img.size(), 0xEE);
        ASSERT_EQ(BinarizationToL8(img.data(), w, h, 0, 0, w - 1, h - 1, 4, bin.data()), 0);
        // The centre of a good print holds about as much ridge (0) as valley (1).
        int ridge = 0;
        int total = 0;
        for (int y = h / 2 - 60; y < h / 2 + 60; ++y) {
            for (int x = w / 2 - 60; x < w / 2 + 60; ++x) {
                ASSERT_LE(bin[y * w + x], 1);
                ridge += bin[y * w + x] == 0 ? 1 : 0;
                ++total;
            }
        }
        EXPECT_GT(ridge, total * 3 / 10);
        EXPECT_LT(ridge, total * 7 / 10);
        // Labelling every ridge of the framed image keeps to the image and leaves no 0.
        Border8(bin.data(), w, h, 1);
        unsigned char colour = 10;
        for (unsigned char& p : bin) {
            if (p == 0) {
                ASSERT_EQ(Fill8(bin.data(), w, h, &p, colour), 0);
                colour = colour == 253 ? 10 : colour + 1;
            }
        }
        EXPECT_FALSE(ArrValueExists8(bin.data(), bin.size(), 0));
        ++checked;
    }
    EXPECT_EQ(checked, 4);
}

// Every function on the smallest images and flat content, no sanitizer report.
TEST(Degenerate, SmallAndFlatMasksAreSafe)
{
    const unsigned sizes[][2] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 3}, {2, 7}};
    int runs = 0;
    for (const auto& size : sizes) {
        for (const unsigned char level : {0, 1, 255}) {
            const unsigned w = size[0];
            const unsigned h = size[1];
            const int x2 = static_cast<int>(w) - 1;
            const int y2 = static_cast<int>(h) - 1;
            SCOPED_TRACE(testing::Message() << w << "x" << h << " level " << int(level));
            const Bytes src(w * h, level);
            Bytes img = src;
            Bytes out(w * h);
            std::vector<unsigned char*> list(w * h);
            unsigned char** cursor = list.data();
            int l, t, r, b;
            Binarization8(img.data(), w, h);
            EXPECT_EQ(img, Bytes(w * h, 1));
            img = src;
            BinarizationN8(img.data(), w, h);
            BinarizationOtsu8(img.data(), w, h);
            EXPECT_EQ(img, Bytes(w * h, 0));
            img = src;
            EXPECT_EQ(BinarizationX8(img.data(), w, h, 0, 0, w - 1, h - 1), 0);
            EXPECT_EQ(BinarizationToL8(src.data(), w, h, 0, 0, x2, y2, 0, out.data()), 0);
            EXPECT_EQ(out, Bytes(w * h, 0)); // nothing is above its own mean
            GetBounds8(src.data(), w, h, level, l, t, r, b);
            EXPECT_EQ(r, x2);
            EXPECT_EQ(b, y2);
            img = src;
            EXPECT_EQ(Fill8(img.data(), w, h, img.data() + (w * h) / 2, 20), 0);
            EXPECT_EQ(img, Bytes(w * h, 20));
            img = src;
            DeleteLines8(img.data(), w, h, 0, 0, x2, y2, 0, 2, 7);
            ExpandLines8(img.data(), w, h, 0, 1, 2);
            FillCavities8(img.data(), w, h, 1, 0);
            EXPECT_FALSE(std::find(img.begin(), img.end(), 2) != img.end());
            DeleteSpots8(img.data(), w, h, 0, 1, 16);
            DeleteSpots4x4_8(img.data(), w, h, 0, 0, x2, y2);
            FillSpaces8(img.data(), src.data(), w, h);
            ExpandTo8(src.data(), w, h, out.data());
            EXPECT_EQ(out, src);
            EXPECT_EQ(FillAroundRoI8(img.data(), w, h, 5, 1, src.data()), 0);
            FillIfNotInRoI8(img.data(), w, h, 5, 1, src.data());
            GetPixelsAndFillOther(img.data(), w, h, 1, src.data(), cursor);
            GetPixels(img.data(), w, h, 1, cursor);
            EXPECT_LE(cursor - list.data(), static_cast<std::ptrdiff_t>(w * h));
            img = src;
            IsLine8(img.data(), w, h, -2, -2, x2 + 2, y2 + 2, 0);
            LineCD8(img.data(), w, h, -2, y2 + 2, x2 + 2, -2, 0);
            Line8(img.data(), w, h, -2, -2, x2 + 2, y2 + 2, 3);
            LineTh8(img.data(), w, h, -2, y2 + 2, x2 + 2, -2, 3, 6);
            LineV8(img.data(), w, h, 0, -3, y2 + 3, 3);
            ++runs;
        }
    }
    EXPECT_EQ(runs, 18);
}

} // namespace
