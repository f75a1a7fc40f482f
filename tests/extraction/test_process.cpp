// Extraction facade and driver: segmentation limits, argument checks of every layer, the
// region cut (whole image, located finger, too small), bitmap preparation (checks,
// resolutions, palette, row order), callbacks that stop the run, the check value, the
// variation of uniform images, and the caller's pixels staying untouched.

#include "extraction/engine/Codex.h"
#include "extraction/ip.h"
#include "extraction/processing.h"
#include "records/TemplateFormat.h"
#include "tests/support/data_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

// ---- Segmentation limits ----

struct LimitCase {
    const char* name;
    unsigned in[6];  // minW, maxW, minH, maxH, alignW, alignH
    unsigned out[6]; // alignW, alignH, minW, maxW, minH, maxH
};

void PrintTo(const LimitCase& c, std::ostream* os)
{
    *os << c.name;
}

const LimitCase kLimits[] = {
    {"defaults", {0, 4096, 0, 4096, 4, 1}, {4, 1, 0, 4096, 0, 4096}},
    {"align_2_raised_to_4", {0, 4096, 0, 4096, 2, 1}, {4, 1, 0, 4096, 0, 4096}},
    {"max_5000_is_4096", {0, 5000, 0, 5000, 4, 1}, {4, 1, 0, 4096, 0, 4096}},
    {"min_10_aligned_down", {10, 4096, 10, 4096, 4, 1}, {4, 1, 8, 4096, 10, 4096}},
    {"align_h_0_means_none", {10, 4096, 10, 4096, 4, 0}, {1, 1, 10, 4096, 10, 4096}},
    {"max_0_is_4096", {0, 0, 0, 0, 8, 2}, {8, 2, 0, 4096, 0, 4096}},
};

class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limits, AreStoredAligned)
{
    FpProcess p;
    const unsigned* a = GetParam().in;
    p.setSegmentationParameters(a[0], a[1], a[2], a[3], a[4], a[5]);
    const unsigned got[6] = {p.alignW(), p.alignH(), p.minW(), p.maxW(), p.minH(), p.maxH()};
    EXPECT_EQ(std::vector<unsigned>(got, got + 6),
              std::vector<unsigned>(GetParam().out, GetParam().out + 6));
}

INSTANTIATE_TEST_SUITE_P(Process, Limits, ::testing::ValuesIn(kLimits),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Templates and state ----

TEST(Ip, TemplateSlotsAreCheckedAndZeroed)
{
    TemplateData td[2] = {};
    EXPECT_EQ(Ip::allocateTemplates(0, td), IP_BAD_TEMPLATE_COUNT);
    EXPECT_EQ(Ip::allocateTemplates(11, td), IP_BAD_TEMPLATE_COUNT);
    EXPECT_EQ(Ip::allocateTemplates(1, nullptr), IP_NULL_ARGUMENT);
    ASSERT_EQ(Ip::allocateTemplates(2, td), 0);
    const std::vector<unsigned char> zeros(MAX_TEMPLATE_SIZE, 0);
    EXPECT_EQ(std::memcmp(td[1].buffer, zeros.data(), zeros.size()), 0);
    EXPECT_EQ(Ip::freeTemplates(2, td), 0);
    EXPECT_EQ(td[0].buffer, nullptr);
    EXPECT_EQ(Ip::freeTemplates(2, nullptr), IP_NULL_ARGUMENT);
}

TEST(Ip, EveryRunNeedsInit)
{
    Ip ip;
    unsigned char px[16] = {};
    int q = 0;
    EXPECT_EQ(ip.processRaw(nullptr, px, 4, 4, nullptr, nullptr, &q, nullptr, nullptr,
                            FINGER_UNKNOWN, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              IP_NOT_INITIALISED);
    EXPECT_EQ(ip.getQuality(CaptureData{FINGER_UNKNOWN, nullptr}, &q, nullptr, nullptr),
              IP_NOT_INITIALISED);
    EXPECT_EQ(ip.initEx(nullptr), IP_NULL_ARGUMENT);
    ASSERT_EQ(ip.init(), 0);
    EXPECT_EQ(ip.init(), 0); // a second init does nothing
}

// One extractor for the tests below: its buffers are large.
class Extractor : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_ip = new Ip();
        ASSERT_EQ(s_ip->init(), 0);
    }
    static void TearDownTestSuite()
    {
        delete s_ip;
        s_ip = nullptr;
    }

    // processRaw with the given parameters and callbacks, no skeleton.
    int Raw(std::vector<unsigned char>& px, unsigned w, unsigned h, ProcessParam* param,
            PreProcessCompleteCallback cb1 = nullptr, QualityCompleteCallback cb2 = nullptr,
            void* ctx = nullptr)
    {
        return s_ip->processRaw(ctx, px.empty() ? nullptr : px.data(),
                                static_cast<unsigned short>(w), static_cast<unsigned short>(h),
                                m_tpl.data(), &m_size, &m_quality, param, &m_frame,
                                FINGER_RIGHT_INDEX, nullptr, nullptr, cb1, cb2, nullptr, nullptr);
    }

    static Ip* s_ip;
    std::vector<unsigned char> m_tpl = std::vector<unsigned char>(MAX_TEMPLATE_SIZE, 0);
    unsigned m_size = 77;
    int m_quality = -1;
    Frame m_frame{};
};
Ip* Extractor::s_ip = nullptr;

