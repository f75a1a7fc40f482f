// Stage 18, Filter: ridge binarisation along the flow. Level-1 blocks are classed (161: 8 ridges,
// 2 near a singular point, 16 background, bit 1 once stopped) with a filter order (163); layer 1
// is enhanced across the ridges (period 56, flow 36, side 48) and smoothed along them (bend 49) up
// to four times in layers 6 / 7, then binarised into 4 and 5 (3 ridge, 128 valley, 255
// background). Work layer 240 of level 1 is deleted. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FixedMath.h"
#include "extraction/engine/RankLanes.h"
#include "extraction/engine/RankRow.h"
#include "extraction/engine/WalkRecord.h"
#include "extraction/engine/codes.h"
#include "platform/assert.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {

namespace {

constexpr int FILTER_STAGE = 18;
constexpr int BLOCK_LEVEL = 1;
constexpr int NEUTRAL = 127;
constexpr int RIDGE = 3;
constexpr int VALLEY = 128;
constexpr int BACKGROUND = 255;
constexpr int CLASS_SINGULAR = 2;
constexpr int CLASS_RIDGES = 8;
constexpr int CLASS_BACKGROUND = 16;
constexpr int STOPPED = 1;
constexpr int FOREGROUND_BIT = 32;
constexpr int SINGULAR_MASK = 11;
constexpr int MAX_ITERATIONS = 4;
constexpr int MAX_CODE = 17;
constexpr int HARM_BORDER = 5;
constexpr int EVEN_BORDER = 2;
constexpr int MAX_TAPS = 3; // the longest run of positive weights in a window row

// Harmonic windows of the two modes: row r weighs the pixels i + 1 steps away on either side of
// a pixel whose ridge period spans r steps.
// clang-format off
constexpr unsigned char Hw_normal[18][10] = {
    {0}, {0},
    {16}, {16, 16}, {1, 16, 1}, {0, 16, 16}, {0, 2, 16, 2}, {0, 0, 16, 16}, {0, 0, 3, 16, 3},
    {0, 0, 0, 16, 16}, {0, 0, 0, 4, 16, 4}, {0, 0, 0, 0, 16, 16}, {0, 0, 0, 0, 5, 16, 5},
    {0, 0, 0, 0, 0, 16, 16}, {0, 0, 0, 0, 0, 6, 16, 6}, {0, 0, 0, 0, 0, 0, 16, 16},
    {0, 0, 0, 0, 0, 0, 7, 16, 7}, {0, 0, 0, 0, 0, 0, 0, 16, 16},
};
constexpr unsigned char Hw_quick[18][10] = {
    {0}, {0},
    {1}, {1}, {1, 1}, {0, 1}, {0, 1, 1}, {0, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1, 1},
    {0, 0, 0, 0, 1}, {0, 0, 0, 0, 1, 1}, {0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 1, 1},
    {0, 0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 0, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 1},
};
// clang-format on

// The taps of a window for a pixel whose window lies inside the image, padded with weight 0 at
// offset 0, with the window count and ceil(2^32 / count), the rounded mean by a multiply (see
// HarmonicInner), and the same division in 16 bits (see QuadShift). A block copies it into
// locals: its byte stores could alias the table.
struct InnerWindow {
    std::ptrdiff_t off[3];
    int wt[3];
    int count;
    std::uint64_t inverse;
    int scale;
    int shift;
};

#if defined(__SSE2__)
// The inner window's constants as HarmonicDiffs loads them, each in eight 16-bit lanes: the
// rounding count / 2, the three weights and the scale of QuadScale (the same 16 bits).
struct QuadWindow {
    std::int16_t half[8];
    std::int16_t wt[3][8];
    std::int16_t scale[8];
};
#endif

// The harmonic window of one walk across the ridges: the steps it weighs (the first run of
// positive weights), and their inner form.
struct Window {
    struct Tap {
        std::ptrdiff_t off;
        int x, y, wt;
    } taps[MAX_TAPS];
    int tapCount;
    InnerWindow inner;
#if defined(__SSE2__)
    QuadWindow quad;
#endif
};

// Largest window count of a harmonic window table: twice the sum of a row's weights.
constexpr int LargestCount(const unsigned char (&hw)[18][10])
{
    int largest = 0;
    for (const auto& row : hw) {
        int sum = 0;
        for (const unsigned char wt : row) {
            sum += wt;
        }
        largest = std::max(largest, 2 * sum);
    }
    return largest;
}

// (n + c / 2) / c for 0 <= n <= 255 c by a multiply with InverseCeil32(c), exact for c <= 4096.
constexpr int MAX_INVERSE_COUNT = 4096;
static_assert(LargestCount(Hw_normal) <= MAX_INVERSE_COUNT &&
              LargestCount(Hw_quick) <= MAX_INVERSE_COUNT);

// The division of a rounded window sum n = sum + count / 2 by count in 16-bit lanes, for a
// count of 2 or more: ((n scale) >> 16) >> shift with 2^shift < count <= 2^(shift + 1) and
// scale = ceil(2^(16 + shift) / count), below 2^16. With scale count = 2^(16 + shift) + e,
// e < count, the quotient is exact while n e < 2^(16 + shift), which n < 2^15 ensures; the
// check below tests that bound for every count up to the largest window count.
constexpr int QuadShift(int count)
{
    int shift = 0;
    while ((2 << shift) < count) {
        ++shift;
    }
    return shift;
}
constexpr int QuadScale(int count)
{
    return static_cast<int>(((1 << (16 + QuadShift(count))) + count - 1) / count);
}
constexpr bool QuadDivisionExact(int largest)
{
    for (int count = 2; count <= largest; ++count) {
        const int shift = QuadShift(count);
        const std::uint32_t scale = static_cast<std::uint32_t>(QuadScale(count));
        if (scale >= (1u << 16) || 255 * count + count / 2 >= (1 << 15)) {
            return false;
        }
        // scale count - 2^(16 + shift) = e: the quotient is exact while the largest n times e
        // stays below 2^(16 + shift).
        const std::uint32_t nMax = static_cast<std::uint32_t>(255 * count + count / 2);
        const std::uint32_t e = scale * static_cast<std::uint32_t>(count) - (1u << (16 + shift));
        if (static_cast<std::uint64_t>(nMax) * e >= (std::uint64_t{1} << (16 + shift))) {
            return false;
        }
    }
    return true;
}
static_assert(QuadDivisionExact(std::max(LargestCount(Hw_normal), LargestCount(Hw_quick))));

// Longest first run of positive weights in a row of a window table: the most taps a window has.
constexpr int LongestRun(const unsigned char (&hw)[18][10])
{
    int longest = 0;
    for (const auto& row : hw) {
        int i = 0;
        while (i < 10 && row[i] == 0) {
            ++i;
        }
        int run = 0;
        while (i < 10 && row[i] != 0) {
            ++i;
            ++run;
        }
        longest = std::max(longest, run);
    }
    return longest;
}
static_assert(LongestRun(Hw_normal) <= MAX_TAPS && LongestRun(Hw_quick) <= MAX_TAPS);

// The walks of the stage (lengths up to MAX_CODE + 1, at level 0) looked up by length and
// angle. The first walk of a kind is made through the record; a repeat only adds its end
// offset to `skipped`, the walk cursor move the record would have added, which Finish applies.
class FilterWalks {
public:
    explicit FilterWalks(WalkRecord& record)
        : m_record(record), m_table(static_cast<std::size_t>(MAX_CODE + 2) * 360)
    {
    }

