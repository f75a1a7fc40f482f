// Kernel groups of a match: seeded by the best nest pairs of the virtual-size set, cleaned of
// conflicting pairs by a bounded search for the fewest removals, ranked by size and, in the
// second branch, united when their rotations agree. Throws MA_ERR_MEMORY when the cleaning's
// sets cannot be allocated.

#include "matching/Matcher100.h"
#include "matching/SearchHelpers.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace accelMatch {
namespace {

// Nodes the minimum-removal search visits in one cleaning before every further level takes
// its first candidate.
constexpr unsigned CLEAN_VISIT_BOUND = 20000;
constexpr int UNITE_MAX_ROTATION = 10;
constexpr int ABSORBED_PERCENT = 80;
constexpr int RESCALE_PERCENT = 21;

// State of the minimum-removal search: the removals of the current branch (a stack) and the
// smallest complete set found so far.
struct RemovalSearch {
    NumSet<unsigned>* conflicts = nullptr;
    unsigned n = 0;
    unsigned stack[MAX_NESTS] = {};
    unsigned depth = 0;
    unsigned best[MAX_NESTS] = {};
    unsigned bestSize = 0;
    bool found = false;
    unsigned visits = 0;
    bool capped = false;
};

// One node: removing the last position of the stack lowers the counters of the positions it
// conflicts with; the positions of the largest remaining counter are tried in increasing
// order. The first smallest complete set in that order wins (branches that cannot beat the
// best set found so far are not followed).
void searchRemovals(RemovalSearch& s, const unsigned short* counts)
{
    ++s.visits;
    // 1. Counters after the last removal.
    unsigned short local[MAX_NESTS];
    std::memcpy(local, counts, sizeof(unsigned short) * s.n);
    if (s.depth > 0) {
        const unsigned r = s.stack[s.depth - 1];
        const NumSet<unsigned>& c = s.conflicts[r];
        for (std::uint32_t k = 0; k < c.getNumItems(); ++k) {
            if (local[c[k]] > 0) {
                --local[c[k]];
            }
        }
        local[r] = 0;
    }
    // 2. The largest counter; none left means a complete set.
    unsigned short maxCount = 0;
    for (unsigned j = 0; j < s.n; ++j) {
        maxCount = std::max(maxCount, local[j]);
    }
    if (maxCount == 0) {
        if (!s.found || s.depth < s.bestSize) {
            std::memcpy(s.best, s.stack, sizeof(unsigned) * s.depth);
            s.bestSize = s.depth;
            s.found = true;
        }
        return;
    }
    // 3. Each candidate of that counter in turn.
    for (unsigned c = 0; c < s.n; ++c) {
        if (s.found && s.depth + 1 >= s.bestSize) {
            return;
        }
        if (local[c] != maxCount) {
            continue;
        }
        s.stack[s.depth++] = c;
        searchRemovals(s, local);
        --s.depth;
        if (s.visits >= CLEAN_VISIT_BOUND) {
            s.capped = true;
            return;
        }
    }
}

} // namespace

void Matcher100::buildKernelGroups(int branch, unsigned count, bool quick)
{
    // 1. How many groups.
    unsigned n = quick ? 1 : count;
    n = std::min<unsigned>(n, NUM_GROUPS);
    // 2. and 3. Each from the best remaining seed.
    const NestVirtSizeSet& set = m_nestVirtSizeSet;
    if (n != 0 && set.m_numItems != 0 && set.items[0].size != 0) {
        if (branch == 1 && n == 1) {
            buildKernelGroup1(&m_kernelGroups[0], quick);
        } else {
            for (unsigned k = 0;; ++k) {
                if (branch == 1) {
                    buildKernelGroup1(&m_kernelGroups[k], quick);
                } else {
                    buildKernelGroup2(&m_kernelGroups[k]);
                }
                clearUsedNests(&m_kernelGroups[k]);
                if (k + 1 >= n || set.items[0].size == 0) {
                    break;
                }
            }
        }
    }
    // 4. Ranked.
    sortKernelGroupsByNumItems(n);
}

