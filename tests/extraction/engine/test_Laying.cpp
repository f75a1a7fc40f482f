// Stage 17: the transformed grey level of the paper histogram, and the flags of uniform prints:
// paper, weak ridges at the quality limit, and finger area.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Steps.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

struct HistogCase {
    int grey, quality;
    bool quick;
    int expected;
};

void PrintTo(const HistogCase& c, std::ostream* os)
{
    *os << "grey " << c.grey << " quality " << c.quality << (c.quick ? " quick" : "") << " -> "
        << c.expected;
}

const HistogCase kHistog[] = {
    {255, 127, false, 255},                       // neutral quality: the sine-squared curve alone
    {0, 127, false, 0},     {128, 0, false, 128}, // 255 * TabSig[45] / 8192 = 127.5, rounded up
    {255, 254, false, 0},                         // full quality weighs the grey level away
    {255, 191, true, 128},                        // one weighting of about a half in quick mode ...
    {255, 191, false, 64},                        // ... two in normal mode
};

TEST(Laying, HistogKnownAnswers)
{
    for (const HistogCase& c : kHistog) {
        SCOPED_TRACE(::testing::PrintToString(c));
        EXPECT_EQ(histog(static_cast<unsigned char>(c.grey), static_cast<unsigned char>(c.quality),
                         c.quick),
                  c.expected);
    }
}

struct AreaCase {
    const char* name;
    int grey;
    int quality;
    int flags; // bits 0, 5 and 6 of every cell of levels 1 to 3
};

void PrintTo(const AreaCase& c, std::ostream* os)
{
    *os << c.name;
}

const AreaCase kAreas[] = {
    {"reliable_dark_print_is_finger_area", 60, 200, 32},
    {"quality_at_the_limit_is_weak", 60, 132, 64},
    {"quality_above_the_limit_is_area", 60, 133, 32},
    {"bright_paper", 250, 100, 1},
};

class LayingArea : public ::testing::TestWithParam<AreaCase> {};

TEST_P(LayingArea, UniformImageGetsOneFlagEverywhere)
{
    const AreaCase& c = GetParam();
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(160, 128);
    e->NewDoc();
    e->m_stage = 16;
    std::memset(e->GetLay(1, 0), c.grey, e->m_level[0].size);
    for (int level = 1; level <= 3; ++level) {
        std::memset(e->GetLay(145, level), c.quality, e->m_level[level].size);
        std::memset(e->GetLay(57, level), 48, e->m_level[level].size);
    }
    std::memset(e->GetLay(128, 3), 4 | 8, e->m_level[3].size);
    e->Laying(1);
    for (int level = 1; level <= 3; ++level) {
        SCOPED_TRACE(level);
        const unsigned char* f = e->GetLay(128, level);
        for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
            ASSERT_EQ(f[i] & (1 | 32 | 64), c.flags) << i;
            ASSERT_EQ(f[i] & (4 | 8), 4 | 8) << "other bits are kept";
        }
        EXPECT_EQ(e->GetLay(161, level)[0], 0);
        EXPECT_EQ(e->GetKey(240, level), -1);
    }
}

// The flags of a coarse level reach the finer level block by block, the last block of an odd side
// shifted back inside the level: with level 2 of 9 x 5 cells (level 3 of 5 x 3), fine column 7
// and row 3 take the last coarse column and row, not column 3 and row 1.
std::unique_ptr<Codex> OddLevels()
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(36, 20);
    e->NewDoc();
    return e;
}

TEST(Laying, FlagsCopyDownWithClippedBlocksOnOddLevels)
{
    auto e = OddLevels();
    const CLevel& c = e->m_level[3];
    const CLevel& f = e->m_level[2];
    ASSERT_EQ(c.width * 10 + c.height, 53);
    ASSERT_EQ(f.width * 10 + f.height, 95);
    unsigned char* coarse = e->GetLay(128, 3);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            coarse[y * c.width + x] = static_cast<unsigned char>(1 | (x << 1) | (y << 4));
        }
    }
    std::memset(e->GetLay(128, 2), 0, f.size);
    e->LaDeep(3, 1);
    const int parentX[9] = {0, 0, 1, 1, 2, 2, 3, 4, 4};
    const int parentY[5] = {0, 0, 1, 2, 2};
    const unsigned char* fine = e->GetLay(128, 2);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            EXPECT_EQ(fine[y * f.width + x], coarse[parentY[y] * c.width + parentX[x]])
                << x << "," << y;
        }
    }
}

TEST(Laying, WeakBitCopiesDownFromEveryCoveringBlockExceptOntoPaper)
{
    auto e = OddLevels();
    const CLevel& c = e->m_level[3];
    const CLevel& f = e->m_level[2];
    unsigned char* coarse = e->GetLay(128, 3);
    std::memset(coarse, 0, c.size);
    for (int y = 0; y < c.height; ++y) {
        coarse[y * c.width + c.width - 1] = 64; // only the last column is weak
    }
    unsigned char* fine = e->GetLay(128, 2);
    std::memset(fine, 4, f.size);
    fine[8] = 1; // a paper cell under a weak parent stays without bit 6
    e->LaDeep(3, 64);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const int want = x == 8 && y == 0 ? 1 : x >= 7 ? 4 | 64 : 4;
            EXPECT_EQ(fine[y * f.width + x], want) << x << "," << y;
        }
    }
}