    const SStep* Walk(int angle, int length)
    {
        const int index = length * 360 + Mod360(angle);
        Entry& e = m_table[static_cast<std::size_t>(index)];
        if (e.steps == nullptr) {
            e.steps = m_record.Walk(index % 360, length, 0);
            for (const SStep* s = e.steps; s->off != 0; ++s) {
                e.end = s->off;
            }
        } else {
            m_skipped += e.end;
        }
        m_last = index;
        return e.steps;
    }

    // The table index of the walk Walk(angle, length) asked for last.
    int Last() const { return m_last; }

    // Walk again the walk of table index `index`, made before: a repeat.
    const SStep* Again(int index)
    {
        const Entry& e = m_table[static_cast<std::size_t>(index)];
        m_skipped += e.end;
        m_last = index;
        return e.steps;
    }

    // Leaves the walk state as the record would after walking every walk asked for: the last
    // one is walked through the record again (its end offset is then counted there).
    void Finish(Coral& walker)
    {
        if (m_last >= 0) {
            m_record.Walk(m_last % 360, m_last / 360, 0);
            m_skipped -= m_table[static_cast<std::size_t>(m_last)].end;
        }
        m_record.Finish();
        if (walker.m_walk[0] != nullptr) {
            walker.m_walk[0] += m_skipped;
        }
    }

private:
    struct Entry {
        const SStep* steps = nullptr;
        std::ptrdiff_t end = 0;
    };
    WalkRecord& m_record;
    std::vector<Entry> m_table;
    std::ptrdiff_t m_skipped = 0;
    int m_last = -1; // table index: length * 360 + angle
};

// Pixels waiting for the weighted rank mean of their nine values along the rays, which is
// taken for a batch at a time, eight pixels side by side. A batch takes either single pixels
// (Add) or 2 x 2 blocks with rows `rows` apart (AddQuad), as chosen when it is made.
struct RankBatch {
    static constexpr int SIZE = 128;
    static_assert(SIZE % 4 == 0, "whole 2 x 2 blocks fill a batch");
    unsigned char planes[9][SIZE];
    unsigned char out[SIZE];
    std::ptrdiff_t at[SIZE]; // the offset of each pixel, or of each block's first pixel
    int count = 0;
    std::ptrdiff_t rows; // row stride of the blocks, 0 for single pixels

    explicit RankBatch(std::ptrdiff_t blockRows) : rows(blockRows) {}

    // Adds the pixel at offset o with its eight ray values, the first four steps of ray 1 and
    // ray 2 in turn; a full batch is taken at once.
    __attribute__((always_inline)) void Add(const unsigned char* img, std::ptrdiff_t o,
                                            const SStep* ray1, const SStep* ray2,
                                            unsigned char* dst)
    {
        ZF_ASSERT(rows == 0);
        const int n = count;
        planes[0][n] = img[o];
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            planes[2 * i + 1][n] = img[o + ray1[i].off];
            planes[2 * i + 2][n] = img[o + ray2[i].off];
        }
        at[n] = o;
        if (++count == SIZE) {
            Flush(dst);
        }
    }

    // Adds the four pixels of the 2 x 2 block at o as Add would one by one (o, o + 1, o + rows,
    // o + rows + 1), two bytes of a row at a time.
    __attribute__((always_inline)) void AddQuad(const unsigned char* img, std::ptrdiff_t o,
                                                const SStep* ray1, const SStep* ray2,
                                                unsigned char* dst)
    {
        ZF_ASSERT(rows != 0 && count % 4 == 0);
        const std::ptrdiff_t w = rows;
        const int n = count;
        auto copy = [&](unsigned char* plane, const unsigned char* p) {
            std::memcpy(plane + n, p, 2);
            std::memcpy(plane + n + 2, p + w, 2);
        };
        copy(planes[0], img + o);
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            copy(planes[2 * i + 1], img + o + ray1[i].off);
            copy(planes[2 * i + 2], img + o + ray2[i].off);
        }
        at[n / 4] = o;
        count += 4;
        if (count == SIZE) {
            Flush(dst);
        }
    }

    void Flush(unsigned char* dst)
    {
        RankMean9Planes(&planes[0][0], SIZE, out, count);
        if (rows != 0) {
            for (int i = 0; i < count; i += 4) {
                std::memcpy(dst + at[i / 4], out + i, 2);
                std::memcpy(dst + at[i / 4] + rows, out + i + 2, 2);
            }
        } else {
            for (int i = 0; i < count; ++i) {
                dst[at[i]] = out[i];
            }
        }
        count = 0;
    }
};

#if defined(__SSE2__)
// 2 x 2 blocks waiting for their smoothing along the rays (FiSmoothQuads), taken a batch at a
// time: the image they read is left as it is until the batch is taken.
struct QuadBatch {
    static constexpr int SIZE = 64;
    std::ptrdiff_t at[SIZE];
    const SStep* ray1[SIZE];
    const SStep* ray2[SIZE];
    int count = 0;

