// Stage 8 with the reference centre and pattern class: synthetic loops, whorls and deltas are
// found where they are with their type; candidate merging; the class of singular-point lists;
// repeated runs give identical layers; the shared real prints all run through stages 0 to 8.

#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

namespace {

using namespace wizard73;

// Runs the pulls of the extraction driver: quality, then singular points.
int Extract(Codex& e)
{
    const int q = e.Pickup(-1);
    e.Xfocus(1);
    return q;
}

struct Expected {
    int type;
    double x, y;
    double tolerance; // level-0 pixels
    int pole;         // index of a loop's pole, whose opening its direction must follow; -1 none
};

struct PatternCase {
    const char* name;
    std::vector<zftest::Pole> poles;
    double base;
    std::vector<Expected> points;
};

void PrintTo(const PatternCase& c, std::ostream* os)
{
    *os << c.name;
}

// A loop's point lies inside its innermost ridge, about two ridge periods from the pole of
// the field toward the loop's opening; whorls and deltas sit on their poles.
const PatternCase kPatterns[] = {
    {"loop_opening_west", {{160, 150, 1}}, 90.0, {{2, 143, 150, 8, 0}}},
    {"loop_opening_south", {{150, 170, 1}}, 45.0, {{2, 148, 186, 8, 0}}},
    {"whorl", {{160, 160, 1}, {160, 160, 1}}, 90.0, {{1, 160, 160, 8, -1}}},
    {"delta", {{160, 160, -1}}, 90.0, {{8, 160, 160, 8, -1}}},
    {"loop_and_delta",
     {{160, 110, 1}, {160, 230, -1}},
     90.0,
     {{2, 158, 96, 8, 0}, {8, 160, 230, 8, -1}}},
};

// Direction (degrees) in which the loop at pole i opens: along it the ridges run radially,
// that is where base' + phi / 2 = phi, base' being the field of the other poles at pole i.
double Opening(const PatternCase& c, int i)
{
    std::vector<zftest::Pole> others = c.poles;
    others.erase(others.begin() + i);
    return std::fmod(2.0 * zftest::FlowAngle(others, c.base, c.poles[i].x, c.poles[i].y), 360.0);
}

class XfocusPattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(XfocusPattern, FindsEachSingularPointWithItsType)
{
    const PatternCase& c = GetParam();
    auto l = zftest::LoadInto(zftest::FlowImage(320, 320, c.poles, c.base, 9.0, 7), 320, 320);
    ASSERT_EQ(l.code, 0);
    EXPECT_GE(Extract(*l.engine), 70);
    const Codex& e = *l.engine;
    std::vector<bool> found(c.points.size(), false);
    int singular = 0;
    for (int i = 0; i < e.m_singular; ++i) {
        const SSign& s = e.m_sign[i];
        if (s.type == 16) {
            continue;
        }
        ++singular;
        bool matched = false;
        for (std::size_t k = 0; k < c.points.size(); ++k) {
            const Expected& x = c.points[k];
            if (!found[k] && s.type == x.type && std::hypot(s.x - x.x, s.y - x.y) <= x.tolerance) {
                found[k] = matched = true;
                if (x.pole >= 0) {
                    const int opening = static_cast<int>(std::lround(Opening(c, x.pole)));
                    EXPECT_LE(CWork::Turn(2 * s.angle, opening), 20) << "direction " << 2 * s.angle;
                }
                break;
            }
        }
        EXPECT_TRUE(matched) << "type " << int(s.type) << " at " << s.x << "," << s.y;
    }
    EXPECT_EQ(singular, static_cast<int>(c.points.size()));
    EXPECT_EQ(e.m_sign[e.m_singular - 1].type, 16); // the reference entry closes the list
}

INSTANTIATE_TEST_SUITE_P(Xfocus, XfocusPattern, ::testing::ValuesIn(kPatterns),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Xfocus, GratingHasOnlyTheReferenceEntry)
{
    auto l = zftest::LoadInto(zftest::Grating(256, 256, 20.0, 9.0, 90.0), 256, 256);
    ASSERT_EQ(l.code, 0);
    Extract(*l.engine);
    const Codex& e = *l.engine;
    ASSERT_EQ(e.m_singular, 1);
    EXPECT_EQ(e.m_sign[0].type, 16);
    EXPECT_EQ(+e.m_sign[0].x, 0); // packed fields are read by value
    EXPECT_EQ(e.m_sign[0].axis, 45);
    EXPECT_EQ(e.m_sign[0].quality, e.m_refLevel * 63 / 255);
    EXPECT_EQ(e.m_class, 1);
    EXPECT_EQ(e.m_immask, 1);
    for (int id : {33, 34, 113, 114, 115, 129, 144, 152}) { // inputs released at every level
        EXPECT_EQ(e.GetKey(id, 3), -1) << id;
        EXPECT_EQ(e.GetKey(id, 1), -1) << id;
    }
    EXPECT_NE(e.GetKey(128, 3), -1);
}

SSign Point(int type, int x, int y, int quality, int angle = 0)
{
    SSign s{};
    s.type = static_cast<std::uint8_t>(type);
    s.x = x;
    s.y = y;
    s.quality = static_cast<std::uint8_t>(quality);
    s.angle = static_cast<std::uint8_t>(angle);
    return s;
}

struct MergeCase {
    const char* name;
    bool quick;
    std::vector<SSign> in;
    std::vector<SSign> out; // type, position and quality compared
};

void PrintTo(const MergeCase& c, std::ostream* os)
{
    *os << c.name;
}

const MergeCase kMerges[] = {
    {"deltas_30_apart",
     false,
     {Point(8, 100, 100, 40), Point(8, 130, 100, 50)},
     {Point(8, 130, 100, 50)}},
    {"deltas_30_apart_quick",
     true,
     {Point(8, 100, 100, 40), Point(8, 130, 100, 50)},
     {Point(8, 130, 100, 50), Point(8, 100, 100, 40)}},
    {"facing_loops_become_a_whorl",
     false,
     {Point(2, 100, 100, 30, 0), Point(2, 125, 100, 45, 90)},
     {Point(1, 112, 100, 45)}},
    {"loops_turned_apart_stay",
     false,
     {Point(2, 100, 100, 30, 90), Point(2, 125, 100, 45, 0)},
     {Point(2, 125, 100, 45), Point(2, 100, 100, 30)}},
    {"loop_on_a_delta_cancel", false, {Point(2, 100, 100, 30), Point(8, 108, 100, 45)}, {}},
    {"whorls_within_47_unite",
     false,
     {Point(1, 100, 100, 30), Point(1, 140, 100, 20)},
     {Point(1, 120, 100, 30)}},
    {"far_points_stay",
     false,
     {Point(1, 100, 100, 30), Point(8, 200, 100, 20)},
     {Point(1, 100, 100, 30), Point(8, 200, 100, 20)}},
};

class XfocusMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(XfocusMerge, RenamingMergesNearCandidates)
{
    const MergeCase& c = GetParam();
    Codex e;
    e.m_quick = c.quick ? 1 : 0;
    for (std::size_t i = 0; i < c.in.size(); ++i) {
        e.m_sign[i] = c.in[i];
    }
    e.m_candidates = static_cast<int>(c.in.size());
    e.Rename();
    ASSERT_EQ(e.m_candidates, static_cast<int>(c.out.size()));
    for (std::size_t i = 0; i < c.out.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(e.m_sign[i].type, c.out[i].type);
        EXPECT_EQ(+e.m_sign[i].x, +c.out[i].x);
        EXPECT_EQ(+e.m_sign[i].y, +c.out[i].y);
        EXPECT_EQ(e.m_sign[i].quality, c.out[i].quality);
    }
}

INSTANTIATE_TEST_SUITE_P(Xfocus, XfocusMerge, ::testing::ValuesIn(kMerges),
                         [](const auto& p) { return std::string(p.param.name); });

struct ClassCase {
    const char* name;
    unsigned char kind;
    std::vector<SSign> list;
    int klass;
    int immask;
};

void PrintTo(const ClassCase& c, std::ostream* os)
{
    *os << c.name << " -> " << c.klass;
}

std::vector<SSign> Loops(int n)
{
    std::vector<SSign> v;
    for (int i = 0; i < n; ++i) {
        v.push_back(Point(2, 20 * i, 0, 30));
    }
    return v;
}

const ClassCase kClasses[] = {
    {"empty", 'F', {}, 1, 1},
    {"whorl_and_delta_30_apart", 'F', {Point(1, 100, 100, 30), Point(8, 130, 100, 30)}, -1, 192},
    {"whorl_and_delta_50_apart", 'F', {Point(1, 100, 100, 30), Point(8, 150, 100, 30)}, 64, 64},
    {"loop_facing_its_delta", 'F', {Point(2, 100, 100, 30, 45), Point(8, 100, 150, 30)}, 2, 2},
    {"sixteen_loops", 'F', Loops(16), 2048, 128},
    {"palm_kind", 'P', {Point(1, 100, 100, 30), Point(8, 130, 100, 30)}, 0, 0},
    {"two_deltas", 'F', {Point(8, 100, 100, 30), Point(8, 200, 100, 30)}, 64, 64},
};

class XfocusClass : public ::testing::TestWithParam<ClassCase> {};

TEST_P(XfocusClass, CentreAndDesignSetTheClass)
{
    const ClassCase& c = GetParam();
    Codex e;
    e.m_kind = c.kind;
    for (std::size_t i = 0; i < c.list.size(); ++i) {
        e.m_sign[i] = c.list[i];
    }
    e.m_singular = static_cast<int>(c.list.size());
    e.Centre(40);
    e.Design();
    if (c.klass >= 0) {
        EXPECT_EQ(e.m_class, c.klass);
    } else {
        EXPECT_TRUE(e.m_class == (64 | 128) || e.m_class == (64 | 256)) << e.m_class;
    }
    EXPECT_EQ(e.m_immask, c.immask);
    const int n = static_cast<int>(c.list.size());
    if (n >= 16) {
        EXPECT_EQ(e.m_singular, 16); // full: no reference entry
        return;
    }
    ASSERT_EQ(e.m_singular, n + 1);
    const SSign& r = e.m_sign[n];
    EXPECT_EQ(r.type, 16);
    EXPECT_EQ(r.axis, 45);
    if (n == 0) {
        EXPECT_EQ(r.quality, 40);
        EXPECT_EQ(+r.x, 0);
    } else {
        EXPECT_EQ(+r.x, +c.list[0].x); // anchored on the whorl, loop or delta
    }
}

INSTANTIATE_TEST_SUITE_P(Xfocus, XfocusClass, ::testing::ValuesIn(kClasses),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Xfocus, ReferenceQualityFlagsAnUnbalancedList)
{
    Codex e;
    e.m_kind = 'F';
    e.m_sign[0] = Point(2, 100, 100, 25);
    e.m_singular = 1;
    e.Centre(40);
    EXPECT_EQ(e.m_sign[1].quality, 25 | 128); // one loop and no delta
    e.m_sign[1] = Point(8, 100, 160, 30);
    e.m_singular = 2;
    e.Centre(40);
    EXPECT_EQ(e.m_sign[2].quality, 25); // balanced
}

TEST(Xfocus, ClassFoldsBackIntoTheClassWord)
{
    Codex e;
    e.m_immask = 192;
    e.m_class = 0;
    e.DesImp();
    EXPECT_EQ(e.m_class, 64);
    e.m_immask = 0x3F;
    e.m_class = 16;
    e.DesImp();
    EXPECT_EQ(e.m_class, 16 | 4 | 2 | 1);
}

// Every layer of every level after stage 7, and the list of stage 8, repeat exactly.
TEST(Xfocus, TwoRunsGiveIdenticalLayersAndPoints)
{
    std::vector<unsigned char> img;
    int w = 0;
    int h = 0;
    const std::string path = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (path.empty() || !zftest::ReadPgm(path, img, w, h)) {
        w = h = 320; // no shared data: a synthetic print serves
        img = zftest::FlowImage(w, h, {{160, 110, 1}, {160, 230, -1}}, 90.0, 9.0, 3);
    }
    std::vector<std::vector<unsigned char>> layers[2];
    std::vector<SSign> points[2];
    Codex e; // the second run reuses the engine of the first
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(zftest::LoadWith(e, img, w, h), 0);
        e.Pickup(-1);
        e.Respon(1);
        for (int level = 0; level < WZ_LEVELS; ++level) {
            for (int id = 0; id <= 273; ++id) {
                layers[run].push_back(zftest::LayerCopy(e, id, level));
            }
        }
        e.Xfocus(1);
        points[run].assign(e.m_sign, e.m_sign + e.m_singular);
    }
    ASSERT_EQ(layers[0].size(), layers[1].size());
    for (std::size_t i = 0; i < layers[0].size(); ++i) {
        ASSERT_EQ(layers[0][i], layers[1][i]) << "layer " << i % 274 << " of level " << i / 274;
    }
    ASSERT_EQ(points[0].size(), points[1].size());
    for (std::size_t i = 0; i < points[0].size(); ++i) {
        EXPECT_EQ(std::memcmp(&points[0][i], &points[1][i], sizeof(SSign)), 0) << i;
    }
}

