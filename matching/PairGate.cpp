// The gate through which every candidate pair enters a group: geometric and topological
// agreement with the group's pairs (the quadrant check, with its angle test of unlinked
// pairs), and the two rules by which a better candidate displaces the pair (or pairs) it
// contradicts. Beside it, the growth of a group along the neighbour links of its nests, and
// the table of pairs compatible with the current group from which the expand groups grow,
// and the per-side neighbour sets, nest signatures and link quadrants read from the links at
// load. Reads the nest comparison cache; throws MA_ERR_MEMORY or MyException from it.

#include "matching/SearchHelpers.h"
#include "matching/Matcher100.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace accelMatch {
namespace {

constexpr int QUADRANT_MIN_LEN = 20;
constexpr int QUADRANT_MAX_LEN = 200;
constexpr std::uint16_t NO_CONFLICT = 0xFFFF;

// checkAngles of candidate (np, ng) against pair (np2, ng2), the two sharing no minutia, from
// what the caller knows: the candidate's nest rotation, whether either of its minutiae is wide,
// and the lengths lP (np to np2) and lG (ng to ng2).
[[gnu::always_inline]] inline bool PgCheckAngles(Matcher100& m, int np, int ng, int np2, int ng2,
                                                 int rotation, bool wideNest, int lP, int lG)
{
    const int dP = m.m_pairSetP.getAngle(np, np2);
    const int dG = m.m_pairSetG.getAngle(ng, ng2);
    if (lP >= 2 * m.m_distUnit && lG >= 2 * m.m_distUnit) {
        const bool wide = wideNest || m.m_wideP[np2] != 0 || m.m_wideG[ng2] != 0;
        return std::abs(wrap180(dP - dG - rotation)) <= (wide ? 90 : 60);
    }
    const int sP = wrap180(dP - m.m_minutiaeP[np].angle);
    const int sG = wrap180(dG - m.m_minutiaeG[ng].angle);
    return (sP > 0 && sG > 0) || (sP < 0 && sG < 0);
}

// Quadrant (-1: none) and ridge count of an entry of the link quadrant table.
inline int PgQuadrant(std::uint8_t e, int& ridgeCount)
{
    ridgeCount = (e >> 3) - 16;
    return (e & 7) - 1;
}

} // namespace

void copyHitItems(const HitGroup* h, HitItems& out)
{
    out.count = 0;
    if (h == nullptr || h->m_items == nullptr) {
        return;
    }
    out.count = h->m_numItems;
    std::memcpy(out.items, h->m_items, sizeof(HitItem) * out.count);
}

bool Matcher100::isLatent() const
{
    return m_typeP == FP_LATENT || m_typeG == FP_LATENT;
}

int Matcher100::pairSimilarity(int np, int ng)
{
    // The best similarity after transitions 0 to 6: transitions 5 and 6 are compared into
    // the scratch group only and never change the cell's best, so comparing 0 to 4 gives it.
    unsigned short sim = 0;
    getNestCompareResult(np, ng, NUM_CACHED_TRANSITIONS - 1, sim);
    return sim;
}

void cacheNestComparison(Matcher100& m, int np, int ng, Transition t)
{
    // Transitions 5 to 8 are compared into the scratch group only, which the callers do not
    // read: only the comparisons that are cached need to run.
    if (t >= NUM_CACHED_TRANSITIONS && t < TL_3) {
        return;
    }
    unsigned short sim = 0;
    Transition tt = t;
    m.getTransitionDif(np, ng, tt, 6, sim);
}

bool Matcher100::isNewPairBetter(int classNew, int classOld, int simNew, int simOld)
{
    if (classOld >= 2 && classNew < 2) {
        return true;
    }
    if (classOld < 2 && classNew >= 2) {
        return false;
    }
    return simNew > simOld;
}

bool Matcher100::isNewPairBetter1(int errNew, int errOld, int simNew, int simOld)
{
    if (errNew < errOld) {
        return true;
    }
    if (simNew < 2 * simOld) {
        return false;
    }
    return errNew <= 2 * errOld;
}