// Region handed to the pre-process callback; the callback stops the run.
bool StopWithRegion(void* ctx, FINGERS, Frame& region)
{
    *static_cast<Frame*>(ctx) = region;
    return false;
}

bool StopAtQuality(void* ctx, FINGERS, int quality)
{
    *static_cast<int*>(ctx) = quality;
    return false;
}

// A grating of period 9 with a soft elliptic finger in the middle.
std::vector<unsigned char> Finger(unsigned w, unsigned h)
{
    std::vector<unsigned char> px(static_cast<std::size_t>(w) * h, 230);
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            const double dx = (static_cast<double>(x) - w / 2.0) / (w * 0.35);
            const double dy = (static_cast<double>(y) - h / 2.0) / (h * 0.4);
            if (dx * dx + dy * dy < 1.0) {
                px[static_cast<std::size_t>(y) * w + x] = ((x + y) % 9) < 4 ? 40 : 210;
            }
        }
    }
    return px;
}

struct SizeCase {
    const char* name;
    unsigned w, h;
    bool nullImage;
    int code;
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.name;
}

const SizeCase kSizes[] = {
    {"null_image", 100, 100, true, IP_NULL_ARGUMENT}, {"zero_width", 0, 10, false, IP_BAD_SIZE},
    {"zero_height", 10, 0, false, IP_BAD_SIZE},       {"width_4097", 4097, 10, false, IP_TOO_LARGE},
    {"height_4097", 10, 4097, false, IP_TOO_LARGE},
};

class RawSizes : public Extractor, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RawSizes, AreRefusedBeforeAnyWork)
{
    const SizeCase& c = GetParam();
    std::vector<unsigned char> px;
    if (!c.nullImage) {
        px.assign(static_cast<std::size_t>(c.w ? c.w : 1) * (c.h ? c.h : 1), 128);
    }
    EXPECT_EQ(Raw(px, c.w, c.h, nullptr), c.code);
}

INSTANTIATE_TEST_SUITE_P(Process, RawSizes, ::testing::ValuesIn(kSizes),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Extractor, LargestImagePassesTheSizeChecks)
{
    std::vector<unsigned char> px(4096u * 4096u, 255);
    Frame region{};
    ProcessParam whole{0, 1, 0, 4096, 4096, 0};
    EXPECT_EQ(Raw(px, 4096, 4096, &whole, StopWithRegion, nullptr, &region), IP_STOPPED);
    EXPECT_EQ(region.right, 4095);
    EXPECT_EQ(region.bottom, 4095);
}

TEST_F(Extractor, WithoutSegmentationTheWholeImageIsProcessed)
{
    std::vector<unsigned char> px = Finger(300, 400);
    Frame region{};
    ProcessParam whole{0, 1, 0, 0, 0, 0};
    EXPECT_EQ(Raw(px, 300, 400, &whole, StopWithRegion, nullptr, &region), IP_STOPPED);
    EXPECT_EQ(region.left, 0);
    EXPECT_EQ(region.right, 299);
    EXPECT_EQ(region.top, 0);
    EXPECT_EQ(region.bottom, 399);
    EXPECT_EQ(s_ip->processor()->current(), px.data()); // no copy
    EXPECT_EQ(m_size, 0u);
}

