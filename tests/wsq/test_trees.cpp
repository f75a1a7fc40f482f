// Subband geometry, wavelet filtering and the bit-rate table of the codec.

#include "tests/support/data_path.h"
#include "tests/support/emulation.h"
#include "tests/wsq/wsq_test_util.h"
#include "wsq/Wsq.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct TreeCase {
    const char* name;
    int width;
    int height;
};

void PrintTo(const TreeCase& c, std::ostream* os)
{
    *os << c.name << ": " << c.width << " x " << c.height;
}

const TreeCase kTreeCases[] = {
    {"square_500", 500, 500}, {"odd_width_501", 501, 500},         {"odd_both_501x377", 501, 377},
    {"smallest_65", 65, 65},  {"card_slap_1572x1000", 1572, 1000}, {"odd_tall_97x1001", 97, 1001},
};

class WsqTrees : public ::testing::TestWithParam<TreeCase> {};

// The 64 subbands tile the image: every pixel lies in exactly one of them.
TEST_P(WsqTrees, SubbandsTileTheImage)
{
    Wsq wsq;
    const int w = GetParam().width;
    const int h = GetParam().height;
    wsq.build_wsq_trees(w, h);
    std::vector<int> cover(static_cast<std::size_t>(w) * h, 0);
    for (int k = 0; k < Q_TREELEN; ++k) {
        const quant_tree& q = wsq.qtree()[k];
        ASSERT_GE(q.x, 0);
        ASSERT_GE(q.y, 0);
        ASSERT_GT(q.lenx, 0) << k;
        ASSERT_GT(q.leny, 0) << k;
        ASSERT_LE(q.x + q.lenx, w);
        ASSERT_LE(q.y + q.leny, h);
        for (int y = q.y; y < q.y + q.leny; ++y) {
            for (int x = q.x; x < q.x + q.lenx; ++x) {
                ++cover[static_cast<std::size_t>(y) * w + x];
            }
        }
    }
    for (std::size_t i = 0; i < cover.size(); ++i) {
        ASSERT_EQ(cover[i], 1) << "pixel " << i;
    }
    // The innermost transform step still has lines of at least 5 samples.
    EXPECT_GE(wsq.wtree()[19].lenx, 5);
    EXPECT_GE(wsq.wtree()[19].leny, 5);
}

INSTANTIATE_TEST_SUITE_P(Wsq, WsqTrees, ::testing::ValuesIn(kTreeCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WsqTrees, KnownNodesAndSubbands)
{
    Wsq wsq;
    wsq.build_wsq_trees(500, 500);
    const wavlet_tree* w = wsq.wtree();
    EXPECT_EQ(w[1].lenx, 250);
    EXPECT_EQ(w[1].leny, 250);
    EXPECT_EQ(w[19].x, 0);
    EXPECT_EQ(w[19].y, 0);
    EXPECT_EQ(w[19].lenx, 32);
    EXPECT_EQ(w[19].leny, 32);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(wsq.qtree()[k].lenx, 16);
        EXPECT_EQ(wsq.qtree()[k].leny, 16);
    }

    wsq.build_wsq_trees(501, 500);
    EXPECT_EQ(w[1].lenx, 251);
    EXPECT_EQ(w[2].x, 251);
    EXPECT_EQ(w[2].lenx, 250);
    EXPECT_EQ(w[6].lenx, 62); // node 4 is 125 wide; its left parts take the smaller half
    EXPECT_EQ(w[7].lenx, 63);

    wsq.build_wsq_trees(501, 377);
    EXPECT_EQ(w[1].lenx, 251);
    EXPECT_EQ(w[1].leny, 189);
    EXPECT_EQ(w[4].x, 126);
    EXPECT_EQ(w[4].y, 0);
    EXPECT_EQ(w[4].lenx, 125);
    EXPECT_EQ(w[4].leny, 95);
    EXPECT_EQ(w[5].x, 0);
    EXPECT_EQ(w[5].y, 95);
    EXPECT_EQ(w[5].lenx, 126);
    EXPECT_EQ(w[5].leny, 94);
    EXPECT_EQ(w[19].lenx, 32);
    EXPECT_EQ(w[19].leny, 24);
}

