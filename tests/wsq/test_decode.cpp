// The decoder: a NIST ten-print card against digests of a reference decode, the size query and
// the checks before decoding, and malformed streams, which must give negative codes and never
// read or write outside the buffers.

#include "tests/support/data_path.h"
#include "tests/support/sha256.h"
#include "tests/wsq/wsq_test_util.h"
#include "wsq/Wsq.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using wsqtest::Bytes;
using wsqtest::Decode;
using wsqtest::Segment;
using wsqtest::Segments;

struct ManifestRow {
    std::string file;
    int width;
    int height;
    std::string sha256;
};

std::vector<ManifestRow> ReadManifest()
{
    std::vector<ManifestRow> rows;
    std::ifstream f(zftest::TestData("wsq/reference_decode_manifest.csv"));
    std::string line;
    std::getline(f, line); // header
    while (std::getline(f, line)) {
        std::stringstream ss(line);
        ManifestRow r;
        std::string w;
        std::string h;
        std::string ppi;
        std::getline(ss, r.file, ',');
        std::getline(ss, w, ',');
        std::getline(ss, h, ',');
        std::getline(ss, ppi, ',');
        std::getline(ss, r.sha256, ',');
        r.file = r.file.substr(r.file.find('/') + 1);
        r.width = std::stoi(w);
        r.height = std::stoi(h);
        rows.push_back(r);
    }
    return rows;
}

