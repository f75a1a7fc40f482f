// Builds the accelerator's process-wide lookup tables on first use and holds the constant
// speed, minimum similarity and group score rows. The tables are zeroed by a static
// initialiser at load and never rebuilt or freed.

#include "search/AccelTables.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace accelMatch {

AccelTables g_accelTables;

namespace {

// Zeroes the tables when the library is loaded.
struct AcTablesReset {
    AcTablesReset() { std::memset(&g_accelTables, 0, sizeof(g_accelTables)); }
};
const AcTablesReset s_tablesReset;

void AcBuildSteps(std::uint8_t* step)
{
    // 1. Boundaries t1 = 26, tk = min(t(k-1) + trunc(24 * 1.1^k), 512); [t(k-1), tk) holds k.
    int from = 0;
    int to = 26;
    int k = 1;
    while (k <= 15) {
        for (int d = from; d < to; ++d) {
            step[d] = static_cast<std::uint8_t>(k);
        }
        if (to >= ACCEL_STEP_SIZE) {
            from = to;
            break;
        }
        ++k;
        from = to;
        to += static_cast<int>(24.0 * std::pow(1.1, k));
        if (to > ACCEL_STEP_SIZE - 1) {
            to = ACCEL_STEP_SIZE;
        }
    }
    // 2. Anything past the last boundary holds 15.
    for (int d = from; d < ACCEL_STEP_SIZE; ++d) {
        step[d] = 15;
    }
}

// Row 0 of the four-finger table of version 73; every row of every table starts from it.
// clang-format off
constexpr std::uint32_t kBaseRow[SPEED_COLUMNS] = {
    /*  0 */ 0, 64, 64, 42, 32, 46000, 46000, 36000, 36000,
    /*  9 */ 100, 80, 120, 60, 60, 60, 40, 40,
    /* 17 */ 0, 0, 0, 0, 0, 0, 0, 0,
    /* 25 */ 10, 20, 35, 50, 60, 80,
    /* 31 */ 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    /* 41 */ 14, 14, 10, 10, 8, 6, 6, 4, 4, 4,
    /* 51 */ 20, 25, 30,
    /* 54 */ 0, 0,
};
// Columns 0..11 of the faster rows 3..6.
constexpr std::uint32_t kFastHead[12] = {
    0, 28, 28, 24, 20, 28000, 28000, 20000, 16000, 100, 80, 120,
};
// Columns 54 and 55 by speed 0..6.
constexpr std::uint32_t kTail4f[SPEED_ROWS][2] = {
    {75, 35}, {75, 35}, {75, 35}, {55, 25}, {55, 15}, {55, 10}, {0, 0},
};
constexpr std::uint32_t kTail10f[SPEED_ROWS][2] = {
    {75, 55}, {75, 55}, {75, 55}, {75, 55}, {65, 45}, {55, 0}, {0, 0},
};
constexpr std::uint32_t kTailNone[SPEED_ROWS][2] = {};
// clang-format on

struct AcSpeedTable {
    SpeedTable rows;
};

constexpr AcSpeedTable AcMakeTable(const std::uint32_t (&tail)[SPEED_ROWS][2])
{
    AcSpeedTable t{};
    for (int r = 0; r < SPEED_ROWS; ++r) {
        for (int c = 0; c < SPEED_COLUMNS; ++c) {
            t.rows[r][c] = kBaseRow[c];
        }
        if (r >= 3) {
            for (int c = 0; c < 12; ++c) {
                t.rows[r][c] = kFastHead[c];
            }
        }
        t.rows[r][54] = tail[r][0];
        t.rows[r][55] = tail[r][1];
    }
    return t;
}

constexpr AcSpeedTable kTable1f = AcMakeTable(kTailNone);
constexpr AcSpeedTable kTable4f = AcMakeTable(kTail4f);
constexpr AcSpeedTable kTable10f = AcMakeTable(kTail10f);

const SpeedTable& AcPick(unsigned version, unsigned fingers)
{
    const bool v73 = version == 73;
    if (fingers < 2) {
        return v73 ? g_speedParamsTT_73_1f : g_speedParamsTT_140_1f;
    }
    if (fingers == 2) {
        return v73 ? g_speedParamsTT_73_2f : g_speedParamsTT_140_2f;
    }
    if (fingers > 8) {
        return v73 ? g_speedParamsTT_73_10f : g_speedParamsTT_140_10f;
    }
    return v73 ? g_speedParamsTT_73_4f : g_speedParamsTT_140_4f;
}

template <int N> struct AcMinSim {
    std::uint32_t v[N];
};

constexpr AcMinSim<MIN_SIM_73_SIZE> AcMakeMinSim73()
{
    AcMinSim<MIN_SIM_73_SIZE> t{};
    for (int i = 0; i < MIN_SIM_73_SIZE; ++i) {
        t.v[i] = 255u * static_cast<std::uint32_t>(i / 3 + 1);
    }
    return t;
}

constexpr AcMinSim<MIN_SIM_140_SIZE> AcMakeMinSim140()
{
    AcMinSim<MIN_SIM_140_SIZE> t{};
    for (int i = 0; i < MIN_SIM_140_SIZE; ++i) {
        t.v[i] = i < 5 ? 255u : 255u * static_cast<std::uint32_t>((i - 5) / 4 + 2);
    }
    return t;
}

constexpr auto kMinSim73 = AcMakeMinSim73();
constexpr auto kMinSim140 = AcMakeMinSim140();
static_assert(kMinSim73.v[35] == 3060 && kMinSim140.v[48] == 3060 && kMinSim140.v[5] == 510);

} // namespace

