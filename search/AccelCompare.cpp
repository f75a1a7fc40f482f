// Comparison of one probe finger block with one gallery finger block: nest signatures that
// agree in enough cells give main pairs, each main pair seeds a group that grows through the
// nests' links, groups merge, and the best of at most five groups gives the finger score
// 0..10000. Works in the slot's preallocated groups; allocates nothing.

#include "matching/MatchMath.h"
#include "search/AccelLib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace accelMatch {
namespace {

constexpr int MAX_MAIN_PAIRS = 40;
constexpr int MAX_SCORED_GROUPS = 5;

inline int AcDirUnits(const MinutiaeData& a, int cx, int cy)
{
    return atan(a.x - cx, a.y - cy) / 4;
}

// Usable class of a block: 0..3 by steps of 20.
unsigned AcUsableClass(unsigned u)
{
    return u < 20 ? 0 : (u < 40 ? 1 : (u < 60 ? 2 : 3));
}

unsigned AcNestLimit(const std::uint32_t* row, unsigned n, unsigned nn, unsigned u)
{
    const unsigned c = AcUsableClass(u);
    const unsigned byFactor =
        static_cast<unsigned>((static_cast<std::uint64_t>(row[5 + c]) * n) >> 16);
    return std::min(std::min(byFactor, static_cast<unsigned>(row[1 + c])), nn);
}

unsigned AcSeedSize(const std::uint32_t* row, unsigned m, unsigned u)
{
    auto at = [&](int c) { return m > row[c] && u >= row[c + 1]; };
    if (at(9) || at(11)) {
        return 7;
    }
    if (at(13) || at(15)) {
        return 6;
    }
    if (at(17) || at(19) || at(21)) {
        return 5;
    }
    return at(23) ? 4 : 3;
}

unsigned AcFinalSize(const std::uint32_t* row, unsigned m, unsigned u)
{
    unsigned g = 13;
    for (int c = 30; c >= 25; --c) {
        if (u < row[c]) {
            g = static_cast<unsigned>(c - 18);
        }
    }
    unsigned t = m / 4;
    if (t >= g) {
        if (u < row[52] && m <= row[53]) {
            g = 5;
        }
    } else {
        if (u <= row[51]) {
            t = (t - 1) & 0xFFu;
        }
        g = ((u >= row[52] || m > row[53]) && t > 4) ? t : 5;
    }
    return g;
}

} // namespace

AccelPair::~AccelPair()
{
    delete[] p;
    delete[] g;
}

bool AccelPair::alloc()
{
    delete[] p;
    delete[] g;
    p = new (std::nothrow) std::uint16_t[ACCEL_PAIRS]();
    g = new (std::nothrow) std::uint16_t[ACCEL_PAIRS]();
    capacity = ACCEL_PAIRS;
    return p != nullptr && g != nullptr;
}

void AccelPair::clear()
{
    count = 0;
    live = 0;
    largeRotation = 0;
    rotation = 0;
    pcx = pcy = gcx = gcy = 0;
    recalcLive = 0;
}

void AccelPair::add(int pi, int gi)
{
    if (count >= capacity) {
        return;
    }
    p[count] = static_cast<std::uint16_t>(pi);
    g[count] = static_cast<std::uint16_t>(gi);
    ++count;
    ++live;
}

void AccelPair::seed(int pi, int gi)
{
    clear();
    add(pi, gi);
    int r = (gallery[gi].angle - probe[pi].angle) % ACCEL_ANGLES;
    rotation = r < 0 ? r + ACCEL_ANGLES : r;
    largeRotation = (rotation >= 23 && rotation <= 67) ? 1 : 0;
    pcx = probe[pi].x;
    pcy = probe[pi].y;
    gcx = gallery[gi].x;
    gcy = gallery[gi].y;
}

bool AccelPair::hasProbe(int pi) const
{
    for (unsigned s = 0; s < count; ++s) {
        if (p[s] == pi) {
            return true;
        }
    }
    return false;
}

bool AccelPair::hasGallery(int gi) const
{
    for (unsigned s = 0; s < count; ++s) {
        if (g[s] == gi) {
            return true;
        }
    }
    return false;
}

void AccelPair::copyTo(AccelPair& out) const
{
    out.count = std::min(count, out.capacity);
    out.live = live;
    out.largeRotation = largeRotation;
    out.rotation = rotation;
    out.pcx = pcx;
    out.pcy = pcy;
    out.gcx = gcx;
    out.gcy = gcy;
    out.recalcLive = recalcLive;
    out.probe = probe;
    out.gallery = gallery;
    out.nProbe = nProbe;
    out.nGallery = nGallery;
    out.tables = tables;
    out.tol = tol;
    std::memcpy(out.p, p, out.count * sizeof(std::uint16_t));
    std::memcpy(out.g, g, out.count * sizeof(std::uint16_t));
}

