// Stage 2, directional smoothing: the rank smoothing of layer 1, the signed responses 10..13
// (127 = none), their independence from repeated runs, and the stage 9 form.

#include "extraction/engine/RankRow.h"
#include "extraction/engine/codes.h"
#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

// Kind 'A' keeps the grey levels as they are (no stretch), so known answers stay exact.
zftest::Loaded LoadRaw(const std::vector<unsigned char>& img, int w, int h)
{
    auto l = zftest::LoadInto(img, w, h, 'A');
    EXPECT_EQ(l.code, 0);
    return l;
}

TEST(Lightf, UniformImageHasNoResponse)
{
    auto l = LoadRaw(std::vector<unsigned char>(96 * 96, 90), 96, 96);
    l.engine->Lightf(-1);
    for (int id = 10; id <= 13; ++id) {
        SCOPED_TRACE(id);
        for (unsigned char v : zftest::LayerCopy(*l.engine, id, 0)) {
            ASSERT_EQ(v, 127);
        }
    }
    EXPECT_EQ(zftest::LayerCopy(*l.engine, 1, 0)[40 * 96 + 40], 90);
}

TEST(Lightf, SingleBrightPixelIsSmoothedByRankOrInQuickModeByMean)
{
    std::vector<unsigned char> img(96 * 96, 0);
    img[48 * 96 + 48] = 200;
    for (int quick = 0; quick <= 1; ++quick) {
        SCOPED_TRACE(quick);
        auto l = LoadRaw(img, 96, 96);
        l.engine->m_quick = static_cast<unsigned char>(quick);
        l.engine->Lightf(-1);
        const auto s = zftest::LayerCopy(*l.engine, 1, 0);
        EXPECT_EQ(s[48 * 96 + 48], quick != 0 ? (4 * 200 + 4) >> 3 : (200 + 8) >> 4);
        EXPECT_EQ(s[47 * 96 + 48], quick != 0 ? (200 + 4) >> 3 : (200 + 8) >> 4);
        EXPECT_EQ(s[48 * 96 + 49], quick != 0 ? (200 + 4) >> 3 : (200 + 8) >> 4);
        EXPECT_EQ(s[47 * 96 + 47], quick != 0 ? 0 : (200 + 8) >> 4);
    }
}

// A horizontal edge, bright below: the north-south response rises, the west-east one stays.
TEST(Lightf, HorizontalEdgeRespondsNorthSouthOnly)
{
    std::vector<unsigned char> img(96 * 96, 50);
    std::fill(img.begin() + 48 * 96, img.end(), 200);
    auto l = LoadRaw(img, 96, 96);
    l.engine->Lightf(-1);
    const int at = 48 * 96 + 40;
    EXPECT_GT(zftest::LayerCopy(*l.engine, 10, 0)[at], 127 + 60);
    EXPECT_EQ(zftest::LayerCopy(*l.engine, 12, 0)[at], 127);
    EXPECT_GT(zftest::LayerCopy(*l.engine, 11, 0)[at], 127); // south-west brighter than north-east
    EXPECT_EQ(zftest::LayerCopy(*l.engine, 10, 0)[20 * 96 + 40], 127);
}

TEST(Lightf, RunningTwiceKeepsLayerOneAndRepeatsTheResponses)
{
    auto l = zftest::LoadInto(zftest::Grating(128, 128, 30.0, 9.0, 90.0), 128, 128);
    ASSERT_EQ(l.code, 0);
    l.engine->Lightf(-1);
    const int slot = l.engine->GetKey(1, 0);
    std::vector<std::vector<unsigned char>> first;
    for (int id = 10; id <= 13; ++id) {
        first.push_back(zftest::LayerCopy(*l.engine, id, 0));
    }
    l.engine->Lightf(-1);
    EXPECT_EQ(l.engine->GetKey(1, 0), slot);
    for (int id = 10; id <= 13; ++id) {
        EXPECT_EQ(zftest::LayerCopy(*l.engine, id, 0), first[id - 10]) << id;
    }
}

TEST(Lightf, SecondFormGivesTheSameResponses)
{
    auto l = zftest::LoadInto(zftest::Grating(128, 128, 60.0, 9.0, 90.0), 128, 128);
    ASSERT_EQ(l.code, 0);
    l.engine->Lightf(-1);
    std::vector<std::vector<unsigned char>> first;
    for (int id = 10; id <= 13; ++id) {
        first.push_back(zftest::LayerCopy(*l.engine, id, 0));
    }
    l.engine->Lights(-1);
    EXPECT_EQ(l.engine->m_stage, 9);
    for (int id = 10; id <= 13; ++id) {
        EXPECT_EQ(zftest::LayerCopy(*l.engine, id, 0), first[id - 10]) << id;
    }
}

