// Accelerator tables, library lifecycle and record layout: the step boundaries, the angle cube,
// the speed rows, opening and closing, final-stage sizes, block sizes, record offsets and the
// strict block check.

#include "search/AccelLib.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <vector>

using namespace accelMatch;

namespace {

struct Library {
    void* handle = nullptr;
    unsigned threads = 1;
    Library() { EXPECT_EQ(initAccelLib(&handle, threads), 0); }
    ~Library() { closeAccelLib(&handle); }
    AccelData* data() const { return static_cast<AccelData*>(handle); }
};

} // namespace

TEST(AccelTables, StepsCubeAndDistances)
{
    AccelTables* t = nullptr;
    ASSERT_TRUE(initAccelTables(t));
    ASSERT_EQ(t, &g_accelTables);
    const struct {
        int d;
        int step;
    } steps[] = {{0, 1},   {25, 1},   {26, 2},   {54, 2},   {55, 3},   {120, 4},
                 {121, 5}, {415, 10}, {416, 11}, {483, 11}, {484, 12}, {511, 12}};
    for (const auto& c : steps) {
        SCOPED_TRACE(c.d);
        EXPECT_EQ(t->step[c.d], c.step);
    }
    EXPECT_EQ(t->cube[0][0][0], 0);
    EXPECT_EQ(t->cube[0][45][0], 45);
    EXPECT_EQ(t->cube[0][46][0], 44);
    EXPECT_EQ(t->cube[10][0][0], 10);
    EXPECT_EQ(t->cube[5][10][3], 2);
    EXPECT_EQ(t->distTolA[0], 20);
    EXPECT_EQ(t->distTolA[100], 4 + 20 + 1);
    EXPECT_EQ(t->distTolB[1000], 10 + 20 + 100);
    EXPECT_EQ(t->distTolA[4095], 255);
    EXPECT_EQ(AcTol(t->distTolB, 5000), t->distTolB[4095]);
    EXPECT_EQ(AcFold(46), -44);
    EXPECT_EQ(AcFold(-46), 44);
}

TEST(AccelTables, SpeedRowsAndMinimumSimilarities)
{
    std::uint32_t row[SPEED_COLUMNS];
    getSpeedParams(0, row, 73, 4);
    const std::uint32_t head[] = {0, 64, 64, 42, 32, 46000, 46000, 36000, 36000, 100, 80, 120};
    EXPECT_EQ(0, std::memcmp(row, head, sizeof(head)));
    EXPECT_EQ(row[30], 80u);
    EXPECT_EQ(row[41], 14u);
    EXPECT_EQ(row[53], 30u);
    EXPECT_EQ(row[54], 75u);
    EXPECT_EQ(row[55], 35u);
    getSpeedParams(9, row, 73, 4); // speeds above 6 read row 6
    EXPECT_EQ(row[1], 28u);
    EXPECT_EQ(row[54], 0u);
    getSpeedParams(3, row, 140, 10);
    EXPECT_EQ(row[5], 28000u);
    EXPECT_EQ(row[31], 8u);
    EXPECT_EQ(row[54], 75u);
    EXPECT_EQ(row[55], 55u);
    getSpeedParams(4, row, 73, 2);
    EXPECT_EQ(row[54], 0u);
    EXPECT_EQ(g_minSim_73[0], 255u);
    EXPECT_EQ(g_minSim_73[3], 510u);
    EXPECT_EQ(g_minSim_73[35], 3060u);
    EXPECT_EQ(g_minSim_140[4], 255u);
    EXPECT_EQ(g_minSim_140[5], 510u);
    EXPECT_EQ(g_minSim_140[48], 3060u);
}

TEST(AccelLibrary, OpenCloseAndFinalSizes)
{
    void* handle = nullptr;
    unsigned threads = 0;
    ASSERT_EQ(initAccelLib(&handle, threads), 0);
    EXPECT_EQ(threads, static_cast<unsigned>(omp_get_num_procs()));
    AccelData* data = static_cast<AccelData*>(handle);
    EXPECT_EQ(data->tables, &g_accelTables);
    EXPECT_EQ(data->version, 73u);
    // A second opening finds the tables built.
    void* second = nullptr;
    unsigned one = 1;
    const std::uint8_t before = g_accelTables.step[100];
    ASSERT_EQ(initAccelLib(&second, one), 0);
    EXPECT_EQ(static_cast<AccelData*>(second)->tables, &g_accelTables);
    EXPECT_EQ(g_accelTables.step[100], before);

    const struct {
        unsigned in;
        unsigned out;
    } sizes[] = {{1, 10485760}, {10485760, 10485760}, {0, 10485760}, {10485761, 20971520}};
    for (const auto& c : sizes) {
        void* h = nullptr;
        unsigned t = 1;
        ASSERT_EQ(initAccelLib(&h, t), 0);
        unsigned size = c.in;
        EXPECT_EQ(initFinalMatching(h, size), 0);
        EXPECT_EQ(size, c.out);
        EXPECT_EQ(static_cast<AccelData*>(h)->capacity, c.out / 512);
        closeAccelLib(&h);
    }
    unsigned size = 1;
    ASSERT_EQ(initFinalMatching(second, size), 0);
    SS_RL* buffer = static_cast<AccelData*>(second)->candidates;
    EXPECT_EQ(buffer[0].record, ~0ull);
    EXPECT_EQ(buffer[0].galleryFinger[9], 0xFF);
    size = 30000000; // a larger size later changes nothing
    EXPECT_EQ(initFinalMatching(second, size), 0);
    EXPECT_EQ(size, 31457280u);
    EXPECT_EQ(static_cast<AccelData*>(second)->candidates, buffer);
    EXPECT_EQ(static_cast<AccelData*>(second)->capacity, 20480u);

    EXPECT_EQ(initFinalMatching(nullptr, size), ACCEL_ERR_NOT_OPEN);
    EXPECT_EQ(closeAccelLib(&second), 0);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(closeAccelLib(&second), 0);
    EXPECT_EQ(closeAccelLib(nullptr), ACCEL_ERR_NULL);
    EXPECT_EQ(closeAccelLib(&handle), 0);
}

