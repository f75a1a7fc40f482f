// Template checker: its answers for null, damaged and valid templates, its factories, and
// its behaviour when memory runs out (global operator new replaced by a failure injector).

#include "interface/TemplateChecker.h"
#include "interface/ZelvanFinger.h"
#include "records/TemplateFormat.h"
#include "tests/interface/alloc_failure.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using zftest::Bytes;
using zftest::FailAllocation;

struct CheckCase {
    const char* name;
    int byte;           // template byte to change, -1: none
    unsigned char mask; // XOR applied to it
    bool reseal;        // rewrite the seal after the change
    bool expected;
};

void PrintTo(const CheckCase& c, std::ostream* os)
{
    *os << c.name << ": byte " << c.byte << " ^ " << static_cast<int>(c.mask) << " -> "
        << (c.expected ? "true" : "false");
}

constexpr int kRecord = TF_PREFIX_SIZE;

const CheckCase kCheckCases[] = {
    {"valid", -1, 0, false, true},
    {"flipped_seal_byte", -2, 0x01, false, false}, // -2: the record's last byte
    {"flipped_header_byte", kRecord + TF_QUALIT, 0x01, false, false},
    {"implausible_header_resealed", kRecord + TF_KIND, 0x40, true, false},
    {"flipped_section_byte", kRecord + TF_HEADER_SIZE + 5, 0x08, false, false},
    {"flipped_prefix_byte", TF_PREFIX_QUALITY, 0x01, false, true}, // the prefix is not sealed
};

class CheckAnswers : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckAnswers, OnATemplate)
{
    const CheckCase& c = GetParam();
    Bytes tpl = zftest::BuildTemplate(zftest::SampleRecord());
    if (c.byte != -1) {
        const std::size_t at = c.byte == -2 ? tpl.size() - 1 : static_cast<std::size_t>(c.byte);
        tpl[at] = static_cast<unsigned char>(tpl[at] ^ c.mask);
    }
    if (c.reseal) {
        Bytes rec(tpl.begin() + kRecord, tpl.end());
        zftest::Seal(rec);
        std::copy(rec.begin(), rec.end(), tpl.begin() + kRecord);
    }
    ZelvanFinger::FpTemplateChecker* checker = ZelvanFinger::FpTemplateChecker::create();
    ASSERT_NE(checker, nullptr);
    EXPECT_EQ(checker->check(tpl.data()), c.expected);
    ZelvanFinger::FpTemplateChecker::cancel(checker);
}

INSTANTIATE_TEST_SUITE_P(Checker, CheckAnswers, ::testing::ValuesIn(kCheckCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Checker, NullIsRefusedAndCancelNullsThePointer)
{
    ZelvanFinger::FpTemplateChecker* checker = ZelvanFinger::FpTemplateChecker::create();
    ASSERT_NE(checker, nullptr);
    EXPECT_FALSE(checker->check(nullptr));
    ZelvanFinger::FpTemplateChecker::cancel(checker);
    EXPECT_EQ(checker, nullptr);
    ZelvanFinger::FpTemplateChecker::cancel(checker); // null: nothing happens
    EXPECT_EQ(checker, nullptr);
}

// A record whose length field claims less than a header and seal is refused before its
// sections or seal are read, even when its seal fits the shorter length.
TEST(Checker, RefusesARecordShorterThanHeaderAndSeal)
{
    Bytes tpl = zftest::BuildTemplate(zftest::SampleRecord());
    Bytes rec(tpl.begin() + kRecord, tpl.begin() + kRecord + 70);
    TfWrite32(rec.data(), 70);
    zftest::Seal(rec);
    std::copy(rec.begin(), rec.end(), tpl.begin() + kRecord);
    ZelvanFinger::TemplateChecker checker;
    EXPECT_FALSE(checker.check(tpl.data()));
}

TEST(Checker, CreateAnswersNullWhenMemoryIsShort)
{
    ZelvanFinger::FpTemplateChecker* checker = nullptr;
    {
        FailAllocation fail(0);
        checker = ZelvanFinger::FpTemplateChecker::create();
    }
    EXPECT_EQ(checker, nullptr);
}

// Without a reader the check is false; the next check makes the reader and answers.
TEST(Checker, NoReaderMeansFalseUntilOneCanBeMade)
{
    const Bytes tpl = zftest::BuildTemplate(zftest::SampleRecord());
    Bytes copy = tpl;
    ZelvanFinger::TemplateChecker checker;
    {
        FailAllocation fail(0);
        EXPECT_FALSE(checker.check(copy.data()));
    }
    EXPECT_TRUE(checker.check(copy.data()));
}

} // namespace
