// Record reader: header checks, seal, access code, header fields of both layouts, and the
// section bounds that keep every read inside the record.

#include "records/TemplateFormat.h"
#include "records/Unwrap.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

using zftest::Bytes;

namespace {

struct ReaderDeleter {
    void operator()(ESK::Unwrap* p) const { ESK::Unwrap::cancel(p); }
};
using Reader = std::unique_ptr<ESK::Unwrap, ReaderDeleter>;

Reader OpenReader()
{
    Reader r(ESK::Unwrap::create());
    if (r) {
        r->versor(ESK::ESK_ACCESS_CODE);
    }
    return r;
}

} // namespace

TEST(Unwrap, CancelDestroysAndNullsThePointer)
{
    ESK::Unwrap* p = ESK::Unwrap::create();
    ASSERT_NE(p, nullptr);
    ESK::Unwrap::cancel(p);
    EXPECT_EQ(p, nullptr);
    ESK::Unwrap::cancel(p); // a second cancel is harmless
    EXPECT_EQ(p, nullptr);
}

TEST(Unwrap, ReadsTheHeaderFieldsOfAWrittenRecord)
{
    const zftest::RecordPlan plan = zftest::SampleRecord();
    const Bytes rec = zftest::BuildRecord(plan);
    Reader r = OpenReader();
    const unsigned char* p = rec.data();
    EXPECT_TRUE(r->verify(p));
    EXPECT_TRUE(r->defend(p));
    EXPECT_EQ(r->length(p), rec.size());
    EXPECT_EQ(r->versor(p), 'I');
    EXPECT_EQ(r->finger(p), plan.finger);
    EXPECT_EQ(r->qualit(p), plan.quality);
    EXPECT_EQ(r->densit(p), plan.density);
    EXPECT_EQ(r->immask(p), plan.immask);
    EXPECT_EQ(r->passxy(p), 20);
    EXPECT_EQ(r->passan(p), 20);
    EXPECT_EQ(r->square(p), 0);
    EXPECT_EQ(r->exmask(p), 0);
    EXPECT_EQ(r->size_x(p), plan.sizeX);
    EXPECT_EQ(r->size_y(p), plan.sizeY);
    EXPECT_EQ(r->imgppi(p), 500);
    EXPECT_EQ(r->tplppi(p), 500);
    EXPECT_EQ(r->idmain(p), 3u);
    EXPECT_EQ(r->idnova(p), 12u);
    EXPECT_EQ(r->idarea(p), 32u * 40u);
}

struct HeaderCase {
    const char* name;
    int offset;
    int width; // 1, 2 or 4 bytes, little-endian
    std::uint32_t value;
};

void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.name << ": byte " << c.offset << " = " << c.value;
}

// Each case makes exactly one verify test fail on an otherwise good record.
const HeaderCase kRefusedHeaders[] = {
    {"length_below_header_and_seal", TF_LENGTH, 4, 70},
    {"length_beyond_largest_record", TF_LENGTH, 4, 12268},
    {"quality_101", TF_QUALIT, 1, 101},
    {"density_0", TF_DENSIT, 1, 224}, // 'I' stores density - 32
    {"density_145", TF_DENSIT, 1, 145 - 32},
    {"kind_X", TF_KIND, 1, 'X'},
    {"linkno_0", TF_LINKNO, 1, 0},
    {"linkno_18", TF_LINKNO, 1, 18},
    {"width_16384", TF_I_SIZE_X, 2, 16384},
    {"height_16384", TF_I_SIZE_Y, 2, 16384},
    {"layout_N_without_flags", TF_VERSOR, 1, 0x34}, // 0x34 & 0xCB == 0
};

class VerifyRefuses : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(VerifyRefuses, OneImplausibleField)
{
    const HeaderCase& c = GetParam();
    Bytes rec = zftest::BuildRecord(zftest::SampleRecord());
    rec.resize(13000, 0); // room behind the record for a length field that claims more
    unsigned char* p = rec.data() + c.offset;
    if (c.width == 1) {
        *p = static_cast<unsigned char>(c.value);
    } else if (c.width == 2) {
        TfWrite16(p, c.value);
    } else {
        TfWrite32(p, c.value);
    }
    Reader r = OpenReader();
    EXPECT_FALSE(r->verify(rec.data()));
}

