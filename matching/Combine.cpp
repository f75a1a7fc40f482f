// Alignment of the two prints by a group of matched pairs: centroids and rotation, local
// scales per pair and per area, and the carrying of points and minutiae from one side's
// frame into the other's (written into the matcher's carried-minutiae arrays). Integer
// tables for the carrying; the rotation estimate alone uses floating point.

#include "matching/Matcher100.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace accelMatch {
namespace {

constexpr int UNIT_SCALE = 256;
constexpr int SCALE_REACH = 40; // axis distances at or below it carry no scale
constexpr int SCALE_NEAR = 100; // full weight up to here, then 25600 / distance
constexpr int SCALE_WEIGHT = 256;

constexpr int SCALE_WEIGHT_TABLE = 1024; // axis distances whose weight is tabled

struct CoWeights {
    std::uint16_t w[SCALE_WEIGHT_TABLE];
};

constexpr CoWeights CoMakeWeights()
{
    CoWeights t{};
    for (int d = 0; d < SCALE_WEIGHT_TABLE; ++d) {
        t.w[d] = static_cast<std::uint16_t>(
            d <= SCALE_REACH ? 0
                             : (d <= SCALE_NEAR ? SCALE_WEIGHT : SCALE_WEIGHT * SCALE_NEAR / d));
    }
    return t;
}

constexpr CoWeights CO_WEIGHTS = CoMakeWeights();

// Weight of a pair at axis distance d >= 0: none up to SCALE_REACH (adding a weight of 0
// changes no sum), full up to SCALE_NEAR, then falling as 1 / d.
int CoScaleWeight(int d)
{
    return d < SCALE_WEIGHT_TABLE ? CO_WEIGHTS.w[d] : SCALE_WEIGHT * SCALE_NEAR / d;
}

// offset * 2 UNIT_SCALE / scaleSum, truncated; in 32 bits whenever both fit (a 64-bit
// division costs a library call on 32-bit targets).
std::int64_t CoUnscale(int offset, std::int64_t scaleSum)
{
    constexpr int FITS = 1 << 21; // |offset| * 2 UNIT_SCALE stays below 2^31
    if (offset > -FITS && offset < FITS && scaleSum > 0 && scaleSum <= INT32_MAX) {
        return offset * (2 * UNIT_SCALE) / static_cast<std::int32_t>(scaleSum);
    }
    return static_cast<std::int64_t>(offset) * (2 * UNIT_SCALE) / scaleSum;
}

// One axis of the group's pairs that carry a scale on it: the side's coordinate and the
// pair's scale, in group order.
struct CoAxis {
    struct Item {
        int pos;
        int scale;
    };
    Item items[GROUP_CAPACITY];
    int count = 0;
};

void CoFillAxes(const GroupEx& g, const ESK::Sign* minutiae, bool isProbe, CoAxis& ax, CoAxis& ay)
{
    ax.count = 0;
    ay.count = 0;
    for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
        const PairEx2& p = g.getPair(k);
        const ESK::Sign& m = minutiae[isProbe ? p.np : p.ng];
        if (p.scaleX != 0) {
            ax.items[ax.count++] = CoAxis::Item{m.x, p.scaleX};
        }
        if (p.scaleY != 0) {
            ay.items[ay.count++] = CoAxis::Item{m.y, p.scaleY};
        }
    }
}

// The area scale along one axis at coordinate c (getAreaScale over a filled axis).
int CoAxisScale(const CoAxis& a, int c)
{
    std::int64_t w = 0;
    std::int64_t s = 0;
    for (int k = 0; k < a.count; ++k) {
        const int wk = CoScaleWeight(std::abs(a.items[k].pos - c));
        w += wk;
        s += static_cast<std::int64_t>(wk) * a.items[k].scale;
    }
    return w == 0 ? UNIT_SCALE : static_cast<int>(s / w);
}

