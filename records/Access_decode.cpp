// Section decoders of the record reader. Bit streams are least significant bit first, byte
// after byte; every read is checked against the section's end before it is made, so a
// damaged section is refused (0) and never read past. Integers only, except an exact
// integer square root seeded from double.

#include "records/Access_decode.h"

#include "records/TemplateFormat.h"

#include <cmath>
#include <cstring>

namespace ESK {
namespace {

// The eight bytes at p as a little-endian integer.
template <typename Byte> std::uint64_t Load64(const Byte* p)
{
    static_assert(sizeof(Byte) == 1, "sections are byte arrays");
    std::uint64_t w = 0;
    std::memcpy(&w, p, sizeof w);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        w = __builtin_bswap64(w);
    }
    return w;
}

// Bit cursor over one section; the position is counted in bits from the section's start.
template <typename Byte> class BitCursor {
public:
    BitCursor(const Byte* data, std::uint32_t size, std::uint64_t pos)
        : m_data(data), m_size(size), m_bits(8ull * size), m_pos(pos)
    {
    }

    // Bits of the section after the position.
    std::uint64_t Left() const { return m_pos > m_bits ? 0 : m_bits - m_pos; }

    // The next 57 bits or more from the position, the first in bit 0; bits past the
    // section's end read as 0. Reads only bytes of the section.
    std::uint64_t Peek() const
    {
        const std::uint64_t byte = m_pos >> 3;
        std::uint64_t w = 0;
        if (byte + 8 <= m_size) {
            w = Load64(m_data + byte);
        } else {
            for (std::uint64_t k = byte; k < m_size; ++k) {
                w |= static_cast<std::uint64_t>(static_cast<unsigned char>(m_data[k]))
                     << (8 * (k - byte));
            }
        }
        return w >> (m_pos & 7);
    }

    // Moves past n bits the caller has found inside the section (n <= Left()).
    void Skip(unsigned n) { m_pos += n; }

    // Reads n bits into v when n <= 32 and they lie inside the section; false (nothing
    // read) otherwise.
    bool Read(unsigned n, std::uint32_t& v)
    {
        if (n > 32 || n > Left()) {
            return false;
        }
        v = static_cast<std::uint32_t>(Peek() & ((std::uint64_t{1} << n) - 1));
        m_pos += n;
        return true;
    }

    std::uint64_t Pos() const { return m_pos; }

private:
    const Byte* m_data;
    std::uint64_t m_size;
    std::uint64_t m_bits;
    std::uint64_t m_pos;
};

// One form of a link slot's code, from the slot's first four bits: the code, the bits the
// code takes (2 for an empty slot, 3 for codes 1, 2, 5, 6, 4 for codes 3, 7, 11, 15) and
// the width of the extra bits that follow it.
struct alignas(8) SlotForm { // eight bytes: a form is found by a shift
    std::uint8_t code;
    std::uint8_t codeBits;
    std::uint8_t extraBits;
    std::uint8_t taken;     // codeBits + extraBits
    std::uint8_t extraMask; // the low 8 bits of (1 << extraBits) - 1: the bits a slot keeps
};

// The 16 slot forms of a link section whose head gives extra width w3: with w3 = 1 only
// codes whose first two bits are 3 carry one extra bit, otherwise every non-empty code
// carries w3 bits.
void SlotForms(unsigned w3, SlotForm forms[16])
{
    for (unsigned nib = 0; nib < 16; ++nib) {
        const unsigned c = nib & 3u;
        SlotForm& f = forms[nib];
        if (c == 3) {
            f.code = static_cast<std::uint8_t>(4 * ((nib >> 2) & 3u) + 3);
            f.codeBits = 4;
        } else if (c != 0) {
            f.code = static_cast<std::uint8_t>(c + 4 * ((nib >> 2) & 1u));
            f.codeBits = 3;
        } else {
            f.code = 0;
            f.codeBits = 2;
        }
        f.extraBits =
            static_cast<std::uint8_t>(w3 == 1 ? (c == 3 ? 1 : 0) : (f.code != 0 ? w3 : 0));
        f.taken = static_cast<std::uint8_t>(f.codeBits + f.extraBits);
        f.extraMask = static_cast<std::uint8_t>((1u << f.extraBits) - 1);
    }
}

// Writes a slot given as one word, the fields at their byte offsets in LinkSlot: code bits
// 0-7, direction 8-15, turn 16-23, extra 24-31, distance 32-47, neighbour 48-63.
inline void StoreSlot(LinkSlot& slot, std::uint64_t word)
{
    static_assert(sizeof(LinkSlot) == sizeof word, "a slot is one 64-bit word");
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
        std::memcpy(&slot, &word, sizeof word);
    } else {
        slot.code = static_cast<std::uint8_t>(word);
        slot.direction = static_cast<std::uint8_t>(word >> 8);
        slot.turn = static_cast<std::uint8_t>(word >> 16);
        slot.extra = static_cast<std::uint8_t>(word >> 24);
        slot.distance = static_cast<std::uint16_t>(word >> 32);
        slot.neighbour = static_cast<std::uint16_t>(word >> 48);
    }
}

