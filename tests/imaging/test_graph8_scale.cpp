// Resizing: decimation and replication on known patterns, resolution halving, box averages,
// canvas centring and the small or degenerate sizes.

#include "imaging/graph8_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// Pixel value that encodes its position: 16 y + x (images of at most 16 columns).
std::vector<unsigned char> Ramp(unsigned w, unsigned h)
{
    std::vector<unsigned char> img(w * h);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            img[y * w + x] = static_cast<unsigned char>(16 * y + x);
        }
    }
    return img;
}

TEST(ResizeDecFast8, TakesThePixelNearestEachBlockCentreAndDropsTheRest)
{
    struct Case {
        unsigned w, h;
        int n;
    };
    for (const Case& c : {Case{8, 8, 0}, Case{8, 8, 1}, Case{11, 7, 1}, Case{16, 13, 2},
                          Case{3, 3, 2}, Case{1, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " n " << c.n);
        const auto src = Ramp(c.w, c.h);
        auto img = src;
        unsigned w = c.w;
        unsigned h = c.h;
        ASSERT_EQ(ResizeDecFast8(img.data(), w, h, c.n), 0);
        EXPECT_EQ(w, c.w >> c.n);
        EXPECT_EQ(h, c.h >> c.n);
        const unsigned o = c.n == 0 ? 0 : 1u << (c.n - 1);
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 0; x < w; ++x) {
                EXPECT_EQ(img[y * w + x], src[((y << c.n) + o) * c.w + (x << c.n) + o]);
            }
        }
    }
    unsigned w = 4;
    unsigned h = 4;
    std::vector<unsigned char> img(16);
    EXPECT_EQ(ResizeDecFast8(img.data(), w, h, 16), IMG_BAD_GEOMETRY);
    EXPECT_EQ(ResizeDecFast8(img.data(), w, h, -1), IMG_BAD_GEOMETRY);
    EXPECT_EQ(ResizeDecFastTo8(img.data(), w, h, 1, nullptr), IMG_NO_OUTPUT);
    EXPECT_EQ(w, 4u);
}

TEST(ResizeIncFast8, ReplicatesInPlaceAndDecimationGivesItBack)
{
    const unsigned w0 = 5;
    const unsigned h0 = 3;
    const auto src = Ramp(w0, h0);
    std::vector<unsigned char> img(w0 * h0 * 16, 0xEE);
    std::copy(src.begin(), src.end(), img.begin());
    unsigned w = w0;
    unsigned h = h0;
    ASSERT_EQ(ResizeFast8(img.data(), w, h, 2), 0);
    ASSERT_EQ(w, 20u);
    ASSERT_EQ(h, 12u);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            ASSERT_EQ(img[y * w + x], src[(y / 4) * w0 + x / 4]) << x << "," << y;
        }
    }
    ASSERT_EQ(ResizeFast8(img.data(), w, h, -2), 0);
    EXPECT_EQ(std::vector<unsigned char>(img.begin(), img.begin() + w0 * h0), src);
    EXPECT_EQ(ResizeFast8(img.data(), w, h, 0), 0);
    EXPECT_EQ(w, w0);

    // A width that is not a multiple of 2^n loses its last columns for good.
    unsigned w2 = 5;
    unsigned h2 = 2;
    auto odd = Ramp(5, 2);
    ResizeDecFast8(odd.data(), w2, h2, 1);
    ResizeIncFast8(odd.data(), w2, h2, 1);
    EXPECT_EQ(w2, 4u);

    unsigned big = 70000;
    unsigned tall = 70000;
    EXPECT_EQ(ResizeIncFast8(img.data(), big, tall, 1), IMG_BAD_GEOMETRY);
}

