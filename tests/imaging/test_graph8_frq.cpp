// Ridge frequency field on gratings of known period and angle, and its correction.

#include "imaging/graph8_frq.h"

#include "imaging/graph8_dir.h"
#include "tests/imaging/grating.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

namespace {

using imgtest::Grating;

// The profile spans 2B = 32 pixels across the ridges: a period p crosses the mean band 64 / p
// times, rounded either way, or one less when the first half period only sets the state.
TEST(GetFrequencies8, GratingsCountTheirCrossings)
{
    const unsigned w = 160;
    const unsigned h = 144;
    const int s = 4;
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    for (double angle : {0.0, 30.0, 90.0, 135.0}) {
        for (double period : {6.0, 8.0, 12.0}) {
            SCOPED_TRACE(testing::Message() << angle << " deg, period " << period);
            const auto img = Grating(w, h, angle, period);
            std::vector<unsigned char> dir(bw * bh);
            std::vector<unsigned char> flags(bw * bh);
            ASSERT_EQ(GetDirections8(img.data(), w, h, s, nullptr, dir.data(), flags.data()), 0);
            std::vector<unsigned char> freq(bw * bh, 0);
            ASSERT_EQ(GetFrequencies8(img.data(), w, h, s, nullptr, dir.data(), freq.data()), 0);
            const int fewest = static_cast<int>(std::floor(64 / period)) - 1;
            const int most = static_cast<int>(std::ceil(64 / period));
            int interior = 0;
            for (unsigned by = 0; by < bh; ++by) {
                for (unsigned bx = 0; bx < bw; ++bx) {
                    const unsigned char f = freq[by * bw + bx];
                    if (by == 0 || bx == 0 || by + 1 == bh || bx + 1 == bw) {
                        EXPECT_EQ(f, 1);
                        continue;
                    }
                    EXPECT_GE(f, fewest) << bx << "," << by;
                    EXPECT_LE(f, most) << bx << "," << by;
                    ++interior;
                }
            }
            EXPECT_EQ(interior, static_cast<int>((bw - 2) * (bh - 2)));
            // The correction keeps a plausible uniform field and its mask open.
            std::vector<unsigned char> mask(bw * bh, 0);
            ASSERT_EQ(FreqCorrection8(freq.data(), bw, bh, mask.data()), 0);
            EXPECT_EQ(mask[(bh / 2) * bw + bw / 2], 0);
        }
    }
}

TEST(GetFrequencies8, FlatImagesCountNothingAndAreMaskedOut)
{
    for (unsigned char grey : {0, 128, 255}) {
        SCOPED_TRACE(int(grey));
        const unsigned w = 80;
        const unsigned h = 80;
        std::vector<unsigned char> img(w * h, grey);
        std::vector<unsigned char> dir(25, 45);
        std::vector<unsigned char> freq(25, 0);
        std::vector<unsigned char> mask(25, 0);
        mask[6] = 1;
        ASSERT_EQ(GetFrequencies8(img.data(), w, h, 4, mask.data(), dir.data(), freq.data()), 0);
        for (unsigned char f : freq) {
            EXPECT_EQ(f, 1);
        }
        ASSERT_EQ(FreqCorrection8(freq.data(), 5, 5, mask.data()), 0);
        for (unsigned char m : mask) {
            EXPECT_EQ(m, 1); // counts below 2 leave the region
        }
    }
}

TEST(GetFrequencies8, SmallAndBadInputs)
{
    std::vector<unsigned char> img(16, 0);
    std::vector<unsigned char> dir(16, 250); // out-of-range directions are read modulo 180
    std::vector<unsigned char> freq(16, 0);
    EXPECT_EQ(GetFrequencies8(img.data(), 4, 4, 0, nullptr, dir.data(), freq.data()), 0);
    EXPECT_EQ(GetFrequencies8(img.data(), 1, 1, 0, nullptr, dir.data(), freq.data()), 0);
    EXPECT_EQ(freq[0], 1);
    EXPECT_EQ(GetFrequencies8(img.data(), 15, 16, 4, nullptr, dir.data(), freq.data()),
              IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetFrequencies8(img.data(), 4, 4, 8, nullptr, dir.data(), freq.data()),
              IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetFrequencies8(img.data(), 4, 4, 0, nullptr, dir.data(), nullptr), IMG_NO_OUTPUT);

    std::vector<unsigned char> mask(16, 0);
    EXPECT_EQ(FreqCorrection8(freq.data(), 0, 4, mask.data()), IMG_BAD_GEOMETRY);
    EXPECT_EQ(FreqCorrection8(freq.data(), 4, 4, nullptr), IMG_NO_OUTPUT);
    unsigned char one = 5;
    unsigned char oneMask = 0;
    EXPECT_EQ(FreqCorrection8(&one, 1, 1, &oneMask), 0);
    EXPECT_EQ(one, 5);
    EXPECT_EQ(oneMask, 0);
}

TEST(FreqCorrection8, AnOutlierIsVotedBackToItsNeighbourhood)
{
    // After the smoothing spreads the outlier a little, the 3x3 vote (the median of the nine
    // values) brings the centre back to its neighbours' level.
    unsigned char freq[25];
    for (unsigned char& f : freq) {
        f = 6;
    }
    freq[12] = 14;
    unsigned char mask[25] = {};
    ASSERT_EQ(FreqCorrection8(freq, 5, 5, mask), 0);
    EXPECT_GE(freq[12], 6);
    EXPECT_LE(freq[12], 7);
    // Implausible counts are marked, masked blocks keep their value.
    unsigned char high[25];
    for (unsigned char& f : high) {
        f = 13;
    }
    unsigned char mask2[25] = {};
    mask2[0] = 1;
    ASSERT_EQ(FreqCorrection8(high, 5, 5, mask2), 0);
    EXPECT_EQ(mask2[12], 1);
}

TEST(GetFrequenciesPrecalc8, HorizontalRidgesGiveRowsThatStepUp)
{
    // Direction 0: rows advance along 90 degrees (up the image), samples along the ridge.
    const int b = 4;
    const int w = 100;
    std::vector<int> t(180 * 2 * b * b);
    GetFrequenciesPrecalc8(t.data(), b, w);
    // Row r, sample k: x = k - 2, image row 4 - r.
    for (int r = 0; r < 2 * b; ++r) {
        for (int k = 0; k < b; ++k) {
            EXPECT_EQ(t[r * b + k], w * (b - r) + (k - b / 2)) << r << "," << k;
        }
    }
}

} // namespace