TEST(Sha256, KnownDigests)
{
    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(zftest::Sha256Hex(abc, 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(zftest::Sha256Hex(abc, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::vector<unsigned char> million(1000000, 'a');
    EXPECT_EQ(zftest::Sha256Hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(WsqDecode, CardImagesMatchTheReferenceDigests)
{
    const std::vector<ManifestRow> rows = ReadManifest();
    ASSERT_EQ(rows.size(), 14u);
    int checked = 0;
    for (const ManifestRow& r : rows) {
        SCOPED_TRACE(r.file);
        Bytes data = zftest::ReadFile(zftest::TestData("wsq/" + r.file));
        ASSERT_FALSE(data.empty());
        int w = 0;
        int h = 0;
        ASSERT_EQ(Decode(data, nullptr, &w, &h), WSQ_SIZE_QUERY);
        ASSERT_EQ(w, r.width);
        ASSERT_EQ(h, r.height);
        Bytes pixels;
        EXPECT_GE(Decode(data, &pixels, &w, &h), 0);
        EXPECT_EQ(zftest::Sha256Hex(pixels.data(), pixels.size()), r.sha256);
        ++checked;
    }
    EXPECT_EQ(checked, 14);
}

// The reference decoders' pixels of three card files, pixel for pixel; a failure tells how many
// pixels differ and by how much, which the digests above cannot.
TEST(WsqDecode, CardImagesEqualTheReferencePixels)
{
    for (const char* name : {"fp01", "fp11", "fp13"}) {
        SCOPED_TRACE(name);
        const std::string ref =
            zftest::SharedData(std::string("fingerprints/wsq/decoded/nist_a025_") + name + ".pgm");
        if (ref.empty()) {
            GTEST_SKIP() << "shared reference decodes not found (set ZF_DATA)";
        }
        Bytes expected;
        int rw = 0;
        int rh = 0;
        ASSERT_TRUE(zftest::ReadPgm(ref, expected, rw, rh));
        Bytes data = zftest::ReadFile(zftest::TestData(std::string("wsq/") + name + ".wsq"));
        Bytes pixels;
        int w = 0;
        int h = 0;
        ASSERT_GE(Decode(data, &pixels, &w, &h), 0);
        ASSERT_EQ(pixels.size(), expected.size());
        std::size_t differing = 0;
        std::size_t first = 0;
        int largest = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const int d = std::abs(pixels[i] - expected[i]);
            if (d != 0 && differing++ == 0) {
                first = i;
            }
            largest = d > largest ? d : largest;
        }
        EXPECT_EQ(differing, 0u) << "first at pixel " << first << ", largest difference "
                                 << largest;
    }
}

TEST(WsqDecode, ChecksComeInOrderNullStreamThenGuard)
{
    void* inst = init_instance();
    ASSERT_NE(inst, nullptr);
    Bytes data = zftest::ReadFile(zftest::TestData("wsq/fp11.wsq"));
    const int size = static_cast<int>(data.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(data.data(), size));
    int w = -1;
    int h = -1;
    EXPECT_EQ(wsq_decode(inst, nullptr, nullptr, size, &w, &h, guard + 1), WSQ_NO_STREAM);
    EXPECT_EQ(wsq_decode(inst, nullptr, data.data(), size, &w, &h, guard + 1), WSQ_ERR_GUARD);
    // A wrong guard stops before any byte is interpreted, even for a stream that is no WSQ.
    Bytes junk(100, 0x55);
    EXPECT_EQ(wsq_decode(inst, nullptr, junk.data(), 100, &w, &h, 0), WSQ_ERR_GUARD);
    EXPECT_EQ(wsq_decode(nullptr, nullptr, data.data(), size, &w, &h, guard), WSQ_NO_STREAM);
    // The size query answers the same twice; the guard of an empty buffer is 0.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(wsq_decode(inst, nullptr, data.data(), size, &w, &h, guard), WSQ_SIZE_QUERY);
        EXPECT_EQ(w, 392);
        EXPECT_EQ(h, 1000);
    }
    EXPECT_EQ(wsq_decode(inst, nullptr, data.data(), 0, &w, &h, 0), WSQ_ERR_END_BYTES);
    cancel_instance(inst);
    cancel_instance(nullptr);
}

// One instance serves decodes in any order: nothing of a call carries over to the next.
TEST(WsqDecode, InstanceReuseGivesTheSamePixels)
{
    Bytes a = zftest::ReadFile(zftest::TestData("wsq/fp11.wsq"));
    Bytes b = zftest::ReadFile(zftest::TestData("wsq/fp04.wsq"));
    void* inst = init_instance();
    ASSERT_NE(inst, nullptr);
    auto decode = [inst](Bytes& s) {
        const int size = static_cast<int>(s.size());
        const int guard = static_cast<int>(Wsq::wsqCheckSum(s.data(), size));
        int w = 0;
        int h = 0;
        EXPECT_EQ(wsq_decode(inst, nullptr, s.data(), size, &w, &h, guard), WSQ_SIZE_QUERY);
        Bytes px(static_cast<std::size_t>(w) * h);
        EXPECT_GE(wsq_decode(inst, px.data(), s.data(), size, &w, &h, guard), 0);
        return px;
    };
    const Bytes first = decode(a);
    const Bytes other = decode(b);
    EXPECT_EQ(decode(a), first);
    EXPECT_EQ(decode(b), other);
    cancel_instance(inst);
}

TEST(WsqDecode, PixelConversionRoundsHalfUpAndClamps)
{
    // With r_scale 1 and m_shift 0 the sample is the value before the half is added.
    const float samples[] = {-0.4f, -0.6f, 254.6f, 100.4f, 100.5f, 254.4f, -1000.0f, 1e9f};
    const unsigned char expected[] = {0, 0, 255, 100, 101, 254, 0, 255};
    // Three copies, so that both the many-at-a-time run and the single tail see every case.
    float tiled[24];
    for (int i = 0; i < 24; ++i) {
        tiled[i] = samples[i % 8];
    }
    unsigned char pixels[24] = {};
    EXPECT_EQ(Wsq::conv_img_2_uchar(pixels, tiled, 24, 1.0f, 0.0f), 0);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(pixels[i], expected[i % 8]) << tiled[i];
    }
    // Scale and shift: 2 * 10 + 50.
    const float s = 10.0f;
    unsigned char p = 0;
    EXPECT_EQ(Wsq::conv_img_2_uchar(&p, &s, 1, 2.0f, 50.0f), 0);
    EXPECT_EQ(p, 70);
}

TEST(WsqDecode, PixelConversionRefusesSamplesThatAreNotFinite)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float sample, r_scale, m_shift;
    };
    // A NaN sample, either infinity, and a finite sample that the scale turns into NaN.
    const Case cases[] = {{nan, 1.0f, 0.0f},
                          {inf, 1.0f, 0.0f},
                          {-inf, 1.0f, 0.0f},
                          {0.0f, inf, 0.0f},
                          {1.0f, inf, -inf}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sample);
        const float samples[3] = {10.0f, c.sample, 20.0f};
        unsigned char pixels[3] = {1, 2, 3};
        EXPECT_EQ(Wsq::conv_img_2_uchar(pixels, samples, 3, c.r_scale, c.m_shift),
                  WSQ_ERR_NOT_FINITE);
    }
    // Inside a long run (converted many samples at a time): the pixels before the bad sample
    // are written, none after it.
    for (const std::size_t bad : {std::size_t{0}, std::size_t{21}, std::size_t{47}}) {
        SCOPED_TRACE(bad);
        float samples[48];
        unsigned char pixels[48];
        for (std::size_t i = 0; i < 48; ++i) {
            samples[i] = static_cast<float>(i);
            pixels[i] = 200;
        }
        samples[bad] = nan;
        EXPECT_EQ(Wsq::conv_img_2_uchar(pixels, samples, 48, 1.0f, 0.0f), WSQ_ERR_NOT_FINITE);
        for (std::size_t i = 0; i < 48; ++i) {
            EXPECT_EQ(pixels[i], i < bad ? i : 200u) << i;
        }
    }
}

