// Stage 5, Pickup: the foreground marks (layer 128 of level 3: bit value 2 foreground, 4 filled
// hole) and the image quality 0..100. Each cell's quality comes from how consistently the ridge
// directions (32) weighted by contrast (114) agree in eight sectors around it, on rings of
// radius 4 down to 1; the foreground grows from the best cells and enclosed holes are filled.
// Work layers 240 and 241 are deleted at the end. Throws only what stages 2 to 4 throw.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace {

constexpr int PICKUP_STAGE = 5;
constexpr int LEVEL = 3;
constexpr int FORE = 2;
constexpr int HOLE = 4;
constexpr int NO_ORDER = 400; // disorder of a cell without contrast

// Tuning values: foreground threshold of each mode (percent of the pass's best cell), largest
// ring radius, and the weights and limit of the disorder value.
constexpr int THRESHOLD_NORMAL = 54;
constexpr int THRESHOLD_QUICK = 40;
constexpr int WHIRL = 4;
constexpr int DISORDER_DEV = 3;
constexpr int DISORDER_PAIRS = 8;
constexpr int DISORDER_LIMIT = 370;

// The octant ((d + 22) / 45) & 7 of every angle difference d = -360..359 (d + 360 taken for
// a negative d), nearest 45 degrees first, at v[d + 360].
struct OctantTable {
    unsigned char v[720];
};
constexpr OctantTable MakeOctants()
{
    OctantTable t{};
    for (int d = -360; d < 360; ++d) {
        t.v[d + 360] = static_cast<unsigned char>((((d < 0 ? d + 360 : d) + 22) / 45) & 7);
    }
    return t;
}
constexpr OctantTable kOctant = MakeOctants();
static_assert(kOctant.v[360 + 22] == 0 && kOctant.v[360 + 23] == 1 && kOctant.v[360 + 337] == 7 &&
              kOctant.v[360 + 338] == 0 && kOctant.v[360 + 359] == 0 && kOctant.v[360 - 1] == 0 &&
              kOctant.v[360 - 22] == 0 && kOctant.v[360 - 23] == 7 && kOctant.v[0] == 0);

} // namespace

int PiStrengthScalar(const int* cosSum, const int* sinSum, const int* wSum)
{
    int sum = 0;
    for (int k = 0; k < 8; ++k) {
        if (wSum[k] != 0) {
            const int xs = cosSum[k] / wSum[k];
            const int ys = sinSum[k] / wSum[k];
            sum += sqri(ys * ys + xs * xs);
        }
    }
    return sum;
}

#if defined(__SSE2__)
// Two sectors at a time in double precision. An int32 quotient a / b that is not a whole number
// lies at least 1 / |b| from one, and the division's error, at most |a / b| 2^-53, is far below
// that, so that the truncated double is the integer quotient. The root of n = xs^2 + ys^2 (exact
// in a double) up to 65024 is TabSqr's, round(sqrt n): sqrt n lies at least 1 / 2048 from a
// half, far beyond the error of the rounded square root, so that sqrt n + 1/2 truncates to it
// without the table's read; larger n (means beyond 255, rare) take sqri.
int PiStrength(const int* cosSum, const int* sinSum, const int* wSum)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi32(1);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d tableEnd = _mm_set1_pd(65024.0);
    __m128i total = zero;
    int beyondSum = 0;
    for (int k = 0; k < 8; k += 2) {
        const auto two = [k](const int* p) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + k));
        };
        const __m128i w = two(wSum);
        const __m128i empty = _mm_cmpeq_epi32(w, zero);
        const __m128d divisor =
            _mm_cvtepi32_pd(_mm_or_si128(_mm_andnot_si128(empty, w), _mm_and_si128(empty, one)));
        const __m128i xs = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(two(cosSum)), divisor));
        const __m128i ys = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(two(sinSum)), divisor));
        const __m128d xd = _mm_cvtepi32_pd(xs);
        const __m128d yd = _mm_cvtepi32_pd(ys);
        const __m128d n = _mm_add_pd(_mm_mul_pd(yd, yd), _mm_mul_pd(xd, xd));
        const __m128i root = _mm_cvttpd_epi32(_mm_add_pd(_mm_sqrt_pd(n), half));
        const __m128d beyond = _mm_cmpgt_pd(n, tableEnd);
        // The 64-bit lane masks as the 32-bit lanes 0 and 1 of the roots.
        const __m128i beyond32 =
            _mm_shuffle_epi32(_mm_castpd_si128(beyond), _MM_SHUFFLE(3, 3, 2, 0));
        total = _mm_add_epi32(total, _mm_andnot_si128(_mm_or_si128(empty, beyond32), root));
        const int lanes = _mm_movemask_pd(beyond);
        for (int j = 0; j < 2; ++j) {
            if ((lanes >> j & 1) != 0 && wSum[k + j] != 0) {
                const int x = cosSum[k + j] / wSum[k + j];
                const int y = sinSum[k + j] / wSum[k + j];
                beyondSum += sqri(y * y + x * x);
            }
        }
    }
    return _mm_cvtsi128_si32(total) + _mm_cvtsi128_si32(_mm_srli_si128(total, 4)) + beyondSum;
}
#else
int PiStrength(const int* cosSum, const int* sinSum, const int* wSum)
{
    return PiStrengthScalar(cosSum, sinSum, wSum);
}
#endif

