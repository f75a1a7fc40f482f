// Stage 20 on hand-drawn skeletons: directions of endings and bifurcations, the branch-arm
// marks, endings at the border, the opposite-pair and singular-point quality marks, the
// list's capacity by image kind, the figures; and the shared prints through stage 20.

#include "extraction/engine/Codex.h"
#include "tests/extraction/engine/ridge_fixture.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using wizard73::Codex;
using wizard73::SSign;
using zftest::Ridges;

std::vector<SSign> List(Codex& e)
{
    const SSign* p = reinterpret_cast<const SSign*>(e.GetLay(176, 1));
    return std::vector<SSign>(p, p + e.m_minutiae);
}

// Endings of a horizontal stripe face into it (0 at the left end, 180 degrees at the right), a
// bifurcation opening to the right faces right, along its branches' bisector; its two branch arms
// start with codes 5 and 6.
TEST(Minuti, DirectionsAndTypes)
{
    Ridges r(96, 64);
    r.Line(16, 32, 48, 32);
    r.Line(48, 32, 80, 20);
    r.Line(48, 32, 80, 44);
    Codex& e = r.Load(8, 0);
    e.Minuti(-1);
    const std::vector<SSign> m = List(e);
    ASSERT_EQ(m.size(), 4u);
    int endings = 0;
    for (const SSign& s : m) {
        SCOPED_TRACE(testing::Message() << int{s.x} << "," << int{s.y});
        if (s.type == 1) {
            ++endings;
            EXPECT_EQ(s.angle, s.x < 48 ? 0 : 90);
        } else {
            EXPECT_EQ(s.type, 0);
            EXPECT_EQ(s.angle, 0);
            EXPECT_NEAR(s.x, 50, 4);
        }
        EXPECT_EQ(s.level, 48);
        EXPECT_EQ(s.quality & 63, 40);
    }
    EXPECT_EQ(endings, 3);
    EXPECT_EQ(r.Count(5), 1);
    EXPECT_EQ(r.Count(6), 1);
}

// An ending's traced direction is snapped to the orientation field (here across the stripe:
// 270 degrees, angle 135) unless it lies in a singular region or the run asked for minutiae
// that follow the traced ridges.
TEST(Minuti, SnapToTheOrientationUnlessSingularOrIso)
{
    struct Case {
        bool iso;
        int singular;
        int angle;
    };
    for (const Case c : {Case{false, 0, 135}, Case{false, 2, 0}, Case{true, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << "iso " << c.iso << " singular " << c.singular);
        Ridges r(96, 64);
        r.Line(30, 32, 93, 32);
        Codex& e = r.Load(8, 90);
        e.m_iso = c.iso;
        std::memset(e.GetLay(129, 1), c.singular, e.m_level[1].size);
        e.Minuti(-1);
        const std::vector<SSign> m = List(e);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].angle, c.angle);
    }
}

// An ending within 0.7 periods of the background is dropped (its pixel becomes 3); one within
// 11/7 periods is listed with bit 7 of its quality.
TEST(Minuti, EndingsAtTheBorder)
{
    Ridges r(96, 64);
    r.Line(3, 24, 40, 24);
    r.Line(9, 40, 40, 40);
    Codex& e = r.Load(8, 0);
    e.Minuti(-1);
    const std::vector<SSign> m = List(e);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(r.Count(3) > 0, true);
    for (const SSign& s : m) {
        SCOPED_TRACE(testing::Message() << int{s.x} << "," << int{s.y});
        EXPECT_EQ(s.type, 1);
        EXPECT_EQ((s.quality & 128) != 0, s.x < 20);
        EXPECT_FALSE(s.x < 6);
    }
}

