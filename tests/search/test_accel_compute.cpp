// Finger blocks built from written templates: a nest worked out by hand, fillers, centre
// qualities, the usable value, large minutia counts, refused fingers and record assembly.

#include "search/AccelLib.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace accelMatch;

namespace accelMatch {
extern std::uint8_t a_count;
}

namespace {

class AccelCompute : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsigned threads = 1;
        ASSERT_EQ(initAccelLib(&m_handle, threads), 0);
    }
    void TearDown() override { closeAccelLib(&m_handle); }

    // Standard block of the template of plan (and the full block when asked).
    int Block(const zftest::RecordPlan& plan, std::vector<unsigned char>& out,
              std::vector<unsigned char>* full = nullptr)
    {
        m_tpl = zftest::BuildTemplate(plan);
        out.assign(ACCEL_MAX_FINGER_FULL, 0xCC);
        if (full != nullptr) {
            full->assign(ACCEL_MAX_FINGER_FULL, 0xCC);
        }
        unsigned size = 0;
        const int r = calcOneFingerAccel(m_handle, m_tpl.data(), out.data(), &size, 0,
                                         full != nullptr ? full->data() : nullptr);
        out.resize(size);
        return r;
    }

    void* m_handle = nullptr;
    zftest::Bytes m_tpl;
};

zftest::PointPlan Minutia(int x, int y, int quality, int angle2 = 0, int type = 0)
{
    zftest::PointPlan p;
    p.x = x;
    p.y = y;
    p.quality = static_cast<std::uint8_t>(quality);
    p.angle = static_cast<std::uint8_t>(angle2);
    p.type = static_cast<std::uint8_t>(type);
    return p;
}

// A centre with two linked neighbours: slot 0 code 3 at distance 30, slot 5 code 1 at 60.
zftest::RecordPlan HandNest(int centreQuality)
{
    zftest::RecordPlan plan = zftest::SampleRecord();
    plan.quality = 60;
    plan.linkno = 3;
    plan.minutiae = {Minutia(100, 100, centreQuality, 45), Minutia(130, 100, 20, 10),
                     Minutia(100, 160, 30, 100)};
    plan.links = {{{0, 3, 1, 0}, {5, 1, 2, 0}}, {}, {}};
    plan.ridgeCounts.clear();
    return plan;
}

} // namespace

TEST_F(AccelCompute, HandComputedNest)
{
    std::vector<unsigned char> b;
    a_count = 40;
    ASSERT_EQ(Block(HandNest(10), b), 0);
    ASSERT_EQ(b.size(), FaSize(3, 1));
    EXPECT_EQ(b[FA_COUNT], 3);
    EXPECT_EQ(b[FA_NESTS], 1);
    EXPECT_EQ(b[FA_QUALITY], 60);
    for (int t = 3; t <= 15; ++t) {
        EXPECT_EQ(b[t], 0) << t; // the nest's total is 3
    }
    EXPECT_EQ(b[FA_PLAIN], 3);
    EXPECT_EQ(b[FA_USABLE], 3 * 60 / 64);
    EXPECT_EQ(b[17], 0xFF);
    EXPECT_EQ(b[20], 0xFF);
    const Accel& nest = FaNests(b.data())[0];
    // Slot 0 (quadrant 1, ridge count 0) -> cell 1, step 2, directions opposite; slot 5
    // (quadrant 2, ridge count 2) -> cell 6, step 3; its ridge count by slot alone (1) fills
    // cell 2 in the second pass.
    std::set<int> filled;
    const struct {
        int cell;
        int neighbour;
        int step;
    } cells[] = {{1, 1, 2}, {6, 2, 3}, {2, 2, 3}};
    for (const auto& c : cells) {
        SCOPED_TRACE(c.cell);
        EXPECT_EQ(nest.cell[c.cell], c.neighbour + 1);
        EXPECT_EQ(nest.desc[c.cell], c.step);
        filled.insert(c.cell);
    }
    // Fillers: consecutive values from the counter, in cell order.
    int expect = 40;
    for (int k = 0; k < 16; ++k) {
        if (filled.count(k) == 0) {
            EXPECT_EQ(nest.cell[k], 0) << k;
            EXPECT_EQ(nest.desc[k], expect++) << k;
        }
    }
    EXPECT_EQ(FaNestMinutia(b.data())[0], 0);
    EXPECT_EQ(FaNestWeight(b.data())[0], (10 + 20 + 30) / 3);
    const MinutiaeData* items = FaItems(b.data());
    EXPECT_EQ(items[2].x, 100);
    EXPECT_EQ(items[2].y, 160);
    EXPECT_EQ(items[0].angle, 90 / 4);
    EXPECT_EQ(items[2].angle, 200 / 4);
    EXPECT_TRUE(checkOneFingerAccel(b.data(), true));
}

