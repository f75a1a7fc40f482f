// Scores and search stages of the accelerator: coarse fusion, the pass score, the nest
// topology and group score formulas, the number of finger pairs compared, upload refusals,
// ranking order and short-lists, and crafted probes and gallery records.

#include "search/AccelLib.h"
#include "tests/support/synthetic_prints.h"

#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <vector>

using namespace accelMatch;

TEST(AccelScores, CoarseFusion)
{
    const struct {
        const char* name;
        unsigned count;
        std::vector<int> scores;
        int fused;
    } cases[] = {
        {"two fingers", 2, {500, 3000}, 220 * 3000 / 256 + 40 * 500 * 19 / 16384},
        {"one finger", 1, {4000}, 4000},
        {"none counted", 0, {4000}, 0},
        {"two perfect fingers", 2, {10000, 10000}, 10000},
        {"perfect and low", 2, {10000, 0}, 8593},
        {"band 1..2",
         3,
         {1500, 2500, 900},
         195 * 2500 * 38 / 16384 + 39 * 1500 * 38 / 16384 + 26 * 900 * 19 / 16384},
        {"four and more",
         5,
         {4000, 4000, 4000, 4000, 4000},
         220 * 4000 / 256 + 26 * 4000 / 256 + 14 * 4000 / 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int s[10] = {};
        std::copy(c.scores.begin(), c.scores.end(), s);
        EXPECT_EQ(getFusedScore_accel(10, c.count, s), c.fused);
    }
    EXPECT_EQ(getFusedScore_accel(10, 2, nullptr), -1);
    EXPECT_EQ(2601, 220 * 3000 / 256 + 40 * 500 * 19 / 16384);
    const int pass[10] = {0, 5000, 0, 6000};
    EXPECT_EQ(getPassScore(pass), 3300);
    const int full[10] = {10000, 10000, 10000, 10000, 10000};
    EXPECT_EQ(getPassScore(full), 10000);
}

TEST(AccelScores, NestTopology)
{
    Accel a{};
    for (int k = 0; k < 16; ++k) {
        a.cell[k] = static_cast<std::uint8_t>(k + 1);
        a.desc[k] = static_cast<std::uint8_t>(1 + k % 12);
    }
    bool all[ACCEL_PAIRS];
    bool none[ACCEL_PAIRS] = {};
    std::fill(all, all + ACCEL_PAIRS, true);
    EXPECT_EQ(compareNests(&a, &a, all, all), 2 * 16 + 9 * 16);
    EXPECT_EQ(compareNests(&a, &a, none, none), 9 * 16);
    // A step that fits the gallery's cell k + 4 or k - 4 instead of its own.
    Accel g = a;
    g.desc[2] = 40;
    g.desc[6] = a.desc[2] + 1; // cell 2 finds cell 6 at distance 1
    g.desc[9] = 50;
    g.desc[5] = a.desc[9]; // cell 9 finds cell 5 (k - 4) exactly
    g.desc[1] = 60;        // cell 1 finds nothing and is skipped
    const int r = compareNests(&a, &g, none, none);
    // The same rule worked out cell by cell.
    int sum = 0;
    int matched = 0;
    for (int k = 0; k < 16; ++k) {
        int e = std::abs(a.desc[k] - g.desc[k]);
        bool ok = e <= 2;
        if (!ok && k < 12) {
            e = std::abs(a.desc[k] - g.desc[k + 4]);
            ok = e < 3;
        }
        if (!ok && k >= 4) {
            e = std::abs(a.desc[k] - g.desc[k - 4]);
            ok = e <= 2;
        }
        if (ok) {
            sum += 3 * (3 - e);
            ++matched;
        }
    }
    EXPECT_EQ(r, 2 * (matched - 16) + sum);
    EXPECT_LT(matched, 16);
}

TEST(AccelScores, GroupScore)
{
    AccelScoreParam p{};
    p.pairs = 11;
    p.linkPairs = 8;
    p.probeCount = 40;
    p.galleryCount = 50;
    p.excludedProbe = 4;
    p.excludedGallery = 6;
    p.probeQuality = 70;
    p.galleryQuality = 60;
    p.positionDif = 5;
    p.directionDif = 2;
    p.topologySim = 20;
    p.lengthDif = 3;
    p.polarDif = 2;
    int row[SCORE_PARAMS];
    std::copy(g_scoreParam_73, g_scoreParam_73 + SCORE_PARAMS, row);
    const int scaled = calcScore(p, row);
    row[13] = 0;
    const int unscaled = calcScore(p, row);
    EXPECT_GT(unscaled, 0);
    EXPECT_LT(unscaled, 10000);
    EXPECT_EQ(scaled, 11 * unscaled / 22);
    // Limits and the empty cases.
    p.topologySim = 30000;
    EXPECT_EQ(calcScore(p, row), 10000);
    p.topologySim = -30000;
    EXPECT_EQ(calcScore(p, row), 0);
    p.topologySim = 20;
    p.excludedProbe = 40; // every probe minutia excluded
    EXPECT_EQ(calcScore(p, row), 0);
    p.excludedProbe = 0;
    p.pairs = 0;
    EXPECT_EQ(calcScore(p, row), 0);
}

namespace {

// An open library (one slot, final stage prepared) and records made from synthetic fingers.
class AccelSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsigned threads = 1;
        ASSERT_EQ(initAccelLib(&m_handle, threads), 0);
        unsigned size = 0;
        ASSERT_EQ(initFinalMatching(m_handle, size), 0);
    }
    void TearDown() override
    {
        closeAccelLib(&m_handle);
        for (auto& a : m_accels) {
            delete[] a;
        }
    }
    // Gallery item of the synthetic fingers seeds[k] at positions k + 1 (0: absent).
    GalleryItem Item(std::uint64_t id, std::vector<std::uint32_t> seeds)
    {
        GalleryItem item{};
        item.id = id;
        TpTemplate t{};
        for (std::size_t k = 0; k < seeds.size(); ++k) {
            if (seeds[k] != 0) {
                m_tpls.push_back(zftest::SyntheticFinger(seeds[k], static_cast<int>(k + 1)));
                t.finger[k] = m_tpls.back().data();
                item.tpl[k] = t.finger[k];
            }
        }
        std::vector<unsigned char> out(getMaximumAccelSize(10));
        unsigned size = 0;
        EXPECT_EQ(calcAccel(m_handle, t, out.data(), size, nullptr), 0);
        unsigned char* a = new unsigned char[size];
        std::memcpy(a, out.data(), size);
        m_accels.push_back(a);
        item.accel = a;
        return item;
    }
    TpTemplate Probe(std::vector<std::uint32_t> seeds)
    {
        TpTemplate t{};
        for (std::size_t k = 0; k < seeds.size(); ++k) {
            if (seeds[k] != 0) {
                m_tpls.push_back(zftest::SyntheticFinger(seeds[k], static_cast<int>(k + 1)));
                t.finger[k] = m_tpls.back().data();
            }
        }
        return t;
    }
    AccelSearchParam Params(int mode = 0) const
    {
        return AccelSearchParam{0, 180, 180, -1, 0, 0, 5, 0, mode, 0, 10000};
    }

    void* m_handle = nullptr;
    std::list<zftest::Bytes> m_tpls;
    std::vector<unsigned char*> m_accels;
};

} // namespace

