// Stream primitives of the WSQ codec: the entropy-coded bit reader, the bounded block copy,
// numbers with scale and canonical Huffman code assignment.

#include "wsq/wsq_stream.h"

#include <cstring>

int WsqReader::GetBits(int nbits, std::uint32_t& value, std::uint16_t& marker)
{
    const int asked = nbits;
    value = 0;
    while (nbits > 0) {
        if (bitsLeft == 0) {
            std::uint8_t b = 0;
            int rc = GetByte(b);
            if (rc != 0) {
                return rc;
            }
            if (b == 0xFF) {
                std::uint8_t next = 0;
                rc = GetByte(next);
                if (rc != 0) {
                    return rc;
                }
                if (next != 0x00) {
                    if (asked != 1) {
                        return WSQ_ERR_MARKER_IN_BITS;
                    }
                    marker = static_cast<std::uint16_t>(0xFF00 | next);
                    return 0;
                }
            }
            bitByte = b;
            bitsLeft = 8;
        }
        const int take = nbits < bitsLeft ? nbits : bitsLeft;
        const std::uint32_t bits =
            (static_cast<std::uint32_t>(bitByte) >> (bitsLeft - take)) & ((1u << take) - 1u);
        value = (value << take) | bits;
        bitsLeft -= take;
        nbits -= take;
    }
    return 0;
}

int WsqWriter::PutBytes(const unsigned char* p, std::size_t n)
{
    if (n > cap - pos) {
        return WSQ_ERR_OUT_BLOCK;
    }
    std::memcpy(out + pos, p, n);
    pos += n;
    return 0;
}

namespace {

// Rounds a non-negative value half away from zero into an unsigned field of at most `limit`.
std::uint32_t StRound(double x, double limit)
{
    const double r = x + 0.5;
    if (!(r >= 0.0)) {
        return 0;
    }
    return r >= limit ? static_cast<std::uint32_t>(limit) : static_cast<std::uint32_t>(r);
}

} // namespace

void WsqScaleFloat(float x, double limit, std::uint8_t& scale, std::uint32_t& value)
{
    scale = 0;
    value = 0;
    if (!(x > 0.0f)) {
        return;
    }
    const float flimit = static_cast<float>(limit);
    int count = 0;
    while (x < flimit && count < 255) {
        x = x * 10.0f;
        ++count;
    }
    if (count == 0) { // already at the limit: store it unscaled, clamped
        value = StRound(x, limit);
        return;
    }
    scale = static_cast<std::uint8_t>(count - 1);
    value = StRound(static_cast<double>(x) / 10.0, limit);
}

void WsqScaleDouble(double x, double limit, std::uint8_t& scale, std::uint32_t& value)
{
    scale = 0;
    value = 0;
    if (!(x > 0.0)) {
        return;
    }
    int count = 0;
    while (x < limit && count < 255) {
        x = x * 10.0;
        ++count;
    }
    if (count == 0) {
        value = StRound(x, limit);
        return;
    }
    scale = static_cast<std::uint8_t>(count - 1);
    value = StRound(x / 10.0, limit);
}

void WsqBuildCodes(const std::uint8_t bits[MAX_HUFFBITS], WsqHuffCodes& codes)
{
    // 1. Code sizes in list order, then canonical codes: each length continues from the last
    //    code of the previous length plus one, shifted left once per length step.
    int k = 0;
    for (int len = 1; len <= MAX_HUFFBITS; ++len) {
        for (int i = 0; i < bits[len - 1] && k <= MAX_HUFFCOUNTS_WSQ; ++i) {
            codes.size[k++] = static_cast<std::uint8_t>(len);
        }
    }
    codes.count = k;
    std::uint32_t code = 0;
    int len = k > 0 ? codes.size[0] : 0;
    for (int i = 0; i < k; ++i) {
        while (codes.size[i] != len) {
            code <<= 1;
            ++len;
        }
        codes.code[i] = code++;
    }
    // 2. Per length: first list index, smallest and largest code.
    int p = 0;
    for (int l = 1; l <= MAX_HUFFBITS; ++l) {
        if (bits[l - 1] == 0 || p >= k) {
            codes.maxcode[l] = -1;
            codes.mincode[l] = 0;
            codes.valptr[l] = 0;
            continue;
        }
        codes.valptr[l] = p;
        codes.mincode[l] = static_cast<std::int32_t>(codes.code[p]);
        p += bits[l - 1];
        if (p > k) {
            p = k;
        }
        codes.maxcode[l] = static_cast<std::int32_t>(codes.code[p - 1]);
    }
    codes.maxcode[0] = -1;
    codes.mincode[0] = 0;
    codes.valptr[0] = 0;
}
