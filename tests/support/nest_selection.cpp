// Best-nest selection as a finger comparison runs it, at speed level 0.

#include "tests/support/nest_selection.h"

#include <algorithm>

namespace zftest {

void SelectBestNests(accelMatch::Matcher100& m)
{
    accelMatch::MatchResult r;
    m.setParameters(50, 0);
    m.initNewMatch(r);
    m.setDistErrorLevel(2);
    m.m_transitionLimit = 4;
    const int* p = m.m_speedRow;
    const int s = m.compareAllNestAccel();
    const unsigned n = std::min(static_cast<unsigned>(p[1]) * static_cast<unsigned>(s) / 100,
                                static_cast<unsigned>(p[2]));
    std::uint8_t threshold = m.getSimThreshold(static_cast<int>(n), m.m_accelHistogram);
    threshold = std::max<std::uint8_t>(threshold, static_cast<std::uint8_t>(p[0]));
    threshold = std::max<std::uint8_t>(threshold, 1);
    m.setDistErrorLevel(4);
    m.compareBestNests(threshold);
}

void ChooseSeeds(accelMatch::Matcher100& m)
{
    SelectBestNests(m);
    const int* p = m.m_speedRow;
    unsigned k = m.m_numBestNests * static_cast<unsigned>(p[4]) / 100;
    k = std::min({k, m.m_numBestNests, static_cast<unsigned>(p[5])});
    m.setDistErrorLevel(0);
    m.chooseBestNests(k, static_cast<unsigned>(p[6]));
}

} // namespace zftest
