// Stage 22 on hand-drawn fixtures: ridge counts between singular points across known ridges,
// the pairs left out (reference centre) or without a count, the refreshed level and quality of
// the points, and the run-length code of the level-3 mask with its long runs, decoded back
// through the record reader.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/Unwrap.h"
#include "tests/extraction/engine/ridge_fixture.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

using wizard73::Codex;
using wizard73::SSign;
using wizard73::WZ_RECORD_FULL;
using zftest::Ridges;

SSign Point(int x, int y, int type)
{
    SSign s{};
    s.x = x;
    s.y = y;
    s.type = static_cast<unsigned char>(type);
    return s;
}

std::vector<unsigned char> Section(Codex& e, int id, int index)
{
    const unsigned char* p = e.GetLay(id, 3);
    return std::vector<unsigned char>(p, p + e.m_section[index]);
}

struct AbacCase {
    const char* name;
    std::vector<SSign> points;
    std::vector<unsigned char> abac;
};

void PrintTo(const AbacCase& c, std::ostream* os)
{
    *os << c.name;
}

// Three ridges (y = 24, 32, 40) lie between a loop at (48, 16) and a delta at (48, 48): both
// walks count 3, the pair code is 3 * 4 | 1 = 13 in 7 bits. A point on the background walks
// nowhere, nor does one outside the image: their pairs are the 2-bit code 00. The reference
// centre takes part in no pair.
const AbacCase kAbac[] = {
    {"one_point", {Point(48, 16, 2)}, {}},
    {"loop_and_delta", {Point(48, 16, 2), Point(48, 48, 8)}, {13}},
    {"centre_skipped", {Point(48, 16, 2), Point(30, 30, 16), Point(48, 48, 8)}, {13}},
    {"both_walks_fail", {Point(1, 1, 2), Point(94, 62, 8)}, {0}},
    {"with_background_point", {Point(48, 16, 2), Point(48, 48, 8), Point(1, 1, 1)}, {13, 0}},
    {"point_outside_the_image", {Point(48, 16, 2), Point(5000, -7, 8)}, {0}},
};

class Abac : public ::testing::TestWithParam<AbacCase> {};

TEST_P(Abac, RidgeCountsBetweenSingularPoints)
{
    Ridges r(96, 64);
    for (int y = 24; y <= 40; y += 8) {
        r.Line(2, y, 93, y);
    }
    Codex& e = r.Load(8, 0);
    const AbacCase& c = GetParam();
    e.m_singular = static_cast<int>(c.points.size());
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        e.m_sign[i] = c.points[i];
    }
    e.Epilog(-1);
    EXPECT_EQ(Section(e, 180, 2), c.abac);
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        const bool inside = c.points[i].x < r.w && c.points[i].y >= 0;
        // The fixture's uniform level and quality; a point outside keeps its bytes.
        EXPECT_EQ(e.m_sign[i].level, inside ? 48 : 0);
        EXPECT_EQ(e.m_sign[i].quality, inside ? 40 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Epilog, Abac, ::testing::ValuesIn(kAbac),
                         [](const auto& p) { return std::string(p.param.name); });

struct AreaCase {
    const char* name;
    int w0, h0;     // level-0 size; level 3 is an eighth of it
    int paperCells; // level-3 cells from the top-left, in scan order, whose level-1 pixels
                    // carry the paper bit; -1 for every cell
    std::vector<unsigned char> runs;
};

void PrintTo(const AreaCase& c, std::ostream* os)
{
    *os << c.name;
}

// Cells whose level-1 pixels have bit 0 or 6 form the first state of the runs.
const AreaCase kArea[] = {
    {"all_first_state_255", 136, 120, -1, {255}},
    {"all_first_state_256", 128, 128, -1, {255, 0, 1}},
    {"all_first_state_510", 240, 136, -1, {255, 0, 255}},
    {"first_cell_other", 96, 64, 0, {0, 96}},
    {"three_then_rest", 96, 64, 3, {3, 93}},
};

class Area : public ::testing::TestWithParam<AreaCase> {};

TEST_P(Area, RunLengthsOfTheLevel3Mask)
{
    const AreaCase& c = GetParam();
    Ridges r(c.w0, c.h0);
    Codex& e = r.Load(8, 0);
    const int w1 = e.m_level[1].width;
    const int w3 = e.m_level[3].width;
    unsigned char* fg = e.GetLay(128, 1);
    for (int y = 0; y < e.m_level[1].height; ++y) {
        for (int x = 0; x < w1; ++x) {
            const int cell = (y / 4) * w3 + x / 4;
            fg[y * w1 + x] = c.paperCells < 0 || cell < c.paperCells ? 1 : 32;
        }
    }
    e.Epilog(-1);
    const std::vector<unsigned char> area = Section(e, 182, 4);
    ASSERT_GE(area.size(), 4u);
    EXPECT_EQ(area[0] | area[1] << 8, w3);
    EXPECT_EQ(area[2] | area[3] << 8, e.m_level[3].height);
    EXPECT_EQ(std::vector<unsigned char>(area.begin() + 4, area.end()), c.runs);

    // The record reader gives the mask back: the first state 0x40, the other 0x20.
    const std::vector<unsigned char> rec = zftest::WrittenRecord(e);
    ESK::Unwrap* reader = ESK::Unwrap::create();
    ASSERT_NE(reader, nullptr);
    reader->versor(ESK::ESK_ACCESS_CODE);
    const int h3 = e.m_level[3].height;
    std::vector<unsigned char> mask(static_cast<std::size_t>(w3) * h3);
    EXPECT_EQ(reader->dearea(mask.data(), rec.data()), static_cast<unsigned>(h3 << 16 | w3));
    for (int i = 0; i < w3 * h3; ++i) {
        ASSERT_EQ(mask[i], c.paperCells < 0 || i < c.paperCells ? 0x40 : 0x20) << i;
    }
    ESK::Unwrap::cancel(reader);
}

