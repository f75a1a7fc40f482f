// Stage 19 on hand-drawn binary ridge images: straight stripes thin to lines that end only at
// the stripe ends, a fork keeps one branch point, a ring has no ending, short gaps along a ridge
// are closed and long ones are not, and endings close to the background get edge code 8.

#include "extraction/engine/Codex.h"
#include "tests/extraction/engine/ridge_fixture.h"
#include "tests/support/digest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using zftest::Ridges;

// The skeleton of rows y0..y1 as text, for failure messages.
std::string Picture(const Ridges& r, int y0, int y1)
{
    std::string s;
    for (int y = y0; y <= y1; ++y) {
        for (int x = 0; x < r.w; ++x) {
            const int c = r.Code(x, y);
            s += c == 7     ? '#'
                 : c == 1   ? 'E'
                 : c == 0   ? 'B'
                 : c < 8    ? '0' + c
                 : c == 255 ? ' '
                            : '.';
        }
        s += '\n';
    }
    return s;
}

TEST(Skelet, StripesThinToLinesEndingAtTheirEnds)
{
    Ridges r(96, 64);
    for (int y = 12; y < 56; y += 8) {
        r.Line(16, y, 79, y);
    }
    r.Load().Skelet(-1);
    SCOPED_TRACE(Picture(r, 8, 58));
    EXPECT_EQ(r.Count(1), 12);
    EXPECT_EQ(r.Count(0), 0);
    for (int y = 12; y < 56; y += 8) {
        int body = 0;
        for (int yy = y - 1; yy <= y + 1; ++yy) {
            for (int x = 16; x <= 79; ++x) {
                body += r.Code(x, yy) == 7 || r.Code(x, yy) == 1 ? 1 : 0;
            }
        }
        EXPECT_GE(body, 60) << "stripe at row " << y;
    }
}

TEST(Skelet, ForkKeepsOneBranchPointAndRingHasNoEnding)
{
    Ridges fork(96, 64);
    fork.Line(16, 32, 48, 32);
    fork.Line(48, 32, 80, 18);
    fork.Line(48, 32, 80, 46);
    fork.Load().Skelet(-1);
    SCOPED_TRACE(Picture(fork, 14, 50));
    EXPECT_EQ(fork.Count(0), 1);
    EXPECT_EQ(fork.Count(1), 3);

    Ridges ring(96, 64);
    for (int a = 0; a < 360; a += 2) {
        const double t = a * 3.14159265358979 / 180.0;
        ring.Dot(48 + static_cast<int>(std::lround(16 * std::cos(t))),
                 32 + static_cast<int>(std::lround(16 * std::sin(t))), 3);
    }
    ring.Load().Skelet(-1);
    SCOPED_TRACE(Picture(ring, 12, 52));
    EXPECT_EQ(ring.Count(0), 0);
    EXPECT_EQ(ring.Count(1), 0);
    EXPECT_GT(ring.Count(7), 70);
}

// A crossing whose centre has four arms is split into two ridges that no longer touch: no
// branch point is left and each ridge keeps its two endings.
TEST(Skelet, CrossingIsSplitIntoTwoRidges)
{
    Ridges r(96, 64);
    r.Line(24, 8, 72, 56, 1);
    r.Line(24, 56, 72, 8, 1);
    r.Load(8, 0).Skelet(-1);
    SCOPED_TRACE(Picture(r, 10, 54));
    EXPECT_EQ(r.Count(0), 0);
    EXPECT_EQ(r.Count(1), 4);
}

// A gap of at most one period plus one along the ridge is bridged; a longer one is not, and
// neither is a gap between endings of ridges that pass each other side by side.
TEST(Skelet, GapsAlongARidgeAreClosedUpToOnePeriod)
{
    struct Case {
        int gap;
        int endings;
    };
    for (const Case c : {Case{4, 2}, Case{8, 2}, Case{14, 4}, Case{24, 4}}) {
        SCOPED_TRACE(c.gap);
        Ridges r(96, 64);
        r.Line(12, 32, 40, 32);
        r.Line(41 + c.gap, 32, 84, 32);
        r.Load(8, 0).Skelet(-1);
        SCOPED_TRACE(Picture(r, 28, 36));
        EXPECT_EQ(r.Count(1), c.endings);
        EXPECT_EQ(r.Count(0), 0);
    }
    Ridges side(96, 64);
    side.Line(12, 28, 48, 28);
    side.Line(52, 36, 84, 36);
    side.Load(8, 0).Skelet(-1);
    SCOPED_TRACE(Picture(side, 24, 40));
    EXPECT_EQ(side.Count(1), 4);
}

