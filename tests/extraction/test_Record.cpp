// Record writer: engine state filled directly gives byte for byte the record that the test
// writer builds from the same content, which the reader decodes back (points, links, mask);
// empty lists; and refusals instead of overruns (tiny pyramid, oversized or missing sections,
// coordinates the head cannot describe).

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/Unwrap.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace wizard73;
using zftest::Bytes;
using zftest::RecordPlan;

constexpr int FINAL_STAGE = 22;

// An engine whose pyramid and lists hold plan's content, as stages 8 to 22 would leave it.
std::unique_ptr<Codex> EngineFor(const RecordPlan& plan)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(plan.sizeX, plan.sizeY);
    e->NewDoc();
    e->m_stage = FINAL_STAGE;
    e->m_finger = plan.finger;
    e->m_imgppi = plan.imgppi;
    e->m_tplppi = plan.tplppi;
    e->m_qualit = plan.quality;
    e->m_densit = static_cast<unsigned char>(plan.density - TF_DENSITY_BIAS);
    e->m_immask = plan.immask;
    e->m_kind = plan.kind;
    e->m_passxy = plan.passxy;
    e->m_passan = plan.passan;
    e->m_linkno = plan.linkno;
    auto toSign = [](const zftest::PointPlan& p) {
        SSign s{};
        s.x = p.x;
        s.y = p.y;
        s.type = p.type;
        s.level = p.level;
        s.quality = p.quality;
        s.angle = p.angle;
        return s;
    };
    e->m_singular = static_cast<int>(plan.singular.size());
    for (std::size_t k = 0; k < plan.singular.size(); ++k) {
        e->m_sign[k] = toSign(plan.singular[k]);
    }
    SSign* list = reinterpret_cast<SSign*>(e->GetLay(176, 1));
    for (std::size_t k = 0; k < plan.minutiae.size(); ++k) {
        const SSign s = toSign(plan.minutiae[k]);
        std::memcpy(list + k, &s, sizeof s);
    }
    e->m_minutiae = static_cast<std::uint16_t>(plan.minutiae.size());
    // The sections of stages 21 and 22, in their layers.
    const zftest::Sections s = zftest::EncodeSections(plan);
    struct Target {
        int section, id, level;
    };
    for (const Target& t :
         {Target{TF_ABAC, 180, 3}, Target{TF_AREA, 182, 3}, Target{TF_NEST, 179, 1}}) {
        const Bytes& b = s[static_cast<std::size_t>(t.section)];
        if (!b.empty()) {
            std::memcpy(e->GetLay(t.id, t.level), b.data(), b.size());
        }
        e->m_section[t.section] = static_cast<std::uint32_t>(b.size());
    }
    return e;
}

// GetSize then ExGold into a buffer of exactly the announced length.
Bytes Write(Codex& e)
{
    int size = 0;
    e.GetSize(size);
    Bytes out(static_cast<std::size_t>(size), 0xEE);
    e.ExGold(out.data());
    return out;
}

// A pyramid side for which level 3 holds plan's area mask.
RecordPlan EmptyPlan()
{
    RecordPlan plan;
    plan.area.w = 32;
    plan.area.h = 40;
    plan.area.outside.assign(32 * 40, 0);
    return plan;
}

TEST(RecordWriter, WritesTheSameBytesAsTheReferenceEncoder)
{
    const RecordPlan plan = zftest::SampleRecord();
    auto e = EngineFor(plan);
    const Bytes written = Write(*e);
    EXPECT_EQ(written, zftest::BuildRecord(plan));
    EXPECT_TRUE(e->VerMod(const_cast<unsigned char*>(written.data())));
}

TEST(RecordWriter, RecordDecodesBackThroughTheReader)
{
    const RecordPlan plan = zftest::SampleRecord();
    auto e = EngineFor(plan);
    const Bytes rec = Write(*e);
    ESK::Unwrap* r = ESK::Unwrap::create();
    ASSERT_NE(r, nullptr);
    r->versor(ESK::ESK_ACCESS_CODE);
    ASSERT_TRUE(r->verify(rec.data()));
    ASSERT_TRUE(r->defend(rec.data()));
    std::vector<ESK::Sign> points(300);
    std::vector<ESK::Link> links(300);
    const unsigned n = r->idnova(rec.data());
    EXPECT_EQ(n, plan.minutiae.size());
    EXPECT_EQ(r->denova(points.data(), rec.data()), n);
    EXPECT_EQ(r->denest(links.data(), points.data(), static_cast<unsigned short>(n), rec.data()),
              n);
    for (std::size_t k = 0; k < n; ++k) {
        SCOPED_TRACE(k);
        const ESK::Sign p = points[k]; // packed fields are compared by value
        const int x = p.x;
        const int y = p.y;
        EXPECT_EQ(x, plan.minutiae[k].x);
        EXPECT_EQ(y, plan.minutiae[k].y);
        EXPECT_EQ(p.type, plan.minutiae[k].type);
        EXPECT_EQ(p.quality, plan.minutiae[k].quality);
    }
    EXPECT_EQ(r->demain(points.data(), rec.data()), plan.singular.size());
    EXPECT_EQ(r->size_x(rec.data()), plan.sizeX);
    EXPECT_EQ(r->size_y(rec.data()), plan.sizeY);
    EXPECT_EQ(r->densit(rec.data()), plan.density);
    ESK::Unwrap::cancel(r);
}

