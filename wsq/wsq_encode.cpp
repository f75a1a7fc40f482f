// WSQ encoder: turns 8-bit pixels into normalised float samples, applies the forward wavelet
// transform, derives the 60 subbands' bin widths from their variances and the bit rate,
// quantises to 16-bit coefficients, builds two Huffman tables and writes the stream into the
// caller's buffer, whose capacity is width * height bytes. Returns the length or a negative code.

#include "wsq/wsq_stream.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int MAX_ATTEMPTS = 7;
constexpr int MAX_RAISES = 6;
constexpr float RATE_RAISE = 1.08f;
constexpr std::uint8_t ENCODER_NUMBER = 2;
const char kComment[] = "zelvan wsq";
constexpr int COMMENT_LEN = 10;
constexpr double LIMIT16 = 65535.0;
constexpr double LIMIT32 = 4294967295.0;

// Subbands of each block: 0..18, 19..51, 52..59.
constexpr int kBlockFirst[3] = {0, 19, 52};
constexpr int kBlockEnd[3] = {19, 52, 60};

// Huffman table of the encoder: counts per length, symbols in code order, code per symbol.
struct EnHuffTable {
    std::uint8_t bits[MAX_HUFFBITS];
    std::uint8_t values[MAX_HUFFCOUNTS_WSQ];
    int nvalues;
    std::uint32_t code[MAX_HUFFCOUNTS_WSQ];
    std::uint8_t size[MAX_HUFFCOUNTS_WSQ];
};

