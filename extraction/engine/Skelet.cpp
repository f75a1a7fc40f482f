// Stage 19, Skelet: thins the binary ridge image of stage 18 (layers 4 and 5 of level 0: 3 ridge,
// 128 valley, 255 background) to a one-pixel skeleton (7 ridge, 1 ending, 0 branch point, 3
// removed, 128 deleted), repairs spurs, crossings and gaps between endings, and writes the edge
// code per level-1 cell (164: 2 inside, 4 near the border, 8 ending at the border) and the
// skeleton-cell map 162. Reads 161, 56, 36 and 128 of level 1. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"
#include "platform/assert.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace wizard73 {
namespace {

// clang-format off
constexpr std::array<unsigned char, 256> kThinning = {
    0x01, 0x0c, 0x0c, 0x24, 0x0c, 0x01, 0x04, 0x01, 0x0c, 0x09, 0x2a, 0x00, 0x44, 0x01, 0x01, 0x01, //   0
    0x0c, 0x09, 0x09, 0x00, 0x01, 0x01, 0x01, 0x01, 0x24, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, //  16
    0x0c, 0x09, 0x09, 0x00, 0x09, 0x42, 0x00, 0x00, 0x4a, 0x08, 0x08, 0x00, 0x00, 0x42, 0x42, 0x00, //  32
    0x64, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x00, 0x01, 0x00, 0x22, 0x00, 0x01, 0x01, 0x01, 0x00, //  48
    0x0c, 0x01, 0x09, 0x01, 0x09, 0x01, 0x00, 0x01, 0x09, 0x42, 0x08, 0x22, 0x00, 0x01, 0x00, 0x01, //  64
    0x01, 0x01, 0x22, 0x01, 0x01, 0x01, 0x01, 0x00, 0x01, 0x01, 0x22, 0x01, 0x01, 0x00, 0x01, 0x00, //  80
    0x44, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, //  96
    0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, // 112
    0x0c, 0x64, 0x0a, 0x01, 0x09, 0x01, 0x00, 0x01, 0x09, 0x00, 0x08, 0x22, 0x00, 0x01, 0x02, 0x01, // 128
    0x09, 0x00, 0x08, 0x00, 0x62, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 144
    0x6a, 0x00, 0x08, 0x62, 0x08, 0x62, 0x00, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, // 160
    0x00, 0x00, 0x00, 0x00, 0x62, 0x01, 0x00, 0x00, 0x62, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 176
    0x04, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 192
    0x01, 0x01, 0x02, 0x01, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 208
    0x01, 0x01, 0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 224
    0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 240
};
// clang-format on

constexpr int SKELET_STAGE = 19;
constexpr int CELL_LEVEL = 1;
constexpr int OBJECT = 8; // codes below are skeleton (or not yet decided) pixels
constexpr int NOW_DELETED = 112;
constexpr int DELETED = 128;
constexpr int OUTSIDE = 255;
constexpr int REMOVED = 3;
// Cell bits of layer 161.
constexpr int CELL_DONE = 1;
constexpr int CELL_SEEN = 4;
constexpr int CELL_KEEP = 16;
constexpr int CELL_REOPEN = 32;
constexpr int FINGER_BIT = 32; // layer 128
// Edge codes of layer 164.
constexpr int EDGE_INSIDE = 2;
constexpr int EDGE_NEAR = 4;
constexpr int EDGE_END = 8;

// Reach of the gap rays in level-0 pixels, by row (ridge period + 1, in quick mode + 2) and by
// deviation from the ending's direction in steps of 6 degrees (0..60): the row projected onto the
// ending's direction, round(row cos 6j), so that every ray ends on the line one row ahead of the
// ending and no ray reaches farther sideways than half a row.
constexpr int GAP_ROWS = 19;
constexpr int GAP_COLS = 11;
constexpr int GAP_STEP = 6;
constexpr std::array<std::array<std::uint8_t, GAP_COLS>, GAP_ROWS> MakeGaps()
{
    std::array<std::array<std::uint8_t, GAP_COLS>, GAP_ROWS> t{};
    for (int r = 0; r < GAP_ROWS; ++r) {
        for (int j = 0; j < GAP_COLS; ++j) {
            t[r][j] = static_cast<std::uint8_t>(Descale13(r * CosDeg(GAP_STEP * j)));
        }
    }
    return t;
}
constexpr auto TabGap = MakeGaps();
static_assert(TabGap[10][0] == 10 && TabGap[10][10] == 5 && TabGap[18][5] == 16);

// The five neighbour masks of a thinning decision, one byte each of a 64-bit word: S (skeleton
// neighbours), T (skeleton or, on the four direct sides, outside), O (not object or direct
// outside), W (direct outside) and E (codes 0 and 1). at[k][v] holds neighbour k's bits for code
// v as bit k of each byte, so that the words of the eight neighbours OR together.
struct NeighbourBits {
    std::uint64_t at[8][256];
};
constexpr NeighbourBits MakeNeighbourBits()
{
    NeighbourBits t{};
    for (int k = 0; k < 8; ++k) {
        for (int v = 0; v < 256; ++v) {
            const bool edgeOut = k % 2 == 0 && v == OUTSIDE;
            std::uint64_t b = 0;
            b |= v < OBJECT ? 1u : 0u;
            b |= (v < OBJECT || edgeOut ? 1u : 0u) << 8;
            b |= (v <= NOW_DELETED || edgeOut ? 1u : 0u) << 16;
            b |= static_cast<std::uint64_t>(edgeOut ? 1u : 0u) << 24;
            b |= static_cast<std::uint64_t>(v < 2 ? 1u : 0u) << 32;
            t.at[k][v] = b << k;
        }
    }
    return t;
}
constexpr NeighbourBits kNeighbourBits = MakeNeighbourBits();

// Any byte of v is below n (1..128): a byte below n borrows into its top bit, which it did not
// have; the borrow may wrongly flag a byte above one that is flagged, never an unflagged word.
constexpr bool AnyByteBelow(std::uint64_t v, std::uint64_t n)
{
    return ((v - 0x0101010101010101u * n) & ~v & 0x8080808080808080u) != 0;
}
static_assert(!AnyByteBelow(0x0808080808080808u, 8) && AnyByteBelow(0xFFFFFFFF07FFFFFFu, 8));

// 0x80 in each byte of v that is below n (1..128), else 0, exactly: a byte's low seven bits
// plus 128 - n reach its top bit, without carrying into the next byte, when they are at least n.
constexpr std::uint64_t BytesBelow(std::uint64_t v, std::uint64_t n)
{
    constexpr std::uint64_t ONES = 0x0101010101010101u;
    const std::uint64_t atLeast = ((v & 0x7F7F7F7F7F7F7F7Fu) + (128 - n) * ONES) | v;
    return ~atLeast & 0x8080808080808080u;
}
static_assert(BytesBelow(0x00FF800807080100u, 8) == 0x8000000080008080u);

// 0x80 in each byte of v that is zero, else 0, exactly: a byte's low seven bits plus 127 reach its
// top bit, without carrying into the next byte, when any of them is set.
constexpr std::uint64_t ZeroBytes(std::uint64_t v)
{
    constexpr std::uint64_t LOW7 = 0x7F7F7F7F7F7F7F7Fu;
    return ~(((v & LOW7) + LOW7) | v) & 0x8080808080808080u;
}
static_assert(ZeroBytes(0x0001FF8000100000u) == 0x8000000080008080u);

// The top bits of the eight bytes of m as bits 0..7 (byte i to bit i). Byte i's bit, moved to
// bit 8i, is carried by the multiplier's term of byte 7 - i to bit 56 + i; all other products
// land on distinct bits below 56 or beyond 63, so nothing carries into the top byte.
constexpr unsigned PackTops(std::uint64_t m)
{
    return static_cast<unsigned>(((m >> 7) * 0x0102040810204080u) >> 56);
}
static_assert(PackTops(0x8000000080008080u) == 0x8B && PackTops(0x8080808080808080u) == 0xFF);

// Cell classes that the thinning takes: 2 and 8 (active); with any CELL_DONE bit aside
// (thinnable, a later pass may take the cell).
constexpr bool IsActive(int c)
{
    return c == 2 || c == 8;
}
constexpr bool IsThinnable(int c)
{
    return IsActive(c & ~1);
}

// Bit x - x0 of *active / *thinnable for the cells x0 <= x < x1 (at most 64) of a row of classes.
inline void ClassBits(const unsigned char* row, int x0, int x1, std::uint64_t* active,
                      std::uint64_t* thinnable)
{
    constexpr std::uint64_t ONES = 0x0101010101010101u;
    std::uint64_t a = 0;
    std::uint64_t t = 0;
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        std::uint64_t v;
        std::memcpy(&v, row + x, sizeof v);
        const std::uint64_t even = v & ~ONES; // CELL_DONE (bit 0) aside
        const std::uint64_t is = ZeroBytes(v ^ 2 * ONES) | ZeroBytes(v ^ 8 * ONES);
        const std::uint64_t was = ZeroBytes(even ^ 2 * ONES) | ZeroBytes(even ^ 8 * ONES);
        a |= std::uint64_t{PackTops(is)} << (x - x0);
        t |= std::uint64_t{PackTops(was)} << (x - x0);
    }
    for (; x < x1; ++x) {
        a |= std::uint64_t{IsActive(row[x]) ? 1u : 0u} << (x - x0);
        t |= std::uint64_t{IsThinnable(row[x]) ? 1u : 0u} << (x - x0);
    }
    *active = a;
    *thinnable = t;
}

