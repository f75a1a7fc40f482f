// Angular accumulators of CWork: ring callbacks for Spiral that sum doubled-angle direction
// vectors per sector or per pair of opposite sectors, rotation sums against the rank object's
// angle curve, direction pickers among four candidates, the zero-mean kernel builder GemWeb,
// and Targum. Directions in layers are half-turn bytes (0..179); ring angles whole degrees.

#include "extraction/engine/Codex.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace {

// The whole-ring loops take two points a step.
static_assert(kRingEntries[0] % 2 == 0 && kRingEntries[1] % 2 == 0 && kRingEntries[2] % 2 == 0 &&
                  kRingEntries[3] % 2 == 0 && kRingEntries[4] % 2 == 0,
              "rings of even point counts");

// Any difference in degrees brought into -179..180.
int Fold180(int d)
{
    const int m = Mod360(d);
    return m > 180 ? m - 360 : m;
}

// Axial distance 0..90 between two angles in degrees. The pickers' differences (a byte less an
// angle of 0..359) lie within one turn either way, which a conditional add brings into 0..359.
constexpr int Axial(int a, int b)
{
    const int e = a - b;
    const int m = e >= -360 && e < 360 ? (e < 0 ? e + 360 : e) : Mod360(e);
    const int d = m >= 180 ? m - 180 : m;
    return d > 90 ? 180 - d : d;
}

// TabSig[90 - Axial(a, r)] of a direction byte a (0..255) and an angle r (0..359), at a - r + 359.
struct PickerWeights {
    std::int32_t sig[615];
};
constexpr PickerWeights MakePickerWeights()
{
    PickerWeights t{};
    for (int e = -359; e <= 255; ++e) {
        t.sig[e + 359] = TabSig[90 - Axial(e, 0)];
    }
    return t;
}
constexpr PickerWeights kPickerWeights = MakePickerWeights();
static_assert(TabSig[0] >= 0, "TabSig increases from a non-negative entry: the scores are >= 0");

// Half the angle base + sign t of Targum's quadrant row (see there) for every octant index i of
// AtanOctant (1..129), t = TabTan[i]: out = HalfTurns.at[130 row + i].
struct HalfTurns {
    std::uint8_t at[8 * 130];
};
constexpr HalfTurns MakeHalfTurns()
{
    // Row (s < 0) * 4 + (c < 0) * 2 + (|c| < |s|): the angle's base and the sign of t.
    const int base[8] = {0, 90, 180, 90, 360, 270, 180, 270};
    const int sign[8] = {1, -1, -1, 1, -1, 1, 1, -1};
    HalfTurns t{};
    for (int row = 0; row < 8; ++row) {
        for (int i = 1; i < 130; ++i) {
            t.at[130 * row + i] =
                static_cast<std::uint8_t>((base[row] + sign[row] * TabTan[i]) >> 1);
        }
    }
    return t;
}
constexpr HalfTurns kHalfTurns = MakeHalfTurns();

// (v + 128) / 256 with truncation toward zero.
int Back8(int v)
{
    return (v + 128) / 256;
}

// Four 32-bit sums in one vector (GCC vector extensions), read and written unaligned.
using Quad = std::int32_t __attribute__((vector_size(16)));

