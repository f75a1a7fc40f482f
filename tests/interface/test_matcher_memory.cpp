// Verification when memory runs out (operator new replaced through the allocation failure
// helper): allocations of a matcher's creation and first verification failing in turn (every
// fifth of the about 600; each try builds a whole comparer) give null from create, or 2 (100
// where the finger matcher reports its own allocation failure as an exception) with a zero
// score, never an exception; the same matcher then verifies the pair with the score of an
// undisturbed run.

#include "interface/ZelvanFinger.h"
#include "tests/interface/alloc_failure.h"
#include "tests/support/emulation.h"
#include "tests/support/synthetic_prints.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace ZelvanFinger;

namespace {

int Verify(Matcher* m, zftest::Bytes& probe, zftest::Bytes& gallery, double& score)
{
    MatchingParameters p{0, 180, 180, 0};
    TpTemplate a{};
    TpTemplate b{};
    a.finger[1] = probe.data();
    b.finger[1] = gallery.data();
    return m->verify_record(p, a, b, score);
}

} // namespace

TEST(MatcherMemory, EveryAllocationOfAFirstVerificationFailingInTurn)
{
    zftest::Bytes probe = zftest::SyntheticFinger(500, 2);
    zftest::Bytes gallery = zftest::SyntheticFinger(500, 2);
    double reference = 0;
    {
        Matcher* m = Matcher::create();
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(Verify(m, probe, gallery, reference), 0);
        Matcher::cancel(m);
    }
    ASSERT_GT(reference, 0.0);
    const int stride = zftest::InputSize(5, 60);
    int tries = 0;
    int k = 0;
    for (bool failed = true; failed; k += stride, ++tries) {
        SCOPED_TRACE(k);
        Matcher* m = nullptr;
        int r = 0;
        double score = -1;
        {
            zftest::FailAllocation fail(k);
            m = Matcher::create();
            if (m != nullptr) {
                r = Verify(m, probe, gallery, score);
            }
            failed = fail.Failed();
        }
        if (m == nullptr) {
            EXPECT_TRUE(failed);
            continue;
        }
        if (r != 0) {
            EXPECT_TRUE(failed);
            EXPECT_TRUE(r == RESULT_NO_MEMORY || r == RESULT_EXCEPTION) << r;
            EXPECT_EQ(score, 0.0);
        } else {
            EXPECT_EQ(score, reference);
        }
        double again = -1;
        EXPECT_EQ(Verify(m, probe, gallery, again), 0);
        EXPECT_EQ(again, reference);
        Matcher::cancel(m);
    }
    std::printf("%d allocations failed in turn, up to number %d\n", tries, k - stride);
    EXPECT_GT(tries, 10);
}
