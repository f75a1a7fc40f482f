// Fake finger templates and the comparer that scores them from a table.

#include "tests/search/fake_fingers.h"

#include "records/TemplateFormat.h"

#include <new>

namespace searchtest {

FakeRecord::FakeRecord(const std::vector<Finger>& fingers)
{
    for (const Finger& f : fingers) {
        std::array<unsigned char, 32>& b = m_bytes[f.position - 1];
        b[TF_PREFIX_QUALITY] = static_cast<unsigned char>(f.quality);
        b[TF_PREFIX_MINUTIA_COUNT] = 30;
        b[TF_PREFIX_RELIABLE_COUNT] = 20;
        b[kIdentityByte] = static_cast<unsigned char>(f.identity);
        m_record.finger[f.position - 1] = b.data();
    }
}

void FakeRecord::reject(int position, int code)
{
    m_bytes[position - 1][kRejectByte] = static_cast<unsigned char>(-code - 400);
}

int FakeComparer::loadProbeFinger(int position, unsigned char* tpl, accelMatch::FP_TYPE,
                                  unsigned char*, int, int)
{
    if (tpl[kRejectByte] != 0) {
        return -400 - tpl[kRejectByte];
    }
    m_probeIdentity[position - 1] = tpl[kIdentityByte];
    return 0;
}

int FakeComparer::matchGalleryFinger(int position, unsigned char* tpl, accelMatch::FP_TYPE, int,
                                     int, accelMatch::MatchResult& r)
{
    comparisons.push_back({position, tpl[kIdentityByte]});
    if (matchFailure != 0) {
        return matchFailure;
    }
    const auto it = m_scores.find({m_probeIdentity[position - 1], tpl[kIdentityByte]});
    r.score = it == m_scores.end() ? 0 : it->second;
    return 0;
}

accelMatch::Compare100_TT* FakeVerifier::makeComparer()
{
    return new (std::nothrow) FakeComparer(m_scores);
}

accelMatch::SearchParam Params(accelMatch::MATCHING_MODE mode)
{
    return {0, 180, 180, 400, 0, 10000, 1, 10, mode, 0};
}

} // namespace searchtest