TEST(Xfocus, SharedPrintsRunThroughSingularPoints)
{
    const std::string first = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (first.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    const int fingers = zftest::InputSize(10, 2);
    int images = 0;
    int coreOk = 0;
    int deltaOk = 0;
    int qualityBins[11] = {};
    int coreCounts[4] = {};
    int deltaCounts[4] = {};
    for (int f = 101; f < 101 + fingers; ++f) {
        for (int k = 1; k <= 8; ++k) {
            const std::string name = std::to_string(f) + "_" + std::to_string(k) + ".pgm";
            SCOPED_TRACE(name);
            auto l = zftest::LoadShared("fvc2002_db1_b/" + name);
            ASSERT_EQ(l.code, 0);
            int q = -1;
            try {
                q = Extract(*l.engine);
            } catch (int code) {
                FAIL() << "engine threw " << code;
            }
            ASSERT_GE(q, 0);
            ASSERT_LE(q, 100);
            int cores = 0;
            int deltas = 0;
            for (int i = 0; i < l.engine->m_singular; ++i) {
                const int t = l.engine->m_sign[i].type;
                cores += t == 1 || t == 2 ? 1 : 0;
                deltas += t == 8 ? 1 : 0;
            }
            ++images;
            ++qualityBins[q / 10];
            ++coreCounts[cores < 3 ? cores : 3];
            ++deltaCounts[deltas < 3 ? deltas : 3];
            coreOk += cores >= 1 && cores <= 2 ? 1 : 0;
            deltaOk += deltas <= 2 ? 1 : 0;
        }
    }
    std::string summary = "quality by tens:";
    for (int b = 0; b <= 10; ++b) {
        summary += " " + std::to_string(qualityBins[b]);
    }
    summary += "; cores 0/1/2/3+: " + std::to_string(coreCounts[0]) + "/" +
               std::to_string(coreCounts[1]) + "/" + std::to_string(coreCounts[2]) + "/" +
               std::to_string(coreCounts[3]);
    summary += "; deltas 0/1/2/3+: " + std::to_string(deltaCounts[0]) + "/" +
               std::to_string(deltaCounts[1]) + "/" + std::to_string(deltaCounts[2]) + "/" +
               std::to_string(deltaCounts[3]);
    RecordProperty("distribution", summary);
    std::printf("%d images; %s\n", images, summary.c_str());
    EXPECT_GE(coreOk * 10, images * 7);  // most prints show one or two cores
    EXPECT_GE(deltaOk * 10, images * 9); // and at most two deltas
}

} // namespace
