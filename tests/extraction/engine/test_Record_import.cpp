// Record writer, import side: point sections decode back to the encoded lists (both level
// biases, lengths at the head boundary, streams that end off a point, a list beyond the
// buffer), point sections read from a written record, level-3 data blocks round trip and
// refuse a broken seal or length, the singular list's import, append and removal, and the
// finger-box numbering on hand-made tables.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/TemplateFormat.h"
#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace wizard73;

constexpr int WIDTH0 = 256; // level 3 is 32 x 40
constexpr int HEIGHT0 = 320;

std::unique_ptr<Codex> Engine()
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(pyr[2]);
    e->SetGeo(WIDTH0, HEIGHT0);
    e->NewDoc();
    e->m_stage = 22;
    return e;
}

SSign Point(int x, int y, int type, int level, int quality, int angle)
{
    SSign s{};
    s.x = x;
    s.y = y;
    s.type = static_cast<std::uint8_t>(type);
    s.level = static_cast<std::uint8_t>(level);
    s.quality = static_cast<std::uint8_t>(quality);
    s.angle = static_cast<std::uint8_t>(angle);
    return s;
}

std::string Show(const SSign& s)
{
    std::ostringstream os;
    os << "(" << s.x << ", " << s.y << ") type " << int{s.type} << " level " << int{s.level}
       << " quality " << int{s.quality} << " angle " << int{s.angle} << " axis " << int{s.axis}
       << " aux " << int{s.aux};
    return os.str();
}

// Every field equal, the level byte raised by `bias`.
void ExpectDecoded(const std::vector<SSign>& in, const SSign* out, int bias)
{
    for (std::size_t k = 0; k < in.size(); ++k) {
        SSign want = in[k];
        want.level = static_cast<std::uint8_t>(want.level + bias);
        EXPECT_EQ(std::memcmp(&want, out + k, sizeof want), 0)
            << "point " << k << ": " << Show(out[k]) << ", expected " << Show(want);
    }
}

const unsigned kMainWidths[TF_POINT_FIELD_COUNT] = {
    0, 0, TF_MAIN_TYPE_BITS, 7, TF_MAIN_QUALITY_BITS, TF_ANGLE_BITS, 0, 0};
const unsigned kNovaWidths[TF_POINT_FIELD_COUNT] = {
    0, 0, TF_NOVA_TYPE_BITS, 7, TF_NOVA_QUALITY_BITS, TF_ANGLE_BITS, 0, 0};

// A point section of `list` with the given fixed widths.
std::vector<unsigned char> Encode(const std::vector<SSign>& list, const unsigned* fixed)
{
    std::vector<unsigned char> out(64 + list.size() * 16, 0xA5);
    unsigned widths[TF_POINT_FIELD_COUNT];
    std::memcpy(widths, fixed, sizeof widths);
    const int n = Codex::EnFeat(out.data(), static_cast<unsigned>(out.size()), list.data(),
                                static_cast<unsigned>(list.size()), widths);
    EXPECT_GT(n, 0);
    out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return out;
}

const std::vector<SSign> kSingular = {
    Point(120, 200, TF_SP_LOOP, 1, 40, 17),
    Point(4000, 33, TF_SP_DELTA, 0, 63, 179),
    Point(0, 511, TF_SP_CENTRE, 3, 0, 0),
};
const std::vector<SSign> kMinutiae = {
    Point(17, 300, 1, 1, 255, 90),
    Point(255, 2, 0, 2, 128, 0),
    Point(9, 9, 1, 0, 7, 179),
    Point(1023, 700, 0, 1, 64, 45),
};

struct RoundTrip {
    const char* name;
    const std::vector<SSign>* list;
    const unsigned* widths;
    bool quick;
};

void PrintTo(const RoundTrip& c, std::ostream* os)
{
    *os << c.name;
}

const std::vector<SSign> kNone;
const RoundTrip kRoundTrips[] = {
    {"singular_normal", &kSingular, kMainWidths, false},
    {"singular_quick", &kSingular, kMainWidths, true},
    {"minutiae_normal", &kMinutiae, kNovaWidths, false},
    {"minutiae_quick", &kMinutiae, kNovaWidths, true},
    {"empty", &kNone, kNovaWidths, false},
};

class PointSection : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(PointSection, DecodesWhatWasEncodedWithTheLevelBias)
{
    const RoundTrip& c = GetParam();
    auto e = Engine();
    e->m_quick = c.quick ? 1 : 0;
    const std::vector<unsigned char> section = Encode(*c.list, c.widths);
    std::vector<SSign> out(c.list->size() + 1);
    const int n = e->DeFeat(out.data(), static_cast<unsigned>(out.size()), section.data(),
                            static_cast<unsigned>(section.size()));
    EXPECT_EQ(n, static_cast<int>(c.list->size()));
    ExpectDecoded(*c.list, out.data(), c.quick ? 16 : 32);
}

