// Known-answer and robustness tests of the 8-bit toolkit: conversions, crops, levels, blur
// and window sums.

#include "imaging/graph8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

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

} // namespace
