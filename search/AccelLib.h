// The accelerator library: its context behind an opaque handle (AccelData) with one work slot
// per thread (ThreadData), the group of minutia pairs the comparison grows (AccelPair), the
// search parameters and gallery items, and every entry point of enrolment (calcAccel),
// upload, coarse search and final stage. Entry points answer 0 or an ACCEL_ERR_* code.
#pragma once

#include "interface/ZelvanFinger.h"
#include "matching/MatchTypes.h"
#include "platform/export.h"
#include "records/Unwrap.h"
#include "search/AccelRecord.h"
#include "search/AccelTables.h"

#include <cstdint>
#include <list>
#include <set>

namespace accelMatch {

class Ma100_accel_TT;

constexpr int ACCEL_MAX_MINUTIAE = 1020;
constexpr int ACCEL_MAX_SINGULAR = 64;
constexpr unsigned ACCEL_AREA_SIZE = 262144;
constexpr int ACCEL_POOL = 20;
constexpr int ACCEL_PAIRS = 255;
constexpr int ACCEL_TRIPLETS = 64;
constexpr unsigned ACCEL_FINAL_UNIT = 10485760; // final-stage sizes are multiples of 10 MiB
constexpr std::uint16_t ACCEL_REMOVED = 0xFFFF;

// Stable insertion sort of n elements by `before` (the arrays here hold at most 255 elements;
// no allocation).
template <typename T, typename Before> void AcStableSort(T* a, unsigned n, Before before)
{
    for (unsigned i = 1; i < n; ++i) {
        T v = a[i];
        unsigned j = i;
        while (j > 0 && before(v, a[j - 1])) {
            a[j] = a[j - 1];
            --j;
        }
        a[j] = v;
    }
}

// A group of minutia pairs (probe index, gallery index) with its alignment.
struct AccelPair {
    std::uint16_t* p = nullptr; // probe minutia per slot; ACCEL_REMOVED in the main list
    std::uint16_t* g = nullptr; // gallery minutia per slot
    std::uint32_t count = 0;    // slots in use
    std::uint8_t live = 0;      // pairs not removed
    std::uint8_t largeRotation = 0;
    int rotation = 0; // gallery minus probe direction, 4-degree units 0..89
    int pcx = 0;
    int pcy = 0;
    int gcx = 0;
    int gcy = 0;
    std::uint32_t recalcLive = 0; // live count at the last recalculation; 0 = stale
    std::uint32_t capacity = 0;
    MinutiaeData* probe = nullptr;
    MinutiaeData* gallery = nullptr;
    int nProbe = 0;   // items behind probe
    int nGallery = 0; // items behind gallery
    AccelTables* tables = nullptr;
    const std::uint8_t* tol = nullptr;

    AccelPair() = default;
    AccelPair(const AccelPair&) = delete;
    AccelPair& operator=(const AccelPair&) = delete;
    ~AccelPair();
    // Two zeroed arrays of 255 entries; false when either cannot be allocated.
    bool alloc();
    // Empties the group: counts, flag, rotation and centres.
    void clear();
    // Appends a pair (nothing when full).
    void add(int pi, int gi);
    // Starts the group from one pair: rotation from the two directions, centres at them.
    void seed(int pi, int gi);
    bool hasProbe(int pi) const;
    bool hasGallery(int gi) const;

