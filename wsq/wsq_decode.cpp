// WSQ decoder: reads the markers, tables and frame header of a stream held in memory, decodes
// the entropy-coded blocks into 16-bit coefficients, dequantises them into float samples,
// reconstructs the image with the inverse wavelet transform and converts it to 8-bit pixels.
// Tables, dequantisation and reconstruction work in single precision, as standard decoders
// compute, so the pixels are bit-identical to theirs.
// Returns the stream's software implementation number, WSQ_SIZE_QUERY or a negative code.

#include "wsq/wsq_stream.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int MAX_DHT_TABLES = 8;
constexpr int MAX_FILTER = 255;

struct table_dtt {
    float lofilt[MAX_FILTER];
    float hifilt[MAX_FILTER];
    int losz;
    int hisz;
    bool lodef;
    bool hidef;
};

struct table_dqt {
    float bin_center;
    float q_bin[Q_TREELEN];
    float z_bin[Q_TREELEN];
    bool dqt_def;
};

struct table_dht {
    bool tabdef;
    std::uint8_t huffbits[MAX_HUFFBITS];
    std::uint8_t huffvalues[MAX_HUFFCOUNTS_WSQ + 1];
};

// Reads a number with scale (scale byte, then a 16- or 32-bit value): the value converted to
// float, then divided by 10 scale times in single precision.
int DcScaled(WsqReader& in, bool wide, float& out)
{
    std::uint8_t scale = 0;
    int rc = in.GetByte(scale);
    if (rc != 0) {
        return rc;
    }
    std::uint32_t v = 0;
    if (wide) {
        rc = in.GetU32(v);
    } else {
        std::uint16_t v16 = 0;
        rc = in.GetU16(v16);
        v = v16;
    }
    if (rc != 0) {
        return rc;
    }
    out = static_cast<float>(v);
    for (int s = 0; s < scale; ++s) {
        out = out / 10.0f;
    }
    return 0;
}

// Codes of up to DC_FAST_BITS bits found from that many leading bits at once: per prefix, the
// code length (0: the code is longer) and the symbol, or a code that the table does not list.
constexpr int DC_FAST_BITS = 8;

struct DcFastCodes {
    std::uint8_t len[1 << DC_FAST_BITS];
    std::uint8_t symbol[1 << DC_FAST_BITS];
    bool bad[1 << DC_FAST_BITS];
};

// The same search as the bit-by-bit decoder (lengths 1, 2, ... until the code is at most the
// largest code of its length), made once for every prefix; it depends on the prefix alone.
void DcBuildFast(const WsqHuffCodes& codes, const std::uint8_t* values, DcFastCodes& fast)
{
    for (int prefix = 0; prefix < (1 << DC_FAST_BITS); ++prefix) {
        fast.len[prefix] = 0;
        fast.symbol[prefix] = 0;
        fast.bad[prefix] = false;
        for (int len = 1; len <= DC_FAST_BITS; ++len) {
            const std::int32_t code = prefix >> (DC_FAST_BITS - len);
            if (code > codes.maxcode[len]) {
                continue;
            }
            const std::int64_t index =
                codes.valptr[len] + static_cast<std::int64_t>(code) - codes.mincode[len];
            fast.len[prefix] = static_cast<std::uint8_t>(len);
            if (code < codes.mincode[len] || index >= codes.count) {
                fast.bad[prefix] = true;
            } else {
                fast.symbol[prefix] = values[index];
            }
            break;
        }
    }
}

// The next bits of the entropy-coded data when the unread bits of the current byte and the
// two bytes after it can be taken without meeting a 0xFF (a marker or a stuffed byte): then
// `bits` holds them in its low `avail` (16 to 23) bits. False otherwise.
bool DcPeek(const WsqReader& in, std::uint32_t& bits, int& avail)
{
    if (2 > in.size - in.pos) {
        return false;
    }
    const std::uint32_t b0 = in.data[in.pos];
    const std::uint32_t b1 = in.data[in.pos + 1];
    if (b0 == 0xFF || b1 == 0xFF) {
        return false;
    }
    const std::uint32_t rest = static_cast<std::uint32_t>(in.bitByte) & ((1u << in.bitsLeft) - 1u);
    bits = (rest << 16) | (b0 << 8) | b1;
    avail = in.bitsLeft + 16;
    return true;
}

