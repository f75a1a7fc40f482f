// Group containers: hit groups, the per-side length and direction matrix, the group of
// matched pairs with its rotation estimate, compatibility test and local scales, and the
// set of conflict positions. Allocation failure of a hit group throws MyException.

#include "matching/Groups.h"

#include "matching/MatchMath.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace accelMatch {
namespace {

constexpr float GR_PI = 3.14159265358979f;

// dx^2 + dy^2 rounded to single precision. The sum is formed in 64 bits: differences of
// 16-bit coordinates reach 65535, whose square alone passes 2^31.
float GrSquaredLength(int dx, int dy)
{
    return static_cast<float>(static_cast<std::int64_t>(dx) * dx +
                              static_cast<std::int64_t>(dy) * dy);
}

// Rounded length of (dx, dy): the square root in single precision, + 0.5, truncated.
int GrRoundedLength(int dx, int dy)
{
    return static_cast<int>(std::sqrt(GrSquaredLength(dx, dy)) + 0.5f);
}

// Is pair p compared with its scale carried? Not when its scale is unknown, nor when it
// cancels the candidate's (wrapped values from a corrupt template: a zero divisor).
bool GrCarried(bool scaled, const PairEx2& p, int divX, int divY)
{
    return scaled && p.scaleX != 0 && p.scaleY != 0 && divX != 0 && divY != 0;
}

// Bounds that refuse a carried gallery segment by its stored length lG0 alone, whatever its
// direction: lG0 8191 > longLimit or lG0 8193 < shortLimit. The carried length is
// round(hypot(x, y)) with |x| = |round(C lG0 / 16)| / divX truncated, |y| alike with S and
// divY, where 8191 <= hypot(C, S) <= 8193 for every table direction. The roundings move it
// by less than 2.63 below and 1.21 above (lG0 / 16) hypot(C / divX, S / divY), which lies
// between 8191 lG0 / (16 max(divX, divY)) and 8193 lG0 / (16 min(divX, divY)). Longer than
// lP + tol, tol = distTol(lP), is refused; shorter than lP - tol too, since the tolerance of
// a smaller length is no larger (both table facts are checked by the group test
// FirstPairLengthBoundsHoldForTheTables). Positive divisors only.
struct GrLengthBounds {
    std::int64_t longLimit;
    std::int64_t shortLimit;
};

// wrap180 of d within -540..539 (a sum or difference of a few table directions and the
// rotation, each within -180..179, or an atan answer within 0..360): one turn at most.
int GrWrapOnce(int d)
{
    return d >= 180 ? d - 360 : (d < -180 ? d + 360 : d);
}

// distTol(level, m) from the level's row, for the lengths of this file: table lengths and
// rounded roots, never below 0.
int GrTolerance(const std::int32_t* row, int m)
{
    return row[m < DIST_TOL_SIZE ? m : DIST_TOL_SIZE - 1];
}

GrLengthBounds GrCarriedLengthBounds(int divX, int divY, int lP, int tol)
{
    const std::int64_t large = divX > divY ? divX : divY;
    const std::int64_t small = divX > divY ? divY : divX;
    return GrLengthBounds{16 * large * (lP + tol + 3), 16 * small * (lP - tol - 2)};
}

// The stored gallery lengths lo..hi a first pair does not refuse by length alone (hi < lo:
// none). Lengths are never negative.
struct GrLengthRange {
    std::int64_t lo;
    std::int64_t hi;
};

// GrCarriedLengthBounds as a range of lG0: lG0 8191 <= longLimit and lG0 8193 >= shortLimit.
GrLengthRange GrCarriedLengthRange(int divX, int divY, int lP, int tol)
{
    const GrLengthBounds b = GrCarriedLengthBounds(divX, divY, lP, tol);
    return GrLengthRange{b.shortLimit > 0 ? (b.shortLimit + 8192) / 8193 : 0,
                         b.longLimit >= 0 ? b.longLimit / 8191 : -1};
}

// The unscaled lengths lG with |lP - lG| <= tol(min(lP, lG)), lP >= 0. Longer ones pass up to
// lP + tol(lP). Shorter ones pass while lG + tol(lG) >= lP, which (the tolerance never falling
// with the length) holds from some lG on, no lower than lP - tol(lP); lP itself passes.
GrLengthRange GrUnscaledLengthRange(const std::int32_t* row, int lP)
{
    const int tolP = GrTolerance(row, lP);
    int lo = lP - tolP > 0 ? lP - tolP : 0;
    while (lo + GrTolerance(row, lo) < lP) {
        ++lo;
    }
    return GrLengthRange{lo, lP + tolP};
}

} // namespace

