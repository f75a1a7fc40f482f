// Record comparison of real ten-finger records: the NIST card's rolled record R against its
// plain record S in the four pairing modes, against impostor records, with a corrupt finger
// and without a common finger; and a ranking over FVC impressions.

#include "search/Ma100_TT.h"
#include "tests/search/fake_fingers.h"
#include "tests/support/digest.h"
#include "tests/support/emulation.h"
#include "tests/support/real_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using accelMatch::MatchResultTT;
using accelMatch::SearchParam;
using zftest::RealRecord;

// Compares gallery with probe in mode; the comparison's code.
int Compare(accelMatch::Ma100_TT& verifier, const RealRecord& probe, const RealRecord& gallery,
            accelMatch::MATCHING_MODE mode, MatchResultTT& res)
{
    RealRecord p = probe;
    RealRecord g = gallery;
    TpTemplate pt = p.record();
    TpTemplate gt = g.record();
    SearchParam sp = searchtest::Params(mode);
    res.clear();
    return verifier.matchTT(sp, pt, gt, res, accelMatch::FP_PLAIN, accelMatch::FP_PLAIN);
}

// Prints a result and records the digest of its fields (every target must agree).
void Print(const std::string& what, const MatchResultTT& r)
{
    std::printf("%s: %d (fingers", what.c_str(), r.score);
    std::vector<unsigned char> fields;
    const auto put = [&fields](std::uint32_t v) {
        for (int b = 0; b < 32; b += 8) {
            fields.push_back(static_cast<unsigned char>(v >> b));
        }
    };
    put(static_cast<std::uint32_t>(r.score));
    for (int i = 0; i < 10; ++i) {
        std::printf(" %d@%d", r.fingerScore[i],
                    r.galleryFinger[i] == 0xFF ? -1 : r.galleryFinger[i]);
        put(static_cast<std::uint32_t>(r.fingerScore[i]));
        fields.push_back(r.galleryFinger[i]);
    }
    put(r.numCompared);
    std::printf(")\n");
    std::string key = what;
    std::replace(key.begin(), key.end(), ' ', '_');
    zftest::RecordDigest(key, fields);
}

// One test, so that the records are made once: the mates in every pairing mode, the impostor
// records, a corrupt probe finger and records without a common finger.
TEST(RealRecords, NistRolledAgainstPlainInEveryMode)
{
    const RealRecord& r = zftest::Rolled();
    const RealRecord& s = zftest::Plain();
    if (r.count() < 10 || s.count() < 10) {
        GTEST_SKIP() << "NIST card records incomplete (R " << r.count() << ", S " << s.count()
                     << " fingers)";
    }
    accelMatch::Ma100_TT verifier;
    ASSERT_EQ(verifier.init(), 0);
    MatchResultTT straight;
    ASSERT_EQ(Compare(verifier, r, s, accelMatch::MM_POSITIONAL, straight), 0);
    Print("R against S", straight);
    EXPECT_EQ(straight.numCompared, 10u);
    {
        SCOPED_TRACE("impostor records score below the mates");
        const int impostorRecords = zftest::InputSize(2, 1);
        const RealRecord* others[2] = {&zftest::FvcOthers(), nullptr};
        if (impostorRecords > 1) {
            others[1] = &zftest::MinexOthers();
        }
        for (const RealRecord* other : others) {
            if (other == nullptr || other->count() == 0) {
                continue;
            }
            for (const RealRecord* own : {&r, &s}) {
                MatchResultTT impostor;
                ASSERT_EQ(Compare(verifier, *own, *other, accelMatch::MM_POSITIONAL, impostor), 0);
                Print(std::string(own == &r ? "R" : "S") + " against " +
                          (other == others[0] ? "FVC" : "MINEX"),
                      impostor);
                EXPECT_LT(impostor.score, straight.score);
            }
        }
    }
    {
        SCOPED_TRACE("slap mix undoes mirrored hands, positional mode does not");
        const RealRecord mirrored = s.moved(zftest::kMirrorHands);
        MatchResultTT mixed;
        MatchResultTT positional;
        ASSERT_EQ(Compare(verifier, r, mirrored, accelMatch::MM_SLAP_MIX, mixed), 0);
        ASSERT_EQ(Compare(verifier, r, mirrored, accelMatch::MM_POSITIONAL, positional), 0);
        Print("slap mix", mixed);
        Print("positional on mirrored", positional);
        EXPECT_EQ(mixed.score, straight.score);
        for (int p = 1; p <= 10; ++p) {
            SCOPED_TRACE(p);
            EXPECT_EQ(mixed.fingerScore[p - 1], straight.fingerScore[p - 1]);
            EXPECT_EQ(mixed.galleryFinger[p - 1], zftest::kMirrorHands[p - 1] - 1);
        }
        EXPECT_EQ(positional.fingerScore[0], straight.fingerScore[0]);
        EXPECT_EQ(positional.fingerScore[5], straight.fingerScore[5]);
        for (int p : {2, 3, 4, 5, 7, 8, 9, 10}) {
            EXPECT_LT(positional.fingerScore[p - 1], straight.fingerScore[p - 1]) << p;
        }
        EXPECT_LT(positional.score, straight.score);
    }
    {
        SCOPED_TRACE("finger mix finds permuted fingers");
        // A fixed permutation of the ten positions in which no finger keeps its own.
        const std::array<int, 10> to = {4, 7, 1, 9, 2, 10, 3, 5, 6, 8};
        MatchResultTT mixed;
        ASSERT_EQ(Compare(verifier, r, s.moved(to), accelMatch::MM_FINGER_MIX, mixed), 0);
        Print("finger mix", mixed);
        EXPECT_NEAR(mixed.score, straight.score, straight.score / 20.0);
        int own = 0;
        for (int p = 1; p <= 10; ++p) {
            own += mixed.galleryFinger[p - 1] == to[p - 1] - 1 ? 1 : 0;
        }
        EXPECT_GE(own, 6);
    }
    {
        SCOPED_TRACE("hand mix undoes mirrored hands and swapped thumbs");
        MatchResultTT mixed;
        ASSERT_EQ(Compare(verifier, r, s.moved(zftest::kMirrorHandsSwapThumbs),
                          accelMatch::MM_HAND_MIX, mixed),
                  0);
        Print("hand mix", mixed);
        EXPECT_EQ(mixed.score, straight.score);
        EXPECT_EQ(mixed.galleryFinger[0], 5);
        EXPECT_EQ(mixed.galleryFinger[5], 0);
    }
    {
        SCOPED_TRACE("a corrupt probe finger, and no common finger");
        MatchResultTT res;
        RealRecord corrupt = r;
        corrupt.fingers[3][corrupt.fingers[3].size() / 2] ^= 0x5A; // breaks the seal
        EXPECT_EQ(Compare(verifier, corrupt, s, accelMatch::MM_POSITIONAL, res),
                  accelMatch::MA_ERR_PROBE_PARTLY_LOADED);
        RealRecord right = r;
        RealRecord left = s;
        for (int i = 0; i < 5; ++i) {
            right.fingers[5 + i].clear();
            left.fingers[i].clear();
        }
        EXPECT_EQ(Compare(verifier, right, left, accelMatch::MM_POSITIONAL, res),
                  accelMatch::MA_ERR_NOTHING_TO_COMPARE);
    }
}