// Takes n (at most avail) peeked bits, leaving the reader as reading them one at a time would:
// a byte is read only when a bit of it is needed.
void DcTake(WsqReader& in, int n)
{
    if (n <= in.bitsLeft) {
        in.bitsLeft -= n;
        return;
    }
    const int fromBytes = n - in.bitsLeft;
    const int bytes = (fromBytes + 7) / 8;
    in.pos += static_cast<std::size_t>(bytes);
    in.bitByte = in.data[in.pos - 1];
    in.bitsLeft = 8 * bytes - fromBytes;
}

// WsqReader::GetBits, from peeked bits where it can.
int DcGetBits(WsqReader& in, int nbits, std::uint32_t& value, std::uint16_t& marker)
{
    std::uint32_t bits = 0;
    int avail = 0;
    if (DcPeek(in, bits, avail)) {
        value = (bits >> (avail - nbits)) & ((1u << nbits) - 1u);
        DcTake(in, nbits);
        return 0;
    }
    return in.GetBits(nbits, value, marker);
}

} // namespace

// Per-call decoder data: stream cursor and the tables the stream defines.
struct WsqDecoder {
    Wsq& wsq;
    WsqReader in;
    table_dtt dtt;
    table_dqt dqt;
    table_dht dht[MAX_DHT_TABLES];

    int GetMarker(std::uint16_t& m) { return in.GetU16(m); }
    int getc_transform_table();
    int getc_quantization_table();
    int getc_huffman_table();
    int getc_comment();
    int getc_table_wsq(std::uint16_t marker);
    int getc_frame_header_wsq();
    int DcSlowSymbol(const WsqHuffCodes& codes, const std::uint8_t* values, std::uint16_t& marker,
                     int& symbol);
    int huffman_decode_data_mem(std::int16_t* coeffs, std::size_t ncoeffs);
    int unquantize(float* samples, const std::int16_t* coeffs, std::size_t ncoeffs);
    int wsq_reconstruct(float* samples);
};

// Synthesis filters from a DTT: the first group (centre and upper half of the analysis
// low-pass) builds the high-pass filter, the second the low-pass filter.
int WsqDecoder::getc_transform_table()
{
    std::uint16_t len = 0;
    std::uint8_t hisz = 0;
    std::uint8_t losz = 0;
    int rc = in.GetU16(len);
    if (rc == 0) {
        rc = in.GetByte(hisz);
    }
    if (rc == 0) {
        rc = in.GetByte(losz);
    }
    if (rc != 0) {
        return rc;
    }
    if (hisz == 0 || losz == 0 || hisz % 2 == 0 || losz % 2 == 0) {
        return WSQ_ERR_FILTER_LENGTH;
    }
    float group[2][(MAX_FILTER + 1) / 2];
    const int counts[2] = {(hisz + 1) / 2, (losz + 1) / 2};
    for (int g = 0; g < 2; ++g) {
        for (int k = 0; k < counts[g]; ++k) {
            std::uint8_t sign = 0;
            rc = in.GetByte(sign);
            if (rc == 0) {
                rc = DcScaled(in, true, group[g][k]);
            }
            if (rc != 0) {
                return rc;
            }
            if (sign != 0) {
                group[g][k] = -group[g][k];
            }
        }
    }
    // Odd lengths: tap a + k = (-1)^k value_k, mirrored about the centre a.
    const int ah = counts[0] - 1;
    for (int k = 0; k < counts[0]; ++k) {
        const float v = (k % 2 == 0) ? group[0][k] : -group[0][k];
        dtt.hifilt[ah + k] = v;
        dtt.hifilt[ah - k] = v;
    }
    const int al = counts[1] - 1;
    for (int k = 0; k < counts[1]; ++k) {
        const float v = (k % 2 == 0) ? group[1][k] : -group[1][k];
        dtt.lofilt[al + k] = v;
        dtt.lofilt[al - k] = v;
    }
    dtt.hisz = hisz;
    dtt.losz = losz;
    dtt.hidef = true;
    dtt.lodef = true;
    return 0;
}