// Out of line: the callers of nearDirections() keep only the test of the table's guard.
[[gnu::noinline]] NearDirections fillNearDirections()
{
    NearDirections q{};
    for (int ax = 0; ax < NEAR_DIRECTIONS; ++ax) {
        for (int ay = 0; ay < NEAR_DIRECTIONS; ++ay) {
            q.dir[ax][ay] = static_cast<std::uint8_t>(atan(ax, ay));
        }
    }
    return q;
}

void HitGroup::add(short nP, short nG, Transition t, short distDif, short minAngleDif,
                   short angleDif)
{
    ZF_ASSERT(t >= NT && t <= MPT);
    ZF_ASSERT(m_numItems < m_maxItems);
    for (unsigned k = 0; k < m_numItems; ++k) {
        if ((nP != -1 && m_items[k].nP == nP) || (nG != -1 && m_items[k].nG == nG)) {
            return;
        }
    }
    m_items[m_numItems++] = HitItem{nP, nG, t, distDif, minAngleDif, angleDif, 0};
}

void HitGroup::remove(std::size_t pos)
{
    ZF_ASSERT(pos < m_numItems);
    for (std::size_t k = pos + 1; k < m_numItems; ++k) {
        m_items[k - 1] = m_items[k];
    }
    --m_numItems;
    m_items[m_numItems] = EMPTY_HIT_ITEM;
}

HitGroup* newHitGroup(unsigned count)
{
    ZF_ASSERT(count <= MAX_NESTS);
    // One block: the group, then its items.
    void* block =
        ::operator new(sizeof(HitGroup) + sizeof(HitItem) * (count == 0 ? 1 : count), std::nothrow);
    if (block == nullptr) {
        throw MyException{};
    }
    HitGroup* g = new (block) HitGroup;
    g->m_items = reinterpret_cast<HitItem*>(static_cast<unsigned char*>(block) + sizeof(HitGroup));
    for (unsigned k = 0; k < count; ++k) {
        g->m_items[k] = EMPTY_HIT_ITEM;
    }
    g->m_maxItems = static_cast<std::uint8_t>(count);
    return g;
}

void freeHitGroup(HitGroup*& g)
{
    if (g != nullptr) {
        g->~HitGroup();
        ::operator delete(g);
        g = nullptr;
    }
}

void MinutiaePairSet::setAngle(int i, int j)
{
    ZF_ASSERT(i >= 0 && i < MAX_NESTS && j >= 0 && j < MAX_NESTS && i != j && m_near != nullptr);
    const int d = direction180(*m_near, m_x[i] - m_x[j], m_y[i] - m_y[j]);
    // The reverse direction of any d in -180..179 is d + 180 or d - 180, whichever lies in
    // that range.
    m_items[i][j].dir = d;
    m_items[j][i].dir = d < 0 ? d + 180 : d - 180;
}

