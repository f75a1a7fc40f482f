// Stages 10 to 18 as a chain on synthetic gratings whose period and direction are known: the
// inputs of stages 0 to 8 are filled directly, stage 18 pulls the rest. Checks the period map,
// the smoothed period bin, the curvature of straight ridges and the binary ridge image; odd level
// sizes; and, when the shared prints are there, the full engine on real prints.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"
#include "tests/support/digest.h"
#include "tests/support/emulation.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace wizard73;

constexpr double kPi = 3.14159265358979323846;

// An engine loaded with a cosine grating (dark ridges) of period `period` pixels whose ridges
// run at `flowDeg` degrees, and with the layers that stages 2 to 8 leave for the chain: the
// smoothed image, the gradient copies of stage 7, the level-3 flow, channels and foreground.
struct Grating {
    std::unique_ptr<Codex> engine = std::make_unique<Codex>();
    int w0, h0;

    Grating(int width, int height, double period, int flowDeg, const int* map = pyr[2])
        : w0(width), h0(height)
    {
        Codex& e = *engine;
        e.Reset();
        e.SetMap(map);
        e.SetGeo(w0, h0);
        e.NewDoc();
        e.m_stage = 8;
        e.m_quick = 0;
        e.m_singular = 0;
        const double normal = (flowDeg + 90) * kPi / 180.0;
        unsigned char* grey = e.GetLay(1, 0);
        unsigned char* gdir = e.GetLay(272, 0);
        unsigned char* gmag = e.GetLay(273, 0);
        for (int k = 0; k < 4; ++k) {
            std::memset(e.GetLay(10 + k, 0), 127, e.m_level[0].size);
        }
        for (int y = 0; y < h0; ++y) {
            for (int x = 0; x < w0; ++x) {
                const double t = 2 * kPi * (x * std::cos(normal) + y * std::sin(normal)) / period;
                const std::size_t o = static_cast<std::size_t>(y) * w0 + x;
                grey[o] = static_cast<unsigned char>(std::lround(128 + 90 * std::cos(t)));
                // The gradient runs along the normal, its sign with -sin t.
                const double s = -std::sin(t);
                int dir = static_cast<int>(std::lround((flowDeg + 90) + (s < 0 ? 180 : 0)));
                dir = ((dir % 360) + 360) % 360;
                gdir[o] = static_cast<unsigned char>(dir / 2);
                gmag[o] = static_cast<unsigned char>(std::lround(60 * std::fabs(s)));
            }
        }
        const CLevel& l3 = e.m_level[3];
        const int flow = flowDeg % 180;
        std::memset(e.GetLay(32, 3), flow, l3.size);
        std::memset(e.GetLay(112, 3), 200, l3.size);
        std::memset(e.GetLay(37, 3), 0, l3.size);
        std::memset(e.GetLay(128, 3), 4, l3.size);
        for (int k = 0; k < 4; ++k) {
            for (int id : {38 + k, 256 + k}) {
                std::memset(e.GetLay(id, 3), flow, l3.size);
            }
            for (int id : {119 + k, 261 + k}) {
                std::memset(e.GetLay(id, 3), k == 0 ? 200 : 60, l3.size);
            }
        }
        // The response histogram that stage 8 leaves in Ran.
        e.m_rank.RanIni(0);
        e.m_rank.Ran[200] = static_cast<int>(l3.size);
    }

    // Mean of layer id at level lv over the pixels at least `margin` pixels from the edges.
    double InnerMean(int id, int lv, int margin) const
    {
        const CLevel& l = engine->m_level[lv];
        const unsigned char* p = engine->GetLay(id, lv);
        double sum = 0;
        int n = 0;
        for (int y = margin; y < l.height - margin; ++y) {
            for (int x = margin; x < l.width - margin; ++x) {
                sum += p[y * l.width + x];
                ++n;
            }
        }
        return n == 0 ? 0 : sum / n;
    }
    // Share (percent) of the pixels at least `margin` from the edges, away from the grey
    // mid-level, whose binary value agrees with the grating: ridge (3) on the dark half.
    int StripeAgreement(int margin) const
    {
        const unsigned char* b4 = engine->GetLay(4, 0);
        const unsigned char* grey = engine->GetLay(1, 0);
        int agree = 0;
        int total = 0;
        for (int y = margin; y < h0 - margin; ++y) {
            for (int x = margin; x < w0 - margin; ++x) {
                const std::size_t o = static_cast<std::size_t>(y) * w0 + x;
                if (grey[o] > 108 && grey[o] < 148) {
                    continue; // near the mid-level the side is a matter of rounding
                }
                ++total;
                agree += (b4[o] == 3) == (grey[o] < 128) ? 1 : 0;
            }
        }
        return total == 0 ? 0 : 100 * agree / total;
    }
};