// Every byte value at every place of runs of every length up to 40 (whole words and their
// tails) against the cell-by-cell rule.
TEST(Laying, AreaBitOfWordsMatchesEachCell)
{
    std::vector<unsigned char> cells(40);
    int runs = 0;
    for (int n = 0; n <= 40; ++n) {
        for (int first = 0; first < 256; first += 7) {
            for (int i = 0; i < n; ++i) {
                cells[static_cast<std::size_t>(i)] = static_cast<unsigned char>(first + 37 * i);
            }
            std::vector<unsigned char> want(cells.begin(), cells.begin() + n);
            for (unsigned char& c : want) {
                c = static_cast<unsigned char>((c & (1 | 64)) == 0 ? c | 32 : c);
            }
            LaArea(cells.data(), static_cast<std::size_t>(n));
            ASSERT_TRUE(std::equal(want.begin(), want.end(), cells.begin())) << n << " " << first;
            ++runs;
        }
    }
    EXPECT_EQ(runs, 41 * 37);
}

// The rings of an 11 x 11 level with a row below them: check(r, x, y, values) gets every ring
// of radius 1..3 whose reach lies inside, with its cells in ring table order. Returns how many.
constexpr int kRingLevelW = 11;
template <class Check> int ForEachInnerRing(const unsigned char* cells, Check check)
{
    constexpr int W = kRingLevelW;
    int rings = 0;
    for (int r = 1; r <= 3; ++r) {
        const int reach = r + 1;
        for (int y = reach + 1; y + reach < W - 1; ++y) {
            for (int x = reach + 1; x + reach < W - 1; ++x) {
                std::vector<int> values;
                int px = x;
                int py = y;
                for (int i = 0; i < kRingEntries[r]; ++i) {
                    px += kStepX[ring[i].dir];
                    py += kStepY[ring[i].dir];
                    values.push_back(cells[py * W + px]);
                }
                check(r, x, y, values);
                ++rings;
            }
        }
    }
    return rings;
}

// The ring count by words of rows against the ring table's points one by one, on random cells
// (every mix of the paper and weak bits with the others) around every centre whose ring lies
// inside the level.
TEST(Laying, RingCountByRowsMatchesTheRingPoints)
{
    constexpr int W = kRingLevelW;
    std::uint32_t seed = 88675123u;
    int rings = 0;
    for (int run = 0; run < 50; ++run) {
        unsigned char cells[W * W];
        for (unsigned char& c : cells) {
            zftest::XorShift32(seed);
            c = static_cast<unsigned char>(seed >> (run % 3 == 0 ? 24 : 8));
        }
        rings += ForEachInnerRing(cells, [&](int r, int x, int y, const std::vector<int>& v) {
            const auto want =
                std::count_if(v.begin(), v.end(), [](int c) { return (c & (1 | 64)) == 0; });
            EXPECT_EQ(LaRingMissing(cells + y * W + x, W, r), want)
                << run << " r " << r << " at " << x << "," << y;
        });
    }
    EXPECT_EQ(rings, 50 * (25 + 9 + 1));
}

// The range of a ring and its centre by rows against the ring table's points one by one, on
// random bytes, bytes of one or two values and the extremes.
TEST(Laying, RingRangeByRowsMatchesTheRingPoints)
{
    constexpr int W = kRingLevelW;
    std::uint32_t seed = 521288629u;
    int rings = 0;
    for (int run = 0; run < 60; ++run) {
        unsigned char cells[W * W];
        for (unsigned char& c : cells) {
            zftest::XorShift32(seed);
            const int kind = run % 4;
            c = static_cast<unsigned char>(kind == 0   ? seed >> 24
                                           : kind == 1 ? ((seed >> 20) & 1) * 255
                                           : kind == 2 ? 100 + ((seed >> 13) & 1)
                                                       : seed >> 5);
        }
        rings += ForEachInnerRing(cells, [&](int r, int x, int y, const std::vector<int>& v) {
            const int centre = cells[y * W + x];
            const int lo = std::min(centre, *std::min_element(v.begin(), v.end()));
            const int hi = std::max(centre, *std::max_element(v.begin(), v.end()));
            int gotLo = -1;
            int gotHi = -1;
            LaRingRange(cells + y * W + x, W, r, gotLo, gotHi);
            EXPECT_EQ(gotLo, lo) << run << " r " << r << " at " << x << "," << y;
            EXPECT_EQ(gotHi, hi) << run << " r " << r << " at " << x << "," << y;
        });
    }
    EXPECT_EQ(rings, 60 * (25 + 9 + 1));
}

INSTANTIATE_TEST_SUITE_P(Laying, LayingArea, ::testing::ValuesIn(kAreas),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
