// Row helpers of the ridge period stage in vector lanes, each with its one-pixel twin. The
// weighted rank mean of nine samples per pixel, as the stage smooths its image along the ridge
// line: the samples sorted and weighted 1, 1, 2, 2, 4, 2, 2, 1, 1 by rank, rounded
// ((sum + 8) >> 4); the Sobel gradient of a row; the rounded means of 2 x 2 blocks.
#pragma once

#include <cstdint>

namespace wizard73 {

// The means of `count` pixels: the nine samples of pixel i at samples[j * stride + i],
// j = 0..8, the mean into out[i]. The lane-wise RankMean9Planes of the filter stage.
void RankNine(const unsigned char* samples, int stride, int count, unsigned char* out);

// The one-pixel-at-a-time twin of RankNine: the same bytes.
void RankNineScalar(const unsigned char* samples, int stride, int count, unsigned char* out);

// The Sobel gradient of `count` pixels from p on, in an image of `stride` bytes a row (every
// pixel has its eight neighbours): gx[i] across the row, gy[i] down the columns.
void SobelRow(const unsigned char* p, int stride, int count, std::int16_t* gx, std::int16_t* gy);
void SobelRowScalar(const unsigned char* p, int stride, int count, std::int16_t* gx,
                    std::int16_t* gy);

// out[i] = (r0[2i] + r0[2i + 1] + r1[2i] + r1[2i + 1] + 2) >> 2 for i < count.
void HalveRow(const unsigned char* r0, const unsigned char* r1, int count, unsigned char* out);
void HalveRowScalar(const unsigned char* r0, const unsigned char* r1, int count,
                    unsigned char* out);

} // namespace wizard73
