// Ridge frequency field of an 8-bit packed image: per block of 2^s pixels, the number of mean
// crossings of the grey profile across the block's ridge direction (1..16, 1 also for blocks
// without a count), and its vote-based correction, which marks implausible blocks in the mask.
// Functions return 0, IMG_NO_OUTPUT or IMG_BAD_GEOMETRY.
#pragma once

#include "imaging/graph8.h"
#include "platform/export.h"

// Fills table with, for each direction d = 0..179, 2B rows of B pixel offsets (image rows w
// bytes apart) of a window turned so that its rows advance across ridges of direction d.
ZF_EXPORT void GetFrequenciesPrecalc8(int* table, int B, int w);
// Frequency field of the (w >> s) x (h >> s) grid from the block direction field dir (degrees
// 0..179, values above taken modulo 180). The outermost ring of blocks and blocks whose mask byte
// is non-zero get 1; mask may be null. Checks: s outside 0..7 or an empty grid ->
// IMG_BAD_GEOMETRY; null freq -> IMG_NO_OUTPUT.
ZF_EXPORT int GetFrequencies8(const unsigned char* img, unsigned w, unsigned h, int s,
                              const unsigned char* mask, const unsigned char* dir,
                              unsigned char* freq);
// Smooths the field, relabels each open block by a 3x3 vote until stable (at most 100 rounds)
// and sets the mask byte to 1 of every open block whose count is below 2 or above 10.
// Checks: empty grid -> IMG_BAD_GEOMETRY; null freq or mask -> IMG_NO_OUTPUT.
ZF_EXPORT int FreqCorrection8(unsigned char* freq, unsigned bw, unsigned bh, unsigned char* mask);

// Per-pixel variant over the rectangle (x1, y1)-(x2, y2). The table holds, per direction
// d = 0..179, 2B offsets of the line through a pixel along d + 90 degrees (image rows w bytes
// apart). For each pixel of the rectangle with direction dir (one byte per pixel, degrees),
// the 2B grey values along its line give the lag t in 2..2B-1 with the largest sum, over the
// sample pairs t apart on opposite sides of the line's mean, of the smaller value (the lower
// lag on ties); 2 when the line is too short or leaves the image.
ZF_EXPORT void GetFrequenciesLPrecalc8(int* table, int B, int w);
// Returns 0; IMG_BAD_GEOMETRY for s outside 1..7 or a rectangle outside the image;
// IMG_NO_OUTPUT for a null out.
ZF_EXPORT int GetFrequenciesL8(const unsigned char* img, unsigned w, unsigned h, int s, int x1,
                               int y1, int x2, int y2, const unsigned char* dir,
                               unsigned char* out);

// Internal to the toolkit: the window of direction d (0..179) of GetFrequenciesPrecalc8, 2B rows
// of B offsets into out. Four offsets a step where SSE2 is at hand; the twin is the portable
// form, one offset a step, and both give the same offsets.
namespace imaging_detail {

void FrWindow(int* out, int d, int B, int w);
void FrWindowScalar(int* out, int d, int B, int w);

} // namespace imaging_detail
