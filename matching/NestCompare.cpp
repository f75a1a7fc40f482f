// Nest comparison: a probe nest and a gallery nest compared link by link under a nest
// transition into the scratch hit group with its similarity (0..65535); the per-pair cache
// of transitions 0..4; the selection of the best starting nest pairs; the central-pair
// tests; and the quadrant and direction predicates of the group builders. A failed hit-group
// allocation throws MyException.

#include "matching/Matcher100.h"
#include "matching/SearchHelpers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace accelMatch {
namespace {

constexpr int LINK_ANGLE_TOL = 25; // neighbour angles and relative angles, degrees
constexpr int MAX_NEST_SIM = 65535;

// Weight of a link pair's evidence by its link transition.
constexpr int NcTransitionWeightOf(Transition t)
{
    if (t == 0) {
        return 24;
    }
    if (t >= 1 && t <= 4) {
        return 16;
    }
    if (t >= 5 && t <= 12) {
        return 8;
    }
    if (t >= 13 && t <= MPT) {
        return 2;
    }
    return 0;
}

struct NcTransitionWeights {
    std::uint8_t weight[MPT + 1];
};

constexpr NcTransitionWeights NcMakeTransitionWeights()
{
    NcTransitionWeights w{};
    for (Transition t = 0; t <= MPT; ++t) {
        w.weight[t] = static_cast<std::uint8_t>(NcTransitionWeightOf(t));
    }
    return w;
}

constexpr NcTransitionWeights NC_TRANSITION_WEIGHTS = NcMakeTransitionWeights();

// NcTransitionWeightOf by table: the weights of 0..MPT, nothing beyond.
inline int NcTransitionWeight(Transition t)
{
    return static_cast<unsigned>(t) <= static_cast<unsigned>(MPT) ? NC_TRANSITION_WEIGHTS.weight[t]
                                                                  : 0;
}

// Slot count of a link list, never beyond the slots it has.
int NcSlots(const ESK::Link& link)
{
    return link.count < ESK::ESK_LINK_SLOTS ? link.count : ESK::ESK_LINK_SLOTS;
}

int NcType(const ESK::Sign& m)
{
    return m.type == 1 ? 1 : 0;
}

// Transitions 0..MPT open to each pair of minutia types (probe type 2 + gallery type), bit t
// for transition t.
std::array<std::uint32_t, 4> NcOpenTransitionTable()
{
    std::array<std::uint32_t, 4> m{};
    for (int k = 0; k < 4; ++k) {
        for (Transition t = 0; t <= MPT; ++t) {
            if (isTransitionPossibleForTypes(k >> 1, k & 1, t)) {
                m[static_cast<std::size_t>(k)] |= 1u << t;
            }
        }
    }
    return m;
}

const std::array<std::uint32_t, 4> NC_OPEN_TRANSITIONS = NcOpenTransitionTable();

// The open transitions of a probe minutia of type typeP and a gallery minutia of type typeG.
inline std::uint32_t NcOpenTransitions(int typeP, int typeG)
{
    return NC_OPEN_TRANSITIONS[static_cast<std::size_t>(2 * typeP + typeG)];
}

// Whether transition t can relate probe nest np to gallery nest ng (isTransitionPossible).
inline bool NcTransitionOpen(const Matcher100& m, int np, int ng, Transition t)
{
    return t >= 0 && t <= MPT &&
           ((NcOpenTransitions(NcType(m.m_minutiaeP[np]), NcType(m.m_minutiaeG[ng])) >> t) & 1u) !=
               0;
}

// The right-hand slots of a minutia of each type, bit k for slot k.
std::array<std::uint64_t, 2> NcRightSlotTable()
{
    std::array<std::uint64_t, 2> m{};
    for (int type = 0; type < 2; ++type) {
        for (int k = 0; k < NUM_SLOTS_B; ++k) {
            if (isRightLink[type][k] != 0) {
                m[static_cast<std::size_t>(type)] |= std::uint64_t{1} << k;
            }
        }
    }
    return m;
}

const std::array<std::uint64_t, 2> NC_RIGHT_SLOTS = NcRightSlotTable();
static_assert(ESK::ESK_LINK_SLOTS <= NUM_SLOTS_B, "every slot has a side");

// The highest slot of a slot set, 0 for an empty one.
inline int NcHighestSlot(std::uint64_t slots)
{
    return slots == 0 ? 0 : 63 - __builtin_clzll(slots);
}

// wrap180(a), with a turn added or taken away first: the angle differences of a nest
// comparison mostly lie within one turn of the range.
inline int NcWrap180(int a)
{
    if (a >= 180) {
        a -= 360;
    } else if (a < -180) {
        a += 360;
    }
    return a >= -180 && a < 180 ? a : wrap180(a);
}

// 256 d / LINK_ANGLE_TOL for the wrapped difference d (0..180) of a neighbour angle difference
// x after rotation, at x + NC_TURN_DIF_REACH for x in -NC_TURN_DIF_REACH..NC_TURN_DIF_REACH - 1
// (the difference of two angles 0..359 and a rotation -180..179 lies well within). d is within
// the tolerance exactly where the entry is at most 256.
constexpr int NC_TURN_DIF_REACH = 720;

struct NcTurnDifTable {
    std::int16_t dif[2 * NC_TURN_DIF_REACH];
};

constexpr NcTurnDifTable NcMakeTurnDifTable()
{
    NcTurnDifTable t{};
    for (int x = -NC_TURN_DIF_REACH; x < NC_TURN_DIF_REACH; ++x) {
        int w = x;
        while (w >= 180) {
            w -= 360;
        }
        while (w < -180) {
            w += 360;
        }
        const int d = w < 0 ? -w : w;
        t.dif[x + NC_TURN_DIF_REACH] = static_cast<std::int16_t>(256 * d / LINK_ANGLE_TOL);
    }
    return t;
}

constexpr NcTurnDifTable NC_TURN_DIF = NcMakeTurnDifTable();
static_assert(256 * 26 / LINK_ANGLE_TOL > 256, "the first difference beyond the tolerance");
static_assert(NC_TURN_DIF.dif[720] == 0 && NC_TURN_DIF.dif[720 + 25] == 256 &&
                  NC_TURN_DIF.dif[720 + 26] == 266 && NC_TURN_DIF.dif[720 - 25] == 256 &&
                  NC_TURN_DIF.dif[720 + 335] == 256 && NC_TURN_DIF.dif[720 + 334] == 266 &&
                  NC_TURN_DIF.dif[720 + 180] == 1843 && NC_TURN_DIF.dif[0] == 0 &&
                  NC_TURN_DIF.dif[2 * 720 - 1] == 10,
              "differences wrap by whole turns");

// Test 1 of checkLink: the neighbour angles after rotation, their difference d on the 256
// scale of the tolerance.
[[gnu::always_inline]] inline bool NcLinkAngles(const Matcher100& m, int nP, int nG, int rotation,
                                                short* minAngleDif)
{
    const int x = m.m_minutiaeP[nP].angle - m.m_minutiaeG[nG].angle - rotation;
    if (x >= -NC_TURN_DIF_REACH && x < NC_TURN_DIF_REACH) {
        *minAngleDif = NC_TURN_DIF.dif[x + NC_TURN_DIF_REACH];
        return *minAngleDif <= 256;
    }
    const int w = NcWrap180(x);
    const int d = w < 0 ? -w : w;
    *minAngleDif = static_cast<short>(256 * d / LINK_ANGLE_TOL);
    return d <= LINK_ANGLE_TOL;
}

// The difference 0..180 of the neighbour angles relative to their link directions (checkAngle1).
[[gnu::always_inline]] inline int NcAngle1(Matcher100& m, int nP, int np, int nG, int ng)
{
    const int dP = m.m_pairSetP.getAngle(nP, np);
    const int dG = m.m_pairSetG.getAngle(nG, ng);
    return std::abs(NcWrap180((m.m_minutiaeP[nP].angle - dP) - (m.m_minutiaeG[nG].angle - dG)));
}

// Tests 2 and 3 of checkLink: link lengths, and the neighbour angle relative to the link
// direction; each difference on the 256 scale of its tolerance.
[[gnu::always_inline]] inline bool NcLinkShape(Matcher100& m, int np, int ng, int nP, int nG,
                                               short* distDif, short* angleDif)
{
    const int lP = m.m_pairSetP.getLen(np, nP);
    const int lG = m.m_pairSetG.getLen(ng, nG);
    const int dif = std::abs(lP - lG);
    if (dif > distTol(m.m_errorLevel, lP < lG ? lP : lG)) {
        return false;
    }
    const int larger = lP > lG ? lP : lG;
    *distDif = static_cast<short>(larger == 0 ? 0 : dif * 256 / larger);
    const int r = NcAngle1(m, nP, np, nG, ng);
    *angleDif = static_cast<short>(r * 256 / LINK_ANGLE_TOL);
    return r <= LINK_ANGLE_TOL;
}

// The link tests of checkLink, with its tolerance of LINK_ANGLE_TOL for wide minutiae too:
// neighbour angles after rotation, link lengths, and the neighbour angle relative to the link;
// each difference on the 256 scale of its tolerance.
inline bool NcCheckLink(Matcher100& m, int np, int ng, int nP, int nG, int rotation, short* distDif,
                        short* minAngleDif, short* angleDif)
{
    return NcLinkAngles(m, nP, nG, rotation, minAngleDif) &&
           NcLinkShape(m, np, ng, nP, nG, distDif, angleDif);
}

// Appends a block of `size` elements to `blocks`; a failed allocation leaves the blocks as they
// were and throws. Kept out of line: the store seldom grows.
template <class T>
[[gnu::noinline]] void NcAddBlock(std::vector<std::unique_ptr<T[]>>& blocks, std::size_t size)
{
    blocks.emplace_back(new (std::nothrow) T[size]);
    if (blocks.back() == nullptr) {
        blocks.pop_back();
        throw MyException{};
    }
}

// Makes block `block` of `blocks` exist (the next one to add when it is one past the end), each
// of `size` elements.
template <class T>
inline void NcEnsureBlock(std::vector<std::unique_ptr<T[]>>& blocks, std::size_t block,
                          std::size_t size)
{
    if (block == blocks.size()) {
        NcAddBlock(blocks, size);
    }
}

// A link pair of a nest comparison that passed the tests of the pair alone.
struct NcLinkCandidate {
    std::int16_t nP;
    std::int16_t nG;
    std::int16_t minAngleDif;
    std::int8_t transition;
};

// Appends item to g as HitGroup::add would, when no item names either of its neighbours.
[[gnu::always_inline]] inline void NcAppendHit(HitGroup& g, const HitItem& item)
{
    ZF_ASSERT(item.transition >= NT && item.transition <= MPT);
    ZF_ASSERT(g.m_numItems < g.m_maxItems);
    g.m_items[g.m_numItems++] = item;
}

// Puts item into g by the rules of add2hit, iP and iG being the first items naming its probe
// and gallery neighbours (-1 for none).
void NcPlaceHit(Matcher100& m, HitGroup& g, int iP, int iG, const HitItem& item, int np, int ng)
{
    if (iP < 0 && iG < 0) {
        NcAppendHit(g, item);
        return;
    }
    const Transition t = item.transition;
    if (iP < 0 || iG < 0) {
        const int k = iP < 0 ? iG : iP;
        if (m.isNewLinksBetter(g, k, item.nP, item.nG, t, np, ng)) {
            g.m_items[k] = item;
        }
        return;
    }
    if (iP != iG && m.isNewLinksBetter(g, iP, item.nP, item.nG, t, np, ng) &&
        m.isNewLinksBetter(g, iG, item.nP, item.nG, t, np, ng)) {
        g.m_items[iP] = item;
        g.remove(static_cast<std::size_t>(iG));
    }
}

// The best-nest list by similarity and the seed set by virtual size, largest first, in the
// shared nest orders; equal keys keep their list order, the same with every C library.
void NcSortBySim(BestNest* items, unsigned n)
{
    std::stable_sort(items, items + n, [](const BestNest& a, const BestNest& b) {
        return compareNestSim(&a, &b) < 0;
    });
}

void NcSortBySize(NestVirtSize* items, unsigned n)
{
    std::stable_sort(items, items + n, [](const NestVirtSize& a, const NestVirtSize& b) {
        return compareNestVirtSize(&a, &b) < 0;
    });
}

// getHitProbabilities, inline for the nest comparison's similarity.
[[gnu::always_inline]] inline int NcHitProbabilities(const Matcher100& m, const HitGroup& g,
                                                     int& qualitySum)
{
    qualitySum = 0;
    std::int64_t sum = 0;
    for (int k = 0; k < g.m_numItems; ++k) {
        const HitItem& item = g.m_items[k];
        const int w = m.m_qualityWeightP[item.nP] + m.m_qualityWeightG[item.nG];
        qualitySum += w;
        const int a = 256 - item.distDif;
        const int b = 256 - item.minAngleDif;
        const int c = 256 - item.angleDif;
        if (a < 0 || b < 0 || c < 0) {
            continue;
        }
        // Each factor is below 2^16: the product is exact in 64 bits as it is in double
        // precision, and is converted once.
        const auto v = static_cast<std::int64_t>(
            w * std::sqrt(static_cast<double>(static_cast<std::int64_t>(c) * b * a)) / 256.0);
        sum += v * NcTransitionWeight(item.transition);
    }
    if (qualitySum == 0 || g.m_numItems == 0) {
        return 0;
    }
    return static_cast<int>(sum * g.m_numItems / qualitySum);
}

// saveNestComRes of the comparison cache: the scratch group copied into the store as
// transition t of the cell, which takes its similarity when it is the best so far. A group
// without items (its similarity 0) is the matcher's shared empty group of t instead: cached
// groups are only read.
[[gnu::always_inline]] inline void NcSaveResult(Matcher100& m, NestCompareResult& cell,
                                                Transition t)
{
    ZF_ASSERT(t >= 0 && t < NUM_CACHED_TRANSITIONS && cell.groups[t] == nullptr);
    const HitGroup& s = m.m_scratchHit;
    HitGroup* g = &m.m_emptyHits[t];
    if (s.m_numItems != 0) {
        g = m.m_hitStore.take(s.m_numItems);
        g->m_transition = s.m_transition;
        g->m_sim = s.m_sim;
        g->m_numItems = s.m_numItems;
        // Item by item: the groups are short.
        for (int k = 0; k < s.m_numItems; ++k) {
            g->m_items[k] = s.m_items[k];
        }
    }
    cell.groups[t] = g;
    if (g->m_sim > cell.bestSim || cell.bestTransition == TR_NONE) {
        cell.bestSim = g->m_sim;
        cell.bestTransition = t;
    }
    cell.computed = 1;
}

} // namespace