// Marks the cells of a row of classes finished (CELL_DONE) unless they have CELL_KEEP.
inline void MarkDone(unsigned char* row, int w)
{
    static_assert(CELL_KEEP >> 4 == CELL_DONE);
    constexpr std::uint64_t KEEP = 0x0101010101010101u * CELL_KEEP;
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        std::uint64_t v;
        std::memcpy(&v, row + x, sizeof v);
        v |= (~v & KEEP) >> 4;
        std::memcpy(row + x, &v, sizeof v);
    }
    for (; x < w; ++x) {
        if ((row[x] & CELL_KEEP) == 0) {
            row[x] = static_cast<unsigned char>(row[x] | CELL_DONE);
        }
    }
}

// The layers of the stage and the buffer toggle.
struct SkWork {
    Codex* cx;
    bool quick;
    int W0, H0, w1, h1;
    unsigned char* l4;
    unsigned char* l5;
    unsigned char* cls;       // 161
    unsigned char* chg;       // 240: change flag per cell
    unsigned char* edge;      // 164
    unsigned char* marks;     // 162
    const unsigned char* per; // 56
    const unsigned char* ori; // 36
    const unsigned char* fg;  // 128
    bool toggle;              // true: layer 4 is the current buffer
    bool changed;             // global change flag

    unsigned char* Cur() const { return toggle ? l4 : l5; }
    unsigned char* Oth() const { return toggle ? l5 : l4; }
};

