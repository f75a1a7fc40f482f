// Match score of the current group: the matcher prepares a parameter block (mean nest
// similarity, distance and angle errors per pair class) and per-minutia evidence of both
// sides (found, excluded, not found with the evidence of the other side around its carried
// position, unreliable pairs), and the table-driven formula turns them into 0..10000.
// Products and sums that may pass 2^31 are taken in 64 bits; nothing throws.

#include "matching/MatchScore.h"
#include "matching/Matcher100.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace accelMatch {

// clang-format off
const int g_k_score_common[NUM_CALC_SCORE_TYPES][2] = {
    {636, 255}, {636, 255}, {636, 255}, {636, 255}, {636, 255},
};

const int g_k_score_pg_bounds[NUM_CALC_SCORE_TYPES][3] = {
    {13, 20, 60}, {10, 20, 60}, {13, 20, 60}, {13, 20, 60}, {13, 20, 60},
};

const int g_k_score_q_bounds[NUM_CALC_SCORE_TYPES][2] = {
    {30, 110}, {30, 60}, {30, 90}, {30, 70}, {30, 110},
};

const int g_k_score[NUM_CALC_SCORE_TYPES][17] = {
    //  k0    k1   k2   k3   k4 k5   k6 k7    k8 k9  k10 k11 k12 k13   k14 k15  k16
    {1040, 1270, 924,  60,  55, 0, 312, 0, 2626, 0,  90, 0, 0, 0, 3393, 0,  40},
    {1040, 1300, 780, 638, 270, 0, 181, 0, 2350, 0, 386, 0, 0, 0, 4202, 0, 242},
    {1040, 1250, 780,  60, 275, 0, 312, 0, 2805, 0,  70, 0, 0, 0, 3570, 0,   0},
    {1040, 1300, 780,  50, 285, 0, 144, 0, 2350, 0, 550, 0, 0, 0, 4340, 0, 280},
    {1040, 1250, 780,  60, 275, 0, 312, 0, 2805, 0,  70, 0, 0, 0, 3570, 0,   0},
};

const int g_k_score_pg[NUM_CALC_SCORE_TYPES][4][7] = {
    //   g0    g1   g2     g3    g4    g5    g6
    {{ 636, 2328,   0,   318, 1050, 6065, 2075},
     { 780, 6751,   0,   850, 1045, 1490,  -20},
     { 765, 1492,  70,   848, 1224, 1000, -375},
     { 368,  611,  40, 11572,   40,  316, -375}},
    {{ 130, 4960,   0,  1567, 3152,  655, -325},
     {1335, 1685, 331,  1153, 1622,  296, -375},
     { 957,  975,  50,   202, 1224, 1106, -351},
     {   0,  194, 430,  4905,   40,    0, -375}},
    {{ 636,  700, 288,   318, 1050, 1547, -375},
     { 780, 3906, 138,   850, 1045,  516, -375},
     { 765,  969, 350,   848, 1224, 1000, -375},
     { 368, 1040,   0, 11572,   40,  330, -375}},
    {{1300,  484,  12,  1104,  864,  884, -375},
     { 840, 1272, 357,   915, 1560,  336, -375},
     { 810,  936, 255,   864, 1224, 1000, -375},
     {   0,  969, 430, 11572,   40,    0, -375}},
    {{ 636,  700, 288,   318, 1050, 1547, -375},
     { 780, 3906, 144,   850, 1045,  516, -375},
     { 765,  969, 350,   848, 1224, 1000, -375},
     { 368, 1040,  10, 11572,   40,  330, -375}},
};

const int g_k_score_pg_q[NUM_CALC_SCORE_TYPES][12][2] = {
    {{1594, 575}, {1583, 597}, {   0, 600}, {1446, 597}, {2487, 600}, {1104, 600},
     { 795, 237}, {1011, 264}, {1006, 237}, {1595, 597}, {1235, 600}, { 689, 600}},
    {{1229, 372}, {1690, 597}, { 437, 637}, {1813, 543}, {2040, 507}, {2168, 488},
     { 785, 210}, {1994, 435}, {1052, 354}, { 178, 600}, { 301, 600}, { 689, 600}},
    {{ 876, 258}, { 884, 280}, {   0, 330}, { 795, 318}, { 910, 300}, { 896, 288},
     { 472, 246}, { 600, 246}, { 620, 306}, {1632, 612}, {1235, 586}, { 689, 586}},
    {{ 696, 208}, {1040, 280}, {1974, 330}, {1020, 318}, {1173, 312}, {1156, 288},
     { 459, 252}, { 754, 270}, { 620, 222}, {1836, 444}, {1501, 493}, { 689, 493}},
    {{1020, 208}, { 867, 280}, { 350, 330}, { 795, 318}, { 936, 306}, { 896, 288},
     { 477, 207}, { 600, 246}, {1044, 306}, {1750, 364}, { 960, 596}, { 689, 586}},
};

// f0..f3 found bands, f4 found limit, f5..f8 not-found bands, f9 not-found limit.
const int g_k_score_up_f_p[NUM_CALC_SCORE_TYPES][10] = {
    { 338,  310, 640,  441, 768, 483, 194, 115, 3493, 390},
    { 695, 2888, 673,  107, 769, 324, 274,  20,  422, 769},
    {1449,  350, 800, 1632, 768, 360, 804, 128, 3264, 390},
    { 824, 3074, 720,  522, 645,  88, 630,  20,  731, 390},
    {1804,  350, 832, 1632, 525, 360, 912, 144, 3380, 390},
};

const int g_k_score_up_f_g[NUM_CALC_SCORE_TYPES][10] = {
    { 551, 314, 767, 567, 768, 1130, 259, 10,  60, 384},
    {  98,  60, 174, 195, 768,  592,   0,  0,  10, 640},
    {2496, 742, 650, 517, 768,  420, 312, 40, 116, 516},
    {  52, 672, 204, 361, 516,  440, 160, 70,  10, 640},
    {  98, 882, 611, 517, 768,  192, 258, 40, 116, 516},
};
// clang-format on