// Synthesis filters as a decoder builds them from the stream's transform table.
void SynthesisFilters(const Wsq& wsq, float* hi9, float* lo7)
{
    for (int k = 0; k < 5; ++k) {
        const float v =
            static_cast<float>((k % 2 == 0) ? wsq.m_lofilt[4 + k] : -wsq.m_lofilt[4 + k]);
        hi9[4 + k] = v;
        hi9[4 - k] = v;
    }
    for (int k = 0; k < 4; ++k) {
        const float v =
            static_cast<float>((k % 2 == 0) ? wsq.m_hifilt[3 + k] : -wsq.m_hifilt[3 + k]);
        lo7[3 + k] = v;
        lo7[3 - k] = v;
    }
}

// Analysis then synthesis gives the line back, for odd and even lengths, with and without
// inversion, along rows (stride 1) and columns (stride = pitch of a wider buffer).
TEST(WsqFilters, SynthesisInvertsAnalysis)
{
    Wsq wsq;
    float hi9[9];
    float lo7[7];
    SynthesisFilters(wsq, hi9, lo7);
    std::uint32_t seed = 12345u;
    int lines = 0;
    for (int n = 5; n <= 41; ++n) {
        for (int inv = 0; inv < 2; ++inv) {
            for (int stride : {1, 3}) {
                SCOPED_TRACE(testing::Message()
                             << "n " << n << " inv " << inv << " stride " << stride);
                std::vector<float> x(static_cast<std::size_t>(n) * stride, 0.0f);
                for (int i = 0; i < n; ++i) {
                    zftest::Lcg32(seed);
                    x[static_cast<std::size_t>(i) * stride] =
                        static_cast<float>((seed >> 16) % 256) - 128.0f;
                }
                std::vector<float> bands(x.size());
                std::vector<float> back(x.size());
                std::vector<float> work(WsqLineWork(n));
                Wsq::get_lets(bands.data(), x.data(), 1, n, 0, stride, wsq.m_hifilt, 7,
                              wsq.m_lofilt, 9, inv, work.data());
                Wsq::join_lets(back.data(), bands.data(), 1, n, 0, stride, hi9, 9, lo7, 7, inv,
                               work.data());
                for (int i = 0; i < n; ++i) {
                    const std::size_t at = static_cast<std::size_t>(i) * stride;
                    EXPECT_NEAR(back[at], x[at], 2e-3) << i;
                }
                ++lines;
            }
        }
    }
    EXPECT_EQ(lines, 37 * 4);
}

template <class Tap> struct Filters {
    const Tap* hi;
    int hsz;
    const Tap* lo;
    int lsz;
};

template <class Tap>
using FilterFn = void (*)(float*, const float*, int, int, int, int, const Tap*, int, const Tap*,
                          int, int, float*);

// Runs a lane-wise filtering and its scalar twin on real prints and compares the bits: the
// decoded single finger and slap of the NIST card as samples, filtered down the columns and
// along the rows, with and without inversion, over the whole image (standard taps only, for
// time) and an odd-sized part of it, with each of the filters. `prints` is 2 (both) or 1 (the
// single finger only).
template <class Tap>
void CompareOnRealPrints(const std::vector<Filters<Tap>>& filters, FilterFn<Tap> lanesFn,
                         FilterFn<Tap> scalarFn, int prints)
{
    const char* const names[2] = {"wsq/fp01.wsq", "wsq/fp13.wsq"};
    for (int print = 0; print < prints; ++print) {
        const char* name = names[print];
        wsqtest::Bytes pixels;
        int w = 0;
        int h = 0;
        ASSERT_GE(wsqtest::Decode(zftest::ReadFile(zftest::TestData(name)), &pixels, &w, &h), 0)
            << name;
        std::vector<float> in(pixels.size());
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            in[i] = static_cast<float>(pixels[i]) - 128.0f;
        }
        std::vector<float> work(WsqLineWork(w > h ? w : h));
        for (const Filters<Tap>& f : filters) {
            for (int part = f.hsz > 9 ? 1 : 0; part < 2; ++part) {
                const int pw = part == 0 ? w : w / 3 + 1;
                const int ph = part == 0 ? h : h / 5 + 1;
                for (int inv = 0; inv < 2; ++inv) {
                    for (int columns = 0; columns < 2; ++columns) {
                        SCOPED_TRACE(testing::Message()
                                     << name << " taps " << f.hsz << " part " << part << " inv "
                                     << inv << " columns " << columns);
                        const int lines = columns != 0 ? pw : ph;
                        const int n = columns != 0 ? ph : pw;
                        const int pitch = columns != 0 ? 1 : w;
                        const int stride = columns != 0 ? w : 1;
                        std::vector<float> lanes(in.size(), 0.0f);
                        std::vector<float> scalar(in.size(), 0.0f);
                        lanesFn(lanes.data(), in.data(), lines, n, pitch, stride, f.hi, f.hsz, f.lo,
                                f.lsz, inv, work.data());
                        scalarFn(scalar.data(), in.data(), lines, n, pitch, stride, f.hi, f.hsz,
                                 f.lo, f.lsz, inv, work.data());
                        EXPECT_EQ(
                            std::memcmp(lanes.data(), scalar.data(), lanes.size() * sizeof(float)),
                            0);
                    }
                }
            }
        }
    }
}

