// The gradient energies of a block of level-0 pixels around a reference orientation, shared by
// the stages that rate how the gradients of each level-3 block agree with an expected flow
// (Respon, Flower): the axial distance table, the energy shares of each weight and the
// block scan. Angles are whole degrees; the shares are TabSig-weighted magnitudes, 0..254.
#pragma once

#include "extraction/engine/FixedMath.h"
#include "platform/assert.h"

#include <cstddef>
#include <cstdint>

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
    // magnitude layers, rows w apart, against the reference angle ref (0..359).
    BlockSums Scan(const unsigned char* gdir, const unsigned char* gmag, int w, int x0, int x1,
                   int y0, int y1, int ref) const
    {
        const std::uint16_t* toRef = kAxialRow.v + (359 - ref); // AxialFrom(ref) * 256
        // Both shares in one word: a block's sums stay far below 2^32 in each half.
        std::uint64_t sum = 0;
        int top[4] = {0, 0, 0, 0};
        for (int y = y0; y < y1; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
            const unsigned char* d = gdir + row;
            const unsigned char* m = gmag + row;
#pragma GCC unroll 8
            for (int x = x0; x < x1; ++x) {
                const int g = m_weight[m[x]];
                const std::size_t shares = toRef[2 * static_cast<std::size_t>(d[x])];
                sum += kShares.v[shares + static_cast<std::uint32_t>(g)];
                KeepTop(top, g);
            }
        }
        return {static_cast<int>(sum & 0xffffffffu), static_cast<int>(sum >> 32), top[3]};
    }

private:
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
