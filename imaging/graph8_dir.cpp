// Block direction field and its correction, the rotated-offset tables and offset builders, and
// the oriented filters over 8-bit packed images. Directions are degrees 0..179 counter-clockwise
// from the x axis with y up; offsets are dx + dy * w with dy downward. Temporary buffers are
// owned by unique_ptr; results as declared in graph8_dir.h.

#include "imaging/graph8_dir.h"

#include "imaging/graph8_bin.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// r * sin(a) for a = 0..90 degrees and r = 1..16, rounded half away from zero (exact halves,
// as 3 * sin 30, round up). The other quadrants and the negative radii follow by symmetry,
// which the rounding keeps exact.
// clang-format off
constexpr int kRadiusSin[91][16] = {
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, // 0
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, // 1
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  1, // 2
     0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  1, // 3
     0,  0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  1, // 4
     0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1, // 5
     0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  2,  2, // 6
     0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2, // 7
     0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  2, // 8
     0,  0,  0,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  2,  3, // 9
     0,  0,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  2,  3,  3, // 10
     0,  0,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  2,  3,  3,  3, // 11
     0,  0,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  3,  3,  3,  3, // 12
     0,  0,  1,  1,  1,  1,  2,  2,  2,  2,  2,  3,  3,  3,  3,  4, // 13
     0,  0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4, // 14
     0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4, // 15
     0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  4,  4,  4,  4, // 16
     0,  1,  1,  1,  1,  2,  2,  2,  3,  3,  3,  4,  4,  4,  4,  5, // 17
     0,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  4,  4,  4,  5,  5, // 18
     0,  1,  1,  1,  2,  2,  2,  3,  3,  3,  4,  4,  4,  5,  5,  5, // 19
     0,  1,  1,  1,  2,  2,  2,  3,  3,  3,  4,  4,  4,  5,  5,  5, // 20
     0,  1,  1,  1,  2,  2,  3,  3,  3,  4,  4,  4,  5,  5,  5,  6, // 21
     0,  1,  1,  1,  2,  2,  3,  3,  3,  4,  4,  4,  5,  5,  6,  6, // 22
     0,  1,  1,  2,  2,  2,  3,  3,  4,  4,  4,  5,  5,  5,  6,  6, // 23
     0,  1,  1,  2,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  7, // 24
     0,  1,  1,  2,  2,  3,  3,  3,  4,  4,  5,  5,  5,  6,  6,  7, // 25
     0,  1,  1,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  7,  7, // 26
     0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  5,  6,  6,  7,  7, // 27
     0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8, // 28
     0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8, // 29
     1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8, // 30
     1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8, // 31
     1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8, // 32
     1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  7,  7,  8,  8,  9, // 33
     1,  1,  2,  2,  3,  3,  4,  4,  5,  6,  6,  7,  7,  8,  8,  9, // 34
     1,  1,  2,  2,  3,  3,  4,  5,  5,  6,  6,  7,  7,  8,  9,  9, // 35
     1,  1,  2,  2,  3,  4,  4,  5,  5,  6,  6,  7,  8,  8,  9,  9, // 36
     1,  1,  2,  2,  3,  4,  4,  5,  5,  6,  7,  7,  8,  8,  9, 10, // 37
     1,  1,  2,  2,  3,  4,  4,  5,  6,  6,  7,  7,  8,  9,  9, 10, // 38
     1,  1,  2,  3,  3,  4,  4,  5,  6,  6,  7,  8,  8,  9,  9, 10, // 39
     1,  1,  2,  3,  3,  4,  4,  5,  6,  6,  7,  8,  8,  9, 10, 10, // 40
     1,  1,  2,  3,  3,  4,  5,  5,  6,  7,  7,  8,  9,  9, 10, 10, // 41
     1,  1,  2,  3,  3,  4,  5,  5,  6,  7,  7,  8,  9,  9, 10, 11, // 42
     1,  1,  2,  3,  3,  4,  5,  5,  6,  7,  8,  8,  9, 10, 10, 11, // 43
     1,  1,  2,  3,  3,  4,  5,  6,  6,  7,  8,  8,  9, 10, 10, 11, // 44
     1,  1,  2,  3,  4,  4,  5,  6,  6,  7,  8,  8,  9, 10, 11, 11, // 45
     1,  1,  2,  3,  4,  4,  5,  6,  6,  7,  8,  9,  9, 10, 11, 12, // 46
     1,  1,  2,  3,  4,  4,  5,  6,  7,  7,  8,  9, 10, 10, 11, 12, // 47
     1,  1,  2,  3,  4,  4,  5,  6,  7,  7,  8,  9, 10, 10, 11, 12, // 48
     1,  2,  2,  3,  4,  5,  5,  6,  7,  8,  8,  9, 10, 11, 11, 12, // 49
     1,  2,  2,  3,  4,  5,  5,  6,  7,  8,  8,  9, 10, 11, 11, 12, // 50
     1,  2,  2,  3,  4,  5,  5,  6,  7,  8,  9,  9, 10, 11, 12, 12, // 51
     1,  2,  2,  3,  4,  5,  6,  6,  7,  8,  9,  9, 10, 11, 12, 13, // 52
     1,  2,  2,  3,  4,  5,  6,  6,  7,  8,  9, 10, 10, 11, 12, 13, // 53
     1,  2,  2,  3,  4,  5,  6,  6,  7,  8,  9, 10, 11, 11, 12, 13, // 54
     1,  2,  2,  3,  4,  5,  6,  7,  7,  8,  9, 10, 11, 11, 12, 13, // 55
     1,  2,  2,  3,  4,  5,  6,  7,  7,  8,  9, 10, 11, 12, 12, 13, // 56
     1,  2,  3,  3,  4,  5,  6,  7,  8,  8,  9, 10, 11, 12, 13, 13, // 57
     1,  2,  3,  3,  4,  5,  6,  7,  8,  8,  9, 10, 11, 12, 13, 14, // 58
     1,  2,  3,  3,  4,  5,  6,  7,  8,  9,  9, 10, 11, 12, 13, 14, // 59
     1,  2,  3,  3,  4,  5,  6,  7,  8,  9, 10, 10, 11, 12, 13, 14, // 60
     1,  2,  3,  3,  4,  5,  6,  7,  8,  9, 10, 10, 11, 12, 13, 14, // 61
     1,  2,  3,  4,  4,  5,  6,  7,  8,  9, 10, 11, 11, 12, 13, 14, // 62
     1,  2,  3,  4,  4,  5,  6,  7,  8,  9, 10, 11, 12, 12, 13, 14, // 63
     1,  2,  3,  4,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 13, 14, // 64
     1,  2,  3,  4,  5,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, // 65
     1,  2,  3,  4,  5,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, // 66
     1,  2,  3,  4,  5,  6,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, // 67
     1,  2,  3,  4,  5,  6,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, // 68
     1,  2,  3,  4,  5,  6,  7,  7,  8,  9, 10, 11, 12, 13, 14, 15, // 69
     1,  2,  3,  4,  5,  6,  7,  8,  8,  9, 10, 11, 12, 13, 14, 15, // 70
     1,  2,  3,  4,  5,  6,  7,  8,  9,  9, 10, 11, 12, 13, 14, 15, // 71
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 10, 11, 12, 13, 14, 15, // 72
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 11, 12, 13, 14, 15, // 73
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 12, 13, 14, 15, // 74
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 14, 15, // 75
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 76
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 77
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 78
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 79
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 80
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 81
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 82
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 83
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 84
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 85
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 86
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 87
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 88
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 89
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, // 90
};
// 1000 sin(a) for a = 0..90 degrees, rounded.
constexpr int kSinMilli[91] = {
       0,   17,   35,   52,   70,   87,  105,  122,  139,  156, // 0
     174,  191,  208,  225,  242,  259,  276,  292,  309,  326, // 10
     342,  358,  375,  391,  407,  423,  438,  454,  469,  485, // 20
     500,  515,  530,  545,  559,  574,  588,  602,  616,  629, // 30
     643,  656,  669,  682,  695,  707,  719,  731,  743,  755, // 40
     766,  777,  788,  799,  809,  819,  829,  839,  848,  857, // 50
     866,  875,  883,  891,  899,  906,  914,  921,  927,  934, // 60
     940,  946,  951,  956,  961,  966,  970,  974,  978,  982, // 70
     985,  988,  990,  993,  995,  996,  998,  999,  999, 1000, // 80
    1000, // 90
};
// clang-format on

