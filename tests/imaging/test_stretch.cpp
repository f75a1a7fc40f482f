// Bilinear and quadratic stretch: sizes, identity and known patterns, the last row and column,
// clamping and degenerate sources.

#include "imaging/stretch.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

unsigned Stride(unsigned w)
{
    return (w + 3) & ~3u;
}

// Aligned-row image whose pixel is 10 y + x, padding bytes 0xEE.
std::vector<unsigned char> Ramp(unsigned w, unsigned h)
{
    std::vector<unsigned char> img(Stride(w) * h, 0xEE);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            img[y * Stride(w) + x] = static_cast<unsigned char>(10 * y + x);
        }
    }
    return img;
}

TEST(Stretch, UnitFactorsCopyAndTheLastColumnIsTheRowEnd)
{
    const auto src = Ramp(10, 10);
    std::vector<unsigned char> dst(64, 0);
    unsigned ow = 0;
    unsigned oh = 0;
    stretch(10, 10, Stride(10), src.data(), 1.0f, 1.0f, &ow, &oh, dst.data());
    ASSERT_EQ(ow, 8u);
    ASSERT_EQ(oh, 8u);
    for (unsigned r = 0; r < 8; ++r) {
        for (unsigned c = 0; c < 7; ++c) {
            EXPECT_EQ(dst[r * 8 + c], src[r * Stride(10) + c]) << r << "," << c;
        }
        EXPECT_EQ(dst[r * 8 + 7], src[r * Stride(10) + 9]);
    }
}

TEST(Stretch, ResolutionFactorsGiveTheirSizes)
{
    struct Case {
        unsigned w, h;
        float f;
        unsigned ow, oh;
    };
    for (const Case& c : {Case{600, 400, 0.5f, 300, 200}, Case{600, 400, 2.0f, 1200, 800},
                          Case{403, 301, 500.0f / 510.0f, 392, 292}, Case{7, 7, 0.5f, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " * " << c.f);
        std::vector<unsigned char> src(Stride(c.w) * c.h, 100);
        std::vector<unsigned char> dst(c.ow * c.oh + 1, 7);
        unsigned ow = 1;
        unsigned oh = 1;
        stretch(c.w, c.h, Stride(c.w), src.data(), c.f, c.f, &ow, &oh, dst.data());
        EXPECT_EQ(ow, c.ow);
        EXPECT_EQ(oh, c.oh);
        for (unsigned i = 0; i < c.ow * c.oh; ++i) {
            ASSERT_EQ(dst[i], 100) << i; // a flat image stays flat
        }
        EXPECT_EQ(dst[c.ow * c.oh], 7); // nothing written past the output
    }
}

TEST(Stretch, HalvingSamplesEveryOtherPixelAndDoublingInterpolates)
{
    const auto src = Ramp(16, 16);
    std::vector<unsigned char> half(64, 0);
    unsigned ow = 0;
    unsigned oh = 0;
    stretch(16, 16, Stride(16), src.data(), 0.5f, 0.5f, &ow, &oh, half.data());
    ASSERT_EQ(ow, 8u);
    EXPECT_EQ(half[3 * 8 + 2], 10 * 6 + 4);

    std::vector<unsigned char> twice(32 * 32, 0);
    stretch(16, 16, Stride(16), src.data(), 2.0f, 2.0f, &ow, &oh, twice.data());
    ASSERT_EQ(ow, 32u);
    // Output (5, 3) sits at source (2.5, 1.5): 10 * 1.5 + 2.5 = 17.5 rounds to 18.
    EXPECT_EQ(twice[3 * 32 + 5], 18);
    // The bottom rows read source rows 14 and 15 only; beyond them the ramp is extrapolated
    // (10 * 15.5 + x) and stays in 0..255.
    EXPECT_EQ(twice[31 * 32 + 0], 155);
}

TEST(Stretch, ExtrapolationIsClampedToTheByteRange)
{
    // Bright last row: doubling extrapolates past 255 at the bottom.
    std::vector<unsigned char> src(4 * 4, 0);
    for (unsigned x = 0; x < 4; ++x) {
        src[3 * 4 + x] = 250;
    }
    std::vector<unsigned char> dst(8 * 8, 0);
    unsigned ow = 0;
    unsigned oh = 0;
    stretch(4, 4, 4, src.data(), 2.0f, 2.0f, &ow, &oh, dst.data());
    ASSERT_EQ(oh, 8u);
    EXPECT_EQ(dst[7 * 8 + 2], 255); // 250 * 1.5 clamped, not wrapped
    // Dark last row under a bright image: the extrapolation goes below 0.
    std::vector<unsigned char> dark(16, 200);
    for (unsigned x = 0; x < 4; ++x) {
        dark[3 * 4 + x] = 10;
    }
    stretch(4, 4, 4, dark.data(), 2.0f, 2.0f, &ow, &oh, dst.data());
    EXPECT_EQ(dst[7 * 8 + 2], 0);
}

TEST(Stretch, DegenerateSourcesWriteOnlyTheSizes)
{
    struct Case {
        unsigned w, h;
        float f;
    };
    for (const Case& c : {Case{1, 1, 8.0f}, Case{1, 9, 8.0f}, Case{9, 1, 8.0f}, Case{0, 0, 1.0f},
                          Case{8, 8, 0.0f}, Case{8, 8, -1.0f}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " * " << c.f);
        std::vector<unsigned char> src(Stride(c.w) * (c.h + 1), 0);
        std::vector<unsigned char> dst(4, 9);
        unsigned ow = 77;
        unsigned oh = 77;
        stretch(c.w, c.h, Stride(c.w), src.data(), c.f, c.f, &ow, &oh, dst.data());
        EXPECT_EQ(ow % 4, 0u);
        EXPECT_EQ(dst[0], 9);
        stretch4(c.w, c.h, src.data(), c.f, c.f, &ow, &oh, dst.data());
        EXPECT_EQ(dst[0], 9);
    }
}

TEST(Stretch4, QuadraticIsExactOnRampsAndClamps)
{
    const auto src = Ramp(10, 10);
    std::vector<unsigned char> dst(20 * 20, 0);
    unsigned ow = 0;
    unsigned oh = 0;
    stretch4(10, 10, src.data(), 1.0f, 1.0f, &ow, &oh, dst.data());
    ASSERT_EQ(ow, 8u);
    ASSERT_EQ(oh, 10u); // the height is not rounded to a multiple of 4
    for (unsigned r = 0; r < 10; ++r) {
        for (unsigned c = 0; c < 8; ++c) {
            EXPECT_EQ(dst[r * 8 + c], src[r * Stride(10) + c]);
        }
    }
    stretch4(10, 10, src.data(), 1.5f, 1.5f, &ow, &oh, dst.data());
    ASSERT_EQ(ow, 12u);
    ASSERT_EQ(oh, 15u);
    // Output (3, 2) sits at (2, 1.333...): 10 * 1.333 + 2 = 15.33, truncated.
    EXPECT_EQ(dst[2 * 12 + 3], 15);

    // A single bright pixel overshoots round it: the values are clamped, never wrapped.
    std::vector<unsigned char> spike(Stride(5) * 5, 0);
    spike[2 * Stride(5) + 2] = 255;
    std::vector<unsigned char> out(12 * 12, 0);
    stretch4(5, 5, spike.data(), 2.5f, 2.5f, &ow, &oh, out.data());
    ASSERT_EQ(ow, 12u);
    int peak = 0;
    for (unsigned i = 0; i < ow * oh; ++i) {
        peak = out[i] > peak ? out[i] : peak;
    }
    EXPECT_EQ(peak, 255);
}

} // namespace

