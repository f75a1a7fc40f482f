// Subband geometry and one-dimensional wavelet filtering shared by encoder and decoder.
// Builds the 20 transform regions and 64 subband rectangles of an image, splits lines of float
// samples into low- and high-pass halves (analysis) and merges them again (synthesis), with
// whole-sample symmetric extension at both ends. Samples are float; analysis taps are double,
// synthesis taps float.

#include "wsq/Wsq.h"

#include <cstring>

namespace {

// Larger and smaller halves of a length: (n + 1) / 2 and n - that.
int WtLarge(int n)
{
    return (n + 1) / 2;
}
int WtSmall(int n)
{
    return n / 2;
}

// Index of sample i after whole-sample symmetric extension of a line of n samples, for any i
// (the extension repeats with period 2 (n - 1)).
int WtMirror(int i, int n)
{
    if (n < 2) {
        return 0;
    }
    const int period = 2 * (n - 1);
    int r = i % period;
    if (r < 0) {
        r += period;
    }
    return r < n ? r : period - r;
}

} // namespace

void Wsq::build_wsq_trees(int width, int height)
{
    build_w_tree(width, height);
    build_q_tree();
}

void Wsq::w_tree4(int p, int c, int lenx, int leny, int x, int y, bool stop)
{
    m_wtree[p].x = x;
    m_wtree[p].y = y;
    m_wtree[p].lenx = lenx;
    m_wtree[p].leny = leny;
    const int left = (lenx % 2 != 0 && p == 4) ? WtSmall(lenx) : WtLarge(lenx);
    const int top = (leny % 2 != 0 && p == 5) ? WtSmall(leny) : WtLarge(leny);
    const int parts[4][4] = {{x, y, left, top},
                             {x + left, y, lenx - left, top},
                             {x, y + top, left, leny - top},
                             {x + left, y + top, lenx - left, leny - top}};
    const int n = stop ? 3 : 4;
    for (int i = 0; i < n; ++i) {
        m_wtree[c + i].x = parts[i][0];
        m_wtree[c + i].y = parts[i][1];
        m_wtree[c + i].lenx = parts[i][2];
        m_wtree[c + i].leny = parts[i][3];
    }
}

void Wsq::build_w_tree(int width, int height)
{
    static const int invRows[] = {2, 4, 7, 9, 11, 13, 16, 18};
    static const int invCols[] = {3, 5, 8, 9, 12, 13, 17, 18};
    for (wavlet_tree& node : m_wtree) {
        node = wavlet_tree{0, 0, 0, 0, 0, 0};
    }
    for (int k : invRows) {
        m_wtree[k].inv_rw = 1;
    }
    for (int k : invCols) {
        m_wtree[k].inv_cl = 1;
    }
    w_tree4(0, 1, width, height, 0, 0, true);
    const int lx = WtLarge(m_wtree[1].lenx);
    const int lx2 = m_wtree[1].lenx - lx;
    const int ly = WtLarge(m_wtree[1].leny);
    const int ly2 = m_wtree[1].leny - ly;
    w_tree4(4, 6, lx2, ly, lx, 0, false);
    w_tree4(5, 10, lx, ly2, 0, ly, false);
    w_tree4(14, 15, lx, ly, 0, 0, false);
    m_wtree[19].x = 0;
    m_wtree[19].y = 0;
    m_wtree[19].lenx = WtLarge(m_wtree[15].lenx);
    m_wtree[19].leny = WtLarge(m_wtree[15].leny);
}

void Wsq::q_tree4(int p, int lenx, int leny, int x, int y)
{
    const int left = WtLarge(lenx);
    const int top = WtLarge(leny);
    m_qtree[p] = quant_tree{x, y, left, top};
    m_qtree[p + 1] = quant_tree{x + left, y, lenx - left, top};
    m_qtree[p + 2] = quant_tree{x, y + top, left, leny - top};
    m_qtree[p + 3] = quant_tree{x + left, y + top, lenx - left, leny - top};
}