// Runs fn(x0, y0) on the level-0 pixels of cell (x, y), rows first, as the block scans do.
template <class Fn> void ForCell(const SkWork& s, int x, int y, Fn fn)
{
    const int x0 = Codex::BlockStart(x, 2, s.W0);
    const int y0 = Codex::BlockStart(y, 2, s.H0);
    const int xe = x0 + 2 < s.W0 ? x0 + 2 : s.W0;
    const int ye = y0 + 2 < s.H0 ? y0 + 2 : s.H0;
    for (int yy = y0; yy < ye; ++yy) {
        for (int xx = x0; xx < xe; ++xx) {
            fn(xx, yy);
        }
    }
}

// fn(x, y, b) for every cell of level 1; `border` cells along each edge are left out.
template <class Fn> void ForCells(const SkWork& s, int border, Fn fn)
{
    const int w1 = s.w1; // in locals: fn's byte writes could otherwise change them
    const int h1 = s.h1;
    for (int y = border; y < h1 - border; ++y) {
        for (int x = border; x < w1 - border; ++x) {
            fn(x, y, y * w1 + x);
        }
    }
}

// One thinning decision at level-0 offset o of buffers W0 pixels wide (the pixel lies at least
// two pixels inside); true when it counts as a change.
__attribute__((always_inline)) inline bool SkThin(unsigned char* cur, unsigned char* oth,
                                                  std::ptrdiff_t W0, std::ptrdiff_t o)
{
    auto step = [W0](int k) { return StepOffset(k, W0); };
    const int q = cur[o];
    if (q >= OBJECT) {
        oth[o] = DELETED;
        return false;
    }
    std::uint64_t bits = 0;
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        bits |= kNeighbourBits.at[k][cur[o + step(k)]];
    }
    const int S = static_cast<int>(bits & 0xFF);
    const int T = static_cast<int>((bits >> 8) & 0xFF);
    const int O = static_cast<int>((bits >> 16) & 0xFF);
    const int W = static_cast<int>((bits >> 24) & 0xFF);
    const int E = static_cast<int>((bits >> 32) & 0xFF);
    const int A = skeletMask[T];
    const int B = skeletMask[S];
    const int K = skeletMask[O];
    // The neighbour that a decision names in bits 4..6.
    auto named = [&](int decision) { return o + step((decision >> 4) & 7); };
    auto set = [&](std::ptrdiff_t at, int c) { cur[at] = oth[at] = static_cast<unsigned char>(c); };
    auto del = [&](std::ptrdiff_t at) {
        oth[at] = DELETED;
        cur[at] = NOW_DELETED;
    };
    // Kept for this pass, deleted in the next one; the named neighbour goes now.
    auto handOver = [&]() {
        oth[o] = DELETED;
        cur[o] = REMOVED;
        const std::ptrdiff_t P = named(A);
        if (cur[P] < OUTSIDE) {
            del(P);
        }
        return true;
    };
    if ((B & 8) == 0) {
        if ((K & 4) != 0) {
            if ((A & 4) == 0) {
                set(o, REMOVED);
                return false;
            }
            return handOver();
        }
        if ((K & 3) == 0) {
            set(o, REMOVED);
            return false;
        }
        if ((A & 6) == 0) {
            if ((K & 3) == 1 && (A & 1) != 0) {
                del(o);
                return true;
            }
            set(o, REMOVED);
            return false;
        }
        if ((A & 4) == 0) {
            del(o);
            const std::ptrdiff_t P = named(A);
            if (cur[P] < OUTSIDE) {
                set(P, REMOVED);
            }
            return true;
        }
        return handOver();
    }
    if ((B & 4) != 0) {
        if ((K & 1) != 0) {
            oth[o] = DELETED;
            cur[o] = REMOVED;
            return true;
        }
        if ((skeletMask[E] & 4) != 0) {
            del(o);
            return true;
        }
        set(o, 1);
        return q > 1;
    }
    if ((B & 2) != 0) {
        del(o);
        const std::ptrdiff_t R = named(B);
        if (cur[R] < OUTSIDE) {
            set(R, REMOVED);
        }
        return true;
    }
    if ((B & 1) == 0) {
        set(o, 0);
        return q > 1;
    }
    if ((skeletMask[W] & 4) == 0) {
        set(o, 7);
        return false;
    }
    oth[o] = DELETED;
    cur[o] = REMOVED;
    return true;
}

