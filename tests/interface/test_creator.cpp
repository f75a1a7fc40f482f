// Template creation through the public interface: the refusals of raw and WSQ images as a
// table, the guard value, and real prints (FVC, MINEX and the single fingers of the NIST card):
// every template is accepted by the checker, decodes through the reader, has a plausible count
// of minutiae, and comes out the same twice; the caller's pixels are never written. A blank
// image (one MINEX file is all white) is a bad image.

#include "interface/TemplateBuilder.h"
#include "interface/ZelvanFinger.h"
#include "records/Unwrap.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"
#include "tests/wsq/wsq_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using ZelvanFinger::RawImage;
using ZelvanFinger::TemplateCreator;
using ZelvanFinger::WsqImage;

struct CreatorDeleter {
    void operator()(TemplateCreator* p) const { TemplateCreator::cancel(p); }
};
using Creator = std::unique_ptr<TemplateCreator, CreatorDeleter>;

Creator NewCreator()
{
    return Creator(TemplateCreator::create());
}

// A WSQ card image with its frame's height and width replaced (0: keep).
std::vector<unsigned char> WsqWithSides(unsigned height, unsigned width)
{
    std::vector<unsigned char> s = zftest::ReadFile(zftest::TestData("wsq/fp01.wsq"));
    for (std::size_t k = 0; k + 10 < s.size(); ++k) {
        if (s[k] == 0xFF && s[k + 1] == 0xA2) { // start of frame: length, black, white, Y, X
            s[k + 6] = static_cast<unsigned char>(height >> 8);
            s[k + 7] = static_cast<unsigned char>(height);
            s[k + 8] = static_cast<unsigned char>(width >> 8);
            s[k + 9] = static_cast<unsigned char>(width);
            return s;
        }
    }
    return {};
}

struct RefusalCase {
    const char* name;
    bool wsq;
    int finger, width, height; // raw image (pixels of 64 x 64 unless `nullPixels`)
    bool nullPixels;
    int wsqSize;             // WSQ: -1 = the stream's own size
    unsigned frameH, frameW; // WSQ frame sides written into the card image
    int code;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name << " -> " << c.code;
}

const RefusalCase kRefusals[] = {
    {"raw_zero_width", false, 1, 0, 64, false, 0, 0, 0, 4},
    {"raw_zero_height", false, 1, 64, 0, false, 0, 0, 0, 4},
    {"raw_null_pixels", false, 1, 64, 64, true, 0, 0, 0, 4},
    {"raw_finger_11", false, 11, 64, 64, false, 0, 0, 0, 6},
    {"raw_finger_minus_1", false, -1, 64, 64, false, 0, 0, 0, 6},
    {"raw_width_4097", false, 1, 4097, 64, false, 0, 0, 0, 3},
    {"raw_width_65636", false, 1, 65636, 64, false, 0, 0, 0, 3},
    {"raw_height_4097", false, 1, 64, 4097, false, 0, 0, 0, 3},
    {"raw_too_small_for_the_engine", false, 1, 40, 40, false, 0, 0, 0, 4},
    {"wsq_size_0", true, 1, 0, 0, false, 0, 0, 0, 4},
    {"wsq_null_data", true, 1, 0, 0, true, -1, 0, 0, 4},
    {"wsq_zero_width", true, 1, 0, 0, false, -1, 752, 0, 4},
    {"wsq_zero_height", true, 1, 0, 0, false, -1, 0, 804, 4},
    {"wsq_65535_square", true, 1, 0, 0, false, -1, 65535, 65535, 3},
    {"wsq_4097_wide", true, 1, 0, 0, false, -1, 752, 4097, 3},
    {"wsq_side_below_the_codec_minimum", true, 1, 0, 0, false, -1, 60, 804, 9},
    {"wsq_truncated", true, 1, 0, 0, false, 100, 0, 0, 9},
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, GivesItsPublicCodeAndKeepsSize)
{
    const RefusalCase& c = GetParam();
    Creator creator = NewCreator();
    ASSERT_NE(creator, nullptr);
    unsigned size = 12345;
    unsigned char quality = 0;
    int code = 0;
    if (!c.wsq) {
        std::vector<unsigned char> px(64 * 64, 128);
        RawImage img{c.finger, c.width, c.height, c.nullPixels ? nullptr : px.data()};
        code = creator->createTemplate(img, size, quality);
    } else {
        std::vector<unsigned char> s = c.frameH != 0 || c.frameW != 0
                                           ? WsqWithSides(c.frameH, c.frameW)
                                           : zftest::ReadFile(zftest::TestData("wsq/fp01.wsq"));
        ASSERT_FALSE(s.empty());
        const int n = c.wsqSize < 0 ? static_cast<int>(s.size()) : c.wsqSize;
        WsqImage img{c.finger, n, c.nullPixels ? nullptr : s.data()};
        code = creator->createTemplate(img, size, quality);
    }
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(size, 12345u);
}