void Matcher100::buildKernelGroup1(GroupEx* group, bool quick)
{
    // 1. Reset.
    group->reset();
    const NestVirtSizeSet& set = m_nestVirtSizeSet;
    if (set.m_numItems == 0 || set.items[0].size == 0) {
        return;
    }
    // 2. The seed.
    const int np0 = set.items[0].np;
    const int ng0 = set.items[0].ng;
    const Transition t0 = m_nestCompare[np0][ng0].bestTransition;
    if (t0 <= MPT) {
        group->add(np0, ng0, t0);
    }
    const bool wide = m_wideP[np0] != 0 || m_wideG[ng0] != 0;
    const int r = wrap180(m_minutiaeP[np0].angle - m_minutiaeG[ng0].angle);
    // 3. The other seeds that agree with it (all of them in quick mode).
    for (std::uint32_t i = 1; i < set.m_numItems; ++i) {
        const NestVirtSize& e = set.items[i];
        if (e.size == 0) {
            continue;
        }
        const Transition t = m_nestCompare[e.np][e.ng].bestTransition;
        if (t > MPT) {
            continue;
        }
        if (quick || isPairsCompatible(np0, ng0, e.np, e.ng, r, wide)) {
            group->add(e.np, e.ng, t);
        }
    }
    // 4. Cleaned, scaled and grown along its links.
    cleanInitialGroup(group);
    calcScale(group);
    m_replacement = true;
    expandGroupByTopology(group, 0);
    group->m_kernelSize = group->getNumItems();
}

void Matcher100::buildKernelGroup2(GroupEx* group)
{
    group->reset();
    const NestVirtSizeSet& set = m_nestVirtSizeSet;
    if (set.m_numItems == 0 || set.items[0].size == 0) {
        return;
    }
    addNestPair2groupEx(group, set.items[0].np, set.items[0].ng);
    group->m_kernelSize = group->getNumItems();
}

void Matcher100::clearUsedNests(GroupEx* group)
{
    NestVirtSizeSet& set = m_nestVirtSizeSet;
    if (set.m_numItems == 0) {
        return;
    }
    set.items[0] = NestVirtSize{0, 0, 0};
    for (std::uint32_t k = 0; k < group->getNumItems(); ++k) {
        const PairEx2& pair = group->getPair(k);
        const auto np = static_cast<std::uint8_t>(pair.np);
        const auto ng = static_cast<std::uint8_t>(pair.ng);
        for (std::uint32_t i = 0; i < set.m_numItems; ++i) {
            if (set.items[i].np == np && set.items[i].ng == ng) {
                set.items[i] = NestVirtSize{0, 0, 0};
                break;
            }
        }
    }
    // Stable by decreasing size. The set comes sorted, so that usually only the entries just
    // cleared are out of place: when the others still decrease, the cleared ones move behind
    // them in their order, which is what the stable sort gives.
    int last = 256;
    bool othersInOrder = true;
    for (std::uint32_t i = 0; i < set.m_numItems && othersInOrder; ++i) {
        const int size = set.items[i].size;
        if (size != 0) {
            othersInOrder = size <= last;
            last = size;
        }
    }
    if (!othersInOrder) {
        std::stable_sort(
            set.items, set.items + set.m_numItems,
            [](const NestVirtSize& a, const NestVirtSize& b) { return a.size > b.size; });
        return;
    }
    ZF_ASSERT(set.m_numItems <= MAX_NEST_VIRT_SIZE_SET);
    NestVirtSize cleared[MAX_NEST_VIRT_SIZE_SET];
    std::uint32_t numCleared = 0;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < set.m_numItems; ++i) {
        if (set.items[i].size != 0) {
            set.items[kept++] = set.items[i];
        } else {
            cleared[numCleared++] = set.items[i];
        }
    }
    std::copy(cleared, cleared + numCleared, set.items + kept);
}

void Matcher100::sortKernelGroupsBySumSim(unsigned n)
{
    // Its order is the same as the ranking by size.
    sortKernelGroupsByNumItems(n);
}

void Matcher100::sortKernelGroupsByNumItems(unsigned n)
{
    n = std::min<unsigned>(n, NUM_GROUPS);
    for (unsigned k = 0; k < n; ++k) {
        m_kernelRank[k] = &m_kernelGroups[k];
    }
    std::stable_sort(m_kernelRank, m_kernelRank + n, [](const GroupEx* a, const GroupEx* b) {
        return groupRankKey(*a) > groupRankKey(*b);
    });
}

