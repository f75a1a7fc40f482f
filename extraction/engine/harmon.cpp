// Stage 15, Harmon: the ridge period map. From the 14-channel energies of stage 14 (layers
// 64..77) it picks one period code per level-3 pixel (bin k = code k + 4, quick mode k + 2),
// erases rough and weak codes, refills gaps from the neighbours, rates the clarity (118, 0..90,
// 0 = clearest) and the largest response (116), and carries the smoothed code map (56) down to
// the asked level (1..3). Work layers 96..109 and 240 are deleted. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FlowMean.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {

namespace {

// Erase weights of strength and roughness, and the S99 divisor of each mode.
constexpr int ERASE_STRENGTH = 2;
constexpr int ERASE_ROUGHNESS = 6;
constexpr int ERASE_DIVISOR_NORMAL = 9;
constexpr int ERASE_DIVISOR_QUICK = 10;

constexpr int HARMON_STAGE = 15;
constexpr int FLOW_LEVEL = 3;
constexpr int CHANNELS = 14;
constexpr int PHASE_SCALE = 240;
constexpr int START_PENALTY = 67;
constexpr int LAST_PENALTY = 21;
constexpr int MAX_AMPLITUDE = 254; // rows of the end-point table
constexpr int DEFAULT_CODE = 10;
constexpr int kRingSize[4] = {8, 24, 44, 68};

// Harmonic weights: row k, column j < k: how much a shorter bin j explains bin k.
constexpr unsigned char Hlaw(int k, int j)
{
    return j <= k / 2 - 2 ? 16 : (k >= 3 && (k & 1) != 0 && j == (k - 3) / 2) ? 9 : 0;
}

// Row k of the weights as step 1 reads them: the columns weighing 16 are the first `lead`,
// and at most one column above them (`nine`, -1 for none) weighs 9. With responses that are
// never negative, the largest s[j] * Hlaw(k, j) is then 16 times the largest of the lead
// columns or 9 s[nine], and the lead columns grow by at most one per row.
struct HarmonicRow {
    int lead;
    int nine;
};
struct HarmonicRows {
    HarmonicRow row[CHANNELS];
};
constexpr HarmonicRows MakeHarmonicRows()
{
    HarmonicRows r{};
    for (int k = 0; k < CHANNELS; ++k) {
        int lead = 0;
        while (lead < k && Hlaw(k, lead) == 16) {
            ++lead;
        }
        int nine = -1;
        for (int j = k - 1; j >= lead; --j) {
            nine = Hlaw(k, j) == 9 ? j : nine;
        }
        r.row[k] = {lead, nine};
    }
    return r;
}
constexpr HarmonicRows kHarmonic = MakeHarmonicRows();
constexpr bool HarmonicRowsHoldHlaw()
{
    for (int k = 0; k < CHANNELS; ++k) {
        const HarmonicRow& r = kHarmonic.row[k];
        const int before = k == 0 ? 0 : kHarmonic.row[k - 1].lead;
        if (r.lead < before || r.lead > before + 1) {
            return false;
        }
        for (int j = 0; j < k; ++j) {
            if (Hlaw(k, j) != (j < r.lead ? 16 : j == r.nine ? 9 : 0)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(HarmonicRowsHoldHlaw(), "step 1 reads every weight of Hlaw");

// Index of the largest value, ties to the lower index; -1 when the largest is below 1.
int Peak(const int* v, int n)
{
    int best = 0;
    for (int k = 1; k < n; ++k) {
        if (v[k] > v[best]) {
            best = k;
        }
    }
    return v[best] < 1 ? -1 : best;
}

// A ring point's code q in the roughness sums around the centre code c (HaLapl), and in the
// refill sums (HaNear); code 0 counts for neither.
inline void HaRough(int q, int c, int& count, int& sum)
{
    if (q != 0) {
        ++count;
        sum += (c - q) * (c - q);
    }
}

inline void HaRefill(int q, int& count, int& sum)
{
    if (q != 0) {
        ++count;
        sum += q;
    }
}

} // namespace

void HaCorrectScalar(const unsigned char* const* raw, unsigned char* const* fixd, std::size_t at,
                     int count, int* peak)
{
    for (int j = 0; j < count; ++j) {
        const std::size_t i = at + static_cast<std::size_t>(j);
        int s[CHANNELS];
        int t[CHANNELS];
        for (int k = 0; k < CHANNELS; ++k) {
            s[k] = raw[k][i];
        }
        // The largest s[j] * Hlaw(k, j) over j < k, from the rows of kHarmonic.
        t[0] = s[0];
        int lead = 0; // largest response of the row's lead columns
#pragma GCC unroll 14
        for (int k = 1; k < CHANNELS; ++k) {
            const HarmonicRow& row = kHarmonic.row[k];
            if (row.lead > kHarmonic.row[k - 1].lead) {
                lead = std::max(lead, s[row.lead - 1]);
            }
            int m = 16 * lead;
            if (row.nine >= 0) {
                m = std::max(m, 9 * s[row.nine]);
            }
            t[k] = std::max(0, s[k] - m / 24);
        }
        for (int k = 0; k < CHANNELS; ++k) {
            fixd[k][i] = static_cast<unsigned char>(t[k]); // 0..255: at most the response
        }
        peak[j] = Peak(t, CHANNELS);
    }
}

#if defined(__SSE2__)
namespace {

// m / 24 for 0 <= m <= 16 * 255 as the high half of m * 2731.
constexpr bool Div24Exact()
{
    for (int m = 0; m <= 16 * 255; ++m) {
        if ((m * 2731) >> 16 != m / 24) {
            return false;
        }
    }
    return true;
}
static_assert(Div24Exact());

} // namespace

// Eight pixels at a time in 16-bit lanes, the rows of kHarmonic unrolled; the peak is tracked
// per lane as the corrected responses are made, a later bin taking it only when larger.
void HaCorrect(const unsigned char* const* raw, unsigned char* const* fixd, std::size_t at,
               int count, int* peak)
{
    const __m128i zero = _mm_setzero_si128();
    int j = 0;
    for (; j + 8 <= count; j += 8) {
        const std::size_t i = at + static_cast<std::size_t>(j);
        __m128i s[CHANNELS];
#pragma GCC unroll 14
        for (int k = 0; k < CHANNELS; ++k) {
            s[k] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(raw[k] + i)),
                                     zero);
        }
        __m128i best = s[0];
        __m128i bin = zero;
        __m128i lead = zero;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(fixd[0] + i), _mm_packus_epi16(s[0], s[0]));
#pragma GCC unroll 14
        for (int k = 1; k < CHANNELS; ++k) {
            const HarmonicRow& row = kHarmonic.row[k];
            if (row.lead > kHarmonic.row[k - 1].lead) {
                lead = _mm_max_epi16(lead, s[row.lead - 1]);
            }
            __m128i m = _mm_slli_epi16(lead, 4);
            if (row.nine >= 0) {
                m = _mm_max_epi16(m, _mm_mullo_epi16(s[row.nine], _mm_set1_epi16(9)));
            }
            const __m128i t =
                _mm_max_epi16(zero, _mm_sub_epi16(s[k], _mm_mulhi_epu16(m, _mm_set1_epi16(2731))));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(fixd[k] + i), _mm_packus_epi16(t, t));
            const __m128i above = _mm_cmpgt_epi16(t, best);
            best = _mm_max_epi16(best, t);
            bin = _mm_or_si128(_mm_and_si128(above, _mm_set1_epi16(static_cast<std::int16_t>(k))),
                               _mm_andnot_si128(above, bin));
        }
        // -1 where the largest is 0.
        bin = _mm_or_si128(bin, _mm_cmpeq_epi16(best, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(peak + j),
                         _mm_srai_epi32(_mm_unpacklo_epi16(bin, bin), 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(peak + j + 4),
                         _mm_srai_epi32(_mm_unpackhi_epi16(bin, bin), 16));
    }
    HaCorrectScalar(raw, fixd, at + static_cast<std::size_t>(j), count - j, peak + j);
}
#else
void HaCorrect(const unsigned char* const* raw, unsigned char* const* fixd, std::size_t at,
               int count, int* peak)
{
    HaCorrectScalar(raw, fixd, at, count, peak);
}
#endif

void HaRoughRowScalar(const unsigned char* code, const std::int32_t* off, int n, int x0, int x1,
                      int* count, int* sum)
{
    for (int x = x0; x < x1; ++x) {
        const unsigned char* c = code + x;
        int k = 1;
        int s = 0;
        for (int i = 0; i < n; ++i) {
            HaRough(c[off[i]], c[0], k, s);
        }
        count[x] = k;
        sum[x] = s;
    }
}

#if defined(__SSE2__)
// Eight pixels at a time in 16-bit lanes: a square is at most 17^2 and 68 of them stay below
// 2^15; a lane counts its uncoded ring points down from 1 + n.
void HaRoughRow(const unsigned char* code, const std::int32_t* off, int n, int x0, int x1,
                int* count, int* sum)
{
    static_assert(68 * (CHANNELS + 3) * (CHANNELS + 3) < (1 << 15), "the sums fit 16-bit lanes");
    const __m128i zero = _mm_setzero_si128();
    auto load = [zero](const unsigned char* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    auto eight = [&](int x) {
        const unsigned char* c = code + x;
        const __m128i centre = load(c);
        __m128i k = _mm_set1_epi16(static_cast<std::int16_t>(1 + n));
        __m128i s = zero;
        for (int i = 0; i < n; ++i) {
            const __m128i q = load(c + off[i]);
            const __m128i none = _mm_cmpeq_epi16(q, zero);
            const __m128i d = _mm_sub_epi16(centre, q);
            k = _mm_add_epi16(k, none); // -1 for an uncoded point
            s = _mm_add_epi16(s, _mm_andnot_si128(none, _mm_mullo_epi16(d, d)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(count + x), _mm_unpacklo_epi16(k, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(count + x + 4), _mm_unpackhi_epi16(k, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + x), _mm_unpacklo_epi16(s, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + x + 4), _mm_unpackhi_epi16(s, zero));
    };
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        eight(x);
    }
    // A row of eight or more ends with its last eight again, the same values.
    if (x < x1 && x1 - x0 >= 8) {
        eight(x1 - 8);
    } else {
        HaRoughRowScalar(code, off, n, x, x1, count, sum);
    }
}
#else
void HaRoughRow(const unsigned char* code, const std::int32_t* off, int n, int x0, int x1,
                int* count, int* sum)
{
    HaRoughRowScalar(code, off, n, x0, x1, count, sum);
}
#endif

void Codex::HaLapl(int, int)
{
    HaRough(*m_walk[0], m_haCode, m_haCount, m_haSum);
}

void Codex::HaNear(int, int)
{
    HaRefill(*m_walk[0], m_haCount, m_haSum);
}

namespace {

// Phase windows of the bins around a predicted code P: the table angle of bin k is
// min(|k + shift - P| * PHASE_SCALE / (P + 1), 90), and its window the sine table's entry at
// that angle, 0..90 degrees. A row holds the windows' cosines (CosDeg) as PeakOf reads them
// (WindowScale) with two zero entries after the 14 bins. A run has one shift, so the rows of
// each code 0..255 are made once.
// A window cosine c = 0..8192 as PeakOf weighs with it: 8 c, which fits 16 unsigned bits up to
// c = 8191, and 65535 for c = 8192. With m = 0..254, Descale13(m c) = (8 m c + 2^15) >> 16, and
// for c = 8192 both that and (65535 m + 2^15) >> 16 are m.
inline std::uint16_t WindowScale(int c)
{
    return static_cast<std::uint16_t>(c >= 8192 ? 65535 : 8 * c);
}

class PhaseWindows {
public:
    PhaseWindows(const Codex& cx, int shift) : m_cx(cx), m_shift(shift) {}

    const std::uint16_t* Row(int pred)
    {
        if (pred < 0 || pred > 255) {
            Make(pred, m_spare);
            return m_spare;
        }
        if (m_known[pred] == 0) {
            Make(pred, m_window[pred]);
            m_known[pred] = 1;
        }
        return m_window[pred];
    }

private:
    void Make(int pred, std::uint16_t* window) const
    {
        for (int k = 0; k < CHANNELS; ++k) {
            int phase = (k + m_shift - pred) * PHASE_SCALE / (pred + 1);
            phase = phase < 0 ? -phase : phase;
            phase = phase > 90 ? 90 : phase;
            window[k] = WindowScale(CosDeg(m_cx.Ey[phase][phase]));
        }
        window[CHANNELS] = window[CHANNELS + 1] = 0;
    }

    const Codex& m_cx;
    int m_shift;
    alignas(16) std::uint16_t m_window[256][CHANNELS + 2];
    alignas(16) std::uint16_t m_spare[CHANNELS + 2];
    unsigned char m_known[256] = {};
};

// The responses of pixel `at` of the 14 channel layers as 16 bytes, the last two 0.
struct Responses {
    alignas(16) unsigned char s[CHANNELS + 2];
    Responses(const unsigned char* const* g, std::size_t at)
    {
        for (int k = 0; k < CHANNELS; ++k) {
            s[k] = g[k][at];
        }
        s[CHANNELS] = s[CHANNELS + 1] = 0;
    }
};

} // namespace

void HaGatherScalar(const unsigned char* const* g, std::size_t at, int count, unsigned char* out)
{
    for (int i = 0; i < count; ++i, out += CHANNELS + 2) {
        std::memcpy(out, Responses(g, at + static_cast<std::size_t>(i)).s, CHANNELS + 2);
    }
}

#if defined(__SSE2__)
namespace {

// One round of a 16 x 16 byte transpose: rows i and i + 8 with their byte lanes interleaved
// make rows 2i and 2i + 1. Four rounds leave column j of the matrix in row j.
__attribute__((always_inline)) inline void PerfectShuffle(const __m128i* in, __m128i* out)
{
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        out[2 * k] = _mm_unpacklo_epi8(in[k], in[k + 8]);
        out[2 * k + 1] = _mm_unpackhi_epi8(in[k], in[k + 8]);
    }
}

} // namespace

// Sixteen pixels at a time: the 14 layers' 16 bytes (and two zero rows) as a 16 x 16 byte
// matrix, transposed so that pixel j's bytes make row j. A count of sixteen or more ends with the
// last sixteen pixels, which may repeat some already gathered; a shorter one is gathered one by
// one.
void HaGather(const unsigned char* const* g, std::size_t at, int count, unsigned char* out)
{
    if (count < 16) {
        HaGatherScalar(g, at, count, out);
        return;
    }
    auto sixteen = [g, at, out](int i) {
        __m128i m[16];
#pragma GCC unroll 14
        for (int k = 0; k < CHANNELS; ++k) {
            m[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g[k] + at + i));
        }
        m[CHANNELS] = m[CHANNELS + 1] = _mm_setzero_si128();
        __m128i t[16];
        PerfectShuffle(m, t);
        PerfectShuffle(t, m);
        PerfectShuffle(m, t);
        PerfectShuffle(t, m);
        unsigned char* o = out + static_cast<std::size_t>(i) * (CHANNELS + 2);
#pragma GCC unroll 16
        for (int j = 0; j < 16; ++j) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * j), m[j]);
        }
    };
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        sixteen(i);
    }
    if (i < count) {
        sixteen(count - 16);
    }
}
#else
void HaGather(const unsigned char* const* g, std::size_t at, int count, unsigned char* out)
{
    HaGatherScalar(g, at, count, out);
}
#endif