    __attribute__((always_inline)) void Add(const unsigned char* img, std::ptrdiff_t w,
                                            std::ptrdiff_t o, const SStep* r1, const SStep* r2,
                                            unsigned char* dst)
    {
        at[count] = o;
        ray1[count] = r1;
        ray2[count] = r2;
        if (++count == SIZE) {
            Flush(img, w, dst);
        }
    }

    void Flush(const unsigned char* img, std::ptrdiff_t w, unsigned char* dst)
    {
        FiSmoothQuads(img, w, at, ray1, ray2, count, dst);
        count = 0;
    }
};
#endif

// The layers and per-block state of the stage.
struct FilterWork {
    FilterWalks* walks;
    bool quick;
    int W0, H0;
    unsigned char* cls;        // 161, level 1
    unsigned char* order;      // 163
    const unsigned char* flow; // 36
    const unsigned char* side; // 48
    const unsigned char* bend; // 49
    const unsigned char* code; // 56
    const Window* window;      // harmonic window of the block
    const SStep* ray1;         // rays along the ridges
    const SStep* ray2;
    // The window depends only on the walk across the ridges, so it is resolved once per
    // period code and direction (0..359), on first use.
    std::vector<Window> windows[MAX_CODE + 1];
    std::vector<unsigned char> known[MAX_CODE + 1];
    // Per level-1 block, its walks (table indices of FilterWalks) across the ridges and along
    // them and its harmonic window, found on the block's first pass and walked again after.
    std::unique_ptr<int[]> harmWalk;
    std::unique_ptr<int[]> ray1Walk;
    std::unique_ptr<int[]> ray2Walk;
    std::unique_ptr<const Window*[]> harmWindow;
};

// A level-1 block of the enhancement loop: its index, column and row, its first pixel, and
// whether it lies on the border of the harmonic pass or of the smoothing pass.
struct FiBlock {
    int b;
    int x, y;
    std::ptrdiff_t o; // level-0 offset of the block's first pixel
    bool harmEdge;
    bool evenEdge;
};

bool Inside(const FilterWork& f, int x, int y)
{
    return x >= 0 && y >= 0 && x < f.W0 && y < f.H0;
}

// Normal to the flow at block b: flow + 90 on the bending side, flow - 90 otherwise.
int NormalAngle(const FilterWork& f, int b)
{
    return f.side[b] != 0 ? f.flow[b] + 90 : f.flow[b] - 90;
}

int PeriodCode(const FilterWork& f, int b)
{
    return std::min<int>(f.code[b], MAX_CODE);
}

// Makes the window of a period code and direction a from its walk across the ridges `normal`. The
// window row is the number of steps that stay within one period.
__attribute__((noinline)) void FiHarmMake(FilterWork& f, int period, int a, const SStep* normal)
{
    if (f.windows[period].empty()) {
        f.windows[period].resize(360);
        f.known[period].assign(360, 0);
    }
    f.known[period][a] = 1;
    Window& win = f.windows[period][a];
    int n = 0;
    while (normal[n].off != 0) {
        ++n;
    }
    int row = 0;
    for (int k = n - 1; k >= 1; --k) {
        const SStep& s = normal[k];
        if (sqri(s.x * s.x + s.y * s.y) <= period) {
            row = k + 1;
            break;
        }
    }
    // The window's taps: a zero weight before the first positive one is passed over, one
    // after it ends the window.
    const unsigned char* hw = (f.quick ? Hw_quick : Hw_normal)[row];
    InnerWindow& in = win.inner;
    win.tapCount = 0;
    in.count = 0;
    for (int i = 0; i < 10 && normal[i].off != 0; ++i) {
        const int wt = hw[i];
        if (wt <= 0) {
            if (win.tapCount != 0) {
                break;
            }
            continue;
        }
        const SStep& s = normal[i];
        ZF_ASSERT(win.tapCount < MAX_TAPS);
        win.taps[win.tapCount++] = {s.off, s.x, s.y, wt};
        in.count += f.quick ? 2 : 2 * wt;
    }
    for (int i = 0; i < 3; ++i) {
        in.off[i] = i < win.tapCount ? win.taps[i].off : 0;
        in.wt[i] = i < win.tapCount ? win.taps[i].wt : 0;
    }
    in.scale = in.count == 0 ? 0 : QuadScale(in.count);
    in.shift = in.count == 0 ? 0 : QuadShift(in.count);
    in.inverse = in.count == 0 ? 0 : InverseCeil32(in.count);
#if defined(__SSE2__)
    for (int lane = 0; lane < 8; ++lane) {
        win.quad.half[lane] = static_cast<std::int16_t>(in.count / 2);
        for (int i = 0; i < 3; ++i) {
            win.quad.wt[i][lane] = static_cast<std::int16_t>(in.wt[i]);
        }
        win.quad.scale[lane] = static_cast<std::int16_t>(static_cast<std::uint16_t>(in.scale));
    }
#endif
}

// Harmonic window of block b, made on the first use of its period and direction.
inline void FiHarm(FilterWork& f, int b)
{
    const int period = PeriodCode(f, b);
    const int angle = NormalAngle(f, b);
    const SStep* normal = f.walks->Walk(angle, period + 1);
    const int a = Mod360(angle);
    const std::vector<unsigned char>& known = f.known[period];
    if (known.empty() || known[a] == 0) {
        FiHarmMake(f, period, a, normal);
    }
    f.window = &f.windows[period][a];
    f.harmWalk[b] = f.walks->Last();
    f.harmWindow[b] = f.window;
}

// FiHarm of a block that has been through it: the same walk again and the window it found.
inline void FiHarmAgain(FilterWork& f, int b)
{
    f.walks->Again(f.harmWalk[b]);
    f.window = f.harmWindow[b];
}

// Pixel at `at` minus the harmonic mean of its window across the ridges, all inside the image.
inline int HarmonicInner(const InnerWindow& win, const unsigned char* img, std::ptrdiff_t at)
{
    int sum = 0;
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        sum += win.wt[i] * (img[at + win.off[i]] + img[at - win.off[i]]);
    }
    if (win.count == 0) {
        return img[at];
    }
    const std::uint64_t n = static_cast<std::uint64_t>(sum + win.count / 2);
    return img[at] - static_cast<int>((n * win.inverse) >> 32);
}

