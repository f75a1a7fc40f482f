// Stage 7, Respon: how well the level-0 gradients (stage 2's raw responses in work planes 0 and
// 2) agree with the expected ridge direction of every level-3 block. The agreement attenuates
// the contrast 114 into 115, and a doubled-angle field built from it is carried down the
// pyramid as orientation 34 (degrees 0..179) and magnitude 144 at levels 3 down to the target.
// The gradient direction (halved degrees) and magnitude stay as 272 and 273 of level 0. Throws
// only what stage 6 throws.

#include "extraction/engine/BlockEnergy.h"
#include "extraction/engine/Codex.h"
#include "extraction/engine/HalfAngle.h"
#include "extraction/engine/Roots.h"
#include "extraction/engine/Smooth121.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace {

constexpr int RESPON_STAGE = 7;
constexpr int LEVEL = 3;
constexpr int ZERO = 127; // signed values in bytes

[[noreturn]] void NoLayer(std::int32_t& error)
{
    error = WZ_NO_LAYER;
    throw WZ_NO_LAYER;
}

// Orientation (degrees 0..179) and magnitude of a doubled-angle pair.
struct Polar {
    int c, s, o, m;
};

// The orientation and magnitude of the [1 2 1] x [1 2 1] means c and s (-127..128) of a pair
// of byte planes at an inner pixel (ReSmoothRow).
__attribute__((always_inline)) inline Polar Inner(int c, int s)
{
    Polar r{c, s, 0, 0};
    r.o = HalfAtan(r.c, r.s);
    r.m = TabSqr[static_cast<std::size_t>(r.c * r.c + r.s * r.s)]; // at most 2 * 128^2
    return r;
}

// The [1 2 1] x [1 2 1] mean, less ZERO, of the byte plane around p (rows w apart).
int Smooth3(const unsigned char* p, std::ptrdiff_t w)
{
    return Smooth121(p, w) - ZERO;
}

// Zeroes the outermost rows and columns of a w x h byte plane.
void ClearBorder(unsigned char* p, int w, int h)
{
    if (w <= 0 || h <= 0) {
        return;
    }
    std::memset(p, 0, static_cast<std::size_t>(w));
    std::memset(p + static_cast<std::size_t>(h - 1) * w, 0, static_cast<std::size_t>(w));
    for (int y = 1; y + 1 < h; ++y) {
        p[static_cast<std::size_t>(y) * w] = 0;
        p[static_cast<std::size_t>(y) * w + w - 1] = 0;
    }
}

Polar Border(const unsigned char* c, const unsigned char* s)
{
    Polar r{(*c - ZERO) / 2, (*s - ZERO) / 2, 0, 0};
    r.o = HalfAtan(r.c, r.s);
    r.m = TabSqr[r.c * r.c + r.s * r.s];
    return r;
}

} // namespace

// The gradient magnitude byte of a norm n = gx^2 + gy^2 (sqri reads the roots past its first
// blend from its table of change points).
int ReMagnitude(int n)
{
    const int m = SqriInline(n) / 4;
    return m > 255 ? 255 : m; // steep diagonals saturate
}