// Walks a block's coefficients as symbols: sink(symbol, extra bits, number of extra bits).
// Coefficients -73..74 are direct; zero runs of 1..100 direct, 101..255 and 256..65535 by
// escape, longer runs cut into runs of 65535 and the rest.
template <class Sink> void EnWalkBlock(const std::int16_t* c, std::size_t n, Sink&& sink)
{
    std::uint32_t run = 0;
    auto flush = [&]() {
        while (run > 0) {
            const std::uint32_t r = run > 65535 ? 65535 : run;
            if (r <= MAX_HUFFZRUN) {
                sink(static_cast<int>(r), 0u, 0);
            } else if (r <= 255) {
                sink(105, r, 8);
            } else {
                sink(106, r, 16);
            }
            run -= r;
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        const int v = c[i];
        if (v == 0) {
            ++run;
            continue;
        }
        flush();
        if (v >= -(MAX_HUFFCOEFF - 1) && v <= MAX_HUFFCOEFF) {
            sink(v + 180, 0u, 0);
        } else if (v > 0) {
            sink(v <= 255 ? 101 : 103, static_cast<std::uint32_t>(v), v <= 255 ? 8 : 16);
        } else {
            const int m = -v;
            sink(m <= 255 ? 102 : 104, static_cast<std::uint32_t>(m), m <= 255 ? 8 : 16);
        }
    }
    flush();
}

// Symbol counts of a block, added to `counts` (257 entries).
void count_block(long* counts, const std::int16_t* c, std::size_t n)
{
    EnWalkBlock(c, n, [&](int symbol, std::uint32_t, int) { ++counts[symbol]; });
}

// Huffman table from symbol counts, after ITU-T T.81 Annex K.2: a reserved symbol 256 of count 1
// keeps every real code from being all ones; code lengths are limited to 16.
int gen_hufftable_wsq(const long* counts, EnHuffTable& t)
{
    const int n = MAX_HUFFCOUNTS_WSQ + 1;
    std::unique_ptr<long[]> freq(new (std::nothrow) long[n]);
    std::unique_ptr<int[]> codesize(new (std::nothrow) int[n]());
    std::unique_ptr<int[]> others(new (std::nothrow) int[n]);
    if (!freq || !codesize || !others) {
        return WSQ_ERR_HUFF_TABLE;
    }
    for (int i = 0; i < n; ++i) {
        freq[i] = i < MAX_HUFFCOUNTS_WSQ ? counts[i] : 1;
        others[i] = -1;
    }
    // 1. Join the two least frequent entries until one remains; among equal frequencies the
    //    larger symbol counts as the less frequent.
    for (;;) {
        int c1 = -1;
        long v = 0;
        for (int i = 0; i < n; ++i) {
            if (freq[i] > 0 && (c1 < 0 || freq[i] <= v)) {
                v = freq[i];
                c1 = i;
            }
        }
        int c2 = -1;
        v = 0;
        for (int i = 0; i < n; ++i) {
            if (freq[i] > 0 && i != c1 && (c2 < 0 || freq[i] <= v)) {
                v = freq[i];
                c2 = i;
            }
        }
        if (c2 < 0) {
            break;
        }
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }
    // 2. Counts per length, limited to 16 bits; the reserved symbol's code is dropped.
    int lengths[MAX_HUFFCOUNTS_WSQ + 2] = {};
    for (int i = 0; i < n; ++i) {
        if (codesize[i] > 0) {
            ++lengths[codesize[i]];
        }
    }
    for (int i = MAX_HUFFCOUNTS_WSQ + 1; i > MAX_HUFFBITS; --i) {
        while (lengths[i] > 0) {
            int j = i - 2;
            while (lengths[j] == 0) {
                --j;
            }
            lengths[i] -= 2;
            lengths[i - 1] += 1;
            lengths[j + 1] += 2;
            lengths[j] -= 1;
        }
    }
    int last = MAX_HUFFBITS;
    while (last > 0 && lengths[last] == 0) {
        --last;
    }
    if (last > 0) {
        --lengths[last];
    }
    for (int l = 1; l <= MAX_HUFFBITS; ++l) {
        t.bits[l - 1] = static_cast<std::uint8_t>(lengths[l]);
    }
    // 3. Symbols by code size, then by value; canonical codes in that order.
    t.nvalues = 0;
    for (int size = 1; size <= MAX_HUFFCOUNTS_WSQ + 1; ++size) {
        for (int s = 0; s < MAX_HUFFCOUNTS_WSQ; ++s) {
            if (codesize[s] == size) {
                t.values[t.nvalues++] = static_cast<std::uint8_t>(s);
            }
        }
    }
    WsqHuffCodes codes;
    WsqBuildCodes(t.bits, codes);
    std::memset(t.size, 0, sizeof t.size);
    for (int i = 0; i < t.nvalues && i < codes.count; ++i) {
        t.code[t.values[i]] = codes.code[i];
        t.size[t.values[i]] = codes.size[i];
    }
    return 0;
}

// Entropy-codes a block into `scratch` (capacity `cap`), 0x00 after every 0xFF byte, the last
// byte padded with 1 bits. Returns the byte count or WSQ_ERR_OUT_BLOCK at the capacity.
long compress_block(unsigned char* scratch, std::size_t cap, const std::int16_t* c, std::size_t n,
                    const EnHuffTable& t)
{
    std::size_t pos = 0;
    std::uint32_t acc = 0;
    int nacc = 0;
    bool full = false;
    auto emit = [&](std::uint8_t b) {
        if (pos >= cap) {
            full = true;
            return;
        }
        scratch[pos++] = b;
    };
    auto put = [&](std::uint32_t bits, int nbits) {
        for (int i = nbits - 1; i >= 0; --i) {
            acc = (acc << 1) | ((bits >> i) & 1u);
            if (++nacc == 8) {
                emit(static_cast<std::uint8_t>(acc));
                if (acc == 0xFF) {
                    emit(0x00);
                }
                acc = 0;
                nacc = 0;
            }
        }
    };
    EnWalkBlock(c, n, [&](int symbol, std::uint32_t extra, int nextra) {
        put(t.code[symbol], t.size[symbol]);
        if (nextra > 0) {
            put(extra, nextra);
        }
    });
    if (nacc > 0) {
        put((1u << (8 - nacc)) - 1u, 8 - nacc);
    }
    return full ? WSQ_ERR_OUT_BLOCK : static_cast<long>(pos);
}

// Variance of a window of a subband: sums in single precision, the last division in double,
// rounded to single precision.
double EnVariance(const float* samples, int width, int x0, int y0, int w, int h)
{
    const long n = static_cast<long>(w) * h;
    if (n < 2) {
        return 0.0;
    }
    float sum = 0.0f;
    float ssq = 0.0f;
    for (int y = y0; y < y0 + h; ++y) {
        const float* row = samples + static_cast<std::size_t>(y) * width;
        for (int x = x0; x < x0 + w; ++x) {
            sum = sum + row[x];
            ssq = ssq + row[x] * row[x];
        }
    }
    const float num = ssq - (sum * sum) / static_cast<float>(n);
    return static_cast<float>(num / (static_cast<double>(n) - 1.0));
}

} // namespace

