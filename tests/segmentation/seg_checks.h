// Checks shared by the segmentation tests: decoding a WSQ print from a file and where the
// found quadrilaterals lie (around a point, inside the image).
#pragma once

#include "segmentation/FSeg.h"

#include <string>
#include <vector>

namespace segtest {

// Decodes a WSQ file; false when it cannot be read or decoded.
bool DecodeWsq(const std::string& path, std::vector<unsigned char>& pixels, int& w, int& h);

// True when (x, y) lies inside the quadrilateral of the four corners (corner order 1, 2, 4, 3
// runs round it).
bool Holds(const SgmRect& r, int x, int y);

// True when all four corners lie inside a w x h image.
bool Inside(const SgmRect& r, unsigned w, unsigned h);

} // namespace segtest
