// Stage 7's gradient magnitude byte, read from its steps where sqri recurses, against sqri on
// every norm two raw responses can make, and around the range's ends.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FixedMath.h"

#include <gtest/gtest.h>

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

} // namespace