// Stage 18 alone on level-1 inputs filled directly: foreground flags, period code and grey.
std::unique_ptr<Codex> FilterInputs(int foreground, int code, int grey)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(128, 128);
    e->NewDoc();
    e->m_stage = 17;
    const std::size_t n1 = e->m_level[1].size;
    std::memset(e->GetLay(161, 1), 0, n1);
    std::memset(e->GetLay(128, 1), foreground, n1);
    std::memset(e->GetLay(129, 1), 0, n1);
    std::memset(e->GetLay(145, 1), 200, n1);
    std::memset(e->GetLay(56, 1), code, n1);
    std::memset(e->GetLay(36, 1), 0, n1);
    std::memset(e->GetLay(48, 1), 0, n1);
    std::memset(e->GetLay(49, 1), 0, n1);
    const std::size_t n0 = e->m_level[0].size;
    unsigned char* g = e->GetLay(1, 0);
    for (std::size_t i = 0; i < n0; ++i) {
        g[i] = static_cast<unsigned char>(grey < 0 ? (i * 37) % 251 : grey);
    }
    for (int id : {4, 5, 6, 7}) {
        std::memset(e->GetLay(id, 0), id < 6 ? 255 : 127, n0);
    }
    return e;
}

// The sixteen-byte reliability above neutral against the byte-by-byte twin: every byte value
// around neutral, lengths around the sixteen-byte blocks, the largest in the head or the tail,
// and nothing written past the end.
TEST(Filter, ReliabilityAboveNeutralMatchesTheByteTwin)
{
    std::uint32_t seed = 362436069u;
    for (int n = 0; n <= 50; ++n) {
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(std::to_string(n) + " " + std::to_string(kind));
            std::vector<unsigned char> rel(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                zftest::XorShift32(seed);
                rel[static_cast<std::size_t>(i)] =
                    static_cast<unsigned char>(kind == 0   ? seed & 255
                                               : kind == 1 ? 120 + (seed & 15)
                                                           : (i == n - 1 ? 255 : 0));
            }
            std::vector<unsigned char> fast(static_cast<std::size_t>(n) + 1, 0xA5);
            std::vector<unsigned char> twin(fast);
            const int a = FiAbove(rel.data(), static_cast<std::size_t>(n), fast.data());
            const int b = FiAboveScalar(rel.data(), static_cast<std::size_t>(n), twin.data());
            ASSERT_EQ(a, b);
            ASSERT_EQ(fast, twin);
            ASSERT_EQ(fast.back(), 0xA5);
        }
    }
}

// The sixteen-block classes against the block-by-block twin: random flag bytes (every
// foreground and singular bit pattern), with and without singular classes, every start and end
// of a 40-block row, and nothing written outside [x0, x1).
TEST(Filter, ClassRowMatchesTheBlockTwin)
{
    constexpr int W = 40;
    std::uint32_t seed = 521288629u;
    unsigned char fg[W];
    unsigned char sing[W];
    for (int x = 0; x < W; ++x) {
        fg[x] = static_cast<unsigned char>(zftest::XorShift32(seed) >> 5);
        sing[x] = static_cast<unsigned char>(zftest::XorShift32(seed) >> 7);
    }
    int rows = 0;
    for (const bool singular : {false, true}) {
        for (int x0 = 0; x0 < 10; ++x0) {
            for (int x1 = x0; x1 <= W; ++x1) {
                unsigned char fast[W];
                unsigned char twin[W];
                std::memset(fast, 0xA5, sizeof fast);
                std::memset(twin, 0xA5, sizeof twin);
                FiClassRow(fg, sing, singular, x0, x1, fast);
                FiClassRowScalar(fg, sing, singular, x0, x1, twin);
                ASSERT_EQ(std::memcmp(fast, twin, sizeof fast), 0)
                    << singular << " " << x0 << " " << x1;
                ++rows;
            }
        }
    }
    EXPECT_EQ(rows, 2 * (10 * 41 - 45));
}

