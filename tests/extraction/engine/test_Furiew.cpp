// Stage 14 on a grating of known period: the strongest channel is the period's, the border and
// singular blocks write no energies of their own, and the coarser levels are 2 x 2 means.

#include "extraction/engine/Codex.h"
#include "extraction/engine/RankNine.h"
#include "extraction/engine/RankRow.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"
#include "tests/support/digest.h"
#include "tests/support/emulation.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

constexpr int kSide = 128;

// Vertical ridges of period `period` in layer 1 and the flow maps of stages 10 to 13 at `level`
// (flow 90 degrees, straight), with singular class `cls` everywhere.
std::unique_ptr<Codex> Ridges(int period, int cls, int level = 1)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(kSide, kSide);
    e->NewDoc();
    e->m_stage = 13;
    unsigned char* g = e->GetLay(1, 0);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            g[y * kSide + x] = static_cast<unsigned char>(
                std::lround(128 + 90 * std::cos(2 * 3.14159265358979 * x / period)));
        }
    }
    const std::size_t n = e->m_level[level].size;
    std::memset(e->GetLay(36, level), 90, n);
    std::memset(e->GetLay(48, level), 0, n);
    std::memset(e->GetLay(49, level), 0, n);
    std::memset(e->GetLay(129, level), cls, n);
    if (level != 3) {
        std::memset(e->GetLay(49, 3), 0, e->m_level[3].size);
    }
    return e;
}

