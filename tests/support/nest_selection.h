// The part of a finger comparison that picks its starting nest pairs, for tests and
// benchmarks of the matcher core: the per-match reset at speed level 0, the signature pass
// over all nest pairs and the full comparison of those whose signatures agree best (leaving
// the best-nest list sorted), then the virtual-size set of the seeds.
#pragma once

#include "matching/Matcher100.h"

namespace zftest {

// Fills the matcher's best-nest list for the loaded sides (rotation limit 50).
void SelectBestNests(accelMatch::Matcher100& m);

// SelectBestNests, then the seeds that kernel building would start from.
void ChooseSeeds(accelMatch::Matcher100& m);

} // namespace zftest