Quad LoadQuad(const int* p)
{
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void AddQuad(int* p, Quad v)
{
    v += LoadQuad(p);
    std::memcpy(p, &v, sizeof v);
}

// The eight weight sums of a whole ring (a row of WeightTables::ringW) added to sums.
void AddRingWeights(int* sums, const int* ringW)
{
    AddQuad(sums, LoadQuad(ringW));
    AddQuad(sums + 4, LoadQuad(ringW + 4));
}

// Twice a byte direction (0..255) in 0..359, as Mod360(2 v).
constexpr int Double360(int v)
{
    const int t = 2 * v;
    return t >= 360 ? t - 360 : t;
}

// 8192 cos 2v and 8192 sin 2v of every direction byte v (doubled angle taken mod 360).
struct ByteVectors {
    int cos[256];
    int sin[256];
};
constexpr ByteVectors MakeByteVectors()
{
    ByteVectors t{};
    for (int v = 0; v < 256; ++v) {
        t.cos[v] = CosDeg(Double360(v));
        t.sin[v] = SinDeg(Double360(v));
    }
    return t;
}
constexpr ByteVectors kByteVectors = MakeByteVectors();

// Difference (a - 2 v) mod 360 of a centre's doubled direction a (0..359) and a ring point's
// direction byte v.
int TwistDelta(int a, int v)
{
    const int d = a - Double360(v);
    return d < 0 ? d + 360 : d;
}

// Rotation shares of a ring point whose doubled direction lies `delta` (0..359) behind the
// centre's: for axis o at 45 o degrees from the centre's, the curve cor90[e / 2] at the
// distance e (0..180) between the point and the axis.
void TwistShares(int delta, const int* cor90, int* out)
{
    for (int o = 0; o < 8; ++o) {
        const int x = delta + 45 * o < 360 ? delta + 45 * o : delta + 45 * o - 360;
        out[o] = cor90[(x > 180 ? 360 - x : x) / 2];
    }
}

// Mod360 of a ring value times a direction byte: one subtraction for the values 1 and 2 of the
// callers, the division otherwise.
int CentreOffset(int value, unsigned char q)
{
    const int c = value * q;
    return c >= 0 && c < 720 ? (c >= 360 ? c - 360 : c) : Mod360(c);
}

// Orientation byte as an index of the 180-entry direction tables.
constexpr int HalfTurn(unsigned char q)
{
    return q % 180;
}

// The byte offset from the centre's row of rotation shares (rows of eight ints) to the row of a
// ring point of direction byte v: HalfTurn(v) rows back; back16 for rows of eight 16-bit shares.
// Pointer-wide, so that it adds to the row's address as it is.
struct HalfTurnRows {
    std::ptrdiff_t back[256];
    std::ptrdiff_t back16[256];
};
constexpr HalfTurnRows MakeHalfTurnRows()
{
    HalfTurnRows t{};
    for (int v = 0; v < 256; ++v) {
        const int rows = HalfTurn(static_cast<unsigned char>(v));
        t.back[v] = -static_cast<std::ptrdiff_t>(8 * sizeof(int)) * rows;
        t.back16[v] = -static_cast<std::ptrdiff_t>(8 * sizeof(std::int16_t)) * rows;
    }
    return t;
}
constexpr HalfTurnRows kHalfTurnRows = MakeHalfTurnRows();

// The sectors with a positive ring weight, by the offset (centre - angle) mod 360 of sector
// 0's axis from the ring point. Their axes lie within 90 degrees of the point, so they are at
// most four sectors in a row: the first one, k0, and the weights of k0 .. k0 + 3 (0 for a
// sector past the run). Sums indexed k0 + j run to 10 and wrap onto 0..7 at the end (Fold8,
// Fold12); the cos and sin sums of a ring are 12 entries each, cos first (SectorSums).
#if defined(__SSE2__)
// 64 bytes a row, so that a row's address is a shift of its index.
struct alignas(64) SectorRow {
#else
struct SectorRow {
#endif
    std::ptrdiff_t k0; // pointer-wide, so that the sums' addresses take it without extension
    int w[4];
#if defined(__SSE2__)
    std::ptrdiff_t at; // 4 k0: the byte offset of sector k0's cos sum in the lane sums
    // 256 w[j] twice for every j (sectors k0 .. k0 + 3), to pair with the (|cos|, |sin|) lanes
    // of a direction byte.
    alignas(16) std::uint16_t w256[8];
#endif
};
#if defined(__SSE2__)
static_assert(sizeof(SectorRow) == 64, "a row's address is its index shifted by 6");
#endif

// Row j holds the sectors of the offset d = (-j) mod 360, so that the row of (centre - angle)
// mod 360 for a ring angle of 0..359 is row[360 - centre + angle]: no wrap, no negation.
struct SectorTable {
    SectorRow row[720];
};

// The row of offset d0 (0..359) from the ring weights W (a = -180..180).
SectorRow MakeSectorRow(const std::int32_t* W, int d0)
{
    SectorRow r{};
    int k0 = 0;
    for (int k = 0; k < 8; ++k) {
        if (W[Fold180(d0 + 45 * k)] > 0 && W[Fold180(d0 + 45 * (k + 7))] <= 0) {
            k0 = k; // the run starts after a sector without weight
        }
    }
    r.k0 = k0;
#if defined(__SSE2__)
    r.at = static_cast<std::ptrdiff_t>(sizeof(int)) * k0;
#endif
    for (int j = 0; j < 4; ++j) {
        const int w = W[Fold180(d0 + 45 * (k0 + j))];
        r.w[j] = w > 0 ? w : 0;
#if defined(__SSE2__)
        r.w256[2 * j] = r.w256[2 * j + 1] = static_cast<std::uint16_t>(256 * r.w[j]);
#endif
    }
    return r;
}

// Sector sums of 11 entries (see SectorRow) added onto eight.
void Fold8(const int* from, int* to)
{
    for (int k = 0; k < 3; ++k) {
        to[k] += from[k] + from[8 + k];
    }
    for (int k = 3; k < 8; ++k) {
        to[k] += from[k];
    }
}

// Sector sums of 12 entries (the last one 0) added onto eight.
void Fold12(const int* from, int* to)
{
    AddQuad(to, LoadQuad(from) + LoadQuad(from + 8));
    AddQuad(to + 4, LoadQuad(from + 4));
}

// The cos, sin and weight sums of the sectors 0..10 of one ring (see SectorRow), and their pad;
// one after another, so that a row's offset into the first serves all three.
struct alignas(16) SectorSums {
    int cos[12];
    int sin[12];
    int w[12];
};

// The cos and sin sums set to 0 by six vector stores (a value-initialisation takes a string
// store).
void ClearSums(SectorSums& sums)
{
    const Quad zero{};
    for (int k = 0; k < 12; k += 4) {
        std::memcpy(sums.cos + k, &zero, sizeof zero);
        std::memcpy(sums.sin + k, &zero, sizeof zero);
    }
}

// Built once.
SectorTable MakeSectorTable(const std::int32_t* W)
{
    SectorTable t{};
    for (int j = 0; j < 720; ++j) {
        t.row[j] = MakeSectorRow(W, (720 - j) % 360);
    }
    return t;
}

// The ring weight of the front or the back of the centre direction for each offset
// (centre - angle) mod 360 of the ring point: at most one of W(d) and W(d + 180) is positive.
// `at` is 0 for the front sums, 2 for the back ones; w is 0 where neither weight is positive.
struct FrontBackRow {
    int w;
    int at;
    // (w, 1, w, 1) in the 16-bit lanes of the front or of the back half, (0, 1, 0, 1) in the
    // other: the odd lanes carry the rounding bias of the multiply-add.
    alignas(16) std::int16_t lanes[8];
};

// The 16-bit lanes of a direction byte v, 64 bytes, so that their address is a shift of v.
struct alignas(16) DirectionLanes {
    // (|Cd|, |Sd|), (Cd < 0, Sd < 0), and the signs of Cd and Sd as (sign Cd, 0) and
    // (0, sign Sd), four times each (SectorLanes).
    std::uint16_t abs[8];
    std::uint16_t neg[8];
    std::int16_t sign[2][8];
};
static_assert(sizeof(DirectionLanes) == 64, "a direction's lanes are its byte shifted by 6");

// The points of the ring of radius index r in the order of the sector sums of a whole ring:
// first the triples, then the pairs of points at one angle (whose sector rows are the same),
// then the others. index[r] lists ring entries, groups[r][g] is the number of groups of 3 - g
// points; rowAt[r] holds the byte offset of each entry's sector row from the row of angle 0 (its
// angle times the row size), so that the row's address is one addition.
struct SectorOrder {
    int groups[5][2];
    std::uint8_t index[5][96];
    std::ptrdiff_t rowAt[5][96];
};

SectorOrder MakeSectorOrder()
{
    SectorOrder t{};
    for (int r = 0; r < 5; ++r) {
        const int n = kRingEntries[r];
        bool used[96] = {};
        int k = 0;
        for (int size = 3; size >= 1; --size) {
            for (int i = 0; i < n; ++i) {
                int group[3] = {i};
                int found = 1;
                for (int j = i + 1; j < n && found < size; ++j) {
                    if (!used[j] && ring[j].angle == ring[i].angle) {
                        group[found++] = j;
                    }
                }
                if (used[i] || found < size) {
                    continue;
                }
                for (int g = 0; g < size; ++g) {
                    used[group[g]] = true;
                    t.index[r][k++] = static_cast<std::uint8_t>(group[g]);
                }
                if (size > 1) {
                    ++t.groups[r][3 - size];
                }
            }
        }
        for (int i = 0; i < n; ++i) {
            t.rowAt[r][i] =
                static_cast<std::ptrdiff_t>(sizeof(SectorRow)) * ring[t.index[r][i]].angle;
        }
    }
    return t;
}

// Every table made from the ring weights, built once.
struct WeightTables {
    DirectionLanes dir[256]; // first: a direction's lanes are at the table's address plus 64 v
    // (cos 2v, b, sin 2v, b) of kByteVectors, twice, with b the rounding bias of Descale13 for
    // the entry's sign: 4096, or 4095 below 0 (the products' sign is the entry's).
    alignas(16) std::int16_t vec[256][8];
    SectorTable sectors;
    // Row j holds the offset (-j) mod 360, so that the row of (centre - angle) mod 360 for a ring
    // angle of 0..359 is frontBack[360 - centre + angle] (as in SectorTable).
    FrontBackRow frontBack[720];
    // The byte offset of each ring entry's front and back row from the row of angle 0.
    std::ptrdiff_t frontBackAt[96];
    int cosByte[256]; // Cd and Sd of every direction byte v (v mod 180)
    int sinByte[256];
    alignas(16) std::uint16_t magAll[256][8]; // every magnitude byte m, eight times
    alignas(16) std::int16_t magOne[256][8];  // (m, 1) of every magnitude byte m, four times
    // The weight sums (folded onto eight sectors) of the first kRingEntries[r] ring points,
    // every one visited, around a centre of offset c (0..359): ringW[r][c].
    int ringW[5][360][8];
    SectorOrder order;
#if defined(__SSE2__)
    // The rows of `sectors` spread over all eight sectors: 256 w of sector k twice, at lanes 2 k
    // and 2 k + 1 (0 for a sector past the run), so that a point's shares of every sector come
    // in two vectors of fixed place.
    alignas(16) std::uint16_t eight[720][16];
#endif
};

WeightTables MakeWeightTables(const std::int32_t* W, const std::int32_t* Cd, const std::int32_t* Sd)
{
    WeightTables t{};
    for (int v = 0; v < 256; ++v) {
        t.cosByte[v] = Cd[HalfTurn(static_cast<unsigned char>(v))];
        t.sinByte[v] = Sd[HalfTurn(static_cast<unsigned char>(v))];
        for (int j = 0; j < 4; ++j) {
            const int cs = j % 2 == 0 ? t.cosByte[v] : t.sinByte[v];
            DirectionLanes& d = t.dir[v];
            d.abs[j] = static_cast<std::uint16_t>(cs < 0 ? -cs : cs);
            d.neg[j] = cs < 0 ? 1 : 0;
            d.abs[j + 4] = d.abs[j];
            d.neg[j + 4] = d.neg[j];
            d.sign[0][2 * j] = static_cast<std::int16_t>(t.cosByte[v] < 0 ? -1 : 1);
            d.sign[1][2 * j + 1] = static_cast<std::int16_t>(t.sinByte[v] < 0 ? -1 : 1);
            t.magAll[v][2 * j] = t.magAll[v][2 * j + 1] = static_cast<std::uint16_t>(v);
            t.magOne[v][2 * j] = static_cast<std::int16_t>(v);
            t.magOne[v][2 * j + 1] = 1;
            const int vec = j % 2 == 0 ? kByteVectors.cos[v] : kByteVectors.sin[v];
            t.vec[v][2 * j] = static_cast<std::int16_t>(vec);
            t.vec[v][2 * j + 1] = static_cast<std::int16_t>(vec < 0 ? 4095 : 4096);
        }
    }
    t.sectors = MakeSectorTable(W);
    t.order = MakeSectorOrder();
#if defined(__SSE2__)
    for (int j = 0; j < 720; ++j) {
        const SectorRow& row = t.sectors.row[j];
        for (int i = 0; i < 4; ++i) {
            const std::size_t k = static_cast<std::size_t>((row.k0 + i) % 8);
            t.eight[j][2 * k] = t.eight[j][2 * k + 1] = row.w256[2 * i];
        }
    }
#endif
    // The rings of radius 0..4 are the leading 8, 24, 44, 68 and 96 points of one list.
    for (int c = 0; c < 360; ++c) {
        int sums[11] = {};
        for (int i = 0, r = 0; i < kRingEntries[4]; ++i) {
            const SectorRow& row = t.sectors.row[360 - c + ring[i].angle];
            for (int j = 0; j < 4; ++j) {
                sums[row.k0 + j] += row.w[j];
            }
            if (i + 1 == kRingEntries[r]) {
                Fold8(sums, t.ringW[r][c]);
                ++r;
            }
        }
    }
    for (int i = 0; i < kRingEntries[4]; ++i) {
        t.frontBackAt[i] = static_cast<std::ptrdiff_t>(sizeof(FrontBackRow)) * ring[i].angle;
    }
    for (int i = 0; i < 720; ++i) {
        const int d = (720 - i) % 360;
        const int front = W[Fold180(d)];
        const int back = W[Fold180(d + 180)];
        FrontBackRow& r = t.frontBack[i];
        r = front > 0  ? FrontBackRow{front, 0, {}}
            : back > 0 ? FrontBackRow{back, 2, {}}
                       : FrontBackRow{};
        for (int j = 0; j < 4; ++j) {
            r.lanes[2 * j + 1] = 1;
        }
        r.lanes[2 * r.at] = r.lanes[2 * r.at + 2] = static_cast<std::int16_t>(r.w);
    }
    return t;
}

// The weight tables of the process, built on first use from the construction tables (which every
// engine object shares). Inlined: past the first call, one test of the guard.
__attribute__((always_inline)) inline const WeightTables& Weights()
{
    static const WeightTables tables =
        MakeWeightTables(EngineTables().W + 180, EngineTables().Cd, EngineTables().Sd);
    return tables;
}

// Sector sums: for every sector axis within 90 degrees of the ring point, its doubled-angle
// vector weighted by the ring weight and the point's magnitude, added to the cos and sin sums
// and (with weights) the weight sums. `row` is the sector row of (centre - angle) mod 360; cm and
// sm are the point's vector times its magnitude (|256 * 255 * 64| stays far below 2^31 in any order
// of the products). The sums have 11 entries (see SectorRow).
template <bool Weights>
__attribute__((always_inline)) inline void SectorAdd(const SectorRow& row, int cm, int sm,
                                                     SectorSums& sums)
{
    int* cs = sums.cos + row.k0;
    int* ss = sums.sin + row.k0;
    int* ws = sums.w + row.k0;
    // The sectors past the run have weight 0 and add 0.
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const int w = row.w[j];
        cs[j] += Back8(cm * w);
        ss[j] += Back8(sm * w);
        if (Weights) {
            ws[j] += w;
        }
    }
}

// Front and back shares of one ring point with direction byte q and magnitude s: its
// doubled-angle vector times s and the row's weight, added to sums (front cos, front sin, back
// cos, back sin). A weight of 0 adds 0.
__attribute__((always_inline)) inline void FrontBackAdd(const FrontBackRow& row, int q, int s,
                                                        int* sums)
{
    sums[row.at] += Descale13(kByteVectors.cos[q] * s * row.w);
    sums[row.at + 1] += Descale13(kByteVectors.sin[q] * s * row.w);
}

// The lane-wise twin of SectorAdd for ring point (direction byte q, magnitude m): the four
// sectors' products in vector lanes, rounded by the same integer division lane by lane.
#if defined(__SSE2__)
void AddLanes(int* p, __m128i v)
{
    const __m128i sum = _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), sum);
}