// transferPoint, expanded in place in the loops over minutiae (which take `near`,
// nearDirections(), once).
[[gnu::always_inline]] inline void CoTransferPoint(int x, int y, int angle, int& outX, int& outY,
                                                   int& outAngle, int srcCx, int srcCy, int dstCx,
                                                   int dstCy, int rotation, int scaleX, int scaleY,
                                                   int areaScaleX, int areaScaleY, bool forward,
                                                   const NearDirections& near)
{
    // 1. Rotation; an unknown pair scale is 1.0.
    rotation = wrap180(rotation);
    scaleX = scaleX == 0 ? UNIT_SCALE : scaleX;
    scaleY = scaleY == 0 ? UNIT_SCALE : scaleY;
    // 2. Offset from the source centre, scaled by the mean of pair and area scale (a sum of
    // 0 or below, impossible for scales the matcher computes, counts as 1.0).
    std::int64_t sx = scaleX + areaScaleX;
    std::int64_t sy = scaleY + areaScaleY;
    sx = sx > 0 ? sx : 2 * UNIT_SCALE;
    sy = sy > 0 ? sy : 2 * UNIT_SCALE;
    std::int64_t dx = 0;
    std::int64_t dy = 0;
    if (forward) {
        dx = sx * (x - srcCx) / (2 * UNIT_SCALE);
        dy = sy * (y - srcCy) / (2 * UNIT_SCALE);
    } else {
        dx = CoUnscale(x - srcCx, sx);
        dy = CoUnscale(y - srcCy, sy);
    }
    // 3-4. Polar form.
    const float sq = static_cast<float>(dx * dx + dy * dy);
    const int rho = static_cast<int>(std::sqrt(sq) + 0.5f);
    // 5. Turned and placed about the destination centre: the direction and the rotation
    // both lie within -180..179, so a turn added to a negative sum gives wrap360 of it.
    const int turned = direction180(near, static_cast<int>(dx), static_cast<int>(dy)) + rotation;
    const int psi = turned < 0 ? turned + 360 : turned;
    outX = dstCx + round8192(static_cast<std::int64_t>(TabCos360[psi]) * rho);
    outY = dstCy + round8192(static_cast<std::int64_t>(TabSin360[psi]) * rho);
    // A minutia angle within 0..359 takes at most one turn off.
    const int carried = angle + rotation;
    outAngle = carried >= 180 && carried < 540 ? carried - 360 : wrap180(carried);
}

// The area scales along one axis (x, or y when yAxis) at each of count points (CoAxisScale
// of each) into out.
void CoAxisScales(const CoAxis& a, const ESK::Sign* m, bool yAxis, int count, int* out)
{
    const auto coord = [m, yAxis](int i) -> int { return yAxis ? m[i].y : m[i].x; };
    int i = 0;
#if defined(__SSE2__)
    // Four coordinates a step, each axis item against all four. The weight of an axis
    // distance d over SCALE_NEAR is SCALE_WEIGHT SCALE_NEAR / d, truncated: the quotient in
    // single precision truncates to the same integer, since both operands are exact and a
    // non-integer quotient lies at least 1 / d from the next integer while the rounding error
    // stays below 25600 / d 2^-24. Up to SCALE_NEAR that quotient is SCALE_WEIGHT or more, so
    // the weight past SCALE_REACH is min(quotient, SCALE_WEIGHT) truncated at every distance.
    // Distances (below 2^17), weights and their sums (at most 127 x 256) and a weight times a
    // scale (below 2^24) are exact in single precision; the products are summed as integers,
    // which stay within 31 bits for up to 127 items, and their quotient in double precision
    // truncates to the integer one alike. Longer axes take the scalar loop.
    constexpr int VECTOR_ITEMS = 127;
    static_assert(std::is_same_v<decltype(PairEx2::scaleX), std::uint16_t> &&
                      std::is_same_v<decltype(PairEx2::scaleY), std::uint16_t>,
                  "a weight times a pair scale stays below 2^24");
    static_assert(SCALE_WEIGHT <= 256 && VECTOR_ITEMS * SCALE_WEIGHT < (1 << 24),
                  "weights and their sums are exact in single precision");
    if (a.count <= VECTOR_ITEMS && count >= 4) {
        // Each item's position and scale in all four lanes, once for every coordinate.
        __m128i pos[VECTOR_ITEMS];
        __m128 scale[VECTOR_ITEMS];
        for (int k = 0; k < a.count; ++k) {
            pos[k] = _mm_set1_epi32(a.items[k].pos);
            scale[k] = _mm_set1_ps(static_cast<float>(a.items[k].scale));
        }
        const __m128 reach = _mm_set1_ps(static_cast<float>(SCALE_REACH));
        const __m128 full = _mm_set1_ps(static_cast<float>(SCALE_WEIGHT));
        const __m128 numerator = _mm_set1_ps(static_cast<float>(SCALE_WEIGHT * SCALE_NEAR));
        const __m128 sign = _mm_set1_ps(-0.0f);
        const __m128i unit = _mm_set1_epi32(UNIT_SCALE);
        for (; i + 4 <= count; i += 4) {
            const __m128i ci = _mm_setr_epi32(coord(i), coord(i + 1), coord(i + 2), coord(i + 3));
            __m128 wf = _mm_setzero_ps();
            __m128i sum = _mm_setzero_si128();
            for (int k = 0; k < a.count; ++k) {
                const __m128 d = _mm_andnot_ps(sign, _mm_cvtepi32_ps(_mm_sub_epi32(ci, pos[k])));
                const __m128 q = _mm_min_ps(_mm_div_ps(numerator, d), full);
                const __m128 wk =
                    _mm_and_ps(_mm_cmpgt_ps(d, reach), _mm_cvtepi32_ps(_mm_cvttps_epi32(q)));
                wf = _mm_add_ps(wf, wk);
                sum = _mm_add_epi32(sum, _mm_cvttps_epi32(_mm_mul_ps(wk, scale[k])));
            }
            // A lane without weight divides by 1 and then takes the unit scale.
            const __m128i w = _mm_cvttps_epi32(wf);
            const __m128i none = _mm_cmpeq_epi32(w, _mm_setzero_si128());
            const __m128i divisor = _mm_sub_epi32(w, none);
            const __m128i q01 =
                _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(sum), _mm_cvtepi32_pd(divisor)));
            const __m128i q23 =
                _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(sum, 8)),
                                            _mm_cvtepi32_pd(_mm_srli_si128(divisor, 8))));
            const __m128i quotient = _mm_unpacklo_epi64(q01, q23);
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out + i),
                _mm_or_si128(_mm_and_si128(none, unit), _mm_andnot_si128(none, quotient)));
        }
    }
