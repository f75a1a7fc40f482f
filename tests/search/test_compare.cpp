// Record comparison with fixed finger scores: the comparison order, fusion after every finger,
// the early stops, the four pairing modes and the failure codes.

#include "tests/search/fake_fingers.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using accelMatch::MatchResultTT;
using accelMatch::SearchParam;
using searchtest::Comparison;
using searchtest::FakeComparer;
using searchtest::FakeRecord;
using searchtest::Params;
using searchtest::ScoreTable;

// A ten-finger record whose finger p has identity p and quality 40 + 5 p (so the comparison
// order is 10, 9, ..., 1).
std::vector<FakeRecord::Finger> TenFingers()
{
    std::vector<FakeRecord::Finger> f;
    for (int p = 1; p <= 10; ++p) {
        f.push_back({p, p, 40 + 5 * p});
    }
    return f;
}

// The same fingers with each hand's four fingers mirrored (finger 2 at position 10, ...).
std::vector<FakeRecord::Finger> MirroredFingers()
{
    static constexpr int kMirror[10] = {1, 10, 9, 8, 7, 6, 5, 4, 3, 2};
    std::vector<FakeRecord::Finger> f;
    for (int p = 1; p <= 10; ++p) {
        f.push_back({kMirror[p - 1], p, 40 + 5 * p});
    }
    return f;
}

// Own-finger scores 1000 p, nothing else matches.
ScoreTable OwnFingers()
{
    ScoreTable t;
    for (int p = 1; p <= 10; ++p) {
        t[{p, p}] = 1000 * p;
    }
    return t;
}

class CompareTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(comparer.init(nullptr), 0); }

    ScoreTable scores = OwnFingers();
    FakeComparer comparer{scores};
    MatchResultTT res = {};
};

TEST_F(CompareTest, PositionalComparesBestQualityFirstAndFusesEveryFinger)
{
    FakeRecord probe({{1, 1, 50}, {2, 2, 70}, {3, 3, 60}, {4, 4, 90}});
    FakeRecord gallery({{1, 1, 50}, {2, 2, 70}, {3, 3, 60}, {5, 5, 99}});
    scores = {{{1, 1}, 8000}, {{2, 2}, 6000}};
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params();
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(comparer.comparisons, (std::vector<Comparison>{{2, 2}, {3, 3}, {1, 1}}));
    EXPECT_EQ(res.numCompared, 3u);
    EXPECT_EQ(res.score, 45 * 80 + 40 * 60); // 8000, 6000, 0 weighed 45, 40, 15
    const int fingerScores[10] = {8000, 6000};
    const std::uint8_t galleryFingers[10] = {0, 1, 255, 255, 255, 255, 255, 255, 255, 255};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(res.fingerScore[i], fingerScores[i]) << i;
        EXPECT_EQ(res.galleryFinger[i], galleryFingers[i]) << i;
    }
}

