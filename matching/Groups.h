// Containers of group building: the growable set NumSet, matched pairs (PairEx2), the group
// of pairs GroupEx with its rotation estimate and geometric compatibility test, the per-side
// length and direction matrix MinutiaePairSet, hit groups of the nest comparison, and the
// candidate records ConflictPos / ConflictPosSet. Allocation failure throws MA_ERR_MEMORY;
// broken invariants (indexes, capacities) stop through ZF_ASSERT.
#pragma once

#include "matching/LinkTables.h"
#include "matching/MatchMath.h"
#include "matching/MatchTypes.h"
#include "platform/assert.h"
#include "records/Unwrap.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace accelMatch {

constexpr int MAX_NESTS = 255;      // minutiae a side keeps
constexpr int GROUP_CAPACITY = 255; // pairs of a group
constexpr int DIR_NOT_COMPUTED = 256;
// Minutia indexes travel as bytes (the candidate and agreeing lists of findAgreeingGallery,
// the free gallery list of findAllCompatiblePairs).
static_assert(MAX_NESTS <= 256, "a minutia index fits a byte");

// Directions atan(ax, ay) of the first quadrant, 0..90, by magnitudes both below
// NEAR_DIRECTIONS (the nearby minutiae and short segments most directions are asked for);
// (0, 0) gives 0. Filled from atan itself, so a lookup answers exactly what atan would.
constexpr int NEAR_DIRECTIONS = 128;
struct NearDirections {
    std::uint8_t dir[NEAR_DIRECTIONS][NEAR_DIRECTIONS];
};
NearDirections fillNearDirections();

// The table, filled on first use (a local static: thread-safe, and nothing reads it before
// it is filled). Loops take the reference once and pass it on.
inline const NearDirections& nearDirections()
{
    static const NearDirections table = fillNearDirections();
    return table;
}

// wrap180(atan(dx, dy)): the direction of (dx, dy) in -180..179, (0, 0) giving 0. Nearby
// vectors mirror the quadrant's direction q by their signs, as atan's octants do: 180 - q
// left of the y axis, negated below the x axis, and 180 itself is -180.
inline int direction180(const NearDirections& near, int dx, int dy)
{
    const std::uint32_t ax =
        dx < 0 ? 0u - static_cast<std::uint32_t>(dx) : static_cast<std::uint32_t>(dx);
    const std::uint32_t ay =
        dy < 0 ? 0u - static_cast<std::uint32_t>(dy) : static_cast<std::uint32_t>(dy);
    if (ax < NEAR_DIRECTIONS && ay < NEAR_DIRECTIONS) {
        const int q = near.dir[ax][ay];
        const int h = dx < 0 ? 180 - q : q;
        const int d = dy < 0 ? -h : h;
        return d == 180 ? -180 : d;
    }
    // atan answers 0..360, brought into -180..179 without a modulo.
    const int a = atan(dx, dy);
    return a < 180 ? a : a - 360;
}

inline int direction180(int dx, int dy)
{
    return direction180(nearDirections(), dx, dy);
}

// One matched pair. Scales: gallery over probe distances around the pair, 256 = 1.0,
// 0 = unknown.
struct PairEx2 {
    std::int16_t np;
    std::int16_t ng;
    Transition transition;
    std::uint16_t scaleX;
    std::uint16_t scaleY;
};
static_assert(sizeof(PairEx2) == 12, "a pair is 12 bytes");

inline bool sameNumSetItem(unsigned a, unsigned b)
{
    return a == b;
}
inline bool sameNumSetItem(const PairEx2& a, const PairEx2& b)
{
    return a.np == b.np && a.ng == b.ng;
}