void AccelPair::recalcData()
{
    // 1. Centres.
    if (count == 0) {
        pcx = pcy = gcx = gcy = 0;
        return;
    }
    long long spx = 0;
    long long spy = 0;
    long long sgx = 0;
    long long sgy = 0;
    for (unsigned s = 0; s < count; ++s) {
        spx += probe[p[s]].x;
        spy += probe[p[s]].y;
        sgx += gallery[g[s]].x;
        sgy += gallery[g[s]].y;
    }
    const long long n = count;
    pcx = static_cast<int>(spx / n);
    pcy = static_cast<int>(spy / n);
    gcx = static_cast<int>(sgx / n);
    gcy = static_cast<int>(sgy / n);
    // 2. Radius-weighted direction differences of the pairs away from the centre.
    long long sumRD = 0;
    long long sumR = 0;
    for (unsigned s = 0; s < count; ++s) {
        const MinutiaeData& a = probe[p[s]];
        const MinutiaeData& b = gallery[g[s]];
        const int r = AcDist(a.x - pcx, a.y - pcy);
        if (r <= 19) {
            continue;
        }
        int d = AcFold(AcDirUnits(b, gcx, gcy) - AcDirUnits(a, pcx, pcy));
        if (largeRotation != 0) {
            d = d < 1 ? d + 45 : d - 45;
        }
        sumRD += static_cast<long long>(r) * d;
        sumR += r;
    }
    // 3. The mean rotation.
    if (sumR == 0) {
        return;
    }
    int rot = AcFold(static_cast<int>(sumRD / sumR));
    if (largeRotation != 0) {
        rot = rot - 45 < -45 ? rot + 45 : rot - 45;
    }
    if (rot < 0) {
        rot += ACCEL_ANGLES;
    }
    rotation = rot;
    recalcLive = live;
}

unsigned AccelPair::calcSumErr(unsigned slot, int pi, int gi) const
{
    unsigned sum = 0;
    for (unsigned j = 0; j < count; ++j) {
        if (j == slot) {
            continue;
        }
        const int dP = AcDist(probe[pi].x - probe[p[j]].x, probe[pi].y - probe[p[j]].y);
        const int dG = AcDist(gallery[gi].x - gallery[g[j]].x, gallery[gi].y - gallery[g[j]].y);
        sum += static_cast<unsigned>(256 * std::max(dP, dG) / std::max(std::min(dP, dG), 1));
    }
    return sum;
}

bool AccelPair::isCompatible(int pi, int gi, bool centreOnly, bool* probeMarks, bool* galleryMarks)
{
    const MinutiaeData& a = probe[pi];
    const MinutiaeData& b = gallery[gi];
    // 1.-3. Direction, radius and polar direction against the centres.
    if (tables->cube[a.angle][b.angle][rotation] > 13) {
        return false;
    }
    const int rP = AcDist(a.x - pcx, a.y - pcy);
    const int rG = AcDist(b.x - gcx, b.y - gcy);
    if (static_cast<unsigned>(std::abs(rP - rG)) > AcTol(tol, std::min(rP, rG))) {
        return false;
    }
    if (std::min(rP, rG) > 20 &&
        tables->cube[AcDirUnits(a, pcx, pcy)][AcDirUnits(b, gcx, gcy)][rotation] > 7) {
        return false;
    }
    if (centreOnly) {
        return true;
    }
    // 5. Distances to every pair; one mismatch is tolerated.
    int mismatch = -1;
    for (unsigned s = recalcLive == 0 ? 1u : 0u; s < count; ++s) {
        const int dP = AcDist(a.x - probe[p[s]].x, a.y - probe[p[s]].y);
        const int dG = AcDist(b.x - gallery[g[s]].x, b.y - gallery[g[s]].y);
        if (static_cast<unsigned>(std::abs(dP - dG)) > AcTol(tol, std::min(dP, dG))) {
            if (mismatch >= 0) {
                return false;
            }
            mismatch = static_cast<int>(s);
        }
    }
    if (mismatch < 0) {
        return true;
    }
    // 7. The new pair replaces the mismatching one when it fits the others better.
    const unsigned s = static_cast<unsigned>(mismatch);
    if (calcSumErr(s, pi, gi) >= calcSumErr(s, p[s], g[s])) {
        return false;
    }
    if (probeMarks != nullptr) {
        probeMarks[p[s]] = false;
        probeMarks[pi] = true;
    }
    if (galleryMarks != nullptr) {
        galleryMarks[g[s]] = false;
        galleryMarks[gi] = true;
    }
    p[s] = static_cast<std::uint16_t>(pi);
    g[s] = static_cast<std::uint16_t>(gi);
    recalcLive = 0;
    return false;
}

