// Stage 14, Furiew: the ridge period energies. Layer 1 is smoothed along the curved ridge line
// (36, 48, 49), its gradients (work planes 0, 2, 4) give a weight (242) per level-0 pixel and,
// where it is not 0, a direction (241), and every block of the asked level keeps its most
// energetic profile across the flow as 14 channels (64..77; channel k = period code k + 4,
// quick k + 2), spread across the flow and averaged up to level 3. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Roots.h"
#include "extraction/engine/RankNine.h"
#include "extraction/engine/RankRow.h"
#include "extraction/engine/WalkRecord.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace {

constexpr int FURIEW_STAGE = 14;
constexpr int FLOW_LEVEL = 3;
constexpr int SINGULAR_MASK = 11;
constexpr int CHANNELS = 14;
constexpr int BINS = 18;
// Slots of a profile's bins: the bins, the sink of steps beyond them (bin BINS) and zeros up to
// a whole number of vector lanes, so that the energy sum runs over all of them.
constexpr int BIN_SLOTS = 24;
constexpr int MAX_LENGTH = 254;   // longest row of the end-point table
constexpr int PROFILE_STEPS = 19; // the longest profile walk (17 steps) and its closing zero step

// First channel that a spread value reaches at distance n (index), normal and quick mode;
// -1 stops the spreading.
constexpr int kReach[2][11] = {
    {0, 0, 0, 0, 2, 4, 6, 8, 10, 12, -1},
    {0, 0, 2, 4, 6, 8, 10, 12, -1, -1, -1},
};

using FuBytes = std::uint8_t __attribute__((vector_size(8)));
using FuShorts = std::int16_t __attribute__((vector_size(16)));
using FuWords = std::uint16_t __attribute__((vector_size(16)));
// The fourteen channels of one level pixel in byte lanes 0..13 (lanes 14 and 15 stay 0).
using FuLanes = std::uint8_t __attribute__((vector_size(16)));

bool Inside(int x, int y, const CLevel& lv)
{
    return x >= 0 && y >= 0 && x < lv.width && y < lv.height;
}

// The axial distance in degrees 0..180 of two half-turn direction bytes, by their difference
// t + 255: |2t| folded to 0..180.
constexpr int FoldedDistance(int t)
{
    const int d = t < 0 ? -2 * t : 2 * t;
    return d > 179 ? 360 - d : d;
}

// Weights by rank of the ridge-line samples: nine in normal mode, five in quick mode.
constexpr int kFive[5] = {1, 1, 4, 1, 1};

// What the energy profile of one direction needs of its walk: step offsets, distance bins
// and reach.
struct ProfileShape {
    bool known = false;
    const SStep* walked = nullptr; // the walk itself (its positions for the edges)
    int steps = 0;
    int reachX = 0;
    int reachY = 0;
    // A bound of a profile's energy per squared bin magnitude: its distinct bins that the
    // energy counts, each by its factor.
    int weight = 0;
    // A step's offset both ways and its bin, all three a load of one record.
    struct Step {
        std::ptrdiff_t off;
        std::ptrdiff_t back; // -off, the step the other way
        std::ptrdiff_t bin;
    };
    Step walk[PROFILE_STEPS];
    // Normal mode: the steps that are the first to reach their bin (a plain store) and those
    // that reach a bin an earlier step reached (the update rule), each in walk order.
    struct Steps {
        int count = 0;
        Step at[PROFILE_STEPS];
        int upTo[PROFILE_STEPS + 1]; // how many of them lie among the walk's first n steps
    };
    Steps first;
    Steps again;
};

// The offsets in level 0 of the pixels of nonzero weight of the nx x ny block at (x0, y0) into
// px in raster order, and their count; heavy is the first of the heaviest. Side is nx = ny when
// not 0 (its loops then unrolled). Every pixel of the block is written to px[count] before it
// is counted, so px has room for the whole block.
template <int Side>
int BlockPixels(const unsigned char* gw, int W0, int x0, int y0, int nx, int ny, std::ptrdiff_t* px,
                int& heavy)
{
    const int w = Side != 0 ? Side : nx;
    const int h = Side != 0 ? Side : ny;
    int count = 0;
    int heaviest = 0;
    std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y0) * W0 + x0;
    if (Side == 2) {
        // Both rows of a 2 x 2 block at once: most blocks outside the print have no weight.
        std::uint16_t top;
        std::uint16_t bottom;
        std::memcpy(&top, gw + o, sizeof top);
        std::memcpy(&bottom, gw + o + W0, sizeof bottom);
        if ((top | bottom) == 0) {
            return 0;
        }
    }
    for (int yy = 0; yy < h; ++yy, o += W0) {
        for (int xx = 0; xx < w; ++xx) {
            const int w0 = gw[o + xx];
            px[count] = o + xx;
            // A weight above the heaviest so far is not 0.
            const bool heavier = w0 > heaviest;
            heavy = heavier ? count : heavy;
            heaviest = heavier ? w0 : heaviest;
            count += w0 != 0 ? 1 : 0;
        }
    }
    return count;
}

// The spread of one direction: its steps up to the first distance that reaches no channel,
// the first channel each reaches, and how far they go.
constexpr int SPREAD_STEPS = 12; // the spread walk (10 steps) and its closing zero step, at most
struct SpreadShape {
    bool known = false;
    int steps = 0;
    int reachX = 0;
    int reachY = 0;
    int x[SPREAD_STEPS];
    int y[SPREAD_STEPS];
    int off[SPREAD_STEPS];
    int k0[SPREAD_STEPS];
    // The channels step i reaches (i < upTo[ch]) as byte lanes of 0xff.
    FuLanes reaches[SPREAD_STEPS];
    // Steps that reach channel ch: a walk from the pixel moves away from it on both axes, so
    // the first channel reached never falls along it and they are the first upTo[ch].
    int upTo[CHANNELS];
};