#if defined(__SSE2__)
// The four pixels of the 2 x 2 block at p (rows w apart) in 16-bit lanes: p, p + 1, p + w and
// p + w + 1.
__attribute__((always_inline)) inline __m128i Quad(const unsigned char* p, std::ptrdiff_t w)
{
    std::uint16_t top;
    std::uint16_t bottom;
    std::memcpy(&top, p, sizeof top);
    std::memcpy(&bottom, p + w, sizeof bottom);
    // The bottom pair goes straight into the second 16-bit lane (a load into the lane).
    const __m128i both = _mm_insert_epi16(_mm_cvtsi32_si128(top), bottom, 1);
    return _mm_unpacklo_epi8(both, _mm_setzero_si128());
}

// The 2 x 2 blocks at p + off and p - off (rows w apart) in 16-bit lanes, each in Quad's order:
// the first in lanes 0..3, the second in lanes 4..7.
__attribute__((always_inline)) inline __m128i QuadPair(const unsigned char* p, std::ptrdiff_t off,
                                                       std::ptrdiff_t w)
{
    auto two = [](const unsigned char* q) {
        std::uint16_t v;
        std::memcpy(&v, q, sizeof v);
        return v;
    };
    const unsigned char* a = p + off;
    const unsigned char* b = p - off;
    __m128i v = _mm_setzero_si128();
    v = _mm_insert_epi16(v, two(a), 0);
    v = _mm_insert_epi16(v, two(a + w), 1);
    v = _mm_insert_epi16(v, two(b), 2);
    v = _mm_insert_epi16(v, two(b + w), 3);
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}

// HarmonicInner of the four pixels of the 2 x 2 block at `at` (rows w apart), in Quad's order,
// in the first four 16-bit lanes. Each tap's weighted pixels on both sides are summed in the two
// halves of the lanes, which are then added: the same sums modulo 2^16, and these stay below
// 2^15; the differences are within -255..255.
__attribute__((always_inline)) inline __m128i
HarmonicDiffs(const Window& win, const unsigned char* img, std::ptrdiff_t at, std::ptrdiff_t w)
{
    const unsigned char* p = img + at;
    const InnerWindow& in = win.inner;
    const QuadWindow& quad = win.quad;
    auto lanes = [](const std::int16_t* v) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
    };
    __m128i sides = _mm_mullo_epi16(QuadPair(p, in.off[0], w), lanes(quad.wt[0]));
#pragma GCC unroll 2
    for (int i = 1; i < 3; ++i) {
        sides = _mm_add_epi16(sides, _mm_mullo_epi16(QuadPair(p, in.off[i], w), lanes(quad.wt[i])));
    }
    const __m128i sum =
        _mm_add_epi16(_mm_add_epi16(sides, _mm_srli_si128(sides, 8)), lanes(quad.half));
    // The scale (below 2^16) is in the lanes as the same 16 bits, read unsigned by mulhi.
    const __m128i q =
        _mm_srl_epi16(_mm_mulhi_epu16(sum, lanes(quad.scale)), _mm_cvtsi32_si128(in.shift));
    return _mm_sub_epi16(Quad(p, w), q);
}

// The enhanced pixels of the 2 x 2 block at `at` (rows w apart) from its HarmonicDiffs, into
// dst: the entry d + 255 (0..510, read as an unsigned lane) of `enhanced` for each difference d.
__attribute__((always_inline)) inline void EnhanceQuad(__m128i diff, const unsigned char* enhanced,
                                                       unsigned char* dst, std::ptrdiff_t at,
                                                       std::ptrdiff_t w)
{
    const __m128i index = _mm_add_epi16(diff, _mm_set1_epi16(255));
    dst[at] = enhanced[_mm_extract_epi16(index, 0)];
    dst[at + 1] = enhanced[_mm_extract_epi16(index, 1)];
    dst[at + w] = enhanced[_mm_extract_epi16(index, 2)];
    dst[at + w + 1] = enhanced[_mm_extract_epi16(index, 3)];
}

// The binary pixels of the 2 x 2 block at `at` (rows w apart) from its HarmonicDiffs, into both
// a and b: RIDGE where the difference is below 0, VALLEY elsewhere.
__attribute__((always_inline)) inline void
RidgeQuad(__m128i diff, unsigned char* a, unsigned char* b, std::ptrdiff_t at, std::ptrdiff_t w)
{
    const __m128i below = _mm_cmplt_epi16(diff, _mm_setzero_si128());
    const __m128i v = _mm_or_si128(_mm_and_si128(below, _mm_set1_epi16(RIDGE)),
                                   _mm_andnot_si128(below, _mm_set1_epi16(VALLEY)));
    const std::uint32_t bytes =
        static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    const std::uint16_t top = static_cast<std::uint16_t>(bytes);
    const std::uint16_t bottom = static_cast<std::uint16_t>(bytes >> 16);
    std::memcpy(a + at, &top, sizeof top);
    std::memcpy(a + at + w, &bottom, sizeof bottom);
    std::memcpy(b + at, &top, sizeof top);
    std::memcpy(b + at + w, &bottom, sizeof bottom);
}
#endif

// Pixel minus the harmonic mean of its window across the ridges, counting only the sides
// inside the image.
int HarmonicEdge(const FilterWork& f, const unsigned char* img, int x, int y)
{
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * f.W0 + x;
    const int p = img[at];
    const Window& win = *f.window;
    int sum = 0;
    int count = 0;
    for (int i = 0; i < win.tapCount; ++i) {
        const Window::Tap& t = win.taps[i];
        if (Inside(f, x + t.x, y + t.y)) {
            sum += t.wt * img[at + t.off];
            count += f.quick ? 1 : t.wt;
        }
        if (Inside(f, x - t.x, y - t.y)) {
            sum += t.wt * img[at - t.off];
            count += f.quick ? 1 : t.wt;
        }
    }
    return count == 0 ? p : p - (sum + count / 2) / count;
}

// The two rays along the ridges of block b, bent toward the bending side.
void FiRays(FilterWork& f, int b, int length)
{
    const int n = NormalAngle(f, b);
    const int c = f.bend[b] / 5;
    f.ray1 = f.walks->Walk(n + 90 - c, length);
    f.ray1Walk[b] = f.walks->Last();
    f.ray2 = f.walks->Walk(n - 90 + c, length);
    f.ray2Walk[b] = f.walks->Last();
}