// The four-block smoothing along the rays against the pixel-by-pixel twin, and the twin against
// the weighted rank mean taken by a sort: random, extreme (all 0, all 255) and checkered images,
// rays with steps in every direction, counts around the groups of four, and nothing written
// outside the blocks.
TEST(Filter, SmoothedBlocksOfFourMatchThePixelTwin)
{
    constexpr int W = 24;
    constexpr int H = 20;
    constexpr int kBlocks = 11;
    std::uint32_t seed = 88675123u;
    auto next = [&seed] { return zftest::XorShift32(seed); };
    // Rays of four steps within four pixels, one pair per block; the blocks tile the inside.
    SStep rays[2 * kBlocks][5] = {};
    const SStep* ray1[kBlocks];
    const SStep* ray2[kBlocks];
    std::ptrdiff_t at[kBlocks];
    for (int j = 0; j < kBlocks; ++j) {
        for (int r = 0; r < 2; ++r) {
            for (int i = 0; i < 4; ++i) {
                SStep& st = rays[2 * j + r][i];
                st.x = static_cast<int>(next() % 9) - 4;
                st.y = static_cast<int>(next() % 9) - 4;
                st.off = st.y * W + st.x;
            }
        }
        ray1[j] = rays[2 * j];
        ray2[j] = rays[2 * j + 1];
        at[j] = static_cast<std::ptrdiff_t>(4 + 2 * (j / 4) * 2) * W + 4 + 2 * (j % 4) * 2;
    }
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        unsigned char img[W * H];
        for (int i = 0; i < W * H; ++i) {
            const bool odd = (i % W + i / W) % 2 != 0;
            img[i] = static_cast<unsigned char>(kind == 0   ? next() >> 24
                                                : kind == 1 ? 0
                                                : kind == 2 ? 255
                                                            : (odd ? 255 : 0));
        }
        for (int count = 0; count <= kBlocks; ++count) {
            unsigned char fast[W * H];
            unsigned char twin[W * H];
            std::memset(fast, 0xA5, sizeof fast);
            std::memset(twin, 0xA5, sizeof twin);
            FiSmoothQuads(img, W, at, ray1, ray2, count, fast);
            FiSmoothQuadsScalar(img, W, at, ray1, ray2, count, twin);
            ASSERT_EQ(std::memcmp(fast, twin, sizeof fast), 0) << count;
            std::vector<bool> inside(W * H, false);
            for (int j = 0; j < count; ++j) {
                for (const std::ptrdiff_t p : {at[j], at[j] + 1, at[j] + W, at[j] + W + 1}) {
                    inside[static_cast<std::size_t>(p)] = true;
                    int v[9] = {img[p]};
                    for (int i = 0; i < 4; ++i) {
                        v[2 * i + 1] = img[p + ray1[j][i].off];
                        v[2 * i + 2] = img[p + ray2[j][i].off];
                    }
                    std::sort(v, v + 9);
                    const int mean = (v[0] + v[1] + 2 * (v[2] + v[3] + v[5] + v[6]) + 4 * v[4] +
                                      v[7] + v[8] + 8) >>
                                     4;
                    ASSERT_EQ(twin[p], mean) << count << " " << j;
                }
            }
            for (int i = 0; i < W * H; ++i) {
                if (!inside[static_cast<std::size_t>(i)]) {
                    ASSERT_EQ(twin[i], 0xA5) << "written outside " << count << " " << i;
                }
            }
        }
    }
}

TEST(Filter, WithoutForegroundEveryBlockIsBackground)
{
    auto e = FilterInputs(0, 9, -1);
    e->Filter(1);
    for (std::size_t i = 0; i < e->m_level[0].size; ++i) {
        ASSERT_EQ(e->GetLay(4, 0)[i], 255);
        ASSERT_EQ(e->GetLay(5, 0)[i], 255);
        ASSERT_EQ(e->GetLay(6, 0)[i], 127);
        ASSERT_EQ(e->GetLay(7, 0)[i], 127);
    }
    for (std::size_t i = 0; i < e->m_level[1].size; ++i) {
        ASSERT_EQ(e->GetLay(161, 1)[i], 16);
    }
    EXPECT_EQ(e->GetKey(240, 1), -1);
}