// The distance bins of one pixel's profile over its first `last` steps of `shape`, quick mode:
// w and h point at the pixel in the weight and halved-direction planes, w0 is its weight (not
// 0), fold[h][m] is Ex[m] at the axial distance of direction byte h from the pixel's (m >= 1,
// AxialColumns). In walk order, a step whose two pixels both have
// weight gives v, the smaller of their Ex values moved by 3 away from zero (0 when their signs
// differ; |v| <= 257), and a bin that is 0 or below v takes it. A step of bin BINS (beyond the
// profile) lands in bins[BINS], the sink.
void ProfileBinsQuick(const unsigned char* w, const unsigned char* h,
                      const std::int16_t* const* fold, int w0, const ProfileShape& shape, int last,
                      std::int16_t* bins)
{
    // Lengths min(w, w0, MAX_LENGTH): the smaller weight picks the length.
    const int top = std::min(w0, MAX_LENGTH);
#pragma GCC unroll 2
    for (int i = 0; i < last; ++i) {
        const std::ptrdiff_t off = shape.walk[i].off;
        const std::ptrdiff_t back = shape.walk[i].back;
        const int wm = w[back];
        const int wp = w[off];
        if (wm == 0 || wp == 0) {
            continue;
        }
        const int vm = fold[h[back]][std::min(wm, top)];
        const int vp = fold[h[off]][std::min(wp, top)];
        const int v = vm > 0 && vp > 0   ? std::min(vm, vp) + 3
                      : vm < 0 && vp < 0 ? std::max(vm, vp) - 3
                                         : 0;
        std::int16_t& b = bins[shape.walk[i].bin];
        if (b == 0 || b < v) {
            b = static_cast<std::int16_t>(v);
        }
    }
}

// A bin value below every Ex value: what a step with a pixel of weight 0 gives in normal mode,
// mapped back to 0 once the steps are done.
constexpr std::int16_t SKIP = -32768;

// The polar offsets Ex[m][a] as a column per axial distance a = 0..180, each column the
// lengths m = 0..255 (m = 0 holds SKIP, what normal mode reads for a pixel of weight 0; quick
// mode passes such steps over and never reads it; m = 255 is never read), and the columns by
// the difference t + 255 of two half-turn direction bytes (FoldedDistance), so that a profile
// step reads fold[h][min(w, top)] with fold at 255 - h0: one pointer load and one table load
// with the length as index. Built once.
class AxialColumns {
public:
    static const AxialColumns& Table()
    {
        static const AxialColumns table;
        return table;
    }
    AxialColumns(const AxialColumns&) = delete;
    AxialColumns& operator=(const AxialColumns&) = delete;

    // The columns by direction difference, at 255 - h0 for the pixel's direction byte h0.
    const std::int16_t* const* Fold(int h0) const { return m_fold + 255 - h0; }

private:
    // 256 lengths and a cache line more, so that the columns' first lines (the short lengths and
    // SKIP, read most) fall in different cache sets.
    static constexpr int LENGTHS = 256 + 32;

    AxialColumns()
    {
        const std::int16_t(*ex)[360] = EngineTables().Ex;
        for (int a = 0; a <= 180; ++a) {
            m_at[a][0] = SKIP;
            for (int m = 1; m <= MAX_LENGTH; ++m) {
                m_at[a][m] = ex[m][a];
            }
        }
        // Direction bytes are 0..180, so differences beyond 180 either way never come; their
        // entries take column 0.
        for (int t = -255; t <= 255; ++t) {
            m_fold[t + 255] = m_at[t < -180 || t > 180 ? 0 : FoldedDistance(t)];
        }
    }

    alignas(64) std::int16_t m_at[181][LENGTHS] = {};
    const std::int16_t* m_fold[511] = {};
};

// The bins of ProfileBinsQuick in normal mode, where v is the smaller Ex value itself (every
// bin value an Ex value), with the steps taken from shape.first and shape.again: a bin's first
// step finds it 0 and always stores, and a step with a pixel of weight 0 gives SKIP instead of
// being passed over. Both give the same bins: the rule stores any value over SKIP as over 0,
// SKIP itself only over 0 or SKIP, and SKIP never over any other value (ProfileEnergy maps SKIP
// back to 0). fold[h][m] is Ex[m] at the axial distance of direction byte h from the pixel's for
// m = 1..MAX_LENGTH and SKIP for m = 0 (AxialColumns), read at min(m, top) with
// top = min(w0, MAX_LENGTH). (The lengths are taken by a minimum rather than from a table per top:
// such a table is too large for the data cache, and its misses cost more than the minimum.)
void ProfileBinsSplit(const unsigned char* w, const unsigned char* h,
                      const std::int16_t* const* fold, int top, const ProfileShape& shape, int last,
                      std::int16_t* bins)
{
    auto value = [&](const ProfileShape::Step* s) {
        const int vm = fold[h[s->back]][std::min<int>(w[s->back], top)];
        const int vp = fold[h[s->off]][std::min<int>(w[s->off], top)];
        return std::min(vm, vp);
    };
    const ProfileShape::Step* s = shape.first.at;
    const ProfileShape::Step* const stores = s + shape.first.upTo[last];
#pragma GCC unroll 4
    for (; s != stores; ++s) {
        bins[s->bin] = static_cast<std::int16_t>(value(s));
    }
    s = shape.again.at;
    const ProfileShape::Step* const updates = s + shape.again.upTo[last];
    for (; s != updates; ++s) {
        const int v = value(s);
        std::int16_t& b = bins[s->bin];
        if (b == 0 || b < v) {
            b = static_cast<std::int16_t>(v);
        }
    }
}

// Fills the gaps of the best profile's bins 1..To: a bin that is 0 takes the smaller of its
// neighbours, in bin order. The cleared bins before the first negative one stay 0 (both their
// neighbours are 0) up to the last of them, which takes the first negative value; in normal
// mode bin 1 is no channel and is read by no other bin's filling once it is filled, so its
// filling changes nothing. Gaps come and go with the print: selects instead of branches, and a
// loop of fixed length.
template <int To> void FuFillGaps(std::int16_t* bins)
{
#pragma GCC unroll 16
    for (int n = 1; n <= To; ++n) {
        const std::int16_t gap = std::min(bins[n - 1], bins[n + 1]);
        bins[n] = bins[n] == 0 ? gap : bins[n];
    }
}

// The fourteen channels of a block's best profile as byte lanes: its gaps filled (FuFillGaps<To>)
// on a copy, channel k its bin From + k where at least 2, bounded to 255; lanes 14 and 15 are 0.
// The lanes are built from the filled values themselves rather than by storing them and loading
// them back as vectors (a load that the byte stores just before cannot serve, which waits for
// them to reach the cache).
template <int To, int From> FuLanes FuChannels(const std::int16_t* best)
{
    std::int16_t f[From + 14];
    std::memcpy(f, best, sizeof f);
    FuFillGaps<To>(f);
    const std::int16_t* c = f + From;
    const FuShorts a[2] = {{c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]},
                           {c[8], c[9], c[10], c[11], c[12], c[13], 0, 0}};
    FuBytes low[2];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        const FuShorts wide = a[h] > 255 ? FuShorts{} + 255 : a[h];
        low[h] = __builtin_convertvector(wide & (a[h] >= 2), FuBytes);
    }
    return __builtin_shufflevector(low[0], low[1], 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
                                   15);
}