// FrontBackAdd of a ring point in the four lanes (front cos, front sin, back cos, back sin):
// the weight times the magnitude is below 64 * 256 and the vector's entries are within 8192,
// so that the 16-bit multiply-add of (vector, b) with (s * w, 1) makes the exact products
// vector * s * w plus the bias b of WeightTables::vec. Descale13(v) is (v + 4096) >> 13 for v >=
// 0 and (v + 4095) >> 13 below (both 0 at v = 0), so that with the bias of the vector's sign it is
// one arithmetic shift.
// The vectors come as their own pointer (WeightTables::vec), so that a byte's address is one
// shift and one addition.
__attribute__((always_inline)) inline __m128i FrontBackLanes(const FrontBackRow& row,
                                                             const WeightTables& t,
                                                             const std::int16_t (*vec)[8], int q,
                                                             int s)
{
    const __m128i ws =
        _mm_mullo_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(row.lanes)),
                        _mm_load_si128(reinterpret_cast<const __m128i*>(t.magOne[s])));
    return _mm_srai_epi32(
        _mm_madd_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(vec[q])), ws), 13);
}

// A magnitude times |Cd| or |Sd| is at most 255 * 256 and takes an unsigned 16-bit lane, P; with
// 256 w (w <= 64) the product P * 256 w = 256 u, u = |Cd| * m * w, fits 32 bits, so that its high
// half is u >> 8 and bit 15 of its low half is bit 7 of u: their sum is (u + 128) >> 8, exactly.
// Back8 of v = sign * u is that for sign 1; for sign -1 it is -((u - 128) >> 8), or 0 where
// u < 128: the same less 1, at least 0, a saturating subtraction of (Cd < 0, Sd < 0). The lanes
// (0..16321) hold sectors k0 .. k0 + 3 as (cos, sin) pairs; the multiply-add with (sign, 0) takes
// the cos lanes back to 32 bits with their sign, that with (0, sign) the sin lanes: the cos and
// sin shares of sectors k0 .. k0 + 3 of the point in 32-bit lanes.
__attribute__((always_inline)) inline void SectorLanes(const SectorRow& row, const WeightTables& t,
                                                       int q, int m, __m128i& cosv, __m128i& sinv)
{
    const DirectionLanes& d = t.dir[q];
    const __m128i p =
        _mm_mullo_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(d.abs)),
                        _mm_load_si128(reinterpret_cast<const __m128i*>(t.magAll[m])));
    const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(row.w256));
    const __m128i back = _mm_subs_epu16(
        _mm_add_epi16(_mm_mulhi_epu16(p, w), _mm_srli_epi16(_mm_mullo_epi16(p, w), 15)),
        _mm_load_si128(reinterpret_cast<const __m128i*>(d.neg)));
    const __m128i* sign = reinterpret_cast<const __m128i*>(d.sign);
    cosv = _mm_madd_epi16(back, _mm_load_si128(sign));
    sinv = _mm_madd_epi16(back, _mm_load_si128(sign + 1));
}