namespace {

constexpr int UNRELIABLE_MAX_DISTANCE = 39;
constexpr int UNRELIABLE_MAX_RIDGES = 5;
constexpr int AREA_PROB_REACH = 99;
constexpr int AREA_PROB_REACH_SQUARE = 9900; // the largest square that rounds to 99
constexpr int AREA_PROB_NEAR = 20;

// Weights of a neighbour in the area estimate by squared distance sq <= AREA_PROB_REACH_SQUARE:
// 10 up to a rounded distance d of AREA_PROB_NEAR, then 200 / d. The weight steps down by one
// past each distance of AREA_STEPS, and d > t exactly when sq > t^2 + t (the single precision root
// of an integer square below 2^24, rounded, gives d).
struct AreaWeights {
    std::uint8_t w[AREA_PROB_REACH_SQUARE + 1];
};

constexpr int AREA_FULL_WEIGHT = 10;
constexpr int AREA_STEPS[8] = {20, 22, 25, 28, 33, 40, 50, 66};

// The vector path of areaProb compares squares in signed 16-bit lanes against the reach
// square plus one and the step squares t^2 + t: all of them must fit, the steps below the reach.
constexpr bool areaSquaresFitLanes()
{
    for (const int s : AREA_STEPS) {
        if (s * s + s >= AREA_PROB_REACH_SQUARE) {
            return false;
        }
    }
    return AREA_PROB_REACH_SQUARE + 1 <= INT16_MAX;
}
static_assert(areaSquaresFitLanes(), "area squares fit signed 16-bit lanes");

constexpr AreaWeights makeAreaWeights()
{
    AreaWeights t{};
    for (int sq = 0; sq <= AREA_PROB_REACH_SQUARE; ++sq) {
        int w = AREA_FULL_WEIGHT;
        for (const int s : AREA_STEPS) {
            w -= sq > s * s + s ? 1 : 0;
        }
        t.w[sq] = static_cast<std::uint8_t>(w);
    }
    return t;
}

constexpr AreaWeights AREA_WEIGHTS = makeAreaWeights();
constexpr int AREA_NEAR_SQUARE = AREA_PROB_NEAR * AREA_PROB_NEAR + AREA_PROB_NEAR;
static_assert(AREA_WEIGHTS.w[0] == 10 && AREA_WEIGHTS.w[AREA_NEAR_SQUARE] == 10 &&
                  AREA_WEIGHTS.w[AREA_NEAR_SQUARE + 1] == 9,
              "full weight to a rounded distance of 20");
static_assert(AREA_WEIGHTS.w[4422] == 3 && AREA_WEIGHTS.w[4423] == 2 &&
                  AREA_WEIGHTS.w[AREA_PROB_REACH_SQUARE] == 200 / AREA_PROB_REACH,
              "200 / d past it, to the reach");

// The minutiae of one side as the area estimate reads them; the coordinates padded with
// zeros to a whole block of AREA_BLOCK.
constexpr int AREA_BLOCK = 8;
constexpr int AREA_POINTS = (MAX_NESTS + AREA_BLOCK - 1) / AREA_BLOCK * AREA_BLOCK;

static_assert(AREA_POINTS / AREA_BLOCK * AREA_FULL_WEIGHT <= INT16_MAX,
              "weights summed by 16-bit lane");

struct AreaPoints {
    int count = 0;
    std::int16_t x[AREA_POINTS];
    std::int16_t y[AREA_POINTS];
    std::uint8_t quality[AREA_POINTS]; // low 6 bits of the quality byte
};

void fillAreaPoints(const ESK::Sign* minutiae, int count, AreaPoints& out)
{
    ZF_ASSERT(count >= 0 && count <= MAX_NESTS);
    out.count = count;
    for (int i = 0; i < count; ++i) {
        out.x[i] = minutiae[i].x;
        out.y[i] = minutiae[i].y;
        out.quality[i] = static_cast<std::uint8_t>(minutiae[i].quality & 63);
    }
    for (int i = count; i % AREA_BLOCK != 0; ++i) {
        out.x[i] = 0;
        out.y[i] = 0;
        out.quality[i] = 0;
    }
}

// Adds the weight and weighted quality of point k when it lies within AREA_PROB_REACH of
// (x, y) (x and y within 2^20, so that the differences fit).
inline void addAreaPoint(const AreaPoints& pts, int k, int x, int y, int& sumW, int& sumWQ)
{
    // Both differences within -REACH..REACH, tested unsigned.
    const int dx = pts.x[k] - x;
    const int dy = pts.y[k] - y;
    if (static_cast<unsigned>(dx + AREA_PROB_REACH) > 2u * AREA_PROB_REACH ||
        static_cast<unsigned>(dy + AREA_PROB_REACH) > 2u * AREA_PROB_REACH) {
        return;
    }
    const int sq = dx * dx + dy * dy;
    if (sq > AREA_PROB_REACH_SQUARE) {
        return;
    }
    const int w = AREA_WEIGHTS.w[sq];
    sumW += w;
    sumWQ += w * pts.quality[k];
}

// The quality of the minutiae within AREA_PROB_REACH of (x, y), weighted by closeness; 0
// without any. The sums are of integers: the order of the points does not matter. Inline, so
// that a caller's loop over positions sets up the vector constants once.
[[gnu::always_inline]] inline int areaProb(const AreaPoints& pts, int x, int y)
{
    // Coordinates of a side are 16-bit: a point this far out has no neighbour.
    constexpr int FAR = 32768 + AREA_PROB_REACH;
    if (x <= -FAR || x >= FAR || y <= -FAR || y >= FAR) {
        return 0;
    }
    int sumW = 0;
    int sumWQ = 0;
#if defined(__SSE2__)
    if (x >= INT16_MIN && x <= INT16_MAX && y >= INT16_MIN && y <= INT16_MAX) {
        // Eight points a step: the differences saturate to -32767..32767, where they are out of
        // reach all the same, and their squares are summed exactly in 32 bits (at most
        // 2 * 32767^2); saturated to 16 bits, a square within the reach keeps its value and one
        // beyond stays beyond. A lane's weight is AREA_FULL_WEIGHT less the steps
        // its square passes, kept where the point is in reach; the weights are summed by lane
        // (at most 10 a block) and the weighted qualities in 32 bits.
        const __m128i qx = _mm_set1_epi16(static_cast<short>(x));
        const __m128i qy = _mm_set1_epi16(static_cast<short>(y));
        const __m128i lowest = _mm_set1_epi16(-INT16_MAX);
        const __m128i reach = _mm_set1_epi16(AREA_PROB_REACH_SQUARE + 1);
        const __m128i zero = _mm_setzero_si128();
        const auto step = [](int s) {
            return _mm_set1_epi16(
                static_cast<short>(AREA_STEPS[s] * AREA_STEPS[s] + AREA_STEPS[s]));
        };
        const __m128i s0 = step(0), s1 = step(1), s2 = step(2), s3 = step(3);
        const __m128i s4 = step(4), s5 = step(5), s6 = step(6), s7 = step(7);
        __m128i accW = zero;
        __m128i accWQ = zero;
        for (int k = 0; k < pts.count; k += AREA_BLOCK) {
            const __m128i dx = _mm_max_epi16(
                _mm_subs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pts.x + k)), qx),
                lowest);
            const __m128i dy = _mm_max_epi16(
                _mm_subs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pts.y + k)), qy),
                lowest);
            const __m128i lo = _mm_unpacklo_epi16(dx, dy);
            const __m128i hi = _mm_unpackhi_epi16(dx, dy);
            const __m128i sq = _mm_packs_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
            __m128i in = _mm_cmplt_epi16(sq, reach);
            if (pts.count - k < AREA_BLOCK) {
                const __m128i lane = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
                in = _mm_and_si128(
                    in, _mm_cmplt_epi16(lane, _mm_set1_epi16(static_cast<short>(pts.count - k))));
            }
            // A block with no point in reach, a frequent case, adds nothing.
            if (_mm_movemask_epi8(in) == 0) {
                continue;
            }
            // cmpgt gives -1 where the step is passed.
            const __m128i w01 = _mm_add_epi16(_mm_cmpgt_epi16(sq, s0), _mm_cmpgt_epi16(sq, s1));
            const __m128i w23 = _mm_add_epi16(_mm_cmpgt_epi16(sq, s2), _mm_cmpgt_epi16(sq, s3));
            const __m128i w45 = _mm_add_epi16(_mm_cmpgt_epi16(sq, s4), _mm_cmpgt_epi16(sq, s5));
            const __m128i w67 = _mm_add_epi16(_mm_cmpgt_epi16(sq, s6), _mm_cmpgt_epi16(sq, s7));
            const __m128i passed = _mm_add_epi16(_mm_add_epi16(w01, w23), _mm_add_epi16(w45, w67));
            const __m128i w =
                _mm_and_si128(_mm_add_epi16(_mm_set1_epi16(AREA_FULL_WEIGHT), passed), in);
            const __m128i q = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pts.quality + k)), zero);
            accW = _mm_add_epi16(accW, w);
            accWQ = _mm_add_epi32(accWQ, _mm_madd_epi16(w, q));
        }
        alignas(16) std::int32_t sums[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(accW, _mm_set1_epi16(1)));
        _mm_store_si128(reinterpret_cast<__m128i*>(sums + 4), accWQ);
        sumW = sums[0] + sums[1] + sums[2] + sums[3];
        sumWQ = sums[4] + sums[5] + sums[6] + sums[7];
    } else