// A slot read from the low bits of a window: its word (code, and extra bits at bits 24-31)
// and the bits it takes.
struct SlotRead {
    std::uint32_t word;
    std::uint32_t taken;
};

// Reads slots through their forms: any extra width.
struct SlotFormReader {
    const SlotForm* forms;

    SlotRead operator()(std::uint64_t window) const
    {
        const SlotForm& f = forms[window & 15u];
        return SlotRead{
            f.code | ((static_cast<std::uint32_t>(window >> f.codeBits) & f.extraMask) << 24),
            f.taken};
    }
};

// Reads slots whole through a table by their first bits, as many as the longest slot takes;
// for the extra widths whose slots take at most SLOT_TABLE_BITS bits (w3 up to 4).
constexpr unsigned SLOT_TABLE_BITS = 8;

struct SlotTableReader {
    const SlotRead* table;
    std::uint64_t mask; // 2^(bits of the longest slot) - 1

    SlotRead operator()(std::uint64_t window) const { return table[window & mask]; }
};

// Fills table with the slots of every value of the longest slot's bits, and answers its
// reader; a reader without a table when a slot takes more than SLOT_TABLE_BITS bits.
SlotTableReader SlotTable(const SlotForm forms[16], SlotRead table[1u << SLOT_TABLE_BITS])
{
    unsigned bits = 0;
    for (int k = 0; k < 16; ++k) {
        bits = forms[k].taken > bits ? forms[k].taken : bits;
    }
    if (bits > SLOT_TABLE_BITS) {
        return SlotTableReader{nullptr, 0};
    }
    // A slot's word depends on its own bits only, which the first `bits` bits hold.
    const SlotFormReader read{forms};
    for (std::uint32_t v = 0; v < (1u << bits); ++v) {
        table[v] = read(v);
    }
    return SlotTableReader{table, (std::uint64_t{1} << bits) - 1};
}

// Bits a link block's slot codes take at most: 35 slots of 4 code and 15 extra bits.
constexpr std::uint64_t MAX_SLOT_BITS = ESK_LINK_SLOTS * 19ull;

// Reads the codes and extra bits of one minutia's `slots` slots: the index and word (code,
// and extra bits at bits 24-31) of each non-empty slot go to filled and words, their number
// to nFilled. False, with the section refused, when a slot would reach past its end.
// Codes are taken through a window of 57 bits or more (or all that is left), refilled once
// more than 38 of its bits are used: a slot takes at most 4 + 15 bits. With nearEnd false
// the caller has found MAX_SLOT_BITS + 57 bits or more left, so every refill finds 57 bits
// and no slot can reach past the end: the checks against the end fall away.
template <bool nearEnd, typename Byte, typename Reader>
bool SlotCodes(BitCursor<Byte>& bits, const Reader& read, int slots, std::uint8_t* filled,
               std::uint32_t* words, unsigned& nFilled)
{
    constexpr std::uint64_t FAR = 57;
    std::uint64_t window = bits.Peek();
    std::uint64_t left = nearEnd ? bits.Left() : FAR;
    unsigned used = 0;
    unsigned n = 0;
    for (int s = 0; s < slots; ++s) {
        if (used > 38) {
            bits.Skip(used);
            window = bits.Peek();
            left = nearEnd ? bits.Left() : FAR;
            used = 0;
        }
        if ((window & 3u) == 0) {
            // A run of empty slots (two 0 bits each) is passed at once, as far as the
            // window's valid bits (57, or all that is left) and the minutia's slots go. When
            // not even one fits, the check below refuses the section.
            const std::uint64_t valid = left < 57 ? left : 57;
            const unsigned fit = static_cast<unsigned>((valid - used) / 2);
            unsigned run =
                static_cast<unsigned>(__builtin_ctzll(window | (std::uint64_t{1} << 63))) / 2;
            run = run < fit ? run : fit;
            run = run < static_cast<unsigned>(slots - s) ? run : static_cast<unsigned>(slots - s);
            if (run != 0) {
                window >>= 2 * run;
                used += 2 * run;
                s += static_cast<int>(run) - 1;
                continue;
            }
        }
        const SlotRead slot = read(window);
        if (nearEnd && left < 57 && slot.taken > left - used) {
            return false;
        }
        // Only a non-empty slot gets here: an empty one starts a run of at least itself
        // unless none fits, and then it is refused above.
        filled[n] = static_cast<std::uint8_t>(s);
        words[n++] = slot.word;
        window >>= slot.taken;
        used += slot.taken;
    }
    bits.Skip(used);
    nFilled = n;
    return true;
}