// FiRays of a block that has been through it: the same walks again.
void FiRaysAgain(FilterWork& f, int b)
{
    f.ray1 = f.walks->Again(f.ray1Walk[b]);
    f.ray2 = f.walks->Again(f.ray2Walk[b]);
}

// Weights by rank of the seven values of the quick rays (the nine of the rays and of the 3 x 3
// neighbourhood are RankRow.h's).
constexpr int kSeven[7] = {1, 2, 2, 6, 2, 2, 1};

// Interior smoothing along the rays: the centre and the first steps of each ray (three in the
// quick mode, then the mean is taken at once; four otherwise, then the pixel joins the batch,
// see RankBatch::Add).
void FiRayi(const FilterWork& f, const unsigned char* img, std::ptrdiff_t at, unsigned char* dst)
{
    int v[7];
    v[0] = img[at];
    for (int i = 0; i < 3; ++i) {
        v[2 * i + 1] = img[at + f.ray1[i].off];
        v[2 * i + 2] = img[at + f.ray2[i].off];
    }
    dst[at] = static_cast<unsigned char>(Codex::RankMean(v, 7, kSeven, 4));
}

// Border smoothing: mean of the centre and each ray's steps up to its first step outside.
int FiLine(const FilterWork& f, const unsigned char* img, int x, int y)
{
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * f.W0 + x;
    int sum = img[at];
    int n = 1;
    for (const SStep* ray : {f.ray1, f.ray2}) {
        for (const SStep* s = ray; s->off != 0; ++s) {
            if (!Inside(f, x + s->x, y + s->y)) {
                break;
            }
            sum += img[at + s->off];
            ++n;
        }
    }
    return (sum + n / 2) / n;
}

} // namespace

void FiSmoothQuadsScalar(const unsigned char* img, std::ptrdiff_t w, const std::ptrdiff_t* at,
                         const SStep* const* ray1, const SStep* const* ray2, int count,
                         unsigned char* dst)
{
    for (int j = 0; j < count; ++j) {
        for (const std::ptrdiff_t p : {at[j], at[j] + 1, at[j] + w, at[j] + w + 1}) {
            unsigned char v[9];
            v[0] = img[p];
            for (int i = 0; i < 4; ++i) {
                v[2 * i + 1] = img[p + ray1[j][i].off];
                v[2 * i + 2] = img[p + ray2[j][i].off];
            }
            RankMean9PlanesScalar(v, 1, dst + p, 1);
        }
    }
}

#if defined(__SSE2__)
namespace {

// The two pixels at p + off and q + off (q = p + w, the row below) of a block's value into 16-bit
// lanes 2 B and 2 B + 1 of v.
template <int B>
__attribute__((always_inline)) inline void PutPairs(__m128i& v, const unsigned char* p,
                                                    const unsigned char* q, std::ptrdiff_t off)
{
    std::uint16_t top;
    std::uint16_t bottom;
    std::memcpy(&top, p + off, sizeof top);
    std::memcpy(&bottom, q + off, sizeof bottom);
    v = _mm_insert_epi16(_mm_insert_epi16(v, top, 2 * B), bottom, 2 * B + 1);
}

// The nine values of block B of a group of four into their lanes.
template <int B>
__attribute__((always_inline)) inline void PutBlock(__m128i* v, const unsigned char* img,
                                                    std::ptrdiff_t w, std::ptrdiff_t at,
                                                    const SStep* ray1, const SStep* ray2)
{
    const unsigned char* p = img + at;
    const unsigned char* q = p + w;
    PutPairs<B>(v[0], p, q, 0);
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        PutPairs<B>(v[2 * i + 1], p, q, ray1[i].off);
        PutPairs<B>(v[2 * i + 2], p, q, ray2[i].off);
    }
}

// The means of block B of a group from lanes 2 B and 2 B + 1.
template <int B>
__attribute__((always_inline)) inline void TakeBlock(__m128i out, unsigned char* dst,
                                                     std::ptrdiff_t w, std::ptrdiff_t at)
{
    const std::uint16_t top = static_cast<std::uint16_t>(_mm_extract_epi16(out, 2 * B));
    const std::uint16_t bottom = static_cast<std::uint16_t>(_mm_extract_epi16(out, 2 * B + 1));
    std::memcpy(dst + at, &top, sizeof top);
    std::memcpy(dst + at + w, &bottom, sizeof bottom);
}

} // namespace

// Four blocks at a time, each value's 2 x 2 pixels loaded two at a time straight into their
// lanes; a last group of fewer repeats its last block in the lanes left over (not written).
void FiSmoothQuads(const unsigned char* img, std::ptrdiff_t w, const std::ptrdiff_t* at,
                   const SStep* const* ray1, const SStep* const* ray2, int count,
                   unsigned char* dst)
{
    for (int j = 0; j < count; j += 4) {
        const int last = count - 1;
        const int b1 = std::min(j + 1, last);
        const int b2 = std::min(j + 2, last);
        const int b3 = std::min(j + 3, last);
        __m128i v[9];
        for (__m128i& lane : v) {
            lane = _mm_setzero_si128();
        }
        PutBlock<0>(v, img, w, at[j], ray1[j], ray2[j]);
        PutBlock<1>(v, img, w, at[b1], ray1[b1], ray2[b1]);
        PutBlock<2>(v, img, w, at[b2], ray1[b2], ray2[b2]);
        PutBlock<3>(v, img, w, at[b3], ray1[b3], ray2[b3]);
        rank_lanes::RankBytes ranked[9];
#pragma GCC unroll 9
        for (int i = 0; i < 9; ++i) {
            ranked[i] = (rank_lanes::RankBytes)v[i];
        }
        const __m128i out = (__m128i)rank_lanes::RankMeanLanes(ranked);
        TakeBlock<0>(out, dst, w, at[j]);
        if (j + 1 < count) {
            TakeBlock<1>(out, dst, w, at[j + 1]);
        }
        if (j + 2 < count) {
            TakeBlock<2>(out, dst, w, at[j + 2]);
        }
        if (j + 3 < count) {
            TakeBlock<3>(out, dst, w, at[j + 3]);
        }
    }
}
#else
void FiSmoothQuads(const unsigned char* img, std::ptrdiff_t w, const std::ptrdiff_t* at,
                   const SStep* const* ray1, const SStep* const* ray2, int count,
                   unsigned char* dst)
{
    FiSmoothQuadsScalar(img, w, at, ray1, ray2, count, dst);
}
#endif

