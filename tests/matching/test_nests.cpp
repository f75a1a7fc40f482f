// Nest comparison and best-nest selection on small hand-made nests: hit groups and their
// similarity, what a missing or mismatched link costs, the cache and transition classes, the
// transitions open to mixed minutia types, the signature pass, the best-nest list and the
// virtual-size set, and the central-pair and direction predicates.

#include "matching/Matcher100.h"
#include "tests/matching/matcher_fixture.h"
#include "tests/support/fvc_sets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

using namespace accelMatch;
using zftest::LinkPlan;
using zftest::MinutiaPoint;

// Minutia 0 linked to 1, 2 and 3 (slots 0, 2, 4); 4 has no links; 5 is of type 1.
const std::vector<MinutiaPoint> kNest = {{200, 200, 0},  {240, 200, 10}, {200, 250, 20},
                                         {150, 180, 30}, {260, 260, 40}, {300, 330, 50, 1}};

std::vector<std::vector<LinkPlan>> NestLinks(std::uint8_t codeSlot0 = 1, bool withSlot4 = true)
{
    std::vector<std::vector<LinkPlan>> links(6);
    links[0] = {{0, codeSlot0, 1, 0}, {2, 2, 2, 0}};
    if (withSlot4) {
        links[0].push_back({4, 5, 3, 0});
    }
    return links;
}

// Each hit of an exact copy under transition 0 weighs 24 x 16 per unit of quality.
constexpr int kExactHit = 384;

TEST(NestComparison, ExactCopyPairsEveryLink)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    m->setDistErrorLevel(2);
    m->compNestsAlt(0, 0, 0, 0);
    ASSERT_EQ(m->m_scratchHit.m_numItems, 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(m->m_scratchHit.m_items[k].nP, m->m_scratchHit.m_items[k].nG);
        EXPECT_EQ(m->m_scratchHit.m_items[k].distDif, 0);
    }
    // Nothing left unexplained: the similarity is the hit evidence alone.
    EXPECT_EQ(m->m_scratchHit.m_sim, 3 * kExactHit);
}

TEST(NestComparison, UnmatchedLinksCost)
{
    struct Case {
        const char* name;
        std::uint8_t galleryCode;
        bool gallerySlot4;
        int hits;
        int sim;
    };
    // Two hits of weight 80 each; the probe's third neighbour (40) stays unexplained, and with
    // mismatched codes the gallery's too (40 more).
    const Case cases[] = {
        {"gallery lacks a link", 1, false, 2, 160 * 2 * kExactHit / 200},
        {"codes that never match", 5, true, 2, 160 * 2 * kExactHit / 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto m =
            zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                  zftest::PlanOf(kNest, NestLinks(c.galleryCode, c.gallerySlot4)));
        m->setDistErrorLevel(2);
        m->compNestsAlt(0, 0, 0, 0);
        EXPECT_EQ(m->m_scratchHit.m_numItems, c.hits);
        EXPECT_EQ(m->m_scratchHit.m_sim, c.sim);
    }
}

TEST(NestComparison, NestWithoutLinksIsEmptyUnderEveryTransition)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    for (Transition t = 0; t < TL_3; ++t) {
        m->compNestsAlt(4, 0, t, 0);
        EXPECT_EQ(m->m_scratchHit.m_numItems, 0) << t;
        EXPECT_EQ(m->m_scratchHit.m_sim, 0) << t;
    }
    unsigned short best = 9;
    const NestCompareResult* cell = m->getNestCompareResult(4, 0, 8, best);
    EXPECT_EQ(best, 0);
    EXPECT_EQ(cell->bestTransition, 0);  // the first saved transition, though empty
    ASSERT_NE(cell->groups[0], nullptr); // an empty group is cached all the same
    EXPECT_EQ(cell->groups[0]->m_numItems, 0);
    EXPECT_EQ(cell->groups[0]->m_sim, 0);
}