// A period too short for the walk across the ridges leaves no window: the difference is the
// pixel itself, never negative, so every foreground pixel is valley; a flat image has no ridge
// either (a pixel equal to its mean is valley).
TEST(Filter, NoWindowOrFlatImageGivesValleys)
{
    const int cases[][2] = {{0, -1}, {9, 100}};
    int runs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        auto e = FilterInputs(32, c[0], c[1]);
        e->Filter(1);
        const CLevel& l0 = e->m_level[0];
        for (int y = 2; y < l0.height - 2; ++y) {
            for (int x = 2; x < l0.width - 2; ++x) {
                ASSERT_EQ(e->GetLay(4, 0)[x + y * l0.width], 128) << x << "," << y;
            }
        }
        ++runs;
    }
    EXPECT_EQ(runs, 2);
}

struct PeriodCase {
    int period;
    int flowDeg;
};

void PrintTo(const PeriodCase& c, std::ostream* os)
{
    *os << "period " << c.period << " flow " << c.flowDeg;
}

class GratingChain : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(GratingChain, PeriodMapBinaryStripesAndStraightFlow)
{
    const PeriodCase c = GetParam();
    Grating g(256, 256, c.period, c.flowDeg);
    Codex& e = *g.engine;
    e.Filter(1);

    // Period code and bin x 8 (the record's density is the mean of the latter).
    const bool axis = c.flowDeg % 90 == 0;
    EXPECT_NEAR(g.InnerMean(56, 1, 16), c.period, axis ? 0.6 : 1.05);
    EXPECT_NEAR(g.InnerMean(57, 1, 16), 8.0 * c.period - 32, axis ? 5.0 : 8.5);
    // Straight ridges: no curvature inside, flow along the ridges.
    EXPECT_LT(g.InnerMean(49, 3, 2), 1.0);
    EXPECT_LT(g.InnerMean(49, 1, 4), 1.0);
    const CLevel& l1 = e.m_level[1];
    const unsigned char* f36 = e.GetLay(36, 1);
    int far = 0;
    for (int y = 8; y < l1.height - 8; ++y) {
        for (int x = 8; x < l1.width - 8; ++x) {
            far += CWork::Dist(f36[y * l1.width + x], c.flowDeg) > 5 ? 1 : 0;
        }
    }
    EXPECT_EQ(far, 0);

    // Binary image: ridges (3) on the dark half of the grating, valleys (128) on the bright one,
    // both layers alike, inside the finger area.
    const unsigned char* b4 = e.GetLay(4, 0);
    const unsigned char* b5 = e.GetLay(5, 0);
    for (int y = 32; y < g.h0 - 32; ++y) {
        for (int x = 32; x < g.w0 - 32; ++x) {
            const std::size_t o = static_cast<std::size_t>(y) * g.w0 + x;
            ASSERT_EQ(b4[o], b5[o]);
            ASSERT_TRUE(b4[o] == 3 || b4[o] == 128) << x << "," << y << " " << int(b4[o]);
        }
    }
    EXPECT_GE(g.StripeAgreement(32), 97);
    zftest::RecordDigest("binary", b4, e.m_level[0].size);
}

// Axis directions give the period code exactly; oblique ones may land one code off, since the
// profile across the ridges is binned by the rounded length of its digital steps.
const PeriodCase kPeriods[] = {
    {5, 0},   {6, 90},  {7, 45}, {8, 30},  {9, 0},   {10, 135},
    {11, 90}, {12, 60}, {13, 0}, {14, 45}, {15, 90},
};

INSTANTIATE_TEST_SUITE_P(Periods, GratingChain, ::testing::ValuesIn(kPeriods), [](const auto& p) {
    return "p" + std::to_string(p.param.period) + "_flow" + std::to_string(p.param.flowDeg);
});

// Widths and heights whose quarter is odd: the level-3 blocks and the copies down the pyramid
// are clipped at the right and bottom edges (the sanitizer build checks every access).
TEST(GratingChainSizes, OddQuartersRunCleanAndKeepTheStripes)
{
    const int sizes[][2] = {{260, 196}, {68, 76}, {100, 132}};
    int runs = 0;
    for (const auto& sz : sizes) {
        SCOPED_TRACE(std::to_string(sz[0]) + " x " + std::to_string(sz[1]));
        Grating g(sz[0], sz[1], 9, 0);
        g.engine->Filter(1);
        EXPECT_GE(g.StripeAgreement(24), 97);
        EXPECT_NEAR(g.InnerMean(56, 1, 8), 9, 0.6);
        ++runs;
    }
    EXPECT_EQ(runs, 3);
}

