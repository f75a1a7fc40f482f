// Image loading into the engine: working size and limits per image kind, link counts, check
// value, flat images, the plain copy and the resampled fill that every load repeats exactly.

#include "extraction/engine/codes.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using namespace wizard73;

// Noise over the whole grey range (its stretch curve is the identity).
std::vector<unsigned char> Noise(int w, int h, unsigned seed)
{
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h);
    unsigned s = seed;
    for (unsigned char& p : img) {
        zftest::XorShift32(s);
        p = static_cast<unsigned char>(s >> 24);
    }
    return img;
}

struct LoadCase {
    const char* name;
    unsigned char kind;
    int w, h, xres, angle;
    int code;
    int w0, h0;
};

void PrintTo(const LoadCase& c, std::ostream* os)
{
    *os << c.name << ": " << c.kind << " " << c.w << "x" << c.h << " -> " << c.code;
}

const LoadCase kLoadCases[] = {
    {"plain_crop", 'F', 301, 402, 500, 0, 0, 300, 400},
    {"half_x_resolution_doubles", 'F', 200, 150, 250, 0, 0, 400, 300},
    {"angle_ignored_for_F", 'F', 200, 150, 500, 30, 0, 200, 148},
    {"kind_A_turned_90", 'A', 120, 200, 500, 90, 0, 200, 120},
    {"kind_T_no_limits", 'T', 100, 100, 500, 0, 0, 28, 28},
    {"narrow", 'F', 60, 200, 500, 0, WZ_TOO_SMALL, 0, 0},
    {"wide_F", 'F', 4100, 100, 500, 0, WZ_TOO_LARGE, 0, 0},
    {"wide_P", 'P', 3100, 100, 500, 0, WZ_TOO_LARGE, 0, 0},
    {"unknown_kind", 'X', 200, 200, 500, 0, WZ_BAD_KIND, 0, 0},
    {"no_x_resolution", 'A', 200, 200, 0, 0, WZ_TOO_LARGE, 0, 0},
};

class LoaderGeometry : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoaderGeometry, SizesThePyramidOrRefuses)
{
    const LoadCase& c = GetParam();
    const auto img = Noise(c.w, c.h, 7);
    Codex e;
    SData s{};
    s.kind = c.kind;
    s.angle = static_cast<std::int16_t>(c.angle);
    s.width = static_cast<std::uint16_t>(c.w);
    s.height = static_cast<std::uint16_t>(c.h);
    s.xres = static_cast<std::uint16_t>(c.xres);
    s.yres = 500;
    s.links = 17;
    s.pixels = img.data();
    s.check = zftest::CheckValue(img.data(), c.w, c.h);
    ASSERT_EQ(e.Loader(s, pyr[2], false), c.code);
    if (c.code != 0) {
        EXPECT_EQ(e.GetKey(0, 0), -1); // nothing stays loaded
        return;
    }
    EXPECT_EQ(e.m_level[0].width, c.w0);
    EXPECT_EQ(e.m_level[0].height, c.h0);
    EXPECT_EQ(e.m_level[3].width, (c.w0 + 7) / 8);
    EXPECT_EQ(s.angle, c.kind == 'A' ? c.angle : 0);
    EXPECT_EQ(s.yres, c.kind == 'T' ? 140 : 500);
    EXPECT_EQ(e.m_stage, 0);
    EXPECT_NE(e.GetKey(0, 0), -1);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderGeometry, ::testing::ValuesIn(kLoadCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Loader, PlainLoadCopiesTheCroppedSource)
{
    const auto img = Noise(301, 402, 3);
    auto l = zftest::LoadInto(img, 301, 402);
    ASSERT_EQ(l.code, 0);
    const auto layer = zftest::LayerCopy(*l.engine, 0, 0);
    ASSERT_EQ(layer.size(), 300u * 400u);
    int differ = 0;
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 300; ++x) {
            differ += layer[y * 300 + x] != img[y * 301 + x] ? 1 : 0;
        }
    }
    EXPECT_EQ(differ, 0); // full grey range: the stretch curve is the identity
}

TEST(Loader, RefusesFlatImagesWrongCheckValuesAndMissingPixels)
{
    const std::vector<unsigned char> flat(200 * 200, 100);
    EXPECT_EQ(zftest::LoadInto(flat, 200, 200).code, WZ_FLAT);
    const auto img = Noise(200, 200, 5);
    const int good = zftest::CheckValue(img.data(), 200, 200);
    EXPECT_EQ(zftest::LoadInto(img, 200, 200, 'F', (good + 1) & 0xFFFF).code, WZ_BAD_CHECK);
    EXPECT_EQ(zftest::LoadInto(img, 200, 200, 'T', (good + 1) & 0xFFFF).code, 0); // not tested
    Codex e;
    SData s{};
    s.kind = 'F';
    s.width = 200;
    s.height = 200;
    s.xres = s.yres = 500;
    EXPECT_EQ(e.Loader(s, nullptr, false), WZ_TOO_SMALL); // no pixels
    EXPECT_EQ(e.m_error, WZ_TOO_SMALL);
}

// Kind 'A' has no size limits of its own: sizes beyond what the engine's 16-bit level sides and
// 32-bit source offsets hold are refused before any pixel is read.
TEST(Loader, RefusesSizesBeyondTheEngineGeometry)
{
    const unsigned char pixel = 0;
    struct {
        int w, h, xres;
    } const cases[] = {{65535, 65535, 500}, {20000, 100, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.w);
        Codex e;
        SData s{};
        s.kind = 'A';
        s.width = static_cast<std::uint16_t>(c.w);
        s.height = static_cast<std::uint16_t>(c.h);
        s.xres = static_cast<std::uint16_t>(c.xres);
        s.yres = 500;
        s.pixels = &pixel; // never read
        EXPECT_EQ(e.Loader(s, pyr[2], false), WZ_TOO_LARGE);
    }
}

TEST(Loader, LinkCountsBecomeOddWithinFiveToSeventeen)
{
    const auto img = Noise(100, 100, 9);
    const int cases[][2] = {{4, 17}, {5, 5}, {8, 9}, {17, 17}, {18, 17}, {0, 17}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Codex e;
        SData s{};
        s.kind = 'F';
        s.width = s.height = 100;
        s.xres = s.yres = 500;
        s.links = static_cast<std::uint8_t>(c[0]);
        s.pixels = img.data();
        s.check = zftest::CheckValue(img.data(), 100, 100);
        ASSERT_EQ(e.Loader(s, pyr[2], false), 0);
        EXPECT_EQ(s.links, c[1]);
        EXPECT_EQ(e.m_linkno, c[1]);
    }
}

// Rotated and rescaled loads fill the pixels outside the source from a state that every load
// restarts, so one image always gives the same layer.
TEST(Loader, ResampledFillIsTheSameOnEveryLoad)
{
    const auto img = Noise(160, 120, 11);
    auto load = [&](Codex& e) {
        SData s{};
        s.kind = 'A';
        s.angle = 30;
        s.width = 160;
        s.height = 120;
        s.xres = 400;
        s.yres = 500;
        s.links = 17;
        s.pixels = img.data();
        EXPECT_EQ(e.Loader(s, pyr[2], false), 0);
        return zftest::LayerCopy(e, 0, 0);
    };
    Codex a;
    const auto first = load(a);
    const auto again = load(a);
    Codex b;
    const auto fresh = load(b);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, again);
    EXPECT_EQ(first, fresh);
    // The corners lie outside the turned source: light fill 238..253.
    EXPECT_GE(first[0], 238);
    EXPECT_LE(first[0], 253);
    EXPECT_GE(first.back(), 238);
}

} // namespace