bool Matcher100::isTransitionPossible(short np, short ng, Transition t) const
{
    return NcTransitionOpen(*this, np, ng, t);
}

bool Matcher100::checkAngle1(int nP, int np, int nG, int ng, short* angleDif)
{
    const int r = NcAngle1(*this, nP, np, nG, ng);
    if (angleDif != nullptr) {
        *angleDif = static_cast<short>(r * 256 / LINK_ANGLE_TOL);
    }
    return r <= LINK_ANGLE_TOL;
}

bool Matcher100::checkLink(int np, int ng, int nP, int nG, int rotation, short* distDif,
                           short* minAngleDif, short* angleDif)
{
    return NcCheckLink(*this, np, ng, nP, nG, rotation, distDif, minAngleDif, angleDif);
}

bool Matcher100::isNewLinksBetter(HitGroup& g, int index, int nP, int nG, int transition, int np,
                                  int ng)
{
    const HitItem& item = g.m_items[index];
    // 1-2. Transition classes first.
    if (transition == 0) {
        return true;
    }
    if (item.transition == 0) {
        return false;
    }
    if (item.transition >= TL_2 && transition < TL_2) {
        return true;
    }
    if (item.transition < TL_2 && transition >= TL_2) {
        return false;
    }
    // 3. Both nest pairs compared in full: the better nest similarity.
    const NestCompareResult& cellNew = m_nestCompare[nP][nG];
    const NestCompareResult& cellOld = m_nestCompare[item.nP][item.nG];
    if (cellNew.computed != 0 && cellOld.computed != 0) {
        return cellNew.bestSim > cellOld.bestSim;
    }
    // 4. The better signature similarity.
    if (m_accelSim[nP][nG] > m_accelSim[item.nP][item.nG]) {
        return true;
    }
    // 5. The closer link lengths.
    const int difNew = std::abs(m_pairSetP.getLen(np, nP) - m_pairSetG.getLen(ng, nG));
    const int difOld = std::abs(m_pairSetP.getLen(np, item.nP) - m_pairSetG.getLen(ng, item.nG));
    return difNew < difOld;
}