void MinutiaePairSet::build(const ESK::Lot<short>* minutiae, int n)
{
    ZF_ASSERT(n >= 0 && n <= MAX_NESTS);
    m_near = &nearDirections();
    for (int i = 0; i < n; ++i) {
        m_x[i] = minutiae[i].x;
        m_y[i] = minutiae[i].y;
        m_items[i][i] = PairItem{0, DIR_NOT_COMPUTED};
    }
#if defined(__SSE2__)
    // Two lengths at a time. The squared length is exact in double (below 2^34), so its
    // rounding to single precision is the float of the 64-bit sum below; root, + 0.5 and
    // truncation are then the scalar steps lane by lane.
    double xs[MAX_NESTS];
    double ys[MAX_NESTS];
    for (int i = 0; i < n; ++i) {
        xs[i] = m_x[i];
        ys[i] = m_y[i];
    }
    const __m128d half = _mm_set1_pd(0.5);
    const __m128i notComputed = _mm_set1_epi32(DIR_NOT_COMPUTED);
    static_assert(sizeof(PairItem) == 8 && offsetof(PairItem, dir) == 4,
                  "an item is its length, then its direction, in 32 bits each");
#endif
    for (int i = 0; i < n; ++i) {
        int j = i + 1;
#if defined(__SSE2__)
        const __m128d xi = _mm_set1_pd(xs[i]);
        const __m128d yi = _mm_set1_pd(ys[i]);
        for (; j + 1 < n; j += 2) {
            const __m128d dx = _mm_sub_pd(xi, _mm_loadu_pd(xs + j));
            const __m128d dy = _mm_sub_pd(yi, _mm_loadu_pd(ys + j));
            const __m128d sq = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
            const __m128d root = _mm_sqrt_pd(_mm_cvtps_pd(_mm_cvtpd_ps(sq)));
            const __m128i len = _mm_cvttpd_epi32(_mm_add_pd(root, half));
            // {len0, not computed, len1, not computed}: items (i, j) and (i, j + 1) side by
            // side in row i, each alone in the rows of j and j + 1.
            const __m128i items = _mm_unpacklo_epi32(len, notComputed);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(&m_items[i][j]), items);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(&m_items[j][i]), items);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(&m_items[j + 1][i]),
                             _mm_srli_si128(items, 8));
        }
#endif
        for (; j < n; ++j) {
            const int dx = m_x[i] - m_x[j];
            const int dy = m_y[i] - m_y[j];
            // The sum in single precision, its root in double.
            const float sq = GrSquaredLength(dx, dy);
            const int len = static_cast<int>(std::sqrt(static_cast<double>(sq)) + 0.5);
            m_items[i][j] = PairItem{len, DIR_NOT_COMPUTED};
            m_items[j][i] = PairItem{len, DIR_NOT_COMPUTED};
        }
    }
}

GroupEx& GroupEx::operator=(const GroupEx& other)
{
    if (this == &other) {
        return *this;
    }
    m_pair.m_numItems = 0;
    m_pair += other.m_pair;
    m_rotation = other.m_rotation;
    m_nearHalfTurn = other.m_nearHalfTurn;
    m_distUnit = other.m_distUnit;
    m_minAngleTol = other.m_minAngleTol;
    m_minAngleTolWide = other.m_minAngleTolWide;
    m_dirTol = other.m_dirTol;
    m_numAdded = other.m_numAdded;
    m_numChanged = other.m_numChanged;
    m_centrePX = other.m_centrePX;
    m_centrePY = other.m_centrePY;
    m_centreGX = other.m_centreGX;
    m_centreGY = other.m_centreGY;
    m_kernelSize = other.m_kernelSize;
    m_baseSize = other.m_baseSize;
    m_minutiaeP = other.m_minutiaeP;
    m_minutiaeG = other.m_minutiaeG;
    m_pairSetP = other.m_pairSetP;
    m_pairSetG = other.m_pairSetG;
    m_wideP = other.m_wideP;
    m_wideG = other.m_wideG;
    m_conflictPos = other.m_conflictPos;
    return *this;
}

void GroupEx::reset()
{
    m_alignment.numPairs = 0;
    m_pair.m_numItems = 0;
    m_rotation = 0;
    m_nearHalfTurn = 0;
    m_numAdded = 0;
    m_numChanged = 0;
    m_centrePX = 0;
    m_centrePY = 0;
    m_centreGX = 0;
    m_centreGY = 0;
    m_kernelSize = 0;
    m_baseSize = 0;
    m_conflictPos = -1;
}

bool GroupEx::add(int np, int ng, Transition t)
{
    ZF_ASSERT(t <= MPT);
    const PairEx2 p{static_cast<std::int16_t>(np), static_cast<std::int16_t>(ng), t, 0, 0};
    if (np != -1 && m_pair.contains(p)) {
        return false;
    }
    if (!m_pair.append(p)) {
        return false;
    }
    if (m_pair.m_numItems == 1) {
        ZF_ASSERT(np >= 0 && ng >= 0);
        m_rotation = wrap180(m_minutiaeP[np].angle - m_minutiaeG[ng].angle);
        if (m_dirTol + 9 >= 180 - std::abs(m_rotation)) {
            m_nearHalfTurn = 1;
        }
        m_centrePX = m_minutiaeP[np].x;
        m_centrePY = m_minutiaeP[np].y;
        m_centreGX = m_minutiaeG[ng].x;
        m_centreGY = m_minutiaeG[ng].y;
    }
    ++m_numAdded;
    return true;
}