int WsqDecoder::getc_quantization_table()
{
    std::uint16_t len = 0;
    int rc = in.GetU16(len);
    if (rc == 0) {
        rc = DcScaled(in, false, dqt.bin_center);
    }
    for (int k = 0; k < Q_TREELEN && rc == 0; ++k) {
        rc = DcScaled(in, false, dqt.q_bin[k]);
        if (rc == 0) {
            rc = DcScaled(in, false, dqt.z_bin[k]);
        }
    }
    if (rc != 0) {
        return rc;
    }
    dqt.dqt_def = true;
    return 0;
}

// One DHT segment: the first table replaces any table of its id; every further table must
// have an id not yet defined.
int WsqDecoder::getc_huffman_table()
{
    std::uint16_t len = 0;
    int rc = in.GetU16(len);
    if (rc != 0) {
        return rc;
    }
    int left = static_cast<int>(len) - 2;
    bool first = true;
    do {
        if (left <= 0) {
            return WSQ_ERR_HUFF_TABLE;
        }
        std::uint8_t id = 0;
        rc = in.GetByte(id);
        if (rc != 0) {
            return rc;
        }
        if (id >= MAX_DHT_TABLES) {
            return WSQ_ERR_HUFF_ID;
        }
        if (!first && dht[id].tabdef) {
            return WSQ_ERR_HUFF_TABLE;
        }
        table_dht& t = dht[id];
        int total = 0;
        for (int i = 0; i < MAX_HUFFBITS; ++i) {
            rc = in.GetByte(t.huffbits[i]);
            if (rc != 0) {
                return rc;
            }
            total += t.huffbits[i];
        }
        if (total > MAX_HUFFCOUNTS_WSQ + 1) {
            return WSQ_ERR_HUFF_COUNTS;
        }
        for (int i = 0; i < total; ++i) {
            rc = in.GetByte(t.huffvalues[i]);
            if (rc != 0) {
                return rc;
            }
        }
        t.tabdef = true;
        left -= 17 + total;
        first = false;
    } while (left != 0);
    return 0;
}

int WsqDecoder::getc_comment()
{
    std::uint16_t len = 0;
    const int rc = in.GetU16(len);
    if (rc != 0) {
        return rc;
    }
    if (len < 2) {
        return WSQ_ERR_SEGMENT_LENGTH;
    }
    return in.Skip(static_cast<std::size_t>(len) - 2);
}

int WsqDecoder::getc_table_wsq(std::uint16_t marker)
{
    switch (marker) {
    case WSQ_DTT:
        return getc_transform_table();
    case WSQ_DQT:
        return getc_quantization_table();
    case WSQ_DHT:
        return getc_huffman_table();
    case WSQ_COM:
        return getc_comment();
    default:
        return WSQ_ERR_BEFORE_BLOCK;
    }
}

int WsqDecoder::getc_frame_header_wsq()
{
    header_frm& f = wsq.m_frm;
    std::uint16_t len = 0;
    int rc = in.GetU16(len);
    if (rc == 0) {
        rc = in.GetByte(f.black);
    }
    if (rc == 0) {
        rc = in.GetByte(f.white);
    }
    if (rc == 0) {
        rc = in.GetU16(f.height);
    }
    if (rc == 0) {
        rc = in.GetU16(f.width);
    }
    float* scaled[2] = {&f.m_shift, &f.r_scale};
    for (float* target : scaled) {
        std::uint8_t scale = 0;
        std::uint16_t v = 0;
        if (rc == 0) {
            rc = in.GetByte(scale);
        }
        if (rc == 0) {
            rc = in.GetU16(v);
        }
        float x = static_cast<float>(v);
        for (int s = 0; s < scale; ++s) {
            x = x / 10.0f;
        }
        *target = x;
    }
    if (rc == 0) {
        rc = in.GetByte(f.wsq_encoder);
    }
    if (rc == 0) {
        rc = in.GetU16(f.software);
    }
    return rc;
}

// One symbol read bit by bit: a marker met at a byte boundary is stored in `marker` and ends
// the search with no symbol.
int WsqDecoder::DcSlowSymbol(const WsqHuffCodes& codes, const std::uint8_t* values,
                             std::uint16_t& marker, int& symbol)
{
    std::uint32_t code = 0;
    int rc = in.GetBit(code, marker);
    int len = 1;
    while (rc == 0 && marker == 0 && static_cast<std::int32_t>(code) > codes.maxcode[len]) {
        if (len == MAX_HUFFBITS) {
            return WSQ_ERR_BAD_CODE;
        }
        std::uint32_t bit = 0;
        rc = in.GetBit(bit, marker);
        code = (code << 1) | bit;
        ++len;
    }
    if (rc != 0 || marker != 0) {
        return rc;
    }
    const std::int64_t index =
        codes.valptr[len] + static_cast<std::int64_t>(code) - codes.mincode[len];
    if (static_cast<std::int32_t>(code) < codes.mincode[len] || index >= codes.count) {
        return WSQ_ERR_BAD_CODE;
    }
    symbol = values[index];
    return 0;
}

