// Accelerator codes and tables: the process-wide lookup tables (distance tolerances, the angle
// cube of three 4-degree angles, the distance steps), the speed rows that steer the coarse
// stage and the finger comparison, the minimum similarity rows and the group score rows.
// Angles here are in units of 4 degrees (90 a turn); distances in pixels.
#pragma once

#include <cmath>
#include <cstdint>

namespace accelMatch {

// Codes of the accelerator library (0 is success).
constexpr int ACCEL_OK = 0;
constexpr int ACCEL_ERR_NULL = 2;
constexpr int ACCEL_ERR_NO_TEMPLATE = 3;
constexpr int ACCEL_ERR_BAD_FINGER = 4;
constexpr int ACCEL_ERR_MEMORY = 5;
constexpr int ACCEL_ERR_NOT_OPEN = 6;
constexpr int ACCEL_ERR_BAD_ACCEL = 8;
constexpr int ACCEL_ERR_NO_ACCELERATOR = 10;
constexpr int ACCEL_ERR_NO_PROBE = 10;
constexpr int ACCEL_ERR_BAD_TEMPLATE = 11;
constexpr int ACCEL_ERR_FINGER_INDEX = 13;
constexpr int ACCEL_ERR_THREAD_INDEX = 14;
constexpr int ACCEL_ERR_TOO_LARGE = 15;
constexpr int ACCEL_ERR_ACCEL_TOO_LARGE = 15;
constexpr int ACCEL_ERR_STEP = 16;
constexpr int ACCEL_ERR_FINAL_NOT_INIT = 17;
constexpr int ACCEL_ERR_NO_GALLERY = 18;
constexpr int ACCEL_ERR_EMPTY_GALLERY = 19;

constexpr int ACCEL_DIST_SIZE = 4096;
constexpr int ACCEL_ANGLES = 90;
constexpr int ACCEL_STEP_SIZE = 512;

// Process-wide tables; zero at load, built once by initAccelTables, read-only afterwards.
struct AccelTables {
    std::uint8_t built;
    std::uint8_t distTolA[ACCEL_DIST_SIZE];                      // min(d/25 + 20 + d*d/10000, 255)
    std::uint8_t distTolB[ACCEL_DIST_SIZE];                      // min(d/100 + 20 + d*d/10000, 255)
    std::uint8_t cube[ACCEL_ANGLES][ACCEL_ANGLES][ACCEL_ANGLES]; // |j - i - k| folded to -45..44
    std::uint8_t step[ACCEL_STEP_SIZE];                          // distance step 1..12 (15 beyond)
};

extern AccelTables g_accelTables;

// Builds g_accelTables when not built yet and points `tables` at it; always true.
bool initAccelTables(AccelTables*& tables);

// Tolerance of a distance table at distance d; distances beyond the table take its last entry.
inline unsigned AcTol(const std::uint8_t* table, int d)
{
    return table[d < 0 ? 0 : (d >= ACCEL_DIST_SIZE ? ACCEL_DIST_SIZE - 1 : d)];
}

// Rounded Euclidean length of (dx, dy): the square sum in single precision, its root in double.
inline int AcDist(int dx, int dy)
{
    const float sq = static_cast<float>(dx * dx + dy * dy);
    return static_cast<int>(std::sqrt(static_cast<double>(sq)) + 0.5);
}

// Folds a difference of 4-degree angles into -45..44.
inline int AcFold(int d)
{
    d %= ACCEL_ANGLES;
    if (d < -45) {
        d += ACCEL_ANGLES;
    } else if (d >= 45) {
        d -= ACCEL_ANGLES;
    }
    return d;
}

// Speed rows: 7 rows (speed 0..6) of 56 columns per table.
constexpr int SPEED_ROWS = 7;
constexpr int SPEED_COLUMNS = 56;
using SpeedTable = std::uint32_t[SPEED_ROWS][SPEED_COLUMNS];

extern const SpeedTable& g_speedParamsTT_73_1f;
extern const SpeedTable& g_speedParamsTT_73_2f;
extern const SpeedTable& g_speedParamsTT_73_4f;
extern const SpeedTable& g_speedParamsTT_73_10f;
extern const SpeedTable& g_speedParamsTT_140_1f;
extern const SpeedTable& g_speedParamsTT_140_2f;
extern const SpeedTable& g_speedParamsTT_140_4f;
extern const SpeedTable& g_speedParamsTT_140_10f;

// Copies row min(speed, 6) of the table chosen by the template version (73 or other) and the
// number of fingers (< 2: 1f, 2: 2f, > 8: 10f, else 4f) into out (56 entries).
void getSpeedParams(unsigned speed, std::uint32_t* out, unsigned version, unsigned fingers);

// Minimum similarity rows, by offset (columns 41-50 of a speed row).
constexpr int MIN_SIM_73_SIZE = 36;
constexpr int MIN_SIM_140_SIZE = 49;
extern const std::uint32_t (&g_minSim_73)[MIN_SIM_73_SIZE];
extern const std::uint32_t (&g_minSim_140)[MIN_SIM_140_SIZE];

// Group score rows (14 entries).
constexpr int SCORE_PARAMS = 14;
extern const int g_scoreParam_73[SCORE_PARAMS];
extern const int g_scoreParam_140[SCORE_PARAMS];

} // namespace accelMatch