    void recalcData();
    bool isCompatible(int pi, int gi, bool centreOnly, bool* probeMarks, bool* galleryMarks);
    unsigned calcSumErr(unsigned slot, int pi, int gi) const;
    // Copies counts, alignment, minutia pointers and pairs into out.
    void copyTo(AccelPair& out) const;
};

// One probe nest against one gallery nest.
struct Triplet {
    std::uint8_t probe;
    std::uint8_t gallery;
    std::uint16_t sim;
};

// Minutia index -> its nest signature (null where none).
struct SortedAccel {
    Accel* nest[ACCEL_PAIRS];
};

// Search parameters of one identification.
struct AccelSearchParam {
    std::uint32_t searchSpeed;
    int maxAngle;
    int maxAngleThumbs;
    int maxFingerPairs; // -1 chosen by the speed row; 1..9 fixed; 10 or more 10
    std::uint8_t filterClass;
    std::uint8_t filterAttribute;
    int attributeTolerance;
    std::uint8_t extraPairing;
    int matchingMode;
    int lowScore;
    int highScore;
};

// A record of the caller's gallery as the upload reads it.
struct GalleryItem {
    unsigned char* tpl[10];
    unsigned char* accel;
    std::uint64_t id;
};

// A record of the final stage's candidate list.
struct SS_RL {
    std::uint64_t record;
    int fingerScore[10];
    std::uint8_t galleryFinger[10];
    int score;
};
static_assert(sizeof(SS_RL) == 64, "candidate entries are 64 bytes");

struct SSOrder {
    bool operator()(const SS_RL& a, const SS_RL& b) const { return a.score > b.score; }
};

using CoarseRanking = std::multiset<RLex, RLexOrder>;
using FinalRanking = std::multiset<SS_RL, SSOrder>;

// One gallery candidate of a probe finger.
struct FingerCandidate {
    std::uint8_t galleryFinger;
    std::uint8_t numPairs;
    std::uint16_t reserved;
    int score;
    std::uint8_t pairs[16][2];
};
static_assert(sizeof(FingerCandidate) == 40, "candidate entries are 40 bytes");

// The gallery candidates of one probe finger.
struct FingerPairs {
    std::uint8_t probeFinger;
    std::uint8_t count;
    FingerCandidate cand[10];
    std::uint8_t usable;
    int best;
    int key;
};

struct FingerPairsSet {
    FingerPairs rec[10];
    FingerPairs* order[10];
};

// One work slot.
struct ThreadData {
    AccelPair* pool[ACCEL_POOL] = {};
    AccelPair* spare = nullptr;
    CoarseRanking coarse;
    FinalRanking finalRanking;
    ESK::Unwrap* reader = nullptr;
    std::int16_t* probeRadii = nullptr;
    std::int16_t* galleryRadii = nullptr;
    std::uint8_t* probePolar = nullptr;
    std::uint8_t* galleryPolar = nullptr;
    AccelPair mainPairs;
    FingerPairsSet pairs;
    Triplet triplets[ACCEL_TRIPLETS];
    SortedAccel galleryNests;
    ESK::Link* links = nullptr;
    ESK::Lot<short>* minutiae = nullptr;
    ESK::Lot<short>* singular = nullptr;
    unsigned char* area = nullptr;
    Ma100_accel_TT* finalMatcher = nullptr;

    ThreadData();
    ThreadData(const ThreadData&) = delete;
    ThreadData& operator=(const ThreadData&) = delete;
    ~ThreadData();
    bool alloc();
};

// The probe state of one finger position.
struct ProbeFinger {
    unsigned char* accel;  // standard block, null when absent
    unsigned char* spare;  // full form
    unsigned char* area;   // area mask
    unsigned char* output; // standard form output
    std::uint32_t sizeX;
    std::uint32_t sizeY;
    std::uint32_t areaW;
    std::uint32_t areaH;
    Accel* nests;
    unsigned char* nestMinutia;
    unsigned char* nestWeight;
    MinutiaeData* items;
    SortedAccel nestOf;
    unsigned char* present; // presence as the coarse stage reads it
};

// The library context.
struct AccelData {
    std::uint8_t open = 0;
    std::uint8_t finalReady = 0;
    ThreadData* slots = nullptr;
    std::uint32_t threads = 0;
    ProbeFinger probe[10] = {};
    PersonalData personal = {};
    AccelTables* tables = nullptr;
    SS_RL* candidates = nullptr;
    std::uint32_t capacity = 0;
    std::uint64_t* ids = nullptr;
    unsigned char** accels = nullptr;
    unsigned char** tpls = nullptr;
    std::uint64_t count = 0;
    std::uint32_t version = 73;