// The four decisions of a cell with object pixels, rows first; true when the cell changed. Out
// of line, so that the cell loop and the decisions each keep their values in registers.
__attribute__((noinline)) bool ThinPixels(unsigned char* cur, unsigned char* oth, std::ptrdiff_t W0,
                                          std::ptrdiff_t o)
{
    bool c = SkThin(cur, oth, W0, o);
    c = SkThin(cur, oth, W0, o + 1) || c;
    c = SkThin(cur, oth, W0, o + W0) || c;
    c = SkThin(cur, oth, W0, o + W0 + 1) || c;
    return c;
}

// Thinning of the four pixels of a cell at level-0 offset o; true when the cell changed.
inline bool ThinCell(unsigned char* cur, unsigned char* oth, std::ptrdiff_t W0, std::ptrdiff_t o)
{
    // Most cells hold no object pixel, whose decisions only mark them deleted in the other
    // buffer: the two pixel pairs as the low bytes of a word, the others no object either.
    std::uint16_t top;
    std::uint16_t bottom;
    std::memcpy(&top, cur + o, sizeof top);
    std::memcpy(&bottom, cur + o + W0, sizeof bottom);
    const std::uint64_t pairs =
        0xFFFFFFFF00000000u | std::uint64_t{top} | std::uint64_t{bottom} << 16;
    if (!AnyByteBelow(pairs, OBJECT)) {
        constexpr std::uint16_t DELETED_PAIR = DELETED * 0x0101;
        std::memcpy(oth + o, &DELETED_PAIR, sizeof DELETED_PAIR);
        std::memcpy(oth + o + W0, &DELETED_PAIR, sizeof DELETED_PAIR);
        return false;
    }
    return ThinPixels(cur, oth, W0, o);
}

// Bit sets of level-1 cells, one row of words per cell row. Thinnable marks the cells that a
// later pass thins: one cell inside and of class 2 or 8 (any CELL_DONE bit aside). Changed marks
// the cells the current pass changed; after Next they are the previous pass's, and ForOpen visits
// the thinnable cells of their neighbourhoods in raster order, each once: per row, the changed
// cells of the row and of the rows above and below ORed and widened by one column each way.
class CellBits {
public:
    CellBits(int w1, int h1)
        : m_w1(w1), m_h1(h1), m_words((w1 + 63) / 64),
          m_now(static_cast<std::size_t>(m_words) * static_cast<std::size_t>(h1), 0),
          m_prev(m_now.size(), 0), m_thin(m_now.size(), 0)
    {
    }

    void Thinnable(const unsigned char* cls)
    {
        for (int r = 1; r + 1 < m_h1; ++r) {
            for (int i = 0; i < m_words; ++i) {
                std::uint64_t active;
                ClassBits(cls + r * m_w1, i * 64, std::min(i * 64 + 64, m_w1), &active,
                          &Thin(r)[i]);
                Thin(r)[i] &= Inner(i);
            }
        }
    }

    int Words() const { return m_words; }

    // The cells of word i that lie one cell inside (0 < x < w1 - 1).
    std::uint64_t Inner(int i) const
    {
        std::uint64_t m = ~std::uint64_t{0};
        if (i == 0) {
            m &= ~std::uint64_t{1};
        }
        const int last = m_w1 - 1 - i * 64; // the bit of column w1 - 1
        if (last < 64) {
            m &= (std::uint64_t{1} << last) - 1;
        }
        return m;
    }

    std::uint64_t* Thin(int r) { return &m_thin[static_cast<std::size_t>(r) * m_words]; }

    // Cell (x, y) changed in the current pass, which visits the rows in ascending order.
    void Changed(int x, int y)
    {
        m_now[static_cast<std::size_t>(y) * m_words + (x >> 6)] |= std::uint64_t{1} << (x & 63);
        if (m_nowRows.empty() || m_nowRows.back() != y) {
            m_nowRows.push_back(y);
        }
    }

    // The cells changed so far become the previous pass's; none is changed in the next.
    void Next()
    {
        for (const int r : m_prevRows) {
            std::fill_n(&m_prev[static_cast<std::size_t>(r) * m_words], m_words, 0);
        }
        m_prevRows.clear();
        m_prev.swap(m_now);
        m_prevRows.swap(m_nowRows);
    }

