// Global operator new replaced for the executables that use FailAllocation.

#include "tests/interface/alloc_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Allocations left before the one that fails; negative: none fails.
std::atomic<int> g_left{-1};
std::atomic<bool> g_failed{false};

void* Take(std::size_t n)
{
    int left = g_left.load();
    while (left >= 0) {
        if (g_left.compare_exchange_weak(left, left - 1)) {
            if (left == 0) {
                g_failed = true;
                return nullptr;
            }
            break;
        }
    }
    return std::malloc(n != 0 ? n : 1);
}

} // namespace

namespace zftest {

FailAllocation::FailAllocation(int n)
{
    g_failed = false;
    g_left = n;
}

FailAllocation::~FailAllocation()
{
    g_left = -1;
}

bool FailAllocation::Failed() const
{
    return g_failed.load();
}

} // namespace zftest

void* operator new(std::size_t n)
{
    void* p = Take(n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* operator new[](std::size_t n)
{
    return operator new(n);
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return Take(n);
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return Take(n);
}

// The replaced new takes its memory from malloc, so the replaced delete gives it back there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

// Called when a constructor throws inside a nothrow new.
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

#pragma GCC diagnostic pop