#endif
    {
        for (int k = 0; k < pts.count; ++k) {
            addAreaPoint(pts, k, x, y, sumW, sumWQ);
        }
    }
    if (sumW == 0) {
        return 0;
    }
    return static_cast<std::uint8_t>(sumWQ / sumW);
}

// trunc(sqrt(dx^2 + dy^2) + 0.5), the root taken in single precision.
int roundedLength(int dx, int dy)
{
    const float sq =
        static_cast<float>(static_cast<std::int64_t>(dx) * dx + static_cast<std::int64_t>(dy) * dy);
    return static_cast<int>(std::sqrt(sq) + 0.5f);
}

std::uint8_t clamp255(std::int64_t v)
{
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
}

// Class of the item pair (a, b), a < b: 0 both in the first group, 1 both in the main group,
// 2 otherwise.
int pairClass(int b, int f, int m)
{
    if (b < f) {
        return 0;
    }
    if (b < m) {
        return 1;
    }
    return 2;
}

// Absolute ridge count of a link, with the type-0 corrections of slots 1 and 2.
bool linkRidgeCount(int type, int slot, int code, int& rc)
{
    if (!correctedRidgeCount(type, slot, code, rc)) {
        return false;
    }
    rc = std::abs(rc);
    return true;
}

// Ridge counts of the links that may join an unreliable pair, by minutia type (0 or 1), slot
// and code; -1 where the link cannot: an empty code, a same-direction link, a slot beyond the
// type's table or more than UNRELIABLE_MAX_RIDGES ridges between.
struct UnreliableRidges {
    std::int8_t rc[2][ESK::ESK_LINK_SLOTS][NUM_LINK_CODES];
};

const UnreliableRidges& unreliableRidges()
{
    static_assert(ESK::ESK_LINK_SLOTS <= NUM_SLOTS_B, "every slot has a quadrant");
    static const UnreliableRidges table = [] {
        UnreliableRidges t{};
        for (int type = 0; type < 2; ++type) {
            for (int slot = 0; slot < ESK::ESK_LINK_SLOTS; ++slot) {
                for (int code = 0; code < NUM_LINK_CODES; ++code) {
                    int rc = 0;
                    const bool joins = code != 0 && !slotSameDir(type, slot, code) &&
                                       linkRidgeCount(type, slot, code, rc) &&
                                       rc <= UNRELIABLE_MAX_RIDGES;
                    t.rc[type][slot][code] = static_cast<std::int8_t>(joins ? rc : -1);
                }
            }
        }
        return t;
    }();
    return table;
}

// The order in which an unreliable partner is chosen: the smallest distance, then the smallest
// ridge count (below 256), as one key.
inline int unreliableKey(const Matcher100::UnreliableLink& l)
{
    return l.distance * 256 + l.ridgeCount;
}