template <bool Weights>
__attribute__((always_inline)) inline void
SectorAddLanes(const SectorRow& row, const WeightTables& t, int q, int m, SectorSums& sums)
{
    __m128i cosv, sinv;
    SectorLanes(row, t, q, m, cosv, sinv);
    // The row is read before the sums are written, so that the stores need not reload it.
    int* at = reinterpret_cast<int*>(reinterpret_cast<char*>(sums.cos) + row.at);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.w));
    AddLanes(at, cosv);
    AddLanes(at + 12, sinv);
    if (Weights) {
        AddLanes(at + 24, w);
    }
}

// The sector sums of SectorAddLanes (without weight sums) over all eight sectors in four vectors,
// (cos, sin) of sectors 0..3 and 4..7, to be held in registers: a point's shares come at a fixed
// place (WeightTables::eight), so that no point waits on the store of the one before.
struct EightSums {
    __m128i cosLow = _mm_setzero_si128();
    __m128i cosHigh = _mm_setzero_si128();
    __m128i sinLow = _mm_setzero_si128();
    __m128i sinHigh = _mm_setzero_si128();
};

// SectorLanes of ring point (direction byte q, magnitude m) for all eight sectors of the row w8
// (WeightTables::eight), added to sums.
__attribute__((always_inline)) inline void
SectorEight(const std::uint16_t* w8, const WeightTables& t, int q, int m, EightSums& sums)
{
    const DirectionLanes& d = t.dir[q];
    const __m128i p =
        _mm_mullo_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(d.abs)),
                        _mm_load_si128(reinterpret_cast<const __m128i*>(t.magAll[m])));
    const __m128i neg = _mm_load_si128(reinterpret_cast<const __m128i*>(d.neg));
    const __m128i* sign = reinterpret_cast<const __m128i*>(d.sign);
    const auto half = [&](const std::uint16_t* w16, __m128i& cs, __m128i& ss)
        __attribute__((always_inline))
    {
        const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(w16));
        const __m128i back = _mm_subs_epu16(
            _mm_add_epi16(_mm_mulhi_epu16(p, w), _mm_srli_epi16(_mm_mullo_epi16(p, w), 15)), neg);
        cs = _mm_add_epi32(cs, _mm_madd_epi16(back, _mm_load_si128(sign)));
        ss = _mm_add_epi32(ss, _mm_madd_epi16(back, _mm_load_si128(sign + 1)));
    };
    half(w8, sums.cosLow, sums.sinLow);
    half(w8 + 8, sums.cosHigh, sums.sinHigh);
}

// The eight-sector sums added to eight cos and eight sin sums in memory.
void AddEight(const EightSums& sums, int* cosSums, int* sinSums)
{
    AddLanes(cosSums, sums.cosLow);
    AddLanes(cosSums + 4, sums.cosHigh);
    AddLanes(sinSums, sums.sinLow);
    AddLanes(sinSums + 4, sums.sinHigh);
}
#else
template <bool Weights>
__attribute__((always_inline)) inline void
SectorAddLanes(const SectorRow& row, const WeightTables& t, int q, int m, SectorSums& sums)
{
    const Quad w = LoadQuad(row.w);
    AddQuad(sums.cos + row.k0, (t.cosByte[q] * m * w + 128) / 256);
    AddQuad(sums.sin + row.k0, (t.sinByte[q] * m * w + 128) / 256);
    if (Weights) {
        AddQuad(sums.w + row.k0, w);
    }
}
#endif

// SectorAddLanes (without weight sums) of N ring points at one angle (direction bytes q[i],
// magnitudes m[i]). The SSE2 build sums whole rings by EightSums instead.
template <int N>
__attribute__((always_inline)) inline void SectorGroupLanes(const SectorRow& row,
                                                            const WeightTables& t, const int* q,
                                                            const int* m, SectorSums& sums)
{
    for (int i = 0; i < N; ++i) {
        SectorAddLanes<false>(row, t, q[i], m[i], sums);
    }
}

// One ring point (direction byte q, magnitude m) added to the sector sums of `row`, in lanes or
// one sector at a time, with or without weight sums.
template <bool Lanes, bool Weighted>
__attribute__((always_inline)) inline void SectorPoint(const SectorRow& row, const WeightTables& t,
                                                       int q, int m, SectorSums& sums)
{
    if (Lanes) {
        SectorAddLanes<Weighted>(row, t, q, m, sums);
    } else {
        SectorAdd<Weighted>(row, t.cosByte[q] * m, t.sinByte[q] * m, sums);
    }
}

