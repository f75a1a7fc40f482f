// Stage 17, Laying: paper level and finger area. A histogram of the level-0 grey image weighted
// by the ridge reliability 145 gives the paper level; cells of levels 3 down to the asked level
// (1..3) then get the flag bits of layer 128 by neighbourhood votes: bit 0 paper, bit 6 weak
// ridges, bit 5 finger area (neither). Layers 161 / 162 of those levels are cleared for stage 18;
// work layers 240 / 241 are deleted. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {

namespace {

// Quality limit of the paper histogram and the vote shares: fill above, clear below.
constexpr int QUALITY_LIMIT = 131;
constexpr int FILL_SHARE = 53;
constexpr int CLEAR_SHARE = 17;

constexpr int LAYING_STAGE = 17;
constexpr int FLOW_LEVEL = 3;
constexpr int PAPER_BIT = 1;
constexpr int AREA_BIT = 32;
constexpr int WEAK_BIT = 64;
constexpr int PAPER_MIN = 181; // lowest grey level searched for the paper peak
constexpr int PEAK_COUNT = 300;
constexpr int kRingSize[4] = {8, 24, 44, 68};

} // namespace

namespace {

// histog in its grey part, its quality part and their combination, so that a block of pixels
// with one quality takes the quality part once and the grey part from a table.
constexpr int GreyPart(int grey)
{
    return Descale13(255 * TabSig[grey * 90 / 255]);
}

// Row of TabSig that the quality part of a quality takes: 90 - QualityStep(quality).
constexpr int QualityStep(int quality)
{
    const int over = quality > 127 ? quality - 127 : 0;
    return 90 * over / 127;
}

constexpr int QualityPart(int quality)
{
    return TabSig[90 - QualityStep(quality)];
}

constexpr int Combine(int a, int w, bool quick)
{
    return quick ? Descale13(w * a) : Descale13(w * Descale13(w * a));
}

struct GreyTable {
    int a[256];
};
constexpr GreyTable MakeGreyTable()
{
    GreyTable t{};
    for (int g = 0; g < 256; ++g) {
        t.a[g] = GreyPart(g);
    }
    return t;
}
constexpr GreyTable kGrey = MakeGreyTable();

// histog of every grey level for every quality step, in the normal [0] and quick [1] forms, at
// compile time: a cell's pixels take their values from the row of the cell's quality.
struct HistogTable {
    unsigned char v[2][91][256];
};
constexpr HistogTable MakeHistogTable()
{
    HistogTable t{};
    for (int quick = 0; quick < 2; ++quick) {
        for (int step = 0; step <= 90; ++step) {
            for (int g = 0; g < 256; ++g) {
                const int c = Combine(kGrey.a[g], TabSig[90 - step], quick != 0);
                if (c < 0 || c > 255) {
                    throw "histog value outside a byte"; // stops the compilation
                }
                t.v[quick][step][g] = static_cast<unsigned char>(c);
            }
        }
    }
    return t;
}
constexpr HistogTable kHistog = MakeHistogTable();

// QualityStep of every quality byte.
struct StepTable {
    unsigned char v[256];
};
constexpr StepTable MakeStepTable()
{
    StepTable t{};
    for (int q = 0; q < 256; ++q) {
        t.v[q] = static_cast<unsigned char>(QualityStep(q));
    }
    return t;
}
constexpr StepTable kStep = MakeStepTable();

// The histog values of the grey levels for a cell of this quality (a byte).
const unsigned char* HistogRow(int quality, bool quick)
{
    return kHistog.v[quick ? 1 : 0][kStep.v[quality & 0xFF]];
}

} // namespace

int histog(unsigned char grey, unsigned char quality, bool quick)
{
    return Combine(GreyPart(grey), QualityPart(quality), quick);
}

namespace {

// A cell that Sphere counts: neither paper nor weak.
int Missing(int flags)
{
    return (flags & (PAPER_BIT | WEAK_BIT)) == 0 ? 1 : 0;
}

// The range [lo, hi] widened by v, as MaxMin does.
void Widen(int v, int& lo, int& hi)
{
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
}

} // namespace

void Codex::Sphere(int, int)
{
    m_laMissing += Missing(*m_walk[0]);
}

