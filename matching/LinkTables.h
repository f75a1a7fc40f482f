// Fixed tables that give meaning to the link slots of a minutia's neighbour list: the link
// transition of a probe and a gallery link code, the quadrant, side and direction sense of a
// slot, and the ridge count a slot and code stand for. Read by the nest comparison, the nest
// signatures of the matcher and the accelerator; nothing writes them.
#pragma once

#include <cstdint>

namespace accelMatch {

// Link and nest transitions: 0..24, TR_NONE for none. 0..8 are nest transitions (rows of
// TransitionMatrix); T2T gives link transitions, TR_NO_MATCH where two codes never match.
using Transition = std::int32_t;
constexpr Transition NT = 0;
constexpr Transition TL_2 = 5;
constexpr Transition TL_3 = 9;
constexpr Transition MPT = 24;
constexpr Transition TR_NO_MATCH = 25;
constexpr Transition TR_NONE = 26;

constexpr int NUM_LINK_CODES = 16;
constexpr int NUM_SLOTS_B = 35; // slots of a type-0 minutia
constexpr int NUM_SLOTS_E = 33; // slots of a type-1 minutia

extern const std::int8_t T2T[NUM_LINK_CODES][NUM_LINK_CODES];
extern const std::int8_t Quadrant[2][NUM_SLOTS_B];
extern const std::int8_t isRightLink[2][NUM_SLOTS_B];
extern const std::int8_t isSameDir[NUM_LINK_CODES];
extern const std::int8_t nextQuadrants[4];
extern const std::int8_t oppositeQuadrants[4];
extern const std::int8_t isDownQuadrant[4];
extern const std::int8_t ridgeCountB[NUM_SLOTS_B][NUM_LINK_CODES];
extern const std::int8_t ridgeCountE[NUM_SLOTS_E][NUM_LINK_CODES];

// Class of a transition: 0 for t <= 0, 1 for 1..4, 2 for 5..8, ... 6 for 21..24, -1 above 24.
inline int transitionClass(Transition t)
{
    if (t <= 0) {
        return 0;
    }
    if (t > MPT) {
        return -1;
    }
    return (t + 3) / 4;
}

// Whether nest transition t can relate a probe minutia of type typeP (0 or 1) to a gallery
// minutia of type typeG; nothing above MPT is possible.
bool isTransitionPossibleForTypes(int typeP, int typeG, Transition t);

// Same-direction flag of a link in `slot` (0..34) of a minutia of `type` with `code`
// (0..15): isSameDir where the slot's quadrant is 0 or 3, its negation otherwise.
inline bool slotSameDir(int type, int slot, int code)
{
    const int q = Quadrant[type][slot];
    const bool same = isSameDir[code] != 0;
    return (q == 0 || q == 3) ? same : !same;
}

// Raw ridge count of a link in `slot` with `code` of a minutia of `type`, or false when the
// slot lies beyond that type's table.
inline bool slotRidgeCount(int type, int slot, int code, int& count)
{
    if (slot < 0 || code < 0 || code >= NUM_LINK_CODES) {
        return false;
    }
    if (type == 1) {
        if (slot >= NUM_SLOTS_E) {
            return false;
        }
        count = ridgeCountE[slot][code];
        return true;
    }
    if (slot >= NUM_SLOTS_B) {
        return false;
    }
    count = ridgeCountB[slot][code];
    return true;
}

} // namespace accelMatch
