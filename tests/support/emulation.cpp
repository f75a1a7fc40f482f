// Emulation check of the tests: reads ZF_EMULATED and labels runs that shrink their input.

#include "tests/support/emulation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zftest {
namespace {

// Full name of the running test, or "" outside a test.
std::string CurrentTest()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info == nullptr ? std::string()
                           : std::string(info->test_suite_name()) + "." + info->name();
}

std::string g_reducedTest; // the test that last took a reduced input

} // namespace

bool Emulated()
{
    const char* env = std::getenv("ZF_EMULATED");
    return env != nullptr && *env != '\0' && std::strcmp(env, "0") != 0;
}

int InputSize(int full, int reduced)
{
    if (!Emulated() || reduced == full) {
        return full;
    }
    g_reducedTest = CurrentTest();
    const std::string note = "reduced " + std::to_string(reduced) + " of " + std::to_string(full);
    ::testing::Test::RecordProperty("emulated_input", note);
    std::printf("[ EMULATED ] input %s\n", note.c_str());
    return reduced;
}

bool InputReduced()
{
    return !g_reducedTest.empty() && g_reducedTest == CurrentTest();
}

} // namespace zftest
