// The invariant check stays active in Release and reports where it failed before aborting.

#include "platform/assert.h"

#include <gtest/gtest.h>

namespace {

int CheckedIndex(int i)
{
    ZF_ASSERT(i >= 0 && i < 4);
    return i;
}

TEST(Assert, PassesSilentlyWhenTheInvariantHolds)
{
    EXPECT_EQ(CheckedIndex(3), 3);
}

TEST(AssertDeathTest, ReportsExpressionFileLineAndFunctionThenAborts)
{
    EXPECT_DEATH(CheckedIndex(4),
                 "test_assert\\.cpp:[0-9]+: CheckedIndex: assertion \"i >= 0 && i < 4\" failed");
}

} // namespace