int FiAboveScalar(const unsigned char* rel, std::size_t n, unsigned char* above)
{
    int rmax = 1;
    for (std::size_t i = 0; i < n; ++i) {
        above[i] = static_cast<unsigned char>(rel[i] > NEUTRAL ? rel[i] - NEUTRAL : 0);
        rmax = std::max<int>(rmax, above[i]);
    }
    return rmax;
}

#if defined(__SSE2__)
// The saturating byte difference rel - 127 is the value above neutral.
int FiAbove(const unsigned char* rel, std::size_t n, unsigned char* above)
{
    const __m128i neutral = _mm_set1_epi8(static_cast<char>(NEUTRAL));
    __m128i top = _mm_set1_epi8(1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a =
            _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rel + i)), neutral);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(above + i), a);
        top = _mm_max_epu8(top, a);
    }
    top = _mm_max_epu8(top, _mm_srli_si128(top, 8));
    top = _mm_max_epu8(top, _mm_srli_si128(top, 4));
    top = _mm_max_epu8(top, _mm_srli_si128(top, 2));
    top = _mm_max_epu8(top, _mm_srli_si128(top, 1));
    const int head = _mm_cvtsi128_si32(top) & 0xFF;
    return std::max(head, FiAboveScalar(rel + i, n - i, above + i));
}
#else
int FiAbove(const unsigned char* rel, std::size_t n, unsigned char* above)
{
    return FiAboveScalar(rel, n, above);
}
#endif

void FiClassRowScalar(const unsigned char* fg, const unsigned char* sing, bool singular, int x0,
                      int x1, unsigned char* cls)
{
    for (int x = x0; x < x1; ++x) {
        cls[x] =
            static_cast<unsigned char>((fg[x] & FOREGROUND_BIT) == 0 ? CLASS_BACKGROUND
                                       : singular && (sing[x] & SINGULAR_MASK) != 0 ? CLASS_SINGULAR
                                                                                    : CLASS_RIDGES);
    }
}

#if defined(__SSE2__)
// Byte masks of the flags select among the three class bytes.
void FiClassRow(const unsigned char* fg, const unsigned char* sing, bool singular, int x0, int x1,
                unsigned char* cls)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i fgBit = _mm_set1_epi8(FOREGROUND_BIT);
    const __m128i singMask = _mm_set1_epi8(singular ? SINGULAR_MASK : 0);
    const __m128i ridges = _mm_set1_epi8(CLASS_RIDGES);
    const __m128i near = _mm_set1_epi8(CLASS_SINGULAR);
    const __m128i background = _mm_set1_epi8(CLASS_BACKGROUND);
    auto select = [](__m128i m, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
    };
    int x = x0;
    for (; x + 16 <= x1; x += 16) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fg + x));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sing + x));
        const __m128i back = _mm_cmpeq_epi8(_mm_and_si128(f, fgBit), zero);
        const __m128i far = _mm_cmpeq_epi8(_mm_and_si128(s, singMask), zero);
        const __m128i c = select(back, background, select(far, ridges, near));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cls + x), c);
    }
    FiClassRowScalar(fg, sing, singular, x, x1, cls);
}
#else
void FiClassRow(const unsigned char* fg, const unsigned char* sing, bool singular, int x0, int x1,
                unsigned char* cls)
{
    FiClassRowScalar(fg, sing, singular, x0, x1, cls);
}
#endif

