// Stage 3, Stream: the ridge-flow field at level 3. Walks along ridge edges in the response
// layers 10..13 of level 0 give per-cell orientation candidates (layers 38..41, 119..122; best
// in 32 and 112); passes of decreasing walk length regularise them over a ring (33, 113), class
// cells by the Poincare index of their sector orientations (160: 1 whorl, 2 loop, 8 delta,
// 128 settled) and fit each loop's direction (37, halved). Degrees throughout; throws only what
// stage 2 throws, or WZ_NO_LAYER without a free slot.

#include "extraction/engine/StreamLanes.h"

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {
namespace {

constexpr int STREAM_STAGE = 3;
constexpr int LEVEL = 3;
constexpr int SETTLED = 128;
constexpr int NO_COST = 129600;

// Walk lengths per pass (straight families 0 and 2, diagonal 1 and 3; 0 ends the passes), ring
// radius per pass and the noise floor, one constant set per mode.
struct StreamTables {
    int run[6];
    int run2[6];
    int clu[6];
    int noise;
};

// A quick-mode diagonal walk length: the straight one times sin 45 degrees, rounded.
constexpr int Diagonal(int run)
{
    return (run * TabSin[45] + 4096) >> 13;
}

constexpr StreamTables kNormalTables = {
    {15, 13, 11, 10, 9, 0}, {11, 9, 8, 7, 6, 0}, {1, 1, 1, 1, 0, 0}, 7};
constexpr StreamTables kQuickTables = {
    {6, 6, 5, 4, 0, 0},
    {Diagonal(6), Diagonal(6), Diagonal(5), Diagonal(4), Diagonal(0), Diagonal(0)},
    {0, 0, 0, 0, 0, 0},
    3};

// Class of a Poincare sum.
int ClassOf(int p)
{
    return p == 180 ? 2 : p == 360 ? 1 : p == -180 ? 8 : 0;
}

// Strength of a walk sum s >= 0 over length len, with the noise floor, 0..255: s / len rounded
// half up (s itself for len 0) plus the floor.
int Strength(int s, int len, int noise)
{
    const int l = len == 0 ? 1 : len;
    const int q = (s + l / 2) / l + noise;
    return q > 255 ? 255 : q;
}

// The step rule of the ridge walks: to the brightest (dark walks: darkest) of the pixels ahead,
// right and left of the cursor, a tie going ahead before left before right. It depends on the
// pixel alone, so each response layer gets a byte per interior pixel holding the move of all
// four walks of its family, two bits each (0 ahead, 1 right, 2 left): bits 0-1 the bright walk
// along direction n, 2-3 bright along n + 4, 4-5 dark along n, 6-7 dark along n + 4. A walk
// then steps through a table of 256 pixel offsets indexed by that byte.
constexpr int FL_CODES = 4;   // walks per family: bright n, bright n + 4, dark n, dark n + 4
constexpr int FL_TABLE = 256; // entries of one walk's move table
constexpr int FL_STAND = 255; // the code of the outermost ring: 3, no move, in every field

using FlBytes = unsigned char __attribute__((vector_size(16)));
constexpr int FL_LANES = 16;

FlBytes LoadBytes(const unsigned char* p)
{
    FlBytes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The two code bits of a walk, lane by lane, under `right` (bit of the right move) and
// `right` * 2 (left), from the pixels ahead (a), right (r) and left (l). The step goes to the
// best pixel (bright walks: greatest, dark walks: least), a tie going ahead before left before
// right: ahead where a is the best, else left where l is, else right.
template <bool Bright>
__attribute__((always_inline)) inline FlBytes FlCode(FlBytes a, FlBytes r, FlBytes l,
                                                     unsigned char right)
{
    const FlBytes ar = Bright ? (a > r ? a : r) : (a < r ? a : r);
    const FlBytes best = Bright ? (ar > l ? ar : l) : (ar < l ? ar : l);
    const FlBytes ahead = reinterpret_cast<FlBytes>(a == best);
    const FlBytes left = reinterpret_cast<FlBytes>(l == best);
    // 0 ahead, else right + right (left) or right.
    return ~ahead & ((left & right) + right);
}

// Codes of FL_LANES pixels from their neighbours ahead (a), right (r) and left (l) along
// direction n and the same along n + 4 (a4, r4, l4).
__attribute__((always_inline)) inline FlBytes FlCodes(FlBytes a, FlBytes r, FlBytes l, FlBytes a4,
                                                      FlBytes r4, FlBytes l4)
{
    return FlCode<true>(a, r, l, 1) | FlCode<true>(a4, r4, l4, 4) | FlCode<false>(a, r, l, 16) |
           FlCode<false>(a4, r4, l4, 64);
}

// The codes of family n from its response layer `resp` into `codes` (the outermost ring's
// codes move nowhere) and the family's four move tables into moves[0 .. 4 * FL_TABLE - 1].
void FlMakeCodes(const CLevel& lv, int n, const unsigned char* resp, unsigned char* codes,
                 std::ptrdiff_t* moves)
{
    const int w = lv.width;
    const int h = lv.height;
    for (int c = 0; c < FL_CODES; ++c) {
        const int d = (n + 4 * (c & 1)) & 7;
        const std::ptrdiff_t move[4] = {lv.step[d], lv.step[(d + 1) & 7], lv.step[(d + 7) & 7], 0};
        for (int b = 0; b < FL_TABLE; ++b) {
            moves[c * FL_TABLE + b] = move[(b >> (2 * c)) & 3];
        }
    }
    const std::ptrdiff_t ahead = lv.step[n & 7];
    const std::ptrdiff_t right = lv.step[(n + 1) & 7];
    const std::ptrdiff_t left = lv.step[(n + 7) & 7];
    auto lanes = [&](const unsigned char* p) {
        return FlCodes(LoadBytes(p + ahead), LoadBytes(p + right), LoadBytes(p + left),
                       LoadBytes(p - ahead), LoadBytes(p - right), LoadBytes(p - left));
    };
    const int inner = w - 2;
    for (int y = 1; y + 1 < h; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w + 1;
        if (inner >= FL_LANES) {
            // Whole lane groups, then one ending at the row's end over its predecessor.
            int x = 0;
            for (; x + FL_LANES <= inner; x += FL_LANES) {
                const FlBytes v = lanes(resp + row + x);
                std::memcpy(codes + row + x, &v, sizeof v);
            }
            if (x < inner) {
                const FlBytes v = lanes(resp + row + inner - FL_LANES);
                std::memcpy(codes + row + inner - FL_LANES, &v, sizeof v);
            }
        } else {
            // A narrow level: the neighbours gathered pixel by pixel into one lane group.
            unsigned char nb[6][FL_LANES] = {};
            const std::ptrdiff_t offs[6] = {ahead, right, left, -ahead, -right, -left};
            for (int x = 0; x < inner; ++x) {
                for (int k = 0; k < 6; ++k) {
                    nb[k][x] = resp[static_cast<std::ptrdiff_t>(row) + x + offs[k]];
                }
            }
            const FlBytes v = FlCodes(LoadBytes(nb[0]), LoadBytes(nb[1]), LoadBytes(nb[2]),
                                      LoadBytes(nb[3]), LoadBytes(nb[4]), LoadBytes(nb[5]));
            std::memcpy(codes + row, &v, static_cast<std::size_t>(inner > 0 ? inner : 0));
        }
    }
    // The outermost ring moves by entry 3 of every field, no move: a walk that reaches it
    // stands there.
    if (w > 0 && h > 0) {
        std::memset(codes, FL_STAND, static_cast<std::size_t>(w));
        std::memset(codes + static_cast<std::size_t>(h - 1) * w, FL_STAND,
                    static_cast<std::size_t>(w));
        for (int y = 1; y + 1 < h; ++y) {
            codes[static_cast<std::size_t>(y) * w] = FL_STAND;
            codes[static_cast<std::size_t>(y) * w + w - 1] = FL_STAND;
        }
    }
}

// Most steps of a walk in lockstep: its marks are bits of one word.
constexpr int FL_TRACK = 64;

// Half-turn direction atan(dx, dy) % 180 of a walk's displacement, by table within FL_REACH
// pixels along each axis (a paired walk moves at most one pixel per step and takes at most
// 15 steps), by atan beyond.
constexpr int FL_REACH = 15;
constexpr int FL_SPAN = 2 * FL_REACH + 1;

struct FlAngleTable {
    unsigned char a[FL_SPAN * FL_SPAN];
};

constexpr FlAngleTable MakeFlAngles()
{
    FlAngleTable t{};
    for (int y = -FL_REACH; y <= FL_REACH; ++y) {
        for (int x = -FL_REACH; x <= FL_REACH; ++x) {
            t.a[(y + FL_REACH) * FL_SPAN + x + FL_REACH] =
                static_cast<unsigned char>(atan(x, y) % 180);
        }
    }
    return t;
}

constexpr FlAngleTable kFlAngles = MakeFlAngles();
static_assert(kFlAngles.a[FL_REACH * FL_SPAN + FL_REACH + 1] == 0 &&
              kFlAngles.a[(FL_REACH + 1) * FL_SPAN + FL_REACH] == 90 &&
              kFlAngles.a[(FL_REACH - 1) * FL_SPAN + FL_REACH + 1] == 135);

__attribute__((always_inline)) inline int FlAngle(int dx, int dy)
{
    const unsigned ux = static_cast<unsigned>(dx + FL_REACH);
    const unsigned uy = static_cast<unsigned>(dy + FL_REACH);
    if (ux < FL_SPAN && uy < FL_SPAN) {
        return kFlAngles.a[uy * FL_SPAN + ux];
    }
    return atan(dx, dy) % 180;
}

} // namespace

FlStopped FlStopScalar(const unsigned char* v, const unsigned char* w, int steps, bool bright)
{
    int taken = steps;
    bool seen = false;
    for (int k = 0; k < steps; ++k) {
        const bool marked = bright ? v[k] >= 128 : v[k] < 127;
        if (seen && !marked) {
            taken = k + 1;
            break;
        }
        seen = seen || marked;
    }
    FlStopped s{taken, 0, 0};
    for (int k = 0; w != nullptr && k < taken; ++k) {
        s.v += v[k];
        s.w += w[k];
    }
    return s;
}

namespace {

// A lockstep group's walks a lane each, in 16-bit lanes: eight, or four in half a vector.
using FlWords8 = std::int16_t __attribute__((vector_size(16)));
using FlWords4 = std::int16_t __attribute__((vector_size(8)));
using FlRow8 = unsigned char __attribute__((vector_size(8)));
template <int N> using FlWords = std::conditional_t<N == 8, FlWords8, FlWords4>;

// Steps taken and sums of v and w of the N walks of a group.
template <int N> struct FlGroupStop {
    FlWords<N> taken;
    FlWords<N> v;
    FlWords<N> w;
};

// -1 in the lanes of the bits of `bright`, 0 elsewhere.
template <int N> FlWords<N> FlBright(unsigned bright)
{
    FlWords<N> b{};
    for (int j = 0; j < N; ++j) {
        b[j] = static_cast<std::int16_t>((bright >> j) & 1 ? -1 : 0);
    }
    return b;
}

// -1 in every other lane, from lane 0 (ends: bright, dark, bright, dark a cell) or from lane 1
// (paired walks: dark, bright, dark, bright a cell): the lanes of the group's bright walks.
template <int N> constexpr FlWords<N> FlAlternate(bool fromOne)
{
    const std::int16_t e = fromOne ? 0 : -1;
    const std::int16_t o = fromOne ? -1 : 0;
    if constexpr (N == 8) {
        return FlWords<N>{e, o, e, o, e, o, e, o};
    } else {
        return FlWords<N>{e, o, e, o};
    }
}

// The N bytes of a step's row, a 16-bit lane each: the bytes loaded as the low part of a
// vector and interleaved with zeros.
template <int N> __attribute__((always_inline)) inline FlWords<N> FlRowWords(const unsigned char* p)
{
    if constexpr (N == 8) {
        using Halves = std::uint64_t __attribute__((vector_size(16)));
        std::uint64_t r;
        std::memcpy(&r, p, sizeof r);
        const FlBytes x = reinterpret_cast<FlBytes>(Halves{r, 0});
        return reinterpret_cast<FlWords<N>>(__builtin_shufflevector(
            x, FlBytes{}, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
    } else {
        using Halves = std::uint32_t __attribute__((vector_size(8)));
        std::uint32_t r;
        std::memcpy(&r, p, sizeof r);
        const FlRow8 x = reinterpret_cast<FlRow8>(Halves{r, 0});
        return reinterpret_cast<FlWords<N>>(
            __builtin_shufflevector(x, FlRow8{}, 0, 8, 1, 9, 2, 10, 3, 11));
    }
}

// FlStopScalar of the N walks of a group at once, one step of all of them at a time: v[k * Stride
// + j] is the pixel reached by step k + 1 of walk j, w likewise of its follower (with Sums),
// `bright` -1 in the lanes of bright walks. A dark walk's pixel x is marked where 254 - x is
// a bright walk's mark (above 127), which one comparison tests for both kinds. A walk walks on
// (`live`) until a step reaches an unmarked pixel after a marked one; that step is the last one
// it takes, and counted, the steps after it not. The sums stay within 255 * 64.
template <int N, bool Sums, int Stride = N>
__attribute__((always_inline)) inline FlGroupStop<N>
FlStopLanes(const unsigned char* v, const unsigned char* w, int steps, FlWords<N> bright)
{
    using Words = FlWords<N>;
    const Words dark = ~bright;
    const Words turn = dark & 255; // (x ^ -1) + 255 is 254 - x
    Words unseen = ~Words{};       // no marked pixel reached yet
    Words live = ~Words{};
    Words taken{};
    Words sv{};
    Words sw{};
    for (int k = 0; k < steps; ++k) {
        const Words x = FlRowWords<N>(v + k * Stride);
        const Words marked = ((x ^ dark) + turn) > 127;
        taken -= live;
        sv += x & live;
        if (Sums) {
            sw += FlRowWords<N>(w + k * Stride) & live;
        }
        live &= marked | unseen;
        unseen &= ~marked;
    }
    return {taken, sv, sw};
}

// Paired walks' values from their steps and sums: the sums less 127 per step taken, the
// leader's (counted the other way for a dark walk) and the follower's (counted the other way
// for a bright one), twice the smaller when positive, else 0. Within 16 bits: 2 * 128 * 64.
template <int N>
__attribute__((always_inline)) inline FlWords<N> FlValues(const FlGroupStop<N>& s,
                                                          FlWords<N> bright)
{
    using Words = FlWords<N>;
    const Words base = s.taken * 127;
    const Words lead = s.v - base;
    const Words follow = s.w - base;
    const Words s1 = (lead ^ ~bright) - ~bright; // -lead where dark
    const Words s2 = (follow ^ bright) - bright; // -follow where bright
    const Words m = s1 < s2 ? s1 : s2;
    return m > 0 ? m + m : Words{};
}

} // namespace

void FlStopGroup(const unsigned char* v, const unsigned char* w, int lanes, int steps,
                 unsigned bright, FlStopped* out)
{
    auto put = [&](const auto& s) {
        for (int j = 0; j < lanes; ++j) {
            out[j] = {s.taken[j], w != nullptr ? s.v[j] : 0, w != nullptr ? s.w[j] : 0};
        }
    };
    if (lanes == 4) {
        w != nullptr ? put(FlStopLanes<4, true>(v, w, steps, FlBright<4>(bright)))
                     : put(FlStopLanes<4, false>(v, w, steps, FlBright<4>(bright)));
    } else {
        w != nullptr ? put(FlStopLanes<8, true>(v, w, steps, FlBright<8>(bright)))
                     : put(FlStopLanes<8, false>(v, w, steps, FlBright<8>(bright)));
    }
}

namespace {

// The plane of rooms of level 0: per pixel the steps a walk surely makes from it before it may
// reach the outermost ring, plus 1 (0 on the ring), at most 255; a row is the smaller of its
// columns' values and its own, sixteen pixels at a time.
void FlMakeRooms(const CLevel& lv, unsigned char* rooms)
{
    const int w = lv.width;
    const int h = lv.height;
    auto capped = [](int v) { return static_cast<unsigned char>(v < 255 ? v : 255); };
    unsigned char* const first = rooms; // the columns' values, made in the first row
    for (int x = 0; x < w; ++x) {
        first[x] = capped(x < w - 1 - x ? x : w - 1 - x);
    }
    for (int y = h - 1; y >= 0; --y) {
        const unsigned char r = capped(y < h - 1 - y ? y : h - 1 - y);
        const FlBytes rv = FlBytes{} + r;
        unsigned char* const row = rooms + static_cast<std::size_t>(y) * w;
        int x = 0;
        for (; x + FL_LANES <= w; x += FL_LANES) {
            const FlBytes c = LoadBytes(first + x);
            const FlBytes v = c < rv ? c : rv;
            std::memcpy(row + x, &v, sizeof v);
        }
        for (; x < w; ++x) {
            row[x] = first[x] < r ? first[x] : r;
        }
    }
}

// The ridge walks of the flow measurement on a level-0 response layer, step for step the
// engine's ridge walks (MvLayW, MvLayI, MvSynW, MvSynI): the same step rule, the same stop rule
// and the same edge rule, under which a walk ends on reaching the level's outermost ring (for
// a paired walk, when either cursor reaches it). A step moves at most one pixel along each
// axis, so a walk reaches the ring before it could leave the level. A single walk stands on the
// ring once there (the ring's codes move nowhere), which leaves its end where the rule ends
// it. A paired walk runs in stretches of room + 1 steps at most, room being a lower bound of
// the steps to that ring: a stretch reaches the ring only with its last step, and the exact
// position is worked out only between stretches. Positions are pixel offsets from the layer
// base. The
// engine's walk members are not moved: every cell walked here is walked next by StSums, which
// places the walk afresh.
class FlWalks {
public:
    FlWalks(const Codex& engine, const unsigned char* resp, const unsigned char* codes)
        : m_resp(resp), m_codes(codes), m_rooms(engine.m_st.rooms), m_turns(engine.m_st.turns),
          m_w(engine.m_level[0].width)
    {
    }

    // Steps a walk surely makes from pixel off before it may reach the outermost ring (a lower
    // bound far from it); -1 on it.
    int RoomAt(std::ptrdiff_t off) const { return m_rooms[off] - 1; }

    // Half-turn direction of the displacement from pixel `to` to pixel `from` of a walk of at
    // most `steps` steps: by the table of offset differences where it holds them.
    __attribute__((always_inline)) int Turn(int from, int to, int steps) const
    {
        if (m_turns != nullptr && steps <= FL_REACH) {
            return m_turns[from - to];
        }
        return FlAngle(from % m_w - to % m_w, from / m_w - to / m_w);
    }

    // End of the bright (dark) walk from off: `free` steps by the move table mv1, then up to
    // `len` steps by mv2 under the stop rule. A walk that reaches the outermost ring stands
    // there (no move from its codes), which is where the edge rule ends it: rooms are not kept.
    template <bool Bright>
    int Ends(int off, const std::ptrdiff_t* mv1, int free, const std::ptrdiff_t* mv2, int len) const
    {
        int t1 = 0;
        int t2 = 0;
        int off2 = off;
        int room = 0;
        Walk<Bright, false, false, false>(off, off2, room, free, mv1, t1, t2);
        Walk<Bright, true, false, false>(off, off2, room, len, mv2, t1, t2);
        return off;
    }

    // Paired walk under the stop rule, led by a bright (dark) walk from `lead` with a follower
    // from `follow` (rooms leadRoom and followRoom), `len` steps at most by the move table mv:
    // its value as MvSynW (MvSynI) gives it; `lead` becomes the leading walk's end.
    template <bool Bright>
    int Paired(int& lead, int leadRoom, int follow, int followRoom, const std::ptrdiff_t* mv,
               int len) const
    {
        int t1 = 0;
        int t2 = 0;
        int room = leadRoom < followRoom ? leadRoom : followRoom;
        const int taken = Walk<Bright, true, true, true>(lead, follow, room, len, mv, t1, t2);
        // 127 per step taken out, twice the smaller of the leader's and the follower's sums
        // (the follower's counted the other way) when positive, else 0.
        const int base = 127 * taken;
        const int s1 = Bright ? t1 - base : base - t1;
        const int s2 = Bright ? base - t2 : t2 - base;
        const int m = s1 < s2 ? s1 : s2;
        return m > 0 ? 2 * m : 0;
    }

    int Width() const { return m_w; }

    // The steps of a lockstep group of N walks, a record per step: in record t the position of
    // every walk after t steps, and the pixels reached by step t + 1 of every walk (v) and of its
    // follower (w), so that a step's stores share one address. Written step by step: not
    // cleared.
    template <int N> struct TrackStep {
        std::int32_t at[N];
        unsigned char v[N];
        unsigned char w[N];
    };
    template <int N> struct TrackLog {
        TrackStep<N> step[FL_TRACK + 1];
    };

    // Walk `Lane` of a lockstep group along move table Table of its family, `steps` steps at
    // most (FL_TRACK), away from the outermost ring or standing on it. The group's walks make
    // every step without a branch, keeping their steps in the group's log; where the stop rule
    // ends each is worked out from the log afterwards, for the whole group at once
    // (FlStopLanes). With Sums it is a paired walk.
    template <bool Sums, int Table, int Lane> struct Track {
        std::ptrdiff_t o;
        std::ptrdiff_t apart; // of the follower

        template <int N> __attribute__((always_inline)) void Start(TrackLog<N>& log) const
        {
            log.step[0].at[Lane] = static_cast<std::int32_t>(o);
        }

        template <int N>
        __attribute__((always_inline)) void Step(int k, const unsigned char* codes,
                                                 const unsigned char* resp,
                                                 const std::ptrdiff_t* mv, TrackLog<N>& log)
        {
            o += mv[Table * FL_TABLE + codes[o]];
            TrackStep<N>* const at = log.step + k;
            at[1].at[Lane] = static_cast<std::int32_t>(o);
            at[0].v[Lane] = resp[o];
            if (Sums) {
                at[0].w[Lane] = resp[o + apart];
            }
        }
    };

    // `steps` plain steps outside the stop rule of walks at o..., along move tables Table... of
    // the family's tables mv.
    template <int... Table, typename... O>
    __attribute__((always_inline)) void Plain(const std::ptrdiff_t* mv, int steps, O&... o) const
    {
        const unsigned char* const codes = m_codes;
        for (int k = 0; k < steps; ++k) {
            ((o += mv[Table * FL_TABLE + codes[o]]), ...);
        }
    }

    // `steps` (at most FL_TRACK) steps of the tracks of a group.
    template <int N, typename... T>
    __attribute__((always_inline)) void Lockstep(const std::ptrdiff_t* mv, int steps,
                                                 TrackLog<N>& log, T&... tracks) const
    {
        const unsigned char* const codes = m_codes;
        const unsigned char* const resp = m_resp;
        (tracks.Start(log), ...);
        for (int k = 0; k < steps; ++k) {
            (tracks.Step(k, codes, resp, mv, log), ...);
        }
    }

private:
    // Up to `steps` steps from off by the move table mv (the follower at off2 alongside when
    // paired), room a lower bound of the room of both, which is left a lower bound at the end;
    // with the stop rule the walk ends on its first unmarked pixel after marked ones. Paired
    // walks sum the pixels of both cursors into t1 and t2. Returns the steps taken. Without
    // Edge the walk is known to stay off the outermost ring: one stretch of all the steps.
    template <bool Bright, bool StopRule, bool Paired, bool Edge>
    int Walk(int& off, int& off2, int& room, int steps, const std::ptrdiff_t* mv, int& t1,
             int& t2) const
    {
        const unsigned char* const resp = m_resp;
        const unsigned char* const codes = m_codes;
        std::ptrdiff_t o = off;
        // The follower keeps its distance to the leader: its pixel is read at o + apart, both
        // in the layer (no pointer shifted out of it is formed).
        const std::ptrdiff_t apart = static_cast<std::ptrdiff_t>(off2) - off;
        // One step; true when the pixel reached is marked.
        auto step = [&]() {
            o += mv[codes[o]];
            const int v = resp[o];
            if (Paired) {
                t1 += v;
                t2 += resp[o + apart];
            }
            return Bright ? v >= 128 : v < 127;
        };
        int taken = 0;
        int left = steps;
        bool run = false;  // a marked pixel was reached
        bool done = false; // the stop rule ended the walk
        for (;;) {
            const int chunk = !Edge || left <= room ? left : room + 1;
            int rest = chunk; // steps left in the stretch
            if (StopRule) {
                // Steps until the pixel reached is marked (`want`) or is not; true when one
                // is. Four steps a loop test, then one at a time.
                auto until = [&](auto want) {
                    constexpr bool Want = decltype(want)::value;
                    for (; rest >= 4; rest -= 4) {
#pragma GCC unroll 4
                        for (int k = 1; k <= 4; ++k) {
                            if (step() == Want) {
                                rest -= k;
                                return true;
                            }
                        }
                    }
                    while (rest > 0) {
                        --rest;
                        if (step() == Want) {
                            return true;
                        }
                    }
                    return false;
                };
                if (!run) {
                    run = until(std::true_type{});
                }
                if (run) {
                    done = until(std::false_type{});
                }
            } else {
                for (; rest >= 2; rest -= 2) {
                    o += mv[codes[o]];
                    o += mv[codes[o]];
                }
                if (rest == 1) {
                    o += mv[codes[o]];
                    rest = 0;
                }
            }
            const int n = chunk - rest;
            taken += n;
            if (!Edge) {
                break;
            }
            room -= n;
            left -= chunk;
            if (done || left == 0) {
                break;
            }
            room = RoomAt(o);
            if (Paired) {
                const int r2 = RoomAt(o + apart);
                room = r2 < room ? r2 : room;
            }
            if (room < 0) {
                break;
            }
        }
        off = static_cast<int>(o);
        off2 = static_cast<int>(o + apart);
        return taken;
    }

    const unsigned char* m_resp;
    const unsigned char* m_codes;
    const unsigned char* m_rooms;
    const unsigned char* m_turns;
    int m_w;
};

// The cost kind of a Poincare sum: 0 loop or whorl, 1 delta, 2 neither.
int TrKind(int p)
{
    return p == 180 || p == 360 ? 0 : p == -180 ? 1 : 2;
}

} // namespace

int Trelax_StIndiScalar(int c, const int* o, int p)
{
    // The distances take the orientations in 0..359: brought there once, not per candidate.
    int om[8];
    for (int k = 0; k < 8; ++k) {
        om[k] = Mod360(o[k]);
    }
    const int kind = TrKind(p);
    int best = NO_COST;
    int relaxed = c;
    int g = Mod360(c); // Mod360(c + 45 t), one sector further each turn
    for (int t = 0; t < 8; ++t, g = g >= 315 ? g - 315 : g + 45) {
        const int a = o[t];
        const int b = o[(t + 4) & 7];
        // With o in 0..255 the folds lie in -90..90, so cand lies in -90..449 before it is
        // brought into 0..179.
        int cand = g + (CWork::Fold(a - g) + CWork::Fold(b - g)) / 2;
        cand = cand < 0 ? cand + 180 : cand >= 360 ? cand - 360 : cand >= 180 ? cand - 180 : cand;
        const int e1 = CWork::DistIn(om[t], cand);
        const int e2 = CWork::DistIn(om[(t + 4) & 7], cand);
        const int e = e1 > e2 ? e1 : e2;
        int cost;
        if (kind == 2) {
            const int f = CWork::Fold(a - cand) + CWork::Fold(b - cand);
            cost = e + f * f;
        } else {
            const int j = CWork::Fold(o[(t + 1) & 7] - o[(t + 2) & 7]) -
                          CWork::Fold(o[(t + 3) & 7] - o[(t + 2) & 7]);
            cost = kind == 0 ? e + 4 * j : e - j / 4;
        }
        if (cost <= best) {
            best = cost;
            relaxed = cand;
        }
    }
    return relaxed;
}

namespace {

// Eight 16-bit lanes, one candidate sector t each.
using TrLanes = std::int16_t __attribute__((vector_size(16)));

TrLanes TrLoad(const std::int16_t* p)
{
    TrLanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

TrLanes TrAbs(TrLanes d)
{
    return d < 0 ? -d : d;
}

// CWork::Fold lane by lane: d less 180 (toward zero) from a magnitude of 90, again from 270.
TrLanes TrFold(TrLanes d)
{
    const TrLanes e = TrAbs(d);
    const TrLanes half = d > 0 ? TrLanes{} + 180 : TrLanes{} - 180;
    return d - ((e > 89) & half) - ((e > 269) & half);
}

// CWork::DistIn lane by lane for a and b in 0..359 is 90 - ||(|a - b| - 180)| - 90|: this
// returns the outer magnitude alone, 90 less the distance.
TrLanes TrNear(TrLanes a, TrLanes b)
{
    return TrAbs(TrAbs(TrAbs(a - b) - 180) - 90);
}

// The sum of the eight lanes of v, each 0..90: as bytes by one sum of absolute differences on
// SSE2, else by halves into lanes 0 and 1.
__attribute__((always_inline)) inline int TrSum90(TrLanes v)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_packus_epi16(reinterpret_cast<__m128i>(v), zero);
    return _mm_cvtsi128_si32(_mm_sad_epu8(bytes, zero));
#else
    v += __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3);
    v += __builtin_shufflevector(v, v, 2, 3, 0, 1, 2, 3, 0, 1);
    return v[0] + v[1];
#endif
}

} // namespace

// The candidates of the eight sectors side by side: with o and c in 0..255 every value below
// stays within 16 bits (the squared fold sum is at most 180^2), and the divisions by 2 and 4
// truncate toward zero as the one-at-a-time twin's do.
int Trelax_StIndi(int c, const int* o, int p)
{
    std::int16_t twice[16]; // o[t], o[t + 1], ... read from any first sector without a wrap
    for (int k = 0; k < 8; ++k) {
        twice[k] = twice[k + 8] = static_cast<std::int16_t>(o[k]);
    }
    const TrLanes a = TrLoad(twice);
    const TrLanes b = TrLoad(twice + 4);
    const TrLanes turn = {0, 45, 90, 135, 180, 225, 270, 315};
    TrLanes g = turn + static_cast<std::int16_t>(Mod360(c));
    g -= (g >= 360) & 360;
    TrLanes cand = g + (TrFold(a - g) + TrFold(b - g)) / 2;
    cand += (cand < 0) & 180;
    cand -= (cand >= 360) & 180; // then once more below: 360..449 less 360
    cand -= (cand >= 180) & 180;
    const TrLanes far1 = TrNear(a, cand);
    const TrLanes far2 = TrNear(b, cand);
    const TrLanes e = 90 - (far1 < far2 ? far1 : far2);
    const int kind = TrKind(p);
    TrLanes cost;
    if (kind == 2) {
        const TrLanes f = TrFold(a - cand) + TrFold(b - cand);
        cost = e + f * f;
    } else {
        const TrLanes mid = TrLoad(twice + 2);
        const TrLanes j = TrFold(TrLoad(twice + 1) - mid) - TrFold(TrLoad(twice + 3) - mid);
        cost = kind == 0 ? e + 4 * j : e - j / 4;
    }
    // Every cost lies far below NO_COST: the last sector of the least cost wins.
    std::int16_t cands[8];
    std::memcpy(cands, &cand, sizeof cands);
#if defined(__SSE2__)
    // The least cost in every lane, then the last lane holding it by the byte mask of equals.
    const __m128i c0 = reinterpret_cast<__m128i>(cost);
    __m128i least = _mm_min_epi16(c0, _mm_shuffle_epi32(c0, 0x4E));
    least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0xB1));
    least = _mm_min_epi16(least, _mm_shufflelo_epi16(least, 0xB1));
    least = _mm_shuffle_epi32(least, 0);
    const unsigned equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(c0, least)));
    return cands[(31 - __builtin_clz(equal)) / 2];