int Matcher100::tryAdd2curGroup(GroupEx* group, int np, int ng, Transition t, int level,
                                unsigned minPos, bool useScale, short scaleX, short scaleY)
{
    // 1. Transition limit of the phase.
    if (t > m_transitionLimit) {
        return -1;
    }
    // 2. Pairs that already hold one of the two minutiae.
    const int iP = np == -1 ? -1 : findProbe(*group, np);
    const int iG = ng == -1 ? -1 : findGallery(*group, ng);
    if (iP >= 0 && group->getPair(iP).ng == ng) {
        return -1;
    }
    // 3. Shared minutiae: weighed against the pairs that hold them.
    if (iP >= 0 || iG >= 0) {
        if (!m_replacement || (iP >= 0 && static_cast<unsigned>(iP) < minPos) ||
            (iG >= 0 && static_cast<unsigned>(iG) < minPos)) {
            return -1;
        }
        return tryAdd2curGroupWithReplacement(group, np, ng, t, useScale, scaleX, scaleY);
    }
    NumSet<unsigned> skip;
    LocalSet<1> conflicts;
    if (m_replacement) {
        // 4. One geometric conflict may be resolved by replacement.
        if (!group->isCompatible(static_cast<short>(np), static_cast<short>(ng), level,
                                 conflicts.set, 1, nullptr, skip, useScale, scaleX, scaleY,
                                 IC_COLLECT, 0)) {
            return -1;
        }
        if (conflicts.set.getNumItems() == 1) {
            const unsigned c = conflicts.set[0];
            if (c < minPos) {
                return -1;
            }
            return tryAdd2curGroupWithReplacement1(group, np, ng, t, c, useScale, scaleX, scaleY);
        }
        if (!checkQuadrants(group, np, ng, t, skip, 0, conflicts.set, 1)) {
            return -1;
        }
    } else {
        // 5. Strict agreement with every pair.
        if (!group->isCompatible(static_cast<short>(np), static_cast<short>(ng), level,
                                 conflicts.set, 0, nullptr, skip, useScale, scaleX, scaleY,
                                 IC_STRICT, 0)) {
            return -1;
        }
        if (!checkQuadrants(group, np, ng, t, skip, 0, conflicts.set, 0)) {
            return -1;
        }
    }
    // 6. Appended.
    if (!group->add(np, ng, t)) {
        return -1;
    }
    return static_cast<int>(group->getNumItems()) - 1;
}

int Matcher100::tryAdd2curGroupWithReplacement(GroupEx* group, int np, int ng, Transition t,
                                               bool useScale, short scaleX, short scaleY)
{
    const int iP = findProbe(*group, np);
    const int iG = findGallery(*group, ng);
    // 1. to 3. The candidate must beat each pair it displaces.
    const int simNew = pairSimilarity(np, ng);
    int simP = 0;
    int simG = 0;
    int gP = ng; // gallery minutia of the pair holding np
    int pG = np; // probe minutia of the pair holding ng
    if (iP >= 0) {
        const PairEx2 old = group->getPair(iP);
        gP = old.ng;
        simP = pairSimilarity(np, old.ng);
        if (!isNewPairBetter(transitionClass(t), transitionClass(old.transition), simNew, simP)) {
            return -1;
        }
    }
    if (iG >= 0) {
        const PairEx2 old = group->getPair(iG);
        pG = old.np;
        simG = pairSimilarity(old.np, ng);
        if (!isNewPairBetter(transitionClass(t), transitionClass(old.transition), simNew, simG)) {
            return -1;
        }
    }
    // 4. The displaced positions are left out of the tests.
    const int simOld = std::max(simP, simG);
    LocalSet<2> skip;
    if (iP >= 0) {
        skip.set.add(static_cast<unsigned>(iP));
    }
    if (iG >= 0) {
        skip.set.add(static_cast<unsigned>(iG));
    }
    // 5. The candidate agrees with the rest of the group.
    NumSet<unsigned> none;
    int errNew = 0;
    if (!group->isCompatible(static_cast<short>(np), static_cast<short>(ng), m_errorLevel, none, 0,
                             &errNew, skip.set, useScale, scaleX, scaleY, IC_STRICT, 0)) {
        return -1;
    }
    if (!checkQuadrants(group, np, ng, t, skip.set, 0, none, 0)) {
        return -1;
    }
    // 6. and 7. Its length error against that of the displaced side.
    int errOld = 0;
    group->isCompatible(static_cast<short>(pG), static_cast<short>(gP), m_errorLevel, none, 0,
                        &errOld, skip.set, useScale, scaleX, scaleY, IC_STRICT, 0);
    if (!isNewPairBetter1(errNew, errOld, simNew, simOld)) {
        return -1;
    }
    // 8. In place of the displaced pair(s).
    if (iP < 0) {
        group->replace(static_cast<std::size_t>(iG), static_cast<short>(np), static_cast<short>(ng),
                       t);
        return iG;
    }
    group->replace(static_cast<std::size_t>(iP), static_cast<short>(np), static_cast<short>(ng), t);
    if (iG < 0) {
        return iP;
    }
    group->remove(static_cast<std::size_t>(iG));
    return iP > iG ? iP - 1 : iP;
}