// r * sin(a) for any whole degree a and radius r in -16..-1, 1..16.
constexpr int DiRadiusSin(int a, int r)
{
    a %= 360;
    if (a < 0) {
        a += 360;
    }
    int sign = 1;
    if (a >= 180) {
        a -= 180;
        sign = -1;
    }
    if (a > 90) {
        a = 180 - a;
    }
    if (r < 0) {
        r = -r;
        sign = -sign;
    }
    return sign * kRadiusSin[a][r - 1];
}

constexpr int DiRadiusOfColumn(int k)
{
    return k < 16 ? k - 16 : k - 15;
}

// phase 0 gives the sine table, 90 the cosine table (cos a = sin(a + 90)).
constexpr OffsetTable720 DiMakeOffsets(int phase)
{
    OffsetTable720 t{};
    for (int a = 0; a < 720; ++a) {
        for (int k = 0; k < 32; ++k) {
            t.v[a][k] = DiRadiusSin(a + phase, DiRadiusOfColumn(k));
        }
    }
    return t;
}

// Cosine entries kept one below their rounding: stored offsets depend on them.
constexpr OffsetTable720 DiMakeCosOffsets()
{
    OffsetTable720 t = DiMakeOffsets(90);
    for (int row : {100, 460}) {
        t.v[row][RadiusColumn(-15)] = 2;
        t.v[row][RadiusColumn(-9)] = 1;
    }
    return t;
}

constexpr Trig720 DiMakeTrig(int phase)
{
    Trig720 t{};
    for (int a = 0; a < 720; ++a) {
        int d = (a + phase) % 360;
        int sign = 1;
        if (d >= 180) {
            d -= 180;
            sign = -1;
        }
        if (d > 90) {
            d = 180 - d;
        }
        t.v[a] = sign * kSinMilli[d] / 1000.0;
    }
    return t;
}

constexpr AbsDelta256 DiMakeAbsDelta()
{
    AbsDelta256 t{};
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            t.v[a][b] = static_cast<unsigned char>(a > b ? a - b : b - a);
        }
    }
    return t;
}

} // namespace

constexpr OffsetTable720 arr_sinx_i720x32 = DiMakeOffsets(0);
constexpr OffsetTable720 arr_cosx_i720x32 = DiMakeCosOffsets();
constexpr Trig720 arr_sin_f720 = DiMakeTrig(0);
constexpr Trig720 arr_cos_f720 = DiMakeTrig(90);
constexpr AbsDelta256 arr_abs_delta = DiMakeAbsDelta();

static_assert(arr_sinx_i720x32[30][RadiusColumn(3)] == 2 &&
              arr_sinx_i720x32[30][RadiusColumn(-3)] == -2);
static_assert(arr_cosx_i720x32[100][RadiusColumn(-15)] == 2 &&
              arr_cosx_i720x32[100][RadiusColumn(15)] == -3);
static_assert(arr_sinx_i720x32[450][RadiusColumn(16)] == 16 &&
              arr_cosx_i720x32[0][RadiusColumn(-16)] == -16);

namespace {

// Folded distance between two directions of 0..179 degrees: 0..90. DirsCorrection8 folds
// sixteen blocks at a time by the same rule: keep the two in step.
int DiFold(int a, int b)
{
    int d = std::abs(a - b);
    return d > 90 ? 180 - d : d;
}

// v / 2^k truncated toward zero, without shifting a negative number.
std::int64_t DiScaleDown(std::int64_t v, int k)
{
    return v >= 0 ? v >> k : -((-v) >> k);
}

// Ridge direction of the orientation tensor sums: a = (90 / pi) atan2(2P, D), folded into
// 0..179.
unsigned char DiDirection(std::int64_t p, std::int64_t d)
{
    const double pi = 3.14159265358979323846;
    const double a = (90.0 / pi) * std::atan2(2.0 * static_cast<double>(p), static_cast<double>(d));
    unsigned dir = a >= 0 ? static_cast<unsigned>(a + 0.5) : static_cast<unsigned>(a + 180.5);
    return static_cast<unsigned char>(dir >= 180 ? dir - 180 : dir);
}

} // namespace

namespace {

// The tensor terms of the one pixel at p (with its eight neighbours in an image of w bytes a
// row): gx * gy into tp and gy^2 - gx^2 into td, each at most 1020^2 in magnitude.
void DiTensorAt(const unsigned char* p, unsigned w, std::int32_t& tp, std::int32_t& td)
{
    const unsigned char* r0 = p - w;
    const unsigned char* r2 = p + w;
    const int gx = (r0[1] + 2 * p[1] + r2[1]) - (r0[-1] + 2 * p[-1] + r2[-1]);
    const int gy = (r2[-1] - r0[-1]) + 2 * (r2[0] - r0[0]) + (r2[1] - r0[1]);
    tp = gx * gy;
    td = gy * gy - gx * gx;
}

// Rows a pair's 32-bit sums take at most: each row adds two terms of at most 1020^2 in
// magnitude, so 1024 rows stay below 2^31.
constexpr unsigned DI_PAIR_ROWS = 1024;

} // namespace

namespace imaging_detail {

void DiTensorPairsScalar(const unsigned char* p, unsigned w, unsigned pairs, std::int32_t* accP,
                         std::int32_t* accD)
{
    if (pairs == 0) {
        return;
    }
    // Along the row each pixel adds one column: its vertical smoothing v = top + 2 mid + bottom
    // and difference dv = bottom - top give gx = v(x+1) - v(x-1) and
    // gy = dv(x-1) + 2 dv(x) + dv(x+1).
    const unsigned char* r0 = p - w;
    const unsigned char* r2 = p + w;
    auto smooth = [&](std::ptrdiff_t x) { return r0[x] + 2 * p[x] + r2[x]; };
    auto diff = [&](std::ptrdiff_t x) { return r2[x] - r0[x]; };
    int vL = smooth(-1);
    int vM = smooth(0);
    int dL = diff(-1);
    int dM = diff(0);
    for (unsigned x = 0; x < 2 * pairs; ++x) {
        const int vR = smooth(x + 1);
        const int dR = diff(x + 1);
        const int gx = vR - vL;
        const int gy = dL + 2 * dM + dR;
        accP[x / 2] += gx * gy;
        accD[x / 2] += gy * gy - gx * gx;
        vL = vM;
        vM = vR;
        dL = dM;
        dM = dR;
    }
}

#if defined(__SSE2__)
// Eight pixels a step in 16-bit lanes (|gx|, |gy| <= 1020): the pair sums of gx * gy and of
// (gy - gx)(gy + gx) are exactly what madd gives. Eight-byte loads reach no further than the
// right neighbour of the last pixel.
void DiTensorPairs(const unsigned char* p, unsigned w, unsigned pairs, std::int32_t* accP,
                   std::int32_t* accD)
{
    const __m128i zero = _mm_setzero_si128();
    auto load = [zero](const unsigned char* q) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
    };
    auto add = [](std::int32_t* acc, __m128i v) {
        __m128i* const a = reinterpret_cast<__m128i*>(acc);
        _mm_storeu_si128(a, _mm_add_epi32(_mm_loadu_si128(a), v));
    };
    unsigned j = 0;
    for (; j + 4 <= pairs; j += 4) {
        const unsigned char* mid = p + 2 * j;
        const unsigned char* top = mid - w;
        const unsigned char* bot = mid + w;
        const __m128i tL = load(top - 1);
        const __m128i tM = load(top);
        const __m128i tR = load(top + 1);
        const __m128i mAcross = _mm_sub_epi16(load(mid + 1), load(mid - 1));
        const __m128i bL = load(bot - 1);
        const __m128i bM = load(bot);
        const __m128i bR = load(bot + 1);
        const __m128i dM = _mm_sub_epi16(bM, tM);
        const __m128i gx =
            _mm_add_epi16(_mm_add_epi16(_mm_sub_epi16(tR, tL), _mm_sub_epi16(bR, bL)),
                          _mm_add_epi16(mAcross, mAcross));
        const __m128i gy = _mm_add_epi16(
            _mm_add_epi16(_mm_sub_epi16(bL, tL), _mm_sub_epi16(bR, tR)), _mm_add_epi16(dM, dM));
        add(accP + j, _mm_madd_epi16(gx, gy));
        add(accD + j, _mm_madd_epi16(_mm_sub_epi16(gy, gx), _mm_add_epi16(gy, gx)));
    }
    DiTensorPairsScalar(p + 2 * j, w, pairs - j, accP + j, accD + j);
}
#else
void DiTensorPairs(const unsigned char* p, unsigned w, unsigned pairs, std::int32_t* accP,
                   std::int32_t* accD)
{
    DiTensorPairsScalar(p, w, pairs, accP, accD);
}
#endif