// The lane-wise rank smoothing gives the same bytes as its one-pixel twin on every inner row,
// for the whole row and for lengths around the lane width (so the one-by-one tail is met too):
// on noise, which sorts in every order, and on real prints. The same holds for the rank mean of
// gathered values (the filter stage's), here nine rows of the image taken as the nine values,
// and for the four directional responses of a row.
TEST(Lightf, LaneWiseRankSmoothingEqualsScalar)
{
    auto compare = [](const std::vector<unsigned char>& img, int w, int h) {
        std::vector<unsigned char> lanes(static_cast<std::size_t>(w));
        std::vector<unsigned char> scalar(lanes.size());
        for (int y = 1; y + 1 < h; ++y) {
            const unsigned char* row = img.data() + static_cast<std::size_t>(y) * w + 1;
            for (int count : {w - 2, w - 3, 1, 7, 8, 9, 15, 16, 17, 33}) {
                if (count < 1 || count > w - 2) {
                    continue;
                }
                RankRow3x3(row, w, lanes.data(), count);
                RankRow3x3Scalar(row, w, scalar.data(), count);
                ASSERT_EQ(0, std::memcmp(lanes.data(), scalar.data(), count))
                    << "row " << y << ", " << count << " pixels";
                std::vector<std::int16_t> gl(4 * static_cast<std::size_t>(w));
                std::vector<std::int16_t> gs(gl.size());
                std::int16_t* const outL[4] = {&gl[0], &gl[w], &gl[2 * w], &gl[3 * w]};
                std::int16_t* const outS[4] = {&gs[0], &gs[w], &gs[2 * w], &gs[3 * w]};
                ResponseRow(row, w, outL, count);
                ResponseRowScalar(row, w, outS, count);
                ASSERT_EQ(gl, gs) << "responses of row " << y << ", " << count << " pixels";
            }
        }
        for (int y = 0; y + 9 <= h; ++y) {
            const unsigned char* planes = img.data() + static_cast<std::size_t>(y) * w;
            for (int count : {w, w - 1, 1, 7, 8, 9, 15, 16, 17, 33}) {
                if (count < 1 || count > w) {
                    continue;
                }
                RankMean9Planes(planes, w, lanes.data(), count);
                RankMean9PlanesScalar(planes, w, scalar.data(), count);
                ASSERT_EQ(0, std::memcmp(lanes.data(), scalar.data(), count))
                    << "planes from row " << y << ", " << count << " values";
            }
        }
    };
    std::mt19937 random(7);
    std::vector<unsigned char> noise(61 * 23);
    for (unsigned char& v : noise) {
        v = static_cast<unsigned char>(random() % 4 == 0 ? 255 * (random() % 2) : random());
    }
    compare(noise, 61, 23);

    const std::string first = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (first.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    const std::string dir = first.substr(0, first.size() - std::string("101_1.pgm").size());
    for (const char* name : {"101_1.pgm", "105_3.pgm", "109_4.pgm", "110_8.pgm"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> img;
        int w = 0;
        int h = 0;
        ASSERT_TRUE(zftest::ReadPgm(dir + name, img, w, h));
        compare(img, w, h);
    }
}

// The lane-wise rank mean against its twin on every pattern of nine values drawn from three
// levels (19,683 of them, each in its own lane): every order of the nine values, with and
// without ties, meets the lane-wise network, which leaves two equally weighted ranks unordered.
TEST(Lightf, LaneWiseRankMeanEqualsScalarOnEveryOrder)
{
    constexpr int COUNT = 19683; // 3^9
    std::vector<unsigned char> planes(9 * static_cast<std::size_t>(COUNT));
    for (int x = 0; x < COUNT; ++x) {
        for (int i = 0, code = x; i < 9; ++i, code /= 3) {
            static constexpr unsigned char kLevels[3] = {0, 101, 255};
            planes[static_cast<std::size_t>(i) * COUNT + x] = kLevels[code % 3];
        }
    }
    std::vector<unsigned char> lanes(COUNT);
    std::vector<unsigned char> scalar(COUNT);
    RankMean9Planes(planes.data(), COUNT, lanes.data(), COUNT);
    RankMean9PlanesScalar(planes.data(), COUNT, scalar.data(), COUNT);
    EXPECT_EQ(lanes, scalar);
}

TEST(Lightf, MissingSourceThrows)
{
    Codex e;
    try {
        e.Lightf(-1);
        FAIL() << "no exception";
    } catch (int code) {
        EXPECT_EQ(code, WZ_NO_SOURCE);
    }
    EXPECT_EQ(e.m_error, WZ_NO_SOURCE);
}

} // namespace