TEST(WsqGuard, SumsEveryTenthByteWithTwiceItsIndex)
{
    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Wsq::wsqCheckSum(abc, 3), 97u);
    const Bytes ones(11, 1);
    EXPECT_EQ(Wsq::wsqCheckSum(ones.data(), 11), 22u);
    EXPECT_EQ(Wsq::wsqCheckSum(abc, 0), 0u);
    EXPECT_EQ(Wsq::wsqCheckSum(abc, -4), 0u);
}

// ---- Malformed streams, built from the card file fp11 (DHT, SOB, DHT, SOB, SOB layout).

struct MutationCase {
    const char* name;
    Bytes (*make)(const Bytes& s);
    int code; // 0: any negative code
};

void PrintTo(const MutationCase& c, std::ostream* os)
{
    *os << c.name << " -> " << c.code;
}

std::size_t At(const Bytes& s, std::uint16_t marker, int nth = 0)
{
    for (const Segment& seg : Segments(s)) {
        if (seg.marker == marker && nth-- == 0) {
            return seg.start;
        }
    }
    ADD_FAILURE() << "marker not found";
    return 0;
}

Bytes SetU16(Bytes s, std::size_t pos, std::uint16_t v)
{
    s[pos] = static_cast<unsigned char>(v >> 8);
    s[pos + 1] = static_cast<unsigned char>(v & 0xFF);
    return s;
}

Bytes Remove(const Bytes& s, std::uint16_t marker)
{
    for (const Segment& seg : Segments(s)) {
        if (seg.marker == marker) {
            Bytes r(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(seg.start));
            r.insert(r.end(), s.begin() + static_cast<std::ptrdiff_t>(seg.end), s.end());
            return r;
        }
    }
    return s;
}

