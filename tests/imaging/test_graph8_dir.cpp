// Block direction field on ridge gratings, its correction, the rotated-offset tables against
// their formula, the offset builders and the oriented filters and pattern masks on small images.

#include "imaging/graph8_dir.h"

#include "tests/imaging/grating.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using imgtest::FoldedDelta;
using imgtest::Grating;

// r * f(a) rounded half away from zero, exact halves recognised (3 sin 30 = 1.5).
int RoundAway(double v)
{
    const double m = std::floor(std::fabs(v) + 0.5 + 1e-9);
    return static_cast<int>(v < 0 ? -m : m);
}

struct Deviation {
    int row;
    int radius;
    int value;
};
constexpr Deviation kCosDeviations[] = {{100, -15, 2}, {100, -9, 1}, {460, -15, 2}, {460, -9, 1}};

TEST(DirectionTables, AreTheirFormulaExceptTheListedCosineEntries)
{
    const double pi = std::acos(-1.0);
    int checked = 0;
    for (int a = 0; a < 720; ++a) {
        const double rad = a * pi / 180.0;
        for (int k = 0; k < 32; ++k) {
            const int r = k < 16 ? k - 16 : k - 15;
            ASSERT_EQ(RadiusColumn(r), k);
            ASSERT_EQ(arr_sinx_i720x32[a][k], RoundAway(r * std::sin(rad))) << a << " " << r;
            int expected = RoundAway(r * std::cos(rad));
            for (const Deviation& d : kCosDeviations) {
                if (d.row == a && d.radius == r) {
                    EXPECT_NE(d.value, expected) << "deviation now equals the formula: drop it";
                    expected = d.value;
                }
            }
            ASSERT_EQ(arr_cosx_i720x32[a][k], expected) << a << " " << r;
            ++checked;
        }
        EXPECT_DOUBLE_EQ(arr_sin_f720[a], std::round(std::sin(rad) * 1000.0) / 1000.0) << a;
        EXPECT_DOUBLE_EQ(arr_cos_f720[a], std::round(std::cos(rad) * 1000.0) / 1000.0) << a;
    }
    EXPECT_EQ(checked, 720 * 32);
    EXPECT_EQ(arr_abs_delta[3][250], 247);
    EXPECT_EQ(arr_abs_delta[250][3], 247);
}

TEST(OffsetBuilders, LinesAlongAndAcrossAndOneStepPairs)
{
    const int w = 100;
    std::vector<int> t(180 * 4);
    GetRDxy8(t.data(), w, 2);
    EXPECT_EQ((std::vector<int>(t.begin(), t.begin() + 4)), (std::vector<int>{-2, -1, 1, 2}));
    EXPECT_EQ((std::vector<int>(t.begin() + 360, t.begin() + 364)),
              (std::vector<int>{2 * w, w, -w, -2 * w}));
    GetRPDxy8(t.data(), w, 2);
    EXPECT_EQ((std::vector<int>(t.begin(), t.begin() + 4)),
              (std::vector<int>{-2 * w, -w, w, 2 * w})); // across the horizontal is vertical
    int pairs[36];
    Get1Dxy8(pairs, w);
    EXPECT_EQ(pairs[0], -1);
    EXPECT_EQ(pairs[1], 1);
    EXPECT_EQ(pairs[6], w - 1);
    EXPECT_EQ(pairs[14], w);
    EXPECT_EQ(pairs[15], -w);
    EXPECT_EQ(pairs[24], w + 1);
    EXPECT_EQ(pairs[34], 1);
    EXPECT_EQ(pairs[35], -1);
    // A radius outside 1..16 writes nothing.
    std::vector<int> untouched(180 * 34, 7);
    GetRDxy8(untouched.data(), w, 17);
    EXPECT_EQ(untouched[0], 7);
}