TEST(NestComparison, CacheAndTransitionClasses)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    m->setDistErrorLevel(2);
    unsigned short best = 0;
    NestCompareResult* cell = m->getNestCompareResult(0, 0, 4, best);
    EXPECT_EQ(best, 3 * kExactHit);
    EXPECT_EQ(cell->bestTransition, 0);
    EXPECT_EQ(cell->computed, 1);
    HitGroup* cached = cell->groups[0];
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cell->groups[1], nullptr); // impossible for two type-0 minutiae
    m->getNestCompareResult(0, 0, 4, best);
    EXPECT_EQ(cell->groups[0], cached); // computed once
    short dif = -1;
    EXPECT_EQ(m->getNestCompareResult(0, 0, 13, dif), cached);
    EXPECT_EQ(dif, 4); // class 4 against class 0
    Transition t = 21;
    unsigned short sim = 0;
    EXPECT_EQ(m->getTransitionDif(0, 0, t, 24, sim), 6);
    EXPECT_EQ(sim, 3 * kExactHit);
    // Type 1 against type 0: transition 0 is closed, 1 is open.
    EXPECT_FALSE(m->isTransitionPossible(5, 0, 0));
    EXPECT_TRUE(m->isTransitionPossible(5, 0, 1));
    EXPECT_EQ(m->getNestCompareResult(5, 0, 0, dif), nullptr);
    EXPECT_NE(m->getNestCompareResult(5, 0, 1, dif), nullptr);
    // Every transition, and some outside the range, for the four pairs of types.
    for (const int np : {0, 5}) {
        for (const int ng : {0, 5}) {
            for (Transition tr = -2; tr <= MPT + 2; ++tr) {
                EXPECT_EQ(
                    m->isTransitionPossible(static_cast<short>(np), static_cast<short>(ng), tr),
                    isTransitionPossibleForTypes(np == 5, ng == 5, tr))
                    << np << " " << ng << " " << tr;
            }
        }
    }
    // No transition open up to the limit: none is best. Asked for a link transition, the
    // pair gets transitions 0..4 cached and is measured against the best of them.
    m->clearNestCompareCells(MAX_NESTS, MAX_NESTS);
    m->getNestCompareResult(5, 1, 0, best);
    EXPECT_EQ(m->m_nestCompare[5][1].bestTransition, TR_NONE);
    EXPECT_EQ(m->getTransitionDif(5, 1, t, 24, sim), 6 - 1);
    EXPECT_EQ(m->m_nestCompare[5][1].bestTransition, 1);
}

TEST(NestComparison, FinalComparisonCountsUnexplainedNeighboursOnce)
{
    // Neighbours 1 and 2 pair within the group; neighbour 3 is in the group on neither side
    // and weighs against the similarity, less when the probe's is excluded. Every mark is
    // clear afterwards, so that a repeated comparison gives the same answer.
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    m->setDistErrorLevel(2);
    m->m_curGroup = &m->m_kernelGroups[0];
    m->m_curGroup->reset();
    m->m_curGroup->add(0, 0, 0);
    m->m_curGroup->add(1, 1, 0);
    m->m_curGroup->add(2, 2, 0);
    int sims[2] = {};
    for (int excluded = 0; excluded < 2; ++excluded) {
        m->m_excludeP[3] = static_cast<std::uint8_t>(excluded);
        for (int round = 0; round < 2; ++round) {
            m->compNestsFinal(0, 0, 0, 0);
            EXPECT_EQ(m->m_scratchHit.m_numItems, 2);
            if (round == 0) {
                sims[excluded] = m->m_scratchHit.m_sim;
            }
            EXPECT_EQ(m->m_scratchHit.m_sim, sims[excluded]);
            for (int i = 0; i < MAX_NESTS; ++i) {
                ASSERT_EQ(m->m_notHitP[i].notHit + m->m_notHitP[i].sameDir, 0) << i;
                ASSERT_EQ(m->m_notHitG[i].notHit + m->m_notHitG[i].sameDir, 0) << i;
            }
        }
    }
    EXPECT_GT(sims[0], 0);
    EXPECT_LT(sims[0], sims[1]);
}

