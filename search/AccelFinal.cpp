// Final search stage: the head of the coarse ranking is compared again in two passes on
// shrinking short-lists (accelerator comparison with pair collection, records ranked by their
// three best finger scores), and the result becomes the ranked list of identifiers and
// scores. The probe is also validated by every slot's final-stage comparer.

#include "search/AccelLib.h"
#include "search/Ma100_TT.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace accelMatch {
namespace {

// Divisors (d1, d2) by shared finger count class and speed 0..5.
// clang-format off
constexpr unsigned long long kDivisors[4][6][2] = {
    /* 1 */    {{512, 10240}, {5120, 102400}, {10240, 102400}, {10240, 102400},
                {102400, 1048576}, {102400, 1048576}},
    /* 2 */    {{512, 10240}, {1024, 10240}, {5120, 102400}, {10240, 102400},
                {51200, 1048576}, {102400, 1048576}},
    /* 3..8 */ {{1024, 10240}, {5120, 102400}, {5120, 102400}, {5120, 102400},
                {10240, 102400}, {102400, 1048576}},
    /* 9..10 */{{1024, 10240}, {1024, 10240}, {5120, 102400}, {102400, 1048576},
                {102400, 1048576}, {102400, 1048576}},
};
// clang-format on

constexpr int kPassWeights[4] = {30, 30, 30, 10};

int loadProbeTemplate(AccelData* data, TpTemplate& probe)
{
    unsigned char* areas[10];
    int widths[10];
    int heights[10];
    for (int k = 0; k < 10; ++k) {
        const bool loaded = data->probe[k].present != nullptr;
        areas[k] = loaded ? data->probe[k].area : nullptr;
        widths[k] = loaded ? static_cast<int>(data->probe[k].areaW) : 0;
        heights[k] = loaded ? static_cast<int>(data->probe[k].areaH) : 0;
    }
    for (unsigned s = 0; s < data->threads; ++s) {
        const int r = data->slots[s].finalMatcher->loadTT(probe, FP_PLAIN, areas, widths, heights);
        if (r != 0 && r != MA_ERR_PROBE_PARTLY_LOADED) {
            return ACCEL_ERR_BAD_TEMPLATE;
        }
    }
    return ACCEL_OK;
}

int onePassFinalIdentifyTP(AccelData* data, AccelSearchParam& passParam, unsigned count,
                           FinalRanking& out)
{
    for (unsigned s = 0; s < data->threads; ++s) {
        data->slots[s].finalRanking.clear();
    }
    for (unsigned i = 0; i < count; ++i) {
        const SS_RL& entry = data->candidates[i];
        const std::uint64_t index = entry.record;
        if (index >= data->count || data->accels[index] == nullptr) {
            continue;
        }
        MatchResultTT result;
        result.clear();
        const unsigned slot = data->slot();
        if (twoStepsCompareTP(data, passParam, data->accels[index], result, slot) != ACCEL_OK ||
            result.score == 0) {
            continue;
        }
        SS_RL e{};
        e.record = index;
        std::copy(result.fingerScore, result.fingerScore + 10, e.fingerScore);
        std::copy(result.galleryFinger, result.galleryFinger + 10, e.galleryFinger);
        e.score = result.score;
        data->slots[slot].finalRanking.insert(e);
    }
    out.clear();
    for (unsigned s = 0; s < data->threads; ++s) {
        out.insert(data->slots[s].finalRanking.begin(), data->slots[s].finalRanking.end());
    }
    return ACCEL_OK;
}

} // namespace

void getFinalDivisors(int P, unsigned speed, unsigned long long& d1, unsigned long long& d2)
{
    // No shared position takes the row of one.
    const int row = P <= 1 ? 0 : (P == 2 ? 1 : (P <= 8 ? 2 : 3));
    const unsigned s = std::min(speed, 5u);
    d1 = kDivisors[row][s][0];
    d2 = kDivisors[row][s][1];
}

