// Small synthetic prints for the matcher tests: minutiae at chosen places, optional links,
// an all-inside mask, loaded into a matcher as probe and gallery.
#pragma once

#include "matching/Matcher100.h"
#include "tests/support/template_writer.h"

#include <memory>
#include <vector>

namespace zftest {

// One minutia: position, angle in whole degrees (stored in 2-degree units), type, quality.
struct MinutiaPoint {
    int x = 0;
    int y = 0;
    int angle = 0;
    int type = 0;
    int quality = 40;
};

// A record of 512 x 512 pixels, density 80 (distance unit 10), 17 link rings, mask all
// inside, with these minutiae and links (links[i]: those of minutia i).
RecordPlan PlanOf(const std::vector<MinutiaPoint>& minutiae,
                  const std::vector<std::vector<LinkPlan>>& links = {});

// A matcher with the default transition matrix and both sides loaded (asserts success).
std::unique_ptr<accelMatch::Matcher100> LoadedMatcher(const RecordPlan& p, const RecordPlan& g);

// Expects the quadrants kept at loading (linkQuadrant) to equal getQuadrant for every
// minutia and neighbour of both loaded sides.
void ExpectLoadedQuadrants(accelMatch::Matcher100& m);

} // namespace zftest