namespace {

// The direction atan(x, y) / 2 (0..179) of every octant index i (1..129) of AtanOctant by the
// vector's quadrant and octant: row (y <= 0) * 4 + (x <= 0) * 2 + (|x| < |y|). Index 130 is a
// vector on an axis (its smaller part 0), index 0 the zero vector, whose direction is 0.
struct GradientTurns {
    std::uint8_t at[8 * 131];
};
constexpr GradientTurns MakeGradientTurns()
{
    const int base[8] = {0, 90, 180, 90, 360, 270, 180, 270};
    const int sign[8] = {1, -1, -1, 1, -1, 1, 1, -1};
    GradientTurns t{};
    for (int row = 0; row < 8; ++row) {
        for (int i = 1; i < 130; ++i) {
            t.at[131 * row + i] =
                static_cast<std::uint8_t>(Mod360(base[row] + sign[row] * TabTan[i]) / 2);
        }
    }
    // On the axes: y > 0 (x = 0, steep), y < 0 (x = 0, steep), x > 0 and x < 0 (y = 0).
    t.at[131 * 3 + 130] = 90 / 2;
    t.at[131 * 7 + 130] = 270 / 2;
    t.at[131 * 4 + 130] = 0;
    t.at[131 * 6 + 130] = 180 / 2;
    return t;
}
constexpr GradientTurns kGradientTurns = MakeGradientTurns();

// The magnitude bytes of the norms below SQRI_STEP_END (a byte image's gradients stay below 2 *
// 1020^2): below MAG_TABLE one byte each (TabSqr and the first blend together), above that by
// buckets of 256 norms, each the byte at its first norm (v0), the byte after its change (v1) and
// the offset of the change in the bucket (cut, 256 for none) as v0 | v1 << 8 | cut << 16. A
// bucket whose byte changes more than once has cut MAG_SLOW and is left to ReMagnitude, as are
// the norms from SQRI_STEP_END on.
constexpr int MAG_TABLE = SQRI_STEP_FIRST;
constexpr int MAG_SHIFT = 8;
constexpr std::uint32_t MAG_SLOW = 511;

struct MagnitudeTables {
    std::vector<std::uint8_t> direct;
    std::vector<std::uint32_t> bucket;
};

MagnitudeTables MakeMagnitudeTables()
{
    MagnitudeTables t;
    t.direct.resize(MAG_TABLE);
    for (int n = 0; n < MAG_TABLE; ++n) {
        t.direct[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(ReMagnitude(n));
    }
    // The roots of sqri beyond MAG_TABLE change only at its steps.
    int count = 0;
    const SqriStep* steps = SqriSteps(count);
    const auto byteOf = [](std::uint32_t root) { return root / 4 > 255 ? 255u : root / 4; };
    // The buckets below MAG_TABLE are never read for their bytes: cut 256, byte 0.
    t.bucket.assign(static_cast<std::size_t>(SQRI_STEP_END >> MAG_SHIFT), 256u << 16);
    int k = 0; // the step in force at the bucket's first norm
    for (int b = MAG_TABLE >> MAG_SHIFT; b < (SQRI_STEP_END >> MAG_SHIFT); ++b) {
        const auto first = static_cast<std::uint32_t>(b << MAG_SHIFT);
        const std::uint32_t start = first > MAG_TABLE ? first : MAG_TABLE;
        const std::uint32_t end = first + (1u << MAG_SHIFT);
        while (k + 1 < count && steps[k + 1].from <= start) {
            ++k;
        }
        const std::uint32_t v0 = byteOf(steps[k].root);
        std::uint32_t v = v0;
        std::uint32_t cut = 1u << MAG_SHIFT;
        int changes = 0;
        for (int j = k + 1; j < count && steps[j].from < end; ++j) {
            if (byteOf(steps[j].root) != v) {
                v = byteOf(steps[j].root);
                cut = steps[j].from - first;
                ++changes;
            }
        }
        t.bucket[static_cast<std::size_t>(b)] =
            changes > 1 ? MAG_SLOW << 16 : v0 | v << 8 | cut << 16;
    }
    return t;
}

const MagnitudeTables& Magnitudes()
{
    static const MagnitudeTables tables = MakeMagnitudeTables();
    return tables;
}

// The magnitude byte of the norm n >= 0 from the tables: both reads made, the one that holds
// chosen, so that the only branch is to the rare norms left to ReMagnitude.
__attribute__((always_inline)) inline int GradientMagnitude(int n, const std::uint8_t* direct,
                                                            const std::uint32_t* bucket)
{
    constexpr std::uint32_t LAST_BUCKET = (SQRI_STEP_END >> MAG_SHIFT) - 1;
    const auto u = static_cast<std::uint32_t>(n);
    const std::uint32_t b = u >> MAG_SHIFT;
    const std::uint32_t e = bucket[b < LAST_BUCKET ? b : LAST_BUCKET];
    const std::uint32_t cut = e >> 16;
    if (u >= SQRI_STEP_END || cut == MAG_SLOW) {
        return ReMagnitude(n);
    }
    // Masks of all ones or 0 choose without a jump.
    const std::uint32_t after = 0u - ((u & ((1u << MAG_SHIFT) - 1)) >= cut ? 1u : 0u);
    const std::uint32_t stepped = (((e >> 8) & after) | (e & ~after)) & 255;
    const std::uint32_t inTable = 0u - (u < MAG_TABLE ? 1u : 0u);
    const std::uint32_t table = direct[u & inTable]; // norm 0 where the table does not hold
    return static_cast<int>((table & inTable) | (stepped & ~inTable));
}

// The direction byte of (gx, gy) from its octant index, without branches on the signs: the
// absolute values by their sign masks, the row from comparisons. |gx|, |gy| <= 32768, so that
// 128 p + q <= 129 * 32768 fits.
__attribute__((always_inline)) inline int GradientDirection(int gx, int gy)
{
    const int sx = gx >> 31;
    const int sy = gy >> 31;
    const auto ax = static_cast<unsigned>((gx ^ sx) - sx);
    const auto ay = static_cast<unsigned>((gy ^ sy) - sy);
    const unsigned steep = ax < ay ? 1u : 0u;
    const unsigned p = steep != 0 ? ax : ay;
    const unsigned q = steep != 0 ? ay : ax;
    const unsigned octant = (128 * p + q) / (q + (q == 0 ? 1u : 0u));
    const unsigned onAxis = 0u - (p == 0 ? 1u : 0u); // all ones where p = 0
    const unsigned index = (octant & ~onAxis) | ((q != 0 ? 130u : 0u) & onAxis);
    const unsigned row = (static_cast<unsigned>(gy - 1) >> 31) * 4 +
                         (static_cast<unsigned>(gx - 1) >> 31) * 2 + steep;
    return kGradientTurns.at[131 * row + index];
}

} // namespace

int ReGradientMagnitude(int n)
{
    return GradientMagnitude(n, Magnitudes().direct.data(), Magnitudes().bucket.data());
}

void ReGradientRowScalar(const std::int16_t* d12, const std::int16_t* d10, int count,
                         unsigned char* gdir, unsigned char* gmag)
{
    const std::uint8_t* direct = Magnitudes().direct.data();
    const std::uint32_t* bucket = Magnitudes().bucket.data();
    for (int x = 0; x < count; ++x) {
        const int gx = -d12[x];
        const int gy = d10[x];
        gdir[x] = static_cast<unsigned char>(GradientDirection(gx, gy));
        gmag[x] = static_cast<unsigned char>(GradientMagnitude(gx * gx + gy * gy, direct, bucket));
    }
}

#if defined(__SSE2__)
// Four pixels at a time in 32-bit lanes. The octant index 1 + 128 p / q, rounded down, comes
// from a single-precision division: 128 p and q are exact, and a quotient that is not a whole
// number lies at least 1 / q >= 2^-15 from one, more than the division's error (at most 2^-17
// below 128), so that its truncation is exact. The table reads stay scalar.
void ReGradientRow(const std::int16_t* d12, const std::int16_t* d10, int count, unsigned char* gdir,
                   unsigned char* gmag)
{
    const std::uint8_t* direct = Magnitudes().direct.data();
    const std::uint32_t* bucket = Magnitudes().bucket.data();
    const __m128i one = _mm_set1_epi32(1);
    const __m128i axis = _mm_set1_epi32(130);
    const __m128 scale = _mm_set1_ps(128.0f);
    const __m128 least = _mm_set1_ps(1.0f);
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d12 + x));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d10 + x));
        // The norms d12^2 + d10^2 of the interleaved pairs; the sign of gx = -d12 is lost in
        // its square.
        const __m128i pairs = _mm_unpacklo_epi16(a, b);
        alignas(16) std::int32_t norm[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(norm), _mm_madd_epi16(pairs, pairs));
        const __m128i gx =
            _mm_sub_epi32(_mm_setzero_si128(), _mm_srai_epi32(_mm_unpacklo_epi16(a, a), 16));
        const __m128i gy = _mm_srai_epi32(_mm_unpacklo_epi16(b, b), 16);
        const __m128i sx = _mm_srai_epi32(gx, 31);
        const __m128i sy = _mm_srai_epi32(gy, 31);
        const __m128 ax = _mm_cvtepi32_ps(_mm_sub_epi32(_mm_xor_si128(gx, sx), sx));
        const __m128 ay = _mm_cvtepi32_ps(_mm_sub_epi32(_mm_xor_si128(gy, sy), sy));
        const __m128i steep = _mm_castps_si128(_mm_cmplt_ps(ax, ay)); // all ones or 0
        const __m128 p = _mm_min_ps(ax, ay);
        const __m128 q = _mm_max_ps(ax, ay);
        const __m128i octant = _mm_add_epi32(
            one, _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(p, scale), _mm_max_ps(q, least))));
        const __m128i onAxis = _mm_castps_si128(_mm_cmpeq_ps(p, _mm_setzero_ps()));
        const __m128i moving = _mm_castps_si128(_mm_cmpneq_ps(q, _mm_setzero_ps()));
        const __m128i index = _mm_or_si128(_mm_andnot_si128(onAxis, octant),
                                           _mm_and_si128(onAxis, _mm_and_si128(moving, axis)));
        // Row (gy <= 0) * 4 + (gx <= 0) * 2 + steep of 131 entries (the row, below 8, times 131
        // in the low 16 bits of its lane, the high ones 0).
        const __m128i row =
            _mm_add_epi32(_mm_add_epi32(_mm_and_si128(_mm_cmplt_epi32(gy, one), _mm_set1_epi32(4)),
                                        _mm_and_si128(_mm_cmplt_epi32(gx, one), _mm_set1_epi32(2))),
                          _mm_and_si128(steep, one));
        alignas(16) std::int32_t at[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(at),
                        _mm_add_epi32(index, _mm_mullo_epi16(row, _mm_set1_epi32(131))));
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            gdir[x + k] = kGradientTurns.at[at[k]];
            gmag[x + k] = static_cast<unsigned char>(GradientMagnitude(norm[k], direct, bucket));
        }
    }
    ReGradientRowScalar(d12 + x, d10 + x, count - x, gdir + x, gmag + x);
}
#else
void ReGradientRow(const std::int16_t* d12, const std::int16_t* d10, int count, unsigned char* gdir,
                   unsigned char* gmag)
{
    ReGradientRowScalar(d12, d10, count, gdir, gmag);
}
#endif