void Wsq::q_tree16(int p, int lenx, int leny, int x, int y, int rw, int cl)
{
    const int tx = (lenx % 2 != 0 && cl != 0) ? WtSmall(lenx) : WtLarge(lenx);
    const int tx2 = lenx - tx;
    const int ty = (leny % 2 != 0 && rw != 0) ? WtSmall(leny) : WtLarge(leny);
    const int ty2 = leny - ty;
    // Quarters in order top-left, top-right, bottom-left, bottom-right; the right quarters give
    // their left parts the smaller half, the bottom quarters their top parts.
    struct Quarter {
        int x, y, w, h;
        bool smallLeft, smallTop;
    };
    const Quarter quarters[4] = {{x, y, tx, ty, false, false},
                                 {x + tx, y, tx2, ty, true, false},
                                 {x, y + ty, tx, ty2, false, true},
                                 {x + tx, y + ty, tx2, ty2, true, true}};
    for (int q = 0; q < 4; ++q) {
        const Quarter& r = quarters[q];
        const int left = r.smallLeft ? WtSmall(r.w) : WtLarge(r.w);
        const int top = r.smallTop ? WtSmall(r.h) : WtLarge(r.h);
        const int s = p + 4 * q;
        m_qtree[s] = quant_tree{r.x, r.y, left, top};
        m_qtree[s + 1] = quant_tree{r.x + left, r.y, r.w - left, top};
        m_qtree[s + 2] = quant_tree{r.x, r.y + top, left, r.h - top};
        m_qtree[s + 3] = quant_tree{r.x + left, r.y + top, r.w - left, r.h - top};
    }
}

void Wsq::build_q_tree()
{
    const wavlet_tree* w = m_wtree;
    q_tree16(3, w[14].lenx, w[14].leny, w[14].x, w[14].y, 0, 0);
    q_tree16(19, w[4].lenx, w[4].leny, w[4].x, w[4].y, 0, 1);
    q_tree16(48, w[0].lenx, w[0].leny, w[0].x, w[0].y, 0, 0);
    q_tree16(35, w[5].lenx, w[5].leny, w[5].x, w[5].y, 1, 0);
    q_tree4(0, w[19].lenx, w[19].leny, w[19].x, w[19].y);
}

// Low-pass value j is centred on sample 2j, high-pass value j on 2j + 1. For each value the
// taps are applied in tap order starting from the sample that the walk of the reference
// layout reaches first; with symmetric filters that is sample 2j - (L - 1) / 2 + t for tap t.
// The first product is stored to float, each further product is added in double precision and
// the sum stored back to float. The tap loop is outside the loop over values, which keeps each
// value's order of operations and lets the values of a line proceed side by side.
void Wsq::get_lets_scalar(float* out, const float* in, int lines, int n, int pitch, int stride,
                          const double* hi, int hsz, const double* lo, int lsz, int inv,
                          float* work)
{
    const int llen = (n + 1) / 2;
    const int hlen = n / 2;
    const int lc = (lsz - 1) / 2;
    const int hc = (hsz - 1) / 2;
    const int reach = (lsz > hsz ? lsz : hsz) / 2 + 2; // farthest sample outside the line
    float* ext = work + WSQ_LINE_MARGIN;               // ext[i] = sample i after extension
    float* acc = work + 2 * WSQ_LINE_MARGIN + n;       // llen low then hlen high values
    for (int line = 0; line < lines; ++line) {
        const float* src = in + static_cast<std::ptrdiff_t>(line) * pitch;
        for (int i = -reach; i < n + reach; ++i) {
            const int at = (i >= 0 && i < n) ? i : WtMirror(i, n);
            ext[i] = src[static_cast<std::ptrdiff_t>(at) * stride];
        }
        float* low = acc;
        float* high = acc + llen;
        const float* s = ext - lc;
        for (int j = 0; j < llen; ++j) {
            low[j] = static_cast<float>(s[2 * j] * lo[0]);
        }
        for (int t = 1; t < lsz; ++t) {
            for (int j = 0; j < llen; ++j) {
                low[j] = static_cast<float>(low[j] + s[2 * j + t] * lo[t]);
            }
        }
        s = ext + 1 - hc;
        for (int j = 0; j < hlen; ++j) {
            high[j] = static_cast<float>(s[2 * j] * hi[0]);
        }
        for (int t = 1; t < hsz; ++t) {
            for (int j = 0; j < hlen; ++j) {
                high[j] = static_cast<float>(high[j] + s[2 * j + t] * hi[t]);
            }
        }
        // Placement: low-pass values first, or high-pass first with inversion.
        float* dst = out + static_cast<std::ptrdiff_t>(line) * pitch;
        float* lp = dst + (inv != 0 ? static_cast<std::ptrdiff_t>(hlen) * stride : 0);
        float* hp = dst + (inv != 0 ? 0 : static_cast<std::ptrdiff_t>(llen) * stride);
        for (int j = 0; j < llen; ++j) {
            lp[static_cast<std::ptrdiff_t>(j) * stride] = low[j];
        }
        for (int j = 0; j < hlen; ++j) {
            hp[static_cast<std::ptrdiff_t>(j) * stride] = high[j];
        }
    }
}

