// The block energies shared by stages 7 and 12: the axial distance table against the engine's
// orientation distance, and the packed block scan against the sums written out pixel by pixel.

#include "extraction/engine/BlockEnergy.h"
#include "extraction/engine/Codex.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace {

using namespace wizard73;

TEST(BlockEnergy, AxialTableIsTheOrientationDistance)
{
    for (int ref = 0; ref < 360; ++ref) {
        const std::uint8_t* row = AxialFrom(ref);
        for (int u = 0; u <= 510; ++u) {
            ASSERT_EQ(row[u], CWork::Dist(u, ref)) << u << " " << ref;
        }
    }
}

std::uint32_t Next(std::uint32_t& seed)
{
    return zftest::XorShift32(seed);
}

// Random curves, layers and references (directions past 179 included), every block of a
// 19 x 13 layer (rows of eight, of eleven and shorter ones) against the sums of each pixel's two
// energies and the sorted weights, in lanes and pixel by pixel.
TEST(BlockEnergy, ScanSumsEachPixelsShares)
{
    constexpr int W = 19;
    constexpr int H = 13;
    std::uint32_t seed = 2463534242u;
    int blocks = 0;
    for (int run = 0; run < 6; ++run) {
        SCOPED_TRACE(run);
        int ran[256];
        int lor[256];
        for (int v = 0; v < 256; ++v) {
            ran[v] = run == 0 ? 255 : static_cast<int>(Next(seed) & 255);
            lor[v] = run == 0 ? 255 : static_cast<int>(Next(seed) & 255);
        }
        const int divisor = 1 + static_cast<int>(Next(seed) % 300);
        std::vector<unsigned char> gdir(W * H);
        std::vector<unsigned char> gmag(W * H);
        for (int i = 0; i < W * H; ++i) {
            gdir[i] = static_cast<unsigned char>(run == 0 ? 255 : Next(seed) & 255);
            gmag[i] = static_cast<unsigned char>(run == 0 ? 255 : Next(seed) & 255);
        }
        const BlockEnergy energy(ran, lor, divisor);
        const int gain = lor[std::min(divisor, 255)];
        for (int y0 = 0; y0 < H; y0 += 3) {
            for (int x0 = 0; x0 < W; x0 += 2) {
                const int x1 = std::min(x0 + (x0 % 4 == 0 ? 8 : 11), W);
                const int y1 = std::min(y0 + 8, H);
                const int ref = static_cast<int>(Next(seed) % 360);
                int along = 0;
                int across = 0;
                std::vector<int> weights = {0, 0, 0, 0};
                for (int y = y0; y < y1; ++y) {
                    for (int x = x0; x < x1; ++x) {
                        const int v = gmag[y * W + x];
                        const int w = (ran[std::min(256 * v / divisor, 255)] * gain) >> 8;
                        const int e = CWork::Dist(2 * gdir[y * W + x], ref);
                        along += Descale13(TabSig[90 - e] * Descale13(TabSig[90 - e] * w));
                        across += Descale13(TabSig[e] * Descale13(TabSig[e] * w));
                        weights.push_back(w);
                    }
                }
                std::sort(weights.begin(), weights.end(), std::greater<int>());
                const BlockSums s = energy.Scan(gdir.data(), gmag.data(), W, x0, x1, y0, y1, ref);
                ASSERT_EQ(s.along, along) << x0 << " " << y0;
                ASSERT_EQ(s.across, across) << x0 << " " << y0;
                ASSERT_EQ(s.top, weights[3]) << x0 << " " << y0;
                const BlockSums t =
                    energy.ScanScalar(gdir.data(), gmag.data(), W, x0, x1, y0, y1, ref);
                ASSERT_EQ(t.along, along) << x0 << " " << y0;
                ASSERT_EQ(t.across, across) << x0 << " " << y0;
                ASSERT_EQ(t.top, weights[3]) << x0 << " " << y0;
                ++blocks;
            }
        }
    }
    EXPECT_EQ(blocks, 6 * 5 * 10);
}

} // namespace