INSTANTIATE_TEST_SUITE_P(Header, VerifyRefuses, ::testing::ValuesIn(kRefusedHeaders),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Unwrap, AcceptsTheLongestRecordAndRefusesOneMore)
{
    for (std::uint32_t length : {12267u, 12268u}) {
        SCOPED_TRACE(length);
        zftest::RecordPlan plan = zftest::SampleRecord();
        zftest::Sections s = zftest::EncodeSections(plan);
        const Bytes plain = zftest::AssembleRecord(plan, s);
        s[TF_RCNT].resize(length - plain.size(), 0); // pad an unused section
        const Bytes rec = zftest::AssembleRecord(plan, s);
        ASSERT_EQ(rec.size(), length);
        Reader r = OpenReader();
        EXPECT_EQ(r->verify(rec.data()), length == 12267u);
        EXPECT_TRUE(r->defend(rec.data()));
    }
}

TEST(Unwrap, SealCatchesAnyChangedByte)
{
    const Bytes good = zftest::BuildRecord(zftest::SampleRecord());
    Reader r = OpenReader();
    int checked = 0;
    for (std::size_t k = 0; k < good.size(); ++k) {
        Bytes rec = good;
        rec[k] = static_cast<unsigned char>(rec[k] ^ 0x10);
        if (k < 4) {
            continue; // the length field moves the seal itself
        }
        EXPECT_FALSE(r->defend(rec.data())) << "byte " << k;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(good.size()) - 4);
}

// The seal sum is reduced per block, not per byte: the same value as a running reduction,
// for bytes of 255 (the largest block sums) past one block and for mixed bytes.
TEST(Unwrap, SealSumEqualsARunningReduction)
{
    Bytes bytes((std::size_t{1} << 24) + 1000, 0xFF);
    for (std::size_t k = 0; k < 1000; ++k) {
        bytes[k] = static_cast<unsigned char>(k * 37);
    }
    const std::size_t lengths[] = {0, 1, 250, 251, 1000, 12267, std::size_t{1} << 24, bytes.size()};
    for (const unsigned char* p : {bytes.data(), bytes.data() + bytes.size() - 12267}) {
        unsigned running = 0;
        std::size_t done = 0;
        for (std::size_t n : lengths) {
            if (p != bytes.data() && n > 12267) {
                continue;
            }
            for (; done < n; ++done) {
                running = (running + p[done]) % TF_SEAL_MODULUS;
            }
            EXPECT_EQ(TfSealSum(p, n), running) << n;
        }
    }
}

TEST(Unwrap, HasherChecksTheByteBeforeTheSeal)
{
    Bytes rec = zftest::BuildRecord(zftest::SampleRecord());
    const std::size_t n = rec.size();
    unsigned sum = 0;
    for (std::size_t k = 0; k + 2 < n; ++k) {
        sum += rec[k] ^ static_cast<unsigned>(k & 255);
    }
    Reader r = OpenReader();
    rec[n - 2] = static_cast<unsigned char>(sum);
    EXPECT_TRUE(r->hasher(rec.data()));
    rec[n - 2] = static_cast<unsigned char>(sum + 1);
    EXPECT_FALSE(r->hasher(rec.data()));
}

TEST(Unwrap, WithoutTheAccessCodeOnlyHeaderQueriesAnswer)
{
    const Bytes rec = zftest::BuildRecord(zftest::SampleRecord());
    const unsigned char* p = rec.data();
    for (unsigned code : {0u, ESK::ESK_ACCESS_CODE + 1}) {
        SCOPED_TRACE(code);
        Reader r(ESK::Unwrap::create());
        r->versor(code);
        std::vector<ESK::Lot<short>> points(100);
        std::vector<ESK::Link> links(100);
        std::vector<unsigned char> bytes(4096);
        EXPECT_TRUE(r->verify(p));
        EXPECT_EQ(r->qualit(p), 73);
        EXPECT_EQ(r->idnova(p), 12u);
        EXPECT_FALSE(r->defend(p));
        EXPECT_FALSE(r->hasher(p));
        EXPECT_EQ(r->demain(points.data(), p), 0u);
        EXPECT_EQ(r->denova(points.data(), p), 0u);
        EXPECT_EQ(r->denest(links.data(), points.data(), 12, p), 0u);
        EXPECT_EQ(r->deabac(bytes.data(), p), 0u);
        EXPECT_EQ(r->dearea(bytes.data(), p), 0u);
    }
}