// Reads one minutia's slot codes (SlotCodes), checking against the section's end only near it.
template <typename Byte, typename Reader>
bool SlotCodesAt(BitCursor<Byte>& bits, const Reader& read, int slots, std::uint8_t* filled,
                 std::uint32_t* words, unsigned& nFilled)
{
    return bits.Left() < MAX_SLOT_BITS + 57
               ? SlotCodes<true>(bits, read, slots, filled, words, nFilled)
               : SlotCodes<false>(bits, read, slots, filled, words, nFilled);
}

// Bytes a stream has used once it stands at bit p: 4 per completed 32-bit word, then 1 for
// bits 1..7 of the current word and p / 8 + 1 from bit 8 on (so a stream ending on a byte
// boundary inside a word counts one byte more than it filled).
std::uint64_t UsedBytes(std::uint64_t p)
{
    const unsigned r = static_cast<unsigned>(p % 32);
    return 4 * (p / 32) + (r == 0 ? 0 : r / 8 + 1);
}

// Bytes that bits [0, p) fill. A stream takes another item only while a whole byte is left
// after them, so the last item is never dropped however it falls on byte boundaries.
std::uint64_t FilledBytes(std::uint64_t p)
{
    return (p + 7) / 8;
}

// A stream that stands at bit p after its last item ends with a section of `size` bytes.
bool EndsWith(std::uint64_t p, std::uint32_t size)
{
    const std::uint64_t used = UsedBytes(p);
    return used == size || used == size + 1ull;
}

template <typename Byte> std::uint32_t Read32(const Byte* p)
{
    unsigned char b[4];
    for (int k = 0; k < 4; ++k) {
        b[k] = static_cast<unsigned char>(p[k]);
    }
    return TfRead32(b);
}

// The eight field widths of a point section's head.
template <typename Byte> void PointWidths(const Byte* sec, unsigned widths[TF_POINT_FIELD_COUNT])
{
    const std::uint32_t head = Read32(sec);
    for (int k = 0; k < TF_POINT_FIELD_COUNT; ++k) {
        widths[k] = (head >> (4 * k)) & 15u;
    }
}

// Decoded angle from the stored angle field.
short PointAngle(std::uint32_t stored, bool layoutI, bool factor)
{
    std::uint32_t a = stored;
    if (!factor) {
        a = layoutI ? stored * 2 : (stored * 45) >> 5; // degrees
    } else if (layoutI) {
        a = ((((stored * 2) & 0xFFFFu) * 365) >> 9) & 255u; // 256 units a turn
    }
    return static_cast<short>(static_cast<std::uint16_t>(a));
}

} // namespace

