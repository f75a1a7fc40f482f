// The library reports its version text.

#include "interface/ZelvanFinger.h"

#include <gtest/gtest.h>

#include <string>

TEST(Version, Is200)
{
    EXPECT_EQ(std::string(ZelvanFinger::getVersion()), "2.0.0");
}