// Output sample k receives first the low-pass products low[j] * lo[k - 2j + (L - 1) / 2], then
// the high-pass products high[j] * hi[k - 2j - 1 + (H - 1) / 2], each in order of increasing j,
// with the subbands extended as the whole-sample extension of the line implies. Every product
// and every running sum is rounded to float, single precision as standard decoders compute, so
// the decoded pixels are bit-identical to theirs; this order of the products must stay. Outputs
// of one parity share their taps, so each tap is applied to all of them in one sweep.
void Wsq::join_lets_scalar(float* out, const float* in, int lines, int n, int pitch, int stride,
                           const float* hi, int hsz, const float* lo, int lsz, int inv, float* work)
{
    const int llen = (n + 1) / 2;
    const int hlen = n / 2;
    const int lc = (lsz - 1) / 2;
    const int hc = (hsz - 1) / 2;
    const int margin = WSQ_LINE_MARGIN / 2;
    const int reach = (lsz > hsz ? lsz : hsz) / 4 + 2; // farthest subband value outside
    float* lowExt = work + margin;                     // indexes -margin .. llen + margin
    float* highExt = work + llen + 3 * margin;         // indexes -margin .. hlen + margin
    float* acc = work + n + 4 * margin;                // the n output samples
    for (int line = 0; line < lines; ++line) {
        const float* lp = in + static_cast<std::ptrdiff_t>(line) * pitch;
        const float* hp = lp;
        if (inv != 0) {
            lp += static_cast<std::ptrdiff_t>(hlen) * stride;
        } else {
            hp += static_cast<std::ptrdiff_t>(llen) * stride;
        }
        float* dst = out + static_cast<std::ptrdiff_t>(line) * pitch;
        if (n < 2) {
            dst[0] = lp[0];
            continue;
        }
        for (int j = -reach; j < llen + reach; ++j) {
            const int at = (j >= 0 && j < llen) ? j : WtMirror(2 * j, n) / 2;
            lowExt[j] = lp[static_cast<std::ptrdiff_t>(at) * stride];
        }
        for (int j = -reach; j < hlen + reach; ++j) {
            const int at = (j >= 0 && j < hlen) ? j : (WtMirror(2 * j + 1, n) - 1) / 2;
            highExt[j] = hp[static_cast<std::ptrdiff_t>(at) * stride];
        }
        // For output k = 2m + p the low-pass value j = m + (p + lc - t) / 2 meets tap t, and
        // the high-pass value j = m + (p - 1 + hc - t) / 2; taps of the right parity, largest
        // (smallest j) first.
        for (int p = 0; p < 2; ++p) {
            const int count = (n - p + 1) / 2; // outputs of this parity
            float* a = acc + p;
            for (int m = 0; m < count; ++m) {
                a[2 * m] = 0.0f;
            }
            for (int t = lsz - 1; t >= 0; --t) {
                if ((p + lc - t) % 2 != 0) {
                    continue;
                }
                const float* l = lowExt + (p + lc - t) / 2;
                const float tap = lo[t];
                for (int m = 0; m < count; ++m) {
                    a[2 * m] = a[2 * m] + l[m] * tap;
                }
            }
            for (int t = hsz - 1; t >= 0; --t) {
                if ((p - 1 + hc - t) % 2 != 0) {
                    continue;
                }
                const float* h = highExt + (p - 1 + hc - t) / 2;
                const float tap = hi[t];
                for (int m = 0; m < count; ++m) {
                    a[2 * m] = a[2 * m] + h[m] * tap;
                }
            }
        }
        for (int k = 0; k < n; ++k) {
            dst[static_cast<std::ptrdiff_t>(k) * stride] = acc[k];
        }
    }
}

