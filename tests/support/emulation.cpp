// Emulation check of the tests: reads ZF_EMULATED and labels runs that shrink their input.

#include "tests/support/emulation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zftest {

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
    const std::string note = "reduced " + std::to_string(reduced) + " of " + std::to_string(full);
    ::testing::Test::RecordProperty("emulated_input", note);
    std::printf("[ EMULATED ] input %s\n", note.c_str());
    return reduced;
}

} // namespace zftest