int Matcher100::tryAdd2curGroupWithReplacement1(GroupEx* group, int np, int ng, Transition t,
                                                std::size_t replacePos, bool useScale, short scaleX,
                                                short scaleY)
{
    // 1. The pair that the candidate contradicts is left out of the tests.
    ZF_ASSERT(replacePos < group->getNumItems());
    LocalSet<1> skip;
    skip.set.add(static_cast<unsigned>(replacePos));
    // 2. Topology.
    NumSet<unsigned> none;
    if (!checkQuadrants(group, np, ng, t, skip.set, 0, none, 0)) {
        return -1;
    }
    // 3. Transition class and similarity.
    const PairEx2 old = group->getPair(replacePos);
    const int simNew = pairSimilarity(np, ng);
    const int simOld = pairSimilarity(old.np, old.ng);
    if (!isNewPairBetter(transitionClass(t), transitionClass(old.transition), simNew, simOld)) {
        return -1;
    }
    // 4. and 5. Length errors of both against the rest.
    int errNew = 0;
    int errOld = 0;
    group->isCompatible(static_cast<short>(np), static_cast<short>(ng), m_errorLevel, none, 0,
                        &errNew, skip.set, useScale, scaleX, scaleY, IC_STRICT, 0);
    group->isCompatible(old.np, old.ng, m_errorLevel, none, 0, &errOld, skip.set, useScale, scaleX,
                        scaleY, IC_STRICT, 0);
    if (!isNewPairBetter1(errNew, errOld, simNew, simOld)) {
        return -1;
    }
    group->replace(replacePos, static_cast<short>(np), static_cast<short>(ng), t);
    return static_cast<int>(replacePos);
}

bool Matcher100::checkAngles(int np, int ng, int np2, int ng2)
{
    // Two pairs sharing a minutia have no segment to compare.
    if (np == np2 || ng == ng2) {
        return false;
    }
    return PgCheckAngles(*this, np, ng, np2, ng2, nestRotation(np, ng),
                         m_wideP[np] != 0 || m_wideG[ng] != 0, m_pairSetP.getLen(np, np2),
                         m_pairSetG.getLen(ng, ng2));
}

bool Matcher100::checkQuadrants(GroupEx* group, int np, int ng, Transition /*t*/,
                                NumSet<unsigned>& skip, std::size_t start,
                                NumSet<unsigned>& conflicts, std::size_t maxConflicts)
{
    // 1. Switched off: everything agrees.
    if (!m_quadrantCheck) {
        return true;
    }
    ZF_ASSERT(np >= 0 && np < m_numNestP && ng >= 0 && ng < m_numNestG);
    const bool latent = isLatent();
    // What the angle test of unlinked pairs needs of the candidate.
    const int rotation = nestRotation(np, ng);
    const bool wideNest = m_wideP[np] != 0 || m_wideG[ng] != 0;
    int sum = 0;
    int agreeing = 0;
    // 2. Pair by pair.
    for (std::size_t i = start; i < group->getNumItems(); ++i) {
        if (skip.contains(static_cast<unsigned>(i))) {
            continue;
        }
        const PairEx2 pair = group->getPair(i);
        if (pair.np == np || pair.ng == ng) {
            continue; // a pair holding one of the candidate's minutiae says nothing here
        }
        const int lP = m_pairSetP.getLen(np, pair.np);
        const int lG = m_pairSetG.getLen(ng, pair.ng);
        if (lP < QUADRANT_MIN_LEN || lP > QUADRANT_MAX_LEN || lG < QUADRANT_MIN_LEN ||
            lG > QUADRANT_MAX_LEN) {
            continue;
        }
        int rcP = 0;
        int rcG = 0;
        ZF_ASSERT(pair.np >= 0 && pair.np < m_numNestP && pair.ng >= 0 && pair.ng < m_numNestG);
        const int qP = PgQuadrant(m_linkQuadrant[0][np][pair.np], rcP);
        const int qG = PgQuadrant(m_linkQuadrant[1][ng][pair.ng], rcG);
        const int d = std::abs(rcP - rcG);
        bool agrees;
        if (qP == -1 || qG == -1) {
            agrees = PgCheckAngles(*this, np, ng, pair.np, pair.ng, rotation, wideNest, lP, lG);
        } else if (latent && d > 3) {
            continue;
        } else if (!latent && d > 2) {
            agrees = false;
        } else if (qP == qG) {
            agrees = true;
        } else if (qP == oppositeQuadrants[qG]) {
            agrees = latent;
        } else if (qP == nextQuadrants[qG]) {
            agrees = std::abs(rcP) <= 1 && std::abs(rcG) <= 1;
        } else {
            agrees = false;
        }
        if (agrees) {
            sum += d;
            ++agreeing;
        } else {
            if (conflicts.getNumItems() >= maxConflicts) {
                return false;
            }
            conflicts.add(static_cast<unsigned>(i));
        }
    }
    // 3. The mean ridge-count difference against the limit.
    if (agreeing == 0) {
        return true;
    }
    return m_quadrantLimit >= sum * 16 / agreeing;
}

