// Geometry and score of one group of a finger comparison: both minutia sets are carried into
// the other side's frame by the group's alignment, further pairs the alignment explains are
// added, minutiae whose absence proves nothing are excluded (probe by the gallery's frame,
// gallery by the probe's area mask), and position, direction, polar, topology and length
// measures give the group score 0..10000.

#include "matching/MatchMath.h"
#include "search/AccelLib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace accelMatch {
namespace {

constexpr unsigned char CELL_OUTSIDE = 0x40;
constexpr int EXCLUDE_CELLS = 20;

// Per-group work of scoreGroup.
struct AcGroupWork {
    MinutiaeData galleryInProbe[ACCEL_PAIRS];
    MinutiaeData probeInGallery[ACCEL_PAIRS];
    bool probeInGroup[ACCEL_PAIRS];
    bool galleryInGroup[ACCEL_PAIRS];
    bool probeExcluded[ACCEL_PAIRS];
    bool galleryExcluded[ACCEL_PAIRS];
};

std::uint8_t AcMean255(long long sum, unsigned n)
{
    if (n == 0) {
        return 0;
    }
    const long long v = sum / n;
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
}

void transferMinutiae(int x, int y, std::int16_t* outX, std::int16_t* outY, int fromX, int fromY,
                      int toX, int toY, unsigned rotationDegrees, std::int16_t& radius,
                      std::uint8_t& polar)
{
    const int dx = x - fromX;
    const int dy = y - fromY;
    const int r = AcDist(dx, dy);
    const int a = atan(dx, dy);
    const int b = wrap360(a + static_cast<int>(rotationDegrees % 360));
    *outX = static_cast<std::int16_t>(toX + round8192(static_cast<std::int64_t>(cos8192(b)) * r));
    *outY = static_cast<std::int16_t>(toY + round8192(static_cast<std::int64_t>(sin8192(b)) * r));
    radius = static_cast<std::int16_t>(r);
    polar = static_cast<std::uint8_t>(a / 4);
}

bool combineFingerprints(AccelPair* g, MinutiaeData* galleryInProbe, MinutiaeData* probeInGallery,
                         int maxRotation, ThreadData& slot)
{
    const int r = AcFold(g->rotation);
    if (std::abs(r) > maxRotation) {
        return false;
    }
    transferMinutiaes(g->gallery, galleryInProbe, g->nGallery, g->gcx, g->gcy, g->pcx, g->pcy,
                      static_cast<unsigned>((90 - g->rotation) * 4), slot.galleryRadii,
                      slot.galleryPolar);
    transferMinutiaes(g->probe, probeInGallery, g->nProbe, g->pcx, g->pcy, g->gcx, g->gcy,
                      static_cast<unsigned>(g->rotation * 4), slot.probeRadii, slot.probePolar);
    return true;
}

bool expandGroupByGeometry(AccelPair* g, int maxRotation, AcGroupWork& w, ThreadData& slot)
{
    // 1. Align.
    if (!combineFingerprints(g, w.galleryInProbe, w.probeInGallery, maxRotation, slot)) {
        return false;
    }
    // 2. Mark the group.
    for (unsigned s = 0; s < g->count; ++s) {
        w.probeInGroup[g->p[s]] = true;
        w.galleryInGroup[g->g[s]] = true;
    }
    // 3. The first unmarked gallery minutia that the alignment puts on each probe minutia.
    const auto& cube = g->tables->cube;
    const int rot = g->rotation;
    for (int i = 0; i < g->nProbe; ++i) {
        if (w.probeInGroup[i]) {
            continue;
        }
        const MinutiaeData& a = g->probe[i];
        const int rP = slot.probeRadii[i];
        const int tol = static_cast<int>(AcTol(g->tol, rP));
        for (int j = 0; j < g->nGallery; ++j) {
            if (w.galleryInGroup[j]) {
                continue;
            }
            const MinutiaeData& b = w.galleryInProbe[j];
            if (std::abs(a.x - b.x) > tol || std::abs(a.y - b.y) > tol ||
                cube[a.angle][g->gallery[j].angle][rot] >= 7) {
                continue;
            }
            if (g->count > 0) {
                const int rG = slot.galleryRadii[j];
                const int lo = std::min(rP, rG);
                if (static_cast<unsigned>(std::abs(rP - rG)) > AcTol(g->tol, lo)) {
                    continue;
                }
                if (lo >= 21 && cube[slot.probePolar[i]][slot.galleryPolar[j]][rot] >= 8) {
                    continue;
                }
            }
            if (g->count >= g->capacity) {
                return true;
            }
            g->add(i, j);
            w.probeInGroup[i] = true;
            w.galleryInGroup[j] = true;
            break;
        }
    }
    return true;
}

// Gallery minutiae outside the group whose window in the probe's area mask holds fewer than
// 20 cells of the print.
unsigned char findExcludeG(const ProbeFinger& pf, const AcGroupWork& w, int nG,
                           bool* galleryExcluded)
{
    unsigned char n = 0;
    const int width = static_cast<int>(pf.areaW);
    const int height = static_cast<int>(pf.areaH);
    for (int j = 0; j < nG; ++j) {
        if (w.galleryInGroup[j]) {
            continue;
        }
        const int x = w.galleryInProbe[j].x;
        const int y = w.galleryInProbe[j].y;
        const int cx = x >= 0 ? x / 8 : -((7 - x) / 8);
        const int cy = y >= 0 ? y / 8 : -((7 - y) / 8);
        int inside = 0;
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                const int c = cx + dx;
                const int r = cy + dy;
                if (c >= 0 && c < width && r >= 0 && r < height &&
                    pf.area[r * width + c] != CELL_OUTSIDE) {
                    ++inside;
                }
            }
        }
        if (inside < EXCLUDE_CELLS) {
            galleryExcluded[j] = true;
            ++n;
        }
    }
    return n;
}

