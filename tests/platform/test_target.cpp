// The data model the engine is written for: the cross build really is 32-bit Arm (4-byte
// pointers and long, unsigned plain char), stored words are little-endian on both targets, and
// a*b+c rounds as two operations everywhere (-ffp-contract=off), so both give the same bytes.

#include "tests/support/digest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

TEST(Target, DataModelIsTheOneTheBuildTargets)
{
    const bool charSigned = std::numeric_limits<char>::is_signed;
    ::testing::Test::RecordProperty("pointer_bytes", static_cast<int>(sizeof(void*)));
    ::testing::Test::RecordProperty("plain_char", charSigned ? "signed" : "unsigned");
#if defined(__arm__)
    EXPECT_EQ(sizeof(void*), 4u);
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_FALSE(charSigned);
#elif defined(__x86_64__)
    EXPECT_EQ(sizeof(void*), 8u);
    EXPECT_EQ(sizeof(long), 8u);
#endif
#if defined(__CHAR_UNSIGNED__)
    EXPECT_FALSE(charSigned);
#else
    EXPECT_TRUE(charSigned);
#endif
    const std::uint32_t word = 0x11223344u;
    unsigned char bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
}

TEST(Target, ProductAndSumRoundSeparately)
{
    // (1 + 2^-30)(1 - 2^-30) = 1 - 2^-60 rounds to 1, so the unfused sum is exactly 0; a fused
    // multiply-add would keep -2^-60. volatile keeps the compiler from folding it.
    volatile double a = 1.0 + 0x1p-30;
    volatile double b = 1.0 - 0x1p-30;
    volatile double c = -1.0;
    const double x = a;
    const double y = b;
    const double z = c;
    EXPECT_EQ(x * y + z, 0.0);
}

TEST(Target, DigestsAreTheReferenceFnv1a)
{
    EXPECT_EQ(zftest::Fnv1a64("", 0), 0xcbf29ce484222325ULL);
    EXPECT_EQ(zftest::Fnv1a64("a", 1), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(zftest::Fnv1a64("foobar", 6), 0x85944171f73967e8ULL);
    // Doubles from divisions and a square root, correctly rounded on every target: the digest
    // comparison of the builds sees the same bytes.
    double values[64];
    for (int i = 0; i < 64; ++i) {
        values[i] = std::sqrt(static_cast<double>(i) + 0.5) / static_cast<double>(i + 3);
    }
    zftest::RecordDigest("sqrt-div", values, sizeof values);
}

} // namespace
