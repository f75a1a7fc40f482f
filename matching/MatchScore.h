// Match score of a group of matched minutia pairs: the parameter block that the matcher fills
// from the group (topology similarity, distance and angle errors per class), the per-minutia
// evidence records of both sides, and the table-driven formula that turns them into a score
// from 0 to 10000. Integer arithmetic except three square roots; nothing throws.
#pragma once

#include <cstdint>

namespace accelMatch {

constexpr int NUM_CALC_SCORE_TYPES = 5;
constexpr int NUM_SCORE_CLASSES = 3; // pair classes: first group, main group, rest

// Status of one minutia in a scored group.
enum FOUND_STATUS : std::uint8_t {
    FS_EXCLUDED = 0,
    FS_FIRST = 1,
    FS_MAIN = 2,
    FS_REST = 3,
    FS_NOT_FOUND = 4,
};

// Unreliable kind: the state of the partner of a minutia that belongs to an unreliable pair.
constexpr std::uint8_t UNRELIABLE_NONE = 0;
constexpr std::uint8_t UNRELIABLE_PARTNER_MATCHED = 1;
constexpr std::uint8_t UNRELIABLE_PARTNER_NOT_MATCHED = 2;
constexpr std::uint8_t UNRELIABLE_PARTNER_EXCLUDED = 3;

// Evidence of one minutia.
struct MinData {
    std::uint8_t status;      // FOUND_STATUS
    std::uint8_t unreliable;  // UNRELIABLE_*
    std::uint8_t distance;    // link distance to the unreliable partner, below 40
    std::uint8_t ridgeCount;  // absolute ridge count to that partner, at most 5
    std::uint8_t probability; // evidence weight
};

struct ScoreParameters {
    std::uint8_t calcScoreType;
    std::uint8_t m_qualityP;
    std::uint8_t m_qualityG;
    std::uint8_t m_disrErrR[NUM_SCORE_CLASSES];
    std::uint8_t m_minRelAngleErr[NUM_SCORE_CLASSES];
    std::uint8_t m_angleErr[NUM_SCORE_CLASSES];
    std::uint8_t m_angleErr1[NUM_SCORE_CLASSES];
    std::uint8_t m_relAngleErr[NUM_SCORE_CLASSES];
    std::uint16_t m_topologySim[NUM_SCORE_CLASSES];
    std::uint8_t m_numNestP;
    std::uint8_t m_numNestG;
};

// Score tables, rows by score type.
extern const int g_k_score_common[NUM_CALC_SCORE_TYPES][2];
extern const int g_k_score_pg_bounds[NUM_CALC_SCORE_TYPES][3];
extern const int g_k_score_q_bounds[NUM_CALC_SCORE_TYPES][2];
extern const int g_k_score[NUM_CALC_SCORE_TYPES][17];
extern const int g_k_score_pg[NUM_CALC_SCORE_TYPES][4][7];
extern const int g_k_score_pg_q[NUM_CALC_SCORE_TYPES][12][2];
extern const int g_k_score_up_f_p[NUM_CALC_SCORE_TYPES][10];
extern const int g_k_score_up_f_g[NUM_CALC_SCORE_TYPES][10];

// The score of a prepared parameter block and the two sides' evidence (m_numNestP and
// m_numNestG records each; statuses below a side's threshold turn excluded). 0..10000.
int calculateScore(const ScoreParameters& params, MinData* probe, MinData* gallery,
                   const int (*pgQ)[12][2], const int (*pg)[4][7], const int (*k)[17],
                   const int (*common)[2], const int (*pgBounds)[3], const int (*qBounds)[2],
                   const int (*upFP)[10], const int (*upFG)[10]);

// Sums the corrected probabilities of one side by status; sums[0..2] for statuses 1..3.
void calcProbs(MinData* md, int count, const int* correction, int threshold, int& firstGroupSize,
               int& mainGroupSize, int& numFound, int* sums, int& notFoundSum, int& numExcluded,
               int& numNotFound);
int correctProb(int prob, const MinData& md, const int* correction);
int correctFoundProb(std::uint8_t prob, int distance, int ridgeCount, int limit, const int* f);
int correctNotFoundProb(std::uint8_t prob, int distance, int ridgeCount, int limit, const int* f);
// 0 when value < bounds[0]; else the first i in 1..n-2 with bounds[i] > value; else n - 1.
int getIndex(int value, const int* bounds, int n);
int normalizeCorrectionProb(int a, int b);
// Prints the parameter block on standard output.
void printfParam(const ScoreParameters& params);

} // namespace accelMatch
