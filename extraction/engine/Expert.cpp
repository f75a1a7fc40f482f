// Stage 16, Expert: the ridge reliability map. From the period response 116, clarity 118 and
// channel incoherence 117 of level 3 it rates every pixel (145, 0..255, 127 neutral; 147 its
// positive part as 0..63) and smooths the period bin x 8 (57), from level 3 down to the asked
// level (1..3), taking the minimum over twelve flow-oriented 3 x 3 means. Also prepares layers
// 4..7 of level 0 (255, 255, 127, 127). Work layers 240 / 241 are deleted. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {

namespace {

// Weights of the reliability angle: flow measure, then clarity and divisor of each mode.
constexpr int TUNE_FLOW = 11;
constexpr int TUNE_CLARITY_NORMAL = 15;
constexpr int TUNE_CLARITY_QUICK = 10;
constexpr int TUNE_DIVISOR_NORMAL = 12;
constexpr int TUNE_DIVISOR_QUICK = 13;

constexpr int EXPERT_STAGE = 16;
constexpr int FLOW_LEVEL = 3;
constexpr int NEUTRAL = 127;
constexpr int KERNELS = 12;

// Twelve 3 x 3 kernels for the directions 0, 15, ..., 165 degrees, weights in the order right,
// down-right, down, down-left, left, up-left, up, up-right, centre, with their sums.
struct Kernel {
    int w[9];
    int sum;
};
struct KernelSet {
    Kernel k[KERNELS];
};
constexpr KernelSet MakeKernels()
{
    KernelSet s{};
    for (int i = 0; i < KERNELS; ++i) {
        const int d = 15 * i;
        int sum = 32;
        for (int a = 0; a < 4; ++a) {
            int e = d - 45 * a;
            e = e < 0 ? -e : e;
            e = e > 90 ? 180 - e : e;
            const int wx = Descale13(32 * TabSig[90 - e]);
            s.k[i].w[a] = wx;
            s.k[i].w[a + 4] = wx;
            sum += 2 * wx;
        }
        s.k[i].w[8] = 32;
        s.k[i].sum = sum;
    }
    return s;
}
constexpr KernelSet kKernels = MakeKernels();
static_assert(kKernels.k[0].w[0] == 32 && kKernels.k[0].w[2] == 0 && kKernels.k[6].w[2] == 32);

constexpr bool Symmetric(const KernelSet& s)
{
    for (const Kernel& k : s.k) {
        for (int a = 0; a < 4; ++a) {
            if (k.w[a] != k.w[a + 4]) {
                return false;
            }
        }
    }
    return true;
}
static_assert(Symmetric(kKernels), "opposite neighbours weigh the same");

// The kernels share one divisor and weigh the centre alike, and each weighs a neighbour and
// the one two directions on together 32: w[0] + w[2] = w[1] + w[3] = 32. A kernel's sum over
// the opposite-neighbour pair sums q0..q3 is then 16 (q0 + q1 + q2 + q3) + a u + c v with
// u = q0 - q2, v = q1 - q3 and (a, c) = (w[0] - 16, w[1] - 16); over the twelve kernels (a, c)
// takes every sign change of (16, 0), (0, 16), (14, 8) and (8, 14), so the least sum takes off
// the largest of 16 |u|, 16 |v|, 14 |u| + 8 |v| and 8 |u| + 14 |v|.
constexpr int kStraight = kKernels.k[0].w[0] - 16; // 16
constexpr int kNear = kKernels.k[1].w[0] - 16;     // 14
constexpr int kFar = kKernels.k[1].w[1] - 16;      // 8
constexpr bool SignChanges(const KernelSet& s)
{
    const int want[4][2] = {{kStraight, 0}, {0, kStraight}, {kNear, kFar}, {kFar, kNear}};
    int seen[4][4] = {};
    for (const Kernel& k : s.k) {
        if (k.w[0] + k.w[2] != 32 || k.w[1] + k.w[3] != 32 || k.w[8] != 32 || k.sum != s.k[0].sum) {
            return false;
        }
        const int a = k.w[0] - 16;
        const int c = k.w[1] - 16;
        bool found = false;
        for (int f = 0; f < 4 && !found; ++f) {
            for (int sg = 0; sg < 4 && !found; ++sg) {
                const int sa = (sg & 1) != 0 ? -want[f][0] : want[f][0];
                const int sc = (sg & 2) != 0 ? -want[f][1] : want[f][1];
                if (a == sa && c == sc) {
                    ++seen[f][sg];
                    found = true;
                }
            }
        }
        if (!found) {
            return false;
        }
    }
    // Each of the twelve distinct sign changes once (a zero component has two of its four).
    for (int f = 0; f < 4; ++f) {
        for (int sg = 0; sg < 4; ++sg) {
            const bool zero = want[f][0] == 0 || want[f][1] == 0;
            const bool distinct = !zero || (want[f][0] == 0 ? (sg & 1) == 0 : (sg & 2) == 0);
            if (seen[f][sg] != (distinct ? 1 : 0)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(kKernels.k[0].sum == 160); // every sum is this one (SignChanges)
static_assert(kStraight == 16 && SignChanges(kKernels), "the kernels are rotations of three");

// Least over the twelve kernels of the weighted mean of the nine gathered bytes, each mean
// rounded. One divisor, and the rounded mean (s + d/2) / d never falls as the weighted sum s
// grows, so the least mean is that of the least sum.
constexpr int LeastMean(const int* b)
{
    const int q0 = b[0] + b[4];
    const int q1 = b[1] + b[5];
    const int q2 = b[2] + b[6];
    const int q3 = b[3] + b[7];
    int u = q0 - q2;
    int v = q1 - q3;
    u = u < 0 ? -u : u;
    v = v < 0 ? -v : v;
    int m = kStraight * (u > v ? u : v);
    const int near = kNear * u + kFar * v;
    const int far = kFar * u + kNear * v;
    m = near > m ? near : m;
    m = far > m ? far : m;
    const int s = 16 * (q0 + q1 + q2 + q3) + 32 * b[8] - m;
    constexpr int d = kKernels.k[0].sum;
    return (s + d / 2) / d;
}

// The closed form against the twelve kernels' weighted sums, on pseudo-random neighbourhoods
// and the extremes, at compile time.
constexpr bool LeastMeanAgrees()
{
    std::uint32_t seed = 2463534242u;
    for (int n = 0; n < 1000; ++n) { // within the compile-time step limits of GCC and Clang
        int b[9] = {};
        for (int& x : b) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            x = n < 2     ? 255 * n
                : n < 200 ? static_cast<int>(seed % 3) * 127 + 1 - (n & 1)
                          : static_cast<int>(seed & 255);
        }
        int least = 255;
        for (const Kernel& k : kKernels.k) {
            int sum = k.w[8] * b[8];
            for (int a = 0; a < 8; ++a) {
                sum += k.w[a] * b[a];
            }
            const int mean = (sum + k.sum / 2) / k.sum;
            least = mean < least ? mean : least;
        }
        if (LeastMean(b) != least) {
            return false;
        }
    }
    return true;
}
static_assert(LeastMeanAgrees());

// The positive part of a rating 0..255 as 0..63, one entry per rating.
struct Positive63Table {
    unsigned char v[256];
};
constexpr Positive63Table MakePositive63()
{
    Positive63Table t{};
    for (int r = 0; r < 256; ++r) {
        t.v[r] = static_cast<unsigned char>(r > NEUTRAL ? (r - NEUTRAL) * 63 / NEUTRAL : 0);
    }
    return t;
}
constexpr Positive63Table kPositive63 = MakePositive63();

// The same as the high half of the 16-bit product of the part above NEUTRAL (0..128) by
// POSITIVE63_MUL: 63 / 127 is 32510 / 2^16 within 2 / (127 * 2^16), too little to reach the
// next whole number.
constexpr int POSITIVE63_MUL = 32510;
constexpr bool Positive63ByProduct()
{
    for (int r = 0; r < 256; ++r) {
        const int above = r > NEUTRAL ? r - NEUTRAL : 0;
        if (((above * POSITIVE63_MUL) >> 16) != kPositive63.v[r]) {
            return false;
        }
    }
    return true;
}
static_assert(Positive63ByProduct());

} // namespace

void ExRowScalar(const unsigned char* r240, const unsigned char* r241, int cw, int x0, int x1,
                 unsigned char* r145, unsigned char* r147, unsigned char* r57)
{
    for (int x = x0; x < x1; ++x) {
        const unsigned char* p = r240 + x;
        const int b[9] = {p[1],       p[cw + 1], p[cw],      p[cw - 1], p[-1],
                          p[-cw - 1], p[-cw],    p[-cw + 1], p[0]};
        const int r = LeastMean(b);
        const unsigned char* s = r241 + x;
        const int around =
            s[1] + s[cw + 1] + s[cw] + s[cw - 1] + s[-1] + s[-cw - 1] + s[-cw] + s[-cw + 1];
        r145[x] = static_cast<unsigned char>(r);
        r147[x] = kPositive63.v[r];
        r57[x] = static_cast<unsigned char>((around + 4) / 8);
    }
}

#if defined(__SSE2__)
// Eight pixels at a time in 16-bit lanes. The pair sums are 0..510 and the terms of LeastMean's
// maximum at most 22 * 510; its least sum s is 0..40800, exact in unsigned lanes even where a
// step of the sum wraps, and (s + 80) / 160 is ((s + 80) >> 5) / 5, the division by 5 of a
// value below 2^14 exact as the high half of its product by 13108.
void ExRow(const unsigned char* r240, const unsigned char* r241, int cw, int x0, int x1,
           unsigned char* r145, unsigned char* r147, unsigned char* r57)
{
    static_assert(kKernels.k[0].sum == 160 && kStraight == 16 && kNear == 14 && kFar == 8);
    const __m128i zero = _mm_setzero_si128();
    const std::ptrdiff_t up = -static_cast<std::ptrdiff_t>(cw);
    const std::ptrdiff_t down = cw;
    auto load = [zero](const unsigned char* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    auto abs16 = [zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        const unsigned char* p = r240 + x;
        const __m128i q0 = _mm_add_epi16(load(p + 1), load(p - 1));
        const __m128i q1 = _mm_add_epi16(load(p + down + 1), load(p + up - 1));
        const __m128i q2 = _mm_add_epi16(load(p + down), load(p + up));
        const __m128i q3 = _mm_add_epi16(load(p + down - 1), load(p + up + 1));
        const __m128i u = abs16(_mm_sub_epi16(q0, q2));
        const __m128i v = abs16(_mm_sub_epi16(q1, q3));
        __m128i m = _mm_slli_epi16(_mm_max_epi16(u, v), 4);
        const __m128i u8 = _mm_slli_epi16(u, 3);
        const __m128i v8 = _mm_slli_epi16(v, 3);
        const __m128i u14 = _mm_sub_epi16(_mm_slli_epi16(u, 4), _mm_slli_epi16(u, 1));
        const __m128i v14 = _mm_sub_epi16(_mm_slli_epi16(v, 4), _mm_slli_epi16(v, 1));
        m = _mm_max_epi16(m, _mm_add_epi16(u14, v8));
        m = _mm_max_epi16(m, _mm_add_epi16(u8, v14));
        const __m128i pairs = _mm_add_epi16(_mm_add_epi16(q0, q1), _mm_add_epi16(q2, q3));
        const __m128i sum =
            _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(pairs, 4), _mm_slli_epi16(load(p), 5)), m);
        const __m128i r = _mm_mulhi_epu16(_mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(80)), 5),
                                          _mm_set1_epi16(13108));
        const unsigned char* s = r241 + x;
        const __m128i around =
            _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(load(s + 1), load(s + down + 1)),
                                        _mm_add_epi16(load(s + down), load(s + down - 1))),
                          _mm_add_epi16(_mm_add_epi16(load(s - 1), load(s + up - 1)),
                                        _mm_add_epi16(load(s + up), load(s + up + 1))));
        const __m128i mean = _mm_srli_epi16(_mm_add_epi16(around, _mm_set1_epi16(4)), 3);
        const __m128i positive = _mm_mulhi_epu16(_mm_subs_epu16(r, _mm_set1_epi16(NEUTRAL)),
                                                 _mm_set1_epi16(POSITIVE63_MUL));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(r145 + x), _mm_packus_epi16(r, r));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(r147 + x),
                         _mm_packus_epi16(positive, positive));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(r57 + x), _mm_packus_epi16(mean, mean));
    }
    ExRowScalar(r240, r241, cw, x, x1, r145, r147, r57);
}
#else
void ExRow(const unsigned char* r240, const unsigned char* r241, int cw, int x0, int x1,
           unsigned char* r145, unsigned char* r147, unsigned char* r57)
{
    ExRowScalar(r240, r241, cw, x0, x1, r145, r147, r57);
}
#endif

