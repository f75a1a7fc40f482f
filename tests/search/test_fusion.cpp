// Score fusion by rank weights and by the two threshold averages, and the validity rule of the
// comparison parameters, as tables of cases.

#include "search/Compare100_TT.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using accelMatch::Compare100_TT;
using accelMatch::SearchParam;

struct FusionCase {
    const char* name;
    int method;
    int lowScore;
    int highScore;
    unsigned count;
    std::vector<int> scores; // ten finger scores (missing ones 0)
    int fused;
};

void PrintTo(const FusionCase& c, std::ostream* os)
{
    *os << c.name;
}

const FusionCase kFusion[] = {
    {"rank_two_among_zeros", 0, 0, 10000, 2, {0, 8000, 0, 6000}, 7040},
    {"rank_three_one_nonzero", 0, 0, 10000, 3, {0, 0, 9000}, 4050},
    {"rank_fifth_adds_nothing", 0, 0, 10000, 5, {9000, 9000, 9000, 9000, 9000}, 9000},
    {"rank_one_is_the_best", 0, 0, 10000, 1, {0, 0, 0, 7000, 2000}, 7000},
    {"rank_nothing_counted", 0, 0, 10000, 0, {5000}, 0},
    {"rank_capped", 0, 0, 10000, 2, {20000, 20000}, 10000},
    {"ascending_zero_at_low", 1, 0, 10000, 1, {0}, 0},
    {"ascending_low_band_first", 1, 3000, 10000, 3, {2000, 8000, 1000}, (8 * 1000 + 4 * 2000) / 12},
    {"ascending_middle_band", 1, 0, 10000, 2, {4000, 2000}, (8 * 2000 + 4 * 4000) / 12},
    {"ascending_zeros_counted", 1, 0, 10000, 4, {6000}, 0},
    {"descending_high_band", 2, 0, 5000, 3, {6000, 5500, 3000}, 5833},
    {"descending_middle_band", 2, 0, 10000, 2, {4000, 2000}, 3333},
    {"descending_four_of_five",
     2,
     0,
     1000,
     5,
     {2000, 3000, 4000, 5000, 6000},
     (8 * 6000 + 4 * 5000 + 2 * 4000 + 3000) / 15},
    {"descending_zero_below_low", 2, 100, 10000, 2, {0, 50}, (8 * 50 + 4 * 0) / 12},
};

class Fusion : public ::testing::TestWithParam<FusionCase> {};

TEST_P(Fusion, FusesTheFingerScores)
{
    const FusionCase& c = GetParam();
    SearchParam sp = {
        0, 180, 180, 400, c.lowScore, c.highScore, 1, 10, accelMatch::MM_POSITIONAL, c.method};
    std::vector<int> scores = c.scores;
    scores.resize(10, 0);
    const std::vector<int> before = scores;
    EXPECT_EQ(Compare100_TT::calcFusionScore(sp, 10, c.count, scores.data()), c.fused);
    EXPECT_EQ(scores, before);
}

INSTANTIATE_TEST_SUITE_P(Compare100_TT, Fusion, ::testing::ValuesIn(kFusion),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Compare100_TT, FusionRefusesANullArrayAndAnUnknownMethod)
{
    SearchParam sp = {0, 180, 180, 400, 0, 10000, 1, 10, accelMatch::MM_POSITIONAL, 0};
    EXPECT_EQ(Compare100_TT::calcFusionScore(sp, 10, 1, nullptr), accelMatch::MA_ERR_NULL);
    int scores[10] = {5000};
    sp.fusionMethod = 3;
    EXPECT_EQ(Compare100_TT::calcFusionScore(sp, 10, 1, scores), accelMatch::MA_ERR_SEARCH_PARAM);
}

struct ParamCase {
    const char* name;
    void (*change)(SearchParam&);
    bool valid;
};

void PrintTo(const ParamCase& c, std::ostream* os)
{
    *os << c.name;
}

const ParamCase kParams[] = {
    {"verification", [](SearchParam&) {}, true},
    {"high_above_10000", [](SearchParam& s) { s.highScore = 10001; }, false},
    {"low_above_10000", [](SearchParam& s) { s.lowScore = 10001; }, false},
    {"low_negative", [](SearchParam& s) { s.lowScore = -5; }, true},
    {"angle_negative", [](SearchParam& s) { s.maxAngle = -1; }, false},
    {"angle_181", [](SearchParam& s) { s.maxAngle = 181; }, false},
    {"thumbs_181", [](SearchParam& s) { s.maxAngleThumbs = 181; }, false},
    {"max_fingers_11", [](SearchParam& s) { s.maxFingers = 11; }, false},
    {"min_fingers_11", [](SearchParam& s) { s.minFingers = 11; }, false},
    {"speed_4", [](SearchParam& s) { s.matcherSpeed = 4; }, false},
    {"mode_7", [](SearchParam& s) { s.matchingMode = static_cast<accelMatch::MATCHING_MODE>(7); },
     true},
    {"reserved_any", [](SearchParam& s) { s.reserved = -77; }, true},
    {"fusion_2", [](SearchParam& s) { s.fusionMethod = 2; }, true},
    {"fusion_3", [](SearchParam& s) { s.fusionMethod = 3; }, false},
    {"fusion_negative", [](SearchParam& s) { s.fusionMethod = -1; }, false},
};

class Params : public ::testing::TestWithParam<ParamCase> {};

TEST_P(Params, FollowTheValidityRule)
{
    SearchParam sp = {0, 180, 180, 400, 0, 10000, 1, 10, accelMatch::MM_POSITIONAL, 0};
    GetParam().change(sp);
    EXPECT_EQ(Compare100_TT::checkSearchParam(sp), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Compare100_TT, Params, ::testing::ValuesIn(kParams),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
