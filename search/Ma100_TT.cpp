// Front ends of the record comparison: initialisation that turns every failure into a code,
// verification of one gallery record, ranking of a gallery array, and the final-stage slot
// comparer's probe load and one-finger comparison.

#include "search/Ma100_TT.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

namespace accelMatch {
namespace {

// Makes the comparer when there is none yet (make answers null when memory is short) and
// initialises it with matrix, or with the default matrix when matrix is null. 0 or -404 /
// -422; nothing is thrown.
template <typename Make>
int InitComparer(Compare100_TT*& comparer, int* matrix, bool useMatrix, Make make)
{
    try {
        if (comparer == nullptr) {
            comparer = make();
        }
        if (comparer == nullptr) {
            return MA_ERR_MEMORY;
        }
        return useMatrix ? comparer->initEx(nullptr, matrix) : comparer->init(nullptr);
    } catch (...) {
        return MA_ERR_MEMORY;
    }
}

} // namespace

Ma100_TT::~Ma100_TT()
{
    delete m_comparer;
}

Compare100_TT* Ma100_TT::makeComparer()
{
    return new (std::nothrow) Compare100_TT;
}

int Ma100_TT::initWith(int* matrix)
{
    if (m_initialised != 0) {
        return 0;
    }
    const int r =
        InitComparer(m_comparer, matrix, matrix != nullptr, [this] { return makeComparer(); });
    if (r != 0) {
        return r;
    }
    m_loaded = 0;
    m_initialised = 1;
    return 0;
}

int Ma100_TT::init()
{
    return initWith(nullptr);
}

int Ma100_TT::initEx(int* matrix)
{
    if (matrix == nullptr && m_initialised == 0) {
        return MA_ERR_NULL;
    }
    return initWith(matrix);
}

int Ma100_TT::loadTT(TpTemplate& probe, FP_TYPE type)
{
    if (m_initialised == 0 || m_comparer == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    m_loaded = 0;
    const int r = m_comparer->loadTT(probe, type, nullptr, nullptr, nullptr);
    m_loaded = r == 0 ? 1 : 0;
    return r;
}

int Ma100_TT::matchTTex(SearchParam& sp, TpTemplate& gallery, MatchResultTT& res, FP_TYPE type)
{
    if (m_initialised == 0 || m_comparer == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    if (m_loaded == 0) {
        return MA_ERR_PROBE_NOT_LOADED;
    }
    return m_comparer->matchTTEx(sp, gallery, res, type);
}

int Ma100_TT::matchTT(SearchParam& sp, TpTemplate& probe, TpTemplate& gallery, MatchResultTT& res,
                      FP_TYPE probeType, FP_TYPE galleryType)
{
    const int r = loadTT(probe, probeType);
    if (r != 0) {
        return r;
    }
    return matchTTex(sp, gallery, res, galleryType);
}

int Ma100_TT::identifyTT(SearchParam& sp, TpTemplate& probe, TpTemplate* gallery, unsigned count,
                         RL* list, unsigned listLen, FP_TYPE probeType, FP_TYPE galleryType)
{
    // 1. The list is all zero until the ranking is complete.
    if (list == nullptr && listLen != 0) {
        return MA_ERR_NULL;
    }
    std::fill(list, list + listLen, RL{});
    if (gallery == nullptr && count != 0) {
        return MA_ERR_NULL;
    }
    // 2. The probe.
    int r = loadTT(probe, probeType);
    if (r != 0) {
        return r;
    }
    try {
        // 3. Every gallery record; nothing to compare just leaves a record out.
        std::multiset<RLex, RLexOrder> ranked;
        MatchResultTT result;
        result.clear();
        for (std::uint64_t i = 0; i < count; ++i) {
            r = matchTTex(sp, gallery[i], result, galleryType);
            if (r != 0 && r != MA_ERR_NOTHING_TO_COMPARE) {
                return r;
            }
            if (r == 0 && result.score != 0) {
                ranked.insert(RLex{i, -1, result.score});
            }
        }
        // 4. Best first.
        unsigned k = 0;
        for (auto it = ranked.begin(); it != ranked.end() && k < listLen; ++it, ++k) {
            list[k] = RL{it->index, 0, it->score};
        }
    } catch (...) {
        std::fill(list, list + listLen, RL{});
        return MA_ERR_MEMORY;
    }
    return 0;
}

Ma100_accel_TT::~Ma100_accel_TT()
{
    delete m_comparer;
}

int Ma100_accel_TT::initWith(int* matrix)
{
    if (m_initialised != 0) {
        return 0;
    }
    const int r = InitComparer(m_comparer, matrix, matrix != nullptr,
                               [] { return new (std::nothrow) Compare100_TT; });
    if (r != 0) {
        return r;
    }
    m_loaded = 0;
    m_initialised = 1;
    return 0;
}

int Ma100_accel_TT::init(void* /*p*/)
{
    return initWith(nullptr);
}

int Ma100_accel_TT::initEx(void* /*p*/, int* matrix)
{
    if (matrix == nullptr && m_initialised == 0) {
        return MA_ERR_NULL;
    }
    return initWith(matrix);
}

int Ma100_accel_TT::loadTT(TpTemplate& probe, FP_TYPE type, unsigned char** areas, int* widths,
                           int* heights)
{
    if (m_initialised == 0 || m_comparer == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    m_loaded = 0;
    const int r = m_comparer->loadTT(probe, type, areas, widths, heights);
    m_loaded = r == 0 ? 1 : 0;
    return r;
}

int Ma100_accel_TT::matchEx(SearchParam& sp, unsigned char* tpl, FP_TYPE type, int& score,
                            FINGERS finger, MatchResult* out, bool accelMode, unsigned char* accelP,
                            unsigned char* accelG, unsigned char numAccel, bool quick)
{
    if (m_initialised == 0 || m_comparer == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    return m_comparer->matchEx(sp, tpl, score, finger, out, type, accelMode, accelP, accelG,
                               numAccel, quick);
}

} // namespace accelMatch