TEST(GetDirections8, GratingsGiveTheirDirectionWithinTwoDegrees)
{
    const unsigned w = 192;
    const unsigned h = 160;
    const int s = 4;
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    for (double angle : {0.0, 17.0, 45.0, 72.0, 90.0, 121.0, 163.0, 179.0}) {
        for (double period : {7.0, 10.0}) {
            SCOPED_TRACE(testing::Message() << angle << " deg, period " << period);
            const auto img = Grating(w, h, angle, period);
            std::vector<unsigned char> dir(bw * bh, 200);
            std::vector<unsigned char> flags(bw * bh, 7);
            ASSERT_EQ(GetDirections8(img.data(), w, h, s, nullptr, dir.data(), flags.data()), 0);
            int checked = 0;
            for (unsigned i = 0; i < bw * bh; ++i) {
                EXPECT_EQ(flags[i], 255);
                ASSERT_LT(dir[i], 180);
                EXPECT_LE(FoldedDelta(dir[i], static_cast<int>(std::lround(angle))), 2) << i;
                ++checked;
            }
            EXPECT_EQ(checked, static_cast<int>(bw * bh));
            // The correction keeps a consistent field as it is.
            std::vector<unsigned char> fixed = dir;
            EXPECT_EQ(DirsCorrection8(fixed.data(), bw, bh, nullptr), 1);
            EXPECT_EQ(fixed, dir);
        }
    }
}

TEST(GetDirections8, MaskSkipsBlocksAndBadArgumentsAreRefused)
{
    const unsigned w = 64;
    const unsigned h = 48;
    const auto img = Grating(w, h, 30, 8);
    std::vector<unsigned char> mask(4 * 3, 1);
    mask[5] = 0;
    std::vector<unsigned char> dir(12, 99);
    std::vector<unsigned char> flags(12, 99);
    ASSERT_EQ(GetDirections8(img.data(), w, h, 4, mask.data(), dir.data(), flags.data()), 0);
    for (unsigned i = 0; i < 12; ++i) {
        EXPECT_EQ(flags[i], i == 5 ? 255 : 0) << i;
        if (i != 5) {
            EXPECT_EQ(dir[i], 0) << i;
        }
    }
    EXPECT_LE(FoldedDelta(dir[5], 30), 2);

    EXPECT_EQ(GetDirections8(img.data(), 15, 48, 4, nullptr, dir.data(), flags.data()),
              IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetDirections8(img.data(), w, h, -1, nullptr, dir.data(), flags.data()),
              IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetDirections8(img.data(), w, h, 4, nullptr, nullptr, flags.data()), IMG_NO_OUTPUT);
}

TEST(GetDirections8, DegenerateImagesGiveDefinedFields)
{
    struct Case {
        unsigned w, h;
        unsigned char grey;
    };
    for (const Case& c : {Case{1, 1, 0}, Case{1, 1, 255}, Case{7, 1, 0}, Case{1, 9, 255},
                          Case{40, 40, 0}, Case{40, 40, 255}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " grey " << int(c.grey));
        std::vector<unsigned char> img(c.w * c.h, c.grey);
        std::vector<unsigned char> dir(c.w * c.h, 9);
        std::vector<unsigned char> flags(c.w * c.h, 9);
        ASSERT_EQ(GetDirections8(img.data(), c.w, c.h, 0, nullptr, dir.data(), flags.data()), 0);
        for (unsigned i = 0; i < c.w * c.h; ++i) {
            EXPECT_EQ(dir[i], 0); // a flat image has no gradient
        }
        EXPECT_EQ(DirsCorrection8(dir.data(), c.w, c.h, nullptr), 1);
    }
}