void Matcher100::add2hit(HitGroup& g, NotHit* /*notHitP*/, NotHit* /*notHitG*/, short nP, short nG,
                         Transition t, bool /*sameDir*/, int np, int ng, short* distDif,
                         short* minAngleDif, short* angleDif)
{
    // The first items naming nP and nG; the walk ends once both are found.
    int iP = -1;
    int iG = -1;
    for (int k = 0; k < g.m_numItems && (iP < 0 || iG < 0); ++k) {
        if (iP < 0 && g.m_items[k].nP == nP) {
            iP = k;
        }
        if (iG < 0 && g.m_items[k].nG == nG) {
            iG = k;
        }
    }
    NcPlaceHit(*this, g, iP, iG, HitItem{nP, nG, t, *distDif, *minAngleDif, *angleDif, 0}, np, ng);
}

void Matcher100::clearNotHitGroup(HitGroup& g, NotHit* notHitP, NotHit* notHitG, bool final)
{
    for (int k = 0; k < g.m_numItems; ++k) {
        notHitP[g.m_items[k].nP].notHit = 0;
        notHitG[g.m_items[k].nG].notHit = 0;
    }
    if (final) {
        for (int i = 0; i < m_numNestP; ++i) {
            if (m_excludeP[i] != 0) {
                notHitP[i].notHit = 0;
            }
        }
        for (int j = 0; j < m_numNestG; ++j) {
            if (m_excludeG[j] != 0) {
                notHitG[j].notHit = 0;
            }
        }
    }
}

int Matcher100::getHitProbabilities(HitGroup& g, bool /*final*/, int& qualitySum)
{
    return NcHitProbabilities(*this, g, qualitySum);
}

int Matcher100::getNotHitProbabilities(int np, int ng, NotHit* notHitP, NotHit* notHitG, int& count,
                                       bool final, int limit)
{
    // Only neighbours of the two nests carry marks.
    NestMarks candidates;
    linkedNeighbours(np, ng, candidates);
    return notHitOfMarks(np, ng, candidates, notHitP, notHitG, count, final, limit);
}

void Matcher100::linkedNeighbours(int np, int ng, NestMarks& out) const
{
    for (int side = 0; side < 2; ++side) {
        const bool isP = side == 0;
        const ESK::Link& link = (isP ? m_linksP : m_linksG)[isP ? np : ng];
        const int num = isP ? m_numNestP : m_numNestG;
        const int slots = NcSlots(link);
        out.count[side] = 0;
        for (int k = 0; k < slots; ++k) {
            const int i = link.slot[k].neighbour;
            if (link.slot[k].code != 0 && i < num) {
                out.index[side][out.count[side]++] = static_cast<std::uint8_t>(i);
            }
        }
    }
}