void Codex::MaxMin(int, int)
{
    Widen(*m_walk[1], m_laMin, m_laMax);
}

// Copy of the flags of level lv onto the cells of level lv - 1, block by block in raster order
// with the blocks clipped like every two-level scan: the last block of an odd row or column is
// shifted back inside the level, so it also covers the cell before it. For the paper bit the whole
// value is copied (the later block wins); for the weak bit only bit 6 is added where the parent has
// it and the cell is not paper.
void Codex::LaDeep(int lv, int b)
{
    const CLevel& cl = m_level[lv];
    const CLevel& fl = m_level[lv - 1];
    const unsigned char* c = Layer(128, lv);
    unsigned char* f = Layer(128, lv - 1);
    const int k = cl.scale / fl.scale;
    // The bit is fixed per call: each gets its own loops.
    auto blocks = [&](auto bit) {
        constexpr bool Paper = decltype(bit)::value;
        auto copy = [](int parent, unsigned char& cell) {
            if (Paper) {
                cell = static_cast<unsigned char>(parent);
            } else if ((parent & WEAK_BIT) != 0 && (cell & PAPER_BIT) == 0) {
                cell = static_cast<unsigned char>(cell | WEAK_BIT);
            }
        };
        // Whole 2 x 2 blocks but the last of an odd side, shifted back one cell: the blocks of a
        // row of blocks go row by row over its two fine rows, in the same order along each
        // row, so that where the last block overlaps its neighbour it still comes later.
        const bool halves = k == 2 && fl.width >= 2 && fl.height >= 2 &&
                            (fl.width == 2 * cl.width || fl.width == 2 * cl.width - 1) &&
                            (fl.height == 2 * cl.height || fl.height == 2 * cl.height - 1);
        if (halves) {
            const int lastX = BlockStart(cl.width - 1, 2, fl.width);
            for (int y = 0; y < cl.height; ++y) {
                const unsigned char* parent = c + static_cast<std::size_t>(y) * cl.width;
                const int y0 = BlockStart(y, 2, fl.height);
                for (int yy = y0; yy < y0 + 2; ++yy) {
                    unsigned char* row = f + static_cast<std::size_t>(yy) * fl.width;
                    for (int x = 0; x < cl.width - 1; ++x) {
                        copy(parent[x], row[2 * x]);
                        copy(parent[x], row[2 * x + 1]);
                    }
                    copy(parent[cl.width - 1], row[lastX]);
                    copy(parent[cl.width - 1], row[lastX + 1]);
                }
            }
            return;
        }
        for (int y = 0; y < cl.height; ++y) {
            const int y0 = BlockStart(y, k, fl.height);
            for (int x = 0; x < cl.width; ++x) {
                const int x0 = BlockStart(x, k, fl.width);
                const int parent = c[static_cast<std::size_t>(y) * cl.width + x];
                for (int yy = y0; yy < y0 + k && yy < fl.height; ++yy) {
                    for (int xx = x0; xx < x0 + k && xx < fl.width; ++xx) {
                        copy(parent, f[static_cast<std::size_t>(yy) * fl.width + xx]);
                    }
                }
            }
        }
    };
    if (b == PAPER_BIT) {
        blocks(std::true_type{});
    } else {
        blocks(std::false_type{});
    }
}

