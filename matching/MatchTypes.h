// Shared vocabulary of the matcher and the record comparison: the comparison parameters and
// their validity rule, the pairing modes, fusion methods and print kinds, the three result
// records, the -4xx failure codes, the allocation-failure exception, the qsort orders shared
// by several components and the process-wide nest transition matrix.
#pragma once

#include <cstdint>
#include <cstring>

namespace accelMatch {

// Failure codes of the matcher (0 = success); also thrown as int inside it.
constexpr int MA_ERR_FINGER_COUNT = -402;
constexpr int MA_ERR_MEMORY = -404;
constexpr int MA_ERR_NOT_INIT = -406;
constexpr int MA_ERR_EXCEPTION = -408;
constexpr int MA_ERR_BAD_PROBE = -410;
constexpr int MA_ERR_BAD_GALLERY = -411;
constexpr int MA_ERR_MATCH_FAILED = -414;
constexpr int MA_ERR_NOTHING_TO_COMPARE = -416;
constexpr int MA_ERR_PROBE_NOT_LOADED = -418;
constexpr int MA_ERR_FINGER_POSITION = -420;
constexpr int MA_ERR_NULL = -422;
constexpr int MA_ERR_SEARCH_PARAM = -426;
constexpr int MA_ERR_PROBE_PARTLY_LOADED = -438;

// How finger positions are paired; any other value behaves as MM_POSITIONAL.
enum MATCHING_MODE : std::int32_t {
    MM_POSITIONAL = 0,
    MM_FINGER_MIX = 1,
    MM_SLAP_MIX = 2,
    MM_HAND_MIX = 3,
};

// How finger scores are fused.
constexpr int FUSION_RANK_WEIGHTS = 0;
constexpr int FUSION_ASCENDING_THRESHOLD = 1;
constexpr int FUSION_DESCENDING_THRESHOLD = 2;

// Kind of print a template comes from; only FP_LATENT changes behaviour.
enum FP_TYPE : std::int32_t {
    FP_PLAIN = 0,
    FP_LATENT = 3,
};

// Parameters of a record comparison: ten 32-bit fields in this order.
struct SearchParam {
    std::int32_t matcherSpeed;   // row of the speed table, 0 = full search
    std::int32_t maxAngle;       // rotation limit in degrees, positions other than thumbs
    std::int32_t maxAngleThumbs; // rotation limit for positions 1 and 6
    std::int32_t reserved;       // 400 from every builder; read by nothing
    std::int32_t lowScore;       // low fused-score threshold (fusion methods 1 and 2)
    std::int32_t highScore;      // high fused-score threshold (fusion methods 1 and 2)
    std::uint32_t minFingers;    // comparisons counted before a threshold may stop
    std::uint32_t maxFingers;    // comparisons after which a positional comparison stops
    MATCHING_MODE matchingMode;
    std::int32_t fusionMethod;
};
static_assert(sizeof(SearchParam) == 40, "SearchParam is ten 32-bit fields");

// Validity rule of a SearchParam, in order: scores above 10000 (signed), angles above 180 or
// finger counts above 10 (unsigned, so negatives fail too), speed outside 0..3.
bool isSearchParamValid(const SearchParam& p);

constexpr int MAX_MATCH_PAIRS = 255;

struct MatchPair {
    std::uint16_t np;
    std::uint16_t ng;
};

// Result of one finger pair.
struct MatchResult {
    std::uint32_t fingerP;
    std::uint32_t fingerG;
    std::int32_t score; // 0..10000
    std::uint32_t numPairs;
    MatchPair pairs[MAX_MATCH_PAIRS];
    std::int32_t centerPX;
    std::int32_t centerPY;
    std::int32_t centerGX;
    std::int32_t centerGY;
    std::int32_t rotation; // the matched group's rotation, negated
};

constexpr int MAX_FINGERS = 10;
constexpr std::uint8_t NO_GALLERY_FINGER = 0xFF;

// Result of two ten-finger records.
struct MatchResultTT {
    std::int32_t score;
    std::int32_t fingerScore[MAX_FINGERS];
    std::uint8_t galleryFinger[MAX_FINGERS]; // 0-based, NO_GALLERY_FINGER = none
    std::uint32_t numCompared;

    // The empty result: scores 0, no gallery fingers, nothing compared.
    void clear();
};

// One entry of a ranked list, best first; unused entries are all zero.
struct RL {
    std::uint64_t listId;
    std::uint32_t listAux;
    std::int32_t score;
};

// Element of the ranked multiset of an identification; aux is -1.
struct RLex {
    std::uint64_t index;
    std::int32_t aux;
    std::int32_t score;
};

// Order of that multiset: larger score first; std::multiset puts a new element after the
// equal ones, so equal scores keep the insertion order.
struct RLexOrder {
    bool operator()(const RLex& a, const RLex& b) const { return a.score > b.score; }
};

// Thrown by the nest comparison and hit-group allocations when memory runs out. The catching
// layer treats it like any exception that is not an int.
struct MyException {
    std::int32_t code = MA_ERR_MEMORY;
    char text[1025] = {};
    char detail[1025] = {};
};

// qsort orders; "descending" puts the larger key first, equal keys keep no defined order.
int compareScores(const void* a, const void* b);          // int, descending
int comparePairScore(const void* a, const void* b);       // {int, int, int score}, by score
int compareExpandGroupPair(const void* a, const void* b); // pointers to records, u16 at byte 2

// Descending order of two keys, and the u16 at byte 2 of a record: the keys of the orders.
inline int MtDescending(std::int64_t a, std::int64_t b)
{
    return a > b ? -1 : (a < b ? 1 : 0);
}
inline std::uint16_t MtU16At2(const void* p)
{
    std::uint16_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(p) + 2, sizeof v);
    return v;
}

// The nest orders, inline because the nest comparison sorts by them through std::stable_sort.
// Records with a u16 at byte 2, descending.
inline int compareNestSim(const void* a, const void* b)
{
    return MtDescending(MtU16At2(a), MtU16At2(b));
}

// 3-byte records, byte 2, descending.
inline int compareNestVirtSize(const void* a, const void* b)
{
    return MtDescending(static_cast<const unsigned char*>(a)[2],
                        static_cast<const unsigned char*>(b)[2]);
}

constexpr int NUM_NEST_TRANSITIONS = 9;
constexpr int NUM_LINK_SLOTS = 35;

// Nest transition t maps probe link slot k to gallery slot TransitionMatrix[t][k], -1 = none.
// Written whole whenever a record comparison object is initialised.
extern std::int32_t TransitionMatrix[NUM_NEST_TRANSITIONS][NUM_LINK_SLOTS];
extern const std::int32_t DEFAULT_TRANSITION_MATRIX[NUM_NEST_TRANSITIONS][NUM_LINK_SLOTS];
// Writes the default contents into TransitionMatrix (rows 7 and 8 zero).
void setDefaultTransitionMatrix();

} // namespace accelMatch