TEST(DirsCorrection8, OutliersTakeTheVotedAngleAndMaskedBlocksStay)
{
    const unsigned bw = 5;
    const unsigned bh = 5;
    std::vector<unsigned char> dir(bw * bh, 40);
    std::vector<unsigned char> mask(bw * bh, 0);
    dir[12] = 130; // far off: corrected
    dir[6] = 44;   // within 5 degrees of its vote: kept
    dir[18] = 170; // masked: never changed
    mask[18] = 1;
    ASSERT_EQ(DirsCorrection8(dir.data(), bw, bh, mask.data()), 1);
    EXPECT_EQ(dir[12], 40);
    EXPECT_EQ(dir[6], 44);
    EXPECT_EQ(dir[18], 170);

    // Distances fold across 0/180: 2 and 178 lie 4 degrees apart, so a checkerboard of the two
    // stays as it is and its outlier 60 takes the vote 0 between them. Unfolded, 2 and 178 would
    // lie 176 apart and the votes would move.
    std::vector<unsigned char> wrap(4 * 5);
    for (unsigned i = 0; i < wrap.size(); ++i) {
        wrap[i] = ((i % 4) + (i / 4)) % 2 != 0 ? 178 : 2;
    }
    std::vector<unsigned char> folded = wrap;
    folded[5] = 0;
    wrap[5] = 60;
    ASSERT_EQ(DirsCorrection8(wrap.data(), 4, 5, nullptr), 1);
    EXPECT_EQ(wrap, folded);

    // Out-of-range input directions are read modulo 180, never past the vote planes.
    std::vector<unsigned char> odd(9, 250);
    EXPECT_EQ(DirsCorrection8(odd.data(), 3, 3, nullptr), 1);
    EXPECT_EQ(DirsCorrection8(nullptr, 3, 3, nullptr), 0);
}

TEST(UncalledDirectionHelpers, PoincareQualityAndSectorBlur)
{
    // Directions turning by half a turn round the centre block: index -180 or +180.
    const unsigned char ring[9] = {0, 22, 45, 157, 0, 67, 135, 112, 90};
    unsigned char cores[9];
    unsigned char deltas[9];
    GetCoreAndDelta8(ring, 3, 3, cores, deltas);
    EXPECT_EQ(cores[4] + deltas[4], 1);
    const unsigned char flat[9] = {30, 30, 30, 30, 30, 30, 30, 30, 30};
    GetCoreAndDelta8(flat, 3, 3, cores, deltas);
    EXPECT_EQ(cores[4] + deltas[4], 0);

    const unsigned char two[2] = {10, 170};
    unsigned char q[2];
    GetDir180Quality8(two, 2, 1, nullptr, q);
    EXPECT_EQ(q[0], 20);
    EXPECT_EQ(q[1], 20);

    // Sectors wrap round: 17, 0, 1 average to 0; 0, 2 twice and 4 to 2.
    unsigned char sectors[6] = {17, 0, 1, 0, 2, 4};
    DirsSegBlurH8(sectors, 3, 2, 0, 0, 2, 1, 1);
    EXPECT_EQ(sectors[1], 0);
    EXPECT_EQ(sectors[4], 2);
}

TEST(OrientedFilters, ConstantImagesStayConstantAndEdgesAreNotWritten)
{
    const unsigned w = 48;
    const unsigned h = 48;
    const int s = 3;
    std::vector<unsigned char> src(w * h, 90);
    std::vector<unsigned char> mask(36, 0);
    std::vector<unsigned char> dir(w * h, 30);
    std::vector<unsigned char> shift(w * h, 2);
    std::vector<unsigned char> dst(w * h, 7);
    ASSERT_EQ(SummDirTo8(src.data(), w, h, s, mask.data(), dir.data(), shift.data(), dst.data()),
              0);
    EXPECT_EQ(dst[0], 7);            // outer block ring untouched
    EXPECT_EQ(dst[20 * w + 20], 90); // 90 * 16 / 32 + 90 * 9 / 18
    std::fill(dst.begin(), dst.end(), 7);
    ASSERT_EQ(BinarizationLDTo8(src.data(), w, h, s, mask.data(), dir.data(), dst.data()), 0);
    EXPECT_EQ(dst[20 * w + 20], 0); // equal to its cross line: not strictly above
    EXPECT_EQ(dst[0], 7);
    EXPECT_EQ(SummDirTo8(src.data(), w, h, 6, mask.data(), dir.data(), shift.data(), dst.data()),
              IMG_BAD_GEOMETRY);

    // A dark horizontal ridge line: the cross-line test marks its neighbours bright.
    for (unsigned x = 0; x < w; ++x) {
        src[24 * w + x] = 10;
    }
    ASSERT_EQ(BinarizationLDTo8(src.data(), w, h, s, mask.data(), dir.data(), dst.data()), 0);
    EXPECT_EQ(dst[24 * w + 20], 0);
    EXPECT_EQ(dst[23 * w + 20], 1);
}

