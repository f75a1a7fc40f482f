// Known-correspondence copies of a finger template for matcher tests: every minutia turned
// about the image centre and shifted, on a larger canvas, with links, singular points and
// ridge counts unchanged and a mask all inside. Minutia i of the copy is minutia i of the
// source. Needs the record reader (link zf_records).
#pragma once

#include "tests/support/print_templates.h"

namespace zftest {

// Margin added on every side of the copy's canvas, so that turned minutiae stay on it.
constexpr int COPY_MARGIN = 100;

// Where a source point (x, y) lands in the copy: turned by theta degrees (from +x towards
// +y) about the source image centre (w / 2, h / 2), shifted by (dx, dy), plus the margin.
void CopiedPoint(int w, int h, int theta, int dx, int dy, double x, double y, double& outX,
                 double& outY);

// The copy of a whole finger template (prefix and record); empty when the source is empty
// or cannot be read. Minutia angles turn by theta (to the nearest stored 2-degree unit).
Template TurnedCopy(const Template& source, int theta, int dx, int dy);

} // namespace zftest