TEST(NestComparison, FinalComparisonFollowsTheGroupsPairs)
{
    // One matcher compares nest 0 against a group changed in place between the comparisons
    // (a partner moved, a pair dropped, the first pairs back): each answer is that of a
    // matcher seeing the group for the first time, also with the tables made beforehand.
    const std::vector<std::vector<std::pair<int, int>>> groups = {{{0, 0}, {1, 1}, {2, 2}},
                                                                  {{0, 0}, {1, 1}, {2, 3}},
                                                                  {{0, 0}, {1, 1}},
                                                                  {{0, 0}, {1, 1}, {2, 2}}};
    const auto load = [] {
        auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                       zftest::PlanOf(kNest, NestLinks()));
        m->setDistErrorLevel(2);
        m->m_curGroup = &m->m_kernelGroups[0];
        m->m_curGroup->reset();
        return m;
    };
    auto kept = load();
    int counts[4] = {};
    for (std::size_t v = 0; v < groups.size(); ++v) {
        SCOPED_TRACE(v);
        auto fresh = load();
        for (Matcher100* m : {kept.get(), fresh.get()}) {
            GroupEx& g = *m->m_curGroup;
            g.m_pair.m_numItems = 0;
            for (const auto& p : groups[v]) {
                g.add(p.first, p.second, 0);
            }
        }
        kept->compNestsFinal(0, 0, 0, 0);
        const HitGroup k = kept->m_scratchHit;
        fresh->compNestsFinal(0, 0, 0, 0);
        EXPECT_EQ(k.m_numItems, fresh->m_scratchHit.m_numItems);
        EXPECT_EQ(k.m_sim, fresh->m_scratchHit.m_sim);
        counts[v] = k.m_numItems;
        // The score's way: the tables made once for the group, then the comparison.
        kept->makeFinalPartners();
        kept->compNestsFinalMade(0, 0, 0);
        EXPECT_EQ(k.m_numItems, kept->m_scratchHit.m_numItems);
        EXPECT_EQ(k.m_sim, kept->m_scratchHit.m_sim);
    }
    EXPECT_EQ(counts[0], 2);
    EXPECT_EQ(counts[1], 1);
}

TEST(NestComparison, ClearingEmptiesEveryWrittenCell)
{
    // Once all cells were emptied, a clearing empties only the cells written since: those
    // with a rotation, and those computed with a rotation of 0 (nests of equal angles), even
    // beyond the rectangle it is given.
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    m->setDistErrorLevel(2);
    const int cells[][2] = {{0, 0}, {1, 0}, {5, 5}, {3, 1}};
    for (int round = 0; round < 2; ++round) {
        unsigned short best = 0;
        for (const auto& c : cells) {
            m->getNestCompareResult(c[0], c[1], 4, best);
        }
        EXPECT_EQ(m->m_nestCompare[0][0].rotation, 0);
        EXPECT_EQ(m->m_nestCompare[0][0].computed, 1);
        m->clearNestCompareCells(1, 1);
        for (const auto& c : cells) {
            const NestCompareResult& cell = m->m_nestCompare[c[0]][c[1]];
            EXPECT_EQ(cell.rotation, 0);
            EXPECT_EQ(cell.computed, 0);
            EXPECT_EQ(cell.bestSim, 0);
            EXPECT_EQ(cell.bestTransition, TR_NONE);
            for (const HitGroup* g : cell.groups) {
                EXPECT_EQ(g, nullptr);
            }
        }
    }
}

TEST(NestComparison, HitGroupStoreKeepsGroupsApartAndReusesBlocks)
{
    // Enough groups of every size to fill several blocks of each kind; each group's items
    // are written whole and must all survive the later groups.
    HitGroupStore store;
    std::vector<HitGroup*> groups;
    for (unsigned k = 0; k < 1500; ++k) {
        const unsigned count = (k * 37) % (MAX_NESTS + 1);
        HitGroup* g = store.take(count);
        ASSERT_EQ(g->m_maxItems, count);
        EXPECT_EQ(g->m_numItems, 0);
        for (unsigned i = 0; i < count; ++i) {
            g->m_items[i] = HitItem{static_cast<short>(k), static_cast<short>(i), 0, 0, 0, 0, 0};
        }
        groups.push_back(g);
    }
    for (unsigned k = 0; k < groups.size(); ++k) {
        for (unsigned i = 0; i < groups[k]->m_maxItems; ++i) {
            ASSERT_EQ(groups[k]->m_items[i].nP, static_cast<short>(k));
            ASSERT_EQ(groups[k]->m_items[i].nG, static_cast<short>(i));
        }
    }
    store.clear();
    HitGroup* again = store.take(3);
    EXPECT_EQ(again, groups[0]);
    EXPECT_EQ(again->m_items, groups[0]->m_items);
}