namespace {

// Taps of one output parity of the synthesis, in the order they are summed (low-pass taps from
// the last to the first, then the high-pass ones), each with the subband it reads and the
// offset of its value j - m from the output's half index m.
struct WtParityTaps {
    int count = 0;
    float tap[WSQ_PARITY_TAPS];
    int off[WSQ_PARITY_TAPS];
    bool high[WSQ_PARITY_TAPS];
};

void WtCollectTaps(WtParityTaps& pt, int p, const float* hi, int hsz, const float* lo, int lsz)
{
    const int lc = (lsz - 1) / 2;
    const int hc = (hsz - 1) / 2;
    pt.count = 0;
    for (int t = lsz - 1; t >= 0; --t) {
        if ((p + lc - t) % 2 == 0) {
            pt.tap[pt.count] = lo[t];
            pt.off[pt.count] = (p + lc - t) / 2;
            pt.high[pt.count++] = false;
        }
    }
    for (int t = hsz - 1; t >= 0; --t) {
        if ((p - 1 + hc - t) % 2 == 0) {
            pt.tap[pt.count] = hi[t];
            pt.off[pt.count] = (p - 1 + hc - t) / 2;
            pt.high[pt.count++] = true;
        }
    }
}

} // namespace

void WsqTapSumScalar(float* out, const float* const* src, const float* tap, int taps, int n)
{
    for (int i = 0; i < n; ++i) {
        float a = 0.0f;
        for (int t = 0; t < taps; ++t) {
            a = a + src[t][i] * tap[t];
        }
        out[i] = a;
    }
}

#if defined(__GNUC__)
// Four lanes of single precision. Each lane performs the scalar sequence of rounded products
// and sums of its own output; on targets without float vector units the compiler lowers the
// lanes to scalar operations, so the results are the same everywhere.
using WtLanes = float __attribute__((vector_size(16)));

