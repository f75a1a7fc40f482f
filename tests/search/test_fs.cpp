// Finger selector: the comparison orders of positional and finger-mix modes, and the refusals
// of a side load.

#include "search/Fs.h"
#include "tests/search/fake_fingers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using accelMatch::Fs;
using accelMatch::TemplateData;
using searchtest::FakeRecord;

std::vector<TemplateData> Straight(TpTemplate& t)
{
    std::vector<TemplateData> td;
    for (int p = 1; p <= 10; ++p) {
        td.push_back({p, t.finger[p - 1]});
    }
    return td;
}

std::vector<unsigned> Order(const Fs& fs, accelMatch::MATCHING_MODE mode)
{
    unsigned out[10];
    std::fill(out, out + 10, 99u);
    const unsigned n = fs.getBestPairs(out, mode);
    for (unsigned i = n; i < 10; ++i) {
        EXPECT_EQ(out[i], 0u) << "entry " << i;
    }
    return std::vector<unsigned>(out, out + n);
}

TEST(Fs, OrdersPositionsByQuality)
{
    FakeRecord probe({{1, 1, 80}, {2, 2, 60}, {6, 6, 90}});
    FakeRecord gallery({{2, 2, 50}, {6, 6, 40}, {7, 7, 70}});
    std::vector<TemplateData> p = Straight(probe.record());
    std::vector<TemplateData> g = Straight(gallery.record());
    Fs fs;
    ASSERT_EQ(fs.loadTemplate1(10, p.data()), 0);
    ASSERT_EQ(fs.loadTemplate2(10, g.data()), 0);
    // Positional: common positions by summed quality (6: 130, 2: 110).
    EXPECT_EQ(Order(fs, accelMatch::MM_POSITIONAL), (std::vector<unsigned>{6, 2}));
    EXPECT_EQ(Order(fs, accelMatch::MM_SLAP_MIX), (std::vector<unsigned>{6, 2}));
    // Finger mix: every probe finger by its own quality.
    EXPECT_EQ(Order(fs, accelMatch::MM_FINGER_MIX), (std::vector<unsigned>{6, 1, 2}));
}

TEST(Fs, QualityZeroStillComesLastInFingerMix)
{
    FakeRecord probe({{3, 3, 0}, {4, 4, 10}});
    std::vector<TemplateData> p = Straight(probe.record());
    Fs fs;
    ASSERT_EQ(fs.loadTemplate1(10, p.data()), 0);
    ASSERT_EQ(fs.loadTemplate2(10, p.data()), 0);
    EXPECT_EQ(Order(fs, accelMatch::MM_FINGER_MIX), (std::vector<unsigned>{4, 3}));
}

TEST(Fs, EmptySidesAndRefusedLoadsOfferNothing)
{
    FakeRecord none({});
    FakeRecord some({{5, 5, 50}});
    std::vector<TemplateData> empty = Straight(none.record());
    std::vector<TemplateData> full = Straight(some.record());
    Fs fs;
    EXPECT_EQ(Order(fs, accelMatch::MM_POSITIONAL), std::vector<unsigned>{}); // new: all zero
    ASSERT_EQ(fs.loadTemplate1(10, empty.data()), 0);
    ASSERT_EQ(fs.loadTemplate2(10, full.data()), 0);
    EXPECT_EQ(Order(fs, accelMatch::MM_FINGER_MIX), std::vector<unsigned>{});
    // A refused load leaves its side empty.
    ASSERT_EQ(fs.loadTemplate1(10, full.data()), 0);
    EXPECT_EQ(Order(fs, accelMatch::MM_POSITIONAL), std::vector<unsigned>{5});
    EXPECT_EQ(fs.loadTemplate2(0, full.data()), accelMatch::MA_ERR_FINGER_COUNT);
    EXPECT_EQ(Order(fs, accelMatch::MM_POSITIONAL), std::vector<unsigned>{});
    EXPECT_EQ(fs.loadTemplate2(11, full.data()), accelMatch::MA_ERR_FINGER_COUNT);
    EXPECT_EQ(fs.loadTemplate2(10, nullptr), accelMatch::MA_ERR_NULL);
}

TEST(Fs, EntriesOutsideOneToTenAreIgnoredAndALaterEntryWins)
{
    FakeRecord a({{1, 1, 20}, {2, 2, 70}});
    TemplateData td[4] = {{0, a.record().finger[0]},
                          {11, a.record().finger[0]},
                          {3, a.record().finger[0]},
                          {3, a.record().finger[1]}};
    accelMatch::Quality q[10];
    int count = 0;
    ASSERT_EQ(Fs::loadTemplate(4, td, q, count), 0);
    EXPECT_EQ(count, 4);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(q[i].finger, i == 2 ? 3 : 0) << i;
    }
    EXPECT_EQ(q[2].key, 70);
    EXPECT_EQ(q[2].minutiae, 30);
    EXPECT_EQ(q[2].reliable, 20);
}

} // namespace
