// Known-answer and robustness tests of the 8-bit toolkit: conversions, crops, levels, blur
// and window sums. Expected values are worked out by hand on tiny images.

#include "imaging/graph8.h"

#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(Convert, EightToThirtyTwoAndBackRestoresTheBytesInPlace)
{
    const unsigned n = 37;
    std::vector<int> buf(n);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(buf.data());
    for (unsigned i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 200);
    }
    ConvertImg8To32(buf.data(), n);
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_EQ(buf[i], static_cast<unsigned char>(i * 7 + 200)) << i;
    }
    ConvertImg32To8(buf.data(), n);
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_EQ(bytes[i], static_cast<unsigned char>(i * 7 + 200)) << i;
    }
}

TEST(Convert, ThirtyTwoToEightKeepsTheLowByte)
{
    const int src[4] = {0, 255, 256 + 7, -1};
    unsigned char dst[4];
    ConvertImg32ToImg8(src, dst, 4);
    EXPECT_EQ(Bytes(dst, dst + 4), (Bytes{0, 255, 7, 255}));
    int back[4];
    ConvertImg8ToImg32(dst, back, 4);
    EXPECT_EQ(back[3], 255);
}

TEST(GetClone8, ReleasesTheOldCopyAndCopiesThePixels)
{
    const Bytes src{1, 2, 3, 4, 5, 6};
    unsigned char* copy = new unsigned char[3];
    EXPECT_EQ(GetClone8(src.data(), 3, 2, copy), 0); // ASan reports a leak of the old copy
    EXPECT_EQ(Bytes(copy, copy + 6), src);
    delete[] copy;
}

// A 4 x 3 image whose pixel (x, y) holds 10 * (y + 1) + x.
Bytes Grid4x3()
{
    Bytes img(12);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            img[y * 4 + x] = static_cast<unsigned char>(10 * (y + 1) + x);
        }
    }
    return img;
}

struct CropCase {
    const char* name;
    int x1, y1, x2, y2;
    Bytes expected; // row-major, fill = 99
};

void PrintTo(const CropCase& c, std::ostream* os)
{
    *os << c.name << " (" << c.x1 << "," << c.y1 << ")-(" << c.x2 << "," << c.y2 << ")";
}

const CropCase kCropCases[] = {
    {"inside", 1, 1, 2, 2, {21, 22, 31, 32}},
    {"both_sides", -1, 0, 4, 0, {99, 10, 11, 12, 13, 99}},
    {"above_and_below", 3, -1, 3, 3, {99, 13, 23, 33, 99}},
    {"wholly_left", -5, 0, -2, 1, Bytes(8, 99)},
    {"wholly_below", 0, 3, 1, 4, Bytes(4, 99)},
    {"one_pixel", 3, 2, 3, 2, {33}},
};

class Get2Rect : public ::testing::TestWithParam<CropCase> {};

TEST_P(Get2Rect, CopiesTheImagePartAndFillsTheRest)
{
    const CropCase& c = GetParam();
    const Bytes img = Grid4x3();
    Bytes out(c.expected.size() + 1, 0xEE);
    unsigned w = 0;
    unsigned h = 0;
    ASSERT_EQ(Get2Rect8(img.data(), 4, 3, c.x1, c.y1, c.x2, c.y2, out.data(), w, h, 99), 0);
    EXPECT_EQ(w, static_cast<unsigned>(c.x2 - c.x1 + 1));
    EXPECT_EQ(h, static_cast<unsigned>(c.y2 - c.y1 + 1));
    EXPECT_EQ(Bytes(out.begin(), out.end() - 1), c.expected);
    EXPECT_EQ(out.back(), 0xEE); // nothing past the output
}