// The sums with lanes of type V (L floats): runs of 4 L values, then of L, then one at a time.
// Inlined into each caller, so that a caller built for a wider instruction set runs it with
// its own registers.
template <typename V, int L>
inline __attribute__((always_inline)) void WtTapSumLanes(float* out, const float* const* src,
                                                         const float* tap, int taps, int n)
{
    int i = 0;
    for (; i + 4 * L <= n; i += 4 * L) {
        V a0 = {};
        V a1 = a0;
        V a2 = a0;
        V a3 = a0;
        for (int t = 0; t < taps; ++t) {
            const float* s = src[t] + i;
            const float w = tap[t]; // each lane multiplies by this same tap
            V v0;
            V v1;
            V v2;
            V v3;
            std::memcpy(&v0, s, sizeof v0);
            std::memcpy(&v1, s + L, sizeof v1);
            std::memcpy(&v2, s + 2 * L, sizeof v2);
            std::memcpy(&v3, s + 3 * L, sizeof v3);
            a0 = a0 + v0 * w;
            a1 = a1 + v1 * w;
            a2 = a2 + v2 * w;
            a3 = a3 + v3 * w;
        }
        std::memcpy(out + i, &a0, sizeof a0);
        std::memcpy(out + i + L, &a1, sizeof a1);
        std::memcpy(out + i + 2 * L, &a2, sizeof a2);
        std::memcpy(out + i + 3 * L, &a3, sizeof a3);
    }
    for (; i + L <= n; i += L) {
        V a = {};
        for (int t = 0; t < taps; ++t) {
            V v;
            std::memcpy(&v, src[t] + i, sizeof v);
            a = a + v * tap[t];
        }
        std::memcpy(out + i, &a, sizeof a);
    }
    if (i < n) {
        const float* rest[WSQ_PARITY_TAPS];
        for (int t = 0; t < taps; ++t) {
            rest[t] = src[t] + i;
        }
        WsqTapSumScalar(out + i, rest, tap, taps, n - i);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Eight lanes where the processor has AVX: the same multiplications and additions (AVX has no
// fused form), eight outputs per instruction.
using WtWideLanes = float __attribute__((vector_size(32)));

__attribute__((target("avx"))) void WtTapSumAvx(float* out, const float* const* src,
                                                const float* tap, int taps, int n)
{
    WtTapSumLanes<WtWideLanes, 8>(out, src, tap, taps, n);
}

bool WtHasAvx()
{
    static const bool has = __builtin_cpu_supports("avx") != 0;
    return has;
}
#endif

void WsqTapSum(float* out, const float* const* src, const float* tap, int taps, int n)
{
#if defined(__x86_64__) || defined(__i386__)
    if (WtHasAvx()) {
        WtTapSumAvx(out, src, tap, taps, n);
        return;
    }
#endif
    WtTapSumLanes<WtLanes, 4>(out, src, tap, taps, n);
}
#else
void WsqTapSum(float* out, const float* const* src, const float* tap, int taps, int n)
{
    WsqTapSumScalar(out, src, tap, taps, n);
}
#endif

// Lines side by side in memory (pitch 1): output sample k of every line at once, the lines'
// samples k being one contiguous run of `lines` floats.
void Wsq::join_across(float* out, const float* in, int lines, int n, int stride, const float* hi,
                      int hsz, const float* lo, int lsz, int inv)
{
    const int llen = (n + 1) / 2;
    const int hlen = n / 2;
    const std::ptrdiff_t lowBase = inv != 0 ? hlen : 0;
    const std::ptrdiff_t highBase = inv != 0 ? 0 : llen;
    if (n < 2) {
        std::memcpy(out, in + lowBase * stride, static_cast<std::size_t>(lines) * sizeof(float));
        return;
    }
    WtParityTaps taps[2];
    WtCollectTaps(taps[0], 0, hi, hsz, lo, lsz);
    WtCollectTaps(taps[1], 1, hi, hsz, lo, lsz);
    const float* src[WSQ_PARITY_TAPS];
    for (int k = 0; k < n; ++k) {
        const WtParityTaps& pt = taps[k & 1];
        const int m = k >> 1;
        for (int t = 0; t < pt.count; ++t) {
            const int j = m + pt.off[t];
            std::ptrdiff_t row;
            if (pt.high[t]) {
                row = highBase + ((j >= 0 && j < hlen) ? j : (WtMirror(2 * j + 1, n) - 1) / 2);
            } else {
                row = lowBase + ((j >= 0 && j < llen) ? j : WtMirror(2 * j, n) / 2);
            }
            src[t] = in + row * stride;
        }
        WsqTapSum(out + static_cast<std::ptrdiff_t>(k) * stride, src, pt.tap, pt.count, lines);
    }
}

// Lines of contiguous samples (stride 1): per line, the outputs of one parity as one run, then
// interleaved into the line.
void Wsq::join_along(float* out, const float* in, int lines, int n, int pitch, const float* hi,
                     int hsz, const float* lo, int lsz, int inv, float* work)
{
    const int llen = (n + 1) / 2;
    const int hlen = n / 2;
    const int margin = WSQ_LINE_MARGIN / 2;
    const int reach = (lsz > hsz ? lsz : hsz) / 4 + 2; // farthest subband value outside
    float* lowExt = work + margin;                     // indexes -margin .. llen + margin
    float* highExt = work + llen + 3 * margin;         // indexes -margin .. hlen + margin
    float* acc = work + n + 4 * margin;                // the n output samples by parity
    WtParityTaps taps[2];
    const float* src[2][WSQ_PARITY_TAPS];
    for (int p = 0; p < 2; ++p) {
        WtCollectTaps(taps[p], p, hi, hsz, lo, lsz);
        for (int t = 0; t < taps[p].count; ++t) {
            src[p][t] = (taps[p].high[t] ? highExt : lowExt) + taps[p].off[t];
        }
    }
    const int even = (n + 1) / 2;
    const int odd = n / 2;
    for (int line = 0; line < lines; ++line) {
        const float* lp = in + static_cast<std::ptrdiff_t>(line) * pitch;
        const float* hp = lp;
        if (inv != 0) {
            lp += hlen;
        } else {
            hp += llen;
        }
        float* dst = out + static_cast<std::ptrdiff_t>(line) * pitch;
        if (n < 2) {
            dst[0] = lp[0];
            continue;
        }
        for (int j = -reach; j < 0; ++j) {
            lowExt[j] = lp[WtMirror(2 * j, n) / 2];
        }
        std::memcpy(lowExt, lp, static_cast<std::size_t>(llen) * sizeof(float));
        for (int j = llen; j < llen + reach; ++j) {
            lowExt[j] = lp[WtMirror(2 * j, n) / 2];
        }
        for (int j = -reach; j < 0; ++j) {
            highExt[j] = hp[(WtMirror(2 * j + 1, n) - 1) / 2];
        }
        std::memcpy(highExt, hp, static_cast<std::size_t>(hlen) * sizeof(float));
        for (int j = hlen; j < hlen + reach; ++j) {
            highExt[j] = hp[(WtMirror(2 * j + 1, n) - 1) / 2];
        }
        WsqTapSum(acc, src[0], taps[0].tap, taps[0].count, even);
        WsqTapSum(acc + even, src[1], taps[1].tap, taps[1].count, odd);
        for (int m = 0; m < odd; ++m) {
            dst[2 * m] = acc[m];
            dst[2 * m + 1] = acc[even + m];
        }
        if (even > odd) {
            dst[n - 1] = acc[even - 1];
        }
    }
}

void Wsq::join_lets(float* out, const float* in, int lines, int n, int pitch, int stride,
                    const float* hi, int hsz, const float* lo, int lsz, int inv, float* work)
{
    if (pitch == 1 && lines > 1) {
        join_across(out, in, lines, n, stride, hi, hsz, lo, lsz, inv);
    } else if (stride == 1) {
        join_along(out, in, lines, n, pitch, hi, hsz, lo, lsz, inv, work);
    } else {
        join_lets_scalar(out, in, lines, n, pitch, stride, hi, hsz, lo, lsz, inv, work);
    }
}

void WsqTapSumDScalar(float* out, const float* const* src, const double* tap, int taps, int n)
{
    for (int i = 0; i < n; ++i) {
        float a = static_cast<float>(src[0][i] * tap[0]);
        for (int t = 1; t < taps; ++t) {
            a = static_cast<float>(a + src[t][i] * tap[t]);
        }
        out[i] = a;
    }
}

#if defined(__GNUC__)
// Four lanes of double precision, two such groups side by side; each lane performs the scalar
// sequence of its own value: the float sample and sum widened, the double product and sum, the
// sum stored to float. (No function takes or returns the wide type, so its passing does not
// depend on the target's vector extensions.)
using WtDoubles = double __attribute__((vector_size(32)));

// Inlined into each caller, as WtTapSumLanes.
inline __attribute__((always_inline)) void WtTapSumDLanes(float* out, const float* const* src,
                                                          const double* tap, int taps, int n)
{
    // Every tap in all four lanes, made once for the run of values.
    WtDoubles wide[WSQ_PARITY_TAPS];
    for (int t = 0; t < taps && n >= 8; ++t) {
        wide[t] = WtDoubles{tap[t], tap[t], tap[t], tap[t]};
    }
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        WtLanes v0;
        WtLanes v1;
        std::memcpy(&v0, src[0] + i, sizeof v0);
        std::memcpy(&v1, src[0] + i + 4, sizeof v1);
        WtLanes a0 =
            __builtin_convertvector(__builtin_convertvector(v0, WtDoubles) * wide[0], WtLanes);
        WtLanes a1 =
            __builtin_convertvector(__builtin_convertvector(v1, WtDoubles) * wide[0], WtLanes);
        for (int t = 1; t < taps; ++t) {
            std::memcpy(&v0, src[t] + i, sizeof v0);
            std::memcpy(&v1, src[t] + i + 4, sizeof v1);
            a0 = __builtin_convertvector(__builtin_convertvector(a0, WtDoubles) +
                                             __builtin_convertvector(v0, WtDoubles) * wide[t],
                                         WtLanes);
            a1 = __builtin_convertvector(__builtin_convertvector(a1, WtDoubles) +
                                             __builtin_convertvector(v1, WtDoubles) * wide[t],
                                         WtLanes);
        }
        std::memcpy(out + i, &a0, sizeof a0);
        std::memcpy(out + i + 4, &a1, sizeof a1);
    }
    if (i < n) {
        const float* rest[2 * WSQ_PARITY_TAPS];
        for (int t = 0; t < taps; ++t) {
            rest[t] = src[t] + i;
        }
        WsqTapSumDScalar(out + i, rest, tap, taps, n - i);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Each group of four double lanes in one AVX register.
__attribute__((target("avx"))) void WtTapSumDAvx(float* out, const float* const* src,
                                                 const double* tap, int taps, int n)
{
    WtTapSumDLanes(out, src, tap, taps, n);
}
#endif

void WsqTapSumD(float* out, const float* const* src, const double* tap, int taps, int n)
{
#if defined(__x86_64__) || defined(__i386__)
    if (WtHasAvx()) {
        WtTapSumDAvx(out, src, tap, taps, n);
        return;
    }
#endif
    WtTapSumDLanes(out, src, tap, taps, n);
}
#else
void WsqTapSumD(float* out, const float* const* src, const double* tap, int taps, int n)
{
    WsqTapSumDScalar(out, src, tap, taps, n);
}
#endif

// Lines side by side in memory (pitch 1): value j of every line at once, the lines' samples i
// being one contiguous run of `lines` floats.
void Wsq::get_across(float* out, const float* in, int lines, int n, int stride, const double* hi,
                     int hsz, const double* lo, int lsz, int inv)
{
    const int llen = (n + 1) / 2;
    const int hlen = n / 2;
    const int lc = (lsz - 1) / 2;
    const int hc = (hsz - 1) / 2;
    const std::ptrdiff_t lowBase = inv != 0 ? hlen : 0;
    const std::ptrdiff_t highBase = inv != 0 ? 0 : llen;
    auto row = [&](int i) {
        const int at = (i >= 0 && i < n) ? i : WtMirror(i, n);
        return in + static_cast<std::ptrdiff_t>(at) * stride;
    };
    const float* src[2 * WSQ_PARITY_TAPS];
    for (int j = 0; j < llen; ++j) {
        for (int t = 0; t < lsz; ++t) {
            src[t] = row(2 * j - lc + t);
        }
        WsqTapSumD(out + (lowBase + j) * stride, src, lo, lsz, lines);
    }
    for (int j = 0; j < hlen; ++j) {
        for (int t = 0; t < hsz; ++t) {
            src[t] = row(2 * j + 1 - hc + t);
        }
        WsqTapSumD(out + (highBase + j) * stride, src, hi, hsz, lines);
    }
}

// Lines of contiguous samples (stride 1): per line, the samples split by parity (each extended
// as the line), so that the samples a tap meets for successive values are one run; then the
// low-pass and the high-pass values each as one run.
void Wsq::get_along(float* out, const float* in, int lines, int n, int pitch, const double* hi,
                    int hsz, const double* lo, int lsz, int inv, float* work)
{
    const int llen = (n + 1) / 2;
    const int hlen = n / 2;
    const int lc = (lsz - 1) / 2;
    const int hc = (hsz - 1) / 2;
    const int margin = WSQ_LINE_MARGIN / 2;
    const int reach = (lsz > hsz ? lsz : hsz) / 4 + 2; // farthest pair outside the line
    float* even = work + margin;                       // even[m]: sample 2m, m >= -margin
    float* odd = work + llen + 3 * margin;             // odd[m]: sample 2m + 1
    // Tap t of value j meets sample 2j + u: even[j + u / 2] for even u, odd[j + (u - 1) / 2].
    auto source = [&](int u) { return u % 2 == 0 ? even + u / 2 : odd + (u - 1) / 2; };
    const float* lowSrc[2 * WSQ_PARITY_TAPS];
    const float* highSrc[2 * WSQ_PARITY_TAPS];
    for (int t = 0; t < lsz; ++t) {
        lowSrc[t] = source(t - lc);
    }
    for (int t = 0; t < hsz; ++t) {
        highSrc[t] = source(1 - hc + t);
    }
    for (int line = 0; line < lines; ++line) {
        const float* src = in + static_cast<std::ptrdiff_t>(line) * pitch;
        for (int m = -reach; m < llen + reach; ++m) {
            const int i = 2 * m;
            even[m] = src[(i >= 0 && i < n) ? i : WtMirror(i, n)];
            odd[m] = src[(i + 1 >= 0 && i + 1 < n) ? i + 1 : WtMirror(i + 1, n)];
        }
        float* dst = out + static_cast<std::ptrdiff_t>(line) * pitch;
        WsqTapSumD(dst + (inv != 0 ? hlen : 0), lowSrc, lo, lsz, llen);
        WsqTapSumD(dst + (inv != 0 ? 0 : llen), highSrc, hi, hsz, hlen);
    }
}

void Wsq::get_lets(float* out, const float* in, int lines, int n, int pitch, int stride,
                   const double* hi, int hsz, const double* lo, int lsz, int inv, float* work)
{
    if (pitch == 1 && lines > 1) {
        get_across(out, in, lines, n, stride, hi, hsz, lo, lsz, inv);
    } else if (stride == 1) {
        get_along(out, in, lines, n, pitch, hi, hsz, lo, lsz, inv, work);
    } else {
        get_lets_scalar(out, in, lines, n, pitch, stride, hi, hsz, lo, lsz, inv, work);
    }
}