// Set of at most m_maxItems items in an array allocated on first use (or taken over from
// elsewhere, then not owned).
template <typename T> struct NumSet {
    std::uint32_t m_numItems = 0;
    std::uint32_t m_maxItems = 0;
    std::uint8_t m_owner = 0;
    T* m_items = nullptr;

    NumSet() = default;
    explicit NumSet(std::uint32_t capacity) : m_maxItems(capacity) {}
    NumSet(const NumSet&) = delete;
    NumSet& operator=(const NumSet&) = delete;
    ~NumSet() { release(); }

    // Allocates m_maxItems zeroed items (nothing when the capacity is 0); throws -404.
    void alloc()
    {
        if (m_maxItems == 0) {
            return;
        }
        release();
        m_items = new (std::nothrow) T[m_maxItems];
        if (m_items == nullptr) {
            throw MA_ERR_MEMORY;
        }
        m_owner = 1;
        for (std::uint32_t k = 0; k < m_maxItems; ++k) {
            m_items[k] = T{};
        }
    }

    void release()
    {
        if (m_owner != 0) {
            delete[] m_items;
        }
        m_items = nullptr;
        m_owner = 0;
    }

    std::uint32_t getNumItems() const { return m_numItems; }
    T& operator[](std::size_t k) { return m_items[k]; }
    const T& operator[](std::size_t k) const { return m_items[k]; }

    bool contains(const T& item) const
    {
        for (std::uint32_t k = 0; k < m_numItems; ++k) {
            if (sameNumSetItem(m_items[k], item)) {
                return true;
            }
        }
        return false;
    }

    // Appends unless present (the value 0xFFFFFFFF is never searched) or full.
    bool add(unsigned item)
    {
        if (item != 0xFFFFFFFFu && contains(item)) {
            return false;
        }
        return append(item);
    }

    // Appends without looking for duplicates; false when full.
    bool append(const T& item)
    {
        if (m_numItems >= m_maxItems) {
            return false;
        }
        if (m_items == nullptr) {
            alloc();
        }
        m_items[m_numItems++] = item;
        return true;
    }

    void removeAt(std::size_t pos)
    {
        ZF_ASSERT(pos < m_numItems);
        for (std::size_t k = pos + 1; k < m_numItems; ++k) {
            m_items[k - 1] = m_items[k];
        }
        --m_numItems;
    }

    // Appends, within the free room and looking at as many of other's items, those pairs
    // whose np is not -1 and whose (np, ng) is not present yet.
    NumSet& operator+=(const NumSet<PairEx2>& other);
};

template <> inline NumSet<PairEx2>& NumSet<PairEx2>::operator+=(const NumSet<PairEx2>& other)
{
    if (m_items == nullptr) {
        m_maxItems = other.m_maxItems;
        m_numItems = 0;
        alloc();
    }
    const std::uint32_t room = m_maxItems - m_numItems;
    const std::uint32_t look = other.m_numItems < room ? other.m_numItems : room;
    for (std::uint32_t k = 0; k < look && m_numItems < m_maxItems; ++k) {
        const PairEx2& p = other.m_items[k];
        if (p.np != -1 && !contains(p)) {
            m_items[m_numItems++] = p;
        }
    }
    return *this;
}

// One link pair of a nest comparison; differences on a scale where 256 is the tolerance.
struct HitItem {
    std::int16_t nP;
    std::int16_t nG;
    Transition transition;
    std::int16_t distDif;
    std::int16_t minAngleDif;
    std::int16_t angleDif;
    std::int16_t unused;
};
static_assert(sizeof(HitItem) == 16, "a hit item is 16 bytes");

// An unused hit item: both neighbours -1 (65535), no transition, differences 65535.
constexpr HitItem EMPTY_HIT_ITEM = {-1, -1, TR_NONE, -1, -1, -1, 0};

// The link pairs that agree between two nests under one transition, and their similarity.
struct HitGroup {
    Transition m_transition = TR_NONE;
    std::uint16_t m_sim = 0;
    HitItem* m_items = nullptr;
    std::uint8_t m_numItems = 0;
    std::uint8_t m_maxItems = 0;

    // Appends unless nP (when not -1) or nG (when not -1) is already a neighbour of an item.
    void add(short nP, short nG, Transition t, short distDif, short minAngleDif, short angleDif);
    // Removes item pos, the others keeping their order.
    void remove(std::size_t pos);
};

// Allocates a hit group with `count` preset items in one block (MyException on failure);
// frees one.
HitGroup* newHitGroup(unsigned count);
void freeHitGroup(HitGroup*& g);

struct PairItem {
    std::int32_t len;
    std::int32_t dir; // direction of the vector from j to i, -180..179; 256 = not computed
};

