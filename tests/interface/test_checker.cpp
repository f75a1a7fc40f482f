// Template checker: its answers for null, damaged and valid templates, its factories, and
// its behaviour when memory runs out (global operator new replaced by a failure injector).

#include "interface/TemplateChecker.h"
#include "interface/ZelvanFinger.h"
#include "records/TemplateFormat.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <ostream>
#include <string>

namespace {

// Allocations left before the next one fails; negative: never fail.
std::atomic<int> g_allocationsLeft{-1};

bool AllocationFails()
{
    int left = g_allocationsLeft.load();
    while (left >= 0) {
        if (g_allocationsLeft.compare_exchange_weak(left, left - 1)) {
            return left == 0;
        }
    }
    return false;
}

// Makes the allocation after `n` more succeed fail, for the scope of the object.
class FailAllocation {
public:
    explicit FailAllocation(int n) { g_allocationsLeft = n; }
    ~FailAllocation() { g_allocationsLeft = -1; }
    FailAllocation(const FailAllocation&) = delete;
    FailAllocation& operator=(const FailAllocation&) = delete;
};

} // namespace

void* operator new(std::size_t n)
{
    void* p = AllocationFails() ? nullptr : std::malloc(n != 0 ? n : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return AllocationFails() ? nullptr : std::malloc(n != 0 ? n : 1);
}

// The replaced new takes its memory from malloc, so the replaced delete gives it back there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

#pragma GCC diagnostic pop

namespace {

using zftest::Bytes;

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