struct WsqEncoder {
    static void variance(const Wsq& wsq, const float* samples, int width, double* var);
    static void quantize(double r, const double* var, double* qbin, double* zbin);
};

// Variances of subbands 0..59: the central windows of 0..3 first; if they add up below 20000,
// every subband over its whole rectangle, else 4..59 over their central windows.
void WsqEncoder::variance(const Wsq& wsq, const float* samples, int width, double* var)
{
    auto central = [&](int k) {
        const quant_tree& q = wsq.m_qtree[k];
        return EnVariance(samples, width, q.x + q.lenx / 8, q.y + (9 * q.leny) / 32,
                          (3 * q.lenx) / 4, (7 * q.leny) / 16);
    };
    float vsum = 0.0f;
    for (int k = 0; k < 4; ++k) {
        var[k] = central(k);
        vsum = vsum + static_cast<float>(var[k]);
    }
    if (vsum < 20000.0f) {
        for (int k = 0; k < NUM_SUBBANDS; ++k) {
            const quant_tree& q = wsq.m_qtree[k];
            var[k] = EnVariance(samples, width, q.x, q.y, q.lenx, q.leny);
        }
    } else {
        for (int k = 4; k < NUM_SUBBANDS; ++k) {
            var[k] = central(k);
        }
    }
}

// Bin widths from the variances and the bit rate r; subbands left out get width 0.
void WsqEncoder::quantize(double r, const double* var, double* qbin, double* zbin)
{
    static const double kA[8] = {1.32, 1.08, 1.42, 1.08, 1.32, 1.42, 1.08, 1.08};
    double width[NUM_SUBBANDS] = {};
    double sigma[NUM_SUBBANDS] = {};
    double m[NUM_SUBBANDS] = {};
    bool in[NUM_SUBBANDS] = {};
    for (int k = 0; k < Q_TREELEN; ++k) {
        qbin[k] = 0.0;
        zbin[k] = 0.0;
    }
    int members = 0;
    for (int k = 0; k < NUM_SUBBANDS; ++k) {
        m[k] = k < 4 ? 1.0 / 1024.0 : (k <= 50 ? 1.0 / 256.0 : 1.0 / 16.0);
        if (var[k] < 1.01) {
            continue;
        }
        const double a = k < 52 ? 1.0 : kA[k - 52];
        width[k] = k < 4 ? 1.0 : 10.0 / (a * std::log(var[k]));
        sigma[k] = std::sqrt(var[k]);
        in[k] = true;
        ++members;
    }
    double q = 0.0;
    bool removed = true;
    while (removed && members > 0) {
        double s = 0.0;
        double p = 1.0;
        for (int k = 0; k < NUM_SUBBANDS; ++k) {
            if (in[k]) {
                s += m[k];
                p *= std::pow(sigma[k] / width[k], m[k]);
            }
        }
        q = (std::pow(2.0, r / s - 1.0) / 2.5) / std::pow(p, 1.0 / s);
        removed = false;
        for (int k = 0; k < NUM_SUBBANDS; ++k) {
            if (in[k] && width[k] / q >= 5.0 * sigma[k]) {
                in[k] = false;
                --members;
                removed = true;
            }
        }
    }
    for (int k = 0; k < NUM_SUBBANDS; ++k) {
        if (in[k]) {
            qbin[k] = width[k] / q;
            zbin[k] = 1.2 * qbin[k];
        }
    }
}

