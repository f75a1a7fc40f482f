// Stages 15 and 16 on channel energies and period maps whose answer is known: the period code of a
// peaked and of flat energies, the clarity, the refill of a gap, the smoothed period bin and
// the reliability's sign with the clarity.

#include "extraction/engine/Codex.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

// An engine of 160 x 128 pixels whose levels 1 to 3 hold the energies s[0..13] at every pixel
// and a flow of 0 degrees, as stage 14 and stage 12 leave them.
std::unique_ptr<Codex> Energies(const int* s)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(160, 128);
    e->NewDoc();
    e->m_stage = 14;
    for (int level = 1; level <= 3; ++level) {
        const std::size_t n = e->m_level[level].size;
        for (int k = 0; k < 14; ++k) {
            std::memset(e->GetLay(64 + k, level), s[k], n);
        }
        std::memset(e->GetLay(36, level), 0, n);
    }
    std::memset(e->GetLay(117, 3), 0, e->m_level[3].size);
    return e;
}

struct EnergiesCase {
    const char* name;
    int s[14];
    int code;       // period code everywhere
    int clarityMax; // layer 118 at most
    int clarityMin; // and at least
};

void PrintTo(const EnergiesCase& c, std::ostream* os)
{
    *os << c.name << " -> code " << c.code;
}

const EnergiesCase kEnergies[] = {
    {"flat_ties_to_bin_0", {50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50}, 4, 90, 90},
    {"peak_at_bin_6", {5, 5, 10, 20, 40, 90, 160, 90, 40, 20, 10, 5, 5, 5}, 10, 10, 0},
    {"peak_at_bin_13", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 60, 120}, 17, 10, 0},
    {"harmonic_of_bin_2_is_corrected", {0, 0, 150, 0, 0, 0, 0, 0, 155, 0, 0, 0, 0, 0}, 6, 90, 0},
};

class HarmonEnergies : public ::testing::TestWithParam<EnergiesCase> {};

TEST_P(HarmonEnergies, GivesItsPeriodCodeOnEveryLevel)
{
    const EnergiesCase& c = GetParam();
    auto e = Energies(c.s);
    e->Harmon(1);
    for (int level = 1; level <= 3; ++level) {
        SCOPED_TRACE(level);
        const unsigned char* code = e->GetLay(56, level);
        for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
            ASSERT_EQ(code[i], c.code) << i;
        }
    }
    const unsigned char* clarity = e->GetLay(118, 3);
    for (std::size_t i = 0; i < e->m_level[3].size; ++i) {
        ASSERT_LE(clarity[i], c.clarityMax);
        ASSERT_GE(clarity[i], c.clarityMin);
    }
    for (int k = 0; k < 14; ++k) {
        EXPECT_EQ(e->GetKey(64 + k, 1), -1) << "energies released";
    }
}

INSTANTIATE_TEST_SUITE_P(Harmon, HarmonEnergies, ::testing::ValuesIn(kEnergies),
                         [](const auto& p) { return std::string(p.param.name); });

// A pixel with empty energies inside a coded region is refilled from its neighbours.
TEST(Harmon, EmptyPixelIsRefilledFromItsNeighbours)
{
    const int s[14] = {5, 5, 10, 20, 40, 90, 160, 90, 40, 20, 10, 5, 5, 5};
    auto e = Energies(s);
    const int at = 10 + 8 * e->m_level[3].width;
    for (int k = 0; k < 14; ++k) {
        e->GetLay(64 + k, 3)[at] = 0;
    }
    e->Harmon(3);
    EXPECT_EQ(e->GetLay(56, 3)[at], 10);
}