TEST(NestSelection, SignaturePassAndBestNests)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    m->setDistErrorLevel(2);
    m->m_transitionLimit = 4;
    EXPECT_EQ(m->compareAllNestAccel(), 36);
    unsigned total = 0;
    for (unsigned c : m->m_accelHistogram) {
        total += c;
    }
    EXPECT_EQ(total, 36u); // every pair lies within the rotation limit of 50 + 50
    EXPECT_GT(m->m_accelSim[0][0], 0);
    m->compareBestNests(1);
    ASSERT_GE(m->m_numBestNests, 1u);
    EXPECT_EQ(m->m_bestNests[0].np, 0);
    EXPECT_EQ(m->m_bestNests[0].ng, 0);
    EXPECT_EQ(m->m_bestNests[0].sim, 3 * kExactHit);
    m->chooseBestNests(200, 0);
    ASSERT_GE(m->m_nestVirtSizeSet.m_numItems, 1u);
    EXPECT_EQ(m->m_nestVirtSizeSet.items[0].size, 4); // three hits and the pair itself

    // A pair with no open transition enters with size 0 only when the minimum is 0.
    m->clearNestCompareCells(MAX_NESTS, MAX_NESTS);
    m->m_transitionLimit = 0;
    const std::uint8_t np[] = {0, 5};
    const std::uint8_t ng[] = {0, 0};
    m->compareNestsFromAccelMatch(np, ng, 2);
    ASSERT_EQ(m->m_numBestNests, 2u);
    m->chooseBestNests(2, 0);
    EXPECT_EQ(m->m_nestVirtSizeSet.m_numItems, 2u);
    EXPECT_EQ(m->m_nestVirtSizeSet.items[1].size, 0);
    m->chooseBestNests(2, 1);
    EXPECT_EQ(m->m_nestVirtSizeSet.m_numItems, 1u);

    // A caller's pair naming a minutia the side does not have is left out.
    const std::uint8_t farP[] = {0, 200};
    const std::uint8_t farG[] = {0, 1};
    m->compareNestsFromAccelMatch(farP, farG, 2);
    EXPECT_EQ(m->m_numBestNests, 1u);
}

TEST(NestSelection, BestNestsAreThePairsReachingTheThreshold)
{
    // Rows scanned 16 similarities at a time with a tail read as one more step (37 nests), and
    // rows whose tail would pass the end of the row and is read pair by pair (250 nests):
    // every pair at or above the threshold is compared (and, with no similarity floor,
    // listed), no other.
    for (const int count : {37, 250}) {
        SCOPED_TRACE(count);
        std::vector<MinutiaPoint> points;
        for (int k = 0; k < count; ++k) {
            points.push_back({20 + 19 * (k % 25), 30 + 43 * (k / 25), (9 * k) % 360});
        }
        auto m = zftest::LoadedMatcher(zftest::PlanOf(points), zftest::PlanOf(points));
        ASSERT_EQ(m->m_numNestG, count);
        m->setDistErrorLevel(2);
        m->m_transitionLimit = 4;
        m->m_speedRow[3] = -1;
        const std::uint8_t threshold = 7;
        std::vector<int> want;
        for (int np = 0; np < m->m_numNestP; ++np) {
            for (int ng = 0; ng < m->m_numNestG; ++ng) {
                const auto sim =
                    static_cast<std::uint8_t>((np * 5 + ng * 3) % 10 + (ng == count - 1 ? 7 : 0));
                m->m_accelSim[np][ng] = sim;
                if (sim >= threshold) {
                    want.push_back(np * 256 + ng);
                }
            }
            // Entries past the last nest are never read as pairs.
            for (int ng = m->m_numNestG; ng < MAX_NESTS; ++ng) {
                m->m_accelSim[np][ng] = 255;
            }
        }
        m->compareBestNests(threshold);
        std::vector<int> got;
        for (std::uint32_t k = 0; k < m->m_numBestNests; ++k) {
            got.push_back(m->m_bestNests[k].np * 256 + m->m_bestNests[k].ng);
        }
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, want);
    }
}

