// Internal invariant checks that stay active in Release builds. They guard fixed-table
// indexes and capacities only, never caller input. A failure reports the expression, file,
// line and function through the platform's __assert2 and aborts the process.
#pragma once

extern "C" [[noreturn]] void __assert2(const char* file, int line, const char* function,
                                       const char* expression);

#define ZF_ASSERT(e) ((e) ? static_cast<void>(0) : __assert2(__FILE__, __LINE__, __func__, #e))