// Copies the n bytes of a block row; the two-pixel rows of level 1 without a call.
inline void FuCopy(unsigned char* to, const unsigned char* from, int n)
{
    if (n == 2) {
        std::memcpy(to, from, 2);
        return;
    }
    std::memcpy(to, from, static_cast<std::size_t>(n));
}

// The 2 x 2 samples at g to s, both with rows of W0 bytes, a row of two at a time.
inline void FuFour(unsigned char* s, const unsigned char* g, int W0)
{
    std::memcpy(s, g, 2);
    std::memcpy(s + W0, g + W0, 2);
}

// Eight bytes from p as 16-bit lanes.
inline FuShorts FuLoad(const unsigned char* p)
{
    FuBytes b;
    std::memcpy(&b, p, sizeof b);
    return __builtin_convertvector(b, FuShorts);
}

} // namespace

void SobelRowScalar(const unsigned char* p, int stride, int count, std::int16_t* gx,
                    std::int16_t* gy)
{
    for (int x = 0; x < count; ++x, ++p) {
        const int ne = p[-stride + 1], nw = p[-stride - 1], se = p[stride + 1];
        const int sw = p[stride - 1];
        gx[x] = static_cast<std::int16_t>((ne + 2 * p[1] + se) - (nw + 2 * p[-1] + sw));
        gy[x] = static_cast<std::int16_t>((sw + 2 * p[stride] + se) - (nw + 2 * p[-stride] + ne));
    }
}

void SobelRow(const unsigned char* p, int stride, int count, std::int16_t* gx, std::int16_t* gy)
{
    // Eight pixels at a time in 16-bit lanes (|gradient| <= 1020), the rest one at a time.
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const unsigned char* q = p + x;
        const FuShorts nw = FuLoad(q - stride - 1);
        const FuShorts ne = FuLoad(q - stride + 1);
        const FuShorts sw = FuLoad(q + stride - 1);
        const FuShorts se = FuLoad(q + stride + 1);
        const FuShorts dx = (ne + FuLoad(q + 1) * 2 + se) - (nw + FuLoad(q - 1) * 2 + sw);
        const FuShorts dy = (sw + FuLoad(q + stride) * 2 + se) - (nw + FuLoad(q - stride) * 2 + ne);
        std::memcpy(gx + x, &dx, sizeof dx);
        std::memcpy(gy + x, &dy, sizeof dy);
    }
    SobelRowScalar(p + x, stride, count - x, gx + x, gy + x);
}

void SquareSumRowScalar(const std::int16_t* gx, const std::int16_t* gy, int count,
                        std::int32_t* sums)
{
    for (int x = 0; x < count; ++x) {
        sums[x] = gx[x] * gx[x] + gy[x] * gy[x];
    }
}

#if defined(__SSE2__)
void SquareSumRow(const std::int16_t* gx, const std::int16_t* gy, int count, std::int32_t* sums)
{
    // Eight pixels at a time: each pixel's gx and gy side by side in 16-bit lanes, squared and
    // added in 32 bits by one multiply-add; the rest one at a time.
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gx + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gy + x));
        const __m128i low = _mm_unpacklo_epi16(a, b);
        const __m128i high = _mm_unpackhi_epi16(a, b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x), _mm_madd_epi16(low, low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x + 4), _mm_madd_epi16(high, high));
    }
    SquareSumRowScalar(gx + x, gy + x, count - x, sums + x);
}
#else
void SquareSumRow(const std::int16_t* gx, const std::int16_t* gy, int count, std::int32_t* sums)
{
    SquareSumRowScalar(gx, gy, count, sums);
}
#endif

void HalveRowScalar(const unsigned char* r0, const unsigned char* r1, int count, unsigned char* out)
{
    for (int x = 0; x < count; ++x) {
        out[x] = static_cast<unsigned char>(
            (r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1] + 2) >> 2);
    }
}

void HalveRow(const unsigned char* r0, const unsigned char* r1, int count, unsigned char* out)
{
    // Eight outputs at a time: a 16-bit lane holds the two bytes of a pair in either order,
    // and their sum is the same.
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        FuWords a;
        FuWords b;
        std::memcpy(&a, r0 + 2 * x, sizeof a);
        std::memcpy(&b, r1 + 2 * x, sizeof b);
        const FuWords sum = (a & 0xff) + (a >> 8) + (b & 0xff) + (b >> 8) + 2;
        const FuBytes mean = __builtin_convertvector(sum >> 2, FuBytes);
        std::memcpy(out + x, &mean, sizeof mean);
    }
    HalveRowScalar(r0 + 2 * x, r1 + 2 * x, count - x, out + x);
}

void LanesToPlanesScalar(const unsigned char* lanes, std::size_t count,
                         unsigned char* const* planes, int planeCount)
{
    for (int ch = 0; ch < planeCount; ++ch) {
        for (std::size_t i = 0; i < count; ++i) {
            planes[ch][i] = lanes[16 * i + ch];
        }
    }
}

void LanesToPlanes(const unsigned char* lanes, std::size_t count, unsigned char* const* planes,
                   int planeCount)
{
    // Sixteen pixels at a time: their 16 x 16 bytes transposed by four rounds that each
    // interleave vectors i and i + 8 (a round rotates the bits of vector and lane index by
    // one, so four swap them); the rest one at a time.
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        FuLanes r[16];
        std::memcpy(r, lanes + 16 * i, sizeof r);
#pragma GCC unroll 4
        for (int round = 0; round < 4; ++round) {
            FuLanes n[16];
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                n[2 * j] = __builtin_shufflevector(r[j], r[j + 8], 0, 16, 1, 17, 2, 18, 3, 19, 4,
                                                   20, 5, 21, 6, 22, 7, 23);
                n[2 * j + 1] = __builtin_shufflevector(r[j], r[j + 8], 8, 24, 9, 25, 10, 26, 11, 27,
                                                       12, 28, 13, 29, 14, 30, 15, 31);
            }
            std::memcpy(r, n, sizeof r);
        }
        for (int ch = 0; ch < planeCount; ++ch) {
            std::memcpy(planes[ch] + i, &r[ch], sizeof r[ch]);
        }
    }
    unsigned char* rest[16];
    for (int ch = 0; ch < planeCount; ++ch) {
        rest[ch] = planes[ch] + i;
    }
    LanesToPlanesScalar(lanes + 16 * i, count - i, rest, planeCount);
}