INSTANTIATE_TEST_SUITE_P(Record, PointSection, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PointSection, LengthsOffTheHeadOrAPointAreRefused)
{
    auto e = Engine();
    const std::vector<unsigned char> two = Encode({kMinutiae[0], kMinutiae[1]}, kNovaWidths);
    std::vector<unsigned char> longer = two;
    longer.push_back(0);
    const unsigned char zeroHead[5] = {0, 0, 0, 0, 0};
    struct Case {
        const char* name;
        const unsigned char* section;
        unsigned length;
        int result;
    } cases[] = {
        {"nothing", two.data(), 0, 0},
        {"one_byte", two.data(), 1, WZ_BAD_SECTION},
        {"three_bytes", two.data(), 3, WZ_BAD_SECTION},
        {"head_only", two.data(), 4, 0},
        {"two_points", two.data(), static_cast<unsigned>(two.size()), 2},
        {"a_byte_short", two.data(), static_cast<unsigned>(two.size() - 1), WZ_BAD_SECTION},
        {"a_byte_over", longer.data(), static_cast<unsigned>(longer.size()), WZ_BAD_SECTION},
        {"zero_widths", zeroHead, 5, WZ_BAD_SECTION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SSign out[4];
        EXPECT_EQ(e->DeFeat(out, 4, c.section, c.length), c.result);
    }
}

TEST(PointSection, PointsBeyondTheBufferAreRefusedUnwritten)
{
    auto e = Engine();
    const std::vector<unsigned char> section = Encode(kMinutiae, kNovaWidths);
    SSign out[5];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(e->DeFeat(out, 3, section.data(), static_cast<unsigned>(section.size())),
              WZ_RECORD_FULL);
    for (const SSign& s : out) {
        EXPECT_EQ(s.type, 0x5A);
    }
}

TEST(PointSection, ReadsBothListsBackFromAWrittenRecord)
{
    auto e = Engine();
    e->m_singular = static_cast<int>(kSingular.size());
    std::memcpy(e->m_sign, kSingular.data(), kSingular.size() * sizeof(SSign));
    std::memcpy(e->GetLay(176, 1), kMinutiae.data(), kMinutiae.size() * sizeof(SSign));
    e->m_minutiae = static_cast<std::uint16_t>(kMinutiae.size());
    const std::vector<unsigned char> rec = zftest::WrittenRecord(*e);

    SSign out[16];
    EXPECT_EQ(e->DeIndi(out, 16, rec.data()), static_cast<int>(kSingular.size()));
    ExpectDecoded(kSingular, out, 32);
    EXPECT_EQ(e->DeSign(out, 16, rec.data()), static_cast<int>(kMinutiae.size()));
    ExpectDecoded(kMinutiae, out, 32);

    // A section placed past the seal, and another layout, are not read.
    std::vector<unsigned char> moved = rec;
    TfWrite32(moved.data() + TF_I_NOVA_OFF, static_cast<std::uint32_t>(rec.size()) - 5);
    EXPECT_EQ(e->DeSign(out, 16, moved.data()), WZ_BAD_SECTION);
    std::vector<unsigned char> other = rec;
    other[TF_VERSOR] = 'N';
    EXPECT_EQ(e->DeIndi(out, 16, other.data()), WZ_BAD_SECTION);
}

// Level-3 layers 128, 32 and 112 filled with distinct patterns.
void FillDataLayers(Codex& e)
{
    const int ids[3] = {128, 32, 112};
    const std::uint32_t n = e.m_level[3].size;
    for (int k = 0; k < 3; ++k) {
        unsigned char* p = e.GetLay(ids[k], 3);
        for (std::uint32_t i = 0; i < n; ++i) {
            p[i] = static_cast<unsigned char>(i * (2 * k + 3) + 11 * k + 1);
        }
    }
}

TEST(DataBlock, RoundTripsEveryLayerByte)
{
    auto from = Engine();
    FillDataLayers(*from);
    const std::uint32_t n = from->m_level[3].size;
    int size = 0;
    ASSERT_EQ(from->ExData(nullptr, size), 0);
    EXPECT_EQ(size, static_cast<int>(3 * n + 8));
    std::vector<unsigned char> block(static_cast<std::size_t>(size));
    ASSERT_EQ(from->ExData(block.data(), size), 0);

    auto to = Engine();
    ASSERT_EQ(to->ImData(block.data(), static_cast<unsigned>(block.size())), 0);
    for (int id : {128, 32, 112}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(std::memcmp(to->GetLay(id, 3), from->GetLay(id, 3), n), 0);
    }
}

TEST(DataBlock, RefusesADamagedSealOrLengthAndAMissingLayer)
{
    auto from = Engine();
    FillDataLayers(*from);
    int size = 0;
    from->ExData(nullptr, size);
    std::vector<unsigned char> block(static_cast<std::size_t>(size));
    ASSERT_EQ(from->ExData(block.data(), size), 0);

    auto to = Engine();
    unsigned char* fore = to->GetLay(128, 3);
    std::memset(fore, 7, to->m_level[3].size);
    std::vector<unsigned char> damaged = block;
    damaged[100] ^= 0x10;
    EXPECT_EQ(to->ImData(damaged.data(), static_cast<unsigned>(damaged.size())), WZ_BAD_BLOCK);
    EXPECT_EQ(to->ImData(block.data(), static_cast<unsigned>(block.size() - 1)), WZ_BAD_BLOCK);
    EXPECT_EQ(fore[0], 7); // nothing written

    auto bare = Engine();
    std::vector<unsigned char> out(static_cast<std::size_t>(size), 0xEE);
    EXPECT_EQ(bare->ExData(out.data(), size), WZ_NO_LAYER);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(SingularImport, CopiesACountWithinTheListAndRefusesMore)
{
    auto e = Engine();
    int count = 3;
    EXPECT_EQ(
        e->ImIndi(reinterpret_cast<unsigned char*>(const_cast<SSign*>(kSingular.data())), count),
        0);
    EXPECT_EQ(e->m_singular, 3);
    ExpectDecoded(kSingular, e->m_sign, 0);
    for (int bad : {17, -1}) {
        SCOPED_TRACE(bad);
        std::vector<SSign> many(17, kSingular[0]);
        EXPECT_EQ(e->ImIndi(reinterpret_cast<unsigned char*>(many.data()), bad), WZ_RECORD_FULL);
        EXPECT_EQ(e->m_singular, 3);
    }
}

TEST(SingularImport, AppendsUpToSixteenAndRemovesTheNearestPoint)
{
    auto e = Engine();
    SSign centre = Point(50, 50, TF_SP_CENTRE, 0, 0, 0);
    EXPECT_EQ(e->ImIndi(centre), 1); // nothing to remove
    int added = 0;
    for (int k = 0; k < 16; ++k) {
        const int types[3] = {TF_SP_WHORL, TF_SP_LOOP, TF_SP_DELTA};
        SSign p = Point(10 * k, 100, types[k % 3], 0, k, 0);
        EXPECT_EQ(e->ImIndi(p), 0);
        ++added;
    }
    EXPECT_EQ(added, 16);
    SSign extra = Point(5, 5, TF_SP_LOOP, 0, 0, 0);
    EXPECT_EQ(e->ImIndi(extra), WZ_RECORD_FULL);
    EXPECT_EQ(e->m_singular, 16);

    SSign near = Point(41, 101, 0, 0, 0, 0); // nearest listed point: (40, 100), entry 4
    EXPECT_EQ(e->ImIndi(near), 0);
    EXPECT_EQ(e->m_singular, 15);
    for (int k = 0; k < 15; ++k) {
        SCOPED_TRACE(k);
        const int x = e->m_sign[k].x;
        EXPECT_EQ(x, 10 * (k < 4 ? k : k + 1));
    }
}

struct BoxIn {
    int ca, cb, position, extra;
};

TEST(FingerBoxes, NumbersTwoRowsAndKeepsAZeroKey)
{
    struct Case {
        const char* name;
        std::vector<BoxIn> table;    // 10 entries at most; position 0 = absent
        std::vector<BoxIn> expected; // the table afterwards, present entries first
    } cases[] = {
        // Row 1 (b 100): a at 300, 100, 800; row 2 (b 900, beyond the mean 420): 400, 150.
        {"two_rows",
         {{300, 100, 9, 'a'},
          {999, 999, 0, 'x'},
          {400, 900, 9, 'b'},
          {100, 100, 9, 'c'},
          {0, 0, 0, 'y'},
          {800, 100, 9, 'd'},
          {150, 900, 9, 'e'}},
         {{150, 900, 6, 'e'},
          {400, 900, 8, 'b'},
          {100, 100, 1, 'c'},
          {300, 100, 2, 'a'},
          {800, 100, 5, 'd'}}},
        // A centre at a = 0 keeps its byte; the next box skips one number.
        {"zero_key", {{100, 50, 3, 'p'}, {0, 50, 77, 'q'}}, {{0, 50, 77, 'q'}, {100, 50, 2, 'p'}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto e = Engine();
        for (std::size_t k = 0; k < c.table.size(); ++k) {
            const BoxIn& b = c.table[k];
            e->m_fingers[k] = SFinger{b.ca - 20,
                                      b.ca + 21,
                                      b.cb - 30,
                                      b.cb + 30,
                                      static_cast<std::uint8_t>(b.position),
                                      static_cast<std::uint8_t>(b.extra)};
        }
        e->Finger();
        for (std::size_t k = 0; k < WZ_FINGER_BOXES; ++k) {
            SCOPED_TRACE(k);
            const SFinger& f = e->m_fingers[k];
            if (k < c.expected.size()) {
                EXPECT_EQ(f.a1, c.expected[k].ca - 20);
                EXPECT_EQ(f.b1, c.expected[k].cb - 30);
                EXPECT_EQ(f.position, c.expected[k].position);
                EXPECT_EQ(f.extra, c.expected[k].extra);
            } else {
                EXPECT_EQ(f.position, 0);
            }
        }
    }
}

} // namespace
