// Seeded synthetic finger templates for gallery tests: random minutiae on a finger-sized
// area, each linked to its nearest neighbours in slots chosen from the link's ridge-count band
// and side (so a turned copy keeps its links), written with the template writer. No
// std::uniform_int_distribution: the same seed gives the same bytes everywhere.
#pragma once

#include "tests/support/template_writer.h"

#include <cstdint>

namespace zftest {

// Plan of a synthetic finger: `count` minutiae drawn from `seed`.
RecordPlan SyntheticPlan(std::uint32_t seed, int count = 40);

// Template of SyntheticPlan(seed) at finger position `finger`.
Bytes SyntheticFinger(std::uint32_t seed, int finger = 1);

} // namespace zftest
