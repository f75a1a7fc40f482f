// 256-bit nest signatures of the matcher: one bit per (same-direction half, quadrant,
// ridge-count class, distance level) of each neighbour link of a minutia. The similarity of
// two nests' signatures is the number of bits they share (at most MAX_NEST_ACCEL_SIM).
#pragma once

#include "matching/Groups.h"
#include "records/Unwrap.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace accelMatch {

// Two halves of 16 bytes (same direction first); byte 4 q + r of a half for quadrant q and
// ridge-count class r, bit L for distance level L.
struct NestAccel {
    std::uint8_t bits[32];
};
static_assert(sizeof(NestAccel) == 32, "a nest signature is 256 bits");

constexpr unsigned MAX_NEST_ACCEL_SIM = 128;
constexpr int NEST_ACCEL_HISTOGRAM = MAX_NEST_ACCEL_SIM + 1;
constexpr int NUM_DIST_LEVELS = 8;

struct DistBorder {
    unsigned border;    // largest length of the level
    unsigned tolerance; // reach of the extra levels
};
inline constexpr DistBorder g_distBorders[NUM_DIST_LEVELS] = {
    {20, 5}, {42, 5}, {66, 6}, {92, 6}, {121, 7}, {153, 8}, {188, 8}, {227, 9},
};

constexpr unsigned MAX_LEVEL_LENGTH = g_distBorders[NUM_DIST_LEVELS - 1].border;
constexpr std::uint8_t NEST_ACCEL_NO_BYTE = 0xFF;

// What a link adds to a signature, by what the link itself holds: the signature byte of
// each (minutia type, slot, code), NEST_ACCEL_NO_BYTE where the slot lies beyond the type's
// table or the ridge count is 8 or more; and the level bits of each length up to the last
// border, without and with the neighbouring levels. Made once.
struct NestAccelTables {
    std::uint8_t byte[2][ESK::ESK_LINK_SLOTS][NUM_LINK_CODES];
    std::uint8_t levelBits[2][MAX_LEVEL_LENGTH + 1];
};
const NestAccelTables& nestAccelTables();

// Adds a link to a: `byte` is its signature byte from NestAccelTables::byte, `levelBits` the
// level bits row of the signature's kind, `length` the link's length. Lengths past the last
// level and links without a byte add nothing.
inline void addLinkToNestAccel(NestAccel& a, unsigned byte, const std::uint8_t* levelBits,
                               unsigned length)
{
    if (length > MAX_LEVEL_LENGTH || byte == NEST_ACCEL_NO_BYTE) {
        return;
    }
    a.bits[byte] = static_cast<std::uint8_t>(a.bits[byte] | levelBits[length]);
}

// n signatures with malloc (after freeing any previous array); null on failure.
NestAccel* allocNestAccel(NestAccel*& p, unsigned n);
void freeNestAccel(NestAccel*& p);

// Level 0..7 of a length, -1 above the last border.
int getDistLevel(unsigned length);
// Extra levels (0..2) of a length at `level`, written to extra.
unsigned getAddDistLevel(unsigned length, unsigned level, unsigned* extra);
void setBit2Accel(NestAccel& a, unsigned ridgeClass, unsigned level, unsigned quadrant,
                  bool sameDir);
void calcNestAccel(bool addLevels, NestAccel& out, const ESK::Lot<short>* minutiae,
                   const ESK::Link* links, unsigned count, unsigned index,
                   const MinutiaePairSet& pairs);
// Bits set in both: the population count of each 32-bit word of a AND b, summed. This is the
// portable form; compNestAccel gives the same count, with SSE2 where the target has it.
inline unsigned compNestAccelPortable(const NestAccel& a, const NestAccel& b)
{
    unsigned n = 0;
    for (int w = 0; w < 8; ++w) {
        std::uint32_t x;
        std::uint32_t y;
        std::memcpy(&x, a.bits + 4 * w, 4);
        std::memcpy(&y, b.bits + 4 * w, 4);
        x &= y;
        x = x - ((x >> 1) & 0x55555555u);
        x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
        x = (x + (x >> 4)) & 0x0F0F0F0Fu;
        n += (x * 0x01010101u) >> 24;
    }
    return n;
}

// The same count by 64-bit words with the compiler's population count. Meant for code built
// for a processor with a population count instruction (one instruction a word): elsewhere the
// compiler may make each word a library call.
[[gnu::always_inline]] inline unsigned compNestAccelWords(const NestAccel& a, const NestAccel& b)
{
    const auto word = [&a, &b](int w) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a.bits + 8 * w, 8);
        std::memcpy(&y, b.bits + 8 * w, 8);
        return static_cast<unsigned>(__builtin_popcountll(x & y));
    };
    // The four words written out: the loop is short enough that unrolled it keeps a in
    // registers.
    return word(0) + word(1) + word(2) + word(3);
}

#if defined(__SSE2__)
// The count nibble by nibble in two 128-bit halves (shifts across a byte boundary only move
// bits the masks drop), the halves added (at most 8 a nibble, so no carry), the two nibbles
// of each byte added (at most 16) and the bytes summed.
inline unsigned compNestAccel(const NestAccel& a, const NestAccel& b)
{
    const __m128i m1 = _mm_set1_epi8(0x55);
    const __m128i m2 = _mm_set1_epi8(0x33);
    const __m128i m4 = _mm_set1_epi8(0x0F);
    __m128i v[2];
    for (int h = 0; h < 2; ++h) {
        __m128i x =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a.bits + 16 * h)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.bits + 16 * h)));
        x = _mm_sub_epi8(x, _mm_and_si128(_mm_srli_epi64(x, 1), m1));
        v[h] = _mm_add_epi8(_mm_and_si128(x, m2), _mm_and_si128(_mm_srli_epi64(x, 2), m2));
    }
    const __m128i x = _mm_add_epi8(v[0], v[1]);
    const __m128i bytes =
        _mm_add_epi8(_mm_and_si128(x, m4), _mm_and_si128(_mm_srli_epi64(x, 4), m4));
    const __m128i s = _mm_sad_epu8(bytes, _mm_setzero_si128());
    return static_cast<unsigned>(_mm_cvtsi128_si32(s)) +
           static_cast<unsigned>(_mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
}
#else
inline unsigned compNestAccel(const NestAccel& a, const NestAccel& b)
{
    return compNestAccelPortable(a, b);
}
#endif

} // namespace accelMatch