TEST(RecordWriter, EmptyListsGiveHeadOnlySections)
{
    RecordPlan plan = EmptyPlan();
    auto e = EngineFor(plan);
    const Bytes rec = Write(*e);
    EXPECT_EQ(rec, zftest::BuildRecord(plan));
    const int area = static_cast<int>(zftest::EncodeArea(plan.area).size());
    EXPECT_EQ(rec[TF_MAIN_LEN], 4);
    EXPECT_EQ(TfRead16(rec.data() + TF_NOVA_LEN), 4);
    EXPECT_EQ(TfRead16(rec.data() + TF_ABAC_LEN), 0);
    EXPECT_EQ(TfRead32(rec.data() + TF_NEST_LEN), 3u);
    EXPECT_EQ(TfRead32(rec.data()), static_cast<std::uint32_t>(67 + 4 + 4 + area + 3 + 4));
}

TEST(RecordWriter, LevelWidthIsZeroWhenEveryLevelIsZero)
{
    const SSign points[2] = {{100, 200, 2, 0, 30, 10, 0, 0}, {300, 50, 8, 0, 30, 10, 0, 0}};
    unsigned widths[TF_POINT_FIELD_COUNT] = {0, 0, 5, 7, 6, 8, 0, 0};
    unsigned char out[64] = {};
    const int n = Codex::EnFeat(out, sizeof out, points, 2, widths);
    EXPECT_EQ(widths[TF_FIELD_LEVEL], 0u);
    EXPECT_EQ(widths[TF_FIELD_X], 9u);
    EXPECT_EQ(widths[TF_FIELD_Y], 8u);
    EXPECT_EQ(out[1] >> 4, 0); // nibble 3 of the head
    EXPECT_EQ(n, (32 + 2 * (9 + 8 + 5 + 0 + 6 + 8) + 7) / 8);
}

// State that must be refused: the record would overrun a layer or lie about a section.
struct RefusalCase {
    const char* name;
    void (*damage)(Codex& e);
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

const RefusalCase kRefusals[] = {
    {"nest_larger_than_its_layer", [](Codex& e) { e.m_section[TF_NEST] = e.m_level[1].size + 1; }},
    {"area_size_without_its_layer",
     [](Codex& e) {
         e.DelLay(182, 3);
         e.m_section[TF_AREA] = 10;
     }},
    {"negative_coordinate",
     [](Codex& e) {
         e.m_sign[0].x = -1; // its bit length would not fit the head's nibble
     }},
    {"sixteen_points_on_a_tiny_pyramid",
     [](Codex& e) {
         // 64 x 64 pixels: level 3 has 64 bytes, less than 16 points need.
         e.SetGeo(64, 64);
         e.NewDoc();
         e.m_section[TF_ABAC] = e.m_section[TF_AREA] = e.m_section[TF_NEST] = 0;
         e.m_minutiae = 0;
         e.m_singular = 16;
         for (int k = 0; k < 16; ++k) {
             e.m_sign[k] = SSign{60 - k, 60 - k, 2, 40, 60, 90, 0, 0};
         }
     }},
};

class RecordRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RecordRefusal, ThrowsInsteadOfOverrunning)
{
    auto e = EngineFor(zftest::SampleRecord());
    GetParam().damage(*e);
    int size = 0;
    try {
        e->GetSize(size);
        FAIL() << "no refusal";
    } catch (int code) {
        EXPECT_EQ(code, WZ_RECORD_FULL);
    }
    EXPECT_EQ(size, 0);
}

INSTANTIATE_TEST_SUITE_P(Writer, RecordRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(RecordWriter, ExIndiReportsTheCountAndCopiesThePoints)
{
    auto e = EngineFor(zftest::SampleRecord());
    int count = -1;
    e->ExIndi(nullptr, count);
    EXPECT_EQ(count, 3);
    SSign out[16] = {};
    e->ExIndi(reinterpret_cast<unsigned char*>(out), count);
    EXPECT_EQ(out[2].x, 60);
    EXPECT_EQ(out[2].type, TF_SP_DELTA);
}

} // namespace