// Edge codes per level-1 cell: 8 for an ending within 0.7 periods of the background, 2 for one
// far inside; cells holding skeleton are marked in 162.
TEST(Skelet, EdgeCodesAndSkeletonCells)
{
    Ridges r(96, 64);
    r.Line(3, 32, 60, 32);
    wizard73::Codex& e = r.Load(8, 0);
    e.Skelet(-1);
    SCOPED_TRACE(Picture(r, 30, 34));
    const int w1 = e.m_level[1].width;
    const unsigned char* edge = e.GetLay(164, 1);
    const unsigned char* marks = e.GetLay(162, 1);
    int ends[2][2] = {};
    int n = 0;
    for (int x = 0; x < r.w; ++x) {
        for (int y = 30; y <= 34; ++y) {
            if (r.Code(x, y) == 1 && n < 2) {
                ends[n][0] = x;
                ends[n++][1] = y;
            }
        }
    }
    ASSERT_EQ(n, 2);
    EXPECT_EQ(edge[(ends[0][1] / 2) * w1 + ends[0][0] / 2], 8);
    EXPECT_EQ(edge[(ends[1][1] / 2) * w1 + ends[1][0] / 2], 2);
    EXPECT_EQ(edge[16 * w1 + 15], 0); // a body cell
    EXPECT_EQ(marks[16 * w1 + 15], 255);
    EXPECT_EQ(marks[8 * w1 + 15], 0);
}

// Odd sides give the last cell column and row shifted cells that share pixels with their
// neighbours. Ridges, endings, a fork and a crossing reaching into them thin, are repaired and
// coded to the pinned skeleton, cell classes, edge codes and skeleton-cell map.
TEST(Skelet, OddSidesWithShiftedCellsKeepTheirSkeleton)
{
    Ridges r(97, 65);
    r.Line(10, 12, 96, 12);
    r.Line(10, 22, 40, 22);
    r.Line(46, 22, 96, 22);
    r.Line(20, 34, 44, 34);
    r.Line(44, 34, 96, 26);
    r.Line(44, 34, 96, 46);
    r.Line(12, 40, 36, 64, 1);
    r.Line(12, 64, 36, 40, 1);
    r.Line(60, 52, 60, 64);
    wizard73::Codex& e = r.Load(8, 0);
    e.Skelet(-1);
    SCOPED_TRACE(Picture(r, 0, 64));
    std::vector<unsigned char> bytes;
    for (int y = 0; y < r.h; ++y) {
        for (int x = 0; x < r.w; ++x) {
            bytes.push_back(static_cast<unsigned char>(r.Code(x, y)));
        }
    }
    const std::size_t n1 = e.m_level[1].size;
    for (const int id : {161, 164, 162}) {
        const unsigned char* p = e.GetLay(id, 1);
        bytes.insert(bytes.end(), p, p + n1);
    }
    EXPECT_EQ(zftest::Fnv1a64(bytes.data(), bytes.size()), 0x74b4569a0e209fffull);
    zftest::RecordDigest("Skelet.OddSides/codes", bytes);
}

} // namespace

// The word-parallel class reading and finished marking against the per-cell rule, on rows of
// every byte value (the classes 2, 3, 8, 9 and their neighbours among them), at widths and
// starts that leave partial groups of eight at either end.
TEST(Skelet, ClassBitsAndDoneMarksMatchTheCellRule)
{
    std::vector<unsigned char> row(160);
    std::uint32_t seed = 12345;
    for (int round = 0; round < 64; ++round) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            // Half the rows cycle through every value, the others favour the thinning classes.
            const unsigned v = round % 2 == 0 ? static_cast<unsigned>(i * 7 + round) & 255u
                                              : "\x02\x03\x08\x09\x12\x0a\x00\x01"[seed >> 29];
            row[i] = static_cast<unsigned char>(v);
        }
        for (const int x0 : {0, 1, 5, 8, 63, 64, 90}) {
            for (int n = 0; n <= 64 && x0 + n <= static_cast<int>(row.size()); ++n) {
                std::uint64_t active = ~std::uint64_t{0};
                std::uint64_t thinnable = ~std::uint64_t{0};
                wizard73::SkClassBits(row.data(), x0, x0 + n, &active, &thinnable);
                std::uint64_t wantActive = 0;
                std::uint64_t wantThinnable = 0;
                for (int k = 0; k < n; ++k) {
                    const int c = row[static_cast<std::size_t>(x0 + k)];
                    const int even = c & ~1;
                    wantActive |= std::uint64_t{c == 2 || c == 8 ? 1u : 0u} << k;
                    wantThinnable |= std::uint64_t{even == 2 || even == 8 ? 1u : 0u} << k;
                }
                ASSERT_EQ(active, wantActive) << "round " << round << " x0 " << x0 << " n " << n;
                ASSERT_EQ(thinnable, wantThinnable) << "round " << round << " x0 " << x0;
            }
        }
        for (const int w : {0, 1, 7, 8, 9, 63, 64, 65, 160}) {
            std::vector<unsigned char> marked(row);
            wizard73::SkMarkDone(marked.data(), w);
            for (std::size_t i = 0; i < row.size(); ++i) {
                const int c = row[i];
                const bool mark = static_cast<int>(i) < w && (c & 16) == 0;
                ASSERT_EQ(marked[i], mark ? (c | 1) : c) << "round " << round << " w " << w;
            }
        }
    }
}
