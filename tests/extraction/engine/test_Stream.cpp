// Stage 3, orientation flow: gratings at known angles give their ridge direction on the inner
// cells, every final strength is at least the noise floor, and the outermost cells are never
// classed.

#include "extraction/engine/StreamLanes.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

struct GratingCase {
    const char* name;
    double angle; // of the grey wave; ridges run 90 degrees from it
    double period;
};

void PrintTo(const GratingCase& c, std::ostream* os)
{
    *os << c.name << ": wave " << c.angle << " deg, period " << c.period;
}

const GratingCase kGratings[] = {
    {"wave_0", 0.0, 9.0},     {"wave_30", 30.0, 9.0},   {"wave_45", 45.0, 8.0},
    {"wave_60", 60.0, 10.0},  {"wave_90", 90.0, 9.0},   {"wave_120", 120.0, 11.0},
    {"wave_150", 150.0, 9.0}, {"wave_170", 170.0, 7.0},
};

class StreamGrating : public ::testing::TestWithParam<GratingCase> {};

TEST_P(StreamGrating, OrientationFollowsTheRidgesOnTheInnerCells)
{
    const GratingCase& c = GetParam();
    constexpr int kSide = 256;
    auto l = zftest::LoadInto(zftest::Grating(kSide, kSide, c.angle, c.period, 90.0), kSide, kSide);
    ASSERT_EQ(l.code, 0);
    l.engine->Stream(-1);
    const int w = l.engine->m_level[3].width;
    const int h = l.engine->m_level[3].height;
    const auto dir = zftest::LayerCopy(*l.engine, 33, 3);
    const auto strength = zftest::LayerCopy(*l.engine, 113, 3);
    const auto cls = zftest::LayerCopy(*l.engine, 160, 3);
    const int ridge = static_cast<int>(c.angle + 90.0) % 180;
    int checked = 0;
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int i = y * w + x;
            ASSERT_GE(strength[i], 7) << "below the noise floor at " << x << "," << y;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
                EXPECT_TRUE(cls[i] == 0 || cls[i] == 128) << x << "," << y;
            }
            if (x < 3 || y < 3 || x >= w - 3 || y >= h - 3) {
                continue;
            }
            worst = std::max(worst, CWork::Dist(dir[i], ridge));
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
    EXPECT_LE(worst, 5) << "ridge direction " << ridge;
}

INSTANTIATE_TEST_SUITE_P(Stream, StreamGrating, ::testing::ValuesIn(kGratings),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Stream, QuickModeKeepsItsWorkLayersAndTheNoiseFloor)
{
    auto l = zftest::LoadInto(zftest::Grating(160, 160, 20.0, 9.0, 90.0), 160, 160);
    ASSERT_EQ(l.code, 0);
    l.engine->Lightf(-1);
    l.engine->m_quick = 1;
    l.engine->Stream(-1);
    EXPECT_NE(l.engine->GetKey(38, 3), -1);
    EXPECT_NE(l.engine->GetKey(122, 3), -1);
    for (unsigned char v : zftest::LayerCopy(*l.engine, 113, 3)) {
        ASSERT_GE(v, 3);
    }
    l.engine->m_quick = 0;
    l.engine->Stream(-1); // the normal run frees them
    EXPECT_EQ(l.engine->GetKey(38, 3), -1);
    EXPECT_NE(l.engine->GetKey(256, 3), -1); // first-pass copies stay
}

// The relaxed orientation in lanes against its one-at-a-time twin, under every cost kind: on
// random rings, and on rings of the values where a fold, a wrap or a truncated halving changes
// (0, 89, 90, 179, 180, 255, ...), where ties between sectors are common.
TEST(Stream, RelaxedOrientationInLanesMatchesItsTwin)
{
    const int sums[] = {180, 360, -180, 0, 540, -360};
    const int edges[] = {0, 1, 44, 45, 89, 90, 91, 134, 135, 179, 180, 181, 224, 225, 254, 255};
    std::uint32_t seed = 777;
    auto next = [&seed](int mod) {
        zftest::Lcg32(seed);
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(mod));
    };
    int checked = 0;
    for (int p : sums) {
        for (int round = 0; round < 20000; ++round) {
            int o[8];
            const bool edgy = round % 2 == 0;
            for (int& v : o) {
                v = edgy ? edges[next(16)] : next(256);
            }
            const int c = edgy ? edges[next(16)] : next(256);
            ASSERT_EQ(Trelax_StIndi(c, o, p), Trelax_StIndiScalar(c, o, p))
                << "p " << p << " c " << c << " o " << o[0] << " " << o[1] << " " << o[2] << " "
                << o[3] << " " << o[4] << " " << o[5] << " " << o[6] << " " << o[7];
            ++checked;
        }
    }
    EXPECT_EQ(checked, 6 * 20000);
}