// Lengths and directions between every two minutiae of one side. The lengths are worked
// out when the set is built; a direction when it is first asked for, from the positions the
// set copied then.
struct MinutiaePairSet {
    PairItem m_items[MAX_NESTS][MAX_NESTS];
    std::int16_t m_x[MAX_NESTS];
    std::int16_t m_y[MAX_NESTS];
    // nearDirections(), taken when the set is built: the directions are read through it.
    const NearDirections* m_near = nullptr;

    int getLen(int i, int j) const
    {
        ZF_ASSERT(i != j);
        return m_items[i][j].len;
    }
    // Direction of the vector from j to i; computed and stored (with its reverse) on first use.
    int getAngle(int i, int j)
    {
        ZF_ASSERT(i != j);
        if (m_items[i][j].dir == DIR_NOT_COMPUTED) {
            setAngle(i, j);
        }
        return m_items[i][j].dir;
    }
    void setAngle(int i, int j);
    // Items of the first n rows and columns: lengths of every i != j, every direction not
    // computed, the diagonal {0, 256}.
    void build(const ESK::Lot<short>* minutiae, int n);
};

// Carried minutia: a minutia moved into the other side's frame.
struct MinutiaeShort {
    std::int32_t x;
    std::int32_t y;
    std::int32_t angle;
};

// Forms of GroupEx::isCompatible.
constexpr unsigned IC_STRICT = 0;
constexpr unsigned IC_COLLECT = 1;

// A group of matched pairs with its alignment.
class GroupEx {
public:
    NumSet<PairEx2> m_pair{GROUP_CAPACITY};
    std::int32_t m_rotation = 0; // G relative to P, -180..179
    std::int32_t m_nearHalfTurn = 0;
    std::int32_t m_distUnit = 11;
    std::int32_t m_minAngleTol = 50;
    std::int32_t m_minAngleTolWide = 75;
    std::int32_t m_dirTol = 25;
    std::uint32_t m_numAdded = 0;
    std::uint32_t m_numChanged = 0;
    std::int32_t m_centrePX = 0;
    std::int32_t m_centrePY = 0;
    std::int32_t m_centreGX = 0;
    std::int32_t m_centreGY = 0;
    std::uint32_t m_kernelSize = 0;
    std::uint32_t m_baseSize = 0;
    const ESK::Lot<short>* m_minutiaeP = nullptr;
    const ESK::Lot<short>* m_minutiaeG = nullptr;
    MinutiaePairSet* m_pairSetP = nullptr;
    MinutiaePairSet* m_pairSetG = nullptr;
    const std::uint8_t* m_wideP = nullptr;
    const std::uint8_t* m_wideG = nullptr;
    std::int32_t m_conflictPos = -1;

    // The alignment recalcData computed last and the pairs it came from: the same pairs give
    // the same centroids and rotation, which are then restored instead of computed again.
    // Emptied by reset(); not copied by assignment.
    struct Alignment {
        std::uint32_t numPairs = 0; // 0: none kept
        std::int32_t nearHalfTurn = 0;
        std::int32_t distUnit = 0;
        const ESK::Lot<short>* minutiaeP = nullptr;
        const ESK::Lot<short>* minutiaeG = nullptr;
        std::int32_t centrePX = 0;
        std::int32_t centrePY = 0;
        std::int32_t centreGX = 0;
        std::int32_t centreGY = 0;
        std::int32_t rotation = 0;
        bool hasRotation = false;
        std::int16_t np[GROUP_CAPACITY] = {};
        std::int16_t ng[GROUP_CAPACITY] = {};
    };
    Alignment m_alignment;

    GroupEx() = default;
    GroupEx(const GroupEx&) = delete;
    GroupEx& operator=(const GroupEx& other);

    std::uint32_t getNumItems() const { return m_pair.m_numItems; }
    PairEx2& getPair(std::size_t pos) { return m_pair.m_items[pos]; }
    const PairEx2& getPair(std::size_t pos) const { return m_pair.m_items[pos]; }