int ProfileEnergyScalar(std::int16_t* bins, int& first)
{
    for (int n = 0; n < BIN_SLOTS; ++n) {
        bins[n] = bins[n] == SKIP ? 0 : bins[n];
    }
    bins[BINS] = 0;
    first = 1;
    while (first < BINS && bins[first] >= 0) {
        bins[first++] = 0;
    }
    if (first == BINS) {
        return -1;
    }
    int e = 0;
    for (int n = 0; n < BIN_SLOTS; ++n) {
        e += bins[n] * bins[n];
    }
    return e;
}

namespace {

#if defined(__SSE2__)
// ProfileEnergy, inlined into the energies loop.
[[gnu::always_inline]] inline int FuEnergy(std::int16_t* bins, int& first)
{
    // The three vectors of eight slots: SKIP mapped to 0, the negative bins of 1..BINS - 1
    // found by one mask, the slots before the first of them and the sink cleared by lane index,
    // and the squares summed in 32 bits by multiply-adds (|bin| <= 254).
    static_assert(BIN_SLOTS == 24, "three vectors of slots");
    const __m128i zero = _mm_setzero_si128();
    const __m128i skip = _mm_set1_epi16(SKIP);
    __m128i v[3];
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bins + 8 * k));
        v[k] = _mm_andnot_si128(_mm_cmpeq_epi16(v[k], skip), v[k]);
    }
    const unsigned low = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmplt_epi16(v[0], zero), _mm_cmplt_epi16(v[1], zero))));
    const unsigned high = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmplt_epi16(v[2], zero), zero)));
    const unsigned negative = (low | high << 16) & ((1u << BINS) - 2);
    first = negative != 0 ? __builtin_ctz(negative) : BINS;
    const __m128i before = _mm_set1_epi16(static_cast<std::int16_t>(first - 1));
    const __m128i notSink = _mm_setr_epi16(-1, -1, 0, -1, -1, -1, -1, -1); // slot 16 + 2
    static_assert(BINS == 18, "the sink is lane 2 of the third vector");
    __m128i sum = zero;
    const __m128i lanes[3] = {_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7),
                              _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15),
                              _mm_setr_epi16(16, 17, 18, 19, 20, 21, 22, 23)};
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        __m128i keep = _mm_cmpgt_epi16(lanes[k], before);
        keep = k == 2 ? _mm_and_si128(keep, notSink) : keep;
        v[k] = _mm_and_si128(v[k], keep);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bins + 8 * k), v[k]);
        sum = _mm_add_epi32(sum, _mm_madd_epi16(v[k], v[k]));
    }
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4e));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xb1));
    return first == BINS ? -1 : _mm_cvtsi128_si32(sum);
}
#else
inline int FuEnergy(std::int16_t* bins, int& first)
{
    return ProfileEnergyScalar(bins, first);
}
#endif

} // namespace

int ProfileEnergy(std::int16_t* bins, int& first)
{
    return FuEnergy(bins, first);
}

namespace {

// The largest Sobel gradient component in magnitude: four times the largest byte.
constexpr int SOBEL_MOST = 1020;

// ceil(2^32 / q) for q = 1..SOBEL_MOST (and 0 for q = 0): (n * kInverse[q]) >> 32 is n / q for
// the octant numerators n = 128 p + q <= 129 q (n e < 2^32 with e < q, see InverseCeil32).
struct InverseTable {
    std::uint64_t at[SOBEL_MOST + 1];
};
constexpr InverseTable MakeInverse()
{
    InverseTable t{};
    for (int q = 1; q <= SOBEL_MOST; ++q) {
        t.at[q] = InverseCeil32(q);
    }
    return t;
}
constexpr InverseTable kInverse = MakeInverse();

// The direction of a vector as base +- t, t its octant angle from the nearer axis, by the
// octant: bit 2 y >= 0, bit 1 x >= 0, bit 0 nearer the x axis (|x| >= |y|). The sign is a mask:
// (t ^ mask) - mask. On the axes t is 0 (TabTan[0]) and the octants give atan's 0, 90, 180 and
// 270 (y = 0 counts as y >= 0, so that x > 0 gives 0 rather than 360 - 0; (0, 0) gives 0).
struct Octant {
    int base;
    int mask;
};
constexpr Octant kOctants[8] = {{270, -1}, {180, 0},  {270, 0}, {360, -1},
                                {90, 0},   {180, -1}, {90, -1}, {0, 0}};

// atan(x, y) / 2 for |x|, |y| <= SOBEL_MOST, without a branch or a division: gradient
// directions vary from pixel to pixel, and atan's branches on their signs and octant mispredict.
[[gnu::always_inline]] inline int FuHalfDirection(int x, int y)
{
    const int ax = x < 0 ? -x : x;
    const int ay = y < 0 ? -y : y;
    const unsigned nearX = ax >= ay ? 1u : 0u;
    const int p = nearX != 0 ? ay : ax;
    const int q = nearX != 0 ? ax : ay;
    const std::uint64_t n = static_cast<std::uint64_t>(128 * p + (p != 0 ? q : 0));
    const int t = TabTan[(n * kInverse.at[q]) >> 32];
    // The sign bits, complemented: 1 for a component >= 0.
    const unsigned octant =
        (~static_cast<unsigned>(y) >> 31 << 2) | (~static_cast<unsigned>(x) >> 31 << 1) | nearX;
    const Octant& o = kOctants[octant];
    return (o.base + ((t ^ o.mask) - o.mask)) >> 1;
}

} // namespace

void HalfDirectionRowScalar(const std::int16_t* gx, const std::int16_t* gy,
                            const unsigned char* weight, int count, unsigned char* dir)
{
    for (int x = 0; x < count; ++x) {
        dir[x] = weight[x] != 0 ? static_cast<unsigned char>(FuHalfDirection(gx[x], gy[x])) : 0;
    }
}