int WsqDecoder::huffman_decode_data_mem(std::int16_t* coeffs, std::size_t ncoeffs)
{
    std::uint16_t marker = 0;
    int rc = GetMarker(marker);
    if (rc != 0) {
        return rc;
    }
    if (!WsqIsTableMarker(marker) && marker != WSQ_SOB) {
        return WSQ_ERR_BEFORE_BLOCK;
    }
    int blocks = 0;
    std::int64_t count = 0;
    std::int64_t expected = static_cast<std::int64_t>(ncoeffs);
    bool deducted = false;
    WsqHuffCodes codes{};
    DcFastCodes fast{};
    const std::uint8_t* values = nullptr;
    while (marker != WSQ_EOI) {
        if (marker != 0) {
            // 1. Tables up to the next block header, the expected count, the block's codes.
            ++blocks;
            while (marker != WSQ_SOB) {
                rc = getc_table_wsq(marker);
                if (rc == 0) {
                    rc = GetMarker(marker);
                }
                if (rc != 0) {
                    return rc;
                }
                if (!WsqIsTableMarker(marker) && marker != WSQ_SOB) {
                    return WSQ_ERR_BEFORE_BLOCK;
                }
            }
            if (dqt.dqt_def && !deducted) {
                for (int k = 0; k < Q_TREELEN; ++k) {
                    if (dqt.q_bin[k] == 0.0f) {
                        const quant_tree& q = wsq.m_qtree[k];
                        expected -= static_cast<std::int64_t>(q.lenx) * q.leny;
                    }
                }
                deducted = true;
            }
            std::uint16_t len = 0;
            std::uint8_t id = 0;
            rc = in.GetU16(len);
            if (rc == 0) {
                rc = in.GetByte(id);
            }
            if (rc != 0) {
                return rc;
            }
            if (id >= MAX_DHT_TABLES || !dht[id].tabdef) {
                return WSQ_ERR_NO_HUFF_TABLE;
            }
            WsqBuildCodes(dht[id].huffbits, codes);
            values = dht[id].huffvalues;
            DcBuildFast(codes, values, fast);
            in.bitsLeft = 0;
            marker = 0;
        }
        // 2. One symbol; a marker ends the block and becomes pending. Where the next bits can
        //    be peeked (no 0xFF among them) the code is found from them, else bit by bit.
        std::uint32_t peek = 0;
        int avail = 0;
        int symbol = 0;
        if (DcPeek(in, peek, avail)) {
            const std::uint32_t prefix = peek >> (avail - DC_FAST_BITS);
            int len = fast.len[prefix];
            if (len != 0) {
                if (fast.bad[prefix]) {
                    return WSQ_ERR_BAD_CODE;
                }
                symbol = fast.symbol[prefix];
            } else {
                len = DC_FAST_BITS + 1;
                std::int32_t code = static_cast<std::int32_t>(peek >> (avail - len));
                while (code > codes.maxcode[len]) {
                    if (len == MAX_HUFFBITS) {
                        return WSQ_ERR_BAD_CODE;
                    }
                    ++len;
                    code = static_cast<std::int32_t>(peek >> (avail - len));
                }
                const std::int64_t index =
                    codes.valptr[len] + static_cast<std::int64_t>(code) - codes.mincode[len];
                if (code < codes.mincode[len] || index >= codes.count) {
                    return WSQ_ERR_BAD_CODE;
                }
                symbol = values[index];
            }
            DcTake(in, len);
        } else {
            rc = DcSlowSymbol(codes, values, marker, symbol);
            if (rc != 0) {
                return rc;
            }
            if (marker != 0) {
                if (marker != WSQ_EOI && marker != WSQ_SOB && !WsqIsTableMarker(marker)) {
                    return WSQ_ERR_BETWEEN_BLOCKS;
                }
                while (marker == WSQ_COM && blocks == 3) {
                    rc = getc_comment();
                    if (rc == 0) {
                        rc = GetMarker(marker);
                    }
                    if (rc != 0) {
                        return rc;
                    }
                    if ((marker >> 8) != 0xFF) {
                        return WSQ_ERR_AFTER_COMMENT;
                    }
                    if (marker != WSQ_EOI && marker != WSQ_SOB && !WsqIsTableMarker(marker)) {
                        return WSQ_ERR_BETWEEN_BLOCKS;
                    }
                }
                continue;
            }
        }

        // 3. The symbol's coefficients.
        if (count > expected) {
            return WSQ_ERR_COUNT_OVER;
        }
        std::int32_t coefficient = 0;
        std::uint32_t extra = 0;
        if (symbol >= 1 && symbol <= MAX_HUFFZRUN) {
            count += symbol; // the buffer starts zeroed
            if (count > expected) {
                return WSQ_ERR_RUN_OVER;
            }
            continue;
        }
        if (symbol == 105 || symbol == 106) {
            rc = DcGetBits(in, symbol == 105 ? 8 : 16, extra, marker);
            if (rc != 0) {
                return rc;
            }
            count += extra;
            if (count > expected) {
                return symbol == 105 ? WSQ_ERR_RUN8_OVER : WSQ_ERR_RUN16_OVER;
            }
            continue;
        }
        if (symbol >= 101 && symbol <= 104) {
            rc = DcGetBits(in, symbol <= 102 ? 8 : 16, extra, marker);
            if (rc != 0) {
                return rc;
            }
            coefficient = (symbol % 2 == 1) ? static_cast<std::int32_t>(extra)
                                            : -static_cast<std::int32_t>(extra);
        } else if (symbol >= 107 && symbol <= 254) {
            coefficient = symbol - 180;
        } else {
            return WSQ_ERR_BAD_SYMBOL;
        }
        // A stray coefficient beyond the buffer (possible only when nothing was deducted) is
        // dropped; the next symbol then fails with WSQ_ERR_COUNT_OVER.
        if (count < static_cast<std::int64_t>(ncoeffs)) {
            coeffs[count] = static_cast<std::int16_t>(coefficient);
        }
        ++count;
    }
    return 0;
}