TEST(NestSelection, BestNestsOfRealPrintsAreThoseOfTheirPairsComparedOneByOne)
{
    // Two real prints, with minutiae of both types: the best-nest pass leaves every cell as
    // getNestCompareResult does when asked for the same pairs in the same order (a comparison
    // reads the cells compared before it), and lists the similarities it leaves.
    const zftest::Template& p = zftest::FvcSetTemplate("fvc2002_db1_b", 101, 1);
    const zftest::Template& g = zftest::FvcSetTemplate("fvc2002_db1_b", 101, 2);
    if (p.empty() || g.empty()) {
        GTEST_SKIP() << "shared FVC2002 data absent";
    }
    setDefaultTransitionMatrix();
    const auto load = [&p, &g] {
        auto m = std::make_unique<Matcher100>();
        m->setParameters(180, 0);
        zftest::Template copyP = p;
        zftest::Template copyG = g;
        EXPECT_EQ(m->loadTemplate(true, copyP.data(), FP_PLAIN, nullptr, 0, 0), 0);
        EXPECT_EQ(m->loadTemplate(false, copyG.data(), FP_PLAIN, nullptr, 0, 0), 0);
        m->m_transitionLimit = 4;
        m->m_speedRow[3] = -1;
        m->compareAllNestAccel();
        return m;
    };
    for (const int minCount : {60, 250}) {
        SCOPED_TRACE(minCount);
        auto listed = load();
        auto single = load();
        int types[2] = {};
        for (int i = 0; i < listed->m_numNestP; ++i) {
            ++types[listed->m_minutiaeP[i].type == 1 ? 1 : 0];
        }
        ASSERT_GT(types[0], 0);
        ASSERT_GT(types[1], 0);
        const std::uint8_t threshold = listed->getSimThreshold(minCount, listed->m_accelHistogram);
        listed->compareBestNests(threshold);
        std::vector<std::vector<int>> want;
        for (int np = 0; np < single->m_numNestP; ++np) {
            for (int ng = 0; ng < single->m_numNestG; ++ng) {
                if (single->m_accelSim[np][ng] >= threshold) {
                    unsigned short best = 0;
                    single->getNestCompareResult(np, ng, 4, best);
                    want.push_back({np, ng, best});
                }
            }
        }
        std::vector<std::vector<int>> got;
        for (std::uint32_t k = 0; k < listed->m_numBestNests; ++k) {
            const BestNest& b = listed->m_bestNests[k];
            got.push_back({b.np, b.ng, b.sim});
        }
        std::sort(got.begin(), got.end());
        EXPECT_GE(got.size(), static_cast<std::size_t>(minCount));
        EXPECT_EQ(got, want);
        int differing = 0;
        for (int np = 0; np < single->m_numNestP; ++np) {
            for (int ng = 0; ng < single->m_numNestG; ++ng) {
                const NestCompareResult& a = listed->m_nestCompare[np][ng];
                const NestCompareResult& b = single->m_nestCompare[np][ng];
                bool same = a.bestSim == b.bestSim && a.rotation == b.rotation &&
                            a.bestTransition == b.bestTransition && a.computed == b.computed;
                for (int t = 0; t < NUM_CACHED_TRANSITIONS; ++t) {
                    same = same && (a.groups[t] == nullptr) == (b.groups[t] == nullptr) &&
                           (a.groups[t] == nullptr || a.groups[t]->m_sim == b.groups[t]->m_sim);
                }
                differing += same ? 0 : 1;
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

TEST(NestSelection, SharedBitCountAgreesWithEveryForm)
{
    // The count of the build (SSE2 on x86), the portable one and the one by 64-bit words (the
    // signature pass's where the processor has POPCNT) against bit-by-bit counting, on edge
    // patterns (bits at every byte and word boundary) and pseudo-random ones.
    const auto naive = [](const NestAccel& a, const NestAccel& b) {
        unsigned n = 0;
        for (int k = 0; k < 256; ++k) {
            n += (a.bits[k / 8] >> (k % 8)) & (b.bits[k / 8] >> (k % 8)) & 1u;
        }
        return n;
    };
    std::vector<NestAccel> patterns(4);
    std::memset(patterns[0].bits, 0, 32);
    std::memset(patterns[1].bits, 0xFF, 32);
    for (int k = 0; k < 32; ++k) {
        patterns[2].bits[k] = k % 2 == 0 ? 0x81 : 0x7E;
        patterns[3].bits[k] = static_cast<std::uint8_t>(0x80 >> (k % 8));
    }
    std::uint32_t state = 12345;
    for (int p = 0; p < 60; ++p) {
        NestAccel a;
        for (std::uint8_t& byte : a.bits) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        patterns.push_back(a);
    }
    for (const NestAccel& a : patterns) {
        for (const NestAccel& b : patterns) {
            const unsigned want = naive(a, b);
            ASSERT_EQ(compNestAccelPortable(a, b), want);
            ASSERT_EQ(compNestAccel(a, b), want);
            ASSERT_EQ(compNestAccelWords(a, b), want);
        }
    }
}

TEST(NestSelection, EmptyGalleryHasNoPairs)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()), zftest::PlanOf({}));
    EXPECT_EQ(m->m_numNestG, 0);
    EXPECT_EQ(m->compareAllNestAccel(), 0);
    for (unsigned c : m->m_accelHistogram) {
        EXPECT_EQ(c, 0u);
    }
}

TEST(NestPredicates, QuadrantOfANeighbour)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest, NestLinks()),
                                   zftest::PlanOf(kNest, NestLinks()));
    bool flag = false;
    int rc = 99;
    EXPECT_EQ(m->getQuadrant(0, &m->m_minutiaeP[0], &m->m_linksP[0], 1, flag, rc, 0), 1);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(m->getQuadrant(0, &m->m_minutiaeP[0], &m->m_linksP[0], 2, flag, rc, 0), 0);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(m->getQuadrant(0, &m->m_minutiaeP[0], &m->m_linksP[0], 4, flag, rc, 0), -1);
}