#endif
    for (; i < count; ++i) {
        out[i] = CoAxisScale(a, coord(i));
    }
}

} // namespace

int Matcher100::combineFingerprintsByCurGroup(GroupEx* g, bool transferP, bool transferG,
                                              bool allMinutiae)
{
    ZF_ASSERT(g);
    // 1-2. Realigned only when it has changed; a group of one pair keeps its alignment.
    g->recalcData();
    // 3. Carry the requested sides.
    return combineFingerprints(g, transferP, transferG, g->m_centrePX, g->m_centrePY, g->m_centreGX,
                               g->m_centreGY, g->m_rotation, allMinutiae);
}

int Matcher100::combineFingerprints(GroupEx* g, bool transferP, bool transferG, int cxP, int cyP,
                                    int cxG, int cyG, int rotation, bool allMinutiae)
{
    if (transferP) {
        transferMinutiaes(g, m_minutiaeP, m_carriedP, m_numNestP, cxP, cyP, cxG, cyG, -rotation,
                          allMinutiae, true);
    }
    if (transferG) {
        transferMinutiaes(g, m_minutiaeG, m_carriedG, m_numNestG, cxG, cyG, cxP, cyP, rotation,
                          allMinutiae, false);
    }
    return rotation;
}

bool Matcher100::transferMinutiaes(GroupEx* g, const ESK::Sign* minutiae, MinutiaeShort* out,
                                   int count, int srcCx, int srcCy, int dstCx, int dstCy,
                                   int rotation, bool allMinutiae, bool isProbe)
{
    if (out == nullptr || minutiae == nullptr) {
        return false;
    }
    // 1. Rotation and the scale around the source centre; the window marks kept from the
    // carried positions are void.
    m_windowMarksKept = false;
    rotation = wrap180(rotation);
    int areaX = UNIT_SCALE;
    int areaY = UNIT_SCALE;
    getAreaScale(g, srcCx, srcCy, areaX, areaY, isProbe);
    const NearDirections& near = nearDirections();
    if (!allMinutiae) {
        // 2. The group's minutiae of this side, each with its pair's scales.
        for (std::uint32_t k = 0; k < g->getNumItems(); ++k) {
            const PairEx2& p = g->getPair(k);
            const int i = isProbe ? p.np : p.ng;
            ZF_ASSERT(i >= 0 && i < count);
            MinutiaeShort& o = out[i];
            CoTransferPoint(minutiae[i].x, minutiae[i].y, minutiae[i].angle, o.x, o.y, o.angle,
                            srcCx, srcCy, dstCx, dstCy, rotation, p.scaleX, p.scaleY, areaX, areaY,
                            isProbe, near);
        }
        return true;
    }
    // 3. Every minutia, with the local area scale in place of a pair scale (the probe's kept
    // for the search of compatible pairs).
    ZF_ASSERT(count >= 0 && count <= MAX_NESTS);
    int scratchX[MAX_NESTS];
    int scratchY[MAX_NESTS];
    int* localX = isProbe ? m_probeScaleX : scratchX;
    int* localY = isProbe ? m_probeScaleY : scratchY;
    getAreaScales(g, minutiae, count, localX, localY, isProbe);
    if (isProbe) {
        m_probeScalesOf = g;
    }
    for (int i = 0; i < count; ++i) {
        MinutiaeShort& o = out[i];
        CoTransferPoint(minutiae[i].x, minutiae[i].y, minutiae[i].angle, o.x, o.y, o.angle, srcCx,
                        srcCy, dstCx, dstCy, rotation, localX[i], localY[i], areaX, areaY, isProbe,
                        near);
    }
    return true;
}