TEST_F(AccelSearch, UploadRefusalsAndRanking)
{
    std::list<GalleryItem> empty;
    EXPECT_EQ(uploadDb(nullptr, empty), ACCEL_ERR_NULL);
    EXPECT_EQ(uploadDb(m_handle, empty), ACCEL_ERR_EMPTY_GALLERY);
    RL list[10];
    TpTemplate probe = Probe({11});
    AccelSearchParam sp = Params();
    EXPECT_EQ(completeIdentifyTP(m_handle, sp, probe, list, 10, nullptr), ACCEL_ERR_NO_GALLERY);

    // Two identical records tie and keep upload order; an unrelated record ranks lower.
    std::list<GalleryItem> g = {Item(70, {12}), Item(71, {11}), Item(72, {11}), Item(73, {13})};
    ASSERT_EQ(uploadDb(m_handle, g), 0);
    std::list<GalleryItem> none;
    EXPECT_EQ(uploadDb(m_handle, none), ACCEL_ERR_EMPTY_GALLERY); // the upload stays
    EXPECT_EQ(static_cast<AccelData*>(m_handle)->count, 4u);
    ASSERT_EQ(completeIdentifyTP(m_handle, sp, probe, list, 10, nullptr), 0);
    EXPECT_EQ(list[0].listId, 71u);
    EXPECT_EQ(list[1].listId, 72u);
    EXPECT_EQ(list[0].score, list[1].score);
    int n = 0;
    while (n < 10 && list[n].score != 0) {
        ++n;
    }
    EXPECT_LE(n, 4);
    for (int k = n; k < 10; ++k) {
        EXPECT_EQ(list[k].listId, 0u);
        EXPECT_EQ(list[k].listAux, 0u);
    }
    // The coarse stage alone ranks the same way.
    RL coarse[10];
    ASSERT_EQ(accelIdentifyTP(m_handle, sp, probe, coarse, 10, nullptr), 0);
    EXPECT_EQ(coarse[0].listId, 71u);
    EXPECT_EQ(coarse[1].listId, 72u);
}

