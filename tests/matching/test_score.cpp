// The score formula and its helpers on hand-computed cases: row indexes, the corrections of
// unreliable minutiae, the not-found threshold, the scaling of groups with few found pairs,
// the clamps, and the evidence estimate around a missing minutia.

#include "matching/LinkTables.h"
#include "matching/MatchScore.h"
#include "matching/Matcher100.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace accelMatch {
namespace {

TEST(ScoreIndex, BoundsPickTheRow)
{
    const int pg[3] = {13, 20, 60};
    const int q[2] = {30, 110};
    struct Case {
        int value;
        const int* bounds;
        int n;
        int index;
    };
    const Case cases[] = {
        {12, pg, 4, 0}, {13, pg, 4, 1}, {19, pg, 4, 1},  {20, pg, 4, 2},
        {59, pg, 4, 2}, {60, pg, 4, 3}, {255, pg, 4, 3}, {29, q, 3, 0},
        {30, q, 3, 1},  {100, q, 3, 1}, {110, q, 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(getIndex(c.value, c.bounds, c.n), c.index);
    }
}

TEST(ScoreCorrection, UnreliableMinutiaeByDistanceBand)
{
    const int* fP = g_k_score_up_f_p[0]; // found bands 338, 310, 640, 441; limit 768
    struct Case {
        int prob;
        int distance;
        int ridgeCount;
        int found;
        int notFound;
    };
    const Case cases[] = {
        {40, 39, 2, 40 * 2048 / 442, 40 * 2048 / 3494}, // last band: x 2048
        {40, 9, 2, 40 * 2048 / 339, 40 * 32 / 484},     // first band
        {40, 19, 2, 40 * 2048 / 311, 40 * 32 / 195},
        {40, 29, 2, 40 * 2048 / 641, 40 * 32 / 116},
        {40, 39, 6, 40, 40}, // ridge count at the limit 768 / 128: unchanged
        {40, 40, 0, 40, 40}, // beyond the reach of a broken ridge: unchanged
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.distance << " " << c.ridgeCount);
        EXPECT_EQ(correctFoundProb(static_cast<std::uint8_t>(c.prob), c.distance, c.ridgeCount,
                                   fP[4], fP),
                  c.found);
        MinData md = {FS_NOT_FOUND, UNRELIABLE_PARTNER_NOT_MATCHED,
                      static_cast<std::uint8_t>(c.distance),
                      static_cast<std::uint8_t>(c.ridgeCount), 40};
        // The not-found limit of type 0 is 390: ridge count 3 is already at it.
        if (c.ridgeCount < 3) {
            EXPECT_EQ(correctProb(c.prob, md, fP), c.notFound);
        }
        md.unreliable = UNRELIABLE_PARTNER_MATCHED;
        EXPECT_EQ(correctProb(c.prob, md, fP), c.found);
        md.unreliable = UNRELIABLE_PARTNER_EXCLUDED;
        EXPECT_EQ(correctProb(c.prob, md, fP), c.prob);
    }
    EXPECT_EQ(40 * 2048 / 442, 185);
}

TEST(ScoreProbs, WeakNotFoundMinutiaTurnsExcluded)
{
    // Probe threshold 636 / 128 = 4: a not-found minutia of probability 3 is excluded.
    std::vector<MinData> md = {
        {FS_FIRST, 0, 0, 0, 30},    {FS_MAIN, 0, 0, 0, 20},      {FS_REST, 0, 0, 0, 10},
        {FS_NOT_FOUND, 0, 0, 0, 3}, {FS_NOT_FOUND, 0, 0, 0, 25}, {FS_EXCLUDED, 0, 0, 0, 50},
    };
    int f = 0, m = 0, found = 0, sums[3] = {}, notFound = 0, excluded = 0, numNotFound = 0;
    calcProbs(md.data(), static_cast<int>(md.size()), g_k_score_up_f_p[0], 4, f, m, found, sums,
              notFound, excluded, numNotFound);
    EXPECT_EQ(f, 1);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(found, 3);
    EXPECT_EQ(sums[0], 30);
    EXPECT_EQ(sums[1], 20);
    EXPECT_EQ(sums[2], 10);
    EXPECT_EQ(notFound, 25);
    EXPECT_EQ(numNotFound, 1);
    EXPECT_EQ(excluded, 2);
    EXPECT_EQ(md[3].status, FS_EXCLUDED);
}

// A parameter block and evidence of n minutiae per side, `found` of them in the first group
// with probability p, the rest not found with probability q.
struct Block {
    ScoreParameters params = {};
    std::vector<MinData> probe;
    std::vector<MinData> gallery;

