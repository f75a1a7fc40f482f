// Stage 7's gradient magnitude byte against the quarter root of sqri on
// every norm two raw responses can make and around the range's ends; the eight-pixel rows of the
// smoothed field of stage 7 and the smoothed curvature of stage 13 against their pixel-by-pixel
// twins.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FixedMath.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace wizard73;

int Byte(int n)
{
    const int m = sqri(n) / 4;
    return m > 255 ? 255 : m;
}

TEST(Respon, MagnitudeByteIsTheQuarterRoot)
{
    constexpr int MAX_NORM = 2 * 1020 * 1020;
    int checked = 0;
    for (int n = 0; n <= MAX_NORM + 4096; ++n) {
        if (ReMagnitude(n) != Byte(n) || ReGradientMagnitude(n) != Byte(n)) {
            FAIL() << n << ": " << ReMagnitude(n) << " and " << ReGradientMagnitude(n) << " for "
                   << Byte(n);
        }
        ++checked;
    }
    EXPECT_EQ(checked, MAX_NORM + 4097);
    for (int n : {-5, 3000000, 2147000000}) {
        EXPECT_EQ(ReMagnitude(n), Byte(n)) << n;
        if (n >= 0) {
            EXPECT_EQ(ReGradientMagnitude(n), Byte(n)) << n;
        }
    }
}

// The gradient row, lane-wise and pixel by pixel, against atan and ReMagnitude: every pair of
// responses a byte image can make and a margin past it (axes, diagonals, the zero vector and each
// quadrant included), then the 16-bit extremes whose norm fits an int.
TEST(Respon, GradientRowMatchesAtanAndMagnitude)
{
    constexpr int SPAN = 1100;
    constexpr int W = 2 * SPAN + 1;
    std::vector<std::int16_t> d12(W);
    std::vector<std::int16_t> d10(W);
    std::vector<unsigned char> gdir(W);
    std::vector<unsigned char> gmag(W);
    std::vector<unsigned char> twinDir(W);
    std::vector<unsigned char> twinMag(W);
    const auto check = [&](int count) {
        ReGradientRow(d12.data(), d10.data(), count, gdir.data(), gmag.data());
        ReGradientRowScalar(d12.data(), d10.data(), count, twinDir.data(), twinMag.data());
        for (int x = 0; x < count; ++x) {
            if (gdir[x] != twinDir[x] || gmag[x] != twinMag[x]) {
                ADD_FAILURE() << "twins differ at " << -d12[x] << ", " << d10[x];
                return false;
            }
            const int gx = -d12[x];
            const int gy = d10[x];
            const int dir = static_cast<int>(static_cast<unsigned>(atan(gx, gy)) / 2);
            if (gdir[x] != dir || gmag[x] != ReMagnitude(gx * gx + gy * gy)) {
                ADD_FAILURE() << gx << ", " << gy << ": " << int{gdir[x]} << " for " << dir;
                return false;
            }
        }
        return true;
    };
    for (int gy = -SPAN; gy <= SPAN; ++gy) {
        for (int x = 0; x < W; ++x) {
            d12[x] = static_cast<std::int16_t>(x - SPAN);
            d10[x] = static_cast<std::int16_t>(gy);
        }
        ASSERT_TRUE(check(W));
    }
    const int extremes[] = {-32767, -30000, -1, 0, 1, 30000, 32767};
    int k = 0;
    for (int a : extremes) {
        for (int b : extremes) {
            d12[k] = static_cast<std::int16_t>(a);
            d10[k] = static_cast<std::int16_t>(b);
            ++k;
        }
    }
    EXPECT_TRUE(check(k));
}

// Random, saturated and alternating rows of both planes, every width up to 40 and every span of
// the inner pixels a row can ask for: stage 7's rows of both planes and stage 13's byte rows.
TEST(Respon, SmoothRowOfEightMatchesThePixelTwin)
{
    constexpr int MAX_W = 40;
    std::uint32_t seed = 362436069u;
    int spans = 0;
    for (int kind = 0; kind < 3; ++kind) {
        unsigned char planes[2][3 * MAX_W];
        for (int i = 0; i < 3 * MAX_W; ++i) {
            zftest::XorShift32(seed);
            planes[0][i] = static_cast<unsigned char>(kind == 0   ? seed & 255
                                                      : kind == 1 ? 255
                                                                  : (i % 2 != 0 ? 255 : 0));
            planes[1][i] = static_cast<unsigned char>(kind == 0 ? seed >> 24 : 255 - planes[0][i]);
        }
        for (int w = 1; w <= MAX_W; ++w) {
            for (int x0 = 1; x0 < w - 1; ++x0) {
                for (int x1 = x0; x1 <= w - 1; ++x1) {
                    SCOPED_TRACE(::testing::Message()
                                 << kind << " " << w << " " << x0 << " " << x1);
                    std::int16_t fast[2][MAX_W];
                    std::int16_t twin[2][MAX_W];
                    std::memset(fast, 0x5A, sizeof fast);
                    std::memset(twin, 0x5A, sizeof twin);
                    ReSmoothRow(planes[0] + w, planes[1] + w, w, x0, x1, fast[0], fast[1]);
                    ReSmoothRowScalar(planes[0] + w, planes[1] + w, w, x0, x1, twin[0], twin[1]);
                    ASSERT_EQ(std::memcmp(fast, twin, sizeof fast), 0);
                    unsigned char fastBytes[MAX_W];
                    unsigned char twinBytes[MAX_W];
                    std::memset(fastBytes, 0x5A, sizeof fastBytes);
                    std::memset(twinBytes, 0x5A, sizeof twinBytes);
                    CuSmoothRow(planes[0] + w, w, x0, x1, fastBytes);
                    CuSmoothRowScalar(planes[0] + w, w, x0, x1, twinBytes);
                    ASSERT_EQ(std::memcmp(fastBytes, twinBytes, sizeof fastBytes), 0);
                    ++spans;
                }
            }
        }
    }
    EXPECT_EQ(spans, 3 * 10621);
}

} // namespace