TEST(AccelRecord, BlockSizesAndOffsets)
{
    EXPECT_EQ(FaSize(1, 0), 48u);
    EXPECT_EQ(FaSize(3, 0), 48u);
    EXPECT_EQ(FaSize(0, 0), 32u);
    EXPECT_EQ(FaSize(255, 64), getMaximOneFingerAccelSize());
    EXPECT_EQ(FaSize(255, 255), getMaximOneFingerFullAccelSize());
    EXPECT_EQ(getMaximumAccelSize(10), 34928u);

    std::vector<unsigned char> b2(FaSize(3, 1), 0);
    std::vector<unsigned char> b7(FaSize(0, 0), 0);
    b2[FA_COUNT] = 3;
    b2[FA_NESTS] = 1;
    TpAccel view;
    view.finger[1] = b2.data();
    view.finger[6] = b7.data();
    std::vector<unsigned char> buf(200, 0xEE);
    const unsigned total = view.save2Buffer(buf.data());
    EXPECT_EQ(total, 48u + 96u + 32u);
    EXPECT_EQ(static_cast<int>(total), view.getSize());
    for (unsigned i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const unsigned expect = i == 1 ? 48 : (i == 6 ? 48 + 96 : 0);
        EXPECT_EQ(AcGet16(buf.data() + ACCEL_HEAD_OFFSETS + 2 * i), expect);
    }
    EXPECT_EQ(AcGet32(buf.data() + ACCEL_HEAD_TOTAL), total);
    unsigned count = 0;
    EXPECT_EQ(getFingers(buf.data(), count), 0);
    EXPECT_EQ(count, 2u);

    TpAccel back;
    ASSERT_TRUE(back.readFromBuffer(buf.data()));
    EXPECT_EQ(back.finger[6], buf.data() + 144);
    buf[0] = 9;
    EXPECT_FALSE(back.readFromBuffer(buf.data()));
    EXPECT_EQ(back.finger[6], buf.data() + 144); // unchanged
    EXPECT_EQ(getFingers(buf.data(), count), ACCEL_ERR_BAD_ACCEL);
    EXPECT_EQ(getFingers(nullptr, count), ACCEL_ERR_NULL);

    TpAccel empty;
    EXPECT_EQ(empty.save2Buffer(buf.data()), 48u);
    EXPECT_EQ(AcGet32(buf.data() + ACCEL_HEAD_TOTAL), 48u);
    EXPECT_EQ(empty.getSize(), 0);
    EXPECT_EQ(empty.save2Buffer(nullptr), 0u);
}

TEST(AccelRecord, StrictCheck)
{
    // A valid block: 4 items, 2 nests.
    auto make = [] {
        std::vector<unsigned char> b(FaSize(4, 2), 0);
        b[FA_COUNT] = 4;
        b[FA_NESTS] = 2;
        b[FA_QUALITY] = 60;
        b[3] = 2;
        b[4] = 1;
        FaNestMinutia(b.data())[0] = 3;
        FaNestMinutia(b.data())[1] = 0;
        FaItems(b.data())[3].angle = 89;
        return b;
    };
    const struct {
        const char* name;
        void (*spoil)(std::vector<unsigned char>&);
        bool strict;
        bool loose;
    } cases[] = {
        {"valid", [](std::vector<unsigned char>&) {}, true, true},
        {"more nests than items", [](std::vector<unsigned char>& b) { b[FA_NESTS] = 5; }, false,
         false},
        {"quality 101", [](std::vector<unsigned char>& b) { b[FA_QUALITY] = 101; }, false, true},
        {"level above nests", [](std::vector<unsigned char>& b) { b[3] = 3; }, false, true},
        {"level increases", [](std::vector<unsigned char>& b) { b[6] = 1; }, false, true},
        {"nest minutia out of range",
         [](std::vector<unsigned char>& b) { FaNestMinutia(b.data())[1] = 4; }, false, true},
        {"angle 90", [](std::vector<unsigned char>& b) { FaItems(b.data())[0].angle = 90; }, false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> b = make();
        c.spoil(b);
        EXPECT_EQ(checkOneFingerAccel(b.data(), true), c.strict);
        EXPECT_EQ(checkOneFingerAccel(b.data(), false), c.loose);
    }
    EXPECT_FALSE(checkOneFingerAccel(nullptr, false));
    std::vector<unsigned char> big(FaSize(70, 65), 0);
    big[FA_COUNT] = 70;
    big[FA_NESTS] = 65;
    EXPECT_FALSE(checkOneFingerAccel(big.data(), true));
    EXPECT_TRUE(checkOneFingerAccel(big.data(), false));
}
