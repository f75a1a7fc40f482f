// Finger selector: quality bytes of the probe and gallery prefixes, and the comparison order
// they give. Equal keys keep their position order (any order of equal keys would do).

#include "search/Fs.h"

#include "records/TemplateFormat.h"

#include <algorithm>

namespace accelMatch {

int Fs::loadTemplate(unsigned n, TemplateData* td, Quality* q, int& count)
{
    // 1. Cleared before any test.
    std::fill(q, q + 10, Quality{});
    // 2. Arguments.
    if (n < 1 || n > 10) {
        return MA_ERR_FINGER_COUNT;
    }
    if (td == nullptr) {
        return MA_ERR_NULL;
    }
    // 3. One entry per position that holds a template.
    for (unsigned i = 0; i < n; ++i) {
        const int position = td[i].finger;
        const unsigned char* tpl = td[i].tpl;
        if (position < 1 || position > 10 || tpl == nullptr) {
            continue;
        }
        const std::uint8_t quality = tpl[TF_PREFIX_QUALITY];
        q[position - 1] = {static_cast<std::uint8_t>(position), quality,
                           tpl[TF_PREFIX_MINUTIA_COUNT], tpl[TF_PREFIX_RELIABLE_COUNT], quality};
    }
    // 4. The side's count.
    count = static_cast<int>(n);
    return 0;
}

int Fs::loadTemplate1(unsigned n, TemplateData* td)
{
    return loadTemplate(n, td, m_probe, m_probeCount);
}

int Fs::loadTemplate2(unsigned n, TemplateData* td)
{
    return loadTemplate(n, td, m_gallery, m_galleryCount);
}

unsigned Fs::getBestPairs(unsigned* out, MATCHING_MODE mode) const
{
    // 1. Nothing offered while either side is empty.
    std::fill(out, out + 10, 0u);
    if (m_probeCount == 0 || m_galleryCount == 0) {
        return 0;
    }
    struct Candidate {
        unsigned finger;
        int key;
    };
    Candidate candidates[10];
    for (int i = 0; i < 10; ++i) {
        const Quality& p = m_probe[i];
        const Quality& g = m_gallery[i];
        if (mode == MM_FINGER_MIX) {
            // 2. Probe fingers by probe quality.
            candidates[i] = {p.finger <= 10 ? p.finger : 0u, p.key};
        } else if (p.finger == g.finger) {
            // 3. Positions on both sides by the sum of both qualities.
            candidates[i] = {p.finger <= 10 ? p.finger : 0u, p.key + g.key};
        } else {
            candidates[i] = {0, 0};
        }
    }
    // 4. Best first.
    std::stable_sort(candidates, candidates + 10,
                     [](const Candidate& a, const Candidate& b) { return a.key > b.key; });
    // 5. The filled candidates among the first min(counts).
    const int limit = std::min(m_probeCount, m_galleryCount);
    unsigned written = 0;
    for (int i = 0; i < limit && i < 10; ++i) {
        if (candidates[i].finger != 0) {
            out[written++] = candidates[i].finger;
        }
    }
    return written;
}

} // namespace accelMatch