void DiTensorSums(const unsigned char* img, unsigned w, unsigned h, unsigned x0, unsigned y0,
                  unsigned bw, unsigned bh, int s, const unsigned char* mask, std::int64_t* sumP,
                  std::int64_t* sumD)
{
    const unsigned b = 1u << s;
    // Pixels with all eight neighbours: columns xFirst..xEnd-1, rows 1..h-2.
    const unsigned xFirst = x0 > 0 ? x0 : 1;
    const unsigned xEnd = x0 + bw * b < w - 1 ? x0 + bw * b : w - 1;
    auto open = [mask](std::size_t i) { return mask == nullptr || mask[i] == 0; };
    auto inner = [h](unsigned y) { return y != 0 && y + 1 < h; };
    if (s == 0) {
        // Blocks of one pixel.
        for (unsigned by = 0; by < bh; ++by) {
            for (unsigned bx = 0; bx < bw; ++bx) {
                const std::size_t i = static_cast<std::size_t>(by) * bw + bx;
                const unsigned x = x0 + bx;
                const unsigned y = y0 + by;
                if (x < xFirst || x >= xEnd || !inner(y) || !open(i)) {
                    continue;
                }
                std::int32_t tp = 0;
                std::int32_t td = 0;
                DiTensorAt(img + static_cast<std::size_t>(y) * w + x, w, tp, td);
                sumP[i] = tp;
                sumD[i] = td;
            }
        }
        return;
    }
    // Blocks of an even side: the terms gather by pixel pairs (pair j on columns x0 + 2j and
    // x0 + 2j + 1, never astride two blocks) in 32 bits down the rows, and each block's pairs go
    // into its 64-bit sums at the end of the block row or every DI_PAIR_ROWS rows. Whole pairs
    // of inner pixels go to the row kernel; a pixel whose partner has a missing neighbour goes
    // alone.
    const unsigned perBlock = b / 2;
    const std::size_t pairs = static_cast<std::size_t>(bw) * perBlock;
    auto accP = std::make_unique<std::int32_t[]>(pairs);
    auto accD = std::make_unique<std::int32_t[]>(pairs);
    const unsigned jA = (xFirst - x0 + 1) / 2;
    const unsigned jE = xEnd > x0 ? (xEnd - x0) / 2 : 0;
    const unsigned body = xFirst < xEnd && jE > jA ? jE - jA : 0;
    const unsigned headEnd = x0 + 2 * jA < xEnd ? x0 + 2 * jA : xEnd;
    const unsigned tailStart = x0 + 2 * (jA + body);
    auto alone = [&](const unsigned char* row, unsigned x) {
        std::int32_t tp = 0;
        std::int32_t td = 0;
        DiTensorAt(row + x, w, tp, td);
        accP[(x - x0) / 2] += tp;
        accD[(x - x0) / 2] += td;
    };
    auto flush = [&](unsigned by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            const std::size_t i = static_cast<std::size_t>(by) * bw + bx;
            if (!open(i)) {
                continue;
            }
            std::int64_t p = 0;
            std::int64_t d = 0;
            for (std::size_t j = static_cast<std::size_t>(bx) * perBlock;
                 j < static_cast<std::size_t>(bx + 1) * perBlock; ++j) {
                p += accP[j];
                d += accD[j];
            }
            sumP[i] += p;
            sumD[i] += d;
        }
        std::fill(accP.get(), accP.get() + pairs, 0);
        std::fill(accD.get(), accD.get() + pairs, 0);
    };
    for (unsigned by = 0; by < bh; ++by) {
        unsigned rows = 0;
        for (unsigned y = y0 + by * b; y < y0 + by * b + b; ++y) {
            if (!inner(y) || xFirst >= xEnd) {
                continue;
            }
            const unsigned char* row = img + static_cast<std::size_t>(y) * w;
            for (unsigned x = xFirst; x < headEnd; ++x) {
                alone(row, x);
            }
            DiTensorPairs(row + x0 + 2 * jA, w, body, accP.get() + jA, accD.get() + jA);
            for (unsigned x = tailStart > xFirst ? tailStart : xFirst; x < xEnd; ++x) {
                alone(row, x);
            }
            if (++rows == DI_PAIR_ROWS) {
                flush(by);
                rows = 0;
            }
        }
        if (rows > 0) {
            flush(by);
        }
    }
}

} // namespace imaging_detail

namespace {

// Direction field of a bw x bh grid of blocks of side 2^s whose block (0, 0) starts at pixel
// (x0, y0) of the image; the grid lies inside the image.
void DiField(const unsigned char* img, unsigned w, unsigned h, unsigned x0, unsigned y0,
             unsigned bw, unsigned bh, int s, const unsigned char* mask, unsigned char* dir,
             unsigned char* flags)
{
    const std::size_t n = static_cast<std::size_t>(bw) * bh;
    auto sumP = std::make_unique<std::int64_t[]>(n);
    auto sumD = std::make_unique<std::int64_t[]>(n);

    // 1. Per block, the Sobel tensor sums.
    imaging_detail::DiTensorSums(img, w, h, x0, y0, bw, bh, s, mask, sumP.get(), sumD.get());
    std::int64_t largest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (mask != nullptr && mask[i] != 0) {
            flags[i] = 0; // its sums were never added to and stay 0
            continue;
        }
        flags[i] = 255;
        const std::int64_t ap = sumP[i] < 0 ? -sumP[i] : sumP[i];
        const std::int64_t ad = sumD[i] < 0 ? -sumD[i] : sumD[i];
        largest = ap > largest ? ap : largest;
        largest = ad > largest ? ad : largest;
    }

    // 2. 3x3 block sums in 32 bits. Large blocks of strong contrast can pass 2^31 / 9; their
    //    sums are then scaled down together (the direction depends on their ratio only).
    int k = 0;
    while ((largest >> k) > INT32_MAX / 9) {
        ++k;
    }
    auto p32 = std::make_unique<int[]>(n);
    auto d32 = std::make_unique<int[]>(n);
    for (std::size_t i = 0; i < n; ++i) {
        p32[i] = static_cast<int>(DiScaleDown(sumP[i], k));
        d32[i] = static_cast<int>(DiScaleDown(sumD[i], k));
    }
    auto pSum = std::make_unique<int[]>(n);
    auto dSum = std::make_unique<int[]>(n);
    if (bw >= 3 && bh >= 3) {
        const int x2 = static_cast<int>(bw) - 1;
        const int y2 = static_cast<int>(bh) - 1;
        Summ3x3To32(p32.get(), bw, bh, 0, 0, x2, y2, pSum.get());
        Summ3x3To32(d32.get(), bw, bh, 0, 0, x2, y2, dSum.get());
    } else {
        // No block has a full neighbourhood: each keeps its own sums.
        for (std::size_t i = 0; i < n; ++i) {
            pSum[i] = p32[i];
            dSum[i] = d32[i];
        }
    }