// The sector sums (without weight sums) of the whole ring of radius index r in SectorOrder:
// off[k] is the offset of its entry k, rows[angle] the sector row of a ring angle. The points
// of a same-angle group share a row and one update of the sums.
template <bool Lanes>
__attribute__((always_inline)) inline void
SectorWhole(const WeightTables& t, int r, const std::int32_t* off, const SectorRow* rows,
            const unsigned char* dir, const unsigned char* mag, SectorSums& sums)
{
    const SectorOrder& order = t.order;
    const std::ptrdiff_t* rowAt = order.rowAt[r];
    const char* rowBytes = reinterpret_cast<const char*>(rows);
    // Group k .. k + N - 1: one row.
    const auto group = [&](auto size, int k) __attribute__((always_inline))
    {
        constexpr int N = decltype(size)::value;
        const SectorRow& row = *reinterpret_cast<const SectorRow*>(rowBytes + rowAt[k]);
        int q[N], m[N];
#pragma GCC unroll 3
        for (int i = 0; i < N; ++i) {
            q[i] = dir[off[k + i]];
            m[i] = mag[off[k + i]];
        }
        if (Lanes) {
            SectorGroupLanes<N>(row, t, q, m, sums);
        } else {
#pragma GCC unroll 3
            for (int i = 0; i < N; ++i) {
                SectorAdd<false>(row, t.cosByte[q[i]] * m[i], t.sinByte[q[i]] * m[i], sums);
            }
        }
    };
    int k = 0;
    for (const int end = 3 * order.groups[r][0]; k < end; k += 3) {
        group(std::integral_constant<int, 3>(), k);
    }
    for (const int end = k + 2 * order.groups[r][1]; k < end; k += 2) {
        group(std::integral_constant<int, 2>(), k);
    }
    for (; k < kRingEntries[r]; ++k) {
        group(std::integral_constant<int, 1>(), k);
    }
}

} // namespace

void CWork::Sector(int angle, bool weights)
{
    SectorSums sums{};
    const int q = HalfTurn(*m_walk[0]);
    const int m = *m_walk[1];
    const SectorRow& row = Weights().sectors.row[360 - Mod360(m_ringValue * *m_refc - angle)];
    if (weights) {
        SectorAdd<true>(row, Cd[q] * m, Sd[q] * m, sums);
    } else {
        SectorAdd<false>(row, Cd[q] * m, Sd[q] * m, sums);
    }
    Fold12(sums.cos, m_cosSum);
    Fold12(sums.sin, m_sinSum);
    Fold12(sums.w, m_wSum);
}

// The ring's integer sums gather in locals and are added to the members once: the same sums
// as point by point. The centre direction is read once: no ring step moves m_refc. A ring
// wholly inside the level visits every point, so that its weight sums come from ringW.
template <bool Lanes> int CWork::SectorRingAs(int level, int radius, int value, bool weights)
{
    if (radius < 0 || level < 0 || level >= WZ_LEVELS) {
        return m_ringCount; // no ring: every sum stays as it was
    }
    const int r = radius > 4 ? 4 : radius;
    const bool inside = RingInside(level, r); // the walk's whole-ring test, made once here
    const WeightTables& t = Weights();
    const int c = CentreOffset(value, *m_refc);
    const unsigned char* dir = m_walk[0];
    const unsigned char* mag = m_walk[1];
    // rows[angle] is the row of (centre - angle) mod 360 for ring angles 0..359.
    const SectorRow* rows = t.sectors.row + 360 - c;
    SectorSums sums;
    ClearSums(sums);
    const bool perPoint = weights && !inside; // the weight sums point by point
    if (perPoint) {
        std::memset(sums.w, 0, sizeof sums.w);
    }
    // The step takes copies of the pointers, so that the compiler keeps them in registers.
    const auto walk = [&](auto weighted) {
        return RingOffsetsAt(
            level, r, false, value,
            [ dir, mag, rows, tp = &t, ps = &sums ](int angle, std::int32_t off)
                __attribute__((always_inline)) {
                    SectorPoint<Lanes, decltype(weighted)::value>(rows[angle], *tp, dir[off],
                                                                  mag[off], *ps);
                });
    };
    int n = 0;
#if defined(__SSE2__)
    if (Lanes && inside) {
        // Every point is visited, in ring order, its shares of all eight sectors held in
        // registers (EightSums).
        const std::int32_t* ringOff = m_ringOff[level];
        const std::uint16_t(*rows8)[16] = t.eight + 360 - c;
        EightSums eight;
        for (int i = 0; i < kRingEntries[r]; ++i) {
            SectorEight(rows8[ring[i].angle], t, dir[ringOff[i]], mag[ringOff[i]], eight);
        }
        AddEight(eight, m_cosSum, m_sinSum);
        if (weights) {
            AddRingWeights(m_wSum, t.ringW[r][c]);
        }
        return RingInsideDone(level, r, value);
    }
#endif
    if (inside) {
        // Every point is visited, so that their order is free.
        const std::int32_t* off = SectorOffsets(level, r);
        SectorWhole<Lanes>(t, r, off, rows, dir, mag, sums);
        n = RingInsideDone(level, r, value);
    } else {
        n = perPoint ? walk(std::true_type{}) : walk(std::false_type{});
    }
    Fold12(sums.cos, m_cosSum);
    Fold12(sums.sin, m_sinSum);
    if (perPoint) {
        Fold12(sums.w, m_wSum);
    } else if (weights) {
        AddRingWeights(m_wSum, t.ringW[r][c]);
    } // without them the weight sums stay 0
    return n;
}

int CWork::RingVisits(int level, int r)
{
    if (RingInside(level, r)) {
        return kRingEntries[r];
    }
    if (const std::int32_t* list = EdgeRing(level, r)) {
        return list[0];
    }
    int x = m_wx;
    int y = m_wy;
    int count = 0;
    RingNearEdge(m_level[level], kRingEntries[r], x, y,
                 [&count](int, int, bool visited) { count += visited ? 1 : 0; });
    return count;
}

// The sums of SectorRingAs, with the sums of the smaller rings kept on the way: a whole ring
// takes the ring of `low` in SectorOrder and then the points past it in ring order; a ring near
// an edge keeps each smaller ring's sums once as many points as that ring visits are added.
template <bool Lanes>
int CWork::SectorNestAs(int level, int top, int low, int value, SSectorSums* nest)
{
    const bool inside = RingInside(level, top);
    const WeightTables& t = Weights();
    const int c = CentreOffset(value, *m_refc);
    const unsigned char* dir = m_walk[0];
    const unsigned char* mag = m_walk[1];
    const SectorRow* rows = t.sectors.row + 360 - c;
    SectorSums sums;
    ClearSums(sums);
    std::memset(sums.w, 0, sizeof sums.w);
    std::memset(nest, 0, sizeof(SSectorSums) * static_cast<std::size_t>(top - low));
    const auto keep = [&](int r) {
        SSectorSums& k = nest[r - low];
        Fold12(sums.cos, k.cos);
        Fold12(sums.sin, k.sin);
        if (inside) {
            std::memcpy(k.w, t.ringW[r][c], sizeof k.w);
        } else {
            Fold12(sums.w, k.w);
        }
    };
    int n = 0;
#if defined(__SSE2__)
    if (Lanes && inside) {
        // Every point's shares of all eight sectors held in registers (EightSums).
        const std::int32_t* ringOff = m_ringOff[level];
        const std::uint16_t(*rows8)[16] = t.eight + 360 - c;
        EightSums eight;
        for (int r = low, i = 0; r <= top; ++r) {
            for (; i < kRingEntries[r]; ++i) {
                SectorEight(rows8[ring[i].angle], t, dir[ringOff[i]], mag[ringOff[i]], eight);
            }
            if (r < top) {
                SSectorSums& k = nest[r - low];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(k.cos), eight.cosLow);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(k.cos + 4), eight.cosHigh);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(k.sin), eight.sinLow);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(k.sin + 4), eight.sinHigh);
                std::memcpy(k.w, t.ringW[r][c], sizeof k.w);
            }
        }
        AddEight(eight, m_cosSum, m_sinSum);
        AddRingWeights(m_wSum, t.ringW[top][c]);
        return RingInsideDone(level, top, value);
    }
