// 8-bit image toolkit: conversions, crops, grey levels, blur and 3x3 / window sums.
// Reads and writes caller buffers only (packed rows); temporary buffers are owned by
// containers. Returns 0, IMG_NO_OUTPUT or IMG_BAD_GEOMETRY where a function can fail.

#include "imaging/graph8.h"

#include <cstddef>

void ConvertImg8ToImg32(const unsigned char* src, int* dst, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        dst[i] = src[i];
    }
}

void ConvertImg32ToImg8(const int* src, unsigned char* dst, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        dst[i] = static_cast<unsigned char>(src[i] & 0xFF);
    }
}

void ConvertImg32To8(int* buf, unsigned n)
{
    unsigned char* bytes = reinterpret_cast<unsigned char*>(buf);
    for (unsigned i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(buf[i] & 0xFF); // int i lies at or after byte i
    }
}

void ConvertImg8To32(int* buf, unsigned n)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buf);
    for (unsigned i = n; i-- > 0;) {
        buf[i] = bytes[i]; // int i covers bytes 4i..4i+3, none below i is touched yet
    }
}