void HaSmoothRowScalar(const unsigned char* a36, const unsigned char* c240, int cw, int x0, int x1,
                       unsigned char* out)
{
    for (int x = x0; x < x1; ++x) {
        out[x] = static_cast<unsigned char>(FlowMean(FlowMeanAt(a36[x]), c240 + x, cw));
    }
}

#if defined(__SSE2__)
namespace {

// Every row of flow weights totals 160 (opposite pairs of the sigmoid sum to 32), so that the
// rounded quotient needs no per-pixel divisor; the weights, at most 32, fit 16-bit lanes.
constexpr bool FlowTotalsAre160()
{
    for (const FlowMeanRow& row : kFlowMean.row) {
        for (const int w : row.w) {
            if (w < 0 || w > 32) {
                return false;
            }
        }
        if (row.t != 160) {
            return false;
        }
    }
    return true;
}
static_assert(FlowTotalsAre160());

// The weights of the byte flow angles 0..255 as four 16-bit values, one 8-byte load a pixel.
struct FlowWeights16 {
    std::uint16_t w[256][4];
};
constexpr FlowWeights16 MakeFlowWeights16()
{
    FlowWeights16 t{};
    for (int a = 0; a < 256; ++a) {
        for (int i = 0; i < 4; ++i) {
            t.w[a][i] = static_cast<std::uint16_t>(kFlowMean.row[a].w[i]);
        }
    }
    return t;
}
constexpr FlowWeights16 kFlowWeights16 = MakeFlowWeights16();

} // namespace