// Where the stop rule ends the walks of a lockstep group, all at once, against the one walk at a
// time twin: groups of 4 and 8 walks of every length up to 64 steps, bright and dark walks mixed
// by a random pattern, on random pixels and on pixels at the marking thresholds (126, 127, 128),
// where runs of marks begin and end often; with and without the followers' pixels.
TEST(Stream, StopOfAGroupOfWalksMatchesItsTwin)
{
    const unsigned char edges[] = {0, 126, 127, 128, 255};
    std::uint32_t seed = 9001;
    auto next = [&seed](int mod) {
        zftest::Lcg32(seed);
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(mod));
    };
    for (int round = 0; round < 4000; ++round) {
        const int steps = round % 65;
        const int lanes = round % 2 == 0 ? 8 : 4;
        const bool edgy = round % 3 != 0;
        const unsigned bright = static_cast<unsigned>(next(256));
        unsigned char v[8][64] = {};
        unsigned char w[8][64] = {};
        unsigned char rowsV[64 * 8] = {};
        unsigned char rowsW[64 * 8] = {};
        for (int j = 0; j < lanes; ++j) {
            for (int k = 0; k < steps; ++k) {
                v[j][k] = edgy ? edges[next(5)] : static_cast<unsigned char>(next(256));
                w[j][k] = static_cast<unsigned char>(next(256));
                rowsV[k * lanes + j] = v[j][k];
                rowsW[k * lanes + j] = w[j][k];
            }
        }
        FlStopped got[8];
        FlStopped alone[8];
        FlStopGroup(rowsV, rowsW, lanes, steps, bright, got);
        FlStopGroup(rowsV, nullptr, lanes, steps, bright, alone);
        for (int j = 0; j < lanes; ++j) {
            const bool b = ((bright >> j) & 1) != 0;
            const FlStopped twin = FlStopScalar(v[j], w[j], steps, b);
            ASSERT_EQ(got[j].taken, twin.taken) << "round " << round << " walk " << j;
            ASSERT_EQ(got[j].v, twin.v) << "round " << round << " walk " << j;
            ASSERT_EQ(got[j].w, twin.w) << "round " << round << " walk " << j;
            const FlStopped single = FlStopScalar(v[j], nullptr, steps, b);
            ASSERT_EQ(alone[j].taken, single.taken) << "round " << round << " walk " << j;
            ASSERT_EQ(alone[j].v, 0);
            ASSERT_EQ(alone[j].w, 0);
        }
    }
}

// The strength of a lockstep walk by a multiply against the division, for every length up to 64
// steps and every value a walk of that length can have (and some past it), with the noise
// floors of both modes and a floor that reaches the cap of 255.
TEST(Stream, StrengthByAMultiplyMatchesTheDivision)
{
    for (int noise : {3, 7, 200}) {
        for (int len = 0; len <= 64; ++len) {
            const FlStrength strength(len, noise);
            const int l = len == 0 ? 1 : len;
            for (int s = 0; s <= 257 * l; ++s) {
                const int q = (s + l / 2) / l + noise;
                ASSERT_EQ(strength(s), q > 255 ? 255 : q) << "len " << len << " s " << s;
            }
        }
    }
}

// The template fit in lanes against the engine's fit for the three templates, each from its
// start over its trial count, on random rings and on rings of the values where a wrap, a fold or
// a sector boundary (c near multiples of 45 less 23) changes.
TEST(Stream, TemplateFitInLanesMatchesTheEngineFit)
{
    struct Fit {
        int tpl[8];
        int theta0;
        int trials;
    };
    const Fit fits[] = {{{0, 3, 14, 50, 90, 130, 166, 177}, 90, 180},
                        {{90, 137, 0, 43, 90, 137, 0, 43}, 358, 90},
                        {{0, 158, 135, 113, 90, 68, 45, 23}, 200, 72}};
    const int edges[] = {0, 1, 22, 23, 24, 67, 68, 89, 90, 91, 179, 180, 181, 202, 255};
    std::uint32_t seed = 4242;
    auto next = [&seed](int mod) {
        zftest::Lcg32(seed);
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(mod));
    };
    for (const Fit& f : fits) {
        for (int round = 0; round < 40000; ++round) {
            int o[8];
            const bool edgy = round % 2 == 0;
            for (int& v : o) {
                v = edgy ? edges[next(15)] : next(256);
            }
            const int c = edgy ? edges[next(15)] : next(256);
            ASSERT_EQ(FitTemplateLanes(f.tpl, f.theta0, f.trials, c, o),
                      CWork::FitTemplate(f.tpl, f.theta0, f.trials, c, o))
                << "theta0 " << f.theta0 << " c " << c << " o " << o[0] << " " << o[1] << " "
                << o[2] << " " << o[3] << " " << o[4] << " " << o[5] << " " << o[6] << " " << o[7];
        }
    }
}