#else
    std::int16_t costs[8];
    std::memcpy(costs, &cost, sizeof costs);
    int best = costs[0];
    int relaxed = cands[0];
    for (int t = 1; t < 8; ++t) {
        if (costs[t] <= best) {
            best = costs[t];
            relaxed = cands[t];
        }
    }
    return relaxed;
#endif
}

namespace {

// First sector of a trial direction theta (0..359) for a cell orientation c (0..255), at
// theta + 255 - c: ((theta + 23 - c) / 45) & 7, the quotient truncated toward zero.
struct FitSectors {
    std::uint8_t at[615];
};
constexpr FitSectors MakeFitSectors()
{
    FitSectors t{};
    for (int i = 0; i < 615; ++i) {
        t.at[i] = static_cast<std::uint8_t>(((i - 232) / 45) & 7);
    }
    return t;
}
constexpr FitSectors kFitSectors = MakeFitSectors();

} // namespace

// The template fitted one trial direction at a time, its eight sectors side by side: with c and
// o in 0..255 and the template and start in 0..359 every angle and difference stays within 16
// bits and a cost sum within 720.
int FitTemplateLanes(const int* tpl, int theta0, int trials, int c, const int* o)
{
    std::int16_t twice[16]; // sector angles in 0..359, eight from any first one consecutive
    std::int16_t shape[8];
    for (int k = 0; k < 8; ++k) {
        twice[k] = twice[k + 8] = static_cast<std::int16_t>(Mod360(o[k]));
        shape[k] = static_cast<std::int16_t>(tpl[k]);
    }
    // The template turned to the trial direction, (tpl + theta) % 360 lane by lane, turned on
    // by 2 degrees a trial.
    TrLanes a = TrLoad(shape) + static_cast<std::int16_t>(theta0);
    a -= (a >= 360) & 360;
    int best = 129600;
    int bestTheta = -1;
    int theta = theta0; // the trial direction, kept in 0..359
    for (int t = 0; t < trials; ++t) {
        const TrLanes sectors = TrLoad(twice + kFitSectors.at[theta + 255 - c]);
        const int cost = 720 - TrSum90(TrNear(a, sectors));
        if (cost < best) {
            best = cost;
            bestTheta = theta;
        }
        theta = theta >= 358 ? theta - 358 : theta + 2;
        a += 2;
        a -= (a >= 360) & 360;
    }
    return bestTheta;
}