    // 3. Directions; skipped blocks get 0.
    for (std::size_t i = 0; i < n; ++i) {
        dir[i] = flags[i] != 0 ? DiDirection(pSum[i], dSum[i]) : 0;
    }
}

} // namespace

int GetDirections8(const unsigned char* img, unsigned w, unsigned h, int s,
                   const unsigned char* mask, unsigned char* dir, unsigned char* flags)
{
    if (s < 0 || s > 15 || (w >> s) == 0 || (h >> s) == 0) {
        return IMG_BAD_GEOMETRY;
    }
    if (dir == nullptr || flags == nullptr) {
        return IMG_NO_OUTPUT;
    }
    DiField(img, w, h, 0, 0, w >> s, h >> s, s, mask, dir, flags);
    return 0;
}

int GetDirectionsL8(const unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                    int y2, int s, unsigned char* dir)
{
    if (s < 0 || s > 15 || x1 < 0 || y1 < 0 || x1 > x2 || y1 > y2 || x2 >= static_cast<int>(w) ||
        y2 >= static_cast<int>(h)) {
        return IMG_BAD_GEOMETRY;
    }
    const unsigned bw = static_cast<unsigned>(x2 - x1 + 1) >> s;
    const unsigned bh = static_cast<unsigned>(y2 - y1 + 1) >> s;
    if (bw == 0 || bh == 0) {
        return IMG_BAD_GEOMETRY;
    }
    if (dir == nullptr) {
        return IMG_NO_OUTPUT;
    }
    auto flags = std::make_unique<unsigned char[]>(static_cast<std::size_t>(bw) * bh);
    DiField(img, w, h, static_cast<unsigned>(x1), static_cast<unsigned>(y1), bw, bh, s, nullptr,
            dir, flags.get());
    return 0;
}

int DirsCorrectionL8(const unsigned char* img, unsigned w, unsigned h, unsigned char* dir,
                     const unsigned char* mask, const unsigned char* area)
{
    constexpr int shift = 4;
    constexpr int side = 1 << shift;
    const unsigned bw = w >> shift;
    const unsigned bh = h >> shift;
    if (dir == nullptr || mask == nullptr || area == nullptr) {
        return IMG_NO_OUTPUT;
    }
    auto outside = [&](unsigned x, unsigned y) {
        const std::size_t j = static_cast<std::size_t>(y) * bw + x;
        return mask[j] != 0 || area[j] != 0;
    };
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            if (outside(bx, by)) {
                continue;
            }
            // A block at the edge of the analysed area has a neighbour outside it.
            bool edge = false;
            for (int dy = -1; dy <= 1 && !edge; ++dy) {
                for (int dx = -1; dx <= 1 && !edge; ++dx) {
                    const int nx = static_cast<int>(bx) + dx;
                    const int ny = static_cast<int>(by) + dy;
                    edge = nx >= 0 && ny >= 0 && nx < static_cast<int>(bw) &&
                           ny < static_cast<int>(bh) &&
                           outside(static_cast<unsigned>(nx), static_cast<unsigned>(ny));
                }
            }
            if (!edge) {
                continue;
            }
            const int x1 = static_cast<int>(bx) * side;
            const int y1 = static_cast<int>(by) * side;
            const int rc = GetDirectionsL8(img, w, h, x1, y1, x1 + side - 1, y1 + side - 1, shift,
                                           dir + static_cast<std::size_t>(by) * bw + bx);
            if (rc != 0) {
                return rc;
            }
        }
    }
    return 0;
}

int DirsCorrection8(unsigned char* dir, unsigned bw, unsigned bh, const unsigned char* mask)
{
    if (dir == nullptr || bw == 0 || bh == 0) {
        return 0;
    }
    const std::size_t n = static_cast<std::size_t>(bw) * bh;
    auto work = std::make_unique<unsigned char[]>(4 * n);
    unsigned char* own = work.get();       // the block's direction, 255 when masked
    unsigned char* dist = own + n;         // folded distances to the candidate angle
    unsigned char* plane = dist + n;       // their blur
    unsigned char* bestVote = plane + n;   // lowest blurred distance so far
    std::vector<unsigned char> best(n, 0); // first angle that reached it
    const bool full = bw >= 3 && bh >= 3;
    for (std::size_t i = 0; i < n; ++i) {
        own[i] = mask == nullptr || mask[i] == 0 ? static_cast<unsigned char>(dir[i] % 180) : 255;
    }

    // 1. Per candidate angle, the blurred plane of folded distances (90 for masked blocks);
    //    each block keeps the first angle of lowest vote.
    for (int t = 0; t < 180; ++t) {
        unsigned char* votes = full ? plane : dist;
        std::size_t i = 0;
        for (; i + sizeof(imaging_detail::Lanes8) <= n; i += sizeof(imaging_detail::Lanes8)) {
            imaging_detail::Lanes8 o;
            std::memcpy(&o, own + i, sizeof o);
            const unsigned char c = static_cast<unsigned char>(t);
            imaging_detail::Lanes8 d = o > c ? o - c : c - o;
            d = d > 90 ? 180 - d : d; // DiFold, lane by lane
            d = o == 255 ? 90 : d;
            std::memcpy(dist + i, &d, sizeof d);
        }
        for (; i < n; ++i) {
            dist[i] = static_cast<unsigned char>(own[i] != 255 ? DiFold(own[i], t) : 90);
        }
        if (full) {
            Blur3x3To8(dist, bw, bh, 0, 0, static_cast<int>(bw) - 1, static_cast<int>(bh) - 1,
                       plane);
        }
        if (t == 0) {
            std::copy(votes, votes + n, bestVote);
            continue;
        }
        imaging_detail::KeepLowestVote8(votes, n, static_cast<unsigned char>(t), bestVote,
                                        best.data());
    }

    // 2. Each open block moves to the best voted angle when it lies more than 5 degrees off.
    for (std::size_t i = 0; i < n; ++i) {
        if (own[i] != 255 && DiFold(own[i], best[i]) > 5) {
            dir[i] = best[i];
        }
    }
    return 1;
}

void Get1Dxy8(int* t, int w)
{
    // One pair per 10 degrees: horizontal, rising diagonal, vertical, falling diagonal.
    for (int i = 0; i < 18; ++i) {
        int step = 1;
        if (i >= 3 && i <= 6) {
            step = w - 1;
        } else if (i >= 7 && i <= 11) {
            step = w;
        } else if (i >= 12 && i <= 15) {
            step = w + 1;
        }
        const bool flip = i <= 2;
        t[2 * i] = flip ? -step : step;
        t[2 * i + 1] = flip ? step : -step;
    }
}

namespace {

// 180 rows of 2r offsets; row i reads table row base - i.
void DiRotatedOffsets(int* t, int w, int r, int base)
{
    if (t == nullptr || r < 1 || r > 16) {
        return;
    }
    for (int i = 0; i < 180; ++i) {
        int* row = t + static_cast<std::ptrdiff_t>(i) * 2 * r;
        int j = 0;
        for (int q = -r; q <= r; ++q) {
            if (q == 0) {
                continue;
            }
            const int k = RadiusColumn(q);
            row[j++] = arr_cosx_i720x32[base - i][k] + arr_sinx_i720x32[base - i][k] * w;
        }
    }
}

} // namespace

void GetRDxy8(int* t, int w, int r)
{
    DiRotatedOffsets(t, w, r, 360);
}

