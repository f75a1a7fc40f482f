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

void ExpectLoadedQuadrants(accelMatch::Matcher100& m)
{
    for (const bool ofP : {true, false}) {
        const int n = ofP ? m.m_numNestP : m.m_numNestG;
        const ESK::Sign* minutiae = ofP ? m.m_minutiaeP : m.m_minutiaeG;
        const ESK::Link* links = ofP ? m.m_linksP : m.m_linksG;
        int wrong = 0;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                bool flag = false;
                int rcWant = 0;
                const int want = m.getQuadrant(0, &minutiae[i], &links[i], j, flag, rcWant, 0);
                int rc = 99;
                const int q = m.linkQuadrant(ofP, i, j, rc);
                if (q != want || rc != rcWant) {
                    ADD_FAILURE() << (ofP ? "probe " : "gallery ") << i << " -> " << j << ": " << q
                                  << "/" << rc << " for " << want << "/" << rcWant;
                    if (++wrong == 5) {
                        return;
                    }
                }
            }
        }
    }
}

} // namespace zftest