namespace {

// Appends the linked neighbour pairs of two nests.
void addLinkItems(const Accel* probeNest, const Accel* galleryNest, AccelPair* group)
{
    if (probeNest == nullptr || galleryNest == nullptr) {
        return;
    }
    for (int k = 0; k < 16; ++k) {
        if (probeNest->cell[k] == 0 || galleryNest->cell[k] == 0 ||
            std::abs(probeNest->desc[k] - galleryNest->desc[k]) >= 2) {
            continue;
        }
        const int pi = probeNest->cell[k] - 1;
        const int gi = galleryNest->cell[k] - 1;
        if (pi >= group->nProbe || gi >= group->nGallery || group->hasProbe(pi) ||
            group->hasGallery(gi)) {
            continue;
        }
        if (group->count > 0 && !group->isCompatible(pi, gi, false, nullptr, nullptr)) {
            continue;
        }
        group->add(pi, gi);
    }
}

void expandGroupByLink(AccelPair* group, const SortedAccel* probeNests,
                       const SortedAccel* galleryNests, unsigned from, unsigned to)
{
    for (unsigned s = from; s < group->count && s < to; ++s) {
        addLinkItems(probeNests->nest[group->p[s]], galleryNests->nest[group->g[s]], group);
    }
}

void thinOutMainGroup(AccelPair* mainPairs, const AccelPair* group)
{
    for (unsigned s = 0; s < mainPairs->count; ++s) {
        if (mainPairs->p[s] == ACCEL_REMOVED) {
            continue;
        }
        for (unsigned t = 0; t < group->count; ++t) {
            if (group->p[t] == mainPairs->p[s] && group->g[t] == mainPairs->g[s]) {
                mainPairs->p[s] = ACCEL_REMOVED;
                --mainPairs->live;
                break;
            }
        }
    }
}

bool AcLiveDesc(const AccelPair* a, const AccelPair* b)
{
    return a->live > b->live;
}

// True when the group holds the pair at its seed's probe minutia.
bool AcHoldsSeed(const AccelPair* group, const AccelPair* other)
{
    for (unsigned s = 0; s < group->count; ++s) {
        if (group->p[s] == other->p[0]) {
            return group->g[s] == other->g[0];
        }
    }
    return false;
}

void AcRecalcIfChanged(AccelPair* g)
{
    if (g->live >= 2 && g->live != g->recalcLive) {
        g->recalcData();
    }
}

struct AcCompareInput {
    unsigned char* probeBlock;
    unsigned char* galleryBlock;
    unsigned limitP;
    unsigned limitG;
    const std::uint32_t* minSim;
    unsigned minSimSize;
    unsigned lowest;
    int maxRotation;
};

void compMainNests(AccelData* data, Triplet* buffer, AccelPair* mainPairs, const AcCompareInput& in)
{
    const unsigned lowest = std::max(in.lowest, 4u);
    if (lowest > 16) {
        return;
    }
    Accel* pn = FaNests(in.probeBlock);
    Accel* gn = FaNests(in.galleryBlock);
    int n = 0;
    unsigned prevP = 0;
    unsigned prevG = 0;
    auto compare = [&](unsigned i, unsigned j, unsigned threshold) {
        int equal = 0;
        for (int k = 0; k < 16; ++k) {
            equal += pn[i].desc[k] == gn[j].desc[k] ? 1 : 0;
        }
        const unsigned sim = 255u * static_cast<unsigned>(equal);
        if (sim < threshold) {
            return true;
        }
        if (n == ACCEL_TRIPLETS) {
            return false;
        }
        buffer[n++] = Triplet{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j),
                              static_cast<std::uint16_t>(sim)};
        return true;
    };
    // 2.-3. Level by level, the combinations new at each level, at most 64 triplets.
    bool full = false;
    for (int k = 15; k >= static_cast<int>(lowest) - 1 && !full; --k) {
        const unsigned np = std::min<unsigned>(in.probeBlock[k], in.limitP);
        const unsigned ng = std::min<unsigned>(in.galleryBlock[k], in.limitG);
        const unsigned at = std::min<unsigned>(static_cast<unsigned>(k) + 1, in.minSimSize - 1);
        const unsigned threshold = in.minSim[at];
        for (unsigned i = prevP; i < np && !full; ++i) {
            for (unsigned j = 0; j < ng && !full; ++j) {
                full = !compare(i, j, threshold);
            }
        }
        for (unsigned j = prevG; j < ng && !full; ++j) {
            for (unsigned i = 0; i < prevP && !full; ++i) {
                full = !compare(i, j, threshold);
            }
        }
        prevP = std::max(prevP, np);
        prevG = std::max(prevG, ng);
    }
    // 4. Best similarities first.
    AcStableSort(buffer, static_cast<unsigned>(n),
                 [](const Triplet& a, const Triplet& b) { return a.sim > b.sim; });
    n = std::min(n, MAX_MAIN_PAIRS);
    // 5. Main pairs within the rotation limit.
    const unsigned char* pList = FaNestMinutia(in.probeBlock);
    const unsigned char* gList = FaNestMinutia(in.galleryBlock);
    const MinutiaeData* pItems = FaItems(in.probeBlock);
    const MinutiaeData* gItems = FaItems(in.galleryBlock);
    for (int t = 0; t < n; ++t) {
        const int pi = pList[buffer[t].probe];
        const int gi = gList[buffer[t].gallery];
        if (in.maxRotation < 30 &&
            data->tables->cube[pItems[pi].angle][gItems[gi].angle][0] > in.maxRotation) {
            continue;
        }
        if (mainPairs->count == 0) {
            mainPairs->probe = const_cast<MinutiaeData*>(pItems);
            mainPairs->gallery = const_cast<MinutiaeData*>(gItems);
            mainPairs->seed(pi, gi);
        } else {
            mainPairs->add(pi, gi);
        }
    }
}

