// Templates and comparisons made on several threads at once come out as made on one thread:
// the engine keeps its fill state and its per-mode tables per object, and the matcher's tables
// are constant or built once on first use. The threads mix modes and image kinds, so a table
// or a fill state shared between engines would show as a changed record.

#include "matching/MatchTypes.h"
#include "matching/Matcher100.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"
#include "tests/support/flow_images.h"
#include "tests/support/real_records.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int THREADS = 4;

// One way to run the engine: image kind, rotation, x resolution and mode. Kind 'A' turned or
// with a resolution other than 500 ppi is resampled and fills the pixels outside the source.
struct RunCase {
    unsigned char kind;
    int angle;
    int xres;
    bool quick;
};

const RunCase kRuns[] = {
    {'F', 0, 500, false},
    {'A', 30, 400, false},
    {'F', 0, 500, true},
    {'A', 30, 400, true},
};

// The record of one run on the print (empty when a stage throws).
std::vector<unsigned char> Record(const RunCase& c, const std::vector<unsigned char>& px, int w,
                                  int h)
{
    auto e = std::make_unique<wizard73::Codex>();
    wizard73::SData s{};
    s.kind = c.kind;
    s.angle = static_cast<std::int16_t>(c.angle);
    s.width = static_cast<std::uint16_t>(w);
    s.height = static_cast<std::uint16_t>(h);
    s.xres = static_cast<std::uint16_t>(c.xres);
    s.yres = 500;
    s.links = 17;
    s.pixels = px.data();
    s.check = zftest::CheckValue(px.data(), w, h);
    if (e->Loader(s, wizard73::pyr[2], false) != 0) {
        return {};
    }
    e->m_quick = c.quick ? 1 : 0; // the loader clears the mode
    if (!zftest::RunThroughEpilog(*e)) {
        return {};
    }
    return zftest::WrittenRecord(*e);
}

TEST(Threads, EnginesOnSeveralThreadsWriteTheSingleThreadRecords)
{
    std::vector<unsigned char> px;
    int w = 0;
    int h = 0;
    if (!zftest::ReadPgm(zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm"), px, w, h)) {
        GTEST_SKIP() << "FVC2002 DB1 set B not found";
    }
    constexpr std::size_t RUNS = sizeof kRuns / sizeof kRuns[0];
    std::vector<std::vector<unsigned char>> expected;
    for (const RunCase& c : kRuns) {
        expected.push_back(Record(c, px, w, h));
        ASSERT_FALSE(expected.back().empty());
    }
    ASSERT_NE(expected[0], expected[2]); // the modes differ, so a mixed-up table shows

    // Each thread runs every case, starting at a different one, so that all modes and kinds
    // overlap.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < RUNS; ++k) {
                const std::size_t i = (k + static_cast<std::size_t>(t)) % RUNS;
                if (Record(kRuns[i], px, w, h) != expected[i]) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

// Every pair of the prints (copied: the matcher takes writable bytes), scored by a matcher made
// for the purpose; -1 for a failed step.
std::vector<int> Scores(std::vector<zftest::Template> prints)
{
    auto m = std::make_unique<accelMatch::Matcher100>();
    std::vector<int> scores;
    for (std::size_t a = 0; a < prints.size(); ++a) {
        for (std::size_t b = a + 1; b < prints.size(); ++b) {
            accelMatch::MatchResult r = {};
            const bool ok =
                m->loadTemplate(true, prints[a].data(), accelMatch::FP_PLAIN, nullptr, 0, 0) == 0 &&
                m->loadTemplate(false, prints[b].data(), accelMatch::FP_PLAIN, nullptr, 0, 0) ==
                    0 &&
                m->match(r, 180, 0, false, nullptr, nullptr, 0, false) == 0;
            scores.push_back(ok ? r.score : -1);
        }
    }
    return scores;
}

TEST(Threads, MatchersMadeWhileOthersMatchScoreAsOnOneThread)
{
    std::vector<zftest::Template> prints = zftest::FvcTemplates({101, 102}, 2);
    if (prints.empty()) {
        GTEST_SKIP() << "FVC2002 DB1 set B not found";
    }
    // The transition matrix is written by a comparer initialisation, once, before any match.
    accelMatch::setDefaultTransitionMatrix();

    // The threads start together: the first lookups of the direction and link tables race,
    // and every round makes a new matcher while the other threads match.
    std::atomic<int> wrong{0};
    std::vector<std::vector<int>> first(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            first[static_cast<std::size_t>(t)] = Scores(prints);
            for (int round = 0; round < 3; ++round) {
                if (Scores(prints) != first[static_cast<std::size_t>(t)]) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    const std::vector<int> expected = Scores(prints);
    for (const std::vector<int>& s : first) {
        EXPECT_EQ(s, expected);
    }
    EXPECT_GT(expected[0], expected[1]); // 101_1 with its mate scores above an impostor
}

} // namespace