TEST_F(Extractor, TooNarrowWithoutPaddingFailsTheCut)
{
    std::vector<unsigned char> px = Finger(150, 300);
    s_ip->processor()->setSegmentationParameters(200, 4096, 0, 4096, 4, 1);
    ProcessParam noPad{0, 0, 0, 4096, 4096, 0};
    EXPECT_EQ(Raw(px, 150, 300, &noPad), IP_CUT_FAILED);
    s_ip->processor()->setSegmentationParameters(0, 4096, 0, 4096, 4, 1);
}

TEST_F(Extractor, LocatedFingerIsCutWithItsMargin)
{
    const std::string path = zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm");
    if (path.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    std::vector<unsigned char> px;
    int w = 0;
    int h = 0;
    ASSERT_TRUE(zftest::ReadPgm(path, px, w, h));
    const std::vector<unsigned char> before = px;
    Frame region{};
    EXPECT_EQ(Raw(px, static_cast<unsigned>(w), static_cast<unsigned>(h), nullptr, StopWithRegion,
                  nullptr, &region),
              IP_STOPPED);
    // Either the whole image or a region round the finger that may pass the image's edge.
    EXPECT_GE(region.left, -IP_CUT_MARGIN);
    EXPECT_GE(region.top, -IP_CUT_MARGIN);
    EXPECT_LE(region.right, w - 1 + IP_CUT_MARGIN);
    EXPECT_LE(region.bottom, h - 1 + IP_CUT_MARGIN);
    EXPECT_GT(region.right - region.left, 2 * 63);
    EXPECT_EQ((region.right - region.left + 1) % 4, 0);
    EXPECT_EQ(px, before);
}

TEST_F(Extractor, QualityCallbackSeesTheQualityAndStopsTheRun)
{
    std::vector<unsigned char> px = Finger(320, 400);
    int seen = -1;
    ProcessParam whole{0, 1, 0, 0, 0, 0};
    EXPECT_EQ(Raw(px, 320, 400, &whole, nullptr, StopAtQuality, &seen), IP_STOPPED);
    EXPECT_GE(seen, 1);
    EXPECT_LE(seen, 100);
    EXPECT_EQ(m_quality, seen);
    EXPECT_EQ(m_size, 0u);
    EXPECT_EQ(TfRead32(m_tpl.data()), 0u); // nothing that looks like a template
}

TEST_F(Extractor, UniformImageIsVariedOnACopyOnly)
{
    std::vector<unsigned char> px(200u * 200u, 200);
    int seen = -1;
    ProcessParam whole{0, 1, 0, 0, 0, 0};
    const int code = Raw(px, 200, 200, &whole, nullptr, StopAtQuality, &seen);
    EXPECT_TRUE(code == IP_STOPPED || code == IP_BAD_SIZE) << code;
    EXPECT_EQ(px, std::vector<unsigned char>(200u * 200u, 200));
}

// ---- Driver helpers ----

TEST(Driver, CheckValueWalksPixelSteps)
{
    std::vector<unsigned char> px(256, 0);
    px[0] = 3;
    px[3] = 9;
    EXPECT_EQ(IpCheckValue(px.data(), 256), 9); // i < 1: one step from pixel 0 to pixel 3
    EXPECT_EQ(IpCheckValue(px.data(), 255), 0);
    EXPECT_EQ(IpCheckValue(nullptr, 1000), 0);
}

TEST(Driver, XaosSpreadsTheModeOfANearlyUniformImage)
{
    std::vector<unsigned char> px(100 * 100, 200);
    XaosImage(px.data(), 100, 100);
    int seen[256] = {};
    for (unsigned char v : px) {
        ++seen[v];
    }
    int levels = 0;
    for (int g = 0; g < 256; ++g) {
        EXPECT_TRUE(seen[g] == 0 || (g >= 195 && g <= 204)) << g;
        levels += seen[g] != 0 ? 1 : 0;
    }
    EXPECT_GE(levels, 8);
    // A mode on exactly half of the pixels is left alone.
    std::vector<unsigned char> half(100, 10);
    std::fill(half.begin(), half.begin() + 50, 20);
    const std::vector<unsigned char> before = half;
    XaosImage(half.data(), 10, 10);
    EXPECT_EQ(half, before);
}

// The fixed sorting networks must sort every input: all 0/1 patterns prove a network, and
// values with repeats (as in a grey neighbourhood) are checked against std::sort.
TEST(Driver, SmallSortsMatchAFullSort)
{
    std::uint32_t seed = 12345u;
    for (int n : {5, 6, 7, 9}) {
        for (int m = 0; m < (1 << n); ++m) {
            int v[9];
            for (int i = 0; i < n; ++i) {
                v[i] = (m >> i) & 1;
            }
            wizard73::Codex::SortSmall(v, n);
            EXPECT_TRUE(std::is_sorted(v, v + n)) << "n " << n << " pattern " << m;
        }
        for (int round = 0; round < 200; ++round) {
            int v[9];
            for (int i = 0; i < n; ++i) {
                seed = seed * 1664525u + 1013904223u;
                v[i] = static_cast<int>(seed >> 28) - 4;
            }
            std::vector<int> w(v, v + n);
            wizard73::Codex::SortSmall(v, n);
            std::sort(w.begin(), w.end());
            EXPECT_TRUE(std::equal(w.begin(), w.end(), v)) << "n " << n << " round " << round;
        }
    }
}

TEST(Driver, ArgumentsAreCheckedInOrder)
{
    FpProcess p;
    ASSERT_EQ(p.init(0), 0);
    unsigned char px[64 * 64] = {};
    unsigned char tpl[64] = {};
    unsigned size = 0;
    int q = 0;
    Frame f{};
    auto run = [&](unsigned char* image, unsigned w, unsigned h, unsigned char* t, unsigned* s,
                   int* quality, bool qualityOnly) {
        return p.wizardWork(nullptr, image, w, h, t, s, quality, f, FINGER_UNKNOWN, nullptr,
                            nullptr, false, nullptr, nullptr, nullptr, nullptr, qualityOnly);
    };
    EXPECT_EQ(run(px, 64, 64, tpl, &size, nullptr, false), IP_NULL_ARGUMENT);
    EXPECT_EQ(run(nullptr, 64, 64, tpl, &size, &q, false), IP_NULL_ARGUMENT);
    EXPECT_EQ(run(px, 64, 64, nullptr, &size, &q, false), IP_NULL_ARGUMENT);
    EXPECT_EQ(run(px, 64, 64, tpl, nullptr, &q, false), IP_NULL_ARGUMENT);
    EXPECT_EQ(run(px, 0, 64, tpl, &size, &q, false), IP_BAD_SIZE);
    EXPECT_EQ(run(px, 64, 4097, tpl, &size, &q, false), IP_TOO_LARGE);
    // Too small for the engine: the loader's refusal is a bad size.
    EXPECT_EQ(run(px, 40, 40, nullptr, nullptr, &q, true), IP_BAD_SIZE);
}

// ---- Bitmaps ----

// An 8-bit bitmap of w x h pixels (bottom row first) at the given pixels per metre.
std::vector<unsigned char> Bitmap(int w, int h, int ppm, int bits,
                                  const std::vector<unsigned char>& topDown, bool identity = true)
{
    const int stride = (w + 3) & ~3;
    std::vector<unsigned char> b(40 + 1024 + static_cast<std::size_t>(stride) * h, 0);
    TfWrite32(b.data(), 40);
    TfWrite32(b.data() + 4, static_cast<std::uint32_t>(w));
    TfWrite32(b.data() + 8, static_cast<std::uint32_t>(h));
    TfWrite16(b.data() + 12, 1);
    TfWrite16(b.data() + 14, static_cast<std::uint32_t>(bits));
    TfWrite32(b.data() + 24, static_cast<std::uint32_t>(ppm));
    TfWrite32(b.data() + 28, static_cast<std::uint32_t>(ppm));
    for (int i = 0; i < 256; ++i) {
        const auto g = static_cast<unsigned char>(identity ? i : 255 - i);
        b[40 + 4 * i] = g;
        b[40 + 4 * i + 1] = g;
        b[40 + 4 * i + 2] = g;
    }
    for (int y = 0; y < h; ++y) {
        std::memcpy(b.data() + 1064 + static_cast<std::size_t>(h - 1 - y) * stride,
                    topDown.data() + static_cast<std::size_t>(y) * w, static_cast<std::size_t>(w));
    }
    return b;
}

constexpr int PPM_500 = 19685; // 500.0 pixels per inch

struct BitmapCase {
    const char* name;
    int ppm;
    int bits;
    int code;
    int width, height; // after preparation
};

void PrintTo(const BitmapCase& c, std::ostream* os)
{
    *os << c.name;
}

const BitmapCase kBitmaps[] = {
    {"500_dpi_copied", PPM_500, 8, 0, 200, 240},
    {"1000_dpi_halved", 2 * PPM_500, 8, 0, 100, 120},
    {"24_bits_refused", PPM_500, 24, IP_BAD_BITMAP, 0, 0},
    {"99_dpi_refused", 3898, 8, IP_BAD_RESOLUTION, 0, 0},
    {"1001_dpi_refused", 39410, 8, IP_BAD_RESOLUTION, 0, 0},
};

class Bitmaps : public Extractor, public ::testing::WithParamInterface<BitmapCase> {};

TEST_P(Bitmaps, ArePreparedOrRefused)
{
    const BitmapCase& c = GetParam();
    std::vector<unsigned char> img = Finger(200, 240);
    std::vector<unsigned char> bmp = Bitmap(200, 240, c.ppm, c.bits, img);
    ProcessParam param{0, 1, 0, 4096, 4096, 0};
    Frame frame{};
    FpProcess& p = *s_ip->processor();
    ASSERT_EQ(p.prepareImage(bmp.data(), param, frame), c.code);
    if (c.code != 0) {
        return;
    }
    EXPECT_EQ(p.header().biWidth, c.width);
    EXPECT_EQ(p.header().biHeight, -c.height); // rows now top first
    EXPECT_EQ(frame.right, c.width - 1);
    if (c.width == 200) {
        EXPECT_EQ(std::memcmp(p.current(), img.data(), img.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Process, Bitmaps, ::testing::ValuesIn(kBitmaps),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Extractor, PaletteOtherThanGreyMapsThroughItsGreen)
{
    std::vector<unsigned char> img = Finger(64, 64);
    std::vector<unsigned char> bmp = Bitmap(64, 64, PPM_500, 8, img, false);
    ProcessParam param{0, 1, 0, 4096, 4096, 0};
    Frame frame{};
    FpProcess& p = *s_ip->processor();
    ASSERT_EQ(p.prepareImage(bmp.data(), param, frame), 0);
    for (std::size_t k = 0; k < img.size(); ++k) {
        ASSERT_EQ(p.current()[k], 255 - img[k]) << k;
    }
}

TEST_F(Extractor, QualityOfABitmap)
{
    std::vector<unsigned char> bmp = Bitmap(320, 400, PPM_500, 8, Finger(320, 400));
    int quality = -1;
    ProcessParam param{0, 1, 0, 4096, 4096, 0};
    EXPECT_EQ(
        s_ip->getQuality(CaptureData{FINGER_LEFT_INDEX, bmp.data()}, &quality, &param, nullptr), 0);
    EXPECT_GE(quality, 1);
    EXPECT_LE(quality, 100);
}

// ---- Callbacks and the prefix of a whole run ----

struct Seen {
    std::vector<std::string> order;
    unsigned singular = 99;
    unsigned patternClass = 0;
    Singular list[16] = {};
    int skeletonSize = -1;
    bool stopAtSkeleton = false;
};

bool SeeSingular(void* ctx, FINGERS, unsigned patternClass, unsigned count, const Singular* list)
{
    Seen& s = *static_cast<Seen*>(ctx);
    s.order.push_back("singular");
    s.singular = count;
    s.patternClass = patternClass;
    std::copy(list, list + 16, s.list);
    return true;
}

bool SeeSkeleton(void* ctx, FINGERS, unsigned char* skeleton, int size)
{
    Seen& s = *static_cast<Seen*>(ctx);
    s.order.push_back(skeleton != nullptr ? "skeleton" : "no skeleton");
    s.skeletonSize = size;
    return !s.stopAtSkeleton;
}

TEST(Driver, SingularPointsReachTheCallerWithTheirReliability)
{
    FpProcess p;
    ASSERT_EQ(p.init(0), 0);
    wizard73::Codex& e = *p.engine();
    e.m_singular = 3;
    e.m_sign[0] = wizard73::SSign{10, 20, 2, 0, 0x3F, 45, 0, 0};
    e.m_sign[1] = wizard73::SSign{30, 40, 16, 0, 0x3F, 10, 0, 0}; // the reference centre
    e.m_sign[2] = wizard73::SSign{50, 60, 8, 0, 0xBF, 170, 0, 0};
    e.m_immask = 0x21;
    Seen seen;
    EXPECT_TRUE(p.onProcess1Complete(&seen, SeeSingular, FINGER_LEFT_RING));
    ASSERT_EQ(seen.singular, 2u);
    EXPECT_EQ(seen.patternClass, 0x21u);
    EXPECT_EQ(seen.list[0].x, 10);
    EXPECT_EQ(seen.list[0].reliability, 98);
    EXPECT_EQ(seen.list[0].angle, 90);
    EXPECT_EQ(seen.list[0].type, 2);
    EXPECT_EQ(seen.list[1].reliability, 49);
    EXPECT_EQ(seen.list[1].type, 8);
    EXPECT_EQ(seen.list[2].type, 0); // the rest of the 16 entries stays zeroed
    // Only a reference centre: a call with no point.
    e.m_singular = 1;
    e.m_sign[0] = e.m_sign[1];
    EXPECT_TRUE(p.onProcess1Complete(&seen, SeeSingular, FINGER_LEFT_RING));
    EXPECT_EQ(seen.singular, 0u);
}

TEST_F(Extractor, WholeRunFillsThePrefixTheRegionAndTheSkeleton)
{
    const std::string path = zftest::SharedData("fingerprints/fvc2002_db1_b/103_2.pgm");
    if (path.empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    std::vector<unsigned char> px;
    int w = 0;
    int h = 0;
    ASSERT_TRUE(zftest::ReadPgm(path, px, w, h));
    Seen seen;
    std::vector<unsigned char> skeleton(static_cast<std::size_t>(w + 64) * (h + 64));
    int skeletonSize = 0;
    const int code = s_ip->processRaw(
        &seen, px.data(), static_cast<unsigned short>(w), static_cast<unsigned short>(h),
        m_tpl.data(), &m_size, &m_quality, nullptr, &m_frame, FINGER_LEFT_INDEX, skeleton.data(),
        &skeletonSize, nullptr, nullptr, SeeSingular, SeeSkeleton);
    ASSERT_EQ(code, 0);
    const unsigned char* rec = m_tpl.data() + TF_PREFIX_SIZE;
    EXPECT_EQ(TfRead32(m_tpl.data()), m_size);
    EXPECT_EQ(TfRead32(rec) + TF_PREFIX_SIZE, m_size);
    EXPECT_EQ(m_tpl[TF_PREFIX_VERSION], 1);
    EXPECT_EQ(m_tpl[TF_PREFIX_QUALITY], rec[TF_QUALIT]);
    EXPECT_EQ(m_quality, rec[TF_QUALIT]);
    EXPECT_EQ(rec[TF_FINGER], FINGER_LEFT_INDEX);
    EXPECT_LE(m_tpl[TF_PREFIX_RELIABLE_COUNT], TfRead16(m_tpl.data() + TF_PREFIX_MINUTIA_COUNT));
    EXPECT_EQ(m_frame.right - m_frame.left + 1, TfRead16(rec + TF_I_SIZE_X));
    EXPECT_EQ(m_frame.bottom - m_frame.top + 1, TfRead16(rec + TF_I_SIZE_Y));
    EXPECT_EQ(seen.order, (std::vector<std::string>{"singular", "skeleton"}));
    EXPECT_EQ(skeletonSize, seen.skeletonSize);
    EXPECT_EQ(skeletonSize, TfRead16(rec + TF_I_SIZE_X) * TfRead16(rec + TF_I_SIZE_Y));
    // The skeleton callback can still refuse the run: then nothing looks like a template.
    seen.stopAtSkeleton = true;
    EXPECT_EQ(s_ip->processRaw(&seen, px.data(), static_cast<unsigned short>(w),
                               static_cast<unsigned short>(h), m_tpl.data(), &m_size, &m_quality,
                               nullptr, &m_frame, FINGER_LEFT_INDEX, nullptr, nullptr, nullptr,
                               nullptr, SeeSingular, SeeSkeleton),
              IP_STOPPED);
    EXPECT_EQ(m_size, 0u);
    EXPECT_EQ(TfRead32(m_tpl.data()), 0u);
}

} // namespace