int Matcher100::linkQuadrant(bool ofP, int i, int j, int& ridgeCount)
{
    ZF_ASSERT(i >= 0 && i < (ofP ? m_numNestP : m_numNestG));
    ZF_ASSERT(j >= 0 && j < (ofP ? m_numNestP : m_numNestG));
    return PgQuadrant(m_linkQuadrant[ofP ? 0 : 1][i][j], ridgeCount);
}

namespace {

// What buildLinkTables takes from a slot, by (minutia type, slot, code index): the
// link-quadrant entry (quadrant + 1) | ((corrected ridge count + 16) << 3), or 0 where the slot
// lies beyond the type's table; the nest signature byte, LQ_NO_BYTE for none; and the code
// family, LQ_NO_FAMILY for none. Code index c < 16 is code c; 16 + (c & 15) stands for every
// code >= 16, which keeps only the family of c & 15 (no quadrant, no signature byte). The two
// "none" values index a spare entry past the real ones, so that a slot is added without a
// test.
constexpr int LQ_CODE_INDEXES = 2 * NUM_LINK_CODES;
constexpr std::uint8_t LQ_NO_BYTE = sizeof(NestAccel);
constexpr std::uint8_t LQ_NO_FAMILY = 2;

struct LqSlot {
    std::uint8_t quadrant;
    std::uint8_t accelByte;
    std::uint8_t family;
    std::uint8_t unused;
};

struct LqTable {
    LqSlot entry[2][ESK::ESK_LINK_SLOTS][LQ_CODE_INDEXES];
};

inline unsigned LqCodeIndex(unsigned code)
{
    return code < NUM_LINK_CODES ? code : NUM_LINK_CODES + (code & 15);
}

LqTable LqMakeTable()
{
    const LinkCodeFamilies& families = linkCodeFamilies();
    const NestAccelTables& accelTables = nestAccelTables();
    LqTable t{};
    for (int type = 0; type < 2; ++type) {
        for (int k = 0; k < ESK::ESK_LINK_SLOTS; ++k) {
            for (int c = 0; c < LQ_CODE_INDEXES; ++c) {
                const int code = c & 15;
                LqSlot& e = t.entry[type][k][c];
                e.family = families[code] == 0 || families[code] == 1
                               ? static_cast<std::uint8_t>(families[code])
                               : LQ_NO_FAMILY;
                e.accelByte = LQ_NO_BYTE;
                if (c >= NUM_LINK_CODES) {
                    continue;
                }
                const std::uint8_t byte = accelTables.byte[type][k][code];
                ZF_ASSERT(byte == NEST_ACCEL_NO_BYTE || byte < sizeof(NestAccel));
                e.accelByte = byte == NEST_ACCEL_NO_BYTE ? LQ_NO_BYTE : byte;
                int rc = 0;
                if (!correctedRidgeCount(type, k, code, rc)) {
                    continue;
                }
                ZF_ASSERT(rc >= -16 && rc <= 15);
                const int q = Quadrant[type][k];
                ZF_ASSERT(q >= 0 && q <= 6);
                e.quadrant = static_cast<std::uint8_t>((q + 1) | ((rc + 16) << 3));
            }
        }
    }
    return t;
}

} // namespace