namespace {

// The same with the Poincare sum of o (abandoned in quick mode).
int Trelax(int c, const int* o, bool quick)
{
    return Trelax_StIndi(c, o, CWork::Poincare(o, quick));
}

} // namespace

void Codex::StCodes()
{
    // The move tables of the four families, a level-0 plane of codes per family, the plane of
    // rooms and, on levels at least FL_SPAN wide, the directions by offset difference.
    const CLevel& lv = m_level[0];
    const std::size_t n0 = lv.size;
    const std::size_t turns =
        lv.width >= FL_SPAN ? static_cast<std::size_t>(FL_SPAN) * lv.width : 0;
    constexpr std::size_t MOVES = 4 * FL_CODES * FL_TABLE;
    m_st.walks.reset();
    constexpr std::size_t WORD = sizeof(std::ptrdiff_t);
    m_st.walks.reset(new std::ptrdiff_t[MOVES + (5 * n0 + turns + WORD - 1) / WORD]);
    std::ptrdiff_t* const moves = m_st.walks.get();
    unsigned char* const codes = reinterpret_cast<unsigned char*>(moves + MOVES);
    for (int k = 0; k < 4; ++k) {
        FlMakeCodes(lv, k, m_st.resp[k], codes + k * n0, moves + k * FL_CODES * FL_TABLE);
        m_st.codes[k] = codes + k * n0;
        m_st.moves[k] = moves + k * FL_CODES * FL_TABLE;
    }
    unsigned char* const rooms = codes + 4 * n0;
    FlMakeRooms(lv, rooms);
    m_st.rooms = rooms;
    m_st.turns = nullptr;
    if (turns != 0) {
        unsigned char* const centre = rooms + n0 + FL_REACH * lv.width + FL_REACH;
        for (int dy = -FL_REACH; dy <= FL_REACH; ++dy) {
            for (int dx = -FL_REACH; dx <= FL_REACH; ++dx) {
                centre[dy * lv.width + dx] = static_cast<unsigned char>(FlAngle(dx, dy));
            }
        }
        m_st.turns = centre;
    }
}

