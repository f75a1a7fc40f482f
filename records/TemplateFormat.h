// Byte layout of a finger template: the 21-byte prefix, the record header of layouts 'I'
// (written) and 'N' (read only), the six sections and the seal. Everything is little-endian
// and packed at any byte offset; record offsets count from the record's first byte, which is
// the template's byte 21. Constants and small helpers only: shared by writers and readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Largest finger template, prefix included.
inline constexpr int MAX_TEMPLATE_SIZE = 12288;

// Prefix in front of the record (offsets from the template's first byte).
inline constexpr int TF_PREFIX_SIZE = 21;
inline constexpr int TF_PREFIX_TOTAL_LENGTH = 0;    // u32: record length + 21
inline constexpr int TF_PREFIX_VERSION = 4;         // u8
inline constexpr int TF_PREFIX_MINUTIA_COUNT = 11;  // u16: minutiae in section nova
inline constexpr int TF_PREFIX_RELIABLE_COUNT = 13; // u8: minutiae with quality bit 7 clear
inline constexpr int TF_PREFIX_QUALITY = 14;        // u8: copy of the record's qualit
inline constexpr int TF_PREFIX_VERSION_VALUE = 1;

// Largest record: a template less its prefix.
inline constexpr int TF_MAX_RECORD_SIZE = MAX_TEMPLATE_SIZE - TF_PREFIX_SIZE;

// Header fields common to both layouts (record offsets).
inline constexpr int TF_LENGTH = 0;    // u32: whole record, header and seal included
inline constexpr int TF_VERSOR = 4;    // u8: layout letter, 'I' for every written record
inline constexpr int TF_FINGER = 5;    // u8: finger position 0..10
inline constexpr int TF_IMGPPI = 6;    // u16: horizontal pixels per inch
inline constexpr int TF_TPLPPI = 8;    // u16: vertical pixels per inch
inline constexpr int TF_QUALIT = 10;   // u8: quality 0..100
inline constexpr int TF_DENSIT = 11;   // u8: 'I' ridge density - 32 (mod 256); 'N' the density
inline constexpr int TF_IMMASK = 12;   // u8: pattern-class bits
inline constexpr int TF_KIND = 13;     // u8: impression kind letter 'L', 'F', 'P' or 'T'
inline constexpr int TF_SQUARE = 14;   // u8: 0 in 'I'; meaningful in 'N' only
inline constexpr int TF_PASSXY = 15;   // u8
inline constexpr int TF_PASSAN = 16;   // u8: rotation allowance in degrees
inline constexpr int TF_LINKNO = 17;   // u8: neighbour rings of section nest, 1..17
inline constexpr int TF_MAIN_LEN = 18; // u8
inline constexpr int TF_NOVA_LEN = 19; // u16
inline constexpr int TF_ABAC_LEN = 21; // u16
inline constexpr int TF_RCNT_LEN = 23; // u16, always 0
inline constexpr int TF_AREA_LEN = 25; // u16
inline constexpr int TF_NEST_LEN = 27; // u32

// Layout 'I' from offset 31 on.
inline constexpr int TF_I_SIZE_X = 31;   // u16: level-0 image width in pixels
inline constexpr int TF_I_SIZE_Y = 33;   // u16: level-0 image height in pixels
inline constexpr int TF_I_MAIN_OFF = 35; // u32 section offsets follow, in section order
inline constexpr int TF_I_NOVA_OFF = 39;
inline constexpr int TF_I_ABAC_OFF = 43;
inline constexpr int TF_I_RCNT_OFF = 47;
inline constexpr int TF_I_AREA_OFF = 51;
inline constexpr int TF_I_NEST_OFF = 55;
inline constexpr int TF_I_END_OFF = 59;     // u32: nestOff + nestLen = length - 4
inline constexpr int TF_I_LENGTH_COPY = 63; // u32: length again
inline constexpr int TF_HEADER_SIZE = 67;   // first section byte of layout 'I'