    Block(int n, int found, int p, int q, int quality)
    {
        params.m_numNestP = params.m_numNestG = static_cast<std::uint8_t>(n);
        params.m_qualityP = params.m_qualityG = static_cast<std::uint8_t>(quality);
        for (int i = 0; i < n; ++i) {
            const MinData d = i < found
                                  ? MinData{FS_FIRST, 0, 0, 0, static_cast<std::uint8_t>(p)}
                                  : MinData{FS_NOT_FOUND, 0, 0, 0, static_cast<std::uint8_t>(q)};
            probe.push_back(d);
            gallery.push_back(d);
        }
    }

    int score()
    {
        return calculateScore(params, probe.data(), gallery.data(), g_k_score_pg_q, g_k_score_pg,
                              g_k_score, g_k_score_common, g_k_score_pg_bounds, g_k_score_q_bounds,
                              g_k_score_up_f_p, g_k_score_up_f_g);
    }
};

TEST(ScoreFormula, HandComputedCases)
{
    // 15 minutiae a side, all found with probability 40, quality 50: row iPG 1, iQ 1 of type 0
    // (Q1 = 600, g6 = -20). bP1 = 600 x 1270 / 601 = 1267, bG1 = 600 x 924 / 601 = 922;
    // 4 x 2189 - 160 = 8596, then scaled by 15 x 8 / 600 because 15 < 600 / 8.
    Block all(15, 15, 40, 0, 50);
    EXPECT_EQ(all.score(), 8596 * 15 * 8 / 600);

    // Ten found pairs with Q1 = 600 scale by 80 / 600: 15 minutiae, 10 found, the five others
    // not found with probability 0 (below both thresholds, so excluded: S = 20).
    Block ten(15, 10, 40, 0, 50);
    const int bP1 = 400 * 1270 / 401;
    const int bG1 = 400 * 924 / 401;
    const int iPG = 0; // min(nP, nG) = 10 < 13
    const int q1 = g_k_score_pg_q[0][iPG * 3 + 1][1];
    const int raw = 4 * (bP1 + bG1) + 8 * g_k_score_pg[0][iPG][6];
    EXPECT_EQ(ten.score(), q1 / 8 > 10 ? raw * 10 * 8 / q1 : raw);

    // No found pair: 0.
    Block none(15, 0, 40, 40, 50);
    EXPECT_EQ(none.score(), 0);
}

TEST(ScoreFormula, Clamps)
{
    // A large topology similarity over many first-group pairs passes 10000.
    Block high(60, 60, 63, 0, 100);
    high.params.m_topologySim[0] = 60000;
    EXPECT_EQ(high.score(), 10000);
    // Large distance errors and no similarity drive the sum below 0.
    Block low(60, 60, 1, 0, 100);
    low.params.m_disrErrR[0] = 255;
    low.params.m_angleErr[0] = 255;
    EXPECT_EQ(low.score(), 0);
}

TEST(ScoreEvidence, NotFoundAreaEstimate)
{
    auto m = std::make_unique<Matcher100>();
    // Distances 10 and 50 with quality bytes 40 and 20: (10 x 40 + 4 x 20) / 14 = 34; a third
    // minutia 100 away is ignored; quality bits 6 and 7 do not count.
    ESK::Sign others[3] = {};
    others[0].x = 110;
    others[0].y = 100;
    others[0].quality = 40 | 0x40;
    others[1].x = 100;
    others[1].y = 150;
    others[1].quality = 20 | 0x80;
    others[2].x = 200;
    others[2].y = 100;
    others[2].quality = 63;
    EXPECT_EQ(m->estimateNotFoundAreaProb(100, 100, others, 3), 34);
    EXPECT_EQ(m->estimateNotFoundAreaProb(100, 100, others + 2, 1), 0);
    // Both differences exactly -32768 from the far corner: their squares sum to 2^31, which
    // must not pass for a near neighbour.
    ESK::Sign corner[1] = {};
    corner[0].x = -1;
    corner[0].y = -1;
    corner[0].quality = 30;
    EXPECT_EQ(m->estimateNotFoundAreaProb(32767, 32767, corner, 1), 0);
}

// The estimate as first written: each neighbour's distance rounded from its single precision
// root, within 99, weighted 10 below 20 and 200 / d beyond.
int NotFoundAreaByRoots(int x, int y, const ESK::Sign* others, int count)
{
    int sumW = 0;
    int sumWQ = 0;
    for (int i = 0; i < count; ++i) {
        const std::int64_t dx = others[i].x - static_cast<std::int64_t>(x);
        const std::int64_t dy = others[i].y - static_cast<std::int64_t>(y);
        if (dx > 99 || dx < -99 || dy > 99 || dy < -99) {
            continue; // beyond the reach (and no square to overflow)
        }
        const int d = static_cast<int>(std::sqrt(static_cast<float>(dx * dx + dy * dy)) + 0.5f);
        if (d > 99) {
            continue;
        }
        const int w = d < 20 ? 10 : 200 / d;
        sumW += w;
        sumWQ += w * (others[i].quality & 63);
    }
    return sumW == 0 ? 0 : static_cast<std::uint8_t>(sumWQ / sumW);
}

// Every offset of one neighbour up to 110 each way (each rounding edge of the weights), then
// crowds of neighbours around points inside, near and far beyond the 16-bit range.
TEST(ScoreEvidence, NotFoundAreaEstimateFollowsRoundedRoots)
{
    auto m = std::make_unique<Matcher100>();
    ESK::Sign one[2] = {};
    one[0].x = 300;
    one[0].y = 200;
    one[0].quality = 50;
    one[1].x = -32768;
    one[1].y = 32767;
    one[1].quality = 7;
    for (int dy = -110; dy <= 110; ++dy) {
        for (int dx = -110; dx <= 110; ++dx) {
            ASSERT_EQ(m->estimateNotFoundAreaProb(300 + dx, 200 + dy, one, 2),
                      NotFoundAreaByRoots(300 + dx, 200 + dy, one, 2))
                << dx << " " << dy;
        }
    }
    std::vector<ESK::Sign> crowd(MAX_NESTS);
    std::uint32_t seed = 12345;
    const auto next = [&seed]() {
        zftest::Lcg32(seed);
        return static_cast<int>(seed >> 8);
    };
    const int centres[][2] = {{250, 250},      {0, 0},       {-32768, -32768}, {32767, 32700},
                              {32800, -32850}, {1 << 20, 5}, {-(1 << 21), 40}, {INT_MAX, INT_MIN}};
    constexpr int NUM_CENTRES = static_cast<int>(sizeof centres / sizeof centres[0]);
    for (int round = 0; round < 240; ++round) {
        const int count = 1 + next() % MAX_NESTS;
        const auto& c = centres[round % NUM_CENTRES];
        const int spread = round % 2 == 0 ? 160 : 60000;
        for (int i = 0; i < count; ++i) {
            const int bx = c[0] < -32000 ? -32000 : (c[0] > 32000 ? 32000 : c[0]);
            const int by = c[1] < -32000 ? -32000 : (c[1] > 32000 ? 32000 : c[1]);
            const int x = bx + next() % spread - spread / 2;
            const int y = by + next() % spread - spread / 2;
            crowd[i].x = static_cast<short>(x < -32768 ? -32768 : (x > 32767 ? 32767 : x));
            crowd[i].y = static_cast<short>(y < -32768 ? -32768 : (y > 32767 ? 32767 : y));
            crowd[i].quality = static_cast<std::uint8_t>(next());
        }
        ASSERT_EQ(m->estimateNotFoundAreaProb(c[0], c[1], crowd.data(), count),
                  NotFoundAreaByRoots(c[0], c[1], crowd.data(), count))
            << round;
    }
}

// The first slot at or after `from` whose link from a type-0 minutia may join an unreliable
// pair with `ridges` ridges between; its code in `code`. -1 when none.
int UnreliableSlot(int from, int ridges, int& code)
{
    for (int slot = from; slot < ESK::ESK_LINK_SLOTS; ++slot) {
        for (code = 1; code < NUM_LINK_CODES; ++code) {
            int rc = 0;
            if (!slotSameDir(0, slot, code) && correctedRidgeCount(0, slot, code, rc) &&
                std::abs(rc) == ridges) {
                return slot;
            }
        }
    }
    return -1;
}

// Minutia 0 links to 1, 2 and 3 in that slot order (the others have no links): its partner is
// the nearest, then the one with the fewest ridges between, then the later slot.
TEST(ScoreEvidence, UnreliablePartnerByDistanceRidgesThenLaterSlot)
{
    struct Case {
        int distance[3];
        int ridges[3];
        int partner;
    };
    const Case cases[] = {
        {{12, 10, 10}, {0, 1, 1}, 3}, // a full tie: the later slot
        {{12, 10, 10}, {0, 1, 2}, 2}, // fewer ridges
        {{9, 10, 10}, {3, 1, 1}, 1},  // nearer, however many ridges
        {{40, 10, 45}, {0, 2, 0}, 2}, // the others beyond a broken ridge's reach
        {{40, 41, 45}, {0, 2, 0}, 0}, // none: no pair
    };
    auto m = std::make_unique<Matcher100>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.partner);
        ESK::Sign minutiae[4] = {};
        ESK::Link links[4] = {};
        int from = 0;
        for (int n = 0; n < 3; ++n) {
            int code = 0;
            const int slot = UnreliableSlot(from, c.ridges[n], code);
            ASSERT_GE(slot, 0);
            links[0].slot[slot].code = static_cast<std::uint8_t>(code);
            links[0].slot[slot].distance = static_cast<std::uint16_t>(c.distance[n]);
            links[0].slot[slot].neighbour = static_cast<std::uint16_t>(n + 1);
            links[0].count = static_cast<std::uint8_t>(slot + 1);
            from = slot + 1;
        }
        const int marks[4] = {0, 1, 0, 0}; // 1 is matched
        const std::uint8_t excluded[4] = {0, 0, 0, 0};
        MinData md[4] = {};
        ++m->m_unreliableLinks[0].loadStamp; // a new load: the links are gathered again
        m->findAllUnreliablePairs(minutiae, links, marks, 4, excluded, md, true);
        for (int k = 1; k < 4; ++k) {
            EXPECT_EQ(md[k].unreliable != UNRELIABLE_NONE, k == c.partner) << k;
        }
        if (c.partner == 0) {
            EXPECT_EQ(md[0].unreliable, UNRELIABLE_NONE);
            continue;
        }
        const int n = c.partner - 1;
        EXPECT_EQ(md[0].unreliable,
                  c.partner == 1 ? UNRELIABLE_PARTNER_MATCHED : UNRELIABLE_PARTNER_NOT_MATCHED);
        EXPECT_EQ(md[0].distance, c.distance[n]);
        EXPECT_EQ(md[0].ridgeCount, c.ridges[n]);
        EXPECT_EQ(md[c.partner].distance, c.distance[n]);
    }
}

} // namespace
} // namespace accelMatch
