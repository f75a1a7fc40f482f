// Stage 14 on a grating of known period: the strongest channel is the period's, the border and
// singular blocks write no energies of their own, and the coarser levels are 2 x 2 means.

#include "extraction/engine/Codex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

using namespace wizard73;

constexpr int kSide = 128;

// Vertical ridges of period `period` in layer 1 and the level-1 flow maps of stages 10 to 13
// (flow 90 degrees, straight), with singular class `cls` everywhere.
std::unique_ptr<Codex> Ridges(int period, int cls)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(kSide, kSide);
    e->NewDoc();
    e->m_stage = 13;
    unsigned char* g = e->GetLay(1, 0);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            g[y * kSide + x] = static_cast<unsigned char>(
                std::lround(128 + 90 * std::cos(2 * 3.14159265358979 * x / period)));
        }
    }
    const std::size_t n1 = e->m_level[1].size;
    std::memset(e->GetLay(36, 1), 90, n1);
    std::memset(e->GetLay(48, 1), 0, n1);
    std::memset(e->GetLay(49, 1), 0, n1);
    std::memset(e->GetLay(129, 1), cls, n1);
    std::memset(e->GetLay(49, 3), 0, e->m_level[3].size);
    return e;
}

TEST(Furiew, StrongestChannelIsThePeriodsAndLevelsAreMeans)
{
    for (int period : {6, 9, 14}) {
        SCOPED_TRACE(period);
        auto e = Ridges(period, 0);
        e->Furiew(1);
        const int w1 = e->m_level[1].width;
        const int at = 32 + 32 * w1;
        int best = 0;
        for (int k = 1; k < 14; ++k) {
            best = e->GetLay(64 + k, 1)[at] > e->GetLay(64 + best, 1)[at] ? k : best;
        }
        EXPECT_EQ(best + 4, period);
        // Level 2 is the rounded mean of its 2 x 2 level-1 block.
        const int w2 = e->m_level[2].width;
        for (int k = 0; k < 14; ++k) {
            const unsigned char* f = e->GetLay(64 + k, 1);
            const int sum = f[at] + f[at + 1] + f[at + w1] + f[at + w1 + 1];
            EXPECT_EQ(e->GetLay(64 + k, 2)[16 + 16 * w2], (sum + 2) >> 2) << k;
        }
        // The two outermost level-1 rows lie in the border and receive no spread across
        // vertical ridges (the spread runs along the rows).
        for (int k = 0; k < 14; ++k) {
            EXPECT_EQ(e->GetLay(64 + k, 1)[32], 0) << k;
        }
        EXPECT_EQ(e->GetKey(240, 0), -1);
        EXPECT_EQ(e->GetKey(242, 0), -1);
    }
}

TEST(Furiew, SingularBlocksWriteNoEnergies)
{
    auto e = Ridges(9, 2);
    e->Furiew(1);
    for (int level = 1; level <= 3; ++level) {
        for (int k = 0; k < 14; ++k) {
            const unsigned char* c = e->GetLay(64 + k, level);
            for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
                ASSERT_EQ(c[i], 0) << level << " " << k;
            }
        }
    }
}

} // namespace