int Matcher100::notHitOfMarks(int np, int ng, const NestMarks& candidates, NotHit* notHitP,
                              NotHit* notHitG, int& count, bool final, int limit)
{
    // Each marked candidate is taken once (its mark is cleared once counted).
    count = 0;
    std::int64_t sum = 0;
    int c[2] = {0, 0};
    for (int side = 0; side < 2; ++side) {
        const bool isP = side == 0;
        const int nest = isP ? np : ng;
        NotHit* marks = isP ? notHitP : notHitG;
        const std::uint16_t* weights = isP ? m_qualityWeightP : m_qualityWeightG;
        MinutiaePairSet& pairs = isP ? m_pairSetP : m_pairSetG;
        for (int k = 0; k < candidates.count[side]; ++k) {
            const int i = candidates.index[side][k];
            if (marks[i].notHit == 0) {
                continue;
            }
            marks[i].notHit = 0;
            sum += weights[i];
            ++count;
            if (final && i != nest && pairs.getLen(i, nest) <= limit) {
                c[side] += marks[i].sameDir != 0 ? 1 : -1;
            }
        }
    }
    if (final) {
        // Unexplained neighbours weigh more when the two sides disagree in direction sense.
        const int d = std::abs(c[0] - c[1]);
        sum *= d == 0 ? 1 : (d <= 2 ? 2 : (d == 3 ? 4 : 8));
    }
    return static_cast<int>(sum > 0x7FFFFFFF ? 0x7FFFFFFF : sum);
}

void Matcher100::calcNestSim(int np, int ng, HitGroup& g, NotHit* notHitP, NotHit* notHitG,
                             bool final)
{
    // 1. Hit neighbours are no longer unexplained; only neighbours of the nests carry marks.
    clearNotHitGroup(g, notHitP, notHitG, final);
    NestMarks candidates;
    linkedNeighbours(np, ng, candidates);
    calcNestSimOfMarks(np, ng, g, candidates, notHitP, notHitG, final);
}

void Matcher100::calcNestSimOfMarks(int np, int ng, HitGroup& g, const NestMarks& candidates,
                                    NotHit* notHitP, NotHit* notHitG, bool final)
{
    g.m_sim = 0;
    // 2-3. Evidence of the hits, weight of what stays unexplained.
    int sumQ = 0;
    const int hitProb = getHitProbabilities(g, final, sumQ);
    int count = 0;
    const int notHit =
        notHitOfMarks(np, ng, candidates, notHitP, notHitG, count, final, 5 * m_distUnit);
    // 4. The similarity.
    if (hitProb == 0) {
        return;
    }
    const std::int64_t sim =
        static_cast<std::int64_t>(sumQ) * hitProb / (static_cast<std::int64_t>(notHit) + sumQ);
    g.m_sim = static_cast<std::uint16_t>(sim < 0 ? 0 : (sim > MAX_NEST_SIM ? MAX_NEST_SIM : sim));
}

// Inline in compNestsAlt, its only caller.
[[gnu::always_inline]] inline void Matcher100::calcNestSimAlt(int np, int ng, HitGroup& g)
{
    // The same similarity as calcNestSim without the final rules: every linked neighbour that
    // no item names stays unexplained. Items name distinct neighbours on each side, each one
    // a linked neighbour of its nest (compNestsAlt pairs only the slots of the neighbour
    // sets): the unexplained weight is the neighbours' weight less the items' quality sum,
    // and with that sum it makes the neighbours' weight.
    g.m_sim = 0;
    int sumQ = 0;
    const int hitProb = NcHitProbabilities(*this, g, sumQ);
    if (hitProb == 0) {
        return;
    }
    const std::int64_t weight =
        static_cast<std::int64_t>(m_neighboursP[np].weight) + m_neighboursG[ng].weight;
    const std::int64_t sim = static_cast<std::int64_t>(sumQ) * hitProb / weight;
    g.m_sim = static_cast<std::uint16_t>(sim < 0 ? 0 : (sim > MAX_NEST_SIM ? MAX_NEST_SIM : sim));
}

void Matcher100::refreshSlotMaps()
{
    if (m_slotMapsMade &&
        std::memcmp(m_slotMapSource, TransitionMatrix, sizeof TransitionMatrix) == 0) {
        return;
    }
    std::memcpy(m_slotMapSource, TransitionMatrix, sizeof TransitionMatrix);
    m_slotMapsMade = true;
    static_assert(ESK::ESK_LINK_SLOTS <= NUM_LINK_SLOTS, "every slot has a matrix entry");
    for (int t = 0; t < NUM_NEST_TRANSITIONS; ++t) {
        SlotMapRow& row = m_slotMaps[t];
        row = SlotMapRow{};
        for (int k = 0; k < ESK::ESK_LINK_SLOTS; ++k) {
            const int gs = TransitionMatrix[t][k];
            if (gs < 0 || gs >= ESK::ESK_LINK_SLOTS) {
                continue;
            }
            const std::uint64_t bit = std::uint64_t{1} << k;
            row.inverse[gs] |= bit;
            if (row.numShifts < 0) {
                continue;
            }
            // Both slots lie below 64: k - gs mod 64 names the shift.
            const auto turn = static_cast<std::uint8_t>((k - gs) & 63);
            int i = 0;
            while (i < row.numShifts && row.turn[i] != turn) {
                ++i;
            }
            if (i == row.numShifts) {
                if (i == MAX_SLOT_SHIFTS) {
                    row.numShifts = -1; // too many shifts: by the inverse alone
                    continue;
                }
                row.turn[i] = turn;
                ++row.numShifts;
            }
            row.slots[i] |= bit;
        }
    }
}