TEST(NestPredicates, QuadrantsKeptAtLoading)
{
    // Neighbour 1 in two slots of quadrant 1; neighbour 3 in quadrants 2 and 3 (a conflict,
    // with the ridge count of the second slot) and then in quadrant 0, which must not undo it.
    std::vector<std::vector<LinkPlan>> links(6);
    links[0] = {{0, 1, 1, 0}, {2, 2, 2, 0}, {4, 5, 1, 0}, {5, 1, 3, 0}, {6, 2, 3, 0}, {7, 6, 3, 0}};
    links[5] = {{0, 1, 0, 0}, {3, 2, 0, 0}};
    auto m =
        zftest::LoadedMatcher(zftest::PlanOf(kNest, links), zftest::PlanOf(kNest, NestLinks()));
    zftest::ExpectLoadedQuadrants(*m);
    int rc = 0;
    EXPECT_EQ(m->linkQuadrant(true, 0, 3, rc), -1);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(m->linkQuadrant(true, 0, 1, rc), 1);
    EXPECT_EQ(m->linkQuadrant(true, 0, 4, rc), -1);
    EXPECT_EQ(rc, 0);
}

TEST(NestPredicates, RightAndLeftLinkLimitsFollowTheirDefinition)
{
    // Pseudo-random link lists (fixed seed) of every length, sparse and dense, against the
    // definition: the last right-hand (and other) slot from 1 on with a probe link, the same
    // for the gallery slot each probe slot maps to, and the smaller of the two.
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    std::uint32_t state = 777;
    const auto next = [&state](std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 16) % n;
    };
    int cases = 0;
    for (int round = 0; round < 400; ++round) {
        ESK::Link links[2] = {};
        for (ESK::Link& l : links) {
            l.count = static_cast<std::uint8_t>(next(ESK::ESK_LINK_SLOTS + 1));
            const std::uint32_t fill = 1 + next(4); // one slot in fill has a link
            for (int k = 0; k < l.count; ++k) {
                l.slot[k].code = static_cast<std::uint8_t>(next(fill) == 0 ? next(24) : 0);
            }
        }
        for (int type = 0; type < 2; ++type) {
            for (Transition t = 0; t < TL_3; ++t) {
                SCOPED_TRACE(testing::Message() << round << " " << type << " " << t);
                int want[2][2] = {}; // [right, left][probe, gallery]
                for (int k = 1; k < std::min<int>(links[0].count, ESK::ESK_LINK_SLOTS); ++k) {
                    const int side = isRightLink[type][k] != 0 ? 0 : 1;
                    if (links[0].slot[k].code != 0) {
                        want[side][0] = k;
                    }
                    const int gs = TransitionMatrix[t][k];
                    if (gs >= 0 && gs < links[1].count && (links[1].slot[gs].code & 15) != 0) {
                        want[side][1] = k;
                    }
                }
                int right = -1;
                int left = -1;
                m->getMaxRightAndLeftLink(static_cast<std::uint8_t>(type), &links[0], &links[1], t,
                                          right, left);
                EXPECT_EQ(right, std::min(want[0][0], want[0][1]));
                EXPECT_EQ(left, std::min(want[1][0], want[1][1]));
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 400 * 2 * TL_3);
}

TEST(NestPredicates, CentralPairAndDirections)
{
    // G is P turned by 30 degrees about minutia 0.
    std::vector<MinutiaPoint> turned = kNest;
    for (MinutiaPoint& s : turned) {
        const double a = 30 * 3.14159265358979 / 180;
        const double x = s.x - 200;
        const double y = s.y - 200;
        s.x = static_cast<int>(std::lround(200 + x * std::cos(a) - y * std::sin(a)));
        s.y = static_cast<int>(std::lround(200 + x * std::sin(a) + y * std::cos(a)));
        s.angle += 30;
    }
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest), zftest::PlanOf(turned));
    m->setDistErrorLevel(0);
    for (int i = 1; i < 6; ++i) {
        SCOPED_TRACE(i);
        // With the true rotation every pair agrees with the central pair (0, 0).
        EXPECT_TRUE(m->isPairsCompatible(0, 0, i, i, -30, false));
        EXPECT_TRUE(m->isCompatibleWitchCentralPoint(0, 0, i, i, -30, false));
        // Ignoring it: directions still within 35 and 50, minutia angles 30 apart fail the
        // strict 25 and pass the 35 of the central-point test.
        EXPECT_FALSE(m->isPairsCompatible(0, 0, i, i, 0, false));
        EXPECT_TRUE(m->isCompatibleWitchCentralPoint(0, 0, i, i, 0, false));
    }
    // Lengths that disagree fail both.
    EXPECT_FALSE(m->isPairsCompatible(0, 0, 1, 4, -30, false));
    EXPECT_FALSE(m->isCompatibleWitchCentralPoint(0, 0, 1, 4, -30, true));
    EXPECT_GE(m->compareSuitableAccelerators(0, 0), 6);
    // Direction consistency of two pairs.
    EXPECT_TRUE(m->checkAngles(1, 1, 2, 2));
    EXPECT_FALSE(m->checkAngles(2, 2, 4, 3));
    EXPECT_FALSE(m->checkAngles(1, 1, 1, 2)); // shared minutia: no segment
}