void Codex::Expert(int level)
{
    const bool quick = m_quick != 0;
    const int tuneClarity = quick ? TUNE_CLARITY_QUICK : TUNE_CLARITY_NORMAL;
    const int tuneDivisor = quick ? TUNE_DIVISOR_QUICK : TUNE_DIVISOR_NORMAL;
    if (GetKey(118, FLOW_LEVEL) == -1) {
        Harmon(1);
    }
    m_stage = EXPERT_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const int target = level < 1 ? 1 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    const CLevel& l0 = m_level[0];
    const CLevel& l3 = m_level[FLOW_LEVEL];
    const int n3 = static_cast<int>(l3.size);

    // 1. Level-0 work layers of the later stages.
    std::memset(Layer(4, 0), 255, l0.size);
    std::memset(Layer(5, 0), 255, l0.size);
    std::memset(Layer(6, 0), NEUTRAL, l0.size);
    std::memset(Layer(7, 0), NEUTRAL, l0.size);

    // 2. Response level of the top 2 % and the transfer curve.
    const unsigned char* power = Layer(116, FLOW_LEVEL);
    const unsigned char* clarity = Layer(118, FLOW_LEVEL);
    const unsigned char* incoh = Layer(117, FLOW_LEVEL);
    const unsigned char* code = Layer(56, FLOW_LEVEL);
    m_rank.RanIni(0);
    for (int i = 0; i < n3; ++i) {
        ++m_rank.Ran[power[i]];
    }
    const int s98 = m_rank.RanSha(2) + 1;
    static const int curve[] = {3, 9, 0, 60, 90, 255, 255};
    m_rank.RanMod(curve);
    m_rank.RanSmo(7);

    // 3. Level 3: reliability before smoothing (240) and period bin x 8 (241).
    unsigned char* rel = Layer(240, FLOW_LEVEL);
    unsigned char* bin8 = Layer(241, FLOW_LEVEL);
    const int shift = quick ? 2 : 4;
    for (int i = 0; i < n3; ++i) {
        int gi = power[i] * 255 / s98;
        gi = gi > 255 ? 255 : gi;
        const int c = m_rank.Ran[gi] * s98 / 255;
        const int num = tuneClarity * clarity[i] + TUNE_FLOW * incoh[i];
        int a = (num + tuneDivisor / 2) / tuneDivisor;
        a = a > 180 ? 180 : a;
        const int e = Descale13(CosDeg(a) * c);
        rel[i] = static_cast<unsigned char>(ClampByte(e / 2 + NEUTRAL));
        bin8[i] = static_cast<unsigned char>(ClampByte((code[i] - shift) * 8));
    }

    // 4. Descent: minimum over the twelve oriented means; border pixels keep 84 % of their
    //    deviation; the finer level inherits the coarse values.
    for (int lv = FLOW_LEVEL; lv >= target; --lv) {
        const CLevel& cl = m_level[lv];
        const int cw = cl.width;
        const unsigned char* c240 = Layer(240, lv);
        const unsigned char* c241 = Layer(241, lv);
        unsigned char* c145 = Layer(145, lv);
        unsigned char* c147 = Layer(147, lv);
        unsigned char* c57 = Layer(57, lv);
        const int ch = cl.height;
        // A border pixel keeps 84 % of its deviation and its own period bin.
        auto border = [&](std::size_t at) {
            const int r = NEUTRAL + 84 * (c240[at] - NEUTRAL) / 100;
            c145[at] = static_cast<unsigned char>(r);
            c147[at] = kPositive63.v[r];
            c57[at] = c241[at];
        };
        for (int y = 0; y < ch; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * cw;
            if (y == 0 || y == ch - 1 || cw < 3) {
                for (int x = 0; x < cw; ++x) {
                    border(row + x);
                }
                continue;
            }
            border(row);
            ExRow(c240 + row, c241 + row, cw, 1, cw - 1, c145 + row, c147 + row, c57 + row);
            border(row + cw - 1);
        }
        if (lv == target) {
            break;
        }
        const CLevel& fl = m_level[lv - 1];
        unsigned char* f240 = Layer(240, lv - 1);
        unsigned char* f241 = Layer(241, lv - 1);
        const int q = cl.scale / fl.scale;
        const int fw = fl.width;
        const int fh = fl.height;
        for (int y = 0; y < ch; ++y) {
            const int y0 = BlockStart(y, q, fh);
            const int y1 = y0 + q < fh ? y0 + q : fh;
            const std::size_t row = static_cast<std::size_t>(y) * cw;
            for (int x = 0; x < cw; ++x) {
                const int x0 = BlockStart(x, q, fw);
                const int x1 = x0 + q < fw ? x0 + q : fw;
                const unsigned char v145 = c145[row + x];
                const unsigned char v57 = c57[row + x];
                if (x1 - x0 == 2 && y1 - y0 == 2) { // a whole 2 x 2 block, stored without loops
                    ForQuad(static_cast<std::size_t>(y0) * fw + x0, static_cast<std::size_t>(fw),
                            [&](std::size_t o) {
                                f240[o] = v145;
                                f241[o] = v57;
                            });
                    continue;
                }
                for (int yy = y0; yy < y1; ++yy) {
                    unsigned char* d240 = f240 + static_cast<std::size_t>(yy) * fw;
                    unsigned char* d241 = f241 + static_cast<std::size_t>(yy) * fw;
                    for (int xx = x0; xx < x1; ++xx) {
                        d240[xx] = v145;
                        d241[xx] = v57;
                    }
                }
            }
        }
    }

    for (int lv = FLOW_LEVEL; lv >= target; --lv) {
        DelLay(240, lv);
        DelLay(241, lv);
    }
}

} // namespace wizard73