// HaPeak against its definition over the product table Ex: named cases (ties go to the first
// bin, 255 weighs as 254, values that round to 0 give -1) and random responses and windows.
TEST(Harmon, PeakOfWeightedResponsesFollowsTheProductTable)
{
    const auto& ex = EngineTables().Ex;
    auto reference = [&ex](const unsigned char* s, const int* angle) {
        int best = 0;
        int top = ex[std::min<int>(s[0], 254)][angle[0]];
        for (int k = 1; k < 14; ++k) {
            const int v = ex[std::min<int>(s[k], 254)][angle[k]];
            if (v > top) {
                top = v;
                best = k;
            }
        }
        return top < 1 ? -1 : best;
    };
    auto peak = [](const unsigned char* s, const int* angle) {
        alignas(16) unsigned char b[16] = {};
        alignas(16) std::int16_t c[16] = {};
        for (int k = 0; k < 14; ++k) {
            b[k] = s[k];
            c[k] = static_cast<std::int16_t>(CosDeg(angle[k]));
        }
        return HaPeak(b, c);
    };
    struct Case {
        const char* name;
        unsigned char s[14];
        int angle; // every window
        int want;
    };
    const Case cases[] = {
        {"all_zero", {}, 0, -1},
        {"flat_ties_to_bin_0", {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}, 0, 0},
        {"255_weighs_as_254", {0, 0, 0, 254, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 3},
        {"last_bin", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 13},
        {"rounds_to_zero", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 61, -1},
        {"window_closed",
         {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
         90,
         -1},
    };
    for (const Case& c : cases) {
        int angle[14];
        std::fill(angle, angle + 14, c.angle);
        EXPECT_EQ(peak(c.s, angle), c.want) << c.name;
        EXPECT_EQ(reference(c.s, angle), c.want) << c.name;
    }
    std::mt19937 rng(15);
    for (int n = 0; n < 20000; ++n) {
        unsigned char s[14];
        int angle[14];
        const int span = n % 3 == 0 ? 256 : 8; // narrow spans make ties
        for (int k = 0; k < 14; ++k) {
            s[k] = static_cast<unsigned char>(n % 5 == 0 ? 255 - rng() % span : rng() % span);
            angle[k] = static_cast<int>(rng() % 91);
        }
        ASSERT_EQ(peak(s, angle), reference(s, angle)) << n;
    }
    // Every response under every window: a second bin under a full window holding one less,
    // the same or one more than the first's weighted value pins that value exactly.
    int swept = 0;
    for (int a = 0; a <= 90; ++a) {
        for (int v = 0; v < 256; ++v) {
            const int value = ex[std::min(v, 254)][a];
            for (int t = std::max(value - 1, 0); t <= std::min(value + 1, 254); ++t) {
                const unsigned char s[14] = {static_cast<unsigned char>(v),
                                             static_cast<unsigned char>(t)};
                const int angle[14] = {a, 0};
                ASSERT_EQ(peak(s, angle), reference(s, angle)) << a << " " << v << " " << t;
                ++swept;
            }
        }
    }
    EXPECT_GT(swept, 91 * 256 * 2);
}

// The descent's gather of the 14 channel bytes per pixel: the transposing path and the byte by
// byte one give the same 16 bytes a pixel (two zeros last) for row lengths around the
// sixteen-pixel blocks and for starts off any alignment, and write nothing past `count` pixels.
TEST(Harmon, GatherOfChannelBytesEqualsTheByteByByteGather)
{
    constexpr int kWidth = 80;
    std::mt19937 rng(77);
    std::vector<std::vector<unsigned char>> layers(14, std::vector<unsigned char>(kWidth));
    const unsigned char* g[14];
    for (int k = 0; k < 14; ++k) {
        for (unsigned char& b : layers[k]) {
            b = static_cast<unsigned char>(rng());
        }
        g[k] = layers[k].data();
    }
    const int counts[] = {0, 1, 15, 16, 17, 31, 32, 33, 47, 64};
    for (int count : counts) {
        for (int at : {0, 1, 7, 16 - count % 16}) {
            if (at + count > kWidth) {
                continue;
            }
            std::vector<unsigned char> fast(16 * (count + 1), 0xA5);
            std::vector<unsigned char> slow(16 * (count + 1), 0xA5);
            HaGather(g, static_cast<std::size_t>(at), count, fast.data());
            HaGatherScalar(g, static_cast<std::size_t>(at), count, slow.data());
            ASSERT_EQ(fast, slow) << "count " << count << " at " << at;
            for (int i = 0; i < count; ++i) {
                for (int k = 0; k < 16; ++k) {
                    ASSERT_EQ(slow[16 * i + k], k < 14 ? g[k][at + i] : 0)
                        << "count " << count << " at " << at << " pixel " << i << " byte " << k;
                }
            }
            for (int k = 0; k < 16; ++k) {
                ASSERT_EQ(fast[16 * count + k], 0xA5) << "written past the end, count " << count;
            }
        }
    }
}

// The eight-pixel flow means against the pixel-by-pixel twin: random codes and angles, all-255
// rows (the largest sums) and checkered rows, every start and end of a 40-pixel row, and every
// byte angle across the rows.
TEST(Harmon, SmoothedRowOfEightMatchesThePixelTwin)
{
    constexpr int W = 42;
    std::uint32_t seed = 2463534242u;
    int rows = 0;
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        unsigned char codes[3 * W];
        unsigned char angles[W];
        for (int i = 0; i < 3 * W; ++i) {
            zftest::XorShift32(seed);
            const bool odd = ((i % W) + i / W) % 2 != 0;
            codes[i] = static_cast<unsigned char>(kind == 0   ? seed & 255
                                                  : kind == 1 ? 255
                                                              : (odd ? 255 : 0));
        }
        for (int start = 0; start < 256; start += W) {
            for (int x = 0; x < W; ++x) {
                angles[x] = static_cast<unsigned char>((start + x) % 256);
            }
            for (int x0 = 1; x0 < 12; ++x0) {
                for (int x1 = x0; x1 <= W - 1; ++x1) {
                    unsigned char fast[W];
                    unsigned char twin[W];
                    std::memset(fast, 0xA5, sizeof fast);
                    std::memset(twin, 0xA5, sizeof twin);
                    HaSmoothRow(angles, codes + W, W, x0, x1, fast);
                    HaSmoothRowScalar(angles, codes + W, W, x0, x1, twin);
                    ASSERT_EQ(std::memcmp(fast, twin, sizeof fast), 0)
                        << start << " " << x0 << " " << x1;
                    ++rows;
                }
            }
        }
    }
    EXPECT_EQ(rows, 3 * 7 * (11 * 41 - 55));
}

// The eight-pixel roughness sums against the pixel-by-pixel twin over 68 ring offsets within
// four rows and columns: random codes 0..17 with gaps, the steepest rows (17 beside 2, every
// square at its largest) and rows with no coded point, every start and end of the row.
TEST(Harmon, RoughnessRowOfEightMatchesThePixelTwin)
{
    constexpr int W = 44;
    constexpr int kRing = 68;
    std::uint32_t seed = 1812433253u;
    std::int32_t off[kRing];
    for (std::int32_t& o : off) {
        zftest::XorShift32(seed);
        const int dx = static_cast<int>(seed % 9) - 4;
        const int dy = static_cast<int>((seed >> 8) % 9) - 4;
        o = dy * W + dx;
    }
    int rows = 0;
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        unsigned char codes[9 * W];
        for (int i = 0; i < 9 * W; ++i) {
            zftest::XorShift32(seed);
            const bool odd = ((i % W) + i / W) % 2 != 0;
            codes[i] = static_cast<unsigned char>(kind == 0   ? (seed % 4 == 0 ? 0 : seed % 18)
                                                  : kind == 1 ? (odd ? 17 : 2)
                                                              : (i / W == 4 ? seed % 18 : 0));
        }
        const unsigned char* row = codes + 4 * W;
        for (int x0 = 4; x0 < 14; ++x0) {
            for (int x1 = x0; x1 <= W - 4; ++x1) {
                int fast[2][W];
                int twin[2][W];
                std::fill(&fast[0][0], &fast[0][0] + 2 * W, -7);
                std::fill(&twin[0][0], &twin[0][0] + 2 * W, -7);
                HaRoughRow(row, off, kRing, x0, x1, fast[0], fast[1]);
                HaRoughRowScalar(row, off, kRing, x0, x1, twin[0], twin[1]);
                ASSERT_EQ(std::memcmp(fast, twin, sizeof fast), 0) << x0 << " " << x1;
                ++rows;
            }
        }
    }
    EXPECT_EQ(rows, 3 * (10 * 37 - 45));
}