// Sector orientations o[0..7] of the ring of `radius` around cell i, with orientations from
// `dir` and strengths from `mag` (centre orientation from `dir`).
void Codex::StSums(int i, unsigned char* dir, unsigned char* mag, int radius, int* o)
{
    const int w = m_level[LEVEL].width;
    std::memset(m_cosSum, 0, sizeof m_cosSum);
    std::memset(m_sinSum, 0, sizeof m_sinSum);
    std::memset(m_wSum, 0, sizeof m_wSum);
    WalkAt(i % w, i / w, LEVEL, dir, dir, mag);
    // What Spiral runs for the ring step Argums_NoApw_quick, called as it is.
    SectorRing(LEVEL, radius, 1, false);
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    Targum(m_cosSum, m_sinSum, o, dir + i);
}

// Candidate choice among the four family candidates of cell i against ref.
void Codex::StPick(int i, unsigned char* angleOut, unsigned char* magOut, int ref)
{
    for (int k = 0; k < 4; ++k) {
        m_coarse[8 + 2 * k] = m_st.famDir[k] + i;
        m_coarse[9 + 2 * k] = m_st.famMag[k] + i;
    }
    GemReg_Stream_1(angleOut, magOut, ref);
}

namespace {

// The four walks from a cell's centre in lockstep, lanes 4 C .. 4 C + 3 of their group, from
// o[0..3] after the plain steps: bright and dark back along n + 4 and along n (move tables 1,
// 3, 0, 2; the plain steps went by 0, 2, 1, 3).
template <int C> auto FlEndTracks(const std::ptrdiff_t* o)
{
    constexpr int L = 4 * C;
    return std::make_tuple(
        FlWalks::Track<false, 1, L>{o[0], 0}, FlWalks::Track<false, 3, L + 1>{o[1], 0},
        FlWalks::Track<false, 0, L + 2>{o[2], 0}, FlWalks::Track<false, 2, L + 3>{o[3], 0});
}

// The four paired walks of a cell in lockstep, lanes 4 C .. 4 C + 3, from the ends B and K of
// both passes (ends[pass][0] B, [1] K): led by K along n, by B along n, by K along n + 4, by B
// along n + 4 (move tables 2, 0, 3, 1).
template <int C> auto FlPairTracks(const int (&ends)[2][2])
{
    constexpr int L = 4 * C;
    const std::ptrdiff_t b0 = ends[0][0];
    const std::ptrdiff_t k0 = ends[0][1];
    const std::ptrdiff_t b1 = ends[1][0];
    const std::ptrdiff_t k1 = ends[1][1];
    return std::make_tuple(
        FlWalks::Track<true, 2, L>{k0, b0 - k0}, FlWalks::Track<true, 0, L + 1>{b0, k0 - b0},
        FlWalks::Track<true, 3, L + 2>{k1, b1 - k1}, FlWalks::Track<true, 1, L + 3>{b1, k1 - b1});
}

// Walk measurement of N cells (1 or 2) of row y at xs, none settled, for direction family n with
// walk length len by the walks on the family's response layer, the walks of the cells side by
// side; the caller leaves the engine's second walk cursor as the engine's paired walks leave it.
template <int N>
__attribute__((always_inline)) inline void FlCells(Codex& e, const FlWalks& walks, const int* xs,
                                                   int y, int n, int len)
{
    const Codex::StLayers& st = e.m_st;
    const int w3 = e.m_level[LEVEL].width;
    unsigned char* const l32 = st.dir;
    unsigned char* const l33 = st.dirR;
    unsigned char* const l112 = st.mag;
    unsigned char* const l113 = st.magR;
    unsigned char* const famDir = st.famDir[n];
    unsigned char* const famMag = st.famMag[n];
    const int w0 = walks.Width();
    const int h0 = e.m_level[0].height;
    const int half = len / 2 + 1;
    const int noise = e.m_stNoise;
    const FlStrength strength(len, noise); // of the lockstep walks' values
    std::size_t at[N];
    int centre[N];
    int best[N];
    for (int c = 0; c < N; ++c) {
        at[c] = static_cast<std::size_t>(y) * w3 + xs[c];
        // Block centre at level 0 (the last block of a row or column is shifted inside).
        int bx = xs[c] * 8;
        int by = y * 8;
        bx = bx + 8 > w0 ? w0 - 8 : bx;
        by = by + 8 > h0 ? h0 - 8 : by;
        centre[c] = (by + 4) * w0 + bx + 4;
        best[c] = 0;
    }
    // 5. Overall best and 6. family best of one paired walk of cell c: strength q, direction a.
    auto record = [&](int c, int q, int a) {
        const std::size_t i = at[c];
        if (q >= l112[i]) {
            l112[i] = l113[i] = static_cast<unsigned char>(q);
            l32[i] = l33[i] = static_cast<unsigned char>(a);
        }
        if (q >= best[c]) {
            famDir[i] = static_cast<unsigned char>(a);
            famMag[i] = static_cast<unsigned char>(q);
            best[c] = q;
        }
    };
    // Move tables of the family: 0 and 1 bright along n and n + 4, 2 and 3 dark along n and
    // n + 4.
    const std::ptrdiff_t* const mv = st.moves[n];
    // 1. and 2. Bright and dark paths of both passes (along n + 4 * pass and back), ends B and
    // K: a single walk stands on the outermost ring once there. Where the walks are short
    // enough, all in lockstep.
    int ends[N][2][2]; // B and K of each pass
    FlWalks::TrackLog<4 * N> log;
    if (len <= FL_TRACK) {
        std::ptrdiff_t o[4 * N];
        for (int c = 0; c < N; ++c) {
            o[4 * c] = o[4 * c + 1] = o[4 * c + 2] = o[4 * c + 3] = centre[c];
        }
        if constexpr (N == 1) {
            walks.Plain<0, 2, 1, 3>(mv, half, o[0], o[1], o[2], o[3]);
        } else {
            walks.Plain<0, 2, 1, 3, 0, 2, 1, 3>(mv, half, o[0], o[1], o[2], o[3], o[4], o[5], o[6],
                                                o[7]);
        }
        auto tracks = [&] {
            if constexpr (N == 1) {
                return FlEndTracks<0>(o);
            } else {
                return std::tuple_cat(FlEndTracks<0>(o), FlEndTracks<1>(o + 4));
            }
        }();
        std::apply([&](auto&... t) { walks.Lockstep(mv, len, log, t...); }, tracks);
        const auto stop = FlStopLanes<4 * N, false, sizeof(FlWalks::TrackStep<4 * N>)>(
            log.step[0].v, nullptr, len, FlAlternate<4 * N>(false));
#pragma GCC unroll 8
        for (int k = 0; k < 4 * N; ++k) {
            ends[k / 4][(k / 2) & 1][k & 1] = log.step[stop.taken[k]].at[k];
        }
    } else {
        for (int c = 0; c < N; ++c) {
            for (int pass = 0; pass < 2; ++pass) {
                const std::ptrdiff_t* const there = mv + pass * FL_TABLE;
                const std::ptrdiff_t* const back = mv + (1 - pass) * FL_TABLE;
                ends[c][pass][0] = walks.Ends<true>(centre[c], there, half, back, len);
                ends[c][pass][1] = walks.Ends<false>(centre[c], there + 2 * FL_TABLE, half,
                                                     back + 2 * FL_TABLE, len);
            }
        }
    }
    // 3. and 4. Paired walks from K (leading) and B (following) and the other way round. Where
    // no cursor of a cell's walks may reach the outermost ring before the last step, the cell's
    // four in lockstep, with those of the other cell where it is so too.
    int rooms[N][2][2];
    bool clear[N];
    for (int c = 0; c < N; ++c) {
        clear[c] = len <= FL_TRACK;
        for (int pass = 0; pass < 2; ++pass) {
            rooms[c][pass][0] = walks.RoomAt(ends[c][pass][0]);
            rooms[c][pass][1] = walks.RoomAt(ends[c][pass][1]);
            const int room =
                rooms[c][pass][0] < rooms[c][pass][1] ? rooms[c][pass][0] : rooms[c][pass][1];
            clear[c] = clear[c] && len <= room + 1;
        }
    }
    // The values of the paired walks of a group into their cells, lane 4 c + j of cell c led
    // from K, B, K, B of passes 0, 0, 1, 1.
    auto pairs = [&](auto& tracks, const int* cells) {
        std::apply([&](auto&... t) { walks.Lockstep(mv, len, log, t...); }, tracks);
        // The group's walks are the log's first lanes (4 or 8 of 4 N); the others are not read.
        constexpr int count = static_cast<int>(std::tuple_size_v<std::decay_t<decltype(tracks)>>);
        const auto bright = FlAlternate<count>(true);
        const auto stop = FlStopLanes<count, true, sizeof(FlWalks::TrackStep<4 * N>)>(
            log.step[0].v, log.step[0].w, len, bright);
        const auto value = FlValues(stop, bright);
#pragma GCC unroll 8
        for (int k = 0; k < count; ++k) {
            const int c = cells[k / 4];
            const int from = ends[c][(k / 2) & 1][1 - (k & 1)];
            record(c, strength(value[k]), walks.Turn(from, log.step[stop.taken[k]].at[k], len));
        }
    };
    bool done[N] = {};
    if constexpr (N == 2) {
        if (clear[0] && clear[1]) {
            auto tracks = std::tuple_cat(FlPairTracks<0>(ends[0]), FlPairTracks<1>(ends[1]));
            const int cells[2] = {0, 1};
            pairs(tracks, cells);
            done[0] = done[1] = true;
        }
    }
    for (int c = 0; c < N; ++c) {
        if (done[c]) {
            continue;
        }
        if (clear[c]) {
            auto tracks = FlPairTracks<0>(ends[c]);
            const int cells[1] = {c};
            pairs(tracks, cells);
            continue;
        }
        // Else one walk at a time, keeping the rooms.
        for (int pass = 0; pass < 2; ++pass) {
            const int b = ends[c][pass][0];
            const int k = ends[c][pass][1];
            int end = k;
            const int s1 = walks.Paired<false>(end, rooms[c][pass][1], b, rooms[c][pass][0],
                                               mv + (2 + pass) * FL_TABLE, len);
            const int a1 = walks.Turn(k, end, len);
            end = b;
            const int s2 = walks.Paired<true>(end, rooms[c][pass][0], k, rooms[c][pass][1],
                                              mv + pass * FL_TABLE, len);
            const int a2 = walks.Turn(b, end, len);
            record(c, Strength(s1, len, noise), a1);
            record(c, Strength(s2, len, noise), a2);
        }
    }
}

} // namespace