int buildGroup(AccelData* data, int finger, AccelSearchParam& sp, AccelPair* mainPairs,
               SortedAccel* galleryNests, unsigned char* galleryBlock, AccelPair** pool,
               unsigned minSeedGroup, unsigned minGroup, unsigned slot, AccelPair* bestOut)
{
    // 1. Nothing to seed.
    if (mainPairs->live == 0) {
        return 0;
    }
    const SortedAccel* probeNests = &data->probe[finger].nestOf;
    // 2. One group per main pair that grows to the seed size.
    unsigned taken = 0;
    for (unsigned s = 0; s < mainPairs->count && taken < ACCEL_POOL; ++s) {
        if (mainPairs->p[s] == ACCEL_REMOVED) {
            continue;
        }
        AccelPair* group = pool[taken];
        group->seed(mainPairs->p[s], mainPairs->g[s]);
        expandGroupByLink(group, probeNests, galleryNests, 0, 1);
        if (group->live >= minSeedGroup) {
            ++taken;
            thinOutMainGroup(mainPairs, group);
        }
    }
    // 3.-4. Largest first; a second link pass, dropping groups whose seed another holds.
    AcStableSort(pool, taken, AcLiveDesc);
    for (unsigned i = 0; i < taken; ++i) {
        AccelPair* group = pool[i];
        if (group->count == 0) {
            continue;
        }
        expandGroupByLink(group, probeNests, galleryNests, 1, ACCEL_PAIRS);
        if (group->live >= minGroup) {
            for (unsigned j = i + 1; j < taken; ++j) {
                if (pool[j]->count != 0 && AcHoldsSeed(group, pool[j])) {
                    pool[j]->clear();
                }
            }
        }
        AcRecalcIfChanged(group);
    }
    // 5. Merge into the largest groups and score them.
    AcStableSort(pool, taken, AcLiveDesc);
    int best = 0;
    const int maxRotation = sp.maxAngle / 4;
    for (unsigned i = 0; i < std::min<unsigned>(taken, MAX_SCORED_GROUPS); ++i) {
        AccelPair* group = pool[i];
        if (group->live < minGroup) {
            break;
        }
        for (unsigned j = i + 1; j < taken; ++j) {
            AccelPair* other = pool[j];
            if (other->count == 0) {
                continue;
            }
            const int sp0 = other->p[0];
            const int sg0 = other->g[0];
            if (group->hasProbe(sp0) || group->hasGallery(sg0) ||
                (group->count > 0 && !group->isCompatible(sp0, sg0, false, nullptr, nullptr))) {
                continue;
            }
            group->add(sp0, sg0);
            for (unsigned s = 1; s < other->count; ++s) {
                const int pi = other->p[s];
                const int gi = other->g[s];
                if (group->hasProbe(pi) || group->hasGallery(gi) ||
                    !group->isCompatible(pi, gi, false, nullptr, nullptr)) {
                    continue;
                }
                group->add(pi, gi);
            }
            other->clear();
        }
        AcRecalcIfChanged(group);
        const int score =
            scoreGroup(data, finger, group, galleryBlock, galleryNests, maxRotation, slot);
        if (score > best) {
            best = score;
            if (bestOut != nullptr) {
                group->copyTo(*bestOut);
            }
        }
    }
    return best;
}

} // namespace