// The eight-pixel harmonic correction against the pixel-by-pixel twin: random responses, small
// ones (many ties, the first bin must win), all 255 (the largest weights) and all 0 (no peak),
// counts around the eight-pixel blocks and starts off alignment; nothing written past the end.
TEST(Harmon, CorrectionOfEightMatchesThePixelTwin)
{
    constexpr int kWidth = 40;
    std::uint32_t seed = 123456789u;
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        std::vector<std::vector<unsigned char>> layers(14, std::vector<unsigned char>(kWidth));
        const unsigned char* raw[14];
        for (int k = 0; k < 14; ++k) {
            for (unsigned char& b : layers[k]) {
                zftest::XorShift32(seed);
                b = static_cast<unsigned char>(kind == 0   ? seed >> 24
                                               : kind == 1 ? (seed >> 24) % 4
                                               : kind == 2 ? 255
                                                           : 0);
            }
            raw[k] = layers[k].data();
        }
        for (int count : {0, 1, 7, 8, 9, 16, 23, 31}) {
            for (int at : {0, 3}) {
                std::vector<std::vector<unsigned char>> out[2];
                unsigned char* fixd[2][14];
                std::vector<int> peak[2];
                for (int v = 0; v < 2; ++v) {
                    out[v].assign(14, std::vector<unsigned char>(kWidth, 0xA5));
                    for (int k = 0; k < 14; ++k) {
                        fixd[v][k] = out[v][k].data();
                    }
                    peak[v].assign(static_cast<std::size_t>(count) + 1, 99);
                }
                HaCorrect(raw, fixd[0], static_cast<std::size_t>(at), count, peak[0].data());
                HaCorrectScalar(raw, fixd[1], static_cast<std::size_t>(at), count, peak[1].data());
                ASSERT_EQ(out[0], out[1]) << count << " " << at;
                ASSERT_EQ(peak[0], peak[1]) << count << " " << at;
                ASSERT_EQ(peak[0].back(), 99);
                if (kind == 3 && count > 0) {
                    ASSERT_EQ(peak[0][0], -1);
                }
            }
        }
    }
}

