// Resampling of 8-bit grey images by independent horizontal and vertical factors: bilinear
// (`stretch`, output width and height rounded down to multiples of 4) and quadratic
// (`stretch4`). Source rows are stride bytes apart, output rows packed. Pixels are computed in a
// fixed order of float and double operations, so every build gives the same bytes.
#pragma once

#include "platform/export.h"

// Writes *outWidth = ((unsigned)(width * fx)) & ~3 and *outHeight likewise on every call. A
// source of fewer than 2 columns or rows, or an output of no column, leaves dst unwritten (the
// sizes are still written).
ZF_EXPORT void stretch(unsigned width, unsigned height, unsigned stride, const unsigned char* src,
                       float fx, float fy, unsigned* outWidth, unsigned* outHeight,
                       unsigned char* dst);
// Source rows (width + 3) & ~3 bytes apart; *outWidth = (int)(width * fx) rounded down to a
// multiple of 4, *outHeight = (int)(height * fy). A source of fewer than 3 columns or rows
// leaves dst unwritten.
ZF_EXPORT void stretch4(unsigned width, unsigned height, const unsigned char* src, float fx,
                        float fy, unsigned* outWidth, unsigned* outHeight, unsigned char* dst);