    // Empties the group: count, rotation, flag, counters, centroids, sizes 0, conflictPos -1.
    void reset();
    bool add(int np, int ng, Transition t);
    void replace(std::size_t pos, short np, short ng, Transition t);
    void remove(std::size_t pos);
    // Rotation and centroids from the pairs, when there are 2 or more and something changed.
    void recalcData()
    {
        if (m_pair.m_numItems >= 2 && m_numAdded + m_numChanged != 0) {
            realign();
        }
    }
    // recalcData's work once it has found something to do.
    void realign();
    // Is (np, ng) geometrically consistent with the pairs not in `skip`? IC_COLLECT records up
    // to maxConflicts inconsistent positions in `conflicts`; IC_STRICT fails at the first and
    // gives the mean length error through meanError (may be null).
    bool isCompatible(short np, short ng, int level, NumSet<unsigned>& conflicts,
                      std::size_t maxConflicts, int* meanError, NumSet<unsigned>& skip,
                      bool useScale, int scaleX, int scaleY, unsigned form, int /*unused*/)
    {
        const bool scaled = useScale && scaleX != 0 && scaleY != 0;
        if (scaled) {
            recalcData();
        }
        return isCompatibleAligned(np, ng, level, conflicts, maxConflicts, meanError, skip, scaled,
                                   scaleX, scaleY, form);
    }
    // The same test on the rotation and centroids as they stand (isCompatible brings them up
    // to date first when it scales); `scaled` as isCompatible derives it.
    bool isCompatibleAligned(short np, short ng, int level, NumSet<unsigned>& conflicts,
                             std::size_t maxConflicts, int* meanError, NumSet<unsigned>& skip,
                             bool scaled, int scaleX, int scaleY, unsigned form);
    // Does (np, ng) agree in length and direction with pair `pos` (which holds neither
    // minutia)? The per-pair test of isCompatibleAligned; the length error of an agreeing pair
    // (256 = the larger length) through error.
    bool agreesWithPair(short np, short ng, std::size_t pos, int level, bool scaled, int scaleX,
                        int scaleY, int& error) const;
    // For a test that allows no conflict and skips nothing, on candidates (np, ng) whose
    // minutia directions agree: writes to `agreeing`, in order, the gallery minutiae of
    // `candidates` that agree with every pair holding neither minutia of theirs (as
    // isCompatibleAligned finds), and returns their count. Pair `first` (when it exists) is
    // tried first, and a pair that refuses a candidate becomes `first`: this changes no
    // outcome, only how soon a refusal is found.
    int findAgreeingGallery(short np, const std::uint8_t* candidates, int count, int level,
                            bool scaled, int scaleX, int scaleY, std::uint32_t& first,
                            std::uint8_t* agreeing) const;
    // agreesWithPair expanded in place: for the per-pair loops of Groups.cpp only.
    bool agreesWithPairInline(short np, short ng, std::size_t pos, int level, bool scaled,
                              int scaleX, int scaleY, int& error) const;
    // Local scale of pair (p, g) from the other pairs, gallery positions carried into the
    // probe frame by carriedG.
    void calcScaleForOnePair(const MinutiaeShort* carriedG, int p, int g, short& scaleX,
                             short& scaleY) const;
    // calcScaleForOnePair of every pair, into its scales (read by none of those sums).
    void calcScalesForAllPairs(const MinutiaeShort* carriedG);
};

constexpr int CONFLICT_PAIRS = 10;

// One candidate way of growing the current group: pairs to add, positions to give up.
struct ConflictPos {
    PairEx2 pairs[CONFLICT_PAIRS];
    std::uint32_t positions[2];
    std::uint32_t numPositions;
    std::uint32_t m_numPairs;

    const PairEx2& getPair(std::size_t pos) const
    {
        ZF_ASSERT(pos < m_numPairs);
        return pairs[pos];
    }
};

struct ConflictPosSet {
    std::uint32_t m_capacity = 0;
    std::uint32_t m_numItems = 0;
    ConflictPos* m_items = nullptr;

    ConflictPosSet(ConflictPos* items, std::uint32_t capacity)
        : m_capacity(capacity), m_items(items)
    {
    }

    bool insert(const ConflictPos& c);
    ConflictPos& getItem(std::size_t pos)
    {
        ZF_ASSERT(pos < m_numItems);
        return m_items[pos];
    }
    int getProfit(std::size_t pos) const
    {
        ZF_ASSERT(pos < m_numItems);
        return static_cast<int>(m_items[pos].m_numPairs) -
               static_cast<int>(m_items[pos].numPositions);
    }
};

} // namespace accelMatch
