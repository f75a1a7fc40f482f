// Nest signatures: for every link of a minutia, one bit for its direction sense, quadrant,
// ridge-count class and distance level (probe links also at the neighbouring level near a
// border); and the all-pairs pass that fills the matcher's signature similarity matrix and
// its histogram within the rotation limit.

#include "matching/NestAccel.h"

#include "matching/LinkTables.h"
#include "matching/Matcher100.h"

#include <cstdlib>
#include <cstring>

namespace accelMatch {

namespace {

// Distance level of every length up to the last border.
struct LevelTable {
    std::int8_t level[MAX_LEVEL_LENGTH + 1];
};

constexpr LevelTable NaLevelTable()
{
    LevelTable t{};
    int l = 0;
    for (unsigned d = 0; d <= MAX_LEVEL_LENGTH; ++d) {
        while (d > g_distBorders[l].border) {
            ++l;
        }
        t.level[d] = static_cast<std::int8_t>(l);
    }
    return t;
}

constexpr LevelTable LEVELS = NaLevelTable();
static_assert(LEVELS.level[20] == 0 && LEVELS.level[21] == 1 && LEVELS.level[227] == 7,
              "levels end at their borders");

NestAccelTables NaMakeTables()
{
    NestAccelTables t{};
    for (int type = 0; type < 2; ++type) {
        for (int k = 0; k < ESK::ESK_LINK_SLOTS; ++k) {
            for (int code = 0; code < NUM_LINK_CODES; ++code) {
                std::uint8_t& out = t.byte[type][k][code];
                out = NEST_ACCEL_NO_BYTE;
                // a. Raw ridge count; a type-1 minutia has no table rows beyond its 33 slots.
                int rc = 0;
                if (!slotRidgeCount(type, k, code, rc)) {
                    continue;
                }
                // b. Quadrant, moved to the next one when the ridge count points across.
                const int q0 = Quadrant[type][k];
                const bool keep = (q0 <= 1 && rc <= 0) || (q0 >= 2 && rc >= 0);
                const int q = keep ? q0 : nextQuadrants[q0];
                // c. Ridge-count class.
                const unsigned r = static_cast<unsigned>(std::abs(rc) / 2);
                if (r >= 4) {
                    continue;
                }
                // d. Direction sense.
                const bool same = isSameDir[code] != 0;
                const bool sameDir = isDownQuadrant[q0] != 0 ? same : !same;
                out = static_cast<std::uint8_t>((sameDir ? 0 : 16) + 4 * q + r);
            }
        }
    }
    for (unsigned length = 0; length <= MAX_LEVEL_LENGTH; ++length) {
        const unsigned level = static_cast<unsigned>(LEVELS.level[length]);
        unsigned extra[2];
        const unsigned ne = getAddDistLevel(length, level, extra);
        unsigned bits = 1u << level;
        t.levelBits[0][length] = static_cast<std::uint8_t>(bits);
        for (unsigned e = 0; e < ne; ++e) {
            bits |= 1u << extra[e]; // every level is below 8
        }
        t.levelBits[1][length] = static_cast<std::uint8_t>(bits);
    }
    return t;
}

} // namespace

NestAccel* allocNestAccel(NestAccel*& p, unsigned n)
{
    freeNestAccel(p);
    p = static_cast<NestAccel*>(
        std::malloc(static_cast<std::size_t>(n == 0 ? 1 : n) * sizeof(NestAccel)));
    return p;
}

void freeNestAccel(NestAccel*& p)
{
    std::free(p);
    p = nullptr;
}

int getDistLevel(unsigned length)
{
    return length <= MAX_LEVEL_LENGTH ? LEVELS.level[length] : -1;
}

unsigned getAddDistLevel(unsigned length, unsigned level, unsigned* extra)
{
    // The differences are unsigned: a negative one is a large number and never counts.
    unsigned n = 0;
    const unsigned tol = g_distBorders[level].tolerance;
    if (g_distBorders[level].border * level - length < tol && level <= 6) {
        extra[n++] = level + 1;
    }
    if (level != 0 && length - g_distBorders[level - 1].border * level < tol) {
        extra[n++] = level - 1;
    }
    return n;
}

void setBit2Accel(NestAccel& a, unsigned ridgeClass, unsigned level, unsigned quadrant,
                  bool sameDir)
{
    ZF_ASSERT(ridgeClass <= 3);
    ZF_ASSERT(quadrant <= 3);
    if (level >= 32) {
        return;
    }
    // Bit 8 r + L of the quadrant's 32-bit word, stored least significant byte first.
    const unsigned bit = 8 * ridgeClass + level;
    if (bit >= 32) {
        return;
    }
    const unsigned byte = (sameDir ? 0 : 16) + 4 * quadrant + bit / 8;
    a.bits[byte] = static_cast<std::uint8_t>(a.bits[byte] | (1u << (bit % 8)));
}

const NestAccelTables& nestAccelTables()
{
    static const NestAccelTables tables = NaMakeTables();
    return tables;
}

void calcNestAccel(bool addLevels, NestAccel& out, const ESK::Lot<short>* minutiae,
                   const ESK::Link* links, unsigned count, unsigned index,
                   const MinutiaePairSet& pairs)
{
    const NestAccelTables& tables = nestAccelTables();
    std::memset(&out, 0, sizeof out);
    const ESK::Link& link = links[index];
    const int type = minutiae[index].type == 1 ? 1 : 0;
    const unsigned slots = link.count < ESK::ESK_LINK_SLOTS ? link.count : ESK::ESK_LINK_SLOTS;
    const std::uint8_t(*slotBytes)[NUM_LINK_CODES] = tables.byte[type];
    const std::uint8_t* levelBits = tables.levelBits[addLevels ? 1 : 0];
    const PairItem* lengths = pairs.m_items[index];
    for (unsigned k = 0; k < slots; ++k) {
        const ESK::LinkSlot& slot = link.slot[k];
        const unsigned n = slot.neighbour;
        const unsigned code = slot.code;
        // Empty slots, links to itself and neighbours outside the kept minutiae add nothing.
        if (code == 0 || code >= NUM_LINK_CODES || n == index || n >= count) {
            continue;
        }
        addLinkToNestAccel(out, slotBytes[k][code], levelBits,
                           static_cast<unsigned>(lengths[n].len));
    }
}

namespace {

// The signature similarity of every (probe, gallery) nest pair within the rotation limit into
// its cell of m_accelSim and the histogram, each counted by Count; the rotations of the
// pairs worked out on the way when there is a limit.
template <unsigned (*Count)(const NestAccel&, const NestAccel&)>
[[gnu::always_inline]] inline void NaCompareAll(Matcher100& m)
{
    // A rotation never exceeds 180 degrees: with a limit of 180 or more every pair is compared
    // (each nest rotation is then worked out when a comparison first needs it).
    const int minTol =
        m.m_minAngleTol < m.m_minAngleTolWide ? m.m_minAngleTol : m.m_minAngleTolWide;
    const bool limited = m.m_maxAngle + minTol < 180;
    // Local copies: the stores of the loop cannot change them, so they stay in registers.
    const NestAccel* accelG = m.m_accelG;
    std::uint32_t* histogram = m.m_accelHistogram;
    const int numG = m.m_numNestG;
    for (int i = 0; i < m.m_numNestP; ++i) {
        const NestAccel a = m.m_accelP[i];
        std::uint8_t* sim = m.m_accelSim[i];
        const auto compare = [&](int j) {
            const unsigned s = Count(a, accelG[j]);
            ZF_ASSERT(s <= MAX_NEST_ACCEL_SIM);
            sim[j] = static_cast<std::uint8_t>(s);
            ++histogram[s];
        };
        if (!limited) {
            // Two pairs a step, which share the work of the loop itself.
            int j = 0;
            for (; j + 2 <= numG; j += 2) {
                compare(j);
                compare(j + 1);
            }
            if (j < numG) {
                compare(j);
            }
            continue;
        }
        for (int j = 0; j < numG; ++j) {
            // Pairs beyond the rotation limit keep a similarity of 0.
            const int rotation = m.nestRotation(i, j);
            if (rotation != 0) {
                m.touchNestCompareCell(i, j);
            }
            m.m_nestCompare[i][j].rotation = static_cast<std::int16_t>(rotation);
            const bool wide = m.m_wideP[i] != 0 || m.m_wideG[j] != 0;
            const int limit = m.m_maxAngle + (wide ? m.m_minAngleTolWide : m.m_minAngleTol);
            if (std::abs(wrap180(rotation + m.m_rotationOffset)) <= limit) {
                compare(j);
            }
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Where the processor has POPCNT, each 64-bit word of a pair is counted by one instruction.
__attribute__((target("popcnt"))) void NaCompareAllPopcnt(Matcher100& m)
{
    NaCompareAll<compNestAccelWords>(m);
}

bool NaHasPopcnt()
{
    static const bool has = __builtin_cpu_supports("popcnt") != 0;
    return has;
}
#endif

} // namespace

int Matcher100::compareAllNestAccel()
{
    std::memset(m_accelHistogram, 0, sizeof m_accelHistogram);
#if defined(__x86_64__) || defined(__i386__)
    if (NaHasPopcnt()) {
        NaCompareAllPopcnt(*this);
        return m_numNestP * m_numNestG;
    }
#endif
    NaCompareAll<compNestAccel>(*this);
    return m_numNestP * m_numNestG;
}

} // namespace accelMatch
