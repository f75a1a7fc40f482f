// Ten-finger records of real prints, made once per test process: the NIST card's rolled prints
// (R), its plain prints of the same fingers (S: plain thumbs and the fingers cut from the two
// slaps), and two impostor records of ten prints of other people at positions 1..10 (FVC2002
// DB1 set B and MINEX). A record that cannot be made has no fingers.
#pragma once

#include "interface/ZelvanFinger.h"
#include "tests/support/print_templates.h"

#include <array>
#include <initializer_list>
#include <vector>

namespace zftest {

// Owns the finger templates of one record; record() points into them.
struct RealRecord {
    std::array<Template, 10> fingers;
    int count() const;
    TpTemplate record();
    // The same fingers at other positions: finger p goes to position to[p - 1].
    RealRecord moved(const std::array<int, 10>& to) const;
};

const RealRecord& Rolled();    // R
const RealRecord& Plain();     // S
const RealRecord& FvcOthers(); // ten FVC fingers 101..110, impression 1
const RealRecord& MinexOthers();

// Positions after mirroring the four fingers of the hands (2 with 10, 3 with 9, ...), and
// after also swapping the thumbs.
extern const std::array<int, 10> kMirrorHands;
extern const std::array<int, 10> kMirrorHandsSwapThumbs;

// FVC2002 DB1 set B impression `impression` (1..8) of finger `finger` (101..110) as a template
// of finger position 1; empty when the data is absent. Made once per process.
const Template& FvcTemplate(int finger, int impression);
// Impressions 1..`impressions` of each of `fingers`, finger by finger; empty when any is absent.
std::vector<Template> FvcTemplates(std::initializer_list<int> fingers, int impressions);

} // namespace zftest
