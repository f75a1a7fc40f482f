// The two small pseudo-random generators the tests draw their inputs from. Each steps its state
// in place and returns the new state, so a test's inputs depend only on its seed.
#pragma once

#include <cstdint>

namespace zftest {

// Marsaglia's xorshift32 (13, 17, 5); the state must not be 0.
inline std::uint32_t XorShift32(std::uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// The linear congruential step 1103515245 s + 12345 (mod 2^32); its high bits are the useful ones.
inline std::uint32_t Lcg32(std::uint32_t& state)
{
    state = state * 1103515245u + 12345u;
    return state;
}

} // namespace zftest