namespace {

// Sum of h over the grey levels of a K x K block at g (row stride `stride`); with a histogram
// `votes`, each value also adds `vote` to its bin.
template <int K, bool Votes>
int BlockSum(const unsigned char* h, const unsigned char* g, int stride, int* votes, int vote)
{
    int sum = 0;
    for (int yy = 0; yy < K; ++yy, g += stride) {
#pragma GCC unroll 8
        for (int xx = 0; xx < K; ++xx) {
            const int v = h[g[xx]];
            sum += v;
            if (Votes) {
                votes[v] += vote;
            }
        }
    }
    return sum;
}

// BlockMeans where the level is at least a K x K block wide and high, so that every block is
// whole (BlockStart shifts the last one back inside): the block size is a constant.
template <int K, bool Votes>
void WholeMeans(const CLevel& l0, const CLevel& cl, const unsigned char* grey,
                const unsigned char* quality, bool quick, unsigned char* out, int* votes, int limit)
{
    const unsigned char(*const rows)[256] = kHistog.v[quick ? 1 : 0];
    for (int y = 0; y < cl.height; ++y) {
        const unsigned char* g =
            grey + static_cast<std::size_t>(Codex::BlockStart(y, K, l0.height)) * l0.width;
        const std::size_t at = static_cast<std::size_t>(y) * cl.width;
        for (int x = 0; x < cl.width; ++x) {
            const int q = quality[at + x];
            const int sum =
                BlockSum<K, Votes>(rows[kStep.v[q]], g + Codex::BlockStart(x, K, l0.width),
                                   l0.width, votes, q > limit ? -1 : 1);
            // The sum is not negative: the rounded quotient by a power of two is a shift.
            out[at + x] =
                static_cast<unsigned char>((static_cast<unsigned>(sum) + K * K / 2) / (K * K));
        }
    }
}

// Rounded mean of histog over the level-0 block of every cell of level lv, into `out`. With a
// histogram `votes`, every value also counts down in it where its cell's quality passes `limit`
// and up elsewhere.
template <bool Votes>
void BlockMeans(Codex& cx, int lv, const unsigned char* quality, unsigned char* out, int* votes,
                int limit)
{
    const CLevel& l0 = cx.m_level[0];
    const CLevel& cl = cx.m_level[lv];
    const unsigned char* grey = cx.Layer(1, 0);
    const int k = cl.scale / l0.scale;
    const bool quick = cx.m_quick != 0;
    // The block sizes of the pyramid get their own loops where every block is whole.
    if (l0.width >= k && l0.height >= k) {
        switch (k) {
        case 2:
            WholeMeans<2, Votes>(l0, cl, grey, quality, quick, out, votes, limit);
            return;
        case 4:
            WholeMeans<4, Votes>(l0, cl, grey, quality, quick, out, votes, limit);
            return;
        case 8:
            WholeMeans<8, Votes>(l0, cl, grey, quality, quick, out, votes, limit);
            return;
        default:
            break;
        }
    }
    for (int y = 0; y < cl.height; ++y) {
        const int y0 = Codex::BlockStart(y, k, l0.height);
        for (int x = 0; x < cl.width; ++x) {
            const int x0 = Codex::BlockStart(x, k, l0.width);
            const std::size_t at = static_cast<std::size_t>(y) * cl.width + x;
            const unsigned char* h = HistogRow(quality[at], quick);
            const int vote = quality[at] > limit ? -1 : 1;
            int sum = 0;
            int n = 0;
            for (int yy = y0; yy < y0 + k && yy < l0.height; ++yy) {
                for (int xx = x0; xx < x0 + k && xx < l0.width; ++xx) {
                    const int v = h[grey[static_cast<std::size_t>(yy) * l0.width + xx]];
                    sum += v;
                    if (Votes) {
                        votes[v] += vote;
                    }
                    ++n;
                }
            }
            out[at] = static_cast<unsigned char>(n == 0 ? 0 : (sum + n / 2) / n);
        }
    }
}

constexpr std::uint64_t ONES = 0x0101010101010101u;
// The eight-at-a-time vote and mark passes pick the paper cells as the low bit of each byte.
static_assert(PAPER_BIT == 1, "the paper flag is bit 0 of a cell");

// Eight bytes as the bytes of a word, and back (the byte order cancels out).
std::uint64_t Word(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void PutWord(unsigned char* p, std::uint64_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// 1 in each byte of n (bytes below 128) that is at least c (1..128), else 0.
constexpr std::uint64_t AtLeast(std::uint64_t n, int c)
{
    return ((n + ONES * static_cast<std::uint64_t>(128 - c)) >> 7) & ONES;
}

// out[x] = how many of up[x], mid[x] and down[x] have bit B (a single bit), x < w; eight columns
// at a time as the bytes of a word, each count below 4.
template <int B>
void ColumnCounts(const unsigned char* up, const unsigned char* mid, const unsigned char* down,
                  int w, unsigned char* out)
{
    static_assert(B > 0 && B < 256 && (B & (B - 1)) == 0, "one bit of a byte");
    constexpr int SHIFT = __builtin_ctz(B);
    auto word = [](const unsigned char* p) { return (Word(p) >> SHIFT) & ONES; };
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        PutWord(out + x, word(up + x) + word(mid + x) + word(down + x));
    }
    for (; x < w; ++x) {
        out[x] = static_cast<unsigned char>(((up[x] & B) + (mid[x] & B) + (down[x] & B)) >> SHIFT);
    }
}

// The rows of the ring of radius index r (1..3): its points in row dy = -(r + 1)..r + 1 of the
// centre are the columns -h..h, h = kRingHalf[r][dy + r + 1], the centre left out (the ring
// table draws these whole spans, each point once; the walk test checks them against it).
constexpr int kRingHalf[4][9] = {
    {}, {2, 2, 2, 2, 2}, {2, 3, 3, 3, 3, 3, 2}, {2, 3, 4, 4, 4, 4, 4, 3, 2}};

// 0xFF in the first n bytes of the word at kLeading + 8 - n, 0 after (n = 0..8).
constexpr unsigned char kLeading[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// LaRingMissing of radius index R: a word of cells per row (the first eight of a span of nine,
// then its last), its bytes summed by one multiply.
template <int R>
__attribute__((always_inline)) inline int RingMissing(const unsigned char* centre, std::ptrdiff_t w)
{
    int n = -Missing(*centre); // the centre lies in its row's span but is not a ring point
#pragma GCC unroll 9
    for (int dy = -(R + 1); dy <= R + 1; ++dy) {
        const int half = kRingHalf[R][dy + R + 1];
        const unsigned char* p = centre + dy * w - half;
        const int span = 2 * half + 1;
        const int first = span < 8 ? span : 8;
        const std::uint64_t f = Word(p);
        const std::uint64_t open = ~(f | f >> 6) & ONES & Word(kLeading + 8 - first);
        n += static_cast<int>((open * ONES) >> 56); // the bytes' sum, at most 8, in the top byte
        if (span > 8) {
            n += Missing(p[8]);
        }
    }
    return n;
}

// LaRingRange of radius index R. The spans include the centre, which the range starts from.
template <int R>
__attribute__((always_inline)) inline void RingRange(const unsigned char* centre, std::ptrdiff_t w,
                                                     int& lo, int& hi)
{
#if defined(__SSE2__)
    // Each span as the first eight lanes of a vector, from two overlapping loads (min and max do
    // not mind a byte read twice); the folds that follow bring lanes 0..7 alone into lane 0.
    __m128i least = _mm_set1_epi8(-1);
    __m128i most = _mm_setzero_si128();
#pragma GCC unroll 9
    for (int dy = -(R + 1); dy <= R + 1; ++dy) {
        const int half = kRingHalf[R][dy + R + 1];
        const unsigned char* p = centre + dy * w - half;
        if (half == 4) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 1));
            least = _mm_min_epu8(least, _mm_min_epu8(a, b));
            most = _mm_max_epu8(most, _mm_max_epu8(a, b));
            continue;
        }
        std::int32_t a;
        std::int32_t b;
        std::memcpy(&a, p, sizeof a);
        std::memcpy(&b, p + 2 * half - 3, sizeof b); // the span's last four bytes
        const __m128i v = _mm_unpacklo_epi32(_mm_cvtsi32_si128(a), _mm_cvtsi32_si128(b));
        least = _mm_min_epu8(least, v);
        most = _mm_max_epu8(most, v);
    }
    least = _mm_min_epu8(least, _mm_srli_si128(least, 4));
    least = _mm_min_epu8(least, _mm_srli_si128(least, 2));
    least = _mm_min_epu8(least, _mm_srli_si128(least, 1));
    most = _mm_max_epu8(most, _mm_srli_si128(most, 4));
    most = _mm_max_epu8(most, _mm_srli_si128(most, 2));
    most = _mm_max_epu8(most, _mm_srli_si128(most, 1));
    lo = _mm_cvtsi128_si32(least) & 0xFF;
    hi = _mm_cvtsi128_si32(most) & 0xFF;
#else
    lo = *centre;
    hi = lo;
    for (int dy = -(R + 1); dy <= R + 1; ++dy) {
        const int half = kRingHalf[R][dy + R + 1];
        const unsigned char* p = centre + dy * w - half;
        for (int k = 0; k <= 2 * half; ++k) {
            Widen(p[k], lo, hi);
        }
    }
#endif
}