TEST(SummFrqTo8, LowPeriodsBrightenAndOthersAddTheirNeighbours)
{
    const unsigned w = 48;
    const unsigned h = 48;
    std::vector<int> offsets(18 * 32);
    for (int d = 0; d < 18; ++d) {
        for (int k = 0; k < 32; ++k) {
            offsets[d * 32 + k] = (k < 16 ? k - 16 : k - 15); // along the row
        }
    }
    std::vector<unsigned char> src(w * h, 40);
    std::vector<unsigned char> mask(36, 0);
    std::vector<unsigned char> bdir(36, 0);
    std::vector<unsigned char> bfreq(36, 8);
    bfreq[7] = 2;
    std::vector<unsigned char> dst(w * h, 0);
    SummFrqTo8(src.data(), w, h, 3, offsets.data(), mask.data(), bdir.data(), bfreq.data(),
               dst.data());
    EXPECT_EQ(dst[8 * w + 8], 60);   // period 2: p + p/2
    EXPECT_EQ(dst[20 * w + 20], 60); // 40 + (40 + 40) / 4
    EXPECT_EQ(dst[0], 0);
}

TEST(GreyHelpers, BackgroundColourSumMaskAndLongLines)
{
    const unsigned char img[4] = {10, 20, 30, 41};
    const unsigned char none[4] = {0, 0, 0, 0};
    const unsigned char some[4] = {0, 1, 0, 1};
    EXPECT_EQ(GetBgColor8(img, 2, 2, none), 255);
    EXPECT_EQ(GetBgColor8(img, 2, 2, some), 30);
    EXPECT_EQ(GetBgColor8(img, 0, 0, none), 255);

    std::vector<unsigned char> white(8 * 8, 255);
    unsigned char sum = 0;
    GetSummMaskS8(white.data(), 8, 8, 8, &sum);
    EXPECT_EQ(sum, 192);

    // A long dark line on row 5 is painted over from above; a short one on row 10 stays.
    const unsigned w = 40;
    const unsigned h = 16;
    std::vector<unsigned char> page(w * h, 200);
    for (unsigned x = 2; x < 38; ++x) {
        page[5 * w + x] = 20;
    }
    for (unsigned x = 10; x < 14; ++x) {
        page[10 * w + x] = 20;
    }
    DeleteLongLinesH8(page.data(), w, h, 20);
    EXPECT_EQ(page[5 * w + 20], 200);
    EXPECT_EQ(page[10 * w + 11], 20);
    EXPECT_EQ(page[2], (200 * 15 + 20) / 16); // row 0 holds the column means
    for (unsigned hh : {1u, 2u, 3u}) {
        std::vector<unsigned char> tiny(w * hh, 0);
        DeleteLongLinesH8(tiny.data(), w, hh, 1);
        EXPECT_EQ(tiny[0], 0);
    }
}

TEST(NormalizationL8, ConstantGivesMidGreyAndContrastIsSpread)
{
    for (unsigned char grey : {0, 77, 255}) {
        std::vector<unsigned char> img(20 * 20, grey);
        ASSERT_EQ(NormalizationL8(img.data(), 20, 20, 8, 1), 0);
        for (unsigned char v : img) {
            ASSERT_EQ(v, 128);
        }
    }
    auto img = Grating(40, 40, 0, 8);
    ASSERT_EQ(NormalizationL8(img.data(), 40, 40, 8, 1), 0);
    int lo = 255;
    int hi = 0;
    for (unsigned y = 4; y < 36; ++y) {
        lo = std::min<int>(lo, img[y * 40 + 20]);
        hi = std::max<int>(hi, img[y * 40 + 20]);
    }
    EXPECT_EQ(lo, 0);
    EXPECT_GT(hi, 200);
    std::vector<unsigned char> one(1, 9);
    EXPECT_EQ(NormalizationL8(one.data(), 1, 1, 8, 1), 0);
    EXPECT_EQ(one[0], 128);
    EXPECT_EQ(NormalizationL8(one.data(), 1, 1, 0, 1), IMG_BAD_GEOMETRY);
}