float Wsq::GetBitRate(float x)
{
    // clang-format off
    static const float kRatio[49] = {
        1.66f, 2.25f, 4.39f, 4.24f, 4.92f, 5.77f, 5.96f, 6.17f, 6.4f, 6.64f,            // 0..9
        6.9f, 7.18f, 7.47f, 7.79f, 8.21f, 8.64f, 9.08f, 9.57f, 10.05f, 10.57f,          // 10..19
        11.11f, 11.68f, 12.31f, 12.83f, 13.51f, 13.93f, 14.62f, 15.09f, 15.39f, 16.45f, // 20..29
        16.15f, 16.24f, 17.91f, 17.35f, 16.76f, 18.04f, 18.81f, 21.57f, 21.57f, 24.15f, // 30..39
        40.73f, 45.1f, 55.73f, 80.2f, 144.15f, 173.16f, 194.0f, 233.88f, 295.95f};      // 40..48
    static const float kRate[49] = {
        5.0f, 4.0f, 3.0f, 2.5f, 2.25f, 2.0f, 1.95f, 1.9f, 1.85f, 1.8f,                  // 0..9
        1.75f, 1.7f, 1.65f, 1.6f, 1.55f, 1.5f, 1.45f, 1.4f, 1.35f, 1.3f,                // 10..19
        1.25f, 1.2f, 1.15f, 1.1f, 1.05f, 1.0f, 0.95f, 0.9f, 0.85f, 0.8f,                // 20..29
        0.75f, 0.7f, 0.65f, 0.6f, 0.55f, 0.5f, 0.45f, 0.4f, 0.35f, 0.3f,                // 30..39
        0.25f, 0.2f, 0.15f, 0.1f, 0.05f, 0.04f, 0.03f, 0.02f, 0.01f};                   // 40..48
    // clang-format on
    if (x > kRatio[48]) {
        return kRate[48];
    }
    if (!(x >= kRatio[0])) {
        return kRate[0];
    }
    for (int i = 1; i < 49; ++i) {
        if (kRatio[i - 1] <= x && x <= kRatio[i]) {
            const float dr = kRate[i] - kRate[i - 1];
            const float dx = x - kRatio[i - 1];
            const float span = kRatio[i] - kRatio[i - 1];
            const float f = dx / span;
            const float step = dr * f;
            return kRate[i - 1] + step;
        }
    }
    return kRate[0];
}