// clang-format off
const std::uint8_t TbArctg[257] = {
    /*   0 */  0,  0,  0,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  2,  2,
    /*  16 */  3,  3,  3,  3,  3,  3,  4,  4,  4,  4,  4,  4,  5,  5,  5,  5,
    /*  32 */  5,  5,  5,  6,  6,  6,  6,  6,  6,  7,  7,  7,  7,  7,  7,  7,
    /*  48 */  8,  8,  8,  8,  8,  8,  9,  9,  9,  9,  9,  9,  9, 10, 10, 10,
    /*  64 */ 10, 10, 10, 11, 11, 11, 11, 11, 11, 11, 12, 12, 12, 12, 12, 12,
    /*  80 */ 12, 13, 13, 13, 13, 13, 13, 13, 14, 14, 14, 14, 14, 14, 14, 15,
    /*  96 */ 15, 15, 15, 15, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 17, 17,
    /* 112 */ 17, 17, 17, 17, 17, 18, 18, 18, 18, 18, 18, 18, 18, 19, 19, 19,
    /* 128 */ 19, 19, 19, 19, 19, 20, 20, 20, 20, 20, 20, 20, 20, 21, 21, 21,
    /* 144 */ 21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 22, 22, 23, 23,
    /* 160 */ 23, 23, 23, 23, 23, 23, 23, 24, 24, 24, 24, 24, 24, 24, 24, 24,
    /* 176 */ 25, 25, 25, 25, 25, 25, 25, 25, 25, 26, 26, 26, 26, 26, 26, 26,
    /* 192 */ 26, 26, 26, 27, 27, 27, 27, 27, 27, 27, 27, 27, 27, 28, 28, 28,
    /* 208 */ 28, 28, 28, 28, 28, 28, 28, 29, 29, 29, 29, 29, 29, 29, 29, 29,
    /* 224 */ 29, 29, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 31, 31,
    /* 240 */ 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 32, 32, 32, 32, 32, 32,
    /* 256 */ 32,
};
// clang-format on

namespace {

// Direction of (ax, ay), both >= 0 and not both 0, within the first quadrant (0..64): the
// first octant's from the table, folded past the diagonal by the slope.
inline int ArQuadrantDirection(int ax, int ay)
{
    const bool steep = ax < ay;
    const int large = steep ? ay : ax;
    const int small = steep ? ax : ay;
    const int t = TbArctg[256 * small / large];
    return steep ? 64 - t : t;
}

// The first quadrant's direction q of (|dx|, |dy|) folded into the left half and below the
// axis by the signs of (dx, dy), mod 256.
inline int ArFoldedDirection(int q, int dx, int dy)
{
    int t = dx < 0 ? 128 - q : q;
    t = dy < 0 ? -t : t;
    return t & 255; // mod 256, also for a negative value
}

// Direction of a vector other than (0, 0), for the decoders of this file.
inline int ArNonNullDirection(int dx, int dy)
{
    return ArFoldedDirection(ArQuadrantDirection(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy), dx, dy);
}

// Links join nearby minutiae: for magnitudes (ax, ay) both below AR_NEAR the first
// quadrant's direction and the link length are read from a table filled by the functions
// they replace, so a lookup answers exactly what they would. (0, 0) holds 0, 0.
constexpr int AR_NEAR = 128;

struct ArNearLink {
    std::uint8_t direction; // 0..64
    std::uint8_t distance;  // floor(sqrt(ax^2 + ay^2)) <= 179
};

struct ArNearTable {
    ArNearLink at[AR_NEAR][AR_NEAR];
};

ArNearTable ArFillNear()
{
    ArNearTable table{};
    for (int ax = 0; ax < AR_NEAR; ++ax) {
        for (int ay = 0; ay < AR_NEAR; ++ay) {
            if (ax != 0 || ay != 0) {
                const auto d2 = static_cast<std::uint64_t>(ax * ax + ay * ay);
                table.at[ax][ay] =
                    ArNearLink{static_cast<std::uint8_t>(ArQuadrantDirection(ax, ay)),
                               static_cast<std::uint8_t>(LinkDistance(d2))};
            }
        }
    }
    return table;
}

// The table, filled on first use (a local static: thread-safe, and nothing reads it before it
// is filled). A decoder takes the reference once per section; kept out of line so that the
// filling code stays out of the decoder's loops.
[[gnu::noinline]] const ArNearTable& ArNearLinks()
{
    static const ArNearTable table = ArFillNear();
    return table;
}

// All of a slot's word but its code and extra bits for a link from the minutia at (mx, my)
// with angle ma to minutia j: the neighbour's type flag (code bit 3), direction, turn,
// distance and index, nearby ones from `near`. A neighbour on the minutia itself has only
// its type flag and index.
inline std::uint64_t LinkTo(const ArNearTable& near, const Lot<short>& n, unsigned j, int mx,
                            int my, int ma)
{
    const int dx = n.x - mx;
    const int dy = n.y - my;
    std::uint64_t to = (n.type == 1 ? 8u : 0u) | (static_cast<std::uint64_t>(j & 0x7FFF) << 48);
    if (dx != 0 || dy != 0) {
        const int ax = dx < 0 ? -dx : dx;
        const int ay = dy < 0 ? -dy : dy;
        int q;
        unsigned length;
        if (ax < AR_NEAR && ay < AR_NEAR) {
            q = near.at[ax][ay].direction;
            length = near.at[ax][ay].distance;
        } else {
            q = ArQuadrantDirection(ax, ay);
            length = LinkDistance(static_cast<std::uint64_t>(static_cast<std::int64_t>(dx) * dx +
                                                             static_cast<std::int64_t>(dy) * dy));
        }
        const unsigned direction = (ArFoldedDirection(q, dx, dy) - ma) & 255;
        const unsigned turn = (n.angle - ma) & 255;
        to |= (direction << 8) | (turn << 16) | (static_cast<std::uint64_t>(length) << 32);
    }
    return to;
}

} // namespace

