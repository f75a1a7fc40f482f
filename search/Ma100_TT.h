// Front ends of the record comparison: Ma100_TT verifies one gallery record against a probe
// record or ranks an array of gallery records; Ma100_accel_TT is the per-slot comparer of the
// gallery search's final stage. Each owns one Compare100_TT, made on the first init. Answers
// 0 or a -4xx matching code; no exception leaves them.
#pragma once

#include "search/Compare100_TT.h"

#include <cstdint>

namespace accelMatch {

class ZF_EXPORT Ma100_TT {
public:
    Ma100_TT() = default;
    Ma100_TT(const Ma100_TT&) = delete;
    Ma100_TT& operator=(const Ma100_TT&) = delete;
    virtual ~Ma100_TT();

    // Once: makes the comparer and initialises it (default or given transition matrix);
    // -404 when memory is short, the object then stays uninitialised.
    int init();
    int initEx(int* matrix);

    int loadTT(TpTemplate& probe, FP_TYPE type);
    int matchTTex(SearchParam& sp, TpTemplate& gallery, MatchResultTT& res, FP_TYPE type);
    // Loads probe (any non-zero answer, -438 included, ends it), then compares gallery.
    int matchTT(SearchParam& sp, TpTemplate& probe, TpTemplate& gallery, MatchResultTT& res,
                FP_TYPE probeType, FP_TYPE galleryType);
    // Ranks gallery[0..count-1] against probe into list[0..listLen-1], best first, equal scores
    // in gallery order; records that score 0 or have no finger in common are left out.
    int identifyTT(SearchParam& sp, TpTemplate& probe, TpTemplate* gallery, unsigned count,
                   RL* list, unsigned listLen, FP_TYPE probeType, FP_TYPE galleryType);

protected:
    // Makes the comparer on the first attempt; a test may give one of its own instead.
    virtual Compare100_TT* makeComparer();

private:
    int initWith(int* matrix);

    Compare100_TT* m_comparer = nullptr;
    std::uint8_t m_loaded = 0;
    std::uint8_t m_initialised = 0;
};

class ZF_EXPORT Ma100_accel_TT {
public:
    Ma100_accel_TT() = default;
    Ma100_accel_TT(const Ma100_accel_TT&) = delete;
    Ma100_accel_TT& operator=(const Ma100_accel_TT&) = delete;
    ~Ma100_accel_TT();

    int init(void* p);
    int initEx(void* p, int* matrix);
    // As Ma100_TT::loadTT with optional per-position masks; 0 and -438 leave usable fingers.
    int loadTT(TpTemplate& probe, FP_TYPE type, unsigned char** areas, int* widths, int* heights);
    // One gallery finger against the probe finger of its position, loaded or partly loaded.
    int matchEx(SearchParam& sp, unsigned char* tpl, FP_TYPE type, int& score, FINGERS finger,
                MatchResult* out, bool accelMode, unsigned char* accelP, unsigned char* accelG,
                unsigned char numAccel, bool quick);

private:
    int initWith(int* matrix);

    Compare100_TT* m_comparer = nullptr;
    std::uint8_t m_loaded = 0;
    std::uint8_t m_initialised = 0;
};

} // namespace accelMatch