#if defined(__SSE2__)
void HalfDirectionRow(const std::int16_t* gx, const std::int16_t* gy, const unsigned char* weight,
                      int count, unsigned char* dir)
{
    // Eight pixels at a time in 16-bit lanes: the magnitudes, the octant's sides and the octant
    // index n / q by a float division in two halves of four (n < 2^18 and q <= 1020 are exact
    // floats, and a quotient that is no whole number lies at least 1 / q from one, far beyond
    // the division's rounding, so truncation gives the whole quotient); the octant angles looked
    // up one by one; the base and sign of FuHalfDirection's octants by masks. The rest one at a
    // time.
    const __m128i zero = _mm_setzero_si128();
    const __m128i minus1 = _mm_set1_epi16(-1);
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m128i vx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gx + x));
        const __m128i vy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gy + x));
        const __m128i ax = _mm_max_epi16(vx, _mm_sub_epi16(zero, vx));
        const __m128i ay = _mm_max_epi16(vy, _mm_sub_epi16(zero, vy));
        const __m128i nearX = _mm_xor_si128(_mm_cmpgt_epi16(ay, ax), minus1); // |x| >= |y|
        const __m128i p = _mm_min_epi16(ax, ay);
        const __m128i q = _mm_max_epi16(ax, ay);
        // n = 128 p + q where p != 0 (else 0), divided by q (by 1 where q = 0, n = 0 there).
        const __m128i qIf = _mm_andnot_si128(_mm_cmpeq_epi16(p, zero), q);
        const __m128i qDiv = _mm_max_epi16(q, _mm_set1_epi16(1));
        __m128i index[2];
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            const __m128i p32 = h == 0 ? _mm_unpacklo_epi16(p, zero) : _mm_unpackhi_epi16(p, zero);
            const __m128i qIf32 =
                h == 0 ? _mm_unpacklo_epi16(qIf, zero) : _mm_unpackhi_epi16(qIf, zero);
            const __m128i q32 =
                h == 0 ? _mm_unpacklo_epi16(qDiv, zero) : _mm_unpackhi_epi16(qDiv, zero);
            const __m128i n32 = _mm_add_epi32(_mm_slli_epi32(p32, 7), qIf32);
            index[h] = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(n32), _mm_cvtepi32_ps(q32)));
        }
        alignas(16) std::int16_t at[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_packs_epi32(index[0], index[1]));
        const __m128i t = _mm_setr_epi16(
            static_cast<std::int16_t>(TabTan[at[0]]), static_cast<std::int16_t>(TabTan[at[1]]),
            static_cast<std::int16_t>(TabTan[at[2]]), static_cast<std::int16_t>(TabTan[at[3]]),
            static_cast<std::int16_t>(TabTan[at[4]]), static_cast<std::int16_t>(TabTan[at[5]]),
            static_cast<std::int16_t>(TabTan[at[6]]), static_cast<std::int16_t>(TabTan[at[7]]));
        // Components >= 0; the sign is negative where an even number of the three sides hold.
        const __m128i yUp = _mm_cmpgt_epi16(vy, minus1);
        const __m128i xUp = _mm_cmpgt_epi16(vx, minus1);
        const __m128i negative =
            _mm_xor_si128(_mm_xor_si128(_mm_xor_si128(yUp, xUp), nearX), minus1);
        // Near the x axis: 0 (x, y >= 0), 360 (x >= 0 > y) or 180 (x < 0); near the y axis:
        // 90 (y >= 0) or 270.
        const __m128i baseNear =
            _mm_or_si128(_mm_andnot_si128(xUp, _mm_set1_epi16(180)),
                         _mm_and_si128(_mm_andnot_si128(yUp, xUp), _mm_set1_epi16(360)));
        const __m128i baseFar =
            _mm_sub_epi16(_mm_set1_epi16(270), _mm_and_si128(yUp, _mm_set1_epi16(180)));
        const __m128i base =
            _mm_or_si128(_mm_and_si128(nearX, baseNear), _mm_andnot_si128(nearX, baseFar));
        const __m128i signedT = _mm_sub_epi16(_mm_xor_si128(t, negative), negative);
        __m128i half = _mm_srli_epi16(_mm_add_epi16(base, signedT), 1);
        // Pixels of weight 0 keep direction 0.
        const __m128i w =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(weight + x)), zero);
        half = _mm_andnot_si128(_mm_cmpeq_epi16(w, zero), half);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dir + x), _mm_packus_epi16(half, zero));
    }
    HalfDirectionRowScalar(gx + x, gy + x, weight + x, count - x, dir + x);
}
#else
void HalfDirectionRow(const std::int16_t* gx, const std::int16_t* gy, const unsigned char* weight,
                      int count, unsigned char* dir)
{
    HalfDirectionRowScalar(gx, gy, weight, count, dir);
}
#endif

