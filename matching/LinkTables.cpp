// Link-slot tables: the link transition of two link codes, the quadrant, side and ridge count
// of each slot, and the nest transitions open to each pair of minutia types.

#include "matching/LinkTables.h"

namespace accelMatch {

// clang-format off
const std::int8_t T2T[NUM_LINK_CODES][NUM_LINK_CODES] = {
    //0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
    {25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25}, //  0
    {25,  0, 14,  6, 25, 25, 25, 25, 25,  3, 12, 25, 25, 25, 25, 25}, //  1
    {25, 13,  0,  5, 25, 25, 25, 25, 25, 11,  4, 25, 25, 25, 25, 25}, //  2
    {25,  5,  6,  0, 25, 25, 25, 25, 25,  4,  3, 25, 25, 25, 25, 25}, //  3
    {25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25}, //  4
    {25, 25, 25, 25, 25,  0, 21, 13, 25, 25, 25,  5, 25,  4, 17, 11}, //  5
    {25, 25, 25, 25, 25, 22,  0,  6, 25, 25, 25, 14, 25, 18,  3, 12}, //  6
    {25, 25, 25, 25, 25, 14,  5,  0, 25, 25, 25,  6, 25, 12,  4,  3}, //  7
    {25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25}, //  8
    {25,  1, 10,  2, 25, 25, 25, 25, 25,  0,  7, 25, 25, 25, 25, 25}, //  9
    {25,  9,  2,  1, 25, 25, 25, 25, 25,  8,  0, 25, 25, 25, 25, 25}, // 10
    {25, 25, 25, 25, 25,  6, 13,  5, 25, 25, 25,  0, 25,  3, 11,  4}, // 11
    {25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25}, // 12
    {25, 25, 25, 25, 25,  2, 19,  9, 25, 25, 25,  1, 25,  0, 15,  8}, // 13
    {25, 25, 25, 25, 25, 20,  1,  2, 25, 25, 25, 10, 25, 16,  0,  7}, // 14
    {25, 25, 25, 25, 25, 10,  9,  1, 25, 25, 25,  2, 25,  7,  8,  0}, // 15
};

const std::int8_t Quadrant[2][NUM_SLOTS_B] = {
    {1, 3, 0, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3,
     0, 1, 2, 3},
    {0, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1,
     2, 3, 0, 1},
};

const std::int8_t isRightLink[2][NUM_SLOTS_B] = {
    {0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1,
     0, 0, 1, 1},
    {0, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0,
     1, 1, 1, 1},
};

const std::int8_t isSameDir[NUM_LINK_CODES] = {0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0};
// clang-format on

const std::int8_t nextQuadrants[4] = {3, 2, 1, 0};
const std::int8_t oppositeQuadrants[4] = {1, 0, 3, 2};
const std::int8_t isDownQuadrant[4] = {1, 0, 0, 1};

bool isTransitionPossibleForTypes(int typeP, int typeG, Transition t)
{
    // Bit t of the mask of each (probe type, gallery type).
    constexpr std::uint32_t POSSIBLE[2][2] = {
        {(1u << 0) | (1u << 5) | (1u << 6) | (1u << 13) | (1u << 14) | (1u << 21) | (1u << 22),
         (1u << 3) | (1u << 4) | (1u << 11) | (1u << 12) | (1u << 17) | (1u << 18)},
        {(1u << 1) | (1u << 2) | (1u << 9) | (1u << 10) | (1u << 19) | (1u << 20),
         (1u << 0) | (1u << 7) | (1u << 8) | (1u << 15) | (1u << 16) | (1u << 23) | (1u << 24)},
    };
    if (t < 0 || t > MPT) {
        return false;
    }
    return ((POSSIBLE[typeP & 1][typeG & 1] >> t) & 1u) != 0;
}

const LinkCodeFamilies& linkCodeFamilies()
{
    static const LinkCodeFamilies families = [] {
        LinkCodeFamilies f{};
        f.fill(-1);
        const auto pairs = [](int a, int b) { return T2T[a][b] <= MPT || T2T[b][a] <= MPT; };
        int found = 0;
        for (int seed = 0; seed < NUM_LINK_CODES; ++seed) {
            bool pairsAny = false;
            for (int c = 0; c < NUM_LINK_CODES; ++c) {
                pairsAny = pairsAny || pairs(seed, c);
            }
            if (f[static_cast<std::size_t>(seed)] >= 0 || !pairsAny) {
                continue;
            }
            // Every code reached from the seed through pairing codes joins its family.
            const auto family = static_cast<std::int8_t>(found == 0 ? 0 : 1);
            ++found;
            int stack[NUM_LINK_CODES];
            int depth = 0;
            f[static_cast<std::size_t>(seed)] = family;
            stack[depth++] = seed;
            while (depth > 0) {
                const int a = stack[--depth];
                for (int b = 0; b < NUM_LINK_CODES; ++b) {
                    if (f[static_cast<std::size_t>(b)] < 0 && pairs(a, b)) {
                        f[static_cast<std::size_t>(b)] = family;
                        stack[depth++] = b;
                    }
                }
            }
        }
        return f;
    }();
    return families;
}

} // namespace accelMatch
