// Ridge direction over 8-bit images: the block direction field (degrees 0..179, counter-
// clockwise from the x axis with y pointing up) and its correction, the rotated-offset tables
// (radius r * sin/cos of whole degrees) with the oriented filters that read them, and the block
// pattern masks of the latent search. Packed images (stride = width); block fields one byte per
// block, row-major. Functions return 0, IMG_NO_OUTPUT or IMG_BAD_GEOMETRY where they can fail.
#pragma once

#include "imaging/graph8.h"
#include "platform/export.h"

#include <cstdint>

// Rotated offsets: row a (degrees 0..719, rows 360..719 repeat 0..359), column k for the radius
// r = k - 16 (k < 16) or k - 15 (k >= 16): r * sin(a) and r * cos(a) rounded half away from
// zero. Two entries of the cosine table are one below their rounding (rows 100 and 460, radii
// -15 and -9).
struct OffsetTable720 {
    int v[720][32];
    constexpr const int* operator[](int a) const { return v[a]; }
};
// sin and cos of a degrees (a = 0..719), rounded to three decimals.
struct Trig720 {
    double v[720];
    constexpr double operator[](int a) const { return v[a]; }
};
// |a - b| for bytes.
struct AbsDelta256 {
    unsigned char v[256][256];
    constexpr const unsigned char* operator[](int a) const { return v[a]; }
};
ZF_EXPORT extern const OffsetTable720 arr_sinx_i720x32;
ZF_EXPORT extern const OffsetTable720 arr_cosx_i720x32;
ZF_EXPORT extern const Trig720 arr_sin_f720;
ZF_EXPORT extern const Trig720 arr_cos_f720;
ZF_EXPORT extern const AbsDelta256 arr_abs_delta;

// Column of the offset tables for a radius -16..-1, 1..16.
constexpr int RadiusColumn(int r)
{
    return r < 0 ? r + 16 : r + 15;
}

// Block direction field with blocks of 2^s pixels: dir gets the ridge direction of each of the
// (w >> s) x (h >> s) blocks whose mask byte is 0, flags 255 there and 0 elsewhere (direction 0).
// Checks: s outside 0..15 or an empty grid -> IMG_BAD_GEOMETRY; null dir or flags ->
// IMG_NO_OUTPUT. mask may be null (every block analysed).
ZF_EXPORT int GetDirections8(const unsigned char* img, unsigned w, unsigned h, int s,
                             const unsigned char* mask, unsigned char* dir, unsigned char* flags);
// Replaces each unmasked direction by the angle that its 3x3 block neighbourhood votes for, when
// the two differ by more than 5 degrees. Returns 1 (0 when dir is null or the grid empty).
ZF_EXPORT int DirsCorrection8(unsigned char* dir, unsigned bw, unsigned bh,
                              const unsigned char* mask);
// Direction field of the rectangle (x1, y1)-(x2, y2) with blocks of 2^s pixels, written to dir
// ((x2-x1+1) >> s by (y2-y1+1) >> s bytes). Returns 0; IMG_BAD_GEOMETRY for a rectangle outside
// the image or without a whole block; IMG_NO_OUTPUT for a null dir.
ZF_EXPORT int GetDirectionsL8(const unsigned char* img, unsigned w, unsigned h, int x1, int y1,
                              int x2, int y2, int s, unsigned char* dir);
// On the grid of 16-pixel blocks: every block inside the analysed area (mask and area bytes 0)
// with a neighbour outside it gets its direction again from its own 16 x 16 pixels only. Returns
// the first non-zero result of GetDirectionsL8, else 0; IMG_NO_OUTPUT for a null field.
ZF_EXPORT int DirsCorrectionL8(const unsigned char* img, unsigned w, unsigned h, unsigned char* dir,
                               const unsigned char* mask, const unsigned char* area);
// Direction per block from mean grey differences along twelve window offsets of a 5 x 5 window
// (their angles, 0..179): the offset along which the grey level changes least gives the ridge
// direction. Same arguments, codes and flags as GetDirections8.
ZF_EXPORT int GetDirectionsN8(const unsigned char* img, unsigned w, unsigned h, int s,
                              const unsigned char* mask, unsigned char* dir, unsigned char* flags);
// Smooths the inner columns of the rows of the rectangle (x1, y1)-(x2, y2) of a field of
// 10-degree sectors (0..17, circular), passes times: each value becomes the circular mean of
// its left neighbour, itself twice and its right neighbour, rounded.
ZF_EXPORT void DirsSegBlurH8(unsigned char* sectors, unsigned bw, unsigned bh, int x1, int y1,
                             int x2, int y2, int passes);
