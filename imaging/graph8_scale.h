// Resizing of 8-bit packed images: decimation and replication by powers of two (in place or
// into an output), reduction to a resolution, box-average reductions, centring on a canvas of
// another size, and enlargement of direction fields. Functions that change the size take w and h
// by reference and write the new size back; in-place forms need a buffer that holds the larger
// of the two sizes. Results as each function states; IMG_ codes leave sizes and pixels alone.
#pragma once

#include "imaging/graph8.h"
#include "platform/export.h"

// Decimation by 2^n (n = 0..15): output pixel (X, Y) = source pixel (X 2^n + o, Y 2^n + o) with
// o = 2^(n-1) (0 for n = 0); dst may be src. Returns 0; IMG_BAD_GEOMETRY for n outside 0..15,
// IMG_NO_OUTPUT for a null dst.
ZF_EXPORT int ResizeDecFastTo8(const unsigned char* src, unsigned& w, unsigned& h, int n,
                               unsigned char* dst);
ZF_EXPORT int ResizeDecFast8(unsigned char* img, unsigned& w, unsigned& h, int n);
// In-place enlargement by 2^n, each pixel a 2^n x 2^n square. IMG_BAD_GEOMETRY for n outside
// 0..15 or when the new size does not fit 32 bits.
ZF_EXPORT int ResizeIncFast8(unsigned char* img, unsigned& w, unsigned& h, int n);
// n > 0 enlarges by 2^n, n < 0 decimates by 2^-n, 0 does nothing.
ZF_EXPORT int ResizeFast8(unsigned char* img, unsigned& w, unsigned& h, int n);
// Halves dpi until it is at most target, then decimates by the number of halvings n, which
// it returns (0 when dpi <= target or target < 1: nothing changes).
ZF_EXPORT int ResizeDecFastForDPI8(unsigned char* img, unsigned& w, unsigned& h, int dpi,
                                   int target);
// Box-average reduction to W x H (W <= w, H <= h): the mean of a trunc(w/W) x trunc(h/H) box,
// rounded. Returns 0; IMG_BAD_GEOMETRY for null buffers, W or H of 0, or W > w, H > h.
ZF_EXPORT int ResizeDecLinearTo8(const unsigned char* src, unsigned w, unsigned h, unsigned W,
                                 unsigned H, unsigned char* dst);
// Box average of 2^n x 2^n blocks, (sum) >> 2n; w >>= n, h >>= n. Same codes as
// ResizeDecFastTo8.
ZF_EXPORT int ResizeDecLinearTo8(const unsigned char* src, unsigned& w, unsigned& h, int n,
                                 unsigned char* dst);
// Centres the source on a W x H canvas in dst, padding with fill (the odd extra row or column
// at the bottom or right) or cropping (start rounded down).
ZF_EXPORT void SetSize8(const unsigned char* src, unsigned w, unsigned h, unsigned W, unsigned H,
                        unsigned char* dst, unsigned char fill);
// Linear doubling, n times. The doubling itself is not implemented: image and size stay.
ZF_EXPORT void ResizeIncLinear8(unsigned char* img, unsigned& w, unsigned& h, int n);
ZF_EXPORT void ResizeInc2xLinear8(unsigned char* img, unsigned& w, unsigned& h);
// In-place doubling of a direction field (0..179), n times: new values are circular means
// (modulo 180) of their neighbours, halves rounded up. Same codes as ResizeIncFast8.
ZF_EXPORT int ResizeIncDirs8(unsigned char* dir, unsigned& w, unsigned& h, int n);
// 2w x 2h output, zeroed, whose 2 x 2 squares of interior source pixels (1..w-2, 1..h-2) take
// the pixel, its right, lower and lower-right neighbours; n is not used. w and h double.
ZF_EXPORT int ResizeIncFrTo8(const unsigned char* src, unsigned& w, unsigned& h, int n,
                             unsigned char* dst);
