// Seeded synthetic finger templates (see synthetic_prints.h).

#include "tests/support/synthetic_prints.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zftest {
namespace {

struct Lcg {
    std::uint32_t s;
    std::uint32_t Next(std::uint32_t n)
    {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    }
};

constexpr int kLinkno = 8; // 17 slots for type 0, 15 for type 1

// Links of every minutia: the nearest neighbours within 140 pixels, in a slot of the band
// of their distance on the side of the minutia's direction they lie.
void LinkPlan_(RecordPlan& plan)
{
    const std::size_t n = plan.minutiae.size();
    plan.links.assign(n, {});
    for (std::size_t i = 0; i < n; ++i) {
        const PointPlan& a = plan.minutiae[i];
        std::vector<std::pair<int, std::size_t>> near;
        for (std::size_t j = 0; j < n; ++j) {
            const int dx = plan.minutiae[j].x - a.x;
            const int dy = plan.minutiae[j].y - a.y;
            const int d = static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
            if (j != i && d < 140) {
                near.push_back({d, j});
            }
        }
        std::sort(near.begin(), near.end());
        const int first = a.type == 1 ? 1 : 3;
        const int slots = a.type == 1 ? 2 * kLinkno - 1 : 2 * kLinkno + 1;
        std::vector<bool> used(static_cast<std::size_t>(slots), false);
        for (const auto& [d, j] : near) {
            const PointPlan& b = plan.minutiae[j];
            const double rel = std::atan2(b.y - a.y, b.x - a.x) * 180.0 / M_PI - 2.0 * a.angle;
            const double r = std::fmod(rel + 720.0, 360.0);
            const int band = std::min(d / 35, 3);
            const int slot =
                first + 4 * band + (r < 180.0 ? 2 : 0) + (static_cast<int>(r) % 180 < 90 ? 0 : 1);
            if (slot >= slots || used[static_cast<std::size_t>(slot)]) {
                continue;
            }
            used[static_cast<std::size_t>(slot)] = true;
            plan.links[i].push_back({slot, 3, static_cast<std::uint16_t>(j), 0});
        }
    }
}

} // namespace

RecordPlan SyntheticPlan(std::uint32_t seed, int count)
{
    Lcg rng{seed * 2654435761u + 12345u};
    RecordPlan plan = SampleRecord();
    plan.linkno = kLinkno;
    plan.quality = static_cast<std::uint8_t>(50 + rng.Next(40));
    plan.ridgeCounts.clear();
    plan.minutiae.clear();
    for (int i = 0; i < count; ++i) {
        PointPlan p;
        p.x = 40 + static_cast<int>(rng.Next(220));
        p.y = 40 + static_cast<int>(rng.Next(280));
        p.type = static_cast<std::uint8_t>(rng.Next(2));
        p.quality = static_cast<std::uint8_t>(20 + rng.Next(40));
        p.angle = static_cast<std::uint8_t>(rng.Next(180));
        plan.minutiae.push_back(p);
    }
    LinkPlan_(plan);
    return plan;
}

Bytes SyntheticFinger(std::uint32_t seed, int finger)
{
    RecordPlan plan = SyntheticPlan(seed);
    plan.finger = static_cast<std::uint8_t>(finger);
    return BuildTemplate(plan);
}

} // namespace zftest
