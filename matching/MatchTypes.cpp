// The validity rule of the comparison parameters, the shared qsort orders and the
// process-wide nest transition matrix with its default contents.

#include "matching/MatchTypes.h"

namespace accelMatch {

bool isSearchParamValid(const SearchParam& p)
{
    if (p.highScore > 10000 || p.lowScore > 10000) {
        return false;
    }
    if (static_cast<std::uint32_t>(p.maxAngle) > 180 ||
        static_cast<std::uint32_t>(p.maxAngleThumbs) > 180) {
        return false;
    }
    if (p.maxFingers > MAX_FINGERS || p.minFingers > MAX_FINGERS) {
        return false;
    }
    // The speed tables have rows 0..3 only: a negative level is refused like 4.
    return p.matcherSpeed >= 0 && p.matcherSpeed <= 3;
}

void MatchResultTT::clear()
{
    score = 0;
    std::memset(fingerScore, 0, sizeof fingerScore);
    std::memset(galleryFinger, NO_GALLERY_FINGER, sizeof galleryFinger);
    numCompared = 0;
}

int compareScores(const void* a, const void* b)
{
    return MtDescending(*static_cast<const int*>(a), *static_cast<const int*>(b));
}

int comparePairScore(const void* a, const void* b)
{
    return MtDescending(static_cast<const int*>(a)[2], static_cast<const int*>(b)[2]);
}

int compareExpandGroupPair(const void* a, const void* b)
{
    return MtDescending(MtU16At2(*static_cast<const void* const*>(a)),
                        MtU16At2(*static_cast<const void* const*>(b)));
}

// clang-format off
const std::int32_t DEFAULT_TRANSITION_MATRIX[NUM_NEST_TRANSITIONS][NUM_LINK_SLOTS] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
     25, 26, 27, 28, 29, 30, 31, 32, 33, 34},
    {1, 2, 0, 5, 6, 3, 4, 9, 10, 7, 8, 13, 14, 11, 12, 17, 18, 15, 16, 21, 22, 19, 20, 25, 26,
     23, 24, 29, 30, 27, 28, 33, 34, -1, -1},
    {2, 3, 4, 0, 1, 7, 8, 5, 6, 11, 12, 9, 10, 15, 16, 13, 14, 19, 20, 17, 18, 23, 24, 21, 22,
     27, 28, 25, 26, 31, 32, 29, 30, -1, -1},
    {2, 0, 1, 5, 6, 3, 4, 9, 10, 7, 8, 13, 14, 11, 12, 17, 18, 15, 16, 21, 22, 19, 20, 25, 26,
     23, 24, 29, 30, 27, 28, -1, -1, 31, 32},
    {3, 4, 0, 1, 2, 7, 8, 5, 6, 11, 12, 9, 10, 15, 16, 13, 14, 19, 20, 17, 18, 23, 24, 21, 22,
     27, 28, 25, 26, 31, 32, 29, 30, -1, -1},
    {5, 6, 1, 2, 0, 9, 10, 3, 4, 13, 14, 7, 8, 17, 18, 11, 12, 21, 22, 15, 16, 25, 26, 19, 20,
     29, 30, 23, 24, 33, 34, 27, 28, -1, -1},
    {4, 2, 3, 7, 8, 0, 1, 11, 12, 5, 6, 15, 16, 9, 10, 19, 20, 13, 14, 23, 24, 17, 18, 27, 28,
     21, 22, 31, 32, 25, 26, -1, -1, 29, 30},
    {},
    {},
};
// clang-format on

std::int32_t TransitionMatrix[NUM_NEST_TRANSITIONS][NUM_LINK_SLOTS] = {};

void setDefaultTransitionMatrix()
{
    std::memcpy(TransitionMatrix, DEFAULT_TRANSITION_MATRIX, sizeof TransitionMatrix);
}

} // namespace accelMatch