void Matcher100::buildLinkTables(bool isP)
{
    // Both tables of a side come from one reading of each minutia's slots.
    // The neighbour set of a minutia holds every neighbour its slots name (each once, with its
    // quality weight) and the slots that link another minutia. The link-quadrant row is the
    // answer of getQuadrant for every neighbour at once: the slots naming a neighbour are
    // taken in order, and the first whose quadrant differs from an earlier one settles it
    // (quadrant -1 with that slot's ridge count). The nest signature (calcNestAccel, the
    // probe's with the neighbouring levels) takes the links that reach another minutia.
    // One table lookup per slot gives its quadrant entry, signature byte and code family.
    static const LqTable table = LqMakeTable();
    m_windowMarksKept = false; // a side is loaded: its positions and area are new
    const std::uint8_t* levelBits = nestAccelTables().levelBits[isP ? 1 : 0];
    constexpr std::uint8_t NOT_LINKED = 16 << 3; // quadrant -1, ridge count 0
    const int count = isP ? m_numNestP : m_numNestG;
    const ESK::Sign* minutiae = isP ? m_minutiaeP : m_minutiaeG;
    const ESK::Link* links = isP ? m_linksP : m_linksG;
    const std::uint16_t* weights = isP ? m_qualityWeightP : m_qualityWeightG;
    NestNeighbours* neighbours = isP ? m_neighboursP : m_neighboursG;
    NestAccel* accel = isP ? m_accelP : m_accelG;
    const MinutiaePairSet& pairs = isP ? m_pairSetP : m_pairSetG;
    for (int i = 0; i < count; ++i) {
        NestNeighbours n{};
        // The signature bytes and the family slot sets, each with its spare entry.
        std::uint8_t bits[sizeof(NestAccel) + 1] = {};
        std::uint64_t familySlots[LQ_NO_FAMILY + 1] = {};
        std::uint8_t* row = m_linkQuadrant[isP ? 0 : 1][i];
        std::memset(row, NOT_LINKED, static_cast<std::size_t>(count));
        std::uint64_t settled[4] = {};
        const int type = minutiae[i].type == 1 ? 1 : 0;
        const LqSlot(*entries)[LQ_CODE_INDEXES] = table.entry[type];
        const PairItem* lengths = pairs.m_items[i];
        const ESK::Link& link = links[i];
        const int slots = link.count < ESK::ESK_LINK_SLOTS ? link.count : ESK::ESK_LINK_SLOTS;
        for (int k = 0; k < slots; ++k) {
            const ESK::LinkSlot& slot = link.slot[k];
            const unsigned j = slot.neighbour;
            const unsigned code = slot.code;
            if (code == 0 || j >= static_cast<unsigned>(count)) {
                continue;
            }
            const LqSlot s = entries[k][LqCodeIndex(code)];
            // 1. The neighbour set and the signature (a code of no family sets no bit; codes
            // 16 and up have no signature byte).
            if (j != static_cast<unsigned>(i)) {
                familySlots[s.family] |= std::uint64_t{1} << k;
                const auto length = static_cast<unsigned>(lengths[j].len);
                if (length <= MAX_LEVEL_LENGTH) {
                    bits[s.accelByte] =
                        static_cast<std::uint8_t>(bits[s.accelByte] | levelBits[length]);
                }
            }
            const unsigned word = j / 64;
            const std::uint64_t bit = std::uint64_t{1} << (j % 64);
            if ((n.mask[word] & bit) == 0) {
                n.mask[word] |= bit;
                n.weight += weights[j];
            }
            // 2. The quadrant, unless the neighbour is settled (codes 16 and up have none).
            const std::uint8_t e = s.quadrant;
            if (e == 0 || (settled[word] & bit) != 0) {
                continue;
            }
            // An earlier slot with another quadrant settles the neighbour.
            const unsigned earlier = row[j] & 7u;
            if (earlier != 0 && earlier != (e & 7u)) {
                row[j] = static_cast<std::uint8_t>(e & ~7u);
                settled[word] |= bit;
                continue;
            }
            row[j] = e;
        }
        n.familySlots[0] = familySlots[0];
        n.familySlots[1] = familySlots[1];
        neighbours[i] = n;
        std::memcpy(accel[i].bits, bits, sizeof(NestAccel));
    }
    refreshSlotMaps(); // the transition matrix may have changed since the last match
}

void Matcher100::expandGroupByTopology(GroupEx* group, unsigned start)
{
    // 1. Every pair from start on, the group growing meanwhile.
    const unsigned s0 = group->getNumItems();
    HitItems hits;
    for (unsigned i = start; i < group->getNumItems(); ++i) {
        const PairEx2 pair = group->getPair(i);
        short transitionDif = 0;
        copyHitItems(getNestCompareResult(pair.np, pair.ng, pair.transition, transitionDif), hits);
        // 2. Each linked neighbour pair is offered with its local scale.
        for (int k = 0; k < hits.count; ++k) {
            const HitItem& h = hits.items[k];
            if (h.nP == -1) {
                continue;
            }
            if (holdsPair(*group, h.nP, h.nG)) {
                continue;
            }
            offerWithAreaScale(group, h.nP, h.nG, h.transition);
        }
    }
    // 3. A grown group is scaled again.
    if (group->m_numAdded + group->m_numChanged > 25 * s0 / 100) {
        calcScale(group);
    }
}

bool Matcher100::tryAddLinks(GroupEx* group, int np, int ng, Transition t, bool /*withLinks*/,
                             bool useScale)
{
    cacheNestComparison(*this, np, ng, t);
    short transitionDif = 0;
    const HitGroup* h = getNestCompareResult(np, ng, t, transitionDif);
    if (h == nullptr) {
        return false;
    }
    HitItems hits;
    copyHitItems(h, hits);
    for (int k = 0; k < hits.count; ++k) {
        const HitItem& item = hits.items[k];
        if (item.nP == -1) {
            continue;
        }
        if (holdsPair(*group, item.nP, item.nG)) {
            continue;
        }
        tryAdd2curGroup(group, item.nP, item.nG, item.transition, m_errorLevel, 0, useScale, 0, 0);
    }
    return true;
}