// The two template versions share their rows.
const SpeedTable& g_speedParamsTT_73_1f = kTable1f.rows;
const SpeedTable& g_speedParamsTT_73_2f = kTable1f.rows;
const SpeedTable& g_speedParamsTT_73_4f = kTable4f.rows;
const SpeedTable& g_speedParamsTT_73_10f = kTable10f.rows;
const SpeedTable& g_speedParamsTT_140_1f = kTable1f.rows;
const SpeedTable& g_speedParamsTT_140_2f = kTable1f.rows;
const SpeedTable& g_speedParamsTT_140_4f = kTable4f.rows;
const SpeedTable& g_speedParamsTT_140_10f = kTable10f.rows;
const std::uint32_t (&g_minSim_73)[MIN_SIM_73_SIZE] = kMinSim73.v;
const std::uint32_t (&g_minSim_140)[MIN_SIM_140_SIZE] = kMinSim140.v;

// clang-format off
const int g_scoreParam_73[SCORE_PARAMS] = {
    3300, 120000, 11000, 67000, 0, 37000, 260, 0, 2700, 280, 4400, 0, 330, 22,
};
const int g_scoreParam_140[SCORE_PARAMS] = {
    -15, 211200, 6018, 131957, -3, 88000, 177, 0, 9800, 2015, 3366, 0, 4335, 68,
};
// clang-format on

bool initAccelTables(AccelTables*& tables)
{
    AccelTables& t = g_accelTables;
    if (t.built == 0) {
        AcBuildSteps(t.step);
        for (int d = 0; d < ACCEL_DIST_SIZE; ++d) {
            const int sq = d * d / 10000;
            const int a = d / 25 + 20 + sq;
            const int b = d / 100 + 20 + sq;
            t.distTolA[d] = static_cast<std::uint8_t>(a > 255 ? 255 : a);
            t.distTolB[d] = static_cast<std::uint8_t>(b > 255 ? 255 : b);
        }
        for (int i = 0; i < ACCEL_ANGLES; ++i) {
            for (int j = 0; j < ACCEL_ANGLES; ++j) {
                for (int k = 0; k < ACCEL_ANGLES; ++k) {
                    t.cube[i][j][k] = static_cast<std::uint8_t>(std::abs(AcFold(j - i - k)));
                }
            }
        }
        t.built = 1;
    }
    tables = &t;
    return true;
}

void getSpeedParams(unsigned speed, std::uint32_t* out, unsigned version, unsigned fingers)
{
    const unsigned row = speed < 6 ? speed : 6;
    std::memcpy(out, AcPick(version, fingers)[row], sizeof(std::uint32_t) * SPEED_COLUMNS);
}

} // namespace accelMatch