// The flow measurement of one cell as plainly written: every walk is one of the engine's ridge
// walks, placed afresh. Strengths take the quick mode's noise floor, 3.
void PlainFlow(Codex& e, int x, int y, int n, int len)
{
    auto strength = [len](int s) {
        const int l = len == 0 ? 1 : len;
        const int q = (s > 0 ? (s + l / 2) / l : (s - l / 2) / l) + 3;
        return q < 0 ? 0 : q > 255 ? 255 : q;
    };
    const std::size_t i = static_cast<std::size_t>(y) * e.m_level[3].width + x;
    unsigned char* const resp = e.m_st.resp[n];
    const int w0 = e.m_level[0].width;
    const int h0 = e.m_level[0].height;
    const int cx = (x * 8 + 8 > w0 ? w0 - 8 : x * 8) + 4;
    const int cy = (y * 8 + 8 > h0 ? h0 - 8 : y * 8) + 4;
    int best = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int d1 = pass == 0 ? n : (n + 4) & 7;
        const int d2 = (d1 + 4) & 7;
        e.WalkAt(cx, cy, 0, nullptr, resp);
        e.MvLayW(d1, len / 2 + 1, 0, 0);
        e.MvLayW(d2, len, 1, 0);
        const int bx = e.m_wx, by = e.m_wy;
        e.WalkAt(cx, cy, 0, nullptr, resp);
        e.MvLayI(d1, len / 2 + 1, 0, 0);
        e.MvLayI(d2, len, 1, 0);
        const int kx = e.m_wx, ky = e.m_wy;
        int q[2];
        int a[2];
        for (int lead = 0; lead < 2; ++lead) {
            const int fx = lead == 0 ? bx : kx;
            const int fy = lead == 0 ? by : ky;
            const int sx = lead == 0 ? kx : bx;
            const int sy = lead == 0 ? ky : by;
            e.WalkAt(sx, sy, 0, nullptr, resp);
            e.m_wx2 = fx;
            e.m_wy2 = fy;
            e.m_walk2 = resp + fy * w0 + fx;
            q[lead] = strength(lead == 0 ? e.MvSynI(d1, len, 1, 0) : e.MvSynW(d1, len, 1, 0));
            a[lead] = atan(sx - e.m_wx, sy - e.m_wy) % 180;
        }
        e.m_walk2 = nullptr;
        for (int k = 0; k < 2; ++k) {
            if (q[k] >= e.m_st.mag[i]) {
                e.m_st.mag[i] = e.m_st.magR[i] = static_cast<unsigned char>(q[k]);
                e.m_st.dir[i] = e.m_st.dirR[i] = static_cast<unsigned char>(a[k]);
            }
        }
        for (int k = 0; k < 2; ++k) {
            if (q[k] >= best) {
                e.m_st.famDir[n][i] = static_cast<unsigned char>(a[k]);
                e.m_st.famMag[n][i] = static_cast<unsigned char>(q[k]);
                best = q[k];
            }
        }
    }
}

// The walks of the flow measurement are made in lockstep where they are short enough (64 steps)
// and clear of the outermost ring, those of two cells side by side, one at a time elsewhere: on
// noise and on noisy ridges of a small image, where many walks reach that ring, every cell,
// family and walk length (on both sides of 64) gives what the engine's walks give. The narrow
// image (of a kind without the least size) has fewer interior pixels per row than one group of
// step codes.
struct FlowImage {
    int w, h;
    unsigned char kind;
};

void PrintTo(const FlowImage& f, std::ostream* os)
{
    *os << f.w << " x " << f.h << " kind " << f.kind;
}

class StreamFlow : public ::testing::TestWithParam<FlowImage> {};