namespace {

std::uint32_t Fnv1a(const std::vector<unsigned char>& bytes)
{
    std::uint32_t h = 2166136261u;
    for (unsigned char b : bytes) {
        h = (h ^ b) * 16777619u;
    }
    return h;
}

// Same bytes on every build: the digests below were taken on x86-64 and are checked on the Arm
// build as well, where a fused multiply-add would change some roundings.
TEST(Stretch, OutputsAreTheSameOnEveryBuild)
{
    const unsigned w = 203;
    const unsigned h = 157;
    std::vector<unsigned char> src(Stride(w) * h);
    std::uint32_t x = 2463534242u; // xorshift32, fixed seed
    for (unsigned char& v : src) {
        zftest::XorShift32(x);
        v = static_cast<unsigned char>(x >> 24);
    }
    const float fx = 500.0f / 333.0f;
    const float fy = 500.0f / 687.0f;
    std::vector<unsigned char> dst(w * h * 3, 0);
    unsigned ow = 0;
    unsigned oh = 0;
    stretch(w, h, Stride(w), src.data(), fx, fy, &ow, &oh, dst.data());
    dst.resize(ow * oh);
    EXPECT_EQ(ow, 304u);
    EXPECT_EQ(oh, 112u);
    EXPECT_EQ(Fnv1a(dst), 2361269065u);

    std::vector<unsigned char> quad(w * h * 3, 0);
    stretch4(w, h, src.data(), fx, fy, &ow, &oh, quad.data());
    quad.resize(ow * oh);
    EXPECT_EQ(Fnv1a(quad), 449814151u);
}

} // namespace