// Layout 'N' from offset 35 on (bytes 31..34 are not read).
inline constexpr int TF_N_SIZE_X = 35; // u16
inline constexpr int TF_N_SIZE_Y = 37; // u16
inline constexpr int TF_N_EXMASK = 39; // u16
inline constexpr int TF_N_MAIN_OFF = 41;
inline constexpr int TF_N_NOVA_OFF = 45;
inline constexpr int TF_N_ABAC_OFF = 49;
inline constexpr int TF_N_RCNT_OFF = 53;
inline constexpr int TF_N_AREA_OFF = 57;
inline constexpr int TF_N_NEST_OFF = 61;
inline constexpr int TF_N_HEADER_END = 65; // end of the last header field of layout 'N'

inline constexpr int TF_LAYOUT_I = 'I'; // 73

// Values the extractor writes unless told otherwise.
inline constexpr int TF_DEFAULT_PPI = 500;
inline constexpr int TF_DEFAULT_PASS = 20; // passxy and passan
inline constexpr int TF_DEFAULT_LINKNO = 17;
inline constexpr int TF_DEFAULT_KIND = 'F';
inline constexpr int TF_DENSITY_BIAS = 32; // 'I' stores the density minus this, mod 256

// Seal: the last four bytes; three zeros, then the byte sum of everything before, mod 251.
inline constexpr int TF_SEAL_SIZE = 4;
inline constexpr int TF_SEAL_MODULUS = 251;

// Sections in record order, with where their length and offset fields stand.
enum TfSectionId { TF_MAIN = 0, TF_NOVA, TF_ABAC, TF_RCNT, TF_AREA, TF_NEST, TF_SECTION_COUNT };

struct TfSectionField {
    int lengthAt;    // record offset of the length field
    int lengthBytes; // its width: 1, 2 or 4
    int offsetAtI;   // record offset of the u32 offset field in layout 'I'
    int offsetAtN;   // the same in layout 'N'
};

inline constexpr TfSectionField TF_SECTION_FIELDS[TF_SECTION_COUNT] = {
    {TF_MAIN_LEN, 1, TF_I_MAIN_OFF, TF_N_MAIN_OFF}, {TF_NOVA_LEN, 2, TF_I_NOVA_OFF, TF_N_NOVA_OFF},
    {TF_ABAC_LEN, 2, TF_I_ABAC_OFF, TF_N_ABAC_OFF}, {TF_RCNT_LEN, 2, TF_I_RCNT_OFF, TF_N_RCNT_OFF},
    {TF_AREA_LEN, 2, TF_I_AREA_OFF, TF_N_AREA_OFF}, {TF_NEST_LEN, 4, TF_I_NEST_OFF, TF_N_NEST_OFF},
};

// Point sections main (singular points) and nova (minutiae): a 32-bit head of eight 4-bit
// field widths, nibble k for field k, then every point's fields in this order, each in its
// width, least significant bit first. The stream fills each byte from bit 0 upwards.
enum TfPointField {
    TF_FIELD_X = 0,
    TF_FIELD_Y,
    TF_FIELD_TYPE,
    TF_FIELD_LEVEL,
    TF_FIELD_QUALITY,
    TF_FIELD_ANGLE, // 2-degree units 0..179
    TF_FIELD_AXIS,
    TF_FIELD_AUX,
    TF_POINT_FIELD_COUNT
};
inline constexpr int TF_POINT_HEAD_BITS = 32;
// Fixed widths as written; x, y and level take the bit length of the list's largest value.
inline constexpr int TF_MAIN_TYPE_BITS = 5;
inline constexpr int TF_MAIN_QUALITY_BITS = 6;
inline constexpr int TF_NOVA_TYPE_BITS = 1;
inline constexpr int TF_NOVA_QUALITY_BITS = 8;
inline constexpr int TF_ANGLE_BITS = 8;
inline constexpr int TF_MAX_SINGULAR_POINTS = 16; // what the extractor ever writes

// Singular point types.
inline constexpr int TF_SP_WHORL = 1;
inline constexpr int TF_SP_LOOP = 2;
inline constexpr int TF_SP_DELTA = 8;
inline constexpr int TF_SP_CENTRE = 16; // reference centre: no ridge counts with it