// Quality of cell i on the ring of `radius`: layer 241 (qual) and the disorder value of the
// cell, from the directions (32) and contrasts (114) around it. The rings of the passes are the
// leading points of one list, so that the first pass keeps the sums of the later ones in nest.
void Codex::PiQual(int i, int radius, bool first, int low, SSectorSums* nest,
                   std::int16_t* disorder, const unsigned char* marks, unsigned char* dir,
                   unsigned char* con, unsigned char* qual)
{
    if ((marks[i] & (FORE | HOLE)) != 0) {
        return;
    }
    // 1. No contrast.
    const int c = con[i];
    if (c < 7) {
        qual[i] = static_cast<unsigned char>(c);
        disorder[i] = NO_ORDER;
        return;
    }
    // 2.-3. Sector sums and directions.
    const int w = m_level[LEVEL].width;
    WalkAt(i % w, i / w, LEVEL, dir, dir, con);
    if (first) {
        std::memset(m_cosSum, 0, sizeof m_cosSum);
        std::memset(m_sinSum, 0, sizeof m_sinSum);
        std::memset(m_wSum, 0, sizeof m_wSum);
        SectorRingNest(LEVEL, radius, low, 1, nest);
    } else {
        const SSectorSums& kept = nest[radius - low];
        std::memcpy(m_cosSum, kept.cos, sizeof m_cosSum);
        std::memcpy(m_sinSum, kept.sin, sizeof m_sinSum);
        std::memcpy(m_wSum, kept.w, sizeof m_wSum);
        RingOffsets(LEVEL, radius, 1, [](int, std::int32_t) {}); // the walk ends as the ring's
    }
    int a[8];
    Targum(m_cosSum, m_sinSum, a, dir + i);
    // 4.-6. Sector strengths and the disorder of the cell's own direction o. The direction
    // and the sector directions (half-turn angles or a direction byte) lie in 0..255, so their
    // distance needs no reduction: it is the size of their folded difference.
    const int o = dir[i];
    const int sum = PiStrength(m_cosSum, m_sinSum, m_wSum);
    int pairs = 0;
    int dev = 0;
    int f[8];
    for (int k = 0; k < 8; ++k) {
        f[k] = Fold(o - a[k]);
        const int e = f[k] < 0 ? -f[k] : f[k]; // DistIn(o, a[k])
        dev = e > dev ? e : dev;
    }
    for (int k = 0; k < 4; ++k) {
        int s = f[k] + f[k + 4];
        s = s < 0 ? -s : s;
        pairs = s > pairs ? s : pairs;
    }
    const int d = DISORDER_PAIRS * pairs + DISORDER_DEV * dev;
    disorder[i] = static_cast<std::int16_t>(d);
    // 7. Quality, capped by the contrast.
    int t = d * 90 / DISORDER_LIMIT;
    t = t < 0 ? 0 : t > 90 ? 90 : t;
    const int q = Descale13(TabSig[90 - t] * sum) / 8;
    qual[i] = static_cast<unsigned char>(q < c ? q : c);
    if (qual[i] > m_piBest) {
        m_piBest = qual[i];
    }
}

// Foreground growth at interior cell i: a good enough cell joins when it touches the
// foreground (in the first pass, without that condition). Returns whether it joined. The marks
// (128), the cell qualities (241) and the work layer 240 are the caller's.
bool Codex::PiFlow(int i, bool first, int threshold, unsigned char* marks,
                   const unsigned char* qual, unsigned char* l240)
{
    if ((marks[i] & (FORE | HOLE)) != 0 || qual[i] < threshold) {
        return false;
    }
    bool join = first;
    for (int d = 0; d < 8 && !join; ++d) {
        join = (marks[i + m_level[LEVEL].step[d]] & FORE) != 0;
    }
    if (join) {
        marks[i] |= FORE;
        l240[i] = 0;
    }
    return join;
}