TEST(VirtualSizeSet, ClearingUsedNestsKeepsAStableOrderBySize)
{
    auto m = zftest::LoadedMatcher(zftest::PlanOf(kNest), zftest::PlanOf(kNest));
    GroupEx& g = m->m_kernelGroups[0];
    g.reset();
    g.add(3, 3, 0);
    g.add(5, 4, 0);
    // Entries {np, ng, size}: the first is always cleared, and so is every group pair.
    struct Case {
        std::vector<NestVirtSize> before;
    };
    const Case cases[] = {
        {{{9, 9, 7}, {3, 3, 6}, {1, 1, 6}, {5, 4, 5}, {2, 2, 5}, {4, 4, 0}}}, // sorted
        {{{9, 9, 7}, {1, 1, 2}, {3, 3, 6}, {2, 2, 5}, {7, 7, 0}, {4, 4, 5}}}, // out of order
        {{{9, 9, 7}}},
    };
    for (const Case& c : cases) {
        NestVirtSizeSet& set = m->m_nestVirtSizeSet;
        std::copy(c.before.begin(), c.before.end(), set.items);
        set.m_numItems = static_cast<std::uint32_t>(c.before.size());
        std::vector<NestVirtSize> want = c.before;
        for (NestVirtSize& e : want) {
            if (&e == &want[0] || (e.np == 3 && e.ng == 3) || (e.np == 5 && e.ng == 4)) {
                e = NestVirtSize{0, 0, 0};
            }
        }
        std::stable_sort(
            want.begin(), want.end(),
            [](const NestVirtSize& a, const NestVirtSize& b) { return a.size > b.size; });
        m->clearUsedNests(&g);
        ASSERT_EQ(set.m_numItems, want.size());
        for (std::size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(set.items[k].np, want[k].np) << c.before.size() << " " << k;
            EXPECT_EQ(set.items[k].ng, want[k].ng) << c.before.size() << " " << k;
            EXPECT_EQ(set.items[k].size, want[k].size) << c.before.size() << " " << k;
        }
    }
}

} // namespace
