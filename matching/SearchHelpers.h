// Tables and small helpers of the matcher's search: the speed rows that set every budget of a
// match, index sets over a local buffer (no allocation), a copy of a hit group's items that
// later nest comparisons cannot overwrite, the pair of a group that holds a given nest, and
// the ranking key of kernel and expand groups.
#pragma once

#include "matching/Groups.h"

namespace accelMatch {

// Budgets of a match by speed level (p0..p19); the latent rows serve when either side is a
// latent print.
extern const int g_k_speed[4][20];
extern const int g_k_speed_latent[4][20];

// A NumSet<unsigned> of capacity N whose items live in this object.
template <unsigned N> struct LocalSet {
    unsigned buf[N] = {};
    NumSet<unsigned> set{N};
    LocalSet() { set.m_items = buf; }
    LocalSet(const LocalSet&) = delete;
    LocalSet& operator=(const LocalSet&) = delete;
};

// Items of a hit group, copied out before they are offered to a group: offering a pair
// compares nests again, which rewrites the matcher's scratch hit group.
struct HitItems {
    HitItem items[MAX_NESTS];
    int count = 0;
};

// Copies h's items into out (none when h is null).
void copyHitItems(const HitGroup* h, HitItems& out);

class Matcher100;

// The nest comparisons of (np, ng) under transition t that the matcher caches (transitions
// 0 to 4, or all of them for t from 9 on); those of 5 to 8 would only fill the scratch group.
void cacheNestComparison(Matcher100& m, int np, int ng, Transition t);

// Position of the first pair of g whose probe nest is np (gallery nest ng), -1 when none is.
inline int findProbe(const GroupEx& g, int np)
{
    for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
        if (g.getPair(k).np == np) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

inline int findGallery(const GroupEx& g, int ng)
{
    for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
        if (g.getPair(k).ng == ng) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

// True when g already pairs probe nest np (its first pair with np) with gallery nest ng.
inline bool holdsPair(const GroupEx& g, int np, int ng)
{
    const int k = findProbe(g, np);
    return k >= 0 && g.getPair(k).ng == ng;
}

// Ranking key of kernel and expand groups: the pair count, one less with a conflict.
inline int groupRankKey(const GroupEx& g)
{
    return static_cast<int>(g.getNumItems()) - (g.m_conflictPos != -1 ? 1 : 0);
}

} // namespace accelMatch
