// The platform's assertion report for hosts whose C library lacks it (Android's libc has
// its own): writes "file:line: function: assertion "expr" failed" to stderr and aborts.

#include "platform/assert.h"

#include <cstdio>
#include <cstdlib>

#ifndef __ANDROID__
extern "C" void __assert2(const char* file, int line, const char* function, const char* expression)
{
    std::fprintf(stderr, "%s:%d: %s: assertion \"%s\" failed\n", file, line, function, expression);
    std::fflush(stderr);
    std::abort();
}
#endif