bool Matcher100::addNestPair2group(GroupEx* group, int np, int ng, Transition t, bool tryPair,
                                   bool withLinks, bool useScale)
{
    ZF_ASSERT(np >= 0 && np < m_numNestP && ng >= 0 && ng < m_numNestG);
    if (tryPair && tryAdd2curGroup(group, np, ng, t, m_errorLevel, 0, useScale, 0, 0) == -1) {
        return false;
    }
    tryAddLinks(group, np, ng, t, withLinks, useScale);
    return true;
}

void Matcher100::addNestPair2groupEx(GroupEx* group, short np, short ng)
{
    const unsigned s0 = group->getNumItems();
    if (!addNestPair2group(group, np, ng, m_nestCompare[np][ng].bestTransition, true, true,
                           false)) {
        return;
    }
    // The links of every pair added are followed in turn.
    for (unsigned i = s0 + 1; i < group->getNumItems(); ++i) {
        const PairEx2 pair = group->getPair(i);
        ZF_ASSERT(pair.transition <= MPT);
        addNestPair2group(group, pair.np, pair.ng, pair.transition, false, true, false);
    }
}

void Matcher100::expandGroupByNestSimSet(GroupEx* group)
{
    const std::uint32_t n = std::min<std::uint32_t>(m_numBestNests, 8);
    for (std::uint32_t k = 0; k < n; ++k) {
        const BestNest& b = m_bestNests[k];
        offerWithAreaScale(group, b.np, b.ng, m_nestCompare[b.np][b.ng].bestTransition);
    }
}

void Matcher100::expandKernelGroups(unsigned n)
{
    n = std::min<unsigned>(n, NUM_GROUPS);
    for (unsigned k = 0; k < n && m_kernelRank[k]->getNumItems() != 0; ++k) {
        expandGroupByNestSimSet(m_kernelRank[k]);
    }
    sortKernelGroupsByNumItems(n);
}

void Matcher100::expandKernelGroup(GroupEx* group)
{
    const NestVirtSizeSet& set = m_nestVirtSizeSet;
    HitItems hits;
    for (std::uint32_t i = 0; i < set.m_numItems && set.items[i].size != 0; ++i) {
        const int np = set.items[i].np;
        const int ng = set.items[i].ng;
        if (holdsPair(*group, np, ng)) {
            continue;
        }
        const Transition t = m_nestCompare[np][ng].bestTransition;
        if (offerWithAreaScale(group, np, ng, t) == -1 || t >= NUM_CACHED_TRANSITIONS) {
            continue;
        }
        // The accepted seed's linked pairs, each with its own best transition.
        copyHitItems(m_nestCompare[np][ng].groups[t], hits);
        for (int k = 0; k < hits.count; ++k) {
            const HitItem& h = hits.items[k];
            if (h.nP < 0 || h.nG < 0) {
                continue;
            }
            if (holdsPair(*group, h.nP, h.nG)) {
                continue;
            }
            offerWithAreaScale(group, h.nP, h.nG, m_nestCompare[h.nP][h.nG].bestTransition);
        }
    }
}

int Matcher100::offerWithAreaScale(GroupEx* group, int np, int ng, Transition t)
{
    // A transition beyond the phase's limit is refused (as tryAdd2curGroup would) before the
    // scale is worked out.
    if (t > m_transitionLimit) {
        return -1;
    }
    int sx = 0;
    int sy = 0;
    getAreaScale(group, m_minutiaeP[np].x, m_minutiaeP[np].y, sx, sy, true);
    const int r = tryAdd2curGroup(group, np, ng, t, m_errorLevel, 0, true, static_cast<short>(sx),
                                  static_cast<short>(sy));
    if (r != -1) {
        calcScaleForNewPair(group, static_cast<std::size_t>(r));
    }
    return r;
}