#endif
    if (inside) {
        const std::int32_t* off = SectorOffsets(level, low);
        SectorWhole<Lanes>(t, low, off, rows, dir, mag, sums);
        const std::int32_t* ringOff = m_ringOff[level];
        for (int r = low + 1; r <= top; ++r) {
            keep(r - 1);
            for (int i = kRingEntries[r - 1]; i < kRingEntries[r]; ++i) {
                SectorPoint<Lanes, false>(rows[ring[i].angle], t, dir[ringOff[i]], mag[ringOff[i]],
                                          sums);
            }
        }
        n = RingInsideDone(level, top, value);
    } else {
        // The counts of the smaller rings are taken before the walk moves; the walk records
        // its points, which are then added ring by ring.
        int stop[5];
        for (int r = low; r < top; ++r) {
            stop[r] = RingVisits(level, r);
        }
        int angles[96];
        std::int32_t offs[96];
        int count = 0;
        n = RingOffsetsAt(
            level, top, false,
            value, [&](int angle, std::int32_t off) __attribute__((always_inline)) {
                angles[count] = angle;
                offs[count] = off;
                ++count;
            });
        stop[top] = count;
        for (int r = low, k = 0; r <= top; ++r) {
            for (; k < stop[r]; ++k) {
                SectorPoint<Lanes, true>(rows[angles[k]], t, dir[offs[k]], mag[offs[k]], sums);
            }
            if (r < top) {
                keep(r);
            }
        }
    }
    Fold12(sums.cos, m_cosSum);
    Fold12(sums.sin, m_sinSum);
    if (inside) {
        AddRingWeights(m_wSum, t.ringW[top][c]);
    } else {
        Fold12(sums.w, m_wSum);
    }
    return n;
}

int CWork::SectorNestScalar(int level, int top, int low, int value, SSectorSums* nest)
{
    return SectorNestAs<false>(level, top, low, value, nest);
}

int CWork::SectorNestLanes(int level, int top, int low, int value, SSectorSums* nest)
{
    return SectorNestAs<true>(level, top, low, value, nest);
}

int CWork::SectorRingNest(int level, int top, int low, int value, SSectorSums* nest)
{
#if defined(__SSE2__) || defined(__ARM_NEON)
    return SectorNestLanes(level, top, low, value, nest);
#else
    return SectorNestScalar(level, top, low, value, nest);
#endif
}

const std::int32_t* CWork::SectorOffsets(int level, int r)
{
    std::int32_t* list = m_sectorOff[level][r];
    if (m_sectorWidth[level][r] == m_ringWidth[level] + 1) {
        return list; // made for the present ring offsets
    }
    const SectorOrder& order = Weights().order;
    for (int k = 0; k < kRingEntries[r]; ++k) {
        list[k] = m_ringOff[level][order.index[r][k]];
    }
    m_sectorWidth[level][r] = m_ringWidth[level] + 1;
    return list;
}

int CWork::SectorRingScalar(int level, int radius, int value, bool weights)
{
    return SectorRingAs<false>(level, radius, value, weights);
}

int CWork::SectorRingLanes(int level, int radius, int value, bool weights)
{
    return SectorRingAs<true>(level, radius, value, weights);
}

// Lane-wise where the processor has integer vectors, one sector at a time elsewhere.
int CWork::SectorRing(int level, int radius, int value, bool weights)
{
#if defined(__SSE2__) || defined(__ARM_NEON)
    return SectorRingLanes(level, radius, value, weights);
#else
    return SectorRingScalar(level, radius, value, weights);
#endif
}

bool CWork::KnownRing(int level, int radius, int value, int& count)
{
    if (m_ringPoint == static_cast<RingFn>(&CWork::Argums_quick)) {
        count = SectorRing(level, radius, value, true);
    } else if (m_ringPoint == static_cast<RingFn>(&CWork::Argums_NoApw_quick)) {
        count = SectorRing(level, radius, value, false);
    } else if (m_ringPoint == static_cast<RingFn>(&CWork::Twists_I)) {
        count = TwistsRing(level, radius, value);
    } else if (m_ringPoint == static_cast<RingFn>(&CWork::Argums_I)) {
        count = ArgumsRing(level, radius, value);
    } else {
        return false;
    }
    return true;
}

void CWork::Argums_quick(int angle, int)
{
    Sector(angle, true);
}

void CWork::Argums_NoApw_quick(int angle, int)
{
    Sector(angle, false);
}

void CWork::Argums(int angle, int index)
{
    Argums_NoApw(angle, index);
    const int centre = m_ringValue * *m_refc;
    for (int k = 0; k < 8; ++k) {
        const int w = W[Fold180(Mod360(centre + 45 * k) - angle)];
        if (w > 0) {
            m_wSum[k] += w;
        }
    }
}

void CWork::Argums_NoApw(int angle, int)
{
    const int centre = m_ringValue * *m_refc;
    const int t = Mod360(2 * *m_walk[0]);
    const int m = *m_walk[1];
    for (int k = 0; k < 8; ++k) {
        const int w = W[Fold180(Mod360(centre + 45 * k) - angle)];
        if (w <= 0) {
            continue;
        }
        m_cosSum[k] += Descale13(CosDeg(t) * w * m);
        m_sinSum[k] += Descale13(SinDeg(t) * w * m);
    }
}

// Front (along the centre direction) and back (opposite) sums of the ring.
void CWork::Argums_I(int angle, int)
{
    int sums[4] = {};
    const FrontBackRow* rows = Weights().frontBack;
    FrontBackAdd(rows[Mod360(angle - m_ringValue * *m_refc)], *m_walk[0], *m_walk[1], sums);
    m_frontCos += sums[0];
    m_frontSin += sums[1];
    m_backCos += sums[2];
    m_backSin += sums[3];
}

