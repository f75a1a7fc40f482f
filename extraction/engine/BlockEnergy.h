// The gradient energies of a block of level-0 pixels around a reference orientation, shared by
// the stages that rate how the gradients of each level-3 block agree with an expected flow
// (Respon, Flower): the axial distance table, the energy shares of each weight and the
// block scan. Angles are whole degrees; the shares are TabSig-weighted magnitudes, 0..254.
#pragma once

#include "extraction/engine/FixedMath.h"
#include "platform/assert.h"

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {

// Orientation distance 0..90 of two angles by their difference d = a - b, d = -359..510, at
// index d + 359: a doubled direction byte (0..510) less a reference angle (0..359).
struct AxialTable {
    std::uint8_t v[359 + 511];
};
constexpr AxialTable MakeAxial()
{
    AxialTable t{};
    for (int d = -359; d <= 510; ++d) {
        t.v[d + 359] = static_cast<std::uint8_t>(AxialDistance(Mod360(d)));
    }
    return t;
}
inline constexpr AxialTable kAxial = MakeAxial();
static_assert(kAxial.v[359] == 0 && kAxial.v[359 + 90] == 90 && kAxial.v[0] == 1 &&
              kAxial.v[359 + 510] == 30);

// The row of axial distances to a reference angle ref (0..359): row[u] for u = 0..510.
inline const std::uint8_t* AxialFrom(int ref)
{
    return kAxial.v + (359 - ref);
}

// The axial distances as rows of the share table (256 per degree), at the same indexes as
// kAxial, so that a scan finds a pixel's row with one look-up.
struct AxialRowTable {
    std::uint16_t v[359 + 511];
};
constexpr AxialRowTable MakeAxialRows()
{
    AxialRowTable t{};
    for (int i = 0; i < 359 + 511; ++i) {
        t.v[i] = static_cast<std::uint16_t>(256 * kAxial.v[i]);
    }
    return t;
}
inline constexpr AxialRowTable kAxialRow = MakeAxialRows();
static_assert(kAxialRow.v[359 + 90] == 256 * 90 && kAxialRow.v[359 + 510] == 256 * 30);

// The energy shares of every weight w (0..255) at every distance e (0..90) from the reference,
// at e * 256 + w: the along share R(s R(s w)) with s = TabSig[90 - e] in the low half, the
// across share, the same with s = TabSig[e], in the high half (R = Descale13). The shares at
// distances e and 90 - e swap halves: each pair is made once.
struct ShareTable {
    std::uint64_t v[91 * 256];
};
constexpr ShareTable MakeShares()
{
    ShareTable t{};
    for (int e = 0; e <= 45; ++e) {
        const int se = TabSig[e];
        const int sf = TabSig[90 - e];
        for (int w = 0; w < 256; ++w) {
            const auto across = static_cast<std::uint32_t>(Descale13(se * Descale13(se * w)));
            const auto along = static_cast<std::uint32_t>(Descale13(sf * Descale13(sf * w)));
            t.v[e * 256 + w] = along | std::uint64_t{across} << 32;
            t.v[(90 - e) * 256 + w] = across | std::uint64_t{along} << 32;
        }
    }
    return t;
}
inline constexpr ShareTable kShares = MakeShares();
static_assert(kShares.v[255] == 255 && kShares.v[90 * 256 + 255] == std::uint64_t{255} << 32);

// Sums of one block: the energies along and across the reference, and the fourth-largest
// weight of its pixels (0 when the block has fewer than four).
struct BlockSums {
    int along, across, top;
};

// The weight of every magnitude byte v, (Ran[256 v / divisor] * gain) >> 8 with the gain
// Lor[divisor] (both indexes capped at 255; Ran and Lor hold 0..255, so weights are 0..254),
// whose energy shares kShares gives.
class BlockEnergy {
public:
    BlockEnergy(const int* ran, const int* lor, int divisor)
    {
        const int gain = lor[divisor > 255 ? 255 : divisor];
        for (int v = 0; v < 256; ++v) {
            const int i = 256 * v / divisor;
            m_weight[v] = (ran[i > 255 ? 255 : i] * gain) >> 8;
            ZF_ASSERT(m_weight[v] >= 0 && m_weight[v] <= 255);
        }
    }

    // Scans the pixels x0 <= x < x1, y0 <= y < y1 of the direction (halved degrees) and
    // magnitude layers, rows w apart, against the reference angle ref (0..359). The SSE2 build
    // keeps the four largest weights of each column of eight in 16-bit lanes, without a jump
    // per pixel, and merges the lanes once per block; other builds insert pixel by pixel.
    BlockSums Scan(const unsigned char* gdir, const unsigned char* gmag, int w, int x0, int x1,
                   int y0, int y1, int ref) const
    {
#if defined(__SSE2__)
        return ScanAs<true>(gdir, gmag, w, x0, x1, y0, y1, ref);
#else
        return ScanAs<false>(gdir, gmag, w, x0, x1, y0, y1, ref);
#endif
    }

    // Scan with the weights inserted pixel by pixel.
    BlockSums ScanScalar(const unsigned char* gdir, const unsigned char* gmag, int w, int x0,
                         int x1, int y0, int y1, int ref) const
    {
        return ScanAs<false>(gdir, gmag, w, x0, x1, y0, y1, ref);
    }

private:
    template <bool Lanes>
    BlockSums ScanAs(const unsigned char* gdir, const unsigned char* gmag, int w, int x0, int x1,
                     int y0, int y1, int ref) const
    {
        const std::uint16_t* toRef = kAxialRow.v + (359 - ref); // AxialFrom(ref) * 256
        // Both shares in one word: a block's sums stay far below 2^32 in each half.
        std::uint64_t sum = 0;
        int top[4] = {0, 0, 0, 0};
        const auto share = [&](const unsigned char* d, const unsigned char* m, int x)
            __attribute__((always_inline))
        {
            const int g = m_weight[m[x]];
            const std::size_t shares = toRef[2 * static_cast<std::size_t>(d[x])];
            sum += kShares.v[shares + static_cast<std::uint32_t>(g)];
            return g;
        };
#if defined(__SSE2__)
        if (Lanes) {
            // Lane j of t[0] >= t[1] >= t[2] >= t[3]: the four largest weights of columns
            // x0 + j, x0 + 8 + j, ... (0 where fewer; the weights are >= 0, so that zeros leave
            // the fourth largest as it is).
            __m128i t[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(),
                            _mm_setzero_si128()};
            const int wide = x0 + (x1 - x0) / 8 * 8;
            for (int y = y0; y < y1; ++y) {
                const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
                const unsigned char* d = gdir + row;
                const unsigned char* m = gmag + row;
                for (int x = x0; x < wide; x += 8) {
                    __m128i g = _mm_setzero_si128();
                    g = _mm_insert_epi16(g, share(d, m, x), 0);
                    g = _mm_insert_epi16(g, share(d, m, x + 1), 1);
                    g = _mm_insert_epi16(g, share(d, m, x + 2), 2);
                    g = _mm_insert_epi16(g, share(d, m, x + 3), 3);
                    g = _mm_insert_epi16(g, share(d, m, x + 4), 4);
                    g = _mm_insert_epi16(g, share(d, m, x + 5), 5);
                    g = _mm_insert_epi16(g, share(d, m, x + 6), 6);
                    g = _mm_insert_epi16(g, share(d, m, x + 7), 7);
                    for (__m128i& level : t) {
                        const __m128i high = _mm_max_epi16(level, g);
                        g = _mm_min_epi16(level, g);
                        level = high;
                    }
                }
                for (int x = wide; x < x1; ++x) {
                    KeepTop(top, share(d, m, x));
                }
            }
            // Lanes j and j + s merged for s = 4, 2, 1: the larger of a[i] and b[3 - i] are the
            // four largest of both lists (in bitonic order), which two rounds of exchanges sort.
            for (int bytes = 8; bytes >= 2; bytes /= 2) {
                const auto shift = [bytes](__m128i v) {
                    return bytes == 8   ? _mm_srli_si128(v, 8)
                           : bytes == 4 ? _mm_srli_si128(v, 4)
                                        : _mm_srli_si128(v, 2);
                };
                __m128i c[4];
                for (int i = 0; i < 4; ++i) {
                    c[i] = _mm_max_epi16(t[i], shift(t[3 - i]));
                }
                const auto exchange = [&c](int a, int b) {
                    const __m128i high = _mm_max_epi16(c[a], c[b]);
                    c[b] = _mm_min_epi16(c[a], c[b]);
                    c[a] = high;
                };
                exchange(0, 2);
                exchange(1, 3);
                exchange(0, 1);
                exchange(2, 3);
                for (int i = 0; i < 4; ++i) {
                    t[i] = c[i];
                }
            }
            for (const __m128i& level : t) {
                KeepTop(top, _mm_cvtsi128_si32(level) & 0xffff);
            }
            return {static_cast<int>(sum & 0xffffffffu), static_cast<int>(sum >> 32), top[3]};
        }
#endif
        for (int y = y0; y < y1; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
            const unsigned char* d = gdir + row;
            const unsigned char* m = gmag + row;
#pragma GCC unroll 8
            for (int x = x0; x < x1; ++x) {
                KeepTop(top, share(d, m, x));
            }
        }
        return {static_cast<int>(sum & 0xffffffffu), static_cast<int>(sum >> 32), top[3]};
    }

    // Inserts g into the descending list of the four largest values; equal values stay ahead.
    static void KeepTop(int* top, int g)
    {
        if (g <= top[3]) {
            return;
        }
        int i = 3;
        while (i > 0 && top[i - 1] < g) {
            top[i] = top[i - 1];
            --i;
        }
        top[i] = g;
    }

    int m_weight[256];
};

} // namespace wizard73