const MutationCase kMutations[] = {
    {"no_soi", [](const Bytes& s) { return SetU16(s, 0, 0xFFA1); }, WSQ_ERR_NO_SOI},
    {"drt_before_sof", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA4), 0xFFA7); },
     WSQ_ERR_BEFORE_SOF},
    {"eoi_before_sof", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA5), 0xFFA1); },
     WSQ_ERR_BEFORE_SOF},
    {"drt_before_block", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA6), 0xFFA7); },
     WSQ_ERR_BEFORE_BLOCK},
    {"sof_after_first_block", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA6, 1), 0xFFA2); },
     WSQ_ERR_BETWEEN_BLOCKS},
    {"unknown_marker_between_blocks",
     [](const Bytes& s) { return SetU16(s, At(s, 0xFFA3, 2), 0xFF17); }, WSQ_ERR_BETWEEN_BLOCKS},
    {"com_length_0", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA8) + 2, 0); },
     WSQ_ERR_SEGMENT_LENGTH},
    {"com_length_past_end", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA8) + 2, 0xFFFF); }, 0},
    {"dht_length_2", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA6) + 2, 2); }, -2},
    {"dht_length_short_of_its_table",
     [](const Bytes& s) { return SetU16(s, At(s, 0xFFA6) + 2, 20); }, -2},
    {"dht_counts_above_257",
     [](const Bytes& s) {
         Bytes r = s;
         for (int i = 0; i < 16; ++i) {
             r[At(s, 0xFFA6) + 5 + i] = 17;
         }
         return r;
     },
     WSQ_ERR_HUFF_COUNTS},
    {"dht_id_8",
     [](const Bytes& s) {
         Bytes r = s;
         r[At(s, 0xFFA6) + 4] = 8;
         return r;
     },
     WSQ_ERR_HUFF_ID},
    {"sob_names_undefined_table",
     [](const Bytes& s) {
         Bytes r = s;
         r[At(s, 0xFFA3) + 4] = 5;
         return r;
     },
     WSQ_ERR_NO_HUFF_TABLE},
    {"sob_names_table_9",
     [](const Bytes& s) {
         Bytes r = s;
         r[At(s, 0xFFA3) + 4] = 9;
         return r;
     },
     WSQ_ERR_NO_HUFF_TABLE},
    {"dtt_even_length",
     [](const Bytes& s) {
         Bytes r = s;
         r[At(s, 0xFFA4) + 4] = 8;
         return r;
     },
     WSQ_ERR_FILTER_LENGTH},
    {"dtt_length_0",
     [](const Bytes& s) {
         Bytes r = s;
         r[At(s, 0xFFA4) + 5] = 0;
         return r;
     },
     WSQ_ERR_FILTER_LENGTH},
    {"dtt_long_filter_reads_past_end",
     [](const Bytes& s) {
         Bytes r = s;
         r[At(s, 0xFFA4) + 4] = 255;
         return r;
     },
     0},
    {"width_0", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA2) + 8, 0); }, WSQ_ERR_GEOMETRY},
    {"height_0", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA2) + 6, 0); }, WSQ_ERR_GEOMETRY},
    {"width_64", [](const Bytes& s) { return SetU16(s, At(s, 0xFFA2) + 8, 64); }, WSQ_ERR_GEOMETRY},
    {"huge_sides",
     [](const Bytes& s) {
         return SetU16(SetU16(s, At(s, 0xFFA2) + 6, 0xFFFF), At(s, 0xFFA2) + 8, 0xFFFF);
     },
     WSQ_ERR_GEOMETRY},
    {"no_dqt", [](const Bytes& s) { return Remove(s, 0xFFA5); }, WSQ_ERR_NO_DQT},
    {"no_dtt", [](const Bytes& s) { return Remove(s, 0xFFA4); }, WSQ_ERR_NO_LOWPASS},
    {"no_eoi", [](const Bytes& s) { return Bytes(s.begin(), s.end() - 2); }, WSQ_ERR_END_BYTE},
    {"dtt_huge_taps_overflow_the_reconstruction",
     [](const Bytes& s) { return wsqtest::HugeTransformTaps(s); }, WSQ_ERR_NOT_FINITE},
    {"coefficients_beyond_the_image",
     [](const Bytes& s) {
         // A quarter of the height: the blocks carry more coefficients than it has.
         return SetU16(s, At(s, 0xFFA2) + 6, 250);
     },
     0},
};

class WsqMutation : public ::testing::TestWithParam<MutationCase> {};

TEST_P(WsqMutation, GivesANegativeCode)
{
    const Bytes s = zftest::ReadFile(zftest::TestData("wsq/fp11.wsq"));
    ASSERT_FALSE(s.empty());
    const Bytes bad = GetParam().make(s);
    Bytes pixels;
    int w = 0;
    int h = 0;
    const int rc = Decode(bad, &pixels, &w, &h);
    if (GetParam().code != 0) {
        EXPECT_EQ(rc, GetParam().code);
    } else {
        EXPECT_LT(rc, 0);
        EXPECT_NE(rc, WSQ_SIZE_QUERY);
    }
}

