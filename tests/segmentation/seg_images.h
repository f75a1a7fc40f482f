// Synthetic images for the segmentation tests: paper, noise, and fingers drawn as ellipses
// of sinusoidal ridges on white paper, at 500 dpi proportions.
#pragma once

#include <vector>

namespace segtest {

struct Finger {
    double cx; // centre of the ellipse
    double cy;
    double rx; // semi-axes
    double ry;
    double angle; // radians, 0 = upright, positive leaning right going down
};

// w x h image of the grey level paper.
std::vector<unsigned char> Blank(int w, int h, unsigned char paper = 255);

// w x h image of grey noise from a fixed seed.
std::vector<unsigned char> Noise(int w, int h, unsigned seed);

// Paper with one dark dot (0) per `sparsity` pixels on average, from a fixed seed.
std::vector<unsigned char> Dust(int w, int h, unsigned seed, unsigned sparsity);

// w x h white image with the fingers drawn as ridges of the given period (pixels).
std::vector<unsigned char> Fingers(int w, int h, const std::vector<Finger>& fingers,
                                   double period = 9.0);

} // namespace segtest