int CWork::ArgumsRing(int level, int radius, int value)
{
    int sums[4] = {};
    const unsigned char* dir = m_walk[0];
    const unsigned char* mag = m_walk[1];
    const WeightTables& t = Weights();
    // rows[angle] is the row of (centre - angle) mod 360 for ring angles 0..359.
    const FrontBackRow* rows = t.frontBack + 360 - CentreOffset(value, *m_refc);
    if (radius < 0 || level < 0 || level >= WZ_LEVELS) {
        return m_ringCount; // no ring: every sum stays as it was
    }
    const int r = radius > 4 ? 4 : radius;
    const bool inside = RingInside(level, r);
    int n = 0;
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    if (inside) {
        // The whole ring from the level's offsets, each row one addition away (frontBackAt).
        const std::int32_t* off = m_ringOff[level];
        const char* rowBytes = reinterpret_cast<const char*>(rows);
        const auto lanes = [&](int i) __attribute__((always_inline))
        {
            const FrontBackRow& row =
                *reinterpret_cast<const FrontBackRow*>(rowBytes + t.frontBackAt[i]);
            return FrontBackLanes(row, t, t.vec, dir[off[i]], mag[off[i]]);
        };
        // Two sums, even and odd points, so that each point's lanes add in place.
        __m128i odd = _mm_setzero_si128();
        for (int i = 0; i < kRingEntries[r]; i += 2) {
            acc = _mm_add_epi32(acc, lanes(i));
            odd = _mm_add_epi32(odd, lanes(i + 1));
        }
        acc = _mm_add_epi32(acc, odd);
        n = RingInsideDone(level, r, value);
    } else {
        n = RingOffsetsAt(
            level, r, false, value,
            [ dir, mag, rows, tp = &t, vec = t.vec, &
              acc ](int angle, std::int32_t off) __attribute__((always_inline)) {
                acc = _mm_add_epi32(acc, FrontBackLanes(rows[angle], *tp, vec, dir[off], mag[off]));
            });
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), acc);
#else
    n = RingOffsetsAt(
        level, r, inside, value, [&](int angle, std::int32_t off) __attribute__((always_inline)) {
            FrontBackAdd(rows[angle], dir[off], mag[off], sums);
        });
#endif
    m_frontCos += sums[0];
    m_frontSin += sums[1];
    m_backCos += sums[2];
    m_backSin += sums[3];
    return n;
}

void CWork::Argums_I_quick(int angle, int)
{
    const int c = Mod360(m_ringValue * *m_refc);
    const int q = HalfTurn(*m_walk[0]);
    const int s = *m_walk[1];
    const int wf = W[Fold180(c - angle)];
    if (wf > 0) {
        m_frontCos += Back8(Cd[q] * wf * s);
        m_frontSin += Back8(Sd[q] * wf * s);
    }
    const int wb = W[Fold180(c + 180 - angle)];
    if (wb > 0) {
        m_backCos += Back8(Cd[q] * wb * s);
        m_backSin += Back8(Sd[q] * wb * s);
    }
}

void CWork::Twists_I(int, int)
{
    int shares[8];
    TwistShares(TwistDelta(Mod360(2 * *m_refc), *m_walk[0]), m_rank.Cor + 90, shares);
    for (int o = 0; o < 8; ++o) {
        m_rotSum[o] += shares[o];
    }
    ++m_rotPoints;
}

// The shares of every half difference -179..179, made again when the curve has changed since.
// Kept out of line, so that its caller takes the row's address as one pointer.
__attribute__((noinline)) const int* CWork::TwistRows(int h)
{
    const int* cor = m_rank.Cor + 90;
    if (!m_twistMade || std::memcmp(m_twistCor, cor, sizeof m_twistCor) != 0) {
        std::memcpy(m_twistCor, cor, sizeof m_twistCor);
        m_twistNarrow = true;
        for (int e = 0; e <= 90; ++e) {
            m_twistNarrow = m_twistNarrow && cor[e] >= -341 && cor[e] <= 341;
        }
        for (int d = -179; d <= 179; ++d) {
            TwistShares(2 * (d < 0 ? d + 180 : d), cor, m_twistRow[179 + d]);
            for (int o = 0; o < 8; ++o) {
                m_twistRow16[179 + d][o] = static_cast<std::int16_t>(m_twistRow[179 + d][o]);
            }
        }
        m_twistMade = true;
    }
    return m_twistRow[179 + h];
}

int CWork::TwistsRing(int level, int radius, int value)
{
    int rot[8] = {};
    int points = 0;
    const unsigned char* dir = m_walk[0];
    // Both doubled directions are even, and so is their difference: half of it, (a - 2 v) mod
    // 360 / 2, is (h - v mod 180) mod 180 with h half the centre's doubled direction. The rows
    // run over h - v mod 180 = -179..179 unreduced: the centre's row is that of h, and a point's
    // lies v mod 180 rows back.
    const int h = HalfTurn(*m_refc);
    const int* centre = TwistRows(h);
    int n = 0;
#if defined(__SSE2__)
    if (m_twistNarrow) {
        // Eight 16-bit sums in one vector, widened once.
        const char* centre16 = reinterpret_cast<const char*>(m_twistRow16[179 + h]);
        const auto row = [ centre16, dir ](std::int32_t off) __attribute__((always_inline))
        {
            return _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(centre16 + kHalfTurnRows.back16[dir[off]]));
        };
        __m128i sums = _mm_setzero_si128();
        if (RingWhole(level, radius)) {
            // The whole ring from the level's offsets in two sums, even and odd points, so that
            // each row adds in place.
            const int r = radius > 4 ? 4 : radius;
            const std::int32_t* off = m_ringOff[level];
            __m128i odd = _mm_setzero_si128();
            for (int i = 0; i < kRingEntries[r]; i += 2) {
                sums = _mm_add_epi16(sums, row(off[i]));
                odd = _mm_add_epi16(odd, row(off[i + 1]));
            }
            sums = _mm_add_epi16(sums, odd);
            points = kRingEntries[r];
            n = RingInsideDone(level, r, value);
        } else {
            n = RingOffsets(
                level, radius, value,
                [&sums, &points, row ](int, std::int32_t off) __attribute__((always_inline)) {
                    sums = _mm_add_epi16(sums, row(off));
                    ++points;
                });
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rot),
                         _mm_srai_epi32(_mm_unpacklo_epi16(sums, sums), 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rot + 4),
                         _mm_srai_epi32(_mm_unpackhi_epi16(sums, sums), 16));
    } else
#endif
    {
        n = RingOffsets(
            level, radius, value,
            [ centre, dir, &rot, &points ](int, std::int32_t off) __attribute__((always_inline)) {
                const int* row = reinterpret_cast<const int*>(
                    reinterpret_cast<const char*>(centre) + kHalfTurnRows.back[dir[off]]);
                for (int o = 0; o < 8; ++o) {
                    rot[o] += row[o];
                }
                ++points;
            });
    }
    for (int o = 0; o < 8; ++o) {
        m_rotSum[o] += rot[o];
    }
    m_rotPoints += points;
    return n;
}

int CWork::Twists(int, int)
{
    const int a = Mod360(2 * *m_refc);
    const int b = Mod360(2 * *m_walk[0]);
    int last = 0;
    for (int o = 0, ao = a; o < 8; ++o, ao = ao >= 315 ? ao - 315 : ao + 45) {
        int e = ao - b;
        e = e < 0 ? -e : e;
        e = e > 179 ? 360 - e : e;
        last = m_rank.Cor[90 + e / 2];
        m_rotSum[o] += 2 * last;
        ++m_rotCount[o];
    }
    return last;
}

// Candidate k: angle byte under m_coarse[8 + 2k], magnitude under m_coarse[9 + 2k].
int CWork::GemReg_I(unsigned char* angleOut, unsigned char* magOut, int ref)
{
    const std::int32_t* sig = kPickerWeights.sig + 359 - Mod360(ref);
    int best = 0;
    int top = 0;
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const int a = *m_coarse[8 + 2 * k];
        const int m = *m_coarse[9 + 2 * k];
        top = m > top ? m : top;
        const int score = (sig[a] * m + 4096) >> 13; // Descale13 of a product >= 0
        if (score > best) {
            best = score;
            *angleOut = static_cast<unsigned char>(a);
            *magOut = static_cast<unsigned char>(m);
        }
    }
    return top;
}

