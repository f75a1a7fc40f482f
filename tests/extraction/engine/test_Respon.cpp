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
        if (ReMagnitude(n) != Byte(n)) {
            FAIL() << n << ": " << ReMagnitude(n) << " for " << Byte(n);
        }
        ++checked;
    }
    EXPECT_EQ(checked, MAX_NORM + 4097);
    for (int n : {-5, 3000000, 2147000000}) {
        EXPECT_EQ(ReMagnitude(n), Byte(n)) << n;
    }
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