void GetRPDxy8(int* t, int w, int r)
{
    DiRotatedOffsets(t, w, r, 450);
}

namespace {

// Window geometry shared by the oriented filters: blocks of side l = 2^s, the outermost block
// rows and columns skipped.
struct DiBlocks {
    unsigned bw;
    unsigned bh;
    unsigned l;
};

bool DiInnerBlocks(unsigned w, unsigned h, int s, DiBlocks& g)
{
    if (s < 1 || s > 5) {
        return false; // half the window must be a table radius 1..16
    }
    g.l = 1u << s;
    g.bw = w >> s;
    g.bh = h >> s;
    return g.bw >= 3 && g.bh >= 3;
}

// Shared frame of the block-direction filters: checks the output, then the geometry (a grid
// of fewer than 3 x 3 blocks writes nothing), fills the 180 rows of l offsets of `fillRows`
// (radius l / 2), then calls visit(x, y, p, d, row, l) for each pixel of the inner blocks
// (all but the border ring) whose mask byte is 0, block by block in scan order: p is the
// pixel's offset, d its direction modulo 180 and row the table row of d.
template <typename Visit>
int DiFilter(unsigned w, unsigned h, int s, const unsigned char* blockMask,
             const unsigned char* dir, unsigned char* dst, void (*fillRows)(int*, int, int),
             Visit visit)
{
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    DiBlocks g{};
    if (!DiInnerBlocks(w, h, s, g)) {
        return s < 1 || s > 5 ? IMG_BAD_GEOMETRY : 0;
    }
    const int l = static_cast<int>(g.l);
    auto rows = std::make_unique<int[]>(180 * g.l);
    fillRows(rows.get(), static_cast<int>(w), l / 2);
    for (unsigned by = 1; by + 1 < g.bh; ++by) {
        for (unsigned bx = 1; bx + 1 < g.bw; ++bx) {
            if (blockMask[static_cast<std::size_t>(by) * g.bw + bx] != 0) {
                continue;
            }
            for (unsigned y = by * g.l; y < (by + 1) * g.l; ++y) {
                for (unsigned x = bx * g.l; x < (bx + 1) * g.l; ++x) {
                    const std::size_t p = static_cast<std::size_t>(y) * w + x;
                    const int d = dir[p] % 180;
                    visit(x, y, p, d, rows.get() + static_cast<std::size_t>(d) * g.l, l);
                }
            }
        }
    }
    return 0;
}

} // namespace

int SummDirTo8(const unsigned char* src, unsigned w, unsigned h, int s,
               const unsigned char* blockMask, const unsigned char* dir, const unsigned char* shift,
               unsigned char* dst)
{
    const int iw = static_cast<int>(w);
    return DiFilter(w, h, s, blockMask, dir, dst, GetRDxy8,
                    [&](unsigned x, unsigned y, std::size_t p, int d, const int* row, int l) {
                        // The shift is a signed distance; its table column is kept inside 0..31.
                        int col = 16 + static_cast<std::int8_t>(shift[p]);
                        col = col < 0 ? 0 : (col > 31 ? 31 : col);
                        const int reach = l / 2 + (col < 16 ? 16 - col : col - 15);
                        if (static_cast<int>(x) < reach || static_cast<int>(y) < reach ||
                            static_cast<int>(x) + reach >= iw ||
                            static_cast<int>(y) + reach >= static_cast<int>(h)) {
                            return; // the parallel lines would leave the image
                        }
                        const int o =
                            arr_cosx_i720x32[90 + d][col] - arr_sinx_i720x32[90 + d][col] * iw;
                        const unsigned char* c = src + p;
                        int a = *c;
                        int q = 0;
                        for (int i = 0; i < l; ++i) {
                            a += c[row[i]];
                            q += c[row[i] - o] + c[row[i] + o];
                        }
                        dst[p] = static_cast<unsigned char>(q / (4 * l) + a / (2 * (l + 1)));
                    });
}

int BinarizationLDTo8(const unsigned char* src, unsigned w, unsigned h, int s,
                      const unsigned char* blockMask, const unsigned char* dir, unsigned char* dst)
{
    return DiFilter(w, h, s, blockMask, dir, dst, GetRPDxy8,
                    [&](unsigned, unsigned, std::size_t p, int, const int* row, int l) {
                        const unsigned char* c = src + p;
                        int sum = *c;
                        for (int i = 0; i < l; ++i) {
                            sum += c[row[i]];
                        }
                        dst[p] = *c * (l + 1) > sum ? 1 : 0;
                    });
}

void SummFrqTo8(const unsigned char* src, unsigned w, unsigned h, int s, const int* offsets,
                const unsigned char* blockMask, const unsigned char* blockDir,
                const unsigned char* blockFreq, unsigned char* dst)
{
    if (dst == nullptr || offsets == nullptr || s < 0 || s > 15) {
        return;
    }
    const unsigned l = 1u << s;
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    // The offsets come from the caller: every sample is checked against the image.
    const std::ptrdiff_t size = static_cast<std::ptrdiff_t>(w) * h;
    for (unsigned by = 1; by + 1 < bh; ++by) {
        for (unsigned bx = 1; bx + 1 < bw; ++bx) {
            const std::size_t b = static_cast<std::size_t>(by) * bw + bx;
            if (blockMask[b] != 0) {
                continue;
            }
            const int f = blockFreq[b];
            const int d = blockDir[b] % 18;
            const int* row = offsets + static_cast<std::ptrdiff_t>(d < 9 ? d + 9 : d - 9) * 32;
            const int k = f < 4 ? 0 : 64 / f;
            const int t1 = k <= 16 ? row[16 - k] : 0;
            const int t2 = k <= 16 ? row[15 + k] : 0;
            for (unsigned y = by * l; y < (by + 1) * l; ++y) {
                for (unsigned x = bx * l; x < (bx + 1) * l; ++x) {
                    const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(y) * w + x;
                    const int v = src[p];
                    if (f < 4) {
                        dst[p] = static_cast<unsigned char>(v + (v >> 1));
                        continue;
                    }
                    if (p + t1 < 0 || p + t1 >= size || p + t2 < 0 || p + t2 >= size) {
                        dst[p] = static_cast<unsigned char>(v);
                        continue;
                    }
                    dst[p] = static_cast<unsigned char>(v + ((src[p + t1] + src[p + t2]) >> 2));
                }
            }
        }
    }
}

int GetBgColor8(const unsigned char* img, unsigned w, unsigned h, const unsigned char* mask)
{
    const std::size_t n = static_cast<std::size_t>(w) * h;
    std::int64_t sum = 0;
    std::int64_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (mask[i] != 0) {
            sum += img[i];
            ++count;
        }
    }
    return count == 0 ? 255 : static_cast<int>(static_cast<unsigned char>(sum / count));
}

void DeleteLongLinesH8(unsigned char* img, unsigned w, unsigned h, int minLen)
{
    if (img == nullptr || w == 0 || h == 0) {
        return;
    }
    // 1. Overall mean, then row 0 takes the column means.
    const std::size_t n = static_cast<std::size_t>(w) * h;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        total += img[i];
    }
    const unsigned mean = static_cast<unsigned>(total / n);
    for (unsigned x = 0; x < w; ++x) {
        unsigned sum = 0;
        for (unsigned y = 0; y < h; ++y) {
            sum += img[static_cast<std::size_t>(y) * w + x];
        }
        img[x] = static_cast<unsigned char>(sum / h);
    }
    // 2. Dark runs of rows 1 .. h-3, bridged through the two rows below.
    for (unsigned y = 1; y + 2 < h; ++y) {
        unsigned char* r0 = img + static_cast<std::size_t>(y) * w;
        unsigned char* r1 = r0 + w;
        unsigned char* r2 = r1 + w;
        const unsigned char* up = r0 - w;
        auto dark = [&](const unsigned char* row, unsigned x) {
            return row[x] <= (img[x] < mean ? img[x] : mean);
        };
        unsigned x = 0;
        while (x < w) {
            if (!dark(r0, x)) {
                ++x;
                continue;
            }
            const unsigned start = x;
            while (x < w && (dark(r0, x) || dark(r1, x) || dark(r2, x))) {
                ++x;
            }
            // 3. A long run is painted over from the row above.
            if (static_cast<int>(x - start) >= minLen) {
                for (unsigned i = start; i < x; ++i) {
                    if (r0[i] < up[i]) {
                        r0[i] = up[i];
                    }
                }
            }
        }
    }
}