void Matcher100::compNestsAlt(short np, short ng, Transition t, int rotation)
{
    // 1. Empty scratch group.
    HitGroup& g = m_scratchHit;
    g.m_numItems = 0;
    g.m_sim = 0;
    g.m_transition = t;
    ZF_ASSERT(t >= 0 && t < TL_3);
    const ESK::Link& linkP = m_linksP[np];
    const ESK::Link& linkG = m_linksG[ng];
    // 2. Link pairs under the transition's slot mapping, in slot order; only probe slots
    // that can pair a link and map to a gallery slot that can pair one of the same code
    // family are looked at (a nest without them has nothing to compare).
    // The tests of the link pair alone come first and have no effect but their answer: the
    // pairs they keep are listed, then looked for among the hits and placed one by one.
    const std::int32_t* map = TransitionMatrix[t];
    const NestNeighbours& nestP = m_neighboursP[np];
    const NestNeighbours& nestG = m_neighboursG[ng];
    NcLinkCandidate candidates[ESK::ESK_LINK_SLOTS];
    int numCandidates = 0;
    std::uint64_t mapped[2];
    m_slotMaps[t].probeSlotsInto(nestG.familySlots, mapped);
    for (std::uint64_t open =
             (nestP.familySlots[0] & mapped[0]) | (nestP.familySlots[1] & mapped[1]);
         open != 0; open &= open - 1) {
        const int k = __builtin_ctzll(open);
        const int gs = map[k];
        const int nP = linkP.slot[k].neighbour;
        const int nG = linkG.slot[gs].neighbour;
        short minAngleDif = 0;
        if (!NcLinkAngles(*this, nP, nG, rotation, &minAngleDif)) {
            continue;
        }
        const Transition lt = T2T[linkP.slot[k].code & 15][linkG.slot[gs].code & 15];
        if (lt <= MPT) {
            candidates[numCandidates++] =
                NcLinkCandidate{static_cast<std::int16_t>(nP), static_cast<std::int16_t>(nG),
                                minAngleDif, static_cast<std::int8_t>(lt)};
        }
    }
    // The items and their count are kept in locals while the group grows here: the count is a
    // byte, whose every store the compiler would take to change anything else.
    HitItem* const items = g.m_items;
    int numItems = 0;
    for (int c = 0; c < numCandidates; ++c) {
        const int nP = candidates[c].nP;
        const int nG = candidates[c].nG;
        // The first items naming nP and nG, as add2hit finds them; a pair already among the
        // hits is left as it is.
        int iP = -1;
        for (int i = 0; i < numItems; ++i) {
            if (items[i].nP == nP) {
                iP = i;
                break;
            }
        }
        if (iP >= 0 && items[iP].nG == nG) {
            continue;
        }
        short distDif = 0;
        short angleDif = 0;
        if (!NcLinkShape(*this, np, ng, nP, nG, &distDif, &angleDif)) {
            continue;
        }
        int iG = -1;
        for (int i = 0; i < numItems; ++i) {
            if (items[i].nG == nG) {
                iG = i;
                break;
            }
        }
        const NcLinkCandidate& cand = candidates[c];
        const HitItem item{cand.nP,  cand.nG, cand.transition, distDif, cand.minAngleDif,
                           angleDif, 0};
        // Mostly neither neighbour is named yet, and the hit is appended here.
        if (iP < 0 && iG < 0) {
            ZF_ASSERT(item.transition >= NT && item.transition <= MPT);
            ZF_ASSERT(numItems < g.m_maxItems);
            items[numItems++] = item;
        } else {
            g.m_numItems = static_cast<std::uint8_t>(numItems);
            NcPlaceHit(*this, g, iP, iG, item, np, ng);
            numItems = g.m_numItems;
        }
    }
    g.m_numItems = static_cast<std::uint8_t>(numItems);
    // 3. The similarity.
    calcNestSimAlt(np, ng, g);
}

void Matcher100::getMaxRightAndLeftLink(std::uint8_t type, const ESK::Link* linkP,
                                        const ESK::Link* linkG, Transition t, int& right, int& left)
{
    right = 0;
    left = 0;
    const int slots = NcSlots(*linkP);
    if (slots < 2) {
        return;
    }
    // The last right and left slots (1 on) with a probe link, and those whose mapped gallery
    // slot has one; each limit is the smaller of the two. The slots of a kind are walked from
    // the last one down to the first that has a link.
    const std::int32_t* map = TransitionMatrix[t];
    const int slotsG = NcSlots(*linkG);
    const auto last = [](std::uint64_t kind, auto hasLink) {
        for (std::uint64_t s = kind; s != 0;) {
            const int k = NcHighestSlot(s);
            if (hasLink(k)) {
                return k;
            }
            s &= ~(std::uint64_t{1} << k);
        }
        return 0;
    };
    const auto probe = [linkP](int k) { return linkP->slot[k].code != 0; };
    const auto gallery = [map, slotsG, linkG](int k) {
        const int gs = map[k];
        return gs >= 0 && gs < slotsG && (linkG->slot[gs].code & 15) != 0;
    };
    const std::uint64_t rightSlots = NC_RIGHT_SLOTS[type & 1u];
    const std::uint64_t used = ((std::uint64_t{1} << slots) - 1) & ~std::uint64_t{1};
    const int rightP = last(rightSlots & used, probe);
    if (rightP != 0) {
        const int rightG = last(rightSlots & used, gallery);
        right = rightP < rightG ? rightP : rightG;
    }
    const int leftP = last(~rightSlots & used, probe);
    if (leftP != 0) {
        const int leftG = last(~rightSlots & used, gallery);
        left = leftP < leftG ? leftP : leftG;
    }
}

void Matcher100::makeFinalPartners()
{
    // (The partners are filled four at a time, the last block reaching into the spare entry.)
    ZF_ASSERT(m_curGroup);
    const GroupEx& group = *m_curGroup;
    FinalPartners& fp = m_finalPartners;
    const std::uint32_t numPairs = group.getNumItems();
    ZF_ASSERT(numPairs <= static_cast<std::uint32_t>(GROUP_CAPACITY));
    static_assert((MAX_NESTS + 1) % 4 == 0, "partner blocks of four");
    const std::uint64_t noPartners = 0xFFFEFFFEFFFEFFFEu; // four entries of -2
    for (int i = 0; i < m_numNestP; i += 4) {
        std::memcpy(fp.partnerOfP + i, &noPartners, sizeof noPartners);
    }
    std::fill_n(fp.inGroupG, m_numNestG, static_cast<std::uint8_t>(0));
    for (std::uint32_t k = 0; k < numPairs; ++k) {
        const PairEx2& pair = group.getPair(k);
        if (pair.np >= 0 && pair.np < m_numNestP && fp.partnerOfP[pair.np] == -2) {
            fp.partnerOfP[pair.np] = pair.ng;
        }
        if (pair.ng >= 0 && pair.ng < m_numNestG) {
            fp.inGroupG[pair.ng] = 1;
        }
    }
}

void Matcher100::compNestsFinal(short np, short ng, Transition t, int /*unused*/)
{
    makeFinalPartners();
    compNestsFinalMade(np, ng, t);
}