    // fn(b, x, y) for the thinnable cells of the neighbourhoods of the previous pass's changes.
    template <class Fn> void ForOpen(Fn fn)
    {
        int done = -1; // last row visited
        for (const int changedRow : m_prevRows) {
            for (int r = changedRow - 1; r <= changedRow + 1; ++r) {
                if (r <= done || r < 0 || r >= m_h1) {
                    continue;
                }
                done = r;
                const std::uint64_t* thin = Thin(r);
                std::uint64_t prev = 0;
                std::uint64_t cur = Around(r, 0);
                for (int i = 0; i < m_words; ++i) {
                    const std::uint64_t next = i + 1 < m_words ? Around(r, i + 1) : 0;
                    std::uint64_t wide =
                        cur | (cur << 1) | (cur >> 1) | (prev >> 63) | (next << 63);
                    wide &= thin[i];
                    for (; wide != 0; wide &= wide - 1) {
                        const int x = i * 64 + __builtin_ctzll(wide);
                        fn(r * m_w1 + x, x, r);
                    }
                    prev = cur;
                    cur = next;
                }
            }
        }
    }

private:
    // Word i of the previous pass's changes in rows r - 1..r + 1.
    std::uint64_t Around(int r, int i) const
    {
        const std::uint64_t* row = &m_prev[static_cast<std::size_t>(r) * m_words + i];
        std::uint64_t m = row[0];
        if (r > 0) {
            m |= row[-m_words];
        }
        if (r + 1 < m_h1) {
            m |= row[m_words];
        }
        return m;
    }

    int m_w1;
    int m_h1;
    int m_words;
    std::vector<std::uint64_t> m_now;  // cells the current pass changed
    std::vector<std::uint64_t> m_prev; // cells the previous pass changed
    std::vector<std::uint64_t> m_thin;
    std::vector<int> m_nowRows;  // rows with bits in m_now, ascending
    std::vector<int> m_prevRows; // rows with bits in m_prev, ascending
};

// Thinning passes until one changes nothing. After each pass a cell without change in itself and
// its neighbours is marked finished and skipped by later passes. Each pass visits, in raster
// order, only the cells that may be unfinished: every cell when `everyCell` (the first cycle),
// else in the first pass the cells of `open` (ascending); later the thinnable cells of the
// neighbourhoods of the cells the previous pass changed. All others are finished already. After
// the first pass every cell without CELL_KEEP is marked finished (CELL_DONE), and a later pass
// leaves the marks so: each cell it visits is finished again when it ends.
void SkPasses(SkWork& s, const std::vector<int>& open, bool everyCell)
{
    const int w1 = s.w1;
    const int h1 = s.h1;
    CellBits bits(w1, h1);
    // The cell layers in locals, which the byte writes cannot change.
    unsigned char* const cls = s.cls;
    unsigned char* const chg = s.chg;
    if (!everyCell) {
        bits.Thinnable(cls); // the first pass over every cell notes them itself
    }
    const std::ptrdiff_t W0 = s.W0;
    const CLevel& lv = s.cx->m_level[0];
    for (int k = 0; k < 8; ++k) {
        ZF_ASSERT(lv.step[k] == StepOffset(k, s.W0));
    }
    for (bool first = true;; first = false) {
        bool changed = false;
        unsigned char* const cur = s.Cur();
        unsigned char* const oth = s.Oth();
        auto thin = [&](int b, int x, int y) {
            const bool c = ThinCell(cur, oth, W0, 2 * (y * W0 + x));
            chg[b] = c ? 1 : 0;
            if (c) {
                changed = true;
                bits.Changed(x, y);
            }
        };
        if (first && everyCell) {
            // One raster scan over every cell: the thinning reads and writes pixels only, and a
            // cell's class only decides its own thinning, so each row's classes are read first,
            // its active cells thinned and then its cells marked finished. Cells one cell inside
            // have whole blocks at twice their position (the level is half the width and height
            // rounded up), so their four pixels lie two pixels inside.
            for (int y = 0; y < h1; ++y) {
                unsigned char* const row = cls + y * w1;
                if (y > 0 && y + 1 < h1) {
                    for (int i = 0; i < bits.Words(); ++i) {
                        std::uint64_t act;
                        std::uint64_t* const thinnable = &bits.Thin(y)[i];
                        ClassBits(row, i * 64, std::min(i * 64 + 64, w1), &act, thinnable);
                        const std::uint64_t inner = bits.Inner(i);
                        act &= inner;
                        *thinnable &= inner;
                        for (; act != 0; act &= act - 1) {
                            const int x = i * 64 + __builtin_ctzll(act);
                            thin(y * w1 + x, x, y);
                        }
                    }
                }
                // The neighbourhoods of the changed cells stay unfinished; the rest is finished.
                MarkDone(row, w1);
            }
        } else if (first) {
            int y = 0;
            int rowStart = 0; // the first cell of row y
            for (const int b : open) {
                while (b >= rowStart + w1) {
                    ++y;
                    rowStart += w1;
                }
                const int x = b - rowStart;
                // Cells one cell inside (0 < x < w1 - 1, 0 < y < h1 - 1, as unsigned compares)
                // have their four pixels two pixels inside.
                const bool inner = static_cast<unsigned>(x - 1) < static_cast<unsigned>(w1 - 2) &&
                                   static_cast<unsigned>(y - 1) < static_cast<unsigned>(h1 - 2);
                if (inner && IsActive(cls[b])) {
                    thin(b, x, y);
                }
            }
            for (const int b : open) {
                cls[b] = static_cast<unsigned char>(cls[b] | CELL_DONE);
            }
        } else {
            bits.ForOpen(thin);
        }
        s.changed = changed;
        s.toggle = !s.toggle;
        if (!changed) {
            break;
        }
        bits.Next();
    }
}