namespace {

TEST(GetFrequenciesPrecalc8, VectorWindowsMatchTheTwinForEveryDirection)
{
    // Sides of whole and partial four-offset steps, rows above and below the centre (negative
    // products with the width), several widths.
    for (const int b : {1, 2, 3, 6, 8, 16, 32}) {
        for (const int w : {9, 388, 1000}) {
            const std::size_t n = 2 * static_cast<std::size_t>(b) * b;
            std::vector<int> fast(n);
            std::vector<int> twin(n);
            for (int d = 0; d < 180; ++d) {
                imaging_detail::FrWindow(fast.data(), d, b, w);
                imaging_detail::FrWindowScalar(twin.data(), d, b, w);
                ASSERT_EQ(fast, twin) << b << " " << w << " " << d;
            }
        }
    }
}

TEST(GetFrequenciesL8, LagIsHalfThePeriodAcrossTheRidges)
{
    const unsigned w = 64;
    const unsigned h = 64;
    for (double angle : {0.0, 60.0, 90.0}) {
        SCOPED_TRACE(angle);
        const auto img = Grating(w, h, angle, 8);
        std::vector<unsigned char> dir(w * h, static_cast<unsigned char>(angle));
        std::vector<unsigned char> out(w * h, 0);
        ASSERT_EQ(GetFrequenciesL8(img.data(), w, h, 4, 0, 0, 63, 63, dir.data(), out.data()), 0);
        EXPECT_EQ(out[0], 2); // the line leaves the image
        for (unsigned y = 20; y < 44; y += 5) {
            for (unsigned x = 20; x < 44; x += 5) {
                EXPECT_GE(out[y * w + x], 3) << x << "," << y;
                EXPECT_LE(out[y * w + x], 5) << x << "," << y;
            }
        }
    }
    std::vector<unsigned char> one(1, 0);
    EXPECT_EQ(GetFrequenciesL8(one.data(), 1, 1, 1, 0, 0, 0, 0, one.data(), one.data()), 0);
    EXPECT_EQ(one[0], 2);
    EXPECT_EQ(GetFrequenciesL8(one.data(), 1, 1, 1, 0, 0, 1, 0, one.data(), one.data()),
              IMG_BAD_GEOMETRY);
    EXPECT_EQ(GetFrequenciesL8(one.data(), 1, 1, 1, 0, 0, 0, 0, one.data(), nullptr),
              IMG_NO_OUTPUT);
}

} // namespace