int NormalizationL8(unsigned char* img, unsigned w, unsigned h, int L, int passes)
{
    if (L < 1 || img == nullptr) {
        return IMG_BAD_GEOMETRY;
    }
    const std::size_t n = static_cast<std::size_t>(w) * h;
    if (n == 0) {
        return 0;
    }
    const int half = L / 2;
    const int iw = static_cast<int>(w);
    const int ih = static_cast<int>(h);
    // 1. A plain copy for the ramp, a smoothed copy for the window's extremes.
    auto plain = std::make_unique<unsigned char[]>(n);
    auto smooth = std::make_unique<unsigned char[]>(n);
    for (std::size_t i = 0; i < n; ++i) {
        plain[i] = img[i];
        smooth[i] = img[i];
    }
    if (w >= 3) {
        Blur8(smooth.get(), w, h, passes);
    }
    // 2. Each window's centre is stretched between the window's smoothed extremes, scaled so
    //    that the window's mean ramp value lands on 128.
    for (int y = 0; y + L + 1 <= ih; ++y) {
        for (int x = 0; x + L + 1 <= iw; ++x) {
            int lo = 255;
            int hi = 0;
            for (int v = y; v < y + L; ++v) {
                const unsigned char* row = smooth.get() + static_cast<std::size_t>(v) * w;
                for (int u = x; u < x + L; ++u) {
                    lo = row[u] < lo ? row[u] : lo;
                    hi = row[u] > hi ? row[u] : hi;
                }
            }
            unsigned char& centre = img[static_cast<std::size_t>(y + half) * w + (x + half)];
            if (hi <= lo) {
                centre = 128;
                continue;
            }
            const int step = 0xFF0000 / (hi - lo);
            auto ramp = [&](int a) { return a < hi ? (step * (a - lo)) >> 16 : 255; };
            std::int64_t sum = 0;
            for (int v = y; v < y + L; ++v) {
                const unsigned char* row = plain.get() + static_cast<std::size_t>(v) * w;
                for (int u = x; u < x + L; ++u) {
                    if (row[u] > lo) {
                        sum += ramp(row[u]);
                    }
                }
            }
            const int c = centre;
            if (sum <= 0) {
                centre = 128;
            } else if (c <= lo) {
                centre = 0;
            } else {
                const std::int64_t v = std::int64_t{L} * L * 128 * ramp(c) / sum;
                centre = static_cast<unsigned char>(v > 255 ? 255 : v);
            }
        }
    }
    // 3. The bands no window centre reaches.
    for (int y = 0; y < ih; ++y) {
        for (int x = 0; x < iw; ++x) {
            if (y < half || x < half || y >= ih - (L - half) || x >= iw - (L - half)) {
                img[static_cast<std::size_t>(y) * w + x] = 128;
            }
        }
    }
    return 0;
}

void GetSummMaskS8(const unsigned char* img, unsigned w, unsigned h, int B, unsigned char* dst)
{
    if (B < 1 || dst == nullptr) {
        return;
    }
    const unsigned b = static_cast<unsigned>(B);
    const unsigned bw = w / b;
    const unsigned bh = h / b;
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            unsigned sum = 0;
            for (unsigned y = by * b; y < by * b + b; ++y) {
                for (unsigned x = bx * b; x < bx * b + b; ++x) {
                    sum += img[static_cast<std::size_t>(y) * w + x];
                }
            }
            dst[static_cast<std::size_t>(by) * bw + bx] = static_cast<unsigned char>(sum);
        }
    }
}

int GetDirectionsS8(const unsigned char* img, unsigned w, unsigned h, int B, int nDirs,
                    unsigned char* dst)
{
    if (B < 1 || nDirs < 1 || nDirs > 180) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const unsigned b = static_cast<unsigned>(B);
    const unsigned bw = w / b;
    const unsigned bh = h / b;
    const std::size_t nb = static_cast<std::size_t>(bw) * bh;
    if (nb == 0) {
        return 0;
    }
    // 1. Contrast-normalised copy.
    const std::size_t n = static_cast<std::size_t>(w) * h;
    auto norm = std::make_unique<unsigned char[]>(n);
    for (std::size_t i = 0; i < n; ++i) {
        norm[i] = img[i];
    }
    NormalizationL8(norm.get(), w, h, B, 1);

    const int side = 2 * B;
    auto colOff = std::make_unique<int[]>(static_cast<std::size_t>(side) * side);
    auto rowOff = std::make_unique<int[]>(static_cast<std::size_t>(side) * side);
    auto samples = std::make_unique<int[]>(side);
    auto score = std::make_unique<std::int64_t[]>(nb);
    auto best = std::make_unique<std::int64_t[]>(nb);
    const double pi = 3.14159265358979323846;
    const int iw = static_cast<int>(w);
    const int ih = static_cast<int>(h);
    for (int k = 0; k < nDirs; ++k) {
        // 2. The rotated sampling pattern: lines of constant v.
        const double angle = -k * pi / nDirs;
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        for (int v = -B; v < B; ++v) {
            for (int u = -B; u < B; ++u) {
                const std::size_t j = static_cast<std::size_t>(v + B) * side + (u + B);
                colOff[j] = static_cast<int>(u * c + v * s);
                rowOff[j] = static_cast<int>(v * c - u * s);
            }
        }
        // 3. Variation along the lines, summed over the block's lines.
        for (std::size_t i = 0; i < nb; ++i) {
            score[i] = 0;
        }
        for (unsigned by = 1; by + 1 < bh; ++by) {
            for (unsigned bx = 1; bx + 1 < bw; ++bx) {
                const int cx = static_cast<int>(bx * b) + B / 2;
                const int cy = static_cast<int>(by * b) + B / 2;
                std::int64_t total = 0;
                for (int line = 0; line < side; ++line) {
                    int sum = 0;
                    for (int i = 0; i < side; ++i) {
                        const std::size_t j = static_cast<std::size_t>(line) * side + i;
                        int x = cx + colOff[j];
                        int y = cy + rowOff[j];
                        x = x < 0 ? 0 : (x >= iw ? iw - 1 : x);
                        y = y < 0 ? 0 : (y >= ih ? ih - 1 : y);
                        samples[i] = norm[static_cast<std::size_t>(y) * w + x];
                        sum += samples[i];
                    }
                    const int m = sum / side;
                    total += std::abs(samples[0] - m);
                    for (int i = 1; i < side; ++i) {
                        total += std::abs(samples[i] - samples[i - 1]) + std::abs(samples[i] - m);
                    }
                }
                score[static_cast<std::size_t>(by) * bw + bx] = total;
            }
        }
        // The outer ring takes the scores of its inner neighbours.
        if (bw >= 3 && bh >= 3) {
            for (unsigned by = 0; by < bh; ++by) {
                for (unsigned bx = 0; bx < bw; ++bx) {
                    if (by > 0 && bx > 0 && by + 1 < bh && bx + 1 < bw) {
                        continue;
                    }
                    const unsigned iy = by == 0 ? 1 : (by + 1 == bh ? bh - 2 : by);
                    const unsigned ix = bx == 0 ? 1 : (bx + 1 == bw ? bw - 2 : bx);
                    score[static_cast<std::size_t>(by) * bw + bx] =
                        score[static_cast<std::size_t>(iy) * bw + ix];
                }
            }
        }
        // 4. The lowest score wins, the first direction on ties.
        for (std::size_t i = 0; i < nb; ++i) {
            if (k == 0 || score[i] < best[i]) {
                best[i] = score[i];
                dst[i] = static_cast<unsigned char>((180 / nDirs) * k);
            }
        }
    }
    return 0;
}