TEST_F(AccelSearch, FingerPairsComparedAndModes)
{
    // Positional: a record with fingers at other positions only is not ranked.
    std::list<GalleryItem> g = {Item(1, {0, 21}), Item(2, {21})};
    ASSERT_EQ(uploadDb(m_handle, g), 0);
    TpTemplate probe = Probe({21});
    AccelSearchParam sp = Params(0);
    RL list[4];
    ASSERT_EQ(completeIdentifyTP(m_handle, sp, probe, list, 4, nullptr), 0);
    EXPECT_EQ(list[0].listId, 2u);
    EXPECT_EQ(list[1].score, 0);
    // Finger mix finds it at the other position.
    sp = Params(1);
    ASSERT_EQ(completeIdentifyTP(m_handle, sp, probe, list, 4, nullptr), 0);
    EXPECT_EQ(sp.maxFingerPairs, 10);
    EXPECT_NE(list[1].score, 0);

    // How many of four shared fingers are compared when the speed row decides.
    std::uint32_t row[SPEED_COLUMNS];
    getSpeedParams(0, row, 73, 4);
    FingerPairsSet set{};
    for (int k = 0; k < 10; ++k) {
        set.rec[k].usable = static_cast<std::uint8_t>(k < 4 ? 90 - k : 0);
        set.order[k] = &set.rec[k];
    }
    EXPECT_EQ(getFingersToCompare(row, set, -1, 4), 2); // column 54 (75) <= 89
    set.rec[1].usable = 70;
    EXPECT_EQ(getFingersToCompare(row, set, -1, 4), 3); // column 55 (35) <= 88
    set.rec[2].usable = 30;
    EXPECT_EQ(getFingersToCompare(row, set, -1, 4), 4);
    EXPECT_EQ(getFingersToCompare(row, set, -1, 1), 1);
    EXPECT_EQ(getFingersToCompare(row, set, 0, 4), 1);
    EXPECT_EQ(getFingersToCompare(row, set, 7, 4), 4);
}