// Hole filling at interior cell i: enclosed, ordered cells become filled. A cell is enclosed
// when ring points of an earlier sweep's foreground (work layer 240 below the sweep) lie in two
// opposite octants of their angle relative to the cell's direction. Only an ordered cell needs
// its ring's points; the others still move the walk as the ring does.
void Codex::PiRingV(int i, int radius, const std::int16_t* disorder, unsigned char* marks,
                    const unsigned char* dir, unsigned char* l240)
{
    if ((marks[i] & (FORE | HOLE)) != 0) {
        return;
    }
    const int w = m_level[LEVEL].width;
    WalkAt(i % w, i / w, LEVEL, nullptr, l240);
    if (disorder[i] >= DISORDER_LIMIT) {
        RingOffsets(LEVEL, radius, 1, [](int, std::int32_t) {});
        return;
    }
    const unsigned char* centre = l240 + i;
    // A direction byte, so angle - own lies above -360: the octants of angle - own from angle.
    const unsigned char* const octantOf = kOctant.v + 360 - dir[i];
    const int sweep = m_piSweep;
    // Bit k set when octant k holds a point: an OR per point instead of a jump and a count.
    unsigned octants = 0;
    RingOffsets(
        LEVEL, radius, 1, [&](int angle, std::int32_t off) __attribute__((always_inline)) {
            octants |= (centre[off] < sweep ? 1u : 0u) << octantOf[angle];
        });
    if ((octants & (octants >> 4) & 15u) == 0) { // no two opposite octants
        return;
    }
    marks[i] |= HOLE;
    l240[i] = static_cast<unsigned char>(m_piSweep);
}

int Codex::Pickup(int)
{
    // 1. Tuning values.
    const bool quick = m_quick != 0;
    const int thres = quick ? THRESHOLD_QUICK : THRESHOLD_NORMAL;
    // 2.-3. Pull, stage discipline, layers.
    if (GetKey(114, LEVEL) == -1) {
        Cohere(-1);
    }
    m_stage = PICKUP_STAGE;
    OldLay(PICKUP_STAGE);
    m_curLevel = LEVEL;
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const std::size_t n3 = static_cast<std::size_t>(w) * h;
    m_winLeft = 0;
    m_winTop = 0;
    m_winRight = w - 1;
    m_winBottom = h - 1;
    unsigned char* marks = GetLay(128, LEVEL);
    unsigned char* l240 = GetLay(240, LEVEL);
    unsigned char* l241 = GetLay(241, LEVEL);
    unsigned char* con = GetLay(114, LEVEL);
    unsigned char* dir = GetLay(32, LEVEL);
    if (marks == nullptr || l240 == nullptr || l241 == nullptr || con == nullptr ||
        dir == nullptr) {
        m_error = WZ_NO_LAYER;
        throw WZ_NO_LAYER;
    }
    std::memset(marks, 0, n3);
    std::memset(l240, 255, n3);
    // Disorder values per ring radius 1..4, in work planes 1 and 3.
    std::int16_t* disorder[5] = {nullptr, Plane(1), Plane(1) + n3, Plane(3), Plane(3) + n3};
    // Visits the interior cells in raster order.
    auto interior = [w, h](auto visit) {
        for (int y = 1; y <= h - 2; ++y) {
            for (int x = 1; x <= w - 2; ++x) {
                visit(static_cast<std::size_t>(y) * w + x);
            }
        }
    };
    // 4. Passes from the widest ring down. The first pass visits every cell and keeps the
    //    sector sums of the smaller rings for the later passes.
    const int first = quick ? 3 : WHIRL;
    const int last = quick ? 0 : 1;
    const std::size_t depth = static_cast<std::size_t>(first - last);
    std::unique_ptr<SSectorSums[]> nest(new SSectorSums[n3 * depth]);
    for (int r = first; r >= last; --r) {
        m_piBest = quick ? thres : 0;
        std::int16_t* dis = disorder[quick ? r + 1 : r];
        // Marked cells are passed over here as the cell functions would pass them.
        for (std::size_t i = 0; i < n3; ++i) {
            if ((marks[i] & (FORE | HOLE)) == 0) {
                PiQual(static_cast<int>(i), r, r == first, last, nest.get() + i * depth, dis, marks,
                       dir, con, l241);
            }
        }
        const int threshold = thres * m_piBest / 100;
        for (bool changed = true; changed;) {
            changed = false;
            interior([&](std::size_t i) {
                changed = ((marks[i] & (FORE | HOLE)) == 0 &&
                           PiFlow(static_cast<int>(i), r == first, threshold, marks, l241, l240)) ||
                          changed;
            });
        }
    }
    // 5. Hole filling with radii 1, 2, 3, 4, 3, 2, 1.
    m_piSweep = 1;
    for (int k = 1; k <= 2 * WHIRL - 1; ++k) {
        const int radius = k <= WHIRL ? k : 2 * WHIRL - k;
        interior([&](std::size_t i) {
            if ((marks[i] & (FORE | HOLE)) == 0) {
                PiRingV(static_cast<int>(i), radius, disorder[radius], marks, dir, l240);
            }
        });
        ++m_piSweep;
    }
    // 6. Work layers.
    DelLay(240, LEVEL);
    DelLay(241, LEVEL);
    // 7.-8. Contrast share of the foreground.
    std::int64_t f = 1;
    std::int64_t g = 1;
    interior([&](std::size_t i) { ((marks[i] & FORE) != 0 ? f : g) += con[i]; });
    m_quality = static_cast<std::uint32_t>(f / ((f + g) / 100 + 1));
    Resume();
    return static_cast<int>(m_quality);
}

} // namespace wizard73
