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

} // namespace