void Codex::Filter(int)
{
    const bool quick = m_quick != 0;
    if (GetKey(161, BLOCK_LEVEL) == -1) {
        Laying(1);
    }
    m_stage = FILTER_STAGE;
    OldLay(m_stage);
    m_curLevel = BLOCK_LEVEL;
    // The curves are built after the pull: the earlier stages use the same rank tables.
    static const int contrast[] = {3, 0, 30, 30, 24, 127, 127};
    m_rank.RanGau(contrast);
    m_rank.RanSmo(9);
    static const int orderCurve[] = {3, 16, 0, 32, 48, 255, 255};
    m_rank.LorMod(orderCurve);
    m_rank.LorSmo(9);
    for (int& v : m_rank.Lor) {
        v *= 4;
    }

    const CLevel& l0 = m_level[0];
    const CLevel& l1 = m_level[BLOCK_LEVEL];
    const int w1 = l1.width;
    const int h1 = l1.height;
    // The walks across and along the ridges repeat for every block of a direction and in every
    // iteration: each is made once.
    WalkRecord record(*this);
    FilterWalks walks(record);
    FilterWork f{};
    f.walks = &walks;
    f.quick = quick;
    f.W0 = l0.width;
    f.H0 = l0.height;
    f.cls = Layer(161, BLOCK_LEVEL);
    f.order = Layer(163, BLOCK_LEVEL);
    f.flow = Layer(36, BLOCK_LEVEL);
    f.side = Layer(48, BLOCK_LEVEL);
    f.bend = Layer(49, BLOCK_LEVEL);
    f.code = Layer(56, BLOCK_LEVEL);
    f.harmWalk.reset(new int[l1.size]);
    f.ray1Walk.reset(new int[l1.size]);
    f.ray2Walk.reset(new int[l1.size]);
    f.harmWindow.reset(new const Window*[l1.size]);
    const unsigned char* rel = Layer(145, BLOCK_LEVEL);
    const unsigned char* fg = Layer(128, BLOCK_LEVEL);
    const unsigned char* sing = Layer(129, BLOCK_LEVEL);
    unsigned char* above = Layer(240, BLOCK_LEVEL);
    Layer(162, BLOCK_LEVEL);
    Layer(130, BLOCK_LEVEL);

    // 1. Reliability above neutral and its largest value.
    const int rmax = FiAbove(rel, l1.size, above);

    // 2. Filter orders: the order of each reliability 0..rmax from a table. The classes are set
    // as the blocks are listed (step 3).
    unsigned char orderOf[256];
    for (int a = 0; a <= rmax; ++a) {
        orderOf[a] = static_cast<unsigned char>(4 - m_rank.Lor[a * 255 / rmax] / 255);
    }

    unsigned char* src = Layer(1, 0);
    unsigned char* l6 = Layer(6, 0);
    unsigned char* l7 = Layer(7, 0);
    const int k = l1.scale / l0.scale;
    // Whether block column x (row y) lies within `width` blocks of the left or right (top or
    // bottom) edge: a block on either lies on the border of that width.
    auto edgeCol = [w1](int x, int width) { return x < width || x >= w1 - width; };
    auto edgeRow = [h1](int y, int width) { return y < width || y >= h1 - width; };
    std::vector<unsigned char> harmCol(static_cast<std::size_t>(w1));
    for (int x = 0; x < w1; ++x) {
        harmCol[static_cast<std::size_t>(x)] = edgeCol(x, HARM_BORDER) ? 1 : 0;
    }
    // The level-0 columns [colStart, colEnd) of every block column, rows likewise.
    std::vector<int> colStart(static_cast<std::size_t>(w1));
    std::vector<int> colEnd(colStart.size());
    std::vector<int> rowStart(static_cast<std::size_t>(h1));
    std::vector<int> rowEnd(rowStart.size());
    for (int x = 0; x < w1; ++x) {
        colStart[x] = BlockStart(x, k, f.W0);
        colEnd[x] = std::min(colStart[x] + k, f.W0);
    }
    for (int y = 0; y < h1; ++y) {
        rowStart[y] = BlockStart(y, k, f.H0);
        rowEnd[y] = std::min(rowStart[y] + k, f.H0);
    }
    // Runs fn(x0, y0, offset) for the level-0 pixels of block (x, y), rows first; blocks of
    // 2 x 2 pixels (edge blocks shifted inside) without loops.
    const bool pairs = k == 2 && f.W0 >= 2 && f.H0 >= 2;
    RankBatch batch(pairs ? f.W0 : 0);
#if defined(__SSE2__)
    QuadBatch quads;
#endif
    auto forBlock = [&](int x, int y, auto fn) {
        const int x0 = colStart[x];
        if (pairs) {
            const int y0 = rowStart[y];
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y0) * f.W0 + x0;
            fn(x0, y0, o);
            fn(x0 + 1, y0, o + 1);
            fn(x0, y0 + 1, o + f.W0);
            fn(x0 + 1, y0 + 1, o + f.W0 + 1);
            return;
        }
        const int x1 = colEnd[x];
        for (int yy = rowStart[y]; yy < rowEnd[y]; ++yy) {
            const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(yy) * f.W0;
            for (int xx = x0; xx < x1; ++xx) {
                fn(xx, yy, row + xx);
            }
        }
    };

    // Sets the level-0 pixels of block (x, y), first pixel `first`, of dst to v (fillBlock) or
    // copies them from `from` (copyBlock); a 2 x 2 block as two pixel pairs.
    auto fillBlock = [&](int x, int y, std::ptrdiff_t first, unsigned char* dst, unsigned char v)
        __attribute__((always_inline))
    {
        if (pairs) {
            std::memset(dst + first, v, 2);
            std::memset(dst + first + f.W0, v, 2);
            return;
        }
        forBlock(x, y, [&](int, int, std::ptrdiff_t o) { dst[o] = v; });
    };
    auto copyBlock = [&](int x, int y, std::ptrdiff_t first, unsigned char* dst,
                         const unsigned char* from) __attribute__((always_inline))
    {
        if (pairs) {
            std::memcpy(dst + first, from + first, 2);
            std::memcpy(dst + first + f.W0, from + first + f.W0, 2);
            return;
        }
        forBlock(x, y, [&](int, int, std::ptrdiff_t o) { dst[o] = from[o]; });
    };

    // Runs put(offset, d) with the harmonic difference d of each pixel of block (x, y) of img,
    // by the window FiHarm resolved; `edge` when the block lies on the harmonic border. (Both
    // passes take an inner 2 x 2 block in lanes themselves on SSE2.)
    auto harmonicBlock = [&](int x, int y, bool edge, const unsigned char* img, auto put)
        __attribute__((always_inline))
    {
        if (edge) {
            forBlock(x, y, [&](int xx, int yy, std::ptrdiff_t o) {
                put(o, HarmonicEdge(f, img, xx, yy));
            });
            return;
        }
        const InnerWindow inner = f.window->inner;
        forBlock(
            x, y, [&](int, int, std::ptrdiff_t o) __attribute__((always_inline)) {
                put(o, HarmonicInner(inner, img, o));
            });
    };

    // The enhanced value of a harmonic difference d (-255..255), Ran[NEUTRAL + d / 2], at d + 255.
    unsigned char enhanced[511];
    for (int d = -255; d <= 255; ++d) {
        enhanced[d + 255] = static_cast<unsigned char>(m_rank.Ran[NEUTRAL + d / 2]);
    }

    // 3. Enhancement iterations over the blocks still enhanced, in raster order: every block at
    // first; a block leaves once stopped (a stopped block takes no part in either pass). Where
    // the blocks tile level 0 exactly no pixel lies in two blocks, so a background block's
    // pixels end the first iteration NEUTRAL in 6 and 7 and the final pass 255 in 4 and 5 in
    // any order: whole layers are set so, and only the other blocks enter the list.
    const bool tiled = k * w1 == f.W0 && k * h1 == f.H0;
    if (tiled) {
        std::memset(l6, NEUTRAL, l0.size);
        std::memset(l7, NEUTRAL, l0.size);
    }
    // The list in a buffer of every block, filled without checks of its size.
    const std::unique_ptr<FiBlock[]> listed(new FiBlock[std::max<std::size_t>(l1.size, 1)]);
    std::size_t listedCount = 0;
    // The class and order of each block: inner foreground blocks are ridges (near a singular
    // point when asked), the others background. The layers in locals: the byte stores could
    // alias the work record.
    unsigned char* const cls = f.cls;
    unsigned char* const order = f.order;
    const bool singular = integ != 0;
    for (int y = 0; y < h1; ++y) {
        const bool innerRow = y > 0 && y < h1 - 1;
        const bool harmRow = edgeRow(y, HARM_BORDER);
        const bool evenRow = edgeRow(y, EVEN_BORDER);
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(rowStart[y]) * f.W0;
        const std::size_t first = static_cast<std::size_t>(y) * static_cast<std::size_t>(w1);
        std::memset(cls + first, CLASS_BACKGROUND, static_cast<std::size_t>(w1));
        std::memset(order + first, 0, static_cast<std::size_t>(w1));
        if (innerRow) {
            FiClassRow(fg + first, sing + first, singular, 1, w1 - 1, cls + first);
        }
        for (int x = 0; x < w1; ++x) {
            const int b = y * w1 + x;
            if (cls[b] != CLASS_BACKGROUND) {
                order[b] = orderOf[above[b]];
            } else if (tiled) {
                continue;
            }
            listed[listedCount++] = {b,
                                     x,
                                     y,
                                     row + colStart[x],
                                     harmRow || harmCol[static_cast<std::size_t>(x)] != 0,
                                     evenRow || edgeCol(x, EVEN_BORDER)};
        }
    }
    // The blocks still enhanced: the list at first, then those kept in `still`.
    const FiBlock* active = listed.get();
    std::size_t count = listedCount;
    std::unique_ptr<FiBlock[]> still(new FiBlock[std::max<std::size_t>(count, 1)]);
    for (int iter = 0; iter < MAX_ITERATIONS && count != 0; ++iter) {
        const unsigned char* in = iter == 0 ? src : l7;
        // 3a. Harmonic pass into 6.
        for (std::size_t i = 0; i < count; ++i) {
            const FiBlock& blk = active[i];
            const int c = f.cls[blk.b];
            if (c == CLASS_BACKGROUND) {
                fillBlock(blk.x, blk.y, blk.o, l6, NEUTRAL);
            } else if (c == CLASS_RIDGES || c == CLASS_SINGULAR) {
                if (iter == 0) {
                    FiHarm(f, blk.b);
                } else {
                    FiHarmAgain(f, blk.b);
                }
#if defined(__SSE2__)
                if (pairs && !blk.harmEdge) {
                    EnhanceQuad(HarmonicDiffs(*f.window, in, blk.o, f.W0), enhanced, l6, blk.o,
                                f.W0);
                    continue;
                }
#endif
                harmonicBlock(
                    blk.x, blk.y, blk.harmEdge,
                    in, [&](std::ptrdiff_t o, int d) __attribute__((always_inline)) {
                        l6[o] = enhanced[d + 255];
                    });
            }
        }
        // 3b. Smoothing pass into 7; blocks whose order is used up stop.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const FiBlock& blk = active[i];
            const int x = blk.x;
            const int y = blk.y;
            const int b = blk.b;
            const int c = f.cls[b];
            if (c == CLASS_RIDGES) {
                if (iter == 0) {
                    FiRays(f, b, blk.evenEdge ? PeriodCode(f, b) / 2 + 1 : 8);
                } else {
                    FiRaysAgain(f, b);
                }
                if (blk.evenEdge) {
                    forBlock(x, y, [&](int xx, int yy, std::ptrdiff_t o) {
                        l7[o] = static_cast<unsigned char>(FiLine(f, l6, xx, yy));
                    });
                } else if (quick) {
                    forBlock(x, y, [&](int, int, std::ptrdiff_t o) { FiRayi(f, l6, o, l7); });
                } else {
                    if (pairs) {
#if defined(__SSE2__)
                        quads.Add(l6, f.W0, blk.o, f.ray1, f.ray2, l7);
#else
                        batch.AddQuad(l6, blk.o, f.ray1, f.ray2, l7);
#endif
                    } else {
                        forBlock(x, y, [&](int, int, std::ptrdiff_t o) {
                            batch.Add(l6, o, f.ray1, f.ray2, l7);
                        });
                    }
                }
            } else if (c == CLASS_BACKGROUND) {
                copyBlock(x, y, blk.o, l7, l6);
            } else if (c == CLASS_SINGULAR) {
                // The rank mean of each pixel's 3 x 3 neighbourhood, a row of the block at a time.
                for (int yy = rowStart[y]; yy < rowEnd[y]; ++yy) {
                    const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(yy) * f.W0 + colStart[x];
                    RankRow3x3(l6 + o, f.W0, l7 + o, colEnd[x] - colStart[x]);
                }
            }
            if (c == CLASS_BACKGROUND || f.order[b] <= iter) {
                f.cls[b] = static_cast<unsigned char>(c | STOPPED);
            } else {
                still[kept++] = blk;
            }
        }
        active = still.get();
        count = kept;
        batch.Flush(l7);