struct StopCase {
    const char* name;
    int method;
    int lowScore;
    int highScore;
    unsigned minFingers;
    unsigned maxFingers;
    int firstScore; // score of the first finger compared (position 10)
    unsigned compared;
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

const StopCase kStops[] = {
    // Rank weights stop only on the finger count: a first finger scoring 0 goes on.
    {"rank_first_zero_goes_on", 0, 0, 10000, 1, 10, 0, 10},
    {"rank_at_high_goes_on", 0, 0, 5000, 1, 10, 9000, 10},
    {"rank_max_two", 0, 0, 10000, 1, 2, 0, 2},
    {"ascending_first_zero_stops", 1, 0, 10000, 1, 10, 0, 1},
    {"ascending_zero_before_min", 1, 0, 10000, 3, 10, 0, 3},
    {"descending_at_high_stops", 2, 0, 5000, 1, 10, 9000, 1},
    {"descending_between_goes_on", 2, 0, 9500, 1, 10, 9000, 10},
    {"descending_max_two", 2, -1, 10000, 1, 2, 9000, 2},
};

class Stops : public CompareTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(Stops, EndTheComparison)
{
    const StopCase& c = GetParam();
    scores = OwnFingers();
    scores[{10, 10}] = c.firstScore;
    FakeRecord probe(TenFingers());
    FakeRecord gallery(TenFingers());
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params();
    sp.fusionMethod = c.method;
    sp.lowScore = c.lowScore;
    sp.highScore = c.highScore;
    sp.minFingers = c.minFingers;
    sp.maxFingers = c.maxFingers;
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(res.numCompared, c.compared);
    EXPECT_EQ(comparer.comparisons.size(), c.compared);
    EXPECT_EQ(comparer.comparisons.front(), (Comparison{10, 10}));
}

INSTANTIATE_TEST_SUITE_P(Compare100_TT, Stops, ::testing::ValuesIn(kStops),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(CompareTest, SlapMixFindsTheMirroredHands)
{
    FakeRecord probe(TenFingers());
    FakeRecord mirrored(MirroredFingers());
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    // Positional mode finds only the thumbs.
    SearchParam sp = Params();
    ASSERT_EQ(comparer.matchTTEx(sp, mirrored.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(res.fingerScore[0] + res.fingerScore[5], 1000 + 6000);
    EXPECT_EQ(res.fingerScore[1] + res.fingerScore[9], 0);
    // Slap mix finds every finger, with the gallery index of the mirrored position.
    sp.matchingMode = accelMatch::MM_SLAP_MIX;
    ASSERT_EQ(comparer.matchTTEx(sp, mirrored.record(), res, accelMatch::FP_PLAIN), 0);
    const std::uint8_t galleryFingers[10] = {0, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(res.fingerScore[i], 1000 * (i + 1)) << i;
        EXPECT_EQ(res.galleryFinger[i], galleryFingers[i]) << i;
    }
    EXPECT_EQ(res.score, 30 * 100 + 30 * 90 + 30 * 80 + 10 * 70);
}

TEST_F(CompareTest, SlapMixKeepsTheMirroredResultOnAnEqualNonZeroScore)
{
    // Only the thumbs are in both records: both mappings score the same.
    FakeRecord probe({{1, 1, 50}, {6, 6, 60}});
    FakeRecord gallery({{1, 1, 50}, {6, 6, 60}});
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params(accelMatch::MM_SLAP_MIX);
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(res.score, 52 * 60 + 48 * 10);
    EXPECT_EQ(res.galleryFinger[1], 9); // the mirrored indices, though position 2 was not scored
    EXPECT_EQ(res.galleryFinger[9], 1);
    EXPECT_EQ(res.galleryFinger[0], 0);
}

TEST_F(CompareTest, FingerMixKeepsTheBestGalleryFingerOfEachProbeFinger)
{
    // One probe finger against three gallery fingers.
    FakeRecord probe({{3, 3, 50}});
    FakeRecord gallery({{2, 12, 50}, {3, 13, 50}, {7, 17, 50}});
    scores = {{{3, 12}, 2000}, {{3, 13}, 1000}, {{3, 17}, 4000}};
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params(accelMatch::MM_FINGER_MIX);
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(comparer.comparisons.size(), 3u);
    EXPECT_EQ(res.numCompared, 1u);
    EXPECT_EQ(res.fingerScore[2], 4000);
    EXPECT_EQ(res.galleryFinger[2], 6);
    EXPECT_EQ(res.score, 4000);
}

TEST_F(CompareTest, FingerMixAssignsEachGalleryFingerOnce)
{
    // Probe fingers 2 (quality 90) and 3 (80) both match gallery finger 4 best; the better
    // pair takes it and finger 3 falls back to its second choice.
    FakeRecord probe({{2, 2, 90}, {3, 3, 80}});
    FakeRecord gallery({{4, 4, 50}, {5, 5, 50}, {9, 9, 50}});
    scores = {{{2, 4}, 7000}, {{2, 9}, 1000}, {{3, 4}, 6000}, {{3, 5}, 3000}};
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params(accelMatch::MM_FINGER_MIX);
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(res.numCompared, 2u);
    EXPECT_EQ(res.fingerScore[1], 7000);
    EXPECT_EQ(res.galleryFinger[1], 3);
    EXPECT_EQ(res.fingerScore[2], 3000);
    EXPECT_EQ(res.galleryFinger[2], 4);
    EXPECT_EQ(res.score, (52 * 7000 + 48 * 3000) / 100);
}

TEST_F(CompareTest, HandMixDecidesFingersAndThumbsApart)
{
    // The gallery's hands are mirrored and its thumbs swapped.
    std::vector<FakeRecord::Finger> f = MirroredFingers();
    f[0].position = 6;
    f[5].position = 1;
    FakeRecord probe(TenFingers());
    FakeRecord gallery(f);
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params(accelMatch::MM_HAND_MIX);
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    const std::uint8_t galleryFingers[10] = {5, 9, 8, 7, 6, 0, 4, 3, 2, 1};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(res.fingerScore[i], 1000 * (i + 1)) << i;
        EXPECT_EQ(res.galleryFinger[i], galleryFingers[i]) << i;
    }
    EXPECT_EQ(res.numCompared, 10u);
    EXPECT_EQ(res.score, 30 * 100 + 30 * 90 + 30 * 80 + 10 * 70);
}

TEST_F(CompareTest, HandMixStopsBeforeTheThumbsAtMaxFingers)
{
    FakeRecord probe(TenFingers());
    FakeRecord gallery(TenFingers());
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params(accelMatch::MM_HAND_MIX);
    sp.maxFingers = 3;
    ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
    EXPECT_EQ(res.numCompared, 3u);
    for (const Comparison& c : comparer.comparisons) {
        EXPECT_TRUE(c.position != 1 && c.position != 6) << c.position;
    }
    EXPECT_EQ(res.fingerScore[0] + res.fingerScore[5], 0);
}

TEST_F(CompareTest, PartlyLoadedProbeIsUsableButItsRejectedFingerIsNeverCompared)
{
    FakeRecord probe({{2, 2, 50}, {7, 7, 60}});
    probe.reject(7, accelMatch::MA_ERR_BAD_PROBE);
    FakeRecord gallery({{2, 2, 50}, {7, 7, 60}});
    EXPECT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr),
              accelMatch::MA_ERR_PROBE_PARTLY_LOADED);
    for (accelMatch::MATCHING_MODE mode : {accelMatch::MM_POSITIONAL, accelMatch::MM_FINGER_MIX,
                                           accelMatch::MM_SLAP_MIX, accelMatch::MM_HAND_MIX}) {
        SCOPED_TRACE(mode);
        comparer.comparisons.clear();
        SearchParam sp = Params(mode);
        ASSERT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), 0);
        for (const Comparison& c : comparer.comparisons) {
            EXPECT_NE(c.position, 7);
        }
        EXPECT_EQ(res.fingerScore[1], 2000);
        EXPECT_EQ(res.fingerScore[6], 0);
    }
    // One finger at a time: the rejected position answers "not loaded", its score 0.
    SearchParam sp = Params();
    int score = 77;
    EXPECT_EQ(comparer.matchEx(sp, gallery.record().finger[6], score, FINGER_LEFT_INDEX, nullptr,
                               accelMatch::FP_PLAIN, false, nullptr, nullptr, 0, false),
              accelMatch::MA_ERR_PROBE_NOT_LOADED);
    EXPECT_EQ(score, 0);
}