int getNumFingerPairs(AccelData* data, TpTemplate& probe, CoarseRanking& coarse, unsigned n)
{
    unsigned histogram[11] = {};
    unsigned seen = 0;
    for (auto it = coarse.begin(); it != coarse.end() && seen < n; ++it, ++seen) {
        unsigned shared = 0;
        for (int k = 0; k < 10; ++k) {
            shared += probe.finger[k] != nullptr && data->tpls[10 * it->index + k] != nullptr;
        }
        ++histogram[shared];
    }
    if (seen == 0) {
        return 0;
    }
    int best = 0;
    for (int c = 1; c <= 10; ++c) {
        if (histogram[c] > histogram[best]) {
            best = c;
        }
    }
    return best;
}

unsigned fillInputRl(AccelData* data, FinalRanking& ranking, unsigned long long n)
{
    unsigned long long k = n > 0xFFFFFFFFull ? ranking.size() : n;
    k = std::min<unsigned long long>({k, ranking.size(), data->capacity});
    unsigned i = 0;
    for (auto it = ranking.begin(); i < k; ++it, ++i) {
        data->candidates[i] = *it;
    }
    return i;
}

void fillRecomList(FinalRanking& ranking, RL* list, unsigned n)
{
    std::memset(static_cast<void*>(list), 0, sizeof(RL) * n);
    unsigned i = 0;
    for (auto it = ranking.begin(); it != ranking.end() && i < n; ++it, ++i) {
        list[i].listId = it->record;
        list[i].score = it->score;
    }
}

void buildFinalRecomList(RL* list, unsigned n, const std::uint64_t* ids)
{
    for (unsigned i = 0; i < n && list[i].score != 0; ++i) {
        list[i].listId = ids[list[i].listId];
    }
}

int getPassScore(const int* fingerScores)
{
    int sorted[10];
    std::copy(fingerScores, fingerScores + 10, sorted);
    std::sort(sorted, sorted + 10, std::greater<int>());
    int score = 0;
    for (int i = 0; i < 4; ++i) {
        score += kPassWeights[i] * sorted[i] / 100;
    }
    return std::min(score, 10000);
}

int twoStepsCompareTP(void* handle, AccelSearchParam& passParam, unsigned char* accel,
                      MatchResultTT& result, unsigned slot)
{
    AccelData* data = static_cast<AccelData*>(handle);
    if (data == nullptr) {
        return ACCEL_ERR_NULL;
    }
    if (slot >= data->threads) {
        return ACCEL_ERR_THREAD_INDEX;
    }
    MatchResultTT r;
    const int code = compareAccelTP_(handle, passParam, accel, slot, r, true);
    if (code != ACCEL_OK) {
        return code;
    }
    const int score = getPassScore(r.fingerScore);
    std::copy(r.fingerScore, r.fingerScore + 10, result.fingerScore);
    std::copy(r.galleryFinger, r.galleryFinger + 10, result.galleryFinger);
    result.score = score;
    result.numCompared = 10;
    return ACCEL_OK;
}