void ReSmoothRowScalar(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                       std::int16_t* mc, std::int16_t* ms)
{
    for (int x = x0; x < x1; ++x) {
        mc[x] = static_cast<std::int16_t>(Smooth3(fc + x, w));
        ms[x] = static_cast<std::int16_t>(Smooth3(fs + x, w));
    }
}

#if defined(__SSE2__)
// Eight pixels at a time (Smooth121x8).
void ReSmoothRow(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                 std::int16_t* mc, std::int16_t* ms)
{
    const __m128i bias = _mm_set1_epi16(ZERO);
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mc + x),
                         _mm_sub_epi16(Smooth121x8(fc + x, w), bias));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ms + x),
                         _mm_sub_epi16(Smooth121x8(fs + x, w), bias));
    }
    ReSmoothRowScalar(fc, fs, w, x, x1, mc, ms);
}
#else
void ReSmoothRow(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                 std::int16_t* mc, std::int16_t* ms)
{
    ReSmoothRowScalar(fc, fs, w, x0, x1, mc, ms);
}
#endif

// Measuring scan: per level-3 block, the energies along and across the expected normal, the
// attenuated contrast 115 and the doubled-angle field 240 / 241 of level 3.
void Codex::ReMeasure(int divisor)
{
    const int w0 = m_level[0].width;
    const int h0 = m_level[0].height;
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const unsigned char* gdir = GetLay(272, 0);
    const unsigned char* gmag = GetLay(273, 0);
    const unsigned char* cls = GetLay(129, LEVEL);
    const unsigned char* l37 = GetLay(37, LEVEL);
    const unsigned char* l32 = GetLay(32, LEVEL);
    const unsigned char* l33 = GetLay(33, LEVEL);
    const unsigned char* l114 = GetLay(114, LEVEL);
    unsigned char* l115 = GetLay(115, LEVEL);
    unsigned char* fc = GetLay(240, LEVEL);
    unsigned char* fs = GetLay(241, LEVEL);
    if (gdir == nullptr || gmag == nullptr || cls == nullptr || l37 == nullptr || l32 == nullptr ||
        l33 == nullptr || l114 == nullptr || l115 == nullptr || fc == nullptr || fs == nullptr) {
        NoLayer(m_error);
    }
    const BlockEnergy energy(m_rank.Ran, m_rank.Lor, divisor);
    for (int y = 0; y < h; ++y) {
        const int by = y * 8 + 8 > h0 ? h0 - 8 : y * 8;
        for (int x = 0; x < w; ++x) {
            const int bx = x * 8 + 8 > w0 ? w0 - 8 : x * 8;
            const std::size_t b = static_cast<std::size_t>(y) * w + x;
            const int c = cls[b];
            const int ref = Mod360(c == 1 || c == 2 ? Mod360(2 * l37[b])
                                   : c == 8         ? l32[b] + 90
                                                    : l33[b] + 90);
            // 1.-2. Energies and the fourth-largest weighted magnitude of the block, over its
            // pixels off the level-0 border.
            const BlockSums e =
                energy.Scan(gdir, gmag, w0, std::max(bx, 1), std::min(bx + 8, w0 - 1),
                            std::max(by, 1), std::min(by + 8, h0 - 1), ref);
            // 3. Block value and the field.
            int r;
            int lim;
            if (c == 2 || c == 1) {
                r = 2 * (l37[b] + 45);
                lim = c == 2 ? 75 : 85;
            } else if (c == 8) {
                r = l32[b];
                lim = 80;
            } else {
                r = l33[b];
                lim = 85;
            }
            const int angle = lim * e.across / (e.along + e.across == 0 ? 1 : e.along + e.across);
            const int m = Descale13(TabSig[90 - angle] * e.top) + 7;
            const int r2 = Mod360(2 * r);
            fc[b] = static_cast<unsigned char>(
                std::clamp(Descale13(CosDeg(r2) * m) / 2 + ZERO, 0, 255));
            fs[b] = static_cast<unsigned char>(
                std::clamp(Descale13(SinDeg(r2) * m) / 2 + ZERO, 0, 255));
            const int att = Descale13(TabSig[90 - angle] * l114[b]);
            l115[b] = static_cast<unsigned char>(att < 0 ? 0 : att);
        }
    }
}