// Eight pixels at a time in 16-bit lanes: the eight pixels' weight rows transposed into one
// vector per neighbour pair. The weighted sum s is at most 255 * 160 and never wraps, and
// (s + 80) / 160 is ((s + 80) >> 5) / 5, the division by 5 of a value below 2^14 exact as the
// high half of its product by 13108.
void HaSmoothRow(const unsigned char* a36, const unsigned char* c240, int cw, int x0, int x1,
                 unsigned char* out)
{
    const __m128i zero = _mm_setzero_si128();
    const std::ptrdiff_t r = cw;
    auto load = [zero](const unsigned char* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    auto weights = [](unsigned char a) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFlowWeights16.w[a]));
    };
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        const unsigned char* a = a36 + x;
        // Rows of pixels 0..7 as (w0 w1 w2 w3): pairs interleaved, then quads, then halves.
        const __m128i p01 = _mm_unpacklo_epi16(weights(a[0]), weights(a[1]));
        const __m128i p23 = _mm_unpacklo_epi16(weights(a[2]), weights(a[3]));
        const __m128i p45 = _mm_unpacklo_epi16(weights(a[4]), weights(a[5]));
        const __m128i p67 = _mm_unpacklo_epi16(weights(a[6]), weights(a[7]));
        const __m128i q01 = _mm_unpacklo_epi32(p01, p23); // w0 and w1 of pixels 0..3
        const __m128i q23 = _mm_unpackhi_epi32(p01, p23); // w2 and w3 of pixels 0..3
        const __m128i q45 = _mm_unpacklo_epi32(p45, p67);
        const __m128i q67 = _mm_unpackhi_epi32(p45, p67);
        const __m128i w0 = _mm_unpacklo_epi64(q01, q45);
        const __m128i w1 = _mm_unpackhi_epi64(q01, q45);
        const __m128i w2 = _mm_unpacklo_epi64(q23, q67);
        const __m128i w3 = _mm_unpackhi_epi64(q23, q67);
        const unsigned char* p = c240 + x;
        __m128i s = _mm_add_epi16(_mm_slli_epi16(load(p), 5), _mm_set1_epi16(80));
        s = _mm_add_epi16(s, _mm_mullo_epi16(w0, _mm_add_epi16(load(p - 1), load(p + 1))));
        s = _mm_add_epi16(s,
                          _mm_mullo_epi16(w1, _mm_add_epi16(load(p - (r + 1)), load(p + r + 1))));
        s = _mm_add_epi16(s, _mm_mullo_epi16(w2, _mm_add_epi16(load(p - r), load(p + r))));
        s = _mm_add_epi16(s,
                          _mm_mullo_epi16(w3, _mm_add_epi16(load(p - (r - 1)), load(p + r - 1))));
        const __m128i q = _mm_mulhi_epu16(_mm_srli_epi16(s, 5), _mm_set1_epi16(13108));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(q, q));
    }
    HaSmoothRowScalar(a36, c240, cw, x, x1, out);
}
#else
void HaSmoothRow(const unsigned char* a36, const unsigned char* c240, int cw, int x0, int x1,
                 unsigned char* out)
{
    HaSmoothRowScalar(a36, c240, cw, x0, x1, out);
}
#endif

