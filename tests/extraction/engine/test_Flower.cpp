// Stages 12 and 13: the channel incoherence, the filtered flow of a uniform field on every level,
// and the curvature of straight, strengthless and bent flows.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FlowMean.h"
#include "extraction/engine/HalfAngle.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

namespace {

using namespace wizard73;

// Level-3 flow `flow` (stage 11's 35) with channels all at `channel` degrees of strength
// `strength`, and level-0 gradients across the flow, as stages 7 and 8 leave them.
std::unique_ptr<Codex> FlowInputs(int flow, int channel, int strength)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(160, 128);
    e->NewDoc();
    e->m_stage = 11;
    const std::size_t n0 = e->m_level[0].size;
    const std::size_t n3 = e->m_level[3].size;
    std::memset(e->GetLay(272, 0), ((flow + 90) % 180), n0); // gradient direction / 2
    std::memset(e->GetLay(273, 0), 40, n0);
    std::memset(e->GetLay(35, 3), flow, n3);
    std::memset(e->GetLay(112, 3), 200, n3);
    std::memset(e->GetLay(129, 3), 0, n3);
    std::memset(e->GetLay(37, 3), 0, n3);
    for (int k = 0; k < 4; ++k) {
        std::memset(e->GetLay(38 + k, 3), channel, n3);
        std::memset(e->GetLay(119 + k, 3), strength, n3);
    }
    e->m_rank.RanIni(0);
    e->m_rank.Ran[150] = static_cast<int>(n3);
    return e;
}

struct IncoherenceCase {
    const char* name;
    int channel, strength;
    int expected;
};

void PrintTo(const IncoherenceCase& c, std::ostream* os)
{
    *os << c.name;
}

const IncoherenceCase kIncoherence[] = {
    {"no_strength", 120, 0, 0},
    {"along_the_flow", 30, 200, 0},
    {"across_the_flow", 120, 200, 90},
    {"forty_five_degrees_off", 75, 200, 0}, // cos 90 = 0: neither side
};

class FlowerIncoherence : public ::testing::TestWithParam<IncoherenceCase> {};

TEST_P(FlowerIncoherence, MeasuresStrengthAcrossTheFlow)
{
    const IncoherenceCase& c = GetParam();
    auto e = FlowInputs(30, c.channel, c.strength);
    e->Flower(1);
    const unsigned char* incoh = e->GetLay(117, 3);
    for (std::size_t i = 0; i < e->m_level[3].size; ++i) {
        ASSERT_EQ(incoh[i], c.expected) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Flower, FlowerIncoherence, ::testing::ValuesIn(kIncoherence),
                         [](const auto& p) { return std::string(p.param.name); });

// A uniform flow stays itself on every level, borders included (up to the rounding of the short
// vectors); the work layers are released.
TEST(Flower, UniformFlowOnEveryLevel)
{
    const int flows[] = {0, 30, 90, 150};
    int runs = 0;
    for (int flow : flows) {
        SCOPED_TRACE(flow);
        auto e = FlowInputs(flow, flow, 200);
        e->Flower(1);
        for (int level = 1; level <= 3; ++level) {
            const unsigned char* f = e->GetLay(36, level);
            for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
                ASSERT_LE(CWork::Dist(f[i], flow), 2) << level << " " << i << " " << int(f[i]);
            }
            EXPECT_EQ(e->GetKey(240, level), -1);
        }
        EXPECT_EQ(e->GetKey(272, 0), -1);
        EXPECT_EQ(e->GetKey(242, 0), -1);
        ++runs;
    }
    EXPECT_EQ(runs, 4);
}

// The quadrant table with the signs gives atan's halved direction on the whole byte range.
TEST(Flower, HalfAtanIsHalfTheDirection)
{
    for (int x = -128; x <= 128; ++x) {
        for (int y = -128; y <= 128; ++y) {
            ASSERT_EQ(HalfAtan(x, y), atan(x, y) / 2) << x << " " << y;
        }
    }
}