// The shared prints run the whole engine (stages 2 to 18 pulled by stage 18) without a thrown
// code; the binary image holds only its three values, and inside the finger area about half of
// the pixels are ridge.
TEST(SharedPrints, RunThroughBinarisation)
{
    const std::string first = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (first.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    const int fingers = zftest::InputSize(10, 2);
    int images = 0;
    for (int f = 101; f < 101 + fingers; ++f) {
        for (int k = 1; k <= 8; ++k) {
            const std::string name = std::to_string(f) + "_" + std::to_string(k) + ".pgm";
            SCOPED_TRACE(name);
            auto l = zftest::LoadShared("fvc2002_db1_b/" + name);
            ASSERT_EQ(l.code, 0);
            Codex& e = *l.engine;
            try {
                e.Pickup(-1);
                e.Xfocus(1);
                e.Filter(1);
            } catch (int code) {
                FAIL() << "engine threw " << code;
            }
            const std::vector<unsigned char> b4 = zftest::LayerCopy(e, 4, 0);
            ASSERT_EQ(b4, zftest::LayerCopy(e, 5, 0));
            zftest::RecordDigest(name + "/binary", b4);
            int ridge = 0;
            int valley = 0;
            for (unsigned char v : b4) {
                ASSERT_TRUE(v == 3 || v == 128 || v == 255) << int(v);
                ridge += v == 3 ? 1 : 0;
                valley += v == 128 ? 1 : 0;
            }
            ASSERT_GT(ridge + valley, static_cast<int>(b4.size()) / 10);
            EXPECT_GT(ridge, (ridge + valley) * 3 / 10);
            EXPECT_LT(ridge, (ridge + valley) * 7 / 10);
            // Period codes lie in the bins' range; inside the finger area they average near the
            // 8 to 11 pixels of a 500 ppi print.
            const std::vector<unsigned char> codes = zftest::LayerCopy(e, 56, 1);
            const std::vector<unsigned char> flags = zftest::LayerCopy(e, 128, 1);
            double sum = 0;
            int cells = 0;
            for (std::size_t i = 0; i < codes.size(); ++i) {
                ASSERT_TRUE(codes[i] >= 4 && codes[i] <= 17) << int(codes[i]);
                if ((flags[i] & 32) != 0) {
                    sum += codes[i];
                    ++cells;
                }
            }
            ASSERT_GT(cells, 0);
            for (unsigned char c : zftest::LayerCopy(e, 118, 3)) {
                ASSERT_LE(c, 90); // clarity stays in its range
            }
            EXPECT_GT(sum / cells, 7.0);
            EXPECT_LT(sum / cells, 12.0);
            ++images;
        }
    }
    EXPECT_EQ(images, 8 * fingers);
}

// The smallest images the loader takes (sides of 64 pixels, level 3 of 8 x 8) run through.
TEST(GratingChainSizes, SmallestImagesRunThrough)
{
    const int sizes[][2] = {{64, 64}, {68, 64}, {64, 132}};
    int runs = 0;
    for (const auto& sz : sizes) {
        SCOPED_TRACE(std::to_string(sz[0]) + " x " + std::to_string(sz[1]));
        Grating g(sz[0], sz[1], 8, 45);
        g.engine->Filter(1);
        const unsigned char* b4 = g.engine->GetLay(4, 0);
        for (std::size_t i = 0; i < g.engine->m_level[0].size; ++i) {
            ASSERT_TRUE(b4[i] == 3 || b4[i] == 128 || b4[i] == 255) << i;
        }
        ++runs;
    }
    EXPECT_EQ(runs, 3);
}

// A blank image: no gradient is counted, so the contrast divisor is at its largest (257) and the
// gain index is bounded to its table; no energies, no ridge.
TEST(GratingChainBlank, BlankImageHasNoRidges)
{
    Grating g(128, 128, 9, 0);
    std::memset(g.engine->GetLay(1, 0), 128, g.engine->m_level[0].size);
    g.engine->Furiew(1);
    EXPECT_EQ(g.engine->m_fuDivisor, 257);
    g.engine->Filter(1);
    const unsigned char* b4 = g.engine->GetLay(4, 0);
    for (std::size_t i = 0; i < g.engine->m_level[0].size; ++i) {
        ASSERT_NE(b4[i], 3) << i;
    }
}

// The binarisation builds its curves after pulling the stages before it (which use the same
// rank tables): pulled or run beforehand, the result is the same.
TEST(GratingChainOrder, PullingTheEarlierStagesDoesNotChangeTheBinaryImage)
{
    Grating pulled(128, 128, 8, 30);
    pulled.engine->Filter(1);
    Grating stepped(128, 128, 8, 30);
    stepped.engine->Laying(1);
    stepped.engine->Filter(1);
    const std::size_t n = pulled.engine->m_level[0].size;
    EXPECT_EQ(std::memcmp(pulled.engine->GetLay(4, 0), stepped.engine->GetLay(4, 0), n), 0);
    EXPECT_EQ(std::memcmp(pulled.engine->GetLay(7, 0), stepped.engine->GetLay(7, 0), n), 0);
}

// Levels outside 1..3 are brought into that range: the energies are measured at level 1 when
// level 0 is asked (its ridge lines would leave the image inside the copied border).
TEST(GratingChainLevels, EnergiesAndMapsStayOnLevelsOneToThree)
{
    Grating g(128, 128, 10, 0);
    g.engine->Furiew(0);
    EXPECT_EQ(g.engine->GetKey(64, 0), -1);
    EXPECT_NE(g.engine->GetKey(64, 1), -1);
    g.engine->Expert(-3);
    EXPECT_NE(g.engine->GetKey(57, 1), -1);
    EXPECT_EQ(g.engine->GetKey(57, 0), -1);
}

// A level without a free slot for a layer the stages need ends the run with WZ_NO_LAYER.
TEST(GratingChainSlots, MissingSlotThrowsTheLayerCode)
{
    static const int tight[5] = {14, 24, 24, 20, 0}; // level 3: exactly the inputs
    Grating g(128, 128, 10, 0, tight);
    int code = 0;
    try {
        g.engine->Filter(1);
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, WZ_NO_LAYER);
    EXPECT_EQ(g.engine->m_error, WZ_NO_LAYER);
}

// The quick variants: codes are the same periods (bin k is code k + 2), the bin x 8 counts from
// code 2, and the binary image keeps the stripes.
TEST(GratingChainQuick, QuickModeKeepsPeriodAndStripes)
{
    Grating g(192, 192, 9, 90);
    g.engine->m_quick = 1;
    g.engine->Filter(1);
    EXPECT_NEAR(g.InnerMean(56, 1, 16), 9, 0.6);
    EXPECT_NEAR(g.InnerMean(57, 1, 16), 8.0 * (9 - 2), 5.0);
    EXPECT_GE(g.StripeAgreement(32), 95);
}

// Two runs on the same print (a synthetic loop when the shared prints are absent) give the same
// binary image, period map and reliability.
TEST(SharedPrints, TwoRunsGiveTheSameMaps)
{
    std::vector<unsigned char> img;
    int w = 0;
    int h = 0;
    const std::string path = zftest::SharedData("fingerprints/fvc2002_db1_b/103_2.pgm");
    if (path.empty() || !zftest::ReadPgm(path, img, w, h)) {
        w = h = 288;
        img = zftest::FlowImage(w, h, {{144, 120, 1}}, 90.0, 9.0, 5);
    }
    std::vector<unsigned char> maps[2];
    for (auto& m : maps) {
        auto l = zftest::LoadInto(img, w, h);
        ASSERT_EQ(l.code, 0);
        l.engine->Pickup(-1);
        l.engine->Xfocus(1);
        l.engine->Filter(1);
        for (const auto& [id, level] : {std::pair{4, 0}, {56, 1}, {145, 1}, {128, 1}, {49, 1}}) {
            const std::vector<unsigned char> c = zftest::LayerCopy(*l.engine, id, level);
            ASSERT_FALSE(c.empty()) << id;
            m.insert(m.end(), c.begin(), c.end());
        }
    }
    EXPECT_EQ(maps[0], maps[1]);
}

} // namespace