    bool alloc();
    void free();
    // Slot of the calling thread: omp_get_thread_num() with two or more slots, else 0.
    unsigned slot() const;
};

// Library lifecycle.
ZF_EXPORT int initAccelLib(void** handle, unsigned& threads);
ZF_EXPORT int closeAccelLib(void** handle);
ZF_EXPORT int initFinalMatching(void* handle, unsigned& size);

// Accelerator computation.
ZF_EXPORT int calcAccel(void* handle, TpTemplate& tpl, unsigned char* out, unsigned& size,
                        PersonalData* personal);
int calcOneFingerAccel(void* handle, unsigned char* tpl, unsigned char* out, unsigned* size,
                       unsigned slot, unsigned char* fullOut);
void calcAccel_base(AccelTables* tables, ESK::Lot<short>* minutiae, ESK::Link* links, unsigned n,
                    unsigned* size, unsigned char* out, unsigned char quality,
                    unsigned char* fullOut);
int getQuadrantEx(unsigned slot, unsigned type, unsigned code, bool& barred);

// Upload and coarse search.
// Forgets a loaded probe finger (its buffers stay).
void clearProbeFinger(ProbeFinger& f);
ZF_EXPORT int uploadDb(void* handle, std::list<GalleryItem>& gallery);
int loadAccelTP(void* handle, TpTemplate& probe, PersonalData* personal);
int loadProbeFinger(AccelData* data, unsigned char* tpl, int finger, unsigned slot);
ZF_EXPORT int loadProbeAccel(void* handle, unsigned char* tpl, int finger);
int accelIdentifyTP_(void* handle, AccelSearchParam& param, TpTemplate& probe, CoarseRanking& out,
                     PersonalData* personal);
ZF_EXPORT int accelIdentifyTP(void* handle, AccelSearchParam& param, TpTemplate& probe, RL* list,
                              unsigned n, PersonalData* personal);
ZF_EXPORT int compareAccelTP(void* handle, AccelSearchParam& param, unsigned char* accel,
                             unsigned slot, MatchResultTT& result);
int compareAccelTP_(void* handle, AccelSearchParam& param, unsigned char* accel, unsigned slot,
                    MatchResultTT& result, bool collect);
ZF_EXPORT int accelPairMatch(void* handle, AccelSearchParam& param, unsigned char* probeTpl,
                             unsigned char* galleryAccel, int probeFinger, int galleryFinger,
                             int& score, MatchResult& result);
ZF_EXPORT bool compareTpByPatterns(AccelData* data, TpAccel& gallery);
// Fused coarse score of n finger scores of which count were compared; null scores: -1.
int getFusedScore_accel(unsigned n, unsigned count, const int* scores);
// Number of records of the pair set to compare under limit (Part of the pairing rules).
int getFingersToCompare(const std::uint32_t* speedRow, FingerPairsSet& set, int limit, int P);
int compareFingerPairs(const void* a, const void* b);
int compareTriplets(const void* a, const void* b);

// Finger comparison.
int compAccel(AccelData* data, AccelSearchParam& sp, const std::uint32_t* speedRow, int finger,
              unsigned char* galleryBlock, int& score, SortedAccel* galleryNests, AccelPair** pool,
              unsigned slot, AccelPair* bestOut);

// Group geometry and score.
struct AccelScoreParam {
    std::uint8_t pairs;
    std::uint8_t positionDif;
    std::uint8_t directionDif;
    std::uint8_t probeCount;
    std::uint8_t galleryCount;
    std::uint8_t excludedGallery;
    std::uint8_t excludedProbe;
    std::uint8_t linkPairs;
    std::int16_t topologySim;
    std::uint8_t lengthDif;
    std::uint8_t probeQuality;
    std::uint8_t galleryQuality;
    std::uint8_t polarDif;
    std::uint8_t longest;
};
int calcScore(AccelScoreParam& p, const int* row);
int compareNests(const Accel* probeNest, const Accel* galleryNest, const bool* probeExcluded,
                 const bool* galleryExcluded);
// Scores one group of a finger comparison (geometric expansion, exclusion, measures, score);
// -1 when the alignment was refused.
int scoreGroup(AccelData* data, int finger, AccelPair* g, unsigned char* galleryBlock,
               SortedAccel* galleryNests, int maxRotation, unsigned slot);
bool transferMinutiaes(const MinutiaeData* src, MinutiaeData* dst, int n, int fromX, int fromY,
                       int toX, int toY, unsigned rotationDegrees, std::int16_t* radii,
                       std::uint8_t* polar);

// Final stage.
ZF_EXPORT int completeIdentifyTP(void* handle, AccelSearchParam& param, TpTemplate& probe, RL* list,
                                 unsigned n, PersonalData* personal);
int finalIdentifyTP(void* handle, AccelSearchParam& param, TpTemplate& probe, CoarseRanking& coarse,
                    RL* list, unsigned n);
int getNumFingerPairs(AccelData* data, TpTemplate& probe, CoarseRanking& coarse, unsigned n);
unsigned fillInputRl(AccelData* data, FinalRanking& ranking, unsigned long long n);
void fillRecomList(FinalRanking& ranking, RL* list, unsigned n);
void buildFinalRecomList(RL* list, unsigned n, const std::uint64_t* ids);
// Record score of a final pass: the best finger scores weighted 30, 30, 30, 10 (/ 100).
int getPassScore(const int* fingerScores);
int twoStepsCompareTP(void* handle, AccelSearchParam& passParam, unsigned char* accel,
                      MatchResultTT& result, unsigned slot);
// Divisors (d1, d2) of the two short-lists by shared finger count P and speed.
void getFinalDivisors(int P, unsigned speed, unsigned long long& d1, unsigned long long& d2);
ZF_EXPORT int loadTP(void* handle, TpTemplate& probe, PersonalData* personal);
ZF_EXPORT int getMaxStepNum();
// One step of a record comparison: 0 coarse, 1 and 2 the final passes (16 above 2).
ZF_EXPORT int doStepCompareTP(void* handle, AccelSearchParam& param, unsigned slot, unsigned step,
                              TpTemplate& probe, unsigned char* accel, TpTemplate& gallery,
                              MatchResultTT& result);
// One gallery finger against the slot's loaded probe through its final-stage comparer.
ZF_EXPORT int preciseMatchEx(ThreadData* slot, SearchParam& sp, unsigned char* tpl, int& score,
                             int fingerIndex, bool accelMode, unsigned char* accelP,
                             unsigned char* accelG, unsigned char numAccel);

} // namespace accelMatch