INSTANTIATE_TEST_SUITE_P(Epilog, Area, ::testing::ValuesIn(kArea),
                         [](const auto& p) { return std::string(p.param.name); });

// Sections never pass their layers: the bit stream refuses the first bit beyond its capacity,
// and a mask whose cells alternate in scan order, so that its runs need more bytes than
// level 3 has cells, fails with the
// extractor's code.
TEST(Epilog, SectionsStayInsideTheirLayers)
{
    Ridges r(64, 64);
    Codex& e = r.Load(8, 0);
    unsigned char buf[3] = {0, 0, 0xAB};
    e.BitStart(buf, 2);
    e.PutBits(0xFFFF, 16);
    EXPECT_THROW(e.PutBits(1, 1), int);
    EXPECT_EQ(buf[2], 0xAB);
    EXPECT_EQ(e.BitBytes(), 2u);

    const int w1 = e.m_level[1].width;
    unsigned char* fg = e.GetLay(128, 1);
    for (int y = 0; y < e.m_level[1].height; ++y) {
        for (int x = 0; x < w1; ++x) {
            fg[y * w1 + x] = (((y / 4) * e.m_level[3].width + x / 4) & 1) != 0 ? 1 : 32;
        }
    }
    try {
        e.Epilog(-1);
        ADD_FAILURE() << "no code thrown";
    } catch (int code) {
        EXPECT_EQ(code, WZ_RECORD_FULL);
    }
}

// The shared prints through the whole engine and the record writer: the record decodes back
// through the reader with every minutia linked, the ridge counts of the singular pairs and the
// level-3 mask as the cells vote; a second run of the same image writes the same bytes.
TEST(SharedPrints, RecordsDecodeThroughTheReader)
{
    if (zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm").empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    for (const char* name :
         {"fvc2002_db1_b/101_1.pgm", "fvc2002_db1_b/104_5.pgm", "fvc2002_db1_b/108_2.pgm"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> first;
        for (int run = 0; run < 2; ++run) {
            auto l = zftest::LoadShared(name);
            ASSERT_EQ(l.code, 0);
            Codex& e = *l.engine;
            ASSERT_TRUE(zftest::RunThroughEpilog(e));
            const std::vector<unsigned char> rec = zftest::WrittenRecord(e);
            if (run == 1) {
                EXPECT_EQ(rec, first);
                break;
            }
            first = rec;
            ESK::Unwrap* r = ESK::Unwrap::create();
            ASSERT_NE(r, nullptr);
            r->versor(ESK::ESK_ACCESS_CODE);
            ASSERT_TRUE(r->verify(rec.data()));
            ASSERT_TRUE(r->defend(rec.data()));
            const unsigned n = r->idnova(rec.data());
            EXPECT_EQ(n, e.m_minutiae);
            EXPECT_GT(n, 10u);
            std::vector<ESK::Sign> points(n + 1);
            std::vector<ESK::Link> links(n + 1);
            EXPECT_EQ(r->denova(points.data(), rec.data()), n);
            EXPECT_EQ(
                r->denest(links.data(), points.data(), static_cast<unsigned short>(n), rec.data()),
                n);
            int pairs = 0;
            for (int i = 0; i < e.m_singular; ++i) {
                for (int j = i + 1; j < e.m_singular; ++j) {
                    pairs += e.m_sign[i].type != 16 && e.m_sign[j].type != 16 ? 1 : 0;
                }
            }
            std::vector<unsigned char> abac(4 * e.m_section[2] + 4);
            EXPECT_EQ(static_cast<int>(r->deabac(abac.data(), rec.data())), pairs);
            const int w3 = e.m_level[3].width;
            const int h3 = e.m_level[3].height;
            std::vector<unsigned char> mask(static_cast<std::size_t>(w3) * h3);
            ASSERT_EQ(r->dearea(mask.data(), rec.data()), static_cast<unsigned>(h3 << 16 | w3));
            const int w1 = e.m_level[1].width;
            const int h1 = e.m_level[1].height;
            const unsigned char* fg = e.GetLay(128, 1);
            for (int y = 0; y < h3; ++y) {
                for (int x = 0; x < w3; ++x) {
                    int vote = 0;
                    // The last block of a row or column is shifted back inside.
                    const int x0 = Codex::BlockStart(x, 4, w1);
                    const int y0 = Codex::BlockStart(y, 4, h1);
                    for (int yy = y0; yy < y0 + 4; ++yy) {
                        for (int xx = x0; xx < x0 + 4; ++xx) {
                            vote += (fg[yy * w1 + xx] & 65) == 0 ? 1 : -1;
                        }
                    }
                    ASSERT_EQ(mask[static_cast<std::size_t>(y) * w3 + x], vote < 1 ? 0x40 : 0x20)
                        << x << "," << y;
                }
            }
            ESK::Unwrap::cancel(r);
        }
    }
}

} // namespace
