// Stage 3, orientation flow: gratings at known angles give their ridge direction on the inner
// cells, every final strength is at least the noise floor, and the outermost cells are never
// classed.

#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

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
