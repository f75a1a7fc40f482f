// Driver of a finger comparison: the per-match reset, the speed rows that set every budget,
// the selection of the best nest pairs, and the two search branches that seed kernel groups,
// grow them and keep the best-scoring group in the result. Thrown int codes are returned as
// they are; any other exception gives MA_ERR_EXCEPTION.

#include "matching/Matcher100.h"
#include "matching/SearchHelpers.h"

#include <algorithm>
#include <cstring>

namespace accelMatch {

// clang-format off
const int g_k_speed[4][20] = {
    // p0  p1   p2  p3   p4   p5 p6 p7 p8 p9  p10 p11 p12 p13  p14  p15 p16 p17 p18 p19
    {   0, 25,  32,  0, 100,  20, 3, 3, 4, 3,  40,  2, 90, 20, 100, 160,  6, 12,  1,  0},
    {  10, 10, 120, 10, 100, 100, 5, 3, 6, 5, 100,  0,  0,  0,   0,   0,  0,  0,  0,  0},
    {  15,  8, 120, 10, 100, 100, 5, 3, 6, 5, 100,  0,  0,  0,   0,   0,  0,  0,  0,  0},
    {  10, 10, 120, 10, 100, 100, 5, 3, 6, 5, 100,  0,  0,  0,   0,   0,  0,  0,  0,  0},
};

const int g_k_speed_latent[4][20] = {
    {   2, 20, 160,  0, 100,   6, 3, 3, 5, 3,  40,  3, 90, 20, 100, 160,  6,  3,  1,  0},
    {}, {}, {},
};
// clang-format on

namespace {

constexpr std::size_t PREFIX_SIZE = 21;
constexpr int STOP_SCORE = 9999;
constexpr unsigned STOP_PAIRS = 32;

unsigned minUnsigned(int a, int b)
{
    return std::min(static_cast<unsigned>(a), static_cast<unsigned>(b));
}

// A kernel group of `count` pairs is grown only when it holds at least p8 pairs and at least
// p10 percent of the pairs of the result found so far.
bool worthGrowing(unsigned count, const int* p, const MatchResult& r)
{
    return count >= static_cast<unsigned>(p[8]) &&
           count >= r.numPairs * static_cast<unsigned>(p[10]) / 100;
}

} // namespace

int Matcher100::match(MatchResult& r, int maxAngle, int speed, bool accelMode,
                      unsigned char* accelP, unsigned char* accelG, unsigned char numAccel,
                      bool quick)
{
    try {
        // 1. and 2. Mode and parameters; a latent side may widen the rotation limit.
        const bool listMode = accelMode && numAccel >= 2;
        const bool quickList = listMode && quick;
        setParameters(maxAngle, speed);
        if (m_typeP == FP_LATENT) {
            m_maxAngle = std::max<int>(m_maxAngle, m_unwrap->passan(m_recordP + PREFIX_SIZE));
        }
        if (m_typeG == FP_LATENT) {
            m_maxAngle = std::max<int>(m_maxAngle, m_unwrap->passan(m_recordG + PREFIX_SIZE));
        }
        // 3. and 4. Clean state and the tolerances of the match.
        initNewMatch(r);
        if (accelMode && (accelP == nullptr || accelG == nullptr)) {
            return MA_ERR_NULL;
        }
        m_minAngleTol = 50;
        m_minAngleTolWide = 75;
        m_dirTolBase = 25;
        for (int k = 0; k < NUM_GROUPS; ++k) {
            bindGroup(&m_kernelGroups[k]);
            bindGroup(&m_expandGroups[k]);
        }
        setDistErrorLevel(2);
        m_transitionLimit = 4;
        m_quadrantLimit = isLatent() ? 32 : 16;
        const int* p = m_speedRow;
        // 5. and 6. Nest signatures, then the full comparison of the best nest pairs.
        if (listMode) {
            std::uint8_t listP[MAX_NESTS];
            std::uint8_t listG[MAX_NESTS];
            std::uint8_t n = 0;
            for (unsigned k = 0; k < numAccel; ++k) {
                if (accelP[k] < m_numNestP && accelG[k] < m_numNestG) {
                    listP[n] = accelP[k];
                    listG[n] = accelG[k];
                    ++n;
                }
            }
            compareNestsFromAccelMatch(listP, listG, n);
        } else {
            int s = 0;
            unsigned pct = 0;
            unsigned cap = 0;
            if (accelMode) {
                if (accelP[0] >= m_numNestP || accelG[0] >= m_numNestG) {
                    return 0; // no such central pair: nothing matches
                }
                setDistErrorLevel(5);
                s = compareSuitableAccelerators(accelP[0], accelG[0]);
                pct = static_cast<unsigned>(p[14]);
                cap = static_cast<unsigned>(p[15]);
            } else {
                s = compareAllNestAccel();
                pct = static_cast<unsigned>(p[1]);
                cap = static_cast<unsigned>(p[2]);
            }
            const unsigned n = std::min(pct * static_cast<unsigned>(s) / 100, cap);
            std::uint8_t threshold = getSimThreshold(static_cast<int>(n), m_accelHistogram);
            if (threshold < p[0]) {
                threshold = static_cast<std::uint8_t>(p[0]);
            }
            if (threshold == 0) {
                threshold = 1;
            }
            setDistErrorLevel(4);
            compareBestNests(threshold);
        }
        // 7. The best nests that seed kernel groups.
        unsigned k = m_numBestNests * static_cast<unsigned>(p[4]) / 100;
        k = std::min(k, m_numBestNests);
        k = std::min(k, static_cast<unsigned>(accelMode && numAccel == 1 ? p[16] : p[5]));
        setDistErrorLevel(isLatent() ? 3 : 0);
        chooseBestNests(k, static_cast<unsigned>(p[6]));
        // 8. to 10. Both branches start from the same seeds.
        const NestVirtSizeSet saved = m_nestVirtSizeSet;
        const CalcScoreTypeEnum type1 =
            quickList ? CS_BRANCH1_LIST_QUICK : (listMode ? CS_BRANCH1_LIST : CS_BRANCH1);
        if (matchBranch1(r, type1) || quickList) {
            return 0;
        }
        m_nestVirtSizeSet = saved;
        matchBranch2(r, listMode ? CS_BRANCH2_LIST : CS_BRANCH2);
        return 0;
    } catch (int code) {
        return code;
    } catch (...) {
        return MA_ERR_EXCEPTION;
    }
}

void Matcher100::initNewMatch(MatchResult& r)
{
    // 1. Empty result.
    std::memset(&r, 0, sizeof r);
    // 2. Groups pointed at the current sides.
    for (int k = 0; k < NUM_GROUPS; ++k) {
        for (GroupEx* g : {&m_kernelGroups[k], &m_expandGroups[k]}) {
            g->reset();
            bindGroup(g);
        }
        m_kernelRank[k] = &m_kernelGroups[k];
        m_expandRank[k] = &m_expandGroups[k];
    }
    m_curGroup = &m_kernelGroups[0];
    // 3. The nest comparison cache and the signature similarities of the loaded sides.
    if (m_numNestP > 0) {
        clearNestCompareCells(m_numNestP, m_numNestG);
    }
    // 4. The speed row of the match.
    const int row = m_speed < 0 ? 0 : (m_speed > 3 ? 3 : m_speed);
    std::memcpy(m_speedRow, isLatent() ? g_k_speed_latent[row] : g_k_speed[row], sizeof m_speedRow);
    m_speedRow[11] = static_cast<int>(minUnsigned(m_speedRow[11], NUM_GROUPS));
    m_speedRow[13] = static_cast<int>(minUnsigned(m_speedRow[13], NUM_GROUPS));
    m_speedRow[5] = static_cast<int>(minUnsigned(m_speedRow[5], MAX_NEST_VIRT_SIZE_SET));
    // 5. Small prints: more nest pairs, smaller kernels.
    const int m = std::min(m_numNestP, m_numNestG);
    int& p1 = m_speedRow[1];
    int& p8 = m_speedRow[8];
    if (m < 15) {
        p1 *= 2;
        p8 >>= 1;
    } else if (m < 20) {
        p1 = static_cast<int>(p1 * 1.2);
        p8 = static_cast<int>(p8 / 1.2);
    }
    p1 = std::min(p1, 100);
    if (p8 <= 2) {
        p8 = 3;
    }
    // Area window sums are checked against the masks of this match.
    m_areaSumsP.checked = false;
    m_areaSumsG.checked = false;
    m_windowMarksKept = false;
    m_numCompatPairs = 0;
    m_compatLastNp = -1;
    std::memset(m_compatHas, 0, sizeof m_compatHas);
    std::memset(m_inGroupP, 0, sizeof m_inGroupP);
    std::memset(m_inGroupG, 0, sizeof m_inGroupG);
    std::memset(m_strongExcludeP, 0, sizeof m_strongExcludeP);
    std::memset(m_strongExcludeG, 0, sizeof m_strongExcludeG);
    std::memset(m_excludeP, 0, sizeof m_excludeP);
    std::memset(m_excludeG, 0, sizeof m_excludeG);
}

bool Matcher100::matchBranch1(MatchResult& r, CalcScoreTypeEnum type)
{
    const int* p = m_speedRow;
    // 1. and 2. Kernel groups around the best seeds.
    m_quadrantLimit = 32;
    m_transitionLimit = 8;
    m_quadrantCheck = false;
    m_replacement = false;
    const bool quick = type == CS_BRANCH1_LIST_QUICK;
    buildKernelGroups(1, static_cast<unsigned>(p[11]), quick);
    // 3. and 4. Each worth trying is grown geometrically and scored.
    m_transitionLimit = 24;
    m_quadrantCheck = true;
    const unsigned ranked = quick ? 1 : minUnsigned(p[11], NUM_GROUPS);
    const unsigned tries = std::min(minUnsigned(p[11], p[18]), ranked);
    for (unsigned k = 0; k < tries; ++k) {
        m_curGroup = m_kernelRank[k];
        const unsigned count = m_curGroup->getNumItems();
        if (!worthGrowing(count, p, r)) {
            continue;
        }
        m_transitionLimit = 24;
        setDistErrorLevel(1);
        m_curGroup->m_baseSize = count;
        if (expandCurGroupByGeometry(quick) && saveMatchResult(r, type)) {
            return true;
        }
    }
    return false;
}

bool Matcher100::matchBranch2(MatchResult& r, CalcScoreTypeEnum type)
{
    const int* p = m_speedRow;
    const bool latent = isLatent();
    // 1. Limits of the branch.
    setDistErrorLevel(latent ? 3 : 0);
    m_transitionLimit = latent ? 8 : 4;
    m_quadrantLimit = latent ? 32 : 16;
    // 2. Kernel groups flooded from the seeds, united where they agree.
    m_quadrantCheck = false;
    m_replacement = false;
    buildKernelGroups(2, static_cast<unsigned>(p[17]), false);
    m_quadrantCheck = true;
    m_replacement = true;
    uniteKernelGroups(static_cast<unsigned>(p[17]));
    m_replacement = false;
    m_transitionLimit = latent ? 24 : 4;
    // 3. Each worth trying is grown along links, through conflict positions, geometrically,
    //    and scored.
    const unsigned tries = std::min(minUnsigned(p[17], p[7]), static_cast<unsigned>(NUM_GROUPS));
    for (unsigned k = 0; k < tries; ++k) {
        m_curGroup = m_kernelRank[k];
        const unsigned count = m_curGroup->getNumItems();
        if (!worthGrowing(count, p, r)) {
            continue;
        }
        setDistErrorLevel(latent ? 3 : 0);
        expandGroupByTopology(m_curGroup, 0);
        expandCurGroupByTopologyAlt();
        m_curGroup->m_baseSize = m_curGroup->getNumItems();
        m_quadrantCheck = true;
        setDistErrorLevel(latent ? 1 : 0);
        m_transitionLimit = latent ? 24 : 8;
        m_quadrantLimit = 32;
        if (expandCurGroupByGeometry(false) && saveMatchResult(r, type)) {
            return true;
        }
    }
    return false;
}

bool Matcher100::saveMatchResult(MatchResult& r, CalcScoreTypeEnum type)
{
    // 1. Only a better score is kept.
    const int s = calcScore(type);
    if (s <= r.score) {
        return false;
    }
    // 2. The group's pairs and alignment.
    const GroupEx& g = *m_curGroup;
    const unsigned n = std::min<unsigned>(g.getNumItems(), MAX_MATCH_PAIRS);
    for (unsigned k = 0; k < n; ++k) {
        r.pairs[k].np = static_cast<std::uint16_t>(g.getPair(k).np);
        r.pairs[k].ng = static_cast<std::uint16_t>(g.getPair(k).ng);
    }
    r.score = s;
    r.numPairs = n;
    r.centerPX = g.m_centrePX;
    r.centerPY = g.m_centrePY;
    r.centerGX = g.m_centreGX;
    r.centerGY = g.m_centreGY;
    r.rotation = -g.m_rotation;
    // 3. The stop rule.
    return s > STOP_SCORE || n > STOP_PAIRS;
}

} // namespace accelMatch