void Matcher100::findAllCompatiblePairs()
{
    const bool scalesKnown = m_probeScalesFresh;
    m_probeScalesFresh = false;
    // 1. Reset.
    if (m_numCompatPairs != 0) {
        m_numCompatPairs = 0;
        m_compatLastNp = -1;
        std::memset(m_compatFirst, 0, sizeof m_compatFirst);
        std::memset(m_compatLast, 0, sizeof m_compatLast);
        std::memset(m_compatHas, 0, sizeof m_compatHas);
    }
    // 2. A latent match lets a candidate contradict one pair.
    const std::size_t maxConflicts = isLatent() ? 1 : 0;
    NumSet<unsigned> skip;
    LocalSet<2> conflicts;
    GroupEx* group = m_curGroup;
    // The group does not change here: its alignment is brought up to date once, when the first
    // scaled test would do it, and the pair that refused the last candidate is tried first.
    bool aligned = false;
    std::uint32_t lastRefusal = 0;
    // The free gallery minutiae, listed once with their angles in 0..359 and the limits of
    // the minutia direction test (the wide limit for a wide gallery minutia; a wide probe
    // minutia takes it throughout), padded to whole blocks.
    std::uint8_t freeG[MAX_NESTS];
    static_assert((MAX_NESTS + ANGLE_MASK_BLOCK - 1) / ANGLE_MASK_BLOCK * ANGLE_MASK_BLOCK <=
                          ANGLE_MASK_ITEMS &&
                      ANGLE_MASK_ITEMS <= 4 * 64,
                  "the padded free list fits the angle lists and the four mask words");
    alignas(16) std::int16_t freeAngle[ANGLE_MASK_ITEMS];
    alignas(16) std::int16_t freeLimit[ANGLE_MASK_ITEMS];
    alignas(16) std::int16_t wideLimit[ANGLE_MASK_ITEMS];
    const std::int16_t tol = angleMaskLimit(group->m_minAngleTol);
    const std::int16_t tolWide = angleMaskLimit(group->m_minAngleTolWide);
    int numFreeG = 0;
    for (int ng = 0; ng < m_numNestG; ++ng) {
        if (m_inGroupG[ng] == 0 && m_strongExcludeG[ng] == 0) {
            freeG[numFreeG] = static_cast<std::uint8_t>(ng);
            freeAngle[numFreeG] = static_cast<std::int16_t>(wrap360(m_minutiaeG[ng].angle));
            freeLimit[numFreeG] = m_wideG[ng] != 0 ? tolWide : tol;
            wideLimit[numFreeG] = tolWide;
            ++numFreeG;
        }
    }
    const int padded = (numFreeG + ANGLE_MASK_BLOCK - 1) / ANGLE_MASK_BLOCK * ANGLE_MASK_BLOCK;
    for (int f = numFreeG; f < padded; ++f) {
        freeAngle[f] = 0;
        freeLimit[f] = -1;
        wideLimit[f] = -1;
    }
    // The topology test, then the record of an accepted candidate.
    const auto offer = [&](int np, int ng) {
        if (!checkQuadrants(group, np, ng, TR_NONE, skip, 0, conflicts.set, maxConflicts)) {
            return;
        }
        CompatiblePair& rec = m_compatPairs[m_numCompatPairs];
        rec.np = static_cast<std::uint8_t>(np);
        rec.ng = static_cast<std::uint8_t>(ng);
        rec.sim = static_cast<std::uint16_t>(pairSimilarity(np, ng));
        rec.conflictPos = conflicts.set.getNumItems() > 0
                              ? static_cast<std::uint16_t>(conflicts.set[0])
                              : NO_CONFLICT;
        if (np != m_compatLastNp) {
            m_compatFirst[np] = m_numCompatPairs;
            m_compatHas[np] = 1;
            m_compatLastNp = np;
        }
        m_compatLast[np] = m_numCompatPairs;
        ++m_numCompatPairs;
    };
    // Without pairs every candidate agrees; with pairs and no conflict allowed, the minutia
    // direction test comes first, then the pairs one by one.
    const bool strict = maxConflicts == 0 && group->getNumItems() != 0;
    // 3. Every free probe minutia against every free gallery minutia, the area scales around
    // the free probe minutiae worked out together (or kept from the carrying of the probe).
    if (numFreeG == 0) {
        return;
    }
    ZF_ASSERT(m_numNestP <= MAX_NESTS);
    std::uint8_t freeP[MAX_NESTS];
    int numFreeP = 0;
    for (int np = 0; np < m_numNestP; ++np) {
        if (m_inGroupP[np] == 0 && m_strongExcludeP[np] == 0) {
            freeP[numFreeP++] = static_cast<std::uint8_t>(np);
        }
    }
    int scaleX[MAX_NESTS];
    int scaleY[MAX_NESTS];
    if (scalesKnown) {
        for (int p = 0; p < numFreeP; ++p) {
            scaleX[p] = m_probeScaleX[freeP[p]];
            scaleY[p] = m_probeScaleY[freeP[p]];
        }
    } else {
        ESK::Sign freePoints[MAX_NESTS];
        for (int p = 0; p < numFreeP; ++p) {
            freePoints[p] = m_minutiaeP[freeP[p]];
        }
        getAreaScales(group, freePoints, numFreeP, scaleX, scaleY, true);
    }
    for (int p = 0; p < numFreeP; ++p) {
        const int np = freeP[p];
        const int sx = scaleX[p];
        const int sy = scaleY[p];
        const bool scaled = sx != 0 && sy != 0;
        if (scaled && !aligned) {
            group->recalcData();
            aligned = true;
        }
        if (!strict) {
            for (int f = 0; f < numFreeG; ++f) {
                const int ng = freeG[f];
                conflicts.set.m_numItems = 0;
                if (group->isCompatibleAligned(static_cast<short>(np), static_cast<short>(ng),
                                               m_errorLevel, conflicts.set, maxConflicts, nullptr,
                                               skip, scaled, sx, sy, IC_COLLECT)) {
                    offer(np, ng);
                }
            }
            continue;
        }
        // The gallery minutiae whose direction passes the minutia direction test, from the
        // probe angle less the group's rotation (0..359), in gallery order.
        const int turnedP = wrap360(m_minutiaeP[np].angle - group->m_rotation);
        std::uint64_t mask[4];
        angleWindowMask(freeAngle, m_wideP[np] != 0 ? wideLimit : freeLimit, padded, turnedP, mask);
        std::uint8_t candidates[MAX_NESTS];
        int numCandidates = 0;
        const int words = (padded + 63) / 64; // the words the free list reaches
        for (int w = 0; w < words; ++w) {
            for (std::uint64_t m = mask[w]; m != 0; m &= m - 1) {
                candidates[numCandidates++] = freeG[64 * w + __builtin_ctzll(m)];
            }
        }
        std::uint8_t agreeing[MAX_NESTS];
        const int numAgreeing =
            group->findAgreeingGallery(static_cast<short>(np), candidates, numCandidates,
                                       m_errorLevel, scaled, sx, sy, lastRefusal, agreeing);
        for (int k = 0; k < numAgreeing; ++k) {
            conflicts.set.m_numItems = 0;
            offer(np, agreeing[k]);
        }
    }
}