TEST_P(StreamFlow, MeasurementMatchesTheEngineWalksUpToTheEdges)
{
    const int kW = GetParam().w;
    const int kH = GetParam().h;
    auto l = zftest::LoadInto(zftest::Grating(kW, kH, 30.0, 9.0, 90.0), kW, kH, GetParam().kind);
    ASSERT_EQ(l.code, 0);
    Codex& e = *l.engine;
    e.m_quick = 1; // keeps the family layers after the run
    e.Stream(-1);
    const int w3 = e.m_level[3].width;
    const int h3 = e.m_level[3].height;
    unsigned char* const outs[] = {e.m_st.dir,       e.m_st.dirR,      e.m_st.mag,
                                   e.m_st.magR,      e.m_st.famDir[0], e.m_st.famDir[1],
                                   e.m_st.famDir[2], e.m_st.famDir[3], e.m_st.famMag[0],
                                   e.m_st.famMag[1], e.m_st.famMag[2], e.m_st.famMag[3]};
    const std::size_t n3 = static_cast<std::size_t>(w3) * h3;
    std::uint32_t seed = 12345;
    for (int pattern = 0; pattern < 2; ++pattern) {
        for (int k = 0; k < 4; ++k) {
            unsigned char* r = e.m_st.resp[k];
            for (int y = 0; y < kH; ++y) {
                for (int x = 0; x < kW; ++x) {
                    zftest::Lcg32(seed);
                    const int noise = static_cast<int>((seed >> 16) & 0xFF);
                    const int ridge = ((x * (k + 1) + y * (3 - k)) / 3) % 6 < 3 ? 200 : 40;
                    const int v = pattern == 0 ? noise : (3 * ridge + noise) / 4;
                    r[y * kW + x] = static_cast<unsigned char>(v);
                }
            }
        }
        std::memset(e.m_st.cls, 0, n3);
        e.StCodes(); // the walks' codes of the new responses
        for (int len : {0, 1, 3, 4, 6, 11, 15, 40, 64, 65}) {
            std::vector<std::vector<unsigned char>> got;
            for (int run = 0; run < 2; ++run) {
                for (unsigned char* o : outs) {
                    std::memset(o, 0, n3);
                }
                for (int n = 0; n < 4; ++n) {
                    for (int y = 0; y < h3; ++y) {
                        if (run == 0) {
                            // A row's cells two at a time but one (an odd count of them), and
                            // the last alone.
                            e.StFlowCells(y, n, len, 0, w3 - 1);
                            e.StFlow(w3 - 1, y, n, len);
                            continue;
                        }
                        for (int x = 0; x < w3; ++x) {
                            PlainFlow(e, x, y, n, len);
                        }
                    }
                }
                for (unsigned char* o : outs) {
                    got.emplace_back(o, o + n3);
                }
            }
            for (std::size_t k = 0; k < std::size(outs); ++k) {
                ASSERT_EQ(got[k], got[k + std::size(outs)])
                    << "pattern " << pattern << " len " << len << " output " << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamFlow,
                         ::testing::Values(FlowImage{160, 144, 'F'}, FlowImage{16, 48, 'A'}));

// The template fit as plainly written: every angle and sector index reduced by its remainder.
int PlainFit(const int* tpl, int theta0, int trials, int c, const int* o)
{
    auto mod360 = [](int a) { return ((a % 360) + 360) % 360; };
    auto dist = [&](int a, int b) {
        int e = mod360(a) - mod360(b);
        e = e < 0 ? -e : e;
        return e <= 89 ? e : e <= 179 ? 180 - e : e <= 269 ? e - 180 : 360 - e;
    };
    int best = 129600;
    int bestTheta = -1;
    int theta = theta0;
    for (int t = 0; t < trials; ++t) {
        const int b = (theta + 23 - c) / 45;
        int cost = 0;
        for (int j = 0; j < 8; ++j) {
            cost += dist(mod360(theta + tpl[j]), o[((b + j) % 8 + 8) % 8]);
        }
        if (cost < best) {
            best = cost;
            bestTheta = theta;
        }
        theta = mod360(theta + 2);
    }
    return bestTheta;
}

// Start directions and cell orientations on both sides of zero and of whole turns (negative
// sector indices included), templates and sector angles outside 0..359, and trial counts that
// wrap the direction past 360 several times.
TEST(Stream, TemplateFitMatchesPlainModuloArithmetic)
{
    const int loops[8] = {0, 3, 14, 50, 90, 130, 166, 177};
    const int wide[8] = {-721, -360, -1, 359, 360, 361, 719, 100000};
    const int* const tpls[2] = {loops, wide};
    const int sectorSets[4][8] = {{0, 22, 45, 67, 90, 112, 135, 157},
                                  {179, 0, 179, 0, 90, 91, 89, 90},
                                  {-1, -359, -360, -181, 540, 721, 1000, -100000},
                                  {10, 10, 10, 10, 10, 10, 10, 10}};
    const int starts[] = {-100000, -721, -360, -46, -23, -1, 0, 1, 90, 357, 358, 359, 360, 100000};
    const int cells[] = {-100000, -400, -1, 0, 45, 113, 179, 359, 400, 100000};
    const int trialCounts[] = {0, 1, 2, 180, 181, 400};
    for (const int* tpl : tpls) {
        for (const auto& o : sectorSets) {
            for (int theta0 : starts) {
                for (int c : cells) {
                    for (int trials : trialCounts) {
                        ASSERT_EQ(CWork::FitTemplate(tpl, theta0, trials, c, o),
                                  PlainFit(tpl, theta0, trials, c, o))
                            << "theta0 " << theta0 << " c " << c << " trials " << trials << " tpl "
                            << tpl[0] << " o " << o[0];
                    }
                }
            }
        }
    }
}

} // namespace