// Carries the field of level `level` down to level - 1 (block by block, edge blocks shifted
// inside), or, with target == level, writes 34 and 144 of the level from its own field.
void Codex::ReSpread(int level, int target)
{
    const int w = m_level[level].width;
    const int h = m_level[level].height;
    const unsigned char* fc = GetLay(240, level);
    const unsigned char* fs = GetLay(241, level);
    unsigned char* o = GetLay(34, level);
    unsigned char* mg = GetLay(144, level);
    if (fc == nullptr || fs == nullptr || o == nullptr || mg == nullptr) {
        NoLayer(m_error);
    }
    const bool down = target < level;
    const int fine = down ? level - 1 : level;
    const int wf = m_level[fine].width;
    const int hf = m_level[fine].height;
    unsigned char* fo = GetLay(34, fine);
    unsigned char* fm = GetLay(144, fine);
    unsigned char* ffc = GetLay(240, fine);
    unsigned char* ffs = GetLay(241, fine);
    if (fo == nullptr || fm == nullptr || ffc == nullptr || ffs == nullptr) {
        NoLayer(m_error);
    }
    const int k = down ? 2 : 1;
    // The smoothed c and s of an inner row's inner pixels, less ZERO.
    std::vector<std::int16_t> means(2 * static_cast<std::size_t>(w));
    std::int16_t* mc = means.data();
    std::int16_t* ms = mc + w;
    // Written into separate buffers first: the fine level's field must not feed this level.
    // The pass is made once with the descent's stores and once without, each with its own loop;
    // a descent onto the target level leaves out its 34 and 144, which the target's own pass
    // writes on every pixel.
    auto pass = [&](auto descend, auto keepFine) {
        constexpr bool kDown = decltype(descend)::value;
        constexpr bool kFine = decltype(keepFine)::value;
        for (int y = 0; y < h; ++y) {
            const bool innerRow = y > 0 && y < h - 1;
            const std::size_t row = static_cast<std::size_t>(y) * w;
            const int fy0 = y * k + k > hf ? hf - k : y * k;
            // The values of pixel x of the row, and of its block of the finer level.
            auto emit = [&](int x, const Polar& p) __attribute__((always_inline))
            {
                const std::size_t i = row + x;
                o[i] = static_cast<unsigned char>(p.o);
                mg[i] = static_cast<unsigned char>(p.m);
                if (!kDown) {
                    return;
                }
                const int fx0 = x * k + k > wf ? wf - k : x * k;
                const auto vo = static_cast<unsigned char>(p.o);
                const auto vm = static_cast<unsigned char>(p.m);
                const auto vc = static_cast<unsigned char>(std::clamp(p.c + ZERO, 0, 255));
                const auto vs = static_cast<unsigned char>(std::clamp(p.s + ZERO, 0, 255));
                auto put = [&](std::size_t j) {
                    if (kFine) {
                        fo[j] = vo;
                        fm[j] = vm;
                    }
                    ffc[j] = vc;
                    ffs[j] = vs;
                };
                if (fx0 >= 0 && fy0 >= 0) { // a whole 2 x 2 block, stored without loops
                    ForQuad(static_cast<std::size_t>(fy0) * wf + fx0, static_cast<std::size_t>(wf),
                            put);
                    return;
                }
                for (int fy = std::max(fy0, 0); fy < fy0 + k; ++fy) { // inside a narrow level only
                    for (int fx = std::max(fx0, 0); fx < fx0 + k; ++fx) {
                        put(static_cast<std::size_t>(fy) * wf + fx);
                    }
                }
            };
            if (!innerRow) {
                for (int x = 0; x < w; ++x) {
                    emit(x, Border(fc + row + x, fs + row + x));
                }
                continue;
            }
            // An inner row: its first and last pixels are edge pixels, the others inner ones.
            ReSmoothRow(fc + row, fs + row, w, 1, w - 1, mc, ms);
            if (w > 0) {
                emit(0, Border(fc + row, fs + row));
            }
            for (int x = 1; x < w - 1; ++x) {
                emit(x, Inner(mc[x], ms[x]));
            }
            if (w > 1) {
                emit(w - 1, Border(fc + row + w - 1, fs + row + w - 1));
            }
        }
    };
    if (!down) {
        pass(std::false_type(), std::false_type());
    } else if (fine == target) {
        pass(std::true_type(), std::false_type());
    } else {
        pass(std::true_type(), std::true_type());
    }
}