TEST(RealRanking, AMateRanksFirstForNearlyEveryFvcProbe)
{
    if (zftest::FvcTemplate(101, 1).empty()) {
        GTEST_SKIP() << "FVC2002 DB1 set B not found";
    }
    // Every impression of the reduced set as a one-finger record at position 1.
    const int fingers = zftest::InputSize(10, 3);
    std::vector<zftest::Template> copies;
    std::vector<int> owner;
    for (int f = 101; f < 101 + fingers; ++f) {
        for (int i = 1; i <= 8; ++i) {
            copies.push_back(zftest::FvcTemplate(f, i));
            owner.push_back(f);
        }
    }
    std::vector<TpTemplate> records(copies.size(), TpTemplate{});
    for (std::size_t k = 0; k < copies.size(); ++k) {
        records[k].finger[0] = copies[k].empty() ? nullptr : copies[k].data();
    }
    accelMatch::Ma100_TT verifier;
    ASSERT_EQ(verifier.init(), 0);
    SearchParam sp = searchtest::Params();
    int hits = 0;
    for (std::size_t probe = 0; probe < records.size(); ++probe) {
        std::vector<TpTemplate> gallery;
        std::vector<std::size_t> index;
        for (std::size_t k = 0; k < records.size(); ++k) {
            if (k != probe) {
                gallery.push_back(records[k]);
                index.push_back(k);
            }
        }
        accelMatch::RL best[1];
        const int r = verifier.identifyTT(sp, records[probe], gallery.data(),
                                          static_cast<unsigned>(gallery.size()), best, 1,
                                          accelMatch::FP_PLAIN, accelMatch::FP_PLAIN);
        ASSERT_EQ(r, 0) << probe;
        const bool hit = best[0].score != 0 && owner[index[best[0].listId]] == owner[probe];
        hits += hit ? 1 : 0;
        if (!hit) {
            std::printf("miss: %d_%d ranks %d_%d first (%d)\n", owner[probe],
                        static_cast<int>(probe % 8) + 1,
                        best[0].score != 0 ? owner[index[best[0].listId]] : 0,
                        best[0].score != 0 ? static_cast<int>(index[best[0].listId] % 8) + 1 : 0,
                        best[0].score);
        }
    }
    std::printf("rank-1: %d of %zu\n", hits, records.size());
    EXPECT_GE(hits * 80, 76 * static_cast<int>(records.size()));
}

} // namespace