int Arctg(int dx, int dy)
{
    return dx == 0 && dy == 0 ? 0 : ArNonNullDirection(dx, dy);
}

// Below 512^2 the correctly rounded double root of v is never pushed up to the next integer
// (it stays at least 1/1024 below it), so truncation gives the integer root.
unsigned LinkDistance(std::uint64_t v)
{
    constexpr std::uint64_t cap = 511;
    if (v >= (cap + 1) * (cap + 1)) {
        return static_cast<unsigned>(cap);
    }
    return static_cast<unsigned>(std::sqrt(static_cast<double>(static_cast<std::uint32_t>(v))));
}

template <typename Byte>
unsigned Access_decode<Byte>::PointCount(const Byte* sec, std::uint32_t size, unsigned cap) const
{
    if (sec == nullptr || size < 4) {
        return 0;
    }
    unsigned widths[TF_POINT_FIELD_COUNT];
    PointWidths(sec, widths);
    unsigned sum = 0;
    for (unsigned w : widths) {
        sum += w;
    }
    if (sum == 0) {
        return 0;
    }
    const std::uint64_t n = (8ull * size - TF_POINT_HEAD_BITS) / sum;
    return n > cap ? 0 : static_cast<unsigned>(n);
}

template <typename Byte>
unsigned Access_decode<Byte>::Points(Lot<short>* out, const Byte* sec, std::uint32_t size,
                                     unsigned cap, bool layoutI, bool factor) const
{
    // Only points whose bits lie wholly inside the section are decoded: that is exactly
    // the count query's answer.
    const unsigned n = PointCount(sec, size, cap);
    if (sec == nullptr || size < 4 || out == nullptr) {
        return 0;
    }
    unsigned widths[TF_POINT_FIELD_COUNT];
    PointWidths(sec, widths);
    std::uint32_t masks[TF_POINT_FIELD_COUNT];
    unsigned offsets[TF_POINT_FIELD_COUNT]; // of each field within a point
    unsigned pointBits = 0;
    for (int k = 0; k < TF_POINT_FIELD_COUNT; ++k) {
        masks[k] = (1u << widths[k]) - 1;
        offsets[k] = pointBits;
        pointBits += widths[k];
    }
    // The fields lie inside the section (decoded < n) and take at most 15 bits each: one
    // window of 57 bits or more serves them until the next would pass its end, and so serves
    // a whole point that takes 57 bits or fewer, its fields read at their offsets.
    const bool oneWindow = pointBits <= 57;
    BitCursor<Byte> bits(sec, size, TF_POINT_HEAD_BITS);
    unsigned decoded = 0;
    while (decoded < n && FilledBytes(bits.Pos()) < size) {
        std::uint32_t f[TF_POINT_FIELD_COUNT];
        if (oneWindow) {
            const std::uint64_t window = bits.Peek();
#pragma GCC unroll 8
            for (int k = 0; k < TF_POINT_FIELD_COUNT; ++k) {
                f[k] = static_cast<std::uint32_t>(window >> offsets[k]) & masks[k];
            }
            bits.Skip(pointBits);
        } else {
            std::uint64_t window = bits.Peek();
            unsigned used = 0;
            for (int k = 0; k < TF_POINT_FIELD_COUNT; ++k) {
                if (used + widths[k] > 57) {
                    bits.Skip(used);
                    window = bits.Peek();
                    used = 0;
                }
                f[k] = static_cast<std::uint32_t>(window) & masks[k];
                window >>= widths[k];
                used += widths[k];
            }
            bits.Skip(used);
        }
        Lot<short>& p = out[decoded++];
        p.x = static_cast<short>(f[TF_FIELD_X]);
        p.y = static_cast<short>(f[TF_FIELD_Y]);
        p.type = static_cast<std::uint8_t>(f[TF_FIELD_TYPE]);
        p.level = static_cast<std::uint8_t>(f[TF_FIELD_LEVEL] + (layoutI ? TF_DENSITY_BIAS : 0));
        p.quality = static_cast<std::uint8_t>(f[TF_FIELD_QUALITY]);
        p.angle = PointAngle(f[TF_FIELD_ANGLE], layoutI, factor);
        p.axis = static_cast<std::uint8_t>(f[TF_FIELD_AXIS]);
        p.aux = static_cast<std::uint8_t>(f[TF_FIELD_AUX]);
    }
    return EndsWith(bits.Pos(), size) ? decoded : 0;
}