void GroupEx::replace(std::size_t pos, short np, short ng, Transition t)
{
    ZF_ASSERT(pos < m_pair.getNumItems());
    m_pair.m_items[pos] = PairEx2{np, ng, t, 0, 0};
    if (pos == 0) {
        ZF_ASSERT(np >= 0 && ng >= 0);
        m_rotation = wrap180(m_minutiaeP[np].angle - m_minutiaeG[ng].angle);
        if (m_dirTol + 9 >= 180 - std::abs(m_rotation)) {
            m_nearHalfTurn = 1;
        }
    }
    ++m_numChanged;
}

void GroupEx::remove(std::size_t pos)
{
    ZF_ASSERT(pos < m_pair.getNumItems());
    m_pair.removeAt(pos);
    ++m_numChanged;
    if (pos < m_baseSize) {
        --m_baseSize;
    }
    if (pos < m_kernelSize) {
        --m_kernelSize;
    }
}

void GroupEx::realign()
{
    const std::uint32_t n = m_pair.m_numItems;
    // The same pairs as last time: the same result.
    Alignment& a = m_alignment;
    if (a.numPairs == n && a.nearHalfTurn == m_nearHalfTurn && a.distUnit == m_distUnit &&
        a.minutiaeP == m_minutiaeP && a.minutiaeG == m_minutiaeG) {
        std::uint32_t k = 0;
        while (k < n && a.np[k] == m_pair.m_items[k].np && a.ng[k] == m_pair.m_items[k].ng) {
            ++k;
        }
        if (k == n) {
            m_centrePX = a.centrePX;
            m_centrePY = a.centrePY;
            m_centreGX = a.centreGX;
            m_centreGY = a.centreGY;
            if (a.hasRotation) {
                m_rotation = a.rotation;
            }
            return;
        }
    }
    // 1. Centroids of both sides.
    std::int64_t sx = 0;
    std::int64_t sy = 0;
    std::int64_t gx = 0;
    std::int64_t gy = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        const PairEx2& p = m_pair.m_items[k];
        sx += m_minutiaeP[p.np].x;
        sy += m_minutiaeP[p.np].y;
        gx += m_minutiaeG[p.ng].x;
        gy += m_minutiaeG[p.ng].y;
    }
    m_centrePX = static_cast<std::int32_t>(sx / n);
    m_centrePY = static_cast<std::int32_t>(sy / n);
    m_centreGX = static_cast<std::int32_t>(gx / n);
    m_centreGY = static_cast<std::int32_t>(gy / n);

    // 2. Angle differences about the centroids, weighted by the probe radius; pairs within
    // twice the distance unit of the centre carry no reliable angle.
    std::int64_t w = 0;
    float s = 0.0f;
    for (std::uint32_t k = 0; k < n; ++k) {
        const PairEx2& p = m_pair.m_items[k];
        const int x1 = m_minutiaeP[p.np].x - m_centrePX;
        const int y1 = m_minutiaeP[p.np].y - m_centrePY;
        const int rho = GrRoundedLength(x1, y1);
        if (rho < 2 * m_distUnit) {
            continue;
        }
        const int x2 = m_minutiaeG[p.ng].x - m_centreGX;
        const int y2 = m_minutiaeG[p.ng].y - m_centreGY;
        const float aP = std::atan2(static_cast<float>(y1), static_cast<float>(x1));
        const float aG = std::atan2(static_cast<float>(y2), static_cast<float>(x2));
        float d = aP - aG;
        if (d >= GR_PI) {
            d -= 2.0f * GR_PI;
        } else if (d < -GR_PI) {
            d += 2.0f * GR_PI;
        }
        if (m_nearHalfTurn != 0) {
            d = d > 0.0f ? d - GR_PI : d + GR_PI;
        }
        w += rho;
        s += static_cast<float>(rho) * d;
    }

    // 3. The weighted mean in whole degrees.
    if (w > 0) {
        int r = wrap180(static_cast<int>(s * 180.0f / static_cast<float>(w) / GR_PI + 0.5f));
        if (m_nearHalfTurn != 0) {
            r = r - 180 >= -180 ? r - 180 : r + 180;
        }
        m_rotation = r;
    }
    a.numPairs = n;
    a.nearHalfTurn = m_nearHalfTurn;
    a.distUnit = m_distUnit;
    a.minutiaeP = m_minutiaeP;
    a.minutiaeG = m_minutiaeG;
    a.centrePX = m_centrePX;
    a.centrePY = m_centrePY;
    a.centreGX = m_centreGX;
    a.centreGY = m_centreGY;
    a.rotation = m_rotation;
    a.hasRotation = w > 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        a.np[k] = m_pair.m_items[k].np;
        a.ng[k] = m_pair.m_items[k].ng;
    }
}