// Gathers into `out` the links of minutia i (of `type`, on a side of `count` minutiae) that
// may join an unreliable pair, and returns their number. They are kept in the order of choice:
// by key, and a later slot before an earlier one of the same key. Kept out of line: its caller
// is inlined where the gathered links are read, and gathers once per load.
[[gnu::noinline]] int gatherUnreliableLinks(const ESK::Link& links, int type, int i, int count,
                                            Matcher100::UnreliableLink* out)
{
    // A decoded minutia may carry any type its field width allows: all but 1 take row 0.
    const auto& ridges = unreliableRidges().rc[type == 1 ? 1 : 0];
    const int slots = links.count < ESK::ESK_LINK_SLOTS ? links.count : ESK::ESK_LINK_SLOTS;
    int num = 0;
    // rcRow walks the table's rows along the slots.
    const std::int8_t* rcRow = ridges[0];
    for (int k = 0; k < slots; ++k, rcRow += NUM_LINK_CODES) {
        // The tests are independent. A long link or an empty slot (code 0 joins nothing), which
        // make most slots, is refused by one branch.
        const int d = links.slot[k].distance;
        const unsigned code = links.slot[k].code;
        if ((d > UNRELIABLE_MAX_DISTANCE) | (code - 1u >= NUM_LINK_CODES - 1u)) {
            continue;
        }
        const int rc = rcRow[code];
        const int j = links.slot[k].neighbour;
        if (rc < 0 || j == i || j >= count) {
            continue;
        }
        // Inserted in front of the links of the same or a larger key, which all come from
        // earlier slots.
        const Matcher100::UnreliableLink l{static_cast<std::uint8_t>(j),
                                           static_cast<std::uint8_t>(d),
                                           static_cast<std::uint8_t>(rc)};
        const int key = unreliableKey(l);
        int at = num++;
        for (; at > 0 && unreliableKey(out[at - 1]) >= key; --at) {
            out[at] = out[at - 1];
        }
        out[at] = l;
    }
    return num;
}

// getBestUnreliablePair: the partner of minutia i on `side` (its gathered links in u, those
// already paired marked in visited) with the smallest distance, then the smallest ridge count,
// the later slot on a full tie. The links are gathered first when the side was loaded since.
// False, best -1, when none is left.
[[gnu::always_inline]] inline bool bestUnreliablePair(const Matcher100::UnreliableSide& side,
                                                      Matcher100::UnreliableLinks& u,
                                                      const std::uint8_t* visited, int i, int& best,
                                                      int& distance, int& ridgeCount)
{
    ZF_ASSERT(i >= 0 && i < MAX_NESTS);
    Matcher100::UnreliableLink* gathered = u.items[i];
    if (u.load[i] != u.loadStamp || u.loadStamp == 0) {
        const int num =
            gatherUnreliableLinks(side.links[i], side.minutiae[i].type, i, side.count, gathered);
        u.count[i] = static_cast<std::uint8_t>(num);
        u.load[i] = u.loadStamp;
    }
    // The links are in the order of choice: the first whose partner is free.
    const int n = u.count[i];
    for (int k = 0; k < n; ++k) {
        const Matcher100::UnreliableLink l = gathered[k];
        if (visited[l.neighbour] == 0) {
            best = l.neighbour;
            distance = l.distance;
            ridgeCount = l.ridgeCount;
            return true;
        }
    }
    best = -1;
    return false;
}

} // namespace

int getIndex(int value, const int* bounds, int n)
{
    if (value < bounds[0]) {
        return 0;
    }
    for (int i = 1; i <= n - 2; ++i) {
        if (bounds[i] > value) {
            return i;
        }
    }
    return n - 1;
}

int normalizeCorrectionProb(int a, int b)
{
    if (a >= 0) {
        return 0;
    }
    return b - a < 0 ? -b : a;
}

int correctFoundProb(std::uint8_t prob, int distance, int ridgeCount, int limit, const int* f)
{
    if (distance > UNRELIABLE_MAX_DISTANCE || ridgeCount >= limit / 128) {
        return prob;
    }
    const int band = distance <= 9 ? 0 : distance < 20 ? 1 : distance < 30 ? 2 : 3;
    return prob * 2048 / (f[band] + 1);
}

int correctNotFoundProb(std::uint8_t prob, int distance, int ridgeCount, int limit, const int* f)
{
    if (distance > UNRELIABLE_MAX_DISTANCE || ridgeCount >= limit / 128) {
        return prob;
    }
    if (distance <= 9) {
        return prob * 32 / (f[0] + 1);
    }
    if (distance < 20) {
        return prob * 32 / (f[1] + 1);
    }
    if (distance < 30) {
        return prob * 32 / (f[2] + 1);
    }
    return prob * 2048 / (f[3] + 1);
}

// Whether a minutia's probability is corrected: it belongs to an unreliable pair whose partner
// is matched or not found.
inline bool hasCorrectedProb(const MinData& md)
{
    return md.unreliable == UNRELIABLE_PARTNER_MATCHED ||
           md.unreliable == UNRELIABLE_PARTNER_NOT_MATCHED;
}

int correctProb(int prob, const MinData& md, const int* correction)
{
    const std::uint8_t p = static_cast<std::uint8_t>(prob);
    if (md.unreliable == UNRELIABLE_PARTNER_MATCHED) {
        return correctFoundProb(p, md.distance, md.ridgeCount, correction[4], correction);
    }
    if (md.unreliable == UNRELIABLE_PARTNER_NOT_MATCHED) {
        return correctNotFoundProb(p, md.distance, md.ridgeCount, correction[9], correction + 5);
    }
    return prob;
}