INSTANTIATE_TEST_SUITE_P(Crop, Get2Rect, ::testing::ValuesIn(kCropCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Get2Rect8, ChecksGeometryBeforeTheOutputAndWritesTheSizeFirst)
{
    const Bytes img = Grid4x3();
    unsigned w = 77;
    unsigned h = 77;
    // An empty rectangle wins over a null output and leaves the size alone.
    EXPECT_EQ(Get2Rect8(img.data(), 4, 3, 2, 0, 1, 0, nullptr, w, h, 0), IMG_BAD_GEOMETRY);
    EXPECT_EQ(Get2Rect8(img.data(), 4, 3, 0, 2, 0, 1, nullptr, w, h, 0), IMG_BAD_GEOMETRY);
    EXPECT_EQ(w, 77u);
    EXPECT_EQ(h, 77u);
    EXPECT_EQ(Get2Rect8(img.data(), 4, 3, 0, 0, 2, 1, nullptr, w, h, 0), IMG_NO_OUTPUT);
    EXPECT_EQ(w, 3u);
    EXPECT_EQ(h, 2u);
    // A side too long for the size type is bad geometry, not a wrapped size.
    EXPECT_EQ(Get2Rect8(img.data(), 4, 3, INT_MIN, 0, INT_MAX, 0, nullptr, w, h, 0),
              IMG_BAD_GEOMETRY);
}

// A 60 x 40 image whose pixel (x, y) holds x + 2 * y (at most 137).
Bytes Ramp60x40()
{
    Bytes img(60 * 40);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x) {
            img[y * 60 + x] = static_cast<unsigned char>(x + 2 * y);
        }
    }
    return img;
}

TEST(Get3Rect8, UprightCornersArePlainCrops)
{
    const Bytes img = Ramp60x40();
    Bytes a(40 * 20);
    Bytes b(40 * 20);
    unsigned w = 0;
    unsigned h = 0;
    ASSERT_EQ(Get3Rect8(img.data(), 60, 40, 10, 10, 49, 10, 10, 29, a.data(), w, h, 255), 0);
    EXPECT_EQ(w, 40u);
    EXPECT_EQ(h, 20u);
    ASSERT_EQ(Get2Rect8(img.data(), 60, 40, 10, 10, 49, 29, b.data(), w, h, 255), 0);
    EXPECT_EQ(a, b);
}

TEST(Get3Rect8, QuarterTurnSizesEachSideFromItsSignedDifferences)
{
    // Top side (10,10)-(10,29): sqrt(1^2 + 20^2), 20 pixels. Left side (10,10)-(-9,10):
    // sqrt((-19 + 1)^2 + 1^2), 18 pixels: the side running left loses two pixels.
    const Bytes img = Ramp60x40();
    Bytes out(20 * 18, 0);
    unsigned w = 0;
    unsigned h = 0;
    ASSERT_EQ(Get3Rect8(img.data(), 60, 40, 10, 10, 10, 29, -9, 10, out.data(), w, h, 255), 0);
    ASSERT_EQ(w, 20u);
    ASSERT_EQ(h, 18u);
    int filled = 0;
    for (int j = 0; j < 18; ++j) {
        for (int i = 0; i < 20; ++i) {
            SCOPED_TRACE(testing::Message() << "i " << i << " j " << j);
            const int column = 10 - j;
            const int expected = column < 0 ? 255 : column + 2 * (10 + i);
            EXPECT_EQ(out[j * 20 + i], expected);
            filled += column < 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(filled, 7 * 20);
}

TEST(Get3Rect8, CopiesTheLastRowAndColumnAndFillsBeyond)
{
    // A half turn about (3, 2) of a 4 x 3 image, 4 x 4 output (sides sqrt(4^2 + 1) each): the
    // samples run back over the image from its last column and row, whose pixels are copied, and
    // off its left and top.
    const Bytes img = Grid4x3();
    Bytes out(16, 0);
    unsigned w = 0;
    unsigned h = 0;
    ASSERT_EQ(Get3Rect8(img.data(), 4, 3, 3, 2, -2, 2, 3, -3, out.data(), w, h, 99), 0);
    ASSERT_EQ(w, 4u);
    ASSERT_EQ(h, 4u);
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            const int x = 3 - i;
            const int y = 2 - j;
            if (x == 0) {
                continue; // these samples land within rounding of the image's left edge
            }
            const int expected = (x < 0 || y < 0) ? 99 : img[y * 4 + x];
            EXPECT_EQ(out[j * 4 + i], expected) << i << "," << j;
        }
    }
}

TEST(Get3Rect8, WritesTheSizeBeforeRefusingANullOutput)
{
    const Bytes img = Grid4x3();
    unsigned w = 0;
    unsigned h = 0;
    EXPECT_EQ(Get3Rect8(img.data(), 4, 3, 0, 0, 2, 2, -2, 2, nullptr, w, h, 0), IMG_NO_OUTPUT);
    EXPECT_EQ(w, 4u); // round(sqrt(3^2 + 3^2))
    EXPECT_EQ(h, 3u); // round(sqrt((-2 + 1)^2 + 3^2))
}