void findExclude(const ProbeFinger& pf, AccelPair* g, AcGroupWork& w, unsigned char& probeCount,
                 unsigned char& galleryCount)
{
    // 1. The gallery's frame, from the origin.
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    for (int j = 0; j < g->nGallery; ++j) {
        left = std::min<int>(left, g->gallery[j].x);
        right = std::max<int>(right, g->gallery[j].x);
        top = std::min<int>(top, g->gallery[j].y);
        bottom = std::max<int>(bottom, g->gallery[j].y);
    }
    // 2. Probe minutiae carried outside it.
    probeCount = 0;
    for (int i = 0; i < g->nProbe; ++i) {
        const MinutiaeData& a = w.probeInGallery[i];
        if (!w.probeInGroup[i] && (a.x < left || a.x > right || a.y < top || a.y > bottom)) {
            w.probeExcluded[i] = true;
            ++probeCount;
        }
    }
    // 3. Gallery minutiae by the probe's mask.
    galleryCount = findExcludeG(pf, w, g->nGallery, w.galleryExcluded);
}

void getGeometryDif(AccelPair* g, const AcGroupWork& w, const ThreadData& slot, AccelScoreParam& sp)
{
    const auto& cube = g->tables->cube;
    long long pos = 0;
    long long dir = 0;
    long long polar = 0;
    for (unsigned s = 0; s < g->count; ++s) {
        const int pi = g->p[s];
        const int gi = g->g[s];
        pos += std::abs(g->probe[pi].x - w.galleryInProbe[gi].x) +
               std::abs(g->probe[pi].y - w.galleryInProbe[gi].y);
        dir += cube[g->probe[pi].angle][g->gallery[gi].angle][g->rotation];
        polar += cube[slot.probePolar[pi]][slot.galleryPolar[gi]][g->rotation];
    }
    sp.positionDif = AcMean255(pos, g->live);
    sp.directionDif = AcMean255(dir, g->live);
    sp.polarDif = AcMean255(polar, g->live);
}

int getTopologySim(const ProbeFinger& pf, AccelPair* g, const SortedAccel* galleryNests,
                   const AcGroupWork& w)
{
    int sum = 0;
    std::uint8_t n = 0;
    for (unsigned s = 0; s < g->live && s < g->count; ++s) {
        const Accel* pn = pf.nestOf.nest[g->p[s]];
        const Accel* gn = galleryNests->nest[g->g[s]];
        if (pn == nullptr || gn == nullptr) {
            continue;
        }
        sum += compareNests(pn, gn, w.probeExcluded, w.galleryExcluded);
        ++n;
    }
    return n == 0 ? 0 : sum / n;
}

void getPairLenDif(AccelScoreParam& sp, AccelPair* g)
{
    int longest = 0;
    long long sum = 0;
    unsigned n = 0;
    const unsigned live = std::min<unsigned>(g->live, g->count);
    for (unsigned i = 0; i < live; ++i) {
        for (unsigned j = i + 1; j < live; ++j) {
            const MinutiaeData& a = g->probe[g->p[i]];
            const MinutiaeData& b = g->probe[g->p[j]];
            const MinutiaeData& c = g->gallery[g->g[i]];
            const MinutiaeData& d = g->gallery[g->g[j]];
            const int dP = AcDist(a.x - b.x, a.y - b.y);
            const int dG = AcDist(c.x - d.x, c.y - d.y);
            longest = std::max(longest, dP);
            if (std::min(dP, dG) > 19) {
                sum += 100 - 100 * std::min(dP, dG) / std::max(dP, dG);
                ++n;
            }
        }
    }
    sp.lengthDif = AcMean255(sum, n);
    sp.longest = static_cast<std::uint8_t>(std::min(longest / 4, 255));
}

} // namespace