void Codex::StFlow(int x, int y, int n, int len)
{
    StFlowCells(y, n, len, x, x + 1);
}

#if defined(__clang__)
__attribute__((flatten)) void Codex::StFlowCells(int y, int n, int len, int from, int to)
#else
// GCC's straight-line vectorizer would pack a lockstep step's stores to the group's log (the
// positions and pixels of eight walks side by side) into vectors element by element, which
// costs more than it saves.
__attribute__((flatten, optimize("no-tree-slp-vectorize"))) void
Codex::StFlowCells(int y, int n, int len, int from, int to)
#endif
{
    const FlWalks walks(*this, m_st.resp[n], m_st.codes[n]);
    const unsigned char* const cls = m_st.cls + static_cast<std::size_t>(y) * m_level[LEVEL].width;
    // The cells not settled two at a time, their walks side by side, and a last one alone.
    int xs[2];
    int held = 0;
    for (int x = from; x < to; ++x) {
        if (cls[x] != SETTLED) {
            xs[held++] = x;
            if (held == 2) {
                FlCells<2>(*this, walks, xs, y, n, len);
                held = 0;
            }
        }
    }
    if (held == 1) {
        FlCells<1>(*this, walks, xs, y, n, len);
    }
    m_walk2 = nullptr; // as the engine's paired walks leave it
}