int Wsq::wsq_encode_mem(unsigned char* out, int* olen, float r_bitrate, const unsigned char* pixels,
                        int width, int height)
{
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    WsqWriter wr{out, n, 0};
    // 1. Normalised samples: (pixel - m_shift) / r_scale.
    // The instance's decoder buffers serve as the sample, transform and coefficient buffers.
    float* const samples = m_samples.Reserve(n);
    if (samples == nullptr) {
        return WSQ_ERR_SAMPLE_ALLOC;
    }
    std::uint32_t sum = 0;
    unsigned char lo = 255;
    unsigned char hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += pixels[i];
        lo = pixels[i] < lo ? pixels[i] : lo;
        hi = pixels[i] > hi ? pixels[i] : hi;
    }
    const float shift = static_cast<float>(sum) / static_cast<float>(n);
    const float below = shift - static_cast<float>(lo);
    const float above = static_cast<float>(hi) - shift;
    float scale = (below >= above ? below : above) * 0.0078125f;
    if (!(scale > 0.0f)) {
        scale = 1.0f; // a constant image: every sample is (about) 0
    }
    const float recip = 1.0f / scale;
    for (std::size_t i = 0; i < n; ++i) {
        samples[i] = (static_cast<float>(pixels[i]) - shift) * recip;
    }
    // 2. Trees and forward transform, nodes 0 to 19: rows into the scratch, columns back.
    build_wsq_trees(width, height);
    {
        const int longest = width > height ? width : height;
        float* const scratch = m_scratch.Reserve(n);
        float* const work = scratch != nullptr ? m_lineWork.Reserve(WsqLineWork(longest)) : nullptr;
        if (work == nullptr) {
            return WSQ_ERR_TRANSFORM_ALLOC;
        }
        for (int node = 0; node < W_TREELEN; ++node) {
            const wavlet_tree& w = m_wtree[node];
            const std::size_t offset = static_cast<std::size_t>(w.y) * width + w.x;
            get_lets(scratch + offset, samples + offset, w.leny, w.lenx, width, 1, m_hifilt, 7,
                     m_lofilt, 9, w.inv_rw, work);
            get_lets(samples + offset, scratch + offset, w.lenx, w.leny, 1, width, m_hifilt, 7,
                     m_lofilt, 9, w.inv_cl, work);
        }
    }
    // 3. Variances and bin widths.
    double var[Q_TREELEN] = {};
    double qbin[Q_TREELEN];
    double zbin[Q_TREELEN];
    WsqEncoder::variance(*this, samples, width, var);
    WsqEncoder::quantize(static_cast<double>(r_bitrate), var, qbin, zbin);
    // 4. Quantised coefficients, subband by subband, row by row.
    std::int16_t* const coeffs = m_coeffs.Reserve(n);
    if (coeffs == nullptr) {
        static const char kMsg[] = "ERROR : quantize : calloc : sip\n";
        std::fwrite(kMsg, 1, sizeof kMsg - 1, stderr);
        return WSQ_ERR_BEFORE_BLOCK;
    }
    std::size_t ncoeffs = 0;
    for (int k = 0; k < NUM_SUBBANDS; ++k) {
        if (qbin[k] == 0.0) {
            continue;
        }
        const double z = zbin[k] / 2.0;
        const quant_tree& q = m_qtree[k];
        for (int y = q.y; y < q.y + q.leny; ++y) {
            const float* row = samples + static_cast<std::size_t>(y) * width;
            for (int x = q.x; x < q.x + q.lenx; ++x) {
                const double s = row[x];
                double c = 0.0;
                if (s > z) {
                    c = std::trunc((s - z) / qbin[k] + 1.0);
                } else if (s < -z) {
                    c = std::trunc((s + z) / qbin[k] - 1.0);
                }
                // A coefficient beyond 16 bits would be stored wrapped: refuse the attempt.
                if (c > 32767.0 || c < -32768.0) {
                    return WSQ_ERR_COEFF_RANGE;
                }
                coeffs[ncoeffs++] = static_cast<std::int16_t>(c);
            }
        }
    }
    // 5. Block sizes.
    std::size_t blockSize[3] = {};
    for (int b = 0; b < 3; ++b) {
        for (int k = kBlockFirst[b]; k < kBlockEnd[b]; ++k) {
            if (qbin[k] != 0.0) {
                blockSize[b] += static_cast<std::size_t>(m_qtree[k].lenx) * m_qtree[k].leny;
            }
        }
    }
    if (blockSize[0] + blockSize[1] + blockSize[2] != ncoeffs) {
        return WSQ_ERR_BLOCK_SIZES;
    }
    const std::int16_t* blockStart[3] = {coeffs, coeffs + blockSize[0],
                                         coeffs + blockSize[0] + blockSize[1]};
    // 6. SOI, COM (balancing byte 0 for now), DTT, DQT.
    int rc = wr.PutU16(WSQ_SOI);
    std::size_t balance = 0;
    if (rc == 0) {
        rc = wr.PutU16(WSQ_COM);
    }
    if (rc == 0) {
        rc = wr.PutU16(COMMENT_LEN + 3);
    }
    if (rc == 0) {
        rc = wr.PutBytes(reinterpret_cast<const unsigned char*>(kComment), COMMENT_LEN);
    }
    if (rc == 0) {
        balance = wr.pos;
        rc = wr.PutByte(0);
    }
    if (rc == 0) {
        rc = wr.PutU16(WSQ_DTT);
    }
    if (rc == 0) {
        rc = wr.PutU16(58);
    }
    if (rc == 0) {
        rc = wr.PutByte(9);
    }
    if (rc == 0) {
        rc = wr.PutByte(7);
    }
    const double* taps[9] = {&m_lofilt[4], &m_lofilt[5], &m_lofilt[6], &m_lofilt[7], &m_lofilt[8],
                             &m_hifilt[3], &m_hifilt[4], &m_hifilt[5], &m_hifilt[6]};
    for (const double* tap : taps) {
        std::uint8_t s = 0;
        std::uint32_t v = 0;
        WsqScaleDouble(std::fabs(*tap), LIMIT32, s, v);
        if (rc == 0) {
            rc = wr.PutByte(*tap < 0.0 ? 1 : 0);
        }
        if (rc == 0) {
            rc = wr.PutByte(s);
        }
        if (rc == 0) {
            rc = wr.PutU32(v);
        }
    }
    if (rc == 0) {
        rc = wr.PutU16(WSQ_DQT);
    }
    if (rc == 0) {
        rc = wr.PutU16(389);
    }
    if (rc == 0) {
        rc = wr.PutByte(2);
    }
    if (rc == 0) {
        rc = wr.PutU16(44);
    }
    for (int k = 0; k < Q_TREELEN && rc == 0; ++k) {
        std::uint8_t sq = 0;
        std::uint8_t sz = 0;
        std::uint32_t vq = 0;
        std::uint32_t vz = 0;
        if (k < NUM_SUBBANDS && qbin[k] != 0.0) {
            if (qbin[k] >= LIMIT16) {
                return WSQ_ERR_BIN_WIDTH;
            }
            if (zbin[k] >= LIMIT16) {
                return WSQ_ERR_ZERO_BIN_WIDTH;
            }
            WsqScaleDouble(qbin[k], LIMIT16, sq, vq);
            WsqScaleDouble(zbin[k], LIMIT16, sz, vz);
        }
        rc = wr.PutByte(sq);
        if (rc == 0) {
            rc = wr.PutU16(static_cast<std::uint16_t>(vq));
        }
        if (rc == 0) {
            rc = wr.PutByte(sz);
        }
        if (rc == 0) {
            rc = wr.PutU16(static_cast<std::uint16_t>(vz));
        }
    }
    if (rc != 0) {
        return rc;
    }
    // 7. Block scratch, Huffman tables, SOF and the DHT segment holding both tables.
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[n]);
    if (!scratch) {
        return WSQ_ERR_SCRATCH_ALLOC;
    }
    std::unique_ptr<long[]> counts(new (std::nothrow) long[2 * (MAX_HUFFCOUNTS_WSQ + 1)]());
    std::unique_ptr<EnHuffTable[]> tables(new (std::nothrow) EnHuffTable[2]);
    if (!counts || !tables) {
        return WSQ_ERR_COUNT_ALLOC;
    }
    long* counts0 = counts.get();
    long* counts1 = counts.get() + MAX_HUFFCOUNTS_WSQ + 1;
    count_block(counts0, blockStart[0], blockSize[0]);
    count_block(counts1, blockStart[1], blockSize[1]);
    count_block(counts1, blockStart[2], blockSize[2]);
    rc = gen_hufftable_wsq(counts0, tables[0]);
    if (rc == 0) {
        rc = gen_hufftable_wsq(counts1, tables[1]);
    }
    if (rc != 0) {
        return rc;
    }
    std::uint8_t shiftScale = 0;
    std::uint8_t rScale = 0;
    std::uint32_t shiftValue = 0;
    std::uint32_t rValue = 0;
    WsqScaleFloat(shift, LIMIT16, shiftScale, shiftValue);
    WsqScaleFloat(scale, LIMIT16, rScale, rValue);
    const std::uint8_t sof[] = {0xFF,
                                0xA2,
                                0,
                                17,
                                0,
                                255,
                                static_cast<std::uint8_t>(height >> 8),
                                static_cast<std::uint8_t>(height & 0xFF),
                                static_cast<std::uint8_t>(width >> 8),
                                static_cast<std::uint8_t>(width & 0xFF),
                                shiftScale,
                                static_cast<std::uint8_t>(shiftValue >> 8),
                                static_cast<std::uint8_t>(shiftValue & 0xFF),
                                rScale,
                                static_cast<std::uint8_t>(rValue >> 8),
                                static_cast<std::uint8_t>(rValue & 0xFF),
                                ENCODER_NUMBER,
                                static_cast<std::uint8_t>(WSQ_SOFTWARE_ID >> 8),
                                static_cast<std::uint8_t>(WSQ_SOFTWARE_ID & 0xFF)};
    rc = wr.PutBytes(sof, sizeof sof);
    if (rc == 0) {
        rc = wr.PutU16(WSQ_DHT);
    }
    if (rc == 0) {
        rc = wr.PutU16(
            static_cast<std::uint16_t>(2 + 2 * 17 + tables[0].nvalues + tables[1].nvalues));
    }
    for (int id = 0; id < 2 && rc == 0; ++id) {
        rc = wr.PutByte(static_cast<std::uint8_t>(id));
        if (rc == 0) {
            rc = wr.PutBytes(tables[id].bits, MAX_HUFFBITS);
        }
        if (rc == 0) {
            rc = wr.PutBytes(tables[id].values, static_cast<std::size_t>(tables[id].nvalues));
        }
    }
    // 8. The three blocks: table 0 for block 1, table 1 for blocks 2 and 3.
    for (int b = 0; b < 3 && rc == 0; ++b) {
        const int id = b == 0 ? 0 : 1;
        const long len = compress_block(scratch.get(), n, blockStart[b], blockSize[b], tables[id]);
        if (len < 0) {
            return static_cast<int>(len);
        }
        rc = wr.PutU16(WSQ_SOB);
        if (rc == 0) {
            rc = wr.PutU16(3);
        }
        if (rc == 0) {
            rc = wr.PutByte(static_cast<std::uint8_t>(id));
        }
        if (rc == 0) {
            rc = wr.PutBytes(scratch.get(), static_cast<std::size_t>(len));
        }
    }
    if (rc == 0) {
        rc = wr.PutU16(WSQ_EOI);
    }
    if (rc != 0) {
        return rc;
    }
    // 9. Balancing byte: the stream's bytes sum to 0 modulo 256.
    unsigned bytesum = 0;
    for (std::size_t i = 0; i < wr.pos; ++i) {
        bytesum += out[i];
    }
    out[balance] = static_cast<unsigned char>((256u - (bytesum & 0xFFu)) & 0xFFu);
    *olen = static_cast<int>(wr.pos);
    return 0;
}