TEST_F(AccelCompute, FillersWrapAndCentreQuality)
{
    std::vector<unsigned char> b;
    a_count = 254;
    ASSERT_EQ(Block(HandNest(0x83), b), 0); // quality 2 keeps its nest
    ASSERT_EQ(b[FA_NESTS], 1);
    const Accel& nest = FaNests(b.data())[0];
    EXPECT_EQ(nest.desc[0], 254);
    EXPECT_EQ(nest.desc[3], 255);
    EXPECT_EQ(nest.desc[4], 32);
    EXPECT_EQ(nest.desc[5], 33);
    EXPECT_EQ(b[FA_PLAIN], 2);              // 0x83 is not below 64
    ASSERT_EQ(Block(HandNest(0x81), b), 0); // quality 1: an empty nest, no block
    EXPECT_EQ(b[FA_NESTS], 0);
    EXPECT_EQ(b.size(), FaSize(3, 0));
}

TEST_F(AccelCompute, NoMinutiaeAndUsableValue)
{
    zftest::RecordPlan plan = HandNest(10);
    plan.minutiae.clear();
    plan.links.clear();
    plan.quality = 50;
    std::vector<unsigned char> b;
    ASSERT_EQ(Block(plan, b), 0);
    EXPECT_EQ(b.size(), 32u);
    EXPECT_EQ(b[FA_COUNT], 0);
    EXPECT_EQ(b[FA_USABLE], 1); // 0 x 50 / 64 raised to 1
    plan.quality = 0;
    ASSERT_EQ(Block(plan, b), 0);
    EXPECT_EQ(b[FA_USABLE], 0);
}

TEST_F(AccelCompute, LargeCountsKeepTheCentralNests)
{
    // 300 minutiae on a spiral-free grid, each linked to its right and lower neighbours.
    zftest::RecordPlan plan = zftest::SampleRecord();
    plan.linkno = 3;
    plan.ridgeCounts.clear();
    plan.minutiae.clear();
    plan.links.assign(300, {});
    for (int i = 0; i < 300; ++i) {
        plan.minutiae.push_back(Minutia(20 + 14 * (i % 20), 20 + 14 * (i / 20), 30, i % 180));
    }
    for (int i = 0; i < 300; ++i) {
        if (i % 20 != 19) {
            plan.links[i].push_back({0, 3, static_cast<std::uint16_t>(i + 1), 0});
        }
        if (i + 20 < 300) {
            plan.links[i].push_back({5, 1, static_cast<std::uint16_t>(i + 20), 0});
        }
    }
    std::vector<unsigned char> b;
    std::vector<unsigned char> full;
    ASSERT_EQ(Block(plan, b), 0);
    EXPECT_EQ(b[FA_COUNT], 255);
    EXPECT_EQ(b[FA_NESTS], 64);
    EXPECT_LE(b[3], 64);
    EXPECT_TRUE(checkOneFingerAccel(b.data(), true));
    // Centroid of the first 255 minutiae and the 128th smallest distance to it.
    long sx = 0;
    long sy = 0;
    for (int i = 0; i < 255; ++i) {
        sx += plan.minutiae[i].x;
        sy += plan.minutiae[i].y;
    }
    const int cx = static_cast<int>(sx / 255);
    const int cy = static_cast<int>(sy / 255);
    std::vector<int> d;
    for (int i = 0; i < 255; ++i) {
        d.push_back(AcDist(plan.minutiae[i].x - cx, plan.minutiae[i].y - cy));
    }
    std::vector<int> sorted = d;
    std::sort(sorted.begin(), sorted.end());
    for (int j = 0; j < 64; ++j) {
        EXPECT_LE(d[FaNestMinutia(b.data())[j]], sorted[127]);
    }
    // The full form keeps every nest with a cell and applies no centre limit.
    ASSERT_EQ(Block(plan, b, &full), 0);
    EXPECT_GT(full[FA_NESTS], 64);
    EXPECT_EQ(full[FA_COUNT], 255);
}