#include "tests/support/data_path.h"

namespace {

// Real prints: the direction field is smooth where ridges are, most counts are plausible, and
// the same image gives the same fields.
TEST(RealPrints, DirectionAndFrequencyFieldsArePlausible)
{
    int tested = 0;
    for (const char* name :
         {"minex_sd29/a001_07p.pgm", "minex_sd29/b001_06p.pgm", "fvc2002_db1_b/101_1.pgm"}) {
        SCOPED_TRACE(name);
        const std::string path = zftest::SharedData(std::string("fingerprints/") + name);
        if (path.empty()) {
            continue;
        }
        std::vector<unsigned char> img;
        int iw = 0;
        int ih = 0;
        ASSERT_TRUE(zftest::ReadPgm(path, img, iw, ih));
        const unsigned w = static_cast<unsigned>(iw);
        const unsigned h = static_cast<unsigned>(ih);
        const unsigned bw = w >> 4;
        const unsigned bh = h >> 4;
        std::vector<unsigned char> dir(bw * bh);
        std::vector<unsigned char> flags(bw * bh);
        ASSERT_EQ(GetDirections8(img.data(), w, h, 4, nullptr, dir.data(), flags.data()), 0);
        DirsCorrection8(dir.data(), bw, bh, nullptr);
        std::vector<unsigned char> freq(bw * bh);
        ASSERT_EQ(GetFrequencies8(img.data(), w, h, 4, nullptr, dir.data(), freq.data()), 0);
        std::vector<unsigned char> mask(bw * bh, 0);
        ASSERT_EQ(FreqCorrection8(freq.data(), bw, bh, mask.data()), 0);

        // Plausible counts in a good share of the grid, and neighbouring kept blocks agree.
        int kept = 0;
        long long turn = 0;
        int pairs = 0;
        for (unsigned by = 0; by < bh; ++by) {
            for (unsigned bx = 0; bx + 1 < bw; ++bx) {
                const unsigned i = by * bw + bx;
                kept += mask[i] == 0 ? 1 : 0;
                if (mask[i] == 0 && mask[i + 1] == 0) {
                    turn += imgtest::FoldedDelta(dir[i], dir[i + 1]);
                    ++pairs;
                }
            }
        }
        EXPECT_GT(kept, static_cast<int>(bw * bh) / 4);
        ASSERT_GT(pairs, 0);
        EXPECT_LT(turn / pairs, 15);

        // Stability: a second run gives the same bytes.
        std::vector<unsigned char> dir2(bw * bh);
        ASSERT_EQ(GetDirections8(img.data(), w, h, 4, nullptr, dir2.data(), flags.data()), 0);
        DirsCorrection8(dir2.data(), bw, bh, nullptr);
        EXPECT_EQ(dir2, dir);
        ++tested;
    }
    if (tested == 0) {
        GTEST_SKIP() << "shared fingerprint data not found (set ZF_DATA)";
    }
}

} // namespace