TEST_F(CompareTest, ProbeLoadFailures)
{
    FakeRecord none({});
    EXPECT_EQ(comparer.loadTT(none.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr),
              accelMatch::MA_ERR_NOTHING_TO_COMPARE);
    FakeRecord bad({{1, 1, 50}, {4, 4, 50}});
    bad.reject(1, accelMatch::MA_ERR_MEMORY);
    bad.reject(4, accelMatch::MA_ERR_BAD_PROBE);
    EXPECT_EQ(comparer.loadTT(bad.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr),
              accelMatch::MA_ERR_BAD_PROBE); // the last rejection
    // Either way the comparer is unloaded.
    SearchParam sp = Params();
    EXPECT_EQ(comparer.matchTTEx(sp, bad.record(), res, accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_PROBE_NOT_LOADED);
}

struct CodeCase {
    const char* name;
    accelMatch::MATCHING_MODE mode;
    std::vector<FakeRecord::Finger> gallery;
    void (*change)(SearchParam&);
    int matchFailure;
    int code;
};

void PrintTo(const CodeCase& c, std::ostream* os)
{
    *os << c.name;
}

const CodeCase kCodes[] = {
    {"positional_nothing_common",
     accelMatch::MM_POSITIONAL,
     {{5, 5, 50}},
     nullptr,
     0,
     accelMatch::MA_ERR_NOTHING_TO_COMPARE},
    {"slap_nothing_common",
     accelMatch::MM_SLAP_MIX,
     {{5, 5, 50}},
     nullptr,
     0,
     accelMatch::MA_ERR_NOTHING_TO_COMPARE},
    {"hand_nothing_common",
     accelMatch::MM_HAND_MIX,
     {{5, 5, 50}},
     nullptr,
     0,
     accelMatch::MA_ERR_NOTHING_TO_COMPARE},
    {"finger_mix_empty_gallery",
     accelMatch::MM_FINGER_MIX,
     {},
     nullptr,
     0,
     accelMatch::MA_ERR_NOTHING_TO_COMPARE},
    {"slap_mirrored_only", accelMatch::MM_SLAP_MIX, {{10, 10, 50}}, nullptr, 0, 0},
    {"bad_params",
     accelMatch::MM_POSITIONAL,
     {{1, 1, 50}},
     [](SearchParam& s) { s.maxAngle = 181; },
     0,
     accelMatch::MA_ERR_SEARCH_PARAM},
    {"unknown_fusion",
     accelMatch::MM_POSITIONAL,
     {{1, 1, 50}},
     [](SearchParam& s) { s.fusionMethod = 3; },
     0,
     accelMatch::MA_ERR_SEARCH_PARAM},
    {"positional_match_fails",
     accelMatch::MM_POSITIONAL,
     {{1, 1, 50}},
     nullptr,
     accelMatch::MA_ERR_BAD_GALLERY,
     accelMatch::MA_ERR_BAD_GALLERY},
    {"finger_mix_match_fails",
     accelMatch::MM_FINGER_MIX,
     {{1, 1, 50}},
     nullptr,
     accelMatch::MA_ERR_BAD_GALLERY,
     accelMatch::MA_ERR_BAD_GALLERY},
    {"hand_match_fails",
     accelMatch::MM_HAND_MIX,
     {{1, 1, 50}},
     nullptr,
     accelMatch::MA_ERR_MEMORY,
     accelMatch::MA_ERR_MEMORY},
};

class Codes : public CompareTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(Codes, AnswerTheComparison)
{
    const CodeCase& c = GetParam();
    FakeRecord probe({{1, 1, 50}, {2, 2, 50}, {6, 6, 50}});
    FakeRecord gallery(c.gallery);
    comparer.matchFailure = c.matchFailure;
    ASSERT_EQ(comparer.loadTT(probe.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params(c.mode);
    if (c.change != nullptr) {
        c.change(sp);
    }
    EXPECT_EQ(comparer.matchTTEx(sp, gallery.record(), res, accelMatch::FP_PLAIN), c.code);
}

INSTANTIATE_TEST_SUITE_P(Compare100_TT, Codes, ::testing::ValuesIn(kCodes),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Compare100_TT, RefusesWorkBeforeInitialisation)
{
    ScoreTable scores;
    FakeComparer comparer(scores);
    FakeRecord r({{1, 1, 50}});
    MatchResultTT res = {};
    SearchParam sp = Params();
    int score = 0;
    EXPECT_EQ(comparer.loadTT(r.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr),
              accelMatch::MA_ERR_NOT_INIT);
    EXPECT_EQ(comparer.matchTTEx(sp, r.record(), res, accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_NOT_INIT);
    EXPECT_EQ(comparer.matchEx(sp, r.record().finger[0], score, FINGER_RIGHT_THUMB, nullptr,
                               accelMatch::FP_PLAIN, false, nullptr, nullptr, 0, false),
              accelMatch::MA_ERR_NOT_INIT);
    // A matrix entry outside -1..34 is refused and leaves the comparer uninitialised.
    int matrix[accelMatch::NUM_NEST_TRANSITIONS * accelMatch::NUM_LINK_SLOTS] = {};
    matrix[100] = 35;
    EXPECT_EQ(comparer.initEx(nullptr, matrix), accelMatch::MA_ERR_NULL);
    EXPECT_EQ(comparer.loadTT(r.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr),
              accelMatch::MA_ERR_NOT_INIT);
    matrix[100] = -1;
    EXPECT_EQ(comparer.initEx(nullptr, matrix), 0);
    EXPECT_EQ(accelMatch::TransitionMatrix[100 / accelMatch::NUM_LINK_SLOTS]
                                          [100 % accelMatch::NUM_LINK_SLOTS],
              -1);
    // Later initialisations change nothing.
    EXPECT_EQ(comparer.init(nullptr), 0);
    EXPECT_EQ(accelMatch::TransitionMatrix[2][30], -1);
    // A new comparer puts the default back for the tests that follow.
    FakeComparer fresh(scores);
    ASSERT_EQ(fresh.init(nullptr), 0);
    EXPECT_EQ(accelMatch::TransitionMatrix[2][30], accelMatch::DEFAULT_TRANSITION_MATRIX[2][30]);
}

TEST_F(CompareTest, OneFingerRefusalsLeaveTheCallersResultAlone)
{
    FakeRecord r({{1, 1, 50}});
    ASSERT_EQ(comparer.loadTT(r.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr), 0);
    SearchParam sp = Params();
    accelMatch::MatchResult out = {};
    out.score = 1234;
    int score = 55;
    const auto call = [&](unsigned char* tpl, int finger) {
        return comparer.matchEx(sp, tpl, score, static_cast<FINGERS>(finger), &out,
                                accelMatch::FP_PLAIN, false, nullptr, nullptr, 0, false);
    };
    EXPECT_EQ(call(r.record().finger[0], 11), accelMatch::MA_ERR_FINGER_POSITION);
    EXPECT_EQ(call(r.record().finger[0], 0), accelMatch::MA_ERR_FINGER_POSITION);
    EXPECT_EQ(call(nullptr, 1), accelMatch::MA_ERR_NULL);
    sp.maxAngleThumbs = -1;
    EXPECT_EQ(call(r.record().finger[0], 1), accelMatch::MA_ERR_SEARCH_PARAM);
    EXPECT_EQ(score, 55);
    EXPECT_EQ(out.score, 1234);
}

} // namespace