void calcProbs(MinData* md, int count, const int* correction, int threshold, int& firstGroupSize,
               int& mainGroupSize, int& numFound, int* sums, int& notFoundSum, int& numExcluded,
               int& numNotFound)
{
    firstGroupSize = mainGroupSize = numFound = 0;
    sums[0] = sums[1] = sums[2] = 0;
    notFoundSum = numExcluded = numNotFound = 0;
    int count1 = 0;
    int count2 = 0;
    int count3 = 0;
    int rawNotFound = 0;
    for (int i = 0; i < count; ++i) {
        MinData& d = md[i];
        const int p = d.probability;
        if (d.status == FS_NOT_FOUND) {
            if (p >= threshold) {
                rawNotFound += p;
            } else {
                d.status = FS_EXCLUDED;
            }
        }
        if (d.status == FS_EXCLUDED) {
            ++numExcluded;
            continue;
        }
        const int c = hasCorrectedProb(d) ? correctProb(p, d, correction) : p;
        switch (d.status) {
        case FS_FIRST:
            sums[0] += c;
            ++count1;
            break;
        case FS_MAIN:
            sums[1] += c;
            ++count2;
            break;
        case FS_REST:
            sums[2] += c;
            ++count3;
            break;
        case FS_NOT_FOUND:
            notFoundSum += c;
            ++numNotFound;
            break;
        default:
            ZF_ASSERT(d.status <= FS_NOT_FOUND);
        }
    }
    firstGroupSize = count1;
    mainGroupSize = count1 + count2;
    numFound = mainGroupSize + count3;
    if (notFoundSum > rawNotFound) {
        notFoundSum = rawNotFound;
    }
}

int calculateScore(const ScoreParameters& params, MinData* probe, MinData* gallery,
                   const int (*pgQ)[12][2], const int (*pg)[4][7], const int (*k)[17],
                   const int (*common)[2], const int (*pgBounds)[3], const int (*qBounds)[2],
                   const int (*upFP)[10], const int (*upFG)[10])
{
    const int T = params.calcScoreType;
    ZF_ASSERT(T < NUM_CALC_SCORE_TYPES);

    // 1. Corrected probability sums of both sides.
    int fP = 0, mP = 0, nFoundP = 0, sumsP[3], notFoundP = 0, exclP = 0, numNotFoundP = 0;
    int fG = 0, mG = 0, nFoundG = 0, sumsG[3], notFoundG = 0, exclG = 0, numNotFoundG = 0;
    calcProbs(probe, params.m_numNestP, upFP[T], common[T][0] / 128, fP, mP, nFoundP, sumsP,
              notFoundP, exclP, numNotFoundP);
    calcProbs(gallery, params.m_numNestG, upFG[T], common[T][1] / 128, fG, mG, nFoundG, sumsG,
              notFoundG, exclG, numNotFoundG);

    // 2. Both sides describe the same pairs.
    ZF_ASSERT(fP == fG && mP == mG && nFoundP == nFoundG);
    if (nFoundP == 0) {
        return 0;
    }

    // 3. Minutiae that count on each side.
    const int nP = params.m_numNestP - exclP;
    const int nG = params.m_numNestG - exclG;
    ZF_ASSERT(nP > 0 && nG > 0);
    const std::int64_t S = nP + nG;
    const std::int64_t fg = fP;
    const std::int64_t mg = mP - fP;
    const std::int64_t rs = nFoundP - mP;

    // 4. Rows by minutia count and quality.
    const int iPG = getIndex(nP < nG ? nP : nG, pgBounds[T], 4);
    int q = params.m_qualityP < params.m_qualityG ? params.m_qualityP : params.m_qualityG;
    if (q == 0) {
        q = 1;
    }
    const int iQ = getIndex(q, qBounds[T], 3);

    // 5. Constants of the row.
    const std::int64_t Q0 = pgQ[T][iPG * 3 + iQ][0];
    const std::int64_t Q1 = pgQ[T][iPG * 3 + iQ][1];
    const int* g = pg[T][iPG];
    const int* K = k[T];

    // 6. The terms.
    const std::int64_t topo0 = params.m_topologySim[0];
    const std::int64_t topo1 = params.m_topologySim[1];
    const std::int64_t topo2 = params.m_topologySim[2];
    const std::int64_t e0 = params.m_disrErrR[0];
    const std::int64_t e1 = params.m_disrErrR[1];
    const std::int64_t e2 = params.m_disrErrR[2];
    const std::int64_t t1 =
        static_cast<std::int64_t>(static_cast<double>(Q0 * topo0 * fg / S) /
                                  (1.0 + std::sqrt(static_cast<double>(e0))) * 0.5);
    const std::int64_t t2 =
        static_cast<std::int64_t>(static_cast<double>(g[0] * topo1 * mg / S) /
                                  (1.0 + std::sqrt(static_cast<double>(e1))) * 0.5);
    const std::int64_t t3 =
        static_cast<std::int64_t>(static_cast<double>(g[1] * topo2 * rs / S) /
                                  (1.0 + std::sqrt(static_cast<double>(e2))) * 0.5);
    const std::int64_t d1 = g[2] * e0 * fg / S;
    const std::int64_t d2 = g[3] * e1 * mg / S;
    const std::int64_t d3 = K[0] * e2 * rs / S;
    const std::int64_t AP =
        static_cast<std::int64_t>(sumsP[0]) + sumsP[1] + sumsP[2] + notFoundP + 1;
    const std::int64_t AG =
        static_cast<std::int64_t>(sumsG[0]) + sumsG[1] + sumsG[2] + notFoundG + 1;
    const std::int64_t bP1 = sumsP[0] * static_cast<std::int64_t>(K[1]) / AP;
    const std::int64_t bP2 = sumsP[1] * static_cast<std::int64_t>(g[4]) / AP;
    const std::int64_t bP3 = sumsP[2] * static_cast<std::int64_t>(g[5]) / AP;
    const std::int64_t bG1 = sumsG[0] * static_cast<std::int64_t>(K[2]) / AG;
    const std::int64_t bG2 = sumsG[1] * static_cast<std::int64_t>(K[3]) / AG;
    const std::int64_t bG3 = sumsG[2] * static_cast<std::int64_t>(K[4]) / AG;
    const std::int64_t a1 = K[6] * static_cast<std::int64_t>(params.m_minRelAngleErr[1]) * mg / S;
    const std::int64_t a2 = K[8] * static_cast<std::int64_t>(params.m_angleErr[0]) * fg / S;
    const std::int64_t a3 = K[10] * static_cast<std::int64_t>(params.m_angleErr[2]) * rs / S;
    const std::int64_t a4 = K[14] * static_cast<std::int64_t>(params.m_angleErr1[0]) * fg / S;
    const std::int64_t a5 = K[16] * static_cast<std::int64_t>(params.m_angleErr1[2]) * rs / S;

    // 7. The sum.
    std::int64_t score = t1 + t2 + t3 - d1 / 4 - d2 / 4 - d3 / 4 +
                         4 * (bP1 + bP2 + bP3 + bG1 + bG2 + bG3) - a1 / 16 - a2 / 4 - a3 / 32 -
                         a4 / 32 - a5 / 128 + 8 * static_cast<std::int64_t>(g[6]);

    // 8. Few found pairs scale the score down.
    if (nFoundP < Q1 / 8) {
        score = score * nFoundP * 8 / Q1;
    }

    // 9. Clamp.
    if (score < 0) {
        return 0;
    }
    return score > 10000 ? 10000 : static_cast<int>(score);
}

