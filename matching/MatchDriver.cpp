// Entry point of a finger comparison. Until the search is in place a comparison answers
// MA_ERR_MATCH_FAILED with an empty result.

#include "matching/Matcher100.h"

#include <cstring>

namespace accelMatch {

int Matcher100::match(MatchResult& r, int /*maxAngle*/, int /*speed*/, bool /*accelMode*/,
                      unsigned char* /*accelP*/, unsigned char* /*accelG*/,
                      unsigned char /*numAccel*/, bool /*quick*/)
{
    std::memset(&r, 0, sizeof r);
    return MA_ERR_MATCH_FAILED;
}

} // namespace accelMatch