// c > 0: (c - C) Q + Z / 2; c < 0: (c + C) Q - Z / 2, each operation rounded to float in this
// order.
int WsqDecoder::unquantize(float* samples, const std::int16_t* coeffs, std::size_t ncoeffs)
{
    if (!dqt.dqt_def) {
        return WSQ_ERR_NO_DQT;
    }
    const float c = dqt.bin_center;
    const int width = wsq.m_frm.width;
    std::size_t next = 0;
    for (int k = 0; k < NUM_SUBBANDS; ++k) {
        const float q = dqt.q_bin[k];
        if (q == 0.0f) {
            continue;
        }
        const float half = dqt.z_bin[k] / 2.0f;
#if defined(__SSE2__)
        const __m128 cv = _mm_set1_ps(c);
        const __m128 qv = _mm_set1_ps(q);
        const __m128 halfv = _mm_set1_ps(half);
        // Both signed forms in every lane, each lane keeping the one its coefficient's sign
        // selects (zero for none).
        auto dequant = [&](__m128i v) {
            const __m128 f = _mm_cvtepi32_ps(v);
            const __m128 pos = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(f, cv), qv), halfv);
            const __m128 neg = _mm_sub_ps(_mm_mul_ps(_mm_add_ps(f, cv), qv), halfv);
            const __m128i zero = _mm_setzero_si128();
            const __m128 gt = _mm_castsi128_ps(_mm_cmpgt_epi32(v, zero));
            const __m128 lt = _mm_castsi128_ps(_mm_cmplt_epi32(v, zero));
            return _mm_or_ps(_mm_and_ps(gt, pos), _mm_and_ps(lt, neg));
        };