void Codex::Respon(int level)
{
    // 1. Pull and stage discipline.
    if (GetKey(129, LEVEL) == -1) {
        Ifocus(1);
    }
    m_stage = RESPON_STAGE;
    OldLay(RESPON_STAGE);
    m_curLevel = LEVEL;
    const int target = std::clamp(level, 0, LEVEL);
    m_rank.RanIni(0);
    // 2. Gradient direction and magnitude at the inner level-0 pixels.
    const int w0 = m_level[0].width;
    const int h0 = m_level[0].height;
    // Kept for later stages as 272 and 273.
    unsigned char* gdir = GetLay(272, 0);
    unsigned char* gmag = GetLay(273, 0);
    if (gdir == nullptr || gmag == nullptr || GetLay(1, 0) == nullptr) {
        NoLayer(m_error);
    }
    // Every inner pixel is written below.
    ClearBorder(gdir, w0, h0);
    ClearBorder(gmag, w0, h0);
    const std::int16_t* d12 = Plane(0);
    const std::int16_t* d10 = Plane(2);
    // The histogram counts in four tallies by column, so that neighbouring pixels of one
    // magnitude do not wait on each other's count.
    int tally[4][256] = {};
    for (int y = 1; y + 1 < h0; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w0 + 1;
        const int count = w0 - 2;
        ReGradientRow(d12 + row, d10 + row, count, gdir + row, gmag + row);
        const unsigned char* m = gmag + row;
        int x = 0;
        for (; x + 4 <= count; x += 4) {
            ++tally[0][m[x]];
            ++tally[1][m[x + 1]];
            ++tally[2][m[x + 2]];
            ++tally[3][m[x + 3]];
        }
        for (; x < count; ++x) {
            ++tally[0][m[x]];
        }
    }
    for (int v = 0; v < 256; ++v) {
        m_rank.Ran[v] += tally[0][v] + tally[1][v] + tally[2][v] + tally[3][v];
    }
    // 3.-4. Weight curve and gain.
    static const int kCurve[] = {3, 15, 0, 64, 90, 255, 255};
    const int divisor = m_rank.RanSha(3) + 1;
    m_reDivisor = m_reDivisor2 = divisor;
    m_rank.RanMod(kCurve);
    m_rank.RanSmo(7);
    m_rank.LorLog(255);
    // 5. Measuring scan.
    ReMeasure(divisor);
    // 6. Propagation down to the target, then the target's own values.
    for (int l = LEVEL; l > target; --l) {
        ReSpread(l, target);
    }
    ReSpread(target, target);
    // 7. Work layers.
    for (int l = LEVEL; l >= 0; --l) {
        DelLay(240, l);
        DelLay(241, l);
        DelLay(242, l);
        DelLay(243, l);
    }
    m_curLevel = LEVEL;
}

} // namespace wizard73