// Runs `each(img, w, h)` on 101_1 and 109_4 of the shared DB1 set; false when the set is absent.
template <class Each> bool ForSharedPrints(Each each)
{
    const std::string first = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (first.empty()) {
        return false;
    }
    const std::string dir = first.substr(0, first.size() - std::string("101_1.pgm").size());
    for (const char* name : {"101_1.pgm", "109_4.pgm"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> img;
        int w = 0;
        int h = 0;
        EXPECT_TRUE(zftest::ReadPgm(dir + name, img, w, h));
        if (!img.empty()) {
            each(img, w, h);
        }
    }
    return true;
}

TEST(Furiew, StrongestChannelIsThePeriodsAndLevelsAreMeans)
{
    for (int period : {6, 9, 14}) {
        SCOPED_TRACE(period);
        auto e = Ridges(period, 0);
        e->Furiew(1);
        const int w1 = e->m_level[1].width;
        const int at = 32 + 32 * w1;
        int best = 0;
        for (int k = 1; k < 14; ++k) {
            best = e->GetLay(64 + k, 1)[at] > e->GetLay(64 + best, 1)[at] ? k : best;
        }
        EXPECT_EQ(best + 4, period);
        // Level 2 is the rounded mean of its 2 x 2 level-1 block.
        const int w2 = e->m_level[2].width;
        for (int k = 0; k < 14; ++k) {
            const unsigned char* f = e->GetLay(64 + k, 1);
            const int sum = f[at] + f[at + 1] + f[at + w1] + f[at + w1 + 1];
            EXPECT_EQ(e->GetLay(64 + k, 2)[16 + 16 * w2], (sum + 2) >> 2) << k;
        }
        // The two outermost level-1 rows lie in the border and receive no spread across
        // vertical ridges (the spread runs along the rows).
        for (int k = 0; k < 14; ++k) {
            EXPECT_EQ(e->GetLay(64 + k, 1)[32], 0) << k;
        }
        EXPECT_EQ(e->GetKey(240, 0), -1);
        EXPECT_EQ(e->GetKey(242, 0), -1);
    }
}

// At levels 2 and 3 the blocks are 4 x 4 and 8 x 8 level-0 pixels, and the smoothing and the
// profiles take their general path, which the template path never takes: the fourteen channels
// they leave on a grating with noise (every row its own) are pinned.
TEST(Furiew, CoarserLevelChannelsArePinned)
{
    const unsigned long long digests[2] = {2809698294331322584ULL, 10845331850449519372ULL};
    for (int level : {2, 3}) {
        SCOPED_TRACE(level);
        auto e = Ridges(9, 0, level);
        unsigned char* g = e->GetLay(1, 0);
        std::uint32_t state = 7;
        for (int i = 0; i < kSide * kSide; ++i) {
            const int phase = i % kSide % 9;
            const int noise = static_cast<int>(zftest::XorShift32(state) % 41);
            g[i] =
                static_cast<unsigned char>(40 + 150 * (phase < 5 ? phase : 9 - phase) / 5 + noise);
        }
        e->Furiew(level);
        std::vector<unsigned char> channels;
        for (int lv = level; lv <= 3; ++lv) {
            for (int k = 0; k < 14; ++k) {
                const unsigned char* c = e->GetLay(64 + k, lv);
                channels.insert(channels.end(), c, c + e->m_level[lv].size);
            }
        }
        zftest::RecordDigest("level" + std::to_string(level) + "/channels", channels);
        EXPECT_EQ(zftest::Fnv1a64(channels.data(), channels.size()), digests[level - 2]);
    }
}

TEST(Furiew, SingularBlocksWriteNoEnergies)
{
    auto e = Ridges(9, 2);
    e->Furiew(1);
    for (int level = 1; level <= 3; ++level) {
        for (int k = 0; k < 14; ++k) {
            const unsigned char* c = e->GetLay(64 + k, level);
            for (std::size_t i = 0; i < e->m_level[level].size; ++i) {
                ASSERT_EQ(c[i], 0) << level << " " << k;
            }
        }
    }
}

// The lane-wise rank mean of nine samples gives the same bytes as its one-pixel twin: on noise
// with many ties and extremes, and on samples taken along nine shifted rows of real prints (as
// the ridge line takes them), for whole rows and for counts around the lane width.
TEST(Furiew, LaneWiseRankMeanEqualsScalar)
{
    auto compare = [](const std::vector<unsigned char>& samples, int stride) {
        std::vector<unsigned char> lanes(static_cast<std::size_t>(stride));
        std::vector<unsigned char> scalar(lanes.size());
        for (int count : {stride, stride - 1, 1, 7, 8, 9, 15, 16, 17, 33}) {
            if (count < 1 || count > stride) {
                continue;
            }
            RankMean9Planes(samples.data(), stride, lanes.data(), count);
            RankMean9PlanesScalar(samples.data(), stride, scalar.data(), count);
            ASSERT_EQ(0, std::memcmp(lanes.data(), scalar.data(), count)) << count << " pixels";
        }
    };
    std::mt19937 random(5);
    std::vector<unsigned char> noise(9 * 61);
    for (unsigned char& v : noise) {
        v = static_cast<unsigned char>(random() % 3 == 0 ? 255 * (random() % 2) : random() % 256);
    }
    compare(noise, 61);

    // Sample j of pixel x of row y: the pixel at (x + 4 + dx[j], y + dy[j]).
    constexpr int dx[9] = {0, 1, -1, 2, -2, 3, -3, 4, -4};
    constexpr int dy[9] = {0, -1, 1, -1, 1, -2, 2, -3, 3};
    const bool shared = ForSharedPrints([&](const std::vector<unsigned char>& img, int w, int h) {
        const int stride = w - 8;
        std::vector<unsigned char> samples(static_cast<std::size_t>(9) * stride);
        for (int y = 3; y + 3 < h; y += 5) {
            SCOPED_TRACE(y);
            for (int j = 0; j < 9; ++j) {
                const unsigned char* row = img.data() + static_cast<std::size_t>(y + dy[j]) * w;
                std::memcpy(samples.data() + static_cast<std::size_t>(j) * stride, row + 4 + dx[j],
                            static_cast<std::size_t>(stride));
            }
            compare(samples, stride);
        }
    });
    if (!shared) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
}

// The lane-wise Sobel row, its squared magnitudes and the 2 x 2 mean row give the values of
// their one-pixel twins on rows of real prints (and on a row of extremes), for whole rows and
// counts around the lane width.
TEST(Furiew, LaneWiseRowsEqualScalar)
{
    auto compare = [](const std::vector<unsigned char>& img, int w, int y) {
        const unsigned char* row = img.data() + static_cast<std::size_t>(y) * w;
        for (int count : {w - 2, w - 3, 1, 7, 8, 9, 15, 16, 17}) {
            SCOPED_TRACE(count);
            std::vector<std::int16_t> gx(static_cast<std::size_t>(count));
            std::vector<std::int16_t> gy(gx.size());
            std::vector<std::int16_t> sx(gx.size());
            std::vector<std::int16_t> sy(gx.size());
            SobelRow(row + 1, w, count, gx.data(), gy.data());
            SobelRowScalar(row + 1, w, count, sx.data(), sy.data());
            ASSERT_EQ(gx, sx);
            ASSERT_EQ(gy, sy);
            std::vector<std::int32_t> sums(gx.size());
            std::vector<std::int32_t> scalarSums(gx.size());
            SquareSumRow(gx.data(), gy.data(), count, sums.data());
            SquareSumRowScalar(gx.data(), gy.data(), count, scalarSums.data());
            ASSERT_EQ(sums, scalarSums);
            const int half = count < w / 2 ? count : w / 2;
            std::vector<unsigned char> lanes(static_cast<std::size_t>(half));
            std::vector<unsigned char> scalar(lanes.size());
            HalveRow(row, row + w, half, lanes.data());
            HalveRowScalar(row, row + w, half, scalar.data());
            ASSERT_EQ(lanes, scalar);
        }
    };
    // Rows of 0 and 255 in turn: the largest gradients, both signs.
    constexpr int kW = 40;
    std::vector<unsigned char> extremes(3 * kW);
    for (int i = 0; i < 3 * kW; ++i) {
        extremes[static_cast<std::size_t>(i)] = (i / 3 + i / kW) % 2 != 0 ? 255 : 0;
    }
    compare(extremes, kW, 1);

    const bool shared = ForSharedPrints([&](const std::vector<unsigned char>& img, int w, int h) {
        for (int y = 1; y + 1 < h; y += 7) {
            SCOPED_TRACE(y);
            compare(img, w, y);
        }
    });
    if (!shared) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
}

// The lane-wise split of pixels' channel lanes into planes gives the planes of its one-pixel
// twin, for counts around the sixteen pixels it transposes at a time and every plane count up
// to all sixteen lanes.
TEST(Furiew, LanesToPlanesEqualsScalar)
{
    std::mt19937 random(11);
    std::vector<unsigned char> lanes(16 * 50);
    for (unsigned char& v : lanes) {
        v = static_cast<unsigned char>(random());
    }
    for (int planeCount : {1, 14, 16}) {
        for (std::size_t count : {0, 1, 15, 16, 17, 32, 50}) {
            SCOPED_TRACE(testing::Message() << planeCount << " planes, " << count << " pixels");
            std::vector<std::vector<unsigned char>> fast(16, std::vector<unsigned char>(50, 7));
            std::vector<std::vector<unsigned char>> slow = fast;
            unsigned char* fastAt[16];
            unsigned char* slowAt[16];
            for (int ch = 0; ch < 16; ++ch) {
                fastAt[ch] = fast[static_cast<std::size_t>(ch)].data();
                slowAt[ch] = slow[static_cast<std::size_t>(ch)].data();
            }
            LanesToPlanes(lanes.data(), count, fastAt, planeCount);
            LanesToPlanesScalar(lanes.data(), count, slowAt, planeCount);
            ASSERT_EQ(fast, slow);
            ASSERT_EQ(count == 0 ? 7 : lanes[16 * (count - 1) + planeCount - 1],
                      fast[static_cast<std::size_t>(planeCount - 1)][count - (count != 0)]);
        }
    }
}

// The lane-wise energy of a profile's bins gives the energy, first negative bin and cleared
// slots of its one-bin twin: on random bins with every share of negative bins (none at all
// included), skipped steps and the extremes of the bin values.
TEST(Furiew, LaneWiseProfileEnergyEqualsScalar)
{
    std::uint32_t state = 3;
    int withoutNegative = 0;
    for (int round = 0; round < 4000; ++round) {
        std::int16_t bins[24] = {};
        const std::uint32_t negativeShare = round % 9; // in eighths; 8 and over: every bin
        for (int n = 1; n <= 18; ++n) {
            const std::uint32_t r = zftest::XorShift32(state);
            const int magnitude = r % 4 == 0 ? 254 : static_cast<int>(r >> 8) % 255;
            const bool negative = (r >> 2) % 8 < negativeShare;
            bins[n] = static_cast<std::int16_t>(negative ? -magnitude : magnitude);
            bins[n] = (r >> 5) % 7 == 0 ? std::int16_t{-32768} : bins[n];
        }
        std::int16_t scalar[24];
        std::memcpy(scalar, bins, sizeof bins);
        int first = -7;
        int scalarFirst = -7;
        const int e = ProfileEnergy(bins, first);
        const int scalarE = ProfileEnergyScalar(scalar, scalarFirst);
        ASSERT_EQ(e, scalarE) << round;
        ASSERT_EQ(first, scalarFirst) << round;
        ASSERT_EQ(0, std::memcmp(bins, scalar, sizeof bins)) << round;
        withoutNegative += e < 0 ? 1 : 0;
    }
    EXPECT_GT(withoutNegative, 100); // the case without a negative bin was seen
}

// The halved directions of a row, eight pixels at a time and one at a time, against atan on
// every gradient a Sobel row can give (the axes, the diagonals, the vectors just off the x axis
// below it, where atan gives 360 - t, and the largest components), with pixels of weight 0
// among them; and on random rows of every length up to 20, for the rest after whole lanes.
TEST(Furiew, HalfDirectionRowsEqualAtan)
{
    constexpr int SIDE = 2 * 1020 + 1;
    std::vector<std::int16_t> gx(SIDE);
    std::vector<std::int16_t> gy(SIDE);
    std::vector<unsigned char> weight(SIDE);
    for (int i = 0; i < SIDE; ++i) {
        gx[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i - 1020);
        weight[static_cast<std::size_t>(i)] =
            i % 7 == 3 ? 0 : static_cast<unsigned char>(1 + i % 255);
    }
    std::vector<unsigned char> lanes(SIDE);
    std::vector<unsigned char> scalar(SIDE);
    for (int y = -1020; y <= 1020; ++y) {
        std::fill(gy.begin(), gy.end(), static_cast<std::int16_t>(y));
        HalfDirectionRow(gx.data(), gy.data(), weight.data(), SIDE, lanes.data());
        HalfDirectionRowScalar(gx.data(), gy.data(), weight.data(), SIDE, scalar.data());
        for (int i = 0; i < SIDE; ++i) {
            const std::size_t k = static_cast<std::size_t>(i);
            const int want = weight[k] != 0 ? wizard73::atan(gx[k], y) / 2 : 0;
            if (lanes[k] != want || scalar[k] != want) {
                FAIL() << "gx " << gx[k] << ", gy " << y << ": want " << want << ", lanes "
                       << int{lanes[k]} << ", scalar " << int{scalar[k]};
            }
        }
    }
    std::uint32_t state = 11;
    for (int count = 0; count <= 20; ++count) {
        for (int round = 0; round < 20; ++round) {
            for (int i = 0; i < count; ++i) {
                const std::size_t k = static_cast<std::size_t>(i);
                gx[k] = static_cast<std::int16_t>(zftest::XorShift32(state) % SIDE) - 1020;
                gy[k] = static_cast<std::int16_t>(zftest::XorShift32(state) % SIDE) - 1020;
                weight[k] = static_cast<unsigned char>(zftest::XorShift32(state) % 3);
            }
            std::fill(lanes.begin(), lanes.end(), 77);
            std::fill(scalar.begin(), scalar.end(), 77);
            HalfDirectionRow(gx.data(), gy.data(), weight.data(), count, lanes.data());
            HalfDirectionRowScalar(gx.data(), gy.data(), weight.data(), count, scalar.data());
            ASSERT_EQ(lanes, scalar) << count; // also nothing written beyond the row
        }
    }
}

// Quick mode (five-sample ridge line, shorter profile, weighted energies, its own reach table)
// is not part of the template path, so the fourteen channels it leaves at levels 1 to 3 on real
// prints are pinned here, the earlier stages run in quick mode from a freshly loaded print as
// the extraction driver runs them.
TEST(Furiew, QuickChannelsOfRealPrintsArePinned)
{
    const struct {
        const char* name;
        unsigned long long digest;
    } prints[] = {{"101_1.pgm", 451646731771356761ULL}, {"109_4.pgm", 1797177172264782467ULL}};
    const int count = zftest::InputSize(2, 1);
    for (int i = 0; i < count; ++i) {
        const auto& p = prints[i];
        SCOPED_TRACE(p.name);
        auto l = zftest::LoadShared(std::string("fvc2002_db1_b/") + p.name);
        if (l.code == -1) {
            GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
        }
        ASSERT_EQ(l.code, 0);
        Codex& e = *l.engine;
        e.m_quick = 1;
        try {
            e.Pickup(-1);
            e.Xfocus(1);
            e.Furiew(1);
        } catch (int code) {
            FAIL() << "engine threw " << code;
        }
        std::vector<unsigned char> channels;
        for (int level = 1; level <= 3; ++level) {
            for (int k = 0; k < 14; ++k) {
                const std::vector<unsigned char> c = zftest::LayerCopy(e, 64 + k, level);
                channels.insert(channels.end(), c.begin(), c.end());
            }
        }
        zftest::RecordDigest(std::string(p.name) + "/quick_channels", channels);
        EXPECT_EQ(zftest::Fnv1a64(channels.data(), channels.size()), p.digest);
    }
}

} // namespace
