// Seeded changes of real finger templates (see perturbed_records.h).

#include "tests/support/perturbed_records.h"

#include "records/Unwrap.h"

#include <vector>

namespace zftest {
namespace {

struct Lcg {
    std::uint32_t s;
    int Between(int lo, int hi)
    {
        s = s * 1664525u + 1013904223u;
        return lo + static_cast<int>((s >> 8) % static_cast<std::uint32_t>(hi - lo + 1));
    }
};

} // namespace

bool DecodePlan(const Bytes& tpl, RecordPlan& plan)
{
    if (tpl.size() < 21) {
        return false;
    }
    ESK::Unwrap* r = ESK::Unwrap::create();
    if (r == nullptr) {
        return false;
    }
    r->versor(ESK::ESK_ACCESS_CODE);
    const unsigned char* rec = tpl.data() + 21;
    const unsigned n = r->idnova(rec);
    std::vector<ESK::Lot<short>> m(n + 1);
    std::vector<ESK::Link> links(n + 1);
    std::vector<ESK::Lot<short>> sp(200);
    std::vector<unsigned char> area(262144);
    bool ok = r->verify(rec) && r->denova(m.data(), rec) == n;
    ok = ok && r->denest(links.data(), m.data(), static_cast<unsigned short>(n), rec) == n;
    const unsigned wh = ok ? r->dearea(area.data(), rec) : 0;
    if (ok && wh != 0) {
        plan = RecordPlan{};
        plan.finger = r->finger(rec);
        plan.quality = r->qualit(rec);
        plan.sizeX = r->size_x(rec);
        plan.sizeY = r->size_y(rec);
        const unsigned ns = r->demain(sp.data(), rec);
        for (unsigned i = 0; i < ns; ++i) {
            plan.singular.push_back({sp[i].x, sp[i].y, sp[i].type, sp[i].level, sp[i].quality,
                                     static_cast<std::uint8_t>(sp[i].angle / 2)});
        }
        plan.links.resize(n);
        for (unsigned i = 0; i < n; ++i) {
            plan.minutiae.push_back({m[i].x, m[i].y, m[i].type, m[i].level, m[i].quality,
                                     static_cast<std::uint8_t>(m[i].angle / 2)});
            for (int s = 0; s < links[i].count; ++s) {
                const ESK::LinkSlot& l = links[i].slot[s];
                if (l.code != 0) {
                    plan.links[i].push_back({s, l.code, l.neighbour, l.extra});
                }
            }
        }
        plan.area.w = static_cast<std::uint16_t>(wh & 0xFFFF);
        plan.area.h = static_cast<std::uint16_t>(wh >> 16);
        for (unsigned k = 0; k < static_cast<unsigned>(plan.area.w) * plan.area.h; ++k) {
            plan.area.outside.push_back(area[k] == 0x40 ? 1 : 0);
        }
    }
    ESK::Unwrap::cancel(r);
    return ok && wh != 0;
}

Bytes Perturbed(const Bytes& tpl, std::uint32_t seed, const Perturbation& p)
{
    RecordPlan plan;
    if (!DecodePlan(tpl, plan)) {
        return {};
    }
    Lcg rng{seed * 2246822519u + 3266489917u};
    // 1. Survivors and their new indices.
    std::vector<int> index(plan.minutiae.size(), -1);
    RecordPlan out = plan;
    out.minutiae.clear();
    out.links.clear();
    for (std::size_t i = 0; i < plan.minutiae.size(); ++i) {
        if (rng.Between(0, p.dropOne - 1) == 0) {
            continue;
        }
        index[i] = static_cast<int>(out.minutiae.size());
        PointPlan m = plan.minutiae[i];
        m.x = std::max(0, m.x + rng.Between(-p.move, p.move));
        m.y = std::max(0, m.y + rng.Between(-p.move, p.move));
        m.angle =
            static_cast<std::uint8_t>((m.angle + 180 + rng.Between(-p.turn, p.turn) / 2) % 180);
        out.minutiae.push_back(m);
    }
    // 2. Links between survivors.
    for (std::size_t i = 0; i < plan.minutiae.size(); ++i) {
        if (index[i] < 0) {
            continue;
        }
        std::vector<LinkPlan> kept;
        const int slots = plan.minutiae[i].type == 1 ? 2 * plan.linkno - 1 : 2 * plan.linkno + 1;
        std::vector<bool> used(static_cast<std::size_t>(slots), false);
        for (LinkPlan l : plan.links[i]) {
            if (l.neighbour < index.size() && index[l.neighbour] >= 0) {
                l.neighbour = static_cast<std::uint16_t>(index[l.neighbour]);
                if (p.relink) {
                    l.slot = rng.Between(0, slots - 1);
                    if (used[static_cast<std::size_t>(l.slot)]) {
                        continue;
                    }
                }
                used[static_cast<std::size_t>(l.slot)] = true;
                kept.push_back(l);
            }
        }
        out.links.push_back(kept);
    }
    out.ridgeCounts.clear();
    return BuildTemplate(out);
}

} // namespace zftest