struct ShiftCase {
    int k;
    unsigned char mul;
    unsigned char div;
};

TEST(ArrShift, KeepsTheLowByteAndEmptiesBeyondItsWidth)
{
    const ShiftCase cases[] = {{0, 200, 200}, {1, 144, 100}, {3, 64, 25}, {8, 0, 0}, {40, 0, 0}};
    for (const ShiftCase& c : cases) {
        SCOPED_TRACE(c.k);
        unsigned char a = 200;
        unsigned char b = 200;
        ArrMul8(&a, 1, c.k);
        ArrDiv8(&b, 1, c.k);
        EXPECT_EQ(a, c.mul);
        EXPECT_EQ(b, c.div);
    }
}

TEST(ArrNormalize256_8, StretchesTheRangeAndLeavesFullOrFlatArrays)
{
    Bytes a{10, 20, 30};
    ArrNormalize256_8(a.data(), 3);
    EXPECT_EQ(a, (Bytes{0, 127, 255})); // step 0xFF0000 / 20 = 835584
    Bytes b{0, 50, 100};
    ArrNormalize256_8(b.data(), 3);
    EXPECT_EQ(b, (Bytes{0, 127, 254})); // step 167116 truncates 100 to 254
    for (const Bytes& same : {Bytes{0, 7, 255}, Bytes{9, 9, 9}}) {
        Bytes c = same;
        ArrNormalize256_8(c.data(), 3);
        EXPECT_EQ(c, same);
    }
}

TEST(ArrAutoLevels8, ClipsPercentagesOfThePixels)
{
    Bytes a(100);
    for (int i = 0; i < 100; ++i) {
        a[i] = static_cast<unsigned char>(i);
    }
    ArrAutoLevels8(a.data(), 100, 10, 10); // lo = 9, hi = 90, step 0xFF0000 / 81
    EXPECT_EQ(a[9], 0);
    EXPECT_EQ(a[10], 3);
    EXPECT_EQ(a[50], 129);
    EXPECT_EQ(a[89], 251);
    EXPECT_EQ(a[90], 255);
}

TEST(ArrAutoLevels8, PercentagesAboveAHundredStopAtTheLastLevel)
{
    Bytes a{0, 100, 200, 255};
    ArrAutoLevels8(a.data(), 4, 300, 300); // lo = 255, hi = 0: the midpoint 127 separates them
    EXPECT_EQ(a, (Bytes{0, 0, 255, 255}));
}

TEST(ArrAutoLevelsC8, ConstantImageMeetsAtItsLevel)
{
    Bytes a(50, 100);
    ArrAutoLevelsC8(a.data(), 50, 10); // lo 101, hi 99 -> lo 100, hi 101
    EXPECT_EQ(a, Bytes(50, 0));
    Bytes b(50, 255);
    ArrAutoLevelsC8(b.data(), 50, 10); // lo 256, hi 254 -> lo 254, hi 255
    EXPECT_EQ(b, Bytes(50, 255));
}

TEST(ArrAutoLevelsC8, ZeroCountIsTheIdentityAndTheRampStartsOneLevelLater)
{
    Bytes a(256);
    for (int i = 0; i < 256; ++i) {
        a[i] = static_cast<unsigned char>(i);
    }
    Bytes b = a;
    ArrAutoLevelsC8(b.data(), 256, 0);
    EXPECT_EQ(b, a);
    ArrAutoLevelsC8(a.data(), 256, 10); // lo = 9 + 1, hi = 246 - 1
    EXPECT_EQ(a[10], 0);
    EXPECT_EQ(a[11], 1);
    EXPECT_EQ(a[244], 253);
    EXPECT_EQ(a[245], 255);
}

TEST(RampBytes, VectorStepsMatchTheLevelTableForEveryRamp)
{
    // Every level, in a scrambled order with a tail shorter than a vector step, through every
    // ramp 0 <= lo < hi <= 255.
    Bytes levels(3 * 256 + 7);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        levels[i] = static_cast<unsigned char>(i * 167 + i / 256);
    }
    for (int lo = 0; lo < 256; ++lo) {
        for (int hi = lo + 1; hi < 256; ++hi) {
            Bytes fast = levels;
            Bytes table = levels;
            imaging_detail::RampBytes(fast.data(), fast.size(), lo, hi);
            imaging_detail::RampBytesScalar(table.data(), table.size(), lo, hi);
            ASSERT_EQ(fast, table) << lo << ".." << hi;
        }
    }
}