TEST(GetDirectionsS8, FindsTheLineOfLeastVariation)
{
    // Ridges along image rows (dx = 1, dy = 0): direction index 0.
    const auto rows = Grating(80, 80, 0, 8);
    std::vector<unsigned char> dst(100, 99);
    ASSERT_EQ(GetDirectionsS8(rows.data(), 80, 80, 8, 18, dst.data()), 0);
    EXPECT_EQ(dst[44], 0);
    // Ridges along image columns: 90.
    const auto cols = Grating(80, 80, 90, 8);
    ASSERT_EQ(GetDirectionsS8(cols.data(), 80, 80, 8, 18, dst.data()), 0);
    EXPECT_EQ(dst[44], 90);
    EXPECT_EQ(dst[0], 90); // the outer ring copies its inner neighbour
    EXPECT_EQ(GetDirectionsS8(cols.data(), 80, 80, 8, 0, dst.data()), IMG_BAD_GEOMETRY);
}

TEST(GetPatternMask8, RidgesAreMaskedInAndFlatPaperOut)
{
    const unsigned w = 128;
    const unsigned h = 96;
    auto img = Grating(w, h, 30, 9);
    // The right third is flat paper.
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 88; x < w; ++x) {
            img[y * w + x] = 230;
        }
    }
    unsigned gw = w;
    unsigned gh = h;
    unsigned char* mask = reinterpret_cast<unsigned char*>(1);
    ASSERT_EQ(GetPatternMask8(img.data(), gw, gh, mask), 0);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(gw, w / 8);
    EXPECT_EQ(gh, h / 8);
    EXPECT_EQ(mask[5 * gw + 4], 0);  // inside the ridges
    EXPECT_EQ(mask[5 * gw + 14], 1); // on the paper
    delete[] mask;

    for (unsigned char grey : {0, 255}) {
        std::vector<unsigned char> flat(64 * 64, grey);
        gw = 64;
        gh = 64;
        mask = nullptr;
        const int rc = GetPatternMask8(flat.data(), gw, gh, mask);
        if (rc == 0) {
            for (unsigned i = 0; i < gw * gh; ++i) {
                EXPECT_EQ(mask[i], 1) << i;
            }
        }
        delete[] mask;
    }
    std::vector<unsigned char> one(1, 0);
    gw = 1;
    gh = 1;
    EXPECT_EQ(GetPatternMask8(one.data(), gw, gh, mask), IMG_BAD_GEOMETRY);
    EXPECT_EQ(mask, nullptr);
}

} // namespace