// Section abac: per pair (i < j) of singular points without a reference centre, either
// 2 bits 00 (no count) or 7 bits: spread code 1..3 in the low 2 bits, ridge count above.
inline constexpr int TF_ABAC_EMPTY_BITS = 2;
inline constexpr int TF_ABAC_COUNT_BITS = 7;
inline constexpr int TF_ABAC_SPREAD_BITS = 2;

// Section area: u16 w and u16 h in cells, then run-length bytes row by row. Runs alternate
// between two states and start with the state of cells outside the finger (mostly paper
// or weak). A run above 255 cells is written 255, 0, rest; a 0 byte is an empty run of the
// other state. The reader turns outside cells into TF_CELL_OUTSIDE, the others into
// TF_CELL_INSIDE.
inline constexpr int TF_AREA_HEAD_SIZE = 4;
inline constexpr int TF_AREA_MAX_RUN = 255;
inline constexpr unsigned char TF_CELL_OUTSIDE = 0x40;
inline constexpr unsigned char TF_CELL_INSIDE = 0x20;
inline constexpr int TF_AREA_CELL_PIXELS = 8; // a cell covers 8 x 8 level-0 pixels

// Section nest: a 24-bit head of six nibbles, then one block per minutia in nova order.
// A block has 2 linkno - 1 slots (minutia type 1) or 2 linkno + 1 (type 0); a slot is 00
// (empty), 3 bits for codes with low bits 1 or 2, 4 bits for codes with low bits 3 plus the
// W3 extra bit(s). Then the base (W4 bits), the index width iw (W5 bits) and iw bits of
// neighbour index - base for each non-empty slot.
inline constexpr int TF_NEST_HEAD_BITS = 24;
inline constexpr int TF_NEST_CODE3_WIDTH = 4;   // nibble 0
inline constexpr int TF_NEST_CODE12_WIDTH = 3;  // nibble 1
inline constexpr int TF_NEST_EMPTY_WIDTH = 2;   // nibble 2
inline constexpr int TF_NEST_EXTRA_WIDTH = 1;   // nibble 3 (W3)
inline constexpr int TF_NEST_EMPTY_BASE = 2550; // base of a block without links, low W4 bits
inline constexpr int TF_MAX_LINKNO = 17;
inline constexpr int TF_MAX_LINK_SLOTS = 2 * TF_MAX_LINKNO + 1;

// Little-endian reads and writes at any byte offset.
inline std::uint16_t TfRead16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t TfRead32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void TfWrite16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void TfWrite32(unsigned char* p, std::uint32_t v)
{
    TfWrite16(p, v);
    TfWrite16(p + 2, v >> 16);
}

// Sum of bytes [0, n) modulo 251: the seal value of a record of length n + 1. Eight bytes
// at a time are added in four 16-bit lanes (bytes 0 and 1 of each lane pair: at most 510 a
// word, so 128 words fit a lane), the lanes are folded into a 32-bit sum reduced once per
// block, and the last bytes are added one by one.
inline unsigned TfSealSum(const unsigned char* p, std::size_t n)
{
    constexpr std::uint64_t low = 0x00FF00FF00FF00FFull;
    std::uint32_t sum = 0;
    while (n >= 8) {
        const std::size_t words = n / 8 < 128 ? n / 8 : 128;
        std::uint64_t lanes = 0;
        for (std::size_t k = 0; k < words; ++k) {
            std::uint64_t w = 0;
            std::memcpy(&w, p + 8 * k, sizeof w); // the lanes' order does not change the sum
            lanes += (w & low) + ((w >> 8) & low);
        }
        const std::uint32_t s = static_cast<std::uint32_t>(
            (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
        sum = (sum + s % TF_SEAL_MODULUS) % TF_SEAL_MODULUS;
        p += 8 * words;
        n -= 8 * words;
    }
    std::uint32_t s = 0;
    for (std::size_t k = 0; k < n; ++k) {
        s += p[k];
    }
    return (sum + s % TF_SEAL_MODULUS) % TF_SEAL_MODULUS;
}

// Smallest n with v < 2^n (0 for 0): the width written for a list whose largest value is v.
inline unsigned TfBitLength(std::uint32_t v)
{
    unsigned n = 0;
    while (n < 32 && (v >> n) != 0) {
        ++n;
    }
    return n;
}