// Regularisation: the candidate nearest the relaxed ring orientation into 32 and 112.
void Codex::StJoin(int i)
{
    if (m_st.cls[i] == SETTLED) {
        return;
    }
    int o[8];
    unsigned char* l33 = m_st.dirR;
    StSums(i, l33, m_st.magR, m_stRadius, o);
    const int relaxed = Trelax(l33[i], o, m_quick != 0);
    StPick(i, m_st.dir + i, m_st.mag + i, relaxed);
}

// Singularity: Poincare class of the cell and the relaxed orientation into 33 and 113; loop
// cells get their direction fitted into 37.
void Codex::StIndi(int i)
{
    unsigned char* cls = m_st.cls;
    if (cls[i] != 0 && !Singular(cls[i])) {
        return;
    }
    unsigned char* l32 = m_st.dir;
    unsigned char* l33 = m_st.dirR;
    int o[8];
    const int c = l32[i];
    StSums(i, l32, m_st.mag, m_stRadius, o);
    const int p = Poincare(o, m_quick != 0);
    const int psi = Trelax_StIndi(c, o, p);
    StPick(i, l33 + i, m_st.magR + i, psi);
    l33[i] = static_cast<unsigned char>(psi);
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const int x = i % w;
    const int y = i / w;
    if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
        return;
    }
    cls[i] = static_cast<unsigned char>(ClassOf(p));
    if (cls[i] != 2) {
        return;
    }
    const int fit = FitTemplateLanes(kLoops, 90, 180, c, o);
    if (fit >= 0) {
        m_st.fit[i] = static_cast<unsigned char>(fit / 2);
    }
}

