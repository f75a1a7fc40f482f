// Record comparison with fixed finger scores: fake finger templates carry a quality (prefix
// byte 14) and an identity, and a comparer whose finger comparisons look the score of each
// (probe identity, gallery identity) pair up in a table instead of matching prints.
#pragma once

#include "search/Compare100_TT.h"
#include "search/Ma100_TT.h"

#include <array>
#include <map>
#include <utility>
#include <vector>

namespace searchtest {

constexpr int kIdentityByte = 16; // which finger a fake template stands for
constexpr int kRejectByte = 17;   // non-zero: the probe load refuses it with that negated code

// A record of fake finger templates; positions without a finger stay null.
class FakeRecord {
public:
    // fingers: {position, identity, quality}.
    struct Finger {
        int position;
        int identity;
        int quality;
    };
    explicit FakeRecord(const std::vector<Finger>& fingers);
    FakeRecord(const FakeRecord&) = delete;
    FakeRecord& operator=(const FakeRecord&) = delete;

    // Makes the probe load of position refuse this finger with -code.
    void reject(int position, int code);
    TpTemplate& record() { return m_record; }

private:
    std::array<std::array<unsigned char, 32>, 10> m_bytes = {};
    TpTemplate m_record = {};
};

// Score of each (probe identity, gallery identity) pair; pairs not listed score 0.
using ScoreTable = std::map<std::pair<int, int>, int>;

// One finger comparison as the comparer made it: probe position, gallery identity.
struct Comparison {
    int position;
    int gallery;
    bool operator==(const Comparison& o) const
    {
        return position == o.position && gallery == o.gallery;
    }
};

class FakeComparer : public accelMatch::Compare100_TT {
public:
    explicit FakeComparer(const ScoreTable& scores) : m_scores(scores) {}

    std::vector<Comparison> comparisons; // every finger comparison, in order
    int matchFailure = 0;                // when non-zero, every gallery match answers it

protected:
    int loadProbeFinger(int position, unsigned char* tpl, accelMatch::FP_TYPE type,
                        unsigned char* area, int width, int height) override;
    int matchGalleryFinger(int position, unsigned char* tpl, accelMatch::FP_TYPE type, int maxAngle,
                           int speed, accelMatch::MatchResult& r) override;

private:
    const ScoreTable& m_scores;
    int m_probeIdentity[10] = {};
};

// A verifier whose comparer is a FakeComparer.
class FakeVerifier : public accelMatch::Ma100_TT {
public:
    explicit FakeVerifier(const ScoreTable& scores) : m_scores(scores) {}

protected:
    accelMatch::Compare100_TT* makeComparer() override;

private:
    const ScoreTable& m_scores;
};

// The verification parameters: full speed, 180 degrees, rank weights, ten fingers.
accelMatch::SearchParam Params(accelMatch::MATCHING_MODE mode = accelMatch::MM_POSITIONAL);

} // namespace searchtest
