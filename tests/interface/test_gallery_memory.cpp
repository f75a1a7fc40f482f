// Gallery operations when memory runs out (operator new replaced through the allocation
// failure helper): a re-opening of the search library that fails leaves the gallery whole and
// the next search uploads it again; every allocation of an insertion and of an
// identification failing in turn gives 2 or 100, never an exception, and leaves the gallery
// as it was.

#include "interface/ZelvanFinger.h"
#include "tests/interface/alloc_failure.h"
#include "tests/support/synthetic_prints.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace ZelvanFinger;

namespace {

struct Owner {
    Matcher* m = Matcher::create();
    ~Owner() { Matcher::cancel(m); }
};

TpTemplate Record(zftest::Bytes& b)
{
    TpTemplate r{};
    r.finger[0] = b.data();
    return r;
}

int Identify(Matcher* m, zftest::Bytes& probe, unsigned threads, std::vector<candidates_string>& c)
{
    MatchingParameters p{0, 180, 180, 0};
    TpTemplate r = Record(probe);
    return m->identify_record(p, r, threads, 5, c);
}

} // namespace

TEST(GalleryMemory, FailedReopenStillFindsEveryRecord)
{
    Owner o;
    std::vector<zftest::Bytes> fingers;
    for (std::uint32_t s = 0; s < 4; ++s) {
        fingers.push_back(zftest::SyntheticFinger(300 + s));
        std::string id = std::to_string(s);
        TpTemplate r = Record(fingers.back());
        ASSERT_EQ(o.m->insertRecord(id, r), 0);
    }
    std::vector<candidates_string> c;
    ASSERT_EQ(Identify(o.m, fingers[0], 1, c), 0);
    ASSERT_FALSE(c.empty());
    {
        // More threads re-open the library; its first allocation fails.
        zftest::FailAllocation fail(0);
        EXPECT_EQ(Identify(o.m, fingers[1], 2, c), 2);
        EXPECT_TRUE(fail.Failed());
        EXPECT_TRUE(c.empty());
    }
    for (std::size_t k = 0; k < fingers.size(); ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(Identify(o.m, fingers[k], 1, c), 0);
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c[0].id, std::to_string(k));
    }
}

TEST(GalleryMemory, EveryAllocationFailingInTurn)
{
    zftest::Bytes a = zftest::SyntheticFinger(400);
    zftest::Bytes b = zftest::SyntheticFinger(401);
    Owner o;
    ASSERT_NE(o.m, nullptr);
    std::string first = "1";
    TpTemplate ra = Record(a);
    ASSERT_EQ(o.m->insertRecord(first, ra), 0);
    std::vector<candidates_string> c;
    ASSERT_EQ(Identify(o.m, a, 1, c), 0);
    int failures = 0;
    for (int n = 0;; ++n) {
        SCOPED_TRACE(n);
        std::string second = "2";
        bool failed = false;
        {
            zftest::FailAllocation fail(n);
            TpTemplate rb = Record(b);
            const int ins = o.m->insertRecord(second, rb);
            const int idf = Identify(o.m, b, 1, c);
            failed = fail.Failed();
            if (failed) {
                EXPECT_TRUE(ins == 0 || ins == 2 || ins == 100) << ins;
                EXPECT_TRUE(idf == 0 || idf == 2 || idf == 100 || idf == 11) << idf;
                EXPECT_EQ(o.m->getFinalGallerySize(), ins == 0 ? 2 : 1);
            } else {
                EXPECT_EQ(ins, 0);
                EXPECT_EQ(idf, 0);
            }
        }
        // The matcher is still whole: a search finds the first record.
        ASSERT_EQ(Identify(o.m, a, 1, c), 0);
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c[0].id, "1");
        if (o.m->getFinalGallerySize() == 2) {
            ASSERT_EQ(o.m->deleteRecord(second), 0);
        }
        if (!failed) {
            break;
        }
        ++failures;
    }
    std::printf("allocation failures tried: %d\n", failures);
    EXPECT_GT(failures, 5);
}
