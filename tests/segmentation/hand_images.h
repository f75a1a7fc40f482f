// Synthetic hands for the palm tests: a palm block, four fingers as rounded bars with two
// light creases each and a thumb leaning out at the side, ridge texture on light paper, at
// 500 dpi proportions; and two blobs side by side for the thumbs and palms segmenters.
#pragma once

#include <vector>

namespace handtest {

// A rounded bar from (x1, y1) to (x2, y2) with half-width hw: a finger, a thumb or a palm.
struct Bar {
    double x1;
    double y1;
    double x2;
    double y2;
    double hw;
};

// Fingers of the right hand as drawn in the 2000 x 2000 image: index to little, left to right.
extern const Bar kRightFingers[4];

// The 2000 x 2000 hand: a right hand (thumb on the left, fingers right of the palm's middle),
// or its mirror image, a left hand.
std::vector<unsigned char> Hand(bool mirrored);
constexpr int HAND_SIDE = 2000;

// w x h paper with ridge-textured bars.
std::vector<unsigned char> Bars(int w, int h, const std::vector<Bar>& bars);

} // namespace handtest