namespace {

#if defined(__SSE2__)
// In 16-bit lanes: the weighted value of min(s, 254) = m and a scaled window w (WindowScale)
// is the high half of m w rounded by the top bit of its low half; the values are 0..254, and
// the first lane holding their maximum gives the bin.
__attribute__((always_inline)) inline int PeakOf(const unsigned char* s, const std::uint16_t* c)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i top = _mm_set1_epi16(MAX_AMPLITUDE);
    __m128i v[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i m = _mm_min_epi16(h == 0 ? _mm_unpacklo_epi8(bytes, _mm_setzero_si128())
                                               : _mm_unpackhi_epi8(bytes, _mm_setzero_si128()),
                                        top);
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * h));
        v[h] = _mm_add_epi16(_mm_mulhi_epu16(m, w), _mm_srli_epi16(_mm_mullo_epi16(m, w), 15));
    }
    __m128i best = _mm_max_epi16(v[0], v[1]);
    best = _mm_max_epi16(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
    best = _mm_max_epi16(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
    best = _mm_max_epi16(best, _mm_shufflelo_epi16(best, _MM_SHUFFLE(2, 3, 0, 1)));
    if (_mm_cvtsi128_si32(best) == 0) {
        return -1; // every weighted value is 0
    }
    best = _mm_shuffle_epi32(best, 0);
    const int lanes = _mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(v[0], best), _mm_cmpeq_epi16(v[1], best)));
    return __builtin_ctz(static_cast<unsigned>(lanes));
}
#else
__attribute__((always_inline)) inline int PeakOf(const unsigned char* s, const std::uint16_t* c)
{
    int best = 0;
    int top = 0;
    for (int k = 0; k < CHANNELS; ++k) {
        const std::uint32_t p =
            static_cast<std::uint32_t>(std::min<int>(s[k], MAX_AMPLITUDE)) * c[k];
        const int v = static_cast<int>((p + 32768) >> 16);
        if (v > top) {
            top = v;
            best = k;
        }
    }
    return top < 1 ? -1 : best;
}
#endif

} // namespace