// Opposite endings closer than sqrt(3) r (r = 11 for level 48) both get bit 7; farther apart
// neither does. A loop point nearer than sqrt(5) r sets bit 6; the reference centre does not.
TEST(Minuti, DoubtfulPairsAndSingularNeighbours)
{
    struct Case {
        int gap;
        int singularType;
        bool pairMark;
        bool singularMark;
    };
    const Case cases[] = {{14, 2, true, true}, {24, 16, false, false}, {24, 8, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "gap " << c.gap << " type " << c.singularType);
        Ridges r(128, 64);
        r.Line(20, 32, 50, 32);
        r.Line(51 + c.gap, 32, 108, 32);
        Codex& e = r.Load(8, 0);
        e.m_singular = 1;
        e.m_sign[0] = SSign{};
        e.m_sign[0].x = 8;
        e.m_sign[0].y = 20;
        e.m_sign[0].type = static_cast<unsigned char>(c.singularType);
        e.Minuti(-1);
        const std::vector<SSign> m = List(e);
        ASSERT_EQ(m.size(), 4u);
        for (const SSign& s : m) {
            SCOPED_TRACE(int{s.x});
            const bool inner = s.x > 30 && s.x < 100;
            EXPECT_EQ((s.quality & 128) != 0, inner && c.pairMark);
            EXPECT_EQ((s.quality & 64) != 0, s.x < 30 && c.singularMark);
        }
    }
}

// The list never passes its layer: a 32 x 32 image of kind 'F' keeps 18 of its 20 endings,
// an unknown kind none; the figures come from all level-1 cells, finger cells weighing 16.
TEST(Minuti, CapacityByKindAndFigures)
{
    struct Case {
        unsigned char kind;
        unsigned count;
    };
    for (const Case c : {Case{'F', 18}, Case{'S', 18}, Case{'X', 0}}) {
        SCOPED_TRACE(c.kind);
        Ridges r(32, 32);
        for (int y = 6; y <= 26; y += 5) {
            r.Line(6, y, 8, y, 1);
            r.Line(17, y, 19, y, 1);
        }
        Codex& e = r.Load(4, 0, c.kind);
        e.Minuti(-1);
        EXPECT_EQ(e.m_minutiae, c.count);
        EXPECT_EQ(e.m_densit, 48);
        const int n = 14 * 14 * 16 + (16 * 16 - 14 * 14);
        EXPECT_EQ(e.m_qualit, 100 * (40 * n / 43) / n);
    }
}

// The shared prints through stage 20: a plausible number of minutiae, each on a level-0 pixel
// inside the image, with angles 0..179 and a quality figure; the nearest-minutia search.
TEST(SharedPrints, RunThroughMinutiae)
{
    const std::string first = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (first.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    for (const char* name : {"101_1.pgm", "102_3.pgm", "105_2.pgm", "110_8.pgm"}) {
        SCOPED_TRACE(name);
        auto l = zftest::LoadShared(std::string("fvc2002_db1_b/") + name);
        ASSERT_EQ(l.code, 0);
        Codex& e = *l.engine;
        try {
            e.Pickup(-1);
            e.Xfocus(1);
            e.Minuti(-1);
        } catch (int code) {
            FAIL() << "engine threw " << code;
        }
        const std::vector<SSign> m = List(e);
        EXPECT_GT(m.size(), 15u);
        EXPECT_LT(m.size(), 150u);
        EXPECT_GT(e.m_qualit, 0);
        for (const SSign& s : m) {
            ASSERT_TRUE(s.x >= 0 && s.y >= 0 && s.x < e.m_level[0].width &&
                        s.y < e.m_level[0].height);
            ASSERT_LT(s.angle, 180);
            ASSERT_LE(s.type, 1);
        }
        // The nearest minutia (the first of equal distances) among all of them, or among the
        // indices whose low seven bits are k; none for a k no index has.
        auto nearest = [&m](int x, int y, int k) {
            int best = -1;
            long long bestD = 0;
            for (int i = 0; i < static_cast<int>(m.size()); ++i) {
                const long long dx = m[i].x - x;
                const long long dy = m[i].y - y;
                if ((k == -1 || (i & 127) == k) && (best < 0 || dx * dx + dy * dy < bestD)) {
                    best = i;
                    bestD = dx * dx + dy * dy;
                }
            }
            return best;
        };
        for (int y = 0; y < e.m_level[0].height; y += 37) {
            for (int x = 0; x < e.m_level[0].width; x += 29) {
                for (const int k : {-1, 0, 1, 5, 127, 128, -2}) {
                    ASSERT_EQ(e.Native(x, y, k), nearest(x, y, k)) << x << "," << y << " " << k;
                }
            }
        }
    }
}

} // namespace
