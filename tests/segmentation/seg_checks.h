// Checks shared by the segmentation tests: where the found quadrilaterals lie (around a point,
// inside the image).
#pragma once

#include "segmentation/FSeg.h"

namespace segtest {

// True when (x, y) lies inside the quadrilateral of the four corners (corner order 1, 2, 4, 3
// runs round it).
bool Holds(const SgmRect& r, int x, int y);

// True when all four corners lie inside a w x h image.
bool Inside(const SgmRect& r, unsigned w, unsigned h);

} // namespace segtest