TEST(ArrStatistics, SumMeanAndSearch)
{
    const Bytes a{1, 2, 4, 255};
    EXPECT_EQ(ArrGetSumm8(a.data(), 4), 262);
    EXPECT_EQ(ArrGetMean8(a.data(), 3), 2);
    EXPECT_EQ(ArrGetMean8(a.data(), 0), 0);
    EXPECT_TRUE(ArrValueExists8(a.data(), 4, 255));
    EXPECT_FALSE(ArrValueExists8(a.data(), 3, 255));
    EXPECT_FALSE(ArrValueExists8(a.data(), 0, 1));
    const Bytes big(10000000, 255); // sum beyond INT_MAX: still the mean
    EXPECT_EQ(ArrGetMean8(big.data(), static_cast<int>(big.size())), 255);
}

TEST(ArrSetMinMax8, StretchesBetweenTheLevelsAndIgnoresAnEmptyRange)
{
    Bytes a{0, 50, 51, 100, 149, 150, 255};
    ArrSetMinMax8(a.data(), 7, 50, 150); // step 0xFF00000 / 100 = 2673868
    EXPECT_EQ(a, (Bytes{0, 0, 2, 127, 252, 255, 255}));
    Bytes b{0, 100, 200};
    ArrSetMinMax8(b.data(), 3, 100, 100);
    EXPECT_EQ(b, (Bytes{0, 100, 200}));
}

TEST(Equalize8, DampsTextureDownToTheFloorOnly)
{
    // p = 100 with three neighbours of 40: S = 3 * 60, S / 6 = 30.
    Bytes a{100, 40, 40, 40};
    Equalize8(a.data(), 2, 2, 50);
    EXPECT_EQ(a, (Bytes{70, 40, 40, 40}));
    Bytes b{100, 40, 40, 40};
    Equalize8(b.data(), 2, 2, 80);
    EXPECT_EQ(b, (Bytes{80, 40, 40, 40}));
    Bytes c{30, 200, 200, 200}; // below the floor: untouched
    Equalize8(c.data(), 2, 2, 50);
    EXPECT_EQ(c, (Bytes{30, 200, 200, 200}));
}

TEST(Blur8, OneRowPeakSpreads)
{
    Bytes a{0, 0, 4, 0, 0};
    Blur8(a.data(), 5, 1, 1);
    EXPECT_EQ(a, (Bytes{1, 1, 2, 1, 1}));
    Bytes b{0, 0, 4, 0, 0};
    Blur8(b.data(), 5, 1, 0);
    EXPECT_EQ(b, (Bytes{0, 0, 4, 0, 0}));
}

TEST(Blur8, ColumnsAreSmoothedFromFourRows)
{
    // Rows 0,0,0 / 0,8,0 / 0,0,0 / 0,0,0: the row sweep gives 4,4,4 in row 1; the column
    // sweep turns each column 0,4,0,0 into 2,2,1,1. Three rows get no column sweep.
    Bytes a{0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
    Blur8(a.data(), 3, 4, 1);
    EXPECT_EQ(a, (Bytes{2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1}));
    Bytes b{0, 0, 0, 0, 8, 0, 0, 0, 0};
    Blur8(b.data(), 3, 3, 1);
    EXPECT_EQ(b, (Bytes{0, 0, 0, 4, 4, 4, 0, 0, 0}));
    Bytes c(7 * 6, 77);
    Blur8(c.data(), 7, 6, 5);
    EXPECT_EQ(c, Bytes(7 * 6, 77));
}

// A w x h sheet of sentinels with the rectangle's results checked separately.
constexpr unsigned char SENTINEL = 0xEE;

TEST(Summ3x3To8, WrapsTheSumAndCopiesItToTheRectangleBorder)
{
    const unsigned w = 7;
    const unsigned h = 6;
    const Bytes src(w * h, 30);
    Bytes dst(w * h, SENTINEL);
    Summ3x3To8(src.data(), w, h, 1, 1, 5, 4, dst.data());
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            const bool in = x >= 1 && x <= 5 && y >= 1 && y <= 4;
            EXPECT_EQ(dst[y * w + x], in ? 14 : SENTINEL) << x << "," << y; // 270 mod 256
        }
    }
    Bytes whole(w * h, SENTINEL);
    Summ3x3To8(src.data(), w, h, whole.data());
    EXPECT_EQ(whole, Bytes(w * h, 14));
}