void RingRangeAt(const unsigned char* centre, std::ptrdiff_t w, int r, int& lo, int& hi)
{
    if (r == 1) {
        RingRange<1>(centre, w, lo, hi);
    } else if (r == 2) {
        RingRange<2>(centre, w, lo, hi);
    } else {
        RingRange<3>(centre, w, lo, hi);
    }
}

int RingMissingAt(const unsigned char* centre, std::ptrdiff_t w, int r)
{
    return r == 1   ? RingMissing<1>(centre, w)
           : r == 2 ? RingMissing<2>(centre, w)
                    : RingMissing<3>(centre, w);
}

} // namespace

int LaRingMissing(const unsigned char* centre, int w, int r)
{
    return RingMissingAt(centre, w, r);
}

void LaRingRange(const unsigned char* centre, int w, int r, int& lo, int& hi)
{
    RingRangeAt(centre, w, r, lo, hi);
}

// Eight cells at a time as the bytes of a word.
void LaArea(unsigned char* flags, std::size_t n)
{
    static_assert(WEAK_BIT == 64 && AREA_BIT == 32, "the weak bit is bit 6, the area bit bit 5");
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t f = Word(flags + i);
        const std::uint64_t open = ~(f | f >> 6) & ONES; // bit 0: neither bit 0 nor bit 6
        PutWord(flags + i, f | open << 5);
    }
    for (; i < n; ++i) {
        if ((flags[i] & (PAPER_BIT | WEAK_BIT)) == 0) {
            flags[i] = static_cast<unsigned char>(flags[i] | AREA_BIT);
        }
    }
}