namespace {

constexpr int PM_BLOCK_SHIFT = 3; // 8 x 8 blocks
constexpr int PM_DIRECTIONS = 18; // 10-degree steps
constexpr int PM_MIN_PERIOD = 2;  // ridge periods of the templates, pixels
constexpr int PM_MAX_PERIOD = 12;
constexpr int PM_PHASES = 4;       // quarter-period shifts of each template
constexpr int PM_FULL_SCORE = 32;  // a block that matches a template bit for bit
constexpr int PM_MIN_CONTRAST = 8; // grey range below which a block is flat
constexpr int PM_MIN_SHARE = 16;   // fewest pixels of either colour in a patterned block
constexpr int PM_WEAK_SUM = 141;   // 3x3 sums of smoothed scores below this are no pattern
constexpr int PM_SEED_START = 140; // first seed threshold
constexpr int PM_SEED_LIMIT = 177; // the seed threshold rises no further
constexpr int PM_SEED_SHARE = 80;  // percent of the open blocks that may be seeds

// Binary 8 x 8 ridge templates, bit y * 8 + x set where the wave across the direction is
// positive. The direction runs along (cos t, sin t) with rows downward, as GetDirectionsS8
// measures it.
struct PmTemplates {
    std::uint64_t bits[PM_DIRECTIONS][PM_MAX_PERIOD - PM_MIN_PERIOD + 1][PM_PHASES];
};

void PmBuildTemplates(PmTemplates& t)
{
    const double pi = 3.14159265358979323846;
    for (int d = 0; d < PM_DIRECTIONS; ++d) {
        const double a = d * 10 * pi / 180.0;
        for (int p = PM_MIN_PERIOD; p <= PM_MAX_PERIOD; ++p) {
            for (int f = 0; f < PM_PHASES; ++f) {
                std::uint64_t bits = 0;
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x) {
                        const double across = -(x - 3.5) * std::sin(a) + (y - 3.5) * std::cos(a);
                        const double wave = std::sin(2 * pi * across / p + f * pi / 2);
                        if (wave > 0) {
                            bits |= std::uint64_t{1} << (y * 8 + x);
                        }
                    }
                }
                t.bits[d][p - PM_MIN_PERIOD][f] = bits;
            }
        }
    }
}

int PmPopCount(std::uint64_t v)
{
    int n = 0;
    for (; v != 0; v &= v - 1) {
        ++n;
    }
    return n;
}

// Agreement of a binary block with the best template of its direction: |matches - 32|, 0..32.
// A block that is mostly ink or mostly paper has no ridge pattern and scores 0.
int PmScore(const PmTemplates& t, int d, std::uint64_t block)
{
    const int ones = PmPopCount(block);
    if (ones < PM_MIN_SHARE || ones > 64 - PM_MIN_SHARE) {
        return 0;
    }
    int best = 0;
    for (const auto& period : t.bits[d]) {
        for (std::uint64_t bits : period) {
            const int matches = 64 - PmPopCount(bits ^ block);
            const int score = matches >= 32 ? matches - 32 : 32 - matches;
            best = score > best ? score : best;
        }
    }
    return best;
}

// Blocks whose 3x3 sum of smoothed scores reaches the seed threshold are pattern; the
// threshold rises from its start while the seeds cover too much of the grid; the pattern then
// grows into neighbouring blocks that are not weak. Writes 0 pattern, 1 other.
void PmGrow(const int* sums, unsigned bw, unsigned bh, unsigned char* mask)
{
    const std::size_t n = static_cast<std::size_t>(bw) * bh;
    std::size_t open = 0;
    for (std::size_t i = 0; i < n; ++i) {
        open += sums[i] >= 0 ? 1 : 0;
    }
    int threshold = PM_SEED_START;
    for (;;) {
        std::size_t seeds = 0;
        for (std::size_t i = 0; i < n; ++i) {
            seeds += sums[i] > threshold ? 1 : 0;
        }
        if (threshold >= PM_SEED_LIMIT || seeds * 100 <= open * PM_SEED_SHARE) {
            break;
        }
        ++threshold;
    }
    for (std::size_t i = 0; i < n; ++i) {
        mask[i] = sums[i] > threshold ? 0 : 1;
    }
    bool grown = true;
    while (grown) {
        grown = false;
        for (unsigned y = 0; y < bh; ++y) {
            for (unsigned x = 0; x < bw; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * bw + x;
                if (mask[i] == 0 || sums[i] < 0) {
                    continue;
                }
                const bool near = (x > 0 && mask[i - 1] == 0) || (x + 1 < bw && mask[i + 1] == 0) ||
                                  (y > 0 && mask[i - bw] == 0) || (y + 1 < bh && mask[i + bw] == 0);
                if (near) {
                    mask[i] = 0;
                    grown = true;
                }
            }
        }
    }
}

} // namespace

int GetPatternMask8(unsigned char* img, unsigned& w, unsigned& h, unsigned char*& mask)
{
    mask = nullptr;
    const unsigned bw = w >> PM_BLOCK_SHIFT;
    const unsigned bh = h >> PM_BLOCK_SHIFT;
    if (img == nullptr || bw == 0 || bh == 0) {
        return IMG_BAD_GEOMETRY;
    }
    const std::size_t n = static_cast<std::size_t>(w) * h;
    const std::size_t nb = static_cast<std::size_t>(bw) * bh;
    const int b = 1 << PM_BLOCK_SHIFT;

    // 1. Directions in 10-degree steps.
    auto dirs = std::make_unique<unsigned char[]>(nb);
    int rc = GetDirectionsS8(img, w, h, b, PM_DIRECTIONS, dirs.get());
    if (rc != 0) {
        return rc;
    }
    // 2. Templates.
    auto templates = std::make_unique<PmTemplates>();
    PmBuildTemplates(*templates);
    // 3. Local binarisation.
    auto bin = std::make_unique<unsigned char[]>(n);
    rc = BinarizationToL8(img, w, h, 0, 0, static_cast<int>(w) - 1, static_cast<int>(h) - 1, 2,
                          bin.get());
    if (rc != 0) {
        return rc;
    }
    // 4. Template agreement per block.
    auto scores = std::make_unique<unsigned char[]>(nb);
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            std::uint64_t block = 0;
            for (int y = 0; y < b; ++y) {
                const unsigned char* row =
                    bin.get() + static_cast<std::size_t>(by * b + y) * w + bx * b;
                for (int x = 0; x < b; ++x) {
                    if (row[x] != 0) {
                        block |= std::uint64_t{1} << (y * 8 + x);
                    }
                }
            }
            // A block without grey contrast has no pattern, whatever its binary form (the
            // local binarisation sets the bands at the image edge to 1).
            int lo = 255;
            int hi = 0;
            for (int y = 0; y < b; ++y) {
                const unsigned char* row = img + static_cast<std::size_t>(by * b + y) * w + bx * b;
                for (int x = 0; x < b; ++x) {
                    lo = row[x] < lo ? row[x] : lo;
                    hi = row[x] > hi ? row[x] : hi;
                }
            }
            const std::size_t i = static_cast<std::size_t>(by) * bw + bx;
            scores[i] =
                hi - lo < PM_MIN_CONTRAST
                    ? 0
                    : static_cast<unsigned char>(PmScore(*templates, (dirs[i] / 10) % 18, block));
        }
    }
    // 5. Blocks of much ink (or much paper, after inversion) gain a little.
    auto copy = std::make_unique<unsigned char[]>(n);
    for (std::size_t i = 0; i < n; ++i) {
        copy[i] = img[i];
    }
    rc = BinarizationX8(copy.get(), w, h, 0, 0, w - 1, h - 1);
    if (rc != 0) {
        return rc;
    }
    if (static_cast<unsigned>(ArrGetSumm8(copy.get(), static_cast<int>(n))) < n / 4) {
        Binary_NOT8(copy.get(), w, h);
    }
    auto sums = std::make_unique<unsigned char[]>(nb);
    GetSummMaskS8(copy.get(), w, h, b, sums.get());
    for (std::size_t i = 0; i < nb; ++i) {
        if (scores[i] < PM_FULL_SCORE) {
            const int v = scores[i] + (sums[i] >> 4);
            scores[i] = static_cast<unsigned char>(v > PM_FULL_SCORE ? PM_FULL_SCORE : v);
        }
    }
    // 6. From here on w and h give the block grid.
    w = bw;
    h = bh;
    // 7. Smoothed scores, their 3x3 sums, weak blocks out, then the growing.
    std::vector<unsigned char> smooth(scores.get(), scores.get() + nb);
    if (bw >= 3) {
        Blur8(smooth.data(), bw, bh, 6);
    }
    auto block3 = std::make_unique<int[]>(nb);
    if (bw >= 3 && bh >= 3) {
        Summ3x38To32(smooth.data(), bw, bh, 0, 0, static_cast<int>(bw) - 1,
                     static_cast<int>(bh) - 1, block3.get());
    } else {
        for (std::size_t i = 0; i < nb; ++i) {
            block3[i] = 9 * smooth[i]; // no full neighbourhood: nine times the block itself
        }
    }
    for (std::size_t i = 0; i < nb; ++i) {
        if (block3[i] < PM_WEAK_SUM) {
            block3[i] = -1;
        }
    }
    mask = new unsigned char[nb];
    PmGrow(block3.get(), bw, bh, mask);
    return 0;
}