TEST(Summ3x38To32, SumsOfARampWithCopiedBorders)
{
    // v(x, y) = x + 4y is linear, so each inner sum is nine times the centre.
    Bytes src(16);
    for (int i = 0; i < 16; ++i) {
        src[i] = static_cast<unsigned char>(i);
    }
    std::vector<int> dst(16, -1);
    Summ3x38To32(src.data(), 4, 4, 0, 0, 3, 3, dst.data());
    const std::vector<int> expected{45, 45, 54, 54, 45, 45, 54, 54, 81, 81, 90, 90, 81, 81, 90, 90};
    EXPECT_EQ(dst, expected);
}

TEST(Summ3x3To32, WrapsAroundIn32Bits)
{
    const std::vector<int> src(9, INT_MAX);
    std::vector<int> dst(9, 0);
    Summ3x3To32(src.data(), 3, 3, 0, 0, 2, 2, dst.data());
    EXPECT_EQ(dst, std::vector<int>(9, INT_MAX - 8)); // 9 (2^31 - 1) mod 2^32
}

TEST(Summ3x3QTo32, WeightedMeanTruncatesAndZeroWeightsCopyTheSource)
{
    std::vector<int> src{0, 5, 5, 5, -10, 5, 5, 5, 5};
    Bytes weight{2, 0, 0, 0, 1, 0, 0, 0, 0};
    std::vector<int> dst(9, 0);
    Summ3x3QTo32(src.data(), 3, 3, 0, 0, 2, 2, weight.data(), dst.data());
    EXPECT_EQ(dst, std::vector<int>(9, -3)); // -10 / 3
    const Bytes none(9, 0);
    Summ3x3QTo32(src.data(), 3, 3, 0, 0, 2, 2, none.data(), dst.data());
    EXPECT_EQ(dst, std::vector<int>(9, -10)); // the centre's own value, then the border copies
}

TEST(Blur3x3To8, BoxMeanTruncates)
{
    const Bytes src{1, 1, 1, 1, 9, 1, 1, 1, 1}; // 17 / 9
    Bytes dst(9, 0);
    Blur3x3To8(src.data(), 3, 3, 0, 0, 2, 2, dst.data());
    EXPECT_EQ(dst, Bytes(9, 1));
}

TEST(Sums3x3, InnerPixelsOfAnOffsetRectangleSumTheirOwnNinePixels)
{
    // Pixels that differ everywhere (and wrap the 8-bit sum), in rectangles off the edges: each
    // inner pixel must see exactly its own neighbourhood, the rectangle's border its inner
    // neighbour's value, and the sheet outside must stay untouched. The wide rows run sixteen
    // pixels at a time where vectors exist: rows of exactly sixteen inner pixels, a last step
    // that overlaps the one before, and rows longer than the vector kernel's column buffer.
    // Bands of 255 give the largest sums, 9 * 255.
    struct Case {
        unsigned w, h;
        int x1, y1, x2, y2;
    };
    const Case cases[] = {
        {11, 8, 2, 1, 9, 5},    {20, 6, 1, 1, 18, 4},   {40, 7, 0, 0, 39, 6},
        {300, 7, 3, 1, 290, 5}, {600, 5, 2, 0, 560, 4}, {530, 6, 0, 1, 274, 5},
    };
    std::uint32_t seed = 12345;
    for (const Case& c : cases) {
        const unsigned w = c.w;
        const unsigned h = c.h;
        Bytes src(w * h);
        for (unsigned i = 0; i < w * h; ++i) {
            const unsigned x = i % w;
            src[i] = x % 64 < 20 ? 255 : static_cast<unsigned char>(zftest::Lcg32(seed) >> 24);
        }
        auto nine = [&](int x, int y) {
            x = std::min(std::max(x, c.x1 + 1), c.x2 - 1);
            y = std::min(std::max(y, c.y1 + 1), c.y2 - 1);
            unsigned sum = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    sum += src[(y + dy) * w + (x + dx)];
                }
            }
            return sum;
        };
        Bytes sums(w * h, SENTINEL);
        Bytes means(w * h, SENTINEL);
        Summ3x3To8(src.data(), w, h, c.x1, c.y1, c.x2, c.y2, sums.data());
        Blur3x3To8(src.data(), w, h, c.x1, c.y1, c.x2, c.y2, means.data());
        for (int y = 0; y < static_cast<int>(h); ++y) {
            for (int x = 0; x < static_cast<int>(w); ++x) {
                const bool in = x >= c.x1 && x <= c.x2 && y >= c.y1 && y <= c.y2;
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                ASSERT_EQ(sums[i], in ? nine(x, y) % 256 : SENTINEL) << w << ": " << x << "," << y;
                ASSERT_EQ(means[i], in ? nine(x, y) / 9 : SENTINEL) << w << ": " << x << "," << y;
            }
        }
    }
}

