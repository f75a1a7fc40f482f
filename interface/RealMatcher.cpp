// Matcher factories, verification of two records, and the mapping of comparison and
// accelerator codes onto public codes.

#include "interface/RealMatcher.h"

#include <new>

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

Matcher* Matcher::create()
{
    try {
        return new RealMatcher();
    } catch (...) {
        return nullptr;
    }
}

void Matcher::cancel(Matcher*& p)
{
    delete p;
    p = nullptr;
}

RealMatcher::~RealMatcher()
{
    releaseGallery();
}

int RealMatcher::initMa()
{
    if (m_maInitialised != 0) {
        return RESULT_OK;
    }
    const int r = m_ma.init();
    m_maInitialised = r == 0 ? 1 : 0;
    return checkMaResult(r);
}

int RealMatcher::verify_record(MatchingParameters& parameters, TpTemplate& probe,
                               TpTemplate& gallery, double& score)
{
    // 1. Written on every path.
    score = 0.0;
    try {
        // 2. The comparer.
        const int r = initMa();
        if (r != RESULT_OK) {
            return r;
        }
        // 3. Every finger counts, fused by rank weights.
        accelMatch::SearchParam sp = {
            0,
            parameters.maxAngle,
            parameters.maxAngleThumbs,
            400,
            0,
            10000,
            1,
            10,
            static_cast<accelMatch::MATCHING_MODE>(parameters.matchingMode),
            accelMatch::FUSION_RANK_WEIGHTS};
        accelMatch::MatchResultTT result;
        result.clear();
        // 4. Probe load and comparison.
        const int code =
            m_ma.matchTT(sp, probe, gallery, result, accelMatch::FP_PLAIN, accelMatch::FP_PLAIN);
        // 5. The fused score as a similarity 0..1.
        if (code == 0) {
            score = result.score / 10000.0;
        }
        return checkMaResult(code);
    } catch (const std::bad_alloc&) {
        score = 0.0;
        return RESULT_NO_MEMORY;
    } catch (...) {
        score = 0.0;
        return RESULT_EXCEPTION;
    }
}

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
