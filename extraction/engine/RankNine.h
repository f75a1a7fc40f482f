// The weighted rank mean of nine samples per pixel, as the ridge period stage smooths its image
// along the ridge line: the samples sorted and weighted 1, 1, 2, 2, 4, 2, 2, 1, 1 by rank,
// rounded ((sum + 8) >> 4).
#pragma once

namespace wizard73 {

// The means of `count` pixels: the nine samples of pixel i at samples[j * stride + i],
// j = 0..8, the mean into out[i]. The lane-wise RankMean9Planes of the filter stage.
void RankNine(const unsigned char* samples, int stride, int count, unsigned char* out);

// The one-pixel-at-a-time twin of RankNine: the same bytes.
void RankNineScalar(const unsigned char* samples, int stride, int count, unsigned char* out);

} // namespace wizard73