void Matcher100::cleanInitialGroup(GroupEx* group)
{
    const unsigned n = group->getNumItems();
    if (n == 0) {
        group->m_numChanged += 1;
        return;
    }
    // Conflict and skip sets of capacity n over one block, both kept between calls.
    ZF_ASSERT(n <= GROUP_CAPACITY);
    const std::size_t blockSize = static_cast<std::size_t>(n + 1) * n;
    if (m_cleanBlock.size() < blockSize) {
        try {
            m_cleanBlock.resize(blockSize);
        } catch (const std::bad_alloc&) {
            throw MA_ERR_MEMORY;
        }
    }
    unsigned* const block = m_cleanBlock.data();
    NumSet<unsigned>* const conflicts = m_cleanConflicts;
    NumSet<unsigned> skip(n);
    skip.m_items = block + static_cast<std::size_t>(n) * n;
    // 1. For each pair: the pairs sharing a minutia, then the geometric and the topological
    //    conflicts.
    for (unsigned i = 0; i < n; ++i) {
        NumSet<unsigned>& c = conflicts[i];
        c.m_numItems = 0;
        c.m_maxItems = n;
        c.m_items = block + static_cast<std::size_t>(i) * n;
        const PairEx2 pi = group->getPair(i);
        skip.m_numItems = 0;
        skip.add(i);
        for (unsigned j = 0; j < n; ++j) {
            const PairEx2& pj = group->getPair(j);
            if (j != i && (pj.np == pi.np || pj.ng == pi.ng)) {
                skip.add(j);
                c.add(j);
            }
        }
        group->isCompatible(pi.np, pi.ng, m_errorLevel, c, n, nullptr, skip, true,
                            static_cast<short>(pi.scaleX), static_cast<short>(pi.scaleY),
                            IC_COLLECT, 0);
        for (std::uint32_t k = 0; k < c.getNumItems(); ++k) {
            skip.add(c[k]);
        }
        checkQuadrants(group, pi.np, pi.ng, pi.transition, skip, 0, c, n);
    }
    // 2. How many sets name each position.
    unsigned counts[MAX_NESTS] = {};
    for (unsigned i = 0; i < n; ++i) {
        for (std::uint32_t k = 0; k < conflicts[i].getNumItems(); ++k) {
            ++counts[conflicts[i][k]];
        }
    }
    // 3. The fewest removals.
    NumSet<unsigned> removed(n);
    removed.m_items = block + static_cast<std::size_t>(n) * n; // the skip set is done
    cleanInitialGroupCase(conflicts, n, counts, removed);
    // 4. The group keeps the other pairs in order.
    bool gone[MAX_NESTS] = {};
    for (std::uint32_t k = 0; k < removed.getNumItems(); ++k) {
        gone[removed[k]] = true;
    }
    unsigned kept = 0;
    unsigned baseDrop = 0;
    unsigned kernelDrop = 0;
    for (unsigned k = 0; k < n; ++k) {
        if (gone[k]) {
            baseDrop += k < group->m_baseSize ? 1 : 0;
            kernelDrop += k < group->m_kernelSize ? 1 : 0;
        } else {
            group->m_pair.m_items[kept++] = group->getPair(k);
        }
    }
    group->m_pair.m_numItems = kept;
    group->m_baseSize -= baseDrop;
    group->m_kernelSize -= kernelDrop;
    group->m_numChanged += 1;
}

void Matcher100::cleanInitialGroupCase(NumSet<unsigned>* conflicts, unsigned n, unsigned* counts,
                                       NumSet<unsigned>& removed)
{
    ZF_ASSERT(n <= MAX_NESTS);
    RemovalSearch search;
    RemovalSearch* const s = &search;
    s->conflicts = conflicts;
    s->n = n;
    unsigned short start[MAX_NESTS];
    for (unsigned j = 0; j < n; ++j) {
        start[j] = static_cast<unsigned short>(counts[j]);
    }
    for (std::uint32_t k = 0; k < removed.getNumItems(); ++k) {
        s->stack[s->depth++] = removed[k];
    }
    // The counters given are those before the last removal of `removed`; without one the
    // search starts from them as they are.
    searchRemovals(*s, start);
    m_cleanVisits = s->visits;
    if (s->capped) {
        ++m_numCleanCapped;
    }
    removed.m_numItems = 0;
    for (unsigned k = 0; k < s->bestSize; ++k) {
        removed.append(s->best[k]);
    }
}

void Matcher100::uniteKernelGroups(unsigned n)
{
    uniteDifGroups(n);
}

void Matcher100::uniteDifGroups(unsigned n)
{
    n = std::min<unsigned>(n, NUM_GROUPS);
    for (unsigned k = 0; k < n; ++k) {
        calcScale(m_kernelRank[k]);
    }
    for (unsigned a = 0; a < n; ++a) {
        GroupEx* first = m_kernelRank[a];
        if (first->getNumItems() == 0) {
            continue;
        }
        for (unsigned b = a + 1; b < n; ++b) {
            GroupEx* second = m_kernelRank[b];
            if (second->getNumItems() != 0) {
                uniteDifGroup(first, second);
            }
        }
    }
    sortKernelGroupsByNumItems(n);
}

bool Matcher100::isGroupsCompatible(GroupEx* first, GroupEx* second)
{
    first->recalcData();
    second->recalcData();
    return std::abs(wrap180(second->m_rotation - first->m_rotation)) <= UNITE_MAX_ROTATION;
}