void printfParam(const ScoreParameters& p)
{
    std::printf("\n");
    std::printf("m_qualityP                 = %d\n", p.m_qualityP);
    std::printf("m_qualityG                 = %d\n", p.m_qualityG);
    std::printf("m_disrErrR       = %3d %3d %3d\n", p.m_disrErrR[0], p.m_disrErrR[1],
                p.m_disrErrR[2]);
    std::printf("m_minRelAngleErr = %3d %3d %3d\n", p.m_minRelAngleErr[0], p.m_minRelAngleErr[1],
                p.m_minRelAngleErr[2]);
    std::printf("m_angleErr       = %3d %3d %3d\n", p.m_angleErr[0], p.m_angleErr[1],
                p.m_angleErr[2]);
    std::printf("m_angleErr1      = %3d %3d %3d\n", p.m_angleErr1[0], p.m_angleErr1[1],
                p.m_angleErr1[2]);
    std::printf("m_relAngleErr    = %3d %3d %3d\n", p.m_relAngleErr[0], p.m_relAngleErr[1],
                p.m_relAngleErr[2]);
    std::printf("m_topologySim    = %3d %3d %3d\n", p.m_topologySim[0], p.m_topologySim[1],
                p.m_topologySim[2]);
    std::printf("m_numNestP                 = %d\n", p.m_numNestP);
    std::printf("m_numNestG                 = %d\n", p.m_numNestG);
    std::printf("\n");
}

// ---- the matcher's side: preparing the parameter block ----

int Matcher100::calcScore(CalcScoreTypeEnum type)
{
    prepareScoreParameters(type);
    return calculateScore();
}

int Matcher100::calculateScore()
{
    return accelMatch::calculateScore(m_scoreParams, m_minDataP, m_minDataG, g_k_score_pg_q,
                                      g_k_score_pg, g_k_score, g_k_score_common,
                                      g_k_score_pg_bounds, g_k_score_q_bounds, g_k_score_up_f_p,
                                      g_k_score_up_f_g);
}

void Matcher100::prepareScoreParameters(CalcScoreTypeEnum type)
{
    ZF_ASSERT(m_curGroup != nullptr);
    // 1. The block, and the group's first, main and whole sizes (f <= m <= n).
    std::memset(&m_scoreParams, 0, sizeof m_scoreParams);
    m_scoreParams.calcScoreType = static_cast<std::uint8_t>(type);
    GroupEx& g = *m_curGroup;
    const int n = static_cast<int>(g.getNumItems());
    int f = static_cast<int>(g.m_kernelSize);
    int m = static_cast<int>(g.m_baseSize);
    f = f > n ? n : f;
    m = m > n ? n : (m < f ? f : m);
    // 2. to 6.
    calcTopologySim(f, m, n);
    findExclude();
    fillMinutiaesData();
    m_scoreParams.m_numNestP = static_cast<std::uint8_t>(m_numNestP);
    m_scoreParams.m_numNestG = static_cast<std::uint8_t>(m_numNestG);
    m_scoreParams.m_qualityP = m_qualityP;
    m_scoreParams.m_qualityG = m_qualityG;
    calcPairDif(f, m, n, nullptr);
    calcPairRelAngleDif(f, m, n, nullptr);
}

void Matcher100::calcTopologySim(int f, int m, int n)
{
    GroupEx& g = *m_curGroup;
    g.recalcData();
    // The group stays as it is through its comparisons: its partner tables are made once.
    makeFinalPartners();
    std::int64_t sum[NUM_SCORE_CLASSES] = {};
    int count[NUM_SCORE_CLASSES] = {};
    for (int k = 0; k < n; ++k) {
        const PairEx2 pair = g.getPair(k);
        int s = 0;
        if (pair.transition <= MPT && isTransitionPossible(pair.np, pair.ng, pair.transition)) {
            if (pair.transition <= 8) {
                compNestsFinalMade(pair.np, pair.ng, pair.transition);
                s = m_scratchHit.m_sim;
            } else {
                for (Transition t = 0; t < NUM_CACHED_TRANSITIONS; ++t) {
                    if (isTransitionPossible(pair.np, pair.ng, t)) {
                        compNestsFinalMade(pair.np, pair.ng, t);
                        if (m_scratchHit.m_sim > s) {
                            s = m_scratchHit.m_sim;
                        }
                    }
                }
            }
        }
        const int c = k < f ? 0 : (k >= m ? 2 : 1);
        sum[c] += s;
        ++count[c];
    }
    for (int c = 0; c < NUM_SCORE_CLASSES; ++c) {
        m_scoreParams.m_topologySim[c] =
            static_cast<std::uint16_t>(count[c] == 0 ? 0 : sum[c] / count[c]);
    }
}