// Long filters of random taps, the longest a stream can carry.
template <class Tap> void LongFilters(std::vector<Tap>& hi255, std::vector<Tap>& lo253)
{
    hi255.resize(255);
    lo253.resize(253);
    std::uint32_t seed = 777u;
    for (std::vector<Tap>* f : {&hi255, &lo253}) {
        for (Tap& v : *f) {
            zftest::Lcg32(seed);
            v = static_cast<Tap>(static_cast<int>((seed >> 16) % 2001) - 1000) / 8192;
        }
    }
}

// The lane-wise synthesis gives the same bits as its scalar twin on real prints.
TEST(WsqFilters, LaneWiseSynthesisEqualsScalarOnRealPrints)
{
    Wsq wsq;
    float hi9[9];
    float lo7[7];
    SynthesisFilters(wsq, hi9, lo7);
    std::vector<float> hi255;
    std::vector<float> lo253;
    LongFilters(hi255, lo253);
    CompareOnRealPrints<float>({{hi9, 9, lo7, 7}, {hi255.data(), 255, lo253.data(), 253}},
                               Wsq::join_lets, Wsq::join_lets_scalar, 2);
}

// The lane-wise analysis gives the same bits as its scalar twin on real prints, so the encoder
// writes the same streams with either (under emulation on the single finger only).
TEST(WsqFilters, LaneWiseAnalysisEqualsScalarOnRealPrints)
{
    Wsq wsq;
    std::vector<double> hi255;
    std::vector<double> lo253;
    LongFilters(hi255, lo253);
    CompareOnRealPrints<double>(
        {{wsq.m_hifilt, 7, wsq.m_lofilt, 9}, {hi255.data(), 255, lo253.data(), 253}}, Wsq::get_lets,
        Wsq::get_lets_scalar, zftest::InputSize(2, 1));
}

// A constant line has no high-pass content, and its low-pass values are the constant times the
// filter's gain (sqrt 2).
TEST(WsqFilters, ConstantLineHasNoDetail)
{
    Wsq wsq;
    std::vector<float> x(20, 3.0f);
    std::vector<float> bands(20);
    std::vector<float> work(WsqLineWork(20));
    Wsq::get_lets(bands.data(), x.data(), 1, 20, 0, 1, wsq.m_hifilt, 7, wsq.m_lofilt, 9, 0,
                  work.data());
    for (int j = 0; j < 10; ++j) {
        EXPECT_NEAR(bands[j], 3.0 * std::sqrt(2.0), 1e-5);
        EXPECT_NEAR(bands[10 + j], 0.0, 1e-5);
    }
}

struct RateCase {
    const char* name;
    float ratio;
    float rate;
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.name << ": " << c.ratio << " -> " << c.rate;
}

const RateCase kRateCases[] = {
    {"below_table", 1.0f, 5.0f},
    {"first_entry", 1.66f, 5.0f},
    {"interval_2_over_the_dip", 4.3f, 3.0420561f},
    {"ratio_15", 15.0f, 0.90957f},
    {"interval_29_before_31", 16.2f, 0.81179f},
    {"repeated_ratio", 21.57f, 0.4f},
    {"last_entry", 295.95f, 0.01f},
    {"above_table", 300.0f, 0.01f},
    {"not_a_number", std::nanf(""), 5.0f},
};

class WsqBitRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(WsqBitRate, InterpolatesTheTable)
{
    EXPECT_NEAR(Wsq::GetBitRate(GetParam().ratio), GetParam().rate, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Wsq, WsqBitRate, ::testing::ValuesIn(kRateCases),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
