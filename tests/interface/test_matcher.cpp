// Verification through the public matcher: the factories, the score written on every path,
// the refusals mapped onto public codes, the NIST ten-finger pair against the record
// comparison, single FVC fingers against the finger matcher, and repeated create / verify /
// cancel cycles (leak-checked in the sanitizer build).

#include "interface/RealMatcher.h"
#include "matching/Matcher100.h"
#include "search/Ma100_TT.h"
#include "tests/support/emulation.h"
#include "tests/support/real_records.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using ZelvanFinger::Matcher;
using ZelvanFinger::MatchingParameters;

struct MatcherDeleter {
    void operator()(Matcher* p) const { Matcher::cancel(p); }
};
using MatcherPtr = std::unique_ptr<Matcher, MatcherDeleter>;

// A record holding one synthetic finger template at position `finger`.
struct Synthetic {
    explicit Synthetic(int finger)
    {
        zftest::RecordPlan plan = zftest::SampleRecord();
        plan.finger = static_cast<std::uint8_t>(finger);
        bytes = zftest::BuildTemplate(plan);
        record.finger[finger - 1] = bytes.data();
    }
    std::vector<unsigned char> bytes;
    TpTemplate record = {};
};

TEST(Matcher, CancelDestroysAndNullsAndIgnoresNull)
{
    Matcher* m = Matcher::create();
    ASSERT_NE(m, nullptr);
    Matcher::cancel(m);
    EXPECT_EQ(m, nullptr);
    Matcher::cancel(m);
    EXPECT_EQ(m, nullptr);
}

struct RefusalCase {
    const char* name;
    MatchingParameters params;
    int probeFinger;   // position of the probe's synthetic finger
    int galleryFinger; // of the gallery's
    bool corruptProbe;
    int code;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

const RefusalCase kRefusals[] = {
    {"max_angle_negative", {0, -1, 180, 0}, 2, 2, false, ZelvanFinger::RESULT_BAD_PARAMETERS},
    {"max_angle_181", {0, 181, 180, 0}, 2, 2, false, ZelvanFinger::RESULT_BAD_PARAMETERS},
    {"thumbs_181", {0, 180, 181, 0}, 2, 2, false, ZelvanFinger::RESULT_BAD_PARAMETERS},
    {"no_common_finger", {0, 180, 180, 0}, 2, 3, false, ZelvanFinger::RESULT_NOTHING_TO_COMPARE},
    {"corrupt_probe_finger", {0, 180, 180, 0}, 2, 2, true, ZelvanFinger::RESULT_BAD_TEMPLATE},
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, GivePublicCodesAndAZeroScore)
{
    const RefusalCase& c = GetParam();
    MatcherPtr m(Matcher::create());
    ASSERT_NE(m, nullptr);
    Synthetic probe(c.probeFinger);
    Synthetic gallery(c.galleryFinger);
    if (c.corruptProbe) {
        probe.bytes[probe.bytes.size() - 1] ^= 0x21; // the seal
    }
    MatchingParameters params = c.params;
    double score = 0.75;
    EXPECT_EQ(m->verify_record(params, probe.record, gallery.record, score), c.code);
    EXPECT_EQ(score, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Matcher, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Matcher, PartlyCorruptProbeIsAFailedComparison)
{
    // Two probe fingers, one of them damaged: the probe loads partly and nothing is compared.
    MatcherPtr m(Matcher::create());
    ASSERT_NE(m, nullptr);
    Synthetic probe(2);
    Synthetic other(3);
    probe.record.finger[2] = other.bytes.data();
    other.bytes[other.bytes.size() - 1] ^= 0x21;
    Synthetic gallery(2);
    MatchingParameters params = {0, 180, 180, 0};
    double score = 0.75;
    EXPECT_EQ(m->verify_record(params, probe.record, gallery.record, score),
              ZelvanFinger::RESULT_MATCH_FAILED);
    EXPECT_EQ(score, 0.0);
}

TEST(Matcher, CyclesOfCreateVerifyCancel)
{
    Synthetic probe(2);
    Synthetic gallery(2);
    const int cycles = zftest::InputSize(100, 10);
    for (int i = 0; i < cycles; ++i) {
        Matcher* m = Matcher::create();
        ASSERT_NE(m, nullptr);
        MatchingParameters params = {0, 180, 180, i % 4};
        double score = -1.0;
        EXPECT_EQ(m->verify_record(params, probe.record, gallery.record, score), 0) << i;
        EXPECT_GE(score, 0.0);
        Matcher::cancel(m);
    }
}

TEST(Matcher, NistPairScoresTheFusedRecordScore)
{
    zftest::RealRecord r = zftest::Rolled();
    zftest::RealRecord s = zftest::Plain();
    if (r.count() < 10 || s.count() < 10) {
        GTEST_SKIP() << "NIST card records incomplete";
    }
    TpTemplate rt = r.record();
    TpTemplate st = s.record();
    accelMatch::Ma100_TT direct;
    ASSERT_EQ(direct.init(), 0);
    MatcherPtr m(Matcher::create());
    ASSERT_NE(m, nullptr);
    for (int mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        accelMatch::SearchParam sp = {
            0, 120, 150, 400, 0, 10000, 1, 10, static_cast<accelMatch::MATCHING_MODE>(mode), 0};
        accelMatch::MatchResultTT res;
        res.clear();
        ASSERT_EQ(direct.matchTT(sp, rt, st, res, accelMatch::FP_PLAIN, accelMatch::FP_PLAIN), 0);
        MatchingParameters params = {3, 120, 150, mode};
        double score = -1.0;
        ASSERT_EQ(m->verify_record(params, rt, st, score), 0);
        EXPECT_EQ(score, res.score / 10000.0);
        EXPECT_GT(score, 0.0);
    }
}

TEST(Matcher, SingleFvcFingersScoreAsTheFingerMatcher)
{
    // Impressions 1..3 of two fingers: every pair, mates and impostors.
    std::vector<zftest::Template> prints = zftest::FvcTemplates({101, 102}, 3);
    if (prints.empty()) {
        GTEST_SKIP() << "FVC2002 DB1 set B not found";
    }
    // The finger matcher alone reads the transition matrix a comparer initialisation writes.
    accelMatch::setDefaultTransitionMatrix();
    auto matcher = std::make_unique<accelMatch::Matcher100>();
    MatcherPtr m(Matcher::create());
    ASSERT_NE(m, nullptr);
    for (std::size_t a = 0; a < prints.size(); ++a) {
        for (std::size_t b = a + 1; b < prints.size(); ++b) {
            SCOPED_TRACE(testing::Message() << a << " " << b);
            ASSERT_EQ(
                matcher->loadTemplate(true, prints[a].data(), accelMatch::FP_PLAIN, nullptr, 0, 0),
                0);
            ASSERT_EQ(
                matcher->loadTemplate(false, prints[b].data(), accelMatch::FP_PLAIN, nullptr, 0, 0),
                0);
            accelMatch::MatchResult r = {};
            ASSERT_EQ(matcher->match(r, 180, 0, false, nullptr, nullptr, 0, false), 0);
            TpTemplate probe = {};
            TpTemplate gallery = {};
            probe.finger[0] = prints[a].data();
            gallery.finger[0] = prints[b].data();
            MatchingParameters params = {0, 180, 180, 0};
            double score = -1.0;
            ASSERT_EQ(m->verify_record(params, probe, gallery, score), 0);
            EXPECT_EQ(score, r.score / 10000.0);
        }
    }
}

} // namespace