TEST_F(AccelCompute, RefusedFingersAndRecords)
{
    zftest::RecordPlan plan = HandNest(10);
    std::vector<unsigned char> b;
    // 65 singular points.
    zftest::RecordPlan many = plan;
    many.singular.assign(65, Minutia(1, 1, 0));
    for (auto& sp : many.singular) {
        sp.type = plan.singular[0].type;
    }
    EXPECT_EQ(Block(many, b), ACCEL_ERR_BAD_FINGER);
    // A record that fails its header check.
    zftest::Bytes bad = zftest::BuildTemplate(plan);
    bad[21 + 4] = 0; // layout byte
    unsigned size = 7;
    std::vector<unsigned char> out(ACCEL_MAX_FINGER_FULL);
    EXPECT_EQ(calcOneFingerAccel(m_handle, bad.data(), out.data(), &size, 0, nullptr),
              ACCEL_ERR_BAD_FINGER);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(calcOneFingerAccel(m_handle, nullptr, out.data(), &size, 0, nullptr), ACCEL_ERR_NULL);
    EXPECT_EQ(calcOneFingerAccel(m_handle, bad.data(), out.data(), &size, 1, nullptr),
              ACCEL_ERR_THREAD_INDEX);

    // Records: every finger refused -> 10; fingers 2 and 7 -> blocks at those offsets.
    zftest::Bytes good = zftest::BuildTemplate(plan);
    TpTemplate rec{};
    rec.finger[3] = bad.data();
    std::vector<unsigned char> accel(getMaximumAccelSize(10));
    EXPECT_EQ(calcAccel(m_handle, rec, accel.data(), size, nullptr), ACCEL_ERR_NO_ACCELERATOR);
    EXPECT_EQ(size, 0u);
    rec.finger[1] = good.data();
    rec.finger[6] = good.data();
    PersonalData pd{{0x01020304u, 0, 0, 7}};
    ASSERT_EQ(calcAccel(m_handle, rec, accel.data(), size, &pd), 0);
    EXPECT_EQ(size, 48 + 2 * FaSize(3, 1));
    EXPECT_EQ(accel[0], 10);
    EXPECT_EQ(accel[1], 4);
    EXPECT_EQ(accel[4], 1);
    EXPECT_EQ(AcGet16(accel.data() + ACCEL_HEAD_OFFSETS + 2), 48);
    EXPECT_EQ(AcGet16(accel.data() + ACCEL_HEAD_OFFSETS + 12), 48 + FaSize(3, 1));
    EXPECT_EQ(AcGet16(accel.data() + ACCEL_HEAD_OFFSETS + 6), 0);
    EXPECT_TRUE(checkAccel(accel.data(), true));
    EXPECT_EQ(calcAccel(m_handle, rec, nullptr, size, nullptr), ACCEL_ERR_NULL);
}