void DirsSegBlurH8(unsigned char* sectors, unsigned bw, unsigned bh, int x1, int y1, int x2, int y2,
                   int passes)
{
    if (sectors == nullptr || x1 < 0 || y1 < 0 || x2 >= static_cast<int>(bw) ||
        y2 >= static_cast<int>(bh) || x2 - x1 < 2) {
        return;
    }
    auto before = std::make_unique<int[]>(static_cast<std::size_t>(x2 - x1 + 1));
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = y1; y <= y2; ++y) {
            unsigned char* row = sectors + static_cast<std::size_t>(y) * bw;
            for (int x = x1; x <= x2; ++x) {
                before[x - x1] = row[x] % 18;
            }
            for (int x = x1 + 1; x < x2; ++x) {
                const int c = before[x - x1];
                // Neighbours as signed sector steps from c, -9..8.
                const int l = (before[x - x1 - 1] - c + 27) % 18 - 9;
                const int r = (before[x - x1 + 1] - c + 27) % 18 - 9;
                const int sum = l + r;                   // -18..16
                const int step = (sum + 2 + 20) / 4 - 5; // floor((sum + 2) / 4): sum / 4, halves up
                row[x] = static_cast<unsigned char>((c + step + 18) % 18);
            }
        }
    }
}

void GetCoreAndDelta8(const unsigned char* dir, unsigned bw, unsigned bh, unsigned char* cores,
                      unsigned char* deltas)
{
    const std::size_t n = static_cast<std::size_t>(bw) * bh;
    for (std::size_t i = 0; i < n; ++i) {
        cores[i] = 0;
        deltas[i] = 0;
    }
    // The eight neighbours in one turn round the block.
    constexpr int ring[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
    for (unsigned y = 1; y + 1 < bh; ++y) {
        for (unsigned x = 1; x + 1 < bw; ++x) {
            int sum = 0;
            for (int k = 0; k < 8; ++k) {
                const int* a = ring[k];
                const int* b = ring[(k + 1) % 8];
                const int da = dir[(y + a[1]) * bw + (x + a[0])] % 180;
                const int db = dir[(y + b[1]) * bw + (x + b[0])] % 180;
                int d = db - da;
                d = d > 90 ? d - 180 : (d < -90 ? d + 180 : d);
                sum += d;
            }
            const std::size_t i = static_cast<std::size_t>(y) * bw + x;
            cores[i] = sum == -180 ? 1 : 0;
            deltas[i] = sum == 180 ? 1 : 0;
        }
    }
}

void GetDir180Quality8(const unsigned char* dir, unsigned bw, unsigned bh,
                       const unsigned char* mask, unsigned char* quality)
{
    const std::size_t n = static_cast<std::size_t>(bw) * bh;
    for (std::size_t i = 0; i < n; ++i) {
        quality[i] = 0;
    }
    constexpr int pairs[3][2] = {{1, 0}, {0, 1}, {1, 1}};
    for (unsigned y = 0; y < bh; ++y) {
        for (unsigned x = 0; x < bw; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * bw + x;
            if (mask != nullptr && mask[i] != 0) {
                continue;
            }
            for (const auto& p : pairs) {
                const unsigned nx = x + static_cast<unsigned>(p[0]);
                const unsigned ny = y + static_cast<unsigned>(p[1]);
                if (nx >= bw || ny >= bh) {
                    continue;
                }
                const std::size_t j = static_cast<std::size_t>(ny) * bw + nx;
                if (mask != nullptr && mask[j] != 0) {
                    continue;
                }
                const int d = DiFold(dir[i] % 180, dir[j] % 180);
                quality[i] = static_cast<unsigned char>(quality[i] + d);
                quality[j] = static_cast<unsigned char>(quality[j] + d);
            }
        }
    }
}

int GetDirectionsN8(const unsigned char* img, unsigned w, unsigned h, int s,
                    const unsigned char* mask, unsigned char* dir, unsigned char* flags)
{
    if (s < 0 || s > 15 || (w >> s) == 0 || (h >> s) == 0) {
        return IMG_BAD_GEOMETRY;
    }
    if (dir == nullptr || flags == nullptr) {
        return IMG_NO_OUTPUT;
    }
    // Half a 5 x 5 window: one offset per direction of 0..179 degrees (y up).
    constexpr int offsets[12][2] = {{1, 0},   {2, -1},  {1, -1}, {1, -2}, {0, -1}, {-1, -2},
                                    {-1, -1}, {-2, -1}, {2, 1},  {1, 1},  {1, 2},  {-1, 2}};
    int angle[12];
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < 12; ++k) {
        const double a = std::atan2(-offsets[k][1], offsets[k][0]) * 180.0 / pi;
        const int deg = static_cast<int>(std::lround(a < 0 ? a + 180.0 : a));
        angle[k] = deg >= 180 ? deg - 180 : deg;
    }
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    const unsigned b = 1u << s;
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            const std::size_t i = static_cast<std::size_t>(by) * bw + bx;
            dir[i] = 0;
            if (mask != nullptr && mask[i] != 0) {
                flags[i] = 0;
                continue;
            }
            flags[i] = 255;
            std::uint64_t sum[12] = {};
            // Pixels whose whole window lies inside the image.
            for (unsigned y = by * b; y < by * b + b; ++y) {
                if (y < 2 || y + 2 >= h) {
                    continue;
                }
                for (unsigned x = bx * b; x < bx * b + b; ++x) {
                    if (x < 2 || x + 2 >= w) {
                        continue;
                    }
                    const std::size_t p = static_cast<std::size_t>(y) * w + x;
                    for (int k = 0; k < 12; ++k) {
                        const std::ptrdiff_t q = static_cast<std::ptrdiff_t>(p) + offsets[k][0] +
                                                 static_cast<std::ptrdiff_t>(offsets[k][1]) * w;
                        sum[k] += arr_abs_delta[img[p]][img[q]];
                    }
                }
            }
            int best = 0;
            for (int k = 1; k < 12; ++k) {
                best = sum[k] < sum[best] ? k : best;
            }
            dir[i] = static_cast<unsigned char>(angle[best]);
        }
    }
    return 0;
}