void Matcher100::compNestsFinalMade(short np, short ng, Transition t)
{
    // 1. Empty scratch group and marks; the slot limits of both sides.
    ZF_ASSERT(t >= 0 && t < TL_3);
    ZF_ASSERT(m_curGroup);
    HitGroup& g = m_scratchHit;
    g.m_numItems = 0;
    g.m_sim = 0;
    g.m_transition = t;
    // The marks are all clear between comparisons: the minutiae marked here are listed, and
    // their marks cleared at the end.
    NotHit* notHitP = m_notHitP;
    NotHit* notHitG = m_notHitG;
    NestMarks marked;
    marked.count[0] = 0;
    marked.count[1] = 0;
    const ESK::Link& linkP = m_linksP[np];
    const ESK::Link& linkG = m_linksG[ng];
    const int typeP = NcType(m_minutiaeP[np]);
    const int typeG = NcType(m_minutiaeG[ng]);
    int right = 0;
    int left = 0;
    getMaxRightAndLeftLink(static_cast<std::uint8_t>(typeP), &linkP, &linkG, t, right, left);
    const GroupEx& group = *m_curGroup;
    // The group's partner of each probe minutia and the gallery minutiae it holds, from the
    // tables made for the current group.
    const FinalPartners& fp = m_finalPartners;
    const std::int16_t* partnerOfP = fp.partnerOfP;
    const std::uint8_t* inGroupG = fp.inGroupG;

    // 2. Slots within the limits (a right-hand slot up to right, the others up to left) that
    // map to a gallery slot.
    const std::uint64_t rightSlots = NC_RIGHT_SLOTS[static_cast<std::size_t>(typeP)];
    std::uint64_t open = (rightSlots & ((std::uint64_t{2} << right) - 1)) |
                         (~rightSlots & ((std::uint64_t{2} << left) - 1));
    open &= (std::uint64_t{1} << NcSlots(linkP)) - 1;
    const int slotsG = NcSlots(linkG);
    for (; open != 0; open &= open - 1) {
        const int k = __builtin_ctzll(open);
        const int gs = TransitionMatrix[t][k];
        if (gs < 0) {
            continue;
        }
        const int codeP = linkP.slot[k].code & 15;
        const int codeG = gs < slotsG ? linkG.slot[gs].code & 15 : 0;
        if (codeP == 0 && codeG == 0) {
            continue;
        }
        // 3. Probe neighbour outside the group: unexplained.
        const int nP = linkP.slot[k].neighbour;
        int partner = -2;
        if (codeP != 0) {
            if (nP == np || nP >= m_numNestP) {
                continue;
            }
            partner = partnerOfP[nP];
            if (partner == -2) {
                if (m_excludeP[nP] == 0) {
                    notHitP[nP] =
                        NotHit{1, static_cast<std::uint8_t>(slotSameDir(typeP, k, codeP))};
                    marked.index[0][marked.count[0]++] = static_cast<std::uint8_t>(nP);
                }
                continue;
            }
        }
        // 4. Gallery neighbour outside the group: unexplained; inside it, it must be the
        // probe neighbour's partner.
        if (codeG == 0) {
            continue;
        }
        const int nG = linkG.slot[gs].neighbour;
        if (nG == ng || nG >= m_numNestG) {
            continue;
        }
        if (inGroupG[nG] == 0) {
            if (m_excludeG[nG] == 0) {
                notHitG[nG] = NotHit{1, static_cast<std::uint8_t>(slotSameDir(typeG, gs, codeG))};
                marked.index[1][marked.count[1]++] = static_cast<std::uint8_t>(nG);
            }
            continue;
        }
        if (codeP == 0 || partner != nG) {
            continue;
        }
        bool present = false;
        for (int i = 0; i < g.m_numItems; ++i) {
            if (g.m_items[i].nP == nP && g.m_items[i].nG == nG) {
                present = true;
                break;
            }
        }
        if (present) {
            continue;
        }
        // 5. The link pair with its differences, none of them refusing it.
        const Transition lt = T2T[codeP][codeG];
        if (lt > MPT) {
            continue;
        }
        short minAngleDif = 0;
        checkMinAngles(m_minutiaeP[nP].angle, m_minutiaeG[nG].angle, group.m_rotation, m_wideP[nP],
                       m_wideG[nG] != 0, LINK_ANGLE_TOL, LINK_ANGLE_TOL, &minAngleDif);
        const int lP = m_pairSetP.getLen(np, nP);
        const int lG = m_pairSetG.getLen(ng, nG);
        const int dif = std::abs(lP - lG);
        const int larger = lP > lG ? lP : lG;
        short distDif = 0;
        if (dif <= distTol(m_errorLevel, lP < lG ? lP : lG) && larger != 0) {
            distDif = static_cast<short>(dif * 256 / larger);
        }
        const auto angleDif =
            static_cast<short>(NcAngle1(*this, nP, np, nG, ng) * 256 / LINK_ANGLE_TOL);
        g.add(static_cast<short>(nP), static_cast<short>(nG), lt, distDif, minAngleDif, angleDif);
    }
    // 6. The similarity: excluded minutiae were never marked (a mark of the final rules is
    // cleared for them), hit neighbours are no longer unexplained.
    clearNotHitGroup(g, notHitP, notHitG, false);
    calcNestSimOfMarks(np, ng, g, marked, notHitP, notHitG, true);
    for (int k = 0; k < marked.count[0]; ++k) {
        notHitP[marked.index[0][k]] = NotHit{0, 0};
    }
    for (int k = 0; k < marked.count[1]; ++k) {
        notHitG[marked.index[1][k]] = NotHit{0, 0};
    }
}

HitGroup* HitGroupStore::takeMovingOn(unsigned count)
{
    ZF_ASSERT(count <= MAX_NESTS);
    // A block is made sure of when its first entry is taken: the others lie in it.
    // 1. The group.
    if (m_groupsUsed == GROUPS_PER_BLOCK) {
        ++m_groupBlock;
        m_groupsUsed = 0;
    }
    if (m_groupsUsed == 0) {
        NcEnsureBlock(m_groups, m_groupBlock, GROUPS_PER_BLOCK);
    }
    m_groupAt = m_groups[m_groupBlock].get();
    HitGroup* g = m_groupAt + m_groupsUsed++;
    // 2. Its items, never split between blocks.
    if (m_itemsUsed + count > ITEMS_PER_BLOCK) {
        ++m_itemBlock;
        m_itemsUsed = 0;
    }
    if (m_itemsUsed == 0) {
        NcEnsureBlock(m_items, m_itemBlock, ITEMS_PER_BLOCK);
    }
    m_itemAt = m_items[m_itemBlock].get();
    return place(g, count);
}