INSTANTIATE_TEST_SUITE_P(Wsq, WsqMutation, ::testing::ValuesIn(kMutations),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WsqDecode, StreamCutAnywhereFailsWithAnEndOfStreamCode)
{
    const Bytes s = zftest::ReadFile(zftest::TestData("wsq/fp11.wsq"));
    int cuts = 0;
    for (const Segment& seg : Segments(s)) {
        for (std::size_t cut :
             {seg.start, seg.start + 1, seg.start + 3, seg.start + 5, (seg.start + seg.end) / 2}) {
            if (cut == 0 || cut >= s.size()) { // an empty vector may have no data pointer
                continue;
            }
            SCOPED_TRACE(cut);
            const Bytes part(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(cut));
            Bytes pixels;
            int w = 0;
            int h = 0;
            const int rc = Decode(part, &pixels, &w, &h);
            EXPECT_TRUE(rc == WSQ_ERR_END_BYTE || rc == WSQ_ERR_END_BYTES) << rc;
            ++cuts;
        }
    }
    EXPECT_GT(cuts, 40);
}

TEST(WsqDecode, RandomlyDamagedStreamsNeverCrash)
{
    const Bytes s = zftest::ReadFile(zftest::TestData("wsq/fp11.wsq"));
    std::uint32_t x = 2463534242u; // xorshift32, fixed seed
    auto next = [&x]() { return zftest::XorShift32(x); };
    int runs = 0;
    for (int i = 0; i < 60; ++i) {
        Bytes bad = s;
        const int hits = 1 + static_cast<int>(next() % 4);
        for (int k = 0; k < hits; ++k) {
            // Half of the damage goes to the first 800 bytes, where the tables are.
            const std::size_t pos = (next() % 2 == 0) ? next() % 800 : next() % s.size();
            bad[pos] = static_cast<unsigned char>(next());
        }
        Bytes pixels;
        int w = 0;
        int h = 0;
        // Any code will do: the property is the absence of a sanitizer report.
        static_cast<void>(Decode(bad, &pixels, &w, &h));
        ++runs;
    }
    EXPECT_EQ(runs, 60);
}

// The longest filters a transform table can hold (255 taps), here the stream's own filters padded
// with zero taps, reach far past the ends of the shortest lines of a 65 x 65 image; the
// extension must stay inside the lines and the zero taps must change nothing.
TEST(WsqDecode, LongestTransformFiltersStayInsideTheLines)
{
    const int n = 65;
    Bytes img(static_cast<std::size_t>(n) * n);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            img[static_cast<std::size_t>(y) * n + x] =
                static_cast<unsigned char>((x * 9 + y * 5) % 200);
        }
    }
    int rc = 0;
    const Bytes s = wsqtest::Encode(img, n, n, -2.0f, &rc);
    ASSERT_GT(rc, 0);
    Bytes plain;
    int w = 0;
    int h = 0;
    ASSERT_GE(Decode(s, &plain, &w, &h), 0);

    const std::size_t dtt = At(s, 0xFFA4);
    const std::size_t body = dtt + 6; // first coefficient: 5 of the low-pass group, then 4
    Bytes table = {0xFF, 0xA4, 0, 0, 255, 255};
    for (int group = 0; group < 2; ++group) {
        const int given = group == 0 ? 5 : 4;
        const std::size_t from = body + (group == 0 ? 0 : 5 * 6);
        table.insert(table.end(), s.begin() + static_cast<std::ptrdiff_t>(from),
                     s.begin() + static_cast<std::ptrdiff_t>(from + 6 * given));
        table.insert(table.end(), static_cast<std::size_t>(6 * (128 - given)), 0);
    }
    const std::size_t len = table.size() - 2;
    table[2] = static_cast<unsigned char>(len >> 8);
    table[3] = static_cast<unsigned char>(len & 0xFF);
    Bytes wide(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(dtt));
    wide.insert(wide.end(), table.begin(), table.end());
    wide.insert(wide.end(), s.begin() + static_cast<std::ptrdiff_t>(dtt + 60), s.end());
    Bytes out;
    ASSERT_GE(Decode(wide, &out, &w, &h), 0);
    EXPECT_EQ(out, plain);
}

} // namespace