void Codex::Laying(int level)
{
    const bool quick = m_quick != 0;
    if (GetKey(57, FLOW_LEVEL) == -1) {
        Expert(1);
    }
    m_stage = LAYING_STAGE;
    OldLay(m_stage);
    const int lowest = level < 1 ? 1 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    m_curLevel = FLOW_LEVEL;
    const CLevel& l3 = m_level[FLOW_LEVEL];

    // 1. Histogram of transformed grey levels: reliable cells count down, others up. The same
    //    values give the level-3 block means of step 3.
    std::vector<unsigned char> mean3(l3.size);
    m_rank.RanIni(0);
    BlockMeans<true>(*this, FLOW_LEVEL, Layer(145, FLOW_LEVEL), mean3.data(), m_rank.Ran,
                     QUALITY_LIMIT);
    m_rank.RanSmo(1);
    m_rank.RanSmo(5);
    m_rank.RanSmo(3);

    // 2. Paper level from the brightest clear peak of the histogram.
    {
        const int* r = m_rank.Ran;
        int peak = 255;
        int height = PEAK_COUNT;
        for (int i = 255; i >= PAPER_MIN; --i) {
            if (r[i] <= PEAK_COUNT) {
                continue;
            }
            peak = i;
            while (peak - 1 >= PAPER_MIN && r[peak - 1] > r[peak]) {
                --peak;
            }
            height = r[peak];
            break;
        }
        int t = PAPER_MIN - 1;
        for (int i = peak - 1; i >= PAPER_MIN; --i) {
            if (r[i] < height / 3) {
                t = i;
                break;
            }
        }
        m_laPaper = 2 * t - peak > 0 ? 2 * t - peak : 0;
    }

    // Vote and mark passes at level lv for flag bit b, repeated lv times.
    auto votes = [this, quick](int lv, auto bit) {
        constexpr int b = decltype(bit)::value;
        const CLevel& cl = m_level[lv];
        const int w = cl.width;
        const int h = cl.height;
        unsigned char* flags = Layer(128, lv);
        unsigned char* vote = Layer(240, lv);
        const unsigned char* value = Layer(b == PAPER_BIT ? 241 : 145, lv);
        const int ringN = kRingSize[lv];
        // Cells with bit b in the three rows around the current one, per column, with a zero
        // column on each side: the 3 x 3 count of column x is cols[x] + cols[x + 1] + cols[x + 2].
        // Rows outside the level read as a row of zeros.
        std::vector<unsigned char> cols(static_cast<std::size_t>(w) + 2, 0);
        const std::vector<unsigned char> none(static_cast<std::size_t>(w), 0);
        for (int rep = 0; rep < lv; ++rep) {
            m_ringPoint = static_cast<RingFn>(&Codex::Sphere);
            for (int y = 0; y < h; ++y) {
                const unsigned char* up = y > 0 ? flags + (y - 1) * w : none.data();
                const unsigned char* mid = flags + y * w;
                const unsigned char* down = y + 1 < h ? flags + (y + 1) * w : none.data();
                ColumnCounts<b>(up, mid, down, w, cols.data() + 1);
                auto cell = [&](int x) {
                    const int at = y * w + x;
                    if (b == WEAK_BIT && (flags[at] & PAPER_BIT) != 0) {
                        return;
                    }
                    const std::size_t c = static_cast<std::size_t>(x);
                    const int n = cols[c] + cols[c + 1] + cols[c + 2];
                    int v;
                    if (quick) {
                        v = n < 3 ? 0 : n < 6 ? 1 : 2;
                    } else if (n < 2) {
                        v = 0;
                    } else if (n >= 7) {
                        v = 2;
                    } else {
                        // Sphere over the ring, its count in a local: the ring points are
                        // read by their offset from the cell.
                        int missing = (flags[at] & b) == 0 ? 1 : 0;
                        const unsigned char* centre = flags + at;
                        WalkAt(x, y, lv, nullptr, flags);
                        if (RingInside(lv, lv)) {
                            missing += RingMissingAt(centre, w, lv);
                            RingInsideDone(lv, lv, 1);
                        } else {
                            RingOffsetsAt(lv, lv, false, 1, [&missing, centre](int, int off) {
                                missing += Missing(centre[off]);
                            });
                        }
                        m_laMissing = missing;
                        const int share = 99 * (ringN - m_laMissing + 1) / (ringN + 1);
                        v = share > FILL_SHARE ? 2 : share < CLEAR_SHARE ? 0 : 1;
                    }
                    vote[at] = static_cast<unsigned char>(v);
                };
                // Eight cells at a time; cells that keep their vote (paper cells of the weak
                // pass) keep the byte, and the cells that walk their ring (in order, the only
                // ones that touch the walk state) then overwrite theirs.
                int x = 0;
                for (; x + 8 <= w; x += 8) {
                    const std::uint64_t n = Word(cols.data() + x) + Word(cols.data() + x + 1) +
                                            Word(cols.data() + x + 2);
                    const std::uint64_t keep = b == WEAK_BIT ? Word(flags + y * w + x) & ONES : 0;
                    const std::uint64_t v =
                        quick ? AtLeast(n, 3) + AtLeast(n, 6) : 2 * AtLeast(n, 7);
                    const std::uint64_t keepBytes = keep * 0xFF;
                    const std::uint64_t old = Word(vote + y * w + x);
                    PutWord(vote + y * w + x, (old & keepBytes) | (v & ~keepBytes));
                    if (!quick && (AtLeast(n, 2) & ~AtLeast(n, 7) & ~keep) != 0) {
                        for (int i = 0; i < 8; ++i) {
                            const std::size_t c = static_cast<std::size_t>(x + i);
                            const int m = cols[c] + cols[c + 1] + cols[c + 2];
                            if (m >= 2 && m < 7) {
                                cell(x + i);
                            }
                        }
                    }
                }
                for (; x < w; ++x) {
                    cell(x);
                }
            }
            m_ringPoint = static_cast<RingFn>(&Codex::MaxMin);
            for (int y = 0; y < h; ++y) {
                auto cell = [&](int x) {
                    const int at = y * w + x;
                    if (b == WEAK_BIT && (flags[at] & PAPER_BIT) != 0) {
                        return;
                    }
                    bool set = vote[at] == 2;
                    if (vote[at] == 1) {
                        // MaxMin over the ring, its range in locals.
                        int lo = value[at];
                        int hi = lo;
                        const unsigned char* centre = value + at;
                        WalkAt(x, y, lv, nullptr, flags, const_cast<unsigned char*>(value));
                        const int r = FLOW_LEVEL + 1 - lv;
                        if (RingInside(lv, r)) {
                            RingRangeAt(centre, w, r, lo, hi);
                            RingInsideDone(lv, r, 1);
                        } else {
                            RingOffsetsAt(lv, r, false, 1, [&lo, &hi, centre](int, int off) {
                                Widen(centre[off], lo, hi);
                            });
                        }
                        m_laMin = lo;
                        m_laMax = hi;
                        if (b == PAPER_BIT) {
                            const int thr = (m_laMin * (quick ? 1 : 2) + m_laMax * (quick ? 9 : 7) +
                                             9 * m_laPaper) /
                                            (quick ? 19 : 18);
                            set = value[at] > thr;
                        } else {
                            const int thr =
                                (m_laMin * (quick ? 4 : 1) + m_laMax * 4 + 9 * m_laPaper) /
                                (quick ? 17 : 14);
                            set = value[at] < thr;
                        }
                    }
                    flags[at] = static_cast<unsigned char>(set ? flags[at] | b : flags[at] & ~b);
                };
                // Eight cells at a time; cells that keep their flags (paper cells of the weak
                // pass) keep the byte, whatever their vote, and the cells of vote 1 (in order,
                // the only ones that touch the walk state) then set their bit b again.
                int x = 0;
                for (; x + 8 <= w; x += 8) {
                    unsigned char* f = flags + y * w + x;
                    const std::uint64_t fw = Word(f);
                    const std::uint64_t v = Word(vote + y * w + x);
                    const std::uint64_t keep = b == WEAK_BIT ? fw & ONES : 0;
                    const std::uint64_t set = ((v >> 1) & ONES) * b;
                    const std::uint64_t marked = (fw & ~(ONES * b)) | set;
                    const std::uint64_t keepBytes = keep * 0xFF;
                    PutWord(f, (fw & keepBytes) | (marked & ~keepBytes));
                    if ((v & ~(v >> 1) & ONES & ~keep) != 0) {
                        for (int i = 0; i < 8; ++i) {
                            if (vote[y * w + x + i] == 1) {
                                cell(x + i);
                            }
                        }
                    }
                }
                for (; x < w; ++x) {
                    cell(x);
                }
            }
        }
        Resume();
    };

    // 3. Paper cells, level by level.
    for (int lv = FLOW_LEVEL; lv >= lowest; --lv) {
        m_curLevel = lv;
        unsigned char* mean = Layer(241, lv);
        if (lv == FLOW_LEVEL) {
            std::memcpy(mean, mean3.data(), l3.size);
        } else {
            BlockMeans<false>(*this, lv, Layer(145, lv), mean, nullptr, 0);
        }
        if (lv == FLOW_LEVEL) {
            unsigned char* flags = Layer(128, lv);
            for (std::size_t i = 0; i < l3.size; ++i) {
                int f = flags[i] & ~(PAPER_BIT | AREA_BIT | WEAK_BIT);
                if (mean[i] > m_laPaper) {
                    f |= PAPER_BIT;
                }
                flags[i] = static_cast<unsigned char>(f);
            }
        }
        votes(lv, std::integral_constant<int, PAPER_BIT>());
        if (lv - 1 >= lowest) {
            LaDeep(lv, PAPER_BIT);
        }
    }

    // 4. Weak cells and the finger area, level by level.
    m_laPaper = quick ? QUALITY_LIMIT : QUALITY_LIMIT + 1;
    for (int lv = FLOW_LEVEL; lv >= lowest; --lv) {
        m_curLevel = lv;
        const CLevel& cl = m_level[lv];
        unsigned char* flags = Layer(128, lv);
        if (lv == FLOW_LEVEL) {
            const unsigned char* q = Layer(145, lv);
            for (std::size_t i = 0; i < cl.size; ++i) {
                if ((flags[i] & PAPER_BIT) != 0) {
                    continue;
                }
                flags[i] = static_cast<unsigned char>(q[i] > m_laPaper ? flags[i] & ~WEAK_BIT
                                                                       : flags[i] | WEAK_BIT);
            }
        } else {
            LaDeep(lv + 1, WEAK_BIT);
        }
        votes(lv, std::integral_constant<int, WEAK_BIT>());
        std::memset(Layer(161, lv), 0, cl.size);
        std::memset(Layer(162, lv), 0, cl.size);
        LaArea(flags, cl.size);
    }

    for (int lv = FLOW_LEVEL; lv >= lowest; --lv) {
        DelLay(240, lv);
        DelLay(241, lv);
    }
}

} // namespace wizard73