// Ring callback of the settling: counts singular ring cells that can influence the centre.
void Codex::StGoon(int angle, int)
{
    const int c = *m_walk[0];
    if (c == 1 || c == 8 || (c == 2 && Turn(angle, 2 * *m_walk[1]) >= 130)) {
        ++m_stCount;
    }
}

// Settling between passes: cells far from any singular cell are frozen.
void Codex::StGoonV(int i)
{
    unsigned char* l112 = m_st.mag;
    unsigned char* l113 = m_st.magR;
    unsigned char* cls = m_st.cls;
    m_st.dir[i] = m_st.dirR[i];
    l112[i] = l113[i];
    if (Singular(cls[i])) {
        l112[i] = l113[i] = 0;
        return;
    }
    if (cls[i] == SETTLED) {
        return;
    }
    const int w = m_level[LEVEL].width;
    WalkAt(i % w, i / w, LEVEL, nullptr, cls, m_st.fit);
    // The ring of StGoon, counted in a local over the ring's offsets.
    const unsigned char* const ringCls = m_walk[0];
    const unsigned char* const ringFit = m_walk[1];
    int count = 0;
    RingOffsets(LEVEL, m_stRadius, 1, [&count, ringCls, ringFit](int angle, std::int32_t off) {
        // Classes 1 to 8 by one test first: most ring cells are 0 or settled.
        const unsigned c = ringCls[off];
        if (c - 1 < 8 && (c == 1 || c == 8 || (c == 2 && Turn(angle, 2 * ringFit[off]) >= 130))) {
            ++count;
        }
    });
    m_stCount = count;
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    if (m_stCount > 0) {
        l112[i] = l113[i] = 0;
    } else {
        cls[i] = SETTLED;
    }
}

