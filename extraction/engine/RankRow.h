// The 3 x 3 rank smoothing of a row of grey pixels: each pixel becomes the mean of its nine
// neighbourhood values sorted and weighted 1, 1, 2, 2, 4, 2, 2, 1, 1 by rank, rounded
// ((sum + 8) >> 4). Used by stage 2 on every inner row of the source, and by the filter stage on
// values it gathers along the ridges.
// Also the four directional responses of a row (stage 2's raw responses), eight pixels at a time.
#pragma once

#include <cstdint>

namespace wizard73 {

// Smooths `count` pixels from `src` (rows `stride` apart, with a row and a column of
// neighbours on every side) into `dst`: sixteen pixels at a time across the row, the last ones
// copied into a full set of lanes.
void RankRow3x3(const unsigned char* src, int stride, unsigned char* dst, int count);

// The one-pixel-at-a-time twin of RankRow3x3: the same bytes.
void RankRow3x3Scalar(const unsigned char* src, int stride, unsigned char* dst, int count);

// The same weighted rank mean of nine values gathered beforehand: value i of output x is
// planes[i * pitch + x], for x below `count` (count <= pitch). Sixteen outputs at a time.
void RankMean9Planes(const unsigned char* planes, int pitch, unsigned char* dst, int count);

// The one-output-at-a-time twin of RankMean9Planes: the same bytes.
void RankMean9PlanesScalar(const unsigned char* planes, int pitch, unsigned char* dst, int count);

// The four raw directional responses D10..D13 of `count` pixels from `src` (rows `stride`
// apart, with a row and a column of neighbours on every side), into out[0..3][x]: with n, s,
// w, e the neighbours above, below, left and right, D10 = (2 s + sw + se) - (2 n + nw + ne),
// D11 = (2 sw + s + w) - (2 ne + n + e), D12 = (2 w + nw + sw) - (2 e + ne + se),
// D13 = (2 nw + n + w) - (2 se + s + e). Eight pixels at a time across the row.
void ResponseRow(const unsigned char* src, int stride, std::int16_t* const* out, int count);

// The one-pixel-at-a-time twin of ResponseRow: the same values.
void ResponseRowScalar(const unsigned char* src, int stride, std::int16_t* const* out, int count);

} // namespace wizard73