void Matcher100::transferPoint(int x, int y, int angle, int& outX, int& outY, int& outAngle,
                               int srcCx, int srcCy, int dstCx, int dstCy, int rotation, int scaleX,
                               int scaleY, int areaScaleX, int areaScaleY, bool forward)
{
    CoTransferPoint(x, y, angle, outX, outY, outAngle, srcCx, srcCy, dstCx, dstCy, rotation, scaleX,
                    scaleY, areaScaleX, areaScaleY, forward, nearDirections());
}

void Matcher100::getAreaScale(GroupEx* g, int cx, int cy, int& scaleX, int& scaleY, bool isProbe)
{
    ZF_ASSERT(g);
    std::int64_t wX = 0;
    std::int64_t sX = 0;
    std::int64_t wY = 0;
    std::int64_t sY = 0;
    // The pairs' minutiae of one side, the side chosen once for the whole loop.
    const auto sum = [&](const ESK::Sign* minutiae, auto index) {
        for (std::uint32_t k = 0; k < g->getNumItems(); ++k) {
            const PairEx2& p = g->getPair(k);
            const ESK::Sign& m = minutiae[index(p)];
            if (p.scaleX != 0) {
                const int w = CoScaleWeight(std::abs(m.x - cx));
                wX += w;
                sX += static_cast<std::int64_t>(w) * p.scaleX;
            }
            if (p.scaleY != 0) {
                const int w = CoScaleWeight(std::abs(m.y - cy));
                wY += w;
                sY += static_cast<std::int64_t>(w) * p.scaleY;
            }
        }
    };
    if (isProbe) {
        sum(g->m_minutiaeP, [](const PairEx2& p) { return p.np; });
    } else {
        sum(g->m_minutiaeG, [](const PairEx2& p) { return p.ng; });
    }
    scaleX = wX == 0 ? UNIT_SCALE : static_cast<int>(sX / wX);
    scaleY = wY == 0 ? UNIT_SCALE : static_cast<int>(sY / wY);
}

void Matcher100::getAreaScales(GroupEx* g, const ESK::Sign* points, int count, int* scaleX,
                               int* scaleY, bool isProbe)
{
    ZF_ASSERT(g);
    // The scaled pairs gathered once for all the points.
    CoAxis axisX;
    CoAxis axisY;
    CoFillAxes(*g, isProbe ? g->m_minutiaeP : g->m_minutiaeG, isProbe, axisX, axisY);
    CoAxisScales(axisX, points, false, count, scaleX);
    CoAxisScales(axisY, points, true, count, scaleY);
}

void Matcher100::calcScale(GroupEx* g)
{
    if (g == nullptr || g->getNumItems() == 0) {
        return;
    }
    // The group's gallery minutiae in the probe frame, then each pair's local scale.
    combineFingerprintsByCurGroup(g, false, true, false);
    if (g->getNumItems() > 1 && (g->m_numAdded != 0 || g->m_numChanged != 0)) {
        g->calcScalesForAllPairs(m_carriedG);
    }
    g->m_numAdded = 0;
    g->m_numChanged = 0;
}

void Matcher100::calcScaleForNewPair(GroupEx* g, std::size_t pos)
{
    ZF_ASSERT(g && pos < g->getNumItems());
    PairEx2& p = g->getPair(pos);
    int areaX = UNIT_SCALE;
    int areaY = UNIT_SCALE;
    getAreaScale(g, g->m_centreGX, g->m_centreGY, areaX, areaY, false);
    const ESK::Sign& m = m_minutiaeG[p.ng];
    MinutiaeShort& o = m_carriedG[p.ng];
    transferPoint(m.x, m.y, m.angle, o.x, o.y, o.angle, g->m_centreGX, g->m_centreGY, g->m_centrePX,
                  g->m_centrePY, g->m_rotation, p.scaleX, p.scaleY, areaX, areaY, false);
    remarkExcludeWindowG(p.ng);
    short sx = 0;
    short sy = 0;
    g->calcScaleForOnePair(m_carriedG, p.np, p.ng, sx, sy);
    p.scaleX = static_cast<std::uint16_t>(sx);
    p.scaleY = static_cast<std::uint16_t>(sy);
}

} // namespace accelMatch