void Matcher100::calcPairDif(int f, int m, int n, int* /*unused*/)
{
    GroupEx& g = *m_curGroup;
    ZF_ASSERT(n <= GROUP_CAPACITY);
    // The group's pairs as the loops read them: minutiae, quality weight, angles, and the
    // gallery position carried into the probe frame.
    struct Item {
        int np;
        int ng;
        int weight;
        int angP;
        int angG;
        int x;
        int y;
    };
    Item items[GROUP_CAPACITY];
    for (int k = 0; k < n; ++k) {
        const PairEx2& p = g.getPair(k);
        items[k] = Item{p.np,
                        p.ng,
                        m_qualityWeightP[p.np] + m_qualityWeightG[p.ng],
                        m_minutiaeP[p.np].angle,
                        m_minutiaeG[p.ng].angle,
                        m_carriedG[p.ng].x,
                        m_carriedG[p.ng].y};
    }
    struct Sums {
        std::int64_t r = 0;
        std::int64_t a1 = 0;
        std::int64_t a2 = 0;
        std::int64_t rot = 0;
        std::int64_t w = 0;
    };
    Sums sums[NUM_SCORE_CLASSES];
    const int shortLen = 2 * m_distUnit;
    // Pair (a, b) takes the class of b: b below f, below m, or the rest.
    const int classEnd[NUM_SCORE_CLASSES] = {f, m, n};
    for (int a = 0; a < n; ++a) {
        const Item& A = items[a];
        int b = a + 1;
        for (int c = 0; c < NUM_SCORE_CLASSES; ++c) {
            Sums s; // the class's sums for this a, kept apart from the others
            for (; b < classEnd[c]; ++b) {
                const Item& B = items[b];
                // 1. and 2. Lengths, short pairs saying nothing, and weight.
                const int lP = m_pairSetP.getLen(B.np, A.np);
                const int lG = m_pairSetG.getLen(B.ng, A.ng);
                if ((lP > lG ? lP : lG) < shortLen) {
                    continue;
                }
                const int w = A.weight + B.weight;
                // 3. Directions, and the gallery distance carried into the probe frame.
                const int dP = m_pairSetP.getAngle(B.np, A.np);
                const int dG = m_pairSetG.getAngle(B.ng, A.ng);
                const int dCarried = roundedLength(A.x - B.x, A.y - B.y);
                // 4. Angle errors.
                const int rot = wrap180Near(dP - dG - g.m_rotation);
                const int a1 = wrap180Near((B.angP - A.angP) - (B.angG - A.angG));
                const int a2 = wrap180Near((dP - B.angP) - (dG - B.angG));
                // 5. Relative length error, weighted.
                const int den = dCarried > lP ? dCarried : lP;
                s.r += den == 0
                           ? 0
                           : static_cast<std::int64_t>(std::abs(lP - dCarried) * 100 / den) * w;
                // 6. Sums of the pair's class.
                s.a1 += static_cast<std::int64_t>(w) * (std::abs(a1) / 2);
                s.a2 += static_cast<std::int64_t>(w) * std::abs(a2);
                s.rot += static_cast<std::int64_t>(w) * std::abs(rot);
                s.w += w;
            }
            sums[c].r += s.r;
            sums[c].a1 += s.a1;
            sums[c].a2 += s.a2;
            sums[c].rot += s.rot;
            sums[c].w += s.w;
        }
    }
    // 7. Means.
    for (int c = 0; c < NUM_SCORE_CLASSES; ++c) {
        const std::int64_t W = sums[c].w + 1;
        m_scoreParams.m_disrErrR[c] = clamp255(3 * sums[c].r / W);
        m_scoreParams.m_minRelAngleErr[c] = clamp255(4 * sums[c].a1 / W);
        m_scoreParams.m_angleErr[c] = clamp255(sums[c].rot / W);
        m_scoreParams.m_angleErr1[c] = clamp255(sums[c].a2 / W);
    }
}

void Matcher100::calcPairRelAngleDif(int f, int m, int n, int* /*unused*/)
{
    GroupEx& g = *m_curGroup;
    std::int64_t sumE[NUM_SCORE_CLASSES] = {};
    std::int64_t sumW[NUM_SCORE_CLASSES] = {};
    const int lo = 2 * m_distUnit;
    const int hiAB = 20 * m_distUnit;
    const int hiAC = 10 * m_distUnit;
    // Sides from pair a to every later pair x, read once per a: the longer of the two lengths,
    // the probe direction less the gallery one (where a side may serve), and the quality weight
    // of x.
    struct Side {
        int len;
        int dir;
        int weight;
    };
    Side side[GROUP_CAPACITY];
    int shortSides[GROUP_CAPACITY]; // the later pairs whose side may serve as (a, c), in order
    // The group's minutiae and quality weights, read once.
    ZF_ASSERT(n <= GROUP_CAPACITY);
    std::int16_t np[GROUP_CAPACITY];
    std::int16_t ng[GROUP_CAPACITY];
    int weight[GROUP_CAPACITY];
    for (int k = 0; k < n; ++k) {
        const PairEx2& p = g.getPair(k);
        np[k] = p.np;
        ng[k] = p.ng;
        weight[k] = m_qualityWeightP[p.np] + m_qualityWeightG[p.ng];
    }
    for (int a = 0; a < n; ++a) {
        int numShort = 0;
        for (int x = a + 1; x < n; ++x) {
            Side& sx = side[x];
            sx.len = std::max(m_pairSetP.getLen(np[a], np[x]), m_pairSetG.getLen(ng[a], ng[x]));
            if (sx.len < lo || sx.len > hiAB) {
                continue;
            }
            sx.dir = m_pairSetP.getAngle(np[a], np[x]) - m_pairSetG.getAngle(ng[a], ng[x]);
            sx.weight = weight[x];
            if (sx.len <= hiAC) {
                shortSides[numShort++] = x;
            }
        }
        const int wA = weight[a];
        int from = 0; // first short side after b
        for (int b = a + 1; b < n; ++b) {
            while (from < numShort && shortSides[from] <= b) {
                ++from;
            }
            // 1. The side (a, b) must be neither short nor long.
            const Side& ab = side[b];
            if (ab.len < lo || ab.len > hiAB) {
                continue;
            }
            const int wAB = wA + ab.weight;
            const int c = pairClass(b, f, m);
            for (int q = from; q < numShort; ++q) {
                const Side& ac = side[shortSides[q]];
                // 2. The angle at A on both sides, (ab.P - ac.P) - (ab.G - ac.G), wrapped once.
                int e = ab.dir - ac.dir;
                if (e >= 180) {
                    e -= 360;
                } else if (e < -180) {
                    e += 360;
                }
                // 3. Weighted sums of the class of (a, b).
                const int w = wAB + ac.weight;
                sumE[c] += static_cast<std::int64_t>(w) * std::abs(e);
                sumW[c] += w;
            }
        }
    }
    // 4. Means.
    for (int c = 0; c < NUM_SCORE_CLASSES; ++c) {
        m_scoreParams.m_relAngleErr[c] = clamp255(2 * sumE[c] / (sumW[c] + 1));
    }
}

