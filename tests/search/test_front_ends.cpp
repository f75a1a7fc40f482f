// Front ends of the record comparison with fixed finger scores: initialisation, verification
// of a record pair, and the ranked list of an identification over a gallery array.

#include "tests/search/fake_fingers.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using accelMatch::MatchResultTT;
using accelMatch::RL;
using accelMatch::SearchParam;
using searchtest::FakeRecord;
using searchtest::FakeVerifier;
using searchtest::Params;
using searchtest::ScoreTable;

TEST(Ma100_TT, RefusesWorkBeforeInitAndAfterAFailedLoad)
{
    ScoreTable scores = {{{1, 1}, 5000}};
    FakeVerifier v(scores);
    FakeRecord probe({{1, 1, 50}});
    FakeRecord gallery({{1, 1, 50}});
    MatchResultTT res = {};
    SearchParam sp = Params();
    EXPECT_EQ(v.matchTT(sp, probe.record(), gallery.record(), res, accelMatch::FP_PLAIN,
                        accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_NOT_INIT);
    EXPECT_EQ(v.initEx(nullptr), accelMatch::MA_ERR_NULL);
    ASSERT_EQ(v.init(), 0);
    ASSERT_EQ(v.init(), 0);
    FakeRecord none({});
    EXPECT_EQ(v.loadTT(none.record(), accelMatch::FP_PLAIN), accelMatch::MA_ERR_NOTHING_TO_COMPARE);
    EXPECT_EQ(v.matchTTex(sp, gallery.record(), res, accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_PROBE_NOT_LOADED);
    ASSERT_EQ(v.matchTT(sp, probe.record(), gallery.record(), res, accelMatch::FP_PLAIN,
                        accelMatch::FP_PLAIN),
              0);
    EXPECT_EQ(res.score, 5000);
}

TEST(Ma100_TT, VerificationStopsAtAPartlyLoadedProbe)
{
    ScoreTable scores = {{{1, 1}, 5000}};
    FakeVerifier v(scores);
    ASSERT_EQ(v.init(), 0);
    FakeRecord probe({{1, 1, 50}, {2, 2, 50}});
    probe.reject(2, accelMatch::MA_ERR_BAD_PROBE);
    FakeRecord gallery({{1, 1, 50}});
    MatchResultTT res = {};
    SearchParam sp = Params();
    EXPECT_EQ(v.matchTT(sp, probe.record(), gallery.record(), res, accelMatch::FP_PLAIN,
                        accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_PROBE_PARTLY_LOADED);
    EXPECT_EQ(res.score, 0);
    EXPECT_EQ(v.matchTTex(sp, gallery.record(), res, accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_PROBE_NOT_LOADED);
}

// A gallery array of fake records: record i holds the fingers listed for it.
struct Gallery {
    explicit Gallery(const std::vector<std::vector<FakeRecord::Finger>>& records)
    {
        for (const auto& f : records) {
            owned.push_back(std::make_unique<FakeRecord>(f));
            tp.push_back(owned.back()->record());
        }
    }
    std::vector<std::unique_ptr<FakeRecord>> owned;
    std::vector<TpTemplate> tp;
};

struct RankCase {
    const char* name;
    std::vector<std::vector<FakeRecord::Finger>> gallery; // identity 10 + i scores 1000 i
    unsigned listLen;
    std::vector<RL> expected; // the whole list
};

void PrintTo(const RankCase& c, std::ostream* os)
{
    *os << c.name;
}

// Probe: finger 1 of identity 1; gallery finger identity 10 + k scores 1000 k against it.
const RankCase kRanks[] = {
    {"empty_gallery", {}, 3, {{}, {}, {}}},
    {"only_the_second_scores",
     {{{1, 10, 50}}, {{1, 13, 50}}, {{1, 10, 50}}},
     3,
     {{1, 0, 3000}, {}, {}}},
    {"equal_scores_keep_gallery_order",
     {{{1, 12, 50}}, {{1, 15, 50}}, {{1, 12, 50}}},
     4,
     {{1, 0, 5000}, {0, 0, 2000}, {2, 0, 2000}, {}}},
    {"last_has_nothing_in_common",
     {{{1, 14, 50}}, {{1, 12, 50}}, {{7, 19, 50}}},
     3,
     {{0, 0, 4000}, {1, 0, 2000}, {}}},
    {"list_of_one",
     {{{1, 11, 50}}, {{1, 14, 50}}, {{1, 19, 50}}, {{1, 12, 50}}, {{1, 13, 50}}},
     1,
     {{2, 0, 9000}}},
    {"no_list", {{{1, 11, 50}}}, 0, {}},
};

class Ranking : public ::testing::TestWithParam<RankCase> {};

TEST_P(Ranking, ListsScoringRecordsBestFirst)
{
    const RankCase& c = GetParam();
    ScoreTable scores;
    for (int k = 1; k <= 9; ++k) {
        scores[{1, 10 + k}] = 1000 * k;
    }
    FakeVerifier v(scores);
    ASSERT_EQ(v.init(), 0);
    FakeRecord probe({{1, 1, 50}});
    Gallery g(c.gallery);
    std::vector<RL> list(c.listLen, RL{7, 7, 7});
    SearchParam sp = Params();
    ASSERT_EQ(v.identifyTT(sp, probe.record(), g.tp.data(), static_cast<unsigned>(g.tp.size()),
                           list.data(), c.listLen, accelMatch::FP_PLAIN, accelMatch::FP_PLAIN),
              0);
    ASSERT_EQ(list.size(), c.expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[i].listId, c.expected[i].listId);
        EXPECT_EQ(list[i].listAux, 0u);
        EXPECT_EQ(list[i].score, c.expected[i].score);
    }
}

INSTANTIATE_TEST_SUITE_P(Ma100_TT, Ranking, ::testing::ValuesIn(kRanks),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Ma100_TT, RankingStopsAtAFailureWithAZeroList)
{
    ScoreTable scores = {{{1, 11}, 1000}};
    FakeVerifier v(scores);
    ASSERT_EQ(v.init(), 0);
    FakeRecord probe({{1, 1, 50}});
    Gallery g({{{1, 11, 50}}, {{1, 11, 50}}});
    RL list[2] = {{7, 7, 7}, {7, 7, 7}};
    SearchParam sp = Params();
    sp.matcherSpeed = 4;
    EXPECT_EQ(v.identifyTT(sp, probe.record(), g.tp.data(), 2, list, 2, accelMatch::FP_PLAIN,
                           accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_SEARCH_PARAM);
    EXPECT_EQ(list[0].score, 0);
    EXPECT_EQ(list[0].listId, 0u);
    EXPECT_EQ(list[1].listAux, 0u);
    sp = Params();
    EXPECT_EQ(v.identifyTT(sp, probe.record(), nullptr, 2, list, 2, accelMatch::FP_PLAIN,
                           accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_NULL);
    EXPECT_EQ(v.identifyTT(sp, probe.record(), g.tp.data(), 2, nullptr, 2, accelMatch::FP_PLAIN,
                           accelMatch::FP_PLAIN),
              accelMatch::MA_ERR_NULL);
}

TEST(Ma100_accel_TT, ComparesFingersOnlyAfterInit)
{
    accelMatch::Ma100_accel_TT a;
    FakeRecord r({{1, 1, 50}});
    SearchParam sp = Params();
    int score = 3;
    EXPECT_EQ(a.loadTT(r.record(), accelMatch::FP_PLAIN, nullptr, nullptr, nullptr),
              accelMatch::MA_ERR_NOT_INIT);
    EXPECT_EQ(a.matchEx(sp, r.record().finger[0], accelMatch::FP_PLAIN, score, FINGER_RIGHT_THUMB,
                        nullptr, false, nullptr, nullptr, 0, false),
              accelMatch::MA_ERR_NOT_INIT);
    EXPECT_EQ(score, 3);
    ASSERT_EQ(a.init(nullptr), 0);
    // Nothing loaded at position 1 yet.
    EXPECT_EQ(a.matchEx(sp, r.record().finger[0], accelMatch::FP_PLAIN, score, FINGER_RIGHT_THUMB,
                        nullptr, false, nullptr, nullptr, 0, false),
              accelMatch::MA_ERR_PROBE_NOT_LOADED);
    EXPECT_EQ(score, 0);
}

} // namespace
