// Fixed tables that give meaning to the link slots of a minutia's neighbour list: the link
// transition of a probe and a gallery link code, the quadrant, side and direction sense of a
// slot, and the ridge count a slot and code stand for. Read by the nest comparison, the nest
// signatures of the matcher and the accelerator; nothing writes them.
#pragma once

#include <array>
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

// clang-format off
// Ridge count of a type-0 slot by code & 3 (0, 1, 2, 3). Within a row, codes 1 and 2 lie one
// ridge either side of the row's value; two entries of ridgeCountB differ from their row.
inline constexpr std::int8_t RIDGE_PATTERN_B[NUM_SLOTS_B][4] = {
    { 0,  1, -1,  0}, { 0,  0,  1,  0}, { 0, -1,  0,  0}, {-1, -2,  0, -1}, //  0..3
    {-1,  0, -2, -1}, { 1,  2,  0,  1}, { 1,  0,  2,  1}, {-2, -3, -1, -2}, //  4..7
    {-2, -1, -3, -2}, { 2,  3,  1,  2}, { 2,  1,  3,  2}, {-3, -4, -2, -3}, //  8..11
    {-3, -2, -4, -3}, { 3,  4,  2,  3}, { 3,  2,  4,  3}, {-4, -5, -3, -4}, // 12..15
    {-4, -3, -5, -4}, { 4,  5,  3,  4}, { 4,  3,  5,  4}, {-5, -6, -4, -5}, // 16..19
    {-5, -4, -6, -5}, { 5,  6,  4,  5}, { 5,  4,  6,  5}, {-6, -7, -5, -6}, // 20..23
    {-6, -5, -7, -6}, { 6,  7,  5,  6}, { 6,  5,  7,  6}, {-7, -8, -6, -7}, // 24..27
    {-7, -6, -8, -7}, { 7,  8,  6,  7}, { 7,  6,  8,  7}, {-8, -9, -7, -8}, // 28..31
    {-8, -7, -9, -8}, { 8,  9,  7,  8}, { 8,  7,  9,  8},                   // 32..34
};
// Rows 0..4 of the type-1 table; its row s from 5 on is the type-0 row s + 2.
inline constexpr std::int8_t RIDGE_PATTERN_E_HEAD[5][4] = {
    { 0, -1,  1,  0}, {-1, -2,  0, -1}, {-1,  1, -2, -1}, { 1,  2, -1,  1}, { 1,  0,  2,  1},
};
// clang-format on

using RidgeCountTableB = std::array<std::array<std::int8_t, NUM_LINK_CODES>, NUM_SLOTS_B>;
using RidgeCountTableE = std::array<std::array<std::int8_t, NUM_LINK_CODES>, NUM_SLOTS_E>;

constexpr RidgeCountTableB LtRidgeCountB()
{
    RidgeCountTableB t{};
    for (int s = 0; s < NUM_SLOTS_B; ++s) {
        for (int c = 0; c < NUM_LINK_CODES; ++c) {
            t[s][c] = RIDGE_PATTERN_B[s][c & 3];
        }
    }
    t[8][11] = -1;
    t[22][5] = 3;
    return t;
}

constexpr RidgeCountTableE LtRidgeCountE()
{
    RidgeCountTableE t{};
    for (int s = 0; s < NUM_SLOTS_E; ++s) {
        for (int c = 0; c < NUM_LINK_CODES; ++c) {
            t[s][c] = s < 5 ? RIDGE_PATTERN_E_HEAD[s][c & 3] : RIDGE_PATTERN_B[s + 2][c & 3];
        }
    }
    return t;
}

// Ridge count a link in slot s with code c stands for: type-0 minutiae (35 slots) and
// type-1 minutiae (33 slots), indexed [s][c].
inline constexpr RidgeCountTableB ridgeCountB = LtRidgeCountB();
inline constexpr RidgeCountTableE ridgeCountE = LtRidgeCountE();

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

// Family of each link code (0..15): two codes give a link transition (T2T at most MPT) only
// when they are of one family. The families are the linked sets of that relation: the first
// is family 0, every later one family 1; a code that pairs with none is of family -1.
using LinkCodeFamilies = std::array<std::int8_t, NUM_LINK_CODES>;
const LinkCodeFamilies& linkCodeFamilies();

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

// Signed ridge count of a link, with the corrections of a type-0 minutia's slots 1 and 2
// (their counts -1 and 1 read as 0); false when the slot lies beyond the type's table.
inline bool correctedRidgeCount(int type, int slot, int code, int& count)
{
    if (!slotRidgeCount(type, slot, code, count)) {
        return false;
    }
    if (type != 1 && ((slot == 1 && count == -1) || (slot == 2 && count == 1))) {
        count = 0;
    }
    return true;
}

} // namespace accelMatch