namespace {

// Do the probe segment from np to p.np and the gallery one from ng to p.ng, of lengths lP
// and lG, agree in direction? The gallery segment as carried, (x, y), when carried. Only
// segments long enough to carry a direction are compared.
[[gnu::always_inline]] inline bool GrDirectionsAgree(const GroupEx& g, short np, short ng,
                                                     const PairEx2& p, int lP, int lG, bool carried,
                                                     int x, int y)
{
    if (lP < 2 * g.m_distUnit || lG < 2 * g.m_distUnit) {
        return true;
    }
    // The carried segment's direction less the rotation, compared with the probe's less the
    // rotation again, is the probe's less the carried direction, angles being taken mod 360.
    const int dP = g.m_pairSetP->getAngle(np, p.np);
    const int d = carried ? dP - direction180(*g.m_pairSetG->m_near, x, y)
                          : dP - g.m_pairSetG->getAngle(ng, p.ng) - g.m_rotation;
    return std::abs(GrWrapOnce(d)) <= 2 * g.m_dirTol;
}

// agreesWithPair for pair p with its probe side worked out: lP the probe segment's length,
// carried and the divisors as agreesWithPairInline derives them, tol the error level's row of
// s_distTolTab.
[[gnu::always_inline]] inline bool GrAgreesOnSegment(const GroupEx& g, short np, short ng,
                                                     const PairEx2& p, int lP, bool carried,
                                                     int divX, int divY, const std::int32_t* tol,
                                                     int& error)
{
    int lG = 0;
    int x = 0;
    int y = 0;
    if (carried) {
        // The gallery segment divided by the mean of both pairs' scales, along the probe's
        // axes. A direction and the rotation lie within -180..179: a turn added to a
        // negative sum leaves wrap360 its quick case.
        const int sum = g.m_pairSetG->getAngle(p.ng, ng) + g.m_rotation;
        const int a = wrap360(sum < 0 ? sum + 360 : sum);
        const std::int64_t lG0 = g.m_pairSetG->getLen(ng, p.ng);
        x = -(round8192(TabCos360[a] * lG0 * 512) / divX);
        y = -(round8192(TabSin360[a] * lG0 * 512) / divY);
        lG = static_cast<int>(std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y) +
                              0.5);
    } else {
        lG = g.m_pairSetG->getLen(ng, p.ng);
    }
    const int dif = std::abs(lP - lG);
    const int m = lP < lG ? lP : lG;
    if (dif > GrTolerance(tol, m) || !GrDirectionsAgree(g, np, ng, p, lP, lG, carried, x, y)) {
        return false;
    }
    const int larger = lP > lG ? lP : lG;
    error = larger == 0 ? 0 : static_cast<std::uint16_t>(dif * 256 / larger);
    return true;
}

} // namespace

// The body of agreesWithPair, expanded into the loops of this file that call it per pair.
[[gnu::always_inline]] inline bool GroupEx::agreesWithPairInline(short np, short ng,
                                                                 std::size_t pos, int level,
                                                                 bool scaled, int scaleX,
                                                                 int scaleY, int& error) const
{
    const PairEx2& p = m_pair.m_items[pos];
    // A pair whose scale is unknown, or whose scale cancels the candidate's (wrapped values
    // from a corrupt template: a zero divisor), is compared unscaled.
    const int divX = scaleX + p.scaleX;
    const int divY = scaleY + p.scaleY;
    return GrAgreesOnSegment(*this, np, ng, p, m_pairSetP->getLen(np, p.np),
                             GrCarried(scaled, p, divX, divY), divX, divY, s_distTolTab[level],
                             error);
}

