// Finger templates re-written from real ones with seeded changes: every minutia moved and
// turned, some dropped, links kept between the survivors (their distances follow the new
// positions; optionally in other slots), through the template writer. Strong changes make a new
// identity out of a real print; light ones make a new impression of the same finger.
#pragma once

#include "tests/support/template_writer.h"

#include <cstdint>

namespace zftest {

struct Perturbation {
    int move;    // largest shift in pixels
    int turn;    // largest turn in degrees
    int dropOne; // one minutia in dropOne is dropped
    bool relink; // links move to random free slots of their minutia
};

inline constexpr Perturbation kNewIdentity{30, 60, 5, true};
inline constexpr Perturbation kNewImpression{3, 5, 10, false};

// The plan of a finger template as the reader decodes it; false when it cannot be read.
bool DecodePlan(const Bytes& tpl, RecordPlan& plan);

// A changed copy of tpl (empty when tpl cannot be read).
Bytes Perturbed(const Bytes& tpl, std::uint32_t seed, const Perturbation& p);

} // namespace zftest