void Matcher100::uniteDifGroup(GroupEx* first, GroupEx* second)
{
    ZF_ASSERT(first != nullptr && second != nullptr);
    if (!isGroupsCompatible(first, second)) {
        return;
    }
    // Every pair of the second group is offered to the first.
    const unsigned s0 = first->getNumItems();
    const unsigned offered = second->getNumItems();
    unsigned accepted = 0;
    for (unsigned k = 0; k < offered; ++k) {
        const PairEx2 p = second->getPair(k);
        const int r = tryAdd2curGroup(first, p.np, p.ng, p.transition, m_errorLevel, 0, true,
                                      static_cast<short>(p.scaleX), static_cast<short>(p.scaleY));
        if (r != -1) {
            calcScaleForNewPair(first, static_cast<std::size_t>(r));
            ++accepted;
        }
    }
    // A second group mostly absorbed is emptied; a first group much changed is scaled again.
    if (offered != 0 && 100 * accepted / offered > ABSORBED_PERCENT) {
        second->reset();
    }
    if (s0 != 0 && 100 * (first->m_numAdded + first->m_numChanged) / s0 >= RESCALE_PERCENT) {
        calcScale(first);
    }
}

void Matcher100::buildInitialGroup(GroupEx* group, short np, short ng)
{
    ZF_ASSERT(group != nullptr);
    group->reset();
    const Transition t = m_nestCompare[np][ng].bestTransition;
    if (t > MPT) {
        return;
    }
    group->add(np, ng, t);
    // The seed's cached linked pairs, then those of every pair as the group grows.
    HitItems hits;
    auto offer = [&]() {
        for (int k = 0; k < hits.count; ++k) {
            if (hits.items[k].nP >= 0 && hits.items[k].nG >= 0) {
                tryAdd2InitialGroup(group, hits.items[k].nP, hits.items[k].nG,
                                    hits.items[k].transition);
            }
        }
    };
    if (t < NUM_CACHED_TRANSITIONS) {
        copyHitItems(m_nestCompare[np][ng].groups[t], hits);
        offer();
    }
    for (std::uint32_t i = 0; i < group->getNumItems(); ++i) {
        const PairEx2 pair = group->getPair(i);
        short transitionDif = 0;
        copyHitItems(getNestCompareResult(pair.np, pair.ng, pair.transition, transitionDif), hits);
        offer();
    }
}

void Matcher100::tryAdd2InitialGroup(GroupEx* group, short np, short ng, Transition t)
{
    if (t > MPT) {
        return;
    }
    unsigned short sim = 0;
    Transition tt = t;
    getTransitionDif(np, ng, tt, m_transitionLimit, sim);
    int iP = -1;
    int iG = -1;
    for (std::uint32_t k = 0; k < group->getNumItems(); ++k) {
        const PairEx2& p = group->getPair(k);
        if (iP < 0 && p.np == np) {
            iP = static_cast<int>(k);
        }
        if (iG < 0 && p.ng == ng) {
            iG = static_cast<int>(k);
        }
    }
    if (iP < 0 && iG < 0) {
        group->add(np, ng, t);
        return;
    }
    if (iP == iG) {
        return;
    }
    // The new pair must beat each pair it displaces (each with its own similarity).
    for (const int pos : {iP, iG}) {
        if (pos >= 0) {
            const PairEx2 old = group->getPair(static_cast<std::size_t>(pos));
            if (!isNewPairBetter(transitionClass(t), transitionClass(old.transition), sim,
                                 pairSimilarity(old.np, old.ng))) {
                return;
            }
        }
    }
    if (iP >= 0) {
        group->replace(static_cast<std::size_t>(iP), np, ng, t);
        if (iG >= 0) {
            group->remove(static_cast<std::size_t>(iG));
        }
    } else {
        group->replace(static_cast<std::size_t>(iG), np, ng, t);
    }
}

bool Matcher100::isGroupsCanBeUnite(GroupEx* first, GroupEx* second, std::size_t percent,
                                    int* markFirst, int* markSecond)
{
    ZF_ASSERT(first != nullptr && second != nullptr);
    const std::uint32_t n1 = first->getNumItems();
    const std::uint32_t n2 = second->getNumItems();
    std::memset(markFirst, 0, sizeof(int) * n1);
    std::memset(markSecond, 0, sizeof(int) * n2);
    if (n1 == 0) {
        return false;
    }
    std::size_t shared = 0;
    for (std::uint32_t j = 0; j < n2; ++j) {
        const PairEx2& b = second->getPair(j);
        if (b.np == -1) {
            continue;
        }
        for (std::uint32_t i = 0; i < n1; ++i) {
            const PairEx2& a = first->getPair(i);
            if (a.np != b.np) {
                continue;
            }
            if (a.ng == b.ng) {
                markFirst[i] = 1;
                markSecond[j] = 1;
                ++shared;
                if (shared * 100 / n1 >= percent) {
                    return true;
                }
            }
            break;
        }
    }
    return false;
}

} // namespace accelMatch