namespace {

struct Degenerate {
    unsigned w, h;
    unsigned char grey;
};

// Smallest and flat images through every direction-toolkit function: defined results and no
// access outside the buffers (the sanitizer build checks the latter).
// Pseudo-random bytes from a fixed seed.
std::vector<unsigned char> Noise(std::size_t n, std::uint32_t seed)
{
    std::vector<unsigned char> v(n);
    for (unsigned char& b : v) {
        zftest::Lcg32(seed);
        b = static_cast<unsigned char>(seed >> 16);
    }
    return v;
}

// The row kernel in lanes against its one-pixel twin, on noise and on rows of 0 and 255 that
// drive gx and gy to their extremes, for pair counts on both sides of one lane group.
TEST(DirectionTensor, PairKernelMatchesItsTwin)
{
    constexpr unsigned w = 40;
    std::vector<std::vector<unsigned char>> images = {Noise(3 * w, 5), Noise(3 * w, 6)};
    std::vector<unsigned char> stark(3 * w, 0);
    for (unsigned x = 0; x < w; ++x) {
        stark[x] = (x / 2) % 2 == 0 ? 0 : 255;
        stark[w + x] = x % 2 == 0 ? 255 : 0;
        stark[2 * w + x] = (x / 2) % 2 == 0 ? 255 : 0;
    }
    images.push_back(stark);
    for (std::size_t k = 0; k < images.size(); ++k) {
        for (unsigned pairs = 0; pairs <= 13; ++pairs) {
            SCOPED_TRACE(testing::Message() << "image " << k << " pairs " << pairs);
            std::vector<std::int32_t> p(16, 7), d(16, -7), p2(16, 7), d2(16, -7);
            const unsigned char* first = images[k].data() + w + 1;
            imaging_detail::DiTensorPairs(first, w, pairs, p.data(), d.data());
            imaging_detail::DiTensorPairsScalar(first, w, pairs, p2.data(), d2.data());
            EXPECT_EQ(p, p2);
            EXPECT_EQ(d, d2);
        }
    }
}

// The block tensor sums against plainly summed 64-bit terms: grids from the image corner and
// from odd offsets, blocks of one pixel and of even sides, right and bottom edges without
// neighbours, a mask, an image too narrow for any inner pixel, and blocks of 2048 rows of
// stripes whose terms pass 2^31 per pixel pair.
struct TensorCase {
    const char* name;
    unsigned w, h, x0, y0, bw, bh;
    int s;
    bool masked;
    bool stripes;
};

void PrintTo(const TensorCase& c, std::ostream* os)
{
    *os << c.name;
}

class DirectionTensorSums : public testing::TestWithParam<TensorCase> {};

TEST_P(DirectionTensorSums, MatchPlainSums)
{
    const TensorCase& c = GetParam();
    std::vector<unsigned char> img = Noise(static_cast<std::size_t>(c.w) * c.h, 99);
    if (c.stripes) {
        for (unsigned y = 0; y < c.h; ++y) {
            std::fill(img.begin() + y * c.w, img.begin() + (y + 1) * c.w, y % 4 >= 2 ? 255 : 0);
        }
    }
    const std::size_t n = static_cast<std::size_t>(c.bw) * c.bh;
    std::vector<unsigned char> mask(n, 0);
    for (std::size_t i = 0; i < n; i += 3) {
        mask[i] = c.masked ? 1 : 0;
    }
    std::vector<std::int64_t> p(n, 0), d(n, 0), wantP(n, 0), wantD(n, 0);
    imaging_detail::DiTensorSums(img.data(), c.w, c.h, c.x0, c.y0, c.bw, c.bh, c.s, mask.data(),
                                 p.data(), d.data());
    const unsigned b = 1u << c.s;
    auto at = [&](unsigned x, unsigned y) { return static_cast<int>(img[y * c.w + x]); };
    for (unsigned by = 0; by < c.bh; ++by) {
        for (unsigned bx = 0; bx < c.bw; ++bx) {
            const std::size_t i = by * c.bw + bx;
            for (unsigned y = c.y0 + by * b; y < c.y0 + (by + 1) * b && mask[i] == 0; ++y) {
                for (unsigned x = c.x0 + bx * b; x < c.x0 + (bx + 1) * b; ++x) {
                    if (x == 0 || y == 0 || x + 1 >= c.w || y + 1 >= c.h) {
                        continue;
                    }
                    const std::int64_t gx = at(x + 1, y - 1) + 2 * at(x + 1, y) + at(x + 1, y + 1) -
                                            at(x - 1, y - 1) - 2 * at(x - 1, y) - at(x - 1, y + 1);
                    const std::int64_t gy = at(x - 1, y + 1) + 2 * at(x, y + 1) + at(x + 1, y + 1) -
                                            at(x - 1, y - 1) - 2 * at(x, y - 1) - at(x + 1, y - 1);
                    wantP[i] += gx * gy;
                    wantD[i] += gy * gy - gx * gx;
                }
            }
        }
    }
    EXPECT_EQ(p, wantP);
    EXPECT_EQ(d, wantD);
    if (c.stripes) {
        EXPECT_GT(wantD[0], std::int64_t{1} << 32);
    }
}

const TensorCase kTensorCases[] = {
    {"corner_s4", 67, 45, 0, 0, 4, 2, 4, false, false},
    {"corner_s4_masked", 67, 45, 0, 0, 4, 2, 4, true, false},
    {"corner_s1", 23, 19, 0, 0, 11, 9, 1, false, false},
    {"corner_s0", 9, 7, 0, 0, 9, 7, 0, false, false},
    {"odd_offset_s2", 41, 37, 3, 5, 9, 8, 2, false, false},
    {"odd_offset_s3_to_the_edges", 43, 29, 3, 5, 5, 3, 3, true, false},
    {"odd_offset_s0", 12, 10, 5, 1, 7, 9, 0, false, false},
    {"even_offset_s4", 80, 40, 16, 8, 4, 2, 4, false, false},
    {"one_column", 1, 9, 0, 0, 1, 4, 1, false, false},
    {"two_columns", 2, 9, 0, 0, 1, 4, 1, false, false},
    {"three_columns_offset", 5, 9, 1, 0, 1, 4, 1, false, false},
    {"stripes_s11", 2050, 2050, 0, 0, 1, 1, 11, false, true},
};

INSTANTIATE_TEST_SUITE_P(Grids, DirectionTensorSums, testing::ValuesIn(kTensorCases),
                         [](const testing::TestParamInfo<TensorCase>& i) {
                             return std::string(i.param.name);
                         });

TEST(DirectionToolkit, SmallestAndFlatImages)
{
    const Degenerate cases[] = {{1, 1, 0},   {1, 1, 255},   {17, 1, 0}, {1, 17, 255},
                                {33, 33, 0}, {33, 33, 255}, {64, 8, 0}, {8, 64, 255}};
    for (const Degenerate& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " grey " << int(c.grey));
        const unsigned n = c.w * c.h;
        std::vector<unsigned char> img(n, c.grey);
        std::vector<unsigned char> out(n, 0);
        std::vector<unsigned char> zeros(n, 0);
        std::vector<unsigned char> flags(n, 0);
        for (int s = 0; s <= 5; ++s) {
            const bool grid = (c.w >> s) > 0 && (c.h >> s) > 0;
            EXPECT_EQ(GetDirections8(img.data(), c.w, c.h, s, nullptr, out.data(), flags.data()),
                      grid ? 0 : IMG_BAD_GEOMETRY);
            if (s >= 1) {
                EXPECT_EQ(SummDirTo8(img.data(), c.w, c.h, s, zeros.data(), zeros.data(),
                                     zeros.data(), out.data()),
                          0);
                EXPECT_EQ(BinarizationLDTo8(img.data(), c.w, c.h, s, zeros.data(), zeros.data(),
                                            out.data()),
                          0);
            }
        }
        EXPECT_EQ(DirsCorrection8(out.data(), c.w, c.h, nullptr), 1);
        std::vector<int> offsets(18 * 32, 0);
        SummFrqTo8(img.data(), c.w, c.h, 2, offsets.data(), zeros.data(), zeros.data(),
                   zeros.data(), out.data());
        EXPECT_EQ(GetBgColor8(img.data(), c.w, c.h, zeros.data()), 255);
        std::vector<unsigned char> copy = img;
        DeleteLongLinesH8(copy.data(), c.w, c.h, 4);
        EXPECT_EQ(copy[0], c.grey);
        copy = img;
        EXPECT_EQ(NormalizationL8(copy.data(), c.w, c.h, 8, 2), 0);
        EXPECT_EQ(copy[n - 1], 128);
        GetSummMaskS8(img.data(), c.w, c.h, 8, out.data());
        EXPECT_EQ(GetDirectionsS8(img.data(), c.w, c.h, 8, 18, out.data()), 0);
        unsigned gw = c.w;
        unsigned gh = c.h;
        unsigned char* mask = nullptr;
        copy = img;
        const int rc = GetPatternMask8(copy.data(), gw, gh, mask);
        if (rc == 0) {
            ASSERT_NE(mask, nullptr);
            EXPECT_EQ(gw, c.w >> 3);
            for (unsigned i = 0; i < gw * gh; ++i) {
                EXPECT_EQ(mask[i], 1); // nothing flat is a ridge pattern
            }
        } else {
            EXPECT_EQ(mask, nullptr);
        }
        delete[] mask;
        GetCoreAndDelta8(img.data(), c.w, c.h, out.data(), flags.data());
        GetDir180Quality8(img.data(), c.w, c.h, nullptr, out.data());
        copy = img;
        DirsSegBlurH8(copy.data(), c.w, c.h, 0, 0, static_cast<int>(c.w) - 1,
                      static_cast<int>(c.h) - 1, 2);
    }
}

} // namespace