template <typename Byte>
unsigned Access_decode<Byte>::Links(Link* out, const Lot<short>* minutiae, unsigned count,
                                    unsigned linkno, const Byte* sec, std::uint32_t size) const
{
    if (out == nullptr || minutiae == nullptr || sec == nullptr || count == 0 ||
        linkno > TF_MAX_LINKNO) {
        return 0; // more rings than a Link has slots for
    }
    // 1. Head: six nibbles; the three word widths must not be 0.
    BitCursor<Byte> bits(sec, size, 0);
    std::uint32_t head = 0;
    if (!bits.Read(TF_NEST_HEAD_BITS, head)) {
        return 0;
    }
    if ((head & 15u) == 0 || ((head >> 4) & 15u) == 0 || ((head >> 8) & 15u) == 0) {
        return 0;
    }
    SlotForm forms[16];
    SlotForms((head >> 12) & 15u, forms);
    SlotRead slotTable[1u << SLOT_TABLE_BITS];
    const SlotTableReader tableReader = SlotTable(forms, slotTable);
    const SlotFormReader formReader{forms};
    const unsigned w4 = (head >> 16) & 15u;
    const unsigned w5 = (head >> 20) & 15u;
    // The slots of a minutia name the same neighbour several times: the link to a neighbour
    // (all of a slot's word but its code and extra bits) is kept in a small cache by
    // (minutia, neighbour) and worked out once.
    constexpr unsigned CACHE_SIZE = 64;
    std::uint64_t cacheTag[CACHE_SIZE];
    std::uint64_t cacheLink[CACHE_SIZE];
    for (std::uint64_t& t : cacheTag) {
        t = ~std::uint64_t{0}; // no minutia index reaches 2^32 - 1
    }
    const ArNearTable& near = ArNearLinks();

    for (unsigned i = 0; i < count; ++i) {
        const Lot<short>& m = minutiae[i];
        Link& link = out[i];
        // Every slot starts empty; only the non-empty ones are written, in step 3.
        std::memset(link.slot, 0, sizeof link.slot);
        // 2. Slot codes and their extra bits: the non-empty slots are kept, with their words,
        // for step 3. Far from the section's end no slot needs a check against it.
        const int slots =
            m.type != 0 ? 2 * static_cast<int>(linkno) - 1 : 2 * static_cast<int>(linkno) + 1;
        std::uint8_t filled[ESK_LINK_SLOTS];
        std::uint32_t words[ESK_LINK_SLOTS];
        unsigned nFilled = 0;
        if (!(tableReader.table != nullptr
                  ? SlotCodesAt(bits, tableReader, slots, filled, words, nFilled)
                  : SlotCodesAt(bits, formReader, slots, filled, words, nFilled))) {
            return 0;
        }
        link.count = static_cast<std::uint8_t>(nFilled == 0 ? 0 : filled[nFilled - 1] + 1);

        // 3. Base and index width, then one index per non-empty slot; the indexes are taken
        // all or the section is refused.
        // Both words are read at once (w4 + w5 <= 30 bits): the section is refused when they
        // do not both fit, as when either does not.
        std::uint32_t words45 = 0;
        if (!bits.Read(w4 + w5, words45)) {
            return 0;
        }
        const std::uint32_t base = words45 & ((1u << w4) - 1);
        const std::uint32_t iw = words45 >> w4;
        if (nFilled == 0) {
            continue;
        }
        if (iw > 32 || std::uint64_t{iw} * nFilled > bits.Left()) {
            return 0;
        }
        const std::uint64_t indexMask = (std::uint64_t{1} << iw) - 1;
        const int mx = m.x;
        const int my = m.y;
        const int ma = m.angle;
        const std::uint64_t tagOfI = std::uint64_t{i} << 32;
        // One window of 57 bits or more serves 57 / iw indexes.
        const unsigned perWindow = iw == 0 ? nFilled : 57 / iw;
        for (unsigned k = 0; k < nFilled;) {
            std::uint64_t window = bits.Peek();
            const unsigned end = nFilled - k < perWindow ? nFilled : k + perWindow;
            bits.Skip((end - k) * iw);
            for (; k < end; ++k) {
                const std::uint64_t j = base + (window & indexMask);
                window >>= iw;
                if (j >= count) {
                    return 0;
                }
                const std::uint64_t tag = tagOfI | j;
                const unsigned entry = static_cast<unsigned>(j) & (CACHE_SIZE - 1);
                if (cacheTag[entry] != tag) {
                    cacheTag[entry] = tag;
                    cacheLink[entry] =
                        LinkTo(near, minutiae[j], static_cast<unsigned>(j), mx, my, ma);
                }
                StoreSlot(link.slot[filled[k]], words[k] | cacheLink[entry]);
            }
        }
    }
    return EndsWith(bits.Pos(), size) ? count : 0;
}