#endif
        const quant_tree& band = wsq.m_qtree[k];
        for (int y = 0; y < band.leny; ++y) {
            float* row = samples + static_cast<std::size_t>(band.y + y) * width +
                         static_cast<std::size_t>(band.x);
            const std::size_t left = ncoeffs - next;
            const int cols =
                static_cast<std::size_t>(band.lenx) < left ? band.lenx : static_cast<int>(left);
            int x = 0;
#if defined(__SSE2__)
            // Eight at a time.
            for (; x + 8 <= cols; x += 8) {
                const __m128i v16 =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(coeffs + next));
                next += 8;
                _mm_storeu_ps(row + x, dequant(_mm_srai_epi32(_mm_unpacklo_epi16(v16, v16), 16)));
                _mm_storeu_ps(row + x + 4,
                              dequant(_mm_srai_epi32(_mm_unpackhi_epi16(v16, v16), 16)));
            }
#endif
            for (; x < cols; ++x) {
                const int v = coeffs[next++];
                if (v > 0) {
                    row[x] = (static_cast<float>(v) - c) * q + half;
                } else if (v < 0) {
                    row[x] = (static_cast<float>(v) + c) * q - half;
                } else {
                    row[x] = 0.0f;
                }
            }
        }
    }
    return 0;
}

int WsqDecoder::wsq_reconstruct(float* samples)
{
    if (!dtt.lodef) {
        return WSQ_ERR_NO_LOWPASS;
    }
    if (!dtt.hidef) {
        return WSQ_ERR_NO_HIGHPASS;
    }
    const int width = wsq.m_frm.width;
    const int height = wsq.m_frm.height;
    const std::size_t n = static_cast<std::size_t>(width) * height;
    const int longest = width > height ? width : height;
    float* const scratch = wsq.m_scratch.Reserve(n);
    float* const work = scratch != nullptr ? wsq.m_lineWork.Reserve(WsqLineWork(longest)) : nullptr;
    if (work == nullptr) {
        return WSQ_ERR_RECON_ALLOC;
    }
    for (int node = W_TREELEN - 1; node >= 0; --node) {
        const wavlet_tree& w = wsq.m_wtree[node];
        const std::size_t offset = static_cast<std::size_t>(w.y) * width + w.x;
        Wsq::join_lets(scratch + offset, samples + offset, w.lenx, w.leny, 1, width, dtt.hifilt,
                       dtt.hisz, dtt.lofilt, dtt.losz, w.inv_cl, work);
        Wsq::join_lets(samples + offset, scratch + offset, w.leny, w.lenx, width, 1, dtt.hifilt,
                       dtt.hisz, dtt.lofilt, dtt.losz, w.inv_rw, work);
    }
    return 0;
}

namespace {

int DcToBytes(unsigned char* pixels, const float* samples, std::size_t n, float r_scale,
              float m_shift)
{
    for (std::size_t i = 0; i < n; ++i) {
        float p = samples[i] * r_scale;
        p = p + m_shift;
        p = p + 0.5f;
        if (!std::isfinite(samples[i]) || std::isnan(p)) {
            return WSQ_ERR_NOT_FINITE; // no byte stands for an overflowed reconstruction
        }
        if (p < 0.0f) {
            pixels[i] = 0;
        } else if (p > 255.0f) {
            pixels[i] = 255;
        } else {
            pixels[i] = static_cast<unsigned char>(p);
        }
    }
    return 0;
}

} // namespace

#if defined(__SSE2__)
// Sixteen samples at a time, each lane the scalar sequence of its own pixel; a run with a
// sample that is not finite or a NaN result is left to the scalar loop, which writes the
// pixels before that sample and stops there. The clamped values lie in 0..255, so the
// saturating packs keep them.
int Wsq::conv_img_2_uchar(unsigned char* pixels, const float* samples, std::size_t n, float r_scale,
                          float m_shift)
{
    const __m128 scale = _mm_set1_ps(r_scale);
    const __m128 shift = _mm_set1_ps(m_shift);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(255.0f);
    __m128 bad = zero;
    auto group = [&](const float* at) {
        const __m128 s = _mm_loadu_ps(at);
        __m128 p = _mm_mul_ps(s, scale);
        p = _mm_add_ps(p, shift);
        p = _mm_add_ps(p, half);
        // s - s is 0 for every finite s and NaN otherwise; p is unordered only when NaN.
        bad =
            _mm_or_ps(bad, _mm_or_ps(_mm_cmpneq_ps(_mm_sub_ps(s, s), zero), _mm_cmpunord_ps(p, p)));
        const __m128 above = _mm_cmpgt_ps(p, top);
        p = _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(p, zero), above), p);
        return _mm_cvttps_epi32(_mm_or_ps(p, _mm_and_ps(above, top)));
    };
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v0 = group(samples + i);
        const __m128i v1 = group(samples + i + 4);
        const __m128i v2 = group(samples + i + 8);
        const __m128i v3 = group(samples + i + 12);
        if (_mm_movemask_ps(bad) != 0) {
            break;
        }
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), bytes);
    }
    return DcToBytes(pixels + i, samples + i, n - i, r_scale, m_shift);
}
#else
int Wsq::conv_img_2_uchar(unsigned char* pixels, const float* samples, std::size_t n, float r_scale,
                          float m_shift)
{
    return DcToBytes(pixels, samples, n, r_scale, m_shift);
}
#endif