INSTANTIATE_TEST_SUITE_P(Creator, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

// A stream whose reconstruction overflows has no image: a decoder refusal, not a template.
TEST(Creator, WsqWhoseReconstructionIsNotFiniteIsADecodeFailure)
{
    std::vector<unsigned char> s =
        wsqtest::HugeTransformTaps(zftest::ReadFile(zftest::TestData("wsq/fp01.wsq")));
    ASSERT_FALSE(s.empty());
    Creator creator = NewCreator();
    WsqImage img{1, static_cast<int>(s.size()), s.data()};
    unsigned size = 12345;
    unsigned char quality = 0;
    EXPECT_EQ(creator->createTemplate(img, size, quality), ZelvanFinger::RESULT_WSQ_DECODE);
    EXPECT_EQ(size, 12345u);
}

TEST(Creator, GuardValue)
{
    unsigned char d[11] = {7, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9};
    EXPECT_EQ(ZelvanFinger::wsqCheckSum(d, 0), 0u);
    EXPECT_EQ(ZelvanFinger::wsqCheckSum(d, 1), 7u);
    EXPECT_EQ(ZelvanFinger::wsqCheckSum(d, 11), 7u + 9u + 20u);
}

TEST(Creator, CancelNullsThePointer)
{
    TemplateCreator* p = nullptr;
    TemplateCreator::cancel(p);
    p = TemplateCreator::create();
    ASSERT_NE(p, nullptr);
    TemplateCreator::cancel(p);
    EXPECT_EQ(p, nullptr);
}

TEST(Creator, NothingToCopyBeforeTheFirstTemplate)
{
    Creator creator = NewCreator();
    std::vector<unsigned char> out(16, 0xAB);
    creator->getTemplate(out.data());
    EXPECT_EQ(out, std::vector<unsigned char>(16, 0xAB));
}

TEST(Creator, AFailedCreationLeavesNothingToCopy)
{
    const std::string path = zftest::SharedData("fingerprints/fvc2002_db1_b/104_3.pgm");
    if (path.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    std::vector<unsigned char> px;
    int w = 0;
    int h = 0;
    ASSERT_TRUE(zftest::ReadPgm(path, px, w, h));
    Creator creator = NewCreator();
    unsigned size = 0;
    unsigned char q = 0;
    RawImage good{2, w, h, px.data()};
    ASSERT_EQ(creator->createTemplate(good, size, q), 0);
    RawImage bad{11, w, h, px.data()};
    EXPECT_EQ(creator->createTemplate(bad, size, q), ZelvanFinger::RESULT_BAD_FINGER);
    std::vector<unsigned char> out(16, 0xAB);
    creator->getTemplate(out.data());
    EXPECT_EQ(out, std::vector<unsigned char>(16, 0xAB));
}

// ---- Real prints ----

// What one creation gave.
struct Made {
    int code = -1;
    unsigned size = 0;
    unsigned quality = 0;
    unsigned minutiae = 0;
    std::vector<unsigned char> bytes;
};

// Checks a template's form and decoding; returns its minutia count.
unsigned Examine(const std::vector<unsigned char>& t)
{
    std::unique_ptr<ZelvanFinger::FpTemplateChecker, void (*)(ZelvanFinger::FpTemplateChecker*)>
        checker(ZelvanFinger::FpTemplateChecker::create(), [](ZelvanFinger::FpTemplateChecker* p) {
            ZelvanFinger::FpTemplateChecker::cancel(p);
        });
    EXPECT_TRUE(checker->check(const_cast<unsigned char*>(t.data())));
    ESK::Unwrap* r = ESK::Unwrap::create();
    r->versor(ESK::ESK_ACCESS_CODE);
    const unsigned char* rec = t.data() + TF_PREFIX_SIZE;
    const unsigned n = r->idnova(rec);
    std::vector<ESK::Sign> pts(n + 1);
    std::vector<ESK::Link> links(n + 1);
    EXPECT_EQ(r->denova(pts.data(), rec), n);
    EXPECT_EQ(r->denest(links.data(), pts.data(), static_cast<unsigned short>(n), rec), n);
    EXPECT_EQ(TfRead16(t.data() + TF_PREFIX_MINUTIA_COUNT), n);
    EXPECT_EQ(t[TF_PREFIX_QUALITY], r->qualit(rec));
    ESK::Unwrap::cancel(r);
    return n;
}

Made MakeRaw(TemplateCreator& c, std::vector<unsigned char>& px, int w, int h, int finger)
{
    Made m;
    unsigned char q = 0;
    RawImage img{finger, w, h, px.data()};
    m.code = c.createTemplate(img, m.size, q);
    m.quality = q;
    if (m.code == 0) {
        m.bytes.assign(m.size + 8, 0xCD);
        c.getTemplate(m.bytes.data());
        EXPECT_EQ(m.bytes[m.size], 0xCD) << "getTemplate copied more than size";
        m.bytes.resize(m.size);
        EXPECT_EQ(TfRead32(m.bytes.data()), m.size);
        m.minutiae = Examine(m.bytes);
    }
    return m;
}

std::vector<std::string> Pgms(const std::string& folder)
{
    std::vector<std::string> out;
    const std::string dir = zftest::SharedData("fingerprints/" + folder);
    if (dir.empty()) {
        return out;
    }
    for (const std::string& name : zftest::FilesIn(dir, ".pgm")) {
        out.push_back(dir + "/" + name);
    }
    return out;
}

void CreateEveryPrint(const std::string& folder)
{
    std::vector<std::string> files = Pgms(folder);
    if (files.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    files.resize(static_cast<std::size_t>(
        zftest::InputSize(static_cast<int>(files.size()), std::min<int>(4, files.size()))));
    Creator creator = NewCreator();
    int done = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        std::vector<unsigned char> px;
        int w = 0;
        int h = 0;
        ASSERT_TRUE(zftest::ReadPgm(f, px, w, h));
        const std::vector<unsigned char> before = px;
        const Made a = MakeRaw(*creator, px, w, h, 2);
        if (std::all_of(px.begin(), px.end(), [&](unsigned char v) { return v == px[0]; })) {
            EXPECT_EQ(a.code, ZelvanFinger::RESULT_BAD_IMAGE) << "a blank image has no print";
            ++done;
            continue;
        }
        ASSERT_EQ(a.code, 0);
        EXPECT_GE(a.minutiae, 8u);
        EXPECT_LE(a.minutiae, 255u);
        EXPECT_LE(a.quality, 100u);
        const Made b = MakeRaw(*creator, px, w, h, 2);
        EXPECT_EQ(a.bytes, b.bytes) << "a second run differs";
        EXPECT_EQ(px, before) << "the caller's pixels were written";
        ++done;
    }
    EXPECT_EQ(done, static_cast<int>(files.size()));
}

TEST(CreatorPrints, EveryFvcPrint)
{
    CreateEveryPrint("fvc2002_db1_b");
}

TEST(CreatorPrints, EveryMinexPrint)
{
    CreateEveryPrint("minex_sd29");
}

TEST(CreatorPrints, SingleFingersOfTheNistCardFromWsq)
{
    Creator creator = NewCreator();
    for (int k = 1; k <= 12; ++k) {
        SCOPED_TRACE(k);
        char name[32];
        std::snprintf(name, sizeof name, "wsq/fp%02d.wsq", k);
        std::vector<unsigned char> s = zftest::ReadFile(zftest::TestData(name));
        ASSERT_FALSE(s.empty());
        WsqImage img{k <= 10 ? k : (k == 11 ? 1 : 6), static_cast<int>(s.size()), s.data()};
        unsigned size = 0;
        unsigned char q = 0;
        ASSERT_EQ(creator->createTemplate(img, size, q), 0);
        std::vector<unsigned char> t(size);
        creator->getTemplate(t.data());
        EXPECT_GE(Examine(t), 8u);
    }
}

} // namespace

// ---- Large frames ----

// Concentric rings of period 9 pixels about the centre of a side x side frame: a triangle wave
// from sqrt and fmod, which round exactly on every target.
std::vector<unsigned char> Rings(int side)
{
    std::vector<unsigned char> px(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    const double c = side / 2.0;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double r = std::sqrt((x - c) * (x - c) + (y - c) * (y - c));
            const double phase = std::fmod(r, 9.0) / 9.0; // 0 .. 1
            const double v = 40.0 + 170.0 * std::fabs(2.0 * phase - 1.0);
            px[static_cast<std::size_t>(y) * side + x] = static_cast<unsigned char>(v);
        }
    }
    return px;
}

// Side of the large frame: 4096 passes 32 bits in the minutia stage's sums over level 1 and in
// its quality product; the sanitizer build (three times slower) takes 2304, where the product
// alone passes them and UndefinedBehaviorSanitizer would report its overflow.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kLargeSide = 2304;
#else
constexpr int kLargeSide = 4096;
#endif

// A print that fills a large frame. The template is made, its quality is a percentage and the
// checker accepts it (MakeRaw examines it).
TEST(CreatorLarge, RingsFillingALargeFrame)
{
    const int side = zftest::InputSize(kLargeSide, 1024);
    std::vector<unsigned char> px = Rings(side);
    Creator creator = NewCreator();
    const Made m = MakeRaw(*creator, px, side, side, 2);
    ASSERT_EQ(m.code, 0);
    EXPECT_LE(m.quality, 100u);
    EXPECT_GE(m.minutiae, 1u);
}