void CWork::GemReg_Stream_1(unsigned char* angleOut, unsigned char* magOut, int ref)
{
    GemReg_I(angleOut, magOut, ref);
}

int CWork::GemReg(unsigned char* angleOut, unsigned char* magOut, int ref)
{
    const int r = Mod360(ref);
    int best = 0;
    int top = 0;
    for (int k = 0; k < 4; ++k) {
        const unsigned char* pa = ProSrc(38 + k, m_curLevel, m_curLevel);
        const unsigned char* pm = ProSrc(119 + k, m_curLevel, m_curLevel);
        if (pa == nullptr || pm == nullptr) {
            continue; // no such layer and no slot to hold one
        }
        top = *pm > top ? *pm : top;
        const int score = Descale13(TabSig[90 - Axial(*pa, r)] * *pm);
        if (score > best) {
            best = score;
            *angleOut = *pa;
            *magOut = *pm;
        }
    }
    return top;
}

int CWork::GemWeb(SStep* taps, int r, int level, int angle, int kind)
{
    if (r <= 0) { // no window: an empty list
        taps[0].off = 0;
        return taps[0].val;
    }
    const int width = m_level[level < 0 || level >= WZ_LEVELS ? 0 : level].width;
    const int a = Mod360(angle);
    int n = 0;
    int centre = -1;
    std::int64_t sum = 0;
    for (int y = -r; y <= r; ++y) {
        for (int x = -r; x <= r; ++x) {
            const int X = 180 * x / r;
            const int Y = 180 * y / r;
            if (kind == 1) {
                const int t = Descale13(CosDeg(a) * X) + Descale13(SinDeg(a) * Y);
                if (t > 45 || t < -45) {
                    continue;
                }
            }
            const int d = sqri(X * X + Y * Y);
            if (d > 180) {
                continue;
            }
            const int weight = Descale13(m_amp * CosDeg(Mod360(m_rank.Cor[d])));
            taps[n].x = x;
            taps[n].y = y;
            taps[n].off = x + y * width;
            taps[n].val = weight;
            if (x == 0 && y == 0) {
                centre = n;
            }
            sum += weight;
            ++n;
        }
    }
    taps[n].off = 0;
    if (n == 0) {
        return 0;
    }
    const std::int64_t mean = sum > 0 ? (sum + n / 2) / n : (sum - n / 2) / n;
    std::int64_t rest = 0;
    for (int i = n - 1; i >= 0; --i) {
        taps[i].val -= static_cast<int>(mean);
        rest += taps[i].val;
    }
    taps[centre].val -= static_cast<int>(rest);
    return taps[centre].val;
}

namespace {

// Targum of a sum with a component 0: the axis of the other, or the centre byte for both 0.
int TargumAxis(int c, int s, const unsigned char* centre)
{
    return c != 0 ? (c > 0 ? 0 : 90) : s != 0 ? (s > 0 ? 45 : 135) : *centre;
}

} // namespace

// Half of atan(c, s) for non-zero c and s. The octant angle t (1..45) is measured from the
// nearer axis (from the x axis on the diagonal), as atan measures it; the quadrant and that axis
// pick base + t or base - t, halved, from one row of kHalfTurns at t's TabTan index.
void TargumScalar(const int* cosSums, const int* sinSums, int* out, const unsigned char* centre)
{
    for (int k = 0; k < 8; ++k) {
        const int c = cosSums[k];
        const int s = sinSums[k];
        if (c == 0 || s == 0) {
            out[k] = TargumAxis(c, s, centre);
            continue;
        }
        const std::uint32_t ac =
            c < 0 ? 0u - static_cast<std::uint32_t>(c) : static_cast<std::uint32_t>(c);
        const std::uint32_t as =
            s < 0 ? 0u - static_cast<std::uint32_t>(s) : static_cast<std::uint32_t>(s);
        const bool nearY = ac < as;
        const int row = (s < 0 ? 4 : 0) + (c < 0 ? 2 : 0) + (nearY ? 1 : 0);
        out[k] = kHalfTurns.at[130 * row + (nearY ? OctantIndex(ac, as) : OctantIndex(as, ac))];
    }
}

// Four sectors at a time up to the division: the magnitudes (unsigned, so that |INT32_MIN| is
// 2^31), the smaller one p and the larger one q (p ^ q = |c| ^ |s|), and the offset 130 row of the
// quadrant row, or -1 where a component is 0; then the division and the table one sector at a
// time.
void Targum(const int* cosSums, const int* sinSums, int* out, const unsigned char* centre)
{
#if defined(__SSE2__)
    alignas(16) std::uint32_t num[8];
    alignas(16) std::uint32_t den[8];
    alignas(16) std::int32_t rowAt[8];
    const __m128i top = _mm_set1_epi32(INT32_MIN); // unsigned order as signed order
    for (int h = 0; h < 8; h += 4) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cosSums + h));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sinSums + h));
        const __m128i cNeg = _mm_srai_epi32(c, 31);
        const __m128i sNeg = _mm_srai_epi32(s, 31);
        const __m128i ac = _mm_sub_epi32(_mm_xor_si128(c, cNeg), cNeg);
        const __m128i as = _mm_sub_epi32(_mm_xor_si128(s, sNeg), sNeg);
        const __m128i nearY = _mm_cmplt_epi32(_mm_xor_si128(ac, top), _mm_xor_si128(as, top));
        const __m128i p = _mm_or_si128(_mm_and_si128(nearY, ac), _mm_andnot_si128(nearY, as));
        // 130 row = 520 (s < 0) + 260 (c < 0) + 130 (|c| < |s|), from the lanes' masks.
        const __m128i at = _mm_add_epi32(_mm_add_epi32(_mm_and_si128(sNeg, _mm_set1_epi32(520)),
                                                       _mm_and_si128(cNeg, _mm_set1_epi32(260))),
                                         _mm_and_si128(nearY, _mm_set1_epi32(130)));
        const __m128i zero = _mm_or_si128(_mm_cmpeq_epi32(c, _mm_setzero_si128()),
                                          _mm_cmpeq_epi32(s, _mm_setzero_si128()));
        _mm_store_si128(reinterpret_cast<__m128i*>(num + h), p);
        _mm_store_si128(reinterpret_cast<__m128i*>(den + h),
                        _mm_xor_si128(_mm_xor_si128(ac, as), p));
        _mm_store_si128(reinterpret_cast<__m128i*>(rowAt + h), _mm_or_si128(at, zero));
    }
    for (int k = 0; k < 8; ++k) {
        out[k] = rowAt[k] < 0 ? TargumAxis(cosSums[k], sinSums[k], centre)
                              : kHalfTurns.at[rowAt[k] + OctantIndex(num[k], den[k])];
    }
#else
    TargumScalar(cosSums, sinSums, out, centre);
#endif
}

} // namespace wizard73
