// Construction and loading of the finger matcher: parameters, validation codes, the record
// copy limit, singular points and masks, minutia counts, weights and the type-1 shift, and
// the pair lengths of a loaded side.

#include "matching/Matcher100.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace accelMatch;

TEST(MatcherLoad, SampleRecordLoadsOnBothSides)
{
    auto m = std::make_unique<Matcher100>();
    zftest::Bytes tpl = zftest::BuildTemplate(zftest::SampleRecord());
    ASSERT_EQ(m->loadTemplate(true, tpl.data(), FP_PLAIN, nullptr, 0, 0), 0);
    ASSERT_EQ(m->loadTemplate(false, tpl.data(), FP_PLAIN, nullptr, 0, 0), 0);
    EXPECT_EQ(m->m_numNestP, 12);
    EXPECT_EQ(m->m_numNestG, 12);
    EXPECT_EQ(m->m_numSingularP, 3);
    EXPECT_EQ(m->m_areaWidthP, 32);
    EXPECT_EQ(m->m_areaHeightP, 40);
    EXPECT_EQ(m->m_distUnit, 52 / 8);
}

} // namespace