void Codex::Furiew(int level)
{
    if (GetKey(49, FLOW_LEVEL) == -1) {
        Curvat(1);
    }
    m_stage = FURIEW_STAGE;
    OldLay(m_stage);
    // The energies are measured at level 1..3: a finer level would let the ridge line leave
    // the image inside the copied border.
    const int lev = level < 1 ? 1 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    m_curLevel = lev;
    m_rank.RanIni(0);
    const bool quick = m_quick != 0;
    const CLevel& l0 = m_level[0];
    const CLevel& ll = m_level[lev];
    const int W0 = l0.width;
    const int H0 = l0.height;
    const int k = ll.scale / l0.scale;

    // The stage's walks come from per-direction records. The walk position, cursor and line
    // state are left as the real walks would have left them.
    WalkRecord walks(*this);
    WalkRecord::Set& lineSet = walks.For(quick ? 7 : 8, 0, WalkRecord::Form::Offsets);
    WalkRecord::Set& spreadSet = walks.For(10, lev);
    WalkRecord::Set& profileSet = walks.For(quick ? 15 : 17, 0);

    // 1. Smoothing along the ridge line into 240.
    const unsigned char* grey = Layer(1, 0);
    unsigned char* smooth = Layer(240, 0);
    const unsigned char* flow = Layer(36, lev);
    const unsigned char* cls = Layer(129, lev);
    const unsigned char* side = Layer(48, lev);
    const unsigned char* curv = Layer(49, lev);
    // A row of blocks at a time: the samples of its smoothed blocks gathered in nine sample
    // planes laid out as the block row's pixels, ranked sixteen pixels at a time and written
    // as whole rows, and then its copied blocks taken from layer 1 over them. (Blocks overlap
    // only at the far edges, where all are copied.)
    const int reach = quick ? 2 : 4;
    const int stride = k * W0;
    std::vector<unsigned char> samples(static_cast<std::size_t>(9) * stride);
    std::vector<unsigned char> means(static_cast<std::size_t>(stride));
    std::vector<int> copied(static_cast<std::size_t>(ll.width));
    // The columns that the blocks of a row cover, from 0.
    const int covered = std::min(BlockStart(ll.width - 1, k, W0) + k, W0);
    // The smoothed blocks' line walks, counted per direction and accounted for after them.
    std::size_t lineTurns[360] = {};
    int lastLine = -1; // the direction of the last line walk, -1 before there is one
    for (int y = 0; y < ll.height; ++y) {
        const int y0 = BlockStart(y, k, H0);
        const int y1 = std::min(y0 + k, H0);
        int copies = 0;
        bool smoothed = false;
        const bool borderRow = y < 3 || y >= ll.height - 3;
        for (int x = 0; x < ll.width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * ll.width + x;
            const bool border = borderRow || x < 3 || x >= ll.width - 3;
            if (border || (cls[at] & SINGULAR_MASK) != 0) {
                copied[static_cast<std::size_t>(copies++)] = x;
                continue;
            }
            smoothed = true;
            const int c = flow[at];
            const int b = side[at] != 0 ? c + 90 : c - 90;
            const int turn = curv[at] / 5;
            const int turnA = Mod360(b + 90 - turn);
            const int turnB = Mod360(b - 90 + turn);
            const SStep* lineA = walks.Steps(lineSet, turnA);
            const SStep* lineB = walks.Steps(lineSet, turnB);
            ++lineTurns[turnA];
            ++lineTurns[turnB];
            lastLine = turnB;
            const int x0 = BlockStart(x, k, W0);
            const int n = std::min(x0 + k, W0) - x0;
            const unsigned char* g = grey + static_cast<std::size_t>(y0) * W0 + x0;
            unsigned char* s = samples.data() + x0;
            if (!quick && n == 2 && y1 - y0 == 2) {
                // A 2 x 2 block: plane 0 holds the pixels themselves, planes 2i + 1 and 2i + 2
                // step i of the line one way and the other.
                FuFour(s, g, W0);
#pragma GCC unroll 4
                for (int i = 0; i < 4; ++i) {
                    FuFour(s + static_cast<std::ptrdiff_t>(2 * i + 1) * stride, g + lineA[i].off,
                           W0);
                    FuFour(s + static_cast<std::ptrdiff_t>(2 * i + 2) * stride, g + lineB[i].off,
                           W0);
                }
                continue;
            }
            // The block's sample offsets: the pixel itself, then step i of the line one way
            // and the other.
            std::ptrdiff_t line[9] = {};
            for (int i = 0; i < reach; ++i) {
                line[2 * i + 1] = lineA[i].off;
                line[2 * i + 2] = lineB[i].off;
            }
            for (int yy = 0; yy < y1 - y0; ++yy, g += W0, s += W0) {
                if (quick) {
                    unsigned char* out = means.data() + (s - samples.data());
                    for (int i = 0; i < n; ++i) {
                        int v[5] = {g[i], g[i + line[1]], g[i + line[2]], g[i + line[3]],
                                    g[i + line[4]]};
                        out[i] = static_cast<unsigned char>(RankMean(v, 5, kFive, 3));
                    }
                } else {
#pragma GCC unroll 9
                    for (int j = 0; j < 9; ++j) {
                        FuCopy(s + static_cast<std::ptrdiff_t>(j) * stride, g + line[j], n);
                    }
                }
            }
        }
        if (smoothed) {
            if (!quick) {
                RankMean9Planes(samples.data(), stride, means.data(), (y1 - y0 - 1) * W0 + covered);
            }
            for (int yy = y0; yy < y1; ++yy) {
                std::memcpy(smooth + static_cast<std::size_t>(yy) * W0,
                            means.data() + static_cast<std::size_t>(yy - y0) * W0,
                            static_cast<std::size_t>(covered));
            }
        }
        for (int i = 0; i < copies; ++i) {
            const int x0 = BlockStart(copied[static_cast<std::size_t>(i)], k, W0);
            const int n = std::min(x0 + k, W0) - x0;
            for (int yy = y0; yy < y1; ++yy) {
                const std::size_t o = static_cast<std::size_t>(yy) * W0 + x0;
                FuCopy(smooth + o, grey + o, n);
            }
        }
    }
    for (int a = 0; a < 360; ++a) {
        if (lineTurns[a] != 0) {
            walks.Count(lineSet, a, lineTurns[a]);
        }
    }
    if (lastLine >= 0) {
        walks.Last(lineSet, lastLine);
    }

    // 2. Sobel gradient of 240 and the histogram of its magnitudes (bins bounded to 255).
    std::int16_t* gx = Plane(0);
    std::int16_t* gy = Plane(2);
    std::int16_t* gm = Plane(4);
    unsigned char* gdir = Layer(241, 0);
    std::memset(gdir, 0, l0.size);
    std::vector<std::int32_t> sums(static_cast<std::size_t>(W0));
    for (int y = 1; y + 1 < H0; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * W0;
        SobelRow(smooth + row + 1, W0, W0 - 2, gx + row + 1, gy + row + 1);
        SquareSumRow(gx + row + 1, gy + row + 1, W0 - 2, sums.data() + 1);
        for (int x = 1; x + 1 < W0; ++x) {
            gm[row + x] = static_cast<std::int16_t>(SqriInline(sums[static_cast<std::size_t>(x)]));
        }
        // The histogram counts the odd rows and columns from 7 to 7 short of the far edges.
        if ((y & 1) != 0 && y >= 7 && y < H0 - 6) {
            for (int x = 7; x < W0 - 6; x += 2) {
                const int m = gm[row + x];
                if (m >= 4) {
                    ++m_rank.Ran[(m >> 2) > 255 ? 255 : m >> 2];
                }
            }
        }
    }

    // 3. Contrast curve; the gain's index is bounded to the table.
    m_fuDivisor = m_rank.RanSha(2) + 2;
    static const int curve[] = {3, 4, 0, 60, 68, 255, 255};
    m_rank.RanMod(curve);
    m_rank.RanSmo(4);
    m_rank.LorLog(255);
    const int gain = m_rank.Lor[m_fuDivisor > 255 ? 255 : m_fuDivisor];

    // 4. Gradient weight, and the gradient direction (halved) where the weight is not 0: the
    // profiles read a direction only there. Both are 0 elsewhere and on the outermost rows and
    // columns.
    unsigned char* gw = Layer(242, 0);
    std::memset(gw, 0, l0.size);
    // The weight depends on the magnitude alone: one table entry per Sobel magnitude (at most
    // sqrt(2) * 1020), the rare larger value computed as it comes.
    auto weightOf = [&](int m) {
        int i = 64 * m / m_fuDivisor;
        i = i > 255 ? 255 : i;
        return static_cast<unsigned char>(gain * m_rank.Ran[i] / 255);
    };
    constexpr int WEIGHTS = 1448;
    std::vector<unsigned char> weights(WEIGHTS);
    for (int m = 0; m < WEIGHTS; ++m) {
        weights[static_cast<std::size_t>(m)] = weightOf(m);
    }
    for (int y = 1; y + 1 < H0; ++y) {
        for (int x = 1; x + 1 < W0; ++x) {
            const std::size_t o = static_cast<std::size_t>(y) * W0 + x;
            const int m = gm[o];
            gw[o] = m >= 0 && m < WEIGHTS ? weights[static_cast<std::size_t>(m)] : weightOf(m);
        }
        const std::size_t row = static_cast<std::size_t>(y) * W0 + 1;
        HalfDirectionRow(gx + row, gy + row, gw + row, W0 - 2, gdir + row);
    }
    // The channels are gathered per level pixel, each block's spread a maximum over all of
    // them at once, and written to their layers at the end.
    std::vector<FuLanes> spreadTo(ll.size);

    // 5. Energies: the most energetic profile of each block, spread across the flow.
    std::vector<ProfileShape> shapes(360);
    // The polar offsets as columns by direction difference.
    const AxialColumns& columns = AxialColumns::Table();
    std::vector<SpreadShape> spreads(360);
    std::size_t turns[256] = {}; // the blocks by flow byte
    int lastTurn = -1;           // the last block's flow byte, -1 before there is one
    std::vector<std::ptrdiff_t> pixels(static_cast<std::size_t>(k) * k);
    for (int y = 2; y < ll.height - 2; ++y) {
        for (int x = 2; x < ll.width - 2; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * ll.width + x;
            if ((cls[at] & SINGULAR_MASK) != 0) {
                continue;
            }
            // The block's most energetic profile so far and the buffer of the next pixel's; the
            // best one's gaps are filled once, at the block's end.
            std::int16_t buffers[2][BIN_SLOTS];
            int measuring = 0; // the buffer of the next pixel's profile
            int bestAt = -1;   // the best profile's buffer, -1 before there is one
            // The best profile's rank: its energy, then its pixel's place in raster order
            // (offset + 1, below 2^32), one comparison (none measured yet: energy 0, offset -1).
            std::int64_t bestRank = 0;
            // Every block walks its spread and its profile across the flow: counted here,
            // accounted for once per direction at the end.
            const int c = flow[at];
            ++turns[c];
            lastTurn = c;
            const int x0 = BlockStart(x, k, W0);
            const int y0 = BlockStart(y, k, H0);
            const int x1 = std::min(x0 + k, W0);
            const int y1 = std::min(y0 + k, H0);
            // The block's pixels of nonzero weight, the heaviest first (its weight bounds the
            // energy of the lighter ones early). The best one is the most energetic, and of
            // equal ones the last in raster order, whatever order they are measured in.
            int heavy = 0;
            const int count =
                x1 - x0 == 2 && y1 - y0 == 2
                    ? BlockPixels<2>(gw, W0, x0, y0, 2, 2, pixels.data(), heavy)
                    : BlockPixels<0>(gw, W0, x0, y0, x1 - x0, y1 - y0, pixels.data(), heavy);
            if (heavy != 0) {
                std::swap(pixels[0], pixels[static_cast<std::size_t>(heavy)]);
            }
            // A block without a pixel of weight (many, outside the print) measures nothing.
            if (count == 0) {
                continue;
            }
            // The profile's offsets and bins, and how far it reaches, taken once per direction.
            ProfileShape& shape = shapes[static_cast<std::size_t>(Mod360(c + 90))];
            if (!shape.known) {
                shape.walked = walks.Steps(profileSet, c + 90);
                for (const SStep* s = shape.walked; s->off != 0; ++s, ++shape.steps) {
                    const int ax = s->x < 0 ? -s->x : s->x;
                    const int ay = s->y < 0 ? -s->y : s->y;
                    shape.walk[shape.steps] = {s->off, -static_cast<std::ptrdiff_t>(s->off),
                                               std::min<int>(Rad[ax][ay], BINS)};
                    shape.reachX = std::max(shape.reachX, ax);
                    shape.reachY = std::max(shape.reachY, ay);
                }
                bool reached[BINS + 1] = {};
                for (int i = 0; i < shape.steps; ++i) {
                    const ProfileShape::Step& st = shape.walk[i];
                    ProfileShape::Steps& to = reached[st.bin] ? shape.again : shape.first;
                    reached[st.bin] = true;
                    to.at[to.count++] = st;
                    shape.first.upTo[i + 1] = shape.first.count;
                    shape.again.upTo[i + 1] = shape.again.count;
                }
                shape.first.upTo[0] = 0;
                shape.again.upTo[0] = 0;
                bool seen[BINS + 1] = {};
                for (int i = 0; i < shape.steps; ++i) {
                    seen[shape.walk[i].bin] = true;
                }
                for (int n = 0; n < BINS; ++n) {
                    if (seen[n]) {
                        shape.weight += !quick ? 1 : n <= 14 ? (15 - n) * (15 - n) : 0;
                    }
                }
                shape.known = true;
            }
            const int steps = shape.steps;
            const int reachX = shape.reachX;
            const int reachY = shape.reachY;
            // A block this far from the edges keeps every profile pixel inside the image.
            const bool inner = x0 - reachX >= 0 && x1 - 1 + reachX < W0 && y0 - reachY >= 0 &&
                               y1 - 1 + reachY < H0;
            for (int j = 0; j < count; ++j) {
                const std::ptrdiff_t o = pixels[static_cast<std::size_t>(j)];
                const int w0 = gw[o];
                // Every bin is at most the smaller weight in magnitude (quick mode: 3
                // more), so a pixel whose bound is below the best energy cannot win.
                const int most = std::min(w0, MAX_LENGTH) + (quick ? 3 : 0);
                const int bound = shape.weight * most * most;
                const std::int64_t place = o + 1;
                if ((std::int64_t{bound} << 32 | place) < bestRank) {
                    continue;
                }
                int last = steps;
                if (!inner) {
                    const int xx = static_cast<int>(o % W0);
                    const int yy = static_cast<int>(o / W0);
                    for (last = 0; last < steps; ++last) {
                        const SStep* s = shape.walked + last;
                        if (!Inside(xx - s->x, yy - s->y, l0) ||
                            !Inside(xx + s->x, yy + s->y, l0)) {
                            break;
                        }
                    }
                }
                std::int16_t* const bins = buffers[measuring];
                std::memset(bins, 0, sizeof buffers[0]);
                if (quick) {
                    ProfileBinsQuick(gw + o, gdir + o, columns.Fold(gdir[o]), w0, shape, last,
                                     bins);
                } else {
                    ProfileBinsSplit(gw + o, gdir + o, columns.Fold(gdir[o]),
                                     std::min(w0, MAX_LENGTH), shape, last, bins);
                }
                // Bins before the first negative one are cleared; a profile without a negative
                // bin contributes nothing. Bin 0 is never reached (every step moves), so it is 0
                // and the scan starts after it.
                int first = 1;
                int e = 0;
                if (quick) {
                    while (first < 16 && bins[first] >= 0) {
                        bins[first++] = 0;
                    }
                    if (first == 16) {
                        continue;
                    }
#pragma GCC unroll 15
                    for (int n = 0; n <= 14; ++n) {
                        e += (15 - n) * (15 - n) * bins[n] * bins[n];
                    }
                } else {
                    e = FuEnergy(bins, first);
                    if (e < 0) {
                        continue;
                    }
                }
                // Whether a profile wins varies from pixel to pixel: selects instead of a branch.
                const std::int64_t rank = std::int64_t{e} << 32 | place;
                const int wins = rank >= bestRank ? 1 : 0;
                bestRank = wins != 0 ? rank : bestRank;
                bestAt += (measuring - bestAt) & -wins;
                measuring ^= wins;
            }
            // A block without a profile writes nothing.
            if (bestAt < 0) {
                continue;
            }
            // Block end: the block's own pixel, then both ways across the flow. Only channels
            // of at least 2 are spread, bounded to 255; a block without one writes nothing.
            const FuLanes v =
                quick ? FuChannels<14, 2>(buffers[bestAt]) : FuChannels<16, 4>(buffers[bestAt]);
            // The last live channel: the highest nonzero byte of the lanes.
            static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "lane i is byte i");
            std::uint64_t half[2];
            std::memcpy(half, &v, sizeof half);
            if ((half[0] | half[1]) == 0) {
                continue;
            }
            const int top =
                half[1] != 0 ? 15 - __builtin_clzll(half[1]) / 8 : 7 - __builtin_clzll(half[0]) / 8;
            FuLanes* here = spreadTo.data() + at;
            *here = *here > v ? *here : v;
            // The spread's steps up to the first distance that reaches no channel, with the
            // first channel each reaches, taken once per direction.
            SpreadShape& sp = spreads[static_cast<std::size_t>(Mod360(c + 90))];
            if (!sp.known) {
                const SStep* spread = walks.Steps(spreadSet, c + 90);
                for (const SStep* s = spread; s->off != 0 && sp.steps < SPREAD_STEPS; ++s) {
                    const int ax = s->x < 0 ? -s->x : s->x;
                    const int ay = s->y < 0 ? -s->y : s->y;
                    const int n = ax < 30 && ay < 30 ? Rad[ax][ay] : 11;
                    const int k0 = n <= 10 ? kReach[quick ? 1 : 0][n] : -1;
                    if (k0 < 0) {
                        break;
                    }
                    sp.x[sp.steps] = s->x;
                    sp.y[sp.steps] = s->y;
                    sp.off[sp.steps] = s->off;
                    sp.k0[sp.steps++] = k0;
                    sp.reachX = std::max(sp.reachX, ax);
                    sp.reachY = std::max(sp.reachY, ay);
                }
                for (int ch = 0; ch < CHANNELS; ++ch) {
                    int n = 0;
                    while (n < sp.steps && sp.k0[n] <= ch) {
                        ++n;
                    }
                    sp.upTo[ch] = n;
                }
                for (int i = 0; i < sp.steps; ++i) {
                    sp.reaches[i] = FuLanes{};
                    for (int ch = 0; ch < CHANNELS; ++ch) {
                        sp.reaches[i][ch] = i < sp.upTo[ch] ? 0xff : 0;
                    }
                }
                sp.known = true;
            }
            // The steps inside the level: all of them far enough from its edges.
            int inside = sp.steps;
            if (x - sp.reachX < 0 || x + sp.reachX >= ll.width || y - sp.reachY < 0 ||
                y + sp.reachY >= ll.height) {
                for (inside = 0; inside < sp.steps; ++inside) {
                    if (!Inside(x - sp.x[inside], y - sp.y[inside], ll) ||
                        !Inside(x + sp.x[inside], y + sp.y[inside], ll)) {
                        break;
                    }
                }
            }
            // Step i reaches the channels up to a prefix of them, the last live one the most.
            const int n = std::min(sp.upTo[top], inside);
            for (int i = 0; i < n; ++i) {
                const std::ptrdiff_t off = sp.off[i];
                const FuLanes vi = v & sp.reaches[i];
                here[-off] = here[-off] > vi ? here[-off] : vi;
                here[off] = here[off] > vi ? here[off] : vi;
            }
        }
    }
    unsigned char* chan[CHANNELS];
    for (int ch = 0; ch < CHANNELS; ++ch) {
        chan[ch] = Layer(64 + ch, lev);
    }
    LanesToPlanes(reinterpret_cast<const unsigned char*>(spreadTo.data()), ll.size, chan, CHANNELS);

    // The blocks' walks, each direction's at once; the last block's profile walk is the last
    // (when there is none, the last line walk stays the last).
    for (int c = 0; c < 256; ++c) {
        if (turns[c] != 0) {
            walks.Count(spreadSet, c + 90, turns[c]);
            walks.Count(profileSet, c + 90, turns[c]);
        }
    }
    if (lastTurn >= 0) {
        walks.Last(profileSet, lastTurn + 90);
    }
    walks.Finish();

    // 6. Upward: each coarser pixel the rounded mean of its 2 x 2 finer block.
    for (int lv = lev + 1; lv <= FLOW_LEVEL; ++lv) {
        m_curLevel = lv;
        const CLevel& cl = m_level[lv];
        const CLevel& fl = m_level[lv - 1];
        // Columns whose finer block is 2x, 2x + 1 inside the finer level.
        const int plain = std::min<int>(cl.width, fl.width / 2);
        for (int c = 0; c < CHANNELS; ++c) {
            const unsigned char* f = Layer(64 + c, lv - 1);
            unsigned char* t = Layer(64 + c, lv);
            // Rows and columns beyond a one-pixel-wide finer level repeat its last one.
            for (int y = 0; y < cl.height; ++y) {
                const int y0 = BlockStart(y, 2, fl.height);
                const unsigned char* r0 =
                    f + static_cast<std::size_t>(std::min(y0, fl.height - 1)) * fl.width;
                const unsigned char* r1 =
                    f + static_cast<std::size_t>(std::min(y0 + 1, fl.height - 1)) * fl.width;
                unsigned char* out = t + static_cast<std::size_t>(y) * cl.width;
                HalveRow(r0, r1, plain, out);
                for (int x = plain; x < cl.width; ++x) {
                    const int x0 = std::min(BlockStart(x, 2, fl.width), fl.width - 1);
                    const int x1 = std::min(x0 + 1, fl.width - 1);
                    out[x] =
                        static_cast<unsigned char>((r0[x0] + r0[x1] + r1[x0] + r1[x1] + 2) >> 2);
                }
            }
        }
    }
    m_curLevel = lev > 2 ? lev : FLOW_LEVEL;

    DelLay(240, 0);
    DelLay(241, 0);
    DelLay(242, 0);
}

} // namespace wizard73
