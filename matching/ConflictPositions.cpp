// Alternatives of the current group: candidates linked to its nests that need the same one or
// two pairs of the group to go are gathered into conflict-position records; each record is
// tried on a copy of the group (an expand group as scratch), the copy grown along nest links,
// and the largest copy replaces the group when it is larger. Throws MA_ERR_MEMORY or
// MyException from the nest comparison.

#include "matching/Matcher100.h"
#include "matching/SearchHelpers.h"

#include <algorithm>
#include <utility>

namespace accelMatch {
namespace {

constexpr unsigned CONFLICT_SET_CAPACITY = 20;
constexpr unsigned MAX_CASES = 20;
constexpr std::uint32_t BEST_NEST_CANDIDATES = 8;

} // namespace

void Matcher100::expandCurGroupByTopologyAlt()
{
    ConflictPos records[CONFLICT_SET_CAPACITY] = {};
    ConflictPosSet set(records, CONFLICT_SET_CAPACITY);
    fillCoflictPosSet(set);
    testExpandCases(set);
    calcScale(m_curGroup);
}

void Matcher100::fillCoflictPosSet(ConflictPosSet& set)
{
    GroupEx* group = m_curGroup;
    HitItems hits;
    // 1. The hit groups of the current pairs.
    for (std::uint32_t i = 0; i < group->getNumItems(); ++i) {
        const PairEx2 pair = group->getPair(i);
        short transitionDif = 0;
        copyHitItems(getNestCompareResult(pair.np, pair.ng, pair.transition, transitionDif), hits);
        for (int k = 0; k < hits.count; ++k) {
            // 2. Candidates not yet present, within the transition limit.
            const HitItem& h = hits.items[k];
            if (h.nP == -1) {
                continue;
            }
            if (holdsPair(*group, h.nP, h.nG)) {
                continue;
            }
            cacheNestComparison(*this, h.nP, h.nG, h.transition);
            if (h.transition > m_transitionLimit) {
                continue;
            }
            addConflictCandidate(group, set, h.nP, h.nG, h.transition);
        }
    }
}

void Matcher100::addConflictCandidate(GroupEx* group, ConflictPosSet& set, short nP, short nG,
                                      Transition t)
{
    // 3. The positions the candidate displaces, and the conflicts still allowed.
    LocalSet<2> displaced;
    LocalSet<2> conflicts;
    const int iP = findProbe(*group, nP);
    const int iG = findGallery(*group, nG);
    if (iP >= 0) {
        displaced.set.add(static_cast<unsigned>(iP));
    }
    if (iG >= 0) {
        displaced.set.add(static_cast<unsigned>(iG));
    }
    const std::size_t maxConflicts = 2 - displaced.set.getNumItems();
    // 4. Geometry against the rest.
    int sx = 0;
    int sy = 0;
    getAreaScale(group, m_minutiaeP[nP].x, m_minutiaeP[nP].y, sx, sy, true);
    if (!group->isCompatible(nP, nG, m_errorLevel, conflicts.set, maxConflicts, nullptr,
                             displaced.set, true, sx, sy, IC_COLLECT, 0)) {
        return;
    }
    // 5. The record.
    ConflictPos rec = {};
    rec.pairs[0] =
        PairEx2{nP, nG, t, static_cast<std::uint16_t>(sx), static_cast<std::uint16_t>(sy)};
    rec.m_numPairs = 1;
    const NumSet<unsigned>& from = displaced.set.getNumItems() > 0 ? displaced.set : conflicts.set;
    for (std::uint32_t p = 0; p < from.getNumItems() && p < 2; ++p) {
        rec.positions[rec.numPositions++] = from[p];
    }
    // 6. Topology, whose conflicts also make room.
    if (!checkQuadrants(group, nP, nG, t, displaced.set, 0, conflicts.set, maxConflicts)) {
        return;
    }
    for (std::uint32_t p = 0; p < conflicts.set.getNumItems() && rec.numPositions < 2; ++p) {
        const unsigned c = conflicts.set[p];
        const bool present = (rec.numPositions > 0 && rec.positions[0] == c) ||
                             (rec.numPositions > 1 && rec.positions[1] == c);
        if (!present) {
            rec.positions[rec.numPositions++] = c;
        }
    }
    // 7. Merged with a record that displaces the same positions.
    set.insert(rec);
}

void Matcher100::testExpandCases(ConflictPosSet& set)
{
    testExpandCasesForNestSimSet(m_curGroup, set);
}

void Matcher100::testExpandCasesForNestSimSet(GroupEx* current, ConflictPosSet& set)
{
    // 1. Scratch groups in turn; the largest copy is remembered.
    unsigned k = 0;
    unsigned best = 0;
    unsigned bestIndex = 0;
    // 2. Every record that does not lose pairs, in insertion order.
    for (std::uint32_t r = 0; r < set.m_numItems && k < MAX_CASES; ++r) {
        if (set.getProfit(r) < 0) {
            continue;
        }
        const ConflictPos& rec = set.getItem(r);
        GroupEx& e = m_expandGroups[k];
        e = *current;
        // The displaced pairs go, the higher position first so that each names its own pair.
        unsigned pos[2] = {};
        unsigned numPos = 0;
        for (std::uint32_t p = 0; p < rec.numPositions; ++p) {
            if (rec.positions[p] < e.getNumItems()) {
                pos[numPos++] = rec.positions[p];
            }
        }
        if (numPos == 2 && pos[0] == pos[1]) {
            numPos = 1;
        }
        if (numPos == 2 && pos[0] < pos[1]) {
            std::swap(pos[0], pos[1]);
        }
        const std::uint32_t changedBefore = e.m_numChanged;
        for (unsigned p = 0; p < numPos; ++p) {
            e.remove(pos[p]);
        }
        e.m_numChanged = changedBefore + 1;
        // The record's pairs are offered; the kept pairs are protected.
        int gain = -static_cast<int>(rec.numPositions);
        const unsigned minPos = e.getNumItems();
        for (std::uint32_t p = 0; p < rec.m_numPairs; ++p) {
            const PairEx2& c = rec.getPair(p);
            const int at =
                tryAdd2curGroup(&e, c.np, c.ng, c.transition, m_errorLevel, minPos, true,
                                static_cast<short>(c.scaleX), static_cast<short>(c.scaleY));
            if (at != -1) {
                ++gain;
                calcScaleForNewPair(&e, static_cast<std::size_t>(at));
            }
        }
        if (gain < 0) {
            continue; // scratch group k is reused
        }
        expandGroupByTopology(&e, minPos);
        if (e.getNumItems() > best) {
            best = e.getNumItems();
            bestIndex = k;
        }
        ++k;
    }
    // 3. Only a copy built here may replace the current group.
    if (k > 0 && m_expandGroups[bestIndex].getNumItems() > current->getNumItems()) {
        *current = m_expandGroups[bestIndex];
    }
}

void Matcher100::expandGroupByNestSimSetAlt(GroupEx* group)
{
    calcScale(group);
    ConflictPos records[CONFLICT_SET_CAPACITY] = {};
    ConflictPosSet set(records, CONFLICT_SET_CAPACITY);
    fillCoflictPosSetForNestSimSet(group, set);
    testExpandCasesForNestSimSet(group, set);
    calcScale(group);
}

void Matcher100::fillCoflictPosSetForNestSimSet(GroupEx* group, ConflictPosSet& set)
{
    // The first best nest pairs with a similarity, each with its best transition.
    const std::uint32_t n = std::min<std::uint32_t>(m_numBestNests, BEST_NEST_CANDIDATES);
    for (std::uint32_t k = 0; k < n; ++k) {
        const BestNest& b = m_bestNests[k];
        const Transition t = m_nestCompare[b.np][b.ng].bestTransition;
        if (b.sim == 0 || t > MPT || b.np >= m_numNestP || b.ng >= m_numNestG) {
            continue;
        }
        if (holdsPair(*group, b.np, b.ng)) {
            continue; // already a pair of the group
        }
        addConflictCandidate(group, set, b.np, b.ng, t);
    }
}

void Matcher100::clearUsedNestSimSet(GroupEx* group)
{
    for (std::uint32_t k = 0; k < group->getNumItems(); ++k) {
        const PairEx2& pair = group->getPair(k);
        for (std::uint32_t i = 0; i < m_numBestNests; ++i) {
            BestNest& b = m_bestNests[i];
            if (b.sim != 0 && b.np == pair.np && b.ng == pair.ng) {
                b = BestNest{0, 0, 0};
                break;
            }
        }
    }
}

} // namespace accelMatch