bool GroupEx::agreesWithPair(short np, short ng, std::size_t pos, int level, bool scaled,
                             int scaleX, int scaleY, int& error) const
{
    ZF_ASSERT(level >= 0 && level < MAX_ERROR_LEVEL);
    return agreesWithPairInline(np, ng, pos, level, scaled, scaleX, scaleY, error);
}

int GroupEx::findAgreeingGallery(short np, const std::uint8_t* candidates, int count, int level,
                                 bool scaled, int scaleX, int scaleY, std::uint32_t& first,
                                 std::uint8_t* agreeing) const
{
    const std::uint32_t n = m_pair.m_numItems;
    ZF_ASSERT(level >= 0 && level < MAX_ERROR_LEVEL);
    const std::int32_t* tol = s_distTolTab[level];
    // What the first pair's tests need of the probe side, kept while it stays the first.
    std::uint32_t preparedPos = 0xFFFFFFFFu;
    bool firstApplies = false; // the first pair does not hold np
    int firstNg = 0;
    int lP = 0;
    bool carried = false;
    int divX = 0;
    int divY = 0;
    bool bounded = false;
    GrLengthRange range{0, -1};
    int numAgreeing = 0;
    int error = 0;
    for (int c = 0; c < count; ++c) {
        // 1. The first pair, refusing most candidates by the length alone: those it refuses
        // so are passed in a tight loop, up to the first it does not (or one holding its
        // gallery minutia, which it does not test).
        if (first < n) {
            if (first != preparedPos) {
                preparedPos = first;
                const PairEx2& p = m_pair.m_items[first];
                firstApplies = p.np != np;
                firstNg = p.ng;
                if (firstApplies) {
                    lP = m_pairSetP->getLen(np, p.np);
                    divX = scaleX + p.scaleX;
                    divY = scaleY + p.scaleY;
                    carried = GrCarried(scaled, p, divX, divY);
                    bounded = carried && divX > 0 && divY > 0;
                    if (bounded) {
                        range = GrCarriedLengthRange(divX, divY, lP, GrTolerance(tol, lP));
                    } else if (!carried) {
                        range = GrUnscaledLengthRange(tol, lP);
                    }
                }
            }
            if (firstApplies && (bounded || !carried)) {
                // The lengths to the first pair's gallery minutia, read along its own row
                // (the set stores every length both ways).
                const PairItem* row = m_pairSetG->m_items[firstNg];
                for (; c < count && candidates[c] != firstNg; ++c) {
                    const std::int64_t lG0 = row[candidates[c]].len;
                    if (lG0 >= range.lo && lG0 <= range.hi) {
                        break;
                    }
                }
            }
            if (c == count) {
                break;
            }
        }
        const short ng = candidates[c];
        int refusal = -1;
        if (first < n && firstApplies && firstNg != ng) {
            // An unscaled first pair has found the lengths agreeing above: the directions
            // are left.
            const PairEx2& p = m_pair.m_items[first];
            const bool agrees =
                carried ? GrAgreesOnSegment(*this, np, ng, p, lP, true, divX, divY, tol, error)
                        : GrDirectionsAgree(*this, np, ng, p, lP, m_pairSetG->getLen(ng, firstNg),
                                            false, 0, 0);
            if (!agrees) {
                refusal = static_cast<int>(first);
            }
        }
        // 2. The other pairs in order.
        for (std::uint32_t i = 0; i < n && refusal == -1; ++i) {
            const PairEx2& p = m_pair.m_items[i];
            if (i == first || p.np == np || p.ng == ng) {
                continue;
            }
            if (!agreesWithPairInline(np, ng, i, level, scaled, scaleX, scaleY, error)) {
                refusal = static_cast<int>(i);
            }
        }
        if (refusal != -1) {
            first = static_cast<std::uint32_t>(refusal);
        } else {
            agreeing[numAgreeing++] = static_cast<std::uint8_t>(ng);
        }
    }
    return numAgreeing;
}