// Second cycle: the cells the repairs touched, and their neighbours, take part again. They go
// into `open`, ascending and each once; every other cell that may be finished is finished.
void SkeInit(SkWork& s, std::vector<int>& open)
{
    open.clear();
    ForCells(s, 0, [&](int x, int y, int b) {
        if ((s.cls[b] & CELL_REOPEN) == 0) {
            return;
        }
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= s.w1 || ny >= s.h1) {
                    continue;
                }
                unsigned char& c = s.cls[ny * s.w1 + nx];
                if ((c & CELL_KEEP) == 0) {
                    c = static_cast<unsigned char>(c & ~CELL_DONE);
                    open.push_back(ny * s.w1 + nx);
                }
            }
        }
        s.cls[b] = static_cast<unsigned char>(s.cls[b] & ~CELL_REOPEN);
    });
    std::sort(open.begin(), open.end());
    open.erase(std::unique(open.begin(), open.end()), open.end());
}

// Places the walker on level-0 pixel (x, y) of the current buffer.
void At(SkWork& s, int x, int y)
{
    s.cx->WalkAt(x, y, 0, nullptr, s.Cur());
}

int Period(const SkWork& s, int x, int y)
{
    return s.per[(y / 2) * s.w1 + x / 2];
}

int Orientation(const SkWork& s, int x, int y)
{
    return s.ori[(y / 2) * s.w1 + x / 2];
}

// Splits a crossing of four arms at the walker into two ridges: of the two ways to pair the arm
// ends (sorted by bearing), the one whose chords lie closer to the orientation o is drawn.
int Splits(SkWork& s, int x, int y, int length, int o)
{
    Codex& cx = *s.cx;
    At(s, x, y);
    if (cx.Crossd(length) == 0) {
        return 0;
    }
    struct End {
        int x, y, bearing;
    };
    End a[4];
    for (int i = 0; i < 4; ++i) {
        a[i] = End{cx.m_arm[i].x, cx.m_arm[i].y, atan(cx.m_arm[i].x - x, cx.m_arm[i].y - y)};
    }
    for (int i = 1; i < 4; ++i) { // stable: equal bearings keep their arm order
        for (int j = i; j > 0 && a[j - 1].bearing > a[j].bearing; --j) {
            const End t = a[j];
            a[j] = a[j - 1];
            a[j - 1] = t;
        }
    }
    auto chord = [&](const End& p, const End& q) {
        return Codex::Dist(atan(q.x - p.x, q.y - p.y), o);
    };
    const int g1 = chord(a[0], a[1]);
    const int g2 = chord(a[2], a[3]);
    const int g3 = chord(a[0], a[3]);
    const int g4 = chord(a[1], a[2]);
    const int m12 = g1 > g2 ? g1 : g2;
    const int m34 = g3 > g4 ? g3 : g4;
    auto draw = [&](const End& from, const End& to) {
        At(s, from.x, from.y);
        cx.Pastes(to.x, to.y);
    };
    if (m34 > m12) {
        draw(a[1], a[0]);
        draw(a[3], a[2]);
    } else {
        draw(a[3], a[0]);
        draw(a[2], a[1]);
    }
    return 1;
}

// Joins the ending at (x, y) to an ending that continues its ridge across a gap.
void SkDumb(SkWork& s, int x, int y)
{
    Codex& cx = *s.cx;
    const int p = Period(s, x, y);
    At(s, x, y);
    cx.Orient(p);
    if (cx.m_arms < 1) {
        return; // an isolated point has no direction
    }
    int d0 = Mod360(cx.m_arm[0].dir + 180);
    const int o = Orientation(s, x, y);
    d0 = Codex::Turn(d0, o) <= 90 ? o : o + 180;
    int row = p + (s.quick ? 2 : 1);
    row = row < GAP_ROWS ? row : GAP_ROWS - 1;
    for (int j = 0; j <= 2 * (GAP_COLS - 1); ++j) {
        const int step = (j + 1) / 2; // 0, 1, 1, 2, 2, ...
        const int ray = d0 + (j % 2 == 1 ? GAP_STEP * step : -GAP_STEP * step);
        At(s, x, y);
        if (cx.SkeEnd(ray, TabGap[row][step], 0) == 0) {
            continue;
        }
        const int hx = cx.m_hitX;
        const int hy = cx.m_hitY;
        At(s, hx, hy);
        cx.Orient(p);
        if (cx.m_arms < 1) {
            continue;
        }
        const int diff = Mod360(cx.m_arm[0].dir - d0);
        if (diff < 90 || diff > 269) {
            At(s, x, y);
            cx.Pastes(hx, hy);
            return;
        }
    }
}

