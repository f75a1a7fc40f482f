// Allocation failure injection: alloc_failure.cpp, compiled into a test executable, replaces
// its global operator new (all forms); while a FailAllocation lives, the allocation after `n`
// more fails (the throwing forms throw std::bad_alloc, the nothrow forms return null).
#pragma once

namespace zftest {

class FailAllocation {
public:
    explicit FailAllocation(int n);
    ~FailAllocation();
    FailAllocation(const FailAllocation&) = delete;
    FailAllocation& operator=(const FailAllocation&) = delete;
    // True once the chosen allocation has failed.
    bool Failed() const;
};

} // namespace zftest