int compareTriplets(const void* a, const void* b)
{
    const int sa = static_cast<const Triplet*>(a)->sim;
    const int sb = static_cast<const Triplet*>(b)->sim;
    return sb - sa;
}

int compAccel(AccelData* data, AccelSearchParam& sp, const std::uint32_t* speedRow, int finger,
              unsigned char* galleryBlock, int& score, SortedAccel* galleryNests, AccelPair** pool,
              unsigned slot, AccelPair* bestOut)
{
    // 1.-3. Counts, nest limits, the smaller side.
    unsigned char* probeBlock = data->probe[finger].accel;
    const unsigned nP = probeBlock[FA_COUNT];
    const unsigned uP = probeBlock[FA_USABLE];
    const unsigned nG = galleryBlock[FA_COUNT];
    const unsigned uG = galleryBlock[FA_USABLE];
    AcCompareInput in{};
    in.probeBlock = probeBlock;
    in.galleryBlock = galleryBlock;
    in.limitP = AcNestLimit(speedRow, nP, probeBlock[FA_NESTS], uP);
    in.limitG = AcNestLimit(speedRow, nG, galleryBlock[FA_NESTS], uG);
    const unsigned m = std::min(nP, nG);
    const unsigned u = std::min(uP, uG);
    // 4.-5. Group sizes.
    const unsigned seedSize = AcSeedSize(speedRow, m, u);
    const unsigned finalSize = AcFinalSize(speedRow, m, u);
    // 6. Lowest level and minimum similarities by the usable band.
    const unsigned band = u >= 90 ? 0 : 9 - u / 10;
    in.lowest = speedRow[31 + band] & 0xFF;
    const bool v140 = data->version == 140;
    const unsigned size = v140 ? MIN_SIM_140_SIZE : MIN_SIM_73_SIZE;
    const unsigned offset = std::min<unsigned>(speedRow[41 + band], size - 1);
    in.minSim = (v140 ? g_minSim_140 : g_minSim_73) + offset;
    in.minSimSize = size - offset;
    // 7. Rotation limit in 4-degree units.
    const bool thumb = finger == 0 || finger == 5;
    in.maxRotation = ((thumb ? sp.maxAngleThumbs : sp.maxAngle) + 2) / 4;
    // 8.-9. Main pairs.
    ThreadData& t = data->slots[slot];
    AccelPair* mainPairs = &t.mainPairs;
    mainPairs->clear();
    compMainNests(data, t.triplets, mainPairs, in);
    if (mainPairs->live == 0) {
        return ACCEL_OK;
    }
    // 10. The pool's groups.
    const std::uint8_t* tol = sp.searchSpeed != 0 ? data->tables->distTolB : data->tables->distTolA;
    MinutiaeData* pItems = FaItems(probeBlock);
    MinutiaeData* gItems = FaItems(galleryBlock);
    for (int i = 0; i < ACCEL_POOL; ++i) {
        AccelPair* g = pool[i];
        g->tol = tol;
        g->tables = data->tables;
        g->probe = pItems;
        g->gallery = gItems;
        g->nProbe = static_cast<int>(nP);
        g->nGallery = static_cast<int>(nG);
    }
    mainPairs->tol = tol;
    mainPairs->tables = data->tables;
    mainPairs->nProbe = static_cast<int>(nP);
    mainPairs->nGallery = static_cast<int>(nG);
    // 11. Gallery nest table.
    std::memset(galleryNests->nest, 0, nG * sizeof(Accel*));
    const unsigned nnG = galleryBlock[FA_NESTS];
    const unsigned char* gList = FaNestMinutia(galleryBlock);
    Accel* gNests = FaNests(galleryBlock);
    for (unsigned j = 0; j < nnG; ++j) {
        galleryNests->nest[gList[j]] = &gNests[j];
    }
    // 12. The groups.
    score = buildGroup(data, finger, sp, mainPairs, galleryNests, galleryBlock, pool, seedSize,
                       finalSize, slot, bestOut);
    return ACCEL_OK;
}

} // namespace accelMatch