// Final choice against the regularised orientation and the agreeing strength in 113.
void Codex::StReco(int i)
{
    unsigned char* l32 = m_st.dir;
    unsigned char* l33 = m_st.dirR;
    unsigned char* l112 = m_st.mag;
    StPick(i, l32 + i, l112 + i, l33[i]);
    const int dist = Dist(l32[i], l33[i]);
    const int v = (TabSig[90 - dist] * l112[i] + 4096) >> 13;
    m_st.magR[i] = static_cast<unsigned char>(v > m_stNoise ? v : m_stNoise);
}

void Codex::Stream(int)
{
    // 1. Pull, stage discipline, tables.
    if (GetKey(10, 0) == -1) {
        Lightf(-1);
    }
    m_stage = STREAM_STAGE;
    OldLay(STREAM_STAGE);
    m_curLevel = LEVEL;
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const int n3 = w * h;
    m_winLeft = 0;
    m_winTop = 0;
    m_winRight = w - 1;
    m_winBottom = h - 1;
    const StreamTables& tab = m_quick != 0 ? kQuickTables : kNormalTables;
    m_stNoise = tab.noise;
    // 2. Layers.
    static const int kCleared[] = {113, 112, 160, 32, 33, 37};
    static const int kWork[] = {119, 120, 121, 122, 38, 39, 40, 41};
    for (int id : kCleared) {
        unsigned char* p = GetLay(id, LEVEL);
        if (p == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
        std::memset(p, 0, static_cast<std::size_t>(n3));
    }
    for (int id : kWork) {
        if (GetLay(id, LEVEL) == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
    }
    for (int k = 0; k < 4; ++k) {
        if (GetLay(10 + k, 0) == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
    }
    m_st.dir = GetLay(32, LEVEL);
    m_st.dirR = GetLay(33, LEVEL);
    m_st.fit = GetLay(37, LEVEL);
    m_st.mag = GetLay(112, LEVEL);
    m_st.magR = GetLay(113, LEVEL);
    m_st.cls = GetLay(160, LEVEL);
    for (int k = 0; k < 4; ++k) {
        m_st.famDir[k] = GetLay(38 + k, LEVEL);
        m_st.famMag[k] = GetLay(119 + k, LEVEL);
        m_st.resp[k] = GetLay(10 + k, 0);
    }
    StCodes();
    // 3. Passes.
    for (int p = 0;; ++p) {
        for (int n = 0; n < 4; ++n) {
            const int len = (n & 1) == 0 ? tab.run[p] : tab.run2[p];
            for (int y = 0; y < h; ++y) {
                StFlowCells(y, n, len, 0, w);
            }
            if (p == 0) {
                unsigned char* d1 = GetLay(256 + n, LEVEL);
                unsigned char* d2 = GetLay(261 + n, LEVEL);
                if (d1 == nullptr || d2 == nullptr) {
                    m_error = WZ_NO_LAYER;
                    throw WZ_NO_LAYER;
                }
                std::memcpy(d1, m_st.famDir[n], static_cast<std::size_t>(n3));
                std::memcpy(d2, m_st.famMag[n], static_cast<std::size_t>(n3));
            }
        }
        m_stRadius = tab.clu[p];
        for (int i = 0; i < n3; ++i) {
            StJoin(i);
        }
        for (int i = 0; i < n3; ++i) {
            StIndi(i);
        }
        if (p + 1 >= 6 || tab.run[p + 1] == 0) {
            break;
        }
        for (int i = 0; i < n3; ++i) {
            StGoonV(i);
        }
    }
    // 4. Final choice.
    for (int i = 0; i < n3; ++i) {
        StReco(i);
    }
    Resume();
    for (int k = 0; k < 4; ++k) { // the codes go with this run
        m_st.codes[k] = nullptr;
        m_st.moves[k] = nullptr;
    }
    m_st.rooms = nullptr;
    m_st.turns = nullptr;
    m_st.walks.reset();
    // 5. Work layers go (quick mode keeps them).
    if (m_quick == 0) {
        for (int id : kWork) {
            DelLay(id, LEVEL);
        }
    }
}

} // namespace wizard73