// Inline in getNestCompareResult and compareBestNests.
[[gnu::always_inline]] inline void Matcher100::compareCell(int np, int ng, NestCompareResult& cell,
                                                           std::uint32_t open)
{
    if (cell.rotation == 0) {
        const int rotation = nestRotation(np, ng);
        if (rotation != 0) {
            touchNestCompareCell(np, ng);
        }
        cell.rotation = static_cast<std::int16_t>(rotation);
    }
    // In increasing order.
    for (; open != 0; open &= open - 1) {
        const Transition t = __builtin_ctz(open);
        if (t < NUM_CACHED_TRANSITIONS) {
            if (cell.groups[t] == nullptr) {
                compNestsAlt(static_cast<short>(np), static_cast<short>(ng), t, cell.rotation);
                touchNestCompareCell(np, ng);
                NcSaveResult(*this, cell, t);
            }
        } else {
            compNestsAlt(static_cast<short>(np), static_cast<short>(ng), t, cell.rotation);
        }
    }
}

NestCompareResult* Matcher100::getNestCompareResult(int np, int ng, Transition maxT,
                                                    unsigned short& bestSim)
{
    ZF_ASSERT(np >= 0 && np < m_numNestP && ng >= 0 && ng < m_numNestG);
    ZF_ASSERT(maxT < TL_3);
    NestCompareResult& cell = m_nestCompare[np][ng];
    // The open transitions up to maxT.
    const std::uint32_t open =
        maxT < 0 ? 0u
                 : NcOpenTransitions(NcType(m_minutiaeP[np]), NcType(m_minutiaeG[ng])) &
                       ((2u << maxT) - 1u);
    compareCell(np, ng, cell, open);
    bestSim = cell.bestSim;
    return &cell;
}

HitGroup* Matcher100::getNestCompareResult(int np, int ng, Transition t, short& transitionDif)
{
    ZF_ASSERT(np >= 0 && np < m_numNestP && ng >= 0 && ng < m_numNestG);
    ZF_ASSERT(t >= 0 && t <= MPT);
    unsigned short best = 0;
    transitionDif = 0;
    if (t < NUM_CACHED_TRANSITIONS) {
        // Mostly the pair was compared under t before: a group is cached only for a transition
        // open to the pair, and its rotation was worked out then.
        HitGroup* cached = m_nestCompare[np][ng].groups[t];
        if (cached != nullptr) {
            return cached;
        }
    }
    if (t < TL_3) {
        NestCompareResult& cell = m_nestCompare[np][ng];
        if (cell.rotation == 0) {
            const int rotation = nestRotation(np, ng);
            if (rotation != 0) {
                touchNestCompareCell(np, ng);
            }
            cell.rotation = static_cast<std::int16_t>(rotation);
        }
        if (!NcTransitionOpen(*this, np, ng, t)) {
            return nullptr;
        }
        if (t >= NUM_CACHED_TRANSITIONS) {
            compNestsAlt(static_cast<short>(np), static_cast<short>(ng), t, cell.rotation);
            return &m_scratchHit;
        }
        if (cell.groups[t] == nullptr) {
            compNestsAlt(static_cast<short>(np), static_cast<short>(ng), t, cell.rotation);
            touchNestCompareCell(np, ng);
            NcSaveResult(*this, cell, t);
        }
        return cell.groups[t];
    }
    NestCompareResult* cell = getNestCompareResult(np, ng, NUM_CACHED_TRANSITIONS - 1, best);
    const Transition b = cell->bestTransition;
    if (b == TR_NONE) {
        transitionDif = static_cast<short>(transitionClass(t) + 1);
        return nullptr;
    }
    transitionDif = static_cast<short>(transitionClass(t) - transitionClass(b));
    return b < NUM_CACHED_TRANSITIONS ? cell->groups[b] : nullptr;
}

int Matcher100::getTransitionDif(int np, int ng, Transition& t, Transition /*limit*/,
                                 unsigned short& sim)
{
    sim = 0;
    short dif = 0;
    const HitGroup* g = getNestCompareResult(np, ng, t, dif);
    if (g != nullptr) {
        sim = g->m_sim;
    }
    return dif;
}

int Matcher100::compareSuitableAccelerators(int np, int ng)
{
    const int rotation = nestRotation(np, ng);
    const bool wide = m_wideP[np] != 0 ? true : m_wideG[ng] != 0;
    std::memset(m_accelHistogram, 0, sizeof m_accelHistogram);
    int n = 0;
    for (int i = 0; i < m_numNestP; ++i) {
        for (int j = 0; j < m_numNestG; ++j) {
            if (!isCompatibleWitchCentralPoint(np, ng, i, j, rotation, wide)) {
                continue;
            }
            const unsigned s = compNestAccel(m_accelP[i], m_accelG[j]);
            ZF_ASSERT(s <= MAX_NEST_ACCEL_SIM);
            m_accelSim[i][j] = static_cast<std::uint8_t>(s);
            ++m_accelHistogram[s];
            ++n;
        }
    }
    return n;
}

std::uint8_t Matcher100::getSimThreshold(int minCount, const std::uint32_t* histogram) const
{
    std::int64_t sum = 0;
    for (int s = MAX_NEST_ACCEL_SIM; s >= 0; --s) {
        sum += histogram[s];
        if (sum >= minCount) {
            return static_cast<std::uint8_t>(s);
        }
    }
    return 0;
}

