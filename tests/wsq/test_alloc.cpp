// Allocation failures inside the codec: the non-throwing allocations of this executable can be
// made to fail from the n-th one on; every failure must give null or a negative code, free what
// was taken (the sanitizer build checks leaks) and leave the instance usable.

#include "tests/support/data_path.h"
#include "tests/wsq/wsq_test_util.h"
#include "wsq/Wsq.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <new>

namespace {

int g_allowed = -1; // non-throwing allocations still allowed; -1: no limit

bool AllocationAllowed()
{
    if (g_allowed == 0) {
        return false;
    }
    if (g_allowed > 0) {
        --g_allowed;
    }
    return true;
}

// Lets the next `n` non-throwing allocations succeed and fails the rest until reset.
struct AllocLimit {
    explicit AllocLimit(int n) { g_allowed = n; }
    ~AllocLimit() { g_allowed = -1; }
};

} // namespace

// The codec allocates only with the non-throwing forms; they forward to the ordinary operator
// so that the sanitizer's pairing of new and delete still holds.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    if (!AllocationAllowed()) {
        return nullptr;
    }
    try {
        return ::operator new(n);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    if (!AllocationAllowed()) {
        return nullptr;
    }
    try {
        return ::operator new[](n);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using wsqtest::Bytes;

TEST(WsqAlloc, InitInstanceReturnsNullWhenItCannotAllocate)
{
    AllocLimit limit(0);
    EXPECT_EQ(init_instance(), nullptr);
}

// A fresh instance for each count, since an instance keeps its decoder buffers; after the
// failure the same instance decodes the stream to the same pixels as an untouched one.
TEST(WsqAlloc, DecodeFailsCleanlyAtEveryAllocation)
{
    Bytes data = zftest::ReadFile(zftest::TestData("wsq/fp11.wsq"));
    const int size = static_cast<int>(data.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(data.data(), size));
    Bytes expected(392 * 1000);
    int w = 0;
    int h = 0;
    void* ref = init_instance();
    ASSERT_NE(ref, nullptr);
    ASSERT_GE(wsq_decode(ref, expected.data(), data.data(), size, &w, &h, guard), 0);
    cancel_instance(ref);
    int failures = 0;
    for (int allowed = 0; allowed < 50; ++allowed) {
        SCOPED_TRACE(allowed);
        void* inst = init_instance();
        ASSERT_NE(inst, nullptr);
        Bytes pixels(392 * 1000);
        int rc = 0;
        {
            AllocLimit limit(allowed);
            rc = wsq_decode(inst, pixels.data(), data.data(), size, &w, &h, guard);
        }
        if (rc >= 0) {
            cancel_instance(inst);
            break;
        }
        EXPECT_NE(rc, WSQ_SIZE_QUERY);
        ++failures;
        EXPECT_GE(wsq_decode(inst, pixels.data(), data.data(), size, &w, &h, guard), 0);
        EXPECT_EQ(pixels, expected);
        cancel_instance(inst);
    }
    EXPECT_GE(failures, 4); // decoder data, coefficients, samples, reconstruction buffers
}

// As for the decoder, a fresh instance for each count, which then encodes the same stream as
// an untouched one.
TEST(WsqAlloc, EncodeFailsCleanlyAtEveryAllocation)
{
    Bytes img(128 * 96);
    for (std::size_t i = 0; i < img.size(); ++i) {
        img[i] = static_cast<unsigned char>((i * 7) % 251);
    }
    const int guard = static_cast<int>(Wsq::wsqCheckSum(img.data(), 128 * 96));
    Bytes expected(img.size());
    void* ref = init_instance();
    ASSERT_NE(ref, nullptr);
    const int len = wsq_encode(ref, img.data(), expected.data(), 128, 96, -1.0f, guard);
    ASSERT_GT(len, 0);
    cancel_instance(ref);
    int failures = 0;
    for (int allowed = 0; allowed < 50; ++allowed) {
        SCOPED_TRACE(allowed);
        void* inst = init_instance();
        ASSERT_NE(inst, nullptr);
        Bytes out(img.size());
        int rc = 0;
        {
            AllocLimit limit(allowed);
            rc = wsq_encode(inst, img.data(), out.data(), 128, 96, -1.0f, guard);
        }
        if (rc > 0) {
            cancel_instance(inst);
            break;
        }
        EXPECT_LT(rc, 0);
        ++failures;
        EXPECT_EQ(wsq_encode(inst, img.data(), out.data(), 128, 96, -1.0f, guard), len);
        EXPECT_EQ(out, expected);
        cancel_instance(inst);
    }
    EXPECT_GE(failures, 5);
}

} // namespace