bool GroupEx::isCompatibleAligned(short np, short ng, int level, NumSet<unsigned>& conflicts,
                                  std::size_t maxConflicts, int* meanError, NumSet<unsigned>& skip,
                                  bool scaled, int scaleX, int scaleY, unsigned form)
{
    if (meanError != nullptr) {
        *meanError = 0;
    }
    const std::uint32_t n = m_pair.m_numItems;
    if (n == 0) {
        return true;
    }
    if (!checkMinAngles(m_minutiaeP[np].angle, m_minutiaeG[ng].angle, m_rotation, m_wideP[np],
                        m_wideG[ng] != 0, m_minAngleTol, m_minAngleTolWide, nullptr)) {
        return false;
    }
    ZF_ASSERT(level >= 0 && level < MAX_ERROR_LEVEL);
    std::int64_t errorSum = 0;
    int checked = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (skip.m_numItems != 0 && skip.contains(i)) {
            continue;
        }
        const PairEx2& p = m_pair.m_items[i];
        if (p.np == np || p.ng == ng) {
            // A pair sharing a minutia with the candidate has no segment to compare.
            continue;
        }
        int error = 0;
        const bool consistent =
            agreesWithPairInline(np, ng, i, level, scaled, scaleX, scaleY, error);
        if (form == IC_COLLECT) {
            if (!consistent && !conflicts.contains(i)) {
                if (conflicts.m_numItems >= maxConflicts) {
                    return false;
                }
                conflicts.add(i);
            }
            continue;
        }
        if (!consistent) {
            return false;
        }
        errorSum += error;
        ++checked;
    }
    if (form != IC_COLLECT && meanError != nullptr && checked > 0) {
        *meanError = static_cast<int>(errorSum / checked);
    }
    return true;
}

namespace {

// The scale sums of one axis (x or y) of calcScaleForOnePair.
struct GrScaleSums {
    std::int64_t sum;
    std::int64_t weight;
};

// Adds to sums what a pair dP apart on the probe side and dG apart among the carried gallery
// minutiae (both >= 0) gives along one axis: nothing up to 40 apart on either side, then
// dG / dP with weight 256 up to 100 apart on the probe side, 25600 / dP beyond. The term
// is the same seen from either pair.
inline void GrAddScaleTerm(int dP, int dG, GrScaleSums& sums)
{
    if (dP >= 40 && dG >= 40) {
        const int w = dP <= 100 ? 256 : 25600 / dP;
        sums.sum += static_cast<std::int64_t>(dG) * w / dP;
        sums.weight += w;
    }
}

// A pair's scale along one axis from its sums: 0 (unknown) without weight.
inline short GrScale(const GrScaleSums& sums)
{
    return static_cast<short>(sums.weight == 0 ? 0 : sums.sum * 256 / sums.weight);
}

} // namespace

void GroupEx::calcScaleForOnePair(const MinutiaeShort* carriedG, int p, int g, short& scaleX,
                                  short& scaleY) const
{
    const std::uint32_t n = m_pair.m_numItems;
    const std::uint32_t main = (m_baseSize == 0 || m_baseSize > n) ? n : m_baseSize;
    GrScaleSums x{0, 0};
    GrScaleSums y{0, 0};
    for (std::uint32_t k = 0; k < main; ++k) {
        const PairEx2& it = m_pair.m_items[k];
        if (it.np == p || it.ng == g) {
            continue;
        }
        GrAddScaleTerm(std::abs(m_minutiaeP[p].x - m_minutiaeP[it.np].x),
                       std::abs(carriedG[g].x - carriedG[it.ng].x), x);
        GrAddScaleTerm(std::abs(m_minutiaeP[p].y - m_minutiaeP[it.np].y),
                       std::abs(carriedG[g].y - carriedG[it.ng].y), y);
    }
    scaleX = GrScale(x);
    scaleY = GrScale(y);
}

