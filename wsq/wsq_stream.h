// Byte-level helpers of the WSQ stream shared by decoder and encoder: marker values, a bounded
// big-endian reader with the entropy-coded bit reader, a bounded writer, numbers with scale and
// canonical Huffman codes. Readers and writers return 0 or a negative codec code, never throw.
#pragma once

#include "wsq/Wsq.h"

#include <cstddef>
#include <cstdint>

constexpr std::uint16_t WSQ_SOI = 0xFFA0;
constexpr std::uint16_t WSQ_EOI = 0xFFA1;
constexpr std::uint16_t WSQ_SOF = 0xFFA2;
constexpr std::uint16_t WSQ_SOB = 0xFFA3;
constexpr std::uint16_t WSQ_DTT = 0xFFA4;
constexpr std::uint16_t WSQ_DQT = 0xFFA5;
constexpr std::uint16_t WSQ_DHT = 0xFFA6;
constexpr std::uint16_t WSQ_DRT = 0xFFA7;
constexpr std::uint16_t WSQ_COM = 0xFFA8;

constexpr int MAX_HUFFBITS = 16;
constexpr int MAX_HUFFCOUNTS_WSQ = 256; // symbols 0..255 plus the reserved entry 256
constexpr int MAX_HUFFCOEFF = 74;       // coefficients -73..74 are coded directly
constexpr int MAX_HUFFZRUN = 100;       // zero runs 1..100 are coded directly

inline bool WsqIsTableMarker(std::uint16_t m)
{
    return m == WSQ_DTT || m == WSQ_DQT || m == WSQ_DHT || m == WSQ_COM;
}

// Bounded cursor over the stream; `pos <= size` always holds.
struct WsqReader {
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
    unsigned char bitByte; // byte being consumed by the bit reader
    int bitsLeft;          // its unread bits

    int GetByte(std::uint8_t& v)
    {
        if (pos >= size) {
            return WSQ_ERR_END_BYTE;
        }
        v = data[pos++];
        return 0;
    }
    int GetU16(std::uint16_t& v)
    {
        if (2 > size - pos) {
            return WSQ_ERR_END_BYTES;
        }
        v = static_cast<std::uint16_t>((data[pos] << 8) | data[pos + 1]);
        pos += 2;
        return 0;
    }
    int GetU32(std::uint32_t& v)
    {
        if (4 > size - pos) {
            return WSQ_ERR_END_BYTES;
        }
        v = (static_cast<std::uint32_t>(data[pos]) << 24) |
            (static_cast<std::uint32_t>(data[pos + 1]) << 16) |
            (static_cast<std::uint32_t>(data[pos + 2]) << 8) | data[pos + 3];
        pos += 4;
        return 0;
    }
    int Skip(std::size_t n)
    {
        if (n > size - pos) {
            return n == 1 ? WSQ_ERR_END_BYTE : WSQ_ERR_END_BYTES;
        }
        pos += n;
        return 0;
    }
    // Reads nbits (1..16) of entropy-coded data, most significant first, dropping the 0x00
    // after each 0xFF. A marker met when one bit is asked for is stored in `marker` with no
    // bits; inside a longer request it gives WSQ_ERR_MARKER_IN_BITS.
    int GetBits(int nbits, std::uint32_t& value, std::uint16_t& marker);
    // GetBits(1, ...) with the bits of the current byte taken in line.
    int GetBit(std::uint32_t& bit, std::uint16_t& marker)
    {
        if (bitsLeft > 0) {
            --bitsLeft;
            bit = (static_cast<std::uint32_t>(bitByte) >> bitsLeft) & 1u;
            return 0;
        }
        return GetBits(1, bit, marker);
    }
};

// Bounded writer into the caller's output buffer.
struct WsqWriter {
    unsigned char* out;
    std::size_t cap;
    std::size_t pos;

    int PutByte(std::uint8_t v)
    {
        if (pos >= cap) {
            return WSQ_ERR_OUT_BYTE;
        }
        out[pos++] = v;
        return 0;
    }
    int PutU16(std::uint16_t v)
    {
        const int rc = PutByte(static_cast<std::uint8_t>(v >> 8));
        return rc != 0 ? rc : PutByte(static_cast<std::uint8_t>(v & 0xFF));
    }
    int PutU32(std::uint32_t v)
    {
        const int rc = PutU16(static_cast<std::uint16_t>(v >> 16));
        return rc != 0 ? rc : PutU16(static_cast<std::uint16_t>(v & 0xFFFF));
    }
    int PutBytes(const unsigned char* p, std::size_t n);
};

// Number with scale, x = v / 10^s, written for a non-negative x. The single-precision form
// multiplies by 10 in float (frame header); the double form works in double (DTT, DQT).
void WsqScaleFloat(float x, double limit, std::uint8_t& scale, std::uint32_t& value);
void WsqScaleDouble(double x, double limit, std::uint8_t& scale, std::uint32_t& value);

// Canonical code table of a Huffman table given by its 16 code-length counts: code and size
// of each listed symbol (in list order), and per length the largest code (-1 when none), the
// smallest code and the list index of its first symbol. Returns the number of symbols.
struct WsqHuffCodes {
    int count;
    std::uint32_t code[MAX_HUFFCOUNTS_WSQ + 1];
    std::uint8_t size[MAX_HUFFCOUNTS_WSQ + 1];
    std::int32_t maxcode[MAX_HUFFBITS + 1];
    std::int32_t mincode[MAX_HUFFBITS + 1];
    std::int32_t valptr[MAX_HUFFBITS + 1];
};
void WsqBuildCodes(const std::uint8_t bits[MAX_HUFFBITS], WsqHuffCodes& codes);