void Matcher100::fillMinutiaeData(MinData& md, FOUND_STATUS status, unsigned short probability)
{
    md.status = status;
    md.probability = static_cast<std::uint8_t>(probability);
}

void Matcher100::fillMinutiaesData()
{
    std::memset(m_minDataP, 0, sizeof m_minDataP);
    std::memset(m_minDataG, 0, sizeof m_minDataG);
    fillFoundMinutiaesData();
    fillNotFoundMinutiaesData();
    fillUnreliableMinutiaesData();
}

void Matcher100::fillFoundMinutiaeData(unsigned item, FOUND_STATUS status)
{
    const PairEx2 pair = m_curGroup->getPair(item);
    fillMinutiaeData(m_minDataP[pair.np], status, m_qualityWeightP[pair.np]);
    fillMinutiaeData(m_minDataG[pair.ng], status, m_qualityWeightG[pair.ng]);
}

void Matcher100::fillFoundMinutiaesData()
{
    const GroupEx& g = *m_curGroup;
    const unsigned n = g.getNumItems();
    const unsigned f = g.m_kernelSize < n ? g.m_kernelSize : n;
    const unsigned m = g.m_baseSize < n ? (g.m_baseSize < f ? f : g.m_baseSize) : n;
    for (unsigned k = 0; k < n; ++k) {
        fillFoundMinutiaeData(k, k < f ? FS_FIRST : (k < m ? FS_MAIN : FS_REST));
    }
    m_numFound = static_cast<int>(n);
}

void Matcher100::fillNotFoundMinutiaesData()
{
    m_numExcludedP = 0;
    m_numExcludedG = 0;
    for (int side = 0; side < 2; ++side) {
        const bool isP = side == 0;
        const int count = isP ? m_numNestP : m_numNestG;
        const int* marks = isP ? m_inGroupP : m_inGroupG;
        const std::uint8_t* excluded = isP ? m_excludeP : m_excludeG;
        const std::uint16_t* weights = isP ? m_qualityWeightP : m_qualityWeightG;
        const MinutiaeShort* carried = isP ? m_carriedP : m_carriedG;
        const ESK::Sign* others = isP ? m_minutiaeG : m_minutiaeP;
        const int otherCount = isP ? m_numNestG : m_numNestP;
        MinData* md = isP ? m_minDataP : m_minDataG;
        int& numExcluded = isP ? m_numExcludedP : m_numExcludedG;
        AreaPoints pts;
        fillAreaPoints(others, otherCount, pts);
        for (int i = 0; i < count; ++i) {
            if (marks[i] != 0 || md[i].status != FS_EXCLUDED) {
                continue; // in the group
            }
            if (excluded[i] != 0) {
                fillMinutiaeData(md[i], FS_EXCLUDED, weights[i]);
                ++numExcluded;
            } else {
                const int area = areaProb(pts, carried[i].x, carried[i].y);
                fillMinutiaeData(
                    md[i], FS_NOT_FOUND,
                    static_cast<unsigned short>(weights[i] < area ? weights[i] : area));
            }
        }
    }
}

int Matcher100::estimateNotFoundAreaProb(int x, int y, const ESK::Lot<short>* others, int count)
{
    AreaPoints pts;
    fillAreaPoints(others, count, pts);
    return areaProb(pts, x, y);
}

void Matcher100::fillUnreliableMinutiaesData()
{
    findAllUnreliablePairs(m_minutiaeP, m_linksP, m_inGroupP, m_numNestP, m_excludeP, m_minDataP,
                           true);
    findAllUnreliablePairs(m_minutiaeG, m_linksG, m_inGroupG, m_numNestG, m_excludeG, m_minDataG,
                           false);
}

std::uint8_t Matcher100::getUnreliableStatus(const UnreliableSide& side, int partner) const
{
    if (side.marks[partner] != 0) {
        return UNRELIABLE_PARTNER_MATCHED;
    }
    return side.excluded[partner] != 0 ? UNRELIABLE_PARTNER_EXCLUDED
                                       : UNRELIABLE_PARTNER_NOT_MATCHED;
}

void Matcher100::fillUnreliablePairData(const UnreliableSide& side, int a, int b, int distance,
                                        int ridgeCount)
{
    MinData& da = side.md[a];
    MinData& db = side.md[b];
    da.unreliable = getUnreliableStatus(side, b);
    db.unreliable = getUnreliableStatus(side, a);
    da.distance = db.distance = static_cast<std::uint8_t>(distance);
    da.ridgeCount = db.ridgeCount = static_cast<std::uint8_t>(ridgeCount);
}

void Matcher100::findUnreliablePairs(const UnreliableSide& side, int i)
{
    ZF_ASSERT(side.index == 0 || side.index == 1);
    UnreliableLinks& links = m_unreliableLinks[side.index];
    // Follows the chain of best partners from i until a mutual pair or a dead end.
    for (;;) {
        int j = -1, dj = 0, rj = 0;
        if (!bestUnreliablePair(side, links, m_unreliableVisited, i, j, dj, rj)) {
            return;
        }
        int k = -1, dk = 0, rk = 0;
        if (!bestUnreliablePair(side, links, m_unreliableVisited, j, k, dk, rk) || k == i) {
            fillUnreliablePairData(side, i, j, dj, rj);
            m_unreliableVisited[i] = 1;
            m_unreliableVisited[j] = 1;
            return;
        }
        fillUnreliablePairData(side, j, k, dk, rk);
        m_unreliableVisited[j] = 1;
        m_unreliableVisited[k] = 1;
    }
}

void Matcher100::findAllUnreliablePairs(const ESK::Lot<short>* minutiae, const ESK::Link* links,
                                        const int* marks, int count, const std::uint8_t* excluded,
                                        MinData* md, bool isProbe)
{
    const UnreliableSide side{minutiae, links, marks, excluded, md, count, isProbe ? 0 : 1};
    std::memset(m_unreliableVisited, 0, sizeof m_unreliableVisited);
    for (int i = 0; i < count; ++i) {
        if (m_unreliableVisited[i] == 0 && excluded[i] == 0) {
            findUnreliablePairs(side, i);
        }
    }
}

} // namespace accelMatch
