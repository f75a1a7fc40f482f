// Construction and loading of the finger matcher: the codes of refused templates (layout,
// size, singular points, masks), what a refused side keeps, minutia counts beyond 255, weights,
// wide flags and the type-1 shift, and the pair lengths of a loaded side.

#include "matching/Matcher100.h"
#include "tests/matching/matcher_fixture.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace accelMatch;
using zftest::Bytes;
using zftest::MinutiaPoint;
using zftest::RecordPlan;

TEST(MatcherLoad, SampleRecordLoadsOnBothSides)
{
    auto m = std::make_unique<Matcher100>();
    Bytes tpl = zftest::BuildTemplate(zftest::SampleRecord());
    ASSERT_EQ(m->loadTemplate(true, tpl.data(), FP_PLAIN, nullptr, 0, 0), 0);
    ASSERT_EQ(m->loadTemplate(false, tpl.data(), FP_LATENT, nullptr, 0, 0), 0);
    EXPECT_EQ(m->m_numNestP, 12);
    EXPECT_EQ(m->m_numNestG, 12);
    EXPECT_EQ(m->m_numSingularP, 3);
    EXPECT_EQ(m->m_areaWidthP, 32);
    EXPECT_EQ(m->m_areaHeightP, 40);
    EXPECT_EQ(m->m_qualityG, 73);
    EXPECT_EQ(m->m_patternMaskG, 0x05);
    EXPECT_EQ(m->m_typeG, FP_LATENT);
    EXPECT_EQ(m->m_distUnit, 52 / 8);
    EXPECT_EQ(m->m_kernelGroups[7].m_distUnit, 52 / 8);
}

// A minutia type beyond 1 (a wider type field in the section head) is kept by the decoder
// and goes through matching and scoring; the links it reads take the type 0 tables.
TEST(MatcherLoad, MinutiaTypesBeyondOneAreMatched)
{
    for (const int type : {2, 3, 255}) {
        SCOPED_TRACE(type);
        RecordPlan plan = zftest::SampleRecord();
        plan.minutiae[2].type = static_cast<std::uint8_t>(type);
        plan.minutiae[6].type = static_cast<std::uint8_t>(type);
        auto m = zftest::LoadedMatcher(plan, plan);
        EXPECT_EQ(m->m_minutiaeP[2].type, type);
        EXPECT_EQ(m->m_minutiaeG[6].type, type);
        MatchResult r;
        ASSERT_EQ(m->match(r, 180, 0, false, nullptr, nullptr, 0, false), 0);
        EXPECT_GT(r.score, 0);
        EXPECT_LE(r.score, 10000);
    }
}

// The record of a template with `pad` zero bytes more in its area section (pairs of empty
// runs, which change no cell).
Bytes PaddedTemplate(const RecordPlan& plan, std::size_t pad)
{
    zftest::Sections s = zftest::EncodeSections(plan);
    Bytes& area = s[TF_AREA];
    area.insert(area.begin() + TF_AREA_HEAD_SIZE, pad, 0);
    return zftest::WrapTemplate(plan, zftest::AssembleRecord(plan, s));
}

RecordPlan WithSingularPoints(int n)
{
    RecordPlan plan = zftest::SampleRecord();
    plan.singular.assign(static_cast<std::size_t>(n), zftest::PointPlan{0, 0, TF_SP_LOOP, 0, 0, 0});
    plan.ridgeCounts.assign(static_cast<std::size_t>(n * (n - 1) / 2), 0);
    return plan;
}

TEST(MatcherLoad, RefusedTemplates)
{
    struct Case {
        const char* name;
        Bytes tpl;
    };
    Bytes layout74 = zftest::BuildTemplate(zftest::SampleRecord());
    layout74[TF_PREFIX_SIZE + TF_VERSOR] = 74;
    {
        Bytes rec(layout74.begin() + TF_PREFIX_SIZE, layout74.end());
        zftest::Seal(rec);
        std::copy(rec.begin(), rec.end(), layout74.begin() + TF_PREFIX_SIZE);
    }
    RecordPlan bigMask = zftest::SampleRecord();
    bigMask.area.w = 5;
    bigMask.area.h = 52429; // 262,145 cells
    bigMask.area.outside.assign(5u * 52429u, 0);
    const RecordPlan sample = zftest::SampleRecord();
    const std::size_t sampleSize = zftest::BuildRecord(sample).size();
    Bytes damaged = zftest::BuildTemplate(sample);
    damaged[damaged.size() - 10] ^= 0x55; // seal broken
    Bytes longer = zftest::BuildTemplate(sample);
    TfWrite32(longer.data() + TF_PREFIX_SIZE, static_cast<std::uint32_t>(sampleSize + 100));
    const Case cases[] = {
        {"layout byte 74", layout74},
        {"record longer than its template", longer},
        {"65 singular points", zftest::BuildTemplate(WithSingularPoints(65))},
        {"262,145-cell mask", zftest::BuildTemplate(bigMask)},
        {"record of 25,580 bytes", PaddedTemplate(sample, 25580 - sampleSize)},
        {"record one byte above the reader's limit",
         PaddedTemplate(sample, TF_MAX_RECORD_SIZE + 1 - sampleSize)},
        {"broken seal", damaged},
    };
    auto m = std::make_unique<Matcher100>();
    Bytes good = zftest::BuildTemplate(sample);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool isP : {true, false}) {
            ASSERT_EQ(m->loadTemplate(isP, good.data(), FP_PLAIN, nullptr, 0, 0), 0);
            Bytes t = c.tpl;
            EXPECT_EQ(m->loadTemplate(isP, t.data(), FP_PLAIN, nullptr, 0, 0),
                      isP ? MA_ERR_BAD_PROBE : MA_ERR_BAD_GALLERY);
            // A refused side keeps nothing to compare.
            EXPECT_EQ(isP ? m->m_numNestP : m->m_numNestG, 0);
            EXPECT_EQ(m->compareAllNestAccel(), 0);
        }
    }
    EXPECT_EQ(m->loadTemplate(true, nullptr, FP_PLAIN, nullptr, 0, 0), MA_ERR_NULL);
}

