// Utilities on 8-bit grey images: row reversal, mirroring, inversion, quarter turns, 32-bit to
// 8-bit pixels, rectangle copy, row widening to multiples of 4, histogram, contrast stretch,
// mean grey, and a finger locator on a map of local contrast in 4 x 4 blocks. Each function
// names the row layout it reads (packed, or stride = (width + 3) & ~3). Only getDifferences,
// findFingerAlloc and arrangeImage2 allocate; nothing keeps state between calls.
#pragma once

#include "platform/export.h"

#include <cstdint>

// dst row i = src row rows-1-i, stride bytes each; src and dst must not overlap.
ZF_EXPORT void flipH(const unsigned char* src, unsigned char* dst, unsigned stride, unsigned rows);
// Mirrors each packed row: dst[y][x] = src[y][width-1-x].
ZF_EXPORT void flipV(const unsigned char* src, unsigned char* dst, unsigned width, unsigned rows);
// In place: every byte becomes 255 - value. A product width x height below 1 does nothing.
ZF_EXPORT void invert(unsigned char* img, unsigned width, unsigned height);
// Quarter turn of a packed image; width and height are swapped first.
ZF_EXPORT void rotate90(const unsigned char* src, unsigned char* dst, unsigned& width,
                        unsigned& height, unsigned char clockwise);
// In place: byte i takes byte 4i (the first byte of each 4-byte pixel).
ZF_EXPORT void trans32To8Bpp(unsigned char* img, unsigned width, unsigned height);
// Copies the w x h rectangle at (x, y) of a source with rows srcStride bytes apart into packed
// rows. 1 done; 0 (nothing written) when the rectangle ends outside the source.
ZF_EXPORT unsigned cut(const unsigned char* src, unsigned srcStride, unsigned srcRows, unsigned x,
                       unsigned y, unsigned w, unsigned h, unsigned char* dst);
// Copies the first width & ~3 bytes of each row; returns width & ~3.
ZF_EXPORT unsigned arrangeImageCut(unsigned width, unsigned rows, const unsigned char* src,
                                   unsigned char* dst);
// Lays packed rows at stride = (width + 3) & ~3, the bytes behind each row 255; returns stride.
ZF_EXPORT unsigned arrangeImage(unsigned width, unsigned rows, const unsigned char* src,
                                unsigned char* dst);
// The same in place (img holds stride x rows bytes), fill bytes 0; returns stride, or 0 when
// the temporary copy cannot be allocated (img unchanged).
ZF_EXPORT unsigned arrangeImage2(unsigned width, unsigned rows, unsigned char* img);
// Counts img[y * stride + x] for y0 <= y < min(y1, rows), x0 <= x < min(x1, stride).
ZF_EXPORT void calcHistog(const unsigned char* img, unsigned stride, unsigned rows, unsigned x0,
                          unsigned y0, unsigned x1, unsigned y1, std::uint32_t hist[256]);
// Contrast stretch of a packed image into dst, clipping 1 % at each end (levels 240..255 left
// out of the count). 1 done; 0 refused (dst then holds the plain copy, or nothing when the
// arguments are refused).
ZF_EXPORT int normalize(const unsigned char* src, unsigned width, unsigned height,
                        unsigned char* dst);
// Mean of the w x h rectangle at (x, y); 0 when it ends outside the image or is empty.
ZF_EXPORT unsigned char getAverangeColor(const unsigned char* img, unsigned stride, unsigned rows,
                                         unsigned x, unsigned y, unsigned w, unsigned h);
// Activity map: per 4 x 4 block, the grey spread of a cross of samples, smoothed along the
// block row. map has floor(height/4) rows of floor(width/4) values. 1 done, 0 out of memory.
ZF_EXPORT int getDifferences(const unsigned char* img, unsigned width, unsigned height, int** map);
// Allocates the map (rows zeroed) and the six work arrays; 1 all allocated, 0 otherwise. The
// pointers are set to null first and a failure leaves only valid or null pointers, so
// findFingerFree releases them.
ZF_EXPORT int findFingerAlloc(int**& map, int*& colTop, int*& colBottom, int*& rowLeft,
                              int*& rowRight, int*& rowSkip, int*& colSkip, unsigned width,
                              unsigned height);
ZF_EXPORT void findFingerFree(int**& map, int*& colTop, int*& colBottom, int*& rowLeft,
                              int*& rowRight, int*& rowSkip, int*& colSkip, unsigned width,
                              unsigned height);
// Grows the box by dx, dy on each side; the low sides stop at 0.
ZF_EXPORT void inflateArea(unsigned& x1, unsigned& x2, unsigned& y1, unsigned& y2, unsigned dx,
                           unsigned dy);
// Flag filling over the locator's arrays (f has nF entries indexed by c and d, e has nE entries
// indexed by a and b); indexes outside the arrays read as unflagged.
ZF_EXPORT void clearFakeBorder(const int* a, const int* b, const int* c, const int* d, int* e,
                               int* f, int nF, int nE);
// Bounding box of the finger in pixels, sides multiples of 4. 1 done (box 0 when the image is
// flat), 0 failure.
ZF_EXPORT int findFinger(const unsigned char* img, unsigned width, unsigned height, unsigned& x1,
                         unsigned& x2, unsigned& y1, unsigned& y2, int* rowLeft, int* rowRight,
                         int* colTop, int* colBottom, int** map, int* rowSkip, int* colSkip);
