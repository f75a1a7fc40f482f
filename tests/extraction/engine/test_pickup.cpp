// Stages 4 and 5, contrast and quality: flat images never get a quality, noisy paper gets the
// least quality; a grating is foreground almost everywhere with a quality near 100.

#include "extraction/engine/FixedMath.h"
#include "extraction/engine/codes.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace wizard73;

int ForegroundCells(Codex& e)
{
    int n = 0;
    for (unsigned char v : zftest::LayerCopy(e, 128, 3)) {
        n += (v & 2) != 0 ? 1 : 0;
    }
    return n;
}

// The cell quality takes the orientation distance of two directions as the size of their
// folded difference: the two agree on every pair of angles in 0..359.
TEST(Pickup, DistanceIsTheSizeOfTheFoldedDifference)
{
    int mismatches = 0;
    for (int a = 0; a < 360; ++a) {
        for (int b = 0; b < 360; ++b) {
            const int f = CWork::Fold(a - b);
            mismatches += CWork::DistIn(a, b) != (f < 0 ? -f : f) ? 1 : 0;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The sector strength with double-precision quotients against the integer ones and the formula:
// random sums of realistic means, sectors without weight (their sums left out), quotients that
// truncate toward zero from either side, exact multiples, every mean vector around the end of
// the root table and the largest means a sum of squares allows.
TEST(Pickup, SectorStrengthTwinsAgree)
{
    std::uint32_t seed = 99;
    const auto reference = [](const int* c, const int* s, const int* w) {
        int sum = 0;
        for (int k = 0; k < 8; ++k) {
            if (w[k] != 0) {
                const int xs = c[k] / w[k];
                const int ys = s[k] / w[k];
                sum += sqri(ys * ys + xs * xs);
            }
        }
        return sum;
    };
    int mismatches = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        int c[8], s[8], w[8];
        for (int k = 0; k < 8; ++k) {
            const int kind = static_cast<int>(zftest::XorShift32(seed) % 4);
            w[k] = kind == 0 ? 0 : static_cast<int>(zftest::XorShift32(seed) % 6145);
            const int mean = static_cast<int>(zftest::XorShift32(seed) % 601) - 300;
            const int rest = w[k] == 0 ? 0 : static_cast<int>(zftest::XorShift32(seed) % w[k]);
            c[k] = kind == 0 ? mean : mean * w[k] + (kind == 1 ? rest : -rest);
            s[k] = kind == 3 ? -c[k] : -mean * w[k] + (kind == 2 ? -rest : rest);
        }
        const int want = reference(c, s, w);
        mismatches += PiStrength(c, s, w) != want || PiStrengthScalar(c, s, w) != want ? 1 : 0;
    }
    // Every mean vector of one weighted sector whose root TabSqr holds, and past it.
    for (int x = -1; x <= 260; ++x) {
        for (int y = 0; y <= 260; ++y) {
            const int c[8] = {x, 0, 0, 0, 0, 0, 0, 0};
            const int s[8] = {y, 0, 0, 0, 0, 0, 0, 0};
            const int w[8] = {1, 0, 0, 0, 0, 0, 0, 0};
            mismatches += PiStrength(c, s, w) != reference(c, s, w) ? 1 : 0;
        }
    }
    // Means of +-32767 (xs^2 + ys^2 just below 2^31) and a weight of 1 or of the largest sum.
    const int c[8] = {32767, -32767, 2147483647, -2147483647, 7, -7, 0, 1};
    const int s[8] = {-32767, 32767, 2147450880, -2147450880, 0, 0, 5, -1};
    const int w[8] = {1, 1, 65537, 65537, 2, 2, 0, 2147483647};
    mismatches += PiStrength(c, s, w) != reference(c, s, w) ? 1 : 0;
    mismatches += PiStrengthScalar(c, s, w) != reference(c, s, w) ? 1 : 0;
    EXPECT_EQ(mismatches, 0);
}

// The contrast stage's 3 x 3 second smallest and second largest, lane-wise and one pixel at a
// time, against a full sort of the nine values: rows short and long (an overlapping last block),
// grey levels from the full range and from a few values with many ties.
TEST(Pickup, ContrastRankRowsEqualTheSortedNeighbourhood)
{
    std::uint32_t seed = 7;
    int mismatches = 0;
    for (int count : {1, 15, 16, 17, 31, 46, 64}) {
        for (int levels : {256, 3}) {
            const int w = count + 2;
            std::vector<unsigned char> img(static_cast<std::size_t>(w) * 3);
            for (auto& v : img) {
                v = static_cast<unsigned char>(zftest::XorShift32(seed) % levels);
            }
            const unsigned char* src = img.data() + w + 1;
            for (bool low : {true, false}) {
                std::vector<unsigned char> fast(count), scalar(count);
                Codex::CohereRankRow(src, w, fast.data(), count, low);
                Codex::CohereRankRowScalar(src, w, scalar.data(), count, low);
                for (int x = 0; x < count; ++x) {
                    const unsigned char* p = src + x;
                    int v[9] = {p[-w - 1], p[-w],    p[-w + 1], p[-1],   p[0],
                                p[1],      p[w - 1], p[w],      p[w + 1]};
                    std::sort(v, v + 9);
                    const int want = v[low ? 1 : 7];
                    mismatches += fast[x] != want || scalar[x] != want ? 1 : 0;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// Flat images (uniform grey, white paper, black) never reach the quality stage: the loader
// refuses them for their grey span.
TEST(Pickup, FlatImagesAreRefusedBeforeAnyQuality)
{
    for (int grey : {0, 128, 255}) {
        SCOPED_TRACE(grey);
        const auto l = zftest::LoadInto(std::vector<unsigned char>(200 * 200, grey), 200, 200);
        EXPECT_EQ(l.code, WZ_FLAT);
        EXPECT_EQ(l.engine->m_quality, 0u);
    }
}

// Paper with sensor noise and no ridges: the least quality and only scattered foreground cells.
TEST(Pickup, NoisyPaperHasLowQualityAndLittleForeground)
{
    constexpr int kSide = 256;
    for (int amplitude : {10, 40, 120}) {
        SCOPED_TRACE(amplitude);
        std::vector<unsigned char> img(kSide * kSide);
        unsigned s = 5;
        for (unsigned char& p : img) {
            zftest::XorShift32(s);
            const int v = 200 + static_cast<int>(s % (2 * amplitude + 1)) - amplitude;
            p = static_cast<unsigned char>(v > 255 ? 255 : v);
        }
        auto l = zftest::LoadInto(img, kSide, kSide);
        ASSERT_EQ(l.code, 0);
        const int q = l.engine->Pickup(-1);
        EXPECT_LE(q, 10);
        EXPECT_EQ(q, static_cast<int>(l.engine->m_quality));
        const int cells = l.engine->m_level[3].width * l.engine->m_level[3].height;
        EXPECT_LT(ForegroundCells(*l.engine), cells / 8);
        EXPECT_EQ(l.engine->GetKey(240, 3), -1); // work layers are gone
        EXPECT_EQ(l.engine->GetKey(241, 3), -1);
    }
}

TEST(Pickup, GratingIsForegroundWithHighQuality)
{
    auto l = zftest::LoadInto(zftest::Grating(256, 256, 35.0, 9.0, 90.0), 256, 256);
    ASSERT_EQ(l.code, 0);
    const int q = l.engine->Pickup(-1);
    EXPECT_GE(q, 90);
    const int w = l.engine->m_level[3].width;
    const int h = l.engine->m_level[3].height;
    EXPECT_GE(ForegroundCells(*l.engine), (w - 2) * (h - 2) * 9 / 10);
    const auto mask = zftest::LayerCopy(*l.engine, 128, 3);
    for (int x = 0; x < w; ++x) { // border cells are never foreground
        EXPECT_EQ(mask[x] & 6, 0);
        EXPECT_EQ(mask[(h - 1) * w + x] & 6, 0);
    }
}

// A print in the middle of blank paper: the foreground stays on the ridges, the quality
// reflects the share of contrast inside it.
TEST(Pickup, PatchOnPaperIsFoundWhereItIs)
{
    constexpr int kSide = 256;
    std::vector<unsigned char> img(kSide * kSide, 230);
    const auto patch = zftest::Grating(kSide, kSide, 70.0, 9.0, 90.0);
    for (int y = 64; y < 192; ++y) {
        for (int x = 64; x < 192; ++x) {
            img[y * kSide + x] = patch[y * kSide + x];
        }
    }
    auto l = zftest::LoadInto(img, kSide, kSide);
    ASSERT_EQ(l.code, 0);
    EXPECT_GE(l.engine->Pickup(-1), 80);
    const int w = l.engine->m_level[3].width;
    const auto mask = zftest::LayerCopy(*l.engine, 128, 3);
    EXPECT_NE(mask[16 * w + 16] & 2, 0); // the patch centre
    EXPECT_EQ(mask[3 * w + 3] & 6, 0);   // paper
    EXPECT_EQ(mask[28 * w + 28] & 6, 0);
    EXPECT_NE(l.engine->GetKey(114, 3), -1);
}

} // namespace