template <typename Byte>
unsigned Access_decode<Byte>::RidgeCounts(unsigned char* out, const Byte* sec,
                                          std::uint32_t size) const
{
    if (out == nullptr || sec == nullptr) {
        return 0;
    }
    BitCursor<Byte> bits(sec, size, 0);
    unsigned n = 0;
    while (FilledBytes(bits.Pos()) < size) {
        BitCursor<Byte> next = bits; // an entry is taken only when all its bits fit
        std::uint32_t c = 0;
        std::uint32_t v = 0;
        if (!next.Read(TF_ABAC_SPREAD_BITS, c) ||
            (c != 0 && !next.Read(TF_ABAC_COUNT_BITS - TF_ABAC_SPREAD_BITS, v))) {
            break;
        }
        bits = next;
        out[n++] = static_cast<unsigned char>(4 * v + c);
    }
    return EndsWith(bits.Pos(), size) ? n : 0;
}

template <typename Byte>
std::uint32_t Access_decode<Byte>::AreaCells(const Byte* sec, std::uint32_t size) const
{
    if (sec == nullptr || size < TF_AREA_HEAD_SIZE) {
        return 0;
    }
    const std::uint32_t head = Read32(sec);
    return (head & 0xFFFFu) * (head >> 16);
}

template <typename Byte>
std::uint32_t Access_decode<Byte>::Area(unsigned char* out, const Byte* sec,
                                        std::uint32_t size) const
{
    // The head and the first run byte must be there.
    if (out == nullptr || sec == nullptr || size < TF_AREA_HEAD_SIZE + 1) {
        return 0;
    }
    const std::uint32_t cells = AreaCells(sec, size);
    if (cells > ESK_MAX_AREA_CELLS) {
        return 0;
    }
    unsigned char state = TF_CELL_OUTSIDE; // the first run counts cells outside the finger
    std::uint32_t filled = 0;
    std::uint32_t pos = TF_AREA_HEAD_SIZE;
    for (;;) {
        const std::uint32_t run = static_cast<unsigned char>(sec[pos++]);
        if (run > cells - filled) {
            return 0; // a run past the mask's last cell
        }
        std::memset(out + filled, state, run);
        filled += run;
        if (filled == cells) {
            break;
        }
        if (pos >= size) {
            return 0; // the runs end before the mask does
        }
        state = state == TF_CELL_OUTSIDE ? TF_CELL_INSIDE : TF_CELL_OUTSIDE;
    }
    if (pos != size && pos + 1 != size) {
        return 0;
    }
    return Read32(sec);
}

template class Access_decode<unsigned char>;

} // namespace ESK