void Matcher100::compareBestNests(std::uint8_t threshold)
{
    ZF_ASSERT(m_transitionLimit < TL_3);
    m_numBestNests = 0;
    // getNestCompareResult up to the transition limit, with what a row shares read once: the
    // row of cells, and the open transitions of the probe nest's type against each gallery
    // type.
    const std::uint32_t upToLimit = m_transitionLimit < 0 ? 0u : (2u << m_transitionLimit) - 1u;
    const int numG = m_numNestG;
    for (int np = 0; np < m_numNestP; ++np) {
        const std::uint8_t* row = m_accelSim[np];
        NestCompareResult* cells = m_nestCompare[np];
        const int typeP = NcType(m_minutiaeP[np]);
        const std::uint32_t open[2] = {NcOpenTransitions(typeP, 0) & upToLimit,
                                       NcOpenTransitions(typeP, 1) & upToLimit};
        const auto compare = [&](int ng) __attribute__((always_inline))
        {
            NestCompareResult& cell = cells[ng];
            compareCell(np, ng, cell, open[NcType(m_minutiaeG[ng])]);
            const unsigned short best = cell.bestSim;
            if (best > m_speedRow[3]) {
                m_bestNests[m_numBestNests++] =
                    BestNest{static_cast<std::uint8_t>(np), static_cast<std::uint8_t>(ng), best};
            }
        };
        // The pairs whose signature similarity reaches the threshold, in order; the
        // comparisons leave the similarities as they are.
        int ng = 0;
#if defined(__SSE2__)
        const __m128i least = _mm_set1_epi8(static_cast<char>(threshold));
        // The similarities of 16 pairs from `at` a step, those of the lanes set in `lanes`.
        const auto block = [&](int at, unsigned lanes) __attribute__((always_inline))
        {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at));
            auto reached =
                lanes &
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, least), v)));
            for (; reached != 0; reached &= reached - 1) {
                compare(at + __builtin_ctz(reached));
            }
        };
        for (; ng + 16 <= numG; ng += 16) {
            block(ng, 0xFFFFu);
        }
        // The rest by one more step where it stays within the row (every entry of a row is
        // set), the lanes past the last pair left out.
        if (ng < numG && ng + 16 <= MAX_NESTS) {
            block(ng, (1u << (numG - ng)) - 1);
            ng = numG;
        }
#endif
        for (; ng < numG; ++ng) {
            if (row[ng] >= threshold) {
                compare(ng);
            }
        }
    }
    NcSortBySim(m_bestNests, m_numBestNests);
}

void Matcher100::compareNestsFromAccelMatch(const std::uint8_t* npList, const std::uint8_t* ngList,
                                            std::uint8_t n)
{
    m_numBestNests = 0;
    for (int k = 0; k < n; ++k) {
        const int np = npList[k];
        const int ng = ngList[k];
        // A pair naming a minutia this load does not keep has nothing to compare.
        if (np >= m_numNestP || ng >= m_numNestG) {
            continue;
        }
        unsigned short best = 0;
        getNestCompareResult(np, ng, m_transitionLimit, best);
        m_bestNests[m_numBestNests++] = BestNest{npList[k], ngList[k], best};
    }
    NcSortBySim(m_bestNests, m_numBestNests);
}

unsigned Matcher100::buildVirtualGroup(short np, short ng)
{
    m_numVirtGroup = 0;
    const NestCompareResult& cell = m_nestCompare[np][ng];
    const Transition b = cell.bestTransition;
    if (b >= 0 && b < NUM_CACHED_TRANSITIONS && cell.groups[b] != nullptr) {
        return cell.groups[b]->m_numItems + 1u;
    }
    return 0;
}

void Matcher100::chooseBestNests(unsigned n, unsigned minSize)
{
    m_nestVirtSizeSet.m_numItems = 0;
    const unsigned count = n < m_numBestNests ? n : m_numBestNests;
    for (unsigned k = 0; k < count; ++k) {
        const BestNest& b = m_bestNests[k];
        const unsigned size = buildVirtualGroup(b.np, b.ng);
        if (size < minSize) {
            continue;
        }
        ZF_ASSERT(m_nestVirtSizeSet.m_numItems < MAX_NEST_VIRT_SIZE_SET);
        m_nestVirtSizeSet.items[m_nestVirtSizeSet.m_numItems++] =
            NestVirtSize{b.np, b.ng, static_cast<std::uint8_t>(size)};
    }
    NcSortBySize(m_nestVirtSizeSet.items, m_nestVirtSizeSet.m_numItems);
}

int Matcher100::getQuadrant(int /*unused*/, const ESK::Lot<short>* minutia, const ESK::Link* links,
                            int neighbour, bool& /*unusedFlag*/, int& ridgeCount,
                            Transition /*t*/) const
{
    const int type = minutia->type == 1 ? 1 : 0;
    int quadrant = -1;
    const int slots = NcSlots(*links);
    for (int k = 0; k < slots; ++k) {
        const ESK::LinkSlot& slot = links->slot[k];
        if (slot.code == 0 || slot.neighbour != neighbour) {
            continue;
        }
        int rc = 0;
        if (!correctedRidgeCount(type, k, slot.code, rc)) {
            continue;
        }
        ridgeCount = rc;
        const int q = Quadrant[type][k];
        if (quadrant >= 0 && quadrant != q) {
            return -1;
        }
        quadrant = q;
    }
    return quadrant;
}

bool Matcher100::isPairsCompatible(int np0, int ng0, int np, int ng, int rotation, bool wide)
{
    int d = 0;
    if (!centralPairDirection(np0, ng0, np, ng, rotation, d)) {
        return false;
    }
    if (d == CENTRAL_SHORT) {
        return true;
    }
    if (std::abs(d) > (wide ? 50 : 35)) {
        return false;
    }
    return checkMinAngles(m_minutiaeP[np].angle, m_minutiaeG[ng].angle, rotation, 25, nullptr);
}

bool Matcher100::isCompatibleWitchCentralPoint(int np0, int ng0, int np, int ng, int rotation,
                                               bool wide)
{
    int d = 0;
    if (!centralPairDirection(np0, ng0, np, ng, rotation, d)) {
        return false;
    }
    if (d == CENTRAL_SHORT) {
        return true;
    }
    if (std::abs(d) > (wide ? 4 : 2) * m_dirTolBase) {
        return false;
    }
    const bool anyWide = wide || m_wideP[np] != 0 || m_wideG[ng] != 0;
    return checkMinAngles(m_minutiaeP[np].angle, m_minutiaeG[ng].angle, rotation, anyWide ? 75 : 35,
                          nullptr);
}

bool Matcher100::centralPairDirection(int np0, int ng0, int np, int ng, int rotation, int& d)
{
    // 1. Distances to the central pair.
    const int lP = np == np0 ? 0 : m_pairSetP.getLen(np, np0);
    const int lG = ng == ng0 ? 0 : m_pairSetG.getLen(ng, ng0);
    const int m = lP < lG ? lP : lG;
    if (std::abs(lP - lG) > distTol(m_errorLevel, m)) {
        return false;
    }
    // 2. Too close for a direction.
    if (m <= 2 * m_distUnit) {
        d = CENTRAL_SHORT;
        return true;
    }
    // 3. Directions from the candidate to the central minutia.
    d = wrap180(m_pairSetP.getAngle(np0, np) - m_pairSetG.getAngle(ng0, ng) - rotation);
    return true;
}

} // namespace accelMatch