int Wsq::encode(const unsigned char* pixels, unsigned char* out, int width, int height, float rate,
                int guard)
{
    if (rate == 0.0f) {
        return WSQ_ERR_RATE;
    }
    if (pixels == nullptr || out == nullptr) {
        return WSQ_NO_STREAM;
    }
    if (width < WSQ_MIN_SIDE || height < WSQ_MIN_SIDE || width > 65535 || height > 65535 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > WSQ_MAX_PIXELS) {
        return WSQ_ERR_GEOMETRY;
    }
    float bitrate = rate < 0.0f ? -rate : GetBitRate(rate);
    const std::int64_t n = static_cast<std::int64_t>(width) * height;
    if (static_cast<std::uint32_t>(guard) != wsqCheckSum(pixels, n)) {
        return WSQ_ERR_GUARD;
    }
    int rc = 0;
    int raises = 0;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        int len = 0;
        rc = wsq_encode_mem(out, &len, bitrate, pixels, width, height);
        if (rc == 0) {
            return len;
        }
        if ((rc == WSQ_ERR_BIN_WIDTH || rc == WSQ_ERR_ZERO_BIN_WIDTH) && raises < MAX_RAISES) {
            bitrate = bitrate * RATE_RAISE;
            ++raises;
        }
    }
    return rc;
}