#if defined(__SSE2__)
        quads.Flush(l6, f.W0, l7);
#endif
    }

    // 4. Final pass: harmonic difference of 7 decides ridge or valley. The blocks left out of
    // the list keep their class, never stopped.
    unsigned char* l4 = Layer(4, 0);
    unsigned char* l5 = Layer(5, 0);
    if (tiled) {
        std::memset(l4, BACKGROUND, l0.size);
        std::memset(l5, BACKGROUND, l0.size);
    }
    for (std::size_t i = 0; i < listedCount; ++i) {
        const FiBlock& blk = listed[i];
        const int b = blk.b;
        const std::ptrdiff_t at = blk.o;
        f.cls[b] = static_cast<unsigned char>(f.cls[b] & ~STOPPED);
        const int c = f.cls[b];
        if (c == CLASS_BACKGROUND) {
            fillBlock(blk.x, blk.y, at, l4, BACKGROUND);
            fillBlock(blk.x, blk.y, at, l5, BACKGROUND);
        } else if (c == CLASS_RIDGES || c == CLASS_SINGULAR) {
            FiHarmAgain(f, b);
#if defined(__SSE2__)
            if (pairs && !blk.harmEdge) {
                RidgeQuad(HarmonicDiffs(*f.window, l7, at, f.W0), l4, l5, at, f.W0);
                continue;
            }
#endif
            harmonicBlock(
                blk.x, blk.y, blk.harmEdge,
                l7, [&](std::ptrdiff_t o, int d) __attribute__((always_inline)) {
                    l4[o] = l5[o] = d < 0 ? RIDGE : VALLEY;
                });
        }
    }

    walks.Finish(*this);
    DelLay(240, BLOCK_LEVEL);
}

} // namespace wizard73
