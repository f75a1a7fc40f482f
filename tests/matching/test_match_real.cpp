// The match on real prints: the same pair gives the same result every time, speeds without
// kernel groups score nothing, area scales and window marks kept for later steps give what
// computed ones give, the mated MINEX pairs beat all their impostors, and mutated
// templates that still load are matched without a fault. Skipped without the shared prints.

#include "matching/Matcher100.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"
#include "tests/support/fvc_sets.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace accelMatch {
namespace {

constexpr std::size_t PREFIX = 21;

std::unique_ptr<Matcher100> NewMatcher()
{
    setDefaultTransitionMatrix();
    return std::make_unique<Matcher100>();
}

int Match(Matcher100& m, const std::vector<unsigned char>& p, const std::vector<unsigned char>& g,
          MatchResult& r, int speed = 0)
{
    std::vector<unsigned char> a = p;
    std::vector<unsigned char> b = g;
    EXPECT_EQ(m.loadTemplate(true, a.data(), FP_PLAIN, nullptr, 0, 0), 0);
    EXPECT_EQ(m.loadTemplate(false, b.data(), FP_PLAIN, nullptr, 0, 0), 0);
    return m.match(r, 180, speed, false, nullptr, nullptr, 0, false);
}

const std::vector<unsigned char>& Db1(int finger, int impression)
{
    return zftest::FvcSetTemplate("fvc2002_db1_b", finger, impression);
}

// Matches each pair {finger, impression, finger, impression} of DB1 prints and hands every
// kernel group of two or more items it leaves to visit(group), the matcher's current
// group set to it. False, matching nothing, when a print is absent.
template <std::size_t N, class Visit>
bool ForEachKernelGroup(Matcher100& m, const int (&pairs)[N][4], Visit visit)
{
    for (const auto& q : pairs) {
        if (Db1(q[0], q[1]).empty() || Db1(q[2], q[3]).empty()) {
            return false;
        }
    }
    for (const auto& q : pairs) {
        MatchResult r;
        EXPECT_EQ(Match(m, Db1(q[0], q[1]), Db1(q[2], q[3]), r), 0);
        for (GroupEx& g : m.m_kernelGroups) {
            if (g.getNumItems() < 2) {
                continue;
            }
            SCOPED_TRACE(q[0] * 100 + q[2]);
            m.m_curGroup = &g;
            visit(g);
        }
    }
    return true;
}

TEST(MatchReal, SamePairSameResult)
{
    if (Db1(101, 1).empty() || Db1(101, 2).empty() || Db1(104, 3).empty()) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    auto m = NewMatcher();
    MatchResult first;
    MatchResult again;
    MatchResult other;
    ASSERT_EQ(Match(*m, Db1(101, 1), Db1(101, 2), first), 0);
    EXPECT_GT(first.score, 0);
    // Another comparison in between leaves nothing behind.
    ASSERT_EQ(Match(*m, Db1(101, 1), Db1(104, 3), other), 0);
    ASSERT_EQ(Match(*m, Db1(101, 1), Db1(101, 2), again), 0);
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
    // A second matcher agrees.
    auto n = NewMatcher();
    ASSERT_EQ(Match(*n, Db1(101, 1), Db1(101, 2), again), 0);
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
}

TEST(MatchReal, ResultsFollowTheLoadedSidesOnly)
{
    // Answers kept for a loaded side must follow each load: a probe kept across galleries,
    // a probe replaced, and many loads in a row (the load marks wrap) all give what a fresh
    // matcher gives.
    if (Db1(101, 1).empty() || Db1(101, 2).empty() || Db1(104, 3).empty() || Db1(106, 2).empty()) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    const auto fresh = [](const std::vector<unsigned char>& p,
                          const std::vector<unsigned char>& g) {
        auto n = NewMatcher();
        MatchResult r;
        EXPECT_EQ(Match(*n, p, g, r), 0);
        return r;
    };
    auto m = NewMatcher();
    const auto load = [&m](bool isP, const std::vector<unsigned char>& t) {
        std::vector<unsigned char> copy = t;
        ASSERT_EQ(m->loadTemplate(isP, copy.data(), FP_PLAIN, nullptr, 0, 0), 0);
    };
    const auto expectFresh = [&](const std::vector<unsigned char>& p,
                                 const std::vector<unsigned char>& g) {
        MatchResult r;
        ASSERT_EQ(m->match(r, 180, 0, false, nullptr, nullptr, 0, false), 0);
        const MatchResult want = fresh(p, g);
        EXPECT_EQ(std::memcmp(&r, &want, sizeof r), 0);
    };
    load(true, Db1(101, 1));
    load(false, Db1(101, 2));
    expectFresh(Db1(101, 1), Db1(101, 2));
    load(false, Db1(104, 3)); // probe kept
    expectFresh(Db1(101, 1), Db1(104, 3));
    load(true, Db1(106, 2)); // probe replaced, gallery kept
    expectFresh(Db1(106, 2), Db1(104, 3));
    for (int k = 0; k < 300; ++k) {
        load(k % 2 == 0, k % 3 == 0 ? Db1(101, 1) : Db1(106, 2));
        load(k % 2 != 0, Db1(104, 3));
        MatchResult r;
        ASSERT_EQ(m->match(r, 180, 0, false, nullptr, nullptr, 0, false), 0);
    }
    load(true, Db1(101, 2));
    load(false, Db1(101, 1));
    expectFresh(Db1(101, 2), Db1(101, 1));
}

TEST(MatchReal, SpeedsWithoutKernelGroupsScoreNothing)
{
    if (Db1(102, 1).empty() || Db1(102, 2).empty()) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    auto m = NewMatcher();
    MatchResult r;
    ASSERT_EQ(Match(*m, Db1(102, 1), Db1(102, 2), r, 0), 0);
    EXPECT_GT(r.score, 0);
    for (int speed = 1; speed <= 3; ++speed) {
        SCOPED_TRACE(speed);
        ASSERT_EQ(Match(*m, Db1(102, 1), Db1(102, 2), r, speed), 0);
        EXPECT_EQ(r.score, 0);
        EXPECT_EQ(r.numPairs, 0u);
    }
}

TEST(MatchReal, KeptProbeScalesGiveTheCompatiblePairsOfComputedOnes)
{
    // The area scales kept from carrying every probe minutia are getAreaScale's at each, and
    // the search of compatible pairs finds the same records with them as it does computing
    // its own, on the kernel groups left by mated and non-mated matches.
    const int pairs[][4] = {{101, 1, 101, 2}, {102, 1, 102, 3}, {103, 2, 103, 4}, {105, 1, 105, 6},
                            {107, 3, 107, 8}, {110, 2, 110, 5}, {101, 1, 104, 3}, {106, 4, 109, 7}};
    auto m = NewMatcher();
    int compared = 0;
    const bool present = ForEachKernelGroup(*m, pairs, [&](GroupEx& g) {
        m->combineFingerprintsByCurGroup(&g, true, true, true);
        ASSERT_EQ(m->m_probeScalesOf, &g);
        for (int i = 0; i < m->m_numNestP; ++i) {
            int sx = 0;
            int sy = 0;
            m->getAreaScale(&g, m->m_minutiaeP[i].x, m->m_minutiaeP[i].y, sx, sy, true);
            ASSERT_EQ(m->m_probeScaleX[i], sx) << i;
            ASSERT_EQ(m->m_probeScaleY[i], sy) << i;
        }
        m->findExclude();
        m->findStrongExclude();
        m->expandCurGroup(true);
        m->m_probeScalesFresh = true;
        m->findAllCompatiblePairs();
        EXPECT_FALSE(m->m_probeScalesFresh);
        const std::vector<Matcher100::CompatiblePair> kept(m->m_compatPairs,
                                                           m->m_compatPairs + m->m_numCompatPairs);
        m->findAllCompatiblePairs();
        ASSERT_EQ(m->m_numCompatPairs, kept.size());
        // memcmp wants valid pointers even for no bytes, and an empty vector may hold none.
        EXPECT_TRUE(kept.empty() ||
                    std::memcmp(kept.data(), m->m_compatPairs,
                                sizeof(Matcher100::CompatiblePair) * kept.size()) == 0);
        compared += kept.empty() ? 0 : 1;
    });
    if (!present) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    EXPECT_GT(compared, 10);
}

TEST(MatchReal, KeptWindowMarksGiveTheExclusionOfCountedOnes)
{
    // The exclusion the score finds from the window marks the geometric expansion kept (its
    // growth carrying the gallery minutiae of new pairs meanwhile) is the one counted afresh,
    // on the kernel groups left by mated and non-mated matches.
    const int pairs[][4] = {
        {101, 1, 101, 2}, {103, 2, 103, 4}, {107, 3, 107, 8}, {101, 1, 104, 3}, {106, 4, 109, 7}};
    auto m = NewMatcher();
    int grown = 0;
    const bool present = ForEachKernelGroup(*m, pairs, [&](GroupEx& g) {
        const unsigned before = g.getNumItems();
        g.m_baseSize = before;
        m->setDistErrorLevel(1);
        m->expandCurGroupByGeometry(false);
        ASSERT_TRUE(m->m_windowMarksKept);
        m->findExclude();
        std::vector<std::uint8_t> keptP(m->m_excludeP, m->m_excludeP + MAX_NESTS);
        std::vector<std::uint8_t> keptG(m->m_excludeG, m->m_excludeG + MAX_NESTS);
        m->m_windowMarksKept = false;
        m->findExclude();
        EXPECT_EQ(std::memcmp(keptP.data(), m->m_excludeP, MAX_NESTS), 0);
        EXPECT_EQ(std::memcmp(keptG.data(), m->m_excludeG, MAX_NESTS), 0);
        grown += g.getNumItems() > before ? 1 : 0;
        // Carrying the minutiae again voids the kept marks.
        m->m_windowMarksKept = true;
        m->combineFingerprintsByCurGroup(&g, false, true, false);
        EXPECT_FALSE(m->m_windowMarksKept);
    });
    if (!present) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    EXPECT_GT(grown, 5);
}

TEST(MatchReal, MatedMinexPairsBeatTheirImpostors)
{
    const char* names[] = {"a001_03p", "a001_04p", "a001_05p", "a001_06p", "a001_07p",
                           "a004_05p", "a999_01p", "b001_04p", "b001_06p", "b001_08p"};
    std::vector<std::vector<unsigned char>> t;
    for (const char* name : names) {
        const std::string path =
            zftest::SharedData(std::string("fingerprints/minex_sd29/") + name + ".pgm");
        if (path.empty()) {
            GTEST_SKIP() << "shared MINEX prints absent";
        }
        t.push_back(zftest::TemplateFromPgm(path, 1)); // a999_01p (poor) may make none
    }
    ASSERT_FALSE(t[1].empty() || t[3].empty() || t[7].empty() || t[8].empty());
    auto m = NewMatcher();
    auto score = [&](int a, int b) {
        MatchResult r;
        EXPECT_EQ(Match(*m, t[static_cast<std::size_t>(a)], t[static_cast<std::size_t>(b)], r), 0);
        return r.score;
    };
    // a001_04p - b001_04p (1, 7) and a001_06p - b001_06p (3, 8).
    for (const auto& mate : {std::pair<int, int>{1, 7}, std::pair<int, int>{3, 8}}) {
        const int genuine = score(mate.first, mate.second);
        for (int k = 0; k < 10; ++k) {
            for (const int side : {mate.first, mate.second}) {
                if (k == mate.first || k == mate.second || t[static_cast<std::size_t>(k)].empty()) {
                    continue;
                }
                SCOPED_TRACE(testing::Message() << names[side] << " - " << names[k]);
                EXPECT_GT(genuine, score(std::min(side, k), std::max(side, k)));
            }
        }
    }
}

// Next value of a fixed linear congruential sequence.
std::uint32_t NextRandom(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

TEST(MatchReal, MutatedTemplatesMatchWithoutFault)
{
    if (Db1(103, 1).empty() || Db1(105, 2).empty()) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    auto m = NewMatcher();
    const int rounds = zftest::InputSize(300, 30);
    std::uint32_t state = 20261210;
    int matched = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::vector<unsigned char>& base = round % 2 == 0 ? Db1(103, 1) : Db1(105, 2);
        // Bits of the record body flipped, then sealed again so the record reaches loading;
        // every fifth side is loaded as a latent print.
        zftest::Bytes record(base.begin() + PREFIX, base.end());
        const int flips = 1 + static_cast<int>(NextRandom(state) % 3);
        for (int k = 0; k < flips; ++k) {
            const std::size_t at = 67 + NextRandom(state) % (record.size() - 68);
            record[at] ^= static_cast<unsigned char>(1u << (NextRandom(state) % 8));
        }
        zftest::Seal(record);
        std::vector<unsigned char> tpl(base.begin(), base.begin() + PREFIX);
        tpl.insert(tpl.end(), record.begin(), record.end());
        std::vector<unsigned char> probe = Db1(104, 1);
        ASSERT_EQ(m->loadTemplate(true, probe.data(), FP_PLAIN, nullptr, 0, 0), 0);
        const bool asProbe = round % 3 == 0;
        const FP_TYPE type = round % 5 == 0 ? FP_LATENT : FP_PLAIN;
        if (m->loadTemplate(asProbe, tpl.data(), type, nullptr, 0, 0) != 0) {
            continue;
        }
        if (asProbe) {
            std::vector<unsigned char> gallery = Db1(104, 2);
            ASSERT_EQ(m->loadTemplate(false, gallery.data(), FP_PLAIN, nullptr, 0, 0), 0);
        }
        MatchResult r;
        const int rc = m->match(r, round % 2 == 0 ? 180 : 40, 0, false, nullptr, nullptr, 0, false);
        EXPECT_EQ(rc, 0);
        EXPECT_GE(r.score, 0);
        EXPECT_LE(r.score, 10000);
        ++matched;
    }
    EXPECT_GT(matched, rounds / 5); // many mutations damage a section and are refused
    RecordProperty("matched", matched);
}

} // namespace
} // namespace accelMatch
