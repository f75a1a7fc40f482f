// Matcher interface and the mapping of comparison and accelerator codes onto public codes.

#include "interface/RealMatcher.h"

namespace ZelvanFinger {
namespace {

// Public code of accelerator codes 0..15.
// clang-format off
constexpr int kAccelResults[16] = {
    /*  0 */ RESULT_OK,              RESULT_ACCEL_CODE_1,   RESULT_ACCEL_FAILED,   RESULT_ACCEL_FAILED,
    /*  4 */ RESULT_BAD_TEMPLATE,    RESULT_NO_MEMORY,      RESULT_ACCEL_FAILED,   RESULT_ACCEL_FAILED,
    /*  8 */ RESULT_BAD_ACCELERATOR, RESULT_ACCEL_CODE_9,   RESULT_NO_ACCELERATOR, RESULT_BAD_TEMPLATE,
    /* 12 */ RESULT_ACCEL_FAILED,    RESULT_ACCEL_FAILED,   RESULT_ACCEL_FAILED,   RESULT_ACCEL_TOO_LARGE,
};
// clang-format on

} // namespace

Matcher::~Matcher() = default;

int RealMatcher::checkMaResult(int code)
{
    switch (code) {
    case 0:
        return RESULT_OK;
    case -404:
        return RESULT_NO_MEMORY; // MA_ERR_MEMORY
    case -408:
        return RESULT_EXCEPTION; // MA_ERR_EXCEPTION
    case -410:                   // MA_ERR_BAD_PROBE
    case -411:
        return RESULT_BAD_TEMPLATE; // MA_ERR_BAD_GALLERY
    case -416:
        return RESULT_NOTHING_TO_COMPARE; // MA_ERR_NOTHING_TO_COMPARE
    case -426:
        return RESULT_BAD_PARAMETERS; // MA_ERR_SEARCH_PARAM
    case -436:
        return RESULT_MATCH_CODE_436;
    default:
        return RESULT_MATCH_FAILED;
    }
}

int RealMatcher::checkAccelMatchResult(unsigned code)
{
    return code < 16 ? kAccelResults[code] : RESULT_ACCEL_FAILED;
}

} // namespace ZelvanFinger