TEST(Unwrap, LayoutNReadsItsOwnFieldsAndNeedsVersor130ForPoints)
{
    const zftest::RecordPlan plan = zftest::SampleRecord();
    Reader r = OpenReader();
    std::vector<ESK::Lot<short>> points(100);
    std::vector<unsigned char> mask(32 * 40);
    for (int versor : {130, 110}) {
        SCOPED_TRACE(versor);
        Bytes rec = zftest::BuildRecord(plan);
        zftest::ToLayoutN(rec, static_cast<std::uint8_t>(versor), 0x1234, 7);
        const unsigned char* p = rec.data();
        EXPECT_TRUE(r->verify(p));
        EXPECT_TRUE(r->defend(p));
        EXPECT_EQ(r->versor(p), versor);
        EXPECT_EQ(r->densit(p), plan.density); // stored plain in 'N'
        EXPECT_EQ(r->square(p), 7);
        EXPECT_EQ(r->exmask(p), 0x1234);
        EXPECT_EQ(r->size_x(p), plan.sizeX);
        EXPECT_EQ(r->size_y(p), plan.sizeY);
        EXPECT_EQ(r->dearea(mask.data(), p), (40u << 16) | 32u);
        const unsigned expected = versor >= 130 ? 12 : 0;
        EXPECT_EQ(r->idnova(p), expected);
        EXPECT_EQ(r->idmain(p), versor >= 130 ? 3u : 0u);
        EXPECT_EQ(r->demain(points.data(), p), versor >= 130 ? 3u : 0u);
        EXPECT_EQ(r->denova(points.data(), p), expected);
        if (versor >= 130) {
            // 'N' angles are 256 units a turn, turned into degrees as a x 45 >> 5.
            for (unsigned k = 0; k < expected; ++k) {
                EXPECT_EQ(static_cast<int>(points[k].angle), (plan.minutiae[k].angle * 45) >> 5);
                EXPECT_EQ(points[k].level, plan.minutiae[k].level); // no +32 in 'N'
            }
        }
    }
}

TEST(Unwrap, NullRecordIsRefusedEverywhere)
{
    Reader r = OpenReader();
    EXPECT_FALSE(r->verify(nullptr));
    EXPECT_FALSE(r->defend(nullptr));
    EXPECT_EQ(r->length(nullptr), 0u);
    EXPECT_EQ(r->size_x(nullptr), 0);
    EXPECT_EQ(r->idnova(nullptr), 0u);
    EXPECT_EQ(r->demain(nullptr, nullptr), 0u);
    EXPECT_EQ(r->dearea(nullptr, nullptr), 0u);
}

// A record of exactly 12 declared bytes: fields at or beyond byte 12 read as 0.
TEST(Unwrap, FieldsBeyondTheDeclaredLengthReadAsZero)
{
    std::unique_ptr<unsigned char[]> rec(new unsigned char[12]);
    for (int k = 0; k < 12; ++k) {
        rec[k] = 0xEE;
    }
    TfWrite32(rec.get(), 12);
    rec[TF_VERSOR] = 'I';
    Reader r = OpenReader();
    EXPECT_EQ(r->qualit(rec.get()), 0xEE); // byte 10 is inside
    EXPECT_EQ(r->immask(rec.get()), 0);
    EXPECT_EQ(r->size_x(rec.get()), 0);
    EXPECT_EQ(r->idnova(rec.get()), 0u);
    EXPECT_FALSE(r->verify(rec.get()));
}

// Section offsets that put a section past the record's end, also through 32-bit wrap-around.
TEST(Unwrap, SectionOutsideTheRecordIsRefused)
{
    const Bytes good = zftest::BuildRecord(zftest::SampleRecord());
    for (std::uint32_t offset : {static_cast<std::uint32_t>(good.size() - 2), 0xFFFFFFF0u}) {
        SCOPED_TRACE(offset);
        Bytes rec = good;
        TfWrite32(rec.data() + TF_I_NOVA_OFF, offset);
        TfWrite32(rec.data() + TF_I_AREA_OFF, offset);
        zftest::Seal(rec);
        Reader r = OpenReader();
        std::vector<ESK::Lot<short>> points(100);
        std::vector<unsigned char> mask(32 * 40);
        EXPECT_TRUE(r->verify(rec.data()));
        EXPECT_EQ(r->idnova(rec.data()), 0u);
        EXPECT_EQ(r->denova(points.data(), rec.data()), 0u);
        EXPECT_EQ(r->idarea(rec.data()), 0u);
        EXPECT_EQ(r->dearea(mask.data(), rec.data()), 0u);
        EXPECT_EQ(r->idmain(rec.data()), 3u); // the other sections still read
    }
}