// The descent's codes of eight columns at a time against the pixel-by-pixel twin, and both
// against HaPeak pixel by pixel: random responses, small ones (ties, the first bin must win), all
// 255 (weighed as 254) and all 0 (the prediction kept), under windows made from cosines (8 c,
// 65535 for a full window) and under closed windows; counts around the eight-column blocks on
// one to three rows, and nothing written past `count` columns.
TEST(Harmon, DescentRowsOfEightMatchThePixelTwin)
{
    constexpr int kStride = 37;
    constexpr int kRows = 3;
    std::uint32_t seed = 362436069u;
    auto next = [&seed] {
        zftest::XorShift32(seed);
        return seed;
    };
    for (int kind = 0; kind < 5; ++kind) {
        SCOPED_TRACE(kind);
        std::vector<std::vector<unsigned char>> layers(14,
                                                       std::vector<unsigned char>(kRows * kStride));
        const unsigned char* s[14];
        for (int k = 0; k < 14; ++k) {
            for (unsigned char& b : layers[k]) {
                const std::uint32_t r = next() >> 24;
                b = static_cast<unsigned char>(kind == 0   ? r
                                               : kind == 1 ? r % 3
                                               : kind == 2 ? 255
                                               : kind == 3 ? 0
                                                           : 250 + r % 6);
            }
            s[k] = layers[k].data();
        }
        // Cosines of random angles, a full window at every fourth column, a closed one (no
        // weight, the prediction kept) at every seventh.
        std::vector<std::array<std::int16_t, 16>> cosines(kStride);
        std::vector<std::array<std::uint16_t, 16>> scaled(kStride);
        std::vector<const std::uint16_t*> window(kStride);
        unsigned char pred[kStride];
        for (int x = 0; x < kStride; ++x) {
            for (int k = 0; k < 16; ++k) {
                const int c = k >= 14 || x % 7 == 3 ? 0
                              : x % 4 == 1          ? 8192
                                                    : CosDeg(static_cast<int>(next() % 91));
                cosines[x][k] = static_cast<std::int16_t>(c);
                scaled[x][k] = static_cast<std::uint16_t>(c >= 8192 ? 65535 : 8 * c);
            }
            window[x] = scaled[x].data();
            pred[x] = static_cast<unsigned char>(next() >> 24);
        }
        const int shift = kind % 2 == 0 ? 4 : 2;
        for (int rows = 1; rows <= kRows; ++rows) {
            for (int count : {0, 1, 7, 8, 9, 15, 16, 17, 24, 31, kStride - 1}) {
                std::vector<unsigned char> fast(kRows * kStride, 0xA5);
                std::vector<unsigned char> twin(kRows * kStride, 0xA5);
                HaDescentRows(s, kStride, rows, window.data(), pred, shift, count, fast.data());
                HaDescentRowsScalar(s, kStride, rows, window.data(), pred, shift, count,
                                    twin.data());
                ASSERT_EQ(fast, twin) << rows << " " << count;
                for (int r = 0; r < kRows; ++r) {
                    for (int x = 0; x < kStride; ++x) {
                        const int at = r * kStride + x;
                        if (r >= rows || x >= count) {
                            ASSERT_EQ(twin[at], 0xA5) << "written outside " << r << " " << x;
                            continue;
                        }
                        alignas(16) unsigned char b[16] = {};
                        for (int k = 0; k < 14; ++k) {
                            b[k] = s[k][at];
                        }
                        const int p = HaPeak(b, cosines[x].data());
                        ASSERT_EQ(twin[at], p >= 0 ? p + shift : pred[x]) << r << " " << x;
                    }
                }
            }
        }
    }
}