int HaPeak(const unsigned char* s, const std::int16_t* c)
{
    alignas(16) std::uint16_t w[CHANNELS + 2];
    for (int k = 0; k < CHANNELS + 2; ++k) {
        w[k] = WindowScale(c[k]);
    }
    return PeakOf(s, w);
}

void HaDescentRowsScalar(const unsigned char* const* s, std::ptrdiff_t stride, int rows,
                         const std::uint16_t* const* window, const unsigned char* pred, int shift,
                         int count, unsigned char* out)
{
    for (int r = 0; r < rows; ++r) {
        const std::ptrdiff_t row = r * stride;
        for (int x = 0; x < count; ++x) {
            const std::uint16_t* c = window[x];
            int best = 0;
            int top = 0;
            for (int k = 0; k < CHANNELS; ++k) {
                const std::uint32_t m =
                    static_cast<std::uint32_t>(std::min<int>(s[k][row + x], MAX_AMPLITUDE));
                const int v = static_cast<int>((m * c[k] + 32768) >> 16);
                if (v > top) {
                    top = v;
                    best = k;
                }
            }
            out[row + x] = static_cast<unsigned char>(top < 1 ? pred[x] : best + shift);
        }
    }
}

#if defined(__SSE2__)
namespace {

// Eight 16-bit rows a[0..7] transposed in place: lane j of row i goes to lane i of row j.
__attribute__((always_inline)) inline void Transpose8x16(__m128i* a)
{
    __m128i t[8];
    __m128i u[8];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
        t[2 * i + 1] = _mm_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
    }
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        u[4 * h] = _mm_unpacklo_epi32(t[4 * h], t[4 * h + 2]);
        u[4 * h + 1] = _mm_unpackhi_epi32(t[4 * h], t[4 * h + 2]);
        u[4 * h + 2] = _mm_unpacklo_epi32(t[4 * h + 1], t[4 * h + 3]);
        u[4 * h + 3] = _mm_unpackhi_epi32(t[4 * h + 1], t[4 * h + 3]);
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        a[2 * i] = _mm_unpacklo_epi64(u[i], u[i + 4]);
        a[2 * i + 1] = _mm_unpackhi_epi64(u[i], u[i + 4]);
    }
}

} // namespace

// Eight columns at a time in 16-bit lanes. Each weighted value v (0..254) makes the key
// 16 v + 15 - k, so that the largest key holds the largest value and, among equal values, the
// first bin; a key below 16 is a value of 0.
void HaDescentRows(const unsigned char* const* s, std::ptrdiff_t stride, int rows,
                   const std::uint16_t* const* window, const unsigned char* pred, int shift,
                   int count, unsigned char* out)
{
    if (count < 8) {
        HaDescentRowsScalar(s, stride, rows, window, pred, shift, count, out);
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi16(MAX_AMPLITUDE);
    const __m128i codeBase = _mm_set1_epi16(static_cast<std::int16_t>(CHANNELS + 1 + shift));
    // The row pointers in locals: the byte stores could alias the array that holds them.
    const unsigned char* layer[CHANNELS];
    for (int k = 0; k < CHANNELS; ++k) {
        layer[k] = s[k];
    }
    auto eight = [&](int x) __attribute__((always_inline))
    {
        // The weights of the eight columns by channel: w[k] holds channel k of each column.
        __m128i w[16];
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            w[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window[x + i]));
            w[8 + i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window[x + i] + 8));
        }
        Transpose8x16(w);
        Transpose8x16(w + 8);
        const __m128i predicted =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + x)), zero);
        for (int r = 0; r < rows; ++r) {
            const std::ptrdiff_t at = r * stride + x;
            __m128i best = zero;
#pragma GCC unroll 14
            for (int k = 0; k < CHANNELS; ++k) {
                const __m128i m = _mm_min_epi16(
                    _mm_unpacklo_epi8(
                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(layer[k] + at)), zero),
                    top);
                const __m128i v = _mm_add_epi16(_mm_mulhi_epu16(m, w[k]),
                                                _mm_srli_epi16(_mm_mullo_epi16(m, w[k]), 15));
                const __m128i key = _mm_or_si128(_mm_slli_epi16(v, 4),
                                                 _mm_set1_epi16(static_cast<std::int16_t>(15 - k)));
                best = _mm_max_epi16(best, key);
            }
            // Bin 15 - (key & 15) as code CHANNELS + 1 + shift - (key & 15) for lanes above 0.
            const __m128i none = _mm_cmplt_epi16(best, _mm_set1_epi16(16));
            const __m128i code = _mm_sub_epi16(codeBase, _mm_and_si128(best, _mm_set1_epi16(15)));
            const __m128i result =
                _mm_or_si128(_mm_and_si128(none, predicted), _mm_andnot_si128(none, code));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + at),
                             _mm_packus_epi16(result, result));
        }
    };
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        eight(x);
    }
    // The last eight columns again where the row does not end on a whole eight: the same bytes.
    if (x < count) {
        eight(count - 8);
    }
}
#else
void HaDescentRows(const unsigned char* const* s, std::ptrdiff_t stride, int rows,
                   const std::uint16_t* const* window, const unsigned char* pred, int shift,
                   int count, unsigned char* out)
{
    HaDescentRowsScalar(s, stride, rows, window, pred, shift, count, out);
}
#endif