TEST(MatcherLoad, LargestRecordsAndSingularPoints)
{
    const RecordPlan sample = zftest::SampleRecord();
    const std::size_t sampleSize = zftest::BuildRecord(sample).size();
    auto m = std::make_unique<Matcher100>();
    Bytes largest = PaddedTemplate(sample, TF_MAX_RECORD_SIZE - sampleSize);
    EXPECT_EQ(m->loadTemplate(true, largest.data(), FP_PLAIN, nullptr, 0, 0), 0);
    EXPECT_EQ(m->m_numNestP, 12);
    Bytes many = zftest::BuildTemplate(WithSingularPoints(64));
    ASSERT_EQ(m->loadTemplate(false, many.data(), FP_PLAIN, nullptr, 0, 0), 0);
    EXPECT_EQ(m->m_numSingularG, MAX_SINGULAR);
}

TEST(MatcherLoad, CallerMasks)
{
    struct Case {
        int w, h;
        int code;
    };
    const Case cases[] = {{512, 512, 0},
                          {5, 52429, MA_ERR_BAD_PROBE},
                          {0, 10, MA_ERR_BAD_PROBE},
                          {10, -1, MA_ERR_BAD_PROBE},
                          {70000, 1, MA_ERR_BAD_PROBE},
                          {1, 1, 0}};
    auto m = std::make_unique<Matcher100>();
    std::vector<unsigned char> mask(262144, TF_CELL_INSIDE);
    Bytes tpl = zftest::BuildTemplate(zftest::SampleRecord());
    for (const Case& c : cases) {
        EXPECT_EQ(m->loadTemplate(true, tpl.data(), FP_PLAIN, mask.data(), c.w, c.h), c.code)
            << c.w << " x " << c.h;
        if (c.code == 0) {
            EXPECT_EQ(m->m_areaP, mask.data());
            EXPECT_EQ(m->m_areaWidthP, c.w);
            EXPECT_EQ(m->m_areaHeightP, c.h);
        }
    }
}

TEST(MatcherLoad, MinutiaeBeyond255)
{
    std::vector<MinutiaPoint> points;
    for (int k = 0; k < 300; ++k) {
        points.push_back({10 + 13 * (k % 30), 10 + 40 * (k / 30), (k * 7) % 360, 0, 40});
    }
    // Minutia 0 links to 1 (13 pixels away) and to 290, which the matcher does not keep.
    std::vector<std::vector<zftest::LinkPlan>> links(1);
    links[0] = {{0, 1, 1, 0}, {2, 2, 290, 0}};
    RecordPlan plan = zftest::PlanOf(points, links);
    plan.linkno = 1;
    auto m = zftest::LoadedMatcher(plan, plan);
    EXPECT_EQ(m->m_numNestP, 255);
    // The link to 290 counts nowhere: one signature bit, one hit.
    EXPECT_EQ(compNestAccel(m->m_accelP[0], m->m_accelP[0]), 1u);
    m->setDistErrorLevel(2);
    m->compNestsAlt(0, 0, 0, 0);
    EXPECT_EQ(m->m_scratchHit.m_numItems, 1);
    EXPECT_EQ(m->m_scratchHit.m_items[0].nP, 1);
    EXPECT_GE(m->m_capacityP, 300);
    // The minutia array holds every decoded point.
    EXPECT_EQ(int{m->m_minutiaeP[299].x}, 10 + 13 * 29);
    EXPECT_EQ(int{m->m_minutiaeP[299].y}, 10 + 40 * 9);
    // Pair lengths are symmetric; directions are opposite.
    for (int i = 0; i < 255; i += 17) {
        for (int j = 0; j < 255; j += 13) {
            if (i == j) {
                continue;
            }
            EXPECT_EQ(m->m_pairSetP.getLen(i, j), m->m_pairSetP.getLen(j, i));
            EXPECT_EQ(wrap180(m->m_pairSetP.getAngle(i, j) + 180), m->m_pairSetP.getAngle(j, i));
        }
    }
}

TEST(MatcherLoad, WeightsWideFlagsAndTheTypeOneShift)
{
    const std::vector<MinutiaPoint> points = {
        {100, 100, 0, 1, 40},          // ending, angle 0: 5 pixels towards negative x
        {200, 100, 90, 1, 0x40 | 30},  // ending, angle 90: towards negative y; wide
        {300, 100, 0, 0, 0x80 | 41},   // halved quality
        {400, 100, 45, 1, 0xC0 | 63}}; // both bits; stored as 44 degrees: back (-3.6, -3.5)
    auto m = zftest::LoadedMatcher(zftest::PlanOf(points), zftest::PlanOf(points));
    const int want[][5] = {{95, 100, 40, 0}, {200, 95, 30, 1}, {300, 100, 20, 0}, {396, 97, 31, 1}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(int{m->m_minutiaeP[k].x}, want[k][0]);
        EXPECT_EQ(int{m->m_minutiaeP[k].y}, want[k][1]);
        EXPECT_EQ(m->m_qualityWeightP[k], want[k][2]);
        EXPECT_EQ(m->m_wideP[k], want[k][3]);
    }
}

} // namespace