bool transferMinutiaes(const MinutiaeData* src, MinutiaeData* dst, int n, int fromX, int fromY,
                       int toX, int toY, unsigned rotationDegrees, std::int16_t* radii,
                       std::uint8_t* polar)
{
    if (src == nullptr || dst == nullptr) {
        return false;
    }
    for (int i = 0; i < n; ++i) {
        std::int16_t x = 0;
        std::int16_t y = 0;
        transferMinutiae(src[i].x, src[i].y, &x, &y, fromX, fromY, toX, toY, rotationDegrees,
                         radii[i], polar[i]);
        dst[i].x = x;
        dst[i].y = y;
    }
    return true;
}

int compareNests(const Accel* probeNest, const Accel* galleryNest, const bool* probeExcluded,
                 const bool* galleryExcluded)
{
    int expectedP = 0;
    int expectedG = 0;
    int matched = 0;
    int sum = 0;
    const std::uint8_t* pd = probeNest->desc;
    const std::uint8_t* gd = galleryNest->desc;
    for (int k = 0; k < 16; ++k) {
        const int pc = probeNest->cell[k];
        const int gc = galleryNest->cell[k];
        // 1.-2. Neighbours that could be seen on the other side.
        if (pc != 0 && !probeExcluded[pc - 1]) {
            ++expectedP;
        }
        if (gc == 0) {
            continue;
        }
        if (!galleryExcluded[gc - 1]) {
            ++expectedG;
        }
        if (pc == 0) {
            continue;
        }
        // 3. The step of the same cell, else of the neighbouring ridge-count class.
        int e = std::abs(pd[k] - gd[k]);
        if (e > 2) {
            bool found = false;
            if (k < 12) {
                e = std::abs(pd[k] - gd[k + 4]);
                found = e < 3;
            }
            if (!found) {
                if (k < 4) {
                    continue;
                }
                e = std::abs(pd[k] - gd[k - 4]);
                if (e > 2) {
                    continue;
                }
            }
        }
        // 4. A matched cell.
        sum += 3 * (3 - e);
        ++matched;
    }
    return (matched - expectedP) + (matched - expectedG) + sum;
}

int calcScore(AccelScoreParam& p, const int* r)
{
    // 1.-2. Pairs and the smaller count of visible minutiae.
    const int n = p.pairs;
    if (n == 0) {
        return 0;
    }
    const int e = std::min(static_cast<int>(p.probeCount) - p.excludedProbe,
                           static_cast<int>(p.galleryCount) - p.excludedGallery);
    if (e <= 0) {
        return 0;
    }
    const int q = std::min(p.probeQuality, p.galleryQuality);
    // 3.-4. Base and measures.
    const int base = r[0] + ((r[1] * q * q) >> 20);
    const double power =
        std::pow(static_cast<double>(static_cast<float>(n)), static_cast<double>(0.33f));
    long long s = static_cast<long long>(r[2] * power);
    s += static_cast<long long>(p.linkPairs) * (r[3] + r[4] * q) / e;
    s += static_cast<long long>(r[5]) * (n - p.linkPairs) / e;
    s -= static_cast<long long>(std::sqrt(static_cast<double>(q)) + 0.5) * r[6] * p.positionDif;
    s -= static_cast<long long>(r[8]) * p.directionDif;
    s += static_cast<long long>(r[9]) * p.topologySim;
    s -= static_cast<long long>(r[10]) * p.lengthDif;
    s -= static_cast<long long>(r[12]) * p.polarDif;
    // 5.-6. Scaled down below the full pair count, limited to 0..10000.
    long long v = base + s / 15;
    if (n < r[13]) {
        v = n * v / r[13];
    }
    return static_cast<int>(std::clamp<long long>(v, 0, 10000));
}

int scoreGroup(AccelData* data, int finger, AccelPair* g, unsigned char* galleryBlock,
               SortedAccel* galleryNests, int maxRotation, unsigned slot)
{
    ThreadData& t = data->slots[slot];
    const ProbeFinger& pf = data->probe[finger];
    AcGroupWork w;
    std::memset(&w, 0, sizeof(w));
    // 1. Link pairs; a stale alignment is refreshed.
    AccelScoreParam sp{};
    sp.linkPairs = g->live;
    if (g->live != g->recalcLive) {
        g->recalcData();
    }
    // 2. Geometric expansion.
    if (!expandGroupByGeometry(g, maxRotation, w, t)) {
        return -1;
    }
    // 3. Exclusion, measures, score.
    findExclude(pf, g, w, sp.excludedProbe, sp.excludedGallery);
    getGeometryDif(g, w, t, sp);
    sp.topologySim = static_cast<std::int16_t>(getTopologySim(pf, g, galleryNests, w));
    getPairLenDif(sp, g);
    sp.pairs = g->live;
    sp.probeCount = static_cast<std::uint8_t>(g->nProbe);
    sp.galleryCount = static_cast<std::uint8_t>(g->nGallery);
    sp.probeQuality = pf.accel[FA_QUALITY];
    sp.galleryQuality = galleryBlock[FA_QUALITY];
    return calcScore(sp, data->version == 140 ? g_scoreParam_140 : g_scoreParam_73);
}

} // namespace accelMatch