TEST(Sums3x3, NarrowRectanglesUseTheirOwnClampedNeighbourhood)
{
    // A rectangle of one or two rows or columns has no inner pixel: each pixel sums its
    // neighbourhood clamped to the rectangle, and nothing outside it is read or written.
    const Bytes src{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<int> dst(12, -1);
    Summ3x38To32(src.data(), 4, 3, 1, 1, 1, 1, dst.data()); // one pixel: 9 * 6
    EXPECT_EQ(dst[5], 54);
    Summ3x38To32(src.data(), 4, 3, 0, 0, 3, 0, dst.data()); // one row 1 2 3 4
    EXPECT_EQ(std::vector<int>(dst.begin(), dst.begin() + 4), (std::vector<int>{12, 18, 27, 33}));
    EXPECT_EQ(dst[4], -1);
    Bytes blur(12, SENTINEL);
    Blur3x3To8(src.data(), 4, 3, 2, 0, 3, 2, blur.data()); // two columns
    // (2,0): columns 2,2,3 of rows 0,0,1 = 3+3+4 + 3+3+4 + 7+7+8 = 42 -> 4
    EXPECT_EQ(blur[2], 4);
    EXPECT_EQ(blur[0], SENTINEL);
    EXPECT_EQ(blur[1], SENTINEL);
}

TEST(SummToL32, WindowMeansFloorAndBandsAreOne)
{
    // L = 2: results at (x + 1, y + 1); row 0 and column 0 are the bands.
    std::vector<int> src(16, 0);
    src[1 * 4 + 1] = -5;
    std::vector<int> dst(16, 7);
    ASSERT_EQ(SummToL32(src.data(), 4, 4, 0, 0, 3, 3, 1, dst.data()), 0);
    const std::vector<int> expected{1, 1, 1, 1, 1, -2, -2, 0, 1, -2, -2, 0, 1, 0, 0, 0};
    EXPECT_EQ(dst, expected);
}

TEST(SummToL32, BandsOfAWindowOfSixteen)
{
    const unsigned n = 20;
    const std::vector<int> src(n * n, 5);
    std::vector<int> dst(n * n, 0);
    ASSERT_EQ(SummToL32(src.data(), n, n, 0, 0, 19, 19, 4, dst.data()), 0);
    for (unsigned y = 0; y < n; ++y) {
        for (unsigned x = 0; x < n; ++x) {
            const bool reached = x >= 8 && x <= 12 && y >= 8 && y <= 12; // 8 before, 7 after
            EXPECT_EQ(dst[y * n + x], reached ? 5 : 1) << x << "," << y;
        }
    }
}

TEST(AutoLevelsToL8, ModeWithTheLowestLevelOnTies)
{
    const Bytes src{3, 7, 7, 3, 9, 9, 1, 1, 9};
    Bytes dst(9, 0);
    ASSERT_EQ(AutoLevelsToL8(src.data(), 3, 3, 0, 0, 2, 2, 1, dst.data()), 0);
    EXPECT_EQ(dst, (Bytes{1, 1, 1, 1, 3, 7, 1, 1, 9}));
}

TEST(WindowOperations, CheckGeometryBeforeTheOutput)
{
    const Bytes img(10 * 40, 0);
    const std::vector<int> ints(10 * 40, 0);
    Bytes out(10 * 40);
    EXPECT_EQ(AutoLevelsToL8(img.data(), 10, 40, 0, 0, 9, 39, 4, out.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(AutoLevelsToL8(img.data(), 10, 40, 0, 0, 9, 39, 4, nullptr), IMG_BAD_GEOMETRY);
    EXPECT_EQ(AutoLevelsToL8(img.data(), 10, 40, 0, 0, 9, 39, 2, nullptr), IMG_NO_OUTPUT);
    EXPECT_EQ(AutoLevelsToL8(img.data(), 10, 40, 0, 0, 10, 39, 2, out.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(SummToL32(ints.data(), 10, 40, 5, 0, 4, 39, 2, nullptr), IMG_BAD_GEOMETRY);
    EXPECT_EQ(SummToL32(ints.data(), 10, 40, 0, 0, 9, 39, -1, nullptr), IMG_BAD_GEOMETRY);
    EXPECT_EQ(SummToL32(ints.data(), 10, 40, 0, 0, 9, 39, 2, nullptr), IMG_NO_OUTPUT);
}

// Every function on the smallest images and flat content: no sanitizer report, and the
// flat images keep sensible values.
TEST(Degenerate, SmallAndFlatImagesAreSafe)
{
    const unsigned sizes[][2] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 3}, {2, 7}};
    int runs = 0;
    for (const auto& size : sizes) {
        for (const unsigned char level : {0, 255}) {
            const unsigned w = size[0];
            const unsigned h = size[1];
            const int x2 = static_cast<int>(w) - 1;
            const int y2 = static_cast<int>(h) - 1;
            SCOPED_TRACE(testing::Message() << w << "x" << h << " level " << int(level));
            const Bytes src(w * h, level);
            const std::vector<int> ints(w * h, level);
            Bytes img = src;
            std::vector<int> out32(w * h);
            Bytes out(w * h);
            unsigned ow = 0;
            unsigned oh = 0;
            Blur8(img.data(), w, h, 3);
            EXPECT_EQ(img, src);
            Equalize8(img.data(), w, h, 0);
            EXPECT_EQ(img, src);
            Summ3x3To8(src.data(), w, h, out.data());
            Summ3x38To32(src.data(), w, h, 0, 0, x2, y2, out32.data());
            EXPECT_EQ(out32, std::vector<int>(w * h, 9 * level));
            Summ3x3To32(ints.data(), w, h, 0, 0, x2, y2, out32.data());
            Summ3x3QTo32(ints.data(), w, h, 0, 0, x2, y2, src.data(), out32.data());
            Blur3x3To8(src.data(), w, h, 0, 0, x2, y2, out.data());
            EXPECT_EQ(out, src);
            EXPECT_EQ(SummToL32(ints.data(), w, h, 0, 0, x2, y2, 1, out32.data()), 0);
            EXPECT_EQ(AutoLevelsToL8(src.data(), w, h, 0, 0, x2, y2, 0, out.data()), 0);
            EXPECT_EQ(out, src); // a window of one pixel is its own mode
            EXPECT_EQ(Get2Rect8(src.data(), w, h, -1, -1, x2 + 1, y2 + 1, nullptr, ow, oh, 0),
                      IMG_NO_OUTPUT);
            Bytes crop(ow * oh);
            EXPECT_EQ(Get2Rect8(src.data(), w, h, -1, -1, x2 + 1, y2 + 1, crop.data(), ow, oh, 0),
                      0);
            Bytes turned(64 * 64);
            EXPECT_EQ(
                Get3Rect8(src.data(), w, h, 0, 0, x2, y2 + 1, -1, 0, turned.data(), ow, oh, 0), 0);
            unsigned char* clone = nullptr;
            EXPECT_EQ(GetClone8(src.data(), w, h, clone), 0);
            EXPECT_EQ(Bytes(clone, clone + w * h), src);
            delete[] clone;
            img = src;
            ArrNormalize256_8(img.data(), w * h);
            ArrAutoLevels8(img.data(), w * h, 5, 5);
            ArrAutoLevelsC8(img.data(), w * h, 10000);
            ArrSetMinMax8(img.data(), w * h, 10, 20);
            ++runs;
        }
    }
    EXPECT_EQ(runs, 12);
}

} // namespace