// The packed pair of means is each layer's own mean, for every flow angle, on random 3 x 3
// neighbourhoods and on the extremes (all 255 in one layer, 0 in the other).
TEST(Flower, PackedMeanPairIsBothMeans)
{
    std::uint32_t seed = 123456789u;
    int checks = 0;
    for (int a = 0; a < 360; ++a) {
        const FlowMeanRow& row = FlowMeanAt(a);
        for (int n = 0; n < 40; ++n) {
            unsigned char b[2][9];
            for (int i = 0; i < 9; ++i) {
                zftest::XorShift32(seed);
                b[0][i] = static_cast<unsigned char>(n == 0 ? 255 : n == 1 ? 0 : seed & 255);
                b[1][i] = static_cast<unsigned char>(n == 0 ? 0 : n == 1 ? 255 : seed >> 24);
            }
            std::uint64_t p[9];
            for (int i = 0; i < 9; ++i) {
                p[i] = FlowPack(b[0][i], b[1][i]);
            }
            const std::uint64_t m = FlowMeanPair(row, p, p + 3, p + 6, 1);
            ASSERT_EQ(m & 0xffffffffu, static_cast<std::uint64_t>(FlowMean(row, b[0] + 4, 3))) << a;
            ASSERT_EQ(m >> 32, static_cast<std::uint64_t>(FlowMean(row, b[1] + 4, 3))) << a;
            ++checks;
        }
    }
    EXPECT_EQ(checks, 360 * 40);
}

// Level-3 flow 36 and strength 112 given directly (stage 12's outputs).
std::unique_ptr<Codex> CurveInputs(int strength)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(160, 128);
    e->NewDoc();
    e->m_stage = 12;
    std::memset(e->GetLay(112, 3), strength, e->m_level[3].size);
    return e;
}

TEST(Curvat, StraightOrStrengthlessFlowHasNoCurvature)
{
    for (int strength : {0, 200}) {
        SCOPED_TRACE(strength);
        auto e = CurveInputs(strength);
        unsigned char* f = e->GetLay(36, 3);
        for (std::size_t i = 0; i < e->m_level[3].size; ++i) {
            // uniform for the strong flow, scattered for the strengthless one
            f[i] = static_cast<unsigned char>(strength != 0 ? 60 : (i * 47) % 180);
        }
        e->Curvat(1);
        for (int level = 1; level <= 3; ++level) {
            const unsigned char* c = e->GetLay(49, level);
            const unsigned char* s = e->GetLay(48, level);
            for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
                ASSERT_EQ(c[i], 0) << level << " " << i;
                ASSERT_LE(s[i], 1);
            }
        }
    }
}

// Concentric circles around the image centre: the flow turns everywhere, so the curvature is
// positive away from the centre; the finer levels' borders are 0 after the smoothing.
TEST(Curvat, CircularFlowIsCurvedAndFinerBordersAreZero)
{
    auto e = CurveInputs(200);
    const CLevel& l3 = e->m_level[3];
    unsigned char* f = e->GetLay(36, 3);
    for (int y = 0; y < l3.height; ++y) {
        for (int x = 0; x < l3.width; ++x) {
            const int d = atan(x - l3.width / 2, y - l3.height / 2);
            f[y * l3.width + x] = static_cast<unsigned char>((d + 90) % 180);
        }
    }
    e->Curvat(1);
    const unsigned char* c3 = e->GetLay(49, 3);
    EXPECT_GT(c3[(l3.height / 2) * l3.width + l3.width / 2 + 3], 10);
    const CLevel& l1 = e->m_level[1];
    const unsigned char* c1 = e->GetLay(49, 1);
    for (int x = 0; x < l1.width; ++x) {
        ASSERT_EQ(c1[x], 0);
        ASSERT_EQ(c1[(l1.height - 1) * l1.width + x], 0);
    }
    EXPECT_EQ(e->GetKey(240, 3), -1);
    EXPECT_EQ(e->GetKey(241, 1), -1);
}

} // namespace