void GroupEx::calcScalesForAllPairs(const MinutiaeShort* carriedG)
{
    const std::uint32_t n = m_pair.m_numItems;
    const std::uint32_t main = (m_baseSize == 0 || m_baseSize > n) ? n : m_baseSize;
    ZF_ASSERT(n <= GROUP_CAPACITY);
    GrScaleSums x[GROUP_CAPACITY];
    GrScaleSums y[GROUP_CAPACITY];
    for (std::uint32_t a = 0; a < n; ++a) {
        x[a] = GrScaleSums{0, 0};
        y[a] = GrScaleSums{0, 0};
    }
    // Each pair takes the terms of the first `main` pairs but those sharing a minutia with it.
    // A term is the same from either pair of the two, so among the first `main` each is worked
    // out once for both; the pairs after them only take terms. The sums are integers: their
    // order changes nothing.
    for (std::uint32_t a = 0; a < n; ++a) {
        const PairEx2& pa = m_pair.m_items[a];
        const ESK::Lot<short>& mp = m_minutiaeP[pa.np];
        const MinutiaeShort& mg = carriedG[pa.ng];
        for (std::uint32_t b = a < main ? a + 1 : 0; b < main; ++b) {
            const PairEx2& pb = m_pair.m_items[b];
            if (pb.np == pa.np || pb.ng == pa.ng) {
                continue;
            }
            GrScaleSums tx{0, 0};
            GrScaleSums ty{0, 0};
            GrAddScaleTerm(std::abs(mp.x - m_minutiaeP[pb.np].x),
                           std::abs(mg.x - carriedG[pb.ng].x), tx);
            GrAddScaleTerm(std::abs(mp.y - m_minutiaeP[pb.np].y),
                           std::abs(mg.y - carriedG[pb.ng].y), ty);
            x[a].sum += tx.sum;
            x[a].weight += tx.weight;
            y[a].sum += ty.sum;
            y[a].weight += ty.weight;
            if (a < main) {
                x[b].sum += tx.sum;
                x[b].weight += tx.weight;
                y[b].sum += ty.sum;
                y[b].weight += ty.weight;
            }
        }
    }
    for (std::uint32_t a = 0; a < n; ++a) {
        m_pair.m_items[a].scaleX = static_cast<std::uint16_t>(GrScale(x[a]));
        m_pair.m_items[a].scaleY = static_cast<std::uint16_t>(GrScale(y[a]));
    }
}

bool ConflictPosSet::insert(const ConflictPos& c)
{
    // 1. The first record.
    if (m_numItems == 0) {
        if (m_capacity == 0) {
            return false;
        }
        m_items[m_numItems++] = c;
        return true;
    }
    // 2. A pair already offered by some record: nothing to add.
    for (std::uint32_t r = 0; r < m_numItems; ++r) {
        const ConflictPos& rec = m_items[r];
        for (std::uint32_t a = 0; a < c.m_numPairs; ++a) {
            for (std::uint32_t b = 0; b < rec.m_numPairs; ++b) {
                if (c.pairs[a].np == rec.pairs[b].np && c.pairs[a].ng == rec.pairs[b].ng) {
                    return true;
                }
            }
        }
    }
    // 3. The first record that gives up the same positions.
    for (std::uint32_t r = 0; r < m_numItems; ++r) {
        ConflictPos& rec = m_items[r];
        if (rec.numPositions != c.numPositions) {
            continue;
        }
        bool same = c.numPositions == 0;
        if (c.numPositions == 1) {
            same = c.positions[0] == rec.positions[0];
        } else if (c.numPositions == 2) {
            const auto held = [&rec](std::uint32_t v) {
                return v == rec.positions[0] || v == rec.positions[1];
            };
            same = held(c.positions[0]) && held(c.positions[1]);
        }
        if (!same) {
            continue;
        }
        // 4. Merge the pairs into it while it has room.
        if (rec.m_numPairs > CONFLICT_PAIRS - 1) {
            return false;
        }
        for (std::uint32_t a = 0; a < c.m_numPairs; ++a) {
            if (rec.m_numPairs >= CONFLICT_PAIRS) {
                return false;
            }
            rec.pairs[rec.m_numPairs++] = c.pairs[a];
        }
        return true;
    }
    // 5. A new record.
    if (m_numItems >= m_capacity) {
        return false;
    }
    m_items[m_numItems++] = c;
    return true;
}

} // namespace accelMatch