// Any of the eight bytes at p is 0 or 1 (a skeleton node).
bool HasNode(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return AnyByteBelow(v, 2);
}

// Runs fn(x, y, c) on the level-0 pixels of code c 0 or 1 (skeleton nodes) of every cell, in
// the order ForCells and ForCell visit them. A code is read when its pixel's turn comes, as fn
// may redraw pixels; eight or four whole cells without a node are passed over at once.
template <class Fn> void ForNodes(const SkWork& s, Fn fn)
{
    // The buffer and sizes in locals (fn redraws pixels but neither swaps nor resizes them).
    const int W0 = s.W0;
    const int w1 = s.w1;
    const int h1 = s.h1;
    const unsigned char* const cur = s.Cur();
    for (int y = 0; y < h1; ++y) {
        const bool whole = 2 * y + 2 <= s.H0;
        for (int x = 0; x < w1;) {
            if (whole && 2 * x + 8 <= W0) {
                const unsigned char* p = cur + static_cast<std::ptrdiff_t>(2 * y) * W0 + 2 * x;
                if (2 * x + 16 <= W0 && !HasNode(p) && !HasNode(p + 8) && !HasNode(p + W0) &&
                    !HasNode(p + W0 + 8)) {
                    x += 8;
                    continue;
                }
                if (!HasNode(p) && !HasNode(p + W0)) {
                    x += 4;
                    continue;
                }
            }
            ForCell(s, x, y, [&](int xx, int yy) {
                const int c = cur[static_cast<std::ptrdiff_t>(yy) * W0 + xx];
                if (c <= 1) {
                    fn(xx, yy, c);
                }
            });
            ++x;
        }
    }
}

// Repairs on the current buffer: spurs, crossings, gaps; cells whose buffers then differ are
// marked for the second cycle.
void SkRepair(SkWork& s)
{
    Codex& cx = *s.cx;
    auto each = [&](auto fn) { ForNodes(s, fn); };
    each([&](int x, int y, int c) {
        if (c == 1) {
            At(s, x, y);
            cx.Branch(Period(s, x, y) - (s.quick ? 1 : 0), Orientation(s, x, y));
        }
    });
    each([&](int x, int y, int c) {
        if (c == 0) {
            for (int len = Period(s, x, y) / 2 + 2; len >= 1; --len) {
                if (Splits(s, x, y, len, Orientation(s, x, y)) != 0) {
                    break;
                }
            }
        }
    });
    each([&](int x, int y, int c) {
        if (c == 1) {
            SkDumb(s, x, y);
        }
    });
    ForCells(s, 0, [&](int x, int y, int b) {
        if ((s.fg[b] & FINGER_BIT) == 0) {
            return;
        }
        if ((s.cls[b] & CELL_KEEP) != 0) {
            return;
        }
        bool differ = false;
        if (2 * x + 2 <= s.W0 && 2 * y + 2 <= s.H0) {
            // A whole cell: its two pixel pairs.
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(2 * y) * s.W0 + 2 * x;
            differ = std::memcmp(s.l4 + o, s.l5 + o, 2) != 0 ||
                     std::memcmp(s.l4 + o + s.W0, s.l5 + o + s.W0, 2) != 0;
        } else {
            ForCell(s, x, y, [&](int xx, int yy) {
                const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(yy) * s.W0 + xx;
                differ = differ || s.l4[o] != s.l5[o];
            });
        }
        if (differ) {
            s.cls[b] = static_cast<unsigned char>(s.cls[b] | CELL_REOPEN);
        }
    });
}

// Any of the eight rays of `length` from (x, y) reaches the background.
bool RaysOut(SkWork& s, int x, int y, int length)
{
    for (int a = 0; a < 360; a += 45) {
        At(s, x, y);
        if (s.cx->SkeOut(a, length, 0) != 0) {
            return true;
        }
    }
    return false;
}

