// Readers of the engine's own record output: the nest stream decoded back block by block, the
// area section decoded into a mask and into the pyramid, the ridge counts of every minutia with
// every singular point carried through the record, and the trace from a point to the next ridge.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/TemplateFormat.h"
#include "records/Unwrap.h"
#include "tests/extraction/engine/ridge_fixture.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using wizard73::Codex;
using wizard73::SCoor;
using wizard73::SSign;

// Reads a section written like abac: a 2-bit 0 for no count, else 7 bits of a pair code.
std::vector<int> PairCodes(const unsigned char* at, std::size_t bytes)
{
    std::vector<int> codes;
    std::size_t bit = 0;
    auto get = [&](int width) {
        int v = 0;
        for (int b = 0; b < width; ++b, ++bit) {
            v |= ((at[bit >> 3] >> (bit & 7)) & 1) << b;
        }
        return v;
    };
    while (bit + 2 <= 8 * bytes) {
        const int c = get(2);
        if (c == 0) {
            codes.push_back(-1);
        } else if (bit + 5 <= 8 * bytes) {
            codes.push_back(c | get(5) << 2);
        } else {
            break;
        }
    }
    return codes;
}

class SharedRecord : public ::testing::TestWithParam<const char*> {};

TEST_P(SharedRecord, EngineReadersRoundTrip)
{
    const std::string name = GetParam();
    if (zftest::SharedData("fingerprints/" + name).empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    auto l = zftest::LoadShared(name);
    ASSERT_EQ(l.code, 0);
    Codex& e = *l.engine;
    ASSERT_TRUE(zftest::RunThroughEpilog(e));
    // The ridge counts of every minutia with every singular point, through the record.
    e.m_section[TF_RCNT] = static_cast<std::uint32_t>(e.Rcount());
    const std::vector<unsigned char> rec = zftest::WrittenRecord(e);
    ESK::Unwrap* r = ESK::Unwrap::create();
    ASSERT_NE(r, nullptr);
    r->versor(ESK::ESK_ACCESS_CODE);
    ASSERT_TRUE(r->verify(rec.data()));
    const unsigned n = r->idnova(rec.data());
    ASSERT_EQ(n, e.m_minutiae);
    std::vector<ESK::Sign> points(n + 1);
    std::vector<ESK::Link> links(n + 1);
    ASSERT_EQ(r->denova(points.data(), rec.data()), n);
    ASSERT_EQ(r->denest(links.data(), points.data(), static_cast<unsigned short>(n), rec.data()),
              n);

    {
        SCOPED_TRACE("rcnt");
        const SSign* list = e.MinutiaList();
        std::vector<int> expected;
        for (unsigned i = 0; i < n; ++i) {
            for (int j = 0; j < e.m_singular; ++j) {
                if (e.m_sign[j].type != 16) {
                    expected.push_back(e.Rcount(list[i], e.m_sign[j]));
                }
            }
        }
        const std::uint32_t len = TfRead16(rec.data() + TF_RCNT_LEN);
        const std::uint32_t off = TfRead32(rec.data() + TF_I_RCNT_OFF);
        EXPECT_EQ(len, e.m_section[TF_RCNT]);
        std::size_t bits = 0;
        for (int v : expected) {
            bits += v < 0 ? 2 : 7;
        }
        EXPECT_EQ(len, (bits + 7) / 8);
        std::vector<int> got = PairCodes(rec.data() + off, len);
        got.resize(expected.size()); // the spare bits of the last byte read as extra codes
        EXPECT_EQ(got, expected);
        EXPECT_EQ(TfRead32(rec.data() + TF_I_AREA_OFF), off + len);
    }

    {
        SCOPED_TRACE("nest");
        e.LiPrep(1, 0);
        EXPECT_EQ(e.m_fine[1], e.GetLay(5, 0));
        EXPECT_EQ(e.m_coarse[0], e.GetLay(179, 1));
        const SSign* list = e.MinutiaList();
        for (unsigned k = 0; k < n; ++k) {
            const int got = e.Parser(list[k].x, list[k].y);
            ASSERT_GE(got, 0);
            ASSERT_LE(got, static_cast<int>(k)); // the first of minutiae at one position
            if (got != static_cast<int>(k)) {
                continue;
            }
            const int slots = list[k].type == 1 ? 2 * e.m_liRings - 1 : 2 * e.m_liRings + 1;
            for (int s = 0; s < slots; ++s) {
                const ESK::LinkSlot want = links[k].slot[s]; // packed: read by value
                const unsigned code = want.code;
                const int neighbour = want.neighbour;
                EXPECT_EQ(e.m_linkCode[17][s], code) << k << ":" << s;
                if (code != 0) {
                    EXPECT_EQ(e.m_linkIndex[17][s], neighbour) << k << ":" << s;
                } else {
                    EXPECT_EQ(e.m_linkIndex[17][s], -1) << k << ":" << s;
                }
            }
        }
    }

    {
        SCOPED_TRACE("area");
        const int w3 = e.m_level[3].width;
        const int h3 = e.m_level[3].height;
        const unsigned cells = static_cast<unsigned>(w3 * h3);
        std::vector<unsigned char> want(cells);
        ASSERT_EQ(r->dearea(want.data(), rec.data()), static_cast<unsigned>(h3 << 16 | w3));
        std::vector<unsigned char> got(cells, 0);
        ASSERT_EQ(e.DeArea(got.data(), cells, rec.data()), 0);
        EXPECT_EQ(got, want);
        EXPECT_EQ(e.DeArea(got.data(), cells - 1, rec.data()), wizard73::WZ_RECORD_FULL);
        ASSERT_EQ(e.DeArea(rec.data()), 0);
        EXPECT_EQ(zftest::LayerCopy(e, 130, 3), want);
        for (int lv = 2; lv >= 1; --lv) {
            const wizard73::CLevel& fl = e.m_level[lv];
            const wizard73::CLevel& cl = e.m_level[lv + 1];
            const std::vector<unsigned char> fine = zftest::LayerCopy(e, 130, lv);
            const std::vector<unsigned char> coarse = zftest::LayerCopy(e, 130, lv + 1);
            for (int y = 0; y < fl.height; ++y) {
                for (int x = 0; x < fl.width; ++x) {
                    // Parent: the last clipped block covering the cell.
                    const int px = (fl.width & 1) != 0 && x == fl.width - 2 ? cl.width - 1 : x / 2;
                    const int py =
                        (fl.height & 1) != 0 && y == fl.height - 2 ? cl.height - 1 : y / 2;
                    ASSERT_EQ(fine[static_cast<std::size_t>(y) * fl.width + x],
                              coarse[static_cast<std::size_t>(py) * cl.width + px])
                        << lv << ": " << x << "," << y;
                }
            }
        }
        // One byte more in the stored length, or a layout other than 'I', does not decode.
        std::vector<unsigned char> longer = rec;
        TfWrite16(longer.data() + TF_AREA_LEN, TfRead16(rec.data() + TF_AREA_LEN) + 1);
        EXPECT_EQ(e.DeArea(got.data(), cells, longer.data()), wizard73::WZ_BAD_SECTION);
        std::vector<unsigned char> other = rec;
        other[TF_VERSOR] = 'N';
        EXPECT_EQ(e.DeArea(other.data()), wizard73::WZ_BAD_SECTION);
    }
    ESK::Unwrap::cancel(r);
}

INSTANTIATE_TEST_SUITE_P(Readers, SharedRecord,
                         ::testing::Values("fvc2002_db1_b/101_1.pgm", "fvc2002_db3_b/105_1.pgm"),
                         [](const auto& p) {
                             std::string s = p.param;
                             for (char& c : s) {
                                 c = (c == '/' || c == '.') ? '_' : c;
                             }
                             return s;
                         });

// Area sections built by hand: runs that stop short, pass the mask, or end in a spare byte.
struct AreaCase {
    const char* name;
    std::vector<unsigned char> runs; // after the 2 x 3 head
    int code;
    std::vector<unsigned char> cells;
};

constexpr unsigned char F = 0x40;
constexpr unsigned char O = 0x20;

const AreaCase kAreaCases[] = {
    {"runs", {2, 3, 1}, 0, {F, F, O, O, O, F}},
    {"zero_byte_switches", {0, 6}, 0, {O, O, O, O, O, O}},
    {"one_run", {6}, 0, {F, F, F, F, F, F}},
    {"stops_short", {2, 3}, wizard73::WZ_BAD_SECTION, {}},
    {"passes_the_mask", {2, 5}, wizard73::WZ_BAD_SECTION, {}},
    {"spare_byte", {6, 0}, wizard73::WZ_BAD_SECTION, {}},
    {"head_only", {}, wizard73::WZ_BAD_SECTION, {}},
};

class AreaSection : public ::testing::TestWithParam<AreaCase> {};

// A minimal layout 'I' record holding one area section of a 3 x 2 mask.
std::vector<unsigned char> AreaRecord(const std::vector<unsigned char>& runs, int w, int h)
{
    std::vector<unsigned char> rec(TF_HEADER_SIZE, 0);
    rec[TF_VERSOR] = TF_LAYOUT_I;
    const std::size_t off = rec.size();
    for (int v : {w & 255, w >> 8, h & 255, h >> 8}) {
        rec.push_back(static_cast<unsigned char>(v));
    }
    rec.insert(rec.end(), runs.begin(), runs.end());
    const std::size_t len = rec.size() - off;
    rec.resize(rec.size() + TF_SEAL_SIZE, 0);
    TfWrite32(rec.data() + TF_LENGTH, static_cast<std::uint32_t>(rec.size()));
    TfWrite16(rec.data() + TF_AREA_LEN, static_cast<std::uint16_t>(len));
    TfWrite32(rec.data() + TF_I_AREA_OFF, static_cast<std::uint32_t>(off));
    return rec;
}

TEST_P(AreaSection, DecodesExactlyOrRefuses)
{
    const AreaCase& c = GetParam();
    auto e = std::make_unique<Codex>();
    std::vector<unsigned char> out(6, 0);
    const std::vector<unsigned char> rec = AreaRecord(c.runs, 3, 2);
    EXPECT_EQ(e->DeArea(out.data(), 6, rec.data()), c.code);
    if (c.code == 0) {
        EXPECT_EQ(out, c.cells);
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, AreaSection, ::testing::ValuesIn(kAreaCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Readers, EmptyMaskDecodesOnlyFromItsOneRunByte)
{
    auto e = std::make_unique<Codex>();
    EXPECT_EQ(e->DeArea(nullptr, 0, AreaRecord({0}, 0, 5).data()), 0);
    EXPECT_EQ(e->DeArea(nullptr, 0, AreaRecord({0, 0}, 0, 5).data()), wizard73::WZ_BAD_SECTION);
    EXPECT_EQ(e->DeArea(nullptr, 0, AreaRecord({}, 0, 5).data()), wizard73::WZ_BAD_SECTION);
}

// Rtrace over the skeleton of three level ridges (y = 24, 32, 40): from a ridge point straight
// down (angle byte 170: 2 x 170 + 110 = 90 degrees) it stops on the next ridge; past the last
// ridge it runs into the background.
TEST(Readers, TraceStopsOnTheNextRidgeOrLeavesTheArea)
{
    zftest::Ridges r(96, 64);
    for (int y = 24; y <= 40; y += 8) {
        r.Line(2, y, 93, y);
    }
    Codex& e = r.Load(8, 0);
    e.m_singular = 0;
    e.Epilog(-1);
    SSign p{};
    p.x = 48;
    p.y = 24;
    p.angle = 170;
    SCoor at{-1, -1};
    EXPECT_EQ(e.Rtrace(at, p), 8);
    EXPECT_EQ(at.x, 48);
    EXPECT_EQ(at.y, 32);
    p.y = 40;
    EXPECT_EQ(e.Rtrace(at, p), -1);
    p.y = 32;
    p.angle = 80; // 270 degrees: up
    EXPECT_EQ(e.Rtrace(at, p), 8);
    EXPECT_EQ(at.y, 24);
}

} // namespace