int Wsq::wsq_decode_mem(unsigned char* pixels, const unsigned char* data, std::size_t size,
                        int* width, int* height)
{
    // 1. Markers and tables up to the frame header (the decoder data starts cleared).
    std::unique_ptr<WsqDecoder> dec(new (std::nothrow) WsqDecoder{*this, {}, {}, {}, {}});
    if (!dec) {
        return WSQ_ERR_COEFF_ALLOC;
    }
    dec->in = WsqReader{data, size, 0, 0, 0};
    std::uint16_t marker = 0;
    int rc = dec->GetMarker(marker);
    if (rc != 0) {
        return rc;
    }
    if (marker != WSQ_SOI) {
        return WSQ_ERR_NO_SOI;
    }
    for (;;) {
        rc = dec->GetMarker(marker);
        if (rc != 0) {
            return rc;
        }
        if (marker == WSQ_SOF) {
            break;
        }
        if (!WsqIsTableMarker(marker)) {
            return WSQ_ERR_BEFORE_SOF;
        }
        rc = dec->getc_table_wsq(marker);
        if (rc != 0) {
            return rc;
        }
    }
    rc = dec->getc_frame_header_wsq();
    if (rc != 0) {
        return rc;
    }
    const int w = m_frm.width;
    const int h = m_frm.height;
    const std::uint64_t npix = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    if (w < WSQ_MIN_SIDE || h < WSQ_MIN_SIDE || npix > WSQ_MAX_PIXELS) {
        return WSQ_ERR_GEOMETRY;
    }
    if (width != nullptr) {
        *width = w;
    }
    if (height != nullptr) {
        *height = h;
    }
    // 2. Size query.
    if (pixels == nullptr) {
        return WSQ_SIZE_QUERY;
    }
    // 3. Coefficients, samples, reconstruction, pixels.
    build_wsq_trees(w, h);
    const std::size_t n = static_cast<std::size_t>(npix);
    // Both the coefficients and the samples start zeroed: zero runs and the subbands without
    // coefficients are not written.
    std::int16_t* const coeffs = m_coeffs.Reserve(n);
    if (coeffs == nullptr) {
        return WSQ_ERR_COEFF_ALLOC;
    }
    std::memset(coeffs, 0, n * sizeof(std::int16_t));
    rc = dec->huffman_decode_data_mem(coeffs, n);
    if (rc != 0) {
        return rc;
    }
    float* const samples = m_samples.Reserve(n);
    if (samples == nullptr) {
        return WSQ_ERR_AFTER_COMMENT;
    }
    std::memset(samples, 0, n * sizeof(float));
    rc = dec->unquantize(samples, coeffs, n);
    if (rc != 0) {
        return rc;
    }
    rc = dec->wsq_reconstruct(samples);
    if (rc != 0) {
        return rc;
    }
    rc = conv_img_2_uchar(pixels, samples, n, m_frm.r_scale, m_frm.m_shift);
    if (rc != 0) {
        return rc;
    }
    return m_frm.software;
}

int Wsq::decode(unsigned char* pixels, const unsigned char* data, int size, int* width, int* height,
                int guard)
{
    if (data == nullptr) {
        return WSQ_NO_STREAM;
    }
    if (static_cast<std::uint32_t>(guard) != wsqCheckSum(data, size)) {
        return WSQ_ERR_GUARD;
    }
    const std::size_t n = size > 0 ? static_cast<std::size_t>(size) : 0;
    return wsq_decode_mem(pixels, data, n, width, height);
}