std::size_t Matcher100::buildExpandGroups()
{
    // 1. and 2. The most similar records seed the expand groups.
    const unsigned wanted = static_cast<unsigned>(std::min(m_speedRow[13], NUM_GROUPS));
    const std::size_t n = std::min<std::size_t>(m_numCompatPairs, wanted);
    for (std::uint32_t k = 0; k < m_numCompatPairs; ++k) {
        m_compatOrder[k] = k;
    }
    std::stable_sort(m_compatOrder, m_compatOrder + m_numCompatPairs,
                     [this](std::uint32_t a, std::uint32_t b) {
                         return m_compatPairs[a].sim > m_compatPairs[b].sim;
                     });
    // 3. One group per record.
    for (std::size_t i = 0; i < n; ++i) {
        const CompatiblePair& rec = m_compatPairs[m_compatOrder[i]];
        buildExpandGroup(&m_expandGroups[i], rec.np, rec.ng, static_cast<short>(rec.conflictPos),
                         rec.sim, 0);
    }
    // 4. Ranked by size, a group with a conflict counting one pair less.
    for (unsigned k = 0; k < wanted; ++k) {
        m_expandRank[k] = &m_expandGroups[k];
    }
    std::stable_sort(m_expandRank, m_expandRank + n, [](const GroupEx* a, const GroupEx* b) {
        return groupRankKey(*a) > groupRankKey(*b);
    });
    return n;
}

void Matcher100::buildExpandGroup(GroupEx* group, short np, short ng, short conflictPos,
                                  std::uint16_t /*unusedSim*/, int /*unused*/)
{
    ZF_ASSERT(group != nullptr);
    // 1. The seed with its best transition.
    group->reset();
    group->m_conflictPos = conflictPos;
    pairSimilarity(np, ng);
    const Transition seedT = m_nestCompare[np][ng].bestTransition;
    if (seedT > MPT) {
        return; // no transition relates the two nests
    }
    group->add(np, ng, seedT);
    // 2. Growth along nest links, among the compatible pairs only.
    HitItems hits;
    NumSet<unsigned> none;
    NumSet<unsigned> noConflicts;
    for (unsigned i = 0; i < group->getNumItems(); ++i) {
        const PairEx2 pair = group->getPair(i);
        short transitionDif = 0;
        copyHitItems(getNestCompareResult(pair.np, pair.ng, pair.transition, transitionDif), hits);
        for (int k = 0; k < hits.count; ++k) {
            const HitItem& h = hits.items[k];
            if (h.nP < 0 || h.nP >= m_numNestP || m_compatHas[h.nP] == 0) {
                continue;
            }
            bool listed = false;
            for (std::uint32_t r = m_compatFirst[h.nP]; r <= m_compatLast[h.nP]; ++r) {
                if (m_compatPairs[r].ng == h.nG) {
                    listed = true;
                    break;
                }
            }
            if (!listed || findProbe(*group, h.nP) >= 0 || findGallery(*group, h.nG) >= 0) {
                continue;
            }
            if (!group->isCompatible(h.nP, h.nG, m_errorLevel, none, 0, nullptr, none, false, 0, 0,
                                     IC_STRICT, 0)) {
                continue;
            }
            cacheNestComparison(*this, h.nP, h.nG, h.transition);
            if (checkQuadrants(group, h.nP, h.nG, h.transition, none, 0, noConflicts, 0)) {
                group->add(h.nP, h.nG, h.transition);
            }
        }
    }
}

} // namespace accelMatch