namespace {

TEST(GetDirectionsN8, GratingsAlongWindowOffsetsGiveTheirAngle)
{
    const unsigned w = 96;
    const unsigned h = 96;
    for (int angle : {0, 45, 90, 135}) {
        SCOPED_TRACE(angle);
        const auto img = imgtest::Grating(w, h, angle, 9);
        std::vector<unsigned char> dir(36, 200);
        std::vector<unsigned char> flags(36, 0);
        ASSERT_EQ(GetDirectionsN8(img.data(), w, h, 4, nullptr, dir.data(), flags.data()), 0);
        EXPECT_EQ(dir[14], angle);
        EXPECT_EQ(flags[14], 255);
    }
    std::vector<unsigned char> one(1, 0);
    std::vector<unsigned char> d(1, 9);
    std::vector<unsigned char> f(1, 9);
    EXPECT_EQ(GetDirectionsN8(one.data(), 1, 1, 0, nullptr, d.data(), f.data()), 0);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(GetDirectionsN8(one.data(), 1, 1, 1, nullptr, d.data(), f.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetDirectionsN8(one.data(), 1, 1, 0, nullptr, nullptr, f.data()), IMG_NO_OUTPUT);
}

} // namespace

namespace {

TEST(GetDirectionsL8, RectangleFieldAndEdgeReestimation)
{
    const unsigned w = 96;
    const unsigned h = 64;
    // Left half ridges at 30 degrees, right half at 120.
    auto img = imgtest::Grating(w, h, 30, 9);
    const auto right = imgtest::Grating(w, h, 120, 9);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 48; x < w; ++x) {
            img[y * w + x] = right[y * w + x];
        }
    }
    std::vector<unsigned char> dir(6, 0);
    ASSERT_EQ(GetDirectionsL8(img.data(), w, h, 48, 0, 95, 31, 4, dir.data()), 0);
    for (int i = 0; i < 6; ++i) {
        // The first block column's gradients read the seam at column 47.
        EXPECT_LE(imgtest::FoldedDelta(dir[i], 120), i % 3 == 0 ? 5 : 2) << i;
    }
    EXPECT_EQ(GetDirectionsL8(img.data(), w, h, 48, 0, 96, 31, 4, dir.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetDirectionsL8(img.data(), w, h, 0, 0, 14, 31, 4, dir.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetDirectionsL8(img.data(), w, h, 0, 0, 15, 15, 4, nullptr), IMG_NO_OUTPUT);

    // The whole field is smoothed over 3 x 3 blocks; at the border between the halves the
    // blocks next to the masked right half are measured again from their own pixels.
    const unsigned bw = w >> 4;
    const unsigned bh = h >> 4;
    std::vector<unsigned char> field(bw * bh);
    std::vector<unsigned char> flags(bw * bh);
    ASSERT_EQ(GetDirections8(img.data(), w, h, 4, nullptr, field.data(), flags.data()), 0);
    std::vector<unsigned char> mask(bw * bh, 0);
    std::vector<unsigned char> area(bw * bh, 0);
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 3; bx < bw; ++bx) {
            mask[by * bw + bx] = 1;
        }
    }
    ASSERT_EQ(DirsCorrectionL8(img.data(), w, h, field.data(), mask.data(), area.data()), 0);
    for (unsigned by = 0; by < bh; ++by) {
        EXPECT_LE(imgtest::FoldedDelta(field[by * bw + 2], 30), 2) << by;
    }
    EXPECT_EQ(DirsCorrectionL8(img.data(), w, h, nullptr, mask.data(), area.data()), IMG_NO_OUTPUT);
}

} // namespace
