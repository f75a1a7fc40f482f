// Finger selector: orders the finger positions of a record comparison by the quality bytes of
// the finger templates' prefixes (never the records), best first, so that an early stop on the
// fused score rests on the most reliable fingers. Answers 0 or the -4xx matching codes.
#pragma once

#include "matching/MatchTypes.h"
#include "platform/export.h"

#include <cstdint>

namespace accelMatch {

// One finger of a record as the comparison hands it on: position 1..10 (0 = empty entry) and
// its finger template (null = none).
struct TemplateData {
    int finger;
    unsigned char* tpl;
};

// One finger side entry: position 0 means empty.
struct Quality {
    std::uint8_t finger;
    std::uint8_t quality;  // prefix byte 14
    std::uint8_t minutiae; // prefix byte 11, low byte of the minutia count
    std::uint8_t reliable; // prefix byte 13
    int key;               // prefix byte 14 as the sort key
};

class ZF_EXPORT Fs {
public:
    Fs() = default;

    // Clears all ten entries of q, then (n in 1..10: else -402; td not null: else -422) fills
    // q[position - 1] from every entry of td[0..n-1] with a position 1..10 and a template; a
    // later entry of the same position wins. count = n.
    static int loadTemplate(unsigned n, TemplateData* td, Quality* q, int& count);
    int loadTemplate1(unsigned n, TemplateData* td); // probe side
    int loadTemplate2(unsigned n, TemplateData* td); // gallery side

    // Writes up to ten finger positions into out[0..9] (the rest zero) in comparison order
    // and returns how many. Finger mix (1) ranks the probe fingers by probe quality; every
    // other mode ranks the positions present on both sides by the sum of their qualities.
    unsigned getBestPairs(unsigned* out, MATCHING_MODE mode) const;

private:
    Quality m_probe[10] = {};
    Quality m_gallery[10] = {};
    int m_probeCount = 0;
    int m_galleryCount = 0;
};

} // namespace accelMatch