TEST(ResizeDecFastForDPI8, HalvesUntilTheTargetIsReached)
{
    struct Case {
        int dpi, target, halvings;
    };
    for (const Case& c : {Case{500, 200, 2}, Case{1000, 500, 1}, Case{500, 500, 0},
                          Case{300, 500, 0}, Case{500, 50, 4}, Case{500, 0, 0}, Case{500, -3, 0}}) {
        SCOPED_TRACE(testing::Message() << c.dpi << " -> " << c.target);
        auto img = Ramp(16, 16);
        unsigned w = 16;
        unsigned h = 16;
        EXPECT_EQ(ResizeDecFastForDPI8(img.data(), w, h, c.dpi, c.target), c.halvings);
        EXPECT_EQ(w, 16u >> c.halvings);
        EXPECT_EQ(h, 16u >> c.halvings);
    }
}

TEST(ResizeDecLinearTo8, BoxAveragesAndRefusesGrowth)
{
    const auto src = Ramp(6, 4);
    std::vector<unsigned char> dst(24, 0);
    ASSERT_EQ(ResizeDecLinearTo8(src.data(), 6, 4, 6, 4, dst.data()), 0);
    EXPECT_EQ(dst, src); // one-pixel boxes copy
    ASSERT_EQ(ResizeDecLinearTo8(src.data(), 6, 4, 3, 2, dst.data()), 0);
    // Box (0..1, 0..1): 0, 1, 16, 17 -> 34 / 4 = 8.5 rounds to 9.
    EXPECT_EQ(dst[0], 9);
    EXPECT_EQ(dst[5], (36 + 37 + 52 + 53 + 2) / 4);
    // 7 / 3: boxes of 2 columns starting at 0, 2, 4.
    const auto wide = Ramp(7, 1);
    ASSERT_EQ(ResizeDecLinearTo8(wide.data(), 7, 1, 3, 1, dst.data()), 0);
    EXPECT_EQ(dst[2], (4 + 5 + 1) / 2);
    EXPECT_EQ(ResizeDecLinearTo8(src.data(), 6, 4, 7, 4, dst.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(ResizeDecLinearTo8(src.data(), 6, 4, 0, 4, dst.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(ResizeDecLinearTo8(src.data(), 6, 4, 3, 2, nullptr), IMG_BAD_GEOMETRY);
    const unsigned char one = 77;
    ASSERT_EQ(ResizeDecLinearTo8(&one, 1, 1, 1, 1, dst.data()), 0);
    EXPECT_EQ(dst[0], 77);

    // The power-of-two form: (sum) >> 2n, truncated.
    auto img = Ramp(4, 2);
    unsigned w = 4;
    unsigned h = 2;
    ASSERT_EQ(ResizeDecLinearTo8(img.data(), w, h, 1, img.data()), 0);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 1u);
    EXPECT_EQ(img[0], (0 + 1 + 16 + 17) >> 2);
    EXPECT_EQ(img[1], (2 + 3 + 18 + 19) >> 2);
}

TEST(SetSize8, PadsWithTheExtraAtBottomRightAndCropsFromTheMiddle)
{
    const auto src = Ramp(3, 2);
    std::vector<unsigned char> dst(6 * 5, 0);
    SetSize8(src.data(), 3, 2, 6, 5, dst.data(), 255);
    // Columns: 1 fill, 3 source, 2 fill; rows: 1 fill, 2 source, 2 fill.
    const std::vector<unsigned char> padded = {
        255, 255, 255, 255, 255, 255, //
        255, 0,   1,   2,   255, 255, //
        255, 16,  17,  18,  255, 255, //
        255, 255, 255, 255, 255, 255, //
        255, 255, 255, 255, 255, 255, //
    };
    EXPECT_EQ(dst, padded);

    const auto big = Ramp(6, 5);
    std::vector<unsigned char> crop(3 * 2, 0);
    SetSize8(big.data(), 6, 5, 3, 2, crop.data(), 255);
    // Start column (6 - 3) / 2 = 1, start row (5 - 2) / 2 = 1.
    EXPECT_EQ(crop, (std::vector<unsigned char>{17, 18, 19, 33, 34, 35}));

    unsigned char one = 5;
    unsigned char out = 0;
    SetSize8(&one, 1, 1, 1, 1, &out, 255);
    EXPECT_EQ(out, 5);
}

// Every pairing of small source and canvas sides, odd and even, onto a canvas holding other
// bytes: the padding is filled and the middle copied as a whole-canvas fill then a copy would.
TEST(SetSize8, EveryPaddingAndCropMatchesFillThenCopy)
{
    int cases = 0;
    for (unsigned w = 0; w <= 5; ++w) {
        for (unsigned h = 0; h <= 5; ++h) {
            const auto src = Ramp(w, h);
            for (unsigned W = 1; W <= 6; ++W) {
                for (unsigned H = 1; H <= 6; ++H) {
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " to " << W << "x" << H);
                    std::vector<unsigned char> want(W * H, 9);
                    for (unsigned y = 0; y < std::min(h, H); ++y) {
                        for (unsigned x = 0; x < std::min(w, W); ++x) {
                            const unsigned sy = H > h ? y : y + (h - H) / 2;
                            const unsigned sx = W > w ? x : x + (w - W) / 2;
                            const unsigned dy = H > h ? y + (H - h) / 2 : y;
                            const unsigned dx = W > w ? x + (W - w) / 2 : x;
                            want[dy * W + dx] = src[sy * w + sx];
                        }
                    }
                    std::vector<unsigned char> got(W * H, 0x5A);
                    SetSize8(src.data(), w, h, W, H, got.data(), 9);
                    ASSERT_EQ(got, want);
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, 36 * 36);
}

TEST(UncalledResizes, LinearDoublingKeepsTheImageDirsAndFractionalDoubling)
{
    auto img = Ramp(3, 3);
    const auto before = img;
    unsigned w = 3;
    unsigned h = 3;
    ResizeIncLinear8(img.data(), w, h, 2);
    EXPECT_EQ(w, 3u);
    EXPECT_EQ(img, before);

    // Directions 170 and 10 meet across 0: their circular mean is 0, not 90.
    std::vector<unsigned char> dir = {170, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    w = 2;
    h = 1;
    ASSERT_EQ(ResizeIncDirs8(dir.data(), w, h, 1), 0);
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(dir[0], 170);
    EXPECT_EQ(dir[1], 0);
    EXPECT_EQ(dir[2], 10);
    for (unsigned char d : dir) {
        EXPECT_LT(d, 180);
    }

    const auto src = Ramp(4, 4);
    std::vector<unsigned char> out(64, 9);
    w = 4;
    h = 4;
    ASSERT_EQ(ResizeIncFrTo8(src.data(), w, h, 0, out.data()), 0);
    EXPECT_EQ(w, 8u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2 * 8 + 2], 17);
    EXPECT_EQ(out[2 * 8 + 3], 18);
    EXPECT_EQ(out[3 * 8 + 2], 33);
    EXPECT_EQ(out[7 * 8 + 7], 0);
}

} // namespace

namespace {

TEST(Resizes, SmallestAndEmptyImages)
{
    struct Case {
        unsigned w, h;
    };
    for (const Case& c : {Case{1, 1}, Case{17, 1}, Case{1, 17}, Case{0, 5}, Case{5, 0}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        std::vector<unsigned char> img(c.w * c.h * 16 + 1, 200);
        unsigned w = c.w;
        unsigned h = c.h;
        EXPECT_EQ(ResizeIncFast8(img.data(), w, h, 2), 0);
        EXPECT_EQ(ResizeDecFast8(img.data(), w, h, 2), 0);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(ResizeDecFastForDPI8(img.data(), w, h, 1000, 250), 2);
        EXPECT_EQ(w, c.w >> 2);
        w = c.w;
        h = c.h;
        EXPECT_EQ(ResizeDecLinearTo8(img.data(), w, h, 3, img.data()), 0);
        std::vector<unsigned char> canvas(9, 0);
        SetSize8(img.data(), c.w, c.h, 3, 3, canvas.data(), 7);
        w = c.w;
        h = c.h;
        EXPECT_EQ(ResizeIncDirs8(img.data(), w, h, 1), 0);
        std::vector<unsigned char> big(c.w * c.h * 4 + 1, 0);
        w = c.w;
        h = c.h;
        EXPECT_EQ(ResizeIncFrTo8(img.data(), w, h, 1, big.data()), 0);
    }
}

} // namespace