// Edge codes of the cells and the skeleton-cell map.
void SkSign(SkWork& s)
{
    std::memset(s.edge, 0, s.cx->m_level[CELL_LEVEL].size);
    // The layers and sizes in locals, which the byte writes cannot change.
    unsigned char* const cls = s.cls;
    unsigned char* const marks = s.marks;
    const unsigned char* const cur = s.Cur();
    const std::ptrdiff_t W0 = s.W0;
    const int H0 = s.H0;
    const int w1 = s.w1;
    const int h1 = s.h1;
    auto cell = [&](int x, int y, int b) {
        cls[b] = static_cast<unsigned char>(cls[b] | CELL_SEEN);
        int count = 0;
        if (2 * x + 2 <= W0 && 2 * y + 2 <= H0) {
            // A whole cell without skeleton nodes only counts its skeleton pixels.
            const unsigned char* p = cur + 2 * y * W0 + 2 * x;
            const int c[4] = {p[0], p[1], p[W0], p[W0 + 1]};
            if (c[0] > 1 && c[1] > 1 && c[2] > 1 && c[3] > 1) {
                const bool skeleton =
                    c[0] < OBJECT || c[1] < OBJECT || c[2] < OBJECT || c[3] < OBJECT;
                marks[b] = skeleton ? 255 : 0;
                return;
            }
        }
        ForCell(s, x, y, [&](int xx, int yy) {
            const int c = s.Cur()[static_cast<std::ptrdiff_t>(yy) * s.W0 + xx];
            count += c < OBJECT ? 1 : 0;
            if (c > 1) {
                return;
            }
            const int p = s.per[b];
            const int far = 11 * p / 7 + (s.quick ? 2 : 0);
            if (c == 1 && RaysOut(s, xx, yy, 7 * p / 10 + (s.quick ? 1 : 0))) {
                s.edge[b] = EDGE_END;
                return;
            }
            s.edge[b] = RaysOut(s, xx, yy, far) ? EDGE_NEAR : EDGE_INSIDE;
        });
        marks[b] = count > 0 ? 255 : 0;
    };
    // The cells in the order of ForCells; four whole cells without a node at once.
    for (int y = 0; y < h1; ++y) {
        const bool whole = 2 * y + 2 <= H0;
        for (int x = 0; x < w1;) {
            const int b = y * w1 + x;
            if (whole && 2 * x + 8 <= W0) {
                const unsigned char* p = cur + 2 * y * W0 + 2 * x;
                if (!HasNode(p) && !HasNode(p + W0)) {
                    std::uint64_t top;
                    std::uint64_t bottom;
                    std::memcpy(&top, p, sizeof top);
                    std::memcpy(&bottom, p + W0, sizeof bottom);
                    unsigned char skeleton[8]; // non-zero: the column holds a skeleton pixel
                    const std::uint64_t below =
                        BytesBelow(top, OBJECT) | BytesBelow(bottom, OBJECT);
                    std::memcpy(skeleton, &below, sizeof skeleton);
                    for (int i = 0; i < 4; ++i) {
                        cls[b + i] = static_cast<unsigned char>(cls[b + i] | CELL_SEEN);
                        marks[b + i] = (skeleton[2 * i] | skeleton[2 * i + 1]) != 0 ? 255 : 0;
                    }
                    x += 4;
                    continue;
                }
            }
            cell(x, y, b);
            ++x;
        }
    }
}

} // namespace

void SkClassBits(const unsigned char* row, int x0, int x1, std::uint64_t* active,
                 std::uint64_t* thinnable)
{
    ClassBits(row, x0, x1, active, thinnable);
}

void SkMarkDone(unsigned char* row, int w)
{
    MarkDone(row, w);
}

// Built-in thinning decisions; the extraction driver may install other ones.
const std::array<unsigned char, 256> skeletBuilt = kThinning;
std::array<unsigned char, 256> skeletMask = kThinning;

void Codex::Skelet(int)
{
    if (GetKey(163, CELL_LEVEL) == -1) {
        Filter(-1);
    }
    m_stage = SKELET_STAGE;
    OldLay(m_stage);
    m_curLevel = CELL_LEVEL;
    m_winLeft = m_winTop = 0;
    m_winRight = m_level[CELL_LEVEL].width - 1;
    m_winBottom = m_level[CELL_LEVEL].height - 1;

    SkWork s{};
    s.cx = this;
    s.quick = m_quick != 0;
    s.W0 = m_level[0].width;
    s.H0 = m_level[0].height;
    s.w1 = m_level[CELL_LEVEL].width;
    s.h1 = m_level[CELL_LEVEL].height;
    s.l4 = Layer(4, 0);
    s.l5 = Layer(5, 0);
    s.cls = Layer(161, CELL_LEVEL);
    s.chg = Layer(240, CELL_LEVEL);
    s.edge = Layer(164, CELL_LEVEL);
    s.marks = Layer(162, CELL_LEVEL);
    s.per = Layer(56, CELL_LEVEL);
    s.ori = Layer(36, CELL_LEVEL);
    s.fg = Layer(128, CELL_LEVEL);

    // 1..5. Thinning, repairs, thinning again where the repairs changed pixels.
    s.toggle = true;
    std::vector<int> open; // cells the first pass of the second cycle visits
    for (int cycle = 0;; ++cycle) {
        std::memset(s.chg, 0, m_level[CELL_LEVEL].size);
        if (cycle != 0) {
            SkeInit(s, open);
        }
        SkPasses(s, open, cycle == 0);
        if (cycle != 0) {
            break;
        }
        SkRepair(s);
    }
    // 6. Edge codes.
    SkSign(s);
    DelLay(240, CELL_LEVEL);
}

} // namespace wizard73