TEST_F(AccelSearch, ShortListsAndFinalStage)
{
    unsigned long long d1 = 0;
    unsigned long long d2 = 0;
    getFinalDivisors(1, 0, d1, d2);
    EXPECT_EQ(20000 / d1, 39u);
    EXPECT_EQ(20000 / d2, 1u);
    getFinalDivisors(0, 0, d1, d2); // no shared finger: the row of one
    EXPECT_EQ(d1, 512u);
    getFinalDivisors(10, 3, d1, d2);
    EXPECT_EQ(d1, 102400u);
    EXPECT_EQ(d2, 1048576u);
    getFinalDivisors(5, 9, d1, d2);
    EXPECT_EQ(d1, 102400u);

    // Before the final stage is prepared: 17 and an all-zero list.
    void* h = nullptr;
    unsigned threads = 1;
    ASSERT_EQ(initAccelLib(&h, threads), 0);
    std::list<GalleryItem> g = {Item(5, {31}), Item(6, {32}), Item(7, {33})};
    ASSERT_EQ(uploadDb(h, g), 0);
    TpTemplate probe = Probe({31});
    AccelSearchParam sp = Params();
    RL list[10];
    std::memset(static_cast<void*>(list), 0xAB, sizeof(list));
    EXPECT_EQ(completeIdentifyTP(h, sp, probe, list, 10, nullptr), ACCEL_ERR_FINAL_NOT_INIT);
    for (const RL& e : list) {
        EXPECT_EQ(e.score, 0);
        EXPECT_EQ(e.listId, 0u);
    }
    closeAccelLib(&h);
    // Three records and ten entries: at most three filled.
    ASSERT_EQ(uploadDb(m_handle, g), 0);
    ASSERT_EQ(completeIdentifyTP(m_handle, sp, probe, list, 10, nullptr), 0);
    EXPECT_EQ(list[0].listId, 5u);
    for (int k = 3; k < 10; ++k) {
        EXPECT_EQ(list[k].score, 0);
    }
    EXPECT_EQ(completeIdentifyTP(m_handle, sp, probe, nullptr, 10, nullptr), ACCEL_ERR_NULL);
}

TEST_F(AccelSearch, CraftedProbesAndGalleryRecords)
{
    std::list<GalleryItem> g = {Item(1, {41, 42})};
    ASSERT_EQ(uploadDb(m_handle, g), 0);
    AccelSearchParam sp = Params();
    RL list[4];
    // A probe without fingers, and one whose only finger is refused.
    TpTemplate none{};
    EXPECT_EQ(completeIdentifyTP(m_handle, sp, none, list, 4, nullptr), ACCEL_ERR_NO_PROBE);
    zftest::RecordPlan plan = zftest::SyntheticPlan(41);
    zftest::Bytes bad = zftest::BuildTemplate(plan);
    bad[21 + 4] = 0;
    TpTemplate refused{};
    refused.finger[0] = bad.data();
    EXPECT_EQ(completeIdentifyTP(m_handle, sp, refused, list, 4, nullptr), ACCEL_ERR_BAD_FINGER);
    // A mask of 262,145 cells is refused by the reader: no mask.
    plan.area.w = 5;
    plan.area.h = 52429;
    plan.area.outside.assign(262145u, 0);
    zftest::Bytes wide = zftest::BuildTemplate(plan);
    TpTemplate masked{};
    masked.finger[0] = wide.data();
    EXPECT_EQ(completeIdentifyTP(m_handle, sp, masked, list, 4, nullptr), ACCEL_ERR_BAD_TEMPLATE);
    // A gallery block whose nest list points past its minutiae is refused with 8 per record,
    // which drops the record from the ranking.
    unsigned char* a = g.front().accel;
    TpAccel view;
    ASSERT_TRUE(view.readFromBuffer(a));
    ASSERT_GT(view.finger[0][FA_NESTS], 0);
    MatchResultTT r;
    TpTemplate probe = Probe({41});
    ASSERT_EQ(loadAccelTP(m_handle, probe, nullptr), 0);
    ASSERT_EQ(compareAccelTP(m_handle, sp, a, 0, r), 0);
    EXPECT_GT(r.score, 0);
    // An enrolment in between reuses the probe's buffers and forgets the probe.
    Item(2, {43});
    ASSERT_EQ(compareAccelTP(m_handle, sp, a, 0, r), 0);
    EXPECT_EQ(r.score, 0);
    ASSERT_EQ(loadAccelTP(m_handle, probe, nullptr), 0);
    FaNestMinutia(view.finger[0])[0] = 250;
    EXPECT_EQ(compareAccelTP(m_handle, sp, a, 0, r), ACCEL_ERR_BAD_ACCEL);
    view.finger[0][FA_NESTS] = 200; // more nests than items
    EXPECT_EQ(compareAccelTP(m_handle, sp, a, 0, r), ACCEL_ERR_BAD_ACCEL);
    EXPECT_EQ(compareAccelTP(m_handle, sp, a, 1, r), ACCEL_ERR_THREAD_INDEX);
    ASSERT_EQ(completeIdentifyTP(m_handle, sp, probe, list, 4, nullptr), 0);
    EXPECT_EQ(list[0].score, 0);
}