int finalIdentifyTP(void* handle, AccelSearchParam& param, TpTemplate& probe, CoarseRanking& coarse,
                    RL* list, unsigned n)
{
    // 1. State.
    AccelData* data = static_cast<AccelData*>(handle);
    if (list == nullptr || data == nullptr) {
        return ACCEL_ERR_NULL;
    }
    if (data->count == 0) {
        return ACCEL_ERR_NO_GALLERY;
    }
    if (data->finalReady == 0) {
        return ACCEL_ERR_FINAL_NOT_INIT;
    }
    // 2.-4. Short-list sizes; the probe in every slot's comparer.
    unsigned long long d1 = 0;
    unsigned long long d2 = 0;
    getFinalDivisors(getNumFingerPairs(data, probe, coarse, n), param.searchSpeed, d1, d2);
    const int loaded = loadProbeTemplate(data, probe);
    if (loaded != ACCEL_OK) {
        return loaded;
    }
    // 5. First short-list: the head of the coarse ranking.
    const unsigned long long records = data->count;
    const unsigned long long k1 = std::min<unsigned long long>(
        {std::max<unsigned long long>(records / d1, n), coarse.size(), data->capacity});
    auto it = coarse.begin();
    for (unsigned long long i = 0; i < k1; ++i, ++it) {
        SS_RL& e = data->candidates[i];
        e = SS_RL{};
        e.record = it->index;
    }
    // 6.-7. Pass 1.
    AccelSearchParam pass = param;
    pass.searchSpeed = param.searchSpeed <= 1 ? 0 : (param.searchSpeed == 2 ? 1 : 2);
    FinalRanking ranking;
    int code = onePassFinalIdentifyTP(data, pass, static_cast<unsigned>(k1), ranking);
    if (code != ACCEL_OK) {
        return code;
    }
    // 8.-10. Second short-list and pass 2.
    const unsigned k2 = fillInputRl(data, ranking, std::max<unsigned long long>(records / d2, n));
    pass.maxFingerPairs = 10;
    pass.searchSpeed = param.searchSpeed > 2 ? 1 : 0;
    code = onePassFinalIdentifyTP(data, pass, k2, ranking);
    if (code != ACCEL_OK) {
        return code;
    }
    // 11. The list.
    fillRecomList(ranking, list, n);
    buildFinalRecomList(list, n, data->ids);
    return ACCEL_OK;
}

int completeIdentifyTP(void* handle, AccelSearchParam& param, TpTemplate& probe, RL* list,
                       unsigned n, PersonalData* personal)
{
    if (list == nullptr || handle == nullptr) {
        return ACCEL_ERR_NULL;
    }
    std::memset(static_cast<void*>(list), 0, sizeof(RL) * n);
    CoarseRanking coarse;
    int code = accelIdentifyTP_(handle, param, probe, coarse, personal);
    if (code == ACCEL_OK) {
        code = finalIdentifyTP(handle, param, probe, coarse, list, n);
    }
    if (code != ACCEL_OK) {
        std::memset(static_cast<void*>(list), 0, sizeof(RL) * n);
    }
    return code;
}

int loadTP(void* handle, TpTemplate& probe, PersonalData* personal)
{
    AccelData* data = static_cast<AccelData*>(handle);
    if (data == nullptr) {
        return ACCEL_ERR_NULL;
    }
    const int code = loadAccelTP(handle, probe, personal);
    if (code != ACCEL_OK) {
        return code;
    }
    return data->finalReady != 0 ? loadProbeTemplate(data, probe) : ACCEL_OK;
}

int getMaxStepNum()
{
    return 2;
}

int doStepCompareTP(void* handle, AccelSearchParam& param, unsigned slot, unsigned step,
                    TpTemplate& /*probe*/, unsigned char* accel, TpTemplate& /*gallery*/,
                    MatchResultTT& result)
{
    if (step > 2) {
        return ACCEL_ERR_STEP;
    }
    AccelData* data = static_cast<AccelData*>(handle);
    if (accel == nullptr || data == nullptr) {
        return ACCEL_ERR_NULL;
    }
    if (step == 0) {
        return compareAccelTP_(handle, param, accel, slot, result, false);
    }
    if (data->finalReady == 0) {
        return ACCEL_ERR_FINAL_NOT_INIT;
    }
    AccelSearchParam pass = param;
    pass.searchSpeed = param.searchSpeed == 0 ? 0 : std::min(param.searchSpeed - 1, 2u);
    return twoStepsCompareTP(handle, pass, accel, result, slot);
}

int preciseMatchEx(ThreadData* slot, SearchParam& sp, unsigned char* tpl, int& score,
                   int fingerIndex, bool accelMode, unsigned char* accelP, unsigned char* accelG,
                   unsigned char numAccel)
{
    if (slot == nullptr || slot->finalMatcher == nullptr) {
        return ACCEL_ERR_NULL;
    }
    return slot->finalMatcher->matchEx(sp, tpl, FP_PLAIN, score,
                                       static_cast<FINGERS>(fingerIndex + 1), nullptr, accelMode,
                                       accelP, accelG, numAccel, false);
}

} // namespace accelMatch
