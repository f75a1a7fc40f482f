// Record comparison: two multi-finger records (a finger template per finger position), one
// finger matcher per position with the probe loaded once, the gallery compared in one of four
// pairing modes, and the finger scores fused into a record score 0..10000 after every counted
// finger. Operations answer 0 or a -4xx matching code; no exception leaves them.
#pragma once

#include "interface/ZelvanFinger.h"
#include "matching/MatchTypes.h"
#include "matching/Matcher100.h"
#include "search/Fs.h"

namespace accelMatch {

class ZF_EXPORT Compare100_TT {
public:
    Compare100_TT() = default;
    Compare100_TT(const Compare100_TT&) = delete;
    Compare100_TT& operator=(const Compare100_TT&) = delete;
    virtual ~Compare100_TT();

    // Once: the default transition matrix, then as initEx. Later calls answer 0.
    int init(void* unused);
    // Once: copies the 315 entries of matrix (each -1..34, else -422) into TransitionMatrix,
    // then allocates the matchers and the selector (-404). Later calls answer 0.
    int initEx(void* unused, int* matrix);
    int alloc();
    void free();

    // The validity rule of a SearchParam; fusionMethod must be 0, 1 or 2.
    static bool checkSearchParam(SearchParam& sp);
    // Fuses n finger scores after count counted comparisons: 0..10000; -422 for a null array,
    // -426 for an unknown fusionMethod.
    static int calcFusionScore(SearchParam& sp, unsigned n, unsigned count, int* scores);

    // Loads every finger of probe into the matcher of its position; areas, widths and heights
    // are optional arrays of ten. 0, -438 (some fingers rejected, the others usable), -416 (no
    // finger), -406, or the last rejection's code.
    int loadTT(TpTemplate& probe, FP_TYPE type, unsigned char** areas, int* widths, int* heights);
    // Compares gallery with the loaded probe in sp.matchingMode.
    int matchTTEx(SearchParam& sp, TpTemplate& gallery, MatchResultTT& res, FP_TYPE type);

    int compareTT(SearchParam& sp, TemplateData* td, MatchResultTT& res, FP_TYPE type);
    int slapMixMatchTTex(SearchParam& sp, TpTemplate& gallery, FP_TYPE type, MatchResultTT& res);
    int fingerMixMatchTTex(SearchParam& sp, TemplateData* td, FP_TYPE type, MatchResultTT& res);
    int handMixMatchTTex(SearchParam& sp, TpTemplate& gallery, FP_TYPE type, MatchResultTT& res);

    // One gallery finger against the loaded probe finger of the same position. -418 when
    // the last loadTT left no probe finger at that position.
    int matchEx(SearchParam& sp, unsigned char* tpl, int& score, FINGERS finger, MatchResult* out,
                FP_TYPE type, bool accelMode, unsigned char* accelP, unsigned char* accelG,
                unsigned char numAccel, bool quick);

protected:
    // The finger comparisons every mode is made of; a test replaces them with fixed scores.
    // Loads tpl as the probe finger of position (1..10).
    virtual int loadProbeFinger(int position, unsigned char* tpl, FP_TYPE type, unsigned char* area,
                                int width, int height);
    // Loads tpl as the gallery finger of position and matches it into r.
    virtual int matchGalleryFinger(int position, unsigned char* tpl, FP_TYPE type, int maxAngle,
                                   int speed, MatchResult& r);

private:
    static int angleLimit(const SearchParam& sp, int position);
    bool probeReady(int position) const;
    // Builds the ten pairing entries of one table row from gallery.
    static void pairing(const int* table, TpTemplate& gallery, TemplateData* td);

    Matcher100* m_matcher = nullptr; // ten, position p in element p - 1
    Fs* m_fs = nullptr;
    bool m_init = false;
    bool m_loaded = false;
    // Positions whose probe finger the last loadTT loaded; only these are compared.
    bool m_probeLoaded[10] = {};
};

} // namespace accelMatch