void Codex::Harmon(int level)
{
    const bool quick = m_quick != 0;
    const int eraseDivisor = quick ? ERASE_DIVISOR_QUICK : ERASE_DIVISOR_NORMAL;
    if (GetKey(64, FLOW_LEVEL) == -1) {
        Furiew(1);
    }
    m_stage = HARMON_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const int target = level < 1 ? 1 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    const int shift = quick ? 2 : 4;
    PhaseWindows windows(*this, shift);
    const CLevel& l3 = m_level[FLOW_LEVEL];
    const int w = l3.width;
    const int h = l3.height;
    const int n = static_cast<int>(l3.size);
    m_rank.LorIni(0);

    unsigned char* code = Layer(240, FLOW_LEVEL);
    unsigned char* power = Layer(116, FLOW_LEVEL);
    unsigned char* rough = Layer(118, FLOW_LEVEL);
    const unsigned char* raw[CHANNELS];
    unsigned char* fixd[CHANNELS];
    for (int k = 0; k < CHANNELS; ++k) {
        raw[k] = Layer(64 + k, FLOW_LEVEL);
        fixd[k] = Layer(96 + k, FLOW_LEVEL);
    }
    // The responses of every pixel, 16 bytes a pixel (HaGather): the raw ones, read by steps 1
    // and 5, and the corrected ones of step 1, read by the refill.
    constexpr std::size_t STRIDE = CHANNELS + 2;
    const std::size_t count3 = static_cast<std::size_t>(n);
    const std::unique_ptr<unsigned char[]> rawBytes(new unsigned char[count3 * STRIDE]);
    const std::unique_ptr<unsigned char[]> fixdBytes(new unsigned char[count3 * STRIDE]);
    HaGather(raw, 0, n, rawBytes.get());

    // 1. Dominant period with harmonic correction (HaCorrect; the quick mode scales the
    //    responses by their bins instead), the corrected responses into 96..109.
    const std::unique_ptr<int[]> peak(new int[count3]);
    if (!quick) {
        HaCorrect(raw, fixd, 0, n, peak.get());
    } else {
        for (int i = 0; i < n; ++i) {
            int s[CHANNELS];
            int t[CHANNELS];
            const unsigned char* bytes = rawBytes.get() + static_cast<std::size_t>(i) * STRIDE;
            for (int k = 0; k < CHANNELS; ++k) {
                s[k] = bytes[k];
            }
            int wk[CHANNELS];
            int big = std::max({std::max(s[0], 1), 15 * s[0]});
            int top = 1;
            for (int k = 0; k < CHANNELS; ++k) {
                wk[k] = (15 - k) * s[k];
                big = k > 0 ? std::max(big, s[k]) : big;
                top = std::max(top, wk[k]);
            }
            for (int k = 0; k < CHANNELS; ++k) {
                t[k] = wk[k] * big / top;
                fixd[k][i] = static_cast<unsigned char>(std::min(t[k], 255)); // bytes saturate
            }
            peak[i] = Peak(t, CHANNELS);
        }
    }
    for (int i = 0; i < n; ++i) {
        code[i] = 0;
        const int p = peak[i];
        if (p >= 0) {
            code[i] = static_cast<unsigned char>(p + shift);
            power[i] = fixd[p][i]; // the corrected response, saturated to a byte
            ++m_rank.Lor[power[i]];
        }
    }
    const int s99 = m_rank.LorSha(1) + 1;
    HaGather(fixd, 0, n, fixdBytes.get());

    // 2. Roughness of the code map, with a falling penalty for missing neighbours. The ring
    //    sums do not depend on the penalty: each coded pixel's ring is walked once.
    //    Where the whole ring lies inside the level the sums of a row's pixels are taken
    //    together (HaRoughRow); the walk then ends as the ring walk of the last coded pixel.
    m_ringPoint = static_cast<RingFn>(&Codex::HaLapl);
    const int ringN = kRingSize[3];
    std::vector<int> lapCount(static_cast<std::size_t>(n));
    std::vector<int> lapSum(static_cast<std::size_t>(n));
    auto roughAt = [&](int x, int y) {
        const int at = y * w + x;
        const int centre = code[at];
        const unsigned char* c = code + at;
        int count = 1;
        int sum = 0;
        WalkAt(x, y, FLOW_LEVEL, nullptr, code);
        RingOffsets(FLOW_LEVEL, 3, 1,
                    [&](int, std::int32_t off) { HaRough(c[off], centre, count, sum); });
        m_haCode = centre;
        m_haCount = count;
        m_haSum = sum;
        lapCount[at] = count;
        lapSum[at] = sum;
    };
    const SRingReach& reach = ringReach[3];
    const bool tableFits = m_ringWidth[FLOW_LEVEL] == w;
    int last = -1;
    for (int y = 0; y < h; ++y) {
        // The pixels [x0, x1) of the row whose ring lies inside (RingInside).
        int x0 = w;
        int x1 = w;
        if (tableFits && y - reach.north > 0 && y + reach.south < h - 1) {
            x0 = std::min(w, reach.west + 1);
            x1 = std::max(x0, w - 1 - reach.east);
        }
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        HaRoughRow(code + row, m_ringOff[FLOW_LEVEL], ringN, x0, x1, lapCount.data() + row,
                   lapSum.data() + row);
        for (int x = 0; x < w; ++x) {
            if (code[row + static_cast<std::size_t>(x)] == 0) {
                continue;
            }
            last = static_cast<int>(row) + x;
            if (x < x0 || x >= x1) {
                roughAt(x, y);
            }
        }
    }
    if (last >= 0) {
        roughAt(last % w, last / w);
    }
    int r99 = 1;
    for (int penalty = START_PENALTY;; penalty -= 2) {
        m_rank.RanIni(0);
        for (int at = 0; at < n; ++at) {
            if (code[at] == 0) {
                continue;
            }
            const int count = lapCount[at];
            const int r = ClampByte(2 * lapSum[at] / count + penalty * (ringN - count) / ringN);
            rough[at] = static_cast<unsigned char>(r);
            ++m_rank.Ran[r];
        }
        r99 = m_rank.RanSha(1) + 1;
        if (r99 <= 2 * s99 || penalty - 2 < LAST_PENALTY) {
            break;
        }
    }

    // 3. Erase weak codes in rough places.
    for (int i = 0; i < n; ++i) {
        if (code[i] == 0) {
            continue;
        }
        const int q = s99 * rough[i] / r99;
        if (s99 / eraseDivisor > ERASE_STRENGTH * power[i] - ERASE_ROUGHNESS * q) {
            code[i] = 0;
        }
    }

    // 4. Refill from the coded neighbours, radius 3, 2, 1, then 0 until nothing changes. A pass
    //    reads the codes the one before left: it visits the uncoded pixels (kept in raster
    //    order) and its fills are stored at its end. Step 5 rewrites every byte of 118.
    m_ringPoint = static_cast<RingFn>(&Codex::HaNear);
    struct Open {
        int x, y;
    };
    std::vector<Open> open;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (code[y * w + x] == 0) {
                open.push_back({x, y});
            }
        }
    }
    std::vector<std::pair<int, unsigned char>> fills;
    for (int radius = 3; radius >= 0;) {
        fills.clear();
        for (const Open& px : open) {
            const int at = px.y * w + px.x;
            const unsigned char* c = code + at;
            int count = 0;
            int sum = 0;
            WalkAt(px.x, px.y, FLOW_LEVEL, nullptr, code);
            RingOffsets(FLOW_LEVEL, radius, 1,
                        [&](int, std::int32_t off) { HaRefill(c[off], count, sum); });
            m_haCount = count;
            m_haSum = sum;
            if (count <= radius + 2) {
                continue;
            }
            const int pred = (sum + count / 2) / count;
            const unsigned char* s = fixdBytes.get() + static_cast<std::size_t>(at) * STRIDE;
            const int p = PeakOf(s, windows.Row(pred));
            const int cand = p >= 0 ? p + shift : pred;
            const int bin = cand - shift;
            if (radius > 0 && bin >= 0 && bin < CHANNELS &&
                ((bin + 1 < CHANNELS && s[bin + 1] > s[bin]) || (bin > 0 && s[bin - 1] > s[bin]))) {
                continue;
            }
            if (static_cast<unsigned char>(cand) != 0) {
                fills.emplace_back(at, static_cast<unsigned char>(cand));
            }
        }
        for (const auto& [at, v] : fills) {
            code[at] = v;
        }
        const bool changed = !fills.empty();
        open.erase(std::remove_if(open.begin(), open.end(),
                                  [&](const Open& px) { return code[px.y * w + px.x] != 0; }),
                   open.end());
        if (radius > 0) {
            --radius;
        } else if (!changed) {
            break;
        }
    }

    // 5. Clarity: how far the chosen bin stands above the bins around it (bounded to 0..90).
    for (int i = 0; i < n; ++i) {
        if (code[i] == 0) {
            code[i] = DEFAULT_CODE;
        }
        int s[CHANNELS];
        int largest = 0;
        const unsigned char* bytes = rawBytes.get() + static_cast<std::size_t>(i) * STRIDE;
        for (int k = 0; k < CHANNELS; ++k) {
            s[k] = bytes[k];
            largest = std::max(largest, s[k]);
        }
        power[i] = static_cast<unsigned char>(largest);
        const int c = code[i] - shift;
        if (code[i] < 2 || c < 0 || c >= CHANNELS) {
            rough[i] = 90;
            continue;
        }
        int sum = 0;
        int terms = 0;
        int best = 0;
        bool any = false;
        for (int d = 1; d <= code[i] - 1; ++d) {
            if (c - d >= 0) {
                sum += s[c] - s[c - d];
                ++terms;
            }
            if (c + d < CHANNELS) {
                sum += s[c] - s[c + d];
                ++terms;
            }
            if (terms > 0) {
                const int v = power[i] * sum / ((s[c] + 1) * terms);
                best = any ? std::max(best, v) : v;
                any = true;
            }
        }
        rough[i] = static_cast<unsigned char>(90 - std::clamp(best, 0, 90));
    }

    // 6. Descent: the smoothed code of each coarse pixel predicts the finer pixels' codes. Row y
    //    of the smoothed map c56 (width cw, height ch): the outermost rows and columns keep
    //    their codes of c240, the inner pixels are smoothed along the flow c36.
    auto smoothRow = [quick](const unsigned char* c36, const unsigned char* c240,
                             unsigned char* c56, int y, int cw, int ch) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(cw);
        std::memcpy(c56 + row, c240 + row, static_cast<std::size_t>(cw));
        if (y < 1 || y >= ch - 1) {
            return;
        }
        if (!quick) {
            HaSmoothRow(c36 + row, c240 + row, cw, 1, cw - 1, c56 + row);
            return;
        }
        static const int second[9] = {0, 1, 0, 0, 0, 0, 0, 0, 0};
        for (int x = 1; x < cw - 1; ++x) {
            const unsigned char* p = c240 + row + x;
            int v[9];
            int m = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    v[m++] = p[dy * cw + dx];
                }
            }
            c56[row + x] = static_cast<unsigned char>(RankMean(v, 9, second, 0)); // second-lowest
        }
    };
    // The fine columns [0, covered) of a level lie in a coarse block each; a column in two (the
    // last block is shifted inside) takes the later block's prediction, as does a row in two
    // (its later coarse row writes it again), as if the blocks were written in raster order.
    // Under each coarse row, the window and the predicted code of every fine column.
    std::vector<const std::uint16_t*> columnWindow;
    std::vector<unsigned char> columnPred;
    for (int lv = FLOW_LEVEL; lv > target; --lv) {
        const CLevel& cl = m_level[lv];
        const CLevel& fl = m_level[lv - 1];
        const unsigned char* c36 = Layer(36, lv);
        const unsigned char* c240 = Layer(240, lv);
        unsigned char* c56 = Layer(56, lv);
        unsigned char* f240 = Layer(240, lv - 1);
        const unsigned char* fs[CHANNELS];
        for (int k = 0; k < CHANNELS; ++k) {
            fs[k] = Layer(64 + k, lv - 1);
        }
        const int q = cl.scale / fl.scale;
        // The sizes in locals: the byte stores could alias the level records.
        const int cw = cl.width;
        const int ch = cl.height;
        const int fw = fl.width;
        const int fh = fl.height;
        int covered = 0;
        for (int x = 0; x < cw; ++x) {
            covered = std::max(covered, std::min(BlockStart(x, q, fw) + q, fw));
        }
        columnWindow.assign(static_cast<std::size_t>(fw), nullptr);
        columnPred.assign(static_cast<std::size_t>(fw), 0);
        for (int y = 0; y < ch; ++y) {
            smoothRow(c36, c240, c56, y, cw, ch);
            for (int x = 0; x < cw; ++x) {
                const int pred = c56[y * cw + x];
                const std::uint16_t* window = windows.Row(pred);
                const int x0 = BlockStart(x, q, fw);
                const int x1 = std::min(x0 + q, fw);
                for (int xx = x0; xx < x1; ++xx) {
                    columnWindow[static_cast<std::size_t>(xx)] = window;
                    columnPred[static_cast<std::size_t>(xx)] = static_cast<unsigned char>(pred);
                }
            }
            const int y0 = BlockStart(y, q, fh);
            const int y1 = std::min(y0 + q, fh);
            const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(y0) * fw;
            const unsigned char* s[CHANNELS];
            for (int k = 0; k < CHANNELS; ++k) {
                s[k] = fs[k] + first;
            }
            HaDescentRows(s, fw, y1 - y0, columnWindow.data(), columnPred.data(), shift, covered,
                          f240 + first);
        }
    }
    {
        const CLevel& fl = m_level[target];
        const unsigned char* c36 = Layer(36, target);
        const unsigned char* c240 = Layer(240, target);
        unsigned char* c56 = Layer(56, target);
        // The sizes in locals: the byte stores could alias the level record.
        const int fw = fl.width;
        const int fh = fl.height;
        for (int y = 0; y < fh; ++y) {
            smoothRow(c36, c240, c56, y, fw, fh);
        }
    }
    Resume();

    for (int lv = target; lv <= FLOW_LEVEL; ++lv) {
        for (int k = 0; k < CHANNELS; ++k) {
            DelLay(64 + k, lv);
            DelLay(96 + k, lv);
        }
        DelLay(240, lv);
    }
}

} // namespace wizard73