// The bin x 8 follows the code; a clear period gives a reliability above neutral, a blurred one
// (clarity and incoherence 90) one below, and the border keeps 84 % of the deviation.
TEST(Expert, PeriodBinAndReliabilitySide)
{
    const int s[14] = {5, 5, 10, 20, 40, 90, 160, 90, 40, 20, 10, 5, 5, 5};
    for (int blurred = 0; blurred <= 1; ++blurred) {
        SCOPED_TRACE(blurred);
        auto e = Energies(s);
        e->Harmon(1);
        if (blurred != 0) {
            std::memset(e->GetLay(118, 3), 90, e->m_level[3].size);
            std::memset(e->GetLay(117, 3), 90, e->m_level[3].size);
        }
        e->Expert(1);
        const CLevel& l1 = e->m_level[1];
        const int inner = 20 + 20 * l1.width;
        EXPECT_EQ(e->GetLay(57, 1)[inner], (10 - 4) * 8);
        const int r = e->GetLay(145, 1)[inner];
        EXPECT_TRUE(blurred != 0 ? r < 127 : r > 127) << r;
        EXPECT_EQ(e->GetLay(147, 1)[inner], r > 127 ? (r - 127) * 63 / 127 : 0);
        const int r3 = e->GetLay(145, 3)[5 + 5 * e->m_level[3].width];
        const int border3 = e->GetLay(145, 3)[0];
        EXPECT_EQ(border3 - 127, 84 * (r3 - 127) / 100) << r3;
        for (int id : {4, 5, 6, 7}) {
            EXPECT_EQ(e->GetLay(id, 0)[0], id < 6 ? 255 : 127);
        }
    }
}

// The eight-pixel rows against the pixel-by-pixel twin: random, extreme and checkered rows (the
// least mean's largest sums and steepest differences), every start and end of a 40-pixel row.
TEST(Expert, RowOfEightMatchesThePixelTwin)
{
    constexpr int W = 42;
    std::uint32_t seed = 88172645u;
    int rows = 0;
    for (int kind = 0; kind < 5; ++kind) {
        SCOPED_TRACE(kind);
        unsigned char in[2][3 * W];
        for (int i = 0; i < 3 * W; ++i) {
            zftest::XorShift32(seed);
            const bool odd = ((i % W) + i / W) % 2 != 0;
            in[0][i] = static_cast<unsigned char>(kind == 0   ? seed & 255
                                                  : kind == 1 ? 255
                                                  : kind == 2 ? (odd ? 255 : 0)
                                                  : kind == 3 ? (i / W == 1 ? 0 : 255)
                                                              : (seed >> 8) % 3 * 127);
            in[1][i] = static_cast<unsigned char>(kind == 1 ? 255 : seed >> 16);
        }
        for (int x0 = 1; x0 < 12; ++x0) {
            for (int x1 = x0; x1 <= W - 1; ++x1) {
                unsigned char fast[3][W];
                unsigned char twin[3][W];
                std::memset(fast, 0xA5, sizeof fast);
                std::memset(twin, 0xA5, sizeof twin);
                ExRow(in[0] + W, in[1] + W, W, x0, x1, fast[0], fast[1], fast[2]);
                ExRowScalar(in[0] + W, in[1] + W, W, x0, x1, twin[0], twin[1], twin[2]);
                ASSERT_EQ(std::memcmp(fast, twin, sizeof fast), 0) << x0 << " " << x1;
                ++rows;
            }
        }
    }
    EXPECT_EQ(rows, 5 * (11 * 41 - 55));
}

} // namespace
