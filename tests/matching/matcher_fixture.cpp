// Synthetic prints for the matcher tests.

#include "tests/matching/matcher_fixture.h"

#include <gtest/gtest.h>

namespace zftest {

RecordPlan PlanOf(const std::vector<MinutiaPoint>& minutiae,
                  const std::vector<std::vector<LinkPlan>>& links)
{
    RecordPlan plan;
    plan.density = 80;
    plan.linkno = 17;
    plan.sizeX = 512;
    plan.sizeY = 512;
    for (const MinutiaPoint& m : minutiae) {
        PointPlan p;
        p.x = m.x;
        p.y = m.y;
        p.type = static_cast<std::uint8_t>(m.type);
        p.quality = static_cast<std::uint8_t>(m.quality);
        p.angle = static_cast<std::uint8_t>(((m.angle % 360 + 360) % 360) / 2);
        plan.minutiae.push_back(p);
    }
    plan.links = links;
    plan.area.w = 64;
    plan.area.h = 64;
    plan.area.outside.assign(64 * 64, 0);
    return plan;
}

std::unique_ptr<accelMatch::Matcher100> LoadedMatcher(const RecordPlan& p, const RecordPlan& g)
{
    accelMatch::setDefaultTransitionMatrix();
    auto m = std::make_unique<accelMatch::Matcher100>();
    Bytes tp = BuildTemplate(p);
    Bytes tg = BuildTemplate(g);
    EXPECT_EQ(m->loadTemplate(true, tp.data(), accelMatch::FP_PLAIN, nullptr, 0, 0), 0);
    EXPECT_EQ(m->loadTemplate(false, tg.data(), accelMatch::FP_PLAIN, nullptr, 0, 0), 0);
    return m;
}

} // namespace zftest
