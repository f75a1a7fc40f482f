// The corner checks of the segmentation tests.

#include "tests/segmentation/seg_checks.h"

namespace segtest {

bool Holds(const SgmRect& r, int x, int y)
{
    const int xs[4] = {r.x1, r.x2, r.x4, r.x3};
    const int ys[4] = {r.y1, r.y2, r.y4, r.y3};
    int positive = 0;
    int negative = 0;
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        const long cross = static_cast<long>(xs[j] - xs[i]) * (y - ys[i]) -
                           static_cast<long>(ys[j] - ys[i]) * (x - xs[i]);
        positive += cross > 0 ? 1 : 0;
        negative += cross < 0 ? 1 : 0;
    }
    return positive == 0 || negative == 0;
}

bool Inside(const SgmRect& r, unsigned w, unsigned h)
{
    const int xs[4] = {r.x1, r.x2, r.x3, r.x4};
    const int ys[4] = {r.y1, r.y2, r.y3, r.y4};
    for (int i = 0; i < 4; ++i) {
        if (xs[i] < 0 || ys[i] < 0 || xs[i] >= static_cast<int>(w) ||
            ys[i] >= static_cast<int>(h)) {
            return false;
        }
    }
    return true;
}

} // namespace segtest