// Poincare index of interior blocks: cores gets 1 where the folded differences around the eight
// neighbours sum to -180, deltas where they sum to +180; 0 elsewhere.
ZF_EXPORT void GetCoreAndDelta8(const unsigned char* dir, unsigned bw, unsigned bh,
                                unsigned char* cores, unsigned char* deltas);
// Folded difference (0..90) of each pair of unmasked neighbouring blocks (right, down,
// down-right), added to both blocks (8-bit).
ZF_EXPORT void GetDir180Quality8(const unsigned char* dir, unsigned bw, unsigned bh,
                                 const unsigned char* mask, unsigned char* quality);

// Offset builders for an image w bytes wide (dx + dy * w, dy downward).
// 18 pairs of opposite one-step offsets, one pair per 10 degrees (36 ints).
ZF_EXPORT void Get1Dxy8(int* t, int w);
// 180 rows of 2r offsets at radii -r..-1, 1..r along the direction -i degrees (r in 1..16).
ZF_EXPORT void GetRDxy8(int* t, int w, int r);
// The same across the direction (90 - i degrees).
ZF_EXPORT void GetRPDxy8(int* t, int w, int r);

// Oriented filters over blocks of 2^s pixels whose mask byte is 0, outermost blocks skipped.
ZF_EXPORT int SummDirTo8(const unsigned char* src, unsigned w, unsigned h, int s,
                         const unsigned char* blockMask, const unsigned char* dir,
                         const unsigned char* shift, unsigned char* dst);
ZF_EXPORT int BinarizationLDTo8(const unsigned char* src, unsigned w, unsigned h, int s,
                                const unsigned char* blockMask, const unsigned char* dir,
                                unsigned char* dst);
ZF_EXPORT void SummFrqTo8(const unsigned char* src, unsigned w, unsigned h, int s,
                          const int* offsets, const unsigned char* blockMask,
                          const unsigned char* blockDir, const unsigned char* blockFreq,
                          unsigned char* dst);

// Mean of the pixels whose mask byte is non-zero; 255 when there is none.
ZF_EXPORT int GetBgColor8(const unsigned char* img, unsigned w, unsigned h,
                          const unsigned char* mask);
// Paints long dark horizontal lines over from the row above; row 0 gets the column means.
ZF_EXPORT void DeleteLongLinesH8(unsigned char* img, unsigned w, unsigned h, int minLen);
// Local contrast normalisation in L x L windows around a mid level of 128.
ZF_EXPORT int NormalizationL8(unsigned char* img, unsigned w, unsigned h, int L, int passes);
// Per whole B x B block, the sum of its pixels modulo 256.
ZF_EXPORT void GetSummMaskS8(const unsigned char* img, unsigned w, unsigned h, int B,
                             unsigned char* dst);
// One direction per B x B block in steps of 180 / nDirs degrees.
ZF_EXPORT int GetDirectionsS8(const unsigned char* img, unsigned w, unsigned h, int B, int nDirs,
                              unsigned char* dst);
// Mask of the 8 x 8 blocks that look like ridge patterns. On success mask is a new[] block
// array owned by the caller and w, h hold the block grid's size; otherwise mask is null and the
// failing step's code is returned.
ZF_EXPORT int GetPatternMask8(unsigned char* img, unsigned& w, unsigned& h, unsigned char*& mask);

// Internal to the toolkit: the first step of the block direction field, and its row kernel.
namespace imaging_detail {

// Per block of 2^s pixels of the bw x bh grid whose block (0, 0) starts at pixel (x0, y0) (the
// grid inside the image): the sums over the block's pixels that have all eight neighbours of
// the Sobel tensor terms gx * gy (into sumP) and gy^2 - gx^2 (into sumD), which come zeroed.
// Blocks with a non-zero mask byte (mask may be null) keep 0.
void DiTensorSums(const unsigned char* img, unsigned w, unsigned h, unsigned x0, unsigned y0,
                  unsigned bw, unsigned bh, int s, const unsigned char* mask, std::int64_t* sumP,
                  std::int64_t* sumD);

// The tensor terms of the 2 * pairs pixels from p on (each with its eight neighbours in an image
// of w bytes a row), added pair by pair: pixels 2j and 2j + 1 into accP[j] and accD[j]. Eight
// pixels a step where SSE2 is at hand; the twin is the portable form, one pixel a step.
void DiTensorPairs(const unsigned char* p, unsigned w, unsigned pairs, std::int32_t* accP,
                   std::int32_t* accD);
void DiTensorPairsScalar(const unsigned char* p, unsigned w, unsigned pairs, std::int32_t* accP,
                         std::int32_t* accD);

} // namespace imaging_detail
